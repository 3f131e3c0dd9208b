// The volumes of removable disks on Linux: which volumes are listed, which
// may be written to, and where each one is; the other questions are answered
// in the volume_*_linux.cpp files beside this one.
#include "platform/linux/volumes_linux.h"

#include <algorithm>

#include "base/text.h"
#include "platform/linux/volumes_internal.h"

namespace scour::platform {

using namespace volume_detail;

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
