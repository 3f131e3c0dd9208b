// The Qt frame on the offscreen platform: every dialog's texts fit their
// controls, the title stays fixed, and the USB disk page lists the removable
// drives of a sysfs tree and follows them as they come and go.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include "qt_test_env.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "pages/pages.h"
#include "platform/disk_ops.h"
#include "platform/linux/volumes_linux.h"
#include "support/test_support.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/format_choice.h"
#include "ui/qt/qt_reporter.h"
#include "ui/qt/wizard_frame.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using qt::DialogView;
using qt::WizardFrame;

void App() {
    ASSERT_NE(QApplication::instance(), nullptr);
}

// Lets what the frame posted (button states, clicks) happen.
void Settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

void SaveScreenshot(QWidget& widget, const char* name) {
    QDir().mkpath(QStringLiteral(SCOUR_SCREENSHOT_DIR));
    widget.grab().save(QStringLiteral(SCOUR_SCREENSHOT_DIR "/") + QString::fromLatin1(name), "PNG");
}

TEST(QtDialogView, EveryTextFitsItsControl) {
    App();
    for (const DialogDesc& dialog : AllDialogs()) {
        DialogView view(dialog);
        for (const ControlDesc& c : dialog.controls) {
            if (c.text == nullptr || *c.text == L'\0') {
                continue;
            }
            SCOPED_TRACE(::testing::Message()
                         << "dialog " << dialog.id << ", control at " << c.x << "," << c.y);
            // The statics without id: the widget at the control's place.
            QRect place = view.Units().Rect(c.x, c.y, c.cx, c.cy);
            QWidget* w = view.Control(c.id);
            for (QWidget* child : view.findChildren<QWidget*>()) {
                if (w == nullptr && child->geometry() == place) {
                    w = child;
                }
            }
            ASSERT_NE(w, nullptr);
            if (auto* label = qobject_cast<QLabel*>(w)) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height()) << ToUtf8(c.text);
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                int needed = qobject_cast<QPushButton*>(w) != nullptr
                                 ? button->fontMetrics().horizontalAdvance(button->text()) + 8
                                 : button->sizeHint().width();
                EXPECT_LE(needed, button->width()) << ToUtf8(c.text);
            }
        }
    }
}

