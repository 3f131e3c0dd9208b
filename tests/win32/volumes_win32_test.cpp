// The Win32 volume queries as Wine implements them: only C: and Z: exist, both
// fixed, and the disk ioctls on physical drives are not there.
#include <gtest/gtest.h>
#include <windows.h>

#include "media/drive_discovery.h"
#include "platform/win32/volumes_win32.h"
#include "support/test_support.h"

namespace scour {
namespace {

TEST(Win32Volumes, EnumerationRunsAndFindsNothingRemovable) {
    platform::Win32VolumeSystem v(test::BinDir());
    auto names = v.EnumerateVolumes();
    ASSERT_TRUE(names && !names->empty());
    for (const auto& n : *names) {
        EXPECT_EQ(n.rfind(L"\\\\?\\Volume{", 0), 0u) << n;
        EXPECT_FALSE(v.IsRemovableVolume(n)) << n;
    }
    DriveList drives(1);
    EXPECT_TRUE(DiscoverRemovableDrives(v, drives));
    EXPECT_TRUE(drives.empty());
    // The build folder lies on Z:, a volume that is never listed.
    const std::wstring z = v.VolumeNameForRoot(L"Z:\\").value_or(L"?");
    const auto& kept = v.ProtectedVolumes();
    EXPECT_NE(std::find(kept.begin(), kept.end(), z.substr(0, z.size() - 1)), kept.end());
}

TEST(Win32Volumes, FixedVolumeReadsThroughTheSamePath) {
    platform::Win32VolumeSystem v(test::BinDir());
    const std::wstring c = v.VolumeNameForRoot(L"C:\\").value_or(L"");
    ASSERT_FALSE(c.empty());
    const wchar_t* loader = L"C:\\ldlinux.sys";
    DeleteFileW(loader);
    auto d = ReadRemovableDrive(v, c);
    EXPECT_EQ(d.VolumePath + L"\\", c);
    EXPECT_EQ(d.DriveLetter, 2);
    EXPECT_EQ(DriveText(d), d.Label.empty() ? L"(C:)" : d.Label + L" (C:)");

    // What Wine reports for C: arrives, through the same calls as for a stick.
    wchar_t fileSystem[16] = {};
    GetVolumeInformationW(L"C:\\", nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 16);
    EXPECT_EQ(d.FileSystem, fileSystem);
    EXPECT_FALSE(d.CapacityText.empty() || d.FreeSpaceText.empty());

    // The device number is faked; the physical drive itself cannot be opened,
    // so no partition table is seen and the volume would need formatting.
    ASSERT_TRUE(v.PhysicalDriveNumber(c));
    EXPECT_EQ(d.PhysicalDevice, L"\\\\.\\PhysicalDrive" + std::to_wstring(d.PhysicalDrive));
    EXPECT_EQ(StatusText(d), L"Format required");

    // The boot loader is looked for through the letter.
    EXPECT_FALSE(d.BootLoaderPresent);
    test::WriteFile(loader, "loader");
    EXPECT_TRUE(ReadRemovableDrive(v, c).BootLoaderPresent);
    EXPECT_FALSE(v.RootFileExists(c, -1, L"ldlinux.sys"));
    DeleteFileW(loader);
}

}  // namespace
}  // namespace scour
