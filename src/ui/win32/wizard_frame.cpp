// What the pages ask of the Windows frame: the wizard buttons, dialogs, the
// busy cursor, folders to choose or open, and message boxes (answered by the
// script in a scripted run).
#include "ui/win32/wizard_app_internal.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/resource_ids.h"

namespace scour::win32 {

// --- IWizardFrame ------------------------------------------------------------

void WizardApp::SetWizardButtons(unsigned flags) {
    if (sheetWindow_ != nullptr) {
        PostMessageW(sheetWindow_, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    }
}

void WizardApp::ShowCancelButton(bool visible) {
    if (sheetWindow_ != nullptr) {
        ShowWindow(GetDlgItem(sheetWindow_, IDCANCEL), visible ? SW_SHOW : SW_HIDE);
    }
}

void WizardApp::PostOk() {
    if (sheetWindow_ != nullptr) {
        PostMessageW(sheetWindow_, WM_COMMAND, IDOK, 0);
    }
}

int WizardApp::RunDialog(IDialogLogic& dialog) {
    if (script_) {
        // The credentials dialog is answered by the script, through the real
        // dialog's controls, without being shown.
        std::wstring password;
        auto answer = script_->AnswerPasswordDialog(password);
        if (!answer) {
            FailScript(script_->FailureText());
        }
        HWND hidden = CreateDialogParamW(
            instance_, MAKEINTRESOURCEW(dialog.DialogId()), sheetWindow_,
            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        if (hidden == nullptr) {
            return IDCANCEL;
        }
        Win32PageView view(hidden);
        dialog.OnInitDialog(view);
        view.SetText(IDC_PASSWD_PASSWORD, password);
        const int command = *answer == BoxAnswer::Ok ? IDOK : IDCANCEL;
        dialog.OnClose(view, command);
        DestroyWindow(hidden);
        return command;
    }
    HWND owner = GetActiveWindow();
    return RunModalDialog(instance_, owner != nullptr ? owner : sheetWindow_, dialog, &modal_);
}

void WizardApp::BeginBusy() {
    if (busyDepth_++ == 0) {
        busyRestore_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
}

void WizardApp::EndBusy() {
    if (busyDepth_ > 0 && --busyDepth_ == 0) {
        SetCursor(busyRestore_ != nullptr ? busyRestore_ : LoadCursorW(nullptr, IDC_ARROW));
    }
}

void WizardApp::Pause(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds > 0 ? milliseconds : 0));
}

std::optional<std::wstring> WizardApp::BrowseForFolder(const std::wstring& prompt) {
    wchar_t displayName[520] = {};
    BROWSEINFOW browse{};
    browse.hwndOwner = CurrentPageWindow();
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) {
        return std::nullopt;
    }
    wchar_t path[MAX_PATH] = {};
    BOOL ok = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (!ok) {
        return std::nullopt;
    }
    return std::wstring(path);
}

void WizardApp::ExploreFolder(const std::wstring& folder) {
    if (script_) {
        // A scripted run opens no windows beside the wizard.
        WriteStderr(L"explore: " + folder);
        return;
    }
    ShellExecuteW(CurrentPageWindow(), L"explore", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// --- IReporter -----------------------------------------------------------------

[[noreturn]] void WizardApp::FailScript(const std::wstring& text) {
    WriteStderr(text);
    ExitProcess(static_cast<UINT>(kExitScriptFailed));
}

// A scripted run answers every box from its script and prints it; a box the
// script does not expect ends the run.
BoxAnswer WizardApp::AnswerFromScript(const std::wstring& caption, const std::wstring& text) {
    std::wstring line;
    auto answer = script_->AnswerBox(caption, text, line);
    WriteStderr(line);
    if (!answer) {
        FailScript(script_->FailureText());
    }
    return *answer;
}

void WizardApp::ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                            const std::wstring& text) {
    if (script_) {
        AnswerFromScript(caption, text);
        return;
    }
    UINT flags = MB_OK;
    switch (kind) {
        case platform::BoxKind::Error:
            flags = MB_ICONERROR | MB_OK;
            break;
        case platform::BoxKind::Information:
            flags = MB_ICONINFORMATION | MB_OK;
            break;
        case platform::BoxKind::Plain:
            flags = MB_OK;
            break;
        case platform::BoxKind::Question:
            flags = MB_ICONQUESTION | MB_YESNO;
            break;
    }
    MessageBoxW(sheetWindow_, text.c_str(), caption.c_str(), flags);
}

bool WizardApp::AskYesNo(const std::wstring& caption, const std::wstring& text) {
    if (script_) {
        return AnswerFromScript(caption, text) == BoxAnswer::Yes;
    }
    return MessageBoxW(sheetWindow_, text.c_str(), caption.c_str(), MB_YESNO) == IDYES;
}

}  // namespace scour::win32
