// The Windows frame of the wizard: the Wizard 97 property sheet around the
// portable pages, its message loop, the message boxes, help and the About
// box, and the performer of scripted runs.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "app/script.h"
#include "app/startup.h"
#include "platform/disk_ops.h"
#include "platform/reporter.h"
#include "platform/volumes.h"
#include "ui/win32/win_view.h"

namespace scour::win32 {

// Appends a separator and "About" (command 16) to the window's system menu.
void AddAboutToSystemMenu(HWND window);

class WizardApp final : public IStartupHost,
                        public IWizardFrame,
                        public ISheetWindow,
                        public platform::IReporter,
                        public IScriptTarget {
  public:
    WizardApp(HINSTANCE instance, int showCommand);
    ~WizardApp() override;
    WizardApp(const WizardApp&) = delete;
    WizardApp& operator=(const WizardApp&) = delete;

    // Start-up to the end of the message loop; the exit code.
    int Main(const wchar_t* commandLine);

    // IStartupHost
    bool IsAdministrator() override;
    void ShowStartupError(const std::wstring& text) override;
    void ShowAboutAlone() override;
    int RunSheet(CMainDlg& sheet) override;

    // IWizardFrame
    void SetWizardButtons(unsigned flags) override;
    void ShowCancelButton(bool visible) override;
    void PostOk() override;
    int RunDialog(IDialogLogic& dialog) override;
    void BeginBusy() override;
    void EndBusy() override;
    void Pause(int milliseconds) override;
    std::optional<std::wstring> BrowseForFolder(const std::wstring& prompt) override;
    void ExploreFolder(const std::wstring& folder) override;
    void OpenHelp(const std::wstring& request) override;

    // ISheetWindow: the property-sheet control moves between pages itself.
    void ShowPage(CWizardPage&) override {}
    void Close(int exitCode) override;

    // IReporter
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override;
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override;

    // IScriptTarget
    bool Press(WizardButton button) override;
    bool Click(int id) override;
    bool Type(int id, const std::wstring& text) override;
    bool Select(int id, int index) override;
    void DeviceChange() override;
    bool Screenshot(const std::wstring& file) override;
    int CurrentPage() override;
    std::optional<bool> IsChecked(int id) override;
    std::optional<bool> IsEnabled(int id) override;
    std::optional<bool> IsVisible(int id) override;
    std::optional<std::wstring> Text(int id) override;
    unsigned Buttons() override;

    // Message handling, reached from the window procedures.
    struct PageSlot;
    INT_PTR PageMessage(PageSlot& slot, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT SheetMessage(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    void SheetCreated(HWND sheet);
    void ScriptTick();

  private:
    HWND CurrentPageWindow() const;
    PageSlot* SlotOf(HWND page);
    // The window whose controls a script reads: an open modal dialog, else the page.
    HWND ScriptWindow() const;
    HWND ScriptControl(int id) const;
    void ShowAbout(HWND owner);
    void PrepareFrame();
    void RunLoop(MSG& msg);
    std::optional<platform::BoxKind> AnswerScripted(const std::wstring& caption,
                                                    const std::wstring& text, bool& yes);
    [[noreturn]] void FailScript(const std::wstring& text);
    BoxAnswer AnswerFromScript(const std::wstring& caption, const std::wstring& text);

    HINSTANCE instance_;
    int showCommand_;
    CMainDlg* sheet_ = nullptr;
    HWND sheetWindow_ = nullptr;
    std::vector<std::unique_ptr<PageSlot>> slots_;
    std::unique_ptr<platform::IVolumeSystem> volumes_;
    std::unique_ptr<platform::IDiskPreparer> disks_;
    PageContext* context_ = nullptr;
    HWND modal_ = nullptr;
    HCURSOR busyRestore_ = nullptr;
    int busyDepth_ = 0;
    std::unique_ptr<ScriptRunner> script_;
    bool stepping_ = false;
    UINT_PTR scriptTimer_ = 0;
};

// Writes a line to the standard error the program was started with.
void WriteStderr(const std::wstring& line);

}  // namespace scour::win32
