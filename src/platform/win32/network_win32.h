#pragma once

#include "platform/network.h"

namespace scour::platform {

// The share test through the system's network connections (WNet), name lookup
// through Windows Sockets.
class Win32Network final : public INetwork {
  public:
    unsigned long TestShareConnection(const std::wstring& share, const std::wstring& user,
                                      const std::wstring& password) override;
    std::optional<std::array<std::uint8_t, 4>> ResolveIpv4(const std::wstring& host) override;
};

}  // namespace scour::platform
