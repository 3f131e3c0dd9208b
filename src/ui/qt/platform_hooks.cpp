#include "ui/qt/platform_hooks.h"

#include "platform/device_monitor.h"
#include "platform/linux/network_linux.h"
#include "platform/privileges.h"
#include "ui/qt/dialog_view.h"

namespace scour::qt {

namespace {

class DeviceMonitorWatch final : public IVolumeWatch {
  public:
    explicit DeviceMonitorWatch(std::unique_ptr<platform::IDeviceMonitor> monitor)
        : monitor_(std::move(monitor)) {}
    int Descriptor() const override { return monitor_->Fd(); }
    bool ReadVolumeChange() override { return monitor_->VolumeChanged(); }

  private:
    std::unique_ptr<platform::IDeviceMonitor> monitor_;
};

}  // namespace

bool HasAdministratorRights() {
    return platform::IsAdministrator();
}

std::unique_ptr<platform::IDiskPreparer> CreateFrameDiskPreparer(
    const std::wstring& programFolder) {
    return platform::CreateWizardDiskPreparer(programFolder, nullptr);
}

void SetFormatFileSystem(platform::IDiskPreparer& disks, const std::wstring& fileSystem) {
    disks.SetFormatFileSystem(fileSystem == L"FAT" ? platform::FormatFileSystem::Fat
                                                   : platform::FormatFileSystem::Fat32);
}

void KeepWindowsAliveDuringShareTests(platform::INetwork* network) {
    if (auto* probing = dynamic_cast<platform::LinuxNetwork*>(network)) {
        probing->SetWaitHook(KeepWindowsAlive);
    }
}

std::unique_ptr<IVolumeWatch> OpenVolumeWatch() {
    auto monitor = platform::CreateDeviceMonitor();
    if (monitor == nullptr) {
        return nullptr;
    }
    return std::make_unique<DeviceMonitorWatch>(std::move(monitor));
}

}  // namespace scour::qt
