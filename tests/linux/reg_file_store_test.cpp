// What only the real settings file shows: the exact text written, file modes,
// the atomic replace, unreadable files (round trips: the reg_file fuzz target).
#include "platform/linux/reg_file_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "base/text.h"
#include "options/stored_values.h"
#include "options/wizard_options.h"
#include "support/test_support.h"

namespace scour::platform {
namespace {

namespace fs = std::filesystem;
using Values = std::vector<std::pair<std::wstring, RegValue>>;

const std::string kSection = "[HKEY_CURRENT_USER\\SOFTWARE\\Valdane\\Scourline\\Data]";
const std::string kHead = "REGEDIT4\n\n" + kSection + "\n";

RegValue Dword(std::int32_t v) {
    return {kRegDword, EncodeDword(v)};
}

class RegFile : public ::testing::Test {
  protected:
    RegFile() : store_(File()), env_(program_.Path()) { env_.services.settings = &store_; }
    fs::path Folder() const { return ToFsPath(dir_.Path()) / "Valdane" / "Scourline"; }
    fs::path File() const { return Folder() / "Data.reg"; }
    void Write(std::string_view text) {
        fs::create_directories(Folder());
        test::WriteFile(FromFsPath(File()), text);
    }
    std::string Read() const { return test::ReadFile(FromFsPath(File())).value_or("<none>"); }
    long SetAll(const Values& values) {
        long status = -1;
        auto key = store_.CreateKey(status);
        for (const auto& [name, v] : values) {
            EXPECT_TRUE(key && key->Set(name, v.type, v.data)) << ToUtf8(name);
        }
        return key ? key->Commit() : status;
    }

