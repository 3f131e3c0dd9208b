#include "platform/linux/disk_ops_linux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"

extern char** environ;

namespace scour::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSysfsSector = 512;
constexpr char kVolumeLabel[] = "SCOURLINE";

// --- small helpers ----------------------------------------------------------------

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_;
};

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::optional<std::string> ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::optional<std::uint64_t> ReadNumber(const std::string& path) {
    auto line = ReadFirstLine(path);
    if (!line || line->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(line->c_str(), &end, 10);
    if (errno != 0 || end == line->c_str() || *end != '\0') {
        return std::nullopt;
    }
    return v;
}

std::optional<dev_t> ParseDev(const std::string& text) {
    unsigned ma = 0, mi = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> ma >> colon >> mi) || colon != ':') {
        return std::nullopt;
    }
    return makedev(ma, mi);
}

// --- block devices through sysfs ----------------------------------------------------

std::string SysDir(dev_t d) {
    return "/sys/dev/block/" + std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

fs::path CanonicalSysDir(dev_t d) {
    std::error_code ec;
    auto p = fs::canonical(SysDir(d), ec);
    return ec ? fs::path() : p;
}

bool IsPartitionDev(dev_t d) {
    std::error_code ec;
    return fs::exists(SysDir(d) + "/partition", ec);
}

std::optional<dev_t> WholeDiskOf(dev_t d) {
    auto dir = CanonicalSysDir(d);
    if (dir.empty()) {
        return std::nullopt;
    }
    if (!IsPartitionDev(d)) {
        return d;
    }
    auto parent = ReadFirstLine((dir.parent_path() / "dev").string());
    return parent ? ParseDev(*parent) : std::nullopt;
}

std::vector<dev_t> PartitionsOf(dev_t disk) {
    std::vector<dev_t> out;
    auto dir = CanonicalSysDir(disk);
    std::error_code ec;
    if (dir.empty()) {
        return out;
    }
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (!fs::exists(entry.path() / "partition", ec)) {
            continue;
        }
        if (auto line = ReadFirstLine((entry.path() / "dev").string())) {
            if (auto dev = ParseDev(*line)) {
                out.push_back(*dev);
            }
        }
    }
    return out;
}

bool HasHolders(dev_t d) {
    auto dir = CanonicalSysDir(d);
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir / "holders", ec)) {
        return false;
    }
    return !fs::is_empty(dir / "holders", ec) && !ec;
}

// A serial number from udev's database or the device itself; for a loop
// device the file behind it.
std::wstring SerialOf(dev_t d) {
    std::ifstream udev("/run/udev/data/b" + std::to_string(major(d)) + ":" +
                       std::to_string(minor(d)));
    std::string line;
    while (udev && std::getline(udev, line)) {
        if (line.rfind("E:ID_SERIAL=", 0) == 0) {
            return FromUtf8(line.substr(12));
        }
    }
    auto dir = CanonicalSysDir(d);
    if (dir.empty()) {
        return {};
    }
    for (const char* name : {"device/serial", "device/wwid", "loop/backing_file"}) {
        if (auto value = ReadFirstLine((dir / name).string()); value && !value->empty()) {
            return FromUtf8(*value);
        }
    }
    return {};
}

// --- the mount table ------------------------------------------------------------------

struct Mount {
    dev_t dev = 0;
    std::string point;
    std::string source;
};

std::string UnescapeMountField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            auto oct = s.substr(i + 1, 3);
            if (oct.size() == 3 &&
                std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(std::stoi(oct, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<Mount> ReadMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string word;
        while (fields >> word) {
            f.push_back(word);
        }
        auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 2 >= f.end()) {
            continue;
        }
        auto dev = ParseDev(f[2]);
        if (!dev) {
            continue;
        }
        mounts.push_back({*dev, UnescapeMountField(f[4]), UnescapeMountField(*(dash + 2))});
    }
    return mounts;
}

void AddSystemDisk(dev_t d, std::set<dev_t>& out, int depth = 0) {
    if (major(d) == 0 || depth > 8) {
        return;
    }
    auto whole = WholeDiskOf(d);
    if (!whole) {
        return;
    }
    out.insert(*whole);
    // Device mapper and RAID: the disks underneath hold the system too.
    for (dev_t part : {d, *whole}) {
        auto dir = CanonicalSysDir(part);
        std::error_code ec;
        if (dir.empty() || !fs::is_directory(dir / "slaves", ec)) {
            continue;
        }
        for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
            if (auto line = ReadFirstLine((slave.path() / "dev").string())) {
                if (auto dev = ParseDev(*line)) {
                    AddSystemDisk(*dev, out, depth + 1);
                }
            }
        }
    }
}