TEST(QtDialogView, DialogUnitsFollowTheFont) {
    App();
    // Windows' own base units for its dialog font: 6 x 13 pixels.
    qt::DialogUnits units{6, 13};
    struct Case {
        int x, y, cx, cy;
        QRect want;
    } cases[] = {
        {0, 0, 317, 179, QRect(0, 0, 476, 291)},
        {28, 43, 227, 14, QRect(42, 70, 341, 23)},
        {7, 10, 248, 9, QRect(11, 16, 372, 15)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(units.Rect(c.x, c.y, c.cx, c.cy), c.want);
    }
    QFont big = qt::DialogFont(*FindDialog(IDD_WELCOME));
    big.setPointSize(16);
    auto measured = qt::MeasureDialogUnits(big);
    auto normal = qt::MeasureDialogUnits(qt::DialogFont(*FindDialog(IDD_WELCOME)));
    EXPECT_GT(measured.baseX, normal.baseX);
    EXPECT_GT(measured.baseY, normal.baseY);
}

// Answers the Cancel question as told and counts the questions.
class AnsweringReporter final : public platform::IReporter {
  public:
    bool yes = false;
    int questions = 0;
    std::vector<std::wstring> messages;
    void ShowMessage(platform::BoxKind, const std::wstring&, const std::wstring& text) override {
        messages.push_back(text);
    }
    bool AskYesNo(const std::wstring&, const std::wstring&) override {
        ++questions;
        return yes;
    }
};

// A sysfs, /dev and /proc of the test's own, with removable disks whose
// device files hold FAT file systems.
class UsbPageOnSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        if (std::system("command -v mkfs.vfat >/dev/null 2>&1 || test -x /sbin/mkfs.vfat") != 0) {
            GTEST_SKIP() << "skipped: mkfs.vfat is needed";
        }
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        root_ = ToUtf8(scratch_.Path());
        Put(root_ + "/proc/self/mountinfo", "");
        fs::create_directories(root_ + "/sys/block");
        // A program folder with the required components; the schemes of the build.
        program_ = root_ + "/program";
        for (const char* f : {"mkisofs", "flash/syslinux", "iso/isolinux.bin"}) {
            Put(program_ + "/" + f, "");
        }
        fs::create_directory_symlink(ToUtf8(test::BinDir()) + "/schemes", program_ + "/schemes");
    }

    static void Put(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << text;
    }
    // A removable disk (device numbers 8:minor) with one FAT partition
    // (8:minor+1) labelled `label`.
    void Disk(const std::string& name, int minor, const std::string& label) {
        std::string part = name + "1";
        std::string sys = root_ + "/sys/block/" + name;
        Put(sys + "/removable", "1\n");
        Put(sys + "/size", "83968\n");  // room for a table and the partition
        Put(sys + "/dev", "8:" + std::to_string(minor) + "\n");
        Put(sys + "/" + part + "/partition", "1\n");
        Put(sys + "/" + part + "/size", "81920\n");
        Put(sys + "/" + part + "/dev", "8:" + std::to_string(minor + 1) + "\n");
        Put(root_ + "/dev/" + name, "");
        std::string image = root_ + "/dev/" + part;
        std::ofstream(image).close();
        fs::resize_file(image, 40u << 20);
        ASSERT_EQ(std::system(("PATH=$PATH:/sbin:/usr/sbin mkfs.vfat -F 32 -n " + label + " " +
                               test::Quote(image) + " >/dev/null 2>&1")
                                  .c_str()),
                  0);
    }
    // The disk's device file holds an MBR whose one partition is active.
    void PartitionTable(const std::string& name) {
        std::string mbr(512, '\0');
        const std::uint32_t first = 2048, count = 81920;
        for (int i = 0; i < 4; ++i) {
            mbr[446 + 8 + i] = static_cast<char>(first >> (8 * i));
            mbr[446 + 12 + i] = static_cast<char>(count >> (8 * i));
        }
        mbr[446] = static_cast<char>(0x80);
        mbr[446 + 4] = 0x0C;
        mbr[510] = 0x55;
        mbr[511] = static_cast<char>(0xAA);
        std::string disk = root_ + "/dev/" + name;
        std::ofstream(disk, std::ios::binary) << mbr;
        fs::resize_file(disk, (std::uintmax_t{first} + count) * 512);
    }
    void Unplug(const std::string& name) {
        fs::remove_all(root_ + "/sys/block/" + name);
        fs::remove(root_ + "/dev/" + name);
        fs::remove(root_ + "/dev/" + name + "1");
    }
    platform::LinuxVolumeConfig Config() const {
        platform::LinuxVolumeConfig c;
        c.sysRoot = root_ + "/sys";
        c.devRoot = root_ + "/dev";
        c.procRoot = root_ + "/proc";
        c.protectedPaths = {};
        return c;
    }

    test::ScratchDir scratch_;
    std::string root_;
    std::string program_;
};

std::vector<std::wstring> Column(QTreeWidget& list, int column) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        texts.push_back(list.topLevelItem(i)->text(column).toStdWString());
    }
    return texts;
}

// The real volume system, counting the enumerations (one per refresh of the list).
class CountingVolumes final : public platform::IVolumeSystem {
  public:
    explicit CountingVolumes(platform::LinuxVolumeConfig config) : real_(std::move(config)) {}
    int enumerations = 0;
    std::uint32_t LogicalDrives() override { return real_.LogicalDrives(); }
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring& root) override {
        return real_.VolumeNameForRoot(root);
    }
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override {
        ++enumerations;
        return real_.EnumerateVolumes();
    }
    bool IsRemovableVolume(const std::wstring& v) override { return real_.IsRemovableVolume(v); }
    platform::VolumeInformation ReadVolumeInformation(const std::wstring& v) override {
        return real_.ReadVolumeInformation(v);
    }
    std::optional<platform::VolumeSpace> DiskFreeSpace(const std::wstring& v) override {
        return real_.DiskFreeSpace(v);
    }
    std::optional<std::int32_t> PhysicalDriveNumber(const std::wstring& v) override {
        return real_.PhysicalDriveNumber(v);
    }
    std::wstring PhysicalDrivePath(std::int32_t n) override { return real_.PhysicalDrivePath(n); }
    std::optional<platform::DriveLayout> ReadDriveLayout(std::int32_t n) override {
        return real_.ReadDriveLayout(n);
    }
    bool RootFileExists(const std::wstring& v, std::int32_t letter,
                        std::wstring_view name) override {
        return real_.RootFileExists(v, letter, name);
    }
    platform::VolumePlace Locate(const std::wstring& v) override { return real_.Locate(v); }

  private:
    platform::LinuxVolumeSystem real_;
};

