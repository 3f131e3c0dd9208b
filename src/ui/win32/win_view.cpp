#include "ui/win32/win_view.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace scour::win32 {

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

void Win32PageView::SetText(int id, const std::wstring& text) {
    SetDlgItemTextW(dialog_, id, text.c_str());
}

std::wstring Win32PageView::GetText(int id) {
    HWND item = Item(id);
    return item != nullptr ? WindowText(item) : std::wstring();
}

void Win32PageView::SetChecked(int id, bool checked) {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32PageView::IsChecked(int id) {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Win32PageView::Enable(int id, bool enabled) {
    if (HWND item = Item(id)) {
        EnableWindow(item, enabled ? TRUE : FALSE);
    }
}

bool Win32PageView::IsEnabled(int id) {
    HWND item = Item(id);
    return item != nullptr && IsWindowEnabled(item);
}

void Win32PageView::Show(int id, bool visible) {
    if (HWND item = Item(id)) {
        ShowWindow(item, visible ? SW_SHOW : SW_HIDE);
    }
}

bool Win32PageView::IsVisible(int id) {
    // The control's own style: the page itself may not be shown yet.
    HWND item = Item(id);
    return item != nullptr && (GetWindowLongPtrW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32PageView::SetFocus(int id) {
    if (HWND item = Item(id)) {
        ::SetFocus(item);
    }
}

void Win32PageView::SelectAllText(int id) {
    SendDlgItemMessageW(dialog_, id, EM_SETSEL, 0, -1);
    SendDlgItemMessageW(dialog_, id, EM_SCROLLCARET, 0, 0);
}

void Win32PageView::AddItem(int id, const std::wstring& text) {
    SendDlgItemMessageW(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

namespace {

bool IsListView(HWND control) {
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    return _wcsicmp(name, WC_LISTVIEWW) == 0;
}

}  // namespace

// Drop-down lists and report lists alike.
void Win32PageView::SetSelection(int id, int index) {
    HWND control = Item(id);
    if (control != nullptr && IsListView(control)) {
        ListView_SetItemState(control, -1, 0, LVIS_SELECTED);
        if (index >= 0) {
            ListView_SetItemState(control, index, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
        }
        return;
    }
    SendDlgItemMessageW(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32PageView::Selection(int id) {
    HWND control = Item(id);
    if (control == nullptr) {
        return -1;
    }
    if (IsListView(control)) {
        return ListView_GetNextItem(control, -1, LVNI_SELECTED);
    }
    LRESULT got = SendMessageW(control, CB_GETCURSEL, 0, 0);
    return got == CB_ERR ? -1 : static_cast<int>(got);
}

void Win32PageView::InsertColumns(int id, const std::vector<std::wstring>& titles) {
    HWND list = Item(id);
    if (list == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < titles.size(); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = ListView_GetStringWidth(list, titles[i].c_str()) + 15;
        column.pszText = const_cast<wchar_t*>(titles[i].c_str());
        column.iSubItem = static_cast<int>(i);
        ListView_InsertColumn(list, static_cast<int>(i), &column);
    }
}

void Win32PageView::SetRows(int id, const std::vector<std::vector<std::wstring>>& rows,
                            int selected) {
    HWND list = Item(id);
    if (list == nullptr) {
        return;
    }
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int row = static_cast<int>(i);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
        item.iItem = row;
        item.lParam = row;
        item.pszText = const_cast<wchar_t*>(rows[i].empty() ? L"" : rows[i][0].c_str());
        if (row == selected) {
            item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        }
        ListView_InsertItem(list, &item);
        for (std::size_t c = 1; c < rows[i].size(); ++c) {
            ListView_SetItemText(list, row, static_cast<int>(c),
                                 const_cast<wchar_t*>(rows[i][c].c_str()));
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// The list view measures by setting the width; the old width is put back so
// that measuring changes nothing.
int Win32PageView::MeasureColumn(int id, int column, int how) {
    HWND list = Item(id);
    if (list == nullptr) {
        return 0;
    }
    int old = ListView_GetColumnWidth(list, column);
    ListView_SetColumnWidth(list, column, how);
    int width = ListView_GetColumnWidth(list, column);
    ListView_SetColumnWidth(list, column, old);
    return width;
}

int Win32PageView::ColumnContentWidth(int id, int column) {
    return MeasureColumn(id, column, LVSCW_AUTOSIZE);
}

int Win32PageView::ColumnContentAndTitleWidth(int id, int column) {
    int width = MeasureColumn(id, column, LVSCW_AUTOSIZE_USEHEADER);
    // Wine's list view measures the title a few pixels short, and the header
    // then cuts it; never less than the title's width as the columns began.
    HWND list = Item(id);
    wchar_t title[128] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = title;
    info.cchTextMax = 128;
    if (list != nullptr && ListView_GetColumn(list, column, &info)) {
        width = std::max(width, ListView_GetStringWidth(list, title) + 15);
    }
    return width;
}

void Win32PageView::SetColumnWidth(int id, int column, int width) {
    if (HWND list = Item(id)) {
        ListView_SetColumnWidth(list, column, width);
    }
}

int Win32PageView::ColumnWidth(int id, int column) {
    HWND list = Item(id);
    return list != nullptr ? ListView_GetColumnWidth(list, column) : 0;
}

void Win32PageView::SetProgressRange(int id, int lower, int upper) {
    SendDlgItemMessageW(dialog_, id, PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
}

void Win32PageView::SetProgressPosition(int id, int position) {
    if (HWND bar = Item(id)) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        UpdateWindow(bar);
    }
}

int Win32PageView::ProgressPosition(int id) {
    return static_cast<int>(SendDlgItemMessageW(dialog_, id, PBM_GETPOS, 0, 0));
}

void Win32PageView::RepaintNow() {
    RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CenterOver(HWND window, HWND owner) {
    RECT box{}, area{};
    GetWindowRect(window, &box);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int width = box.right - box.left, height = box.bottom - box.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

struct ModalState {
    IDialogLogic* logic;
    HWND owner;
    HWND* opened;
    Win32PageView* view = nullptr;
};

INT_PTR CALLBACK ModalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ModalState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<ModalState*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            state->view = new Win32PageView(dialog);
            if (state->opened != nullptr) {
                *state->opened = dialog;
            }
            CenterOver(dialog, state->owner);
            state->logic->OnInitDialog(*state->view);
            // The logic may have placed the focus itself.
            HWND focus = GetFocus();
            return focus != nullptr && IsChild(dialog, focus) ? FALSE : TRUE;
        }
        case WM_COMMAND: {
            const int command = LOWORD(wParam);
            if (state != nullptr && (command == IDOK || command == IDCANCEL)) {
                state->logic->OnClose(*state->view, command);
                EndDialog(dialog, command);
                return TRUE;
            }
            return FALSE;
        }
        case WM_DESTROY:
            if (state != nullptr) {
                if (state->opened != nullptr) {
                    *state->opened = nullptr;
                }
                delete state->view;
                state->view = nullptr;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

int RunModalDialog(HINSTANCE instance, HWND owner, IDialogLogic& logic, HWND* opened) {
    ModalState state{&logic, owner, opened};
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(logic.DialogId()), owner, ModalProc,
                                     reinterpret_cast<LPARAM>(&state));
    return result <= 0 ? IDCANCEL : static_cast<int>(result);
}

std::optional<std::wstring> GetFileVersionText() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::nullopt;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> info(size);
    if (!GetFileVersionInfoW(path, 0, size, info.data())) {
        return std::nullopt;
    }
    unsigned language = 0, codePage = 0x04E4;
    void* value = nullptr;
    UINT valueSize = 0;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &valueSize) &&
        valueSize >= 4) {
        const auto* words = static_cast<const WORD*>(value);
        language = words[0];
        codePage = words[1];
    }
    wchar_t query[64];
    std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", language, codePage);
    if (!VerQueryValueW(info.data(), query, &value, &valueSize) || valueSize == 0) {
        return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

bool SaveWindowBitmap(HWND window, const std::wstring& file) {
    RECT box{};
    if (!GetWindowRect(window, &box)) {
        return false;
    }
    const int width = box.right - box.left, height = box.bottom - box.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
    int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                          reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
    if (lines != height) {
        return false;
    }

    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = static_cast<DWORD>(fileHeader.bfOffBits + pixels.size());
    std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(pixels.data()),
              static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

}  // namespace scour::win32