// --- child processes --------------------------------------------------------------------

std::string FindTool(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    // Formatting tools live in sbin, which a user's PATH often lacks.
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) {
            continue;
        }
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    // Not found: starting it fails, and the failure names the tool.
    return name;
}

std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string_view v(*e);
        if (v.starts_with("MTOOLS_SKIP_CHECK=") || v.starts_with("MTOOLSRC=") ||
            v.starts_with("LC_ALL=")) {
            continue;
        }
        env.emplace_back(v);
    }
    // A partition at sector 63 does not match the geometry mtools expects; the
    // user's own mtools configuration must not redirect drive letters; the
    // output is parsed in the C locale.
    env.emplace_back("MTOOLS_SKIP_CHECK=1");
    env.emplace_back("MTOOLSRC=/dev/null");
    env.emplace_back("LC_ALL=C");
    return env;
}

struct Child {
    pid_t pid = -1;
    Fd output;
};

struct ToolResult {
    bool started = false;
    bool exitKnown = false;
    int status = -1;
    std::string output;
};

// Starts the tool with no input and its output (both streams) on a pipe.
std::optional<Child> Spawn(const std::vector<std::string>& argv) {
    // A bare name is a tool FindTool did not find: never one from the current folder.
    if (argv.empty() || argv[0].find('/') == std::string::npos) {
        return std::nullopt;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Fd readEnd(fds[0]), writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDERR_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    auto env = ChildEnvironment();
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return std::nullopt;
    }
    Child child;
    child.pid = pid;
    child.output = std::move(readEnd);
    return child;
}

ToolResult Finish(Child& child) {
    ToolResult result;
    result.started = true;
    char buf[4096];
    for (;;) {
        ssize_t n = read(child.output.Get(), buf, sizeof buf);
        if (n > 0) {
            result.output.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    child.output.Reset();
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited == child.pid && WIFEXITED(status)) {
        result.exitKnown = true;
        result.status = WEXITSTATUS(status);
    } else if (waited == child.pid && WIFSIGNALED(status)) {
        result.exitKnown = true;
        result.status = 128 + WTERMSIG(status);
    }
    return result;
}

ToolResult RunTool(const std::vector<std::string>& argv) {
    auto child = Spawn(argv);
    if (!child) {
        return {};
    }
    return Finish(*child);
}

std::string DescribeRun(const std::vector<std::string>& argv, const ToolResult& r) {
    std::string name = argv.empty() ? "" : fs::path(argv[0]).filename().string();
    if (!r.started) {
        return name + " could not be started";
    }
    std::string text = r.output;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    // The last lines say why; the start is usually the tool's banner.
    if (text.size() > 600) {
        text = "..." + text.substr(text.size() - 600);
    }
    return name + " failed (exit status " + std::to_string(r.status) + ")" +
           (text.empty() ? "" : ": " + text);
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
        if (auto seq = ReadNumber(SysDir(st.st_rdev) + "/diskseq")) {
            id.sequence = *seq;
        }
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

}  // namespace

// --- the FAT choice and the system's disks -----------------------------------------------

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

std::set<dev_t> SystemDisks(const std::string& programFolder) {
    std::set<dev_t> out;
    auto mounts = ReadMounts();
    std::vector<std::string> places = {"/", "/boot", "/boot/efi", "/usr", "/var", "/home"};
    if (!programFolder.empty()) {
        places.push_back(programFolder);
    }
    for (const auto& place : places) {
        struct stat st {};
        if (stat(place.c_str(), &st) != 0) {
            continue;
        }
        AddSystemDisk(st.st_dev, out);
        // File systems such as btrfs report a device number of their own: the
        // mount table names the real device.
        for (const auto& m : mounts) {
            struct stat src {};
            if (m.dev == st.st_dev && stat(m.source.c_str(), &src) == 0 && S_ISBLK(src.st_mode)) {
                AddSystemDisk(src.st_rdev, out);
            }
        }
    }
    std::ifstream swaps("/proc/swaps");
    std::string line;
    std::getline(swaps, line);  // the heading
    while (std::getline(swaps, line)) {
        std::istringstream fields(line);
        std::string path;
        struct stat st {};
        if (fields >> path && stat(UnescapeMountField(path).c_str(), &st) == 0) {
            AddSystemDisk(S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev, out);
        }
    }
    return out;
}

// --- the lock, the raw disk and the installer run --------------------------------------------

struct LinuxDiskPreparer::Disk {
    std::string path;
    bool block = false;
    dev_t rdev = 0;
};

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
    LinuxRawDisk(LinuxDiskPreparer& owner, Fd fd, std::string path, bool block, dev_t rdev)
        : owner_(owner), fd_(std::move(fd)), path_(std::move(path)), block_(block), rdev_(rdev) {}

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
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + path_));
            return std::nullopt;
        }
        return DecodeMbr(sector, *size, SectorSizeOf(fd_.Get()));
    }

    bool ClearFirstSector() override {
        MbrSector zero{};
        return WriteSector0(fd_.Get(), zero);
    }

    bool CreateMbrDisk() override {
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + path_));
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
        if (!WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the first sector of " + path_));
            return false;
        }
        return true;
    }

    bool SetLayout(const DiskLayout& layout, const DiskGeometry& geometry) override {
        MbrSector sector{};
        if (!ReadSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot read the first sector of " + path_));
            return false;
        }
        EncodeMbr(sector, layout, geometry);
        if (!WriteSector0(fd_.Get(), sector)) {
            owner_.NoteFailure(ErrnoText("cannot write the partition table of " + path_));
            return false;
        }
        if (block_) {
            TellKernel(layout);
        }
        return true;
    }

  private:
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
        std::vector<std::string> argv = {FindTool("partx"), "-u", path_};
        auto r = RunTool(argv);
        if (!KernelKnowsPartition(rdev_, start, length)) {
            owner_.NoteFailure("the system has not taken up the new partition of " + path_ + " (" +
                               DescribeRun(argv, r) + ")");
        }
    }

    LinuxDiskPreparer& owner_;
    Fd fd_;
    std::string path_;
    bool block_;
    dev_t rdev_;
};

