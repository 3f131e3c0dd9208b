// The disk operations of the USB disk preparation: lock a volume, rewrite a
// disk's partition table, format the volume, copy files onto it and run the
// boot loader installer. Windows answers with DeviceIoControl, the shell and
// the installer on the disk itself; Linux with block-device ioctls,
// mkfs.vfat, mtools and the installer from the program folder, on block
// devices and disk image files alike.
//
// The MBR encoding lives here too, as inline code without system headers, so
// that both platforms and the tests share one copy of it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scour::platform {

// Which disk and volume an operation is about. Made once from the drive entry
// the preparation started with, never again from the page's current list.
struct DiskTarget {
    // The volume: \\?\Volume{...} without trailing backslash, /dev/sdb1, or
    // the image file (whose volume is found through its partition table).
    std::wstring volumePath;
    // The whole disk: \\.\PhysicalDrive1, /dev/sdb or the image file. Windows
    // builds it from physicalDrive when empty.
    std::wstring diskPath;
    std::int32_t physicalDrive = -1;  // Windows: N of \\.\PhysicalDriveN
    std::int32_t driveLetter = -1;    // Windows: 0 for A ... 25 for Z; -1 for none
};

// What tells one disk from another. Two readings are the same disk only when
// every field agrees.
struct DiskIdentity {
    // Windows: the physical drive number the volume lies on. Linux: the whole
    // disk's device number. Image file: its file number (inode).
    std::uint64_t deviceNumber = 0;
    std::uint64_t sizeBytes = 0;
    // The device's serial number where the system reports one, else empty.
    std::wstring serial;
    // Linux: the kernel's disk sequence number, new for every medium and every
    // loop device attachment; image file: its file system's device; else 0.
    std::uint64_t sequence = 0;

    friend bool operator==(const DiskIdentity&, const DiskIdentity&) = default;
};

struct DiskGeometry {
    std::uint64_t cylinders = 0;
    std::uint32_t tracksPerCylinder = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t bytesPerSector = 0;
};

// One entry of a drive layout as the system's layout requests describe it.
struct PartitionEntry {
    std::int64_t startingOffset = 0;   // bytes from the start of the disk
    std::int64_t partitionLength = 0;  // bytes
    std::uint32_t hiddenSectors = 0;
    std::uint32_t partitionNumber = 0;
    std::uint8_t partitionType = 0;
    bool bootIndicator = false;
    bool recognizedPartition = false;
    bool rewritePartition = false;
};

// A disk's partition table; the partition count is the number of entries.
struct DiskLayout {
    std::uint32_t signature = 0;
    std::vector<PartitionEntry> partitions;
};

// --- MBR sector encoding ------------------------------------------------------

inline constexpr std::size_t kMbrSectorSize = 512;
// The boot code area that the boot loader's MBR code (mbr.bin) fills.
inline constexpr std::size_t kMbrBootCodeSize = 440;
inline constexpr std::size_t kMbrSignatureOffset = 440;
inline constexpr std::size_t kMbrTableOffset = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrEntries = 4;
inline constexpr std::uint8_t kMbrActive = 0x80;

using MbrSector = std::array<std::uint8_t, kMbrSectorSize>;
using MbrEntryBytes = std::array<std::uint8_t, kMbrEntrySize>;

namespace mbr_detail {

inline std::uint32_t Get32(const MbrSector& s, std::size_t at) {
    return static_cast<std::uint32_t>(s[at]) | static_cast<std::uint32_t>(s[at + 1]) << 8 |
           static_cast<std::uint32_t>(s[at + 2]) << 16 |
           static_cast<std::uint32_t>(s[at + 3]) << 24;
}

inline void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline std::uint16_t Get16(const MbrSector& s, std::size_t at) {
    return static_cast<std::uint16_t>(s[at] | s[at + 1] << 8);
}

// A FAT volume boot record at sector 0 (a disk formatted without partition
// table) also ends in 55 AA; its boot code must not be read as partitions.
inline bool LooksLikeFatBootRecord(const MbrSector& s) {
    bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
    std::uint16_t bytesPerSector = Get16(s, 11);
    std::uint8_t sectorsPerCluster = s[13];
    bool powerOfTwoSector = bytesPerSector >= 512 && bytesPerSector <= 4096 &&
                            (bytesPerSector & (bytesPerSector - 1)) == 0;
    bool powerOfTwoCluster =
        sectorsPerCluster != 0 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
    return jump && powerOfTwoSector && powerOfTwoCluster && Get16(s, 14) >= 1 &&
           (s[16] == 1 || s[16] == 2);
}

}  // namespace mbr_detail

