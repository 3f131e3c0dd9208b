// The options: stored values (in memory; the real stores: tests/linux, tests/win32),
// the scheme catalogue, the summary.
#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"
#include "options/scheme_catalogue.h"
#include "options/stored_values.h"
#include "options/summary.h"
#include "options/wizard_options.h"
#include "support/test_support.h"
#include "unit/options_memory_store.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace scour {
namespace {

using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegSz;
using platform::RegValue;

// Latin-1, so that the tests see that scheme names go through the codec.
class Latin1Codec final : public platform::ITextCodec {
  public:
    std::string ToSystem8Bit(std::wstring_view) override { return {}; }
    std::wstring FromSystem8Bit(std::string_view text) override {
        std::wstring out;
        for (unsigned char c : text) {
            out += static_cast<wchar_t>(c);
        }
        return out;
    }
};

class Options : public ::testing::Test {
  protected:
    Options() : env_(program_.Path()) {
        env_.environment.documentsFolder = docs_.Path();
        env_.services.settings = &store_;
        env_.services.text = &codec_;
    }
    void Put(std::wstring_view name, std::string_view text) {
        test::MakeDirs(program_ / L"schemes");
        test::WriteFile(JoinPath(program_ / L"schemes", name), text);
    }
    WizardOptions Loaded() {
        WizardOptions o;
        o.Load(env_);
        return o;
    }
    std::wstring Stored(const std::wstring& name) {
        return DecodeText(store_.values[name]).value_or(L"<unreadable>");
    }
    // The entry one file makes, or nothing when it is left out.
    std::optional<SchemeEntry> ReadOne(std::string_view text) {
        test::WriteFile(docs_ / L"one.sch", text);
        WizardOptions o;
        bool added = o.ReadSchemeFile(env_, docs_ / L"one.sch");
        EXPECT_EQ(added, o.Schemes.size() == 1);
        return added ? std::optional(o.Schemes[0]) : std::nullopt;
    }
    std::vector<std::wstring> Names() {
        WizardOptions o;
        o.BuildSchemeCatalogue(env_);
        std::vector<std::wstring> names;
        for (const auto& e : o.Schemes) {
            names.push_back(e.Name);
        }
        return names;
    }

