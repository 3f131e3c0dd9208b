// One removable volume as discovery sees it, and whether it can take the boot
// files without formatting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scour {

enum DriveStatus : std::int32_t {
    DriveReady = 0,
    DriveNotFat = 1,
    DriveLowSpace = 2,
    DriveNoPartitionTable = 3,
};

struct RemovableDrive {
    // The volume's unique name (Windows: \\?\Volume{...} without the trailing
    // backslash; Linux: the volume's device, e.g. /dev/sdb1).
    std::wstring VolumePath;
    std::wstring Label;
    std::wstring FileSystem;
    std::wstring CapacityText;
    std::wstring FreeSpaceText;
    // 0 for A ... 25 for Z; -1 when mounted at no letter from C: to Z:. Linux has no letters.
    std::int32_t DriveLetter = -1;
    // Where the list shows the letter: "E:" on Windows, the device name on Linux.
    std::wstring DisplayName;
    // Linux: the mount point, empty when the volume is not mounted.
    std::wstring MountPoint;
    // Windows: N of \\.\PhysicalDriveN. Linux: the disk's major * 65536 + minor; -1 unknown.
    std::int32_t PhysicalDrive = -1;
    // The whole disk that carries the volume (\\.\PhysicalDriveN, /dev/sdb).
    std::wstring PhysicalDevice;
    // Free space in kilobytes of 512-byte sectors; 64 bits so large volumes do not wrap.
    std::uint64_t FreeKilobytes = 0;
    bool HasPartitionTable = false;
    bool BootLoaderPresent = false;
    DriveStatus Status = DriveReady;
};

using DriveList = std::vector<RemovableDrive>;

}  // namespace scour
