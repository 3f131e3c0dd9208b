// The privileged disk helper, driven as the wizard drives it: the real helper
// program over its real protocol. A disk image file stands in for the disk
// (the helper's test-only flag); a stand-in pkexec gives the exit codes that
// a desktop's authentication would. Refused requests are in helper_attack_test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "linux/raw_helper.h"
#include "platform/linux/disk_ops_linux.h"
#include "platform/linux/helper_disk_preparer.h"
#include "platform/linux/helper_protocol.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::FormatFileSystem;
using platform::HelperDiskPreparer;
using test::Bin;
using test::Helper;
using test::Sh;

constexpr std::uint64_t kMiB = 1024 * 1024;

class HelperDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(Helper().c_str(), X_OK) != 0 ||
            access((Bin() + "/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no helper or no boot environment";
        }
    }
    platform::DiskTarget Target() const { return {FromUtf8(image), FromUtf8(image), -1, -1}; }
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

// The file system asked for, or else the one the cluster count gives: the
// smallest volume that gets FAT32 and the one below it, which mkfs and the
// installer must both take. The helper starts with the first request and
// ends with its preparer (waited for, no zombie).
TEST_F(HelperDisk, FormatsAsAskedOrByClusterCountAndStopsWithItsPreparer) {
    std::uint64_t lo = 1, hi = 64 * kMiB / 512;
    while (lo < hi) {
        std::uint64_t mid = (lo + hi) / 2;
        if (platform::ChooseFat(mid * 512).fatBits == 32) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    const struct {
        FormatFileSystem fs;
        std::uint64_t sectors;
        const char* fatType;  // at the partition's boot sector, or the refusal's words
    } cases[] = {
        {FormatFileSystem::Automatic, lo - 1, "FAT16"},
        {FormatFileSystem::Automatic, lo, "FAT32"},
        {FormatFileSystem::Fat, lo, "FAT16"},
        {FormatFileSystem::Fat32, lo - 1, "too small for FAT32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fatType);
        test::MakeImage(image, 64 * kMiB);
        platform::MbrSector s{};
        platform::PartitionEntry p{32256, static_cast<std::int64_t>(c.sectors * 512), 63, 1, 0x0C};
        platform::EncodeMbr(s, {1, {p}}, {8, 255, 63, 512});
        std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
            .write(reinterpret_cast<const char*>(s.data()), 512);
        pid_t helperPid = -1;
        {
            HelperDiskPreparer disk(images);
            EXPECT_FALSE(disk.Running()) << "started before the first request";
            disk.SetFormatFileSystem(c.fs);
            bool formatted = disk.Format(Target());
            ASSERT_TRUE(disk.Running());
            helperPid = disk.Pid();
            if (!formatted) {
                EXPECT_NE(Detail(disk).find(c.fatType), std::string::npos) << Detail(disk);
                continue;
            }
            const bool fat32 = std::string(c.fatType) == "FAT32";
            EXPECT_EQ(Bytes().substr(32256 + (fat32 ? 82 : 54), 5), c.fatType);
            auto run = disk.StartInstaller(Target(), test::BinDir());
            ASSERT_NE(run, nullptr) << Detail(disk);
            EXPECT_EQ(run->Wait(), 0ul) << Detail(disk);
        }
        EXPECT_NE(kill(helperPid, 0), 0) << "the helper outlived its wizard";
    }
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
        EXPECT_FALSE(disk.ReadIdentity(Target()).has_value());
        EXPECT_EQ(Sh("wc -l <" + test::Quote(log)), "2");
    }
    setenv("PATH", oldPath.c_str(), 1);
}

// A helper that dies mid-run: the request fails with a text, the run's held
// lock is dropped without a new helper, and the next run starts a fresh one.
TEST_F(HelperDisk, HelperThatDiesIsToldAndReplacedByTheNextRun) {
    test::MakeImage(image, 40 * kMiB);
    HelperDiskPreparer disk(images);
    ASSERT_TRUE(disk.ReadIdentity(Target()).has_value()) << Detail(disk);
    auto lock = disk.LockVolume(Target());
    ASSERT_NE(lock, nullptr) << Detail(disk);
    kill(disk.Pid(), SIGKILL);
    EXPECT_FALSE(disk.ReleaseVolume(Target()));
    EXPECT_NE(Detail(disk).find("ended unexpectedly"), std::string::npos) << Detail(disk);
    lock.reset();
    EXPECT_FALSE(disk.Running());
    EXPECT_TRUE(disk.ReadIdentity(Target()).has_value()) << Detail(disk);
    // The dead helper's flock went with it: the new one can lock the image.
    EXPECT_NE(disk.LockVolume(Target()), nullptr) << Detail(disk);
}

// What the helper does with a command line it must not accept (malformed
// input: helper_attack_test and the helper_protocol fuzz target).
TEST_F(HelperDisk, HelperEndsOnBadArgumentsAndBadInput) {
    const std::string helper = test::Quote(Helper());
    const std::string flag = platform::helper::kImageFilesFlag;
    const std::pair<std::string, int> cases[] = {
        {helper + " </dev/null >/dev/null", 0},
        {helper + " --bogus </dev/null", 2},
        {"PKEXEC_UID=1000 " + helper + " " + flag + " /tmp </dev/null", 2},
        {helper + " " + flag + " </dev/null", 2},
        // A request that is answered, then the end of input.
        {"printf '1\\n5\\nhello' | " + helper + " | grep -q 'unknown request'", 0},
    };
    for (const auto& [command, want] : cases) {
        int status = -1;
        std::string out = Sh(command, &status);
        EXPECT_EQ(status, want) << command << "\n" << out;
    }
}

}  // namespace
}  // namespace scour
