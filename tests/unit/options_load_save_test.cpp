#include <gtest/gtest.h>

#include "base/text.h"
#include "options/stored_values.h"
#include "options/summary.h"
#include "options/wizard_options.h"
#include "support/test_support.h"
#include "unit/options_memory_store.h"

namespace scour {
namespace {

using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegSz;
using platform::RegValue;

using FakeStore = test::MemoryStore;

class OptionsStore : public ::testing::Test {
  protected:
    OptionsStore() : env_(program_.Path()) {
        env_.environment.documentsFolder = docs_.Path();
        env_.services.settings = &store_;
    }
    void InstallSchemes(int n) {
        test::MakeDirs(program_ / L"schemes");
        for (int i = 0; i < n; ++i) {
            test::WriteFile(JoinPath(program_ / L"schemes", L"s" + std::to_wstring(i) + L".sch"),
                            "[S" + std::to_string(i) + "]\n1. zero\n");
        }
    }
    WizardOptions Loaded() {
        WizardOptions o;
        o.Load(env_);
        return o;
    }
    std::wstring Stored(const std::wstring& name) {
        return DecodeText(store_.values[name]).value_or(L"<unreadable>");
    }

    test::ScratchDir program_;
    test::ScratchDir docs_;
    FakeStore store_;
    test::TestServices env_;
};

TEST_F(OptionsStore, DefaultsAndSchemeRepairs) {
    InstallSchemes(5);
    WizardOptions first = Loaded();  // no key at all
    EXPECT_EQ((std::vector{first.AutoStart, first.SelectDisks, first.IsoUsb, first.IsoShowFolder,
                           first.Scheme}),
              (std::vector{0, 1, 1, 1, 0}));
    EXPECT_EQ(first.IsoPath, docs_ / L"scourcd.iso");

    store_.Set(L"SelectDisks", kRegDword, EncodeDword(0));
    store_.Set(L"AutoStart", kRegSz, EncodeText(L"1"));
    store_.Set(L"WriteLog", kRegDword, {1, 0});  // not four bytes: as missing
    store_.Set(L"IsoUsb", kRegBinary, {0, 0, 0, 0});
    WizardOptions o = Loaded();
    EXPECT_EQ(o.Scheme, 3);  // a key without "Scheme"
    EXPECT_EQ(o.SelectDisks, 0);
    EXPECT_EQ(o.AutoStart + o.WriteLog, 0);
    EXPECT_EQ(o.IsoUsb, 1);

    for (std::int32_t stored : {-1, 5}) {
        store_.Set(L"Scheme", kRegDword, EncodeDword(stored));
        o = Loaded();
        EXPECT_EQ(o.Scheme, 0) << stored;
        o.Save(env_);
        EXPECT_EQ(DecodeDword(store_.values[L"Scheme"]), 0) << stored;
    }
    store_.values.erase(L"Scheme");
    std::filesystem::remove_all(ToFsPath(program_ / L"schemes"));
    o = Loaded();
    EXPECT_EQ(o.Scheme, 0);  // 3 does not fit an empty catalogue
    EXPECT_EQ(o.ChosenScheme(), nullptr);
}

TEST_F(OptionsStore, TextValuesFollowTheBufferRules) {
    const std::wstring share = L"\\\\srv\\logs";
    const std::vector<std::tuple<RegValue, std::wstring>> cases = {
        {{kRegSz, EncodeText(share)}, share},
        {{kRegSz, EncodeText(std::wstring(259, L'x'))}, std::wstring(259, L'x')},
        {{kRegSz, EncodeText(std::wstring(260, L'x'))}, L""},
        {{kRegSz, {}}, L""},
        {{kRegSz, ToUtf16Le(share)}, L""},  // not terminated
        {{kRegSz, {'a', 0, 0}}, L""},       // odd length
        {{kRegBinary, EncodeText(share)}, L""},
        {{kRegSz, EncodeText(std::wstring(L"ab\0cd", 5))}, L"ab"},
        {{kRegSz, EncodeText(L"\U0001F600")}, L"\U0001F600"},
    };
    for (const auto& [value, want] : cases) {
        store_.Set(L"NetShare", value.type, value.data);
        WizardOptions o;
        o.NetShare = L"before";
        o.NetPassword = L"secret";
        o.NetShareIp = L"\\\\10.0.0.1\\logs";
        o.Load(env_);
        EXPECT_EQ(o.NetShare, want) << value.data.size();
        EXPECT_TRUE(o.NetPassword.empty());
        EXPECT_EQ(o.NetShareIp, L"\\\\10.0.0.1\\logs");  // not touched
    }
}

TEST_F(OptionsStore, IsoPathIsKeptWhileItsFolderExists) {
    store_.Set(L"IsoPath", kRegSz, EncodeText(docs_ / L"new.iso"));
    EXPECT_EQ(Loaded().IsoPath, docs_ / L"new.iso");
    store_.Set(L"IsoPath", kRegSz, EncodeText(JoinPath(docs_ / L"gone", L"a.iso")));
    EXPECT_EQ(Loaded().IsoPath, docs_ / L"scourcd.iso");

    // The default falls back to the program folder, and never exceeds a path buffer.
    env_.environment.documentsFolder = std::wstring(248, L'd');  // 248 + 1 + 11 = 260
    EXPECT_EQ(WizardOptions::DefaultIsoPath(env_), program_ / L"scourcd.iso");
    env_.environment.documentsFolder = std::wstring(247, L'd');
    EXPECT_EQ(WizardOptions::DefaultIsoPath(env_)->size(), 259u);
    env_.environment.documentsFolder.reset();
    env_.environment.programFolder = std::wstring(248, L'p');
    WizardOptions o;
    o.IsoPath = L"nowhere";
    o.SetDefaultIsoPath(env_);
    EXPECT_EQ(o.IsoPath, std::nullopt);
}

TEST_F(OptionsStore, SaveWritesExactlyTheStoredFields) {
    store_.Set(L"NetUser", kRegSz, EncodeText(L"olduser"));
    WizardOptions o;
    o.AllowTestMode = o.TestMode = o.NetAskPassword = 1;
    o.AutoStart = 5;
    o.NetShare = L"\u00e9\U0001F600";
    o.NetPassword = L"secret";
    o.NetShareIp = L"\\\\10.0.0.1\\logs";
    o.IsoPath = L"C:\\a.iso";
    EXPECT_EQ(o.Save(env_), 0);
    EXPECT_EQ(store_.values.size(), 15u);  // none of the five fields that are never stored
    for (const auto& [name, v] : store_.values) {
        bool text = name == L"IsoPath" || name == L"NetShare" || name == L"NetUser";
        EXPECT_EQ(v.type, text ? kRegSz : kRegDword) << ToUtf8(name);
        EXPECT_EQ(v.data.size(), text ? (ToUtf16Le(Stored(name)).size() + 2) : 4u);
    }
    EXPECT_EQ(DecodeDword(store_.values[L"AutoStart"]), 1);
    EXPECT_EQ(store_.values[L"NetShare"].data.size(), (3u + 1) * 2);  // a surrogate pair is 2
    EXPECT_EQ(Stored(L"NetUser"), L"olduser");  // an empty text is not written

    // Too short, or too long to be read back: the stored value stays.
    for (std::wstring bad : {std::wstring(L"C:\\"), std::wstring(260, L'p')}) {
        o.IsoPath = bad;
        o.Save(env_);
        EXPECT_EQ(Stored(L"IsoPath"), L"C:\\a.iso");
    }
    store_.createStatus = 5;
    store_.values.clear();
    EXPECT_EQ(o.Save(env_), 5);
    EXPECT_TRUE(store_.values.empty());
}

// A new name in an existing folder, an empty one, a missing folder and a name
// without one are in the ISO page's tests.
TEST(PathOrFolderExists, FilesFoldersAndTheirParents) {
    test::ScratchDir dir;
    test::WriteFile(dir / L"a.iso", "x");
    EXPECT_FALSE(PathOrFolderExists(std::nullopt));
    EXPECT_TRUE(PathOrFolderExists(dir / L"a.iso"));
    EXPECT_TRUE(PathOrFolderExists(dir.Path()));
    EXPECT_FALSE(PathOrFolderExists(JoinPath(dir.Path(), std::wstring(260, L'n'))));
}

// The summary page's text: the interactive start hides the wiping choices,
// the automatic one lists every choice in order.
TEST(Summary, InteractiveAndAutomaticStartsAndEdgeValues) {
    const std::wstring heading =
        L"The following settings will be used for Scourline bootable disk:\n\n";
    const std::wstring automatic = heading + L"- wipe hard drives automatically;\n";
    WizardOptions o;
    o.Schemes = {{L"Zero fill", L"a.sch", 1, 1}, {L"Random", L"b.sch", 1, 4}};
    o.SelectDisks = 0;
    o.NetLog = o.Verify = o.ResetHPA = o.AtaErase = 1;
    EXPECT_EQ(BuildSummaryText(o), heading + L"- start Scourline in interactive mode;\n");
    o.TestMode = o.WriteLog = 1;
    EXPECT_EQ(BuildSummaryText(o), heading +
                                       L"- Hardware compatibility test mode, no wiping allowed;\n"
                                       L"- log results to removable drive;\n");
    o.TestMode = 0;
    o.AutoStart = o.SelectDisks = o.ResetDCO = 1;
    o.NetShare = L"\\\\fs1\\logs";
    o.Scheme = 1;
    EXPECT_EQ(BuildSummaryText(o), automatic +
                                       L"- let the user to select disks for wiping;\n"
                                       L"- log results to removable drive;\n"
                                       L"- log results to \\\\fs1\\logs network share;\n"
                                       L"- Random;\n"
                                       L"- enable verification;\n"
                                       L"- reset HPA area on ATA/SATA hard drives;\n"
                                       L"- reset DCO area on ATA/SATA hard drives;\n"
                                       L"- replace the last wiping pass by ATA ERASE command;\n");
    // Any non-zero value is true; a scheme past the catalogue becomes the first.
    WizardOptions odd;
    odd.Schemes = o.Schemes;
    odd.AutoStart = 2;
    odd.SelectDisks = odd.Verify = 0;
    odd.NetLog = 1;
    odd.Scheme = 7;
    EXPECT_EQ(BuildSummaryText(odd), automatic +
                                         L"- log results to  network share;\n"
                                         L"- Zero fill;\n- disable verification;\n");
    EXPECT_EQ(odd.Scheme, 0);
    odd.NetLog = 0;
    odd.Verify = -1;
    odd.Schemes.clear();
    EXPECT_EQ(BuildSummaryText(odd),
              automatic + L"- no wiping scheme installed;\n- enable verification;\n");
}

}  // namespace
}  // namespace scour
