// The configuration archive from the newc writer up, the banner and the network
// boot tree. Real readers and boots: tests/linux, the scripts.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "media/config_archive.h"
#include "media/net_tree.h"
#include "media/newc_writer.h"
#include "media/welcome_banner.h"
#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
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
    for (std::size_t size = 0; size <= 4; ++size) {
        const std::string name(size + 1, 'n');
        ASSERT_TRUE(writer.AddBuffer(Pattern(size).data(), size, name));
    }
    // Files around the copy's chunk size.
    const std::string big = Pattern(65536);
    ASSERT_TRUE(writer.AddFile(Source(L"empty", ""), "empty"));
    ASSERT_TRUE(writer.AddFile(Source(L"one", big.substr(0, 65535)), "a%d"));
    ASSERT_TRUE(writer.AddFile(Source(L"two", big), "tmp/scheme/sch0000003.sch"));
    auto archive = Finish();
    ASSERT_EQ(archive.records.size(), 1u + 5 + 3 + 1);
    const auto& ab = archive.records[0];
    EXPECT_GE(ab.field[kMtime], before);
    EXPECT_LE(ab.field[kMtime], after);
    EXPECT_EQ(ab.header, Header(ab.header, {"00010000", "000081A4", "00000000", "00000000",
                                            "00000001", "", "00000005", "00000011", "00000000",
                                            "00000011", "00000000", "00000003", "00000000"}));
    EXPECT_EQ(bytes.substr(110, 14), std::string("ab\0\0\0\0hello\0\0\0", 14));
    for (std::size_t i = 1; i + 1 < archive.records.size(); ++i) {
        const auto& r = archive.records[i];
        EXPECT_EQ(r.field[kIno], 0x10000u + i);
        EXPECT_EQ(r.field[kMode], i < 6 ? 0100644u : 0100755u);
        EXPECT_EQ(archive.records[i + 1].offset - r.offset,
                  (110 + r.name.size() + 1 + 3) / 4 * 4 + (r.data.size() + 3) / 4 * 4);
        EXPECT_EQ(r.data, i < 6 ? Pattern(r.data.size()) : big.substr(0, r.data.size()));
    }
    EXPECT_EQ(archive.records[7].offset - archive.records[6].offset, 116u);  // empty file
    EXPECT_EQ(archive.records[7].name, "a%d");
    EXPECT_EQ(archive.records[8].data.size(), 65536u);
    EXPECT_EQ(bytes.substr(bytes.size() - 124),
              Header(bytes.substr(bytes.size() - 124),
                     {"00010009", "00000000", "00000000", "00000000", "00000001", "", "00000000",
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
    fs::resize_file(ToFsPath(huge), 0x100000000ull, ec);
    EXPECT_TRUE(ec || !writer.AddFile(huge, "huge"));
    fs::remove(ToFsPath(huge), ec);
    ASSERT_TRUE(writer.AddFile(source, "kept"));
    // A source that delivers less than its size said leaves no half record.
    FilePtr small = OpenFile(Source(L"small", "0123456789"), "rb");
    EXPECT_FALSE(writer.AddFileHandle(small.get(), 20, "short"));
    ASSERT_TRUE(writer.AddFileHandle(small.get(), "whole"));  // from the start again
    // A longer file at the destination is replaced whole, through no file beside it.
    WriteFile(destination, std::string(5000, 'o'));
    EXPECT_FALSE(writer.CommitTo(L""));
    EXPECT_TRUE(NewcArchiveWriter().Open(temps));  // closed uncommitted: its file goes
    auto archive = Finish();
    EXPECT_FALSE(writer.WriteTrailer());  // after the commit
    EXPECT_EQ(archive.Names(), (std::vector<std::string>{"kept", "whole", "TRAILER!!!"}));
    EXPECT_EQ(archive.records[1].field[kIno], 0x10001u);  // the failed ones gave theirs back
    EXPECT_EQ(archive.records[1].data, "0123456789");
    EXPECT_TRUE(Entries(tempFolder).empty());
    EXPECT_FALSE(Exists(destination + L".new"));
}

// UTF-8 on every host, so the non-ASCII case does not depend on the code page.
class Utf8Codec final : public platform::ITextCodec {
  public:
    std::string ToSystem8Bit(std::wstring_view text) override { return ToUtf8(text); }
    std::wstring FromSystem8Bit(std::string_view text) override { return FromUtf8(text); }
};

const std::string kDefaultText =
    "export USE_SHELL=y\nexport WIPE_ALL_DISKS=n\nexport USE_NODELAY=n\nexport USE_LOGFILE=n\n"
    "export SCHEME=sch0000000.sch\nexport RESET_HPA=n\nexport RESET_DCO=n\nexport ATA_ERASE=n\n"
    "export VERIFY_LAST_PASS=n\nexport USE_LOGSHARE=n\n";

TEST(ConfigTextTest, LinesFollowTheOptions) {
    WizardOptions options;
    Utf8Codec codec;
    EXPECT_EQ(BuildConfigText(options, codec), kDefaultText);

    options.AutoStart = options.NoDelay = 1;
    options.SelectDisks = 0;
    options.WriteLog = options.ResetHPA = options.ResetDCO = options.AtaErase = options.Verify = 7;
    options.Schemes.resize(20);
    options.Scheme = 12;
    EXPECT_EQ(BuildConfigText(options, codec),
              "export USE_SHELL=n\nexport WIPE_ALL_DISKS=y\nexport USE_NODELAY=y\n"
              "export USE_LOGFILE=y\nexport SCHEME=sch0000012.sch\nexport RESET_HPA=y\n"
              "export RESET_DCO=y\nexport ATA_ERASE=y\nexport VERIFY_LAST_PASS=y\n"
              "export USE_LOGSHARE=n\n");

    options = WizardOptions{};
    options.TestMode = 1;
    options.Schemes.resize(20);
    options.Scheme = 25;
    options.NetShare = L"ignored without NetLog";
    EXPECT_EQ(BuildConfigText(options, codec), "export TEST_MODE=y\n" + kDefaultText);
    EXPECT_EQ(options.Scheme, 0);
}

TEST(ConfigTextTest, ShareLines) {
    WizardOptions options;
    Utf8Codec codec;
    options.NetLog = options.NetAskPassword = 1;
    options.NetShare = L"\\\\fs1\\logs";
    options.NetShareIp = L"\\\\10.0.0.5\\logs";
    options.NetUser = L"CORP\\admin";
    options.NetPassword = L"S3cr=t%+,";
    const std::string head = kDefaultText.substr(0, kDefaultText.size() - 2) + "y\n";
    EXPECT_EQ(BuildConfigText(options, codec),
              head +
                  "export NET_SHARE=//fs1/logs\nexport NET_SHAREIP=//10.0.0.5/logs\n"
                  "export NET_USER=CORP/admin\nexport NET_PASS=S3cr=t%+,\nexport NET_ASKPASS=y\n");
    EXPECT_EQ(options.NetShare, L"\\\\fs1\\logs");  // slashes only in the copy

    // Quoted so that sourcing gives back the same bytes; a NUL cannot be carried.
    options.NetShare.clear();
    options.NetShareIp = L"ab";
    options.NetUser = L"o'brien";
    options.NetPassword = std::wstring(L"a b\"$`\\!;\n\xE9\0", 12);
    options.NetAskPassword = 0;
    EXPECT_EQ(BuildConfigText(options, codec),
              head +
                  "export NET_SHARE=\nexport NET_USER='o'\\''brien'\n"
                  "export NET_PASS='a b\"$`\\!;\n\xC3\xA9'\nexport NET_ASKPASS=n\n");
}

// Schemes, the boot script, the add-ons (read back by cpio and bsdtar: tests/linux).
TEST(ConfigArchiveTest, SchemesConfigAndAddOns) {
    ScratchDir scratch;
    const std::wstring program = scratch / L"program", tempFolder = scratch / L"tmp";
    MakeDirs(tempFolder);
    MakeDirs(JoinPath(program, L"inside"));
    FolderTempFiles temps{tempFolder};
    TestServices services{program};
    services.services.tempFiles = &temps;
    WizardOptions options;
    // A scheme file deleted after start-up is left out; the others keep their numbers.
    options.Schemes = {{L"", JoinPath(program, L"gone"), 1, 1}, {L"", scratch / L"s1", 1, 1}};
    options.Scheme = 1;
    WriteFile(scratch / L"s1", "scheme 1");
    for (auto leaf : {L"inside/extra.sh", L"extra2.bin", L"a", L"standalone", L"50%d", L"..a"}) {
        WriteFile(JoinPath(program, Native(leaf)), ToUtf8(leaf));
    }
    WriteFile(scratch / L"outside.bin", "secret");
    WriteFile(JoinPath(program, L"addons.txt"),
              "x1 inside/extra.sh\nstandalone\n\n\textra2.bin  \r\nx1 a\nx1    \nx2 not-there.bin\n"
              // Sound instead of as listed: names that leave the program folder are skipped.
              "x /etc/passwd\nx \\windows\\win.ini\nx C:outside.bin\nx " +
                  ToUtf8(scratch / L"outside.bin") +
                  "\nx ../outside.bin\nx inside/../../outside.bin\nx inside\\..\\..\\outside.bin\n"
                  "x inside/../a\nx ..a\n- 50%d\n");
    const std::wstring destination = scratch / L"scour";
    ASSERT_TRUE(WriteConfigArchive(options, destination, services));
    EXPECT_TRUE(Entries(tempFolder).empty());
    const auto archive = ParseNewc(ReadFile(destination).value_or(""));
    EXPECT_EQ(archive.error, "");
    EXPECT_EQ(archive.Names(), (std::vector<std::string>{"tmp/scheme/sch0000001.sch", "wipe_config",
                                                         "inside/extra.sh", "extra2.bin", "a",
                                                         "..a", "50%d", "TRAILER!!!"}));
    EXPECT_EQ(archive.Find("inside/extra.sh")->data, "inside/extra.sh");
    std::string config = kDefaultText;
    EXPECT_EQ(archive.Find("wipe_config")->data,
              config.replace(config.find("0000000"), 7, "0000001") + '\0');
}

// DOS text for the boot loaders (the words: the boots' screens, the command line).
TEST(BannerTest, DosTextAndTheShorterFormOverTheLonger) {
    ScratchDir scratch;
    const std::wstring path = scratch / L"welcome.txt", fresh = scratch / L"fresh.txt";
    ASSERT_TRUE(WriteWelcomeBanner(path, BannerForm::Sparc));
    const std::string sparc = ReadFile(path).value_or("");
    ASSERT_TRUE(WriteWelcomeBanner(path, BannerForm::Main));
    ASSERT_TRUE(WriteWelcomeBanner(fresh, BannerForm::Main));
    const std::string main = ReadFile(path).value_or("");
    EXPECT_EQ(main, ReadFile(fresh));
    for (const std::string& text : {sparc, main}) {
        std::string bare = text;
        std::erase(bare, '\r');  // every line ends in CR LF
        EXPECT_EQ(text.size(), bare.size() + std::count(bare.begin(), bare.end(), '\n'));
    }
}

// The network boot tree on the platform's real files.
class NetTreeTest : public ::testing::Test {
  public:
    ScratchDir scratch;
    const std::wstring program = scratch / L"program";
    // The tree's parent holds nothing else, so leftovers show.
    const std::wstring parent = scratch / L"srv";
    const std::wstring tree = JoinPath(parent, L"tftp root");
    TestServices services{program};
    WizardOptions options;
    FakeReporter reporter;
    FolderTempFiles noTemps{L"none"};
    std::wstring folder = tree;
    std::optional<std::wstring> detail;  // the folder unless set

    void SetUp() override {
        noTemps.fail = true;
        for (const auto* f : {"common/vmlinuz", "common/efi/boot/bootx64.efi", "net/pxelinux.0",
                              "net/pxelinux.cfg/default", "net/bootx64.efi"}) {
            const std::wstring path = Installed(FromUtf8(f));
            MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            WriteFile(path, f);
        }
        MakeDirs(parent);
    }
    std::wstring Installed(const std::wstring& relative) const {
        return JoinPath(program, Native(relative));
    }
    bool Build(const std::wstring& where) {
        reporter.boxes.clear();
        return BuildNetTree(where, options, services, reporter);
    }
};

// What a tree holds, written over an earlier one: the network boot script test.
TEST_F(NetTreeTest, ReplacesAnEarlierTreeOrAnEmptyFolder) {
    ASSERT_TRUE(Build(tree)) << ::testing::PrintToString(reporter.boxes);
    WriteFile(JoinPath(tree, L"stale.txt"), "old");
    ASSERT_TRUE(Build(tree + kPathSep));  // named with a trailing separator
    EXPECT_FALSE(Exists(JoinPath(tree, L"stale.txt")));
    EXPECT_EQ(ReadFile(JoinPath(tree, Native(L"efi/boot/bootx64.efi"))),
              "common/efi/boot/bootx64.efi");
    fs::remove_all(ToFsPath(tree));
    MakeDirs(tree);
    ASSERT_TRUE(Build(tree));
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(Entries(parent), std::vector<std::wstring>{L"tftp root"});
}

TEST_F(NetTreeTest, RefusalsLeaveNothingBehind) {
    const std::pair<int, std::function<void(NetTreeTest&)>> cases[] = {
        {IDS_NET_FOREIGN_FOLDER,
         [](NetTreeTest& t) { WriteFile(JoinPath(t.tree, L"mine.txt"), "keep me"); }},
        {IDS_NET_NOT_A_FOLDER,
         [](NetTreeTest& t) {
             fs::remove_all(ToFsPath(t.tree));
             WriteFile(t.tree, "keep me");
         }},
        {IDS_NET_NO_BOOT_FILES,
         [](NetTreeTest& t) {
             fs::remove(ToFsPath(t.Installed(L"net/bootx64.efi")));
             t.detail = t.Installed(L"net/bootx64.efi");
         }},
        {IDS_NET_BAD_PATH, [](NetTreeTest& t) { t.folder = JoinPath(t.parent, L"a,b"); }},
        {IDS_NET_NO_BOOT_FILES,
         [](NetTreeTest& t) {
             fs::remove_all(ToFsPath(t.Installed(L"net")));
             t.detail = t.Installed(L"net");
         }},
        {IDS_NET_START_FAILED,  // a parent that cannot hold folders
         [](NetTreeTest& t) {
             t.detail = JoinPath(t.parent, L"file");
             WriteFile(*t.detail, "keep me");
             t.folder = JoinPath(*t.detail, L"tree");
         }},
        // Last: the staging folder beside the tree was already made.
        {IDS_NET_CONFIG_FAILED,
         [](NetTreeTest& t) {
             t.services.services.tempFiles = &t.noTemps;
             t.detail = L"";
         }},
    };
    for (const auto& [message, arrange] : cases) {
        SCOPED_TRACE(message);
        fs::remove_all(ToFsPath(parent));
        MakeDirs(tree);
        SetUp();
        folder = tree;
        detail.reset();
        arrange(*this);
        const auto before = std::pair{Entries(parent), Entries(tree)};
        EXPECT_FALSE(Build(folder));
        EXPECT_EQ(reporter.boxes, Boxes{ErrorBox(LoadText(message) + detail.value_or(folder))});
        EXPECT_EQ(std::pair(Entries(parent), Entries(tree)), before);
        EXPECT_FALSE(Exists(folder) && folder != tree);
    }
}

TEST(DnsmasqConfigTest, NamesTheFolderSoDnsmasqReadsItBack) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"C:\\my \"tftp\" #1", "tftp-root=\"C:\\\\my \\\"tftp\\\" #1\""},
        {"/srv/a,b", std::nullopt},
        {"", std::nullopt},
        {"/srv/a\nenable-ra", std::nullopt},
    };
    for (const auto& [root, line] : cases) {
        SCOPED_TRACE(root);
        const auto config = MakeDnsmasqConfig(root);
        ASSERT_EQ(config.has_value(), line.has_value());
        EXPECT_TRUE(!config || config->find("\n" + *line + "\n") != std::string::npos);
    }
}

}  // namespace
}  // namespace scour
