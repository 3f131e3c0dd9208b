// The removable drives: their list, from volumes that answer as Windows does,
// and the "Format and Create" sequence against a scripted disk.
#include "media/drive_discovery.h"
#include "media/usb_preparation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "base/strings.h"
#include "base/text.h"
#include "support/test_support.h"
#include "unit/media_fake_volumes.h"

namespace scour {
namespace {

using platform::DiskGeometry;
using platform::DiskLayout;
using platform::DriveLayout;
using platform::PartitionEntry;
using test::AddReadyStick;
using test::FakeVolumes;
using test::kCard;
using test::kStick;
using Events = std::vector<std::string>;
using Target = const platform::DiskTarget&;

TEST(DriveDiscovery, RemovableVolumesInEnumerationOrderWithoutFloppies) {
    FakeVolumes v;
    AddReadyStick(v, kStick, L'F', 1);
    v.Add(L"\\\\?\\Volume{fixed}\\", L'C').removable = false;
    AddReadyStick(v, L"\\\\?\\Volume{floppy-a}\\", L'A', 3);
    AddReadyStick(v, L"\\\\?\\Volume{floppy-b}\\", L'B', 4);
    // The floppy table compares exactly: another case is another volume.
    AddReadyStick(v, L"\\\\?\\VOLUME{FLOPPY-A}\\", 0, 5);
    AddReadyStick(v, kCard, L'E', 2);
    DriveList drives(3);  // a previous list is replaced
    ASSERT_TRUE(DiscoverRemovableDrives(v, drives));
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].VolumePath, kStick.substr(0, kStick.size() - 1));
    EXPECT_EQ(DriveText(drives[0]), L"USBDISK (F:)");
    EXPECT_EQ(drives[1].VolumePath, L"\\\\?\\VOLUME{FLOPPY-A}");
    EXPECT_EQ(drives[1].DriveLetter, -1);  // A: and B: are never searched
    EXPECT_EQ(drives[2].DriveLetter, 4);
    EXPECT_EQ(drives[2].PhysicalDevice, L"\\\\.\\PhysicalDrive2");
    EXPECT_EQ(StatusText(drives[2]), L"Ready");

    v.enumerationFails = true;
    EXPECT_FALSE(DiscoverRemovableDrives(v, drives));
    EXPECT_TRUE(drives.empty());

    // Letters, and the boot loader found through one (unreadable volumes: the Linux tests).
    v.letters.erase(L'F');
    v.letters[L'G'] = kStick;
    v.volumes[kStick].rootFiles.insert(L"ldlinux.sys");
    auto d = ReadRemovableDrive(v, kStick);
    EXPECT_EQ(d.DriveLetter, 6);
    EXPECT_EQ(StatusText(d), L"Bootable disk");
    // The stored path (no backslash) finds its letter again, whatever the case.
    v.letters[L'G'] = L"\\\\?\\VOLUME{11111111-0000-0000-0000-000000000001}\\";
    EXPECT_EQ(ReadRemovableDrive(v, d.VolumePath).DriveLetter, 6);

    // Mounted at no letter: listed, but never bootable.
    v.letters.erase(L'G');
    d = ReadRemovableDrive(v, kStick);
    EXPECT_EQ(d.DriveLetter, -1);
    EXPECT_EQ(DriveText(d), L"USBDISK ");
    EXPECT_EQ(StatusText(d), L"Ready");
}

// The last condition that holds wins: free space, then file system, then table.
TEST(DriveClassification, SpaceFileSystemAndTableInThatOrder) {
    const std::tuple<const wchar_t*, std::uint64_t, bool, DriveStatus> cases[] = {
        {L"FAT32", 15000, true, DriveReady},      {L"FAT32", 14999, true, DriveLowSpace},
        {L"fat", 15000, true, DriveReady},        {L"FAT32 ", 15000, true, DriveNotFat},
        {L"NTFS", 0, true, DriveNotFat},          {L"FAT32", 15000, false, DriveNoPartitionTable},
        {L"FAT32", 1ull << 32, true, DriveReady},  // not cut to 32 bits
    };
    for (const auto& [fileSystem, free, table, status] : cases) {
        RemovableDrive d;
        d.FileSystem = fileSystem;
        d.FreeKilobytes = free;
        d.HasPartitionTable = table;
        EXPECT_EQ(ClassifyDrive(d), status) << ToUtf8(fileSystem) << " " << free << " " << table;
    }
    // A table needs a first partition after offset zero.
    FakeVolumes v;
    AddReadyStick(v, kStick, L'E', 1);
    v.layouts[1] = DriveLayout{4, 0};
    EXPECT_EQ(ReadRemovableDrive(v, kStick).Status, DriveNoPartitionTable);
    v.layouts[1] = DriveLayout{1, 1};
    EXPECT_EQ(ReadRemovableDrive(v, kStick).Status, DriveReady);
}

