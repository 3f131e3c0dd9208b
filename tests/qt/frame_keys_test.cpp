// The keyboard on the Qt frame, with real key events: Return on a focused
// push button presses that button, elsewhere the sheet's default button; the
// arrow keys move the choice within a radio group.
#include <gtest/gtest.h>

#include "qt_test_env.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "app/resource_ids.h"
#include "pages/pages.h"
#include "support/test_support.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/wizard_frame.h"

namespace scour {
namespace {

using qt::WizardFrame;

void Settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

// A program folder with the components the sheet checks for.
std::wstring ProgramFolder(const test::ScratchDir& scratch) {
    std::wstring program = scratch / L"program";
    test::MakeDirs(program + L"/flash");
    test::MakeDirs(program + L"/iso");
    for (const wchar_t* f : {L"/mkisofs", L"/flash/syslinux", L"/iso/isolinux.bin"}) {
        test::WriteFile(program + f, "");
    }
    return program;
}

// One page in a real frame, shown and active.
struct OnePage {
    explicit OnePage(std::function<std::unique_ptr<CWizardPage>(WizardOptions&, PageContext&)> make)
        : services(ProgramFolder(scratch)),
          context{services.services, reporter, frame, nullptr, nullptr},
          sheet(context) {
        EXPECT_TRUE(sheet.BuildPages([&](WizardOptions& options, PageContext& c) {
            std::vector<std::unique_ptr<CWizardPage>> pages;
            pages.push_back(make(options, c));
            return pages;
        }));
        frame.Open(sheet);
        Settle();
    }
    ~OnePage() { sheet.CloseDialog(kExitCancelled); }
    QWidget* Control(int id) { return frame.CurrentView()->Control(id); }

    test::ScratchDir scratch;
    test::TestServices services;
    test::YesReporter reporter;
    WizardFrame frame;
    PageContext context;
    CMainDlg sheet;
};

template <typename Page>
std::function<std::unique_ptr<CWizardPage>(WizardOptions&, PageContext&)> Make() {
    return [](WizardOptions& o, PageContext& c) { return std::make_unique<Page>(o, c); };
}

TEST(QtFrameKeys, ReturnPressesTheFocusedPushButtonElseTheDefaultButton) {
    struct Case {
        const char* what;
        std::function<std::unique_ptr<CWizardPage>(WizardOptions&, PageContext&)> page;
        int enableFirst;  // a check box clicked first to enable the control (0: none)
        int focus;        // the control that has the focus
        Qt::Key key;
        int wantCommand;  // the page's button pressed (0: none)
        bool wantNext;    // the sheet's Next pressed
    } cases[] = {
        {"Return on Browse (ISO page)", Make<CIsoPage>(), 0, IDC_ISO_BROWSE, Qt::Key_Return,
         IDC_ISO_BROWSE, false},
        {"Enter on Browse (ISO page)", Make<CIsoPage>(), 0, IDC_ISO_BROWSE, Qt::Key_Enter,
         IDC_ISO_BROWSE, false},
        {"Return on Test (log page)", Make<CLogPage>(), IDC_LOG_NETWORK, IDC_LOG_TEST,
         Qt::Key_Return, IDC_LOG_TEST, false},
        {"Return in the image path", Make<CIsoPage>(), 0, IDC_ISO_PATH, Qt::Key_Return, 0, true},
        {"Return in the share box", Make<CLogPage>(), IDC_LOG_NETWORK, IDC_LOG_SHARE,
         Qt::Key_Return, 0, true},
        {"Return on a check box", Make<CLogPage>(), 0, IDC_LOG_NETWORK, Qt::Key_Return, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OnePage p(c.page);
        if (c.enableFirst != 0) {
            ASSERT_TRUE(p.frame.Click(c.enableFirst));
        }
        // What the keys press is recorded, not acted on.
        std::vector<int> commands;
        p.frame.CurrentView()->onCommand = [&](int id) { commands.push_back(id); };
        int nexts = 0;
        QObject::connect(p.frame.ButtonFor(WizardButton::Next), &QPushButton::clicked,
                         [&] { ++nexts; });
        // The Next button is wired to the sheet: keep the page where it is.
        p.frame.ButtonFor(WizardButton::Next)->disconnect(&p.frame);

        QWidget* target = p.Control(c.focus);
        ASSERT_NE(target, nullptr);
        ASSERT_TRUE(target->isEnabled());
        target->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(p.frame.focusWidget(), target);
        QTest::keyClick(target, c.key);
        Settle();
        EXPECT_EQ(commands,
                  c.wantCommand != 0 ? std::vector<int>{c.wantCommand} : std::vector<int>{});
        EXPECT_EQ(nexts, c.wantNext ? 1 : 0);
        // Focus gone from the button: Return belongs to Next again.
        if (c.wantCommand != 0) {
            p.Control(c.enableFirst != 0 ? c.enableFirst : IDC_ISO_PATH)->setFocus();
            QTest::keyClick(p.frame.focusWidget(), Qt::Key_Return);
            Settle();
            EXPECT_EQ(nexts, 1);
        }
    }
}

TEST(QtFrameKeys, ArrowKeysMoveTheChoiceWithinTheRadioGroup) {
    OnePage p(Make<CModePage>());
    auto* automatic = qobject_cast<QRadioButton*>(p.Control(IDC_MODE_AUTO));
    auto* interactive = qobject_cast<QRadioButton*>(p.Control(IDC_MODE_INTERACTIVE));
    QWidget* selectDisks = p.Control(IDC_MODE_SELECT_DISKS);
    ASSERT_TRUE(automatic != nullptr && interactive != nullptr && selectDisks != nullptr);
    ASSERT_TRUE(p.frame.Click(IDC_MODE_AUTO));
    automatic->setFocus(Qt::TabFocusReason);

    // Each key on the focused button: the one checked and focused after it.
    // The page reacts as to a click: "select drives" follows automatic start.
    struct Step {
        Qt::Key key;
        QRadioButton* want;
    } steps[] = {
        {Qt::Key_Down, interactive}, {Qt::Key_Down, automatic},  // wraps
        {Qt::Key_Up, interactive},                               // wraps backwards
        {Qt::Key_Left, automatic},   {Qt::Key_Right, interactive},
    };
    QWidget* at = automatic;
    for (const auto& step : steps) {
        QTest::keyClick(at, step.key);
        Settle();
        at = p.frame.focusWidget();
        QRadioButton* other = step.want == automatic ? interactive : automatic;
        EXPECT_EQ(at, step.want) << step.key;
        EXPECT_TRUE(step.want->isChecked()) << step.key;
        EXPECT_FALSE(other->isChecked()) << step.key;
        EXPECT_EQ(selectDisks->isEnabled(), step.want == automatic) << step.key;
    }

    // A disabled button is passed over: the only other one, so nothing moves.
    p.frame.CurrentView()->Enable(IDC_MODE_AUTO, false);
    QTest::keyClick(interactive, Qt::Key_Down);
    Settle();
    EXPECT_EQ(p.frame.focusWidget(), interactive);
    EXPECT_TRUE(interactive->isChecked());
    EXPECT_FALSE(automatic->isChecked());
}

}  // namespace
}  // namespace scour
