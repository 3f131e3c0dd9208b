// The share test and name lookup as Wine implements them: Wine has no network
// provider, so every connection attempt reports that no network is there.
#include <gtest/gtest.h>

#include "base/strings.h"
#include "pages/share_test.h"
#include "platform/services.h"
#include "platform/win32/network_win32.h"

namespace scour {
namespace {

TEST(Win32Network, ShareTestFailsAsNoNetworkUnderWine) {
    platform::Win32Network network;
    // Empty credentials are passed as empty texts, not as "the current logon".
    for (const wchar_t* user : {L"wiper", L""}) {
        unsigned long code = network.TestShareConnection(L"\\\\127.0.0.1\\share", user, user);
        EXPECT_EQ(code, platform::kShareNoNetwork) << user;
        ShareTestReport report = DescribeShareTestResult(code);
        EXPECT_FALSE(report.passed);
        EXPECT_EQ(LoadText(report.textId), L"Network share not found");
    }
    EXPECT_EQ(
        platform::DefaultServices().network->TestShareConnection(L"\\\\127.0.0.1\\share", L"", L""),
        platform::kShareNoNetwork);
}

TEST(Win32Network, ResolvesLoopbackNamesOnly) {
    platform::Win32Network network;
    using Address = std::array<std::uint8_t, 4>;
    EXPECT_EQ(network.ResolveIpv4(L"127.0.0.1"), (Address{127, 0, 0, 1}));
    EXPECT_EQ(network.ResolveIpv4(L"localhost"), (Address{127, 0, 0, 1}));
    // An empty name would otherwise give this machine's own address.
    EXPECT_FALSE(network.ResolveIpv4(L""));
    EXPECT_EQ(MakeShareIpForm(L"\\\\localhost\\logs\\wipe", network), L"\\\\127.0.0.1\\logs\\wipe");
}

}  // namespace
}  // namespace scour
