// The property sheet: its pages made from the portable pages, its message
// loop, and the messages of the sheet and of each page passed to them.
#include "ui/win32/wizard_app_internal.h"

#include <commctrl.h>
#include <dbt.h>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "platform/services.h"

namespace scour::win32 {

namespace wizard_detail {

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

}  // namespace wizard_detail

using namespace wizard_detail;

namespace {

constexpr UINT_PTR kSheetSubclass = 1;

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

}  // namespace scour::win32
