#include <algorithm>

#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "media/drive_discovery.h"
#include "pages/pages.h"

namespace scour {

namespace {

constexpr int kColumnCount = 5;
// The page's own range until a preparation sets its own.
constexpr int kInitialProgressUpper = 8;

}  // namespace

CUsbPage::CUsbPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_USB, IDS_USB_TITLE, IDS_USB_SUBTITLE, HelpTopicFor(IDD_USB),
                  true) {}

int CUsbPage::FitColumnWidth(int contentWidth, int contentAndTitleWidth) {
    return std::clamp(std::max(contentWidth, contentAndTitleWidth), kMinColumnWidth,
                      kMaxColumnWidth);
}

void CUsbPage::OnInitDialog() {
    SetProgressRange(0, kInitialProgressUpper);
    View().Show(IDC_USB_PROGRESS, false);
    std::vector<std::wstring> titles(std::begin(kDriveColumnTitles), std::end(kDriveColumnTitles));
    View().InsertColumns(IDC_USB_LIST, titles);
    Refresh();
}

void CUsbPage::Refresh() {
    drives_.clear();
    if (context_.volumes != nullptr) {
        // A failed discovery leaves the list empty.
        DiscoverRemovableDrives(*context_.volumes, drives_);
    }
    if (!IsCreated()) {
        return;
    }
    auto& v = View();
    std::vector<std::vector<std::wstring>> rows;
    rows.reserve(drives_.size());
    for (const auto& d : drives_) {
        rows.push_back(
            {DriveText(d), d.CapacityText, d.FreeSpaceText, d.FileSystem, StatusText(d)});
    }
    v.SetRows(IDC_USB_LIST, rows, rows.empty() ? -1 : 0);
    for (int c = 0; c < kColumnCount; ++c) {
        v.SetColumnWidth(IDC_USB_LIST, c,
                         FitColumnWidth(v.ColumnContentWidth(IDC_USB_LIST, c),
                                        v.ColumnContentAndTitleWidth(IDC_USB_LIST, c)));
    }
    v.Enable(IDC_USB_FORMAT, v.Selection(IDC_USB_LIST) >= 0);
}

void CUsbPage::SetButtons() {
    context_.frame.SetWizardButtons(kWizBack | (diskPrepared_ ? kWizNext : 0u));
}

bool CUsbPage::OnSetActive() {
    View().Show(IDC_USB_PROGRESS, false);
    Refresh();
    SetButtons();
    return true;
}

int CUsbPage::OnWizardNext() {
    return IDD_COMPLETION;
}

int CUsbPage::OnWizardBack() {
    return IDD_MEDIA;
}

void CUsbPage::OnCommand(int controlId) {
    if (controlId == IDC_USB_FORMAT) {
        FormatAndCreate();
    }
}

void CUsbPage::OnSelectionChanged(int controlId) {
    if (controlId == IDC_USB_LIST) {
        View().Enable(IDC_USB_FORMAT, View().Selection(IDC_USB_LIST) >= 0);
    }
}

void CUsbPage::OnDeviceChange() {
    if (IsCreated()) {
        Refresh();
    }
}

void CUsbPage::FormatAndCreate() {
    if (context_.disks == nullptr) {
        return;
    }
    int selection = View().Selection(IDC_USB_LIST);
    // A copy: a device change during the run replaces the list, and the run
    // keeps working on the drive it started with.
    std::optional<RemovableDrive> chosen;
    if (selection >= 0 && selection < static_cast<int>(drives_.size())) {
        chosen = drives_[static_cast<std::size_t>(selection)];
    }
    PrepareUsbDisk(*this, chosen ? &*chosen : nullptr, options_, context_.services, *context_.disks,
                   context_.reporter);
}

void CUsbPage::SetProgressRange(int lower, int upper) {
    progressUpper_ = upper;
    View().SetProgressRange(IDC_USB_PROGRESS, lower, upper);
}

void CUsbPage::SetProgressPosition(int position) {
    View().SetProgressPosition(IDC_USB_PROGRESS, position);
    View().RepaintNow();
}

int CUsbPage::ProgressPosition() {
    return View().ProgressPosition(IDC_USB_PROGRESS);
}

int CUsbPage::ProgressUpper() {
    return progressUpper_;
}

void CUsbPage::ShowProgress() {
    View().Show(IDC_USB_PROGRESS, true);
}

void CUsbPage::RepaintPage() {
    View().RepaintNow();
}

void CUsbPage::Pause(int milliseconds) {
    context_.frame.Pause(milliseconds);
}

void CUsbPage::BeginBusy() {
    context_.frame.BeginBusy();
}

void CUsbPage::EndBusy() {
    context_.frame.EndBusy();
}

void CUsbPage::SetDiskPrepared() {
    diskPrepared_ = true;
}

void CUsbPage::RefreshAfterPreparation() {
    Refresh();
    SetButtons();
}

}  // namespace scour
