// The wizard window on Linux: a dialog of our own that lays out and behaves
// as a Wizard 97 property sheet (watermark on the exterior pages, header band
// on the interior ones, Back / Next or Finish / Cancel / Help below a line).
// All of the flow is the sheet's (CMainDlg); this only draws and forwards.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <map>
#include <memory>

#include "app/main_dlg.h"
#include "app/page_view.h"
#include "app/script.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/platform_hooks.h"

class QPushButton;
class QSocketNotifier;
class QTimer;

namespace scour::qt {

class WizardFrame final : public QDialog,
                          public ISheetWindow,
                          public IWizardFrame,
                          public IScriptTarget {
    Q_OBJECT

  public:
    WizardFrame();
    ~WizardFrame() override;

    // Shows the first page, fixes the title, sizes and centres the window.
    void Open(CMainDlg& sheet);
    int ExitCode() const { return exitCode_; }
    // The About box over the wizard (the window menu's item).
    void ShowAbout();
    // Watches for volumes that come and go; bursts end in one notice.
    void WatchVolumes(std::unique_ptr<IVolumeWatch> watch);
    // The current page's notice of a volume that came or went.
    void DeliverDeviceChange();
    // The view of the current page; null before the first page.
    DialogView* CurrentView();
    QPushButton* ButtonFor(scour::WizardButton button);

    // ISheetWindow
    void ShowPage(CWizardPage& page) override;
    void Close(int exitCode) override;

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

    // IScriptTarget
    bool Press(scour::WizardButton button) override;
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

    // The help page a request names: "file" or "file::topic!". The topic's
    // page when it exists, else the help's contents page.
    static QString HelpPageFor(const std::wstring& request);

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct PageHost {
        QWidget* host = nullptr;
        DialogView* view = nullptr;
    };
    PageHost& HostFor(CWizardPage& page);
    void ApplyButtons(unsigned flags);
    void Layout();
    void ShowWindowMenu(const QPoint& where);
    // The view the script reads: the open modal dialog's, else the page's.
    DialogView* ScriptView();

    CMainDlg* sheet_ = nullptr;
    DialogUnits units_;
    QSize pageSize_;
    int headerHeight_ = 0;
    QPixmap watermark_;
    QPixmap header_;
    QWidget* pageArea_ = nullptr;
    std::map<CWizardPage*, PageHost> hosts_;
    PageHost* current_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* finish_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* help_ = nullptr;
    QString title_;
    bool closing_ = false;
    int exitCode_ = kExitNoWindow;
    int busy_ = 0;
    std::unique_ptr<IVolumeWatch> watch_;
    QSocketNotifier* watchNotifier_ = nullptr;
    QTimer* deviceTimer_ = nullptr;
};

}  // namespace scour::qt
