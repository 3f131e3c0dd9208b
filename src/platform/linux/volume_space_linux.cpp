// How full a volume is and whether a file lies in its root: statvfs and the
// folder where the volume is mounted, else the FAT boot sector and mtools'
// mdir on the device.
#include <fcntl.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/text.h"
#include "platform/linux/volumes_internal.h"

extern char** environ;

namespace scour::platform {

using namespace volume_detail;

namespace {

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

}  // namespace scour::platform
