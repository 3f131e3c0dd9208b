// Drive discovery for a desktop user, who may not read the devices: udev's
// properties stand in for libblkid. This machine has no udev database
// (/run/udev), so the tests give the properties through the configuration's
// seam, as udev would report them, and compare with what libblkid reads from
// the same FAT images.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "media/drive_discovery.h"
#include "platform/linux/volumes_linux.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::LinuxVolumeConfig;
using platform::LinuxVolumeSystem;
using Properties = LinuxVolumeConfig::UdevProperties;

void Put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

class UdevVolumes : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v mkfs.vfat >/dev/null && command -v mdir >/dev/null") != 0) {
            GTEST_SKIP() << "skipped: mkfs.vfat and mtools are needed";
        }
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        // Under /tmp, open to every user: one test reads it as another user.
        char folder[] = "/tmp/scour-udev.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root_ = folder;
        chmod(root_.c_str(), 0755);
        // A removable disk sdb (8:16) with one partition sdb1 (8:17) at sector 2048.
        Put(root_ + "/sys/block/sdb/removable", "1");
        Put(root_ + "/sys/block/sdb/size", "133120");
        Put(root_ + "/sys/block/sdb/dev", "8:16");
        Put(root_ + "/sys/block/sdb/sdb1/partition", "1");
        Put(root_ + "/sys/block/sdb/sdb1/start", "2048");
        Put(root_ + "/sys/block/sdb/sdb1/size", "131072");
        Put(root_ + "/sys/block/sdb/sdb1/dev", "8:17");
        Put(root_ + "/proc/self/mountinfo", "");
        std::string mbr(512, '\0');
        for (int i = 0; i < 4; ++i) {
            mbr[446 + 8 + i] = static_cast<char>(2048u >> (8 * i));
            mbr[446 + 12 + i] = static_cast<char>(131072u >> (8 * i));
        }
        mbr[446 + 4] = 0x0C;
        mbr[510] = 0x55;
        mbr[511] = static_cast<char>(0xAA);
        fs::create_directories(root_ + "/dev");
        std::ofstream(root_ + "/dev/sdb", std::ios::binary) << mbr;
        fs::resize_file(root_ + "/dev/sdb", 133120ull * 512);
    }
    void TearDown() override {
        if (!root_.empty()) {
            fs::remove_all(root_);
        }
    }
    void Format(int fatBits, const std::string& label) {
        const std::string dev = root_ + "/dev/sdb1";
        fs::remove(dev);
        std::ofstream(dev).close();
        fs::resize_file(dev, 64ull << 20);
        ASSERT_EQ(std::system(("mkfs.vfat -F " + std::to_string(fatBits) + " -n '" + label + "' " +
                               test::Quote(dev) + " >/dev/null 2>&1")
                                  .c_str()),
                  0);
    }
    LinuxVolumeConfig Config(bool useBlkid, Properties disk, Properties part) const {
        LinuxVolumeConfig c;
        c.sysRoot = root_ + "/sys";
        c.devRoot = root_ + "/dev";
        c.procRoot = root_ + "/proc";
        c.protectedPaths = {};
        c.useBlkid = useBlkid;
        c.udevProperties = [disk, part](unsigned major, unsigned minor) {
            return major == 8 && minor == 16   ? disk
                   : major == 8 && minor == 17 ? part
                                               : Properties{};
        };
        return c;
    }
    RemovableDrive Read(const LinuxVolumeConfig& config) const {
        LinuxVolumeSystem volumes(config);
        return ReadRemovableDrive(volumes, FromUtf8(root_ + "/dev/sdb1"));
    }

    std::string root_;
};

