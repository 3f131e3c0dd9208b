// The Windows frame's own pieces on real windows under Wine: the page view over
// list views, drop-down lists and progress bars, and the whole sheet.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "pages/pages.h"
#include "platform/services.h"

#include "ui/win32/win_view.h"
#include "ui/win32/wizard_app.h"

namespace {

using scour::win32::Win32PageView;

class FrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        window_ = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW | WS_SYSMENU, 0, 0,
                                  600, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override { DestroyWindow(window_); }

    HWND Child(const wchar_t* cls, int id, DWORD style) {
        return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 10, 10, 500, 200,
                               window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }

    HWND window_ = nullptr;
};

// A report list's selection is its selected row; an empty list has none.
TEST_F(FrameTest, ReportListProgressBarAndAbsentControls) {
    const int id = 1018;
    HWND list = Child(WC_LISTVIEWW, id, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS);
    ASSERT_NE(list, nullptr);
    Win32PageView view(window_);
    const std::vector<std::wstring> titles = {L"Drive", L"Capacity", L"Free space", L"Filesystem",
                                              L"Status"};
    view.InsertColumns(id, titles);

    const std::vector<std::vector<std::wstring>> two = {
        {L"(E:)", L"1 GB", L"1 GB", L"FAT", L"Ready"},
        {L"A much longer label than any title (F:)", L"15.9 GB", L"3 GB", L"NTFS",
         L"Format required"}};
    for (const auto& [rows, selected] :
         {std::pair{std::vector<std::vector<std::wstring>>{}, -1}, std::pair{two, 0}}) {
        view.SetRows(id, rows, selected);
        EXPECT_EQ(ListView_GetItemCount(list), static_cast<int>(rows.size()));
        EXPECT_EQ(view.Selection(id), selected);
        for (int col = 0; col < 5; ++col) {
            const int width = view.ColumnWidth(id, col);
            const int fits = view.ColumnContentAndTitleWidth(id, col);  // leaves the width
            EXPECT_EQ(view.ColumnWidth(id, col), width);
            EXPECT_GE(
                fits,
                ListView_GetStringWidth(list, titles[static_cast<std::size_t>(col)].c_str()) + 15);
        }
    }
    for (int row : {1, -1}) {
        view.SetSelection(id, row);
        EXPECT_EQ(view.Selection(id), row);
    }
    // The progress bar only shows while a disk is prepared, which Wine has none for.
    ASSERT_NE(Child(PROGRESS_CLASSW, 1022, WS_BORDER), nullptr);
    view.SetProgressRange(1022, 0, 8);
    view.SetProgressPosition(1022, 5);
    EXPECT_EQ(view.ProgressPosition(1022), 5);
    EXPECT_FALSE(view.IsVisible(4242));
    EXPECT_EQ(view.GetText(4242), L"");
}

}  // namespace

// The whole sheet from the script test's program folder, driven from a timer as a
// user would: the system menu ends with About, which opens over the wizard; Help
// opens the viewer (with compiled help); the sheet is centred; OK ends with 1.
namespace sheet_run {

struct Seen {
    HWND sheet = nullptr;
    UINT lastMenuId = 0;
    bool aboutOwnedBySheet = false;
    long offCentreX = -1, offCentreY = -1;  // the sheet's centre from the work area's
    bool withHelp = false, helpAsked = false, helpShown = false;
    int tick = 0;
};
Seen seen;

void CALLBACK Drive(HWND, UINT, UINT_PTR timer, DWORD) {
    ++seen.tick;
    if (seen.sheet == nullptr) {
        seen.sheet = FindWindowW(nullptr, L"Scourline Configuration Wizard");
        if (seen.sheet == nullptr) {
            return;
        }
        RECT box{}, area{};
        GetWindowRect(seen.sheet, &box);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        seen.offCentreX = std::labs((box.left + box.right) - (area.left + area.right)) / 2;
        seen.offCentreY = std::labs((box.top + box.bottom) - (area.top + area.bottom)) / 2;
        HMENU menu = GetSystemMenu(seen.sheet, FALSE);
        seen.lastMenuId = GetMenuItemID(menu, GetMenuItemCount(menu) - 1);
        PostMessageW(seen.sheet, WM_SYSCOMMAND, 16, 0);
        return;
    }
    if (HWND about = FindWindowW(nullptr, L"About Configuration Wizard")) {
        seen.aboutOwnedBySheet = GetWindow(about, GW_OWNER) == seen.sheet;
        PostMessageW(about, WM_COMMAND, IDOK, 0);
        return;
    }
    if (seen.withHelp && seen.aboutOwnedBySheet && !seen.helpShown && seen.tick <= 200) {
        // Help opens the viewer on a thread of its own, owned by the desktop.
        if (!seen.helpAsked) {
            seen.helpAsked = true;
            SendMessageW(seen.sheet, PSM_PRESSBUTTON, PSBTN_HELP, 0);
            return;
        }
        if (HWND viewer = FindWindowW(L"HH Parent", nullptr)) {
            seen.helpShown = true;
            PostMessageW(viewer, WM_CLOSE, 0, 0);
        }
        return;
    }
    if (seen.aboutOwnedBySheet || seen.tick > 200) {
        KillTimer(nullptr, timer);
        PostMessageW(seen.sheet, WM_COMMAND, IDOK, 0);
    }
}

}  // namespace sheet_run

TEST(SheetRun, SystemMenuAboutHelpAndOk) {
    using namespace sheet_run;
    const wchar_t* chm = _wgetenv(L"SCOUR_TEST_CHM");
    seen.withHelp = chm != nullptr && *chm != L'\0';
    scour::platform::Services services = scour::platform::DefaultServices();
    scour::win32::WizardApp app(GetModuleHandleW(nullptr), SW_SHOW);
    scour::PageContext context{services, app, app};
    scour::CMainDlg sheet(context);
    sheet.Attach(app);
    ASSERT_TRUE(sheet.BuildPages(scour::CreateWizardPages));
    UINT_PTR timer = SetTimer(nullptr, 0, 50, Drive);
    const int code = app.RunSheet(sheet);
    KillTimer(nullptr, timer);

    EXPECT_EQ(code, 1);
    EXPECT_EQ(seen.lastMenuId, 16u);
    EXPECT_TRUE(seen.aboutOwnedBySheet);
    EXPECT_LE(seen.offCentreX, 1);
    EXPECT_LE(seen.offCentreY, 1);
    EXPECT_EQ(seen.helpShown, seen.withHelp);
}
