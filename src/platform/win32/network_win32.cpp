// winsock2.h must come before windows.h, which would pull in the old winsock.h.
#include <windows.h>
#include <winnetwk.h>
#include <winsock2.h>

#include <cstring>
#include <string>

#include "platform/win32/network_win32.h"

namespace scour::platform {

unsigned long Win32Network::TestShareConnection(const std::wstring& share, const std::wstring& user,
                                                const std::wstring& password) {
    std::wstring remote = share;
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpLocalName = nullptr;
    resource.lpRemoteName = remote.data();
    resource.lpProvider = nullptr;
    // Empty texts, never null: null would mean the credentials of the current
    // logon. Temporary, so the connection is never remembered.
    DWORD result =
        WNetAddConnection2W(&resource, password.c_str(), user.c_str(), CONNECT_TEMPORARY);
    if (result == NO_ERROR) {
        WNetCancelConnection2W(remote.c_str(), 0, FALSE);
    }
    return result;
}

std::optional<std::array<std::uint8_t, 4>> Win32Network::ResolveIpv4(const std::wstring& host) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return std::nullopt;
    }
    // gethostbyname takes the name in the thread's 8-bit code page.
    std::string name;
    if (!host.empty()) {
        int size = static_cast<int>(host.size());
        int n =
            WideCharToMultiByte(CP_THREAD_ACP, 0, host.data(), size, nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            name.resize(static_cast<std::size_t>(n));
            WideCharToMultiByte(CP_THREAD_ACP, 0, host.data(), size, name.data(), n, nullptr,
                                nullptr);
        }
    }
    std::optional<std::array<std::uint8_t, 4>> result;
    // An empty name would give this machine's own address.
    const hostent* entry = name.empty() ? nullptr : gethostbyname(name.c_str());
    if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4 &&
        entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
        std::array<std::uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), entry->h_addr_list[0], 4);
        result = bytes;
    }
    WSACleanup();
    return result;
}

}  // namespace scour::platform
