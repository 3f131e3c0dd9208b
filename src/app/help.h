// Context help: each page's topic, the request handed to the help viewer, and
// the About box's version line.
#pragma once

#include <optional>
#include <string>

#include "app/page_view.h"
#include "platform/system.h"

namespace scour {

// The help beside the program: the compiled help file on Windows, the
// contents page of the help pages on Linux.
#ifdef _WIN32
inline constexpr wchar_t kHelpFileName[] = L"bootwiz.chm";
#else
inline constexpr wchar_t kHelpFileName[] = L"help/index.html";
#endif

// The page's topic by dialog number; null for the welcome page (contents).
const wchar_t* HelpTopicFor(int dialogId);

// The help file's full path, then "::", the topic and "!" (just the path
// without a topic). Nothing when it would not fit a path buffer.
std::optional<std::wstring> MakeHelpRequest(const std::wstring& helpFile, const wchar_t* topic);

// False, and nothing happens, when the program folder is unknown, the help
// file is missing or the request would not fit; else the frame opens it.
bool ShowHelp(platform::IEnvironment& environment, IWizardFrame& frame, const wchar_t* topic);

// "Version %s build %s" with the program's file version, or "2.45" without
// one, and the build "582".
std::wstring AboutVersionLine(const std::optional<std::wstring>& fileVersion);

}  // namespace scour
