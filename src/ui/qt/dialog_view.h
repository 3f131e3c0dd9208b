// One dialog of the shared descriptions as real Qt widgets: the controls at
// their places in dialog units, reached by their ids.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/page_view.h"

class QRadioButton;
class QTreeWidget;

namespace scour::qt {

// Dialog base units of a font as Windows measures them: the average width of
// the 52 letters and the font's height. Dialog units convert as x * baseX / 4
// and y * baseY / 8, rounded as MulDiv rounds.
struct DialogUnits {
    int baseX = 6;
    int baseY = 13;
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int cx, int cy) const;
};

DialogUnits MeasureDialogUnits(const QFont& font);
// The dialogs' font ("MS Shell Dlg" 8 and the like): the desktop's sans serif
// at the same point size.
QFont DialogFont(const DialogDesc& dialog);
// The exterior pages' title: an Arial-like bold 12-point font.
QFont TitleFont();

QString ToQt(const std::wstring& text);
std::wstring FromQt(const QString& text);

class DialogView final : public QWidget, public IPageView {
    Q_OBJECT

  public:
    DialogView(const DialogDesc& dialog, QWidget* parent = nullptr);

    const DialogDesc& Desc() const { return dialog_; }
    const DialogUnits& Units() const { return units_; }
    // The dialog's client size in pixels.
    QSize DialogSize() const;
    // Null when the dialog has no control of that id.
    QWidget* Control(int id) const;

    // A user's click on a button, radio button or check box.
    std::function<void(int)> onCommand;
    // A user's change of a list's selection.
    std::function<void(int)> onSelectionChanged;

    // IPageView
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

  protected:
    // The arrow keys on a radio button move the choice within its group.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    void RadioClicked(int id);
    bool MoveInRadioGroup(QRadioButton& from, int step);
    void Command(int id);
    QTreeWidget* List(int id) const;

    const DialogDesc& dialog_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    // Radio buttons by group: a group starts at a control with kGroup.
    std::map<int, int> radioGroup_;
    // Each group's radio buttons in the description's order.
    std::map<int, std::vector<int>> groupOrder_;
    bool filling_ = false;
};

// Repaints a window at once while the UI thread is busy: paints what is dirty
// and handles only the pending repaint requests, never input or timers.
void RepaintWindowNow(QWidget* widget);

// Lets the window system reach the windows while the UI thread waits for
// something outside (the share test's probe): exposures, repaints and the
// window manager's pings are handled; input, timers and socket notices wait,
// so the wizard stays as blocked as the test requires.
void KeepWindowsAlive();
// True while KeepWindowsAlive runs: work posted for later must wait.
bool KeepingWindowsAlive();

}  // namespace scour::qt
