#include "platform/linux/disk_ops_linux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/linux/tool_run.h"

namespace scour::platform {

namespace fs = std::filesystem;

namespace {

constexpr char kVolumeLabel[] = "SCOURLINE";
// What tools call the disk: the first descriptor they are given.
const std::string kDiskForTools = ToolFdPath(0);

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// --- disk facts ----------------------------------------------------------------------------

std::optional<std::uint64_t> SizeOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode)) {
        return static_cast<std::uint64_t>(st.st_size);
    }
    std::uint64_t size = 0;
    if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &size) == 0) {
        return size;
    }
    return std::nullopt;
}

std::uint32_t SectorSizeOf(int fd) {
    struct stat st {};
    int size = 0;
    if (fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ioctl(fd, BLKSSZGET, &size) == 0 &&
        size >= 512) {
        return static_cast<std::uint32_t>(size);
    }
    return 512;
}

std::optional<DiskIdentity> IdentityOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    auto size = SizeOf(fd);
    if (!size) {
        return std::nullopt;
    }
    DiskIdentity id;
    id.sizeBytes = *size;
    if (S_ISBLK(st.st_mode)) {
        id.deviceNumber = st.st_rdev;
        id.serial = SerialOf(st.st_rdev);
        id.sequence = DiskSequenceOf(st.st_rdev);
    } else if (S_ISREG(st.st_mode)) {
        id.deviceNumber = st.st_ino;
        id.sequence = st.st_dev;
    } else {
        return std::nullopt;
    }
    return id;
}

bool ReadSector0(int fd, MbrSector& sector) {
    return pread(fd, sector.data(), sector.size(), 0) == static_cast<ssize_t>(sector.size());
}

bool WriteSector0(int fd, const MbrSector& sector) {
    return pwrite(fd, sector.data(), sector.size(), 0) == static_cast<ssize_t>(sector.size()) &&
           fsync(fd) == 0;
}

// Whether the kernel shows a partition of the disk with that place and size.
bool KernelKnowsPartition(dev_t disk, std::uint64_t start, std::uint64_t length) {
    for (dev_t part : PartitionsOf(disk)) {
        auto s = ReadNumber(SysDir(part) + "/start");
        auto n = ReadNumber(SysDir(part) + "/size");
        if (s && n && *s * kSysfsSector == start && *n * kSysfsSector == length) {
            return true;
        }
    }
    return false;
}

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) {
        s.pop_back();
    }
    return s;
}

// The medium behind a descriptor is still the one it was opened on.
bool SameSequence(int fd, dev_t rdev, std::uint64_t sequence) {
    return sequence == 0 || (DiskSequenceOf(fd) == sequence && DiskSequenceOf(rdev) == sequence);
}

}  // namespace

// --- the FAT choice ----------------------------------------------------------------------------

FatChoice ChooseFat(std::uint64_t volumeBytes) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    constexpr std::uint64_t kGiB = 1024 * kMiB;
    std::uint64_t sectors = volumeBytes / 512;
    int perCluster = volumeBytes < 260 * kMiB  ? 1
                     : volumeBytes < 8 * kGiB  ? 8
                     : volumeBytes < 16 * kGiB ? 16
                     : volumeBytes < 32 * kGiB ? 32
                                               : 64;
    // FAT32: 32 reserved sectors and two FATs of 4 bytes per cluster; the FAT
    // size is taken from the cluster count before the FATs are subtracted, so
    // the estimate errs low.
    std::uint64_t fatSectors = ((sectors / perCluster + 2) * 4 + 511) / 512;
    std::uint64_t overhead = 32 + 2 * fatSectors;
    std::uint64_t clusters = sectors > overhead ? (sectors - overhead) / perCluster : 0;
    constexpr std::uint64_t kFat32MinClusters = 65525;
    constexpr std::uint64_t kMargin = 64;
    if (clusters >= kFat32MinClusters + kMargin) {
        return {32, perCluster};
    }
    return {16, 0};
}

// --- opening a disk by its paths ------------------------------------------------------------

