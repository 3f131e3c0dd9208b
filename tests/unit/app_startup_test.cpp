// Start-up: the switches, the checks before the sheet, the help requests and the
// About line. The wizard scripts run -V, -T, -Tx, a missing component, a user who
// is no administrator and help on two pages on the real program.
#include <gtest/gtest.h>

#include "app/help.h"
#include "app/resource_ids.h"
#include "app/startup.h"
#include "base/strings.h"
#include "base/text.h"
#include "pages_fakes.h"
#include "support/test_support.h"

namespace scour {
namespace {

TEST(Switches, AreWordsAfterDashOrSlashEndingAtABlank) {
    const std::tuple<const wchar_t*, bool, bool> cases[] = {
        // command line, test mode allowed, About alone
        {L"C:\\x-Ty", false, false}, {L"-vx -T", true, false}, {L"bootwiz.exe\t-t\t/v", true, true},
        {L"/v -t", false, true},  // V ends the examination
        {L"x-t", true, false},    // a word after '-' anywhere
        {L"-T/V", false, true},
    };
    for (const auto& [line, test, about] : cases) {
        Switches s = ParseSwitches(line);
        EXPECT_EQ(s.allowTestMode, test) << ToUtf8(line);
        EXPECT_EQ(s.aboutOnly, about) << ToUtf8(line);
    }
    EXPECT_EQ(JoinArguments({L"-t", L"a b", L"/V"}), L"-t a b /V");
}

class FakeHost final : public IStartupHost {
  public:
    bool administrator = true;
    std::vector<std::wstring> errors;
    int aboutShown = 0, sheetsRun = 0;
    bool IsAdministrator() override { return administrator; }
    void ShowStartupError(const std::wstring& text) override { errors.push_back(text); }
    void ShowAboutAlone() override { ++aboutShown; }
    int RunSheet(CMainDlg&) override {
        ++sheetsRun;
        return kExitCancelled;
    }
};

// The checks come in order and each stops before the next; the options are
// loaded only when the sheet is to run, and its code is the result.
TEST(StartUp, ChecksInOrderThenTheSheetsCodeIsTheResult) {
    const std::wstring none = L"-", bootLoader = RequiredComponents().back();
    struct Case {
        const wchar_t* line;
        bool administrator;
        std::wstring missing;
        int code, error, about, sheets, allowTestMode;
    } cases[] = {
        // About alone needs neither administrator nor the components nor the options.
        {L"-t -v", false, bootLoader, kExitNoWindow, 0, 1, 0, 1},
        {L"", false, bootLoader, kExitNotAdministrator, IDS_RUN_AS_ADMIN, 0, 0, 0},
        {L"/t", true, bootLoader, kExitComponentsMissing, IDS_COMPONENTS_MISSING, 0, 0, 1},
        {L"/T", true, none, kExitCancelled, 0, 0, 1, 1},  // the switch survives the load
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        test::ScratchDir program;
        for (const auto& name : RequiredComponents()) {
            if (name != c.missing) {
                test::MakeDirs(FromFsPath(ToFsPath(program / name).parent_path()));
                test::WriteFile(program / name, "x");
            }
        }
        test::TestServices env(program.Path());
        test::MemoryStore store;
        env.services.settings = &store;
        test::FakeReporter reporter;
        test::FakeFrame frame;
        PageContext context{env.services, reporter, frame};
        CMainDlg sheet(context);
        FakeHost host;
        host.administrator = c.administrator;
        EXPECT_EQ(scour::Run(c.line, sheet, host,
                             [](WizardOptions&, PageContext&) {
                                 return std::vector<std::unique_ptr<CWizardPage>>();
                             }),
                  c.code);
        EXPECT_EQ(host.errors, c.error == 0 ? std::vector<std::wstring>{}
                                            : std::vector<std::wstring>{LoadText(c.error)});
        EXPECT_EQ(host.aboutShown, c.about);
        EXPECT_EQ(host.sheetsRun, c.sheets);
        EXPECT_EQ(store.opened, c.sheets);
        EXPECT_EQ(sheet.Options().AllowTestMode, c.allowTestMode);
    }
}

// Contents, topic and no help file are in the help script, the file's version in
// the About script; here the request's form, the refusals and the odd version
// texts. Without a program folder there are no components either.
TEST(HelpAndAbout, RequestsFitAPathBufferAndTheVersionLineTakesTheTextAsItIs) {
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", nullptr), L"C:\\w\\bootwiz.chm");
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", L"a/b.htm"), L"C:\\w\\bootwiz.chm::a/b.htm!");
    // 259 characters and the terminator fill the buffer; one more does not fit.
    EXPECT_TRUE(MakeHelpRequest(std::wstring(259, L'x'), nullptr));
    EXPECT_FALSE(MakeHelpRequest(std::wstring(260, L'x'), nullptr));
    // A topic adds "::", the topic and "!": 8 characters for "t.htm".
    EXPECT_EQ(MakeHelpRequest(std::wstring(251, L'x'), L"t.htm")->size(), 259u);
    EXPECT_FALSE(MakeHelpRequest(std::wstring(252, L'x'), L"t.htm"));

    test::ScratchDir program;
    test::TestEnvironment environment;
    environment.programFolder = program.Path();
    const std::wstring helpFile = program / test::Native(kHelpFileName);
    test::MakeDirs(FromFsPath(ToFsPath(helpFile).parent_path()));
    test::WriteFile(helpFile, "help");
    test::FakeFrame frame;
    EXPECT_FALSE(ShowHelp(environment, frame, std::wstring(300, L'a').c_str()));
    test::TestEnvironment unknown;
    EXPECT_FALSE(ShowHelp(unknown, frame, HelpTopicFor(IDD_MODE)));
    EXPECT_FALSE(CheckComponents(unknown));
    EXPECT_TRUE(frame.helpRequests.empty());
    EXPECT_EQ(AboutVersionLine(L"1.%s"), L"Version 1.%s build 582");
    EXPECT_EQ(AboutVersionLine(std::nullopt), L"Version 2.45 build 582");
}

}  // namespace
}  // namespace scour
