#include "ui/win32/wizard_app.h"

#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "pages/pages.h"
#include "platform/privileges.h"
#include "platform/services.h"

namespace scour::win32 {

namespace {

// Buttons of the Wizard 97 sheet, as the property-sheet control numbers them.
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
constexpr UINT_PTR kSheetSubclass = 1;
// One scripted action per tick: a timer fires only once the queue is empty, so
// posted button changes and page moves have settled before the next action.
constexpr UINT kScriptTickMs = 20;

// The one wizard of the process: the property-sheet callback has no context.
WizardApp* g_app = nullptr;

LRESULT CALLBACK SheetSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR data) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SheetSubclass, kSheetSubclass);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    bool handled = false;
    LRESULT result =
        reinterpret_cast<WizardApp*>(data)->SheetMessage(window, message, wParam, lParam, handled);
    return handled ? result : DefSubclassProc(window, message, wParam, lParam);
}

int CALLBACK SheetCallback(HWND window, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && g_app != nullptr) {
        g_app->SheetCreated(window);
    }
    return 0;
}

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_app != nullptr) {
        g_app->ScriptTick();
    }
}

// HTML Help, loaded on first use by whichever thread asks first and kept; once
// it could not be loaded it is never tried again.
using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
constexpr UINT kDisplayTopic = 0;
constexpr UINT kDisplayToc = 1;

HtmlHelpFn LoadHtmlHelp() {
    static std::mutex lock;
    static bool tried = false;
    static HtmlHelpFn entry = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (tried) {
        return entry;
    }
    tried = true;
    HMODULE module = nullptr;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT,
                      L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
        wchar_t raw[MAX_PATH] = {}, path[MAX_PATH] = {};
        DWORD size = sizeof raw - sizeof(wchar_t), type = 0;
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            DWORD n = ExpandEnvironmentStringsW(raw, path, MAX_PATH);
            if (n > 0 && n <= MAX_PATH) {
                module = LoadLibraryW(path);
            }
        }
        RegCloseKey(key);
    }
    if (module == nullptr) {
        module = LoadLibraryW(L"hhctrl.ocx");
    }
    if (module != nullptr) {
        entry = reinterpret_cast<HtmlHelpFn>(
            reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(15))));
    }
    return entry;
}

DWORD WINAPI HelpThread(void* argument) {
    std::unique_ptr<std::wstring> request(static_cast<std::wstring*>(argument));
    if (HtmlHelpFn help = LoadHtmlHelp()) {
        if (!request->empty() && request->back() == L'!') {
            request->pop_back();
            help(GetDesktopWindow(), request->c_str(), kDisplayTopic, 0);
        } else {
            help(GetDesktopWindow(), request->c_str(), kDisplayToc, 0);
        }
    }
    return 0;
}

bool UsableButton(HWND button) {
    return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

}  // namespace

void WriteStderr(const std::wstring& line) {
    // A GUI program has no console: write to the handle it inherited, or to
    // the console of the program that started it.
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            out = GetStdHandle(STD_ERROR_HANDLE);
        }
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string bytes = ToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void AddAboutToSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) {
        return;
    }
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    separator.fType = MFT_SEPARATOR;
    InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &separator);
    std::wstring text = LoadText(IDS_ABOUT_MENU_ITEM);
    MENUITEMINFOW about{};
    about.cbSize = sizeof about;
    about.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    about.fType = MFT_STRING;
    about.wID = kAboutCommand;
    about.dwTypeData = text.data();
    InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &about);
}

struct WizardApp::PageSlot {
    WizardApp* app = nullptr;
    CWizardPage* page = nullptr;
    int index = 0;
    HWND window = nullptr;
    std::unique_ptr<Win32PageView> view;
    HFONT titleFont = nullptr;
};

namespace {

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* slot = reinterpret_cast<WizardApp::PageSlot*>(GetWindowLongPtrW(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        slot = reinterpret_cast<WizardApp::PageSlot*>(sheetPage->lParam);
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(slot));
        slot->window = window;
    }
    if (slot == nullptr || slot->app == nullptr) {
        return FALSE;
    }
    return slot->app->PageMessage(*slot, message, wParam, lParam);
}

}  // namespace

WizardApp::WizardApp(HINSTANCE instance, int showCommand)
    : instance_(instance), showCommand_(showCommand) {
    g_app = this;
}

