// Fake views and frames that drive the pages and the sheet as a frame would. A
// view knows only its dialog's controls: a page reaching another fails the test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_dlg.h"
#include "base/text.h"
#include "platform/network.h"
#include "platform/reporter.h"
#include "unit/media_archive_util.h"
#include "unit/options_memory_store.h"

namespace scour::test {

struct FakeControl {
    std::wstring text;
    bool checked = false, enabled = true, visible = true;
    std::vector<std::vector<std::wstring>> rows;
    int selection = -1, position = 0;
};

class FakeView final : public IPageView {
  public:
    explicit FakeView(int dialogId) : dialog_(FindDialog(dialogId)) {
        EXPECT_NE(dialog_, nullptr) << "dialog " << dialogId;
        for (const auto& c : dialog_ ? dialog_->controls : std::vector<ControlDesc>{}) {
            if (c.id != -1) {
                controls_[c.id].text = c.text;
                controls_[c.id].visible = (c.style & kHidden) == 0;
            }
        }
    }
    int focus = 0, selectedAll = 0;

    FakeControl& At(int id) {
        auto it = controls_.find(id);
        if (it == controls_.end()) {
            ADD_FAILURE() << "dialog " << (dialog_ ? dialog_->id : 0) << " has no control " << id;
        }
        return controls_[id];
    }
    void SetText(int id, const std::wstring& text) override { At(id).text = text; }
    std::wstring GetText(int id) override { return At(id).text; }
    void SetChecked(int id, bool checked) override { At(id).checked = checked; }
    bool IsChecked(int id) override { return At(id).checked; }
    void Enable(int id, bool enabled) override { At(id).enabled = enabled; }
    bool IsEnabled(int id) override { return At(id).enabled; }
    void Show(int id, bool visible) override { At(id).visible = visible; }
    bool IsVisible(int id) override { return At(id).visible; }
    void SetFocus(int id) override { focus = (At(id), id); }
    void SelectAllText(int id) override { selectedAll = (At(id), id); }
    void AddItem(int id, const std::wstring&) override { At(id); }
    void SetSelection(int id, int index) override { At(id).selection = index; }
    int Selection(int id) override { return At(id).selection; }
    // The page's column fitting is proven on real list views by the frames.
    void InsertColumns(int, const std::vector<std::wstring>&) override {}
    void SetRows(int id, const std::vector<std::vector<std::wstring>>& rows,
                 int selected) override {
        At(id).rows = rows;
        At(id).selection = selected;
    }
    int ColumnContentWidth(int, int) override { return 0; }
    int ColumnContentAndTitleWidth(int, int) override { return 0; }
    void SetColumnWidth(int, int, int) override {}
    int ColumnWidth(int, int) override { return 0; }
    void SetProgressRange(int, int, int) override {}
    void SetProgressPosition(int id, int position) override { At(id).position = position; }
    int ProgressPosition(int id) override { return At(id).position; }
    void RepaintNow() override {}

  private:
    const DialogDesc* dialog_;
    std::map<int, FakeControl> controls_;
};

class FakeFrame final : public IWizardFrame {
  public:
    unsigned buttons = 0;
    bool cancelVisible = true;
    int oksPosted = 0, busy = 0;
    // Answers of the credentials dialog: the command and the password typed.
    std::deque<std::pair<int, std::wstring>> dialogAnswers;
    std::optional<std::wstring> browseResult;
    std::vector<std::wstring> helpRequests, explored;

    void SetWizardButtons(unsigned flags) override { buttons = flags; }
    void ShowCancelButton(bool visible) override { cancelVisible = visible; }
    void PostOk() override { ++oksPosted; }
    int RunDialog(IDialogLogic& dialog) override {
        FakeView view(dialog.DialogId());
        dialog.OnInitDialog(view);
        EXPECT_EQ(view.focus, 1046);
        if (dialogAnswers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << dialog.DialogId();
            return 2;
        }
        auto [command, password] = dialogAnswers.front();
        dialogAnswers.pop_front();
        view.SetText(1046, password);
        dialog.OnClose(view, command);
        return command;
    }
    void BeginBusy() override { ++busy; }
    void EndBusy() override { --busy; }
    void Pause(int) override {}
    std::optional<std::wstring> BrowseForFolder(const std::wstring&) override {
        return browseResult;
    }
    void ExploreFolder(const std::wstring& folder) override { explored.push_back(folder); }
    void OpenHelp(const std::wstring& request) override { helpRequests.push_back(request); }
};

// The sheet's window: a fake view per page, made when the page is first shown.
class FakeSheet final : public ISheetWindow {
  public:
    std::map<int, std::unique_ptr<FakeView>> views;
    std::optional<int> exitCode;
    void ShowPage(CWizardPage& page) override {
        auto& view = views[page.DialogId()];
        if (!view) {
            view = std::make_unique<FakeView>(page.DialogId());
            page.Attach(*view);
        }
    }
    void Close(int code) override { exitCode = code; }
};

class FakeNetwork final : public platform::INetwork {
  public:
    unsigned long code = 0;
    std::map<std::wstring, std::array<std::uint8_t, 4>> hosts;
    std::vector<std::wstring> lookups;
    std::vector<std::wstring> tested;  // share|user|password
    unsigned long TestShareConnection(const std::wstring& share, const std::wstring& user,
                                      const std::wstring& password) override {
        tested.push_back(share + L"|" + user + L"|" + password);
        return code;
    }
    std::optional<std::array<std::uint8_t, 4>> ResolveIpv4(const std::wstring& host) override {
        lookups.push_back(host);
        auto it = hosts.find(host);
        return it == hosts.end() ? std::nullopt
                                 : std::optional<std::array<std::uint8_t, 4>>(it->second);
    }
};

}  // namespace scour::test
