#include "platform/linux/volumes_linux.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <libudev.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "base/text.h"

extern char** environ;

namespace scour::platform {

namespace {

namespace fs = std::filesystem;

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

std::optional<std::string> ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    text.assign(buffer, static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

bool ParseUnsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

bool ParseDevNumbers(std::string_view text, unsigned& major, unsigned& minor) {
    auto colon = text.find(':');
    std::uint64_t a = 0, b = 0;
    if (colon == std::string_view::npos || !ParseUnsigned(text.substr(0, colon), a) ||
        !ParseUnsigned(text.substr(colon + 1), b) || a > UINT_MAX || b > UINT_MAX) {
        return false;
    }
    major = static_cast<unsigned>(a);
    minor = static_cast<unsigned>(b);
    return true;
}

// Names compared with runs of digits by value, so sdb2 comes before sdb10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) {
                ++ei;
            }
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) {
                ++ej;
            }
            std::string_view na = std::string_view(a).substr(i, ei - i);
            std::string_view nb = std::string_view(b).substr(j, ej - j);
            while (na.size() > 1 && na.front() == '0') {
                na.remove_prefix(1);
            }
            while (nb.size() > 1 && nb.front() == '0') {
                nb.remove_prefix(1);
            }
            if (na.size() != nb.size()) {
                return na.size() < nb.size();
            }
            if (na != nb) {
                return na < nb;
            }
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// Folder entries (following links, as /sys/block holds links), sorted naturally.
std::optional<std::vector<std::string>> ListFolders(const std::string& path) {
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code ec2;
        if (fs::is_directory(it->path(), ec2)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Realpath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string out = resolved;
    std::free(resolved);
    return out;
}

// The mount table escapes blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountField(std::string_view field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
            octal(field[i + 2]) && octal(field[i + 3])) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                     (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string> SplitBlanks(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (in >> field) {
        fields.push_back(field);
    }
    return fields;
}

// True when path is the folder or lies below it.
bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    if (folder == "/") {
        return !path.empty() && path.front() == '/';
    }
    if (path.substr(0, folder.size()) != folder) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == '/';
}

struct ProcessOutput {
    bool succeeded = false;  // ran and exited with 0
    std::string output;
};

// Runs a helper program with stdout captured, stdin and stderr on /dev/null,
// and mtools' configuration checks and localised output switched off.
ProcessOutput RunCapture(const std::vector<std::string>& argv) {
    ProcessOutput result;
    int fds[2];
    if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string_view entry = *e;
        if (entry.rfind("MTOOLS_SKIP_CHECK=", 0) != 0 && entry.rfind("LC_ALL=", 0) != 0) {
            env.emplace_back(entry);
        }
    }
    env.emplace_back("MTOOLS_SKIP_CHECK=1");
    env.emplace_back("LC_ALL=C");
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc == 0) {
        char buffer[4096];
        for (;;) {
            ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                result.output.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    close(fds[0]);
    return result;
}

// The FAT boot sector's counts: enough for the cluster size and the number of data clusters.
struct FatGeometry {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t totalClusters = 0;
};

std::optional<FatGeometry> ReadFatGeometry(const std::string& device) {
    int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    unsigned char s[512];
    ssize_t n = pread(fd, s, sizeof s, 0);
    close(fd);
    if (n != static_cast<ssize_t>(sizeof s)) {
        return std::nullopt;
    }
    auto u16 = [&](int at) { return static_cast<std::uint32_t>(s[at] | (s[at + 1] << 8)); };
    auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(s[at]) | (static_cast<std::uint32_t>(s[at + 1]) << 8) |
               (static_cast<std::uint32_t>(s[at + 2]) << 16) |
               (static_cast<std::uint32_t>(s[at + 3]) << 24);
    };
    FatGeometry g;
    g.bytesPerSector = u16(11);
    g.sectorsPerCluster = s[13];
    const std::uint64_t reserved = u16(14);
    const std::uint64_t fats = s[16];
    const std::uint64_t rootEntries = u16(17);
    const std::uint64_t totalSectors = u16(19) != 0 ? u16(19) : u32(32);
    const std::uint64_t fatSectors = u16(22) != 0 ? u16(22) : u32(36);
    const bool sectorOk = g.bytesPerSector == 512 || g.bytesPerSector == 1024 ||
                          g.bytesPerSector == 2048 || g.bytesPerSector == 4096;
    const bool clusterOk =
        g.sectorsPerCluster != 0 && (g.sectorsPerCluster & (g.sectorsPerCluster - 1)) == 0;
    if (!sectorOk || !clusterOk || reserved == 0 || fats == 0 || fatSectors == 0) {
        return std::nullopt;
    }
    const std::uint64_t rootSectors = (rootEntries * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
    const std::uint64_t overhead = reserved + fats * fatSectors + rootSectors;
    if (totalSectors <= overhead) {
        return std::nullopt;
    }
    g.totalClusters = (totalSectors - overhead) / g.sectorsPerCluster;
    return g;
}

struct BlkidFacts {
    std::string type;
    std::string version;
    std::string label;
};

std::optional<BlkidFacts> ProbeFileSystem(const std::string& device) {
    blkid_probe probe = blkid_new_probe_from_filename(device.c_str());
    if (probe == nullptr) {
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(
        probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe, 0);
    std::optional<BlkidFacts> facts;
    if (blkid_do_safeprobe(probe) == 0) {
        facts.emplace();
        auto lookup = [&](const char* name, std::string& out) {
            const char* value = nullptr;
            std::size_t length = 0;
            if (blkid_probe_lookup_value(probe, name, &value, &length) == 0 && value != nullptr) {
                out.assign(value, strnlen(value, length));
            }
        };
        lookup("TYPE", facts->type);
        lookup("VERSION", facts->version);
        lookup("LABEL", facts->label);
    }
    blkid_free_probe(probe);
    return facts;
}

bool CanRead(const std::string& device) {
    int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

LinuxVolumeConfig::UdevProperties LibudevProperties(unsigned major, unsigned minor) {
    LinuxVolumeConfig::UdevProperties out;
    udev* context = udev_new();
    if (context == nullptr) {
        return out;
    }
    if (udev_device* device = udev_device_new_from_devnum(context, 'b', makedev(major, minor))) {
        for (udev_list_entry* e = udev_device_get_properties_list_entry(device); e != nullptr;
             e = udev_list_entry_get_next(e)) {
            const char* name = udev_list_entry_get_name(e);
            const char* value = udev_list_entry_get_value(e);
            if (name != nullptr && value != nullptr) {
                out[name] = value;
            }
        }
        udev_device_unref(device);
    }
    udev_unref(context);
    return out;
}

LinuxVolumeConfig::UdevProperties UdevPropertiesOf(const LinuxVolumeConfig& config, unsigned major,
                                                   unsigned minor) {
    return config.udevProperties ? config.udevProperties(major, minor)
                                 : LibudevProperties(major, minor);
}

std::string Property(const LinuxVolumeConfig::UdevProperties& p, const std::string& name) {
    auto it = p.find(name);
    return it == p.end() ? std::string() : it->second;
}

bool IsFat(const std::string& blkidType) {
    return blkidType == "vfat" || blkidType == "msdos";
}

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

    std::vector<std::string> Partitions(const std::string& disk) const {
        std::vector<std::string> out;
        auto names = ListFolders(BlockFolder() + "/" + disk);
        if (!names) {
            return out;
        }
        for (const auto& n : *names) {
            if (FileExists(BlockFolder() + "/" + disk + "/" + n + "/partition")) {
                out.push_back(n);
            }
        }
        return out;
    }

    std::optional<BlockEntry> ByName(const std::string& name) const {
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            return std::nullopt;
        }
        if (FileExists(BlockFolder() + "/" + name + "/dev")) {
            return Fill(BlockEntry{name, name, false});
        }
        auto disks = Disks();
        if (!disks) {
            return std::nullopt;
        }
        for (const auto& d : *disks) {
            if (FileExists(BlockFolder() + "/" + d + "/" + name + "/partition")) {
                return Fill(BlockEntry{name, d, true});
            }
        }
        return std::nullopt;
    }

    std::optional<BlockEntry> ByDev(unsigned major, unsigned minor) const {
        auto disks = Disks();
        if (!disks) {
            return std::nullopt;
        }
        for (const auto& d : *disks) {
            auto disk = Fill(BlockEntry{d, d, false});
            if (disk.hasDev && disk.major == major && disk.minor == minor) {
                return disk;
            }
            for (const auto& p : Partitions(d)) {
                auto part = Fill(BlockEntry{p, d, true});
                if (part.hasDev && part.major == major && part.minor == minor) {
                    return part;
                }
            }
        }
        return std::nullopt;
    }

    // A device path: a block device node by its device number; a regular file
    // (tests' trees) by its name when it lies in the device folder.
    std::optional<BlockEntry> ByPath(const std::string& path) const {
        std::string real = Realpath(path);
        if (real.empty()) {
            return std::nullopt;
        }
        struct stat st {};
        if (stat(real.c_str(), &st) != 0) {
            return std::nullopt;
        }
        if (S_ISBLK(st.st_mode)) {
            return ByDev(major(st.st_rdev), minor(st.st_rdev));
        }
        fs::path p(real);
        if (Realpath(config_.devRoot) != p.parent_path().string()) {
            return std::nullopt;
        }
        return ByName(p.filename().string());
    }

    std::uint64_t SizeInSectors(const BlockEntry& e) const {
        std::uint64_t size = 0;
        auto text = ReadSmallFile(EntryFolder(e) + "/size");
        if (!text || !ParseUnsigned(*text, size)) {
            return 0;
        }
        return size;
    }

    // A removable disk the wizard may write to: not a floppy, not an optical
    // drive, a medium present. SD cards count although readers often report
    // them as fixed.
    bool IsRemovableDisk(const std::string& disk) const {
        if (disk.rfind("fd", 0) == 0 || disk.rfind("sr", 0) == 0) {
            return false;
        }
        const std::string folder = BlockFolder() + "/" + disk;
        if (ReadSmallFile(folder + "/device/type").value_or("") == "5") {
            return false;  // SCSI type 5: CD/DVD
        }
        bool removable = ReadSmallFile(folder + "/removable").value_or("") == "1";
        if (!removable && disk.rfind("mmcblk", 0) == 0) {
            removable = ReadSmallFile(folder + "/device/type").value_or("") == "SD";
        }
        return removable && SizeInSectors(BlockEntry{disk, disk, false}) > 0;
    }

    // The volumes of a disk: its partitions (an extended partition's 1 KiB
    // container is none), or the whole disk when it has no partitions.
    std::vector<std::string> VolumesOf(const std::string& disk) const {
        std::vector<std::string> out;
        auto parts = Partitions(disk);
        for (const auto& p : parts) {
            if (SizeInSectors(BlockEntry{p, disk, true}) > 2) {
                out.push_back(p);
            }
        }
        if (parts.empty()) {
            out.push_back(disk);
        }
        return out;
    }

    std::vector<MountEntry> Mounts() const {
        std::vector<MountEntry> out;
        std::ifstream in(config_.procRoot + "/self/mountinfo");
        std::string line;
        if (in) {
            while (std::getline(in, line)) {
                auto f = SplitBlanks(line);
                auto dash = std::find(f.begin(), f.end(), "-");
                if (f.size() < 5 || dash == f.end() || f.end() - dash < 3 || dash - f.begin() < 6) {
                    continue;
                }
                MountEntry m;
                m.hasDev = ParseDevNumbers(f[2], m.major, m.minor);
                m.root = UnescapeMountField(f[3]);
                m.mountPoint = UnescapeMountField(f[4]);
                m.source = UnescapeMountField(dash[2]);
                out.push_back(std::move(m));
            }
            return out;
        }
        std::ifstream mounts(config_.procRoot + "/mounts");
        while (std::getline(mounts, line)) {
            auto f = SplitBlanks(line);
            if (f.size() < 3) {
                continue;
            }
            MountEntry m;
            m.source = UnescapeMountField(f[0]);
            m.mountPoint = UnescapeMountField(f[1]);
            out.push_back(std::move(m));
        }
        return out;
    }

    // The sysfs entry a mount's file system lives on: by its device number, or
    // by its source when the number is an anonymous one (btrfs, overlays).
    std::optional<BlockEntry> DeviceOfMount(const MountEntry& m) const {
        if (m.hasDev) {
            if (auto e = ByDev(m.major, m.minor)) {
                return e;
            }
        }
        if (m.source.rfind("/dev/", 0) == 0) {
            return ByPath(config_.devRoot + "/" + m.source.substr(5));
        }
        return std::nullopt;
    }

    // Where the whole file system of the volume is mounted; empty when it is not.
    std::string MountPointOf(const BlockEntry& volume) const {
        for (const auto& m : Mounts()) {
            if (m.root != "/") {
                continue;  // a bind mount of one folder of it
            }
            auto e = DeviceOfMount(m);
            if (e && e->name == volume.name) {
                return m.mountPoint;
            }
        }
        return {};
    }

    // The disk under an entry, and the disks under that one in turn.
    void AddDisksUnder(const BlockEntry& e, std::set<std::string>& disks, int depth) const {
        if (depth > 8 || !disks.insert(e.disk).second) {
            return;
        }
        const std::string folder = BlockFolder() + "/" + e.disk;
        for (const auto& s : ListFolders(folder + "/slaves").value_or(std::vector<std::string>{})) {
            if (auto member = ByName(s)) {
                AddDisksUnder(*member, disks, depth + 1);
            }
        }
        if (auto backing = ReadSmallFile(folder + "/loop/backing_file")) {
            struct stat st {};
            if (!backing->empty() && stat(backing->c_str(), &st) == 0) {
                if (auto holder = ByDev(major(st.st_dev), minor(st.st_dev))) {
                    AddDisksUnder(*holder, disks, depth + 1);
                }
            }
        }
    }

    std::set<std::string> ProtectedDisks() const {
        std::set<std::string> disks;
        const auto mounts = Mounts();
        for (const auto& path : config_.protectedPaths) {
            if (path.empty()) {
                continue;
            }
            // The mount that holds the path: the last of the longest mount points above it.
            const MountEntry* holder = nullptr;
            for (const auto& m : mounts) {
                if (IsAtOrBelow(path, m.mountPoint) &&
                    (holder == nullptr || m.mountPoint.size() >= holder->mountPoint.size())) {
                    holder = &m;
                }
            }
            if (holder != nullptr) {
                if (auto e = DeviceOfMount(*holder)) {
                    AddDisksUnder(*e, disks, 0);
                }
            }
            struct stat st {};
            if (stat(path.c_str(), &st) == 0) {
                if (auto e = ByDev(major(st.st_dev), minor(st.st_dev))) {
                    AddDisksUnder(*e, disks, 0);
                }
            }
        }
        return disks;
    }

  private:
    BlockEntry Fill(BlockEntry e) const {
        auto dev = ReadSmallFile(EntryFolder(e) + "/dev");
        e.hasDev = dev && ParseDevNumbers(*dev, e.major, e.minor);
        return e;
    }

    const LinuxVolumeConfig& config_;
};

// The volume's file system: libblkid from the device where it may be read,
// else what udev found when the device appeared.
std::optional<BlkidFacts> FileSystemOf(const LinuxVolumeConfig& config, const Sysfs& sys,
                                       const BlockEntry& e) {
    const std::string device = sys.DevicePath(e.name);
    if (config.useBlkid && CanRead(device)) {
        return ProbeFileSystem(device);
    }
    if (!e.hasDev) {
        return std::nullopt;
    }
    const auto p = UdevPropertiesOf(config, e.major, e.minor);
    BlkidFacts facts;
    facts.type = Property(p, "ID_FS_TYPE");
    if (facts.type.empty()) {
        return std::nullopt;
    }
    facts.version = Property(p, "ID_FS_VERSION");
    facts.label = UdevLabel(p);
    return facts;
}

// The partition table as udev names it, with the partitions the kernel found
// in it (sysfs says where each one starts without reading the disk).
std::optional<DriveLayout> UdevDriveLayout(const LinuxVolumeConfig& config, const Sysfs& sys,
                                           const BlockEntry& disk) {
    if (!disk.hasDev ||
        Property(UdevPropertiesOf(config, disk.major, disk.minor), "ID_PART_TABLE_TYPE") != "dos") {
        return std::nullopt;
    }
    DriveLayout layout;
    const auto parts = sys.Partitions(disk.name);
    layout.partitionCount = static_cast<std::uint32_t>(parts.size());
    for (const auto& p : parts) {
        const std::string folder = sys.EntryFolder(BlockEntry{p, disk.name, true});
        std::uint64_t start = 0;
        if (ReadSmallFile(folder + "/partition").value_or("") == "1" &&
            ParseUnsigned(ReadSmallFile(folder + "/start").value_or(""), start) &&
            start <= static_cast<std::uint64_t>(INT64_MAX) / 512) {
            layout.firstStartingOffset = static_cast<std::int64_t>(start * 512);
        }
    }
    return layout;
}

std::int32_t DiskNumber(const BlockEntry& disk) {
    if (!disk.hasDev || disk.major >= 32768 || disk.minor >= 65536) {
        return -1;
    }
    return static_cast<std::int32_t>((disk.major << 16) | disk.minor);
}

std::optional<BlockEntry> DiskOfNumber(const Sysfs& sys, std::int32_t number) {
    if (number < 0) {
        return std::nullopt;
    }
    auto e = sys.ByDev(static_cast<unsigned>(number) >> 16, static_cast<unsigned>(number) & 0xFFFF);
    if (!e || e->isPartition) {
        return std::nullopt;
    }
    return e;
}

std::optional<std::uint64_t> MdirBytesFree(const LinuxVolumeConfig& config,
                                           const std::string& device) {
    if (config.mdirProgram.empty()) {
        return std::nullopt;
    }
    auto run = RunCapture({config.mdirProgram, "-i", device, "::/"});
    if (!run.succeeded) {
        return std::nullopt;
    }
    return ParseMdirBytesFree(run.output);
}

}  // namespace

