#include "platform/linux/network_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "platform/linux/share_probe.h"
#include "platform/linux/system_linux.h"

namespace scour::platform {

namespace {

// A server that cannot be reached at all (see share_probe.h).
constexpr unsigned long kBadNetPath = kShareUnreachable;

// How often a waiting share test lets the wait hook run.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
constexpr auto kExitGrace = std::chrono::milliseconds(1000);

// The library copies the credentials into buffers of this size (terminator
// included). A longer text would be cut, and a cut password might even match.
constexpr std::size_t kCredentialBuffer = 256;

// Percent-encodes all but the unreserved characters, so that '@', ':', ';',
// '?', '%' and '/' in a name stay part of that name in the URL.
std::string UrlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
            ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

// Builds the request, or returns the code the share path or credentials earn
// without any network traffic.
unsigned long MakeRequest(const std::wstring& share, const std::wstring& user,
                          const std::wstring& password, int port, ShareProbeRequest& r) {
    if (share.size() < 2 || share[0] != L'\\' || share[1] != L'\\') {
        return kShareBadNetName;
    }
    std::vector<std::wstring> parts;
    std::size_t start = 2;
    for (;;) {
        auto slash = share.find(L'\\', start);
        parts.push_back(share.substr(start, slash == std::wstring::npos ? slash : slash - start));
        if (slash == std::wstring::npos) {
            break;
        }
        start = slash + 1;
    }
    // A server alone, or an empty host or share name, names no share.
    if (parts.size() < 2 || parts[0].empty() || parts[1].empty()) {
        return kShareBadNetName;
    }
    // UNC has no port syntax: "host:445" is a host name no resolver knows.
    if (parts[0].find(L':') != std::wstring::npos) {
        return kBadNetPath;
    }
    std::string host = UrlEncode(ToUtf8(parts[0]));
    if (port > 0) {
        host += ':' + std::to_string(port);
    }
    r.url = "smb://" + host;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!parts[i].empty()) {
            r.url += '/' + UrlEncode(ToUtf8(parts[i]));
        }
    }
    r.ipcUrl = "smb://" + host + "/IPC$";

    // "DOMAIN\user" names the domain of the account.
    auto slash = user.find(L'\\');
    r.workgroup = slash == std::wstring::npos ? std::string() : ToUtf8(user.substr(0, slash));
    r.user = ToUtf8(slash == std::wstring::npos ? user : user.substr(slash + 1));
    r.password = ToUtf8(password);
    if (r.workgroup.size() >= kCredentialBuffer || r.user.size() >= kCredentialBuffer) {
        return kShareBadUserName;
    }
    if (r.password.size() >= kCredentialBuffer) {
        return kShareInvalidPassword;
    }
    return kShareOk;
}

// The library ends the process when no interface is up; the child would die
// without an answer. Samba counts an interface that is up and has an IPv4 or
// IPv6 address with a netmask; Windows calls the lack of one "no network".
bool AnyInterfaceUp() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return true;  // let the attempt itself tell
    }
    bool up = false;
    for (ifaddrs* i = list; i != nullptr && !up; i = i->ifa_next) {
        up = i->ifa_addr != nullptr && i->ifa_netmask != nullptr && (i->ifa_flags & IFF_UP) != 0 &&
             (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6);
    }
    freeifaddrs(list);
    return up;
}

bool IsSafeConfigPath(const std::string& path) {
    // smb.conf expands %-macros and ends values at the line end.
    return path.find_first_of("%\n\r") == std::string::npos;
}

// A home folder of the attempt's own whose .smb/smb.conf the client library
// reads instead of the user's or the system's configuration, and whose folders
// take the library's caches. Empty on failure.
std::string MakePrivateHome() {
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t == '/' && IsSafeConfigPath(t)) {
        struct stat st {};
        if (stat(t, &st) == 0 && S_ISDIR(st.st_mode)) {
            base = t;
        }
    }
    std::string pattern = base + "/scourline-smb.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        return {};
    }
    std::string home(buffer.data());
    std::error_code ec;
    std::filesystem::create_directories(home + "/.smb", ec);
    std::filesystem::create_directories(home + "/state", ec);
    std::ofstream conf(home + "/.smb/smb.conf");
    conf << "[global]\n"
            // The system resolver only: never a NetBIOS broadcast.
            "name resolve order = host\n"
            "disable netbios = yes\n"
            "smb ports = 445\n"
            "client use kerberos = off\n"
            "unix charset = UTF-8\n"
            "state directory = "
         << home << "/state\ncache directory = " << home << "/state\nlock directory = " << home
         << "/state\nprivate dir = " << home << "/state\nncalrpc dir = " << home
         << "/state/ncalrpc\n";
    conf.close();
    if (ec || !conf) {
        std::filesystem::remove_all(home, ec);
        return {};
    }
    return home;
}

