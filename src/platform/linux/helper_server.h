// The privileged disk helper's side of the conversation: reads requests,
// checks each one, and runs it with the Linux disk operations.
//
// The caller only names. A disk is a kernel name: the helper opens /dev/NAME
// itself, once per request, and keeps that descriptor for every step and
// tool of the request; it must be the block device sysfs gives for the name,
// a whole disk that drive discovery lists now (removable, not the running
// system's, not the program folder's), and its volume that disk or one of
// its partitions. A folder to copy is "common" or "flash" of the helper's own
// program folder, opened beneath it without following links; a name written
// to the disk is one plain file name. Files the wizard made itself (the
// banner, the archive) travel as contents. Before serving, the helper checks
// that root alone may change its program folder and what it runs from it.
#pragma once

#include <string>

namespace scour::platform::helper {

struct ServerOptions {
    // The helper's own folder, the program folder; resolved, without links.
    std::string programFolder;
    // Tests only (see kImageFilesFlag): the regular files of this folder
    // stand in for disks, named by their file names. Empty: none.
    std::string imageFolder;
};

// Serves requests from in and answers on out until in closes; the exit code.
// A program folder that fails its checks is told instead of the greeting.
int ServeDiskRequests(int in, int out, const ServerOptions& options);

}  // namespace scour::platform::helper
