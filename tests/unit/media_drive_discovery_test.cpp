// Drive discovery against volumes that answer as Windows does, and the texts
// and classification of the drive list.
#include "media/drive_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "base/text.h"
#include "support/test_support.h"

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

// Sets LC_NUMERIC to a locale whose decimal separator is a comma: an installed
// one, else (Linux) one generated into folder. False when none can be had.
bool SetCommaNumericLocale(const std::wstring& folder) {
    auto comma = [] { return std::string(std::localeconv()->decimal_point) == ","; };
#ifdef _WIN32
    (void)folder;
    for (const char* name : {"de-DE", "German_Germany.1252", "fr-FR", "French_France.1252"}) {
#else
    const std::string dir = ToUtf8(folder);
    if (std::system(("localedef -i de_DE -f UTF-8 " + test::Quote(dir + "/de_DE.UTF-8") +
                     " >/dev/null 2>&1")
                        .c_str()) == 0) {
        setenv("LOCPATH", dir.c_str(), 1);
    }
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
#endif
        if (std::setlocale(LC_NUMERIC, name) != nullptr && comma()) {
            return true;
        }
    }
    std::setlocale(LC_NUMERIC, "C");
    return false;
}

TEST(DriveSizeText, UnitBoundariesTruncationAndRounding) {
    const std::pair<float, const wchar_t*> cases[] = {
        {0.0f, L"0 KB"},
        {1023.9f, L"1023 KB"},
        {1024.0f, L"1.0 MB"},
        {1048575.0f, L"1024.0 MB"},
        {1048576.0f, L"1.00 GB"},
        {4294967296.0f, L"4096.00 GB"},
        // Exact binary halves: printf rounds them to even, where the Windows C
        // library would round up; both builds must show the same text.
        {1280.0f, L"1.2 MB"},
        {1536.0f, L"1.5 MB"},
        {1179648.0f, L"1.12 GB"},
        {1441792.0f, L"1.38 GB"}};
    for (const auto& [kilobytes, text] : cases) {
        EXPECT_EQ(FormatSizeText(kilobytes), text) << kilobytes;
    }
}

// A frame's toolkit sets the whole locale from the user's settings; the texts
// must keep their dot.
TEST(DriveSizeText, DecimalPointIgnoresTheNumericLocale) {
    test::ScratchDir scratch;
    const bool set = SetCommaNumericLocale(scratch.Path());
#ifndef _WIN32
    unsetenv("LOCPATH");
#endif
    if (!set) {
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be generated";
    }
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    const std::wstring mb = FormatSizeText(1536.0f), gb = FormatSizeText(1179648.0f);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_STREQ(printed, "1,5");  // the locale took effect
    EXPECT_EQ(mb, L"1.5 MB");
    EXPECT_EQ(gb, L"1.12 GB");
}

// The last condition that holds wins: free space, then file system, then table.
TEST(DriveClassification, SpaceFileSystemAndTableInThatOrder) {
    const std::tuple<const wchar_t*, std::uint64_t, bool, DriveStatus> cases[] = {
        {L"FAT32", 15000, true, DriveReady},
        {L"FAT32", 14999, true, DriveLowSpace},
        {L"FAT", 15000, true, DriveReady},
        {L"fat32", 15000, true, DriveReady},
        {L"Fat", 15000, true, DriveReady},
        {L"exFAT", 15000, true, DriveNotFat},
        {L"NTFS", 15000, true, DriveNotFat},
        {L"", 15000, true, DriveNotFat},
        {L"FAT16", 15000, true, DriveNotFat},
        {L"FAT32 ", 15000, true, DriveNotFat},
        {L"NTFS", 0, true, DriveNotFat},
        {L"NTFS", 0, false, DriveNoPartitionTable},
        {L"FAT32", 15000, false, DriveNoPartitionTable},
        {L"FAT32", 1ull << 32, true, DriveReady},  // not cut to 32 bits
    };
    for (const auto& [fileSystem, free, table, status] : cases) {
        RemovableDrive d;
        d.FileSystem = fileSystem;
        d.FreeKilobytes = free;
        d.HasPartitionTable = table;
        EXPECT_EQ(ClassifyDrive(d), status) << ToUtf8(fileSystem) << " " << free << " " << table;
    }
}

TEST(DriveSizes, HalfKilobyteClustersAndLargeVolumes) {
    RemovableDrive d;
    ApplyVolumeSpace({1, 512, 3, 1000}, d);
    EXPECT_EQ(d.CapacityText, L"500 KB");
    EXPECT_EQ(d.FreeSpaceText, L"1 KB");
    EXPECT_EQ(d.FreeKilobytes, 1u);
    // 64 sectors per cluster * 2^26 free clusters = 2^32 sectors: a 32-bit
    // product would be 0 and the nearly empty 2 TiB volume would look full.
    ApplyVolumeSpace({64, 512, 1u << 26, 1u << 26}, d);
    EXPECT_EQ(d.FreeKilobytes, std::uint64_t{1} << 31);
    EXPECT_EQ(d.FreeSpaceText, L"2048.00 GB");
}

TEST(DriveList, DriveTextAndTable) {
    RemovableDrive data, unnamed;
    data.Label = L"Data";
    data.DisplayName = L"E:";
    unnamed.DisplayName = L"F:";
    EXPECT_EQ(DriveText(data), L"Data (E:)");
    EXPECT_EQ(DriveText(unnamed), L"(F:)");
    EXPECT_EQ(DriveText(RemovableDrive{}), L"");
    data.CapacityText = L"7.45 GB";
    data.FreeSpaceText = L"7.40 GB";
    data.FileSystem = L"FAT32";
    unnamed.Status = DriveNoPartitionTable;
    unnamed.BootLoaderPresent = true;  // a disk to format is never shown bootable
    EXPECT_EQ(FormatDriveTable({data, unnamed}),
              L"Drive      Capacity  Free space  Filesystem  Status\n"
              L"Data (E:)  7.45 GB   7.40 GB     FAT32       Ready\n"
              L"(F:)                                         Format required\n");
}

}  // namespace
}  // namespace scour
