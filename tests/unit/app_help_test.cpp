#include <gtest/gtest.h>

#include "app_null_frame.h"

#include "app/help.h"
#include "app/resource_ids.h"
#include "base/text.h"
#include "support/test_support.h"

namespace scour {
namespace {

constexpr wchar_t kTopicFolder[] = L"HTML_Help_e/html/04_using/ISO Configuration Wizard/";

TEST(Help, TopicsByPage) {
    EXPECT_EQ(HelpTopicFor(IDD_WELCOME), nullptr);
    EXPECT_EQ(HelpTopicFor(999), nullptr);
    const std::pair<int, const wchar_t*> pages[] = {
        {IDD_MODE, L"02_configuration_for_automatic.htm"},
        {IDD_LOG, L"02_log_setting.htm"},
        {IDD_SCHEME, L"03_select_scheme.htm"},
        {IDD_ATA, L"04_options_for_ata.htm"},
        {IDD_SUMMARY, L"05_summary.htm"},
        {IDD_MEDIA, L"06_choosing_media.htm"},
        {IDD_ISO, L"07a_iso.htm"},
        {IDD_USB, L"07b_usb.htm"},
        {IDD_COMPLETION, L"01_configuration_wizard.htm"},
    };
    for (const auto& [dialog, page] : pages) {
        ASSERT_NE(HelpTopicFor(dialog), nullptr) << dialog;
        EXPECT_EQ(std::wstring(HelpTopicFor(dialog)), std::wstring(kTopicFolder) + page) << dialog;
    }
}

TEST(Help, RequestNeverExceedsAPathBuffer) {
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", nullptr), L"C:\\w\\bootwiz.chm");
    EXPECT_EQ(MakeHelpRequest(L"C:\\w\\bootwiz.chm", L"a/b.htm"), L"C:\\w\\bootwiz.chm::a/b.htm!");

    // 259 characters and the terminator fill the buffer; one more does not fit.
    EXPECT_TRUE(MakeHelpRequest(std::wstring(259, L'x'), nullptr));
    EXPECT_FALSE(MakeHelpRequest(std::wstring(260, L'x'), nullptr));
    const std::wstring topic = L"t.htm";  // adds "::", the topic and "!": 8 characters
    EXPECT_EQ(MakeHelpRequest(std::wstring(251, L'x'), topic.c_str())->size(), 259u);
    EXPECT_FALSE(MakeHelpRequest(std::wstring(252, L'x'), topic.c_str()));
}

TEST(Help, ShowHelpOpensTheFileBesideTheProgram) {
    test::ScratchDir program;
    test::TestEnvironment environment;
    environment.programFolder = program.Path();
    test::NullFrame frame;
    const wchar_t* topic = HelpTopicFor(IDD_MODE);

    EXPECT_FALSE(ShowHelp(environment, frame, topic));  // no help file

    std::wstring helpFile = program / kHelpFileName;
    for (auto& c : helpFile) {
        c = c == L'/' ? kPathSep : c;
    }
    test::MakeDirs(FromFsPath(ToFsPath(helpFile).parent_path()));
    test::WriteFile(helpFile, "help");
    EXPECT_TRUE(ShowHelp(environment, frame, nullptr));
    EXPECT_TRUE(ShowHelp(environment, frame, topic));
    // A topic too long for the request buffer is refused rather than cut.
    const std::wstring longTopic(300, L'a');
    EXPECT_FALSE(ShowHelp(environment, frame, longTopic.c_str()));

    test::TestEnvironment unknown;
    EXPECT_FALSE(ShowHelp(unknown, frame, topic));

    ASSERT_EQ(frame.helpRequests.size(), 2u);
    EXPECT_EQ(frame.helpRequests[0], helpFile);
    EXPECT_EQ(frame.helpRequests[1], helpFile + L"::" + topic + L"!");
}

TEST(About, VersionLine) {
    EXPECT_EQ(AboutVersionLine(std::nullopt), L"Version 2.45 build 582");
    EXPECT_EQ(AboutVersionLine(L"1.5"), L"Version 1.5 build 582");
    // The version text is not a format of its own.
    EXPECT_EQ(AboutVersionLine(L"1.%s"), L"Version 1.%s build 582");
}

}  // namespace
}  // namespace scour
