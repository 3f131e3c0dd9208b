#include <gtest/gtest.h>

#include "base/strings.h"
#include "base/text.h"

namespace scour {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
    const std::wstring text = L"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              L"a\uFFFDb");
    EXPECT_EQ(FromUtf8("a\xE2\x82"), L"a\uFFFD");    // cut short at the end
    EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD");      // overlong form: one sequence
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD");  // encoded surrogate
}

TEST(Text, Utf16LeMatchesTheRegistryLayout) {
    auto bytes = ToUtf16Le(L"A\U0001F600");
    const std::vector<std::uint8_t> want = {0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(bytes, want);
    EXPECT_EQ(FromUtf16Le(bytes.data(), bytes.size()), L"A\U0001F600");
    // An odd trailing byte is not half a character.
    EXPECT_EQ(FromUtf16Le(bytes.data(), 3), L"A");
}

TEST(Text, JoinPathAddsOneSeparator) {
    std::wstring sep(1, kPathSep);
    EXPECT_EQ(JoinPath(L"a", L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"a" + sep, L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
}

TEST(Text, CaseFoldingIsAsciiOnly) {
    EXPECT_TRUE(EqualsAsciiNoCase(L"FAT32", L"fat32"));
    EXPECT_FALSE(EqualsAsciiNoCase(L"\u00c9", L"\u00e9"));
    EXPECT_FALSE(EqualsAsciiNoCase(L"FAT", L"FAT32"));
}

TEST(Strings, TableHoldsTheMessagesByTheirIds) {
    EXPECT_EQ(LoadText(IDS_WIZARD_CAPTION), L"Scourline Configuration Wizard");
    EXPECT_EQ(LoadText(IDS_ISO_BAD_OUTPUT), L".ISO image creation failed.\nBad output.");
    EXPECT_TRUE(LoadText(9999).empty());
}

}  // namespace
}  // namespace scour
