// Disk operations on Linux, for block devices and disk image files alike:
// the volume is addressed as a byte offset into the whole disk (mkfs.vfat
// --offset, mtools' @@offset, syslinux --offset), so the same code serves a
// USB stick, a loop device and an image file without root.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "platform/disk_ops.h"

namespace scour::platform {

// Where the volume lies inside the whole disk; tableIndex is its MBR entry
// (0-3), -1 when the disk has no partition table or the entry is not primary.
struct VolumeSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    int tableIndex = -1;
};

// FAT32 needs at least 65,525 clusters, else mtools and syslinux refuse the
// file system: smaller volumes get FAT16 with the cluster size mkfs chooses.
struct FatChoice {
    int fatBits = 16;
    int sectorsPerCluster = 0;  // 0: mkfs.vfat's own choice
};
FatChoice ChooseFat(std::uint64_t volumeBytes);

// The whole disks that hold the running system: those under /, /boot, /usr,
// /var, /home, the program folder and the swap areas, through partitions,
// device mapper and RAID.
std::set<dev_t> SystemDisks(const std::string& programFolder);

class LinuxDiskPreparer final : public IDiskPreparer {
  public:
    explicit LinuxDiskPreparer(std::wstring programFolder);
    ~LinuxDiskPreparer() override;
    LinuxDiskPreparer(const LinuxDiskPreparer&) = delete;
    LinuxDiskPreparer& operator=(const LinuxDiskPreparer&) = delete;

    std::optional<DiskIdentity> ReadIdentity(const DiskTarget& target) override;
    std::unique_ptr<IVolumeLock> LockVolume(const DiskTarget& target) override;
    std::unique_ptr<IRawDisk> OpenDisk(const DiskTarget& target) override;
    bool ReleaseVolume(const DiskTarget& target) override;
    void SetFormatFileSystem(FormatFileSystem fs) override { fileSystem_ = fs; }
    // FAT16 for Fat; FAT32 for Fat32, refused on a volume too small for it.
    bool Format(const DiskTarget& target) override;
    bool CopyFolderContents(const DiskTarget& target, const std::wstring& folder) override;
    bool CopyFile(const DiskTarget& target, const std::wstring& source,
                  const std::wstring& name) override;
    std::unique_ptr<IInstallerRun> StartInstaller(const DiskTarget& target,
                                                  const std::wstring& programFolder) override;
    bool RootFileExists(const DiskTarget& target, std::wstring_view name) override;
    std::optional<VolumeFacts> DescribeVolume(const DiskTarget& target) override;
    bool SupportsImageFiles() const override { return true; }
    std::wstring FailureDetail() const override { return detail_; }

    // Where the target's volume lies; nothing when it is not on the target's disk.
    std::optional<VolumeSpan> LocateVolume(const DiskTarget& target);

    // Used by the lock, the raw disk and the installer run.
    void NoteFailure(const std::string& what);
    void ForgetLock(int fd);

  private:
    struct Disk;
    std::optional<Disk> ResolveDisk(const DiskTarget& target);
    bool UnmountAll(const Disk& disk);
    int HoldDisk(const Disk& disk);
    std::string MtoolsImage(const Disk& disk, const VolumeSpan& span) const;

    std::string programFolder_;
    std::wstring detail_;
    FormatFileSystem fileSystem_ = FormatFileSystem::Automatic;
    // The exclusive descriptor of a locked block device, shared with OpenDisk:
    // the kernel re-reads a partition table only through the exclusive opener.
    int lockedFd_ = -1;
    dev_t lockedDisk_ = 0;
};

}  // namespace scour::platform
