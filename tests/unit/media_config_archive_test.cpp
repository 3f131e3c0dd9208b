#include "media/config_archive.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>

#include "media/welcome_banner.h"
#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

using namespace test;

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

    // Sound instead of as typed: shell syntax in a value is quoted, so sourcing
    // the script gives back the same bytes; a NUL cannot be carried and is dropped.
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

class ConfigArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeDirs(tempFolder);
        MakeDirs(JoinPath(program, L"inside"));
        services.services.tempFiles = &temps;
    }
    void File(const std::wstring& leaf, std::string_view content) {
        WriteFile(JoinPath(program, leaf), content);
    }
    // Builds, with nothing left in the temporary folder, and reads the archive back.
    NewcArchive Build() {
        EXPECT_TRUE(WriteConfigArchive(options, destination, services));
        EXPECT_TRUE(Entries(tempFolder).empty());
        auto archive = ParseNewc(ReadFile(destination).value_or(""));
        EXPECT_EQ(archive.error, "");
        return archive;
    }

    ScratchDir scratch;
    std::wstring program = scratch / L"program";
    std::wstring tempFolder = scratch / L"tmp";
    std::wstring destination = scratch / L"scour";
    FolderTempFiles temps{tempFolder};
    TestServices services{program};
    WizardOptions options;
};

TEST_F(ConfigArchiveTest, SchemesThenConfigThenTrailer) {
    for (int i = 0; i < 20; ++i) {
        options.Schemes.push_back({L"", JoinPath(program, L"s" + std::to_wstring(i)), 1, 1});
        File(L"s" + std::to_wstring(i), "scheme " + std::to_string(i));
    }
    std::filesystem::remove(ToFsPath(options.Schemes[4].Path));  // deleted after start-up
    options.Scheme = 12;
    auto archive = Build();
    ASSERT_EQ(archive.records.size(), 19u + 2u);
    EXPECT_EQ(archive.records[0].name, "tmp/scheme/sch0000000.sch");
    EXPECT_EQ(archive.records[4].name, "tmp/scheme/sch0000005.sch");
    EXPECT_EQ(archive.records[18].data, "scheme 19");
    EXPECT_EQ(archive.records[18].field[kMode], 0100755u);
    const auto& config = archive.records[19];
    EXPECT_EQ(config.name, "wipe_config");
    EXPECT_EQ(config.field[kMode], 0100644u);
    EXPECT_EQ(config.field[kFileSize], 220u);
    std::string expected = kDefaultText;
    EXPECT_EQ(config.data, expected.replace(expected.find("0000000"), 7, "0000012") + '\0');

    options.Schemes.clear();
    EXPECT_EQ(Build().Names(), (std::vector<std::string>{"wipe_config", "TRAILER!!!"}));
    EXPECT_EQ(options.Scheme, 0);
}

TEST_F(ConfigArchiveTest, AddOnList) {
    for (auto leaf : {L"inside/extra.sh", L"extra2.bin", L"a", L"standalone", L"50%d", L"..a"}) {
        File(leaf, ToUtf8(leaf));
    }
    WriteFile(scratch / L"outside.bin", "secret");
    const std::string outside = ToUtf8(scratch / L"outside.bin");
    File(L"addons.txt",
         "x1 inside/extra.sh\nstandalone\n\n\textra2.bin  \r\nx1 a\nx1    \nx2 not-there.bin\n"
         // Sound instead of as listed: names that leave the program folder are skipped.
         "x /etc/passwd\nx \\windows\\win.ini\nx C:outside.bin\nx " +
             outside +
             "\n"
             "x ../outside.bin\nx inside/../../outside.bin\nx inside\\..\\..\\outside.bin\n"
             "x inside/../a\nx ..a\n- 50%d");
    auto archive = Build();
    EXPECT_EQ(archive.Names(),
              (std::vector<std::string>{"wipe_config", "inside/extra.sh", "extra2.bin", "a", "..a",
                                        "50%d", "TRAILER!!!"}));
    EXPECT_EQ(archive.Find("inside/extra.sh")->data, "inside/extra.sh");
}

