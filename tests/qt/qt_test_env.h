// One QApplication for all tests of a binary, on the offscreen platform, ended
// properly so that nothing it holds counts as leaked; and what the Qt tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace scour::test {

class QtEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
            std::string dir = std::filesystem::temp_directory_path().string() + "/qt-runtime-" +
                              std::to_string(getuid());
            std::filesystem::create_directories(dir);
            chmod(dir.c_str(), 0700);
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
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

inline ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop until `done` or the time is up; lets what the frame
// posted (button states, clicks) happen.
template <typename Done>
bool RunUntil(Done done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return done();
}
inline void Settle() {
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents();
    }
}

inline void SaveScreenshot(QWidget& widget, const char* name) {
    QDir().mkpath(QStringLiteral(SCOUR_SCREENSHOT_DIR));
    widget.grab().save(QStringLiteral(SCOUR_SCREENSHOT_DIR "/") + QString::fromLatin1(name), "PNG");
}

inline std::vector<std::wstring> Column(QTreeWidget& list, int column) {
    std::vector<std::wstring> texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        texts.push_back(list.topLevelItem(i)->text(column).toStdWString());
    }
    return texts;
}

}  // namespace scour::test
