#include <gtest/gtest.h>

#include "app_null_frame.h"

#include "app/startup.h"
#include "base/strings.h"
#include "base/text.h"
#include "options/stored_values.h"
#include "support/test_support.h"

namespace scour {
namespace {

TEST(Switches, AreWordsAfterDashOrSlashEndingAtABlank) {
    struct Case {
        const wchar_t* line;
        bool test;
        bool about;
    };
    const Case cases[] = {
        {L"", false, false},
        {L"-t -v", true, true},
        {L"/T", true, false},
        {L"-V", false, true},
        {L"C:\\x-Ty", false, false},
        {L"-Tx", false, false},
        {L"-vx -T", true, false},
        {L"bootwiz.exe\t-t\t/v", true, true},
        {L"/v -t", false, true},  // V ends the examination
        {L"\"C:\\Program Files\\Scourline\\bootwiz.exe\" /t", true, false},
        {L"x-t", true, false},  // a word after '-' anywhere
        {L"-T/V", false, true},
        {L"-", false, false},
    };
    for (const auto& c : cases) {
        Switches s = ParseSwitches(c.line);
        EXPECT_EQ(s.allowTestMode, c.test) << ToUtf8(c.line);
        EXPECT_EQ(s.aboutOnly, c.about) << ToUtf8(c.line);
    }
    EXPECT_EQ(JoinArguments({L"-t", L"a b", L"/V"}), L"-t a b /V");
    EXPECT_EQ(JoinArguments({}), L"");
}

// Counts the opening of the options key; the key holds AutoStart = 1, so a
// load that happened can be seen in the record.
class CountingStore final : public platform::ISettingsStore {
  public:
    int opened = 0;
    std::unique_ptr<platform::ISettingsKey> OpenKey() override {
        ++opened;
        return std::make_unique<Key>();
    }
    std::unique_ptr<platform::ISettingsKey> CreateKey(long& status) override {
        status = 5;
        return nullptr;
    }

  private:
    struct Key final : platform::ISettingsKey {
        bool Query(std::wstring_view name, platform::RegValue& out) override {
            if (name != L"AutoStart") {
                return false;
            }
            out = {platform::kRegDword, EncodeDword(1)};
            return true;
        }
        bool Set(std::wstring_view, std::uint32_t, const std::vector<std::uint8_t>&) override {
            return false;
        }
        long Commit() override { return 5; }
    };
};

class FakeHost final : public IStartupHost {
  public:
    bool administrator = true;
    int sheetResult = kExitFinished;
    std::vector<std::wstring> errors;
    int aboutShown = 0;
    int sheetsRun = 0;
    int allowTestModeInSheet = -1;
    int autoStartInSheet = -1;
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

class NullReporter final : public platform::IReporter {
  public:
    void ShowMessage(platform::BoxKind, const std::wstring&, const std::wstring&) override {}
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return false; }
};

class StartUp : public ::testing::Test {
  protected:
    StartUp() : env_(program_.Path()) { env_.services.settings = &store_; }

    // Lays out the program folder with every required component but `skip`.
    void Install(const std::wstring& skip = L"") {
        for (const auto& name : RequiredComponents()) {
            if (name == skip) {
                continue;
            }
            const std::wstring path = program_ / name;
            test::MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            test::WriteFile(path, "x");
        }
    }

    int Run(const wchar_t* commandLine) {
        return scour::Run(
            commandLine, sheet_, host_, [this](WizardOptions& options, PageContext& context) {
                ++factoryCalls_;
                std::vector<std::unique_ptr<CWizardPage>> pages;
                pages.push_back(
                    std::make_unique<CWizardPage>(options, context, 203, 0, 0, nullptr, true));
                return pages;
            });
    }

    test::ScratchDir program_;
    test::TestServices env_;
    CountingStore store_;
    NullReporter reporter_;
    test::NullFrame frame_;
    PageContext context_{env_.services, reporter_, frame_};
    CMainDlg sheet_{context_};
    FakeHost host_;
    int factoryCalls_ = 0;
};

TEST_F(StartUp, AboutSwitchNeedsNeitherAdministratorNorComponents) {
    host_.administrator = false;
    EXPECT_EQ(Run(L"-t -v"), kExitNoWindow);
    EXPECT_EQ(host_.aboutShown, 1);
    EXPECT_TRUE(host_.errors.empty());
    EXPECT_EQ(host_.sheetsRun, 0);
    EXPECT_EQ(store_.opened, 0);
    EXPECT_EQ(sheet_.Options().AllowTestMode, 1);
}

TEST_F(StartUp, NotAdministratorIsReportedBeforeMissingComponents) {
    host_.administrator = false;
    EXPECT_EQ(Run(L""), kExitNotAdministrator);
    ASSERT_EQ(host_.errors.size(), 1u);
    EXPECT_EQ(host_.errors[0], L"Please run Scourline Configuration Wizard as Administrator");
    EXPECT_EQ(host_.aboutShown + host_.sheetsRun + store_.opened + factoryCalls_, 0);
}

TEST_F(StartUp, MissingBootLoaderStopsBeforeTheOptionsAreLoaded) {
    Install(RequiredComponents().back());
    EXPECT_EQ(Run(L"/t"), kExitComponentsMissing);
    ASSERT_EQ(host_.errors.size(), 1u);
    EXPECT_EQ(host_.errors[0], LoadText(IDS_COMPONENTS_MISSING));
    EXPECT_EQ(host_.errors[0],
              L"Critical Scourline components are missing.\nPlease reinstall the application.");
    EXPECT_EQ(store_.opened, 0);
    EXPECT_EQ(factoryCalls_, 0);
    EXPECT_EQ(host_.sheetsRun, 0);
}

TEST_F(StartUp, WithEverythingInPlaceTheSheetsCodeIsTheResult) {
    Install();
    host_.sheetResult = kExitCancelled;
    EXPECT_EQ(Run(L"bootwiz.exe"), kExitCancelled);
    EXPECT_TRUE(host_.errors.empty());
    EXPECT_EQ(store_.opened, 1);
    EXPECT_EQ(host_.pagesInSheet, 1u);
    EXPECT_EQ(host_.autoStartInSheet, 1);
    EXPECT_EQ(host_.allowTestModeInSheet, 0);
}

TEST_F(StartUp, TestSwitchSurvivesLoadingTheOptions) {
    Install();
    EXPECT_EQ(Run(L"/T"), kExitFinished);
    EXPECT_EQ(host_.autoStartInSheet, 1);  // the options were loaded
    EXPECT_EQ(host_.allowTestModeInSheet, 1);
}

TEST_F(StartUp, EveryComponentIsRequired) {
    for (const auto& missing : RequiredComponents()) {
        test::ScratchDir folder;
        test::TestEnvironment environment;
        environment.programFolder = folder.Path();
        for (const auto& name : RequiredComponents()) {
            if (name != missing) {
                const std::wstring path = folder / name;
                test::MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
                test::WriteFile(path, "x");
            }
        }
        EXPECT_FALSE(CheckComponents(environment)) << ToUtf8(missing);
    }
    test::TestEnvironment unknown;  // the program folder could not be found
    EXPECT_FALSE(CheckComponents(unknown));
}

}  // namespace
}  // namespace scour
