// The Linux disk operations with the real tools (mkfs.vfat, mtools, the program
// folder's syslinux): on disk image files, and on a loop device where the
// machine lets us make one. What lands in the sectors, and what must never be
// written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/text.h"
#include "linux/raw_helper.h"
#include "media/usb_preparation.h"
#include "platform/linux/disk_ops_linux.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::LinuxDiskPreparer;
using test::Sh;

constexpr std::uint64_t kMiB = 1024 * 1024;

// Calls onPosition as the run reaches each step, so a test can act between steps.
struct Page final : IUsbPage {
    int position = 0, upper = 0;
    bool prepared = false;
    std::function<void(int)> onPosition = [](int) {};
    void SetProgressRange(int, int u) override { upper = u; }
    void SetProgressPosition(int p) override { onPosition(position = p); }
    int ProgressPosition() override { return position; }
    int ProgressUpper() override { return upper; }
    void ShowProgress() override {}
    void RepaintPage() override {}
    void Pause(int) override {}
    void BeginBusy() override {}
    void EndBusy() override {}
    void SetDiskPrepared() override { prepared = true; }
    void RefreshAfterPreparation() override {}
};

std::uint32_t Le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

class Disk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(ToUtf8(test::BinDir() + L"/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no sample boot environment";
        }
        test::MakeImage(image, 64 * kMiB);
    }
    RemovableDrive Drive() const {
        RemovableDrive d;
        d.VolumePath = d.PhysicalDevice = FromUtf8(device.empty() ? image : device);
        d.Status = DriveNoPartitionTable;
        return d;
    }
    UsbOutcome Prepare(LinuxDiskPreparer& with, const std::wstring& program = test::BinDir()) {
        return test::PrepareDisk(with, device.empty() ? image : device, options, page, program);
    }
    std::string Bytes() const { return test::ReadFile(FromUtf8(image)).value_or(""); }
    std::string Mdir(const std::string& args, int* status = nullptr) const {
        return Sh("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mdir -i " +
                      test::Quote(image + "@@32256") + " " + args,
                  status);
    }

    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"usb.img");
    std::string device;  // a loop device over the image, where one is used
    WizardOptions options;
    LinuxDiskPreparer disk{test::BinDir()};
    Page page;
};

// --- image files --------------------------------------------------------------------------

TEST_F(Disk, NewImageGetsBootCodeOneActivePartitionFat32AndTheFiles) {
    ASSERT_EQ(Prepare(disk), UsbOutcome::Prepared) << ToUtf8(disk.FailureDetail());
    std::string b = Bytes();
    // 64 MiB hold 8 cylinders of 255 x 63 sectors: the partition ends with the 8th.
    EXPECT_EQ(b.substr(0, 440), test::ReadFile(test::BinDir() + L"/flash/mbr.bin"));
    EXPECT_EQ(static_cast<unsigned char>(b[446]), 0x80);
    EXPECT_EQ(static_cast<unsigned char>(b[450]), 0xEF);
    EXPECT_EQ(Le32(b, 454), 63u);
    EXPECT_EQ(Le32(b, 458), 8u * 255 * 63 - 63);
    EXPECT_EQ(b.substr(462, 48), std::string(48, '\0'));
    EXPECT_EQ(b.substr(510, 2), "\x55\xAA");
    // FAT32 at the partition, hidden sectors = 63, as the BIOS boot needs.
    EXPECT_EQ(b.substr(32256 + 82, 5), "FAT32");
    EXPECT_EQ(Le32(b, 32256 + 28), 63u);
    std::string listing = Mdir("-a -b ::/");
    for (const char* name : {"ldlinux.sys", "vmlinuz", "initrd.gz", "syslinux.cfg", "welcome.txt",
                             "scour", "ldlinux.c32", "efi"}) {
        EXPECT_NE(listing.find(std::string("::/") + name), std::string::npos) << name << listing;
    }
}

