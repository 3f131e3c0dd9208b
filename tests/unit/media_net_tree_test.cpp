// The network boot tree builder on the platform's real files: what a tree
// holds, replacing an earlier tree, and the refusals, after each of which
// nothing of the run is left.
#include "media/net_tree.h"

#include <gtest/gtest.h>

#include <functional>

#include "media/config_archive.h"
#include "support/test_support.h"
#include "unit/media_archive_util.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using namespace test;

// Every entry below the folder (files only unless asked), relative to it, in order.
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

class NetTreeTest : public ::testing::Test {
  public:
    ScratchDir scratch;
    const std::wstring program = scratch / L"program";
    // The tree's parent holds nothing else, so leftovers show.
    const std::wstring parent = scratch / L"srv";
    const std::wstring tree = JoinPath(parent, L"tftp root");
    TestServices services{program};
    WizardOptions options;
    RecordingReporter reporter;

    void SetUp() override {
        for (const auto* f : {"common/vmlinuz", "common/initrd.gz", "common/efi/boot.img",
                              "common/efi/boot/bootx64.efi", "common/.disk/info", "net/pxelinux.0",
                              "net/pxelinux.cfg/default", "net/bootx64.efi", "net/grubx64.efi",
                              "net/grub/grub.cfg"}) {
            const std::wstring path = Installed(FromUtf8(f));
            MakeDirs(FromFsPath(ToFsPath(path).parent_path()));
            WriteFile(path, f);
        }
        MakeDirs(parent);
    }
    std::wstring Installed(const std::wstring& relative) const {
        return JoinPath(program, Native(relative));
    }
    bool Build(const std::wstring& folder) {
        reporter.boxes.clear();
        return BuildNetTree(folder, options, services, reporter);
    }
};

TEST_F(NetTreeTest, HoldsTheBootFilesBannerArchiveAndServerConfiguration) {
    ASSERT_TRUE(Build(tree)) << ::testing::PrintToString(reporter.boxes);
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(FilesBelow(tree), (std::vector<std::string>{
                                    ".disk/info", ".scourline-net-tree", "bootx64.efi",
                                    "dnsmasq.conf", "efi/boot.img", "efi/boot/bootx64.efi",
                                    "grub/grub.cfg", "grubx64.efi", "initrd.gz", "pxelinux.0",
                                    "pxelinux.cfg/default", "scour", "vmlinuz", "welcome.txt"}));
    // Copies, byte for byte, subfolders included.
    EXPECT_EQ(ReadFile(JoinPath(tree, Native(L"pxelinux.cfg/default"))),
              "net/pxelinux.cfg/default");
    EXPECT_EQ(ReadFile(JoinPath(tree, Native(L"efi/boot/bootx64.efi"))),
              "common/efi/boot/bootx64.efi");
    // The archive a CD would carry for the same options.
    const std::wstring cdArchive = scratch / L"cd.scour";
    ASSERT_TRUE(WriteConfigArchive(options, cdArchive, services));
    EXPECT_EQ(WithoutTimes(ReadFile(JoinPath(tree, L"scour"))), WithoutTimes(ReadFile(cdArchive)));
    EXPECT_GT(ReadFile(JoinPath(tree, L"welcome.txt")).value_or("").size(), 0u);
    // The server is told this very folder.
    EXPECT_EQ(MakeDnsmasqConfig(services.services.text->ToSystem8Bit(tree)),
              ReadFile(JoinPath(tree, kDnsmasqConfigName)));
    EXPECT_EQ(Entries(parent), std::vector<std::wstring>{L"tftp root"});

    // An earlier tree is replaced: what the new one lacks is gone, what changed
    // is new; the folder named with a trailing separator.
    WriteFile(JoinPath(tree, L"stale.txt"), "old");
    WriteFile(JoinPath(tree, L"scour"), "old archive");
    ASSERT_TRUE(Build(tree + kPathSep));
    EXPECT_FALSE(Exists(JoinPath(tree, L"stale.txt")));
    EXPECT_EQ(WithoutTimes(ReadFile(JoinPath(tree, L"scour"))), WithoutTimes(ReadFile(cdArchive)));
    // So is an empty folder.
    fs::remove_all(ToFsPath(tree));
    MakeDirs(tree);
    ASSERT_TRUE(Build(tree));
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(Entries(parent), std::vector<std::wstring>{L"tftp root"});
}

TEST_F(NetTreeTest, RefusalsLeaveNothingBehind) {
    using Arrange = std::function<std::wstring(NetTreeTest&)>;  // returns the folder to build
    const Arrange theTree = [](NetTreeTest& t) { return t.tree; };
    const std::tuple<const char*, Arrange, int, Arrange> cases[] = {
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
    for (const auto& [name, arrange, message, detail] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(ToFsPath(parent));
        MakeDirs(tree);
        SetUp();
        const std::wstring folder = arrange(*this);
        const auto before = FilesBelow(parent, true);
        EXPECT_FALSE(Build(folder));
        EXPECT_EQ(reporter.boxes, Boxes{ErrorBox(LoadText(message) + detail(*this))});
        EXPECT_EQ(FilesBelow(parent, true), before);
        EXPECT_FALSE(Exists(folder) && folder != tree);
        EXPECT_EQ(ReadFile(JoinPath(tree, L"mine.txt")).value_or("keep me"), "keep me");
    }
}

TEST(DnsmasqConfigTest, NamesTheFolderSoDnsmasqReadsItBack) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/srv/tftp", "tftp-root=\"/srv/tftp\""},
        {"/srv/my tftp #1", "tftp-root=\"/srv/my tftp #1\""},
        {"/srv/say \"hi\"", "tftp-root=\"/srv/say \\\"hi\\\"\""},
        {"C:\\tftp", "tftp-root=\"C:\\\\tftp\""},
        {"/srv/a,b", std::nullopt},
        {"/srv/a\nenable-ra", std::nullopt},
        {"/srv/a\rb", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [root, line] : cases) {
        SCOPED_TRACE(root);
        const auto config = MakeDnsmasqConfig(root);
        ASSERT_EQ(config.has_value(), line.has_value());
        if (config) {
            EXPECT_NE(config->find("\n" + *line + "\n"), std::string::npos) << *config;
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
