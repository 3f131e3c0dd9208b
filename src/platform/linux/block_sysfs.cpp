#include "platform/linux/block_sysfs.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace scour::platform {

namespace fs = std::filesystem;

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

std::uint64_t DiskSequenceOf(int fd) {
#ifdef BLKGETDISKSEQ
    __u64 seq = 0;
    if (ioctl(fd, BLKGETDISKSEQ, &seq) == 0) {
        return seq;
    }
#else
    (void)fd;
#endif
    return 0;
}

std::uint64_t DiskSequenceOf(dev_t d) {
    return ReadNumber(SysDir(d) + "/diskseq").value_or(0);
}

std::optional<dev_t> DeviceOfName(const std::string& name) {
    auto line = ReadFirstLine("/sys/class/block/" + name + "/dev");
    return line ? ParseDev(*line) : std::nullopt;
}

}  // namespace scour::platform
