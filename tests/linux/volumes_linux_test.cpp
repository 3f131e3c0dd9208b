// Linux drive discovery against sysfs, /dev and /proc trees that the tests
// build: device nodes are regular files holding real FAT images; udev's
// properties come through the configuration's seam (no udev database here).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
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
using Names = std::vector<std::wstring>;

void Put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

class LinuxVolumeTree : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("{ PATH=$PATH:/usr/sbin:/sbin; command -v mkfs.vfat && command -v mdir && "
                        "command -v mcopy; } >/dev/null") != 0) {
            GTEST_SKIP() << "skipped: mkfs.vfat and mtools are needed";
        }
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        char folder[] = "/tmp/scour-volumes.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root_ = folder;
        fs::create_directories(Sys() + "/block");
        Mounts({});
    }
    void TearDown() override {
        if (!root_.empty()) {
            fs::remove_all(root_);
        }
    }
    std::string Sys() const { return root_ + "/sys"; }
    std::string Dev() const { return root_ + "/dev"; }
    std::string DevPath(const std::string& name) const { return Dev() + "/" + name; }

    // A disk ("sdb", removable "0" or "1") or a partition ("sdb/sdb1", removable
    // empty) in sysfs, with an empty device file unless one is there.
    void Block(const std::string& path, const std::string& removable, std::uint64_t sectors,
               const std::string& dev) {
        const std::string dir = Sys() + "/block/" + path;
        Put(dir + (removable.empty() ? "/partition" : "/removable"),
            removable.empty() ? "1" : removable);
        Put(dir + "/size", std::to_string(sectors));
        Put(dir + "/dev", dev);
        if (!fs::exists(DevPath(fs::path(path).filename()))) {
            Put(DevPath(fs::path(path).filename()), "");
        }
    }
    // mountinfo lines from "maj:min mount-point source".
    void Mounts(const std::vector<std::string>& entries) {
        std::string text;
        int id = 20;
        for (const auto& e : entries) {
            std::istringstream in(e);
            std::string dev, point, source;
            in >> dev >> point >> source;
            text += std::to_string(id++) + " 1 " + dev + " / " + point + " rw shared:1 - vfat " +
                    source + " rw\n";
        }
        Put(root_ + "/proc/self/mountinfo", text);
    }
    // A FAT file system image in a device file; fatBits 0 lets mkfs choose.
    void Fat(const std::string& name, int megabytes, int fatBits, const std::string& label) {
        fs::remove(DevPath(name));
        std::ofstream(DevPath(name)).close();
        fs::resize_file(DevPath(name), static_cast<std::uintmax_t>(megabytes) << 20);
        std::string bits = fatBits != 0 ? " -F " + std::to_string(fatBits) : "";
        int status = -1;
        std::string out = test::Sh("PATH=$PATH:/usr/sbin:/sbin mkfs.vfat" + bits + " -n " +
                                       test::Quote(label) + " " + test::Quote(DevPath(name)),
                                   &status);
        ASSERT_EQ(status, 0) << out;
    }
    // A disk file whose MBR holds one partition of that size at sector 2048.
    void Mbr(const std::string& name, std::uint32_t sectors) {
        std::string mbr(512, '\0');
        for (int i = 0; i < 4; ++i) {
            mbr[446 + 8 + i] = static_cast<char>(2048u >> (8 * i));
            mbr[446 + 12 + i] = static_cast<char>(sectors >> (8 * i));
        }
        mbr[446 + 4] = 0x0C;
        mbr.replace(510, 2, "\x55\xAA");
        std::ofstream(DevPath(name), std::ios::binary) << mbr;
        fs::resize_file(DevPath(name), (std::uintmax_t{2048} + sectors) * 512);
    }
    LinuxVolumeConfig Config(std::vector<std::string> protectedPaths = {}) const {
        LinuxVolumeConfig c;
        c.sysRoot = Sys();
        c.devRoot = Dev();
        c.procRoot = root_ + "/proc";
        c.protectedPaths = std::move(protectedPaths);
        return c;
    }
    RemovableDrive Read(const LinuxVolumeConfig& config, const std::string& name = "sdb1") const {
        LinuxVolumeSystem volumes(config);
        return ReadRemovableDrive(volumes, FromUtf8(DevPath(name)));
    }
    Names Listed(const LinuxVolumeConfig& config) {
        LinuxVolumeSystem v(config);
        DriveList drives;
        EXPECT_TRUE(DiscoverRemovableDrives(v, drives));
        Names names;
        for (const auto& d : drives) {
            names.push_back(d.DisplayName);
        }
        return names;
    }

    // The stick of the udev tests: sdb (8:16), partition sdb1 (8:17) at sector 2048.
    void Stick(int fatBits, const std::string& label) {
        Block("sdb", "1", 133120, "8:16");
        Block("sdb/sdb1", "", 131072, "8:17");
        Put(Sys() + "/block/sdb/sdb1/start", "2048");
        Mbr("sdb", 131072);
        Fat("sdb1", 64, fatBits, label);
    }
    LinuxVolumeConfig Udev(bool useBlkid, Properties disk, Properties part) const {
        LinuxVolumeConfig c = Config();
        c.useBlkid = useBlkid;
        c.udevProperties = [disk, part](unsigned major, unsigned minor) {
            return major == 8 && minor == 16   ? disk
                   : major == 8 && minor == 17 ? part
                                               : Properties{};
        };
        return c;
    }

    std::string root_;
};
using UdevVolumes = LinuxVolumeTree;

