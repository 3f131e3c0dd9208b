// The IP form of share paths that name no share, or whose host is an address
// already: what the log page's Next and scourline-media share-test store.
#include <gtest/gtest.h>

#include "pages/share_test.h"
#include "pages_fakes.h"

namespace scour {
namespace {

TEST(ShareIpForm, HostAndFormByShape) {
    struct Case {
        const wchar_t* path;
        std::optional<std::wstring> host;
        std::optional<std::wstring> form;
    };
    const Case cases[] = {
        {L"\\\\fs1\\logs\\wipe", L"fs1", L"\\\\10.0.0.5\\logs\\wipe"},
        {L"\\\\fs1\\logs", L"fs1", L"\\\\10.0.0.5\\logs"},
        {L"\\\\10.0.0.5\\logs", L"10.0.0.5", L"\\\\10.0.0.5\\logs"},
        {L"\\\\unknown\\logs", L"unknown", std::nullopt},
        {L"\\\\fs1", std::nullopt, std::nullopt},      // a server, no share
        {L"\\\\\\logs", std::nullopt, std::nullopt},   // no host
        {L"\\fs1\\logs", std::nullopt, std::nullopt},  // not a UNC path
        {L"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        test::FakeNetwork network;
        network.hosts[L"fs1"] = {10, 0, 0, 5};
        network.hosts[L"10.0.0.5"] = {10, 0, 0, 5};
        EXPECT_EQ(ShareHost(c.path), c.host) << c.path;
        EXPECT_EQ(MakeShareIpForm(c.path, network), c.form) << c.path;
        // A path that names no host is never looked up.
        EXPECT_EQ(network.lookups.size(), c.host ? 1u : 0u) << c.path;
    }
}

}  // namespace
}  // namespace scour
