// The Linux disk operations on a loop device with the real tools: what the
// kernel sees, and what must never be written (images: linux_media_boot_test.sh).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/text.h"
#include "linux/raw_helper.h"
#include "media/usb_preparation.h"
#include "platform/device_monitor.h"
#include "platform/linux/disk_ops_linux.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::LinuxDiskPreparer;
using test::Sh;

constexpr std::uint64_t kMiB = 1024 * 1024;

class LoopDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(ToUtf8(test::BinDir() + L"/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no sample boot environment";
        }
        test::MakeImage(image, 64 * kMiB);
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
    RemovableDrive Drive() const {
        RemovableDrive d;
        d.VolumePath = d.PhysicalDevice = FromUtf8(device);
        d.Status = DriveNoPartitionTable;
        return d;
    }

    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"usb.img");
    std::string device, mountPoint;
    LinuxDiskPreparer disk{test::BinDir()};
};

TEST_F(LoopDisk, KernelLearnsThePartitionBusyMountStopsAndReattachedIsAnotherDisk) {
    ASSERT_EQ(test::PrepareDisk(disk, device), UsbOutcome::Prepared)
        << ToUtf8(disk.FailureDetail());
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

    // The same file attached again is not the same medium; the device monitor tells of it.
    auto monitor = platform::CreateDeviceMonitor();
    ASSERT_TRUE(monitor);
    monitor->VolumeChanged();  // whatever waited before
    Detach();
    device = test::AttachLoop(image, true);
    EXPECT_FALSE(StillSameDisk(target, disk));
    pollfd p{monitor->Fd(), POLLIN, 0};
    bool changed = false;
    while (!changed && poll(&p, 1, 3000) > 0) {
        changed = monitor->VolumeChanged();
    }
    EXPECT_TRUE(changed);
    // A failing installer: what it said reaches the user.
    test::ScratchDir program;
    fs::copy(ToFsPath(test::BinDir() + L"/flash"), ToFsPath(program / L"flash"));
    test::WriteFile(program / L"flash/syslinux",
                    "#!/bin/sh\necho 'no room for ldlinux.sys'\nexit 3\n");
    LinuxDiskPreparer own(program.Path());
    auto run = own.StartInstaller(DiskTargetFor(Drive()), program.Path());
    ASSERT_NE(run, nullptr) << ToUtf8(own.FailureDetail());
    EXPECT_EQ(run->Wait(), 3ul);
    EXPECT_EQ(ToUtf8(own.FailureDetail()),
              "syslinux failed (exit status 3): no room for ldlinux.sys");
}

// The device number names another medium than the descriptor holds, as when
// a disk is swapped under the same name mid-run: nothing is written.
TEST_F(LoopDisk, AnotherMediumBehindTheDeviceNumberIsNotWritten) {
    const std::string otherImage = ToUtf8(dir / L"other.img");
    test::MakeImage(otherImage, 8 * kMiB);
    const std::string other = test::AttachLoop(otherImage);
    ASSERT_FALSE(other.empty());
    struct stat st {};
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    const bool sequences = platform::DiskSequenceOf(st.st_rdev) != 0;
    LinuxDiskPreparer swapped(nullptr, [&](const platform::DiskTarget& t, std::string& why) {
        auto d = platform::OpenDiskByPath(t, why);
        if (d) {
            d->rdev = st.st_rdev;
        }
        return d;
    });
    const bool formatted = swapped.Format(DiskTargetFor(Drive()));
    Sh("losetup -d " + other);
    if (!sequences) {
        GTEST_SKIP() << "skipped: this kernel gives no disk sequence numbers";
    }
    EXPECT_FALSE(formatted);
    EXPECT_NE(swapped.FailureDetail().find(L"has changed"), std::wstring::npos)
        << ToUtf8(swapped.FailureDetail());
    EXPECT_TRUE(test::ReadFile(FromUtf8(image)) == std::string(64 * kMiB, '\0'))
        << "the disk was written to";
}

}  // namespace
}  // namespace scour
