#include "ui/qt/platform_hooks.h"

namespace scour::qt {

bool HasAdministratorRights() {
    // Disk writes go through the privileged helper, started on first use.
    return true;
}

std::unique_ptr<platform::IDiskPreparer> CreateFrameDiskPreparer(
    const std::wstring& programFolder) {
    return platform::CreateDiskPreparer(programFolder, nullptr);
}

void SetFormatFileSystem(platform::IDiskPreparer& /*disks*/, const std::wstring& /*fileSystem*/) {}

std::unique_ptr<IVolumeWatch> OpenVolumeWatch() {
    return nullptr;
}

}  // namespace scour::qt
