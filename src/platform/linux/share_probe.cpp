#include "platform/linux/share_probe.h"

#include <libsmbclient.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/network.h"

namespace scour::platform {

namespace {

// No field of a real request comes near this; a larger length is a broken request.
constexpr std::uint32_t kMaxField = 1024 * 1024;

constexpr unsigned long kBadNetPath = kShareUnreachable;

// The client library's timeout per request. An unanswered connect gives up
// after about 5 s in the library, a silent server after this; the caller's
// hard deadline lies beyond both.
constexpr int kClientTimeoutMs = 4000;

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void AppendField(std::string& out, const std::string& text) {
    auto size = static_cast<std::uint32_t>(text.size());
    out.append(reinterpret_cast<const char*>(&size), sizeof size);
    out.append(text);
}

bool ReadField(int fd, std::string& text) {
    std::uint32_t size = 0;
    if (!ReadAll(fd, &size, sizeof size) || size > kMaxField) {
        return false;
    }
    text.assign(size, '\0');
    return ReadAll(fd, text.data(), size);
}

// The probe serves exactly one request; the authentication callback has no
// other way to reach it.
const ShareProbeRequest* probeRequest = nullptr;

void CopyCredential(const std::string& text, char* buffer, int size) {
    if (size <= 0) {
        return;
    }
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void Authenticate(const char* /*server*/, const char* /*share*/, char* workgroup, int wgLength,
                  char* user, int userLength, char* password, int passwordLength) {
    // Without a domain the library's own hint stays: the server's rules for
    // a user of no particular domain apply, as when Windows sends a bare name.
    if (!probeRequest->workgroup.empty()) {
        CopyCredential(probeRequest->workgroup, workgroup, wgLength);
    }
    CopyCredential(probeRequest->user, user, userLength);
    CopyCredential(probeRequest->password, password, passwordLength);
}

// errno of an opendir: 0 when it opened.
int OpenFolder(SMBCCTX* c, const std::string& url) {
    errno = 0;
    SMBCFILE* folder = smbc_getFunctionOpendir(c)(c, url.c_str());
    if (folder == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    smbc_getFunctionClosedir(c)(c, folder);
    return 0;
}

unsigned long MapOpenError(int error) {
    switch (error) {
        case 0:
            return kShareOk;
        case ENOENT:
        case ENOTDIR:
            return kShareBadNetName;
        case EINVAL:  // the host name did not resolve
        case ECONNREFUSED:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENETUNREACH:
            return kBadNetPath;
        default:
            return kShareOtherFailure;
    }
}

}  // namespace

std::string EncodeShareProbeRequest(const ShareProbeRequest& r) {
    std::string out;
    for (const std::string* field : {&r.url, &r.ipcUrl, &r.workgroup, &r.user, &r.password}) {
        if (field->size() > kMaxField) {
            return {};
        }
        AppendField(out, *field);
    }
    return out;
}

bool ReadShareProbeRequest(int fd, ShareProbeRequest& r) {
    return ReadField(fd, r.url) && ReadField(fd, r.ipcUrl) && ReadField(fd, r.workgroup) &&
           ReadField(fd, r.user) && ReadField(fd, r.password);
}

bool WriteShareProbeAnswer(int fd, unsigned long code) {
    auto value = static_cast<std::uint32_t>(code);
    return WriteAll(fd, &value, sizeof value);
}

void RunShareProbe(const ShareProbeRequest& request, int answerFd) {
    probeRequest = &request;
    SMBCCTX* c = smbc_new_context();
    if (c == nullptr) {
        WriteShareProbeAnswer(answerFd, kShareOtherFailure);
        return;
    }
    smbc_setDebug(c, 0);
    smbc_setTimeout(c, kClientTimeoutMs);
    // Otherwise a wrong password passes on a share open to guests.
    smbc_setOptionNoAutoAnonymousLogin(c, 1);
    smbc_setOptionUseKerberos(c, 0);
    smbc_setOptionFallbackAfterKerberos(c, 0);
    smbc_setOptionUseCCache(c, 0);
    smbc_setFunctionAuthData(c, Authenticate);
    if (smbc_init_context(c) == nullptr) {
        smbc_free_context(c, 1);
        WriteShareProbeAnswer(answerFd, kShareOtherFailure);
        return;
    }
    int error = OpenFolder(c, request.url);
    unsigned long code = MapOpenError(error);
    if (error == EACCES || error == EPERM) {
        // Wrong password, unknown user and a share that refuses this user all
        // read "access denied". Only a failed logon also fails on IPC$.
        int ipc = OpenFolder(c, request.ipcUrl);
        code = ipc == EACCES || ipc == EPERM ? kShareLogonFailure : kShareAccessDenied;
    }
    WriteShareProbeAnswer(answerFd, code);
    smbc_free_context(c, 1);
    probeRequest = nullptr;
}

}  // namespace scour::platform
