#include "platform/linux/network_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <libsmbclient.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
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
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "platform/linux/system_linux.h"

namespace scour::platform {

namespace {

// What Windows' redirector reports when the server cannot be reached at all:
// a host name that does not resolve, a refused connection, a host that never
// answers, no route. WNetAddConnection2W returns ERROR_BAD_NETPATH (53) for
// each of these ("The network path was not found"), and the share test shows
// it as a failure it cannot classify.
constexpr unsigned long kBadNetPath = 53;

// The client library's timeout per request, and the hard limit on the whole
// attempt. An unanswered connect gives up after about 5 s in the library, a
// silent server after kClientTimeoutMs; the child is killed at kAnswerDeadline.
constexpr int kClientTimeoutMs = 4000;
constexpr auto kAnswerDeadline = std::chrono::milliseconds(8000);
constexpr auto kExitGrace = std::chrono::milliseconds(1000);

// The library copies the credentials into buffers of this size (terminator
// included). A longer text would be cut, and a cut password might even match.
constexpr std::size_t kCredentialBuffer = 256;

struct Request {
    std::string url;     // smb://host/share[/folder]
    std::string ipcUrl;  // smb://host/IPC$, to tell a logon failure from a refused share
    std::string workgroup;
    std::string user;
    std::string password;
};

// The child process serves exactly one request; the authentication callback
// has no other way to reach it.
const Request* childRequest = nullptr;

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
                          const std::wstring& password, Request& r) {
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

void CopyCredential(const std::string& text, char* buffer, int size) {
    if (size <= 0) {
        return;
    }
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void Authenticate(const char* /*server*/, const char* /*share*/, char* workgroup, int wgLength,
                  char* user, int userLength, char* password, int passwordLength) {
    // Without a domain the library's own hint stays: the server's rules for
    // a user of no particular domain apply, as when Windows sends a bare name.
    if (!childRequest->workgroup.empty()) {
        CopyCredential(childRequest->workgroup, workgroup, wgLength);
    }
    CopyCredential(childRequest->user, user, userLength);
    CopyCredential(childRequest->password, password, passwordLength);
}

// errno of an opendir: 0 when it opened.
int OpenFolder(SMBCCTX* c, const std::string& url) {
    errno = 0;
    SMBCFILE* folder = smbc_getFunctionOpendir(c)(c, url.c_str());
    if (folder == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    smbc_getFunctionClosedir(c)(c, folder);
    return 0;
}

unsigned long MapOpenError(int error) {
    switch (error) {
        case 0:
            return kShareOk;
        case ENOENT:
        case ENOTDIR:
            return kShareBadNetName;
        case EINVAL:  // the host name did not resolve
        case ECONNREFUSED:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENETUNREACH:
            return kBadNetPath;
        default:
            return kShareOtherFailure;
    }
}

void WriteAnswer(int fd, unsigned long code) {
    std::uint32_t value = static_cast<std::uint32_t>(code);
    const char* p = reinterpret_cast<const char*>(&value);
    std::size_t left = sizeof value;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Registered last in the child, so it runs first if the library calls exit():
// nothing of the parent's exit handlers (windows, files, caches) runs twice.
void LeaveChildAtOnce() {
    _exit(111);
}

[[noreturn]] void RunChild(int answerFd, const Request& request, const std::string& home) {
    std::atexit(LeaveChildAtOnce);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    signal(SIGPIPE, SIG_DFL);
    setenv("HOME", home.c_str(), 1);
    // Would make the library talk to a program instead of the server.
    unsetenv("LIBSMB_PROG");
    childRequest = &request;

    SMBCCTX* c = smbc_new_context();
    if (c == nullptr) {
        WriteAnswer(answerFd, kShareOtherFailure);
        _exit(0);
    }
    smbc_setDebug(c, 0);
    smbc_setTimeout(c, kClientTimeoutMs);
    // Otherwise a wrong password passes on a share open to guests.
    smbc_setOptionNoAutoAnonymousLogin(c, 1);
    smbc_setOptionUseKerberos(c, 0);
    smbc_setOptionFallbackAfterKerberos(c, 0);
    smbc_setOptionUseCCache(c, 0);
    smbc_setFunctionAuthData(c, Authenticate);
    if (smbc_init_context(c) == nullptr) {
        smbc_free_context(c, 1);
        WriteAnswer(answerFd, kShareOtherFailure);
        _exit(0);
    }
    int error = OpenFolder(c, request.url);
    unsigned long code = MapOpenError(error);
    if (error == EACCES || error == EPERM) {
        // Wrong password, unknown user and a share that refuses this user all
        // read "access denied". Only a failed logon also fails on IPC$.
        int ipc = OpenFolder(c, request.ipcUrl);
        code = ipc == EACCES || ipc == EPERM ? kShareLogonFailure : kShareAccessDenied;
    }
    WriteAnswer(answerFd, code);
    smbc_free_context(c, 1);
    _exit(0);
}

// Reads the child's answer until the deadline. Nothing when it ran out of time
// (*timedOut) or ended without answering.
std::optional<unsigned long> ReadAnswer(int fd, std::chrono::steady_clock::time_point deadline,
                                        bool& timedOut) {
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
        int r = poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return std::nullopt;
        }
        if (r == 0) {
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

// Waits for the child until the deadline, then kills it; never leaves it behind.
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

}  // namespace

unsigned long LinuxNetwork::TestShareConnection(const std::wstring& share, const std::wstring& user,
                                                const std::wstring& password) {
    Request request;
    if (unsigned long refused = MakeRequest(share, user, password, request); refused != kShareOk) {
        return refused;
    }
    if (!AnyInterfaceUp()) {
        return kShareNoNetwork;
    }
    std::string home = MakePrivateHome();
    if (home.empty()) {
        return kShareOtherFailure;
    }
    unsigned long code = kShareOtherFailure;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
        // A child of its own because the library's configuration is process-
        // wide, it may end the process, and a hung server must not hold the
        // wizard: the child can be killed. It runs without exec in a process
        // that may have other threads; glibc keeps malloc and stdio usable in
        // such a child, and nothing of the parent's other libraries is used.
        // It shares the parent's stdio buffers: empty them first so nothing
        // is written twice.
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            RunChild(fds[1], request, home);
        }
        close(fds[1]);
        if (pid > 0) {
            auto start = std::chrono::steady_clock::now();
            bool timedOut = false;
            auto answer = ReadAnswer(fds[0], start + kAnswerDeadline, timedOut);
            if (answer) {
                code = *answer;
            } else if (timedOut) {
                code = kBadNetPath;  // a server that never finishes answering
            }
            Reap(pid, answer ? std::chrono::steady_clock::now() + kExitGrace
                             : std::chrono::steady_clock::now());
        }
        close(fds[0]);
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
