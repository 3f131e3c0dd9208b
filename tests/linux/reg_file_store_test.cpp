#include "platform/linux/reg_file_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <random>

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
    // No temporary is ever left beside the file.
    void ExpectOnlyTheFile() const {
        auto entries = fs::directory_iterator(Folder());
        EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
        EXPECT_TRUE(fs::exists(File()));
    }
    long SetAll(const Values& values) {
        long status = -1;
        auto key = store_.CreateKey(status);
        for (const auto& [name, v] : values) {
            EXPECT_TRUE(key && key->Set(name, v.type, v.data)) << ToUtf8(name);
        }
        return key ? key->Commit() : status;
    }
    std::optional<RegValue> Get(std::wstring_view name) {
        auto key = store_.OpenKey();
        RegValue v;
        return key && key->Query(name, v) ? std::optional(v) : std::nullopt;
    }

    test::ScratchDir dir_;
    test::ScratchDir program_;
    RegFileStore store_;
    test::TestServices env_;
};

TEST_F(RegFile, KeyExistsWithItsSectionOnly) {
    EXPECT_FALSE(store_.OpenKey());
    Write("REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"AutoStart\"=dword:00000001\n");
    EXPECT_FALSE(store_.OpenKey());
    Write("REGEDIT4\n\n[hkey_current_user\\software\\valdane\\scourline\\data]\n");
    EXPECT_TRUE(store_.OpenKey());
}