TEST_F(LinuxVolumeTree, ReadsFatVolumesUnmountedAndMounted) {
    Block("sdc", "1", 1 << 20, "8:32");
    Mbr("sdc", 81920);
    Block("sdc/sdc1", "", 81920, "8:33");
    Fat("sdc1", 40, 32, "STICK");
    Block("sdc/sdc2", "", 16384, "8:34");
    Fat("sdc2", 8, 0, "SMALL");
    Block("sdc/sdc3", "", 2048, "8:35");  // no file system at all
    Block("sdb", "1", 32768, "8:16");
    Fat("sdb", 16, 0, "WHOLE");

    LinuxVolumeSystem v(Config());
    DriveList drives;
    ASSERT_TRUE(DiscoverRemovableDrives(v, drives));
    ASSERT_EQ(drives.size(), 4u);
    EXPECT_EQ(drives[0].FileSystem, L"FAT");
    EXPECT_FALSE(drives[0].HasPartitionTable);  // a FAT boot sector is no partition table
    EXPECT_EQ(drives[0].Status, DriveNoPartitionTable);
    const auto& stick = drives[1];
    EXPECT_EQ(DriveText(stick), L"STICK (sdc1)");
    EXPECT_EQ(stick.FileSystem, L"FAT32");
    EXPECT_EQ(stick.PhysicalDevice, FromUtf8(DevPath("sdc")));
    EXPECT_TRUE(stick.HasPartitionTable);
    // 40 MiB, less the FAT: capacity from the boot sector, free space from mdir.
    EXPECT_TRUE(stick.CapacityText.starts_with(L"39.") && stick.FreeKilobytes > 39u * 1024)
        << ToUtf8(stick.CapacityText) << " " << stick.FreeKilobytes;
    EXPECT_EQ(StatusText(stick), L"Ready");
    EXPECT_EQ(drives[2].Status, DriveLowSpace);
    EXPECT_EQ(drives[3].Status, DriveNotFat);

    Put(root_ + "/payload", std::string(1 << 20, 'x'));  // 1 MiB, to show in the free space
    int status = -1;
    test::Sh("mcopy -i " + test::Quote(DevPath("sdc1")) + " " + test::Quote(root_ + "/payload") +
                 " ::/LDLINUX.SYS",
             &status);
    ASSERT_EQ(status, 0);
    auto again = Read(Config(), "sdc1");
    EXPECT_TRUE(again.BootLoaderPresent);
    EXPECT_EQ(StatusText(again), L"Bootable disk");
    EXPECT_NEAR(static_cast<double>(stick.FreeKilobytes - again.FreeKilobytes), 1024.0, 1.0);

    // A link to a device is that device; the same image outside /dev, or a
    // whole disk with partitions, is no volume.
    fs::create_directories(Dev() + "/disk/by-id");
    fs::create_symlink("../../sdc1", Dev() + "/disk/by-id/usb-Stick-0:0-part1");
    const std::wstring link = FromUtf8(Dev() + "/disk/by-id/usb-Stick-0:0-part1");
    EXPECT_TRUE(IsCandidateVolume(v, link));
    EXPECT_EQ(DriveText(ReadRemovableDrive(v, link)), L"STICK (sdc1)");
    fs::copy_file(DevPath("sdc1"), root_ + "/sdc1");
    EXPECT_FALSE(IsCandidateVolume(v, FromUtf8(root_ + "/sdc1")));
    EXPECT_TRUE(ReadRemovableDrive(v, FromUtf8(root_ + "/sdc1")).FileSystem.empty());
    EXPECT_FALSE(IsCandidateVolume(v, FromUtf8(DevPath("sdc"))));

    // Mounted, it is read through its mount point (escaped in the table, as
    // blanks are), its file system still from the device.
    const std::string mnt = root_ + "/media/my stick";
    Put(mnt + "/ldlinux.sys", "loader");  // there, not in the image
    Mounts({"8:33 " + root_ + "/media/my\\040stick /dev/sdc1"});
    auto d = Read(Config(), "sdc1");
    EXPECT_EQ(d.MountPoint, FromUtf8(mnt));
    EXPECT_TRUE(d.BootLoaderPresent);
    struct statvfs st {};
    ASSERT_EQ(statvfs(mnt.c_str(), &st), 0);
    RemovableDrive expected;
    ApplyVolumeSpace({static_cast<std::uint32_t>(st.f_frsize / 512), 512, st.f_bavail, st.f_blocks},
                     expected);
    EXPECT_EQ(d.CapacityText, expected.CapacityText);
    // Other programs write to that file system meanwhile.
    EXPECT_NEAR(static_cast<double>(d.FreeKilobytes), static_cast<double>(expected.FreeKilobytes),
                65536.0);
    EXPECT_EQ(d.FileSystem, L"FAT32");
}