// Reads the probe's answer until the deadline, letting the hook run between
// slices of the wait. Nothing when it ran out of time (*timedOut) or the probe
// ended without answering.
std::optional<unsigned long> ReadAnswer(int fd, std::chrono::steady_clock::time_point deadline,
                                        const std::function<void()>& hook, bool& timedOut) {
    std::uint32_t value = 0;
    char* p = reinterpret_cast<char*>(&value);
    std::size_t got = 0;
    timedOut = false;
    while (got < sizeof value) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            return std::nullopt;
        }
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, static_cast<int>(std::min(left, kWaitSlice).count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return std::nullopt;
        }
        if (r == 0) {
            if (hook) {
                hook();
            }
            continue;  // the deadline check above ends the wait
        }
        ssize_t n = read(fd, p + got, sizeof value - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        got += static_cast<std::size_t>(n);
    }
    return value;
}

// Waits for the probe until the deadline, then kills it; never leaves it behind.
void Reap(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Starts the probe with exec, its stdin and stdout on `channel`, stderr on
// /dev/null, no other descriptor of ours, default signals and an environment
// of its own: nothing of the wizard's environment (LD_PRELOAD, LIBSMB_PROG,
// the user's HOME) reaches the client library. 0 when it could not start.
pid_t SpawnProbe(const std::string& program, int channel, const std::string& home) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return 0;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return 0;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ready =
        posix_spawn_file_actions_adddup2(&actions, channel, STDIN_FILENO) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, channel, STDOUT_FILENO) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
        posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
        posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    pid_t pid = 0;
    if (ready) {
        std::string homeVar = "HOME=" + home;
        std::string pathVar = "PATH=/usr/bin:/bin";
        std::string localeVar = "LC_ALL=C.UTF-8";
        char* env[] = {homeVar.data(), pathVar.data(), localeVar.data(), nullptr};
        std::string name = program;
        char* argv[] = {name.data(), nullptr};
        if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, env) != 0) {
            pid = 0;
        }
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string ProbeBesideProgram() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return (exe.parent_path() / kShareProbeProgram).string();
}

}  // namespace

LinuxNetwork::LinuxNetwork() : LinuxNetwork(ShareProbeSettings{}) {}

LinuxNetwork::LinuxNetwork(ShareProbeSettings settings) : settings_(std::move(settings)) {
    if (settings_.program.empty()) {
        settings_.program = ProbeBesideProgram();
    }
}

void LinuxNetwork::SetWaitHook(std::function<void()> hook) {
    hook_ = std::move(hook);
}

unsigned long LinuxNetwork::TestShareConnection(const std::wstring& share, const std::wstring& user,
                                                const std::wstring& password) {
    ShareProbeRequest request;
    if (unsigned long refused = MakeRequest(share, user, password, settings_.port, request);
        refused != kShareOk) {
        return refused;
    }
    // The library ends its process when no interface is up: the probe would
    // die without an answer.
    if (!AnyInterfaceUp()) {
        return kShareNoNetwork;
    }
    std::string home = MakePrivateHome();
    if (home.empty()) {
        return kShareOtherFailure;
    }
    unsigned long code = kShareOtherFailure;
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) == 0) {
        pid_t pid = SpawnProbe(settings_.program, channel[1], home);
        close(channel[1]);
        if (pid > 0) {
            auto start = std::chrono::steady_clock::now();
            // The probe reads the whole request before it connects; one that
            // is already gone must not raise SIGPIPE in the wizard.
            std::string bytes = EncodeShareProbeRequest(request);
            bool sent = !bytes.empty() && send(channel[0], bytes.data(), bytes.size(),
                                               MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
            shutdown(channel[0], SHUT_WR);
            std::optional<unsigned long> answer;
            bool timedOut = false;
            if (sent) {
                answer = ReadAnswer(channel[0], start + settings_.deadline, hook_, timedOut);
            }
            if (answer) {
                code = *answer;
            } else if (timedOut) {
                code = kBadNetPath;  // a server that never finishes answering
            }
            Reap(pid, answer ? std::chrono::steady_clock::now() + kExitGrace
                             : std::chrono::steady_clock::now());
        }
        close(channel[0]);
    }
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return code;
}

std::optional<std::array<std::uint8_t, 4>> LinuxNetwork::ResolveIpv4(const std::wstring& host) {
    LocaleTextCodec codec;
    std::string name = codec.ToSystem8Bit(host);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    // No AI_ADDRCONFIG: it refuses every name on a machine whose only
    // configured interface is loopback.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) {
        return std::nullopt;
    }
    std::optional<std::array<std::uint8_t, 4>> result;
    for (addrinfo* a = list; a != nullptr && !result; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr &&
            a->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            std::array<std::uint8_t, 4> bytes{};
            std::memcpy(bytes.data(), &in->sin_addr.s_addr, 4);
            result = bytes;
        }
    }
    freeaddrinfo(list);
    return result;
}

}  // namespace scour::platform
