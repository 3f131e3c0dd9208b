// Platform services that the portable layers call: where things are, the
// temporary folder, 8-bit text for the boot environment, and child processes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scour::platform {

class IEnvironment {
  public:
    virtual ~IEnvironment() = default;
    // Folder of the running executable, without a trailing separator; empty if unknown.
    virtual std::wstring ProgramFolder() = 0;
    // The user's documents folder, or nothing when it cannot be determined.
    virtual std::optional<std::wstring> DocumentsFolder() = 0;
};

class ITempFiles {
  public:
    virtual ~ITempFiles() = default;
    // The system temporary folder, ending in a separator; nothing when unknown.
    virtual std::optional<std::wstring> TempFolder() = 0;
    // Makes a new, empty file with a unique name that starts with the prefix
    // (at least its first three characters) in the temporary folder.
    virtual std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) = 0;
    // Makes a new, empty folder likewise. Nothing when it could not be created.
    virtual std::optional<std::wstring> CreateTempFolder(std::wstring_view prefix) = 0;
};

// 8-bit text: the thread's ANSI code page on Windows, the locale's character
// set on Linux. Characters the set lacks become its default character ("?").
class ITextCodec {
  public:
    virtual ~ITextCodec() = default;
    virtual std::string ToSystem8Bit(std::wstring_view text) = 0;
    virtual std::wstring FromSystem8Bit(std::string_view text) = 0;
};

struct ProcessRequest {
    // The whole command line, as Windows takes it and as messages show it.
    std::wstring commandLine;
    // The same command as an argument vector; Linux starts argv[0] with these.
    std::vector<std::wstring> argv;
    std::wstring workingFolder;
};

struct ProcessResult {
    bool started = false;
    bool exitCodeKnown = false;
    unsigned long exitCode = 0;
};

class IProcessRunner {
  public:
    virtual ~IProcessRunner() = default;
    // Starts the program hidden (no window, no inherited handles) and waits for it to end.
    virtual ProcessResult RunHidden(const ProcessRequest& request) = 0;
};

}  // namespace scour::platform