std::optional<OpenedDisk> OpenDiskByPath(const DiskTarget& target, std::string& why) {
    const std::string path = ToUtf8(target.diskPath);
    if (path.empty()) {
        why = "no disk given";
        return std::nullopt;
    }
    OpenedDisk disk;
    disk.label = path;
    // Read-only: what writes is opened again through this descriptor, after the checks.
    disk.fd = Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat ds {};
    if (!disk.fd.Valid() || fstat(disk.fd.Get(), &ds) != 0) {
        why = ErrnoText(path);
        return std::nullopt;
    }
    if (!S_ISREG(ds.st_mode) && !S_ISBLK(ds.st_mode)) {
        why = path + " is neither a block device nor a disk image file";
        return std::nullopt;
    }
    disk.block = S_ISBLK(ds.st_mode);
    disk.rdev = disk.block ? ds.st_rdev : 0;
    const std::string volume = ToUtf8(target.volumePath);
    if (volume.empty() || volume == path) {
        return disk;
    }
    struct stat vs {};
    if (stat(volume.c_str(), &vs) != 0) {
        why = ErrnoText(volume);
        return std::nullopt;
    }
    bool same = disk.block ? S_ISBLK(vs.st_mode) && vs.st_rdev == disk.rdev
                           : vs.st_dev == ds.st_dev && vs.st_ino == ds.st_ino;
    if (same) {
        return disk;
    }
    if (!disk.block || !S_ISBLK(vs.st_mode) || !IsPartitionDev(vs.st_rdev) ||
        WholeDiskOf(vs.st_rdev) != disk.rdev) {
        why = volume + " is not a volume of " + path;
        return std::nullopt;
    }
    disk.volume = vs.st_rdev;
    return disk;
}

// --- the lock, the raw disk and the installer run --------------------------------------------

namespace {

class LinuxVolumeLock final : public IVolumeLock {
  public:
    LinuxVolumeLock(LinuxDiskPreparer& owner, Fd fd) : owner_(owner), fd_(std::move(fd)) {}
    ~LinuxVolumeLock() override { owner_.ForgetLock(fd_.Get()); }

  private:
    LinuxDiskPreparer& owner_;
    Fd fd_;
};

class LinuxRawDisk final : public IRawDisk {
  public:
    LinuxRawDisk(LinuxDiskPreparer& owner, Fd fd, const OpenedDisk& disk)
        : owner_(owner),
          fd_(std::move(fd)),
          label_(disk.label),
          block_(disk.block),
          rdev_(disk.rdev),
          sequence_(disk.sequence) {}

    std::optional<DiskIdentity> Identity() override { return IdentityOf(fd_.Get()); }

    std::optional<DiskGeometry> Geometry() override {
        auto size = SizeOf(fd_.Get());
        if (!size) {
            return std::nullopt;
        }
        DiskGeometry g;
        g.tracksPerCylinder = 255;
        g.sectorsPerTrack = 63;
        g.bytesPerSector = SectorSizeOf(fd_.Get());
        struct hd_geometry geo {};
        if (block_ && ioctl(fd_.Get(), HDIO_GETGEO, &geo) == 0 && geo.heads != 0 &&
            geo.sectors != 0) {
            g.tracksPerCylinder = geo.heads;
            g.sectorsPerTrack = geo.sectors;
        }
        // The ioctl's own cylinder count is 16 bits wide: derive it from the size.
        g.cylinders = *size / (static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack *
                               g.bytesPerSector);
        return g;
    }

    std::optional<DiskLayout> Layout() override {
        MbrSector sector{};
        auto size = SizeOf(fd_.Get());
        if (!size || !ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return std::nullopt;
        }
        return DecodeMbr(sector, *size, SectorSizeOf(fd_.Get()));
    }

    bool ClearFirstSector() override {
        MbrSector zero{};
        return StillSameMedium() && WriteSector0(fd_.Get(), zero);
    }

    bool CreateMbrDisk() override {
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return false;
        }
        std::random_device random;
        std::uint32_t signature = 0;
        while (signature == 0) {
            signature = random();
        }
        DiskLayout empty;
        empty.signature = signature;
        EncodeMbr(sector, empty, DiskGeometry{});
        if (!StillSameMedium() || !WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the first sector of " + label_));
            return false;
        }
        return true;
    }

