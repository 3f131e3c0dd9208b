// The settings store on Linux: one key kept as a REGEDIT4 text file, so stored
// options move to and from a Windows registry export.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/settings_store.h"

namespace scour::platform {

class RegFileStore final : public ISettingsStore {
  public:
    explicit RegFileStore(std::filesystem::path file);
    // $XDG_CONFIG_HOME/Valdane/Scourline/Data.reg, with ~/.config when the variable is unset.
    static std::filesystem::path DefaultPath();

    std::unique_ptr<ISettingsKey> OpenKey() override;
    std::unique_ptr<ISettingsKey> CreateKey(long& status) override;

    const std::filesystem::path& File() const { return file_; }

  private:
    std::filesystem::path file_;
};

}  // namespace scour::platform
