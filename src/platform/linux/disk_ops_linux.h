// Disk operations on Linux, for block devices and disk image files alike:
// the volume is addressed as a byte offset into the whole disk (mkfs.vfat
// --offset, mtools' @@offset, syslinux --offset), so the same code serves a
// USB stick, a loop device and an image file without root.
//
// Each operation looks its disk up once and keeps the descriptor to its end:
// every check, every write and every tool works on that descriptor (tools
// reopen it through /proc/self/fd), never on a name looked up again.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/disk_ops.h"
#include "platform/linux/block_sysfs.h"
#include "platform/linux/mounts_linux.h"
#include "platform/linux/program_files.h"
#include "platform/linux/unique_fd.h"

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

// The disk of one operation, opened once.
struct OpenedDisk {
    // The whole disk or the image file, read-only: writers open it again
    // through /proc/self/fd, which reaches this very file whatever its name.
    Fd fd;
    std::string label;  // how messages name it: /dev/sdb, or the image's path
    bool block = false;
    dev_t rdev = 0;    // block device: the whole disk's number
    dev_t volume = 0;  // block device: the partition the target names; 0: the whole disk
    // The kernel's disk sequence number when it was opened; 0 where there is none.
    std::uint64_t sequence = 0;
};

// Looks a target up and opens it; nothing, with why, when it may not be used.
using DiskOpener = std::function<std::optional<OpenedDisk>(const DiskTarget&, std::string& why)>;

// The target's paths, opened with the caller's own rights.
std::optional<OpenedDisk> OpenDiskByPath(const DiskTarget& target, std::string& why);

class LinuxDiskPreparer final : public IDiskPreparer {
  public:
    // Disks by their paths; the program folder's files as the caller may read them.
    explicit LinuxDiskPreparer(std::wstring programFolder);
    // Disks through the opener only; the program folder's files through files.
    LinuxDiskPreparer(std::shared_ptr<const ProgramFiles> files, DiskOpener opener);
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
    // Only a folder of the program folder itself ("common", "flash").
    bool CopyFolderContents(const DiskTarget& target, const std::wstring& folder) override;
    bool CopyFile(const DiskTarget& target, const std::wstring& source,
                  const std::wstring& name) override;
    // The installer of this preparer's own program folder; another folder is refused.
    std::unique_ptr<IInstallerRun> StartInstaller(const DiskTarget& target,
                                                  const std::wstring& programFolder) override;
    bool RootFileExists(const DiskTarget& target, std::wstring_view name) override;
    // The same, telling a disk that could not be looked up (nothing) from a missing file.
    std::optional<bool> FileInRoot(const DiskTarget& target, const std::string& name);
    std::optional<VolumeFacts> DescribeVolume(const DiskTarget& target) override;
    bool SupportsImageFiles() const override { return true; }
    std::wstring FailureDetail() const override { return detail_; }

    // A member folder of the program folder by name ("common", "flash").
    bool CopyMemberFolder(const DiskTarget& target, const std::string& member);
    // Contents the caller made (the banner, the archive), written to the root folder.
    bool CopyBytes(const DiskTarget& target, const std::string& contents, const std::string& name);

    // Used by the lock, the raw disk and the installer run.
    void NoteFailure(const std::string& what);
    void ForgetLock(int fd);

  private:
    std::optional<OpenedDisk> Open(const DiskTarget& target);
    const ProgramFiles* Files();
    std::optional<VolumeSpan> Locate(const OpenedDisk& disk);
    bool SameMedium(const OpenedDisk& disk);
    bool UnmountAll(const OpenedDisk& disk);
    Fd HoldDisk(const OpenedDisk& disk);
    const std::string& Home();
    std::string MtoolsImage(const VolumeSpan& span) const;
    bool CopyFd(const OpenedDisk& disk, const VolumeSpan& span, int source,
                const std::string& name);

    std::string programFolder_;
    std::shared_ptr<const ProgramFiles> files_;
    DiskOpener opener_;
    std::string home_;
    std::wstring detail_;
    FormatFileSystem fileSystem_ = FormatFileSystem::Automatic;
    // The exclusive descriptor of a locked block device, shared with OpenDisk:
    // the kernel re-reads a partition table only through the exclusive opener.
    int lockedFd_ = -1;
    dev_t lockedDisk_ = 0;
};

}  // namespace scour::platform
