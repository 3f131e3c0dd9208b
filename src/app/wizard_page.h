// The shape every wizard page shares: its dialog, header texts and help topic,
// the view of its controls once its window exists, and the handlers the sheet
// calls. A handler that a page does not override has the sheet's default.
#pragma once

#include <string>

#include "app/page_view.h"
#include "options/wizard_options.h"

namespace scour {

class CWizardPage {
  public:
    // titleId and subtitleId 0: an exterior page without header.
    CWizardPage(WizardOptions& options, PageContext& context, int dialogId, int titleId,
                int subtitleId, const wchar_t* helpTopic, bool hasHelp);
    virtual ~CWizardPage() = default;
    CWizardPage(const CWizardPage&) = delete;
    CWizardPage& operator=(const CWizardPage&) = delete;

    int DialogId() const { return dialogId_; }
    bool IsExterior() const { return titleId_ == 0; }
    bool HasHelp() const { return hasHelp_; }
    // The header texts, loaded when the page is constructed.
    const std::wstring& Title() const { return title_; }
    const std::wstring& Subtitle() const { return subtitle_; }
    // The help topic; null: the help file's table of contents.
    const wchar_t* HelpTopic() const { return helpTopic_; }

    // The frame calls this once, when it has created the page's window, and
    // the page then fills its controls.
    void Attach(IPageView& view);
    bool IsCreated() const { return view_ != nullptr; }

    // Returning false keeps the page from being shown.
    virtual bool OnSetActive() { return true; }
    // 0: the neighbour in page order; -1: stay; otherwise a dialog number.
    virtual int OnWizardNext() { return 0; }
    virtual int OnWizardBack() { return 0; }
    virtual bool OnWizardFinish() { return true; }
    // The user pressed Help.
    virtual void OnHelp();
    // A click or other notification from a button, check box or radio button.
    virtual void OnCommand(int /*controlId*/) {}
    // The selection of a list changed (drop-down or report list).
    virtual void OnSelectionChanged(int /*controlId*/) {}
    // A volume arrived or was removed while the page exists.
    virtual void OnDeviceChange() {}

  protected:
    virtual void OnInitDialog() {}
    IPageView& View() { return *view_; }
    WizardOptions& options_;
    PageContext& context_;

  private:
    int dialogId_;
    int titleId_;
    const wchar_t* helpTopic_;
    bool hasHelp_;
    std::wstring title_;
    std::wstring subtitle_;
    IPageView* view_ = nullptr;
};

}  // namespace scour