    bool SetLayout(const DiskLayout& layout, const DiskGeometry& geometry) override {
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + label_));
            return false;
        }
        EncodeMbr(sector, layout, geometry);
        if (!StillSameMedium() || !WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the partition table of " + label_));
            return false;
        }
        if (block_) {
            TellKernel(layout);
        }
        return true;
    }

  private:
    bool StillSameMedium() {
        if (block_ && !SameSequence(fd_.Get(), rdev_, sequence_)) {
            owner_.NoteFailure("the medium in " + label_ + " has changed: nothing was written");
            errno = ENODEV;
            return false;
        }
        return true;
    }

    // The new table is on the disk either way; the system merely learns of it.
    void TellKernel(const DiskLayout& layout) {
        ioctl(fd_.Get(), BLKRRPART);
        if (layout.partitions.empty() || layout.partitions[0].partitionLength <= 0) {
            return;
        }
        auto start = static_cast<std::uint64_t>(layout.partitions[0].startingOffset);
        auto length = static_cast<std::uint64_t>(layout.partitions[0].partitionLength);
        if (KernelKnowsPartition(rdev_, start, length)) {
            return;
        }
        // Kernels without MS-DOS partition support: partx adds what the table holds.
        ToolLaunch partx{FindTool("partx"), {"partx", "-u", kDiskForTools}, {fd_.Get()}, {}};
        auto r = RunTool(partx);
        if (!KernelKnowsPartition(rdev_, start, length)) {
            owner_.NoteFailure("the system has not taken up the new partition of " + label_ + " (" +
                               DescribeRun(partx, r) + ")");
        }
    }

    LinuxDiskPreparer& owner_;
    Fd fd_;
    std::string label_;
    bool block_;
    dev_t rdev_;
    std::uint64_t sequence_;
};

// syslinux leaves out the MBR boot code and the active flag (its -m and -a):
// this writes both for the volume's table entry.
bool WriteBootCode(int fd, const std::string& code, int tableIndex, std::string& error) {
    MbrSector sector{};
    if (!ReadSector0(fd, sector)) {
        error = ErrnoText("cannot read the first sector");
        return false;
    }
    std::size_t n = std::min(code.size(), kMbrBootCodeSize);
    std::copy_n(code.begin(), n, sector.begin());
    for (int i = 0; i < static_cast<int>(kMbrEntries); ++i) {
        auto& flag = sector[kMbrTableOffset + static_cast<std::size_t>(i) * kMbrEntrySize];
        flag = i == tableIndex ? kMbrActive : 0;
    }
    if (!WriteSector0(fd, sector)) {
        error = ErrnoText("cannot write the boot code");
        return false;
    }
    return true;
}

class LinuxInstallerRun final : public IInstallerRun {
  public:
    LinuxInstallerRun(LinuxDiskPreparer& owner, ToolChild child, ToolLaunch launch, Fd program,
                      Fd hold, const OpenedDisk& disk, VolumeSpan span, std::string bootCode)
        : owner_(owner),
          child_(std::move(child)),
          launch_(std::move(launch)),
          program_(std::move(program)),
          hold_(std::move(hold)),
          rdev_(disk.rdev),
          sequence_(disk.block ? disk.sequence : 0),
          span_(span),
          bootCode_(std::move(bootCode)) {}

    ~LinuxInstallerRun() override {
        if (!waited_) {
            FinishTool(child_);
        }
    }

    std::optional<unsigned long> Wait() override {
        waited_ = true;
        auto r = FinishTool(child_);
        if (!r.exitKnown) {
            owner_.NoteFailure(DescribeRun(launch_, r));
            return std::nullopt;
        }
        if (r.status != 0) {
            owner_.NoteFailure(DescribeRun(launch_, r));
            return static_cast<unsigned long>(r.status);
        }
        if (span_.tableIndex >= 0) {
            std::string error;
            if (!SameSequence(hold_.Get(), rdev_, sequence_)) {
                owner_.NoteFailure("the medium has changed: the boot code was not written");
                return 1;
            }
            if (!WriteBootCode(hold_.Get(), bootCode_, span_.tableIndex, error)) {
                owner_.NoteFailure(error);
                return 1;
            }
        }
        return 0;
    }

