#include "app/help.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "media/iso_builder.h"
#include "pages/pages.h"

namespace scour {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == kPathSep;
}

}  // namespace

CIsoPage::CIsoPage(WizardOptions& options, PageContext& context)
    : CWizardPage(options, context, IDD_ISO, IDS_ISO_TITLE, IDS_ISO_SUBTITLE, HelpTopicFor(IDD_ISO),
                  true) {}

void CIsoPage::OnInitDialog() {
    View().SetText(IDC_ISO_PATH, options_.IsoPath.value_or(std::wstring()));
    View().SetChecked(IDC_ISO_SHOW_FOLDER, options_.IsoShowFolder != 0);
}

bool CIsoPage::OnSetActive() {
    context_.frame.SetWizardButtons(kWizBack | kWizNext);
    return true;
}

void CIsoPage::OnCommand(int controlId) {
    if (controlId == IDC_ISO_BROWSE) {
        Browse();
    }
}

void CIsoPage::Browse() {
    auto folder = context_.frame.BrowseForFolder(LoadText(IDS_BROWSE_PROMPT));
    if (!folder || folder->empty()) {
        return;
    }
    std::wstring path = *folder;
    if (!IsSeparator(path.back())) {
        path += kPathSep;
    }
    path += kIsoImageName;
    View().SetText(IDC_ISO_PATH, path);
}

int CIsoPage::Refuse() {
    View().SetFocus(IDC_ISO_PATH);
    View().SelectAllText(IDC_ISO_PATH);
    return -1;
}

int CIsoPage::OnWizardNext() {
    auto& v = View();
    bool showFolder = v.IsChecked(IDC_ISO_SHOW_FOLDER);
    options_.IsoShowFolder = showFolder ? 1 : 0;
    std::wstring path = v.GetText(IDC_ISO_PATH);
    if (!PathOrFolderExists(path)) {
        return Refuse();
    }
    options_.IsoPath = path;
    context_.frame.BeginBusy();
    bool built = BuildIsoImage(options_, context_.services, context_.reporter);
    context_.frame.EndBusy();
    if (!built) {
        return Refuse();
    }
    if (showFolder) {
        // The folder without its last separator: "D:" for an image in a drive's root.
        auto cut = path.find_last_of(std::wstring(L"\\") + kPathSep);
        std::wstring folder = cut == std::wstring::npos ? path : path.substr(0, cut);
        if (folder.empty() && cut == 0) {
            folder = path.substr(0, 1);  // an image in "/" opens "/"
        }
        context_.frame.ExploreFolder(folder);
    }
    return IDD_COMPLETION;
}

int CIsoPage::OnWizardBack() {
    return IDD_MEDIA;
}

}  // namespace scour
