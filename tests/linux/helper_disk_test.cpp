// The privileged disk helper, driven as the wizard drives it: the real helper
// program over its real protocol. A disk image file stands in for the disk
// (the helper's test-only flag); the refusals use real devices and paths; a
// stand-in pkexec gives the exit codes that a desktop's authentication would.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "linux/raw_helper.h"
#include "media/usb_preparation.h"
#include "platform/device_monitor.h"
#include "platform/linux/helper_disk_preparer.h"
#include "platform/linux/helper_protocol.h"
#include "platform/privileges.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::HelperDiskPreparer;
using platform::HelperLaunch;
using platform::helper::Message;

constexpr std::uint64_t kMiB = 1024 * 1024;

using test::Sh;

using test::Bin;
using test::Helper;

class HelperDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(Helper().c_str(), X_OK) != 0 ||
            access((Bin() + "/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no helper or no boot environment";
        }
    }
    void Make(std::uint64_t bytes) {
        fs::remove(image);
        { std::ofstream(image, std::ios::binary); }
        fs::resize_file(image, bytes);
    }
    platform::DiskTarget Target(const std::string& path) const {
        platform::DiskTarget t;
        t.volumePath = t.diskPath = FromUtf8(path);
        return t;
    }
    UsbOutcome Prepare(HelperDiskPreparer& disk) {
        test::TestServices services(test::BinDir());
        RemovableDrive d;
        d.VolumePath = d.PhysicalDevice = FromUtf8(image);
        d.Status = DriveNoPartitionTable;
        HeadlessUsbPage page;
        test::YesReporter yes;
        return PrepareUsbDisk(page, &d, options, services, disk, yes);
    }
    std::string Bytes() const { return test::ReadFile(FromUtf8(image)).value_or(""); }

    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"usb.img");
    WizardOptions options;
    HelperLaunch images{{Helper(), platform::helper::kImageFilesFlag, ToUtf8(dir.Path())}, false};
};

TEST_F(HelperDisk, PreparesAnImageThatBootsAndStopsWhenItsInputCloses) {
    Make(64 * kMiB);
    pid_t helperPid = -1;
    {
        HelperDiskPreparer disk(images);
        EXPECT_FALSE(disk.Running()) << "started before the first request";
        ASSERT_EQ(Prepare(disk), UsbOutcome::Prepared) << ToUtf8(disk.FailureDetail());
        ASSERT_TRUE(disk.Running());
        helperPid = disk.Pid();
    }
    // The preparer waited for it: the process is gone, not a zombie.
    EXPECT_NE(kill(helperPid, 0), 0) << "the helper outlived its wizard";

    std::string b = Bytes();
    EXPECT_EQ(b.substr(0, 440), test::ReadFile(test::BinDir() + L"/flash/mbr.bin"));
    EXPECT_EQ(static_cast<unsigned char>(b[446]), 0x80);
    EXPECT_EQ(static_cast<unsigned char>(b[450]), 0xEF);
    EXPECT_EQ(b.substr(32256 + 82, 5), "FAT32");
    std::string listing = Sh("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mdir -a -b -i " +
                             test::Quote(image + "@@32256") + " ::/");
    for (const char* name : {"ldlinux.sys", "welcome.txt", "scour", "syslinux.cfg", "vmlinuz"}) {
        EXPECT_NE(listing.find(std::string("::/") + name), std::string::npos) << name;
    }

    if (Sh("command -v qemu-system-x86_64").empty()) {
        GTEST_SKIP() << "skipped: the boot, without QEMU";
    }
    std::string log = ToUtf8(dir / L"boot.log");
    int status = -1;
    std::string out =
        Sh("bash " + test::Quote(ToUtf8(test::SourceDir()) + "/tests/boot/boot-medium.sh") +
               " disk " + test::Quote(image) + " " + test::Quote(log),
           &status);
    EXPECT_EQ(status, 0) << out;
}