std::wstring LinuxFileSystemName(std::string_view type, std::string_view version) {
    if (type == "vfat" || type == "msdos") {
        return version == "FAT32" ? L"FAT32" : L"FAT";
    }
    if (type == "exfat") {
        return L"exFAT";
    }
    if (type == "ntfs" || type == "ntfs3") {
        return L"NTFS";
    }
    if (type == "udf") {
        return L"UDF";
    }
    if (type == "iso9660") {
        return L"CDFS";
    }
    return FromUtf8(type);
}

std::string UdevLabel(const LinuxVolumeConfig::UdevProperties& properties) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    const std::string encoded = Property(properties, "ID_FS_LABEL_ENC");
    if (encoded.empty()) {
        return Property(properties, "ID_FS_LABEL");
    }
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x' &&
            hex(encoded[i + 2]) >= 0 && hex(encoded[i + 3]) >= 0) {
            out += static_cast<char>(hex(encoded[i + 2]) * 16 + hex(encoded[i + 3]));
            i += 3;
            continue;
        }
        out += encoded[i];
    }
    return out;
}

std::optional<std::uint64_t> ParseMdirBytesFree(std::string_view output) {
    const std::string_view marker = "bytes free";
    auto at = output.rfind(marker);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t lineStart = output.rfind('\n', at);
    lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    std::string digits;
    for (char c : output.substr(lineStart, at - lineStart)) {
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (c != ' ' && c != '\t') {
            return std::nullopt;
        }
    }
    std::uint64_t value = 0;
    if (!ParseUnsigned(digits, value)) {
        return std::nullopt;
    }
    return value;
}

