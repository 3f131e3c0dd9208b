// What only the Qt frame does, on real widgets and keys, offscreen (page rules are
// the fake-view tests'); and the USB page end to end: a scripted user prepares a
// blank disk image through the frame and the real disk helper (with its image-file
// flag: pkexec cannot authenticate here), and it boots in QEMU.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "media/config_archive.h"
#include "pages/pages.h"
#include "platform/disk_ops.h"
#include "platform/linux/helper_disk_preparer.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/network_linux.h"
#include "support/test_support.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/format_choice.h"
#include "ui/qt/platform_hooks.h"
#include "ui/qt/qt_reporter.h"
#include "ui/qt/script_session.h"
#include "ui/qt/wizard_frame.h"

namespace scour {
namespace {

// One QApplication for all tests, offscreen, ended properly so that nothing it
// holds counts as leaked.
class QtEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "scourline-test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop until `done` or the time is up, so what the frame posted happens.
template <typename Done>
bool RunUntil(Done done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return done();
}
void Settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

namespace fs = std::filesystem;
using qt::DialogView;
using qt::WizardFrame;
using test::Quote;
using test::Sh;

TEST(QtDialogView, EveryTextFitsItsControl) {
    // Windows' own base units for its dialog font, 6 x 13 pixels, place as Windows would.
    EXPECT_EQ((qt::DialogUnits{6, 13}.Rect(28, 43, 227, 14)), QRect(42, 70, 341, 23));
    for (const DialogDesc& dialog : AllDialogs()) {
        DialogView view(dialog);
        for (const ControlDesc& c : dialog.controls) {
            if (c.text == nullptr || *c.text == L'\0') {
                continue;
            }
            SCOPED_TRACE(::testing::Message()
                         << "dialog " << dialog.id << ", control at " << c.x << "," << c.y);
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

// Answers the Cancel question as told and counts the questions.
class AnsweringReporter final : public platform::IReporter {
  public:
    bool yes = false;
    int questions = 0;
    void ShowMessage(platform::BoxKind, const std::wstring&, const std::wstring&) override {}
    bool AskYesNo(const std::wstring&, const std::wstring&) override {
        ++questions;
        return yes;
    }
};

using MakePage = std::function<std::unique_ptr<CWizardPage>(WizardOptions&, PageContext&)>;
template <typename Page>
MakePage Make() {
    return [](WizardOptions& o, PageContext& c) { return std::make_unique<Page>(o, c); };
}

// A real frame over the pages given, shown, with the components the sheet checks for.
struct Frame {
    explicit Frame(std::vector<MakePage> makers)
        : services(Program()),
          context{services.services, reporter, frame, nullptr, nullptr},
          sheet(context) {
        EXPECT_TRUE(sheet.BuildPages([&](WizardOptions& options, PageContext& c) {
            std::vector<std::unique_ptr<CWizardPage>> pages;
            for (const auto& make : makers) {
                pages.push_back(make(options, c));
            }
            return pages;
        }));
        frame.Open(sheet);
        Settle();
    }
    ~Frame() { sheet.CloseDialog(kExitCancelled); }
    std::wstring Program() {
        std::wstring program = scratch / L"program";
        test::MakeDirs(program + L"/flash");
        test::MakeDirs(program + L"/iso");
        for (const wchar_t* f : {L"/mkisofs", L"/flash/syslinux", L"/iso/isolinux.bin"}) {
            test::WriteFile(program + f, "");
        }
        return program;
    }
    QWidget* Control(int id) { return frame.CurrentView()->Control(id); }

    test::ScratchDir scratch;
    test::TestServices services;
    AnsweringReporter reporter;
    WizardFrame frame;
    PageContext context;
    CMainDlg sheet;
};

TEST(QtWizardFrame, EscapeAndTheCloseBoxAskFirstExceptOnTheCompletionPage) {
    struct Case {
        const char* what;
        bool onCompletion;
        bool escape;  // else the close box
        bool yes;
        int questions;
        int exitCode;  // kExitNoWindow: still open
    } cases[] = {
        {"Escape, answered No", false, true, false, 1, kExitNoWindow},
        {"close box, answered Yes", false, false, true, 1, kExitCancelled},
        {"close box on the completion page", true, false, false, 0, kExitCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Frame f({Make<CWelcomePage>(), Make<CCompletionPage>()});
        f.reporter.yes = c.yes;
        f.frame.setWindowTitle(QStringLiteral("Something else"));
        EXPECT_EQ(f.frame.windowTitle(), QStringLiteral("Scourline Configuration Wizard"));
        if (c.onCompletion) {
            ASSERT_TRUE(f.frame.Press(WizardButton::Next));
            Settle();
            ASSERT_EQ(f.frame.CurrentPage(), IDD_COMPLETION);
            EXPECT_FALSE(f.frame.ButtonFor(WizardButton::Cancel)->isVisibleTo(&f.frame));
        }
        if (c.escape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&f.frame, &escape);
        } else {
            f.frame.close();
        }
        Settle();
        EXPECT_EQ(f.reporter.questions, c.questions);
        EXPECT_EQ(f.frame.ExitCode(), c.exitCode);
        EXPECT_EQ(f.frame.isVisible(), c.exitCode == kExitNoWindow);
    }
}

// A line that fails ends the scripted run; the completion page offers Finish.
TEST(QtScriptSession, AFailedExpectationEndsTheRun) {
    Frame f({Make<CWelcomePage>(), Make<CCompletionPage>()});
    std::wstring error;
    qt::ScriptSession session(*ParseScript(L"press next\nexpect buttons next\npress back", error));
    session.Start(f.frame);
    EXPECT_TRUE(RunUntil([&] { return session.Failed(); }, 5000));
    EXPECT_EQ(f.frame.Buttons(), kWizFinish);  // still on the completion page
}

TEST(QtFrameKeys, ReturnPressesTheFocusedPushButtonElseTheDefaultButton) {
    struct Case {
        const char* what;
        MakePage page;
        int focus;  // the control that has the focus
        Qt::Key key;
        int wantCommand;  // the page's button pressed (0: none, the sheet's Next instead)
    } cases[] = {
        {"Return on Browse", Make<CIsoPage>(), IDC_ISO_BROWSE, Qt::Key_Return, IDC_ISO_BROWSE},
        {"Enter on Browse", Make<CIsoPage>(), IDC_ISO_BROWSE, Qt::Key_Enter, IDC_ISO_BROWSE},
        {"Return in the image path", Make<CIsoPage>(), IDC_ISO_PATH, Qt::Key_Return, 0},
        {"Return on a check box", Make<CLogPage>(), IDC_LOG_NETWORK, Qt::Key_Return, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Frame f({c.page});
        std::vector<int> commands;  // recorded, not acted on
        f.frame.CurrentView()->onCommand = [&](int id) { commands.push_back(id); };
        int nexts = 0;
        QPushButton* next = f.frame.ButtonFor(WizardButton::Next);
        QObject::connect(next, &QPushButton::clicked, [&] { ++nexts; });
        next->disconnect(&f.frame);  // keep the page where it is

        QWidget* target = f.Control(c.focus);
        ASSERT_NE(target, nullptr);
        ASSERT_TRUE(target->isEnabled());
        target->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(f.frame.focusWidget(), target);
        QTest::keyClick(target, c.key);
        Settle();
        EXPECT_EQ(commands,
                  c.wantCommand != 0 ? std::vector<int>{c.wantCommand} : std::vector<int>{});
        EXPECT_EQ(nexts, c.wantCommand != 0 ? 0 : 1);
        if (c.wantCommand != 0) {  // focus gone from the button: Return is Next's again
            f.Control(IDC_ISO_PATH)->setFocus();
            QTest::keyClick(f.frame.focusWidget(), Qt::Key_Return);
            Settle();
            EXPECT_EQ(nexts, 1);
        }
    }
}

TEST(QtFrameKeys, ArrowKeysAndTheFirstFocusPassOverDisabledControls) {
    Frame f({Make<CModePage>()});
    auto* automatic = qobject_cast<QRadioButton*>(f.Control(IDC_MODE_AUTO));
    auto* interactive = qobject_cast<QRadioButton*>(f.Control(IDC_MODE_INTERACTIVE));
    QWidget* selectDisks = f.Control(IDC_MODE_SELECT_DISKS);
    ASSERT_TRUE(automatic != nullptr && interactive != nullptr && selectDisks != nullptr);
    ASSERT_TRUE(f.frame.Click(IDC_MODE_AUTO));
    automatic->setFocus(Qt::TabFocusReason);

    // Each key: the button checked and focused after it; the page reacts as to a click.
    const std::pair<Qt::Key, QRadioButton*> steps[] = {
        {Qt::Key_Down, interactive}, {Qt::Key_Down, automatic},  // wraps
        {Qt::Key_Up, interactive},                               // wraps backwards
        {Qt::Key_Left, automatic},   {Qt::Key_Right, interactive},
    };
    QWidget* at = automatic;
    for (const auto& [key, want] : steps) {
        QTest::keyClick(at, key);
        Settle();
        at = f.frame.focusWidget();
        EXPECT_EQ(at, want) << key;
        EXPECT_TRUE(want->isChecked()) << key;
        EXPECT_FALSE((want == automatic ? interactive : automatic)->isChecked()) << key;
        EXPECT_EQ(selectDisks->isEnabled(), want == automatic) << key;
    }
    // A disabled button is passed over: the only other one, so nothing moves.
    f.frame.CurrentView()->Enable(IDC_MODE_AUTO, false);
    QTest::keyClick(interactive, Qt::Key_Down);
    Settle();
    EXPECT_EQ(f.frame.focusWidget(), interactive);
    EXPECT_TRUE(interactive->isChecked());
    EXPECT_FALSE(automatic->isChecked());
    // Shown again, the page's first focus skips the disabled controls before the choice.
    f.frame.ButtonFor(WizardButton::Next)->setFocus();
    f.frame.ShowPage(*f.sheet.CurrentPage());
    EXPECT_EQ(f.frame.focusWidget(), interactive);
}

// While the share test waits for its probe, windows still repaint; timers wait
// until it is over, as the test blocks the wizard.
class PaintCounter final : public QWidget {
  public:
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(QtShareTestWait, WindowsRepaintWhileTheProbeWaitsTimersWaitForTheEnd) {
    using namespace std::chrono_literals;
    test::SilentListener silent;
    platform::ShareProbeSettings settings;
    settings.program = ToUtf8(test::BinDir() + L"/scourline-share-probe");
    settings.port = silent.Port();
    settings.deadline = 1500ms;
    platform::LinuxNetwork network(settings);
    qt::KeepWindowsAliveDuringShareTests(&network);

    PaintCounter window;
    window.resize(200, 100);
    window.show();
    Settle();
    window.paints = 0;
    int timers = 0;
    QTimer::singleShot(100, &window, [&] { ++timers; });
    window.update();  // pending when the test begins to wait, as after an exposure
    unsigned long code = network.TestShareConnection(L"\\\\127.0.0.1\\logs", L"wiper", L"secret");
    int paintsWhileWaiting = window.paints;
    int timersWhileWaiting = timers;

    EXPECT_EQ(code, 53ul);  // given up at the deadline
    EXPECT_GE(paintsWhileWaiting, 1);
    EXPECT_EQ(timersWhileWaiting, 0);
    Settle();
    EXPECT_EQ(timers, 1);
}

// A disk image listed as a removable drive, both volume and disk, described
// afresh by the real disk operations on every call.
class ImageVolumes final : public platform::IVolumeSystem {
  public:
    explicit ImageVolumes(const std::string& image) : name_(FromUtf8(image)) {}

    std::uint32_t LogicalDrives() override { return 0; }
    std::optional<std::wstring> VolumeNameForRoot(const std::wstring&) override { return {}; }
    std::optional<std::vector<std::wstring>> EnumerateVolumes() override {
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
    std::optional<platform::DriveLayout> ReadDriveLayout(std::int32_t) override {
        if (!Facts().hasPartitionTable) {
            return std::nullopt;
        }
        return platform::DriveLayout{1, 32256};
    }
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
        frame.Open(sheet);
        session.Start(frame);

        bool done = RunUntil(
            [&] {
                // The end: the prepared disk in the list read again, buttons set.
                if (session.Failed()) {
                    return true;
                }
                if (frame.CurrentPage() != IDD_USB || frame.Buttons() != (kWizBack | kWizNext)) {
                    return false;
                }
                auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
                return list != nullptr && list->topLevelItemCount() == 1 &&
                       list->topLevelItem(0)->text(4) == QStringLiteral("Bootable disk");
            },
            240000);
        qt::SetActiveScript(nullptr);
        ASSERT_FALSE(session.Failed()) << "the script failed: its line is on stderr";
        ASSERT_TRUE(done) << "no preparation within four minutes";
        auto* list = qobject_cast<QTreeWidget*>(frame.CurrentView()->Control(IDC_USB_LIST));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->topLevelItem(0)->text(3), QStringLiteral("FAT32"));
        EXPECT_TRUE(list->topLevelItem(0)->isSelected());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the busy cursor is gone

        ASSERT_TRUE(
            WriteConfigArchive(sheet.Options(), scratch / L"want.scour", services.services));
        sheet.CloseDialog(kExitCancelled);
    }

    const std::string dir = ToUtf8(scratch.Path());
    const std::string tools = ToUtf8(test::SourceDir()) + "/tests/boot";
    int status = -1;
    fs::create_directories(dir + "/want");
    std::string out = Sh("cd " + Quote(dir + "/want") +
                             " && cpio -id --quiet --no-absolute-filenames < ../want.scour",
                         &status);
    ASSERT_EQ(status, 0) << out;

    // The one disk, on BIOS and from its FAT partition on UEFI, Secure Boot off and on:
    // Linux receives exactly the archive's files, scheme files included.
    for (const std::string firmware : {"bios", "uefi", "secureboot"}) {
        const std::string log = Quote(dir + "/boot-" + firmware + ".log");
        const std::string got = Quote(dir + "/got-" + firmware);
        out = Sh("bash " + Quote(tools + "/boot-medium.sh") + " disk " + Quote(image) + " " + log +
                     " " + firmware + " && python3 " + Quote(tools + "/extract-boot-log.py") + " " +
                     log + " " + got + " && diff -r " + Quote(dir + "/want") + " " + got + "/files",
                 &status);
        EXPECT_EQ(status, 0) << firmware << ": " << out;
    }
}

}  // namespace
}  // namespace scour
