// The sheet and the pages driven through fake views, as a frame drives them:
// the jumps, what each page stores and when, the enabling rules, the share
// test, the ISO and USB pages. The scripts walk the same pages on real widgets.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/resource_ids.h"
#include "app/startup.h"
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
        for (const auto& name : RequiredComponents()) {
            test::MakeDirs(FromFsPath(ToFsPath(JoinPath(program, name)).parent_path()));
            test::WriteFile(JoinPath(program, name), "x");
        }
        test::MakeDirs(JoinPath(program, L"schemes"));
        for (const auto* s : {L"zeros.sch", L"random.sch", L"three-pass.sch"}) {
            const auto name = Native(L"schemes/") + s;
            fs::copy_file(ToFsPath(JoinPath(test::SourceDir(), name)),
                          ToFsPath(JoinPath(program, name)));
        }
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
    CLogPage& Log() { return static_cast<CLogPage&>(*sheet->CurrentPage()); }
    int Page() { return sheet->CurrentPage() ? sheet->CurrentPage()->DialogId() : 0; }
    test::FakeView& View() { return *window.views.at(Page()); }
    void Click(int id, bool checked) {
        View().SetChecked(id, checked);
        sheet->CurrentPage()->OnCommand(id);
    }
    void Fill(const wchar_t* share, const wchar_t* user, const wchar_t* password) {
        View().SetText(IDC_LOG_SHARE, share);
        View().SetText(IDC_LOG_USER, user);
        View().SetText(IDC_LOG_PASSWORD, password);
    }
    // Presses Next for each page given, Back for each negated one, and
    // checks the page reached after each press.
    void Walk(std::initializer_list<int> pages) {
        for (int p : pages) {
            p > 0 ? sheet->PressNext() : sheet->PressBack();
            ASSERT_EQ(Page(), std::abs(p));
        }
    }
};

// Interactive start skips the scheme and ATA pages both ways; Back stores
// nothing; the summary is rebuilt on each arrival; a stored scheme is clamped.
TEST_F(WizardTest, RoutesByMode) {
    Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY, -IDD_LOG, -IDD_MODE, -IDD_WELCOME, IDD_MODE, IDD_LOG,
          IDD_SUMMARY, IDD_MEDIA, IDD_ISO, -IDD_MEDIA, -IDD_SUMMARY});
    const auto interactive = View().GetText(IDC_SUMMARY_TEXT);
    Walk({-IDD_LOG, -IDD_MODE});
    Click(IDC_MODE_AUTO, true);
    Walk({-IDD_WELCOME});
    EXPECT_EQ(Options().AutoStart, 0);
    Walk({IDD_MODE});
    EXPECT_TRUE(View().IsChecked(IDC_MODE_AUTO));  // filled once, kept since
    Options().Scheme = 3;                          // one past the catalogue: the first is shown
    Walk({IDD_LOG, IDD_SCHEME});
    EXPECT_EQ(View().Selection(IDC_SCHEME_LIST), 0);
    Walk({IDD_ATA, IDD_SUMMARY, -IDD_ATA, IDD_SUMMARY});
    EXPECT_EQ(Options().Scheme, 0);
    EXPECT_NE(View().GetText(IDC_SUMMARY_TEXT), interactive);
}

// Start options: marks stored, enabled states after a click and fields out.
// The test box stays enabled as created until the first click.
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
        WizardOptions marks;
        marks.AutoStart = c.automatic;
        marks.SelectDisks = c.select;
        marks.NoDelay = c.noDelay;
        Save(marks);
        Open(true);
        Walk({IDD_MODE});
        auto& v = View();
        EXPECT_TRUE(v.IsEnabled(IDC_MODE_TEST));
        v.SetChecked(IDC_MODE_TEST, c.test);  // not a stored mark
        Click(c.automatic ? IDC_MODE_AUTO : IDC_MODE_INTERACTIVE, true);
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

// The network box enables the share; the password needs "save password" too,
// whose warning shows with it, network or not.
TEST_F(WizardTest, LogEnablingFollowsNetworkAndSavePassword) {
    Walk({IDD_MODE, IDD_LOG});
    const std::array<bool, 5> cases[] = {
        // network, save password: share, password enabled, warning shown
        {false, false, false, false, false},
        {true, false, true, false, false},
        {false, true, false, false, true},
        {true, true, true, true, true},
    };
    for (const auto& [net, save, share, password, warning] : cases) {
        Click(IDC_LOG_NETWORK, net);
        Click(IDC_LOG_SAVE_PASSWORD, save);
        SCOPED_TRACE(testing::Message() << "network " << net << ", save " << save);
        EXPECT_EQ(View().IsEnabled(IDC_LOG_SHARE), share);
        EXPECT_EQ(View().IsEnabled(IDC_LOG_PASSWORD), password);
        EXPECT_EQ(View().IsVisible(IDC_LOG_WARNING), warning);
    }
}