// syslinux leaves out the MBR boot code and the active flag (its -m and -a):
// this writes both for the volume's table entry.
bool WriteBootCode(int fd, const std::string& mbrPath, int tableIndex, std::string& error) {
    std::ifstream in(mbrPath, std::ios::binary);
    std::vector<char> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (code.empty()) {
        error = "the boot code " + mbrPath + " cannot be read";
        return false;
    }
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
    LinuxInstallerRun(LinuxDiskPreparer& owner, Child child, std::vector<std::string> argv, Fd hold,
                      VolumeSpan span, std::string mbrPath)
        : owner_(owner),
          child_(std::move(child)),
          argv_(std::move(argv)),
          hold_(std::move(hold)),
          span_(span),
          mbrPath_(std::move(mbrPath)) {}

    ~LinuxInstallerRun() override {
        if (!waited_) {
            Finish(child_);
        }
    }

    std::optional<unsigned long> Wait() override {
        waited_ = true;
        auto r = Finish(child_);
        if (!r.exitKnown) {
            owner_.NoteFailure(DescribeRun(argv_, r));
            return std::nullopt;
        }
        if (r.status != 0) {
            owner_.NoteFailure(DescribeRun(argv_, r));
            return static_cast<unsigned long>(r.status);
        }
        if (span_.tableIndex >= 0) {
            std::string error;
            if (!WriteBootCode(hold_.Get(), mbrPath_, span_.tableIndex, error)) {
                owner_.NoteFailure(error);
                return 1;
            }
        }
        return 0;
    }

  private:
    LinuxDiskPreparer& owner_;
    Child child_;
    std::vector<std::string> argv_;
    Fd hold_;
    VolumeSpan span_;
    std::string mbrPath_;
    bool waited_ = false;
};

}  // namespace

// --- the preparer ---------------------------------------------------------------------------

LinuxDiskPreparer::LinuxDiskPreparer(std::wstring programFolder)
    : programFolder_(ToUtf8(programFolder)) {}

LinuxDiskPreparer::~LinuxDiskPreparer() = default;

