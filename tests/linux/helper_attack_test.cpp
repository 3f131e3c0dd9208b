// The disk helper against a hostile caller: each attack a review made against
// it, performed for real. The helper runs as root as pkexec starts it, over a
// loop device that discovery takes for a removable stick ("1" bound over its
// sysfs removable attribute in a private mount namespace), beside a second,
// partitioned loop device and a root-only file that must stay as they are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "base/text.h"
#include "linux/raw_helper.h"
#include "media/usb_preparation.h"
#include "platform/linux/disk_ops_linux.h"
#include "platform/linux/helper_disk_preparer.h"
#include "support/test_support.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using platform::FormatFileSystem;
using platform::HelperDiskPreparer;
using platform::helper::Message;
using test::Bin;
using test::Helper;
using test::RawHelper;
using test::Sh;

constexpr std::uint64_t kMiB = 1024 * 1024;

class HelperAttack : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || access(Helper().c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: needs root, as the helper has it, and the helper";
        }
        // A private mount namespace: the sysfs binding and the test mounts stay ours.
        ASSERT_EQ(unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        test::MakeImage(stickImage, 64 * kMiB);
        // Not zeros, with one partition (sectors 2048-10239) in its table.
        std::string noise(8 * kMiB, '\xA5');
        noise.replace(446, 16, std::string("\0\0\0\0\x83\0\0\0\0\x08\0\0\0\x20\0\0", 16));
        noise.replace(462, 50, std::string(48, '\0') + "\x55\xAA");
        test::WriteFile(FromUtf8(victimImage), noise);
        stick = test::AttachLoop(stickImage);
        victim = test::AttachLoop(victimImage, true);
        if (stick.empty() || victim.empty()) {
            GTEST_SKIP() << "skipped: no loop devices here";
        }
        Sh("partx -a " + victim);  // the kernel does not always scan at attach
        test::WriteFile(dir / L"one", "1\n");
        removable = "/sys/block/" + Name(stick) + "/removable";
        ASSERT_EQ(mount(ToUtf8(dir / L"one").c_str(), removable.c_str(), nullptr, MS_BIND, nullptr),
                  0);
        // The stick is listed (the other loop device is not, as no fixed disk is).
        std::string drives = Sh(test::Quote(Bin() + "/scourline-media") + " drives");
        ASSERT_NE(drives.find(Name(stick)), std::string::npos) << drives;
        test::WriteFile(FromUtf8(secret), "root only\n");
        chmod(secret.c_str(), 0600);
        victimBefore = Contents(victim);
    }
    void TearDown() override {
        if (!removable.empty()) {  // the next test's loop device may take its name
            umount2(removable.c_str(), MNT_DETACH);
        }
        for (const auto& d : {stick, victim}) {
            if (!d.empty()) {
                Sh("partx -d " + d + " 2>/dev/null; losetup -d " + d);
            }
        }
    }

    static std::string Name(const std::string& device) { return device.substr(5); }
    static std::string Contents(const std::string& path) {
        return test::ReadFile(FromUtf8(path)).value_or("(unreadable)");
    }
    // The helper as pkexec starts it, with the caller's environment.
    std::unique_ptr<RawHelper> Start(std::vector<std::string> env = {},
                                     const std::string& helper = Helper()) {
        env.push_back("PKEXEC_UID=1000");
        return std::make_unique<RawHelper>(std::vector<std::string>{helper}, env);
    }
    void ExpectUntouched() {
        EXPECT_TRUE(Contents(victim) == victimBefore) << "the other disk was written to";
        EXPECT_EQ(Contents(secret), "root only\n");
    }

    test::ScratchDir dir;
    std::string stickImage = ToUtf8(dir / L"stick.img");
    std::string victimImage = ToUtf8(dir / L"victim.img");
    std::string secret = ToUtf8(dir / L"secret");
    std::string stick, victim, victimBefore, removable;
};

