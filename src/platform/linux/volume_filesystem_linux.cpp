// What file system a volume holds: libblkid reads it from the device where
// that may be read, else udev's database answers; and its name as Windows
// would report it.
#include <blkid/blkid.h>
#include <fcntl.h>
#include <libudev.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>

#include "base/text.h"
#include "platform/linux/volumes_internal.h"

namespace scour::platform {

namespace volume_detail {

namespace {

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

}  // namespace

bool CanRead(const std::string& device) {
    int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
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

}  // namespace volume_detail

using namespace volume_detail;

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
    const std::string encoded = Property(properties, "ID_FS_LABEL_ENC");
    if (encoded.empty()) {
        return Property(properties, "ID_FS_LABEL");
    }
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x' &&
            HexDigitValue(encoded[i + 2]) >= 0 && HexDigitValue(encoded[i + 3]) >= 0) {
            out += static_cast<char>(HexDigitValue(encoded[i + 2]) * 16 +
                                     HexDigitValue(encoded[i + 3]));
            i += 3;
            continue;
        }
        out += encoded[i];
    }
    return out;
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

}  // namespace scour::platform
