// One QApplication for all tests of a binary, on the offscreen platform, ended
// properly so that nothing it holds counts as leaked.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <filesystem>
#include <memory>
#include <string>

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

}  // namespace scour::test
