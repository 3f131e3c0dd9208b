#include "app/startup.h"

#include <filesystem>
#include <system_error>

#include "base/strings.h"
#include "base/text.h"
#include "media/iso_builder.h"

namespace scour {

namespace {

bool EndsWord(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The word that starts at `from`: everything up to a space, a tab or the end.
std::wstring_view WordAt(std::wstring_view line, std::size_t from) {
    std::size_t end = from;
    while (end < line.size() && !EndsWord(line[end])) {
        ++end;
    }
    return line.substr(from, end - from);
}

}  // namespace

Switches ParseSwitches(std::wstring_view commandLine) {
    Switches found;
    // Every '-' or '/' starts a word, even inside another word: "a/T" holds the
    // switch T, "C:\x-Ty" only the word "Ty".
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] != L'-' && commandLine[i] != L'/') {
            continue;
        }
        std::wstring_view word = WordAt(commandLine, i + 1);
        if (EqualsAsciiNoCase(word, L"T")) {
            found.allowTestMode = true;
        } else if (EqualsAsciiNoCase(word, L"V")) {
            found.aboutOnly = true;
            break;
        }
    }
    return found;
}

std::wstring JoinArguments(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const auto& arg : args) {
        if (!line.empty()) {
            line += L' ';
        }
        line += arg;
    }
    return line;
}

const std::vector<std::wstring>& RequiredComponents() {
#ifdef _WIN32
    static const std::vector<std::wstring> components = {kIsoMakerName, L"flash\\syslinux.exe",
                                                         L"iso\\isolinux.bin"};
#else
    static const std::vector<std::wstring> components = {kIsoMakerName, L"flash/syslinux",
                                                         L"iso/isolinux.bin"};
#endif
    return components;
}

bool CheckComponents(platform::IEnvironment& environment) {
    const std::wstring folder = environment.ProgramFolder();
    if (folder.empty()) {
        return false;
    }
    for (const auto& name : RequiredComponents()) {
        // A path that does not fit a path buffer could not be used later
        // either: the component counts as missing.
        const std::wstring path = JoinPath(folder, name);
        std::error_code ec;
        if (!FitsPathBuffer(path) || !std::filesystem::exists(ToFsPath(path), ec)) {
            return false;
        }
    }
    return true;
}

int Run(std::wstring_view commandLine, CMainDlg& sheet, IStartupHost& host,
        const PageFactory& makePages) {
    const Switches switches = ParseSwitches(commandLine);
    if (switches.allowTestMode) {
        sheet.Options().AllowTestMode = 1;
    }
    if (switches.aboutOnly) {
        host.ShowAboutAlone();
        return kExitNoWindow;
    }
    if (!host.IsAdministrator()) {
        host.ShowStartupError(LoadText(IDS_RUN_AS_ADMIN));
        return kExitNotAdministrator;
    }
    if (!sheet.BuildPages(makePages)) {
        host.ShowStartupError(LoadText(IDS_COMPONENTS_MISSING));
        return kExitComponentsMissing;
    }
    return host.RunSheet(sheet);
}

}  // namespace scour
