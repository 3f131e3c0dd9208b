// Start-up: the switches, the checks before the sheet (administrator, the
// components), the help requests and the About box's version line.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/help.h"
#include "app/resource_ids.h"
#include "app/startup.h"
#include "base/strings.h"
#include "base/text.h"
#include "options/stored_values.h"
#include "pages_fakes.h"
#include "support/test_support.h"

namespace scour {
namespace {

TEST(Switches, AreWordsAfterDashOrSlashEndingAtABlank) {
    const std::tuple<const wchar_t*, bool, bool> cases[] = {
        // command line, test mode allowed, About alone ("-t -v", "-V", "/T" and "-Tx"
        // are in the wizard's script test)
        {L"", false, false},
        {L"C:\\x-Ty", false, false},
        {L"-vx -T", true, false},
        {L"bootwiz.exe\t-t\t/v", true, true},
        {L"/v -t", false, true},  // V ends the examination
        {L"\"C:\\Program Files\\Scourline\\bootwiz.exe\" /t", true, false},
        {L"x-t", true, false},  // a word after '-' anywhere
        {L"-T/V", false, true},
        {L"-", false, false},
    };
    for (const auto& [line, test, about] : cases) {
        Switches s = ParseSwitches(line);
        EXPECT_EQ(s.allowTestMode, test) << ToUtf8(line);
        EXPECT_EQ(s.aboutOnly, about) << ToUtf8(line);
    }
    EXPECT_EQ(JoinArguments({L"-t", L"a b", L"/V"}), L"-t a b /V");
    EXPECT_EQ(JoinArguments({}), L"");
}

class FakeHost final : public IStartupHost {
  public:
    bool administrator = true;
    int sheetResult = kExitFinished;
    std::vector<std::wstring> errors;
    int aboutShown = 0, sheetsRun = 0;
    int allowTestModeInSheet = -1, autoStartInSheet = -1;
    std::size_t pagesInSheet = 0;

