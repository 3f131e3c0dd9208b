// The "Format and Create" sequence against a scripted disk: which messages,
// which progress positions, and above all what gets written when.
#include "media/usb_preparation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "base/strings.h"
#include "base/text.h"
#include "support/test_support.h"

namespace scour {
namespace {

using platform::DiskGeometry;
using platform::DiskLayout;
using platform::PartitionEntry;
using Events = std::vector<std::string>;
using Target = const platform::DiskTarget&;

// Disk, page and reporter in one: every call is recorded in one list of
// events, and the flags script what each operation answers.
struct Fake final : platform::IDiskPreparer, IUsbPage, platform::IReporter {
    Events events;
    bool lockOk = true, openOk = true, createOk = true, setOk = true, releaseOk = true;
    bool formatOk = true, copyOk = true, startOk = true, loaderThere = true, answer = true;
    bool identityOk = true, prepared = false;
    std::wstring detail, lockedDisk;
    const char* swapAfter = nullptr;  // another disk answers once this event happened
    std::optional<DiskGeometry> geometry = DiskGeometry{1000, 255, 63, 512};
    std::optional<DiskLayout> layout = DiskLayout{0, {PartitionEntry{0, 8'225'280'000}}};
    std::optional<unsigned long> exitCode = 0;
    std::map<std::string, std::string> copied;  // name on the disk -> bytes
    std::function<void()> onAsk;
    int position = -1, upper = 0;

    bool Note(const std::string& e, bool result = true) {
        events.push_back(e);
        return result;
    }
    std::size_t At(const std::string& e) const {
        return static_cast<std::size_t>(std::find(events.begin(), events.end(), e) -
                                        events.begin());
    }
    bool Has(const std::string& e) const { return At(e) < events.size(); }
    // Whether anything changed the disk after the event (after the start without one).
    bool WritesAfter(const char* e) const {
        return std::any_of(
            events.begin() + (e ? std::min(At(e) + 1, events.size()) : 0), events.end(),
            [](const std::string& w) {
                for (const char* p : {"clear", "create", "set", "format", "copy", "start"}) {
                    if (w.starts_with(p)) {
                        return true;
                    }
                }
                return false;
            });
    }
    struct Lock final : platform::IVolumeLock {
        Fake& f;
        explicit Lock(Fake& fake) : f(fake) {}
        ~Lock() override { f.Note("unlock"); }
    };
    struct Raw final : platform::IRawDisk {
        Fake& f;
        explicit Raw(Fake& fake) : f(fake) {}
        std::optional<platform::DiskIdentity> Identity() override { return f.ReadIdentity({}); }
        std::optional<DiskGeometry> Geometry() override { return f.geometry; }
        std::optional<DiskLayout> Layout() override { return f.layout; }
        bool ClearFirstSector() override { return f.Note("clear"); }
        bool CreateMbrDisk() override { return f.Note("create", f.createOk); }
        bool SetLayout(const DiskLayout&, const DiskGeometry&) override {
            return f.Note("set", f.setOk);
        }
    };
    struct Run final : platform::IInstallerRun {
        Fake& f;
        explicit Run(Fake& fake) : f(fake) {}
        std::optional<unsigned long> Wait() override { return f.Note("wait"), f.exitCode; }
    };

    std::optional<platform::DiskIdentity> ReadIdentity(Target) override {
        platform::DiskIdentity id{7, 8'225'280'000, L"SN1", 3};
        id.serial = swapAfter != nullptr && Has(swapAfter) ? L"OTHER" : id.serial;
        return identityOk ? std::optional(id) : std::nullopt;
    }
    std::unique_ptr<platform::IVolumeLock> LockVolume(Target t) override {
        lockedDisk = t.diskPath;
        // Only a lock taken is recorded: each must be released.
        return lockOk && Note("lock") ? std::make_unique<Lock>(*this) : nullptr;
    }
    std::unique_ptr<platform::IRawDisk> OpenDisk(Target) override {
        return Note("open", openOk) ? std::make_unique<Raw>(*this) : nullptr;
    }
    bool ReleaseVolume(Target) override { return Note("release", releaseOk); }
    bool Format(Target) override { return Note("format", formatOk); }
    bool CopyFolderContents(Target, const std::wstring& folder) override {
        return Note("copy " + ToUtf8(folder.substr(folder.find_last_of(L"/\\") + 1)), copyOk);
    }
    bool CopyFile(Target, const std::wstring& source, const std::wstring& name) override {
        copied[ToUtf8(name)] = test::ReadFile(source).value_or("<missing>");
        return Note("copy " + ToUtf8(name), copyOk);
    }
    std::unique_ptr<platform::IInstallerRun> StartInstaller(Target, const std::wstring&) override {
        return Note("start", startOk) ? std::make_unique<Run>(*this) : nullptr;
    }
    bool RootFileExists(Target, std::wstring_view name) override {
        return Note("exists " + ToUtf8(name), loaderThere);
    }
    std::optional<platform::VolumeFacts> DescribeVolume(Target) override { return {}; }
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return detail; }

    void SetProgressRange(int, int u) override { upper = u; }
    void SetProgressPosition(int p) override {
        position = p;
        Note("pos " + std::to_string(p));
    }
    int ProgressPosition() override { return position; }
    int ProgressUpper() override { return upper; }
    void ShowProgress() override { Note("show"); }
    void RepaintPage() override {}
    void Pause(int) override {}
    void BeginBusy() override { Note("busy"); }
    void EndBusy() override { Note("idle"); }
    void SetDiskPrepared() override { prepared = true; }
    void RefreshAfterPreparation() override { Note("refresh"); }

    // Messages are recorded by their string id; the disk operations' own words follow them.
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        for (int id = IDS_USB_CONFIRM_OVERWRITE; id <= IDS_USB_COPY_FAILED; ++id) {
            if (text == LoadText(id) + (detail.empty() ? L"" : L"\n\n" + detail)) {
                Note((kind == platform::BoxKind::Error ? "error " : "plain ") + std::to_string(id));
            }
        }
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        EXPECT_EQ(caption, L"Scourline Configuration Wizard");
        EXPECT_EQ(text, LoadText(IDS_USB_CONFIRM_OVERWRITE));
        Note("ask 151");
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
    struct Case {
        const char* what;
        RemovableDrive drive;
        Events before;  // the steps before the installation, in order
    };
    const Case cases[] = {
        {"ready FAT32 disk: neither asked nor formatted", Drive(DriveReady, true), {}},
        {"no table: asked, locked, partitioned, unlocked, then formatted",
         Drive(DriveNoPartitionTable, false),
         {"ask 151", "lock", "clear", "create", "set", "unlock", "format"}},
        {"NTFS with a table: asked and formatted, the table kept",
         Drive(DriveNotFat, true),
         {"ask 151", "format"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fake run;
        EXPECT_EQ(Prepare(run, c.drive), UsbOutcome::Prepared);
        Events steps;
        for (const auto& e : run.events) {
            if (!e.starts_with("pos ") && e != "show" && e != "open" && e != "release" &&
                e != "wait") {
                steps.push_back(e);
            }
        }
        EXPECT_EQ(run.position, 14);  // the bar full
        Events expected = c.before;
        expected.insert(expected.end(), install.begin(), install.end());
        EXPECT_EQ(steps, expected);
        EXPECT_TRUE(run.prepared);
        // The banner and the archive are written to scratch files, copied, and the scratch goes.
        EXPECT_NE(run.copied["welcome.txt"].find("Scourline v."), std::string::npos);
        EXPECT_EQ(run.copied["scour"].substr(0, 6), "070701");
    }
    for (const auto& e : std::filesystem::directory_iterator(
             ToFsPath(*services.services.tempFiles->TempFolder()))) {
        EXPECT_FALSE(e.path().filename().string().starts_with("scu")) << e.path();
    }
}

// Every way the sequence stops early: its message, the bar at 0, no refresh,
// no flag, every lock released, and no write after the step that failed.
TEST_F(UsbPreparation, StopsWriteNothingAfterTheFailingStep) {
    using enum UsbOutcome;
    const std::map<UsbOutcome, std::string> message = {{Declined, "ask 151"},
                                                       {VolumeBusy, "error 152"},
                                                       {TableFailed, "error 153"},
                                                       {DiskChanged, "error 153"},
                                                       {NotFormatted, "error 154"}};
    struct Case {
        const char* what;
        RemovableDrive drive;
        UsbOutcome outcome;
        const char* lastWrite;  // nothing at all when null
        void (*script)(Fake&);
    };
    const RemovableDrive blank = Drive(DriveNoPartitionTable, false);
    const RemovableDrive ready = Drive(DriveReady, true);
    const RemovableDrive ntfs = Drive(DriveNotFat, true);
    const Case cases[] = {
        {"No to 151", blank, Declined, nullptr, [](Fake& d) { d.answer = false; }},
        // A "ready" entry without a table is still asked about.
        {"No, ready entry", Drive(DriveReady, false), Declined, nullptr,
         [](Fake& d) { d.answer = false; }},
        {"volume busy", blank, VolumeBusy, nullptr, [](Fake& d) { d.lockOk = false; }},
        {"busy at the format", ntfs, VolumeBusy, nullptr, [](Fake& d) { d.releaseOk = false; }},
        {"disk not opened", blank, TableFailed, nullptr, [](Fake& d) { d.openOk = false; }},
        {"no geometry", blank, TableFailed, nullptr, [](Fake& d) { d.geometry.reset(); }},
        // The layout check comes before the first write, not after clearing.
        {"partitioned", blank, TableFailed, nullptr,
         [](Fake& d) {
             d.layout->partitions = {PartitionEntry{32256, 1 << 20, 63, 1, 0x0C}};
         }},
        {"second slot used", blank, TableFailed, nullptr,
         [](Fake& d) {
             d.layout->partitions.push_back({1 << 20, 1 << 20, 0, 2, 7});
         }},
        {"below a cylinder", blank, TableFailed, nullptr,
         [](Fake& d) { d.geometry->cylinders = 0; }},
        {"not created", blank, TableFailed, "create", [](Fake& d) { d.createOk = false; }},
        {"layout not set", blank, TableFailed, "set", [](Fake& d) { d.setOk = false; }},
        {"not formatted", Drive(DriveLowSpace, true), NotFormatted, "format",
         [](Fake& d) { d.formatOk = false; }},
        // The disk must stay the one the run started with (a swap after the
        // question and before the format: the Linux disk tests).
        {"swap before copies", ready, DiskChanged, nullptr, [](Fake& d) { d.swapAfter = "pos 2"; }},
        {"swap before installer", ready, DiskChanged, "copy scour",
         [](Fake& d) { d.swapAfter = "copy scour"; }},
        {"no identity", ready, DiskChanged, nullptr, [](Fake& d) { d.identityOk = false; }},
        // Refused access (cancelled authentication) is told before any question.
        {"no identity, not asked", ntfs, DiskChanged, nullptr,
         [](Fake& d) {
             d.identityOk = false;
             d.detail = L"The administrator authentication was cancelled.";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fake run;
        c.script(run);
        EXPECT_EQ(Prepare(run, c.drive), c.outcome);
        EXPECT_TRUE(run.Has(message.at(c.outcome))) << ::testing::PrintToString(run.events);
        EXPECT_EQ(run.position, 0);
        EXPECT_TRUE(run.Has("show"));
        EXPECT_FALSE(run.Has("refresh") || run.prepared);
        EXPECT_TRUE(run.identityOk || !run.Has("ask 151"));
        EXPECT_EQ(run.Has("lock"), run.Has("unlock"));
        EXPECT_FALSE(run.WritesAfter(c.lastWrite));
        EXPECT_TRUE(c.lastWrite == nullptr || run.Has(c.lastWrite));
    }
}

TEST_F(UsbPreparation, InstallFailuresGive156WithRefreshAndNoFlag) {
    const std::pair<const char*, void (*)(Fake&)> cases[] = {
        {"wait", [](Fake& d) { d.exitCode = 1; }},
        {"wait", [](Fake& d) { d.exitCode.reset(); }},  // exit code unreadable
        {"start", [](Fake& d) { d.startOk = false; }},
        {"exists ldlinux.sys", [](Fake& d) { d.loaderThere = false; }},
        // A failed copy is a failure, not a disk missing its kernel reported as done.
        {"copy common", [](Fake& d) { d.copyOk = false; }},
    };
    for (const auto& [lastCall, script] : cases) {
        SCOPED_TRACE(lastCall);
        Fake run;
        script(run);
        EXPECT_EQ(Prepare(run, Drive(DriveReady, true)), UsbOutcome::CopyFailed);
        EXPECT_FALSE(run.Has("plain 155") || run.prepared);
        EXPECT_LT(run.At(lastCall), run.At("error 156"));
        EXPECT_LT(run.At("error 156"), run.At("refresh"));
        EXPECT_LT(run.At("busy"), run.At("idle"));
        EXPECT_NE(run.position, 0);
    }
    // Without the flash folder nothing is copied at all.
    std::filesystem::remove_all(ToFsPath(program.Path() + L"/flash"));
    EXPECT_EQ(Prepare(f, Drive(DriveReady, true)), UsbOutcome::CopyFailed);
    EXPECT_FALSE(f.Has("copy common"));
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

TEST(BootPartition, SecondTrackToLastWholeCylinderOrNothing) {
    auto p = BootPartitionFor({1000, 255, 63, 512});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->hiddenSectors, 63u);
    EXPECT_TRUE(p->bootIndicator && p->recognizedPartition && p->rewritePartition);
    const std::pair<DiskGeometry, std::int64_t> cases[] = {
        {{1000, 255, 63, 512}, 8225247744},
        // 4096-byte sectors: the cylinder size must not be cut to 32 bits.
        {{100, 255, 63, 4096}, 100LL * 255 * 63 * 4096 - 63 * 4096},
        {{267349, 255, 63, 512}, 267349LL * 255 * 63 * 512 - 32256},
        {{1, 255, 63, 512}, 254LL * 63 * 512},
        {{0, 255, 63, 512}, -1},
        {{10, 0, 63, 512}, -1},
        {{10, 255, 0, 512}, -1},
        {{1ULL << 62, 255, 63, 512}, -1},  // overflow
        {{267350, 255, 63, 512}, -1},      // more than 2^32 sectors
    };
    for (const auto& [g, length] : cases) {
        auto q = BootPartitionFor(g);
        EXPECT_EQ(q ? q->partitionLength : -1, length) << g.cylinders << " " << g.bytesPerSector;
    }
}

// The CHS fields: the Linux disk tests check the rest of the sector.
TEST(MbrEncoding, BootEntryChsFields) {
    DiskGeometry g{1000, 255, 63, 512};
    // Active; CHS 0/1/1; type EF; CHS 999/254/63; LBA 63; 16064937 sectors.
    EXPECT_EQ(platform::EncodeMbrEntry(*BootPartitionFor(g), g),
              (platform::MbrEntryBytes{0x80, 0x01, 0x01, 0x00, 0xEF, 0xFE, 0xFF, 0xE7, 0x3F, 0x00,
                                       0x00, 0x00, 0xA9, 0x21, 0xF5, 0x00}));
    // Past cylinder 1023 the CHS fields hold the 1023/254/63 marker.
    EXPECT_EQ(platform::EncodeChs(2000ULL * 255 * 63, g),
              (std::array<std::uint8_t, 3>{0xFE, 0xFF, 0xFF}));
}

TEST(MbrEncoding, SectorsWithoutTableReadAsOneWholeDiskEntry) {
    const std::uint64_t size = 64 << 20;
    auto whole = [&](const platform::MbrSector& s) {
        auto l = platform::DecodeMbr(s, size);
        return l.partitions.size() == 1 && l.partitions[0].startingOffset == 0 &&
               l.partitions[0].partitionLength == static_cast<std::int64_t>(size);
    };
    EXPECT_TRUE(whole(platform::MbrSector{}));
    // A FAT boot record at sector 0, with boot code where a table would be.
    platform::MbrSector fat{0xEB, 0x3C, 0x90, 'm',  'k',  'f',  's',  '.', 'f',
                            'a',  't',  0x00, 0x02, 0x04, 0x04, 0x00, 0x02};
    fat[446] = 0x80, fat[450] = 0x06, fat[454] = 1, fat[458] = 100, fat[510] = 0x55;
    fat[511] = 0xAA;
    EXPECT_TRUE(whole(fat));
    fat[0] = 0x33;  // the same bytes behind real MBR code: a table
    EXPECT_FALSE(whole(fat));
    fat[446] = 0x12;  // a boot flag that is neither 0 nor 0x80
    EXPECT_TRUE(whole(fat));
    fat[446] = 0x80;
    fat[458] = fat[459] = fat[460] = 0xFF;  // past the end of the disk
    EXPECT_TRUE(whole(fat));
}

}  // namespace
}  // namespace scour
