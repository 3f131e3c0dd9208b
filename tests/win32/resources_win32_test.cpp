// The resources generated into scourline-wizard.exe, read as Windows reads them:
// what the wizard's windows show comes from here, not from the portable tables.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "support/test_support.h"

namespace scour {
namespace {

class WizardResources : public ::testing::Test {
  protected:
    void SetUp() override {
        exe_ = LoadLibraryExW((test::BinDir() + L"\\scourline-wizard.exe").c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(exe_, nullptr);
    }
    void TearDown() override { FreeLibrary(exe_); }

    std::string_view Raw(const wchar_t* type, int id) {
        HRSRC found = FindResourceW(exe_, MAKEINTRESOURCEW(id), type);
        if (found == nullptr) {
            return {};
        }
        return {static_cast<const char*>(LockResource(LoadResource(exe_, found))),
                SizeofResource(exe_, found)};
    }
    // The style of control ID in dialog DIALOG (a DLGITEMTEMPLATEEX is DWORD
    // aligned: help ID, extended style, style, four coordinates, ID), 0 if none.
    DWORD ControlStyle(int dialog, int id) {
        const std::string_view d = Raw(RT_DIALOG, dialog);
        for (std::size_t at = 0; at + 24 <= d.size(); at += 4) {
            DWORD style = 0, got = 0;
            std::memcpy(&style, d.data() + at + 8, 4);
            std::memcpy(&got, d.data() + at + 20, 4);
            if (got == static_cast<DWORD>(id) && (style & WS_CHILD) != 0) {
                return style;
            }
        }
        return 0;
    }

    HMODULE exe_ = nullptr;
};

TEST_F(WizardResources, TextsPagesPasswordsManifestAndVersion) {
    int texts = 0;
    for (int id = 1; id < 65536; ++id) {
        if (!LoadText(id).empty()) {
            const wchar_t* text = nullptr;
            const int length =
                LoadStringW(exe_, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
            EXPECT_EQ(ToUtf8(std::wstring(text != nullptr ? text : L"", length)),
                      ToUtf8(LoadText(id)))
                << "string " << id;
            ++texts;
        }
    }
    EXPECT_GT(texts, 40);
    // The sheet's pages must be child dialogs.
    for (int page : {IDD_WELCOME, IDD_COMPLETION, IDD_MODE, IDD_SCHEME, IDD_ATA, IDD_SUMMARY,
                     IDD_MEDIA, IDD_ISO, IDD_USB, IDD_LOG}) {
        const std::string_view d = Raw(RT_DIALOG, page);
        ASSERT_GE(d.size(), 16u) << page;
        DWORD style = 0;
        std::memcpy(&style, d.data() + 12, 4);
        EXPECT_NE(style & WS_CHILD, 0u) << page;
    }
    EXPECT_NE(ControlStyle(IDD_LOG, IDC_LOG_PASSWORD) & ES_PASSWORD, 0u);
    EXPECT_NE(ControlStyle(IDD_PASSWORD, IDC_PASSWD_PASSWORD) & ES_PASSWORD, 0u);
    EXPECT_EQ(ControlStyle(IDD_PASSWORD, IDC_PASSWD_USER) & ES_PASSWORD, 0u);

    EXPECT_NE(Raw(RT_MANIFEST, 1).find("level=\"requireAdministrator\""), std::string_view::npos);
    // FileVersion (UTF-16, after its name and padding) is the project's.
    const std::string cmake = test::ReadFile(test::SourceDir() + L"\\CMakeLists.txt").value_or("");
    const auto from = cmake.find("project(Scourline VERSION ") + 26;
    std::wstring want;
    for (char c : cmake.substr(from, cmake.find(' ', from) - from)) {
        want += static_cast<wchar_t>(c);
    }
    const std::string_view raw = Raw(RT_VERSION, 1);
    const std::wstring_view wide(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
    auto at = wide.find(L"FileVersion");
    ASSERT_NE(at, std::wstring_view::npos);
    at = wide.find_first_not_of(L'\0', at + 11);
    EXPECT_EQ(ToUtf8(std::wstring(wide.substr(at, wide.find(L'\0', at) - at))), ToUtf8(want));
}

}  // namespace
}  // namespace scour