WizardApp::~WizardApp() {
    for (auto& slot : slots_) {
        if (slot->titleFont != nullptr) {
            DeleteObject(slot->titleFont);
        }
    }
    g_app = nullptr;
}

int WizardApp::Main(const wchar_t* commandLine) {
    auto& services = platform::DefaultServices();
    const std::wstring programFolder =
        services.environment != nullptr ? services.environment->ProgramFolder() : std::wstring();

    if (const char* scriptFile = std::getenv(kScriptVariable); scriptFile && *scriptFile) {
        std::ifstream in(scriptFile, std::ios::binary);
        if (!in) {
            WriteStderr(L"script: cannot read " + FromUtf8(scriptFile));
            return kExitScriptFailed;
        }
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::wstring error;
        auto actions = ParseScript(FromUtf8(bytes), error);
        if (!actions) {
            WriteStderr(error);
            return kExitScriptFailed;
        }
        script_ = std::make_unique<ScriptRunner>(std::move(*actions));
    }

    if (script_) {
        // Ticks come only from a message loop: the sheet's, or the About box's
        // when the program shows only that.
        scriptTimer_ = SetTimer(nullptr, 0, kScriptTickMs, ScriptTimer);
    }
    volumes_ = platform::CreateVolumeSystem(programFolder);
    PageContext context{services, *this, *this, volumes_.get(), nullptr};
    context_ = &context;
    int code = kExitNoWindow;
    {
        CMainDlg sheet(context);
        sheet.Attach(*this);
        code =
            scour::Run(commandLine != nullptr ? commandLine : L"", sheet, *this, CreateWizardPages);
        sheet_ = nullptr;
    }
    context_ = nullptr;
    if (scriptTimer_ != 0) {
        KillTimer(nullptr, scriptTimer_);
        scriptTimer_ = 0;
    }
    return code;
}

bool WizardApp::IsAdministrator() {
    return platform::IsAdministrator();
}

void WizardApp::ShowStartupError(const std::wstring& text) {
    const std::wstring& caption = LoadText(IDS_WIZARD_CAPTION);
    if (script_) {
        // A scripted run shows no box; the test reads the line instead, with
        // line breaks written as \n as for every other box.
        std::wstring line = L"box: " + caption + L": ";
        for (wchar_t c : text) {
            line += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
        }
        WriteStderr(line);
        return;
    }
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void WizardApp::ShowAbout(HWND owner) {
    CAboutDlg about(GetFileVersionText());
    RunModalDialog(instance_, owner, about, &modal_);
}

void WizardApp::ShowAboutAlone() {
    ShowAbout(nullptr);
}

void WizardApp::SheetCreated(HWND sheet) {
    if (sheetWindow_ == nullptr) {
        sheetWindow_ = sheet;
        SetWindowSubclass(sheet, SheetSubclass, kSheetSubclass, reinterpret_cast<DWORD_PTR>(this));
    }
}

int WizardApp::RunSheet(CMainDlg& sheet) {
    sheet_ = &sheet;
    const auto& pages = sheet.Pages();
    std::vector<HPROPSHEETPAGE> handles;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        auto slot = std::make_unique<PageSlot>();
        slot->app = this;
        slot->page = pages[i].get();
        slot->index = static_cast<int>(i);
        const CWizardPage& page = *pages[i];
        PROPSHEETPAGEW description{};
        description.dwSize = sizeof description;
        // Wine's property sheet takes the header subtitle only at creation.
        description.dwFlags =
            page.IsExterior() ? PSP_HIDEHEADER : PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
        if (page.HasHelp()) {
            description.dwFlags |= PSP_HASHELP;
        }
        description.hInstance = instance_;
        description.pszTemplate = MAKEINTRESOURCEW(page.DialogId());
        description.pfnDlgProc = PageProc;
        description.lParam = reinterpret_cast<LPARAM>(slot.get());
        description.pszHeaderTitle = page.Title().c_str();
        description.pszHeaderSubTitle = page.Subtitle().c_str();
        HPROPSHEETPAGE handle = CreatePropertySheetPageW(&description);
        if (handle == nullptr) {
            for (HPROPSHEETPAGE made : handles) {
                DestroyPropertySheetPage(made);
            }
            return kExitNoWindow;
        }
        handles.push_back(handle);
        slots_.push_back(std::move(slot));
    }

    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_HASHELP | PSH_USEICONID |
                     PSH_MODELESS | PSH_USECALLBACK;
    header.hwndParent = nullptr;
    header.hInstance = instance_;
    header.pszIcon = MAKEINTRESOURCEW(IDI_PROGRAM);
    header.pszCaption = nullptr;
    header.nPages = static_cast<UINT>(handles.size());
    header.nStartPage = 0;
    header.phpage = handles.data();
    header.pfnCallback = SheetCallback;
    header.pszbmWatermark = MAKEINTRESOURCEW(IDB_WATERMARK);
    header.pszbmHeader = MAKEINTRESOURCEW(IDB_HEADER);
    INT_PTR created = PropertySheetW(&header);
    HWND window = reinterpret_cast<HWND>(created);
    if (created == 0 || created == -1 || !IsWindow(window)) {
        sheetWindow_ = nullptr;
        return kExitNoWindow;
    }
    SheetCreated(window);
    PrepareFrame();
    ShowWindow(sheetWindow_, showCommand_);

    MSG msg{};
    RunLoop(msg);
    return static_cast<int>(msg.wParam);
}

