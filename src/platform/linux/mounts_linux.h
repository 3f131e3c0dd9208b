// The mount table, read from /proc/self/mountinfo: which disks hold the
// running system, and unmounting the volumes of a disk. A mount belongs to a
// disk by its device number only; the text of its source is anybody's choice.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace scour::platform {

struct Mount {
    std::uint64_t id = 0;
    dev_t dev = 0;
    std::string point;
    std::string source;
};

std::vector<Mount> ReadMounts();
// Undoes \040-style escapes of mountinfo and /proc/swaps.
std::string UnescapeMountField(const std::string& s);

// Unmounts every mount of these devices, the latest first. Each mount point is
// opened without following a link and must be that very mount (its mount id)
// before it is unmounted through the descriptor. False, with why, when one
// cannot be unmounted.
bool UnmountDevices(const std::vector<dev_t>& devices, std::string& why);

// The whole disks that hold the running system: those under /, /boot, /usr,
// /var, /home, the program folder and the swap areas, through partitions,
// device mapper and RAID.
std::set<dev_t> SystemDisks(const std::string& programFolder);

}  // namespace scour::platform
