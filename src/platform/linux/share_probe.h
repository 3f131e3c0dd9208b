// The share test's connection runs in a process of its own, started with exec:
// the SMB client library's configuration is process-wide, it may end its
// process, and a hung server must not hold the wizard (the probe can be
// killed). The request, credentials included, goes to the probe on its stdin,
// never on its command line; the answer comes back on its stdout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace scour::platform {

inline constexpr char kShareProbeProgram[] = "scourline-share-probe";

// What Windows' redirector reports when the server cannot be reached at all:
// a host name that does not resolve, a refused connection, a host that never
// answers, no route. WNetAddConnection2W returns ERROR_BAD_NETPATH (53) for
// each of these ("The network path was not found"), and the share test shows
// it as a failure it cannot classify.
inline constexpr unsigned long kShareUnreachable = 53;

struct ShareProbeRequest {
    std::string url;     // smb://host[:port]/share[/folder]
    std::string ipcUrl;  // smb://host[:port]/IPC$, to tell a logon failure from a refused share
    std::string workgroup;
    std::string user;
    std::string password;
};

// The request as the probe reads it: each field as its length and its bytes.
// Empty when a field is too long for the probe to take.
std::string EncodeShareProbeRequest(const ShareProbeRequest& request);
// False on a short or oversized request.
bool ReadShareProbeRequest(int fd, ShareProbeRequest& request);

// The answer: one share test code (network.h), four bytes.
bool WriteShareProbeAnswer(int fd, unsigned long code);

// The probe's work: connects with the request's credentials, writes the
// answer to answerFd, then lets the connection go. The caller has set HOME to
// a folder whose .smb/smb.conf is the attempt's own configuration.
void RunShareProbe(const ShareProbeRequest& request, int answerFd);

}  // namespace scour::platform