    test::ScratchDir dir_;
    test::ScratchDir program_;
    RegFileStore store_;
    test::TestServices env_;
};

TEST_F(RegFile, WritesEveryTypeInItsExactFormAndPrivately) {
    const Values values = {
        {L"AutoStart", Dword(1)},
        {L"Scheme", Dword(-1)},
        {L"NetShare", {kRegSz, EncodeText(L"\\\\srv\\logs")}},
        {L"q", {kRegSz, EncodeText(L"say \"hi\" \u00e9\U0001F600")}},
        {L"", {kRegSz, EncodeText(L"default")}},
        {L"b\\s \"n\"", Dword(2)},
        {L"sz odd", {kRegSz, {'a', 0, 'b'}}},
        {L"sz line break", {kRegSz, EncodeText(L"a\r\nb")}},
        {L"sz lone surrogate", {kRegSz, {0x00, 0xD8, 0, 0}}},
        {L"binary", {kRegBinary, std::vector<std::uint8_t>(300, 0x5A)}},
        {L"dword short", {kRegDword, {1, 2, 3}}},
        {L"odd type", {0x12345, {}}},
    };
    ASSERT_EQ(SetAll(values), 0);
    std::string text = Read();
    EXPECT_TRUE(text.starts_with(kHead + "\"AutoStart\"=dword:00000001\n"
                                         "\"Scheme\"=dword:ffffffff\n"
                                         "\"NetShare\"=\"\\\\\\\\srv\\\\logs\"\n"
                                         "\"q\"=\"say \\\"hi\\\" \xC3\xA9\xF0\x9F\x98\x80\"\n"
                                         "@=\"default\"\n"
                                         "\"b\\\\s \\\"n\\\"\"=dword:00000002\n"
                                         "\"sz odd\"=hex(1):61,00,62\n"))
        << text;
    for (const char* line : {"\"dword short\"=hex(4):01,02,03\n", "\"odd type\"=hex(12345):\n",
                             "\"sz line break\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n",
                             ",\\\n  5a,5a", "\"sz lone surrogate\"=hex(1):00,d8,00,00\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(fs::status(Folder()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// Hand-written lines: allowed forms are read; a damaged value is missing, the rest stays.
TEST_F(RegFile, ReadsHandWrittenValuesAndSkipsDamagedOnes) {
    Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"V\"=dword:00000001\n");
    EXPECT_FALSE(store_.OpenKey()) << "another key's section";
    const std::pair<std::string, std::optional<RegValue>> rows[] = {
        {"\"V\" = DWORD:7", Dword(7)}, {"\"V\"=hex(1):", RegValue{kRegSz, {}}},
        {"\"V\"=dword:", {}},          {"\"V\"=dword:123456789", {}},
        {"\"V\"=\"open", {}},          {"\"V\"", {}},
        {"\"V\"=broken", {}},          {"\"V\"=hex(1x):00", {}},
        {"\"V\"=hex(2)00", {}},        {"\"\xC3(\"=dword:00000001", {}},
    };
    for (const auto& [line, want] : rows) {
        Write(kHead + line + "\n\"Good\"=dword:00000001");  // the last line without its end
        auto key = store_.OpenKey();
        RegValue v;
        ASSERT_TRUE(key && key->Query(L"Good", v)) << line;
        EXPECT_EQ(key->Query(L"V", v), want.has_value()) << line;
        EXPECT_TRUE(!want || (v.type == want->type && v.data == want->data)) << line;
    }
    ASSERT_EQ(SetAll({{L"\uFFFD(", Dword(2)}}), 0);  // the damaged name is not this one
    EXPECT_EQ(Read(), kHead + "\"\xC3(\"=dword:00000001\n\"Good\"=dword:00000001\n" +
                          "\"\xEF\xBF\xBD(\"=dword:00000002\n");
}

TEST_F(RegFile, AFileThatCannotBeReadIsNeverReplaced) {
    Write(kHead + std::string(17u << 20, '\n'));  // too big to be a settings file
    EXPECT_FALSE(store_.OpenKey());
    EXPECT_NE(SetAll({}), 0);
    EXPECT_EQ(fs::file_size(File()), kHead.size() + (17u << 20));
    fs::remove(File());
    fs::create_directory(File());  // a folder in its place
    WizardOptions o;
    o.Load(env_);
    EXPECT_EQ(o.SelectDisks, 1);
    EXPECT_NE(o.Save(env_), 0);
}

TEST_F(RegFile, CommitReplacesTheFileInOneStep) {
    Write(kHead + "\"A\"=dword:00000001\n");
    fs::permissions(File(), fs::perms(0640));
    // A hard link keeps the old file: the new content must arrive as a new file.
    fs::path oldLink = ToFsPath(dir_.Path()) / "old.reg";
    fs::create_hard_link(File(), oldLink);
    ASSERT_EQ(SetAll({{L"A", Dword(2)}}), 0);
    EXPECT_EQ(test::ReadFile(FromFsPath(oldLink)), kHead + "\"A\"=dword:00000001\n");
    EXPECT_EQ(Read(), kHead + "\"A\"=dword:00000002\n");
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms(0640));
    // A settings file kept as a link stays a link.
    fs::path target = ToFsPath(dir_.Path()) / "target.reg";
    fs::rename(File(), target);
    fs::create_symlink(target, File());
    ASSERT_EQ(SetAll({{L"A", Dword(3)}}), 0);
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_EQ(test::ReadFile(FromFsPath(target)), kHead + "\"A\"=dword:00000003\n");
}

TEST_F(RegFile, CommitFailsCleanlyAndKeepsOthersChanges) {
    const std::string before = kHead + "\"A\"=dword:00000001\n";
    Write(before);
    long status = -1;
    auto key = store_.CreateKey(status);
    ASSERT_TRUE(key->Set(L"B", kRegBinary, std::vector<std::uint8_t>(4096, 0xAB)));
    RegValue v;
    EXPECT_TRUE(key->Query(L"B", v) && v.data.size() == 4096);  // its own write, before Commit
    // A file size limit makes the write fail part-way, even for root.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    long rc = key->Commit();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(rc, EFBIG);
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), {}), 1) << "a temporary was left";
    // Someone else adds a value before the retry: it is kept.
    Write(before + "\"C\"=dword:00000003\n");
    ASSERT_EQ(key->Commit(), 0);
    EXPECT_TRUE(Read().starts_with(before + "\"C\"=dword:00000003\n\"B\"=hex:ab,ab,"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), {}), 1);
    EXPECT_FALSE(key->Set(L"a\nb", kRegDword, EncodeDword(1)));  // not writable exactly
}

}  // namespace
}  // namespace scour::platform
