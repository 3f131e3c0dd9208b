#include "platform/win32/registry_store.h"

#include <windows.h>

#include <utility>

namespace scour::platform {

namespace {

class RegistryKey final : public ISettingsKey {
  public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() override { RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Query(std::wstring_view name, RegValue& out) override {
        std::wstring valueName(name);
        if (valueName.find(L'\0') != std::wstring::npos) {
            return false;
        }
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        std::vector<std::uint8_t> data;
        // The value may grow between the two calls; then ask again with the new size.
        for (int attempt = 0; attempt < 4; ++attempt) {
            data.resize(size);
            DWORD got = size;
            LONG rc = RegQueryValueExW(key_, valueName.c_str(), nullptr, &type,
                                       data.empty() ? nullptr : data.data(), &got);
            if (rc == ERROR_SUCCESS) {
                data.resize(got);
                out.type = type;
                out.data = std::move(data);
                return true;
            }
            if (rc != ERROR_MORE_DATA) {
                return false;
            }
            size = got;
        }
        return false;
    }

    bool Set(std::wstring_view name, std::uint32_t type,
             const std::vector<std::uint8_t>& data) override {
        std::wstring valueName(name);
        if (valueName.find(L'\0') != std::wstring::npos) {
            return false;
        }
        // For string types the registry looks one character past the given size and, when
        // that is zero, stores it too as a forgotten terminator. A non-zero character behind
        // the data keeps the stored bytes exact, and the look stays inside our buffer.
        std::vector<std::uint8_t> padded(data);
        padded.insert(padded.end(), 3, 0xFF);
        return RegSetValueExW(key_, valueName.c_str(), 0, type, padded.data(),
                              static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }

    // The registry makes its writes durable itself.
    long Commit() override { return 0; }

  private:
    HKEY key_;
};

}  // namespace

RegistryStore::RegistryStore(std::wstring subKey) : subKey_(std::move(subKey)) {}

std::unique_ptr<ISettingsKey> RegistryStore::OpenKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey_.c_str(), 0, KEY_READ | KEY_WRITE, &key) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<RegistryKey>(key);
}

std::unique_ptr<ISettingsKey> RegistryStore::CreateKey(long& status) {
    HKEY key = nullptr;
    LONG rc =
        RegCreateKeyExW(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    status = rc;
    if (rc != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<RegistryKey>(key);
}

}  // namespace scour::platform
