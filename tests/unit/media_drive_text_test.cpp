#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "media/drive_discovery.h"
#include "support/test_support.h"

namespace scour {
namespace {

bool CommaIsDecimalPoint() {
    const std::lconv* conv = std::localeconv();
    return conv != nullptr && std::string(conv->decimal_point) == ",";
}

// Sets LC_NUMERIC to a locale whose decimal separator is a comma: an installed
// one, else (Linux) one generated into folder. False when none can be had.
bool SetCommaNumericLocale(const std::wstring& folder) {
#ifdef _WIN32
    (void)folder;
    const char* names[] = {"de-DE", "German_Germany.1252", "fr-FR", "French_France.1252"};
#else
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
#endif
    for (const char* name : names) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr && CommaIsDecimalPoint()) {
            return true;
        }
    }
#ifndef _WIN32
    const std::string dir = ToUtf8(folder);
    const std::string command =
        "localedef -i de_DE -f UTF-8 " + test::Quote(dir + "/de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
        setenv("LOCPATH", dir.c_str(), 1);
        const bool set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        unsetenv("LOCPATH");
        if (set && CommaIsDecimalPoint()) {
            return true;
        }
    }
#endif
    std::setlocale(LC_NUMERIC, "C");
    return false;
}

TEST(DriveSizeText, UnitBoundariesTruncationAndRounding) {
    EXPECT_EQ(FormatSizeText(0.0f), L"0 KB");
    EXPECT_EQ(FormatSizeText(1023.9f), L"1023 KB");
    EXPECT_EQ(FormatSizeText(1024.0f), L"1.0 MB");
    EXPECT_EQ(FormatSizeText(1048575.0f), L"1024.0 MB");
    EXPECT_EQ(FormatSizeText(1048576.0f), L"1.00 GB");
    EXPECT_EQ(FormatSizeText(4294967296.0f), L"4096.00 GB");
    // Exact binary halves: printf rounds them to even, where the Windows C
    // library would round up; both builds must show the same text.
    EXPECT_EQ(FormatSizeText(1280.0f), L"1.2 MB");      // 1.25
    EXPECT_EQ(FormatSizeText(1536.0f), L"1.5 MB");      // 1.5
    EXPECT_EQ(FormatSizeText(1179648.0f), L"1.12 GB");  // 1.125
    EXPECT_EQ(FormatSizeText(1441792.0f), L"1.38 GB");  // 1.375
}

// A frame's toolkit sets the whole locale from the user's settings; the texts
// must keep their dot.
TEST(DriveSizeText, DecimalPointIgnoresTheNumericLocale) {
    test::ScratchDir scratch;
    if (!SetCommaNumericLocale(scratch.Path())) {
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be generated";
    }
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    const bool localeTakesEffect = std::string(printed) == "1,5";
    const std::wstring mb = FormatSizeText(1536.0f);
    const std::wstring gb = FormatSizeText(1179648.0f);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(localeTakesEffect) << printed;
    EXPECT_EQ(mb, L"1.5 MB");
    EXPECT_EQ(gb, L"1.12 GB");
}

RemovableDrive Fat32Disk() {
    RemovableDrive d;
    d.FileSystem = L"FAT32";
    d.FreeKilobytes = 15000;
    d.HasPartitionTable = true;
    return d;
}

TEST(DriveClassification, SpaceThresholdIsInclusiveAndOnlyFatOrFat32InAnyCaseCount) {
    auto d = Fat32Disk();
    EXPECT_EQ(ClassifyDrive(d), DriveReady);
    d.FreeKilobytes = 14999;
    EXPECT_EQ(ClassifyDrive(d), DriveLowSpace);
    d.FreeKilobytes = 15000;
    for (const wchar_t* name : {L"FAT", L"FAT32", L"fat32", L"Fat"}) {
        d.FileSystem = name;
        EXPECT_EQ(ClassifyDrive(d), DriveReady) << name;
    }
    for (const wchar_t* name : {L"exFAT", L"NTFS", L"", L"FAT16", L"FAT32 "}) {
        d.FileSystem = name;
        EXPECT_EQ(ClassifyDrive(d), DriveNotFat) << name;
    }
}

TEST(DriveClassification, LaterTestsWinAndTheStatusText) {
    RemovableDrive d;  // low on space, not FAT, no partition table
    d.FileSystem = L"NTFS";
    EXPECT_EQ(ClassifyDrive(d), DriveNoPartitionTable);
    d.HasPartitionTable = true;
    EXPECT_EQ(ClassifyDrive(d), DriveNotFat);

    d = Fat32Disk();
    EXPECT_EQ(StatusText(d), L"Ready");
    d.BootLoaderPresent = true;
    EXPECT_EQ(StatusText(d), L"Bootable disk");
    d.HasPartitionTable = false;
    d.Status = ClassifyDrive(d);
    EXPECT_EQ(d.Status, DriveNoPartitionTable);
    EXPECT_EQ(StatusText(d), L"Format required");
}

TEST(DriveSizes, HalfKilobyteClustersAndLargeVolumes) {
    RemovableDrive d;
    ApplyVolumeSpace({1, 512, 3, 1000}, d);
    EXPECT_EQ(d.CapacityText, L"500 KB");
    EXPECT_EQ(d.FreeSpaceText, L"1 KB");
    EXPECT_EQ(d.FreeKilobytes, 1u);
    // 64 sectors per cluster * 2^26 free clusters = 2^32 sectors: a 32-bit
    // product would be 0 and the nearly empty 2 TiB volume would look full.
    d = Fat32Disk();
    ApplyVolumeSpace({64, 512, 1u << 26, 1u << 26}, d);
    EXPECT_EQ(d.FreeKilobytes, std::uint64_t{1} << 31);
    EXPECT_EQ(d.FreeSpaceText, L"2048.00 GB");
    EXPECT_EQ(ClassifyDrive(d), DriveReady);
}

TEST(DriveList, DriveTextAndTable) {
    RemovableDrive data;
    data.Label = L"Data";
    data.DisplayName = L"E:";
    RemovableDrive unnamed;
    unnamed.DisplayName = L"F:";
    EXPECT_EQ(DriveText(data), L"Data (E:)");
    EXPECT_EQ(DriveText(unnamed), L"(F:)");
    EXPECT_EQ(DriveText(RemovableDrive{}), L"");

    data.CapacityText = L"7.45 GB";
    data.FreeSpaceText = L"7.40 GB";
    data.FileSystem = L"FAT32";
    data.Status = DriveReady;
    unnamed.Status = DriveNoPartitionTable;
    EXPECT_EQ(FormatDriveTable({data, unnamed}),
              L"Drive      Capacity  Free space  Filesystem  Status\n"
              L"Data (E:)  7.45 GB   7.40 GB     FAT32       Ready\n"
              L"(F:)                                         Format required\n");
}

}  // namespace
}  // namespace scour
