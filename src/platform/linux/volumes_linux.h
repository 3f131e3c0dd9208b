// Volumes of removable disks on Linux: sysfs says which disks are removable and
// which partitions they carry, libblkid reads labels, file systems and
// partition tables, the mount table and statvfs give the sizes of mounted
// volumes, and mtools those of FAT volumes that are not mounted.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volumes.h"

namespace scour::platform {

struct LinuxVolumeConfig {
    // Where sysfs, the device nodes and procfs are; tests point these at trees of their own.
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
    // The disks holding these paths are never listed: the running system's and
    // the program's. A path counts through the mount that holds it (mount
    // table) and through the device its file system reports (stat). A live
    // system's boot medium is mounted at one of the last four.
    std::vector<std::string> protectedPaths = {"/",
                                               "/boot",
                                               "/boot/efi",
                                               "/usr",
                                               "/run/live/medium",
                                               "/lib/live/mount/medium",
                                               "/cdrom",
                                               "/run/initramfs/live"};
    // mtools' mdir, for FAT volumes that are not mounted; empty: not used.
    std::string mdirProgram = "mdir";
    // libblkid reads labels, file systems and partition tables from the device
    // itself, which needs read access to it. Where that is refused (the wizard
    // runs as the desktop user), or this is off, udev's database answers.
    bool useBlkid = true;
    // udev's properties of a block device by its numbers; empty: libudev's
    // database. Tests give their own.
    using UdevProperties = std::map<std::string, std::string>;
    std::function<UdevProperties(unsigned major, unsigned minor)> udevProperties;
};

class LinuxVolumeSystem final : public IVolumeSystem {
  public:
    explicit LinuxVolumeSystem(LinuxVolumeConfig config);

    std::uint32_t LogicalDrives() override { return 0; }
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring&) override { return {}; }
    // Volumes of the removable disks in sysfs, disks and partitions sorted by
    // name (numbers by value): each partition, or the whole disk when it has none.
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override;
    bool IsRemovableVolume(const std::wstring& volume) override;
    VolumeInformation ReadVolumeInformation(const std::wstring& volume) override;
    std::optional<VolumeSpace> DiskFreeSpace(const std::wstring& volume) override;
    std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring& volume) override;
    std::wstring PhysicalDrivePath(std::int32_t number) override;
    std::optional<DriveLayout> ReadDriveLayout(std::int32_t number) override;
    bool RootFileExists(const std::wstring& volume, std::int32_t driveLetter,
                        std::wstring_view name) override;
    VolumePlace Locate(const std::wstring& volume) override;

    // Names of the disks that hold the protected paths, with the disks under
    // them (device-mapper and RAID members, loop devices' backing files).
    std::vector<std::string> ProtectedDisks();

  private:
    LinuxVolumeConfig config_;
};

// The file system name as Windows would report it, from libblkid's TYPE and
// VERSION: vfat is "FAT32" or "FAT", exfat "exFAT", ntfs "NTFS"; others as given.
std::wstring LinuxFileSystemName(std::string_view type, std::string_view version);

// A label from udev: ID_FS_LABEL_ENC with its \xNN escapes undone, else ID_FS_LABEL.
std::string UdevLabel(const LinuxVolumeConfig::UdevProperties& properties);

// The number in mdir's "... bytes free" line (digits grouped by blanks); nothing without one.
std::optional<std::uint64_t> ParseMdirBytesFree(std::string_view output);

}  // namespace scour::platform
