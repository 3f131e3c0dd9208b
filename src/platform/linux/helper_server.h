// The privileged disk helper's side of the conversation: reads requests,
// checks each one, and runs it with the Linux disk operations.
//
// Checks, before anything is touched: a disk must be a whole removable disk
// that drive discovery lists (never a disk of the running system or of the
// program folder), and its volume that disk or one of its partitions; a folder
// to copy must lie inside the program folder once every link is resolved, and
// be named without ".."; a name written to the disk is one plain file name.
// Files the wizard made itself (the banner, the archive) travel as contents,
// so the helper never reads a file the wizard names outside its own folder.
#pragma once

#include <string>

namespace scour::platform::helper {

struct ServerOptions {
    // The helper's own folder, the program folder; resolved, without links.
    std::string programFolder;
    // Regular files may stand in for disks (tests only; see kImageFilesFlag).
    bool allowImageFiles = false;
};

// Serves requests from in and answers on out until in closes; the exit code.
int ServeDiskRequests(int in, int out, const ServerOptions& options);

}  // namespace scour::platform::helper
