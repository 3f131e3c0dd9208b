// Finding removable disks and their volumes in sysfs: disks, partitions and
// their device numbers, and device paths back to their sysfs entries.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/volumes_internal.h"

namespace scour::platform::volume_detail {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

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

std::vector<std::string> Sysfs::Partitions(const std::string& disk) const {
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

std::optional<BlockEntry> Sysfs::ByName(const std::string& name) const {
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

std::optional<BlockEntry> Sysfs::ByDev(unsigned major, unsigned minor) const {
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

std::optional<BlockEntry> Sysfs::ByPath(const std::string& path) const {
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

std::uint64_t Sysfs::SizeInSectors(const BlockEntry& e) const {
    std::uint64_t size = 0;
    auto text = ReadSmallFile(EntryFolder(e) + "/size");
    if (!text || !ParseUnsigned(*text, size)) {
        return 0;
    }
    return size;
}

bool Sysfs::IsRemovableDisk(const std::string& disk) const {
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

std::vector<std::string> Sysfs::VolumesOf(const std::string& disk) const {
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

BlockEntry Sysfs::Fill(BlockEntry e) const {
    auto dev = ReadSmallFile(EntryFolder(e) + "/dev");
    e.hasDev = dev && ParseDevNumbers(*dev, e.major, e.minor);
    return e;
}

}  // namespace scour::platform::volume_detail