// The legitimate route, through the wizard's own client: the stick is
// prepared by kernel names and boots in QEMU; nothing else changes.
TEST_F(HelperAttack, LegitimateStickIsPreparedAndBoots) {
    platform::HelperDiskPreparer disk({{Helper()}, false});
    setenv("PKEXEC_UID", "1000", 1);
    UsbOutcome outcome = test::PrepareDisk(disk, stick);
    unsetenv("PKEXEC_UID");
    ASSERT_EQ(outcome, UsbOutcome::Prepared) << ToUtf8(disk.FailureDetail());
    ExpectUntouched();
    Sh("partx -d " + stick + " 2>/dev/null; losetup -d " + stick);
    stick.clear();
    if (Sh("command -v qemu-system-x86_64").empty()) {
        GTEST_SKIP() << "skipped: the boot, without QEMU";
    }
    int status = -1;
    std::string out =
        Sh("bash " + test::Quote(ToUtf8(test::SourceDir()) + "/tests/boot/boot-medium.sh") +
               " disk " + test::Quote(stickImage) + " " + test::Quote(ToUtf8(dir / L"boot.log")),
           &status);
    EXPECT_EQ(status, 0) << out;
}

// 1, 2 and 6: a disk is a kernel name, never a path. "@@" (which mtools
// reads as an offset), links, a FIFO, a character device and another user's
// file are refused before anything is opened, without telling anything about
// them; so are names mtools would misread, volumes of other disks, and
// requests of the wrong shape.
TEST_F(HelperAttack, RequestsTheWizardNeverSendsAreRefused) {
    const std::string link = ToUtf8(dir / L"d@@0");
    fs::create_symlink(stick, link);
    const std::string fifo = ToUtf8(dir / L"fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto h = Start();
    ASSERT_TRUE(h->Serving()) << (h->Greeting().size() > 1 ? h->Greeting()[1] : "");
    for (const auto& name : {link, Name(stick) + "@@0", stick, "../" + Name(stick), fifo, secret,
                             std::string("fifo"), std::string("null"), Name(victim)}) {
        for (const Message& m :
             {Message{"copy-file", name, "", "scour", "x"},
              Message{"root-file-exists", name, "", "scour"}, Message{"format", name, "", "fat"},
              Message{"open", name, ""}, Message{"identity", name, ""}}) {
            std::string why = h->Refusal(m);
            EXPECT_TRUE(why.find("not the name of a disk") != std::string::npos ||
                        why.find("not a removable disk that the wizard lists") != std::string::npos)
                << m[0] << " " << name << ": " << why;
            EXPECT_EQ(why.find("10 "), std::string::npos) << "tells the secret's size: " << why;
        }
    }
    const std::string s = Name(stick);
    const std::pair<Message, const char*> cases[] = {
        {{"copy-file", s, "", "../scour", "x"}, "not a plain file name"},
        {{"root-file-exists", s, "", "*"}, "not a plain file name"},  // an mtools pattern
        {{"copy-file", s, "", "-o", "x"}, "not a plain file name"},   // an option
        {{"format", s, Name(victim), "fat"}, "is not a volume of"},
        {{"format", s, Name(victim) + "p1", "fat"}, "is not a volume of"},
        {{"start-installer", s, "", Bin()}, "wrong number of fields"},
        {{"copy-folder", s, "", "common/../flash"}, "not a folder of the program folder"},
        {{"set-layout", "7", "x", "y"}, "set-layout needs a layout"},
        {{"clear-first-sector", "7"}, "no such open disk"},
    };
    for (const auto& [m, words] : cases) {
        std::string why = h->Refusal(m);
        EXPECT_NE(why.find(words), std::string::npos) << m[0] << " " << m[2] << ": " << why;
    }
    // A table whose partition runs past the disk's end is not written.
    auto opened = h->Ask({"open", s, ""});
    ASSERT_TRUE(opened && opened->size() == 3 && (*opened)[0] == "ok");
    platform::PartitionEntry huge{32256, std::int64_t{1} << 40, 63, 1, 0xEF};
    EXPECT_NE(h->Refusal({"set-layout", (*opened)[2], platform::helper::EncodeLayout({1, {huge}}),
                          platform::helper::EncodeGeometry({5, 255, 63, 512})})
                  .find("does not fit"),
              std::string::npos);
    EXPECT_EQ(Contents(stick).substr(0, 512), std::string(512, '\0'));
    ExpectUntouched();
}

// The disk holding a system folder (here /home, mounted over in our
// namespace) is refused by the helper and by the direct preparer alike,
// though discovery, which guards fewer folders, lists it.
TEST_F(HelperAttack, DiskOfTheRunningSystemIsRefused) {
    Sh("mkfs.ext2 -q -F " + stick);
    ASSERT_EQ(mount(stick.c_str(), "/home", "ext2", 0, nullptr), 0);
    std::string helper = Start()->Refusal({"identity", Name(stick), ""});
    platform::LinuxDiskPreparer direct(test::BinDir());
    bool opened = direct.OpenDisk({FromUtf8(stick), FromUtf8(stick), -1, -1}) != nullptr;
    umount2("/home", MNT_DETACH);
    EXPECT_NE(helper.find("holds the running system"), std::string::npos) << helper;
    EXPECT_FALSE(opened);
    EXPECT_NE(direct.FailureDetail().find(L"running system"), std::wstring::npos);
}

// 2: the link is flipped between the stick and a root-only file while the
// helper is asked again and again: it never follows a name it was given.
TEST_F(HelperAttack, FlippingLinkNeverTurnsAFileIntoAVolume) {
    const std::string link = ToUtf8(dir / L"flip");
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        const std::string next = link + ".new";
        for (int i = 0; !stop; ++i) {
            fs::remove(next);
            fs::create_symlink(i % 2 == 0 ? stick : secret, next);
            fs::rename(next, link);
        }
    });
    auto h = Start();
    int accepted = 0;
    for (int i = 0; i < 200 && h->Serving(); ++i) {
        accepted += h->Refusal({"format", link, "", "fat"}) == "(accepted)";
    }
    stop = true;
    flipper.join();
    EXPECT_EQ(accepted, 0);
    ExpectUntouched();
}

