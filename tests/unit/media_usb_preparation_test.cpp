// The "Format and Create" sequence against a scripted disk: which messages,
// which progress positions, and above all what gets written when.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/strings.h"
#include "base/text.h"
#include "media/usb_preparation.h"
#include "support/test_support.h"

namespace scour {
namespace {

using platform::BoxKind;
using platform::DiskGeometry;
using platform::DiskIdentity;
using platform::DiskLayout;
using platform::DiskTarget;
using platform::PartitionEntry;

using Events = std::vector<std::string>;

// Calls that change the disk. The fake records every call; a test looks at
// whether any of these came after a point.
const char* const kWrites[] = {"clear", "create", "set", "format", "copy", "start"};

bool IsWrite(const std::string& e) {
    return std::any_of(std::begin(kWrites), std::end(kWrites),
                       [&](const char* w) { return e.rfind(w, 0) == 0; });
}

struct FakeDisk final : platform::IDiskPreparer {
    Events& events;
    explicit FakeDisk(Events& e) : events(e) {}

    // The script: what each operation answers.
    DiskIdentity identity{7, 8'225'280'000, L"SN1", 3};
    std::function<std::optional<DiskIdentity>()> identityNow = [this] { return identity; };
    bool lockOk = true, openOk = true, createOk = true, setOk = true, releaseOk = true;
    bool formatOk = true, copyOk = true, startOk = true, loaderThere = true;
    std::optional<DiskGeometry> geometry = DiskGeometry{1000, 255, 63, 512};
    std::optional<DiskLayout> layout = DiskLayout{0, {PartitionEntry{0, 8'225'280'000}}};
    std::optional<unsigned long> exitCode = 0;
    std::map<std::string, std::string> copied;  // name on the disk -> bytes
    DiskLayout written;
    std::wstring lockedDisk;

    void Note(const std::string& e) { events.push_back(e); }

    struct Lock final : platform::IVolumeLock {
        FakeDisk& d;
        explicit Lock(FakeDisk& disk) : d(disk) {}
        ~Lock() override { d.Note("unlock"); }
    };
    struct Raw final : platform::IRawDisk {
        FakeDisk& d;
        explicit Raw(FakeDisk& disk) : d(disk) {}
        std::optional<DiskIdentity> Identity() override { return d.identityNow(); }
        std::optional<DiskGeometry> Geometry() override { return d.geometry; }
        std::optional<DiskLayout> Layout() override { return d.layout; }
        bool ClearFirstSector() override { return d.Note("clear"), true; }
        bool CreateMbrDisk() override { return d.Note("create"), d.createOk; }
        bool SetLayout(const DiskLayout& l, const DiskGeometry&) override {
            d.Note("set");
            d.written = l;
            return d.setOk;
        }
    };
    struct Run final : platform::IInstallerRun {
        FakeDisk& d;
        explicit Run(FakeDisk& disk) : d(disk) {}
        std::optional<unsigned long> Wait() override { return d.Note("wait"), d.exitCode; }
    };

    std::optional<DiskIdentity> ReadIdentity(const DiskTarget&) override { return identityNow(); }
    std::unique_ptr<platform::IVolumeLock> LockVolume(const DiskTarget& t) override {
        Note("lock");
        lockedDisk = t.diskPath;
        return lockOk ? std::make_unique<Lock>(*this) : nullptr;
    }
    std::unique_ptr<platform::IRawDisk> OpenDisk(const DiskTarget&) override {
        Note("open");
        return openOk ? std::make_unique<Raw>(*this) : nullptr;
    }
    bool ReleaseVolume(const DiskTarget&) override { return Note("release"), releaseOk; }
    bool Format(const DiskTarget&) override { return Note("format"), formatOk; }
    bool CopyFolderContents(const DiskTarget&, const std::wstring& folder) override {
        Note("copy " + ToUtf8(folder.substr(folder.find_last_of(L"/\\") + 1)));
        return copyOk;
    }
    bool CopyFile(const DiskTarget&, const std::wstring& source,
                  const std::wstring& name) override {
        Note("copy " + ToUtf8(name));
        copied[ToUtf8(name)] = test::ReadFile(source).value_or("<missing>");
        return copyOk;
    }
    std::unique_ptr<platform::IInstallerRun> StartInstaller(const DiskTarget&,
                                                            const std::wstring&) override {
        Note("start");
        return startOk ? std::make_unique<Run>(*this) : nullptr;
    }
    bool RootFileExists(const DiskTarget&, std::wstring_view name) override {
        Note("exists " + ToUtf8(name));
        return loaderThere;
    }
    std::optional<platform::VolumeFacts> DescribeVolume(const DiskTarget&) override { return {}; }
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return {}; }
};

struct FakePage final : IUsbPage {
    Events& events;
    int position = -1, upper = 0;
    bool prepared = false;
    std::function<void()> onRepaint;
    explicit FakePage(Events& e) : events(e) {}
    void SetProgressRange(int, int u) override { upper = u; }
    void SetProgressPosition(int p) override {
        position = p;
        events.push_back("pos " + std::to_string(p));
    }
    int ProgressPosition() override { return position; }
    int ProgressUpper() override { return upper; }
    void ShowProgress() override { events.push_back("show"); }
    void RepaintPage() override {
        if (onRepaint) {
            onRepaint();
        }
    }
    void Pause(int) override {}
    void BeginBusy() override { events.push_back("busy"); }
    void EndBusy() override { events.push_back("idle"); }
    void SetDiskPrepared() override { prepared = true; }
    void RefreshAfterPreparation() override { events.push_back("refresh"); }
};

struct FakeReporter final : platform::IReporter {
    Events& events;
    bool answer = true;
    std::function<void()> onAsk;
    explicit FakeReporter(Events& e) : events(e) {}
    void ShowMessage(BoxKind kind, const std::wstring& caption, const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        for (int id = IDS_USB_CONFIRM_OVERWRITE; id <= IDS_USB_COPY_FAILED; ++id) {
            if (text == LoadText(id)) {
                events.push_back((kind == BoxKind::Error ? "error " : "plain ") +
                                 std::to_string(id));
            }
        }
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        EXPECT_EQ(text, LoadText(IDS_USB_CONFIRM_OVERWRITE));
        events.push_back("ask 151");
        if (onAsk) {
            onAsk();
        }
        return answer;
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
    UsbOutcome Prepare(const RemovableDrive& d) { return Prepare(disk, d); }
    UsbOutcome Prepare(FakeDisk& with, const RemovableDrive& d) {
        return PrepareUsbDisk(page, &d, options, services, with, reporter);
    }
    std::vector<int> Positions() const {
        std::vector<int> out;
        for (const auto& e : events) {
            if (e.rfind("pos ", 0) == 0) {
                out.push_back(std::stoi(e.substr(4)));
            }
        }
        return out;
    }
    bool Has(const std::string& e) const {
        return std::find(events.begin(), events.end(), e) != events.end();
    }
    // The index of an event, or the end.
    std::size_t At(const std::string& e) const {
        return static_cast<std::size_t>(std::find(events.begin(), events.end(), e) -
                                        events.begin());
    }
    bool AnyWrite() const { return std::any_of(events.begin(), events.end(), IsWrite); }
    bool WritesAfter(const std::string& e) const {
        std::size_t from = std::min(At(e) + 1, events.size());
        return std::any_of(events.begin() + static_cast<std::ptrdiff_t>(from), events.end(),
                           IsWrite);
    }
    // A failure that stops: its message, the bar at 0, no refresh, no flag.
    void ExpectStopped(const std::string& message) {
        EXPECT_TRUE(Has(message)) << ::testing::PrintToString(events);
        EXPECT_EQ(page.position, 0);
        EXPECT_FALSE(Has("refresh"));
        EXPECT_FALSE(page.prepared);
    }

    Events events;
    test::ScratchDir program;
    test::TestServices services{program.Path()};
    WizardOptions options;
    FakeDisk disk{events};
    FakePage page{events};
    FakeReporter reporter{events};
};

// --- the three worked cases -----------------------------------------------------------

TEST_F(UsbPreparation, ReadyDiskIsNeitherAskedNorFormattedAndMovesTheBarAsDescribed) {
    EXPECT_EQ(Prepare(Drive(DriveReady, true)), UsbOutcome::Prepared);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14}));
    EXPECT_FALSE(Has("ask 151"));
    EXPECT_FALSE(Has("lock"));
    EXPECT_FALSE(Has("format"));
    EXPECT_TRUE(page.prepared);
    EXPECT_LT(At("plain 155"), At("refresh"));
    // The files in order, the busy cursor around them, the loader checked last.
    Events expected = {"busy",       "copy common", "copy flash", "copy welcome.txt",
                       "copy scour", "start",       "wait",       "exists ldlinux.sys",
                       "idle"};
    Events got;
    std::copy_if(events.begin(), events.end(), std::back_inserter(got), [&](const std::string& e) {
        return std::find(expected.begin(), expected.end(), e) != expected.end();
    });
    EXPECT_EQ(got, expected);
}

TEST_F(UsbPreparation, DiskWithoutTableIsAskedLockedPartitionedUnlockedThenFormatted) {
    EXPECT_EQ(Prepare(Drive(DriveNoPartitionTable, false)), UsbOutcome::Prepared);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14}));
    EXPECT_LT(At("ask 151"), At("lock"));
    EXPECT_LT(At("lock"), At("clear"));
    EXPECT_LT(At("clear"), At("create"));
    EXPECT_LT(At("create"), At("set"));
    EXPECT_LT(At("set"), At("unlock"));
    EXPECT_LT(At("unlock"), At("format"));
    EXPECT_EQ(disk.lockedDisk, L"disk");
    // The one partition: type 0xEF, active, from the second track; three empty entries.
    ASSERT_EQ(disk.written.partitions.size(), 4u);
    EXPECT_EQ(disk.written.partitions[0].partitionType, 0xEF);
    EXPECT_TRUE(disk.written.partitions[0].bootIndicator);
    EXPECT_EQ(disk.written.partitions[0].startingOffset, 32256);
    EXPECT_EQ(disk.written.partitions[1].partitionType, 0);
}

