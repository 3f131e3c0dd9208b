#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"
#include "options/scheme_catalogue.h"
#include "options/wizard_options.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace scour {
namespace {

// Latin-1, so that the tests see that names go through the codec.
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

class Catalogue : public ::testing::Test {
  protected:
    Catalogue() : env_(program_.Path()) { env_.services.text = &codec_; }
    void Put(std::wstring_view name, std::string_view text) {
        test::MakeDirs(program_ / L"schemes");
        test::WriteFile(JoinPath(program_ / L"schemes", name), text);
    }
    // The entry one file makes, or nothing when it is left out.
    std::optional<SchemeEntry> ReadOne(std::string_view text) {
        test::WriteFile(scratch_ / L"one.sch", text);
        WizardOptions o;
        bool added = o.ReadSchemeFile(env_, scratch_ / L"one.sch");
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
    test::ScratchDir scratch_;
    test::TestServices env_;
};

TEST_F(Catalogue, NamesPassCountsAndWeights) {
    auto two = ReadOne("[Two passes]\n1. 00\n2. random\n");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->Name, L"Two passes");
    EXPECT_EQ(two->PassCount, 2);
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
        {"  -1. zero\n2. zero verify\n", 3},
        {"] no [\n", -1},
        {"[]\n1. random\n", -1},
        {"[No passes]\njust words\n", -1},
        {"", -1},
        {"[First]\n[Random]\n", 4},  // a second bracketed line is a pass line
        // Pass kinds are tested in order.
        {"[S]\n1. RANDOM complement\n", 4},
        {"[S]\n1. complement\n", 2},
        {"[S]\n1. random\nno pass\n2. complement\n3. complement\n", 4 + 5 + 6},
        {"[S]\nTried with the latest firmware\n", 1},  // "test" in "latest"
        {"[S]\n1. Zeroes Verify\n", 2},
        {"[S]\n1. 55, aa verify\n", 2},
        {"[S]\n1. +-5 ff\n", -1},
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

TEST(PatternLength, TokensCountsAndTheCut) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"1. +3 ff, 00\n", 4},
        {"1. +70000 ff\n", 65536},
        {"1. +-5 ff\n", -5},
        {"1. +65535 ff, 00, zz\n", 65536},
        {"1. +65534 ff, +-3 00, 01\n", 65532},
        {"no dot 00, 11\n", 0},
        {"1. zz, , 0x1f, -a\n", 2},
        {"1. +3, +ff, + 2 aa, x+4 0\n", 6},  // both numbers, from the '+'
        // Counts beyond 32 bits saturate instead of wrapping.
        {"1. +99999999999999 ff\n", 65536},
        {"1. +-99999999999999 ff\n", std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto& [line, length] : cases) {
        EXPECT_EQ(PatternLength(line), length) << line;
    }
}

// Heavier first; equal weights in the order of the system's listing: names
// compared upper-cased, code unit by code unit ('_' after the letters, an
// accented letter as its capital).
TEST_F(Catalogue, ListingOrderThenWeight) {
    Put(L"\u00c9b.sch", "[Eb]\n1. zero\n");
    Put(L"\u00e9a.sch", "[Ea]\n1. zero\n");
    Put(L"_x.sch", "[U]\n1. zero\n");
    Put(L"b.sch", "[B]\n1. zero\n");
    Put(L"A.sch", "[A]\n1. zero\n");
    Put(L"c.SCH", "[C]\n1. random\n");
    Put(L"d.sch", "[D without passes]\n");
    Put(L"e.sch.bak", "[E]\n1. random\n");
    test::MakeDirs(JoinPath(program_ / L"schemes", L"folder.sch"));
#ifndef _WIN32
    // A pipe would block a reader for ever.
    ASSERT_EQ(mkfifo(ToUtf8(JoinPath(program_ / L"schemes", L"f.sch")).c_str(), 0600), 0);
#endif
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"C", L"A", L"B", L"U", L"Ea", L"Eb"}));
    // Positions shift when a heavier file is added.
    Put(L"z.sch", "[Z]\n1. random\n2. random\n");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Z", L"C", L"A", L"B", L"U", L"Ea", L"Eb"}));
}

TEST_F(Catalogue, EmptyOrUnusableFolders) {
    WizardOptions o;
    o.Schemes.push_back({L"stale", L"", 1, 1});
    EXPECT_FALSE(o.BuildSchemeCatalogue(env_));
    EXPECT_TRUE(o.Schemes.empty());
    Put(L"bad.sch", "nothing\n");
    EXPECT_TRUE(o.BuildSchemeCatalogue(env_));
    EXPECT_TRUE(o.Schemes.empty());

    // Paths that would not fit a 260-character buffer are refused.
    Put(L"short.sch", "[Short]\n1. zero\n");
    const std::wstring folder = JoinPath(program_ / L"schemes", L"");
    const std::wstring longName = std::wstring(256 - folder.size(), L'n') + L".sch";
    test::WriteFile(folder + longName, "[Long]\n1. random\n");
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"Short"});
    EXPECT_FALSE(o.ReadSchemeFile(env_, folder + longName));
    env_.environment.programFolder = std::wstring(250, L'p');
    EXPECT_FALSE(o.BuildSchemeCatalogue(env_));
}

}  // namespace
}  // namespace scour