void WizardApp::PrepareFrame() {
    AddAboutToSystemMenu(sheetWindow_);
    // The sheet took its text from the first page's caption; it becomes the
    // title for good, whatever page is shown later.
    const std::wstring current = WindowText(sheetWindow_);
    SetWindowTextW(sheetWindow_, CMainDlg::MakeTitle(current).c_str());
    sheet_->FixTitle(current);
}

void WizardApp::RunLoop(MSG& msg) {
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            return;
        }
        if (got == -1) {
            continue;
        }
        // Keyboard messages for the sheet or its children go to the sheet, so
        // that Tab, Return and Escape work as in a dialog.
        if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && sheetWindow_ != nullptr &&
            (msg.hwnd == sheetWindow_ || IsChild(sheetWindow_, msg.hwnd)) &&
            SendMessageW(sheetWindow_, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&msg))) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WizardApp::Close(int exitCode) {
    if (sheetWindow_ != nullptr) {
        HWND window = sheetWindow_;
        sheetWindow_ = nullptr;
        DestroyWindow(window);
    }
    PostQuitMessage(exitCode);
}

LRESULT WizardApp::SheetMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (sheet_ == nullptr) {
        return 0;
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                handled = true;
                sheet_->OnOk();
            } else if (LOWORD(wParam) == IDCANCEL) {
                handled = true;
                sheet_->OnCancel();
            }
            return 0;
        case WM_CLOSE:
            // The close box and the system menu's Close ask as Cancel does.
            handled = true;
            sheet_->OnCancel();
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == kAboutCommand) {
                handled = true;
                HWND owner = GetActiveWindow();
                ShowAbout(owner != nullptr ? owner : sheetWindow_);
            }
            return 0;
        case WM_SETTEXT:
            if (sheet_->OnSetText()) {
                handled = true;
                return TRUE;
            }
            return 0;
        case WM_DEVICECHANGE:
            // Only top-level windows hear of volumes; the page shown is told.
            handled = true;
            if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                lParam != 0 &&
                reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype ==
                    DBT_DEVTYP_VOLUME) {
                if (PageSlot* slot = SlotOf(CurrentPageWindow())) {
                    slot->page->OnDeviceChange();
                }
            }
            return 0;
        default:
            return 0;
    }
}

