#include "app/main_dlg.h"

#include <algorithm>

#include "app/resource_ids.h"
#include "app/startup.h"
#include "base/strings.h"

namespace scour {

namespace {

// The title buffer: the window text's length plus this, at most kMaxTitle.
constexpr std::size_t kTitleExtra = 128;
constexpr std::size_t kMaxTitle = 1024;
constexpr wchar_t kTitlePrefix[] = L"Scourline ";

}  // namespace

CMainDlg::CMainDlg(PageContext& context) : context_(context) {}

bool CMainDlg::BuildPages(const PageFactory& makePages) {
    if (context_.services.environment == nullptr ||
        !CheckComponents(*context_.services.environment)) {
        return false;
    }
    options_.Load(context_.services);
    pages_ = makePages(options_, context_);
    return true;
}

int CMainDlg::IndexOfDialog(int dialogId) const {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i]->DialogId() == dialogId) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CMainDlg::TargetIndex(int from, int answer, bool forward) const {
    if (answer == -1) {
        return -1;
    }
    if (answer == 0) {
        int to = forward ? from + 1 : from - 1;
        return to >= 0 && to < static_cast<int>(pages_.size()) ? to : -1;
    }
    return IndexOfDialog(answer);
}

CWizardPage* CMainDlg::CurrentPage() {
    if (current_ < 0 || current_ >= static_cast<int>(pages_.size())) {
        return nullptr;
    }
    return pages_[static_cast<std::size_t>(current_)].get();
}

void CMainDlg::Activate(int index) {
    if (window_ == nullptr || closed_ || index < 0 || index >= static_cast<int>(pages_.size())) {
        return;
    }
    auto& page = *pages_[static_cast<std::size_t>(index)];
    // The page's window exists before it is asked, as the property sheet does it.
    window_->ShowPage(page);
    if (!page.OnSetActive()) {
        if (auto* previous = CurrentPage()) {
            window_->ShowPage(*previous);
        }
        return;
    }
    current_ = index;
}

void CMainDlg::Start() {
    current_ = -1;
    Activate(0);
}

void CMainDlg::PressNext() {
    auto* page = CurrentPage();
    if (page == nullptr || closed_) {
        return;
    }
    int to = TargetIndex(current_, page->OnWizardNext(), true);
    if (to >= 0 && !closed_) {
        Activate(to);
    }
}

void CMainDlg::PressBack() {
    auto* page = CurrentPage();
    if (page == nullptr || closed_) {
        return;
    }
    int to = TargetIndex(current_, page->OnWizardBack(), false);
    if (to >= 0 && !closed_) {
        Activate(to);
    }
}

void CMainDlg::PressFinish() {
    if (auto* page = CurrentPage(); page != nullptr && !closed_) {
        page->OnWizardFinish();
    }
}

void CMainDlg::PressHelp() {
    if (auto* page = CurrentPage(); page != nullptr && page->HasHelp()) {
        page->OnHelp();
    }
}

void CMainDlg::OnCancel() {
    if (closed_) {
        return;
    }
    auto* page = CurrentPage();
    if (page != nullptr && page->DialogId() == IDD_COMPLETION) {
        CloseDialog(kExitCancelled);
        return;
    }
    if (context_.reporter.AskYesNo(LoadText(IDS_WIZARD_CAPTION), LoadText(IDS_CANCEL_QUESTION))) {
        CloseDialog(kExitCancelled);
    }
}

std::wstring CMainDlg::MakeTitle(const std::wstring& currentText) {
    std::size_t buffer = std::min(currentText.size() + kTitleExtra, kMaxTitle);
    std::wstring title = kTitlePrefix;
    // The buffer holds the terminator too.
    std::size_t room = buffer > title.size() + 1 ? buffer - title.size() - 1 : 0;
    title += currentText.substr(0, room);
    return title;
}

std::wstring CMainDlg::FixTitle(const std::wstring& currentText) {
    std::wstring title = MakeTitle(currentText);
    titleFixed_ = true;
    return title;
}

void CMainDlg::CloseDialog(int exitCode) {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (window_ != nullptr) {
        window_->Close(exitCode);
    }
    for (auto& page : pages_) {
        page.reset();
    }
    pages_.clear();
    current_ = -1;
}

}  // namespace scour
