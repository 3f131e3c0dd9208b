// The performer of scripted runs on Windows: one action per timer tick, done
// on the sheet's and pages' real controls, and their state read back.
#include "ui/win32/wizard_app_internal.h"

#include <commctrl.h>
#include <dbt.h>

namespace scour::win32 {

using namespace wizard_detail;

namespace {

// Buttons of the Wizard 97 sheet, as the property-sheet control numbers them.
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;

bool UsableButton(HWND button) {
    return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button);
}

}  // namespace

void WizardApp::ScriptTick() {
    if (!script_ || stepping_) {
        return;
    }
    stepping_ = true;
    script_->Step(*this);
    stepping_ = false;
    if (script_->Failed()) {
        FailScript(script_->FailureText());
    }
    if (script_->Finished() && scriptTimer_ != 0) {
        KillTimer(nullptr, scriptTimer_);
        scriptTimer_ = 0;
    }
}

HWND WizardApp::ScriptWindow() const {
    return modal_ != nullptr ? modal_ : CurrentPageWindow();
}

// Id 0 stands for the sheet window itself (its title).
HWND WizardApp::ScriptControl(int id) const {
    if (id == 0) {
        return sheetWindow_;
    }
    HWND window = ScriptWindow();
    return window != nullptr ? GetDlgItem(window, id) : nullptr;
}

bool WizardApp::Press(WizardButton button) {
    if (sheetWindow_ == nullptr) {
        return false;
    }
    auto press = [&](int control, int which) {
        if (!UsableButton(GetDlgItem(sheetWindow_, control))) {
            return false;
        }
        SendMessageW(sheetWindow_, PSM_PRESSBUTTON, static_cast<WPARAM>(which), 0);
        return true;
    };
    switch (button) {
        case WizardButton::Next:
            return press(kNextButton, PSBTN_NEXT);
        case WizardButton::Back:
            return press(kBackButton, PSBTN_BACK);
        case WizardButton::Finish:
            return press(kFinishButton, PSBTN_FINISH);
        case WizardButton::Help:
            return press(IDHELP, PSBTN_HELP);
        case WizardButton::Cancel: {
            // As a click on the button: the sheet's own Cancel handling asks first.
            HWND cancel = GetDlgItem(sheetWindow_, IDCANCEL);
            if (!UsableButton(cancel)) {
                return false;
            }
            SendMessageW(sheetWindow_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel));
            return true;
        }
    }
    return false;
}

bool WizardApp::Click(int id) {
    HWND control = ScriptControl(id);
    if (id == 0 || !UsableButton(control)) {
        return false;
    }
    SendMessageW(control, BM_CLICK, 0, 0);
    return true;
}

bool WizardApp::Type(int id, const std::wstring& text) {
    HWND control = ScriptControl(id);
    if (control == nullptr || (id != 0 && !UsableButton(control))) {
        return false;
    }
    // Edit boxes tell their page with EN_CHANGE; the sheet refuses once titled.
    SetWindowTextW(control, text.c_str());
    return true;
}

bool WizardApp::Select(int id, int index) {
    HWND control = ScriptControl(id);
    if (id == 0 || !UsableButton(control)) {
        return false;
    }
    const std::wstring cls = ClassOf(control);
    if (_wcsicmp(cls.c_str(), WC_COMBOBOXW) == 0) {
        if (SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR) {
            return false;
        }
        SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
        return true;
    }
    if (_wcsicmp(cls.c_str(), WC_LISTVIEWW) == 0) {
        if (index < 0 || index >= ListView_GetItemCount(control)) {
            return false;
        }
        ListView_SetItemState(control, index, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        return true;
    }
    return false;
}

void WizardApp::DeviceChange() {
    if (sheetWindow_ == nullptr) {
        return;
    }
    // As the system broadcasts it: a volume arrived, to the top-level window.
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    SendMessageW(sheetWindow_, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                 reinterpret_cast<LPARAM>(&volume));
}

bool WizardApp::Screenshot(const std::wstring& file) {
    HWND window = modal_ != nullptr ? modal_ : sheetWindow_;
    if (window == nullptr) {
        return false;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return SaveWindowBitmap(window, file);
}

int WizardApp::CurrentPage() {
    PageSlot* slot = SlotOf(CurrentPageWindow());
    return slot != nullptr ? slot->page->DialogId() : 0;
}

std::optional<bool> WizardApp::IsChecked(int id) {
    HWND control = ScriptControl(id);
    if (id == 0 || control == nullptr) {
        return std::nullopt;
    }
    return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::optional<bool> WizardApp::IsEnabled(int id) {
    HWND control = ScriptControl(id);
    if (control == nullptr) {
        return std::nullopt;
    }
    return IsWindowEnabled(control) != FALSE;
}

std::optional<bool> WizardApp::IsVisible(int id) {
    HWND control = ScriptControl(id);
    if (control == nullptr) {
        return std::nullopt;
    }
    return IsWindowVisible(control) != FALSE;
}

std::optional<std::wstring> WizardApp::Text(int id) {
    HWND control = ScriptControl(id);
    if (control == nullptr) {
        return std::nullopt;
    }
    return WindowText(control);
}

unsigned WizardApp::Buttons() {
    if (sheetWindow_ == nullptr) {
        return 0;
    }
    unsigned flags = 0;
    if (UsableButton(GetDlgItem(sheetWindow_, kBackButton))) {
        flags |= kWizBack;
    }
    if (UsableButton(GetDlgItem(sheetWindow_, kNextButton))) {
        flags |= kWizNext;
    }
    if (UsableButton(GetDlgItem(sheetWindow_, kFinishButton))) {
        flags |= kWizFinish;
    }
    return flags;
}

}  // namespace scour::win32
