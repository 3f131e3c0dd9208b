#include "app/wizard_page.h"

#include "app/help.h"
#include "base/strings.h"

namespace scour {

CWizardPage::CWizardPage(WizardOptions& options, PageContext& context, int dialogId, int titleId,
                         int subtitleId, const wchar_t* helpTopic, bool hasHelp)
    : options_(options),
      context_(context),
      dialogId_(dialogId),
      titleId_(titleId),
      helpTopic_(helpTopic),
      hasHelp_(hasHelp),
      title_(titleId != 0 ? LoadText(titleId) : std::wstring()),
      subtitle_(subtitleId != 0 ? LoadText(subtitleId) : std::wstring()) {}

void CWizardPage::Attach(IPageView& view) {
    view_ = &view;
    OnInitDialog();
}

void CWizardPage::OnHelp() {
    if (hasHelp_ && context_.services.environment != nullptr) {
        ShowHelp(*context_.services.environment, context_.frame, helpTopic_);
    }
}

}  // namespace scour
