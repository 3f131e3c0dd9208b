#include "platform/linux/system_linux.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/linux/network_linux.h"
#include "platform/linux/reg_file_store.h"
#include "platform/services.h"

extern char** environ;

namespace scour::platform {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TrimLineEnd(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

// Output of a short helper program, or empty. Used for xdg-user-dir only.
std::string ReadCommandOutput(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    if (rc == 0) {
        char buf[4096];
        ssize_t n = 0;
        while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
            }
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            out.clear();
        }
    }
    close(fds[0]);
    return out;
}

}  // namespace

std::wstring LinuxEnvironment::ProgramFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return FromFsPath(exe.parent_path());
}

std::optional<std::wstring> LinuxEnvironment::DocumentsFolder() {
    const char* home = std::getenv("HOME");
    std::string homeDir = home != nullptr ? home : "";
    std::string xdg = TrimLineEnd(ReadCommandOutput({"xdg-user-dir", "DOCUMENTS"}));
    // xdg-user-dir answers $HOME itself when no documents folder is configured.
    if (IsFolder(xdg) && xdg != homeDir) {
        return FromUtf8(xdg);
    }
    if (IsFolder(homeDir + "/Documents")) {
        return FromUtf8(homeDir + "/Documents");
    }
    if (IsFolder(homeDir)) {
        return FromUtf8(homeDir);
    }
    return std::nullopt;
}

std::optional<std::wstring> LinuxTempFiles::TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp != nullptr && IsFolder(tmp)) ? tmp : "/tmp";
    if (folder.back() != '/') {
        folder += '/';
    }
    return FromUtf8(folder);
}

std::optional<std::wstring> LinuxTempFiles::CreateTempFile(std::wstring_view prefix) {
    auto folder = TempFolder();
    if (!folder) {
        return std::nullopt;
    }
    std::string templ = ToUtf8(*folder) + ToUtf8(prefix) + "XXXXXX";
    int fd = mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    close(fd);
    return FromUtf8(templ);
}

std::optional<std::wstring> LinuxTempFiles::CreateTempFolder(std::wstring_view prefix) {
    auto folder = TempFolder();
    if (!folder) {
        return std::nullopt;
    }
    std::string templ = ToUtf8(*folder) + ToUtf8(prefix) + "XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        return std::nullopt;
    }
    return FromUtf8(templ);
}

std::string LocaleTextCodec::ToSystem8Bit(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    for (wchar_t c : text) {
        std::size_t n = std::wcrtomb(buf, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            out += '?';
            state = std::mbstate_t{};
        } else {
            out.append(buf, n);
        }
    }
    return out;
}

std::wstring LocaleTextCodec::FromSystem8Bit(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < text.size()) {
        wchar_t c = 0;
        std::size_t n = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out += L'?';
            state = std::mbstate_t{};
            ++i;
        } else if (n == 0) {
            out += L'\0';
            ++i;
        } else {
            out += c;
            i += n;
        }
    }
    return out;
}

ProcessResult PosixProcessRunner::RunHidden(const ProcessRequest& request) {
    ProcessResult result;
    if (request.argv.empty()) {
        return result;
    }
    std::vector<std::string> args;
    for (const auto& a : request.argv) {
        args.push_back(ToUtf8(a));
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // The child gets no terminal input and nothing of ours but its own streams.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::string folder = ToUtf8(request.workingFolder);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    // glibc reports a failed chdir or exec as the result of posix_spawn itself.
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return result;
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    result.started = true;
    if (waited == pid && WIFEXITED(status)) {
        result.exitCodeKnown = true;
        result.exitCode = static_cast<unsigned long>(WEXITSTATUS(status));
    } else if (waited == pid && WIFSIGNALED(status)) {
        result.exitCodeKnown = true;
        result.exitCode = 128u + static_cast<unsigned long>(WTERMSIG(status));
    }
    return result;
}

Services& DefaultServices() {
    static LinuxEnvironment environment;
    static LinuxTempFiles tempFiles;
    static LocaleTextCodec text;
    static PosixProcessRunner processes;
    static RegFileStore settings(RegFileStore::DefaultPath());
    static LinuxNetwork network;
    static Services services{&environment, &tempFiles, &text, &processes, &settings, &network};
    return services;
}

}  // namespace scour::platform