INT_PTR WizardApp::PageMessage(PageSlot& slot, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = slot.window;
    if (slot.page == nullptr || sheet_ == nullptr || sheet_->Closed()) {
        return FALSE;
    }
    switch (message) {
        case WM_INITDIALOG: {
            if (sheetWindow_ == nullptr) {
                SheetCreated(GetParent(window));
            }
            const DialogDesc* dialog = FindDialog(slot.page->DialogId());
            if (dialog != nullptr) {
                for (const auto& control : dialog->controls) {
                    if ((control.style & kTitleFont) == 0) {
                        continue;
                    }
                    if (slot.titleFont == nullptr) {
                        HDC dc = GetDC(window);
                        int height = -MulDiv(12, GetDeviceCaps(dc, LOGPIXELSY), 72);
                        ReleaseDC(window, dc);
                        slot.titleFont =
                            CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                        DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, L"ARIAL");
                    }
                    SendDlgItemMessageW(window, control.id, WM_SETFONT,
                                        reinterpret_cast<WPARAM>(slot.titleFont), FALSE);
                }
            }
            if (slot.page->DialogId() == IDD_WELCOME) {
                CenterOver(GetParent(window), GetWindow(GetParent(window), GW_OWNER));
            }
            if (slot.page->DialogId() == IDD_USB && context_ != nullptr && !disks_) {
                // The format dialog and copy progress belong to the USB page.
                const auto& services = platform::DefaultServices();
                disks_ = platform::CreateDiskPreparer(
                    services.environment != nullptr ? services.environment->ProgramFolder() : L"",
                    window);
                context_->disks = disks_.get();
            }
            slot.view = std::make_unique<Win32PageView>(window);
            slot.page->Attach(*slot.view);
            return TRUE;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            HWND control = reinterpret_cast<HWND>(lParam);
            if (control == nullptr || !slot.view) {
                return FALSE;
            }
            const std::wstring cls = ClassOf(control);
            if (_wcsicmp(cls.c_str(), WC_COMBOBOXW) == 0) {
                if (code == CBN_SELCHANGE) {
                    slot.page->OnSelectionChanged(id);
                }
            } else if (_wcsicmp(cls.c_str(), WC_EDITW) == 0) {
                if (code == EN_CHANGE) {
                    slot.page->OnCommand(id);
                }
            } else {
                slot.page->OnCommand(id);
            }
            return TRUE;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == LVN_ITEMCHANGED) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                if ((change->uChanged & LVIF_STATE) &&
                    ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) && slot.view) {
                    slot.page->OnSelectionChanged(static_cast<int>(header->idFrom));
                }
                return FALSE;
            }
            // Page notifications count only from the page itself or its sheet.
            if (header->hwndFrom != window && header->hwndFrom != GetParent(window)) {
                return FALSE;
            }
            LONG_PTR result = 0;
            switch (header->code) {
                case PSN_SETACTIVE:
                    sheet_->NoteActivated(slot.index);
                    result = slot.page->OnSetActive() ? 0 : -1;
                    break;
                case PSN_WIZNEXT:
                    result = slot.page->OnWizardNext();
                    break;
                case PSN_WIZBACK:
                    result = slot.page->OnWizardBack();
                    break;
                case PSN_WIZFINISH:
                    result = slot.page->OnWizardFinish() ? FALSE : TRUE;
                    break;
                case PSN_HELP:
                    slot.page->OnHelp();
                    break;
                default:
                    return FALSE;
            }
            SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

HWND WizardApp::CurrentPageWindow() const {
    if (sheetWindow_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<HWND>(SendMessageW(sheetWindow_, PSM_GETCURRENTPAGEHWND, 0, 0));
}

WizardApp::PageSlot* WizardApp::SlotOf(HWND page) {
    if (page == nullptr) {
        return nullptr;
    }
    for (auto& slot : slots_) {
        if (slot->window == page && slot->page != nullptr) {
            return slot.get();
        }
    }
    return nullptr;
}

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

void WizardApp::OpenHelp(const std::wstring& request) {
    if (script_) {
        WriteStderr(L"help: " + request);
        return;
    }
    auto* copy = new std::wstring(request);
    HANDLE thread = CreateThread(nullptr, 0, HelpThread, copy, 0, nullptr);
    if (thread == nullptr) {
        delete copy;
        return;
    }
    CloseHandle(thread);
}

// --- IReporter -----------------------------------------------------------------

[[noreturn]] void WizardApp::FailScript(const std::wstring& text) {
    WriteStderr(text);
    ExitProcess(static_cast<UINT>(kExitScriptFailed));
}

void WizardApp::ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                            const std::wstring& text) {
    if (script_) {
        std::wstring line;
        auto answer = script_->AnswerBox(caption, text, line);
        WriteStderr(line);
        if (!answer) {
            FailScript(script_->FailureText());
        }
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
        std::wstring line;
        auto answer = script_->AnswerBox(caption, text, line);
        WriteStderr(line);
        if (!answer) {
            FailScript(script_->FailureText());
        }
        return *answer == BoxAnswer::Yes;
    }
    return MessageBoxW(sheetWindow_, text.c_str(), caption.c_str(), MB_YESNO) == IDYES;
}

// --- Scripted runs -----------------------------------------------------------------

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