TEST_F(RegFile, EveryTypeRoundTripsExactly) {
    std::vector<std::uint8_t> big(300, 0x5A);
    const Values values = {
        {L"AutoStart", Dword(1)},
        {L"Scheme", Dword(-1)},
        {L"NetShare", {kRegSz, EncodeText(L"\\\\srv\\logs")}},
        {L"q", {kRegSz, EncodeText(L"say \"hi\" \u00e9\U0001F600")}},
        {L"", {kRegSz, EncodeText(L"default")}},
        {L"b\\s \"n\"", Dword(2)},
        {L"sz empty", {kRegSz, {}}},
        {L"sz odd", {kRegSz, {'a', 0, 'b'}}},
        {L"sz unterminated", {kRegSz, {'a', 0}}},
        {L"sz inner zero", {kRegSz, {'a', 0, 0, 0, 'b', 0, 0, 0}}},
        {L"sz line break", {kRegSz, EncodeText(L"a\r\nb")}},
        {L"sz lone surrogate", {kRegSz, {0x00, 0xD8, 0, 0}}},
        {L"expand", {kRegExpandSz, EncodeText(L"%TEMP%")}},
        {L"binary", {kRegBinary, big}},
        {L"dword short", {kRegDword, {1, 2, 3}}},
        {L"odd type", {0x12345, {}}},
    };
    ASSERT_EQ(SetAll(values), 0);
    for (const auto& [name, v] : values) {
        auto got = Get(name);
        ASSERT_TRUE(got) << ToUtf8(name);
        EXPECT_EQ(got->type, v.type) << ToUtf8(name);
        EXPECT_EQ(got->data, v.data) << ToUtf8(name);
    }
    std::string text = Read();
    const std::string start = kHead +
                              "\"AutoStart\"=dword:00000001\n"
                              "\"Scheme\"=dword:ffffffff\n"
                              "\"NetShare\"=\"\\\\\\\\srv\\\\logs\"\n"
                              "\"q\"=\"say \\\"hi\\\" \xC3\xA9\xF0\x9F\x98\x80\"\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    for (const char* line :
         {"@=\"default\"\n", "\"b\\\\s \\\"n\\\"\"=dword:00000002\n", "\"sz empty\"=hex(1):\n",
          "\"sz odd\"=hex(1):61,00,62\n", "\"dword short\"=hex(4):01,02,03\n",
          "\"odd type\"=hex(12345):\n", ",\\\n  5a,5a"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(fs::status(Folder()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(RegFile, LoadsAHandWrittenExport) {
    Write(
        "REGEDIT4\r\n\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Valdane\\Scourline]\r\n"
        "\"Verify\"=dword:00000000\r\n\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Valdane\\Scourline\\Data]\r\n"
        "\"AutoStart\"=DWORD:1\r\n"
        "\"Verify\" = dword:00000007\r\n"
        "\"NetShare\"=\"\\\\\\\\fs1\\\\logs\"\r\n"
        "\"IsoPath\"=hex(2):2f,00,74,00,6d,00,70,00,2f,00,\\\r\n"
        "  61,00,2E,00,69,00,73,00,6F,00,00,00\r\n");
    WizardOptions o;
    o.Load(env_);
    EXPECT_EQ(o.AutoStart, 1);
    EXPECT_EQ(o.Verify, 1);
    EXPECT_EQ(o.NetShare, L"\\\\fs1\\logs");
    EXPECT_EQ(o.IsoPath, L"/tmp/a.iso");

    // Saving the same options again changes nothing but what differs; CR LF stays.
    o.NoDelay = 1;
    ASSERT_EQ(o.Save(env_), 0);
    std::string text = Read();
    EXPECT_NE(text.find("\"Verify\"=dword:00000001\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"IsoPath\"=\"/tmp/a.iso\"\r\n"
                        "\"SelectDisks\"=dword:00000001\r\n\"NoDelay\"=dword:00000001\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("2E,00"), std::string::npos);  // the whole wrapped value replaced
    EXPECT_NE(text.find("Scourline]\r\n\"Verify\"=dword:00000000\r\n"), std::string::npos);
}

TEST_F(RegFile, RewriteKeepsEverythingElseByteForByte) {
    auto file = [](std::string_view autoStart, std::string_view broken, std::string_view added) {
        return "REGEDIT4\n\n; a comment\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
               "\"AutoStart\"=dword:00000005\n\n" +
               kSection +
               "\n\"Unknown\"=hex:01,02,\\\n  03\n\"AutoStart\"=" + std::string(autoStart) +
               "\ngarbage\n\"Broken\"=" + std::string(broken) + "\n" + std::string(added) +
               "\n[HKEY_CURRENT_USER\\SOFTWARE\\Third]\n@=\"x\"\nno line end";
    };
    Write(file("dword:00000000", "dword:xyz", ""));
    ASSERT_EQ(SetAll({{L"AutoStart", Dword(1)}, {L"NetUser", Dword(2)}, {L"Broken", Dword(3)}}), 0);
    EXPECT_EQ(Read(), file("dword:00000001", "dword:00000003", "\"NetUser\"=dword:00000002\n"));
    ExpectOnlyTheFile();

    // A file without our key gets it appended, and a header when it has none.
    Write("junk\nno line end");
    ASSERT_EQ(SetAll({{L"A", Dword(4)}}), 0);
    EXPECT_EQ(Read(), "REGEDIT4\n\njunk\nno line end\n\n" + kSection + "\n\"A\"=dword:00000004\n");

    // The last line of a name decides, and is the one replaced.
    Write(kHead + "\"A\"=dword:00000001\n\"a\"=broken\n");
    EXPECT_FALSE(Get(L"A"));
    ASSERT_EQ(SetAll({{L"A", Dword(9)}}), 0);
    EXPECT_EQ(Read(), kHead + "\"A\"=dword:00000001\n\"A\"=dword:00000009\n");
}

TEST_F(RegFile, DamagedContentCountsAsMissing) {
    for (const std::string& line : std::vector<std::string>{
             "\"V\"=hex:01,02,\\", "\"V\"=hex:01,02,", "\"V\"=hex:01,2g", "\"V\"=hex:100",
             "\"V\"=\"open", "\"V\"=\"a\\b\"", "\"V\"=\"x\" y", "\"V\"=\"\xC3(\"",
             "\"V\"=dword:123456789", "\"V\"=dword:", "\"V\"=hex(1x):00", "\"V\"=hex(2)00", "\"V\"",
             "\"V\"=hex:01,\\\n\"W\"=dword:1", "\"V\"=" + std::string(2u << 20, 'x')}) {
        Write(kHead + line + "\n\"Good\"=dword:00000001\n");
        EXPECT_FALSE(Get(L"V")) << line.substr(0, 30);
        EXPECT_TRUE(Get(L"Good")) << line.substr(0, 30);
    }
    Write(kHead + "\"V\"=hex:01,02,\\");  // cut off at the end of the file
    EXPECT_FALSE(Get(L"V"));

    // Binary junk around the key: Load and Save work and lose none of it.
    std::mt19937 rng(1234);
    std::string junk(64 * 1024, '\0');
    for (auto& c : junk) {
        c = static_cast<char>(rng());
    }
    Write(junk + "\n" + kSection + "\n\"AutoStart\"=dword:00000001\n" + junk);
    WizardOptions o;
    o.Load(env_);
    EXPECT_EQ(o.AutoStart, 1);
    o.SelectDisks = 0;
    ASSERT_EQ(o.Save(env_), 0);
    std::string after = Read();
    EXPECT_NE(after.rfind(junk), after.find(junk));
    o.Load(env_);
    EXPECT_EQ(o.SelectDisks, 0);
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
    EXPECT_TRUE(key->Query(L"B", v));  // its own writes, before Commit
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
    ExpectOnlyTheFile();

    // Someone else adds a value before the retry: it is kept.
    Write(before + "\"C\"=dword:00000003\n");
    ASSERT_EQ(key->Commit(), 0);
    EXPECT_TRUE(Read().starts_with(before + "\"C\"=dword:00000003\n\"B\"=hex:ab,ab,"));
    EXPECT_FALSE(key->Set(L"a\nb", kRegDword, EncodeDword(1)));  // not writable exactly
}

}  // namespace
}  // namespace scour::platform
