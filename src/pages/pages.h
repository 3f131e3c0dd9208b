// The ten wizard pages and the two modal dialogs. Each class holds all of its
// page's behaviour and reaches its controls only through its view.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "app/wizard_page.h"
#include "media/removable_drive.h"
#include "media/usb_preparation.h"

namespace scour {

// The ten pages in sheet order.
std::vector<std::unique_ptr<CWizardPage>> CreateWizardPages(WizardOptions& options,
                                                            PageContext& context);

class CWelcomePage final : public CWizardPage {
  public:
    CWelcomePage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
};

class CModePage final : public CWizardPage {
  public:
    CModePage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;
    void OnCommand(int controlId) override;

  protected:
    void OnInitDialog() override;

  private:
    void UpdateEnabling();
};

class CLogPage final : public CWizardPage {
  public:
    CLogPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;
    void OnCommand(int controlId) override;
    // The Test button.
    void TestShare();
    // Fills the held IP form from the share path; when not forced, only while
    // it is empty.
    void ResolveShareIp(const std::wstring& sharePath, bool forced);
    const std::wstring& HeldIpForm() const { return heldIpForm_; }

  protected:
    void OnInitDialog() override;

  private:
    void UpdateEnabling();
    std::wstring ReadBox(int id);
    std::wstring heldIpForm_;
    // The share text the held form was made for.
    std::wstring heldIpShare_;
};

class CSchemePage final : public CWizardPage {
  public:
    CSchemePage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;

  protected:
    void OnInitDialog() override;
};

class CAtaPage final : public CWizardPage {
  public:
    CAtaPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;

  protected:
    void OnInitDialog() override;
};

class CSummaryPage final : public CWizardPage {
  public:
    CSummaryPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardBack() override;
};

class CMediaPage final : public CWizardPage {
  public:
    CMediaPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;

  protected:
    void OnInitDialog() override;
};

class CIsoPage final : public CWizardPage {
  public:
    CIsoPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    void OnCommand(int controlId) override;

  protected:
    void OnInitDialog() override;

  private:
    void Browse();
    int Refuse();
};

class CUsbPage final : public CWizardPage, public IUsbPage {
  public:
    CUsbPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    void OnCommand(int controlId) override;
    void OnSelectionChanged(int controlId) override;
    void OnDeviceChange() override;

    // Discovers the drives again and refills the list.
    void Refresh();
    const DriveList& Drives() const { return drives_; }
    bool DiskPrepared() const { return diskPrepared_; }
    // Column widths are held between these, in pixels.
    static constexpr int kMinColumnWidth = 20;
    static constexpr int kMaxColumnWidth = 200;
    static int FitColumnWidth(int contentWidth, int contentAndTitleWidth);

    // IUsbPage, for the preparation.
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPosition(int position) override;
    int ProgressPosition() override;
    int ProgressUpper() override;
    void ShowProgress() override;
    void RepaintPage() override;
    void Pause(int milliseconds) override;
    void BeginBusy() override;
    void EndBusy() override;
    void SetDiskPrepared() override;
    void RefreshAfterPreparation() override;

  protected:
    void OnInitDialog() override;

  private:
    void SetButtons();
    void FormatAndCreate();
    DriveList drives_;
    bool diskPrepared_ = false;
    int progressUpper_ = 0;
};

class CCompletionPage final : public CWizardPage {
  public:
    CCompletionPage(WizardOptions& options, PageContext& context);
    bool OnSetActive() override;
    bool OnWizardFinish() override;
};

// The credentials dialog of the share test.
class CPasswdDlg final : public IDialogLogic {
  public:
    CPasswdDlg(std::wstring share, std::wstring user);
    int DialogId() const override;
    void OnInitDialog(IPageView& view) override;
    void OnClose(IPageView& view, int command) override;
    // Empty unless closed with OK.
    const std::wstring& Password() const { return password_; }

  private:
    std::wstring share_;
    std::wstring user_;
    std::wstring password_;
};

// The About box: its version line from the program's file version.
class CAboutDlg final : public IDialogLogic {
  public:
    explicit CAboutDlg(std::optional<std::wstring> fileVersion);
    int DialogId() const override;
    void OnInitDialog(IPageView& view) override;
    void OnClose(IPageView& view, int command) override;

  private:
    std::optional<std::wstring> fileVersion_;
};

}  // namespace scour
