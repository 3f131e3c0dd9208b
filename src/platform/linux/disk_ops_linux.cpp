#include "platform/linux/disk_ops_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "base/text.h"
#include "platform/linux/disk_ops_internal.h"

namespace scour::platform {

using namespace disk_detail;

namespace {

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) {
        s.pop_back();
    }
    return s;
}

}  // namespace

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

// --- the lock --------------------------------------------------------------------------------

namespace {

class LinuxVolumeLock final : public IVolumeLock {
  public:
    LinuxVolumeLock(LinuxDiskPreparer& owner, Fd fd) : owner_(owner), fd_(std::move(fd)) {}
    ~LinuxVolumeLock() override { owner_.ForgetLock(fd_.Get()); }

  private:
    LinuxDiskPreparer& owner_;
    Fd fd_;
};

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
        Fd fd = Reopen(disk.fd.Get(), O_RDWR | O_EXCL);
        if (!fd.Valid()) {
            NoteFailure(ErrnoText("cannot open " + disk.label + " exclusively"));
        }
        return fd;
    }
    // An image file: a lock of its own open file, so that the lock ends with it.
    Fd fd = Reopen(disk.fd.Get(), O_RDWR);
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
    return span.offset == 0 ? DiskForTools() : DiskForTools() + "@@" + std::to_string(span.offset);
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
    } else {
        // Exclusive for a block device: nothing mounts it while its table changes.
        fd = Reopen(disk->fd.Get(), O_RDWR | (disk->block ? O_EXCL : 0));
    }
    if (!fd.Valid()) {
        NoteFailure(ErrnoText("cannot open " + disk->label));
        return nullptr;
    }
    return MakeRawDisk(*this, std::move(fd), *disk);
}

bool LinuxDiskPreparer::ReleaseVolume(const DiskTarget& target) {
    auto disk = Open(target);
    return disk && UnmountAll(*disk);
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
