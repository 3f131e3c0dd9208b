// The Windows disk operations as far as Wine implements them. Every destructive
// call aims at the system disk, which must be refused before the system is asked.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include "platform/win32/disk_ops_win32.h"
#include "support/test_support.h"

namespace scour::platform {
namespace {

std::wstring Cmd(const std::wstring& args) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\cmd.exe /c " + args;
}

// Only the three error values of the format dialog mean "not formatted".
TEST(Win32DiskNames, InstallerLineRootDiskPathAndFormatResult) {
    EXPECT_EQ(InstallerCommandLine(4), L"E:\\syslinux.exe -m -a E:");
    EXPECT_EQ(DriveRoot(25), L"Z:");
    EXPECT_EQ(DriveRoot(-1), L"");
    EXPECT_EQ(DriveRoot(26), L"");
    EXPECT_EQ(InstallerCommandLine(-1), L"");
    EXPECT_EQ(PhysicalDiskPath(2), L"\\\\.\\PhysicalDrive2");
    EXPECT_FALSE(FormatSucceeded(SHFMT_ERROR));
    EXPECT_FALSE(FormatSucceeded(SHFMT_CANCEL));
    EXPECT_FALSE(FormatSucceeded(SHFMT_NOFORMAT));
    EXPECT_TRUE(FormatSucceeded(SHFMT_ID_DEFAULT));
}

// Wine makes windows only on an X display; without one every attempt waits
// for a desktop that never comes, and fails.
bool CanMakeWindows() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return !wine || GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0;
}

// The format dialog refuses to open without an owner window. Run on a display
// of its own by the ctest case win32_format_owner_on_display.
TEST(Win32FormatOwner, AlwaysAWindowAndOnlyItsOwnIsDestroyed) {
    if (!CanMakeWindows()) {
        GTEST_SKIP() << "Wine without a display cannot make windows";
    }
    HWND given = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(given, nullptr);
    {
        FormatOwner owner(given);
        EXPECT_EQ(owner.Get(), given);
        EXPECT_FALSE(owner.MadeItsOwn());
    }
    EXPECT_TRUE(IsWindow(given));
    DestroyWindow(given);

    HWND made = nullptr;
    {
        FormatOwner owner(nullptr);
        ASSERT_NE(owner.Get(), nullptr);
        EXPECT_TRUE(IsWindow(owner.Get()));
        // The console's window when there is one, else a hidden window of its own.
        EXPECT_EQ(owner.MadeItsOwn(), GetConsoleWindow() == nullptr);
        if (owner.MadeItsOwn()) {
            made = owner.Get();
            EXPECT_FALSE(IsWindowVisible(made));
            EXPECT_EQ(GetParent(made), nullptr);
        }
    }
    if (made != nullptr) {
        EXPECT_FALSE(IsWindow(made));
    }
}

TEST(Win32SystemDisk, IsKnownAndRefusedForEveryDestructiveCall) {
    auto system = SystemDriveNumbers(test::BinDir());
    ASSERT_TRUE(system);
    auto c = DeviceNumberOf(L"\\\\.\\C:");
    ASSERT_TRUE(c);
    EXPECT_EQ(system->count(*c), 1u);

    wchar_t volume[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
    DiskTarget target{volume, L"", *c, 2};
    Win32DiskPreparer disk(test::BinDir(), nullptr);
    // Wine's lock is a stub that succeeds: only the check stands in the way.
    EXPECT_EQ(disk.LockVolume(target), nullptr);
    EXPECT_NE(disk.FailureDetail().find(L"running system"), std::wstring::npos);
    EXPECT_EQ(disk.OpenDisk(target), nullptr);
    EXPECT_FALSE(disk.Format(target));
    EXPECT_FALSE(disk.MayWrite(-1));

    // Reading is harmless and repeatable: the same disk twice is the same identity.
    auto first = disk.ReadIdentity(target);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->deviceNumber, static_cast<std::uint64_t>(*c));
    EXPECT_GT(first->sizeBytes, 0u);
    EXPECT_EQ(disk.ReadIdentity(target), first);
}

TEST(Win32Files, ShellCopiesFolderContentsWithSubfolders) {
    test::ScratchDir from, to;
    test::MakeDirs(from / L"efi");
    test::WriteFile(from / L"vmlinuz", "kernel");
    test::WriteFile(from.Path() + L"\\efi\\boot.img", "efi");
    ASSERT_TRUE(CopyFolderContentsInto(nullptr, from.Path(), to.Path()));
    EXPECT_EQ(test::ReadFile(to / L"vmlinuz"), "kernel");
    EXPECT_EQ(test::ReadFile(to.Path() + L"\\efi\\boot.img"), "efi");
    // Again over the same files: replaced without a question.
    test::WriteFile(from / L"vmlinuz", "kernel 2");
    ASSERT_TRUE(CopyFolderContentsInto(nullptr, from.Path(), to.Path()));
    EXPECT_EQ(test::ReadFile(to / L"vmlinuz"), "kernel 2");

    ASSERT_TRUE(CopyFileInto(from / L"vmlinuz", to.Path(), L"scour"));
    EXPECT_TRUE(FileInRoot(to.Path(), L"scour"));
    EXPECT_FALSE(FileInRoot(to.Path(), L"ldlinux.sys"));
    EXPECT_FALSE(CopyFileInto(from / L"missing", to.Path(), L"x"));
}

TEST(Win32Installer, RunsHiddenInTheRootAndReportsItsExitCode) {
    test::ScratchDir root;
    auto run = StartHidden(Cmd(L"echo loader> ldlinux.sys & exit 3"), root.Path() + L"\\");
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->Wait(), 3ul);
    EXPECT_TRUE(FileInRoot(root.Path(), L"ldlinux.sys"));

    EXPECT_EQ(StartHidden(root.Path() + L"\\no-such-installer.exe", root.Path()), nullptr);
}

}  // namespace
}  // namespace scour::platform
