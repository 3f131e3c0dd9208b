// The network services of the log options page: a test connection to a
// share, and the IPv4 address of a host. Windows uses WNet and Winsock, Linux
// the SMB client library and the resolver.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace scour::platform {

// The Windows error codes the share test tells apart; Linux maps its client
// library's errors onto them.
enum ShareTestCode : unsigned long {
    kShareOk = 0,
    kShareAccessDenied = 5,
    kShareBadNetName = 67,
    kShareInvalidPassword = 86,
    kShareNoNetOrBadPath = 1203,
    kShareBadProvider = 1204,
    kShareCredentialConflict = 1219,
    kShareNoNetwork = 1222,
    kShareLogonFailure = 1326,
    kShareBadUserName = 2202,
    // Anything else, such as a time-out, reads "Could not test the share".
    kShareOtherFailure = 0xFFFFFFFFul,
};

class INetwork {
  public:
    virtual ~INetwork() = default;
    // Opens a temporary connection to the share (\\host\share[\folder]) with
    // exactly these credentials (empty texts stay empty texts, never "the
    // current logon"), closes it at once, and returns 0 or the failure code.
    // Returns within a few seconds whatever the network does.
    virtual unsigned long TestShareConnection(const std::wstring& share, const std::wstring& user,
                                              const std::wstring& password) = 0;
    // The host's first IPv4 address in network order; nothing when the host
    // is unknown, has no IPv4 address, or name lookup is unavailable.
    virtual std::optional<std::array<std::uint8_t, 4>> ResolveIpv4(const std::wstring& host) = 0;
};

}  // namespace scour::platform