// The three CHS bytes of an MBR entry for a sector number; past cylinder 1023
// the geometry's last head and sector of cylinder 1023, as usual.
inline std::array<std::uint8_t, 3> EncodeChs(std::uint64_t lba, const DiskGeometry& g) {
    if (g.sectorsPerTrack == 0 || g.tracksPerCylinder == 0) {
        return {0, 0, 0};
    }
    std::uint64_t perCylinder = static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack;
    std::uint64_t cylinder = lba / perCylinder;
    std::uint64_t head = (lba / g.sectorsPerTrack) % g.tracksPerCylinder;
    std::uint64_t sector = lba % g.sectorsPerTrack + 1;
    if (cylinder > 1023) {
        cylinder = 1023;
        head = g.tracksPerCylinder - 1;
        sector = g.sectorsPerTrack;
    }
    head = std::min<std::uint64_t>(head, 255);
    sector = std::min<std::uint64_t>(sector, 63);
    return {static_cast<std::uint8_t>(head),
            static_cast<std::uint8_t>(sector | ((cylinder >> 2) & 0xC0)),
            static_cast<std::uint8_t>(cylinder & 0xFF)};
}

// One 16-byte table entry; an entry of type 0 or without length is all zero.
inline MbrEntryBytes EncodeMbrEntry(const PartitionEntry& e, const DiskGeometry& g) {
    MbrEntryBytes out{};
    if (e.partitionType == 0 || e.partitionLength <= 0 || e.startingOffset < 0 ||
        g.bytesPerSector == 0) {
        return out;
    }
    std::uint64_t first = static_cast<std::uint64_t>(e.startingOffset) / g.bytesPerSector;
    std::uint64_t count = static_cast<std::uint64_t>(e.partitionLength) / g.bytesPerSector;
    auto start = EncodeChs(first, g);
    auto end = EncodeChs(first + count - 1, g);
    out[0] = e.bootIndicator ? kMbrActive : 0;
    std::copy(start.begin(), start.end(), out.begin() + 1);
    out[4] = e.partitionType;
    std::copy(end.begin(), end.end(), out.begin() + 5);
    mbr_detail::Put32(out.data() + 8, static_cast<std::uint32_t>(first));
    mbr_detail::Put32(out.data() + 12, static_cast<std::uint32_t>(count));
    return out;
}