// 3 and 8: copies come only from the program folder's own "common" and
// "flash" (other names: RequestsTheWizardNeverSendsAreRefused), opened
// beneath it; a program folder that another user could change, or whose
// members lead elsewhere through a link, makes the helper refuse to run.
TEST_F(HelperAttack, CopiesComeOnlyFromARootOwnedProgramFolder) {
    // Copies of the program folder, each with one fault.
    const fs::path secretFolder = ToFsPath(dir / L"secrets");
    fs::create_directories(secretFolder);
    fs::copy_file(secret, secretFolder / "syslinux.cfg");
    const char* const changeable = "may be changed by other users";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        const char* words;
    } cases[] = {
        {"writable by others", [](const fs::path& p) { chmod(p.c_str(), 0777); }, changeable},
        {"owned by another user", [](const fs::path& p) { (void)chown(p.c_str(), 65534, 65534); },
         changeable},
        {"an installer another user owns",
         [](const fs::path& p) { (void)chown((p / "flash/syslinux").c_str(), 65534, 65534); },
         changeable},
        {"a copied file others may write",
         [](const fs::path& p) { chmod((p / "common/syslinux.cfg").c_str(), 0666); }, changeable},
        {"flash leads elsewhere through a link",
         [&](const fs::path& p) {
             fs::remove_all(p / "flash");
             fs::create_directory_symlink(secretFolder, p / "flash");
         },
         "through a link"},
        {"a link inside common",
         [&](const fs::path& p) { fs::create_symlink(secret, p / "common/secret"); }, "is a link"},
    };
    const fs::path program = ToFsPath(dir / L"program");
    const fs::path helper = program / platform::helper::kHelperExecutable;
    for (const auto& c : cases) {
        fs::remove_all(program);
        fs::create_directories(program);
        chmod(program.c_str(), 0755);
        for (const char* member : {"common", "flash"}) {
            fs::copy(ToFsPath(test::BinDir()) / member, program / member,
                     fs::copy_options::recursive);
        }
        fs::copy_file(Helper(), helper);
        c.spoil(program);
        auto bad = Start({}, helper.string());
        EXPECT_FALSE(bad->Serving()) << c.what;
        ASSERT_EQ(bad->Greeting().size(), 2u) << c.what;
        EXPECT_NE(bad->Greeting()[1].find(c.words), std::string::npos)
            << c.what << ": " << bad->Greeting()[1];
        EXPECT_EQ(bad->End(), 1) << c.what;
    }
    ExpectUntouched();
}

