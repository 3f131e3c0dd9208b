// The archive as its real readers see it: GNU cpio and bsdtar list and extract
// it, and the shells of the boot environment (dash, busybox sh) source wipe_config.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "media/config_archive.h"
#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

using namespace test;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(i * 31 + seed + i / 509);
    }
    return s;
}

class ArchiveReadersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The codec follows the locale; in UTF-8 it keeps every character.
        ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
        for (const char* tool : {"cpio", "bsdtar", "dash", "busybox"}) {
            if (Sh("command -v " + std::string(tool)) != 0) {
                GTEST_SKIP() << tool << " is not installed";
            }
        }
        MakeDirs(program);
        MakeDirs(tempFolder);
        services.services.tempFiles = &temps;
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    int Sh(const std::string& command) {
        return std::system(
            ("cd " + test::Quote(dir) + " && (" + command + ") >out.log 2>&1").c_str());
    }

    ScratchDir scratch;
    std::string dir = ToUtf8(scratch.Path());
    std::wstring program = scratch / L"program";
    std::wstring tempFolder = scratch / L"tmp";
    FolderTempFiles temps{tempFolder};
    TestServices services{program};
    WizardOptions options;
};

TEST_F(ArchiveReadersTest, ConfigurationArchiveOfEveryShape) {
    std::map<std::string, std::pair<std::string, bool>> members;
    // Scheme files of every size that pads differently, and large ones.
    unsigned i = 0;
    for (std::size_t size : {0, 1, 2, 3, 4, 5, 7, 8, 13, 65535, 65536, 300001}) {
        options.Schemes.push_back({L"", scratch / (L"s" + std::to_wstring(i)), 1, 1});
        WriteFile(options.Schemes.back().Path, Pattern(size, i));
        char name[32];
        std::snprintf(name, sizeof name, "tmp/scheme/sch%07u.sch", i);
        members[name] = {Pattern(size, i++), true};
    }
    options.NetLog = 1;
    options.NetPassword = L"it's a \"secret\"";
    members["wipe_config"] = {BuildConfigText(options, *services.services.text) + '\0', false};
    ASSERT_TRUE(WriteConfigArchive(options, scratch / L"scour", services));
    // Both readers list exactly the members and extract them with their content
    // and executable bit (set for members copied from files).
    std::string list;
    for (const auto& m : members) {
        list += m.first + "\n";
    }
    for (std::string reader : {"cpio -it --quiet <", "bsdtar -tf "}) {
        EXPECT_EQ(Sh(reader + "scour | LC_ALL=C sort >list"), 0) << reader;
        EXPECT_EQ(ReadFile(JoinPath(scratch.Path(), L"list")), list) << reader;
    }
    for (std::string reader : {"cpio -idv --quiet <../", "bsdtar -xf ../"}) {
        ASSERT_EQ(Sh("rm -rf x && mkdir x && cd x && " + reader + "scour"), 0) << reader;
        std::size_t files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir + "/x")) {
            files += e.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, members.size()) << reader;
        for (const auto& [name, member] : members) {
            const std::string path = dir + "/x/" + name;
            EXPECT_EQ(ReadFile(FromUtf8(path)), member.first) << reader << name;
            struct stat st {};
            EXPECT_EQ(stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR), member.second)
                << reader << name;
        }
    }
}

// What the user typed for share, user and password comes out of the shell as the
// same bytes, sourced from the member as the archive carries it (NUL included).
TEST_F(ArchiveReadersTest, ShellsSourceTypedTextByteForByte) {
    options.NetLog = 1;
    for (std::wstring value : {L"plain", L"with space", L"it's", L"''", L"double\"quote",
                               L"$HOME ${PATH}", L"`id` $(id)", L"back\\slash\\", L"bang!",
                               L"semi;colon & | > <", L"line\nbreak\n", L"tab\there", L"*?[a]~#",
                               L"-n", L"\u00e4\u00f6 \u20ac \u65e5\u672c", L"a=b%c+d,e@f:g", L""}) {
        SCOPED_TRACE(ToUtf8(value));
        options.NetShare = L"\\\\srv\\" + value;
        options.NetShareIp = value.empty() ? L"" : L"\\\\10.0.0.5\\" + value;
        options.NetUser = value + L"\\user";
        options.NetPassword = value;
        ASSERT_TRUE(WriteConfigArchive(options, scratch / L"scour", services));
        auto archive = ParseNewc(ReadFile(scratch / L"scour").value_or(""));
        ASSERT_NE(archive.Find("wipe_config"), nullptr);
        WriteFile(scratch / L"wipe_config", archive.Find("wipe_config")->data);
        // Share and user come out with forward slashes.
        std::map<std::string, std::wstring> expected = {{"NET_SHARE", options.NetShare},
                                                        {"NET_SHAREIP", options.NetShareIp},
                                                        {"NET_USER", options.NetUser}};
        for (auto& e : expected) {
            std::replace(e.second.begin(), e.second.end(), L'\\', L'/');
        }
        expected["NET_PASS"] = value;
        std::string script = ". ./wipe_config\n";
        for (const auto& e : expected) {
            script += "printf %s \"$" + e.first + "\" >" + e.first + "\n";
        }
        // Exported, so the programs the script starts see it too.
        WriteFile(scratch / L"read.sh", script + "sh -c 'printf %s \"$NET_PASS\"' >ENV\n");
        for (std::string shell : {"dash", "busybox sh"}) {
            ASSERT_EQ(Sh(shell + " ./read.sh"), 0) << shell;
            for (const auto& e : expected) {
                EXPECT_EQ(ReadFile(scratch / FromUtf8(e.first)), ToUtf8(e.second)) << shell;
            }
            EXPECT_EQ(ReadFile(scratch / L"ENV"), ToUtf8(value)) << shell;
        }
    }
}

}  // namespace
}  // namespace scour
