#include "media/newc_writer.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

using namespace test;

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(i * 7 + i / 251);
    }
    return s;
}

// The thirteen header fields after the magic, the modification time as written.
std::string Header(const std::string& written, const std::vector<const char*>& fields) {
    std::string h = "070701";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        h += i == 5 ? written.substr(46, 8) : fields[i];
    }
    return h;
}

class NewcWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeDirs(tempFolder);
        ASSERT_TRUE(writer.Open(temps));
    }
    std::wstring Source(const std::wstring& leaf, std::string_view content) {
        WriteFile(scratch / leaf, content);
        return scratch / leaf;
    }
    NewcArchive Finish() {
        EXPECT_TRUE(writer.WriteTrailer());
        EXPECT_TRUE(writer.CommitTo(destination));
        writer.Close();
        bytes = ReadFile(destination).value_or("");
        auto archive = ParseNewc(bytes);
        EXPECT_EQ(archive.error, "");
        return archive;
    }
    bool TempFolderEmpty() { return Entries(tempFolder).empty(); }

    ScratchDir scratch;
    std::wstring tempFolder = scratch / L"tmp";
    std::wstring destination = scratch / L"scour";
    FolderTempFiles temps{tempFolder};
    NewcArchiveWriter writer;
    std::string bytes;
};

TEST_F(NewcWriterTest, HeaderFieldsPaddingFileMembersAndTheTrailer) {
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_TRUE(writer.AddBuffer("hello", 5, "ab"));
    const auto after = static_cast<std::uint32_t>(std::time(nullptr));
    // Every name length and data length modulo 4.
    for (std::size_t nameLength = 1; nameLength <= 4; ++nameLength) {
        for (std::size_t size = 0; size <= 4; ++size) {
            const std::string name = std::string(nameLength - 1, 'n') + std::to_string(size);
            ASSERT_TRUE(writer.AddBuffer(Pattern(size).data(), size, name));
        }
    }
    // Files around the copy's chunk size.
    const std::string big = Pattern(65536);
    ASSERT_TRUE(writer.AddFile(Source(L"empty", ""), "empty"));
    ASSERT_TRUE(writer.AddFile(Source(L"one", big.substr(0, 65535)), "a%d"));
    ASSERT_TRUE(writer.AddFile(Source(L"two", big), "tmp/scheme/sch0000003.sch"));
    auto archive = Finish();
    ASSERT_EQ(archive.records.size(), 1u + 20 + 3 + 1);
    const auto& ab = archive.records[0];
    EXPECT_EQ(temps.lastPrefix, L"SCR");
    EXPECT_GE(ab.field[kMtime], before);
    EXPECT_LE(ab.field[kMtime], after);
    EXPECT_EQ(ab.header, Header(ab.header, {"00010000", "000081A4", "00000000", "00000000",
                                            "00000001", "", "00000005", "00000011", "00000000",
                                            "00000011", "00000000", "00000003", "00000000"}));
    EXPECT_EQ(bytes.substr(110, 14), std::string("ab\0\0\0\0hello\0\0\0", 14));
    for (std::size_t i = 1; i + 1 < archive.records.size(); ++i) {
        const auto& r = archive.records[i];
        EXPECT_EQ(r.field[kIno], 0x10000u + i);
        EXPECT_EQ(r.header.substr(14, 8), i < 21 ? "000081A4" : "000081ED");
        EXPECT_EQ(archive.records[i + 1].offset - r.offset,
                  (110 + r.name.size() + 1 + 3) / 4 * 4 + (r.data.size() + 3) / 4 * 4);
        EXPECT_EQ(r.data, i < 21 ? Pattern(r.data.size()) : big.substr(0, r.data.size()));
    }
    EXPECT_EQ(archive.records[2].offset - archive.records[1].offset, 112u);    // "0": no padding
    EXPECT_EQ(archive.records[22].offset - archive.records[21].offset, 116u);  // empty file
    EXPECT_EQ(archive.records[22].name, "a%d");
    EXPECT_EQ(archive.records[23].data.size(), 65536u);
    EXPECT_EQ(archive.records[24].offset, bytes.size() - 124);
    EXPECT_EQ(bytes.substr(bytes.size() - 124),
              Header(bytes.substr(bytes.size() - 124),
                     {"00010018", "00000000", "00000000", "00000000", "00000001", "", "00000000",
                      "00000011", "00000000", "00000011", "00000000", "0000000B", "00000000"}) +
                  std::string("TRAILER!!!\0\0\0\0", 14));
}