    bool IsAdministrator() override { return administrator; }
    void ShowStartupError(const std::wstring& text) override { errors.push_back(text); }
    void ShowAboutAlone() override { ++aboutShown; }
    int RunSheet(CMainDlg& sheet) override {
        ++sheetsRun;
        allowTestModeInSheet = sheet.Options().AllowTestMode;
        autoStartInSheet = sheet.Options().AutoStart;
        pagesInSheet = sheet.Pages().size();
        return sheetResult;
    }
};

// Lays out a program folder with every required component but `skip`.
void InstallComponents(const test::ScratchDir& folder, const std::wstring& skip) {
    for (const auto& name : RequiredComponents()) {
        if (name != skip) {
            const std::wstring path = folder / name;
            test::MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            test::WriteFile(path, "x");
        }
    }
}

// The checks come in order and each stops before the next; the options are
// loaded (the stored AutoStart = 1 shows it) only when the sheet is to run.
TEST(StartUp, ChecksInOrderThenTheSheetsCodeIsTheResult) {
    const std::wstring none = L"-", bootLoader = RequiredComponents().back();
    const std::wstring adminText = L"Please run Scourline Configuration Wizard as Administrator";
    const std::wstring componentsText =
        L"Critical Scourline components are missing.\nPlease reinstall the application.";
    struct Case {
        const wchar_t* line;
        bool administrator;
        std::wstring missing;
        int code;
        std::wstring error;
        int about, sheets, allowTestMode;
    } cases[] = {
        // About alone needs neither administrator nor the components nor the options.
        {L"-t -v", false, bootLoader, kExitNoWindow, L"", 1, 0, 1},
        {L"", false, bootLoader, kExitNotAdministrator, adminText, 0, 0, 0},
        {L"/t", true, bootLoader, kExitComponentsMissing, componentsText, 0, 0, 1},
        {L"bootwiz.exe", true, none, kExitCancelled, L"", 0, 1, 0},
        {L"/T", true, none, kExitFinished, L"", 0, 1, 1},  // the switch survives the load
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        test::ScratchDir program;
        InstallComponents(program, c.missing);
        test::TestServices env(program.Path());
        test::MemoryStore store;
        store.exists = true;
        store.values[L"AutoStart"] = {platform::kRegDword, EncodeDword(1)};
        env.services.settings = &store;
        test::FakeReporter reporter;
        test::FakeFrame frame;
        PageContext context{env.services, reporter, frame};
        CMainDlg sheet(context);
        FakeHost host;
        host.administrator = c.administrator;
        host.sheetResult = c.code;
        int factoryCalls = 0;
        int code = scour::Run(c.line, sheet, host, [&](WizardOptions& options, PageContext& pc) {
            ++factoryCalls;
            std::vector<std::unique_ptr<CWizardPage>> pages;
            pages.push_back(std::make_unique<CWizardPage>(options, pc, 203, 0, 0, nullptr, true));
            return pages;
        });
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(host.errors, c.error.empty() ? std::vector<std::wstring>{}
                                               : std::vector<std::wstring>{c.error});
        EXPECT_EQ(host.aboutShown, c.about);
        EXPECT_EQ(host.sheetsRun, c.sheets);
        EXPECT_EQ(factoryCalls, c.sheets);
        EXPECT_EQ(store.opened, c.sheets);
        EXPECT_EQ(sheet.Options().AllowTestMode, c.allowTestMode);
        if (c.sheets != 0) {
            EXPECT_EQ(host.pagesInSheet, 1u);
            EXPECT_EQ(host.autoStartInSheet, 1);
            EXPECT_EQ(host.allowTestModeInSheet, c.allowTestMode);
        }
    }
    EXPECT_EQ(LoadText(IDS_COMPONENTS_MISSING), componentsText);
}

// The last component missing is in the table above; the folder unknown here.
TEST(StartUp, ComponentsNeedAKnownProgramFolder) {
    test::TestEnvironment unknown;
    EXPECT_FALSE(CheckComponents(unknown));
}

// help_check.py finds every topic in the help; here the first, last and odd one out.
TEST(Help, TopicsByPage) {
    EXPECT_EQ(HelpTopicFor(IDD_WELCOME), nullptr);
    EXPECT_EQ(HelpTopicFor(999), nullptr);
    const std::pair<int, const wchar_t*> pages[] = {
        {IDD_MODE, L"02_configuration_for_automatic.htm"},
        {IDD_USB, L"07b_usb.htm"},
        {IDD_COMPLETION, L"01_configuration_wizard.htm"},
    };
    for (const auto& [dialog, page] : pages) {
        ASSERT_NE(HelpTopicFor(dialog), nullptr) << dialog;
        EXPECT_EQ(std::wstring(HelpTopicFor(dialog)),
                  std::wstring(L"HTML_Help_e/html/04_using/ISO Configuration Wizard/") + page);
    }
}

TEST(Help, RequestNeverExceedsAPathBuffer) {
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", nullptr), L"C:\\w\\bootwiz.chm");
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", L"a/b.htm"), L"C:\\w\\bootwiz.chm::a/b.htm!");
    // 259 characters and the terminator fill the buffer; one more does not fit.
    EXPECT_TRUE(MakeHelpRequest(std::wstring(259, L'x'), nullptr));
    EXPECT_FALSE(MakeHelpRequest(std::wstring(260, L'x'), nullptr));
    // A topic adds "::", the topic and "!": 8 characters for "t.htm".
    EXPECT_EQ(MakeHelpRequest(std::wstring(251, L'x'), L"t.htm")->size(), 259u);
    EXPECT_FALSE(MakeHelpRequest(std::wstring(252, L'x'), L"t.htm"));
}

// Contents, topic and no help file are in the help script; here the refusals.
TEST(Help, ShowHelpRefusesATopicTooLongAndAnUnknownFolder) {
    test::ScratchDir program;
    test::TestEnvironment environment;
    environment.programFolder = program.Path();
    std::wstring helpFile = program / kHelpFileName;
    std::replace(helpFile.begin(), helpFile.end(), L'/', kPathSep);
    test::MakeDirs(FromFsPath(ToFsPath(helpFile).parent_path()));
    test::WriteFile(helpFile, "help");
    test::FakeFrame frame;
    EXPECT_FALSE(ShowHelp(environment, frame, std::wstring(300, L'a').c_str()));
    test::TestEnvironment unknown;
    EXPECT_FALSE(ShowHelp(unknown, frame, HelpTopicFor(IDD_MODE)));
    EXPECT_TRUE(frame.helpRequests.empty());
}

TEST(About, VersionLine) {
    EXPECT_EQ(AboutVersionLine(std::nullopt), L"Version 2.45 build 582");
    // The version text is not a format of its own (the About box shows a real one).
    EXPECT_EQ(AboutVersionLine(L"1.%s"), L"Version 1.%s build 582");
}

}  // namespace
}  // namespace scour
