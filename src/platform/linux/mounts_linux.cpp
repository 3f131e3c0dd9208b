#include "platform/linux/mounts_linux.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/block_sysfs.h"
#include "platform/linux/unique_fd.h"

namespace scour::platform {

namespace fs = std::filesystem;

std::string UnescapeMountField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            auto oct = s.substr(i + 1, 3);
            if (std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; })) {
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
        char* end = nullptr;
        std::uint64_t id = std::strtoull(f[0].c_str(), &end, 10);
        if (!dev || end == f[0].c_str() || *end != '\0') {
            continue;
        }
        mounts.push_back({id, *dev, UnescapeMountField(f[4]), UnescapeMountField(*(dash + 2))});
    }
    return mounts;
}

namespace {

// The mount id of the entry name in the folder dir, and whether it is a mount's root.
bool MountIdOf(int dir, const std::string& name, std::uint64_t& id, bool& root) {
    struct statx sx {};
    if (statx(dir, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) != 0 ||
        (sx.stx_mask & STATX_MNT_ID) == 0) {
        return false;
    }
    id = sx.stx_mnt_id;
    root = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return true;
}

// A descriptor open inside a mount keeps it busy, so the mount is unmounted by
// its name in its parent folder: the parent is reached without following any
// link and made the working folder, the name must be that very mount (its
// mount id), and the name is not followed if it became a link meanwhile.
bool UnmountOne(const Mount& m, std::string& why) {
    auto slash = m.point.rfind('/');
    if (m.point.empty() || m.point.front() != '/' || slash == std::string::npos ||
        slash + 1 >= m.point.size()) {
        why = "cannot unmount " + m.point;
        return false;
    }
    const std::string parentPath = slash == 0 ? "/" : m.point.substr(0, slash);
    const std::string name = m.point.substr(slash + 1);
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    Fd parent(
        static_cast<int>(syscall(SYS_openat2, AT_FDCWD, parentPath.c_str(), &how, sizeof how)));
    std::uint64_t id = 0;
    bool root = false;
    if (!parent.Valid() || !MountIdOf(parent.Get(), name, id, root) || id != m.id || !root) {
        why = "cannot unmount " + m.point + ": the folder is not that mount (any more)";
        return false;
    }
    Fd here(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!here.Valid() || fchdir(parent.Get()) != 0) {
        why = "cannot unmount " + m.point + ": " + std::strerror(errno);
        return false;
    }
    int rc = umount2(name.c_str(), UMOUNT_NOFOLLOW);
    int error = errno;
    // A process that works only by descriptors loses nothing if this fails.
    const bool restored = fchdir(here.Get()) == 0 || chdir("/") == 0;
    (void)restored;
    if (rc != 0) {
        why = "cannot unmount " + m.point + ": " + std::strerror(error);
        return false;
    }
    return true;
}

}  // namespace

bool UnmountDevices(const std::vector<dev_t>& devices, std::string& why) {
    auto mounts = ReadMounts();
    // Later mounts may sit on top of earlier ones: undo them first.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        if (std::find(devices.begin(), devices.end(), it->dev) == devices.end()) {
            continue;
        }
        if (!UnmountOne(*it, why)) {
            return false;
        }
    }
    return true;
}

namespace {

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

}  // namespace

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
        // mount table names the real device. This only ever protects more.
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

}  // namespace scour::platform
