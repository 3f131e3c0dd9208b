// Disks and partitions that come and go, from udev's netlink messages.
#include <libudev.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/device_monitor.h"

namespace scour::platform {

namespace {

class UdevMonitor final : public IDeviceMonitor {
  public:
    UdevMonitor(udev* context, udev_monitor* monitor) : udev_(context), monitor_(monitor) {}
    ~UdevMonitor() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    int Fd() override { return udev_monitor_get_fd(monitor_); }

    bool VolumeChanged() override {
        bool changed = false;
        // The socket does not block: this ends when nothing more waits.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            const char* action = udev_device_get_action(device);
            const char* type = udev_device_get_devtype(device);
            const char* subsystem = udev_device_get_subsystem(device);
            bool volume = subsystem != nullptr && std::strcmp(subsystem, "block") == 0 &&
                          type != nullptr &&
                          (std::strcmp(type, "disk") == 0 || std::strcmp(type, "partition") == 0);
            // "change": a medium put into or taken out of a card reader.
            bool relevant = action != nullptr && (std::strcmp(action, "add") == 0 ||
                                                  std::strcmp(action, "remove") == 0 ||
                                                  std::strcmp(action, "change") == 0);
            changed = changed || (volume && relevant);
            udev_device_unref(device);
        }
        return changed;
    }

  private:
    udev* udev_;
    udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<IDeviceMonitor> CreateDeviceMonitor() {
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    // udev's own messages come once its rules have run and its database is up
    // to date. Without a udev daemon (containers, minimal systems) only the
    // kernel's own messages exist.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, source);
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevMonitor>(context, monitor);
}

}  // namespace scour::platform
