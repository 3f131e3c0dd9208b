// Help for the Windows wizard: HTML Help, loaded on first use, shown from a
// thread of its own so that the wizard goes on answering.
#include "ui/win32/wizard_app_internal.h"

#include <memory>
#include <mutex>

namespace scour::win32 {

namespace {

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

}  // namespace

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

}  // namespace scour::win32