TEST(DriveSizeText, UnitBoundariesTruncationRoundingAndLargeVolumes) {
    const std::pair<float, const wchar_t*> cases[] = {
        {1023.9f, L"1023 KB"},
        {1048575.0f, L"1024.0 MB"},
        {1048576.0f, L"1.00 GB"},
        // Exact binary halves: the same text from both C libraries' rounding.
        {1280.0f, L"1.2 MB"},
        {1179648.0f, L"1.12 GB"}};
    for (const auto& [kilobytes, text] : cases) {
        EXPECT_EQ(FormatSizeText(kilobytes), text) << kilobytes;
    }
    // 2^32 free sectors: in 32 bits the nearly empty 2 TiB volume would look full.
    RemovableDrive d;
    ApplyVolumeSpace({64, 512, 1u << 26, 1u << 26}, d);
    EXPECT_EQ(d.FreeKilobytes, std::uint64_t{1} << 31);
    EXPECT_EQ(d.FreeSpaceText, L"2048.00 GB");
}

// The command line's listing; a disk to format is never shown bootable.
TEST(DriveList, Table) {
    RemovableDrive data, unnamed;
    data.Label = L"Data";
    data.DisplayName = L"E:";
    unnamed.DisplayName = L"F:";
    unnamed.Status = DriveNoPartitionTable;
    unnamed.BootLoaderPresent = true;
    EXPECT_EQ(FormatDriveTable({data, unnamed}),
              L"Drive      Capacity  Free space  Filesystem  Status\n"
              L"Data (E:)                                    Ready\n"
              L"(F:)                                         Format required\n");
}

// Past cylinder 1023 an entry's CHS fields hold the last address; a table with
// a bad flag, a partition at sector 0 or one past the disk reads as the whole disk.
TEST(Mbr, FarEntriesAndDamagedTables) {
    const DiskGeometry g{2000, 255, 63, 512};
    const std::uint64_t size = 2000ull * 255 * 63 * 512;
    const PartitionEntry far{1100ll * 255 * 63 * 512, 1 << 20, 1100u * 255 * 63, 1, 0x0C};
    platform::MbrSector s{};
    platform::EncodeMbr(s, {1, {far}}, g);
    EXPECT_EQ(std::vector<int>(s.begin() + 447, s.begin() + 450),
              (std::vector<int>{254, 255, 255}));
    EXPECT_EQ(platform::DecodeMbr(s, size).partitions.at(0).hiddenSectors, far.hiddenSectors);
    for (auto [at, value, disk] :
         {std::tuple{446, 1, size}, {454, 0, size}, {446, 0x80, std::uint64_t{1} << 30}}) {
        platform::MbrSector bad = s;
        bad[at] = static_cast<std::uint8_t>(value);
        if (at == 454) {
            bad[455] = bad[456] = bad[457] = 0;  // the first sector field zero
        }
        const auto whole = platform::DecodeMbr(bad, disk).partitions;
        EXPECT_TRUE(whole.size() == 1 && whole[0].startingOffset == 0) << at;
    }
}

// Disk, page and reporter recording one list of events; the `failing` ones fail.
struct Fake final : platform::IDiskPreparer, IUsbPage, platform::IReporter {
    Events events;
    std::set<std::string> failing;
    std::wstring detail, lockedDisk;
    std::string swapAfter;  // another disk answers once this event happened
    std::function<void()> onAsk;
    bool prepared = false;
    int position = -1, upper = 0;