TEST_F(HelperDisk, FileSystemChoiceReachesTheFormat) {
    struct Case {
        platform::FormatFileSystem fs;
        std::uint64_t mib;
        UsbOutcome outcome;
        const char* fatType;  // at the partition's boot sector, or the refusal's words
    };
    const Case cases[] = {
        {platform::FormatFileSystem::Fat, 64, UsbOutcome::Prepared, "FAT16"},
        {platform::FormatFileSystem::Fat32, 64, UsbOutcome::Prepared, "FAT32"},
        {platform::FormatFileSystem::Fat32, 24, UsbOutcome::NotFormatted, "too small for FAT32"},
    };
    for (const auto& c : cases) {
        Make(c.mib * kMiB);
        HelperDiskPreparer disk(images);
        disk.SetFormatFileSystem(c.fs);
        ASSERT_EQ(Prepare(disk), c.outcome) << ToUtf8(disk.FailureDetail());
        if (c.outcome == UsbOutcome::Prepared) {
            std::string b = Bytes();
            std::string at = c.fs == platform::FormatFileSystem::Fat32 ? b.substr(32256 + 82, 5)
                                                                       : b.substr(32256 + 54, 5);
            EXPECT_EQ(at, c.fatType);
        } else {
            EXPECT_NE(ToUtf8(disk.FailureDetail()).find(c.fatType), std::string::npos)
                << ToUtf8(disk.FailureDetail());
        }
    }
}

// Requests the wizard never sends, as any caller could send them: each is
// refused with the helper's words, and the disk stays as it was.
TEST_F(HelperDisk, RefusesWhatTheWizardMustNotTouch) {
    Make(40 * kMiB);
    const std::string before = Bytes();
    test::WriteFile(dir / L"other.img", std::string(1024, '\0'));
    test::RawHelper strict({Helper()}, {});
    test::RawHelper lenient(images.argv, {});
    ASSERT_TRUE(lenient.Serving());
    struct Case {
        const char* what;
        test::RawHelper* helper;
        Message request;
        const char* words;
    };
    const Case cases[] = {
        {"an image file without the test flag",
         &strict,
         {"identity", "usb.img", ""},
         "not a removable disk that the wizard lists"},
        {"a path",
         &lenient,
         {"format", ToUtf8(dir.Path()) + "/usb.img", "", "fat"},
         "not the name of a disk"},
        {"a character device",
         &lenient,
         {"format", "null", "", "fat"},
         "not a removable disk that the wizard lists"},
        {"a folder by path",
         &lenient,
         {"copy-folder", "usb.img", "", "/etc"},
         "not a folder of the program folder"},
        {"a folder through ..",
         &lenient,
         {"copy-folder", "usb.img", "", "common/../flash"},
         "not a folder of the program folder"},
        {"a name with a folder in it",
         &lenient,
         {"copy-file", "usb.img", "", "../scour", "x"},
         "not a plain file name"},
        {"a name mtools reads as a pattern",
         &lenient,
         {"root-file-exists", "usb.img", "", "*"},
         "not a plain file name"},
        {"a name that reads as an option",
         &lenient,
         {"copy-file", "usb.img", "", "-o", "x"},
         "not a plain file name"},
        {"a volume of another disk",
         &lenient,
         {"format", "usb.img", "other.img", "fat"},
         "is not a volume of"},
        {"a program folder for the installer",
         &lenient,
         {"start-installer", "usb.img", "", ToUtf8(dir.Path())},
         "wrong number of fields"},
        {"an unknown verb", &lenient, {"erase", "usb.img", ""}, "unknown request"},
        {"a handle that was never given",
         &lenient,
         {"set-layout", "7", "x", "y"},
         "set-layout needs a layout"},
        {"no such handle", &lenient, {"clear-first-sector", "7"}, "no such open disk"},
    };
    for (const auto& c : cases) {
        std::string why = c.helper->Refusal(c.request);
        EXPECT_NE(why.find(c.words), std::string::npos) << c.what << ": " << why;
    }
    // A table whose partition runs past the disk's end is not written.
    auto opened = lenient.Ask({"open", "usb.img", ""});
    ASSERT_TRUE(opened && opened->size() == 3 && (*opened)[0] == "ok");
    platform::PartitionEntry huge;
    huge.startingOffset = 32256;
    huge.partitionLength = std::int64_t{1} << 40;
    huge.partitionType = 0xEF;
    platform::DiskLayout layout{1, {huge}};
    EXPECT_NE(lenient
                  .Refusal({"set-layout", (*opened)[2], platform::helper::EncodeLayout(layout),
                            platform::helper::EncodeGeometry({5, 255, 63, 512})})
                  .find("does not fit"),
              std::string::npos);
    EXPECT_TRUE(Bytes() == before) << "a refused request wrote to the image";
}

