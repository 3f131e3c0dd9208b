#pragma once

#include "platform/system.h"

namespace scour::platform {

class Win32Environment final : public IEnvironment {
  public:
    std::wstring ProgramFolder() override;
    // SHGetFolderPathW(CSIDL_PERSONAL).
    std::optional<std::wstring> DocumentsFolder() override;
};

class Win32TempFiles final : public ITempFiles {
  public:
    std::optional<std::wstring> TempFolder() override;
    // GetTempFileNameW, unique number 0: the system picks the name and creates the file.
    std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) override;
    // A unique file name, the file deleted and a folder made in its place.
    std::optional<std::wstring> CreateTempFolder(std::wstring_view prefix) override;
};

// The thread's ANSI code page, with its default character for what it lacks.
class AnsiTextCodec final : public ITextCodec {
  public:
    std::string ToSystem8Bit(std::wstring_view text) override;
    std::wstring FromSystem8Bit(std::string_view text) override;
};

class Win32ProcessRunner final : public IProcessRunner {
  public:
    // CreateProcessW with the command line as it stands, hidden, in the working folder.
    ProcessResult RunHidden(const ProcessRequest& request) override;
};

}  // namespace scour::platform
