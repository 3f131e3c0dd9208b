#pragma once

#include "platform/system.h"

namespace scour::platform {

class LinuxEnvironment final : public IEnvironment {
  public:
    std::wstring ProgramFolder() override;
    // xdg-user-dir DOCUMENTS, else $HOME/Documents when it exists, else $HOME.
    std::optional<std::wstring> DocumentsFolder() override;
};

class LinuxTempFiles final : public ITempFiles {
  public:
    // $TMPDIR when set and a folder, else /tmp.
    std::optional<std::wstring> TempFolder() override;
    std::optional<std::wstring> CreateTempFile(std::wstring_view prefix) override;
    std::optional<std::wstring> CreateTempFolder(std::wstring_view prefix) override;
};

// The locale's character set (LC_CTYPE); call setlocale(LC_CTYPE, "") at start-up.
class LocaleTextCodec final : public ITextCodec {
  public:
    std::string ToSystem8Bit(std::wstring_view text) override;
    std::wstring FromSystem8Bit(std::string_view text) override;
};

class PosixProcessRunner final : public IProcessRunner {
  public:
    ProcessResult RunHidden(const ProcessRequest& request) override;
};

}  // namespace scour::platform
