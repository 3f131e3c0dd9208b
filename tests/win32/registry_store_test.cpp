#include "platform/win32/registry_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "base/text.h"
#include "options/stored_values.h"
#include "options/wizard_options.h"
#include "support/test_support.h"

namespace scour::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A key of the test's own below the product's key, deleted with its values afterwards.
class Registry : public ::testing::Test {
  protected:
    Registry()
        : subKey_(L"SOFTWARE\\Valdane\\Scourline\\Test-" + std::to_wstring(std::random_device()())),
          store_(subKey_),
          env_(program_.Path()) {
        env_.services.settings = &store_;
        env_.environment.documentsFolder = program_.Path();
    }
    ~Registry() override {
        RegCloseKey(raw_);
        RegDeleteTreeW(HKEY_CURRENT_USER, subKey_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str());
    }
    // Plants a value with the real API, whatever its type and size.
    void Plant(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        if (raw_ == nullptr) {
            RegCreateKeyExW(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &raw_, nullptr);
        }
        ASSERT_EQ(RegSetValueExW(raw_, name, 0, type, static_cast<const BYTE*>(data), size), 0);
    }
    std::map<std::wstring, RegValue> All() {
        std::map<std::wstring, RegValue> out;
        wchar_t name[256];
        BYTE data[2048];
        DWORD nameLen = 256, size = sizeof data, type = 0;
        for (DWORD i = 0; RegEnumValueW(raw_, i, name, &nameLen, nullptr, &type, data, &size) == 0;
             ++i, nameLen = 256, size = sizeof data) {
            out[std::wstring(name, nameLen)] = RegValue{type, Bytes(data, data + size)};
        }
        return out;
    }

    std::wstring subKey_;
    HKEY raw_ = nullptr;
    RegistryStore store_;
    test::ScratchDir program_;
    test::TestServices env_;
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

TEST_F(Registry, LoadRepairsPlantedValuesAndSaveWritesOnlyItsOwn) {
    const DWORD seven = 7;
    const BYTE twoBytes[2] = {1, 0};
    Plant(L"Verify", REG_DWORD, &seven, 4);
    Plant(L"AutoStart", REG_SZ, L"1", 4);
    Plant(L"WriteLog", REG_DWORD, twoBytes, 2);
    Plant(L"NetShare", REG_EXPAND_SZ, L"\\\\srv\\logs", 22);
    Plant(L"NetUser", REG_SZ, L"abc", 5);           // odd size
    Plant(L"IsoPath", REG_SZ, L"C:\\x.isoX", 16);   // no terminator
    Plant(L"NetPassword", REG_SZ, L"planted", 16);  // never read
    WizardOptions o;
    o.Load(env_);
    EXPECT_EQ(o.Verify, 1);
    EXPECT_EQ(o.AutoStart, 0);
    EXPECT_EQ(o.WriteLog, 0);
    EXPECT_EQ(o.Scheme, 0);  // missing: 3, clamped in an empty catalogue
    EXPECT_EQ(o.NetShare, L"\\\\srv\\logs");
    EXPECT_TRUE(o.NetUser.empty());
    EXPECT_TRUE(o.NetPassword.empty());
    EXPECT_EQ(o.IsoPath, program_ / L"scourcd.iso");
    const std::wstring tooLong(260, L'u');
    Plant(L"NetUser", REG_SZ, tooLong.c_str(), 261 * 2);
    Plant(L"NetShare", REG_SZ, tooLong.c_str() + 1, 260 * 2);  // 259 and the terminator
    o.Load(env_);
    EXPECT_TRUE(o.NetUser.empty());
    EXPECT_EQ(o.NetShare, tooLong.substr(1));

    RegDeleteValueW(raw_, L"NetPassword");
    o.TestMode = o.AllowTestMode = o.NetAskPassword = 1;
    o.NetShareIp = L"\\\\10.1.2.3\\logs";
    o.NetUser = L"user";
    o.IsoPath = L"C:\\a.iso";
    ASSERT_EQ(o.Save(env_), 0);
    auto all = All();
    EXPECT_EQ(all.size(), 15u);  // twelve numbers, three texts, nothing else
    for (const auto& [name, v] : all) {
        bool text = name == L"IsoPath" || name == L"NetShare" || name == L"NetUser";
        EXPECT_EQ(v.type, text ? static_cast<std::uint32_t>(REG_SZ) : REG_DWORD) << ToUtf8(name);
        EXPECT_EQ(text ? DecodeText(v).value_or(L"?").size() * 2 + 2 : 4, v.data.size());
    }
    EXPECT_EQ(DecodeDword(all[L"Verify"]), 1);
    EXPECT_EQ(DecodeText(all[L"IsoPath"]), L"C:\\a.iso");
}

}  // namespace
}  // namespace scour::platform
