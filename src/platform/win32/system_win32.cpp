#include "platform/win32/system_win32.h"

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "platform/services.h"
#include "platform/win32/network_win32.h"
#include "platform/win32/registry_store.h"

namespace scour::platform {

std::wstring Win32Environment::ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return {};
    }
    std::wstring full(path, n);
    auto cut = full.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : full.substr(0, cut);
}

std::optional<std::wstring> Win32Environment::DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return std::nullopt;
    }
    return std::wstring(path);
}

std::optional<std::wstring> Win32TempFiles::TempFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetTempPathW(MAX_PATH, path);
    if (n == 0 || n > MAX_PATH) {
        return std::nullopt;
    }
    return std::wstring(path, n);
}

std::optional<std::wstring> Win32TempFiles::CreateTempFile(std::wstring_view prefix) {
    auto folder = TempFolder();
    if (!folder) {
        return std::nullopt;
    }
    wchar_t name[MAX_PATH] = {};
    std::wstring pre(prefix);
    if (GetTempFileNameW(folder->c_str(), pre.c_str(), 0, name) == 0) {
        return std::nullopt;
    }
    return std::wstring(name);
}

std::optional<std::wstring> Win32TempFiles::CreateTempFolder(std::wstring_view prefix) {
    auto file = CreateTempFile(prefix);
    if (!file) {
        return std::nullopt;
    }
    DeleteFileW(file->c_str());
    // Another process may take the freed name; then there is no folder of ours to use.
    if (!CreateDirectoryW(file->c_str(), nullptr)) {
        return std::nullopt;
    }
    return file;
}

std::string AnsiTextCodec::ToSystem8Bit(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int size = static_cast<int>(text.size());
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    }
    return out;
}

std::wstring AnsiTextCodec::FromSystem8Bit(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), n);
    }
    return out;
}

ProcessResult Win32ProcessRunner::RunHidden(const ProcessRequest& request) {
    ProcessResult result;
    // CreateProcessW may write into the command line buffer.
    std::vector<wchar_t> commandLine(request.commandLine.begin(), request.commandLine.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    const wchar_t* folder = request.workingFolder.empty() ? nullptr : request.workingFolder.c_str();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                        &si, &pi)) {
        return result;
    }
    result.started = true;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) {
        result.exitCodeKnown = true;
        result.exitCode = code;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

Services& DefaultServices() {
    static Win32Environment environment;
    static Win32TempFiles tempFiles;
    static AnsiTextCodec text;
    static Win32ProcessRunner processes;
    static RegistryStore settings;
    static Win32Network network;
    static Services services{&environment, &tempFiles, &text, &processes, &settings, &network};
    return services;
}

}  // namespace scour::platform