LinuxVolumeSystem::LinuxVolumeSystem(LinuxVolumeConfig config) : config_(std::move(config)) {}

std::optional<std::vector<std::wstring>> LinuxVolumeSystem::EnumerateVolumes() {
    Sysfs sys(config_);
    auto disks = sys.Disks();
    if (!disks) {
        return std::nullopt;
    }
    const auto protectedDisks = sys.ProtectedDisks();
    std::vector<std::wstring> volumes;
    for (const auto& disk : *disks) {
        if (!sys.IsRemovableDisk(disk) || protectedDisks.count(disk) != 0) {
            continue;
        }
        for (const auto& v : sys.VolumesOf(disk)) {
            volumes.push_back(FromUtf8(sys.DevicePath(v)));
        }
    }
    return volumes;
}

bool LinuxVolumeSystem::IsRemovableVolume(const std::wstring& volume) {
    Sysfs sys(config_);
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e || !sys.IsRemovableDisk(e->disk) || sys.ProtectedDisks().count(e->disk) != 0) {
        return false;
    }
    auto volumes = sys.VolumesOf(e->disk);
    return std::find(volumes.begin(), volumes.end(), e->name) != volumes.end();
}

VolumeInformation LinuxVolumeSystem::ReadVolumeInformation(const std::wstring& volume) {
    Sysfs sys(config_);
    VolumeInformation info;
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e) {
        return info;
    }
    if (auto facts = FileSystemOf(config_, sys, *e)) {
        info.label = FromUtf8(facts->label);
        info.fileSystem = LinuxFileSystemName(facts->type, facts->version);
    }
    return info;
}

