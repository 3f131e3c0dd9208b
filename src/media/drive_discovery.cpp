#include "media/drive_discovery.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "base/text.h"

namespace scour {

namespace {

using platform::IVolumeSystem;

constexpr wchar_t kFormatRequired[] = L"Format required";
constexpr wchar_t kBootableDisk[] = L"Bootable disk";
constexpr wchar_t kReady[] = L"Ready";

std::wstring Widen(const char* ascii) {
    std::wstring out;
    for (const char* p = ascii; *p != '\0'; ++p) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return out;
}

std::wstring WithoutTrailingBackslash(std::wstring_view volume) {
    if (!volume.empty() && volume.back() == L'\\') {
        volume.remove_suffix(1);
    }
    return std::wstring(volume);
}

// "A:\", "B:\" and the unique volume names of those two drives, empty where a
// letter is not in use. Rebuilt for every discovery: floppy drives come and go.
std::array<std::wstring, 4> FloppyVolumeTable(IVolumeSystem& volumes) {
    std::array<std::wstring, 4> table = {L"A:\\", L"B:\\", L"", L""};
    const std::uint32_t inUse = volumes.LogicalDrives();
    for (int i = 0; i < 2; ++i) {
        if ((inUse & (1u << i)) != 0) {
            table[2 + i] = volumes.VolumeNameForRoot(table[i]).value_or(L"");
        }
    }
    return table;
}

bool IsCandidate(IVolumeSystem& volumes, const std::array<std::wstring, 4>& floppies,
                 const std::wstring& volume) {
    if (!volumes.IsRemovableVolume(volume)) {
        return false;
    }
    // Exact comparison, case included: these names come from the same system call.
    return std::find(floppies.begin(), floppies.end(), volume) == floppies.end();
}

// The first letter from C: to Z: whose root is this volume; A: and B: are
// floppies and never tried. The trailing backslash is ignored on both sides,
// so an entry's stored path (which lacks it) finds its letter again.
std::int32_t FindDriveLetter(IVolumeSystem& volumes, const std::wstring& volume) {
    const std::uint32_t inUse = volumes.LogicalDrives();
    const std::wstring wanted = WithoutTrailingBackslash(volume);
    for (std::int32_t letter = 2; letter < 26; ++letter) {
        if ((inUse & (1u << letter)) == 0) {
            continue;
        }
        const std::wstring root = {static_cast<wchar_t>(L'A' + letter), L':', L'\\'};
        auto name = volumes.VolumeNameForRoot(root);
        if (name && EqualsAsciiNoCase(WithoutTrailingBackslash(*name), wanted)) {
            return letter;
        }
    }
    return -1;
}

}  // namespace

std::wstring FormatSizeText(float kilobytes) {
    // to_chars, not printf: the decimal point stays a dot whatever LC_NUMERIC a
    // frame or library has set, and both platforms round alike (exact ties to even).
    char buffer[64];
    const double x = kilobytes;
    std::to_chars_result r{};
    const char* unit = nullptr;
    if (x < 1024.0) {
        const int whole = x > -2147483648.0 ? static_cast<int>(kilobytes) : 0;
        r = std::to_chars(buffer, buffer + sizeof buffer, whole);
        unit = " KB";
    } else if (x < 1048576.0) {
        r = std::to_chars(buffer, buffer + sizeof buffer, x / 1024.0, std::chars_format::fixed, 1);
        unit = " MB";
    } else {
        r = std::to_chars(buffer, buffer + sizeof buffer, x / 1048576.0, std::chars_format::fixed,
                          2);
        unit = " GB";
    }
    // 64 characters hold any float's value with two decimals.
    if (r.ec != std::errc()) {
        return {};
    }
    return Widen(std::string(buffer, r.ptr).append(unit).c_str());
}

void ApplyVolumeSpace(const platform::VolumeSpace& space, RemovableDrive& drive) {
    const std::uint32_t bytesPerCluster = space.sectorsPerCluster * space.bytesPerSector;
    const float kilobytesPerCluster = static_cast<float>(bytesPerCluster) / 1024.0f;
    // In 64 bits: a 32-bit product wraps on large, nearly empty volumes and
    // makes them look full.
    drive.FreeKilobytes =
        (static_cast<std::uint64_t>(space.sectorsPerCluster) * space.freeClusters) >> 1;
    const float totalKilobytes = static_cast<float>(space.totalClusters) * kilobytesPerCluster;
    const float freeKilobytes = static_cast<float>(space.freeClusters) * kilobytesPerCluster;
    drive.CapacityText = FormatSizeText(totalKilobytes);
    drive.FreeSpaceText = FormatSizeText(freeKilobytes);
}

DriveStatus ClassifyDrive(const RemovableDrive& drive) {
    DriveStatus status = DriveReady;
    if (drive.FreeKilobytes < kMinFreeKilobytes) {
        status = DriveLowSpace;
    }
    if (!EqualsAsciiNoCase(drive.FileSystem, L"FAT") &&
        !EqualsAsciiNoCase(drive.FileSystem, L"FAT32")) {
        status = DriveNotFat;
    }
    if (!drive.HasPartitionTable) {
        status = DriveNoPartitionTable;
    }
    return status;
}

std::wstring StatusText(const RemovableDrive& drive) {
    if (drive.Status != DriveReady) {
        return kFormatRequired;
    }
    return drive.BootLoaderPresent ? kBootableDisk : kReady;
}

std::wstring DriveText(const RemovableDrive& drive) {
    std::wstring text;
    if (!drive.Label.empty()) {
        text = drive.Label + L" ";
    }
    if (!drive.DisplayName.empty()) {
        text += L"(" + drive.DisplayName + L")";
    }
    return text;
}

bool IsCandidateVolume(IVolumeSystem& volumes, const std::wstring& volume) {
    return IsCandidate(volumes, FloppyVolumeTable(volumes), volume);
}

RemovableDrive ReadRemovableDrive(IVolumeSystem& volumes, const std::wstring& volume) {
    RemovableDrive drive;
    drive.VolumePath = WithoutTrailingBackslash(volume);
    drive.DriveLetter = FindDriveLetter(volumes, volume);

    auto info = volumes.ReadVolumeInformation(volume);
    drive.Label = std::move(info.label);
    drive.FileSystem = std::move(info.fileSystem);

    if (auto space = volumes.DiskFreeSpace(volume)) {
        ApplyVolumeSpace(*space, drive);
    }

    if (auto number = volumes.PhysicalDriveNumber(volume)) {
        drive.PhysicalDrive = *number;
        drive.PhysicalDevice = volumes.PhysicalDrivePath(*number);
    }

    drive.BootLoaderPresent = volumes.RootFileExists(volume, drive.DriveLetter, kBootLoaderFile);

    if (drive.PhysicalDrive >= 0) {
        auto layout = volumes.ReadDriveLayout(drive.PhysicalDrive);
        drive.HasPartitionTable =
            layout && layout->partitionCount >= 1 && layout->firstStartingOffset > 0;
    }

    auto place = volumes.Locate(volume);
    if (drive.DriveLetter >= 0) {
        drive.DisplayName = {static_cast<wchar_t>(L'A' + drive.DriveLetter), L':'};
    } else {
        drive.DisplayName = std::move(place.displayName);
    }
    drive.MountPoint = std::move(place.mountPoint);

    drive.Status = ClassifyDrive(drive);
    return drive;
}

bool DiscoverRemovableDrives(IVolumeSystem& volumes, DriveList& drives) {
    drives.clear();
    const auto floppies = FloppyVolumeTable(volumes);
    auto names = volumes.EnumerateVolumes();
    if (!names) {
        return false;
    }
    for (const auto& name : *names) {
        if (IsCandidate(volumes, floppies, name)) {
            drives.push_back(ReadRemovableDrive(volumes, name));
        }
    }
    return true;
}

std::wstring FormatDriveTable(const DriveList& drives) {
    constexpr std::size_t kColumns = std::size(kDriveColumnTitles);
    std::vector<std::array<std::wstring, kColumns>> rows;
    rows.push_back({kDriveColumnTitles[0], kDriveColumnTitles[1], kDriveColumnTitles[2],
                    kDriveColumnTitles[3], kDriveColumnTitles[4]});
    for (const auto& d : drives) {
        rows.push_back(
            {DriveText(d), d.CapacityText, d.FreeSpaceText, d.FileSystem, StatusText(d)});
    }
    std::array<std::size_t, kColumns> widths{};
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < kColumns; ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::wstring out;
    for (const auto& row : rows) {
        std::wstring line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) {
                line.append(widths[c] - row[c].size() + 2, L' ');
            }
        }
        while (!line.empty() && line.back() == L' ') {
            line.pop_back();
        }
        out += line + L"\n";
    }
    return out;
}

}  // namespace scour
