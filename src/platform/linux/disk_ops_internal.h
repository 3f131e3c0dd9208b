// What the Linux disk operations share among their files: facts read from an
// opened disk, sector reads and writes, and the objects the preparer hands out.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/disk_ops.h"
#include "platform/linux/disk_ops_linux.h"
#include "platform/linux/tool_run.h"

namespace scour::platform::disk_detail {

// What tools call the disk: the first descriptor they are given.
inline std::string DiskForTools() {
    return ToolFdPath(0);
}

std::string ErrnoText(const std::string& what);
std::optional<std::uint64_t> SizeOf(int fd);
std::uint32_t SectorSizeOf(int fd);
std::optional<DiskIdentity> IdentityOf(int fd);
bool ReadSector0(int fd, MbrSector& sector);
bool WriteSector0(int fd, const MbrSector& sector);
// Whether the kernel shows a partition of the disk with that place and size.
bool KernelKnowsPartition(dev_t disk, std::uint64_t start, std::uint64_t length);
// The medium behind a descriptor is still the one it was opened on.
bool SameSequence(int fd, dev_t rdev, std::uint64_t sequence);
// The very file a descriptor holds, opened again with other flags (through
// /proc/self/fd: no name is looked up again).
Fd Reopen(int fd, int flags);
// A small file whole; nothing when it is larger than limit or unreadable.
std::optional<std::string> ReadAll(int fd, std::size_t limit);

// The whole disk for its partition table, on a descriptor opened for writing.
std::unique_ptr<IRawDisk> MakeRawDisk(LinuxDiskPreparer& owner, Fd fd, const OpenedDisk& disk);

}  // namespace scour::platform::disk_detail
