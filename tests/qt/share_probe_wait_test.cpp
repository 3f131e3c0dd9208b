// While the share test waits for its probe, the wizard's windows still
// repaint; input and timers wait until the test is over, as the test blocks
// the wizard.
#include <gtest/gtest.h>

#include "qt_test_env.h"

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/text.h"
#include "platform/linux/network_linux.h"
#include "support/test_support.h"
#include "ui/qt/platform_hooks.h"

namespace scour {
namespace {

using namespace std::chrono_literals;

class PaintCounter final : public QWidget {
  public:
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(QtShareTestWait, WindowsRepaintWhileTheProbeWaitsTimersWaitForTheEnd) {
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