// Volumes of removable disks, not of the running system's or the program's.
TEST_F(LinuxVolumeTree, ListsOnlyVolumesOfRemovableNonSystemDisksInNameOrder) {
    Block("fd0", "1", 2880, "2:0");     // floppy
    Block("sda", "0", 1 << 20, "8:0");  // fixed disk
    Block("sda/sda1", "", 1 << 19, "8:1");
    Block("sr0", "1", 4096, "11:0");  // optical drive
    Block("sdd", "1", 0, "8:48");     // card reader without a card
    Block("sdc", "1", 1 << 20, "8:32");
    Block("sdc/sdc1", "", 81920, "8:33");
    Block("sdc/sdc2", "", 2, "8:34");  // extended partition's container
    Block("sdc/sdc5", "", 2048, "8:37");
    Block("sdc/sdc10", "", 16384, "8:42");
    Block("sdb", "1", 32768, "8:16");         // whole-disk file system
    Block("mmcblk0", "0", 1 << 20, "179:0");  // SD card: readers call it fixed
    Put(Sys() + "/block/mmcblk0/device/type", "SD");
    Block("mmcblk1", "0", 1 << 20, "179:8");  // built-in eMMC
    Put(Sys() + "/block/mmcblk1/device/type", "MMC");
    Block("sde", "1", 1 << 20, "8:64");  // root file system
    Block("sde/sde1", "", 1 << 19, "8:65");
    Block("sdg", "1", 1 << 20, "8:96");  // holds the program folder's mount
    Block("sdg/sdg1", "", 1 << 19, "8:97");
    Block("sdi", "1", 1 << 20, "8:128");  // under device-mapper, mounted at /boot
    Block("sdi/sdi2", "", 1 << 19, "8:130");
    Block("dm-0", "0", 1 << 19, "253:0");
    Put(Sys() + "/block/dm-0/slaves/sdi2/dev", "8:130");
    Block("sdj", "1", 1 << 20, "8:144");  // whole-disk /usr, found by its source only
    Mounts({"8:65 / /dev/sde1", "253:0 /boot /dev/mapper/boot", "8:97 /opt /dev/sdg1",
            "0:45 /usr /dev/sdj", "8:33 /media/stick /dev/sdc1"});
    // The file system of the test's own folder, posing as a removable disk.
    struct stat st {};
    ASSERT_EQ(stat(root_.c_str(), &st), 0);
    Block("sdh", "1", 1 << 20, "250:250");
    Block("sdh/sdh1", "", 1 << 19,
          std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));

    EXPECT_EQ(Listed(Config({})), (Names{L"mmcblk0", L"sdb", L"sdc1", L"sdc5", L"sdc10", L"sde1",
                                         L"sdg1", L"sdh1", L"sdi2", L"sdj"}));
    auto guarded = Config({"/", "/boot", "/usr", "/opt/scourline/bin", root_});
    EXPECT_EQ(Listed(guarded), (Names{L"mmcblk0", L"sdb", L"sdc1", L"sdc5", L"sdc10"}));
    LinuxVolumeSystem v(guarded);
    EXPECT_EQ(v.ProtectedDisks(),
              (std::vector<std::string>{"dm-0", "sde", "sdg", "sdh", "sdi", "sdj"}));
    // Asked for directly (scourline-media usb DEVICE), they are not candidates either.
    EXPECT_FALSE(IsCandidateVolume(v, FromUtf8(DevPath("sde1"))));
    EXPECT_FALSE(IsCandidateVolume(v, FromUtf8(DevPath("sdi2"))));
    EXPECT_TRUE(IsCandidateVolume(v, FromUtf8(DevPath("sdc1"))));
}

