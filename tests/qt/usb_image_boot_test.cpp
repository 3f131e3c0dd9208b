// The USB disk page end to end on the offscreen platform: a scripted user
// (tests/wizard-scripts/usb-image.txt) prepares a blank disk image listed as a
// removable drive through the page and the real disk helper; the image then
// boots in QEMU and Linux receives the wizard's record. The helper is started
// directly with its image-file flag: pkexec cannot authenticate without a desktop.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include "qt_test_env.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/resource_ids.h"
#include "base/text.h"
#include "media/config_archive.h"
#include "pages/pages.h"
#include "platform/disk_ops.h"
#include "platform/linux/helper_disk_preparer.h"
#include "platform/linux/helper_protocol.h"
#include "support/test_support.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/format_choice.h"
#include "ui/qt/platform_hooks.h"
#include "ui/qt/qt_reporter.h"
#include "ui/qt/script_session.h"
#include "ui/qt/wizard_frame.h"

namespace scour {
namespace {

namespace fs = std::filesystem;

using test::Quote;
using test::Sh;

// A disk image file that the system lists as a removable drive: the image is
// both the volume and its disk, as the helper's image-file flag takes it. The
// real disk operations describe it afresh on every call, so a refresh after
// the preparation sees the new table and file system.
class ImageVolumes final : public platform::IVolumeSystem {
  public:
    explicit ImageVolumes(const std::string& image) : name_(FromUtf8(image)) {}
    int enumerations = 0;

    std::uint32_t LogicalDrives() override { return 0; }
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring&) override { return {}; }
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override {
        ++enumerations;
        return std::vector<std::wstring>{name_};
    }
    bool IsRemovableVolume(const std::wstring& v) override { return v == name_; }
    platform::VolumeInformation ReadVolumeInformation(const std::wstring&) override {
        return {L"", Facts().fileSystem};  // the label is not looked at
    }
    std::optional<platform::VolumeSpace> DiskFreeSpace(const std::wstring&) override {
        auto f = Facts();
        if (f.fileSystem.empty()) {
            return std::nullopt;
        }
        return platform::VolumeSpace{1, 512, f.freeBytes / 512, f.capacityBytes / 512};
    }
    std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring&) override { return 1; }
    std::wstring PhysicalDrivePath(std::int32_t n) override { return n == 1 ? name_ : L""; }
    // Only whether a first partition lies after offset 0 counts.
    std::optional<platform::DriveLayout> ReadDriveLayout(std::int32_t) override {
        if (!Facts().hasPartitionTable) {
            return std::nullopt;
        }
        return platform::DriveLayout{1, 32256};
    }
    // Asked for the boot loader only.
    bool RootFileExists(const std::wstring&, std::int32_t, std::wstring_view) override {
        return Facts().bootLoaderPresent;
    }
    platform::VolumePlace Locate(const std::wstring&) override { return {L"usb.img", L""}; }

  private:
    platform::VolumeFacts Facts() {
        platform::DiskTarget target;
        target.volumePath = target.diskPath = name_;
        return disk_->DescribeVolume(target).value_or(platform::VolumeFacts{});
    }
    std::wstring name_;
    std::unique_ptr<platform::IDiskPreparer> disk_ =
        platform::CreateDiskPreparer(test::BinDir(), nullptr);
};

// Volume notices through a pipe: each byte written is one notice.
class PipeWatch final : public qt::IVolumeWatch {
  public:
    PipeWatch() { EXPECT_EQ(pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0); }
    ~PipeWatch() override {
        close(fds_[0]);
        close(fds_[1]);
    }
    PipeWatch(const PipeWatch&) = delete;
    PipeWatch& operator=(const PipeWatch&) = delete;
    int Descriptor() const override { return fds_[0]; }
    bool ReadVolumeChange() override {
        char buffer[64];
        bool any = false;
        while (read(fds_[0], buffer, sizeof buffer) > 0) {
            any = true;
        }
        return any;
    }
    void Notice() { EXPECT_EQ(write(fds_[1], "x", 1), 1); }

  private:
    int fds_[2] = {-1, -1};
};