  private:
    LinuxDiskPreparer& owner_;
    ToolChild child_;
    ToolLaunch launch_;
    // The installer's descriptor, by which it was started: an interpreter
    // opens a script through it after the start.
    Fd program_;
    Fd hold_;
    dev_t rdev_;
    std::uint64_t sequence_;
    VolumeSpan span_;
    std::string bootCode_;
    bool waited_ = false;
};

std::optional<std::string> ReadAll(int fd, std::size_t limit) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (out.size() > limit) {
                return std::nullopt;
            }
        } else if (n == 0) {
            return out;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace

// --- the preparer ---------------------------------------------------------------------------

LinuxDiskPreparer::LinuxDiskPreparer(std::wstring programFolder)
    : programFolder_(ToUtf8(programFolder)) {}

LinuxDiskPreparer::LinuxDiskPreparer(std::shared_ptr<const ProgramFiles> files, DiskOpener opener)
    : programFolder_(files ? files->Path() : std::string()),
      files_(std::move(files)),
      opener_(std::move(opener)) {}

LinuxDiskPreparer::~LinuxDiskPreparer() {
    if (!home_.empty()) {
        rmdir(home_.c_str());
    }
}

void LinuxDiskPreparer::NoteFailure(const std::string& what) {
    detail_ = FromUtf8(what);
}

void LinuxDiskPreparer::ForgetLock(int fd) {
    if (fd == lockedFd_) {
        lockedFd_ = -1;
        lockedDisk_ = 0;
    }
}

const ProgramFiles* LinuxDiskPreparer::Files() {
    if (!files_) {
        std::string why;
        auto files = ProgramFiles::Open(programFolder_, false, why);
        if (!files) {
            NoteFailure(why);
            return nullptr;
        }
        files_ = std::make_shared<const ProgramFiles>(std::move(*files));
    }
    return files_.get();
}

// An empty folder of our own: the tools' HOME (no configuration read there)
// and the place of unnamed temporary files.
const std::string& LinuxDiskPreparer::Home() {
    if (home_.empty()) {
        std::string pattern = "/tmp/scourline-disk.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            home_ = pattern;
        }
    }
    return home_;
}

