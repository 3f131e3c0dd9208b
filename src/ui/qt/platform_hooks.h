// The few platform calls the frame makes beyond the shared services: the
// administrator check, the wizard's disk operations, the file system the
// format step uses, and the watch for volumes that come and go.
#pragma once

#include <memory>
#include <string>

#include "platform/disk_ops.h"
#include "platform/network.h"

namespace scour::qt {

bool HasAdministratorRights();

// The disk operations of the USB disk page.
std::unique_ptr<platform::IDiskPreparer> CreateFrameDiskPreparer(const std::wstring& programFolder);

// The file system the next Format of these operations makes: "FAT32" or "FAT".
void SetFormatFileSystem(platform::IDiskPreparer& disks, const std::wstring& fileSystem);

// The share test of these services keeps the windows alive while it waits
// for its probe (see KeepWindowsAlive).
void KeepWindowsAliveDuringShareTests(platform::INetwork* network);

// Volumes arriving and leaving, read from a descriptor the event loop watches.
class IVolumeWatch {
  public:
    virtual ~IVolumeWatch() = default;
    virtual int Descriptor() const = 0;
    // Reads what is waiting on the descriptor; true when a volume came or went.
    virtual bool ReadVolumeChange() = 0;
};

// Null where the system offers no such watch.
std::unique_ptr<IVolumeWatch> OpenVolumeWatch();

}  // namespace scour::qt