    bool Fails(const std::string& op) const { return failing.count(op) != 0; }
    bool Op(const std::string& e) {
        events.push_back(e);
        return !Fails(e.substr(0, e.find(' ')));
    }
    std::size_t At(const std::string& e) const {
        return static_cast<std::size_t>(std::find(events.begin(), events.end(), e) -
                                        events.begin());
    }
    bool Has(const std::string& e) const { return At(e) < events.size(); }
    // Whether anything changed the disk after the event (after the start without one).
    bool WritesAfter(const char* e) const {
        const auto from = events.begin() + (e ? std::min(At(e) + 1, events.size()) : 0);
        return std::any_of(from, events.end(), [](const std::string& w) {
            return w.starts_with("c") || w == "set" || w == "format" || w == "start";
        });
    }
    struct Lock final : platform::IVolumeLock {
        Fake& f;
        explicit Lock(Fake& fake) : f(fake) {}
        ~Lock() override { f.Op("unlock"); }
    };
    struct Raw final : platform::IRawDisk {
        Fake& f;
        explicit Raw(Fake& fake) : f(fake) {}
        std::optional<platform::DiskIdentity> Identity() override { return f.ReadIdentity({}); }
        std::optional<DiskGeometry> Geometry() override {
            return f.Fails("geometry") ? std::nullopt
                                       : std::optional(DiskGeometry{1000, 255, 63, 512});
        }
        std::optional<DiskLayout> Layout() override {
            // A partitioned disk is refused before the first write, not after clearing.
            return f.Fails("layout") ? DiskLayout{0, {PartitionEntry{32256, 1 << 20, 63, 1, 0x0C}}}
                                     : DiskLayout{0, {PartitionEntry{0, 8'225'280'000}}};
        }
        bool ClearFirstSector() override { return f.Op("clear"); }
        bool CreateMbrDisk() override { return f.Op("create"); }
        bool SetLayout(const DiskLayout&, const DiskGeometry&) override { return f.Op("set"); }
    };
    struct Run final : platform::IInstallerRun {
        Fake& f;
        explicit Run(Fake& fake) : f(fake) {}
        std::optional<unsigned long> Wait() override {
            return f.Op("wait")           ? std::optional(0ul)
                   : f.Fails("exit code") ? std::nullopt
                                          : std::optional(1ul);
        }
    };

    std::optional<platform::DiskIdentity> ReadIdentity(Target) override {
        platform::DiskIdentity id{7, 8'225'280'000, L"SN1", 3};
        id.serial = !swapAfter.empty() && Has(swapAfter) ? L"OTHER" : id.serial;
        return Fails("identity") ? std::nullopt : std::optional(id);
    }
    std::unique_ptr<platform::IVolumeLock> LockVolume(Target t) override {
        lockedDisk = t.diskPath;
        // Only a lock taken is recorded: each must be released.
        return Fails("lock") ? nullptr : (Op("lock"), std::make_unique<Lock>(*this));
    }
    std::unique_ptr<platform::IRawDisk> OpenDisk(Target) override {
        return Op("open") ? std::make_unique<Raw>(*this) : nullptr;
    }
    bool ReleaseVolume(Target) override { return Op("release"); }
    bool Format(Target) override { return Op("format"); }
    bool CopyFolderContents(Target, const std::wstring& folder) override {
        return Op("copy " + ToUtf8(folder.substr(folder.find_last_of(L"/\\") + 1)));
    }
    bool CopyFile(Target, const std::wstring&, const std::wstring& name) override {
        return Op("copy " + ToUtf8(name));
    }
    std::unique_ptr<platform::IInstallerRun> StartInstaller(Target, const std::wstring&) override {
        return Op("start") ? std::make_unique<Run>(*this) : nullptr;
    }
    bool RootFileExists(Target, std::wstring_view name) override {
        return Op("exists " + ToUtf8(name));
    }
    std::optional<platform::VolumeFacts> DescribeVolume(Target) override { return {}; }
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return detail; }

    void SetProgressRange(int, int u) override { upper = u; }
    void SetProgressPosition(int p) override {
        position = p;
        Op("pos " + std::to_string(p));
    }
    int ProgressPosition() override { return position; }
    int ProgressUpper() override { return upper; }
    void ShowProgress() override { Op("show"); }
    void RepaintPage() override {}
    void Pause(int) override {}
    void BeginBusy() override { Op("busy"); }
    void EndBusy() override { Op("idle"); }
    void SetDiskPrepared() override { prepared = true; }
    void RefreshAfterPreparation() override { Op("refresh"); }

    // Messages are recorded by their string id; the disk operations' own words follow them.
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        for (int id = IDS_USB_CONFIRM_OVERWRITE; id <= IDS_USB_COPY_FAILED; ++id) {
            if (text == LoadText(id) + (detail.empty() ? L"" : L"\n\n" + detail)) {
                Op((kind == platform::BoxKind::Error ? "error " : "plain ") + std::to_string(id));
            }
        }
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        EXPECT_EQ(text, LoadText(IDS_USB_CONFIRM_OVERWRITE));
        if (onAsk) {
            onAsk();
        }
        return Op("ask 151");
    }
};

RemovableDrive Drive(DriveStatus status, bool table) {
    RemovableDrive d;
    d.VolumePath = L"vol";
    d.PhysicalDevice = L"disk";
    d.DriveLetter = 4;
    d.FileSystem = status == DriveNotFat ? L"NTFS" : L"FAT32";
    d.HasPartitionTable = table;
    d.Status = status;
    return d;
}

class UsbPreparation : public ::testing::Test {
  protected:
    void SetUp() override {
        test::MakeDirs(program.Path() + L"/common/efi");
        test::MakeDirs(program.Path() + L"/flash");
    }
    UsbOutcome Prepare(Fake& with, const RemovableDrive& d) {
        return PrepareUsbDisk(with, &d, options, services, with, with);
    }
    test::ScratchDir program;
    test::TestServices services{program.Path()};
    WizardOptions options;
    Fake f;
};

TEST_F(UsbPreparation, TheThreeWorkedCases) {
    const Events install = {"busy",       "copy common", "copy flash",         "copy welcome.txt",
                            "copy scour", "start",       "exists ldlinux.sys", "idle",
                            "plain 155",  "refresh"};
    // The drive, and the steps before the installation, in order.
    const std::pair<RemovableDrive, Events> cases[] = {
        {Drive(DriveReady, true), {}},  // neither asked nor formatted
        {Drive(DriveNoPartitionTable, false),
         {"ask 151", "lock", "clear", "create", "set", "unlock", "format"}},
        {Drive(DriveNotFat, true), {"ask 151", "format"}},  // the table kept
    };
    for (const auto& [drive, before] : cases) {
        SCOPED_TRACE(drive.Status);
        Fake run;
        EXPECT_EQ(Prepare(run, drive), UsbOutcome::Prepared);
        Events steps = before;
        steps.insert(steps.end(), install.begin(), install.end());
        std::erase_if(run.events, [](const std::string& e) {
            return e.starts_with("pos ") || e == "show" || e == "open" || e == "release" ||
                   e == "wait";
        });
        EXPECT_EQ(run.events, steps);
        EXPECT_EQ(run.position, 14);  // the bar full
        EXPECT_TRUE(run.prepared);
    }
}

// Every way the sequence stops early: its message, no flag, locks released, no
// write after the failing step; the bar at 0, or a refresh after the installation.
TEST_F(UsbPreparation, StopsWriteNothingAfterTheFailingStep) {
    using enum UsbOutcome;
    const std::map<UsbOutcome, std::string> message = {
        {Declined, "ask 151"},      {VolumeBusy, "error 152"},   {TableFailed, "error 153"},
        {DiskChanged, "error 153"}, {NotFormatted, "error 154"}, {CopyFailed, "error 156"}};
    const RemovableDrive blank = Drive(DriveNoPartitionTable, false);
    const RemovableDrive ready = Drive(DriveReady, true);
    const RemovableDrive ntfs = Drive(DriveNotFat, true);
    struct Case {
        const char* failing;
        RemovableDrive drive;
        UsbOutcome outcome;
        const char* lastWrite;  // nothing at all when null
        std::string swapAfter;
    };
    const Case cases[] = {
        {"ask", blank, Declined, nullptr, ""},
        {"lock", blank, VolumeBusy, nullptr, ""},
        {"open", blank, TableFailed, nullptr, ""},
        {"release", blank, VolumeBusy, "set", ""},
        {"geometry", blank, TableFailed, nullptr, ""},
        {"layout", blank, TableFailed, nullptr, ""},
        {"create", blank, TableFailed, "create", ""},
        {"set", blank, TableFailed, "set", ""},
        {"format", Drive(DriveLowSpace, true), NotFormatted, "format", ""},
        // Another disk at the same place.
        {"", blank, DiskChanged, "set", "set"},
        {"", ready, DiskChanged, nullptr, "pos 2"},
        {"", ready, DiskChanged, "copy scour", "copy scour"},
        {"identity", ready, DiskChanged, nullptr, ""},
        {"identity", ntfs, DiskChanged, nullptr, ""},  // told before any question
        {"wait", ready, CopyFailed, "start", ""},
        {"exit code", ready, CopyFailed, "start", ""},
        {"start", ready, CopyFailed, "start", ""},
        {"exists", ready, CopyFailed, "start", ""},
        // A failed copy is a failure, not a disk missing its kernel reported as done.
        {"copy", ready, CopyFailed, "copy common", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " " + c.swapAfter);
        Fake run;
        run.failing = {c.failing, c.failing == std::string("exit code") ? "wait" : ""};
        run.swapAfter = c.swapAfter;
        EXPECT_EQ(Prepare(run, c.drive), c.outcome);
        EXPECT_TRUE(run.Has(message.at(c.outcome))) << ::testing::PrintToString(run.events);
        EXPECT_FALSE(run.Has("plain 155") || run.prepared);
        EXPECT_EQ(run.position == 0, c.outcome != CopyFailed);
        EXPECT_EQ(run.Has("refresh"), c.outcome == CopyFailed);
        EXPECT_TRUE(run.Has("show"));
        EXPECT_FALSE(run.Fails("identity") && run.Has("ask 151"));
        EXPECT_EQ(run.Has("lock"), run.Has("unlock"));
        EXPECT_EQ(run.Has("busy"), run.Has("idle"));
        EXPECT_FALSE(run.WritesAfter(c.lastWrite));
        EXPECT_TRUE(c.lastWrite == nullptr || run.Has(c.lastWrite));
    }
}

TEST_F(UsbPreparation, WorksOnTheEntryItStartedWithWhenTheListChanges) {
    RemovableDrive entry = Drive(DriveNoPartitionTable, false);
    // The page refreshes while the question is open and the entry changes.
    f.onAsk = [&] { entry = Drive(DriveReady, true), entry.PhysicalDevice = L"other disk"; };
    EXPECT_EQ(Prepare(f, entry), UsbOutcome::Prepared);
    EXPECT_EQ(f.lockedDisk, L"disk");
    EXPECT_TRUE(f.Has("format"));
    Fake idle;
    EXPECT_EQ(PrepareUsbDisk(idle, nullptr, options, services, idle, idle),
              UsbOutcome::NoSelection);
    EXPECT_TRUE(idle.events.empty());
}

// The entry as written, on a real image: the Linux disk tests.
TEST(BootPartition, SecondTrackToLastWholeCylinderOrNothing) {
    const std::pair<DiskGeometry, std::int64_t> cases[] = {
        {{1000, 255, 63, 512}, 8225247744},
        // 4096-byte sectors: the cylinder size must not be cut to 32 bits.
        {{100, 255, 63, 4096}, 100LL * 255 * 63 * 4096 - 63 * 4096},
        {{0, 255, 63, 512}, -1},
        {{1ULL << 62, 255, 63, 512}, -1},  // overflow
        {{267350, 255, 63, 512}, -1},      // more than 2^32 sectors
    };
    for (const auto& [g, length] : cases) {
        auto q = BootPartitionFor(g);
        EXPECT_EQ(q ? q->partitionLength : -1, length) << g.cylinders << " " << g.bytesPerSector;
    }
}

}  // namespace
}  // namespace scour
