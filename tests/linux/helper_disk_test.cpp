// The privileged disk helper, driven as the wizard drives it: the real helper
// program over its real protocol. A disk image file stands in for the disk
// (the helper's test-only flag); the refusals use real devices and paths; a
// stand-in pkexec gives the exit codes that a desktop's authentication would.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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
using platform::helper::Message;
using test::Bin;
using test::Helper;
using test::Sh;

constexpr std::uint64_t kMiB = 1024 * 1024;

// "verb|field|..." as a message.
Message Fields(const std::string& text) {
    Message m;
    for (std::size_t at = 0;; at = text.find('|', at) + 1) {
        m.push_back(text.substr(at, text.find('|', at) - at));
        if (text.find('|', at) == std::string::npos) {
            return m;
        }
    }
}

class HelperDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(Helper().c_str(), X_OK) != 0 ||
            access((Bin() + "/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no helper or no boot environment";
        }
    }
    platform::DiskTarget Target(const std::string& path) const {
        platform::DiskTarget t;
        t.volumePath = t.diskPath = FromUtf8(path);
        return t;
    }
    UsbOutcome Prepare(HelperDiskPreparer& disk) {
        HeadlessUsbPage page;
        return test::PrepareDisk(disk, image, options, page);
    }
    std::string Bytes() const { return test::ReadFile(FromUtf8(image)).value_or(""); }
    std::string Detail(const HelperDiskPreparer& disk) const {
        return ToUtf8(disk.FailureDetail());
    }

    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"usb.img");
    WizardOptions options;
    platform::HelperLaunch images{{Helper(), platform::helper::kImageFilesFlag, ToUtf8(dir.Path())},
                                  false};
};

