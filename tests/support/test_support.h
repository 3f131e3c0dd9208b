// Shared test helpers: scratch folders, file contents, and real platform
// services pointed at a test's own folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reporter.h"
#include "platform/services.h"

namespace scour::test {

// Build-time folders as this platform sees them (Z:\... under Wine).
std::wstring BinDir();        // the program folder of the build
std::wstring SourceDir();     // the source tree
std::wstring TestToolsDir();  // tests/tools executables

// A fresh folder below the system temporary folder, removed with its content at scope end.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(std::wstring_view name) const;

  private:
    std::wstring path_;
};

void WriteFile(const std::wstring& path, std::string_view bytes);
std::optional<std::string> ReadFile(const std::wstring& path);
bool Exists(const std::wstring& path);
void MakeDirs(const std::wstring& path);

#ifndef _WIN32
// A shell command's output and stderr, trailing line feeds cut; its exit status or -1.
std::string Sh(const std::string& command, int* status = nullptr);
std::string Quote(const std::string& text);  // one shell word, whatever the text holds

// A port on 127.0.0.1 where connections are accepted and never answered.
class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int Port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

int ClosedPort();  // a port on 127.0.0.1 that refuses connections
#endif

// Shows nothing and answers Yes to every question.
class YesReporter final : public platform::IReporter {
  public:
    void ShowMessage(platform::BoxKind, const std::wstring&, const std::wstring&) override {}
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return true; }
};

class TestEnvironment final : public platform::IEnvironment {
  public:
    std::wstring programFolder;
    std::optional<std::wstring> documentsFolder;
    std::wstring ProgramFolder() override { return programFolder; }
    std::optional<std::wstring> DocumentsFolder() override { return documentsFolder; }
};

// Real services (settings may be swapped) with the program folder of the test's choice.
struct TestServices {
    TestEnvironment environment;
    platform::Services services;
    explicit TestServices(std::wstring programFolder);
    TestServices(const TestServices&) = delete;
    TestServices& operator=(const TestServices&) = delete;
    operator const platform::Services&() const { return services; }
};

}  // namespace scour::test