TEST_F(UsbPreparation, NtfsDiskWithTableIsAskedAndFormattedButKeepsItsTable) {
    EXPECT_EQ(Prepare(Drive(DriveNotFat, true)), UsbOutcome::Prepared);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14}));
    EXPECT_TRUE(Has("ask 151"));
    EXPECT_TRUE(Has("format"));
    EXPECT_FALSE(Has("lock"));
    EXPECT_FALSE(Has("set"));
}

// --- stops: nothing written after them --------------------------------------------------------

TEST_F(UsbPreparation, NoToTheQuestionLeavesTheDiskUntouched) {
    reporter.answer = false;
    EXPECT_EQ(Prepare(Drive(DriveNoPartitionTable, false)), UsbOutcome::Declined);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 0}));
    EXPECT_TRUE(Has("show"));
    EXPECT_FALSE(AnyWrite());
    EXPECT_FALSE(Has("lock"));
    ExpectStopped("ask 151");
}

TEST_F(UsbPreparation, BusyVolumeGives152AndWritesNothing) {
    disk.lockOk = false;
    EXPECT_EQ(Prepare(Drive(DriveNoPartitionTable, false)), UsbOutcome::VolumeBusy);
    ExpectStopped("error 152");
    EXPECT_FALSE(AnyWrite());

    events.clear();
    disk.releaseOk = false;  // a volume still in use when the format comes
    EXPECT_EQ(Prepare(Drive(DriveNotFat, true)), UsbOutcome::VolumeBusy);
    ExpectStopped("error 152");
    EXPECT_FALSE(Has("format"));
}

