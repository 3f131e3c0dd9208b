#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "pages/pages.h"

namespace scour {

CModePage::CModePage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_MODE, IDS_MODE_TITLE, IDS_MODE_SUBTITLE,
                  HelpTopicFor(IDD_MODE), true) {}

void CModePage::OnInitDialog() {
    auto& v = View();
    v.SetChecked(IDC_MODE_SELECT_DISKS, options_.SelectDisks != 0);
    if (options_.AutoStart != 0) {
        v.SetChecked(IDC_MODE_AUTO, true);
        v.SetChecked(IDC_MODE_INTERACTIVE, false);
    } else {
        v.SetChecked(IDC_MODE_AUTO, false);
        v.SetChecked(IDC_MODE_INTERACTIVE, true);
        v.Enable(IDC_MODE_SELECT_DISKS, false);
        v.Enable(IDC_MODE_NO_DELAY, false);
    }
    if (options_.SelectDisks != 0) {
        v.SetChecked(IDC_MODE_NO_DELAY, false);
        v.Enable(IDC_MODE_NO_DELAY, false);
    } else {
        v.SetChecked(IDC_MODE_NO_DELAY, options_.NoDelay != 0);
    }
    if (options_.AllowTestMode == 0) {
        v.Show(IDC_MODE_TEST, false);
        v.SetChecked(IDC_MODE_TEST, false);
        options_.TestMode = 0;
    } else {
        v.Show(IDC_MODE_TEST, true);
        v.SetChecked(IDC_MODE_TEST, options_.TestMode != 0);
    }
    // The test box's enabled state is left as created until the first click.
}

void CModePage::UpdateEnabling() {
    auto& v = View();
    bool automatic = v.IsChecked(IDC_MODE_AUTO);
    bool select = v.IsChecked(IDC_MODE_SELECT_DISKS);
    bool noDelayEnabled = automatic && !select;
    v.Enable(IDC_MODE_SELECT_DISKS, automatic);
    v.Enable(IDC_MODE_NO_DELAY, noDelayEnabled);
    v.Enable(IDC_MODE_TEST, !noDelayEnabled);
}

void CModePage::OnCommand(int controlId) {
    switch (controlId) {
        case IDC_MODE_AUTO:
        case IDC_MODE_INTERACTIVE:
        case IDC_MODE_SELECT_DISKS:
        case IDC_MODE_NO_DELAY:
            UpdateEnabling();
            break;
        default:
            break;
    }
}

bool CModePage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

int CModePage::OnWizardNext() {
    auto& v = View();
    options_.AutoStart = v.IsChecked(IDC_MODE_AUTO) ? 1 : 0;
    options_.SelectDisks = v.IsChecked(IDC_MODE_SELECT_DISKS) ? 1 : 0;
    options_.NoDelay = options_.SelectDisks != 0 ? 0 : (v.IsChecked(IDC_MODE_NO_DELAY) ? 1 : 0);
    options_.TestMode = options_.AutoStart == 0 && v.IsChecked(IDC_MODE_TEST) ? 1 : 0;
    return 0;
}

}  // namespace scour
