// Removable drive discovery: which volumes the USB disk page lists, and how
// each of them is described and classified.
#pragma once

#include <cstdint>
#include <string>

#include "media/removable_drive.h"
#include "platform/volumes.h"

namespace scour {

// Below this many free kilobytes a disk must be formatted first.
inline constexpr std::uint64_t kMinFreeKilobytes = 15000;
inline constexpr wchar_t kBootLoaderFile[] = L"ldlinux.sys";
// Titles of the drive list's columns, in their order.
inline constexpr const wchar_t* kDriveColumnTitles[5] = {L"Drive", L"Capacity", L"Free space",
                                                         L"Filesystem", L"Status"};

// "%d KB" below 1024, "%.1f MB" below 1048576, else "%.2f GB".
std::wstring FormatSizeText(float kilobytes);

// Fills the size fields from a volume's cluster counts.
void ApplyVolumeSpace(const platform::VolumeSpace& space, RemovableDrive& drive);

// Status from free space, file system and partition table, in that order, the
// last condition that holds winning.
DriveStatus ClassifyDrive(const RemovableDrive& drive);
// "Format required", "Bootable disk" or "Ready".
std::wstring StatusText(const RemovableDrive& drive);
// The list's Drive column: "USBDISK (E:)", "(F:)", "USBDISK (sdb1)", ...
std::wstring DriveText(const RemovableDrive& drive);

// Whether discovery lists this volume: removable, and not one of the floppy
// drives A: and B:.
bool IsCandidateVolume(platform::IVolumeSystem& volumes, const std::wstring& volume);

// Reads one volume (as the enumeration names it, or a device path on Linux).
// Always yields an entry; what cannot be read keeps its initial value.
RemovableDrive ReadRemovableDrive(platform::IVolumeSystem& volumes, const std::wstring& volume);

// Replaces drives by the candidate volumes in enumeration order. False, with
// an empty list, only when the enumeration cannot be started.
bool DiscoverRemovableDrives(platform::IVolumeSystem& volumes, DriveList& drives);

// The list as the USB disk page shows it: the five column titles, then one
// aligned line per drive.
std::wstring FormatDriveTable(const DriveList& drives);

}  // namespace scour
