// The sheet and the ten pages driven through fake views, as a frame drives
// them: the routes, what each page stores and when, the enabling rules, the
// share test, the ISO and USB pages, Cancel and the title.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "media/iso_builder.h"
#include "pages/pages.h"
#include "pages/share_test.h"
#include "pages_fakes.h"
#include "support/test_support.h"
#include "unit/media_fake_volumes.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using test::FakeView;
using test::Native;

class WizardTest : public ::testing::Test {
  protected:
    test::ScratchDir scratch;
    const std::wstring program = scratch / L"program";
    test::TestServices services{program};
    test::FakeNetwork network;
    test::MemoryStore store;
    test::FakeReporter reporter;
    test::FakeFrame frame;
    test::FakeVolumes volumes;
    PageContext context{services, reporter, frame, &volumes, nullptr};
    std::unique_ptr<CMainDlg> sheet;
    test::FakeSheet window;

    void SetUp() override {
        for (const auto* f : {L"flash/syslinux", L"iso/isolinux.bin", L"flash/syslinux.exe",
                              L"common/vmlinuz", L"boot/isofs.b", L"schemes/none"}) {
            auto path = JoinPath(program, Native(f));
            test::MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            test::WriteFile(path, "x");
        }
        fs::remove(ToFsPath(JoinPath(program, Native(L"schemes/none"))));
        for (const auto* s : {L"zeros.sch", L"random.sch", L"three-pass.sch"}) {
            const auto name = Native(L"schemes/") + s;
            fs::copy_file(ToFsPath(JoinPath(test::SourceDir(), name)),
                          ToFsPath(JoinPath(program, name)));
        }
        const std::wstring fake = kPathSep == L'\\' ? L"fake_mkisofs.exe" : L"fake_mkisofs";
        std::error_code ec;
        fs::copy_file(ToFsPath(JoinPath(test::TestToolsDir(), fake)),
                      ToFsPath(JoinPath(program, kIsoMakerName)), ec);
        ASSERT_FALSE(ec) << "the stand-in image maker is not built";
        services.services.network = &network;
        services.services.settings = &store;
        Save(WizardOptions());
        Open();
    }
    void Save(WizardOptions stored) {
        stored.IsoPath = scratch / L"scourcd.iso";
        stored.Save(services);
    }
    // A new run of the wizard over the stored options.
    void Open(bool allowTestMode = false) {
        window = test::FakeSheet();
        sheet = std::make_unique<CMainDlg>(context);
        sheet->Options().AllowTestMode = allowTestMode ? 1 : 0;
        ASSERT_TRUE(sheet->BuildPages(CreateWizardPages));
        sheet->Attach(window);
        sheet->Start();
    }
    WizardOptions& Options() { return sheet->Options(); }
    int Page() { return sheet->CurrentPage() ? sheet->CurrentPage()->DialogId() : 0; }
    FakeView& View() { return *window.views.at(Page()); }
    void Click(int id, bool checked) {
        View().SetChecked(id, checked);
        sheet->CurrentPage()->OnCommand(id);
    }
    void Radio(int on, int off) {
        View().SetChecked(off, false);
        Click(on, true);
    }
    // Presses Next for each page given, Back for each negated one, and
    // checks the page reached after each press.
    void Walk(std::initializer_list<int> pages) {
        for (int p : pages) {
            p > 0 ? sheet->PressNext() : sheet->PressBack();
            ASSERT_EQ(Page(), std::abs(p));
        }
    }
    void ToAutomaticLog() {
        Walk({IDD_MODE});
        Radio(IDC_MODE_AUTO, IDC_MODE_INTERACTIVE);
        Walk({IDD_LOG});
    }
    WizardOptions Stored() {
        WizardOptions o;
        o.Load(services);
        return o;
    }
};

TEST_F(WizardTest, InteractiveRouteSkipsTheSchemeAndAtaPagesBothWays) {
    EXPECT_EQ(Page(), IDD_WELCOME);
    EXPECT_EQ(frame.buttons, kWizNext);
    Walk({IDD_MODE});
    EXPECT_EQ(frame.buttons, kWizBack | kWizNext);
    Walk({IDD_LOG, IDD_SUMMARY, -IDD_LOG, -IDD_MODE, -IDD_WELCOME, IDD_MODE, IDD_LOG, IDD_SUMMARY,
          IDD_MEDIA, IDD_ISO, -IDD_MEDIA, -IDD_SUMMARY, -IDD_LOG});
}

