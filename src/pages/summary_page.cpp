#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "options/summary.h"
#include "pages/pages.h"

namespace scour {

CSummaryPage::CSummaryPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_SUMMARY, IDS_SUMMARY_TITLE, IDS_SUMMARY_SUBTITLE,
                  HelpTopicFor(IDD_SUMMARY), true) {}

bool CSummaryPage::OnSetActive() {
    // Rebuilt every time: the earlier pages may have changed the record.
    View().SetText(IDC_SUMMARY_TEXT, BuildSummaryText(options_));
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

int CSummaryPage::OnWizardBack() {
    return options_.AutoStart != 0 ? 0 : IDD_LOG;
}

CMediaPage::CMediaPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_MEDIA, IDS_MEDIA_TITLE, IDS_MEDIA_SUBTITLE,
                  HelpTopicFor(IDD_MEDIA), true) {}

void CMediaPage::OnInitDialog() {
    bool iso = options_.IsoUsb != 0;
    View().SetChecked(IDC_MEDIA_ISO, iso);
    View().SetChecked(IDC_MEDIA_USB, !iso);
}

bool CMediaPage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

int CMediaPage::OnWizardNext() {
    options_.IsoUsb = View().IsChecked(IDC_MEDIA_ISO) ? 1 : 0;
    return options_.IsoUsb != 0 ? IDD_ISO : IDD_USB;
}

}  // namespace scour
