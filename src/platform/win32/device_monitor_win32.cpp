// Windows broadcasts WM_DEVICECHANGE to the sheet's window: no monitor object.
#include "platform/device_monitor.h"

namespace scour::platform {

std::unique_ptr<IDeviceMonitor> CreateDeviceMonitor() {
    return nullptr;
}

}  // namespace scour::platform
