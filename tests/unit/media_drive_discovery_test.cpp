// Drive discovery against volumes that answer as Windows does, and the texts
// and classification of the drive list.
#include "media/drive_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "unit/media_fake_volumes.h"

namespace scour {
namespace {

using namespace test;
using platform::DriveLayout;
using platform::VolumeSpace;

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
        {1179648.0f, L"1.12 GB"}};
    for (const auto& [kilobytes, text] : cases) {
        EXPECT_EQ(FormatSizeText(kilobytes), text) << kilobytes;
    }
}

// The last condition that holds wins: free space, then file system, then table.
TEST(DriveClassification, SpaceFileSystemAndTableInThatOrder) {
    const std::tuple<const wchar_t*, std::uint64_t, bool, DriveStatus> cases[] = {
        {L"FAT32", 15000, true, DriveReady},        {L"FAT32", 14999, true, DriveLowSpace},
        {L"FAT", 15000, true, DriveReady},          {L"fat32", 15000, true, DriveReady},
        {L"exFAT", 15000, true, DriveNotFat},       {L"NTFS", 15000, true, DriveNotFat},
        {L"FAT32 ", 15000, true, DriveNotFat},      {L"NTFS", 0, true, DriveNotFat},
        {L"NTFS", 0, false, DriveNoPartitionTable}, {L"FAT32", 15000, false, DriveNoPartitionTable},
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
