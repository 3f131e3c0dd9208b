#pragma once

#include "platform/network.h"

namespace scour::platform {

// The share test over the SMB client library, run in a child process with a
// hard deadline, and name lookup through the system resolver.
class LinuxNetwork final : public INetwork {
  public:
    unsigned long TestShareConnection(const std::wstring& share, const std::wstring& user,
                                      const std::wstring& password) override;
    std::optional<std::array<std::uint8_t, 4>> ResolveIpv4(const std::wstring& host) override;
};

}  // namespace scour::platform