std::optional<VolumeSpace> LinuxVolumeSystem::DiskFreeSpace(const std::wstring& volume) {
    Sysfs sys(config_);
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e) {
        return std::nullopt;
    }
    const std::string mountPoint = sys.MountPointOf(*e);
    if (!mountPoint.empty()) {
        struct statvfs st {};
        if (statvfs(mountPoint.c_str(), &st) != 0 || st.f_frsize == 0) {
            return std::nullopt;
        }
        VolumeSpace space;
        // Counted in 512-byte sectors, as the free kilobytes assume.
        if (st.f_frsize >= 512 && st.f_frsize % 512 == 0 && st.f_frsize / 512 <= UINT32_MAX) {
            space.bytesPerSector = 512;
            space.sectorsPerCluster = static_cast<std::uint32_t>(st.f_frsize / 512);
        } else if (st.f_frsize <= UINT32_MAX) {
            space.bytesPerSector = static_cast<std::uint32_t>(st.f_frsize);
            space.sectorsPerCluster = 1;
        } else {
            return std::nullopt;
        }
        space.freeClusters = st.f_bavail;
        space.totalClusters = st.f_blocks;
        return space;
    }
    // Not mounted: a FAT file system is read where it lies.
    const std::string device = sys.DevicePath(e->name);
    auto facts = FileSystemOf(config_, sys, *e);
    if (!facts || !IsFat(facts->type)) {
        return std::nullopt;
    }
    auto geometry = ReadFatGeometry(device);
    if (!geometry) {
        return std::nullopt;
    }
    auto bytesFree = MdirBytesFree(config_, device);
    if (!bytesFree) {
        return std::nullopt;
    }
    VolumeSpace space;
    space.bytesPerSector = geometry->bytesPerSector;
    space.sectorsPerCluster = geometry->sectorsPerCluster;
    space.totalClusters = geometry->totalClusters;
    const std::uint64_t bytesPerCluster =
        static_cast<std::uint64_t>(geometry->bytesPerSector) * geometry->sectorsPerCluster;
    space.freeClusters = std::min(*bytesFree / bytesPerCluster, geometry->totalClusters);
    return space;
}