std::optional<OpenedDisk> LinuxDiskPreparer::Open(const DiskTarget& target) {
    std::string why;
    if (!opener_) {
        // The system's disks are not even opened (some systems refuse that
        // anyway); the opened descriptor is checked again below.
        struct stat st {};
        if (stat(ToUtf8(target.diskPath).c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            SystemDisks(programFolder_).count(st.st_rdev) != 0) {
            NoteFailure(ToUtf8(target.diskPath) + " holds the running system");
            return std::nullopt;
        }
    }
    auto disk = opener_ ? opener_(target, why) : OpenDiskByPath(target, why);
    if (!disk) {
        NoteFailure(why);
        return std::nullopt;
    }
    if (!disk->block) {
        return disk;
    }
    if (IsPartitionDev(disk->rdev)) {
        NoteFailure(disk->label + " is a partition, not a whole disk");
        return std::nullopt;
    }
    if (SystemDisks(programFolder_).count(disk->rdev) != 0) {
        NoteFailure(disk->label + " holds the running system");
        return std::nullopt;
    }
    bool held = HasHolders(disk->rdev);
    for (dev_t part : PartitionsOf(disk->rdev)) {
        held = held || HasHolders(part);
    }
    if (held) {
        NoteFailure(disk->label + " is in use by the device mapper or a RAID set");
        return std::nullopt;
    }
    disk->sequence = DiskSequenceOf(disk->fd.Get());
    return disk;
}

bool LinuxDiskPreparer::SameMedium(const OpenedDisk& disk) {
    if (disk.block && !SameSequence(disk.fd.Get(), disk.rdev, disk.sequence)) {
        NoteFailure("the medium in " + disk.label + " has changed: nothing was written");
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::UnmountAll(const OpenedDisk& disk) {
    if (!disk.block) {
        return true;
    }
    auto devices = PartitionsOf(disk.rdev);
    devices.push_back(disk.rdev);
    std::string why;
    if (!UnmountDevices(devices, why)) {
        NoteFailure(why);
        return false;
    }
    return true;
}

Fd LinuxDiskPreparer::HoldDisk(const OpenedDisk& disk) {
    if (disk.block) {
        if (!UnmountAll(disk)) {
            return Fd();
        }
        if (lockedFd_ >= 0 && lockedDisk_ == disk.rdev) {
            return Fd(fcntl(lockedFd_, F_DUPFD_CLOEXEC, 0));
        }
        // Exclusive, through the descriptor already checked: nothing mounts
        // or formats the disk meanwhile.
        std::string self = "/proc/self/fd/" + std::to_string(disk.fd.Get());
        Fd fd(open(self.c_str(), O_RDWR | O_EXCL | O_CLOEXEC));
        if (!fd.Valid()) {
            NoteFailure(ErrnoText("cannot open " + disk.label + " exclusively"));
        }
        return fd;
    }
    // An image file: a lock of its own open file, so that the lock ends with it.
    std::string self = "/proc/self/fd/" + std::to_string(disk.fd.Get());
    Fd fd(open(self.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.Valid()) {
        NoteFailure(ErrnoText("cannot open " + disk.label));
        return fd;
    }
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        NoteFailure(ErrnoText("cannot lock " + disk.label));
        fd.Reset();
    }
    return fd;
}

std::string LinuxDiskPreparer::MtoolsImage(const VolumeSpan& span) const {
    // Our own path text: never a caller's, so mtools' "@@" cannot be smuggled in.
    return span.offset == 0 ? kDiskForTools : kDiskForTools + "@@" + std::to_string(span.offset);
}

std::optional<VolumeSpan> LinuxDiskPreparer::Locate(const OpenedDisk& disk) {
    MbrSector sector{};
    auto size = SizeOf(disk.fd.Get());
    if (!size || !ReadSector0(disk.fd.Get(), sector)) {
        NoteFailure(ErrnoText("cannot read " + disk.label));
        return std::nullopt;
    }
    DiskLayout layout = DecodeMbr(sector, *size, SectorSizeOf(disk.fd.Get()));
    if (disk.block && disk.volume != 0) {
        // A partition of the disk, placed where the kernel says it is.
        auto start = ReadNumber(SysDir(disk.volume) + "/start");
        auto count = ReadNumber(SysDir(disk.volume) + "/size");
        if (!start || !count) {
            NoteFailure("the kernel does not tell where the volume of " + disk.label + " lies");
            return std::nullopt;
        }
        VolumeSpan span{*start * kSysfsSector, *count * kSysfsSector, -1};
        for (std::size_t i = 0; i < layout.partitions.size(); ++i) {
            const auto& p = layout.partitions[i];
            if (p.partitionType != 0 &&
                static_cast<std::uint64_t>(p.startingOffset) == span.offset) {
                span.tableIndex = static_cast<int>(i);
            }
        }
        return span;
    }
    // The whole disk or image: the first partition of its table, else all of it.
    for (std::size_t i = 0; i < layout.partitions.size(); ++i) {
        const auto& p = layout.partitions[i];
        if (p.partitionType != 0 && p.startingOffset > 0) {
            return VolumeSpan{static_cast<std::uint64_t>(p.startingOffset),
                              static_cast<std::uint64_t>(p.partitionLength), static_cast<int>(i)};
        }
    }
    return VolumeSpan{0, *size, -1};
}

std::optional<DiskIdentity> LinuxDiskPreparer::ReadIdentity(const DiskTarget& target) {
    auto disk = Open(target);
    if (!disk) {
        return std::nullopt;
    }
    auto id = IdentityOf(disk->fd.Get());
    if (!id) {
        NoteFailure(ErrnoText("cannot read the size of " + disk->label));
    }
    return id;
}

std::unique_ptr<IVolumeLock> LinuxDiskPreparer::LockVolume(const DiskTarget& target) {
    auto disk = Open(target);
    if (!disk) {
        return nullptr;
    }
    if (disk->block && lockedFd_ >= 0) {
        NoteFailure("a disk is already locked");
        return nullptr;
    }
    Fd fd = HoldDisk(*disk);
    if (!fd.Valid()) {
        return nullptr;
    }
    if (disk->block) {
        lockedFd_ = fd.Get();
        lockedDisk_ = disk->rdev;
    }
    return std::make_unique<LinuxVolumeLock>(*this, std::move(fd));
}

std::unique_ptr<IRawDisk> LinuxDiskPreparer::OpenDisk(const DiskTarget& target) {
    auto disk = Open(target);
    if (!disk) {
        return nullptr;
    }
    Fd fd;
    if (disk->block && lockedFd_ >= 0 && lockedDisk_ == disk->rdev) {
        fd = Fd(fcntl(lockedFd_, F_DUPFD_CLOEXEC, 0));
    } else if (disk->block) {
        std::string self = "/proc/self/fd/" + std::to_string(disk->fd.Get());
        fd = Fd(open(self.c_str(), O_RDWR | O_EXCL | O_CLOEXEC));
    } else {
        std::string self = "/proc/self/fd/" + std::to_string(disk->fd.Get());
        fd = Fd(open(self.c_str(), O_RDWR | O_CLOEXEC));
    }
    if (!fd.Valid()) {
        NoteFailure(ErrnoText("cannot open " + disk->label));
        return nullptr;
    }
    return std::make_unique<LinuxRawDisk>(*this, std::move(fd), *disk);
}

bool LinuxDiskPreparer::ReleaseVolume(const DiskTarget& target) {
    auto disk = Open(target);
    return disk && UnmountAll(*disk);
}

bool LinuxDiskPreparer::Format(const DiskTarget& target) {
    auto disk = Open(target);
    if (!disk || !UnmountAll(*disk)) {
        return false;
    }
    auto span = Locate(*disk);
    if (!span) {
        return false;
    }
    std::string mkfs = FindTool("mkfs.vfat");
    if (mkfs.empty()) {
        mkfs = FindTool("mkfs.fat");
    }
    FatChoice fat = ChooseFat(span->length);
    if (fileSystem_ == FormatFileSystem::Fat) {
        fat = FatChoice{16, 0};
    } else if (fileSystem_ == FormatFileSystem::Fat32 && fat.fatBits != 32) {
        // mtools and syslinux refuse a FAT32 with too few clusters.
        NoteFailure("the volume (" + std::to_string(span->length >> 20) +
                    " MiB) is too small for FAT32, which needs about 33 MiB: choose FAT");
        return false;
    }
    // -I: the file system goes into the whole disk at an offset, on purpose.
    std::vector<std::string> argv = {"mkfs.vfat", "-I",        "-F", std::to_string(fat.fatBits),
                                     "-n",        kVolumeLabel};
    if (fat.sectorsPerCluster != 0) {
        argv.insert(argv.end(), {"-s", std::to_string(fat.sectorsPerCluster)});
    }
    if (span->offset != 0) {
        std::string first = std::to_string(span->offset / 512);
        argv.insert(argv.end(), {"--offset", first, "-h", first});
    }
    argv.insert(argv.end(), {kDiskForTools, std::to_string(span->length / 1024)});
    if (!SameMedium(*disk)) {
        return false;
    }
    ToolLaunch launch{mkfs.empty() ? "/usr/sbin/mkfs.vfat" : mkfs, argv, {disk->fd.Get()}, Home()};
    auto r = RunTool(launch);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(launch, r));
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::CopyFd(const OpenedDisk& disk, const VolumeSpan& span, int source,
                               const std::string& name) {
    ToolLaunch launch{FindTool("mcopy"),
                      {"mcopy", "-o", "-Q", "-i", MtoolsImage(span), ToolFdPath(1), "::/" + name},
                      {disk.fd.Get(), source},
                      Home()};
    auto r = RunTool(launch);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(launch, r));
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::CopyMemberFolder(const DiskTarget& target, const std::string& member) {
    const ProgramFiles* files = Files();
    auto disk = files != nullptr ? Open(target) : std::nullopt;
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    Fd hold = HoldDisk(*disk);
    if (!hold.Valid() || !SameMedium(*disk)) {
        return false;
    }
    std::string why;
    bool ok = files->Walk(
        member,
        [&](const std::string& relative, int fd, bool folder) {
            if (!folder) {
                return CopyFd(*disk, *span, fd, relative);
            }
            // A folder that is there already is fine: its files are replaced.
            ToolLaunch there{FindTool("mdir"),
                             {"mdir", "-b", "-i", MtoolsImage(*span), "::/" + relative + "/."},
                             {disk->fd.Get()},
                             Home()};
            auto found = RunTool(there);
            if (found.exitKnown && found.status == 0) {
                return true;
            }
            ToolLaunch mmd{FindTool("mmd"),
                           {"mmd", "-i", MtoolsImage(*span), "::/" + relative},
                           {disk->fd.Get()},
                           Home()};
            auto r = RunTool(mmd);
            if (!r.exitKnown || r.status != 0) {
                NoteFailure(DescribeRun(mmd, r));
                return false;
            }
            return true;
        },
        why);
    if (!ok && !why.empty()) {
        NoteFailure(why);
    }
    return ok;
}

bool LinuxDiskPreparer::CopyFolderContents(const DiskTarget& target, const std::wstring& folder) {
    fs::path path = ToFsPath(folder);
    if (path.parent_path() != fs::path(programFolder_) || !path.has_filename()) {
        NoteFailure(ToUtf8(folder) + " is not a folder of the program folder " + programFolder_);
        return false;
    }
    return CopyMemberFolder(target, path.filename().string());
}

bool LinuxDiskPreparer::CopyFile(const DiskTarget& target, const std::wstring& source,
                                 const std::wstring& name) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    Fd file(open(ToUtf8(source).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.Valid()) {
        NoteFailure(ErrnoText(ToUtf8(source)));
        return false;
    }
    Fd hold = HoldDisk(*disk);
    return hold.Valid() && SameMedium(*disk) && CopyFd(*disk, *span, file.Get(), ToUtf8(name));
}

bool LinuxDiskPreparer::CopyBytes(const DiskTarget& target, const std::string& contents,
                                  const std::string& name) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return false;
    }
    // Unnamed, in a folder only we may enter: nobody can swap or read it.
    Fd file(Home().empty() ? -1 : open(Home().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    std::size_t done = 0;
    while (file.Valid() && done < contents.size()) {
        ssize_t n = write(file.Get(), contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!file.Valid() || done != contents.size() || lseek(file.Get(), 0, SEEK_SET) != 0) {
        NoteFailure(ErrnoText("cannot keep the contents of " + name));
        return false;
    }
    Fd hold = HoldDisk(*disk);
    return hold.Valid() && SameMedium(*disk) && CopyFd(*disk, *span, file.Get(), name);
}

std::unique_ptr<IInstallerRun> LinuxDiskPreparer::StartInstaller(
    const DiskTarget& target, const std::wstring& programFolder) {
    if (ToUtf8(programFolder) != programFolder_) {
        NoteFailure(ToUtf8(programFolder) + " is not the program folder " + programFolder_ +
                    ": only its own boot loader installer runs");
        return nullptr;
    }
    const ProgramFiles* files = Files();
    auto disk = files != nullptr ? Open(target) : std::nullopt;
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return nullptr;
    }
    std::string why;
    Fd installer = files->OpenMember("flash/syslinux", O_RDONLY, why);
    Fd mbr = installer.Valid() ? files->OpenMember("flash/mbr.bin", O_RDONLY, why) : Fd();
    auto code = mbr.Valid() ? ReadAll(mbr.Get(), 4096) : std::nullopt;
    if (!code || code->empty()) {
        NoteFailure(why.empty() ? "the boot code " + files->Path() + "/flash/mbr.bin cannot be read"
                                : why);
        return nullptr;
    }
    Fd hold = HoldDisk(*disk);
    if (!hold.Valid() || !SameMedium(*disk)) {
        return nullptr;
    }
    std::vector<std::string> argv = {"syslinux", "--install"};
    if (span->offset != 0) {
        argv.insert(argv.end(), {"--offset", std::to_string(span->offset)});
    }
    argv.push_back(kDiskForTools);
    // The installer that was checked, by its descriptor: never looked up by name again.
    ToolLaunch launch{
        "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(installer.Get()),
        argv,
        {disk->fd.Get()},
        Home()};
    auto child = SpawnTool(launch);
    if (!child) {
        NoteFailure(files->Path() + "/flash/syslinux could not be started");
        return nullptr;
    }
    return std::make_unique<LinuxInstallerRun>(*this, std::move(*child), std::move(launch),
                                               std::move(installer), std::move(hold), *disk, *span,
                                               std::move(*code));
}

bool LinuxDiskPreparer::RootFileExists(const DiskTarget& target, std::wstring_view name) {
    return FileInRoot(target, ToUtf8(name)).value_or(false);
}

std::optional<bool> LinuxDiskPreparer::FileInRoot(const DiskTarget& target,
                                                  const std::string& name) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return std::nullopt;
    }
    ToolLaunch mdir{FindTool("mdir"),
                    {"mdir", "-a", "-b", "-i", MtoolsImage(*span), "::/" + name},
                    {disk->fd.Get()},
                    Home()};
    auto r = RunTool(mdir);
    return r.exitKnown && r.status == 0;
}

std::optional<VolumeFacts> LinuxDiskPreparer::DescribeVolume(const DiskTarget& target) {
    auto disk = Open(target);
    auto span = disk ? Locate(*disk) : std::nullopt;
    if (!span) {
        return std::nullopt;
    }
    VolumeFacts facts;
    facts.capacityBytes = span->length;
    const int fd = disk->fd.Get();
    MbrSector sector{};
    auto size = SizeOf(fd);
    if (!size || !ReadSector0(fd, sector)) {
        return std::nullopt;
    }
    DiskLayout layout = DecodeMbr(sector, *size, SectorSizeOf(fd));
    facts.hasPartitionTable =
        !layout.partitions.empty() && layout.partitions.front().startingOffset > 0;

    MbrSector boot{};
    if (pread(fd, boot.data(), boot.size(), static_cast<off_t>(span->offset)) !=
            static_cast<ssize_t>(boot.size()) ||
        boot[510] != 0x55 || boot[511] != 0xAA || !mbr_detail::LooksLikeFatBootRecord(boot)) {
        return facts;
    }
    std::string fat16Type(reinterpret_cast<const char*>(boot.data()) + 54, 5);
    std::string fat32Type(reinterpret_cast<const char*>(boot.data()) + 82, 5);
    std::size_t labelAt = 0;
    if (mbr_detail::Get16(boot, 22) == 0 && fat32Type == "FAT32") {
        facts.fileSystem = L"FAT32";
        labelAt = 71;
    } else if (fat16Type.rfind("FAT", 0) == 0) {
        facts.fileSystem = L"FAT";
        labelAt = 43;
    } else {
        return facts;
    }
    std::string label = Trim(std::string(reinterpret_cast<const char*>(boot.data()) + labelAt, 11));
    facts.label = label == "NO NAME" ? std::wstring() : FromUtf8(label);

    // mdir's last line: "<n> bytes free", digits grouped by blanks.
    ToolLaunch mdir{FindTool("mdir"), {"mdir", "-i", MtoolsImage(*span), "::/"}, {fd}, Home()};
    auto r = RunTool(mdir);
    auto at = r.output.rfind("bytes free");
    if (r.exitKnown && r.status == 0 && at != std::string::npos) {
        auto lineStart = r.output.rfind('\n', at);
        std::string digits;
        for (std::size_t i = lineStart == std::string::npos ? 0 : lineStart + 1; i < at; ++i) {
            if (r.output[i] >= '0' && r.output[i] <= '9') {
                digits += r.output[i];
            }
        }
        if (!digits.empty()) {
            facts.freeBytes = std::strtoull(digits.c_str(), nullptr, 10);
        }
    }
    ToolLaunch loader{FindTool("mdir"),
                      {"mdir", "-a", "-b", "-i", MtoolsImage(*span), "::/ldlinux.sys"},
                      {fd},
                      Home()};
    auto l = RunTool(loader);
    facts.bootLoaderPresent = l.exitKnown && l.status == 0;
    return facts;
}

std::unique_ptr<IDiskPreparer> CreateDiskPreparer(const std::wstring& programFolder,
                                                  void* ownerWindow) {
    (void)ownerWindow;
    return std::make_unique<LinuxDiskPreparer>(programFolder);
}

}  // namespace scour::platform