// Volume notices through a pipe: each byte written is one notice.
class PipeWatch final : public qt::IVolumeWatch {
  public:
    PipeWatch() {
        if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~PipeWatch() override {
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
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
    void Notice() { ASSERT_EQ(write(fds_[1], "x", 1), 1); }

  private:
    int fds_[2];
};

// Runs the event loop until `done` or the time is up.
template <typename Done>
bool RunUntil(Done done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return done();
}

TEST_F(UsbPageOnSysfs, ListsTheDrivesAndFollowsThemAsTheyComeAndGo) {
    Disk("sdb", 16, "STICK");
    test::TestServices services(FromUtf8(program_));
    CountingVolumes volumes(Config());
    WizardFrame frame;
    auto watch = std::make_unique<PipeWatch>();
    PipeWatch& notices = *watch;
    frame.WatchVolumes(std::move(watch));
    qt::QtReporter reporter;
    PageContext context{services.services, reporter, frame, &volumes, nullptr};
    CMainDlg sheet(context);
    ASSERT_TRUE(sheet.BuildPages(CreateWizardPages));
    frame.Open(sheet);
    Settle();

    // The title is the sheet's and stays so.
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Scourline Configuration Wizard"));
    frame.setWindowTitle(QStringLiteral("Something else"));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Scourline Configuration Wizard"));

    // Interactive start, a share on loopback, the USB disk.
    auto press = [&](WizardButton b, int page) {
        ASSERT_TRUE(frame.Press(b));
        Settle();
        ASSERT_EQ(frame.CurrentPage(), page);
    };
    press(WizardButton::Next, IDD_MODE);
    ASSERT_TRUE(frame.Click(IDC_MODE_INTERACTIVE));
    press(WizardButton::Next, IDD_LOG);
    frame.CurrentView()->SetText(IDC_LOG_SHARE, L"\\\\127.0.0.1\\logs");
    press(WizardButton::Next, IDD_SUMMARY);
    press(WizardButton::Next, IDD_MEDIA);
    ASSERT_TRUE(frame.Click(IDC_MEDIA_USB));
    press(WizardButton::Next, IDD_USB);

    auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
    auto* format = qobject_cast<QPushButton*>(frame.CurrentView()->Control(IDC_USB_FORMAT));
    ASSERT_NE(list, nullptr);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(Column(*list, 0), std::vector<std::wstring>{L"STICK (sdb1)"});
    EXPECT_EQ(Column(*list, 3), std::vector<std::wstring>{L"FAT32"});
    EXPECT_EQ(list->selectedItems().size(), 1);
    EXPECT_TRUE(format->isEnabled());
    EXPECT_EQ(frame.Buttons(), unsigned{kWizBack});
    SaveScreenshot(frame, "usb-drives.png");

    // A second stick arrives with a burst of notices: listed after one
    // refresh, and the first entry is selected again.
    Disk("sdc", 32, "SECOND");
    ASSERT_TRUE(frame.Select(IDC_USB_LIST, 0));
    int before = volumes.enumerations;
    for (int i = 0; i < 3; ++i) {
        notices.Notice();
        RunUntil([] { return false; }, 100);
    }
    EXPECT_EQ(volumes.enumerations, before) << "refreshed before the burst settled";
    EXPECT_TRUE(RunUntil([&] { return volumes.enumerations > before; }, 3000));
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(volumes.enumerations, before + 1);
    EXPECT_EQ(Column(*list, 0), (std::vector<std::wstring>{L"STICK (sdb1)", L"SECOND (sdc1)"}));
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());
    for (int col = 0; col < list->columnCount(); ++col) {
        EXPECT_GE(list->columnWidth(col), 20);
        EXPECT_LE(list->columnWidth(col), 200);
    }
    SaveScreenshot(frame, "usb-two-drives.png");

    // Both go: an empty list, nothing to format.
    Unplug("sdb");
    Unplug("sdc");
    frame.DeviceChange();
    Settle();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(format->isEnabled());
    EXPECT_EQ(frame.Buttons(), unsigned{kWizBack});

    press(WizardButton::Back, IDD_MEDIA);
    sheet.CloseDialog(kExitCancelled);
    EXPECT_EQ(frame.ExitCode(), kExitCancelled);
}

// The whole step runs from the button through the real disk operations,
// which refuse the test tree's volume (its device file is no block device of
// that disk) when they first look the disk up: the failure box comes before
// any question, nothing is written, the cursor is back.
TEST_F(UsbPageOnSysfs, FormatAndCreateRunsAndWritesNothingToAnUnverifiedVolume) {
    std::string bin = ToUtf8(test::BinDir());
    if (!fs::exists(bin + "/flash/syslinux") || !fs::exists(bin + "/common")) {
        GTEST_SKIP() << "skipped: the sample boot environment is not in the program folder";
    }
    Disk("sdb", 16, "STICK");
    PartitionTable("sdb");
    test::TestServices services(test::BinDir());
    platform::LinuxVolumeSystem volumes(Config());
    WizardFrame frame;
    AnsweringReporter reporter;
    reporter.yes = true;
    qt::FormatChoicePreparer disks(platform::CreateDiskPreparer(test::BinDir(), nullptr),
                                   [] { return std::optional<std::wstring>(L"FAT32"); });
    PageContext context{services.services, reporter, frame, &volumes, &disks};
    CMainDlg sheet(context);
    ASSERT_TRUE(sheet.BuildPages(CreateWizardPages));
    frame.Open(sheet);
    Settle();
    for (int page : {IDD_MODE, IDD_LOG}) {
        ASSERT_TRUE(frame.Press(WizardButton::Next));
        Settle();
        ASSERT_EQ(frame.CurrentPage(), page);
    }
    frame.CurrentView()->SetText(IDC_LOG_SHARE, L"\\\\127.0.0.1\\logs");
    ASSERT_TRUE(frame.Press(WizardButton::Next));
    Settle();
    ASSERT_TRUE(frame.Press(WizardButton::Next));
    Settle();
    ASSERT_EQ(frame.CurrentPage(), IDD_MEDIA);
    ASSERT_TRUE(frame.Click(IDC_MEDIA_USB));
    ASSERT_TRUE(frame.Press(WizardButton::Next));
    Settle();
    ASSERT_EQ(frame.CurrentPage(), IDD_USB);
    auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(Column(*list, 4), std::vector<std::wstring>{L"Ready"})
        << ToUtf8(Column(*list, 1)[0]) << " " << ToUtf8(Column(*list, 2)[0]) << " "
        << ToUtf8(Column(*list, 3)[0]);

    auto volumeBytes = [&] { return test::ReadFile(FromUtf8(root_ + "/dev/sdb1")); };
    auto before = volumeBytes();
    ASSERT_TRUE(frame.Click(IDC_USB_FORMAT));
    Settle();
    ASSERT_FALSE(reporter.messages.empty());
    EXPECT_EQ(reporter.messages.back().rfind(LoadText(IDS_USB_MBR_FAILED), 0), 0u);
    EXPECT_NE(reporter.messages.back().find(L"is not a volume of"), std::wstring::npos);
    EXPECT_EQ(reporter.questions, 0);
    EXPECT_TRUE(volumeBytes() == before);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(frame.CurrentView()->IsVisible(IDC_USB_PROGRESS));
    EXPECT_EQ(frame.Buttons(), unsigned{kWizBack});
    SaveScreenshot(frame, "usb-after-format-and-create.png");
    sheet.CloseDialog(kExitCancelled);
}

TEST(QtWizardFrame, EscapeAndTheCloseBoxAskFirstExceptOnTheCompletionPage) {
    App();
    test::ScratchDir scratch;
    std::wstring program = scratch / L"program";
    for (const wchar_t* f : {L"/mkisofs", L"/flash/syslinux", L"/iso/isolinux.bin"}) {
        test::MakeDirs(program + L"/flash");
        test::MakeDirs(program + L"/iso");
        test::WriteFile(program + f, "");
    }
    test::TestServices services(program);
    // Only the first and the last page, so that Next reaches the completion page.
    PageFactory twoPages = [](WizardOptions& options, PageContext& context) {
        std::vector<std::unique_ptr<CWizardPage>> pages;
        pages.push_back(std::make_unique<CWelcomePage>(options, context));
        pages.push_back(std::make_unique<CCompletionPage>(options, context));
        return pages;
    };
    struct Case {
        const char* what;
        bool onCompletion;
        bool escape;  // else the close box
        bool yes;
        int questions;
        int exitCode;  // kExitNoWindow: still open
    } cases[] = {
        {"Escape, answered No", false, true, false, 1, kExitNoWindow},
        {"close box, answered No", false, false, false, 1, kExitNoWindow},
        {"close box, answered Yes", false, false, true, 1, kExitCancelled},
        {"close box on the completion page", true, false, false, 0, kExitCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WizardFrame frame;
        AnsweringReporter reporter;
        reporter.yes = c.yes;
        PageContext context{services.services, reporter, frame, nullptr, nullptr};
        CMainDlg sheet(context);
        ASSERT_TRUE(sheet.BuildPages(twoPages));
        frame.Open(sheet);
        Settle();
        if (c.onCompletion) {
            ASSERT_TRUE(frame.Press(WizardButton::Next));
            Settle();
            ASSERT_EQ(frame.CurrentPage(), IDD_COMPLETION);
            EXPECT_EQ(frame.Buttons(), unsigned{kWizFinish});
            EXPECT_FALSE(frame.ButtonFor(WizardButton::Cancel)->isVisibleTo(&frame));
            SaveScreenshot(frame, "completion-only.png");
        }
        if (c.escape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&frame, &escape);
        } else {
            frame.close();
        }
        Settle();
        EXPECT_EQ(reporter.questions, c.questions);
        EXPECT_EQ(frame.ExitCode(), c.exitCode);
        EXPECT_EQ(frame.isVisible(), c.exitCode == kExitNoWindow);
    }
}

// Disk operations that only count the formats asked of them.
class CountingDisks final : public platform::IDiskPreparer {
  public:
    int formats = 0;
    platform::FormatFileSystem fileSystem = platform::FormatFileSystem::Automatic;
    void SetFormatFileSystem(platform::FormatFileSystem fs) override { fileSystem = fs; }
    bool Format(const platform::DiskTarget&) override {
        ++formats;
        return true;
    }
    std::optional<platform::DiskIdentity> ReadIdentity(const platform::DiskTarget&) override {
        return std::nullopt;
    }
    std::unique_ptr<platform::IVolumeLock> LockVolume(const platform::DiskTarget&) override {
        return nullptr;
    }
    std::unique_ptr<platform::IRawDisk> OpenDisk(const platform::DiskTarget&) override {
        return nullptr;
    }
    bool ReleaseVolume(const platform::DiskTarget&) override { return false; }
    bool CopyFolderContents(const platform::DiskTarget&, const std::wstring&) override {
        return false;
    }
    bool CopyFile(const platform::DiskTarget&, const std::wstring&, const std::wstring&) override {
        return false;
    }
    std::unique_ptr<platform::IInstallerRun> StartInstaller(const platform::DiskTarget&,
                                                            const std::wstring&) override {
        return nullptr;
    }
    bool RootFileExists(const platform::DiskTarget&, std::wstring_view) override { return false; }
    std::optional<platform::VolumeFacts> DescribeVolume(const platform::DiskTarget&) override {
        return std::nullopt;
    }
    bool SupportsImageFiles() const override { return false; }
    std::wstring FailureDetail() const override { return {}; }
};

TEST(QtFormatStep, FormatsOnlyAfterStart) {
    App();
    auto dialog = qt::MakeFormatDialog(nullptr);
    dialog->show();
    SaveScreenshot(*dialog, "format.png");
    auto* fileSystem = dialog->findChild<QComboBox*>(QStringLiteral("fileSystem"));
    ASSERT_NE(fileSystem, nullptr);
    EXPECT_EQ(fileSystem->currentText(), QStringLiteral("FAT32"));
    dialog->hide();

    using FS = platform::FormatFileSystem;
    struct Case {
        std::optional<std::wstring> choice;  // nothing: Cancel
        bool formatted;
        FS fileSystem;
    } cases[] = {
        {std::nullopt, false, FS::Automatic}, {L"FAT32", true, FS::Fat32}, {L"FAT", true, FS::Fat}};
    for (const auto& c : cases) {
        auto inner = std::make_unique<CountingDisks>();
        CountingDisks& counted = *inner;
        qt::FormatChoicePreparer disks(std::move(inner), [&] { return c.choice; });
        EXPECT_EQ(disks.Format(platform::DiskTarget{}), c.formatted);
        EXPECT_EQ(counted.formats, c.formatted ? 1 : 0);
        EXPECT_EQ(counted.fileSystem, c.fileSystem);
    }
}

TEST(QtWizardFrame, HelpRequestsOpenTheTopicsPageOrTheContents) {
    test::ScratchDir scratch;
    std::wstring help = scratch / L"help";
    test::MakeDirs(help + L"/HTML_Help_e/html");
    test::WriteFile(help + L"/index.html", "contents");
    test::WriteFile(help + L"/HTML_Help_e/html/a b.htm", "topic");
    QString contents = qt::ToQt(help + L"/index.html");
    struct Case {
        std::wstring request;
        QString want;
    } cases[] = {
        {help + L"/index.html", contents},
        {help + L"/index.html::HTML_Help_e/html/a b.htm!",
         qt::ToQt(help + L"/HTML_Help_e/html/a b.htm")},
        // A topic without its page: the contents.
        {help + L"/index.html::HTML_Help_e/html/missing.htm!", contents},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WizardFrame::HelpPageFor(c.request), c.want) << ToUtf8(c.request);
    }
}

}  // namespace
}  // namespace scour