TEST_F(UsbPreparation, TableFailuresGive153AndAlwaysUnlock) {
    struct Case {
        const char* what;
        std::function<void(FakeDisk&)> script;
        bool anyWrite;
    };
    const Case cases[] = {
        {"disk cannot be opened", [](FakeDisk& d) { d.openOk = false; }, false},
        {"geometry unreadable", [](FakeDisk& d) { d.geometry.reset(); }, false},
        // The check comes before the first write, unlike clearing first and checking after.
        {"disk already partitioned",
         [](FakeDisk& d) {
             d.layout->partitions = {PartitionEntry{32256, 1 << 20, 63, 1, 0x0C}};
         },
         false},
        {"second slot partitioned",
         [](FakeDisk& d) {
             d.layout->partitions = {PartitionEntry{}, PartitionEntry{1 << 20, 1 << 20, 0, 2, 7}};
         },
         false},
        {"disk smaller than a cylinder", [](FakeDisk& d) { d.geometry->cylinders = 0; }, false},
        {"empty disk not created", [](FakeDisk& d) { d.createOk = false; }, true},
        {"layout not set", [](FakeDisk& d) { d.setOk = false; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        FakeDisk fresh(events);
        c.script(fresh);
        EXPECT_EQ(Prepare(fresh, Drive(DriveNoPartitionTable, false)), UsbOutcome::TableFailed);
        ExpectStopped("error 153");
        EXPECT_TRUE(Has("unlock"));
        EXPECT_FALSE(Has("format"));
        EXPECT_EQ(Has("clear"), c.anyWrite);
    }
}

TEST_F(UsbPreparation, FormatNotDoneGives154AndCopiesNothing) {
    disk.formatOk = false;
    EXPECT_EQ(Prepare(Drive(DriveLowSpace, true)), UsbOutcome::NotFormatted);
    ExpectStopped("error 154");
    EXPECT_FALSE(WritesAfter("format"));
}

TEST_F(UsbPreparation, InstallFailuresGive156WithRefreshAndNoFlag) {
    struct Case {
        const char* what;
        std::function<void(FakeDisk&)> script;
        const char* lastCall;
    };
    const Case cases[] = {
        {"installer exits with 1", [](FakeDisk& d) { d.exitCode = 1; }, "wait"},
        {"exit code unreadable", [](FakeDisk& d) { d.exitCode.reset(); }, "wait"},
        {"installer not started", [](FakeDisk& d) { d.startOk = false; }, "start"},
        {"loader missing afterwards", [](FakeDisk& d) { d.loaderThere = false; },
         "exists ldlinux.sys"},
        // A failed copy is a failure, not a disk missing its kernel reported as done.
        {"copy fails", [](FakeDisk& d) { d.copyOk = false; }, "copy common"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        FakeDisk fresh(events);
        c.script(fresh);
        EXPECT_EQ(Prepare(fresh, Drive(DriveReady, true)), UsbOutcome::CopyFailed);
        EXPECT_TRUE(Has("error 156"));
        EXPECT_FALSE(Has("plain 155"));
        EXPECT_FALSE(page.prepared);
        EXPECT_LT(At(c.lastCall), At("error 156"));
        EXPECT_LT(At("error 156"), At("refresh"));
        EXPECT_LT(At("busy"), At("idle"));
        EXPECT_NE(page.position, 0);
    }
}

// --- the disk must stay the one the run started with -------------------------------------

TEST_F(UsbPreparation, DiskSwappedAtAnyDestructiveStepStopsWith153) {
    struct Case {
        const char* what;
        DriveStatus status;
        bool table;
        const char* swapAfter;  // the event after which another disk answers
        const char* neverCalled;
    };
    const Case cases[] = {
        {"during the question", DriveNoPartitionTable, false, "ask 151", "clear"},
        {"before the format", DriveNotFat, true, "pos 1", "format"},
        {"before the copies", DriveReady, true, "pos 2", "copy common"},
        {"before the installer", DriveReady, true, "copy scour", "start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        FakeDisk fresh(events);
        std::string trigger = c.swapAfter;
        fresh.identityNow = [&]() -> std::optional<DiskIdentity> {
            DiskIdentity id = fresh.identity;
            if (std::find(events.begin(), events.end(), trigger) != events.end()) {
                id.serial = L"OTHER";
            }
            return id;
        };
        EXPECT_EQ(Prepare(fresh, Drive(c.status, c.table)), c.status == DriveNoPartitionTable
                                                                ? UsbOutcome::TableFailed
                                                                : UsbOutcome::DiskChanged);
        ExpectStopped("error 153");
        EXPECT_FALSE(Has(c.neverCalled));
        EXPECT_FALSE(WritesAfter(trigger));
    }
}

TEST_F(UsbPreparation, UnreadableIdentityNeverCountsAsTheSameDisk) {
    disk.identityNow = [] { return std::optional<DiskIdentity>(); };
    EXPECT_EQ(Prepare(Drive(DriveReady, true)), UsbOutcome::DiskChanged);
    ExpectStopped("error 153");
    EXPECT_FALSE(AnyWrite());
}

TEST_F(UsbPreparation, WorksOnTheEntryItStartedWithWhenTheListChanges) {
    RemovableDrive entry = Drive(DriveNoPartitionTable, false);
    // The page refreshes while the question is open and the entry changes.
    reporter.onAsk = [&] {
        entry.PhysicalDevice = L"other disk";
        entry.Status = DriveReady;
        entry.HasPartitionTable = true;
    };
    EXPECT_EQ(Prepare(entry), UsbOutcome::Prepared);
    EXPECT_EQ(disk.lockedDisk, L"disk");
    EXPECT_TRUE(Has("set"));
    EXPECT_TRUE(Has("format"));
}

TEST_F(UsbPreparation, EntryWithoutTableIsAskedAboutEvenWhenMarkedReady) {
    reporter.answer = false;
    EXPECT_EQ(Prepare(Drive(DriveReady, false)), UsbOutcome::Declined);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(UsbPreparation, NoSelectionDoesNothing) {
    EXPECT_EQ(PrepareUsbDisk(page, nullptr, options, services, disk, reporter),
              UsbOutcome::NoSelection);
    EXPECT_TRUE(events.empty());
}

TEST_F(UsbPreparation, BannerAndArchiveAreWrittenThenCopiedAndTheScratchGoes) {
    ASSERT_EQ(Prepare(Drive(DriveReady, true)), UsbOutcome::Prepared);
    EXPECT_NE(disk.copied["welcome.txt"].find("Scourline v."), std::string::npos);
    EXPECT_EQ(disk.copied["scour"].substr(0, 6), "070701");
    // Nothing of the run is left in the temporary folder.
    auto temp = services.services.tempFiles->TempFolder();
    ASSERT_TRUE(temp);
    for (const auto& e : std::filesystem::directory_iterator(ToFsPath(*temp))) {
        EXPECT_NE(e.path().filename().string().rfind("scu", 0), 0u) << e.path();
    }
}

TEST_F(UsbPreparation, MissingFlashFolderFailsBeforeAnyCopy) {
    std::filesystem::remove_all(ToFsPath(program.Path() + L"/flash"));
    EXPECT_EQ(Prepare(Drive(DriveReady, true)), UsbOutcome::CopyFailed);
    EXPECT_FALSE(Has("copy common"));
}

// --- the partition and its MBR entry ------------------------------------------------------

TEST(BootPartition, SecondTrackToLastWholeCylinder) {
    auto p = BootPartitionFor({1000, 255, 63, 512});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->startingOffset, 32256);
    EXPECT_EQ(p->partitionLength, 8225247744);
    EXPECT_EQ(p->hiddenSectors, 63u);
    EXPECT_EQ(p->partitionType, 0xEF);
    EXPECT_TRUE(p->bootIndicator && p->recognizedPartition && p->rewritePartition);
    // 4096-byte sectors: the cylinder size no longer fits 32 bits' worth of
    // sloppiness, and the result must still be exact.
    auto big = BootPartitionFor({100, 255, 63, 4096});
    ASSERT_TRUE(big);
    EXPECT_EQ(big->partitionLength, 100LL * 255 * 63 * 4096 - 63 * 4096);
}

TEST(BootPartition, NoRoomOrNoMbrFitGivesNothing) {
    EXPECT_FALSE(BootPartitionFor({0, 255, 63, 512}));
    EXPECT_FALSE(BootPartitionFor({10, 0, 63, 512}));
    EXPECT_FALSE(BootPartitionFor({10, 255, 0, 512}));
    EXPECT_FALSE(BootPartitionFor({1ULL << 62, 255, 63, 512}));  // overflow
    EXPECT_FALSE(BootPartitionFor({267350, 255, 63, 512}));      // > 2^32 sectors
    EXPECT_TRUE(BootPartitionFor({267349, 255, 63, 512}));
    EXPECT_TRUE(BootPartitionFor({1, 255, 63, 512}));
}

TEST(MbrEncoding, BootEntryBytesIncludingChs) {
    DiskGeometry g{1000, 255, 63, 512};
    auto e = platform::EncodeMbrEntry(*BootPartitionFor(g), g);
    // Active; CHS 0/1/1; type EF; CHS 999/254/63; LBA 63; 16064937 sectors.
    const platform::MbrEntryBytes expected = {0x80, 0x01, 0x01, 0x00, 0xEF, 0xFE, 0xFF, 0xE7,
                                              0x3F, 0x00, 0x00, 0x00, 0xA9, 0x21, 0xF5, 0x00};
    EXPECT_EQ(e, expected);
    // Past cylinder 1023 the CHS fields hold the 1023/254/63 marker.
    EXPECT_EQ(platform::EncodeChs(2000ULL * 255 * 63, g),
              (std::array<std::uint8_t, 3>{0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(platform::EncodeMbrEntry(PartitionEntry{}, g), platform::MbrEntryBytes{});
}

TEST(MbrEncoding, TableRoundTripKeepsTheBootCode) {
    DiskGeometry g{8, 255, 63, 512};
    platform::MbrSector s{};
    s.fill(0x5A);
    DiskLayout l{0x12345678, {*BootPartitionFor(g)}};
    platform::EncodeMbr(s, l, g);
    EXPECT_EQ(s[0], 0x5A);
    EXPECT_EQ(s[439], 0x5A);
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);
    EXPECT_EQ(s[446 + 16], 0);  // entries 2-4 cleared
    auto back = platform::DecodeMbr(s, 8ULL * 255 * 63 * 512);
    ASSERT_EQ(back.partitions.size(), 4u);
    EXPECT_EQ(back.signature, 0x12345678u);
    EXPECT_EQ(back.partitions[0].startingOffset, 32256);
    EXPECT_EQ(back.partitions[0].partitionLength, l.partitions[0].partitionLength);
    EXPECT_TRUE(back.partitions[0].bootIndicator);
    EXPECT_EQ(back.partitions[0].partitionType, 0xEF);
}

TEST(MbrEncoding, SectorsWithoutTableReadAsOneWholeDiskEntry) {
    const std::uint64_t size = 64 << 20;
    auto whole = [&](const platform::MbrSector& s) {
        auto l = platform::DecodeMbr(s, size);
        return l.partitions.size() == 1 && l.partitions[0].startingOffset == 0 &&
               l.partitions[0].partitionLength == static_cast<std::int64_t>(size);
    };
    platform::MbrSector blank{};
    EXPECT_TRUE(whole(blank));
    // A FAT boot record at sector 0, with boot code where a table would be.
    platform::MbrSector fat{};
    const std::uint8_t bpb[] = {0xEB, 0x3C, 0x90, 'm',  'k',  'f',  's',  '.', 'f',
                                'a',  't',  0x00, 0x02, 0x04, 0x04, 0x00, 0x02};
    std::copy(std::begin(bpb), std::end(bpb), fat.begin());
    std::fill(fat.begin() + 446, fat.begin() + 510, 0x00);
    fat[446] = 0x80;
    fat[450] = 0x06;
    fat[454] = 1;
    fat[458] = 100;
    fat[510] = 0x55;
    fat[511] = 0xAA;
    EXPECT_TRUE(whole(fat));
    fat[0] = 0x33;  // the same bytes behind real MBR code: a table
    EXPECT_FALSE(whole(fat));
    fat[446] = 0x12;  // a boot flag that is neither 0 nor 0x80
    EXPECT_TRUE(whole(fat));
    fat[446] = 0x80;
    fat[458] = 0xFF;
    fat[459] = 0xFF;
    fat[460] = 0xFF;  // past the end of the disk
    EXPECT_TRUE(whole(fat));
}

}  // namespace
}  // namespace scour
