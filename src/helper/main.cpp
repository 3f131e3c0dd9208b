// scourline-disk-helper: the privileged half of the wizard's USB disk
// preparation. Started by the wizard through pkexec (or directly when the
// wizard runs as root), it serves the disk requests on stdin and stdout and
// ends when stdin closes. Nothing else is written to stdout.
//
// --allow-image-files FOLDER lets the regular files of FOLDER stand in for
// disks. It exists for the tests, which start the helper directly with their
// own rights; the helper refuses it when pkexec started it (pkexec sets
// PKEXEC_UID).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/linux/helper_protocol.h"
#include "platform/linux/helper_server.h"
#include "platform/linux/tool_run.h"

int main(int argc, char** argv) {
    namespace helper = scour::platform::helper;
    helper::ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == helper::kImageFilesFlag && i + 1 < argc &&
            argv[i + 1][0] == '/') {
            options.imageFolder = argv[++i];
        } else {
            std::fprintf(stderr, "scourline-disk-helper: unknown argument \"%s\"\n", argv[i]);
            return 2;
        }
    }
    if (!options.imageFolder.empty() && std::getenv("PKEXEC_UID") != nullptr) {
        std::fprintf(stderr, "scourline-disk-helper: %s is refused under pkexec\n",
                     helper::kImageFilesFlag);
        return 2;
    }
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "scourline-disk-helper: cannot find its own folder\n");
        return 1;
    }
    options.programFolder = self.parent_path().string();

    // The peer may go away at any time: a failed write ends the loop instead.
    signal(SIGPIPE, SIG_IGN);
    umask(022);
    // Nothing of the caller's environment reaches a tool: each gets a fixed one.
    clearenv();
    setenv("PATH", scour::platform::kToolPath, 1);
    setenv("LC_ALL", "C", 1);
    return helper::ServeDiskRequests(STDIN_FILENO, STDOUT_FILENO, options);
}