TEST_F(WizardTest, AutomaticRouteMakesTheImageAndFinishes) {
    ToAutomaticLog();
    Walk({IDD_SCHEME, IDD_ATA, IDD_SUMMARY, -IDD_ATA, IDD_SUMMARY, IDD_MEDIA, IDD_ISO,
          IDD_COMPLETION});
    EXPECT_TRUE(fs::exists(ToFsPath(scratch / L"scourcd.iso")));
    EXPECT_EQ(frame.explored, std::vector<std::wstring>{scratch.Path()});
    EXPECT_EQ(frame.busy, 0);
    // Arrival stores the options, hides Cancel and offers only Finish.
    EXPECT_EQ(Stored().AutoStart, 1);
    EXPECT_FALSE(frame.cancelVisible);
    EXPECT_EQ(frame.buttons, kWizNext | kWizFinish);
    sheet->PressFinish();
    ASSERT_EQ(frame.oksPosted, 1);
    sheet->OnOk();
    EXPECT_EQ(window.exitCode, kExitFinished);
    EXPECT_TRUE(sheet->Pages().empty());
}

TEST_F(WizardTest, BackStoresNothingAndNextStoresWhatThePageStillShows) {
    Walk({IDD_MODE});
    Radio(IDC_MODE_AUTO, IDC_MODE_INTERACTIVE);
    Walk({-IDD_WELCOME});
    EXPECT_EQ(Options().AutoStart, 0);
    Walk({IDD_MODE});
    EXPECT_TRUE(View().IsChecked(IDC_MODE_AUTO));  // filled once, kept since
    Walk({IDD_LOG});
    EXPECT_EQ(Options().AutoStart, 1);
}

TEST_F(WizardTest, SummaryIsRebuiltOnEveryActivation) {
    Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY});
    auto before = View().GetText(IDC_SUMMARY_TEXT);
    EXPECT_NE(before.find(L"interactive"), std::wstring::npos) << ToUtf8(before);
    Walk({-IDD_LOG, -IDD_MODE});
    Radio(IDC_MODE_AUTO, IDC_MODE_INTERACTIVE);
    Walk({IDD_LOG, IDD_SCHEME, IDD_ATA, IDD_SUMMARY});
    EXPECT_NE(View().GetText(IDC_SUMMARY_TEXT), before);
}

// Start options: marks in, enabled states and stored fields out.
TEST_F(WizardTest, StartOptionsEnablingAndStoring) {
    struct Case {
        bool automatic, select, noDelay, test;
        bool selectEnabled, noDelayEnabled, testEnabled;
        int storedNoDelay, storedTestMode;
    };
    const Case cases[] = {
        {true, true, true, true, true, false, true, 0, 0},     // selection wins over no delay
        {true, false, true, true, true, true, false, 1, 0},    // no delay; test box disabled
        {false, false, true, true, false, false, true, 1, 1},  // interactive keeps the marks
        {false, true, false, false, false, false, true, 0, 0},
    };
    for (const auto& c : cases) {
        Save(WizardOptions());
        Open(true);
        Walk({IDD_MODE});
        auto& v = View();
        EXPECT_TRUE(v.IsVisible(IDC_MODE_TEST));
        v.SetChecked(IDC_MODE_NO_DELAY, c.noDelay);
        v.SetChecked(IDC_MODE_TEST, c.test);
        v.SetChecked(IDC_MODE_SELECT_DISKS, c.select);
        c.automatic ? Radio(IDC_MODE_AUTO, IDC_MODE_INTERACTIVE)
                    : Radio(IDC_MODE_INTERACTIVE, IDC_MODE_AUTO);
        EXPECT_EQ(v.IsEnabled(IDC_MODE_SELECT_DISKS), c.selectEnabled);
        EXPECT_EQ(v.IsEnabled(IDC_MODE_NO_DELAY), c.noDelayEnabled);
        EXPECT_EQ(v.IsEnabled(IDC_MODE_TEST), c.testEnabled);
        Walk({IDD_LOG});
        EXPECT_EQ(Options().AutoStart, c.automatic ? 1 : 0);
        EXPECT_EQ(Options().SelectDisks, c.select ? 1 : 0);
        EXPECT_EQ(Options().NoDelay, c.storedNoDelay);
        EXPECT_EQ(Options().TestMode, c.storedTestMode);
    }
}