// 4: release unmounts the stick's own mounts, found by device number, and
// leaves a mount whose only tie to the stick is the text of its source.
TEST_F(HelperAttack, ReleaseUnmountsByDeviceNumberNotBySourceText) {
    Sh("mkfs.ext2 -q -F " + stick);
    const std::string own = ToUtf8(dir / L"stick-mount");
    const std::string decoy = ToUtf8(dir / L"decoy");
    fs::create_directories(own);
    fs::create_directories(decoy);
    ASSERT_EQ(mount(stick.c_str(), own.c_str(), "ext2", 0, nullptr), 0);
    ASSERT_EQ(mount(stick.c_str(), decoy.c_str(), "tmpfs", 0, nullptr), 0);
    EXPECT_EQ(Start()->Refusal({"release", Name(stick), ""}), "(accepted)");
    std::string table = Sh("cat /proc/self/mountinfo");
    auto inTable = [&](std::string point) {
        for (std::size_t at = 0; (at = point.find(' ', at)) != std::string::npos; at += 4) {
            point.replace(at, 1, "\\040");
        }
        return table.find(" " + point + " ") != std::string::npos;
    };
    EXPECT_FALSE(inTable(own)) << "the stick is still mounted";
    EXPECT_TRUE(inTable(decoy)) << "the decoy was unmounted";
    umount(decoy.c_str());
}

// 5: no message may make root hold more than the wizard ever sends.
TEST_F(HelperAttack, OversizedMessagesAreRefusedBeforeTheyAreRead) {
    const std::size_t most = platform::helper::kMaxContentsBytes;
    auto h = Start();
    EXPECT_NE(h->Refusal({"copy-file", Name(stick), "", "scour", std::string(most + 1, 'x')})
                  .find("larger than"),
              std::string::npos);
    // Each field within its own limit, the whole beyond the message's: the helper ends.
    EXPECT_FALSE(h->Ask(
        {"copy-file", Name(stick), std::string(8192, 'v'), "scour", std::string(most, 'x')}));
    EXPECT_EQ(h->End(), 2);
    // A field that announces 600 MiB: the helper ends without waiting for them.
    h = Start();
    const std::string head = "2\n8\nidentity629145600\n";
    ASSERT_EQ(write(h->Socket(), head.data(), head.size()), static_cast<ssize_t>(head.size()));
    pollfd p{h->Socket(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1) << "the helper waits for the announced bytes";
    EXPECT_EQ(h->End(), 2);
    ExpectUntouched();
}

// 7: the tools get a fixed environment: the caller's HOME (and its mtools
// configuration) and variables do not reach them.
TEST_F(HelperAttack, CallersEnvironmentDoesNotReachTheTools) {
    const std::string home = ToUtf8(dir / L"home");
    fs::create_directories(home);
    // Read at all, this breaks every mtools command.
    test::WriteFile(FromUtf8(home + "/.mtoolsrc"), "this is not an mtools setting\n");
    auto h = Start({"HOME=" + home, "MTOOLSRC=" + home + "/.mtoolsrc", "PATH=" + home,
                    "LD_PRELOAD=" + home + "/evil.so"});
    ASSERT_TRUE(h->Serving());
    EXPECT_EQ(h->Refusal({"format", Name(stick), "", "fat"}), "(accepted)");
    EXPECT_EQ(h->Refusal({"copy-file", Name(stick), "", "scour", "archive"}), "(accepted)");
    auto a = h->Ask({"root-file-exists", Name(stick), "", "scour"});
    ASSERT_TRUE(a && a->size() == 3);
    EXPECT_EQ((*a)[2], "1");
    // Nor may the caller pass the tests' image-file flag through pkexec.
    RawHelper flagged({Helper(), platform::helper::kImageFilesFlag, "/"}, {"PKEXEC_UID=1000"});
    EXPECT_FALSE(flagged.Serving());
    EXPECT_EQ(flagged.End(), 2);
    EXPECT_EQ(RawHelper({Helper(), "--bogus"}, {}).End(), 2);
    ExpectUntouched();
}

// --- the helper through the wizard's client, on a disk image file (the test-only
// flag), or behind a stand-in pkexec with a desktop's exit codes.

class HelperDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(Helper().c_str(), X_OK) != 0 ||
            access((Bin() + "/flash/syslinux").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "skipped: the program folder has no helper or no boot environment";
        }
    }
    platform::DiskTarget Target() const { return {FromUtf8(image), FromUtf8(image), -1, -1}; }
    std::string Bytes() const { return test::ReadFile(FromUtf8(image)).value_or(""); }
    std::string Detail(const HelperDiskPreparer& disk) const {
        return ToUtf8(disk.FailureDetail());
    }

    test::ScratchDir dir;
    std::string image = ToUtf8(dir / L"usb.img");
    platform::HelperLaunch images{{Helper(), platform::helper::kImageFilesFlag, ToUtf8(dir.Path())},
                                  false};
};