// A real block device that discovery does not list: a loop device is no removable disk.
TEST_F(HelperDisk, RefusesABlockDeviceThatDiscoveryDoesNotList) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "skipped: loop devices need root";
    }
    Make(40 * kMiB);
    std::string device = Sh("losetup -f --show " + test::Quote(image));
    if (device.rfind("/dev/loop", 0) != 0) {
        GTEST_SKIP() << "skipped: no loop device (" << device << ")";
    }
    HelperDiskPreparer disk({{Helper()}, false});
    std::vector<std::string> devices = {device};
    // The disk of the program folder, where it is a block device here.
    std::string root = Sh("findmnt -n -o SOURCE -T " + test::Quote(Bin()));
    if (root.rfind("/dev/", 0) == 0) {
        devices.push_back(root);
    }
    for (const auto& d : devices) {
        EXPECT_FALSE(disk.ReleaseVolume(Target(d))) << d;
        EXPECT_NE(ToUtf8(disk.FailureDetail()).find("not a removable disk"), std::string::npos)
            << d << ": " << ToUtf8(disk.FailureDetail());
    }
    Sh("losetup -d " + device);
}

// pkexec's answers when authentication is cancelled or refused, from a
// stand-in on PATH that records how it was called.
TEST_F(HelperDisk, PkexecExitCodesBecomeClearTextsAndOneRunAsksOnce) {
    const std::string fakeDir = ToUtf8(dir / L"fakebin");
    const std::string log = fakeDir + "/calls";
    fs::create_directories(fakeDir);
    const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", (fakeDir + ":" + oldPath).c_str(), 1);
    struct Case {
        int code;
        const char* words;
    };
    for (const Case& c : {Case{126, "authentication was cancelled"},
                          Case{127, "policy (org.valdane.scourline.disk-helper) is not installed"},
                          Case{1, "could not be started (exit status 1)"}}) {
        fs::remove(log);
        test::WriteFile(FromUtf8(fakeDir + "/pkexec"), "#!/bin/sh\necho \"$*\" >>" +
                                                           test::Quote(log) + "\nexit " +
                                                           std::to_string(c.code) + "\n");
        fs::permissions(fakeDir + "/pkexec", fs::perms::owner_all);
        ASSERT_EQ(platform::FindPkexec(), fakeDir + "/pkexec");

        Make(40 * kMiB);
        HelperDiskPreparer disk(platform::PkexecHelperLaunch(Bin()));
        // The disk cannot even be identified: the run stops before its question.
        EXPECT_EQ(Prepare(disk), UsbOutcome::DiskChanged) << c.code;
        EXPECT_NE(ToUtf8(disk.FailureDetail()).find(c.words), std::string::npos)
            << ToUtf8(disk.FailureDetail());
        EXPECT_NE(ToUtf8(disk.FailureDetail()).find("Nothing was written"), std::string::npos);
        // Only the run's first request started pkexec, with the desktop's agent asking.
        EXPECT_EQ(test::ReadFile(FromUtf8(log)).value_or(""),
                  "--disable-internal-agent " + Helper() + "\n");
        EXPECT_TRUE(Bytes() == std::string(40 * kMiB, '\0'));
        // The next run asks again.
        EXPECT_FALSE(disk.ReadIdentity(Target(image)).has_value());
        EXPECT_EQ(Sh("wc -l <" + test::Quote(log)), "2");
    }
    setenv("PATH", oldPath.c_str(), 1);
}

// A helper that dies mid-run: the request fails with a text, the run's held
// lock is dropped without a new helper, and the next run starts a fresh one.
TEST_F(HelperDisk, HelperThatDiesIsToldAndReplacedByTheNextRun) {
    Make(40 * kMiB);
    HelperDiskPreparer disk(images);
    ASSERT_TRUE(disk.ReadIdentity(Target(image)).has_value()) << ToUtf8(disk.FailureDetail());
    auto lock = disk.LockVolume(Target(image));
    ASSERT_NE(lock, nullptr) << ToUtf8(disk.FailureDetail());
    kill(disk.Pid(), SIGKILL);
    EXPECT_FALSE(disk.ReleaseVolume(Target(image)));
    EXPECT_NE(ToUtf8(disk.FailureDetail()).find("ended unexpectedly"), std::string::npos)
        << ToUtf8(disk.FailureDetail());
    lock.reset();
    EXPECT_FALSE(disk.Running());
    EXPECT_TRUE(disk.ReadIdentity(Target(image)).has_value()) << ToUtf8(disk.FailureDetail());
    // The dead helper's flock went with it: the new one can lock the image.
    EXPECT_NE(disk.LockVolume(Target(image)), nullptr) << ToUtf8(disk.FailureDetail());
}