TEST(QtUsbImage, PreparedThroughTheUsbPageAndTheHelperItBoots) {
    const std::string bin = ToUtf8(test::BinDir());
    const std::string helper = bin + "/" + platform::helper::kHelperExecutable;
    if (!fs::exists(bin + "/flash/syslinux") || !fs::exists(bin + "/common")) {
        GTEST_SKIP() << "skipped: the sample boot environment is not in the program folder";
    }
    ASSERT_EQ(access(helper.c_str(), X_OK), 0) << helper;

    test::ScratchDir scratch;
    const std::string image = ToUtf8(scratch / L"usb.img");
    { std::ofstream(image, std::ios::binary); }
    fs::resize_file(image, 64u << 20);

    auto script = test::ReadFile(test::SourceDir() + L"/tests/wizard-scripts/usb-image.txt");
    ASSERT_TRUE(script);
    std::wstring error;
    auto actions = ParseScript(FromUtf8(*script), error);
    ASSERT_TRUE(actions) << ToUtf8(error);

    test::TestServices services(test::BinDir());
    ImageVolumes volumes(image);
    std::wstring wantConfig;
    {
        qt::ScriptSession session(std::move(*actions));
        qt::SetActiveScript(&session);
        qt::WizardFrame frame;
        qt::QtReporter reporter;
        qt::FormatChoicePreparer disks(
            std::make_unique<platform::HelperDiskPreparer>(platform::HelperLaunch{
                {helper, platform::helper::kImageFilesFlag, ToUtf8(scratch.Path())}, false}),
            [&frame] { return qt::AskFormatFileSystem(&frame); });
        PageContext context{services.services, reporter, frame, &volumes, &disks};
        CMainDlg sheet(context);
        ASSERT_TRUE(sheet.BuildPages(CreateWizardPages));
        auto watch = std::make_unique<PipeWatch>();
        PipeWatch& notices = *watch;
        frame.WatchVolumes(std::move(watch));
        frame.Open(sheet);
        session.Start(frame);

        QElapsedTimer clock;
        clock.start();
        bool done = test::RunUntil(
            [&] {
                // The end is the prepared disk in the list read again after the
                // preparation, with the buttons set after the event that changed
                // them; page changes and refreshes before it (a loaded machine
                // spreads them out) are not the end.
                if (session.Failed()) {
                    return true;
                }
                if (frame.CurrentPage() != IDD_USB || frame.Buttons() != (kWizBack | kWizNext)) {
                    return false;
                }
                auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
                return list != nullptr &&
                       test::Column(*list, 4) == std::vector<std::wstring>{L"Bootable disk"};
            },
            240000);
        qt::SetActiveScript(nullptr);
        ASSERT_FALSE(session.Failed()) << "the script failed: its line is on stderr";
        ASSERT_TRUE(done) << "no preparation within four minutes";
        std::printf("prepared through the page in %.1f s\n",
                    static_cast<double>(clock.elapsed()) / 1000.0);

        // The list shows the prepared disk; the cursor is back.
        auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(test::Column(*list, 3), std::vector<std::wstring>{L"FAT32"});
        EXPECT_EQ(test::Column(*list, 4), std::vector<std::wstring>{L"Bootable disk"});
        EXPECT_TRUE(list->topLevelItem(0)->isSelected());
        for (int col = 0; col < list->columnCount(); ++col) {
            EXPECT_GE(list->columnWidth(col), CUsbPage::kMinColumnWidth);
            EXPECT_LE(list->columnWidth(col), CUsbPage::kMaxColumnWidth);
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);

        // A burst of volume notices: the list is read once, after the burst settled.
        int before = volumes.enumerations;
        for (int i = 0; i < 3; ++i) {
            notices.Notice();
            test::RunUntil([] { return false; }, 100);
        }
        EXPECT_EQ(volumes.enumerations, before) << "refreshed before the burst settled";
        EXPECT_TRUE(test::RunUntil([&] { return volumes.enumerations > before; }, 3000));
        test::RunUntil([] { return false; }, 300);
        EXPECT_EQ(volumes.enumerations, before + 1);

        // What the record must deliver: the archive of the wizard's options.
        ASSERT_TRUE(
            WriteConfigArchive(sheet.Options(), scratch / L"want.scour", services.services));
        wantConfig = FromUtf8(BuildConfigText(sheet.Options(), *services.services.text));
        sheet.CloseDialog(kExitCancelled);
    }
    EXPECT_NE(wantConfig.find(L"//127.0.0.1/logs"), std::wstring::npos)
        << "the share typed on the log page is not in the record";

    const std::string dir = ToUtf8(scratch.Path());
    const std::string tools = ToUtf8(test::SourceDir()) + "/tests/boot";
    int status = -1;
    fs::create_directories(dir + "/want");
    std::string out = Sh("cd " + Quote(dir + "/want") +
                             " && cpio -id --quiet --no-absolute-filenames < ../want.scour",
                         &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_TRUE(fs::is_directory(dir + "/want/tmp/scheme") &&
                !fs::is_empty(dir + "/want/tmp/scheme"))
        << "no scheme files in the archive";

    // The one disk, on BIOS and from its FAT partition on UEFI, Secure Boot off and on.
    for (const std::string firmware : {"bios", "uefi", "secureboot"}) {
        SCOPED_TRACE(firmware);
        const std::string log = dir + "/boot-" + firmware + ".log";
        const std::string got = dir + "/got-" + firmware;
        out = Sh("bash " + Quote(tools + "/boot-medium.sh") + " disk " + Quote(image) + " " +
                     Quote(log) + " " + firmware,
                 &status);
        EXPECT_EQ(status, 0) << out;
        if (status != 0) {
            continue;
        }
        std::printf("%s", out.c_str());
        out = Sh("python3 " + Quote(tools + "/extract-boot-log.py") + " " + Quote(log) + " " +
                     Quote(got),
                 &status);
        EXPECT_EQ(status, 0) << out;
        if (status != 0) {
            continue;
        }
        // Linux received exactly the archive's files, scheme files included.
        out = Sh("diff -r " + Quote(dir + "/want") + " " + Quote(got + "/files"), &status);
        EXPECT_EQ(status, 0) << out;
    }
}

}  // namespace
}  // namespace scour
