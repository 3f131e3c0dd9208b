#include "platform/win32/registry_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "base/text.h"
#include "options/stored_values.h"

namespace scour::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A key of the test's own below the product's key, deleted afterwards.
class Registry : public ::testing::Test {
  protected:
    ~Registry() override { RegDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str()); }

    std::wstring subKey_ =
        L"SOFTWARE\\Valdane\\Scourline\\Test-" + std::to_wstring(std::random_device()());
    RegistryStore store_{subKey_};
};

TEST_F(Registry, StoresExactTypesAndBytes) {
    EXPECT_FALSE(store_.OpenKey());
    long status = -1;
    auto key = store_.CreateKey(status);
    ASSERT_TRUE(key);
    EXPECT_EQ(status, 0);
    // The registry itself would add a terminator when the character behind the data is zero.
    const std::vector<std::pair<std::wstring, RegValue>> values = {
        {L"empty", {kRegSz, {}}},
        {L"odd", {kRegSz, {'a', 0, 'b'}}},
        {L"open", {kRegSz, {'a', 0}}},
        {L"expand", {kRegExpandSz, EncodeText(L"%T%")}},
        {L"big", {kRegBinary, Bytes(100000, 7)}},
        {L"short", {kRegDword, {1, 2}}},
    };
    for (const auto& [name, v] : values) {
        ASSERT_TRUE(key->Set(name, v.type, v.data)) << ToUtf8(name);
    }
    EXPECT_EQ(key->Commit(), 0);
    auto again = store_.OpenKey();
    ASSERT_TRUE(again);
    for (const auto& [name, v] : values) {
        RegValue got;
        ASSERT_TRUE(again->Query(name, got)) << ToUtf8(name);
        EXPECT_EQ(got.type, v.type) << ToUtf8(name);
        EXPECT_EQ(got.data, v.data) << ToUtf8(name);
    }
    RegistryStore bad(L"SOFTWARE\\Valdane\\Scourline\\" + std::wstring(300, L'k'));
    EXPECT_FALSE(bad.CreateKey(status));
    EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace scour::platform