// Without the switch the mode is off whatever was set; with it, the box is
// enabled as stored until a click applies the rule.
TEST_F(WizardTest, TestBoxOnlyWithTheSwitchAndFirstEnabledAsStored) {
    Options().TestMode = 1;
    Walk({IDD_MODE});
    EXPECT_EQ(Options().TestMode, 0);
    WizardOptions stored;
    stored.AutoStart = 1;
    stored.SelectDisks = 0;
    stored.NoDelay = 1;
    Save(stored);
    Open(true);
    Walk({IDD_MODE});
    EXPECT_TRUE(View().IsEnabled(IDC_MODE_TEST));
    EXPECT_TRUE(View().IsChecked(IDC_MODE_NO_DELAY));
    Click(IDC_MODE_NO_DELAY, true);
    EXPECT_FALSE(View().IsEnabled(IDC_MODE_TEST));
}

class LogPageTest : public WizardTest {
  protected:
    void SetUp() override {
        WizardTest::SetUp();
        Walk({IDD_MODE, IDD_LOG});
    }
    CLogPage& Log() { return static_cast<CLogPage&>(*sheet->CurrentPage()); }
    void Fill(const wchar_t* share, const wchar_t* user, const wchar_t* password) {
        View().SetText(IDC_LOG_SHARE, share);
        View().SetText(IDC_LOG_USER, user);
        View().SetText(IDC_LOG_PASSWORD, password);
    }
};

// The example text and the first enabling steps are in the interactive script.
TEST_F(LogPageTest, FirstRunShowsTheExampleAndDisablesTheNetworkBoxes) {
    auto& v = View();
    for (int id : {IDC_LOG_USER, IDC_LOG_TEST, IDC_LOG_SAVE_PASSWORD, IDC_LOG_PASSWORD_LABEL}) {
        EXPECT_FALSE(v.IsEnabled(id)) << id;
    }
    EXPECT_FALSE(v.IsVisible(IDC_LOG_WARNING));
    Click(IDC_LOG_NETWORK, true);
    Click(IDC_LOG_SAVE_PASSWORD, true);
    EXPECT_TRUE(v.IsEnabled(IDC_LOG_PASSWORD));
    EXPECT_TRUE(v.IsVisible(IDC_LOG_WARNING));
    Click(IDC_LOG_NETWORK, false);
    EXPECT_TRUE(v.IsVisible(IDC_LOG_WARNING));  // shown while save is on, network or not
    EXPECT_FALSE(v.IsEnabled(IDC_LOG_PASSWORD));
    // The example passes the check and its host is looked up.
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetShare, L"\\\\server\\share");
    EXPECT_EQ(network.lookups, std::vector<std::wstring>{L"server"});
    EXPECT_EQ(Options().NetShareIp, L"");
    EXPECT_EQ(Options().NetAskPassword, 0);
}

TEST_F(LogPageTest, ShareTextsAreCheckedAndCut) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"server\\share", L""},  // refused: stays
        {L"\\server\\share", L""},
        {L"\\\\fs1\\logs\\", L"\\\\fs1\\logs"},
        {L"\\\\fs1\\logs\\\\", L"\\\\fs1\\logs\\"},
    };
    for (const auto& [typed, stored] : cases) {
        Open();
        Walk({IDD_MODE, IDD_LOG});
        View().SetChecked(IDC_LOG_REMOVABLE, true);
        View().SetText(IDC_LOG_SHARE, typed);
        sheet->PressNext();
        EXPECT_EQ(Options().WriteLog, 1);  // stored even when refused
        if (stored.empty()) {
            EXPECT_EQ(Page(), IDD_LOG) << ToUtf8(typed);
            EXPECT_EQ(View().focus, IDC_LOG_SHARE);
            EXPECT_TRUE(reporter.boxes.empty());
        } else {
            EXPECT_EQ(Page(), IDD_SUMMARY) << ToUtf8(typed);
            EXPECT_EQ(Options().NetShare, stored);
        }
    }
}

