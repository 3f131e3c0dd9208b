// Notices of disks and volumes that come and go, for the USB disk page's list.
// Linux listens to udev; Windows has none here (the frame receives
// WM_DEVICECHANGE instead) and CreateDeviceMonitor answers null.
#pragma once

#include <memory>

namespace scour::platform {

class IDeviceMonitor {
  public:
    virtual ~IDeviceMonitor() = default;
    // A descriptor that becomes readable when events wait (for the frame's
    // socket notifier); -1 when there is none.
    virtual int Fd() = 0;
    // Drains the waiting events without blocking; true when a block disk or
    // partition was added, removed or changed among them.
    virtual bool VolumeChanged() = 0;
};

// Null when the system offers no device notices.
std::unique_ptr<IDeviceMonitor> CreateDeviceMonitor();

}  // namespace scour::platform