// A non-ASCII name finds its file: on Windows through the system's code page,
// on Linux by its bytes (Latin-1 on a UTF-8 system, under the "C" locale).
TEST_F(ConfigArchiveTest, NonAsciiAddOnNames) {
#ifdef _WIN32
    const std::string listed = services.services.text->ToSystem8Bit(L"caf\u00e9.sh");
    File(L"caf\u00e9.sh", "x");
#else
    const std::string listed = "\xe9t\xe9.sh";
    FilePtr raw(std::fopen((ToUtf8(program) + "/" + listed).c_str(), "wb"));
    ASSERT_TRUE(raw);
    raw.reset();
#endif
    File(L"addons.txt", "x " + listed + "\n");
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const NewcArchive archive = Build();
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(archive.Names(), (std::vector<std::string>{"wipe_config", listed, "TRAILER!!!"}));
}

// Paths are built in buffers of 260 characters, the terminator included.
TEST_F(ConfigArchiveTest, AddOnPathsMustFitThePathBuffer) {
    const std::size_t longest = kMaxPath - 1 - program.size() - 1;
    const std::string fits(longest, 'f'), tooLong(longest + 1, 'g');
    for (const auto& name : {fits, tooLong}) {
        const auto path = ToFsPath(JoinPath(program, FromUtf8(name)));
        std::ofstream(path) << name;
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "this host cannot make a path that long";
        }
    }
    File(L"addons.txt", "x " + fits + "\nx " + tooLong + "\n");
    EXPECT_EQ(Build().Names(), (std::vector<std::string>{"wipe_config", fits, "TRAILER!!!"}));
}

TEST_F(ConfigArchiveTest, FailuresAreReportedAndLeaveNothingBehind) {
    WriteFile(destination, "old archive");
    temps.fail = true;
    EXPECT_FALSE(WriteConfigArchive(options, destination, services));
    EXPECT_EQ(ReadFile(destination), "old archive");
    temps.fail = false;
    EXPECT_FALSE(WriteConfigArchive(options, JoinPath(scratch / L"missing", L"scour"), services));
    EXPECT_TRUE(Entries(tempFolder).empty());
}

// CR LF on every build host: the boot loaders read DOS text.
TEST(BannerTest, BothFormsByteForByteAndAnUncreatableFile) {
    const std::string body =
        "        Scourline v.2.69 - Whole Hard Drive Wiping Utility\r\n"
        "                    Copyright (C) 2026 Valdane. All rights reserved.\r\n\r\n"
        "   Scourline starts from bootable disk with Linux operating system.\r\n"
        "           Linux is the registered trademark of Linus Torvalds in the U.S. and other "
        "countries.\r\n";
    const std::string main =
        std::string("\x0C\r\n\x0F") + "09\r\n\x18\r\n\r\n\r\n\r\n" + body + "\x0F" + "07\r\n\r\n";
    const std::string sparc = body +
                              "\r\n   System information:\r\n      Architecture: ${ARCH}\r\n"
                              "      System type: ${SYSTYPE}\r\n      PROM type: ${PROM}\r\n\r\n";
    ScratchDir scratch;
    const std::wstring path = scratch / L"welcome.txt";
    // The longer form first: nothing of it may remain behind the shorter one.
    for (const auto& [form, text] : {std::pair{BannerForm::Main, main},
                                     {BannerForm::Sparc, sparc},
                                     {BannerForm::Main, main}}) {
        EXPECT_TRUE(WriteWelcomeBanner(path, form));
        EXPECT_EQ(ReadFile(path), text);
    }
    EXPECT_FALSE(WriteWelcomeBanner(JoinPath(scratch / L"missing", L"w.txt"), BannerForm::Main));
    EXPECT_FALSE(Exists(scratch / L"missing"));
    MakeDirs(scratch / L"folder");
    EXPECT_FALSE(WriteWelcomeBanner(scratch / L"folder", BannerForm::Sparc));
}

}  // namespace
}  // namespace scour
