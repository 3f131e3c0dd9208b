// What the page and dialog classes see of their windows: the controls of one
// dialog, reached by their ids, and the services of the frame around them.
// Each frame implements these for its real widgets; tests use fakes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/drive_discovery.h"
#include "platform/disk_ops.h"
#include "platform/reporter.h"
#include "platform/services.h"
#include "platform/volumes.h"

namespace scour {

class IPageView {
  public:
    virtual ~IPageView() = default;

    // Any control: its text (for an edit box, what is typed; read whole).
    virtual void SetText(int id, const std::wstring& text) = 0;
    virtual std::wstring GetText(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) = 0;
    virtual void Show(int id, bool visible) = 0;
    virtual bool IsVisible(int id) = 0;
    virtual void SetFocus(int id) = 0;
    // Selects the whole text of an edit box and scrolls the caret into view.
    virtual void SelectAllText(int id) = 0;

    // Drop-down lists: items in the order added. Drop-down and report lists:
    // the selected item, -1 for none.
    virtual void AddItem(int id, const std::wstring& text) = 0;
    virtual void SetSelection(int id, int index) = 0;
    virtual int Selection(int id) = 0;

    // Report lists.
    // Inserts the columns, each as wide as its title's text plus 15 pixels.
    virtual void InsertColumns(int id, const std::vector<std::wstring>& titles) = 0;
    // Replaces all rows without redrawing in between; row `selected` (or none
    // for -1) is the selected one.
    virtual void SetRows(int id, const std::vector<std::vector<std::wstring>>& rows,
                         int selected) = 0;
    // The width (pixels) that fits a column's contents, and the width that
    // fits its contents and its title.
    virtual int ColumnContentWidth(int id, int column) = 0;
    virtual int ColumnContentAndTitleWidth(int id, int column) = 0;
    virtual void SetColumnWidth(int id, int column, int width) = 0;
    virtual int ColumnWidth(int id, int column) = 0;

    // Progress bars.
    virtual void SetProgressRange(int id, int lower, int upper) = 0;
    virtual void SetProgressPosition(int id, int position) = 0;
    virtual int ProgressPosition(int id) = 0;

    // Repaints the page at once (the wizard's work runs on the UI thread).
    virtual void RepaintNow() = 0;
};

// A modal dialog's behaviour (the credentials dialog, the About box).
class IDialogLogic {
  public:
    virtual ~IDialogLogic() = default;
    virtual int DialogId() const = 0;
    // When the dialog opens: fill the controls, place the focus.
    virtual void OnInitDialog(IPageView& view) = 0;
    // A button that ends the dialog (1 OK, 2 Cancel, Escape and the close box
    // count as 2). Read what is needed from the view before it goes.
    virtual void OnClose(IPageView& view, int command) = 0;
};

// What a page asks of the sheet and the frame around it.
class IWizardFrame {
  public:
    virtual ~IWizardFrame() = default;
    // Back 1, Next 2, Finish 4; Next and Finish together offer Finish in Next's place.
    // Takes effect after the current event, as a posted message would.
    virtual void SetWizardButtons(unsigned flags) = 0;
    // The sheet's Cancel button.
    virtual void ShowCancelButton(bool visible) = 0;
    // Posts the OK command to the sheet: the wizard then finishes.
    virtual void PostOk() = 0;
    // Shows a modal dialog over the active window; returns the command that closed it.
    virtual int RunDialog(IDialogLogic& dialog) = 0;
    // The wait cursor over the whole window, for work on the UI thread.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    virtual void Pause(int milliseconds) = 0;
    // The folder chooser with the prompt; nothing when cancelled or no file-system folder.
    virtual std::optional<std::wstring> BrowseForFolder(const std::wstring& prompt) = 0;
    // Opens the folder in the desktop's file manager; failures are silent.
    virtual void ExploreFolder(const std::wstring& folder) = 0;
    // Opens the help viewer with a request ("file", or "file::topic!"); never waits.
    virtual void OpenHelp(const std::wstring& request) = 0;
};

// Wizard button flags.
enum WizardButtons : unsigned {
    kWizBack = 1,
    kWizNext = 2,
    kWizFinish = 4,
};

// Everything a page needs besides its own view and the options record.
struct PageContext {
    const platform::Services& services;
    platform::IReporter& reporter;
    IWizardFrame& frame;
    // The USB disk page: discovery and the disk operations (null elsewhere and
    // where the frame offers no USB disks).
    platform::IVolumeSystem* volumes = nullptr;
    platform::IDiskPreparer* disks = nullptr;
};

}  // namespace scour