void LinuxDiskPreparer::NoteFailure(const std::string& what) {
    detail_ = FromUtf8(what);
}

void LinuxDiskPreparer::ForgetLock(int fd) {
    if (fd == lockedFd_) {
        lockedFd_ = -1;
        lockedDisk_ = 0;
    }
}

std::optional<LinuxDiskPreparer::Disk> LinuxDiskPreparer::ResolveDisk(const DiskTarget& target) {
    std::string path = ToUtf8(target.diskPath);
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        NoteFailure(path.empty() ? std::string("no disk given") : ErrnoText(path));
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode)) {
        return Disk{path, false, 0};
    }
    if (!S_ISBLK(st.st_mode)) {
        NoteFailure(path + " is neither a block device nor a disk image file");
        return std::nullopt;
    }
    if (IsPartitionDev(st.st_rdev)) {
        NoteFailure(path + " is a partition, not a whole disk");
        return std::nullopt;
    }
    if (SystemDisks(programFolder_).count(st.st_rdev) != 0) {
        NoteFailure(path + " holds the running system");
        return std::nullopt;
    }
    bool held = HasHolders(st.st_rdev);
    for (dev_t part : PartitionsOf(st.st_rdev)) {
        held = held || HasHolders(part);
    }
    if (held) {
        NoteFailure(path + " is in use by the device mapper or a RAID set");
        return std::nullopt;
    }
    return Disk{path, true, st.st_rdev};
}

bool LinuxDiskPreparer::UnmountAll(const Disk& disk) {
    if (!disk.block) {
        return true;
    }
    auto parts = PartitionsOf(disk.rdev);
    parts.push_back(disk.rdev);
    auto mounts = ReadMounts();
    // Later mounts may sit on top of earlier ones: undo them first.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        // File systems such as btrfs show a number of their own: the source names the device.
        struct stat src {};
        bool ours = std::find(parts.begin(), parts.end(), it->dev) != parts.end() ||
                    (stat(it->source.c_str(), &src) == 0 && S_ISBLK(src.st_mode) &&
                     std::find(parts.begin(), parts.end(), src.st_rdev) != parts.end());
        if (!ours) {
            continue;
        }
        if (umount2(it->point.c_str(), 0) != 0) {
            NoteFailure(ErrnoText("cannot unmount " + it->point));
            return false;
        }
    }
    return true;
}

