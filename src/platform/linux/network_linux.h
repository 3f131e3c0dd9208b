#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/network.h"

namespace scour::platform {

// The hard limit on one share test: the probe is killed when it has not
// answered by then. Beyond the client library's own time-outs (about 5 s).
inline constexpr std::chrono::milliseconds kShareAnswerDeadline{8000};

struct ShareProbeSettings {
    // The probe program; empty: scourline-share-probe beside the running program.
    std::string program;
    std::chrono::milliseconds deadline = kShareAnswerDeadline;
    // The server port the probe connects to; 0: the SMB port. Tests only:
    // a share path has no port syntax.
    int port = 0;
};

// The share test over the SMB client library, run in a probe process of its
// own with a hard deadline, and name lookup through the system resolver.
class LinuxNetwork final : public INetwork {
  public:
    LinuxNetwork();
    explicit LinuxNetwork(ShareProbeSettings settings);

    // Runs every few tens of milliseconds while a share test waits for the
    // probe, on the calling thread (a window's frame repaints there). It must
    // not throw.
    void SetWaitHook(std::function<void()> hook);

    unsigned long TestShareConnection(const std::wstring& share, const std::wstring& user,
                                      const std::wstring& password) override;
    std::optional<std::array<std::uint8_t, 4>> ResolveIpv4(const std::wstring& host) override;

  private:
    ShareProbeSettings settings_;
    std::function<void()> hook_;
};

}  // namespace scour::platform
