// The Qt frame on the offscreen platform, with real widgets and key events:
// every dialog's texts fit their controls, Escape and the close box, the keys,
// help pages, the format step over the real disk operations, and repaints
// while the share test waits.
#include <gtest/gtest.h>

#include "qt_test_env.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "pages/pages.h"
#include "platform/disk_ops.h"
#include "platform/linux/network_linux.h"
#include "support/test_support.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/format_choice.h"
#include "ui/qt/platform_hooks.h"
#include "ui/qt/wizard_frame.h"

namespace scour {
namespace {

namespace fs = std::filesystem;
using qt::DialogView;
using qt::WizardFrame;
using test::Settle;

TEST(QtDialogView, EveryTextFitsItsControl) {
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
    // Windows' own base units for its dialog font: 6 x 13 pixels.
    EXPECT_EQ((qt::DialogUnits{6, 13}.Rect(28, 43, 227, 14)), QRect(42, 70, 341, 23));
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

// A real frame over the pages given, shown, in a program folder with the
// components the sheet checks for.
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
        // Only the first and the last page, so that Next reaches the completion page.
        Frame f({Make<CWelcomePage>(), Make<CCompletionPage>()});
        f.reporter.yes = c.yes;
        // The title is the sheet's and stays so.
        f.frame.setWindowTitle(QStringLiteral("Something else"));
        EXPECT_EQ(f.frame.windowTitle(), QStringLiteral("Scourline Configuration Wizard"));
        if (c.onCompletion) {
            ASSERT_TRUE(f.frame.Press(WizardButton::Next));
            Settle();
            ASSERT_EQ(f.frame.CurrentPage(), IDD_COMPLETION);
            EXPECT_EQ(f.frame.Buttons(), unsigned{kWizFinish});
            EXPECT_FALSE(f.frame.ButtonFor(WizardButton::Cancel)->isVisibleTo(&f.frame));
            test::SaveScreenshot(f.frame, "completion-only.png");
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
        // What the keys press is recorded, not acted on.
        std::vector<int> commands;
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
        // Focus gone from the button: Return belongs to Next again.
        if (c.wantCommand != 0) {
            f.Control(IDC_ISO_PATH)->setFocus();
            QTest::keyClick(f.frame.focusWidget(), Qt::Key_Return);
            Settle();
            EXPECT_EQ(nexts, 1);
        }
    }
}

TEST(QtFrameKeys, ArrowKeysMoveTheChoiceWithinTheRadioGroup) {
    Frame f({Make<CModePage>()});
    auto* automatic = qobject_cast<QRadioButton*>(f.Control(IDC_MODE_AUTO));
    auto* interactive = qobject_cast<QRadioButton*>(f.Control(IDC_MODE_INTERACTIVE));
    QWidget* selectDisks = f.Control(IDC_MODE_SELECT_DISKS);
    ASSERT_TRUE(automatic != nullptr && interactive != nullptr && selectDisks != nullptr);
    ASSERT_TRUE(f.frame.Click(IDC_MODE_AUTO));
    automatic->setFocus(Qt::TabFocusReason);

    // Each key on the focused button: the one checked and focused after it.
    // The page reacts as to a click: "select drives" follows automatic start.
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
}

// The help script opens the contents and a topic; a topic without its page
// opens the contents.
TEST(QtWizardFrame, HelpRequestsOpenTheTopicsPageOrTheContents) {
    test::ScratchDir scratch;
    const std::wstring help = scratch / L"help";
    test::MakeDirs(help);
    test::WriteFile(help + L"/index.html", "contents");
    EXPECT_EQ(WizardFrame::HelpPageFor(help + L"/index.html::HTML_Help_e/html/missing.htm!"),
              qt::ToQt(help + L"/index.html"));
}

// The file system chosen in the format dialog reaches the real disk
// operations; Cancel asks the disk nothing. (The helper's own refusals and
// FAT32 are proven in tests/linux and the USB image test.)
TEST(QtFormatStep, FormatsOnlyAfterStartWithTheChosenFileSystem) {
    auto dialog = qt::MakeFormatDialog(nullptr);
    dialog->show();
    test::SaveScreenshot(*dialog, "format.png");
    auto* fileSystem = dialog->findChild<QComboBox*>(QStringLiteral("fileSystem"));
    ASSERT_NE(fileSystem, nullptr);
    EXPECT_EQ(fileSystem->currentText(), QStringLiteral("FAT32"));
    dialog->hide();

    // A disk image with one partition of 30 MiB at sector 2048.
    test::ScratchDir scratch;
    const std::string image = ToUtf8(scratch / L"usb.img");
    std::string mbr(512, '\0');
    mbr[446 + 9] = 2048 >> 8;
    mbr[446 + 13] = static_cast<char>((30 * 2048) >> 8);
    mbr[446 + 4] = 0x0C;
    mbr[510] = 0x55;
    mbr[511] = static_cast<char>(0xAA);
    std::ofstream(image, std::ios::binary) << mbr;
    fs::resize_file(image, std::uintmax_t{31} * 2048 * 512);
    for (const std::optional<std::wstring>& choice : {std::optional<std::wstring>(), {L"FAT"}}) {
        qt::FormatChoicePreparer disks(platform::CreateDiskPreparer(test::BinDir(), nullptr),
                                       [&] { return choice; });
        platform::DiskTarget target;
        target.volumePath = target.diskPath = FromUtf8(image);
        ASSERT_EQ(disks.Format(target), choice.has_value()) << ToUtf8(disks.FailureDetail());
        const auto after = test::ReadFile(FromUtf8(image)).value_or("");
        EXPECT_EQ(after.substr(std::size_t{2048} * 512 + 54, 5),
                  choice ? "FAT16" : std::string(5, '\0'));
        EXPECT_EQ(disks.FailureDetail(), L"");
    }
}

// While the share test waits for its probe, the wizard's windows still
// repaint; input and timers wait until the test is over, as the test blocks
// the wizard.
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
    test::Settle();
    window.paints = 0;
    int timers = 0;
    QTimer::singleShot(100, &window, [&] { ++timers; });
    // A repaint asked for from elsewhere while the test waits, as an exposure
    // would ask for one.
    std::atomic<bool> asked = false;
    std::thread elsewhere([&] {
        std::this_thread::sleep_for(300ms);
        QMetaObject::invokeMethod(
            &window,
            [&] {
                asked = true;
                window.update();
            },
            Qt::QueuedConnection);
    });
    unsigned long code = network.TestShareConnection(L"\\\\127.0.0.1\\logs", L"wiper", L"secret");
    int paintsWhileWaiting = window.paints;
    int timersWhileWaiting = timers;
    elsewhere.join();

    EXPECT_EQ(code, 53ul);  // given up at the deadline
    EXPECT_TRUE(asked);
    EXPECT_GE(paintsWhileWaiting, 1);
    EXPECT_EQ(timersWhileWaiting, 0);
    test::Settle();
    EXPECT_EQ(timers, 1);
}

}  // namespace
}  // namespace scour