// The file system asked for, or else the one the cluster count gives: the
// smallest volume that gets FAT32 and the one below it, which mkfs and the
// installer must both take. The helper starts with the first request and
// ends with its preparer (waited for, no zombie).
TEST_F(HelperDisk, FormatsAsAskedOrByClusterCountAndStopsWithItsPreparer) {
    std::uint64_t lo = 64 * kMiB / 512;  // the fewest sectors that get FAT32
    while (platform::ChooseFat((lo - 1) * 512).fatBits == 32) {
        --lo;
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

// A helper that dies mid-run is told; the next run (its first request) starts another.
TEST_F(HelperDisk, HelperThatDiesIsToldAndReplacedByTheNextRun) {
    test::MakeImage(image, 40 * kMiB);
    HelperDiskPreparer disk(images);
    auto lock = disk.LockVolume(Target());
    ASSERT_NE(lock, nullptr) << Detail(disk);
    kill(disk.Pid(), SIGKILL);
    EXPECT_FALSE(disk.ReleaseVolume(Target()));
    EXPECT_NE(Detail(disk).find("ended unexpectedly"), std::string::npos) << Detail(disk);
    lock.reset();  // the dead helper's lock: nothing to send
    EXPECT_FALSE(disk.ReadIdentity({L"other", FromUtf8(image), -1, -1}));
    EXPECT_NE(Detail(disk).find("other is not a volume of"), std::string::npos) << Detail(disk);
}

// pkexec's answers when authentication is cancelled or refused, from a
// stand-in on PATH that records how it was called.
TEST_F(HelperDisk, PkexecExitCodesBecomeClearTextsAndARunAsksOnce) {
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
        EXPECT_EQ(test::PrepareDisk(disk, image), UsbOutcome::DiskChanged) << code;
        EXPECT_NE(Detail(disk).find(words), std::string::npos) << Detail(disk);
        EXPECT_NE(Detail(disk).find("Nothing was written"), std::string::npos);
        // Only the run's first request started pkexec, with the desktop's agent asking.
        EXPECT_EQ(test::ReadFile(FromUtf8(log)), "--disable-internal-agent " + Helper() + "\n");
        EXPECT_TRUE(Bytes() == std::string(40 * kMiB, '\0'));
    }
    setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
}  // namespace scour