// Two backslashes or the page stays; the IP form only for a share that names a host.
TEST_F(WizardTest, LogShareTextsAreCheckedCutAndResolved) {
    Walk({IDD_MODE, IDD_LOG});
    network.hosts[L"fs1"] = {10, 0, 0, 5};
    const std::tuple<std::wstring, std::wstring, std::wstring> cases[] = {
        {L"server\\share", L"", L""},  // refused
        {L"\\server\\share", L"", L""},
        {L"\\\\fs1\\logs\\", L"\\\\fs1\\logs", L"\\\\10.0.0.5\\logs"},
        {L"\\\\fs1\\logs\\\\", L"\\\\fs1\\logs\\", L"\\\\10.0.0.5\\logs\\"},
        {L"\\\\fs1", L"\\\\fs1", L""},        // a server, no share
        {L"\\\\\\logs", L"\\\\\\logs", L""},  // no host
    };
    for (const auto& [typed, stored, ip] : cases) {
        SCOPED_TRACE(ToUtf8(typed));
        network.lookups.clear();
        View().SetChecked(IDC_LOG_REMOVABLE, true);
        View().SetText(IDC_LOG_SHARE, typed);
        sheet->PressNext();
        EXPECT_EQ(Options().WriteLog, 1);  // stored even when refused
        if (stored.empty()) {
            EXPECT_EQ(Page(), IDD_LOG);
            EXPECT_EQ(View().focus, IDC_LOG_SHARE);
            EXPECT_TRUE(reporter.boxes.empty());
        } else {
            EXPECT_EQ(Page(), IDD_SUMMARY);
            EXPECT_EQ(Options().NetShare, stored);
            EXPECT_EQ(Options().NetShareIp, ip);
            EXPECT_EQ(network.lookups.empty(), ip.empty());
            Walk({-IDD_LOG});
        }
    }
}

TEST_F(WizardTest, LogHeldIpFormFollowsTestsAndEdits) {
    Walk({IDD_MODE, IDD_LOG});
    network.hosts[L"fs1"] = {10, 0, 0, 5};
    network.hosts[L"fs2"] = {10, 0, 0, 6};
    Click(IDC_LOG_NETWORK, true);
    Click(IDC_LOG_SAVE_PASSWORD, true);
    Fill(L"\\\\fs1\\logs\\wipe\\", L"dom\\wiper", L"pw");
    Click(IDC_LOG_TEST, false);
    EXPECT_EQ(reporter.boxes.at(0).kind, platform::BoxKind::Information);
    EXPECT_EQ(Log().HeldIpForm(), L"\\\\10.0.0.5\\logs\\wipe");
    EXPECT_EQ(Options().NetShareIp, L"");  // only Next writes the record
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetShareIp, L"\\\\10.0.0.5\\logs\\wipe");
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
    EXPECT_EQ(reporter.boxes.back().kind, platform::BoxKind::Error);
    EXPECT_EQ(View().focus, IDC_LOG_USER);
    EXPECT_EQ(frame.busy, 0);
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetShareIp, L"");
}

TEST_F(WizardTest, LogWithoutSavedPasswordTheDialogAsksForThisTestOnly) {
    Walk({IDD_MODE, IDD_LOG});
    Click(IDC_LOG_NETWORK, true);
    Fill(L"\\\\fs1\\logs\\", L"wiper", L"old");
    frame.dialogAnswers = {{IDC_OK, L"typed"}, {IDC_CANCEL, L"ignored"}};
    Click(IDC_LOG_TEST, false);
    Click(IDC_LOG_TEST, false);
    EXPECT_EQ(network.tested,
              (std::vector<std::wstring>{L"\\\\fs1\\logs|wiper|typed", L"\\\\fs1\\logs|wiper|"}));
    Walk({IDD_SUMMARY});
    EXPECT_EQ(Options().NetPassword, L"old");  // the disabled box's text, kept
    EXPECT_EQ(Options().NetAskPassword, 1);
}

// A failure's message and the box that takes the focus; the share script and the
// Samba share test see the texts of real failures.
TEST(ShareTestReport, FailuresNameTheirMessageAndFocus) {
    const std::tuple<unsigned long, int, int> cases[] = {
        {5, IDS_SHARE_ACCESS_DENIED, 0},
        {67, IDS_SHARE_NOT_FOUND, IDC_LOG_SHARE},
        {1219, IDS_SHARE_CREDENTIAL_CONFLICT, 0},
        {1222, IDS_SHARE_NOT_FOUND, IDC_LOG_SHARE},
        {1326, IDS_SHARE_INVALID_PASSWORD, IDC_LOG_USER},
        {2202, IDS_SHARE_INVALID_USER, IDC_LOG_USER},
        {53, IDS_SHARE_COULD_NOT_TEST, 0},
    };
    for (const auto& [code, text, focus] : cases) {
        const ShareTestReport report = DescribeShareTestResult(code);
        EXPECT_EQ(report.textId, text) << code;
        EXPECT_EQ(report.focusControl, focus) << code;
    }
}