    Latin1Codec codec_;
    test::ScratchDir program_;
    test::ScratchDir docs_;
    test::MemoryStore store_;
    test::TestServices env_;
};

TEST_F(Options, DefaultsAndSchemeRepairs) {
    for (int i = 0; i < 5; ++i) {
        Put(L"s" + std::to_wstring(i) + L".sch", "[S" + std::to_string(i) + "]\n1. zero\n");
    }
    WizardOptions first = Loaded();  // no key at all
    EXPECT_EQ((std::vector{first.AutoStart, first.SelectDisks, first.IsoUsb, first.IsoShowFolder,
                           first.Scheme}),
              (std::vector{0, 1, 1, 1, 0}));

    store_.Set(L"SelectDisks", kRegDword, EncodeDword(0));
    store_.Set(L"AutoStart", kRegSz, EncodeText(L"1"));
    store_.Set(L"WriteLog", kRegDword, {1, 0});  // not four bytes: as missing
    store_.Set(L"Verify", kRegDword, {1, 0, 0, 0, 0});
    store_.Set(L"IsoUsb", kRegBinary, {0, 0, 0, 0});
    WizardOptions o = Loaded();
    EXPECT_EQ(o.Scheme, 3);  // a key without "Scheme"
    EXPECT_EQ(o.SelectDisks, 0);
    EXPECT_EQ(o.AutoStart + o.WriteLog + o.Verify, 0);
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
}

TEST_F(Options, TextValuesFollowTheBufferRules) {
    const std::wstring share = L"\\\\srv\\logs";
    const std::vector<std::tuple<RegValue, std::wstring>> cases = {
        {{kRegSz, EncodeText(std::wstring(259, L'x'))}, std::wstring(259, L'x')},
        {{kRegSz, EncodeText(std::wstring(260, L'x'))}, L""},
        {{kRegSz, ToUtf16Le(share)}, L""},  // not terminated
        {{kRegSz, {'a', 0, 0}}, L""},       // odd length
        {{kRegBinary, EncodeText(share)}, L""},
        {{kRegSz, EncodeText(std::wstring(L"ab\0cd", 5))}, L"ab"},
    };
    for (const auto& [value, want] : cases) {
        store_.Set(L"NetShare", value.type, value.data);
        WizardOptions o;
        o.NetShare = L"before";
        o.Load(env_);
        EXPECT_EQ(o.NetShare, want) << value.data.size();
    }
}

TEST_F(Options, IsoPathIsKeptWhileItsFolderExists) {
    test::WriteFile(docs_ / L"new.iso", "");  // an existing image is kept as well
    store_.Set(L"IsoPath", kRegSz, EncodeText(docs_ / L"new.iso"));
    EXPECT_EQ(Loaded().IsoPath, docs_ / L"new.iso");
    store_.Set(L"IsoPath", kRegSz, EncodeText(JoinPath(docs_ / L"gone", L"a.iso")));
    EXPECT_EQ(Loaded().IsoPath, docs_ / L"scourcd.iso");

    // The default falls back to the program folder, and never exceeds a path buffer.
    env_.environment.documentsFolder = std::wstring(248, L'd');  // 248 + 1 + 11 = 260
    EXPECT_EQ(WizardOptions::DefaultIsoPath(env_), program_ / L"scourcd.iso");
    env_.environment.documentsFolder.reset();
    env_.environment.programFolder = std::wstring(248, L'p');
    EXPECT_EQ(WizardOptions::DefaultIsoPath(env_), std::nullopt);
    EXPECT_EQ(WizardOptions::DefaultIsoPath(platform::Services()), std::nullopt);
}

TEST_F(Options, SaveWritesExactlyTheStoredFields) {
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
}

// The interactive start and test mode: the command line test.
TEST(Summary, AutomaticStartListsEveryChoiceInOrder) {
    const std::wstring heading =
        L"The following settings will be used for Scourline bootable disk:\n\n";
    const std::wstring automatic = heading + L"- wipe hard drives automatically;\n";
    WizardOptions o;
    o.Schemes = {{L"Zero fill", L"a.sch", 1, 1}, {L"Random", L"b.sch", 1, 4}};
    o.SelectDisks = 0;
    o.NetLog = o.Verify = o.ResetHPA = o.AtaErase = 1;
    o.AutoStart = o.SelectDisks = o.ResetDCO = o.WriteLog = 1;
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
    // Any non-zero value is true.
    WizardOptions odd;
    odd.AutoStart = 2;
    odd.SelectDisks = odd.Verify = 0;
    EXPECT_EQ(BuildSummaryText(odd),
              automatic + L"- no wiping scheme installed;\n- disable verification;\n");
}

TEST_F(Options, NamesPassCountsAndWeights) {
    EXPECT_EQ(ReadOne("[Two passes]\n1. 00\n2. random\n")->PassCount, 2);
    EXPECT_EQ(ReadOne("1. zero verify\n2. complement\n")->Name, L"User-defined");
    EXPECT_EQ(ReadOne("; note\n x [a [Caf\xE9] b] y\r\n1. zero\r\n")->Name, L"a [Caf\u00e9] b");
    EXPECT_EQ(ReadOne("[" + std::string(2046, 'n') + "]\n1. zero\n")->Name, L"User-defined");
    std::string many = "[Many]\n";  // weights that would overflow 32 bits saturate
    for (int i = 0; i < 70000; ++i) {
        many += "complement\n";
    }
    // The weight of each file, -1 when it is left out.
    const std::pair<std::string, std::int32_t> cases[] = {
        {"[Two passes]\n1. 00\n2. random\n", 5},
        {"[Two passes]\n1. 00\n2. random verify\n", 6},
        {"1. zero verify\n2. complement\n", 3},  // the first line's verify mark adds nothing
        {" -1. zero\n", 1},                      // a signed number starts a user-defined one
        {"] no [\n", -1},
        {"", -1},
        // Pass kinds are tested in order.
        {"[S]\n1. RANDOM complement\n", 4},
        {"[S]\n1. random\nno pass\n2. complement\n3. complement\n", 4 + 5 + 6},
        {"[S]\nTried with the latest firmware\n", 1},    // "test" in "latest"
        {std::string("[S]\n1. zero\0random\n", 19), 1},  // a zero byte ends it
        // Long lines are read in pieces of 2047 bytes, each a line of its own.
        {"[L]\n" + std::string(2047, 'x') + "random\n", 4},
        {"[L]\n" + std::string(2044, 'x') + "random\n", -1},
        {many, std::numeric_limits<std::int32_t>::max()},
    };
    for (const auto& [text, weight] : cases) {
        auto e = ReadOne(text);
        EXPECT_EQ(e ? e->Weight : -1, weight) << text.substr(0, 40);
    }
}

// Heavier first, then the system's listing order: upper-cased code units ('_'
// after the letters, an accented letter as its capital).
TEST_F(Options, ListingOrderThenWeight) {
    Put(L"\u00c9b.sch", "[Eb]\n1. zero\n");
    Put(L"\u00e9a.sch", "[Ea]\n1. zero\n");
    Put(L"_x.sch", "[U]\n1. zero\n");
    Put(L"b.sch", "[B]\n1. zero\n");
    Put(L"A.sch", "[A]\n1. zero\n");
    Put(L"c.SCH", "[C]\n1. random\n");
    Put(L"d.sch", "[D without passes]\n");
    Put(L"e.sch.bak", "[E]\n1. random\n");
    test::MakeDirs(JoinPath(program_ / L"schemes", L"folder.sch"));
    // A path that would not fit a buffer of 260 characters.
    Put(std::wstring(256 - JoinPath(program_ / L"schemes", L"").size(), L'n') + L".sch",
        "[L]\n1. random\n");
#ifndef _WIN32
    // A pipe would block a reader for ever.
    ASSERT_EQ(mkfifo(ToUtf8(JoinPath(program_ / L"schemes", L"f.sch")).c_str(), 0600), 0);
#endif
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"C", L"A", L"B", L"U", L"Ea", L"Eb"}));
}

}  // namespace
}  // namespace scour
