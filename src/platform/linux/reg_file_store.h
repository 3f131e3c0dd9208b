// The settings store on Linux: one key kept as a REGEDIT4 text file, so stored
// options move to and from a Windows registry export.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The store's reading and rewriting of a settings file's text, without the file.
namespace regtext {

using Values = std::vector<std::pair<std::wstring, RegValue>>;

// Whether the text holds the key: without it the store opens no key.
bool HasKey(std::string_view text);
// The names of the values in the key, in file order; a name set twice is listed twice.
std::vector<std::wstring> ValueNames(std::string_view text);
// What the key reads for name; nothing when the text has no such value it can read.
std::optional<RegValue> Query(std::string_view text, std::wstring_view name);
// Whether a value of that name may be set: the file must hold the name exactly.
bool IsStorableName(std::wstring_view name);
// The text that a commit of these values, in order, writes in place of text.
std::string Update(std::string_view text, const Values& values);

}  // namespace regtext

}  // namespace scour::platform
