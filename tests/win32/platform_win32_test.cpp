// The Windows platform as Wine implements it: disks and volumes (C: and Z:, fixed,
// no disk ioctls; destructive calls aim at the system disk, to be refused first),
// names, the registry, and the resources generated into scourline-wizard.exe.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string_view>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "media/drive_discovery.h"
#include "options/stored_values.h"
#include "pages/share_test.h"
#include "platform/win32/disk_ops_win32.h"
#include "platform/win32/network_win32.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/volumes_win32.h"
#include "support/test_support.h"

namespace scour::platform {
namespace {

// Only the three error values of the format dialog mean "not formatted".
TEST(Win32DiskNames, InstallerLineRootAndFormatResult) {
    EXPECT_EQ(InstallerCommandLine(4), L"E:\\syslinux.exe -m -a E:");
    EXPECT_EQ(DriveRoot(-1), L"");
    EXPECT_EQ(DriveRoot(26), L"");
    EXPECT_FALSE(FormatSucceeded(SHFMT_ERROR));
    EXPECT_FALSE(FormatSucceeded(SHFMT_CANCEL));
    EXPECT_FALSE(FormatSucceeded(SHFMT_NOFORMAT));
    EXPECT_TRUE(FormatSucceeded(SHFMT_ID_DEFAULT));
}

// The format dialog refuses to open without an owner window. Run on a display
// by the ctest case win32_format_owner_on_display; Wine makes no windows without one.
TEST(Win32FormatOwner, AlwaysAWindowAndOnlyItsOwnIsDestroyed) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (GetProcAddress(ntdll, "wine_get_version") != nullptr &&
        GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
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
    test::WriteFile(from / L"vmlinuz", "kernel 2");
    ASSERT_TRUE(CopyFolderContentsInto(nullptr, from.Path(), to.Path()));
    EXPECT_EQ(test::ReadFile(to / L"vmlinuz"), "kernel 2");  // replaced without a question

    ASSERT_TRUE(CopyFileInto(from / L"vmlinuz", to.Path(), L"scour"));
    EXPECT_TRUE(FileInRoot(to.Path(), L"scour"));
    EXPECT_FALSE(FileInRoot(to.Path(), L"ldlinux.sys"));
    EXPECT_FALSE(CopyFileInto(from / L"missing", to.Path(), L"x"));
}

TEST(Win32Installer, RunsHiddenInTheRootAndReportsItsExitCode) {
    test::ScratchDir root;
    auto run = StartHidden(L"cmd.exe /c echo loader> ldlinux.sys & exit 3", root.Path() + L"\\");
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->Wait(), 3ul);
    EXPECT_TRUE(FileInRoot(root.Path(), L"ldlinux.sys"));

