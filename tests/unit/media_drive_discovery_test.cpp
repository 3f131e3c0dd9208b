#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "media/drive_discovery.h"

namespace scour {
namespace {

using platform::DriveLayout;
using platform::VolumeSpace;

struct FakeVolume {
    bool removable = true;
    platform::VolumeInformation info;
    std::optional<VolumeSpace> space;
    std::optional<std::int32_t> disk;
    std::set<std::wstring> rootFiles;
};

// Answers as Windows does: names end in a backslash, files are found through
// drive letters only.
class FakeVolumes final : public platform::IVolumeSystem {
  public:
    std::vector<std::wstring> order;  // enumeration order
    std::map<std::wstring, FakeVolume> volumes;
    std::map<wchar_t, std::wstring> letters;  // 'E' -> volume name
    std::map<std::int32_t, DriveLayout> layouts;
    bool enumerationFails = false;
    std::vector<std::wstring> rootsAsked;

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
        rootsAsked.push_back(root);
        auto it = letters.find(root[0]);
        return it == letters.end() ? std::nullopt : std::optional<std::wstring>(it->second);
    }
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override {
        return enumerationFails ? std::nullopt : std::optional<std::vector<std::wstring>>(order);
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
        return it == layouts.end() ? std::nullopt : std::optional<DriveLayout>(it->second);
    }
    bool RootFileExists(const std::wstring&, std::int32_t letter, std::wstring_view name) override {
        auto it = letters.find(static_cast<wchar_t>(L'A' + letter));
        return letter >= 0 && it != letters.end() &&
               Find(it->second).rootFiles.count(std::wstring(name)) != 0;
    }
    platform::VolumePlace Locate(const std::wstring&) override { return {}; }
};

const std::wstring kStick = L"\\\\?\\Volume{11111111-0000-0000-0000-000000000001}\\";
const std::wstring kCard = L"\\\\?\\Volume{22222222-0000-0000-0000-000000000002}\\";

// A ready FAT32 stick: 4 KB clusters, 1 GB free of 4 GB, first partition at 1 MiB.
FakeVolume& AddReadyStick(FakeVolumes& v, const std::wstring& name, wchar_t letter,
                          std::int32_t disk) {
    auto& vol = v.Add(name, letter);
    vol.info = {L"USBDISK", L"FAT32"};
    vol.space = VolumeSpace{8, 512, 262144, 1048576};
    vol.disk = disk;
    v.layouts[disk] = DriveLayout{4, 1048576};
    return vol;
}

TEST(DriveDiscovery, ListsRemovableVolumesInEnumerationOrder) {
    FakeVolumes v;
    AddReadyStick(v, kStick, L'F', 1);
    v.Add(L"\\\\?\\Volume{fixed}\\", L'C').removable = false;
    AddReadyStick(v, kCard, L'E', 2);
    DriveList drives(3);  // a previous list is replaced
    ASSERT_TRUE(DiscoverRemovableDrives(v, drives));
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].VolumePath, kStick.substr(0, kStick.size() - 1));
    EXPECT_EQ(DriveText(drives[0]), L"USBDISK (F:)");
    EXPECT_EQ(drives[0].CapacityText, L"4.00 GB");
    EXPECT_EQ(drives[0].FreeSpaceText, L"1.00 GB");
    EXPECT_EQ(drives[1].DriveLetter, 4);
    EXPECT_EQ(drives[1].PhysicalDevice, L"\\\\.\\PhysicalDrive2");
    EXPECT_EQ(StatusText(drives[1]), L"Ready");

    v.enumerationFails = true;
    EXPECT_FALSE(DiscoverRemovableDrives(v, drives));
    EXPECT_TRUE(drives.empty());
}

TEST(DriveDiscovery, FloppyDrivesAreNeverListed) {
    FakeVolumes v;
    AddReadyStick(v, L"\\\\?\\Volume{floppy-a}\\", L'A', 1);
    AddReadyStick(v, L"\\\\?\\Volume{floppy-b}\\", L'B', 2);
    // The floppy table compares exactly: another case is another volume.
    AddReadyStick(v, L"\\\\?\\VOLUME{FLOPPY-A}\\", 0, 3);
    DriveList drives;
    ASSERT_TRUE(DiscoverRemovableDrives(v, drives));
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].VolumePath, L"\\\\?\\VOLUME{FLOPPY-A}");
    EXPECT_FALSE(IsCandidateVolume(v, L"\\\\?\\Volume{floppy-b}\\"));
    // A: is asked for by the floppy table only, never by the letter search.
    EXPECT_EQ(std::count(v.rootsAsked.begin(), v.rootsAsked.end(), L"A:\\"), 2);
    EXPECT_EQ(ReadRemovableDrive(v, L"\\\\?\\Volume{floppy-a}\\").DriveLetter, -1);
}

TEST(DriveRead, LettersAndTheBootLoader) {
    FakeVolumes v;
    AddReadyStick(v, kStick, L'G', 1).rootFiles.insert(L"ldlinux.sys");
    auto d = ReadRemovableDrive(v, kStick);
    EXPECT_EQ(d.DriveLetter, 6);
    EXPECT_EQ(StatusText(d), L"Bootable disk");
    // An entry's stored path, without the backslash, finds its letter again,
    // and the names are compared without regard to case.
    v.letters[L'G'] = L"\\\\?\\VOLUME{11111111-0000-0000-0000-000000000001}\\";
    EXPECT_EQ(ReadRemovableDrive(v, d.VolumePath).DriveLetter, 6);

    // Mounted at no letter: listed, but never bootable.
    v.letters.erase(L'G');
    d = ReadRemovableDrive(v, kStick);
    EXPECT_EQ(d.DriveLetter, -1);
    EXPECT_EQ(DriveText(d), L"USBDISK ");
    EXPECT_EQ(StatusText(d), L"Ready");

    // Nothing readable about the volume: it needs formatting.
    v.Add(kCard, L'E');
    d = ReadRemovableDrive(v, kCard);
    EXPECT_EQ(d.DriveLetter, 4);
    EXPECT_EQ(d.PhysicalDevice, L"");
    EXPECT_TRUE(d.CapacityText.empty() && d.FreeSpaceText.empty());
    EXPECT_EQ(StatusText(d), L"Format required");
}

TEST(DriveRead, PartitionTableNeedsAFirstPartitionAfterOffsetZero) {
    FakeVolumes v;
    AddReadyStick(v, kStick, L'E', 1);
    const std::pair<std::optional<DriveLayout>, bool> cases[] = {
        {DriveLayout{4, 32256}, true},  {DriveLayout{1, 1}, true},
        {DriveLayout{0, 32256}, false}, {DriveLayout{4, 0}, false},
        {DriveLayout{4, -512}, false},  {std::nullopt, false},
    };
    for (const auto& [layout, expected] : cases) {
        v.layouts.erase(1);
        if (layout) {
            v.layouts[1] = *layout;
        }
        auto d = ReadRemovableDrive(v, kStick);
        EXPECT_EQ(d.HasPartitionTable, expected) << (layout ? layout->firstStartingOffset : -1);
        EXPECT_EQ(d.Status, expected ? DriveReady : DriveNoPartitionTable);
    }
}

}  // namespace
}  // namespace scour