TEST_F(NewcWriterTest, RefusedMembersLeaveNothingBehind) {
    const std::wstring source = Source(L"s", "data");
    EXPECT_FALSE(writer.AddFile(L"", "name"));
    EXPECT_FALSE(writer.AddFile(source, ""));
    EXPECT_FALSE(writer.AddFile(source, std::string_view("a\0b", 3)));
    EXPECT_FALSE(writer.AddFile(scratch / L"missing", "missing"));
    EXPECT_FALSE(writer.AddBuffer(nullptr, 4, "null"));
    // 4 GiB does not fit the eight hex digits of filesize: left out, not wrapped.
    const std::wstring huge = Source(L"huge", "");
    std::error_code ec;
    std::filesystem::resize_file(ToFsPath(huge), 0x100000000ull, ec);
    EXPECT_TRUE(ec || !writer.AddFile(huge, "huge"));
    std::filesystem::remove(ToFsPath(huge), ec);
    ASSERT_TRUE(writer.AddFile(source, "kept"));
    // A source that delivers less than its size said (it shrank, or a read
    // failed) must not leave half a record: the archive is cut back.
    FilePtr small = OpenFile(Source(L"small", "0123456789"), "rb");
    EXPECT_FALSE(writer.AddFileHandle(small.get(), 20, "short"));
    FilePtr twoChunks = OpenFile(Source(L"large", Pattern(65535 + 100)), "rb");
    EXPECT_FALSE(writer.AddFileHandle(twoChunks.get(), 65535 * 2, "short2"));
    ASSERT_TRUE(writer.AddFileHandle(small.get(), "whole"));  // from the start again
    // A longer file at the destination is replaced whole, through no file beside it.
    WriteFile(destination, std::string(5000, 'o'));
    auto archive = Finish();
    EXPECT_EQ(archive.Names(), (std::vector<std::string>{"kept", "whole", "TRAILER!!!"}));
    EXPECT_EQ(archive.records[1].field[kIno], 0x10001u);  // the failed ones gave theirs back
    EXPECT_EQ(archive.records[1].data, "0123456789");
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_FALSE(Exists(destination + L".new"));
}

TEST_F(NewcWriterTest, FailedCommitKeepsWhatWasThereAndCloseRemovesTheTemporaryFile) {
    ASSERT_TRUE(writer.WriteTrailer());
    EXPECT_FALSE(writer.CommitTo(L""));
    EXPECT_FALSE(writer.CommitTo(JoinPath(scratch / L"missing", L"scour")));
    MakeDirs(scratch / L"folder");
    EXPECT_FALSE(writer.CommitTo(scratch / L"folder"));
    EXPECT_TRUE(std::filesystem::is_directory(ToFsPath(scratch / L"folder")));
    EXPECT_FALSE(TempFolderEmpty());
    writer.Close();
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_FALSE(writer.CommitTo(destination));
    {
        NewcArchiveWriter abandoned;
        ASSERT_TRUE(abandoned.Open(temps));
    }
    EXPECT_TRUE(TempFolderEmpty());
    temps.fail = true;
    EXPECT_FALSE(writer.Open(temps));
    EXPECT_FALSE(writer.AddBuffer("x", 1, "x"));
    EXPECT_FALSE(writer.WriteTrailer());
}

}  // namespace
}  // namespace scour
