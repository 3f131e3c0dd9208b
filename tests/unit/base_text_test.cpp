#include <gtest/gtest.h>

#include "base/strings.h"
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

TEST(Text, Utf16LeMatchesTheRegistryLayout) {
    auto bytes = ToUtf16Le(L"A\U0001F600");
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(FromUtf16Le(bytes.data(), bytes.size()), L"A\U0001F600");
    EXPECT_EQ(FromUtf16Le(bytes.data(), 3), L"A");  // an odd trailing byte is not half a character
}

TEST(Text, JoinPathAndAsciiOnlyCaseFolding) {
    const std::wstring sep(1, kPathSep);
    EXPECT_EQ(JoinPath(L"a", L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"a" + sep, L"b"), L"a" + sep + L"b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
    EXPECT_TRUE(EqualsAsciiNoCase(L"FAT32", L"fat32"));
    EXPECT_FALSE(EqualsAsciiNoCase(L"\u00c9", L"\u00e9"));
    EXPECT_FALSE(EqualsAsciiNoCase(L"FAT", L"FAT32"));
}

// The message texts the wizard shows, character for character: users and
// their scripts know them as they stand. By number, as the resources have
// them; the others are checked where they are shown (startup, command scripts).
TEST(StringTable, MessageTexts) {
    const std::pair<int, const wchar_t*> messages[] = {
        {147, L".ISO image creation failed.\nMissing file."},
        {148, L".ISO image creation failed.\nBad output."},
        {149, L".ISO image creation failed.\nCould not open destination file for writing."},
        {151,
         L"Scourline will completely overwrite the contents of the removable disk.\n"
         L"Please make certain that the disk does not contain any files you wish to keep before "
         L"proceeding.\n\nAre you sure you want to overwrite the removable disk?"},
        {152,
         L"There are opened files or windows from the removable disk.\n\n"
         L"Close all the files or windows and run the command again."},
        {154, L"The disk was not formatted."},
        {155,
         L"Scourline has successfully initialized the removable disk for wiping purposes at boot "
         L"time.\n\nNOTE: 'USB disk' or 'USB Zip/LS' must be set as the first boot device\n"
         L"in BIOS to boot from USB flash disk."},
        {156, L"Error in copying file to the removable disk."},
        {157, L""},
    };
    for (const auto& [id, text] : messages) {
        EXPECT_EQ(ToUtf8(LoadText(id)), ToUtf8(text)) << "string " << id;
    }
}

}  // namespace
}  // namespace scour