TEST_F(LogPageTest, HeldIpFormFollowsTestsAndEdits) {
    network.hosts[L"fs1"] = {10, 0, 0, 5};
    network.hosts[L"fs2"] = {10, 0, 0, 6};
    Click(IDC_LOG_NETWORK, true);
    Click(IDC_LOG_SAVE_PASSWORD, true);
    Fill(L"\\\\fs1\\logs\\wipe\\", L"dom\\wiper", L"pw");
    Click(IDC_LOG_TEST, false);
    EXPECT_EQ(network.tested, std::vector<std::wstring>{L"\\\\fs1\\logs\\wipe|dom\\wiper|pw"});
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].caption, L"Test passed");
    EXPECT_EQ(reporter.boxes[0].text, L"Network share ok");
    EXPECT_EQ(reporter.boxes[0].kind, platform::BoxKind::Information);
    EXPECT_EQ(Log().HeldIpForm(), L"\\\\10.0.0.5\\logs\\wipe");
    EXPECT_EQ(Options().NetShareIp, L"");  // only Next writes the record
    // Next with the same share does not look the host up again.
    network.lookups.clear();
    Walk({IDD_SUMMARY});
    EXPECT_TRUE(network.lookups.empty());
    EXPECT_EQ(Options().NetShareIp, L"\\\\10.0.0.5\\logs\\wipe");
    EXPECT_EQ(Options().NetPassword, L"pw");
    EXPECT_EQ(Options().NetAskPassword, 0);
    // An edited share is resolved anew rather than given the old host's address.
    Walk({-IDD_LOG});
    View().SetText(IDC_LOG_SHARE, L"\\\\fs2\\logs");
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetShareIp, L"\\\\10.0.0.6\\logs");
    // A failed test empties the held form; an unknown host stores none.
    Walk({-IDD_LOG});
    network.code = platform::kShareLogonFailure;
    View().SetText(IDC_LOG_SHARE, L"\\\\nowhere\\logs");
    Click(IDC_LOG_TEST, false);
    EXPECT_EQ(Log().HeldIpForm(), L"");
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetShareIp, L"");
}

TEST_F(LogPageTest, WithoutSavedPasswordTheDialogAsksForThisTestOnly) {
    Click(IDC_LOG_NETWORK, true);
    Fill(L"\\\\fs1\\logs\\", L"wiper", L"old");
    frame.dialogAnswers = {{IDC_OK, L"typed"}, {IDC_CANCEL, L"ignored"}};
    Click(IDC_LOG_TEST, false);
    Click(IDC_LOG_TEST, false);
    using Shown = std::vector<std::pair<std::wstring, std::wstring>>;
    EXPECT_EQ(frame.dialogsShown,
              (Shown{{L"\\\\fs1\\logs", L"wiper"}, {L"\\\\fs1\\logs", L"wiper"}}));
    EXPECT_EQ(network.tested,
              (std::vector<std::wstring>{L"\\\\fs1\\logs|wiper|typed", L"\\\\fs1\\logs|wiper|"}));
    EXPECT_EQ(View().GetText(IDC_LOG_PASSWORD), L"old");
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetPassword, L"old");  // the disabled box's text all the same
    EXPECT_EQ(Options().NetAskPassword, 1);
}

TEST_F(LogPageTest, FailuresShowTheirMessageAndMoveTheFocus) {
    const std::tuple<unsigned long, const wchar_t*, int> cases[] = {
        {5, L"Network share access denied", 0},
        {67, L"Network share not found", IDC_LOG_SHARE},
        {86, L"Invalid password", IDC_LOG_USER},
        {1203, L"Network share not found", IDC_LOG_SHARE},
        {1204, L"Network share not found", IDC_LOG_SHARE},
        {1219, L"You are already connected to this share with different credentials", 0},
        {1222, L"Network share not found", IDC_LOG_SHARE},
        {1326, L"Invalid password", IDC_LOG_USER},
        {2202, L"Invalid user name", IDC_LOG_USER},
        {53, L"Could not test the share", 0},
    };
    Click(IDC_LOG_NETWORK, true);
    Click(IDC_LOG_SAVE_PASSWORD, true);
    for (const auto& [code, text, focus] : cases) {
        network.code = code;
        View().focus = 0;
        reporter.boxes.clear();
        Click(IDC_LOG_TEST, false);
        ASSERT_EQ(reporter.boxes.size(), 1u);
        EXPECT_EQ(reporter.boxes[0].kind, platform::BoxKind::Error);
        EXPECT_EQ(reporter.boxes[0].caption, L"Test failed");
        EXPECT_EQ(reporter.boxes[0].text, text) << code;
        EXPECT_EQ(View().focus, focus) << code;
        EXPECT_EQ(frame.busy, 0);
    }
    EXPECT_EQ(Options().NetLog, 0);  // the test changes nothing in the record
}

