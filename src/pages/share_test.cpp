#include "pages/share_test.h"

#include <cstdio>

#include "app/resource_ids.h"
#include "base/strings.h"

namespace scour {

ShareTestReport DescribeShareTestResult(unsigned long code) {
    using namespace platform;
    ShareTestReport r;
    r.captionId = IDS_SHARE_TEST_FAILED;
    switch (code) {
        case kShareOk:
            r.passed = true;
            r.captionId = IDS_SHARE_TEST_PASSED;
            r.textId = IDS_SHARE_OK;
            break;
        case kShareAccessDenied:
            r.textId = IDS_SHARE_ACCESS_DENIED;
            break;
        case kShareBadNetName:
        case kShareNoNetOrBadPath:
        case kShareBadProvider:
        case kShareNoNetwork:
            r.textId = IDS_SHARE_NOT_FOUND;
            r.focusControl = IDC_LOG_SHARE;
            break;
        case kShareInvalidPassword:
        case kShareLogonFailure:
            // The password box may be disabled (the password came from the
            // credentials dialog), so the user box takes the focus.
            r.textId = IDS_SHARE_INVALID_PASSWORD;
            r.focusControl = IDC_LOG_USER;
            break;
        case kShareCredentialConflict:
            r.textId = IDS_SHARE_CREDENTIAL_CONFLICT;
            break;
        case kShareBadUserName:
            r.textId = IDS_SHARE_INVALID_USER;
            r.focusControl = IDC_LOG_USER;
            break;
        default:
            r.textId = IDS_SHARE_COULD_NOT_TEST;
            break;
    }
    return r;
}

std::wstring CutTrailingBackslash(std::wstring text) {
    if (!text.empty() && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}

std::optional<std::wstring> ShareHost(const std::wstring& sharePath) {
    if (sharePath.size() < 2 || sharePath[0] != L'\\' || sharePath[1] != L'\\') {
        return std::nullopt;
    }
    auto slash = sharePath.find(L'\\', 2);
    if (slash == std::wstring::npos || slash == 2) {
        return std::nullopt;
    }
    return sharePath.substr(2, slash - 2);
}

std::optional<std::wstring> MakeShareIpForm(const std::wstring& sharePath,
                                            platform::INetwork& network) {
    auto host = ShareHost(sharePath);
    if (!host) {
        return std::nullopt;
    }
    auto address = network.ResolveIpv4(*host);
    if (!address) {
        return std::nullopt;
    }
    wchar_t dotted[32];
    std::swprintf(dotted, sizeof dotted / sizeof dotted[0], L"\\\\%d.%d.%d.%d", (*address)[0],
                  (*address)[1], (*address)[2], (*address)[3]);
    return dotted + sharePath.substr(2 + host->size());
}

}  // namespace scour
