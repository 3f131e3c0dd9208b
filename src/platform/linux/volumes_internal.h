// What the files of the Linux volume listing share: the sysfs entries of
// disks and partitions, the mount table's entries, and the file system facts
// read from a volume.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/volumes_linux.h"

namespace scour::platform::volume_detail {

// A disk or a partition as sysfs shows it.
struct BlockEntry {
    std::string name;  // "sdb1"
    std::string disk;  // "sdb"; the same as name for a whole disk
    bool isPartition = false;
    unsigned major = 0;
    unsigned minor = 0;
    bool hasDev = false;
};

struct MountEntry {
    bool hasDev = false;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root = "/";  // the folder of the file system that is mounted
    std::string mountPoint;
    std::string source;
};

std::optional<std::string> ReadSmallFile(const std::string& path);
bool ParseUnsigned(std::string_view text, std::uint64_t& value);
bool ParseDevNumbers(std::string_view text, unsigned& major, unsigned& minor);
std::optional<std::vector<std::string>> ListFolders(const std::string& path);
bool FileExists(const std::string& path);
std::string Realpath(const std::string& path);

// Everything this object asks sysfs and the mount table, for one query.
class Sysfs {
  public:
    explicit Sysfs(const LinuxVolumeConfig& config) : config_(config) {}

    std::string BlockFolder() const { return config_.sysRoot + "/block"; }
    std::string EntryFolder(const BlockEntry& e) const {
        return e.isPartition ? BlockFolder() + "/" + e.disk + "/" + e.name
                             : BlockFolder() + "/" + e.name;
    }
    std::string DevicePath(const std::string& name) const { return config_.devRoot + "/" + name; }

    std::optional<std::vector<std::string>> Disks() const { return ListFolders(BlockFolder()); }

    std::vector<std::string> Partitions(const std::string& disk) const;
    std::optional<BlockEntry> ByName(const std::string& name) const;
    std::optional<BlockEntry> ByDev(unsigned major, unsigned minor) const;
    // A device path: a block device node by its device number; a regular file
    // (tests' trees) by its name when it lies in the device folder.
    std::optional<BlockEntry> ByPath(const std::string& path) const;
    std::uint64_t SizeInSectors(const BlockEntry& e) const;
    // A removable disk the wizard may write to: not a floppy, not an optical
    // drive, a medium present. SD cards count although readers often report
    // them as fixed.
    bool IsRemovableDisk(const std::string& disk) const;
    // The volumes of a disk: its partitions (an extended partition's 1 KiB
    // container is none), or the whole disk when it has no partitions.
    std::vector<std::string> VolumesOf(const std::string& disk) const;

    std::vector<MountEntry> Mounts() const;
    // The sysfs entry a mount's file system lives on: by its device number, or
    // by its source when the number is an anonymous one (btrfs, overlays).
    std::optional<BlockEntry> DeviceOfMount(const MountEntry& m) const;
    // Where the whole file system of the volume is mounted; empty when it is not.
    std::string MountPointOf(const BlockEntry& volume) const;
    // The disk under an entry, and the disks under that one in turn.
    void AddDisksUnder(const BlockEntry& e, std::set<std::string>& disks, int depth) const;
    std::set<std::string> ProtectedDisks() const;

  private:
    BlockEntry Fill(BlockEntry e) const;

    const LinuxVolumeConfig& config_;
};

struct BlkidFacts {
    std::string type;
    std::string version;
    std::string label;
};

bool CanRead(const std::string& device);
LinuxVolumeConfig::UdevProperties UdevPropertiesOf(const LinuxVolumeConfig& config, unsigned major,
                                                   unsigned minor);
std::string Property(const LinuxVolumeConfig::UdevProperties& p, const std::string& name);
bool IsFat(const std::string& blkidType);
// The volume's file system: libblkid from the device where it may be read,
// else what udev found when the device appeared.
std::optional<BlkidFacts> FileSystemOf(const LinuxVolumeConfig& config, const Sysfs& sys,
                                       const BlockEntry& e);

}  // namespace scour::platform::volume_detail
