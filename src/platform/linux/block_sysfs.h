// Block devices as the kernel describes them in sysfs, by device number: the
// numbers come from descriptors the disk operations opened themselves, so
// nothing here follows a name a caller chose.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace scour::platform {

inline constexpr std::uint64_t kSysfsSector = 512;

std::optional<std::string> ReadFirstLine(const std::string& path);
std::optional<std::uint64_t> ReadNumber(const std::string& path);
// "8:16" as a device number.
std::optional<dev_t> ParseDev(const std::string& text);

// /sys/dev/block/MAJOR:MINOR
std::string SysDir(dev_t d);
std::filesystem::path CanonicalSysDir(dev_t d);
bool IsPartitionDev(dev_t d);
std::optional<dev_t> WholeDiskOf(dev_t d);
std::vector<dev_t> PartitionsOf(dev_t disk);
// Used by the device mapper or a RAID set.
bool HasHolders(dev_t d);
// A serial number from udev's database or the device itself; for a loop
// device the file behind it.
std::wstring SerialOf(dev_t d);
// The kernel's disk sequence number: new for every medium and every loop
// device attachment. 0 where the kernel tells none.
std::uint64_t DiskSequenceOf(int fd);
std::uint64_t DiskSequenceOf(dev_t d);
// The device number of a kernel block device name ("sdb", "sdb1").
std::optional<dev_t> DeviceOfName(const std::string& name);

}  // namespace scour::platform
