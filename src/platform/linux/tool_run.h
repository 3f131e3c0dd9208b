// The tools the disk operations start (mkfs.vfat, mtools, partx, the boot
// loader installer). A tool gets nothing of its caller but what is listed
// here: a fixed environment, /dev/null as input, its output on a pipe, and
// the descriptors it works on as 3, 4, ..., which it opens again through
// /proc/self/fd. So no name that a caller chose is ever looked up by a tool.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/unique_fd.h"

namespace scour::platform {

// The only folders tools are taken from.
inline constexpr char kToolPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";

// The path under which a tool finds the nth descriptor it was given.
std::string ToolFdPath(int n);

struct ToolLaunch {
    // The program: an absolute path (FindTool), or a /proc/PID/fd/N path.
    std::string program;
    // argv, argv[0] included (the name shown in messages).
    std::vector<std::string> argv;
    // Become descriptors 3, 4, ... of the tool; every other one is closed.
    std::vector<int> fds;
    // HOME: a folder of its own, empty, so that no configuration is read there.
    std::string home;
};

struct ToolChild {
    pid_t pid = -1;
    Fd output;
};

struct ToolResult {
    bool started = false;
    bool exitKnown = false;
    int status = -1;
    std::string output;
};

// The tool's absolute path in kToolPath; empty when it is not there.
std::string FindTool(const std::string& name);

std::optional<ToolChild> SpawnTool(const ToolLaunch& launch);
// Reads the output to its end and waits for the tool.
ToolResult FinishTool(ToolChild& child);
ToolResult RunTool(const ToolLaunch& launch);
// "mkfs.vfat failed (exit status 1): ..." with the end of its output.
std::string DescribeRun(const ToolLaunch& launch, const ToolResult& result);

}  // namespace scour::platform