TEST(ShareIpForm, HostAndFormByShape) {
    const std::tuple<const wchar_t*, std::optional<std::wstring>, std::optional<std::wstring>>
        cases[] = {
            {L"\\\\fs1\\logs\\wipe", L"fs1", L"\\\\10.0.0.5\\logs\\wipe"},
            {L"\\\\fs1\\logs", L"fs1", L"\\\\10.0.0.5\\logs"},
            {L"\\\\10.0.0.5\\logs", L"10.0.0.5", L"\\\\10.0.0.5\\logs"},
            {L"\\\\unknown\\logs", L"unknown", std::nullopt},
            {L"\\\\fs1", std::nullopt, std::nullopt},      // a server, no share
            {L"\\\\\\logs", std::nullopt, std::nullopt},   // no host
            {L"\\fs1\\logs", std::nullopt, std::nullopt},  // not a UNC path
            {L"", std::nullopt, std::nullopt},
        };
    for (const auto& [path, host, form] : cases) {
        test::FakeNetwork network;
        network.hosts[L"fs1"] = {10, 0, 0, 5};
        network.hosts[L"10.0.0.5"] = {10, 0, 0, 5};
        EXPECT_EQ(ShareHost(path), host) << path;
        EXPECT_EQ(MakeShareIpForm(path, network), form) << path;
        // A path that names no host is never looked up.
        EXPECT_EQ(network.lookups.size(), host ? 1u : 0u) << path;
    }
}

TEST_F(WizardTest, SchemeSelectionIsClampedAndAtaBoxesAreIndependent) {
    for (int stored : {-1, 3, 1}) {
        Open();
        Options().Scheme = stored;  // past the clamping of the load
        ToAutomaticLog();
        Walk({IDD_SCHEME});
        EXPECT_EQ(View().At(IDC_SCHEME_LIST).items.size(), 3u);
        int expected = stored == 1 ? 1 : 0;
        EXPECT_EQ(View().Selection(IDC_SCHEME_LIST), expected);
        View().SetChecked(IDC_SCHEME_VERIFY, true);
        Walk({IDD_ATA});
        EXPECT_EQ(Options().Scheme, expected);
        EXPECT_EQ(Options().Verify, 1);
    }
    for (int id : {IDC_ATA_DCO, IDC_ATA_HPA, IDC_ATA_ERASE}) {
        Click(id, true);
    }
    Walk({-IDD_SCHEME});
    EXPECT_EQ(Options().ResetDCO + Options().ResetHPA + Options().AtaErase, 0);
    Walk({IDD_ATA, IDD_SUMMARY});
    EXPECT_EQ(Options().ResetDCO + Options().ResetHPA + Options().AtaErase, 3);
}

TEST_F(WizardTest, AnEmptyCatalogueStopsAutomaticWipingAtTheSchemePage) {
    fs::remove_all(ToFsPath(JoinPath(program, L"schemes")));
    Open();
    ToAutomaticLog();
    Walk({IDD_SCHEME, IDD_SCHEME});
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, LoadText(IDS_NO_SCHEME_INSTALLED));
}

