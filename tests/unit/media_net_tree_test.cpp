// The network boot tree builder on the platform's real files: what a tree
// holds, replacing an earlier tree, and the refusals, after each of which
// nothing of the run is left.
#include "media/net_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/strings.h"
#include "base/text.h"
#include "media/config_archive.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::WriteFile;

class RecordingReporter final : public platform::IReporter {
  public:
    std::vector<std::wstring> errors;
    void ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                     const std::wstring& text) override {
        EXPECT_EQ(kind, platform::BoxKind::Error);
        EXPECT_EQ(caption, LoadText(IDS_WIZARD_CAPTION));
        errors.push_back(text);
    }
    bool AskYesNo(const std::wstring&, const std::wstring& text) override {
        ADD_FAILURE() << "unexpected question: " << ToUtf8(text);
        return false;
    }
};

std::wstring Native(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', kPathSep);
    return path;
}

// Every file (or with folders, every entry) below the folder, by its path
// relative to it, in order.
std::vector<std::string> FilesBelow(const std::wstring& folder, bool folders = false) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(ToFsPath(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (folders || it->is_regular_file()) {
            files.push_back(it->path().lexically_relative(ToFsPath(folder)).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(ToFsPath(folder), ec)) {
        names.push_back(FromFsPath(e.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

class NetTreeTest : public ::testing::Test {
  public:
    test::ScratchDir scratch;
    const std::wstring program = scratch / L"program";
    // The tree's parent holds nothing else, so leftovers show.
    const std::wstring parent = scratch / L"srv";
    const std::wstring tree = JoinPath(parent, L"tftp root");
    test::TestServices services{program};
    WizardOptions options;
    RecordingReporter reporter;

    void SetUp() override {
        for (const auto* f : {"common/vmlinuz", "common/initrd.gz", "common/efi/boot.img",
                              "common/efi/boot/bootx64.efi", "common/.disk/info", "net/pxelinux.0",
                              "net/pxelinux.cfg/default", "net/bootx64.efi", "net/grubx64.efi",
                              "net/grub/grub.cfg"}) {
            const std::wstring path = Installed(FromUtf8(f));
            test::MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            WriteFile(path, f);
        }
        test::MakeDirs(parent);
    }
    std::wstring Installed(const std::wstring& relative) const {
        return JoinPath(program, Native(relative));
    }
    bool Build(const std::wstring& folder) {
        reporter.errors.clear();
        return BuildNetTree(folder, options, services, reporter);
    }
};

TEST_F(NetTreeTest, HoldsTheBootFilesBannerArchiveAndServerConfiguration) {
    ASSERT_TRUE(Build(tree)) << (reporter.errors.empty() ? "" : ToUtf8(reporter.errors[0]));
    EXPECT_TRUE(reporter.errors.empty());
    std::vector<std::string> want = {
        ".disk/info",   ".scourline-net-tree",  "bootx64.efi", "dnsmasq.conf",
        "efi/boot.img", "grub/grub.cfg",        "grubx64.efi", "initrd.gz",
        "pxelinux.0",   "pxelinux.cfg/default", "scour",       "vmlinuz",
        "welcome.txt"};
    want.push_back("efi/boot/bootx64.efi");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(FilesBelow(tree), want);
    // Copies, byte for byte, subfolders included.
    EXPECT_EQ(ReadFile(JoinPath(tree, Native(L"pxelinux.cfg/default"))),
              "net/pxelinux.cfg/default");
    EXPECT_EQ(ReadFile(JoinPath(tree, Native(L"efi/boot/bootx64.efi"))),
              "common/efi/boot/bootx64.efi");
    // The archive a CD would carry for the same options.
    const std::wstring cdArchive = scratch / L"cd.scour";
    ASSERT_TRUE(WriteConfigArchive(options, cdArchive, services));
    EXPECT_EQ(ReadFile(JoinPath(tree, L"scour")), ReadFile(cdArchive));
    EXPECT_GT(ReadFile(JoinPath(tree, L"welcome.txt")).value_or("").size(), 0u);
    // The server is told this very folder.
    const std::string config = ReadFile(JoinPath(tree, kDnsmasqConfigName)).value_or("");
    EXPECT_EQ(*MakeDnsmasqConfig(services.services.text->ToSystem8Bit(tree)), config);
    // Nothing beside the tree.
    EXPECT_EQ(Entries(parent), std::vector<std::wstring>{L"tftp root"});
}

TEST_F(NetTreeTest, ReplacesItsOwnEarlierTreeOrAnEmptyFolder) {
    // An empty folder, named with a trailing separator.
    test::MakeDirs(tree);
    ASSERT_TRUE(Build(tree + kPathSep));
    // An earlier tree: what the new one lacks is gone, what changed is new.
    WriteFile(JoinPath(tree, L"stale.txt"), "old");
    WriteFile(JoinPath(tree, L"scour"), "old archive");
    ASSERT_TRUE(Build(tree));
    EXPECT_FALSE(Exists(JoinPath(tree, L"stale.txt")));
    EXPECT_NE(ReadFile(JoinPath(tree, L"scour")), "old archive");
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_EQ(Entries(parent), std::vector<std::wstring>{L"tftp root"});
}

struct Refusal {
    const char* name;
    std::function<std::wstring(NetTreeTest&)> arrange;  // returns the folder to build
    int message;
    std::function<std::wstring(NetTreeTest&)> detail;
};

TEST_F(NetTreeTest, RefusalsLeaveNothingBehind) {
    const auto theTree = [](NetTreeTest& t) { return t.tree; };
    const std::vector<Refusal> cases = {
        {"a folder with files of its own",
         [](NetTreeTest& t) {
             WriteFile(JoinPath(t.tree, L"mine.txt"), "keep me");
             return t.tree;
         },
         IDS_NET_FOREIGN_FOLDER, theTree},
        {"a file in the way",
         [](NetTreeTest& t) {
             fs::remove_all(ToFsPath(t.tree));
             WriteFile(t.tree, "keep me");
             return t.tree;
         },
         IDS_NET_NOT_A_FOLDER, theTree},
        {"a parent that cannot hold folders",
         [](NetTreeTest& t) {
             WriteFile(JoinPath(t.parent, L"file"), "keep me");
             return JoinPath(JoinPath(t.parent, L"file"), L"tree");
         },
         IDS_NET_START_FAILED, [](NetTreeTest& t) { return JoinPath(t.parent, L"file"); }},
        {"no net folder in the program folder",
         [](NetTreeTest& t) {
             fs::remove_all(ToFsPath(t.Installed(L"net")));
             return t.tree;
         },
         IDS_NET_NO_BOOT_FILES, [](NetTreeTest& t) { return t.Installed(L"net"); }},
        {"no UEFI loader in net",
         [](NetTreeTest& t) {
             fs::remove(ToFsPath(t.Installed(L"net/bootx64.efi")));
             return t.tree;
         },
         IDS_NET_NO_BOOT_FILES, [](NetTreeTest& t) { return t.Installed(L"net/bootx64.efi"); }},
        {"a comma in the folder's path", [](NetTreeTest& t) { return JoinPath(t.parent, L"a,b"); },
         IDS_NET_BAD_PATH, [](NetTreeTest& t) { return JoinPath(t.parent, L"a,b"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(ToFsPath(parent));
        test::MakeDirs(parent);
        test::MakeDirs(tree);
        SetUp();
        const std::wstring folder = c.arrange(*this);
        const auto before = FilesBelow(parent, true);
        EXPECT_FALSE(Build(folder));
        EXPECT_EQ(reporter.errors,
                  std::vector<std::wstring>{LoadText(c.message) + c.detail(*this)});
        EXPECT_EQ(FilesBelow(parent, true), before);
        EXPECT_EQ(ReadFile(JoinPath(tree, L"mine.txt")).value_or("keep me"), "keep me");
    }
}

#ifndef _WIN32
// A parent nobody may write in, root included.
TEST_F(NetTreeTest, RefusesAParentItCannotWriteIn) {
    EXPECT_FALSE(Build(L"/proc/scourline-net-tree"));
    EXPECT_EQ(reporter.errors,
              std::vector<std::wstring>{LoadText(IDS_NET_START_FAILED) + L"/proc"});
    EXPECT_FALSE(Exists(L"/proc/scourline-net-tree"));
}
#endif

TEST(DnsmasqConfigTest, NamesTheFolderSoDnsmasqReadsItBack) {
    struct Case {
        std::string root;
        std::optional<std::string> line;  // the tftp-root line, or refused
    };
    const Case cases[] = {
        {"/srv/tftp", "tftp-root=\"/srv/tftp\""},
        {"/srv/my tftp #1", "tftp-root=\"/srv/my tftp #1\""},
        {"/srv/say \"hi\"", "tftp-root=\"/srv/say \\\"hi\\\"\""},
        {"C:\\tftp", "tftp-root=\"C:\\\\tftp\""},
        {"/srv/a,b", std::nullopt},
        {"/srv/a\nenable-ra", std::nullopt},
        {"/srv/a\rb", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        const auto config = MakeDnsmasqConfig(c.root);
        ASSERT_EQ(config.has_value(), c.line.has_value());
        if (config) {
            EXPECT_NE(config->find("\n" + *c.line + "\n"), std::string::npos) << *config;
            // Proxy DHCP, no DNS, and each client kind its loader.
            for (const char* needed :
                 {"\nport=0\n", "\nenable-tftp\n", "pxe-service=x86PC,", "pxe-service=x86-64_EFI,",
                  ",bootx64.efi\n", ",pxelinux\n"}) {
                EXPECT_NE(config->find(needed), std::string::npos) << needed;
            }
        }
    }
}

}  // namespace
}  // namespace scour