int LinuxDiskPreparer::HoldDisk(const Disk& disk) {
    if (disk.block) {
        if (!UnmountAll(disk)) {
            return -1;
        }
        if (lockedFd_ >= 0 && lockedDisk_ == disk.rdev) {
            return fcntl(lockedFd_, F_DUPFD_CLOEXEC, 0);
        }
        // Exclusive: nothing mounts the disk or formats it meanwhile.
        int fd = open(disk.path.c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
        if (fd < 0) {
            NoteFailure(ErrnoText("cannot open " + disk.path + " exclusively"));
        }
        return fd;
    }
    int fd = open(disk.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        NoteFailure(ErrnoText("cannot open " + disk.path));
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        NoteFailure(ErrnoText("cannot lock " + disk.path));
        close(fd);
        return -1;
    }
    return fd;
}

std::string LinuxDiskPreparer::MtoolsImage(const Disk& disk, const VolumeSpan& span) const {
    return span.offset == 0 ? disk.path : disk.path + "@@" + std::to_string(span.offset);
}

std::optional<VolumeSpan> LinuxDiskPreparer::LocateVolume(const DiskTarget& target) {
    auto disk = ResolveDisk(target);
    if (!disk) {
        return std::nullopt;
    }
    Fd fd(open(disk->path.c_str(), O_RDONLY | O_CLOEXEC));
    MbrSector sector{};
    auto size = fd.Valid() ? SizeOf(fd.Get()) : std::nullopt;
    if (!size || !ReadSector0(fd.Get(), sector)) {
        NoteFailure(ErrnoText("cannot read " + disk->path));
        return std::nullopt;
    }
    std::uint32_t sectorSize = SectorSizeOf(fd.Get());
    DiskLayout layout = DecodeMbr(sector, *size, sectorSize);

    std::string volume = target.volumePath.empty() ? disk->path : ToUtf8(target.volumePath);
    struct stat vs {};
    if (stat(volume.c_str(), &vs) != 0) {
        NoteFailure(ErrnoText(volume));
        return std::nullopt;
    }
    if (disk->block && S_ISBLK(vs.st_mode) && vs.st_rdev != disk->rdev) {
        // A partition of the disk, placed where the kernel says it is.
        if (!IsPartitionDev(vs.st_rdev) || WholeDiskOf(vs.st_rdev) != disk->rdev) {
            NoteFailure(volume + " is not a volume of " + disk->path);
            return std::nullopt;
        }
        auto start = ReadNumber(SysDir(vs.st_rdev) + "/start");
        auto count = ReadNumber(SysDir(vs.st_rdev) + "/size");
        if (!start || !count) {
            NoteFailure("the kernel does not tell where " + volume + " lies");
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
    struct stat ds {};
    stat(disk->path.c_str(), &ds);
    bool sameAsDisk = disk->block ? (S_ISBLK(vs.st_mode) && vs.st_rdev == disk->rdev)
                                  : (vs.st_dev == ds.st_dev && vs.st_ino == ds.st_ino);
    if (!sameAsDisk) {
        NoteFailure(volume + " is not a volume of " + disk->path);
        return std::nullopt;
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
    std::string path = ToUtf8(target.diskPath);
    Fd fd(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        NoteFailure(path.empty() ? std::string("no disk given") : ErrnoText(path));
        return std::nullopt;
    }
    return IdentityOf(fd.Get());
}

std::unique_ptr<IVolumeLock> LinuxDiskPreparer::LockVolume(const DiskTarget& target) {
    auto disk = ResolveDisk(target);
    if (!disk) {
        return nullptr;
    }
    if (disk->block && lockedFd_ >= 0) {
        NoteFailure("a disk is already locked");
        return nullptr;
    }
    Fd fd(HoldDisk(*disk));
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
    auto disk = ResolveDisk(target);
    if (!disk) {
        return nullptr;
    }
    Fd fd;
    if (disk->block && lockedFd_ >= 0 && lockedDisk_ == disk->rdev) {
        fd = Fd(fcntl(lockedFd_, F_DUPFD_CLOEXEC, 0));
    } else {
        fd = Fd(open(disk->path.c_str(), O_RDWR | O_CLOEXEC | (disk->block ? O_EXCL : 0)));
    }
    if (!fd.Valid()) {
        NoteFailure(ErrnoText("cannot open " + disk->path));
        return nullptr;
    }
    return std::make_unique<LinuxRawDisk>(*this, std::move(fd), disk->path, disk->block,
                                          disk->rdev);
}

bool LinuxDiskPreparer::ReleaseVolume(const DiskTarget& target) {
    auto disk = ResolveDisk(target);
    return disk && UnmountAll(*disk);
}

bool LinuxDiskPreparer::Format(const DiskTarget& target) {
    auto disk = ResolveDisk(target);
    if (!disk || !UnmountAll(*disk)) {
        return false;
    }
    auto span = LocateVolume(target);
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
    std::vector<std::string> argv = {mkfs, "-I",        "-F", std::to_string(fat.fatBits),
                                     "-n", kVolumeLabel};
    if (fat.sectorsPerCluster != 0) {
        argv.insert(argv.end(), {"-s", std::to_string(fat.sectorsPerCluster)});
    }
    if (span->offset != 0) {
        std::string first = std::to_string(span->offset / 512);
        argv.insert(argv.end(), {"--offset", first, "-h", first});
    }
    argv.insert(argv.end(), {disk->path, std::to_string(span->length / 1024)});
    auto r = RunTool(argv);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(argv, r));
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::CopyFolderContents(const DiskTarget& target, const std::wstring& folder) {
    auto disk = ResolveDisk(target);
    auto span = disk ? LocateVolume(target) : std::nullopt;
    if (!span) {
        return false;
    }
    std::vector<std::string> entries;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ToFsPath(folder), ec)) {
        entries.push_back(entry.path().string());
    }
    if (ec) {
        NoteFailure("cannot list " + ToUtf8(folder) + ": " + ec.message());
        return false;
    }
    if (entries.empty()) {
        return true;
    }
    std::sort(entries.begin(), entries.end());
    Fd hold(HoldDisk(*disk));
    if (!hold.Valid()) {
        return false;
    }
    std::vector<std::string> argv = {FindTool("mcopy"),        "-s", "-o", "-Q", "-i",
                                     MtoolsImage(*disk, *span)};
    argv.insert(argv.end(), entries.begin(), entries.end());
    argv.push_back("::/");
    auto r = RunTool(argv);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(argv, r));
        return false;
    }
    return true;
}

