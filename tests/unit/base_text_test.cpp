#include <gtest/gtest.h>

#include "base/text.h"

namespace scour {
namespace {

TEST(Text, Utf8RoundTripsEveryPlaneAndReplacesMalformedSequences) {
    const std::wstring text = L"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              L"a\uFFFDb");
    EXPECT_EQ(FromUtf8("a\xE2\x82"), L"a\uFFFD");    // cut short at the end
    EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD");      // overlong form: one sequence
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD");  // encoded surrogate
}

TEST(Text, JoinPathAndAsciiOnlyCaseFolding) {
    const std::wstring sep(1, kPathSep);
    EXPECT_EQ(JoinPath(L"a", L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"a" + sep, L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
    EXPECT_TRUE(EqualsAsciiNoCase(L"FAT32 AZ", L"fat32 az"));  // both ends of the alphabet
    EXPECT_FALSE(EqualsAsciiNoCase(L"\u00c9", L"\u00e9"));
    EXPECT_FALSE(EqualsAsciiNoCase(L"FAT", L"FAT32"));
}

}  // namespace
}  // namespace scour