// Where udev knows the file system, it gives what libblkid reads from the
// device; where it does not, nothing is made up.
TEST_F(UdevVolumes, UdevGivesWhatLibblkidReadsAndMakesNothingUp) {
    Stick(32, "MY STICK");
    const Properties dos = {{"ID_PART_TABLE_TYPE", "dos"}};
    const struct {
        const char* what;
        Properties disk, part;
        bool table;
        std::wstring fileSystem;  // empty: as libblkid reads it, and ready
    } cases[] = {
        {"FAT32",
         dos,
         {{"ID_FS_TYPE", "vfat"},
          {"ID_FS_VERSION", "FAT32"},
          {"ID_FS_LABEL", "MY_STICK"},
          {"ID_FS_LABEL_ENC", "MY\\x20STICK"}},
         true,
         L""},
        {"nothing known", {}, {}, false, L"-"},
        {"GPT", {{"ID_PART_TABLE_TYPE", "gpt"}}, {{"ID_FS_TYPE", "vfat"}}, false, L"FAT"},
        {"NTFS", dos, {{"ID_FS_TYPE", "ntfs"}}, true, L"NTFS"},
        {"exFAT", dos, {{"ID_FS_TYPE", "exfat"}}, true, L"exFAT"},
    };
    const RemovableDrive blkid = Read(Udev(true, {}, {}));
    EXPECT_EQ(ToUtf8(blkid.Label), "MY STICK");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemovableDrive udev = Read(Udev(false, c.disk, c.part));
        EXPECT_EQ(udev.HasPartitionTable, c.table);
        if (!c.fileSystem.empty()) {
            EXPECT_EQ(udev.FileSystem, c.fileSystem == L"-" ? L"" : c.fileSystem);
            EXPECT_EQ(StatusText(udev), L"Format required");
            continue;
        }
        EXPECT_EQ(udev.Label, blkid.Label);
        EXPECT_EQ(udev.FileSystem, blkid.FileSystem);
        EXPECT_EQ(udev.FreeKilobytes, blkid.FreeKilobytes);
        EXPECT_EQ(StatusText(udev), L"Ready");
    }
}

}  // namespace
}  // namespace scour