// What the helper does with a command line or input it must not accept.
TEST_F(HelperDisk, HelperEndsOnBadArgumentsAndBadInput) {
    struct Case {
        std::string command;
        int status;
    };
    const std::string helperWord = test::Quote(Helper());
    const Case cases[] = {
        {helperWord + " </dev/null >/dev/null", 0},
        {helperWord + " --bogus </dev/null", 2},
        {"PKEXEC_UID=1000 " + helperWord + " " + platform::helper::kImageFilesFlag +
             " /tmp </dev/null",
         2},
        {helperWord + " " + platform::helper::kImageFilesFlag + " </dev/null", 2},
        {"printf 'x\\n' | " + helperWord + " >/dev/null", 2},
        {"printf '1\\n99999999999\\n' | " + helperWord + " >/dev/null", 2},
        // A request that is answered, then the end of input.
        {"printf '1\\n5\\nhello' | " + helperWord + " | grep -q 'unknown request'", 0},
    };
    for (const auto& c : cases) {
        int status = -1;
        std::string out = Sh(c.command, &status);
        EXPECT_EQ(status, c.status) << c.command << "\n" << out;
    }
}

// The check as a desktop user sees it: run in a child that drops root.
TEST(Privileges, AdministratorIsRootOrPkexecWithThePolicy) {
    EXPECT_EQ(platform::IsAdministrator(), geteuid() == 0);
    if (geteuid() != 0 || platform::FindPkexec().empty()) {
        GTEST_SKIP() << "skipped: needs root to become another user, and pkexec";
    }
    // Somewhere another user may look: not below the test's private folders.
    char folder[] = "/tmp/scour-actions.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string actions = folder;
    auto asNobody = [&]() {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("SCOUR_TEST_POLKIT_ACTIONS", actions.c_str(), 1);
            if (setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(3);
            }
            _exit(platform::IsAdministrator() ? 1 : 0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    chmod(actions.c_str(), 0755);
    EXPECT_EQ(asNobody(), 0) << "no policy installed";
    const std::string policy = actions + "/org.valdane.scourline.disk-helper.policy";
    test::WriteFile(FromUtf8(policy), "<policyconfig/>");
    chmod(policy.c_str(), 0644);
    EXPECT_EQ(asNobody(), 1) << "policy installed";
    fs::remove_all(actions);
}

// The kernel (or udev) tells of a disk that appears and goes.
TEST(DeviceMonitor, SeesALoopDeviceComeAndGo) {
    auto monitor = platform::CreateDeviceMonitor();
    if (!monitor) {
        GTEST_SKIP() << "skipped: no device notices here";
    }
    ASSERT_GE(monitor->Fd(), 0);
    monitor->VolumeChanged();  // whatever waited before
    if (geteuid() != 0) {
        GTEST_SKIP() << "skipped: loop devices need root";
    }
    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"disk.img");
    { std::ofstream(image, std::ios::binary); }
    fs::resize_file(image, 8 * kMiB);
    std::string device = Sh("losetup -f --show " + test::Quote(image));
    if (device.rfind("/dev/loop", 0) != 0) {
        GTEST_SKIP() << "skipped: no loop device (" << device << ")";
    }
    auto noticed = [&] {
        pollfd p{monitor->Fd(), POLLIN, 0};
        bool changed = false;
        while (!changed && poll(&p, 1, 3000) > 0) {
            changed = monitor->VolumeChanged();
        }
        return changed;
    };
    bool added = noticed();
    Sh("losetup -d " + device);
    bool removed = noticed();
    if (!added && !removed) {
        GTEST_SKIP() << "skipped: this machine passes no device notices into the container";
    }
    EXPECT_TRUE(added);
    EXPECT_TRUE(removed);
}

}  // namespace
}  // namespace scour
