#include "platform/linux/tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

namespace scour::platform {

std::string ToolFdPath(int n) {
    return "/proc/self/fd/" + std::to_string(3 + n);
}

std::string FindTool(const std::string& name) {
    std::istringstream dirs(kToolPath);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::optional<ToolChild> SpawnTool(const ToolLaunch& launch) {
    if (launch.program.empty() || launch.program.front() != '/' || launch.argv.empty()) {
        return std::nullopt;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Fd readEnd(fds[0]), writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The given descriptors go first to numbers above every source and every
    // target, so that placing one cannot overwrite another still to be placed.
    const int given = static_cast<int>(launch.fds.size());
    int parking = std::max(3 + given, writeEnd.Get() + 1);
    for (int fd : launch.fds) {
        parking = std::max(parking, fd + 1);
    }
    for (int i = 0; i < given; ++i) {
        posix_spawn_file_actions_adddup2(&actions, launch.fds[static_cast<std::size_t>(i)],
                                         parking + i);
    }
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), parking + given);
    for (int i = 0; i < given; ++i) {
        posix_spawn_file_actions_adddup2(&actions, parking + i, 3 + i);
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, parking + given, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, parking + given, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3 + given);

    std::vector<char*> args;
    for (const auto& a : launch.argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // A partition at sector 63 does not match the geometry mtools expects; no
    // mtools configuration but the system's applies; output is read in the C locale.
    std::vector<std::string> env = {std::string("PATH=") + kToolPath,
                                    "HOME=" + (launch.home.empty() ? "/" : launch.home), "LC_ALL=C",
                                    "MTOOLS_SKIP_CHECK=1", "MTOOLSRC=/dev/null"};
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, launch.program.c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return std::nullopt;
    }
    ToolChild child;
    child.pid = pid;
    child.output = std::move(readEnd);
    return child;
}

ToolResult FinishTool(ToolChild& child) {
    ToolResult result;
    result.started = true;
    char buf[4096];
    for (;;) {
        ssize_t n = read(child.output.Get(), buf, sizeof buf);
        if (n > 0) {
            // Only the end says why; a tool that talks without end must not fill memory.
            result.output.append(buf, static_cast<std::size_t>(n));
            if (result.output.size() > 65536) {
                result.output.erase(0, result.output.size() - 32768);
            }
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    child.output.Reset();
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited == child.pid && WIFEXITED(status)) {
        result.exitKnown = true;
        result.status = WEXITSTATUS(status);
    } else if (waited == child.pid && WIFSIGNALED(status)) {
        result.exitKnown = true;
        result.status = 128 + WTERMSIG(status);
    }
    return result;
}

ToolResult RunTool(const ToolLaunch& launch) {
    auto child = SpawnTool(launch);
    if (!child) {
        return {};
    }
    return FinishTool(*child);
}

std::string DescribeRun(const ToolLaunch& launch, const ToolResult& r) {
    std::string name = launch.argv.empty() ? "" : launch.argv.front();
    if (auto slash = name.rfind('/'); slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    if (!r.started) {
        return name + " could not be started";
    }
    std::string text = r.output;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    // The last lines say why; the start is usually the tool's banner.
    if (text.size() > 600) {
        text = "..." + text.substr(text.size() - 600);
    }
    return name + " failed (exit status " + std::to_string(r.status) + ")" +
           (text.empty() ? "" : ": " + text);
}

}  // namespace scour::platform