// Writes the disk signature, the four table entries (missing ones empty) and
// the 55 AA mark into a sector; the boot code area is left as it is.
inline void EncodeMbr(MbrSector& sector, const DiskLayout& layout, const DiskGeometry& g) {
    mbr_detail::Put32(sector.data() + kMbrSignatureOffset, layout.signature);
    sector[444] = 0;
    sector[445] = 0;
    for (std::size_t i = 0; i < kMbrEntries; ++i) {
        MbrEntryBytes entry{};
        if (i < layout.partitions.size()) {
            entry = EncodeMbrEntry(layout.partitions[i], g);
        }
        std::copy(
            entry.begin(), entry.end(),
            sector.begin() + static_cast<std::ptrdiff_t>(kMbrTableOffset + i * kMbrEntrySize));
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

// The layout a disk's first sector describes. A sector without a valid
// partition table (blank, or a file system written from sector 0) gives what
// the system reports for such a disk: one entry covering the disk from offset 0.
inline DiskLayout DecodeMbr(const MbrSector& s, std::uint64_t diskSize,
                            std::uint32_t bytesPerSector = 512) {
    DiskLayout table;
    bool valid = s[510] == 0x55 && s[511] == 0xAA && !mbr_detail::LooksLikeFatBootRecord(s);
    bool anyUsed = false;
    std::uint64_t diskSectors = bytesPerSector != 0 ? diskSize / bytesPerSector : 0;
    for (std::size_t i = 0; valid && i < kMbrEntries; ++i) {
        std::size_t at = kMbrTableOffset + i * kMbrEntrySize;
        std::uint8_t flag = s[at];
        std::uint8_t type = s[at + 4];
        std::uint64_t first = mbr_detail::Get32(s, at + 8);
        std::uint64_t count = mbr_detail::Get32(s, at + 12);
        if (flag != 0 && flag != kMbrActive) {
            valid = false;
            break;
        }
        PartitionEntry e;
        if (type != 0 && count != 0) {
            if (first == 0 || (diskSectors != 0 && first + count > diskSectors)) {
                valid = false;
                break;
            }
            anyUsed = true;
            e.startingOffset = static_cast<std::int64_t>(first * bytesPerSector);
            e.partitionLength = static_cast<std::int64_t>(count * bytesPerSector);
            e.hiddenSectors = static_cast<std::uint32_t>(first);
            e.partitionNumber = static_cast<std::uint32_t>(i + 1);
            e.partitionType = type;
            e.bootIndicator = flag == kMbrActive;
            e.recognizedPartition = true;
        }
        table.partitions.push_back(e);
    }
    if (valid && anyUsed) {
        table.signature = mbr_detail::Get32(s, kMbrSignatureOffset);
        return table;
    }
    DiskLayout whole;
    PartitionEntry e;
    e.startingOffset = 0;
    e.partitionLength = static_cast<std::int64_t>(diskSize);
    e.partitionNumber = 1;
    e.recognizedPartition = true;
    whole.partitions.push_back(e);
    return whole;
}

// --- the operations -------------------------------------------------------------

// A held volume lock (Windows: the locked and dismounted volume handle;
// Linux: the disk unmounted and opened exclusively). Destroying it unlocks.
class IVolumeLock {
  public:
    virtual ~IVolumeLock() = default;
};

// The whole disk, opened for reading and rewriting its partition table.
class IRawDisk {
  public:
    virtual ~IRawDisk() = default;
    virtual std::optional<DiskIdentity> Identity() = 0;
    virtual std::optional<DiskGeometry> Geometry() = 0;
    virtual std::optional<DiskLayout> Layout() = 0;
    // 512 zero bytes at offset 0.
    virtual bool ClearFirstSector() = 0;
    // An empty MBR-style disk with a new disk signature.
    virtual bool CreateMbrDisk() = 0;
    // Writes the table; the system then learns the new partitions.
    virtual bool SetLayout(const DiskLayout& layout, const DiskGeometry& geometry) = 0;
};

// The boot loader installer, started and not yet waited for.
class IInstallerRun {
  public:
    virtual ~IInstallerRun() = default;
    // Waits without time limit; the exit code, or nothing when it cannot be read.
    virtual std::optional<unsigned long> Wait() = 0;
};

// What the disk operations see of a volume, for disks that discovery does not
// describe (image files).
struct VolumeFacts {
    bool hasPartitionTable = false;
    std::wstring fileSystem;  // "FAT", "FAT32" or empty
    std::wstring label;
    std::uint64_t capacityBytes = 0;
    std::uint64_t freeBytes = 0;
    bool bootLoaderPresent = false;
};

// The file system Format makes. Automatic: FAT32 where the volume is large
// enough for it, else FAT. Windows' format dialog leaves the choice to the user.
enum class FormatFileSystem { Automatic, Fat, Fat32 };

class IDiskPreparer {
  public:
    virtual ~IDiskPreparer() = default;

    // The file system of the next Format calls; Automatic until set.
    virtual void SetFormatFileSystem(FormatFileSystem fs) { (void)fs; }

    // The identity of the disk that the target names now; nothing when it
    // cannot be read.
    virtual std::optional<DiskIdentity> ReadIdentity(const DiskTarget& target) = 0;

    // Null when the volume is in use (open files or windows) or cannot be had.
    virtual std::unique_ptr<IVolumeLock> LockVolume(const DiskTarget& target) = 0;
    // Null when the disk cannot be opened, and always for the system's own disks.
    virtual std::unique_ptr<IRawDisk> OpenDisk(const DiskTarget& target) = 0;

    // Frees the volume from the system's own use so that the operations below
    // may write to it: Linux unmounts every volume of the disk; Windows needs
    // nothing. False when a volume is busy.
    virtual bool ReleaseVolume(const DiskTarget& target) = 0;
    // Windows: the system's format dialog. Linux: mkfs.vfat, FAT32 where the
    // volume is large enough, else FAT16. True when the volume was formatted.
    virtual bool Format(const DiskTarget& target) = 0;

    // Copies the folder's contents, subfolders included, into the volume's
    // root, replacing files of the same names.
    virtual bool CopyFolderContents(const DiskTarget& target, const std::wstring& folder) = 0;
    // Copies one file into the volume's root under the given name.
    virtual bool CopyFile(const DiskTarget& target, const std::wstring& source,
                          const std::wstring& name) = 0;
    // Starts the boot loader installer for the volume (Windows: the copy in the
    // volume's root; Linux: the program folder's flash/syslinux, then the MBR
    // boot code and active flag it leaves out). Null when it cannot be started.
    virtual std::unique_ptr<IInstallerRun> StartInstaller(const DiskTarget& target,
                                                          const std::wstring& programFolder) = 0;
    virtual bool RootFileExists(const DiskTarget& target, std::wstring_view name) = 0;

    // The volume as the disk operations see it; nothing where discovery
    // describes volumes instead (Windows) or it cannot be read.
    virtual std::optional<VolumeFacts> DescribeVolume(const DiskTarget& target) = 0;
    // Whether a disk image file can stand in for a disk.
    virtual bool SupportsImageFiles() const = 0;

    // What the system said about the last failed operation; empty when nothing.
    virtual std::wstring FailureDetail() const = 0;
};

// The real disk operations. programFolder's own disk is never written to;
// ownerWindow (HWND on Windows) owns the format dialog and copy progress.
std::unique_ptr<IDiskPreparer> CreateDiskPreparer(const std::wstring& programFolder,
                                                  void* ownerWindow);

// The disk operations as the wizard uses them. Windows: the same as
// CreateDiskPreparer (the wizard runs elevated). Linux: the wizard runs as the
// desktop user, and every write goes through the privileged disk helper of the
// program folder, started on first use (through pkexec unless already root).
std::unique_ptr<IDiskPreparer> CreateWizardDiskPreparer(const std::wstring& programFolder,
                                                        void* ownerWindow);

}  // namespace scour::platform
