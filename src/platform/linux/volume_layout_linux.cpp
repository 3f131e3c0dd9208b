// The disks behind volumes: a disk's number (its device numbers) and back, and
// its MBR partition table from libblkid, else from udev and sysfs.
#include <blkid/blkid.h>

#include <cstdint>

#include "base/text.h"
#include "platform/linux/volumes_internal.h"

namespace scour::platform {

using namespace volume_detail;

namespace {

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

}  // namespace

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

}  // namespace scour::platform