// The list follows device changes and fits its columns; Next only after a preparation.
TEST_F(WizardTest, UsbPageListsTheDrivesAndOffersNextOnlyAfterAPreparation) {
    Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY, IDD_MEDIA});
    Radio(IDC_MEDIA_USB, IDC_MEDIA_ISO);
    Walk({IDD_USB});
    EXPECT_EQ(Options().IsoUsb, 0);
    EXPECT_EQ(frame.buttons, kWizBack);
    EXPECT_FALSE(View().IsEnabled(IDC_USB_FORMAT));  // no disk
    Walk({-IDD_MEDIA});
    EXPECT_TRUE(View().IsChecked(IDC_MEDIA_USB));  // the choice is kept
    test::AddReadyStick(volumes, test::kStick, L'E', 1).info.label = L"Data";
    Walk({IDD_USB});
    auto& list = View().At(IDC_USB_LIST);
    ASSERT_EQ(list.columns, (std::vector<std::wstring>{L"Drive", L"Capacity", L"Free space",
                                                       L"Filesystem", L"Status"}));
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0][0], L"Data (E:)");
    EXPECT_EQ(list.selection, 0);
    EXPECT_TRUE(View().IsEnabled(IDC_USB_FORMAT));
    for (int w : list.widths) {
        EXPECT_GE(w, CUsbPage::kMinColumnWidth);
        EXPECT_LE(w, CUsbPage::kMaxColumnWidth);
    }
    test::AddReadyStick(volumes, test::kCard, L'F', 2).info.label = std::wstring(80, L'L');
    sheet->CurrentPage()->OnDeviceChange();
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.widths[0], CUsbPage::kMaxColumnWidth);
    volumes.order.clear();
    sheet->CurrentPage()->OnDeviceChange();
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(list.selection, -1);
    EXPECT_FALSE(View().IsEnabled(IDC_USB_FORMAT));
    EXPECT_EQ(CUsbPage::FitColumnWidth(3, 9), 20);
    EXPECT_EQ(CUsbPage::FitColumnWidth(150, 90), 150);
    static_cast<CUsbPage*>(sheet->CurrentPage())->SetDiskPrepared();
    Walk({-IDD_MEDIA, IDD_USB});
    EXPECT_EQ(frame.buttons, kWizBack | kWizNext);
    Walk({IDD_COMPLETION});
}

class IsoPageTest : public WizardTest {
  protected:
    void SetUp() override {
        WizardTest::SetUp();
        Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY, IDD_MEDIA, IDD_ISO});
    }
};

TEST_F(IsoPageTest, NamesWithoutAFolderAreRefusedSilentlyWithTheTextSelected) {
    EXPECT_EQ(View().GetText(IDC_ISO_PATH), scratch / L"scourcd.iso");
    for (const std::wstring& typed :
         {std::wstring(), scratch / Native(L"missing/x.iso"), std::wstring(L"x.iso")}) {
        View().SetText(IDC_ISO_PATH, typed);
        View().focus = View().selectedAll = 0;
        Walk({IDD_ISO});
        EXPECT_EQ(View().focus, IDC_ISO_PATH);
        EXPECT_EQ(View().selectedAll, IDC_ISO_PATH);
    }
    EXPECT_TRUE(reporter.boxes.empty());
}

TEST_F(IsoPageTest, ABuilderFailureKeepsTheNewPathAndStays) {
    // A folder passes the name check; the image cannot be copied onto it.
    test::MakeDirs(scratch / L"images");
    View().SetText(IDC_ISO_PATH, scratch / L"images");
    Click(IDC_ISO_SHOW_FOLDER, false);
    Walk({IDD_ISO});
    EXPECT_EQ(View().selectedAll, IDC_ISO_PATH);
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, LoadText(IDS_ISO_DEST_FAILED));
    EXPECT_EQ(Options().IsoPath, scratch / L"images");
    EXPECT_EQ(Options().IsoShowFolder, 0);
    EXPECT_TRUE(frame.explored.empty());
}

TEST_F(IsoPageTest, BrowseAppendsTheImageNameOnce) {
    const std::pair<std::optional<std::wstring>, std::wstring> cases[] = {
        {scratch / L"images", scratch / Native(L"images/scourcd.iso")},
        {scratch.Path() + kPathSep, scratch / L"scourcd.iso"},
        {std::nullopt, scratch / L"scourcd.iso"},  // cancelled: unchanged
    };
    for (const auto& [chosen, shown] : cases) {
        frame.browseResult = chosen;
        sheet->CurrentPage()->OnCommand(IDC_ISO_BROWSE);
        EXPECT_EQ(View().GetText(IDC_ISO_PATH), shown);
    }
    Walk({-IDD_MEDIA});
    EXPECT_EQ(Options().IsoPath, scratch / L"scourcd.iso");
}

TEST(SheetTitleTest, PrefixAndBuffer) {
    EXPECT_EQ(CMainDlg::MakeTitle(L"Configuration Wizard"), L"Scourline Configuration Wizard");
    // The buffer: the text's length plus 128, at most 1024 characters with the terminator.
    EXPECT_EQ(CMainDlg::MakeTitle(std::wstring(2000, L'x')).size(), 1023u);
    EXPECT_EQ(CMainDlg::MakeTitle(std::wstring(800, L'x')).size(), 810u);
}

}  // namespace
}  // namespace scour
