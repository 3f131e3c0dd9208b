// The mount table as the volume listing reads it: where a volume is mounted,
// and which disks hold the protected paths (and the disks under those).
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/linux/volumes_internal.h"

namespace scour::platform::volume_detail {

namespace {

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

}  // namespace

std::vector<MountEntry> Sysfs::Mounts() const {
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

std::optional<BlockEntry> Sysfs::DeviceOfMount(const MountEntry& m) const {
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

std::string Sysfs::MountPointOf(const BlockEntry& volume) const {
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

void Sysfs::AddDisksUnder(const BlockEntry& e, std::set<std::string>& disks, int depth) const {
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

std::set<std::string> Sysfs::ProtectedDisks() const {
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

}  // namespace scour::platform::volume_detail
