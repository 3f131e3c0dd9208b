// The wizard sheet: owns the options record and the ten pages, knows their
// order, moves between them by the pages' answers, keeps the title, asks
// before Cancel and ends the wizard with its exit code. The frame draws it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/wizard_page.h"
#include "options/wizard_options.h"

namespace scour {

// The sheet's window as the sheet needs it.
class ISheetWindow {
  public:
    virtual ~ISheetWindow() = default;
    // Makes the page the one shown: creates its window the first time (and
    // then calls page.Attach), shows its header texts, and hides the others.
    virtual void ShowPage(CWizardPage& page) = 0;
    // Destroys the window and ends the message loop with the exit code.
    virtual void Close(int exitCode) = 0;
};

// Exit codes of the wizard.
enum WizardExit : int {
    kExitNoWindow = 0,
    kExitFinished = 1,
    kExitCancelled = 2,
    kExitNotAdministrator = 5,
    kExitComponentsMissing = -1,
    // A scripted run that failed (not one of the system's own codes).
    kExitScriptFailed = 3,
};

using PageFactory =
    std::function<std::vector<std::unique_ptr<CWizardPage>>(WizardOptions&, PageContext&)>;

class CMainDlg {
  public:
    explicit CMainDlg(PageContext& context);

    WizardOptions& Options() { return options_; }
    PageContext& Context() { return context_; }

    // The component check, then the options are loaded, then the pages made.
    // False (and nothing loaded) when a component is missing.
    bool BuildPages(const PageFactory& makePages);
    const std::vector<std::unique_ptr<CWizardPage>>& Pages() const { return pages_; }
    // -1 when no page has that dialog number.
    int IndexOfDialog(int dialogId) const;

    // Where a page's answer leads from page `from`: -1 stay, else the page index.
    int TargetIndex(int from, int answer, bool forward) const;

    // The flow for frames without a native property sheet. The sheet window
    // must be attached first.
    void Attach(ISheetWindow& window) { window_ = &window; }
    void Start();
    void PressNext();
    void PressBack();
    void PressFinish();
    void PressHelp();
    // The Cancel button, the close box, Escape.
    void OnCancel();
    // The OK command (posted by the completion page on Finish).
    void OnOk() { CloseDialog(kExitFinished); }
    int CurrentIndex() const { return current_; }
    // Frames whose property-sheet control moves between pages itself report
    // each activation here, so that Cancel knows the current page.
    void NoteActivated(int index) { current_ = index; }
    CWizardPage* CurrentPage();

    // "Scourline " and the sheet's text, as much as fits the title buffer.
    static std::wstring MakeTitle(const std::wstring& currentText);
    // Sets the title once; afterwards every change of the window text is
    // refused (OnSetText returns true: swallowed).
    std::wstring FixTitle(const std::wstring& currentText);
    bool OnSetText() const { return titleFixed_; }
    bool TitleFixed() const { return titleFixed_; }

    // Ends the wizard: the window goes, the loop ends with the code, the pages
    // are deleted in page order.
    void CloseDialog(int exitCode);
    bool Closed() const { return closed_; }

  private:
    void Activate(int index);

    PageContext& context_;
    WizardOptions options_;
    std::vector<std::unique_ptr<CWizardPage>> pages_;
    ISheetWindow* window_ = nullptr;
    int current_ = -1;
    bool titleFixed_ = false;
    bool closed_ = false;
};

}  // namespace scour
