#include "app/help.h"

#include <filesystem>
#include <system_error>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"

namespace scour {

namespace {

struct PageTopic {
    int dialogId;
    const wchar_t* topic;
};

constexpr PageTopic kTopics[] = {
    {IDD_WELCOME, nullptr},
    {IDD_MODE,
     L"HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm"},
    {IDD_LOG, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/02_log_setting.htm"},
    {IDD_SCHEME, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/03_select_scheme.htm"},
    {IDD_ATA, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/04_options_for_ata.htm"},
    {IDD_SUMMARY, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/05_summary.htm"},
    {IDD_MEDIA, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/06_choosing_media.htm"},
    {IDD_ISO, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/07a_iso.htm"},
    {IDD_USB, L"HTML_Help_e/html/04_using/ISO Configuration Wizard/07b_usb.htm"},
    {IDD_COMPLETION,
     L"HTML_Help_e/html/04_using/ISO Configuration Wizard/01_configuration_wizard.htm"},
};

constexpr wchar_t kDefaultVersion[] = L"2.45";
constexpr wchar_t kBuild[] = L"582";

}  // namespace

const wchar_t* HelpTopicFor(int dialogId) {
    for (const auto& entry : kTopics) {
        if (entry.dialogId == dialogId) {
            return entry.topic;
        }
    }
    return nullptr;
}

std::optional<std::wstring> MakeHelpRequest(const std::wstring& helpFile, const wchar_t* topic) {
    std::wstring request = helpFile;
    if (topic != nullptr && *topic != L'\0') {
        request += L"::";
        request += topic;
        request += L'!';
    }
    if (!FitsPathBuffer(request)) {
        return std::nullopt;
    }
    return request;
}

bool ShowHelp(platform::IEnvironment& environment, IWizardFrame& frame, const wchar_t* topic) {
    const std::wstring folder = environment.ProgramFolder();
    if (folder.empty()) {
        return false;
    }
    std::wstring name = kHelpFileName;
    for (auto& c : name) {
        if (c == L'/') {
            c = kPathSep;
        }
    }
    const std::wstring helpFile = JoinPath(folder, name);
    std::error_code ec;
    if (!std::filesystem::exists(ToFsPath(helpFile), ec)) {
        return false;
    }
    auto request = MakeHelpRequest(helpFile, topic);
    if (!request) {
        return false;
    }
    frame.OpenHelp(*request);
    return true;
}

std::wstring AboutVersionLine(const std::optional<std::wstring>& fileVersion) {
    const std::wstring version =
        fileVersion && !fileVersion->empty() ? *fileVersion : std::wstring(kDefaultVersion);
    const std::wstring build = kBuild;
    const std::wstring* values[] = {&version, &build};

    // Only the two %s are placeholders; a version text is taken as it is.
    const std::wstring& format = LoadText(IDS_ABOUT_VERSION_FORMAT);
    std::wstring line;
    std::size_t used = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L's' && used < 2) {
            line += *values[used++];
            ++i;
        } else {
            line += format[i];
        }
    }
    return line;
}

}  // namespace scour