TEST_F(Disk, FatTypeFollowsTheClusterCountThatMtoolsAccepts) {
    // The smallest volume that gets FAT32, and the one below it: mkfs, mtools
    // and the installer must all take either.
    std::uint64_t lo = 1, hi = 64 * kMiB / 512;
    while (lo < hi) {
        std::uint64_t mid = (lo + hi) / 2;
        if (platform::ChooseFat(mid * 512).fatBits == 32) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    for (std::uint64_t sectors : {lo - 1, lo}) {
        SCOPED_TRACE(sectors);
        test::MakeImage(image, 64 * kMiB);
        platform::MbrSector s{};
        platform::PartitionEntry p{32256, static_cast<std::int64_t>(sectors * 512), 63, 1, 0x0C};
        platform::EncodeMbr(s, {1, {p}}, {8, 255, 63, 512});
        std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
            .write(reinterpret_cast<const char*>(s.data()), 512);
        auto target = DiskTargetFor(Drive());
        ASSERT_TRUE(disk.Format(target)) << ToUtf8(disk.FailureDetail());
        bool fat32 = sectors == lo;
        EXPECT_EQ(Bytes().substr(32256 + (fat32 ? 82 : 54), 5), fat32 ? "FAT32" : "FAT16");
        int status = 0;
        std::string out = Mdir("::/", &status);
        EXPECT_EQ(status, 0) << out;
        auto run = disk.StartInstaller(target, test::BinDir());
        ASSERT_NE(run, nullptr);
        EXPECT_EQ(run->Wait(), 0ul) << ToUtf8(disk.FailureDetail());
    }
}

TEST_F(Disk, ImageSwappedBeforeTheTableOrTheFormatIsLeftAlone) {
    // Another file of the same size takes the path: after the question (position
    // 1), or after the table was written (position 3, just before the format).
    for (auto [at, outcome] :
         {std::pair{1, UsbOutcome::TableFailed}, std::pair{3, UsbOutcome::DiskChanged}}) {
        SCOPED_TRACE(at);
        test::MakeImage(image, 64 * kMiB);
        const std::string other = ToUtf8(dir / L"other.img");
        page.onPosition = [&, at = at](int p) {
            if (p == at) {
                test::MakeImage(other, 64 * kMiB);
                fs::rename(other, image);
            }
        };
        EXPECT_EQ(Prepare(disk), outcome);
        EXPECT_EQ(page.position, 0);
        EXPECT_EQ(Bytes(), std::string(64 * kMiB, '\0'));
    }
}

TEST_F(Disk, FailingInstallerGives156SaysWhyAndLeavesTheBootCodeOut) {
    test::ScratchDir program;
    fs::copy(ToFsPath(test::BinDir() + L"/common"), ToFsPath(program / L"common"),
             fs::copy_options::recursive);
    test::MakeDirs(program / L"flash");
    test::WriteFile(program / L"flash/syslinux",
                    "#!/bin/sh\necho 'no room for ldlinux.sys'\nexit 1\n");
    fs::permissions(ToFsPath(program / L"flash/syslinux"), fs::perms::owner_all);
    fs::copy_file(ToFsPath(test::BinDir() + L"/flash/mbr.bin"),
                  ToFsPath(program / L"flash/mbr.bin"));
    LinuxDiskPreparer own(program.Path());
    EXPECT_EQ(Prepare(own, program.Path()), UsbOutcome::CopyFailed);
    EXPECT_FALSE(page.prepared);
    // What the installer said reaches the user.
    EXPECT_NE(own.FailureDetail().find(L"no room"), std::wstring::npos)
        << ToUtf8(own.FailureDetail());
    EXPECT_EQ(Bytes().substr(0, 440), std::string(440, '\0'));
}

TEST(LinuxSystemDisk, TheRootFileSystemsDiskIsNeverOpenedForWriting) {
    auto disks = platform::SystemDisks("");
    if (disks.empty()) {
        GTEST_SKIP() << "skipped: / is not on a block device here";
    }
    dev_t system = *disks.begin();
    std::string name =
        Sh("sed -n 's/^DEVNAME=//p' /sys/dev/block/" + std::to_string(major(system)) + ":" +
           std::to_string(minor(system)) + "/uevent");
    std::string path = "/dev/" + name;
    struct stat node {};
    if (name.empty() || stat(path.c_str(), &node) != 0 || node.st_rdev != system) {
        GTEST_SKIP() << "skipped: no device node for the system disk";
    }
    // Only a call that cannot write even were the check wrong: opening alone.
    LinuxDiskPreparer disk(test::BinDir());
    platform::DiskTarget target{FromUtf8(path), FromUtf8(path), -1, -1};
    EXPECT_EQ(disk.OpenDisk(target), nullptr);
    EXPECT_NE(disk.FailureDetail().find(L"running system"), std::wstring::npos)
        << ToUtf8(disk.FailureDetail());
}

// --- a loop device (with partition scanning, so the kernel may hold partitions of it) ---

class LoopDisk : public Disk {
  protected:
    void SetUp() override {
        Disk::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (geteuid() != 0 || (device = test::AttachLoop(image, true)).empty()) {
            GTEST_SKIP() << "skipped: no loop device (they need root)";
        }
    }
    void TearDown() override {
        if (!mountPoint.empty()) {
            umount2(mountPoint.c_str(), MNT_DETACH);
        }
        Detach();
    }
    void Detach() {
        if (!device.empty()) {
            Sh("losetup -d " + device);
        }
        device.clear();
    }
    std::string mountPoint;
};

TEST_F(LoopDisk, KernelLearnsThePartitionBusyMountStopsAndReattachedIsAnotherDisk) {
    ASSERT_EQ(Prepare(disk), UsbOutcome::Prepared) << ToUtf8(disk.FailureDetail());
    std::string name = device.substr(5);
    std::string part = "/sys/block/" + name + "/" + name + "p1";
    EXPECT_EQ(Sh("cat " + part + "/start"), "63");
    EXPECT_EQ(Sh("cat " + part + "/size"), std::to_string(8 * 255 * 63 - 63));

    // A volume of the disk mounted and in use: no lock, no release.
    std::string volume = device + "p1";
    Sh("mkfs.ext2 -q " + volume);
    mountPoint = ToUtf8(dir / L"mnt");
    fs::create_directory(mountPoint);
    ASSERT_EQ(mount(volume.c_str(), mountPoint.c_str(), "ext2", 0, nullptr), 0);
    int busy = open((mountPoint + "/open-file").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(busy, 0);
    UsbTarget target = MakeUsbTarget(Drive(), disk);
    EXPECT_FALSE(LockVolume(target, disk));
    EXPECT_FALSE(disk.ReleaseVolume(target.disk));
    EXPECT_NE(disk.FailureDetail().find(L"cannot unmount"), std::wstring::npos);
    close(busy);
    EXPECT_TRUE(LockVolume(target, disk)) << ToUtf8(disk.FailureDetail());
    EXPECT_EQ(Sh("grep -c -F " + test::Quote(" " + mountPoint + " ") + " /proc/self/mountinfo"),
              "0");
    mountPoint.clear();
    UnlockVolume(target);

    // The same file attached again is not the same medium.
    Detach();
    device = test::AttachLoop(image, true);
    EXPECT_FALSE(StillSameDisk(target, disk));
}

}  // namespace
}  // namespace scour