std::optional<std::int32_t> LinuxVolumeSystem::PhysicalDriveNumber(const std::wstring& volume) {
    Sysfs sys(config_);
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e) {
        return std::nullopt;
    }
    auto disk = sys.ByName(e->disk);
    if (!disk) {
        return std::nullopt;
    }
    std::int32_t number = DiskNumber(*disk);
    if (number < 0) {
        return std::nullopt;
    }
    return number;
}

std::wstring LinuxVolumeSystem::PhysicalDrivePath(std::int32_t number) {
    Sysfs sys(config_);
    auto disk = DiskOfNumber(sys, number);
    return disk ? FromUtf8(sys.DevicePath(disk->name)) : std::wstring();
}

std::optional<DriveLayout> LinuxVolumeSystem::ReadDriveLayout(std::int32_t number) {
    Sysfs sys(config_);
    auto disk = DiskOfNumber(sys, number);
    if (!disk) {
        return std::nullopt;
    }
    const std::string path = sys.DevicePath(disk->name);
    if (!config_.useBlkid || !CanRead(path)) {
        return UdevDriveLayout(config_, sys, *disk);
    }
    blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
    if (probe == nullptr) {
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(probe, 0);
    blkid_probe_enable_partitions(probe, 1);
    std::optional<DriveLayout> layout;
    blkid_partlist list = blkid_probe_get_partitions(probe);
    blkid_parttable table = list != nullptr ? blkid_partlist_get_table(list) : nullptr;
    const char* type = table != nullptr ? blkid_parttable_get_type(table) : nullptr;
    // Only an MBR table: the boot code that the prepared disk receives starts
    // the active MBR partition, and a GPT disk's MBR is a placeholder.
    if (type != nullptr && std::string_view(type) == "dos") {
        layout.emplace();
        int count = blkid_partlist_numof_partitions(list);
        layout->partitionCount = count > 0 ? static_cast<std::uint32_t>(count) : 0;
        // The first slot of the table, as Windows reports it: unused gives offset 0.
        if (blkid_partition first = blkid_partlist_get_partition_by_partno(list, 1)) {
            layout->firstStartingOffset = blkid_partition_get_start(first) * 512;
        }
    }
    blkid_free_probe(probe);
    return layout;
}

bool LinuxVolumeSystem::RootFileExists(const std::wstring& volume, std::int32_t /*driveLetter*/,
                                       std::wstring_view name) {
    Sysfs sys(config_);
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e || name.empty() || name.find(L'/') != std::wstring_view::npos) {
        return false;
    }
    const std::string file = ToUtf8(name);
    const std::string mountPoint = sys.MountPointOf(*e);
    if (!mountPoint.empty()) {
        return FileExists(mountPoint + "/" + file);
    }
    const std::string device = sys.DevicePath(e->name);
    auto facts = FileSystemOf(config_, sys, *e);
    if (!facts || !IsFat(facts->type) || config_.mdirProgram.empty()) {
        return false;
    }
    // mdir -b lists just the name and fails when there is no such file; FAT
    // names match without regard to case, as on Windows.
    return RunCapture({config_.mdirProgram, "-b", "-i", device, "::/" + file}).succeeded;
}

VolumePlace LinuxVolumeSystem::Locate(const std::wstring& volume) {
    Sysfs sys(config_);
    VolumePlace place;
    auto e = sys.ByPath(ToUtf8(volume));
    if (!e) {
        return place;
    }
    place.displayName = FromUtf8(e->name);
    place.mountPoint = FromUtf8(sys.MountPointOf(*e));
    return place;
}

std::vector<std::string> LinuxVolumeSystem::ProtectedDisks() {
    Sysfs sys(config_);
    auto disks = sys.ProtectedDisks();
    return {disks.begin(), disks.end()};
}

std::unique_ptr<IVolumeSystem> CreateVolumeSystem(const std::wstring& programFolder) {
    LinuxVolumeConfig config;
    if (!programFolder.empty()) {
        config.protectedPaths.push_back(ToUtf8(programFolder));
    }
    return std::make_unique<LinuxVolumeSystem>(std::move(config));
}

}  // namespace scour::platform
