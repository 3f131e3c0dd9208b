// The controls of one dialog window as the page and dialog classes see them,
// and the modal dialogs those classes describe.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/page_view.h"

namespace scour::win32 {

class Win32PageView final : public IPageView {
  public:
    explicit Win32PageView(HWND dialog) : dialog_(dialog) {}
    HWND Window() const { return dialog_; }

    void SetText(int id, const std::wstring& text) override;
    std::wstring GetText(int id) override;
    void SetChecked(int id, bool checked) override;
    bool IsChecked(int id) override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) override;
    void Show(int id, bool visible) override;
    bool IsVisible(int id) override;
    void SetFocus(int id) override;
    void SelectAllText(int id) override;
    void AddItem(int id, const std::wstring& text) override;
    void SetSelection(int id, int index) override;
    int Selection(int id) override;
    void InsertColumns(int id, const std::vector<std::wstring>& titles) override;
    void SetRows(int id, const std::vector<std::vector<std::wstring>>& rows, int selected) override;
    int ColumnContentWidth(int id, int column) override;
    int ColumnContentAndTitleWidth(int id, int column) override;
    void SetColumnWidth(int id, int column, int width) override;
    int ColumnWidth(int id, int column) override;
    void SetProgressRange(int id, int lower, int upper) override;
    void SetProgressPosition(int id, int position) override;
    int ProgressPosition(int id) override;
    void RepaintNow() override;

  private:
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    int MeasureColumn(int id, int column, int how);
    HWND dialog_;
};

// The whole text of a window.
std::wstring WindowText(HWND window);

// Centres a window over its owner when that is visible and not minimised,
// otherwise in the work area of the screen.
void CenterOver(HWND window, HWND owner);

// Shows the dialog that `logic` describes, modal over `owner` (or alone),
// centred; returns the command that closed it (1 OK, 2 Cancel). `opened`
// receives the dialog's window while it is open, null afterwards.
int RunModalDialog(HINSTANCE instance, HWND owner, IDialogLogic& logic, HWND* opened = nullptr);

// The "FileVersion" text of the program's own version resource.
std::optional<std::wstring> GetFileVersionText();

// Writes the window's picture, as the screen shows it, to a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::wstring& file);

}  // namespace scour::win32