// The helper starts with the first request and ends with its wizard's
// preparer (waited for, no zombie); the file system asked for is the one made.
TEST_F(HelperDisk, FormatsAsAskedAndStopsWithItsPreparer) {
    const struct {
        platform::FormatFileSystem fs;
        std::uint64_t mib;
        UsbOutcome outcome;
        const char* fatType;  // at the partition's boot sector, or the refusal's words
    } cases[] = {
        {platform::FormatFileSystem::Fat, 64, UsbOutcome::Prepared, "FAT16"},
        {platform::FormatFileSystem::Fat32, 64, UsbOutcome::Prepared, "FAT32"},
        {platform::FormatFileSystem::Fat32, 24, UsbOutcome::NotFormatted, "too small for FAT32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fatType);
        test::MakeImage(image, c.mib * kMiB);
        pid_t helperPid = -1;
        {
            HelperDiskPreparer disk(images);
            EXPECT_FALSE(disk.Running()) << "started before the first request";
            disk.SetFormatFileSystem(c.fs);
            ASSERT_EQ(Prepare(disk), c.outcome) << Detail(disk);
            ASSERT_TRUE(disk.Running());
            helperPid = disk.Pid();
            if (c.outcome != UsbOutcome::Prepared) {
                EXPECT_NE(Detail(disk).find(c.fatType), std::string::npos) << Detail(disk);
                continue;
            }
        }
        EXPECT_NE(kill(helperPid, 0), 0) << "the helper outlived its wizard";
        const bool fat32 = c.fs == platform::FormatFileSystem::Fat32;
        EXPECT_EQ(Bytes().substr(32256 + (fat32 ? 82 : 54), 5), c.fatType);
    }
}

// Requests the wizard never sends, as any caller could send them: each is
// refused with the helper's words, and the disk stays as it was.
TEST_F(HelperDisk, RefusesWhatTheWizardMustNotTouch) {
    test::MakeImage(image, 40 * kMiB);
    const std::string before = Bytes();
    test::WriteFile(dir / L"other.img", std::string(1024, '\0'));
    test::RawHelper strict({Helper()}, {});
    test::RawHelper lenient(images.argv, {});
    ASSERT_TRUE(lenient.Serving());
    const struct {
        const char* what;
        test::RawHelper* helper;
        std::string request;
        const char* words;
    } cases[] = {
        {"an image file without the test flag", &strict, "identity|usb.img|",
         "not a removable disk that the wizard lists"},
        {"a path", &lenient, "format|" + image + "||fat", "not the name of a disk"},
        {"a character device", &lenient, "format|null||fat",
         "not a removable disk that the wizard lists"},
        {"a name with a folder in it", &lenient, "copy-file|usb.img||../scour|x",
         "not a plain file name"},
        {"a name mtools reads as a pattern", &lenient, "root-file-exists|usb.img||*",
         "not a plain file name"},
        {"a name that reads as an option", &lenient, "copy-file|usb.img||-o|x",
         "not a plain file name"},
        {"a volume of another image", &lenient, "format|usb.img|other.img|fat",
         "is not a volume of"},
        {"a program folder for the installer", &lenient,
         "start-installer|usb.img||" + ToUtf8(dir.Path()), "wrong number of fields"},
        {"an unknown verb", &lenient, "erase|usb.img|", "unknown request"},
        {"a handle that was never given", &lenient, "set-layout|7|x|y",
         "set-layout needs a layout"},
        {"no such handle", &lenient, "clear-first-sector|7", "no such open disk"},
    };
    for (const auto& c : cases) {
        std::string why = c.helper->Refusal(Fields(c.request));
        EXPECT_NE(why.find(c.words), std::string::npos) << c.what << ": " << why;
    }
    // A table whose partition runs past the disk's end is not written.
    auto opened = lenient.Ask({"open", "usb.img", ""});
    ASSERT_TRUE(opened && opened->size() == 3 && (*opened)[0] == "ok");
    platform::PartitionEntry huge{32256, std::int64_t{1} << 40, 63, 1, 0xEF};
    EXPECT_NE(lenient
                  .Refusal({"set-layout", (*opened)[2], platform::helper::EncodeLayout({1, {huge}}),
                            platform::helper::EncodeGeometry({5, 255, 63, 512})})
                  .find("does not fit"),
              std::string::npos);
    EXPECT_TRUE(Bytes() == before) << "a refused request wrote to the image";
}

// Real block devices that discovery does not list: a loop device is no
// removable disk, nor is the disk of the program folder.
TEST_F(HelperDisk, RefusesABlockDeviceThatDiscoveryDoesNotList) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "skipped: loop devices need root";
    }
    test::MakeImage(image, 40 * kMiB);
    std::string device = test::AttachLoop(image);
    if (device.empty()) {
        GTEST_SKIP() << "skipped: no loop device";
    }
    HelperDiskPreparer disk({{Helper()}, false});
    std::vector<std::string> devices = {device};
    std::string root = Sh("findmnt -n -o SOURCE -T " + test::Quote(Bin()));
    if (root.rfind("/dev/", 0) == 0) {
        devices.push_back(root);
    }
    for (const auto& d : devices) {
        EXPECT_FALSE(disk.ReleaseVolume(Target(d))) << d;
        EXPECT_NE(Detail(disk).find("not a removable disk"), std::string::npos) << d;
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
    for (const auto& [code, words] :
         {std::pair{126, "authentication was cancelled"},
          std::pair{127, "policy (org.valdane.scourline.disk-helper) is not installed"},
          std::pair{1, "could not be started (exit status 1)"}}) {
        fs::remove(log);
        test::WriteFile(FromUtf8(fakeDir + "/pkexec"), "#!/bin/sh\necho \"$*\" >>" +
                                                           test::Quote(log) + "\nexit " +
                                                           std::to_string(code) + "\n");
        fs::permissions(fakeDir + "/pkexec", fs::perms::owner_all);
        ASSERT_EQ(platform::FindPkexec(), fakeDir + "/pkexec");

        test::MakeImage(image, 40 * kMiB);
        HelperDiskPreparer disk(platform::PkexecHelperLaunch(Bin()));
        // The disk cannot even be identified: the run stops before its question.
        EXPECT_EQ(Prepare(disk), UsbOutcome::DiskChanged) << code;
        EXPECT_NE(Detail(disk).find(words), std::string::npos) << Detail(disk);
        EXPECT_NE(Detail(disk).find("Nothing was written"), std::string::npos);
        // Only the run's first request started pkexec, with the desktop's agent asking.
        EXPECT_EQ(test::ReadFile(FromUtf8(log)), "--disable-internal-agent " + Helper() + "\n");
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
    test::MakeImage(image, 40 * kMiB);
    HelperDiskPreparer disk(images);
    ASSERT_TRUE(disk.ReadIdentity(Target(image)).has_value()) << Detail(disk);
    auto lock = disk.LockVolume(Target(image));
    ASSERT_NE(lock, nullptr) << Detail(disk);
    kill(disk.Pid(), SIGKILL);
    EXPECT_FALSE(disk.ReleaseVolume(Target(image)));
    EXPECT_NE(Detail(disk).find("ended unexpectedly"), std::string::npos) << Detail(disk);
    lock.reset();
    EXPECT_FALSE(disk.Running());
    EXPECT_TRUE(disk.ReadIdentity(Target(image)).has_value()) << Detail(disk);
    // The dead helper's flock went with it: the new one can lock the image.
    EXPECT_NE(disk.LockVolume(Target(image)), nullptr) << Detail(disk);
}

// What the helper does with a command line or input it must not accept.
TEST_F(HelperDisk, HelperEndsOnBadArgumentsAndBadInput) {
    const std::string helper = test::Quote(Helper());
    const std::string flag = platform::helper::kImageFilesFlag;
    const std::pair<std::string, int> cases[] = {
        {helper + " </dev/null >/dev/null", 0},
        {helper + " --bogus </dev/null", 2},
        {"PKEXEC_UID=1000 " + helper + " " + flag + " /tmp </dev/null", 2},
        {helper + " " + flag + " </dev/null", 2},
        {"printf 'x\\n' | " + helper + " >/dev/null", 2},
        {"printf '1\\n99999999999\\n' | " + helper + " >/dev/null", 2},
        // A request that is answered, then the end of input.
        {"printf '1\\n5\\nhello' | " + helper + " | grep -q 'unknown request'", 0},
    };
    for (const auto& [command, want] : cases) {
        int status = -1;
        std::string out = Sh(command, &status);
        EXPECT_EQ(status, want) << command << "\n" << out;
    }
}

// A peer that sends without pause: read boundaries fall inside messages, and
// what was handed out already must not pile up in the reader, however long
// the stream (the helper runs as root for any process of the session).
TEST(HelperMessages, ReaderHoldsOneMessageAndOneReadOfAnEndlessStream) {
    const Message m = {"copy-file", std::string(978, 'x')};
    const std::string one = platform::helper::EncodeMessage(m);
    ASSERT_EQ(one.size() % 2, 1u) << "an odd length never lines up with a read's end";
    int fd = memfd_create("stream", MFD_CLOEXEC);
    std::string stream;
    for (int i = 0; i < 8000; ++i) {
        stream += one;
    }
    ASSERT_EQ(write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    platform::helper::MessageReader reader(fd);
    std::size_t largest = 0;
    int count = 0;
    std::string error;
    for (; auto got = reader.Read(error); ++count) {
        ASSERT_EQ(*got, m);
        largest = std::max(largest, reader.BufferSize());
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(count, 8000);
    EXPECT_LE(largest, 65536 + 2 * one.size());
    close(fd);
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
    if (!monitor || geteuid() != 0) {
        GTEST_SKIP() << "skipped: no device notices, or no root for loop devices";
    }
    ASSERT_GE(monitor->Fd(), 0);
    monitor->VolumeChanged();  // whatever waited before
    test::ScratchDir dir;
    const std::string image = ToUtf8(dir / L"disk.img");
    test::MakeImage(image, 8 * kMiB);
    std::string device = test::AttachLoop(image);
    if (device.empty()) {
        GTEST_SKIP() << "skipped: no loop device";
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
