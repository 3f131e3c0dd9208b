// A frame that shows nothing, answers Cancel to dialogs and records the help
// requests it was asked to open.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/page_view.h"

namespace scour::test {

class NullFrame final : public IWizardFrame {
  public:
    std::vector<std::wstring> helpRequests;
    void SetWizardButtons(unsigned) override {}
    void ShowCancelButton(bool) override {}
    void PostOk() override {}
    int RunDialog(IDialogLogic&) override { return 2; }
    void BeginBusy() override {}
    void EndBusy() override {}
    void Pause(int) override {}
    std::optional<std::wstring> BrowseForFolder(const std::wstring&) override {
        return std::nullopt;
    }
    void ExploreFolder(const std::wstring&) override {}
    void OpenHelp(const std::wstring& request) override { helpRequests.push_back(request); }
};

}  // namespace scour::test
