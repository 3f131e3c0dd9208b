// Removable volumes that answer as Windows does, for the drive list's tests:
// names end in a backslash, files are found through drive letters only.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/volumes.h"

namespace scour::test {

using platform::DriveLayout;
using platform::VolumeSpace;

struct FakeVolume {
    bool removable = true;
    platform::VolumeInformation info;
    std::optional<VolumeSpace> space;
    std::optional<std::int32_t> disk;
    std::set<std::wstring> rootFiles;
};

class FakeVolumes final : public platform::IVolumeSystem {
  public:
    std::vector<std::wstring> order;  // enumeration order
    std::map<std::wstring, FakeVolume> volumes;
    std::map<wchar_t, std::wstring> letters;  // 'E' -> volume name
    std::map<std::int32_t, DriveLayout> layouts;
    bool enumerationFails = false;

    FakeVolume& Add(const std::wstring& name, wchar_t letter = 0) {
        order.push_back(name);
        if (letter != 0) {
            letters[letter] = name;
        }
        return volumes[name];
    }
    std::uint32_t LogicalDrives() override {
        std::uint32_t bits = 0;
        for (const auto& entry : letters) {
            bits |= 1u << (entry.first - L'A');
        }
        return bits;
    }
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring& root) override {
        auto it = letters.find(root[0]);
        return it == letters.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override {
        return enumerationFails ? std::nullopt : std::optional(order);
    }
    const FakeVolume& Find(const std::wstring& volume) {
        static const FakeVolume none{false, {}, {}, {}, {}};
        auto it = volumes.find(volume);
        it = it != volumes.end() ? it : volumes.find(volume + L"\\");
        return it == volumes.end() ? none : it->second;
    }
    bool IsRemovableVolume(const std::wstring& v) override { return Find(v).removable; }
    platform::VolumeInformation ReadVolumeInformation(const std::wstring& v) override {
        return Find(v).info;
    }
    std::optional<VolumeSpace> DiskFreeSpace(const std::wstring& v) override {
        return Find(v).space;
    }
    std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring& v) override {
        return Find(v).disk;
    }
    std::wstring PhysicalDrivePath(std::int32_t n) override {
        return L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
    }
    std::optional<DriveLayout> ReadDriveLayout(std::int32_t n) override {
        auto it = layouts.find(n);
        return it == layouts.end() ? std::nullopt : std::optional(it->second);
    }
    bool RootFileExists(const std::wstring&, std::int32_t letter, std::wstring_view name) override {
        auto it = letters.find(static_cast<wchar_t>(L'A' + letter));
        return letter >= 0 && it != letters.end() &&
               Find(it->second).rootFiles.count(std::wstring(name)) != 0;
    }
    platform::VolumePlace Locate(const std::wstring&) override { return {}; }
};

inline const std::wstring kStick = L"\\\\?\\Volume{11111111-0000-0000-0000-000000000001}\\";
inline const std::wstring kCard = L"\\\\?\\Volume{22222222-0000-0000-0000-000000000002}\\";

// A ready FAT32 stick: 4 KB clusters, 1 GB free of 4 GB, first partition at 1 MiB.
inline FakeVolume& AddReadyStick(FakeVolumes& v, const std::wstring& name, wchar_t letter,
                                 std::int32_t disk) {
    auto& vol = v.Add(name, letter);
    vol.info = {L"USBDISK", L"FAT32"};
    vol.space = VolumeSpace{8, 512, 262144, 1048576};
    vol.disk = disk;
    v.layouts[disk] = DriveLayout{4, 1048576};
    return vol;
}

}  // namespace scour::test
