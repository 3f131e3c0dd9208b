#include "app/help.h"
#include "app/resource_ids.h"
#include "pages/pages.h"

namespace scour {

CWelcomePage::CWelcomePage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_WELCOME, 0, 0, HelpTopicFor(IDD_WELCOME), true) {}

bool CWelcomePage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizNext);
    return true;
}

CCompletionPage::CCompletionPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_COMPLETION, 0, 0, HelpTopicFor(IDD_COMPLETION), false) {}

bool CCompletionPage::OnSetActive() {
    // Stored on arrival: a wizard closed here without Finish keeps the choices too.
    options_.Save(context_.services);
    context_.frame.ShowCancelButton(false);
    context_.frame.SetWizardButtons(kWizNext | kWizFinish);
    return true;
}

bool CCompletionPage::OnWizardFinish() {
    context_.frame.PostOk();
    return true;
}

std::vector<std::unique_ptr<CWizardPage>> CreateWizardPages(WizardOptions& options,
                                                            PageContext& context) {
    std::vector<std::unique_ptr<CWizardPage>> pages;
    pages.push_back(std::make_unique<CWelcomePage>(options, context));
    pages.push_back(std::make_unique<CModePage>(options, context));
    pages.push_back(std::make_unique<CLogPage>(options, context));
    pages.push_back(std::make_unique<CSchemePage>(options, context));
    pages.push_back(std::make_unique<CAtaPage>(options, context));
    pages.push_back(std::make_unique<CSummaryPage>(options, context));
    pages.push_back(std::make_unique<CMediaPage>(options, context));
    pages.push_back(std::make_unique<CIsoPage>(options, context));
    pages.push_back(std::make_unique<CUsbPage>(options, context));
    pages.push_back(std::make_unique<CCompletionPage>(options, context));
    return pages;
}

}  // namespace scour
