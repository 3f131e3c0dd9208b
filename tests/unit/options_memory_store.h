// The stored options in memory: values of any type and size, a failing
// CreateKey, and a count of the openings.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace scour::test {

class MemoryStore final : public platform::ISettingsStore {
  public:
    std::map<std::wstring, platform::RegValue> values;
    bool exists = false;
    long createStatus = 0;
    int opened = 0;

    void Set(std::wstring_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
        values[std::wstring(name)] = {type, data};
        exists = true;
    }
    std::unique_ptr<platform::ISettingsKey> OpenKey() override {
        ++opened;
        return exists ? std::make_unique<Key>(*this) : nullptr;
    }
    std::unique_ptr<platform::ISettingsKey> CreateKey(long& status) override {
        status = createStatus;
        exists = exists || status == 0;
        return status == 0 ? std::make_unique<Key>(*this) : nullptr;
    }

  private:
    struct Key final : platform::ISettingsKey {
        MemoryStore& store;
        explicit Key(MemoryStore& s) : store(s) {}
        bool Query(std::wstring_view name, platform::RegValue& out) override {
            auto it = store.values.find(std::wstring(name));
            return it != store.values.end() && (out = it->second, true);
        }
        bool Set(std::wstring_view name, std::uint32_t type,
                 const std::vector<std::uint8_t>& data) override {
            store.Set(name, type, data);
            return true;
        }
        long Commit() override { return 0; }
    };
};

}  // namespace scour::test
