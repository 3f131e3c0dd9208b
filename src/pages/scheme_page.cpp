#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "pages/pages.h"

namespace scour {

CSchemePage::CSchemePage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_SCHEME, IDS_SCHEME_TITLE, IDS_SCHEME_SUBTITLE,
                  HelpTopicFor(IDD_SCHEME), true) {}

void CSchemePage::OnInitDialog() {
    auto& v = View();
    // The list is unsorted: item i is catalogue entry i.
    for (const auto& entry : options_.Schemes) {
        v.AddItem(IDC_SCHEME_LIST, entry.Name);
    }
    int count = static_cast<int>(options_.Schemes.size());
    if (count > 0) {
        v.SetSelection(IDC_SCHEME_LIST,
                       options_.Scheme >= 0 && options_.Scheme < count ? options_.Scheme : 0);
    }
    v.SetChecked(IDC_SCHEME_VERIFY, options_.Verify != 0);
}

bool CSchemePage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

int CSchemePage::OnWizardNext() {
    auto& v = View();
    int count = static_cast<int>(options_.Schemes.size());
    if (count == 0) {
        // Automatic wiping needs a scheme; a disk made without one would stop at boot.
        context_.reporter.ShowMessage(platform::BoxKind::Error, LoadText(IDS_WIZARD_CAPTION),
                                      LoadText(IDS_NO_SCHEME_INSTALLED));
        v.SetFocus(IDC_SCHEME_LIST);
        return -1;
    }
    options_.Verify = v.IsChecked(IDC_SCHEME_VERIFY) ? 1 : 0;
    int selection = v.Selection(IDC_SCHEME_LIST);
    options_.Scheme = selection >= 0 && selection < count ? selection : 0;
    return 0;
}

CAtaPage::CAtaPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_ATA, IDS_ATA_TITLE, IDS_ATA_SUBTITLE, HelpTopicFor(IDD_ATA),
                  true) {}

void CAtaPage::OnInitDialog() {
    auto& v = View();
    v.SetChecked(IDC_ATA_DCO, options_.ResetDCO != 0);
    v.SetChecked(IDC_ATA_HPA, options_.ResetHPA != 0);
    v.SetChecked(IDC_ATA_ERASE, options_.AtaErase != 0);
}

bool CAtaPage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

int CAtaPage::OnWizardNext() {
    auto& v = View();
    options_.ResetDCO = v.IsChecked(IDC_ATA_DCO) ? 1 : 0;
    options_.ResetHPA = v.IsChecked(IDC_ATA_HPA) ? 1 : 0;
    options_.AtaErase = v.IsChecked(IDC_ATA_ERASE) ? 1 : 0;
    return 0;
}

}  // namespace scour