TEST_F(WizardTest, AnEmptyCatalogueStopsAutomaticWipingAtTheSchemePage) {
    fs::remove_all(ToFsPath(JoinPath(program, L"schemes")));
    Open();
    Walk({IDD_MODE});
    Click(IDC_MODE_AUTO, true);
    Walk({IDD_LOG, IDD_SCHEME, IDD_SCHEME});
    EXPECT_EQ(reporter.boxes.at(0).text, LoadText(IDS_NO_SCHEME_INSTALLED));
}

// The list follows device changes, the first drive selected; Next only after a preparation.
TEST_F(WizardTest, UsbPageListsTheDrivesAndOffersNextOnlyAfterAPreparation) {
    Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY, IDD_MEDIA});
    View().SetChecked(IDC_MEDIA_ISO, false);
    Click(IDC_MEDIA_USB, true);
    Walk({IDD_USB});
    EXPECT_EQ(frame.buttons, kWizBack);
    auto& list = View().At(IDC_USB_LIST);
    test::AddReadyStick(volumes, test::kStick, L'E', 1).info.label = L"Data";
    for (std::size_t drives : {1u, 0u}) {
        sheet->CurrentPage()->OnDeviceChange();
        ASSERT_EQ(list.rows.size(), drives);
        EXPECT_EQ(list.selection, drives == 1 ? 0 : -1);
        EXPECT_EQ(View().IsEnabled(IDC_USB_FORMAT), drives == 1);
        volumes.order.clear();
    }
    EXPECT_EQ(CUsbPage::FitColumnWidth(3, 9), CUsbPage::kMinColumnWidth);
    EXPECT_EQ(CUsbPage::FitColumnWidth(150, 900), CUsbPage::kMaxColumnWidth);
    static_cast<CUsbPage*>(sheet->CurrentPage())->SetDiskPrepared();
    Walk({-IDD_MEDIA, IDD_USB});
    EXPECT_EQ(frame.buttons, kWizBack | kWizNext);
    Walk({IDD_COMPLETION});
    // Arrival stores the options, hides Cancel and offers only Finish.
    WizardOptions stored;
    stored.Load(services);
    EXPECT_EQ(stored.IsoUsb, 0);
    EXPECT_FALSE(frame.cancelVisible);
    EXPECT_EQ(frame.buttons, kWizNext | kWizFinish);
    sheet->PressFinish();
    ASSERT_EQ(frame.oksPosted, 1);
    sheet->OnOk();
    EXPECT_EQ(window.exitCode, kExitFinished);
}

// Browse appends the image name once. A name without an existing folder is
// refused silently with the text selected (the image script has the builder's
// refusal of a folder), and Back stores nothing.
TEST_F(WizardTest, IsoPageBrowseAndRefusals) {
    Walk({IDD_MODE, IDD_LOG, IDD_SUMMARY, IDD_MEDIA, IDD_ISO});
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
    for (const std::wstring& typed :
         {std::wstring(), scratch / Native(L"missing/x.iso"), std::wstring(L"x.iso")}) {
        View().SetText(IDC_ISO_PATH, typed);
        View().focus = View().selectedAll = 0;
        Walk({IDD_ISO});
        EXPECT_EQ(View().focus, IDC_ISO_PATH);
        EXPECT_EQ(View().selectedAll, IDC_ISO_PATH);
    }
    EXPECT_TRUE(reporter.boxes.empty());
    Walk({-IDD_MEDIA});
    EXPECT_EQ(Options().IsoPath, scratch / L"scourcd.iso");
    // Built by the stand-in image maker, the image's folder is opened.
    fs::copy_file(ToFsPath(JoinPath(test::TestToolsDir(),
                                    kPathSep == L'\\' ? L"fake_mkisofs.exe" : L"fake_mkisofs")),
                  ToFsPath(JoinPath(program, kIsoMakerName)), fs::copy_options::overwrite_existing);
    Walk({IDD_ISO});
    View().SetText(IDC_ISO_PATH, scratch / L"scourcd.iso");
    View().SetChecked(IDC_ISO_SHOW_FOLDER, true);
    Walk({IDD_COMPLETION});
    EXPECT_EQ(frame.explored, std::vector<std::wstring>{scratch.Path()});
}

// The buffer: the text's length plus 128, at most 1024 characters with the terminator.
TEST(SheetTitleTest, PrefixAndBuffer) {
    EXPECT_EQ(CMainDlg::MakeTitle(L"Configuration Wizard"), L"Scourline Configuration Wizard");
    EXPECT_EQ(CMainDlg::MakeTitle(std::wstring(2000, L'x')).size(), 1023u);
    EXPECT_EQ(CMainDlg::MakeTitle(std::wstring(800, L'x')).size(), 810u);
}

}  // namespace
}  // namespace scour