    EXPECT_EQ(StartHidden(root.Path() + L"\\no-such-installer.exe", root.Path()), nullptr);
}

TEST(Win32Volumes, EnumerationRunsAndFindsNothingRemovable) {
    Win32VolumeSystem v(test::BinDir());
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
    Win32VolumeSystem v(test::BinDir());
    const std::wstring c = v.VolumeNameForRoot(L"C:\\").value_or(L"");
    ASSERT_FALSE(c.empty());
    const wchar_t* loader = L"C:\\ldlinux.sys";
    DeleteFileW(loader);
    auto d = ReadRemovableDrive(v, c);
    EXPECT_EQ(d.VolumePath + L"\\", c);
    EXPECT_EQ(d.DriveLetter, 2);
    EXPECT_EQ(DriveText(d), d.Label.empty() ? L"(C:)" : d.Label + L" (C:)");

    // What Wine reports for C: arrives through the same calls as for a stick.
    wchar_t fileSystem[16] = {};
    GetVolumeInformationW(L"C:\\", nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 16);
    EXPECT_EQ(d.FileSystem, fileSystem);
    EXPECT_FALSE(d.CapacityText.empty() || d.FreeSpaceText.empty());

    // Wine's physical drive cannot be opened: no partition table, so "Format required".
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

TEST(Win32Network, ResolvesLoopbackNamesOnly) {
    Win32Network network;
    using Address = std::array<std::uint8_t, 4>;
    EXPECT_EQ(network.ResolveIpv4(L"127.0.0.1"), (Address{127, 0, 0, 1}));
    EXPECT_EQ(network.ResolveIpv4(L"localhost"), (Address{127, 0, 0, 1}));
    // An empty name would otherwise give this machine's own address.
    EXPECT_FALSE(network.ResolveIpv4(L""));
    EXPECT_EQ(MakeShareIpForm(L"\\\\localhost\\logs\\wipe", network), L"\\\\127.0.0.1\\logs\\wipe");
}

using Bytes = std::vector<std::uint8_t>;

// A key of the test's own below the product's key, deleted afterwards.
class Registry : public ::testing::Test {
  protected:
    ~Registry() override { RegDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str()); }

    std::wstring subKey_ =
        L"SOFTWARE\\Valdane\\Scourline\\Test-" + std::to_wstring(std::random_device()());
    RegistryStore store_{subKey_};
};

TEST_F(Registry, StoresExactTypesAndBytes) {
    EXPECT_FALSE(store_.OpenKey());
    long status = -1;
    auto key = store_.CreateKey(status);
    ASSERT_TRUE(key);
    EXPECT_EQ(status, 0);
    // The registry itself would add a terminator when the character behind the data is zero.
    const std::vector<std::pair<std::wstring, RegValue>> values = {
        {L"empty", {kRegSz, {}}},
        {L"odd", {kRegSz, {'a', 0, 'b'}}},
        {L"open", {kRegSz, {'a', 0}}},
        {L"expand", {kRegExpandSz, EncodeText(L"%T%")}},
        {L"big", {kRegBinary, Bytes(100000, 7)}},
        {L"short", {kRegDword, {1, 2}}},
    };
    for (const auto& [name, v] : values) {
        ASSERT_TRUE(key->Set(name, v.type, v.data)) << ToUtf8(name);
    }
    EXPECT_EQ(key->Commit(), 0);
    // The existing key opens for writing too, as the store promises.
    auto again = store_.OpenKey();
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->Set(L"again", kRegDword, {1, 0, 0, 0}));
    RegValue written;
    EXPECT_TRUE(again->Query(L"again", written) && written.data == Bytes({1, 0, 0, 0}));
    for (const auto& [name, v] : values) {
        RegValue got;
        ASSERT_TRUE(again->Query(name, got)) << ToUtf8(name);
        EXPECT_EQ(got.type, v.type) << ToUtf8(name);
        EXPECT_EQ(got.data, v.data) << ToUtf8(name);
    }
    RegistryStore bad(L"SOFTWARE\\Valdane\\Scourline\\" + std::wstring(300, L'k'));
    EXPECT_FALSE(bad.CreateKey(status));
    EXPECT_NE(status, 0);
}

// What the wizard's windows show comes from the exe's resources, not the portable tables.
TEST(WizardResources, TextsPasswordsAndManifest) {
    HMODULE exe = LoadLibraryExW((test::BinDir() + L"\\scourline-wizard.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    auto raw = [&](const wchar_t* type, int id) -> std::string_view {
        HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(id), type);
        if (found == nullptr) {
            return {};
        }
        return {static_cast<const char*>(LockResource(LoadResource(exe, found))),
                SizeofResource(exe, found)};
    };
    // The style of a control (a DLGITEMTEMPLATEEX is DWORD aligned: help ID,
    // extended style, style, four coordinates, ID), 0 if none.
    auto controlStyle = [&](int dialog, int id) -> DWORD {
        const std::string_view d = raw(RT_DIALOG, dialog);
        for (std::size_t at = 0; at + 24 <= d.size(); at += 4) {
            DWORD style = 0, got = 0;
            std::memcpy(&style, d.data() + at + 8, 4);
            std::memcpy(&got, d.data() + at + 20, 4);
            if (got == static_cast<DWORD>(id) && (style & WS_CHILD) != 0) {
                return style;
            }
        }
        return 0;
    };
    int texts = 0;
    for (int id = 1; id < 65536; ++id) {
        if (!LoadText(id).empty()) {
            const wchar_t* text = nullptr;
            const int length =
                LoadStringW(exe, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
            EXPECT_EQ(ToUtf8(std::wstring(text != nullptr ? text : L"", length)),
                      ToUtf8(LoadText(id)))
                << "string " << id;
            ++texts;
        }
    }
    EXPECT_GT(texts, 40);
    EXPECT_NE(controlStyle(IDD_LOG, IDC_LOG_PASSWORD) & ES_PASSWORD, 0u);
    EXPECT_NE(controlStyle(IDD_PASSWORD, IDC_PASSWD_PASSWORD) & ES_PASSWORD, 0u);
    EXPECT_EQ(controlStyle(IDD_PASSWORD, IDC_PASSWD_USER) & ES_PASSWORD, 0u);
    EXPECT_NE(raw(RT_MANIFEST, 1).find("level=\"requireAdministrator\""), std::string_view::npos);
    FreeLibrary(exe);
}

}  // namespace
}  // namespace scour::platform
