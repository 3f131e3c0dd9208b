// Raw facts about volumes and the disks under them, one query per method, so
// that drive discovery (media/drive_discovery.h) runs the same logic on both
// platforms. Windows answers each query with the one system call it names;
// Linux answers from sysfs, libblkid, the mount table and mtools.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scour::platform {

// What the volume's own header says: label and file system name, each empty
// when it cannot be read.
struct VolumeInformation {
    std::wstring label;
    std::wstring fileSystem;
};

// Cluster counts of a volume's file system, as GetDiskFreeSpaceW gives them.
// Linux counts can pass 2^32, so they are 64-bit here.
struct VolumeSpace {
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint64_t freeClusters = 0;
    std::uint64_t totalClusters = 0;
};

// The part of a disk's partition table that discovery looks at.
struct DriveLayout {
    std::uint32_t partitionCount = 0;
    // Byte offset of the first entry of the table; 0 when that entry is unused.
    std::int64_t firstStartingOffset = 0;
};

// How a volume is named where it has no drive letter.
struct VolumePlace {
    // Linux: the device name ("sdb1"). Windows: empty (the letter names it).
    std::wstring displayName;
    // Linux: where the volume is mounted, empty when it is not. Windows: empty.
    std::wstring mountPoint;
};

class IVolumeSystem {
  public:
    virtual ~IVolumeSystem() = default;

    // Bit n set when drive letter n (0 = A) is in use. Linux: 0, no letters.
    virtual std::uint32_t LogicalDrives() = 0;
    // Unique volume name of a drive's root such as L"C:\\"; nothing when it has none.
    virtual std::optional<std::wstring> VolumeNameForRoot(const std::wstring& root) = 0;
    // Every volume's unique name, in the system's order; nothing when the
    // enumeration cannot be started. Linux lists only volumes of removable
    // disks that do not hold the running system.
    virtual std::optional<std::vector<std::wstring>> EnumerateVolumes() = 0;

    // The remaining queries take a volume name with or without its trailing backslash.
    // Windows: the drive type is DRIVE_REMOVABLE. Linux: the volume lies on a
    // removable disk that is neither a floppy nor an optical drive nor a disk of
    // the running system.
    virtual bool IsRemovableVolume(const std::wstring& volume) = 0;
    virtual VolumeInformation ReadVolumeInformation(const std::wstring& volume) = 0;
    virtual std::optional<VolumeSpace> DiskFreeSpace(const std::wstring& volume) = 0;
    // Number of the whole disk that holds the volume. Windows: N of
    // \\.\PhysicalDriveN. Linux: the disk's device number, major * 65536 + minor.
    virtual std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring& volume) = 0;
    // The whole disk's path for a number from PhysicalDriveNumber; empty when unknown.
    virtual std::wstring PhysicalDrivePath(std::int32_t number) = 0;
    // The disk's partition table; nothing when it cannot be read or the disk has
    // no table of the kind the boot medium uses (MBR).
    virtual std::optional<DriveLayout> ReadDriveLayout(std::int32_t number) = 0;
    // Whether a file of that name lies in the volume's root folder. Windows
    // looks through the drive letter (-1: never found); Linux through the mount
    // point, or, unmounted, into the FAT file system itself.
    virtual bool RootFileExists(const std::wstring& volume, std::int32_t driveLetter,
                                std::wstring_view name) = 0;
    virtual VolumePlace Locate(const std::wstring& volume) = 0;
};

// The real volume system of this platform. The program folder's disk is never
// listed (nor, on Linux, the disks of / and /boot).
std::unique_ptr<IVolumeSystem> CreateVolumeSystem(const std::wstring& programFolder);

}  // namespace scour::platform
