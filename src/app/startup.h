// Start-up: the switches, the administrator check, the component check and the
// exit codes, in their fixed order, over what the frame provides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/main_dlg.h"
#include "platform/system.h"

namespace scour {

struct Switches {
    bool allowTestMode = false;  // T
    bool aboutOnly = false;      // V: examination stops there
};

// A switch is a word after '-' or '/' anywhere in the line, compared without
// regard to case, ending at a space, a tab or the end of the line.
Switches ParseSwitches(std::wstring_view commandLine);
// Linux has an argument vector: the words joined by spaces.
std::wstring JoinArguments(const std::vector<std::wstring>& args);

// The components that must lie in the program folder, in the order checked.
const std::vector<std::wstring>& RequiredComponents();
// True when every required component exists in the program folder.
bool CheckComponents(platform::IEnvironment& environment);

// What start-up needs of the frame.
class IStartupHost {
  public:
    virtual ~IStartupHost() = default;
    // Windows: the service control manager opens with all access. Linux: root,
    // or the privileged helper can be started.
    virtual bool IsAdministrator() = 0;
    // An error box with no owner window, captioned with the wizard's name.
    virtual void ShowStartupError(const std::wstring& text) = 0;
    // The About box by itself, centred on the screen; returns when closed.
    virtual void ShowAboutAlone() = 0;
    // Creates and shows the sheet and runs the loop; the quit code, or
    // kExitNoWindow when the window could not be created.
    virtual int RunSheet(CMainDlg& sheet) = 0;
};

// Everything between module initialisation and termination. The sheet is
// constructed by the caller (with its options at their defaults).
int Run(std::wstring_view commandLine, CMainDlg& sheet, IStartupHost& host,
        const PageFactory& makePages);

}  // namespace scour
