// The settings store on Windows: a key under HKEY_CURRENT_USER.
#pragma once

#include <memory>
#include <string>

#include "platform/settings_store.h"

namespace scour::platform {

class RegistryStore final : public ISettingsStore {
  public:
    static constexpr const wchar_t* kDefaultKey = L"SOFTWARE\\Valdane\\Scourline\\Data";
    explicit RegistryStore(std::wstring subKey = kDefaultKey);

    std::unique_ptr<ISettingsKey> OpenKey() override;
    std::unique_ptr<ISettingsKey> CreateKey(long& status) override;

  private:
    std::wstring subKey_;
};

}  // namespace scour::platform
