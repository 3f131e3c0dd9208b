#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "pages/pages.h"
#include "pages/share_test.h"

namespace scour {

namespace {

// The share, user and password boxes are read with room for this many characters.
constexpr std::size_t kBoxChars = 2047;
constexpr wchar_t kExampleShare[] = L"\\\\server\\share";

bool StartsWithTwoBackslashes(const std::wstring& text) {
    return text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\';
}

}  // namespace

CLogPage::CLogPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_LOG, IDS_LOG_TITLE, IDS_LOG_SUBTITLE, HelpTopicFor(IDD_LOG),
                  true) {}

std::wstring CLogPage::ReadBox(int id) {
    std::wstring text = View().GetText(id);
    if (text.size() > kBoxChars) {
        text.resize(kBoxChars);
    }
    return text;
}

void CLogPage::OnInitDialog() {
    auto& v = View();
    v.SetChecked(IDC_LOG_REMOVABLE, options_.WriteLog != 0);
    v.SetChecked(IDC_LOG_NETWORK, options_.NetLog != 0);
    v.SetChecked(IDC_LOG_SAVE_PASSWORD, false);
    v.SetText(IDC_LOG_SHARE, options_.NetShare.size() >= 2 ? options_.NetShare : kExampleShare);
    v.SetText(IDC_LOG_USER, options_.NetUser);
    v.SetText(IDC_LOG_PASSWORD, options_.NetPassword);
    UpdateEnabling();
}

void CLogPage::UpdateEnabling() {
    auto& v = View();
    bool network = v.IsChecked(IDC_LOG_NETWORK);
    bool save = v.IsChecked(IDC_LOG_SAVE_PASSWORD);
    for (int id : {IDC_LOG_SHARE_LABEL, IDC_LOG_USER_LABEL, IDC_LOG_SHARE, IDC_LOG_USER,
                   IDC_LOG_TEST, IDC_LOG_SAVE_PASSWORD, IDC_LOG_WARNING}) {
        v.Enable(id, network);
    }
    v.Enable(IDC_LOG_PASSWORD, network && save);
    v.Enable(IDC_LOG_PASSWORD_LABEL, network && save);
    v.Show(IDC_LOG_WARNING, save);
}

void CLogPage::OnCommand(int controlId) {
    switch (controlId) {
        case IDC_LOG_REMOVABLE:
        case IDC_LOG_NETWORK:
        case IDC_LOG_SAVE_PASSWORD:
            UpdateEnabling();
            break;
        case IDC_LOG_TEST:
            TestShare();
            break;
        default:
            break;
    }
}

bool CLogPage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

void CLogPage::ResolveShareIp(const std::wstring& sharePath, bool forced) {
    if (!forced && !heldIpForm_.empty()) {
        return;
    }
    if (context_.services.network == nullptr) {
        return;
    }
    if (auto form = MakeShareIpForm(sharePath, *context_.services.network)) {
        heldIpForm_ = std::move(*form);
        heldIpShare_ = sharePath;
    }
}

void CLogPage::TestShare() {
    heldIpForm_.clear();
    heldIpShare_.clear();
    std::wstring share = CutTrailingBackslash(ReadBox(IDC_LOG_SHARE));
    std::wstring user = ReadBox(IDC_LOG_USER);
    std::wstring password;
    if (View().IsChecked(IDC_LOG_SAVE_PASSWORD)) {
        password = ReadBox(IDC_LOG_PASSWORD);
    } else {
        // The password typed here serves this test only.
        CPasswdDlg dialog(share, user);
        if (context_.frame.RunDialog(dialog) == IDC_OK) {
            password = dialog.Password();
        }
    }
    context_.frame.BeginBusy();
    unsigned long code = context_.services.network != nullptr
                             ? context_.services.network->TestShareConnection(share, user, password)
                             : platform::kShareOtherFailure;
    ShareTestReport report = DescribeShareTestResult(code);
    if (report.passed) {
        ResolveShareIp(share, true);
    }
    context_.reporter.ShowMessage(
        report.passed ? platform::BoxKind::Information : platform::BoxKind::Error,
        LoadText(report.captionId), LoadText(report.textId));
    if (report.focusControl != 0) {
        View().SetFocus(report.focusControl);
    }
    context_.frame.EndBusy();
}

int CLogPage::OnWizardNext() {
    auto& v = View();
    options_.WriteLog = v.IsChecked(IDC_LOG_REMOVABLE) ? 1 : 0;
    options_.NetLog = v.IsChecked(IDC_LOG_NETWORK) ? 1 : 0;
    std::wstring share = ReadBox(IDC_LOG_SHARE);
    if (!StartsWithTwoBackslashes(share)) {
        v.SetFocus(IDC_LOG_SHARE);
        heldIpForm_.clear();
        heldIpShare_.clear();
        return -1;
    }
    share = CutTrailingBackslash(std::move(share));
    options_.NetShare = share;
    // A form held for another share text would send the boot disk to the wrong host.
    if (!heldIpForm_.empty() && heldIpShare_ != share) {
        heldIpForm_.clear();
        heldIpShare_.clear();
    }
    ResolveShareIp(share, false);
    options_.NetShareIp = heldIpForm_;
    options_.NetUser = ReadBox(IDC_LOG_USER);
    options_.NetPassword = ReadBox(IDC_LOG_PASSWORD);
    options_.NetAskPassword = v.IsChecked(IDC_LOG_SAVE_PASSWORD) ? 0 : 1;
    return options_.AutoStart != 0 ? 0 : IDD_SUMMARY;
}

CPasswdDlg::CPasswdDlg(std::wstring share, std::wstring user)
    : share_(std::move(share)), user_(std::move(user)) {}

int CPasswdDlg::DialogId() const {
    return IDD_PASSWORD;
}

void CPasswdDlg::OnInitDialog(IPageView& view) {
    view.SetText(IDC_PASSWD_SHARE, share_);
    view.SetText(IDC_PASSWD_USER, user_);
    view.SetFocus(IDC_PASSWD_PASSWORD);
}

void CPasswdDlg::OnClose(IPageView& view, int command) {
    if (command == IDC_OK) {
        password_ = view.GetText(IDC_PASSWD_PASSWORD);
    } else {
        password_.clear();
    }
}

CAboutDlg::CAboutDlg(std::optional<std::wstring> fileVersion)
    : fileVersion_(std::move(fileVersion)) {}

int CAboutDlg::DialogId() const {
    return IDD_ABOUT;
}

void CAboutDlg::OnInitDialog(IPageView& view) {
    view.SetText(IDC_ABOUT_VERSION, AboutVersionLine(fileVersion_));
}

void CAboutDlg::OnClose(IPageView& /*view*/, int /*command*/) {}

}  // namespace scour