bool LinuxDiskPreparer::CopyFile(const DiskTarget& target, const std::wstring& source,
                                 const std::wstring& name) {
    auto disk = ResolveDisk(target);
    auto span = disk ? LocateVolume(target) : std::nullopt;
    if (!span) {
        return false;
    }
    Fd hold(HoldDisk(*disk));
    if (!hold.Valid()) {
        return false;
    }
    std::vector<std::string> argv = {
        FindTool("mcopy"),   "-o", "-Q", "-i", MtoolsImage(*disk, *span), ToUtf8(source),
        "::/" + ToUtf8(name)};
    auto r = RunTool(argv);
    if (!r.exitKnown || r.status != 0) {
        NoteFailure(DescribeRun(argv, r));
        return false;
    }
    return true;
}

std::unique_ptr<IInstallerRun> LinuxDiskPreparer::StartInstaller(
    const DiskTarget& target, const std::wstring& programFolder) {
    auto disk = ResolveDisk(target);
    auto span = disk ? LocateVolume(target) : std::nullopt;
    if (!span) {
        return nullptr;
    }
    std::string flash = ToUtf8(JoinPath(programFolder, L"flash"));
    std::string installer = flash + "/syslinux";
    if (access(installer.c_str(), X_OK) != 0) {
        NoteFailure(ErrnoText(installer));
        return nullptr;
    }
    Fd hold(HoldDisk(*disk));
    if (!hold.Valid()) {
        return nullptr;
    }
    std::vector<std::string> argv = {installer, "--install"};
    if (span->offset != 0) {
        argv.insert(argv.end(), {"--offset", std::to_string(span->offset)});
    }
    argv.push_back(disk->path);
    auto child = Spawn(argv);
    if (!child) {
        NoteFailure(installer + " could not be started");
        return nullptr;
    }
    return std::make_unique<LinuxInstallerRun>(*this, std::move(*child), std::move(argv),
                                               std::move(hold), *span, flash + "/mbr.bin");
}

bool LinuxDiskPreparer::RootFileExists(const DiskTarget& target, std::wstring_view name) {
    auto disk = ResolveDisk(target);
    auto span = disk ? LocateVolume(target) : std::nullopt;
    if (!span) {
        return false;
    }
    std::vector<std::string> argv = {
        FindTool("mdir"), "-a", "-b", "-i", MtoolsImage(*disk, *span), "::/" + ToUtf8(name)};
    auto r = RunTool(argv);
    return r.exitKnown && r.status == 0;
}

std::optional<VolumeFacts> LinuxDiskPreparer::DescribeVolume(const DiskTarget& target) {
    auto disk = ResolveDisk(target);
    auto span = disk ? LocateVolume(target) : std::nullopt;
    if (!span) {
        return std::nullopt;
    }
    VolumeFacts facts;
    facts.capacityBytes = span->length;
    Fd fd(open(disk->path.c_str(), O_RDONLY | O_CLOEXEC));
    MbrSector sector{};
    auto size = fd.Valid() ? SizeOf(fd.Get()) : std::nullopt;
    if (!size || !ReadSector0(fd.Get(), sector)) {
        return std::nullopt;
    }
    DiskLayout layout = DecodeMbr(sector, *size, SectorSizeOf(fd.Get()));
    facts.hasPartitionTable =
        !layout.partitions.empty() && layout.partitions.front().startingOffset > 0;

    MbrSector boot{};
    if (pread(fd.Get(), boot.data(), boot.size(), static_cast<off_t>(span->offset)) !=
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
    std::vector<std::string> argv = {FindTool("mdir"), "-i", MtoolsImage(*disk, *span), "::/"};
    auto r = RunTool(argv);
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
    facts.bootLoaderPresent = RootFileExists(target, L"ldlinux.sys");
    return facts;
}

std::unique_ptr<IDiskPreparer> CreateDiskPreparer(const std::wstring& programFolder,
                                                  void* ownerWindow) {
    (void)ownerWindow;
    return std::make_unique<LinuxDiskPreparer>(programFolder);
}

}  // namespace scour::platform