TEST_F(UdevVolumes, UdevGivesWhatLibblkidReads) {
    struct Case {
        int fatBits;
        std::string label;
        Properties disk, part;
    };
    const Case cases[] = {
        {32,
         "MY STICK",
         {{"ID_PART_TABLE_TYPE", "dos"}},
         {{"ID_FS_TYPE", "vfat"},
          {"ID_FS_VERSION", "FAT32"},
          {"ID_FS_LABEL", "MY_STICK"},
          {"ID_FS_LABEL_ENC", "MY\\x20STICK"}}},
        {16,
         "DATA",
         {{"ID_PART_TABLE_TYPE", "dos"}},
         {{"ID_FS_TYPE", "vfat"}, {"ID_FS_VERSION", "FAT16"}, {"ID_FS_LABEL", "DATA"}}},
    };
    for (const auto& c : cases) {
        Format(c.fatBits, c.label);
        RemovableDrive blkid = Read(Config(true, {}, {}));
        RemovableDrive udev = Read(Config(false, c.disk, c.part));
        EXPECT_EQ(ToUtf8(blkid.Label), c.label);
        EXPECT_EQ(ToUtf8(udev.Label), c.label);
        EXPECT_EQ(udev.FileSystem, blkid.FileSystem) << c.label;
        EXPECT_TRUE(udev.HasPartitionTable) << c.label;
        EXPECT_EQ(udev.HasPartitionTable, blkid.HasPartitionTable) << c.label;
        EXPECT_EQ(udev.FreeKilobytes, blkid.FreeKilobytes) << c.label;
        EXPECT_EQ(StatusText(udev), StatusText(blkid)) << c.label;
        EXPECT_EQ(StatusText(udev), L"Ready") << c.label;
    }
}

TEST_F(UdevVolumes, WhatUdevDoesNotKnowIsNotMadeUp) {
    Format(32, "STICK");
    struct Case {
        const char* what;
        Properties disk, part;
        bool table;
        std::wstring fileSystem;
    };
    const Case cases[] = {
        {"no properties at all", {}, {}, false, L""},
        {"a GPT disk", {{"ID_PART_TABLE_TYPE", "gpt"}}, {{"ID_FS_TYPE", "vfat"}}, false, L"FAT"},
        {"NTFS", {{"ID_PART_TABLE_TYPE", "dos"}}, {{"ID_FS_TYPE", "ntfs"}}, true, L"NTFS"},
        {"exFAT", {{"ID_PART_TABLE_TYPE", "dos"}}, {{"ID_FS_TYPE", "exfat"}}, true, L"exFAT"},
    };
    for (const auto& c : cases) {
        RemovableDrive d = Read(Config(false, c.disk, c.part));
        EXPECT_EQ(d.HasPartitionTable, c.table) << c.what;
        EXPECT_EQ(d.FileSystem, c.fileSystem) << c.what;
        EXPECT_EQ(StatusText(d), L"Format required") << c.what;
    }
    EXPECT_EQ(
        platform::UdevLabel({{"ID_FS_LABEL", "A_B"}, {"ID_FS_LABEL_ENC", "A\\x20B\\x2fC\\x"}}),
        "A B/C\\x");
}

// A user who may not open the device: libblkid is out, udev answers.
TEST_F(UdevVolumes, UnreadableDeviceIsDescribedByUdev) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "skipped: needs root to become another user";
    }
    Format(32, "REAL");
    chmod((root_ + "/dev/sdb").c_str(), 0600);
    chmod((root_ + "/dev/sdb1").c_str(), 0600);
    Properties disk{{"ID_PART_TABLE_TYPE", "dos"}};
    Properties part{
        {"ID_FS_TYPE", "vfat"}, {"ID_FS_VERSION", "FAT32"}, {"ID_FS_LABEL", "FROMUDEV"}};
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        RemovableDrive d = Read(Config(true, disk, part));
        _exit(d.Label == L"FROMUDEV" && d.FileSystem == L"FAT32" && d.HasPartitionTable ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Root reads the device itself.
    EXPECT_EQ(Read(Config(true, disk, part)).Label, L"REAL");
}

}  // namespace
}  // namespace scour
