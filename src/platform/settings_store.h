// A key-value store with the registry's semantics: typed values, exact byte
// sizes. Windows keeps it in the registry, Linux in a REGEDIT4 text file.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace scour::platform {

// Value types, numbered as the registry numbers them.
enum RegType : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegQword = 11,
};

struct RegValue {
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;
};

// One open key. Writes may be buffered until Commit.
class ISettingsKey {
  public:
    virtual ~ISettingsKey() = default;
    // False when the value does not exist or cannot be read.
    virtual bool Query(std::wstring_view name, RegValue& out) = 0;
    virtual bool Set(std::wstring_view name, std::uint32_t type,
                     const std::vector<std::uint8_t>& data) = 0;
    // Makes the writes durable; 0 on success, otherwise a non-zero status.
    virtual long Commit() = 0;
};

class ISettingsStore {
  public:
    virtual ~ISettingsStore() = default;
    // Opens the key for reading and writing; null when it does not exist or cannot be opened.
    virtual std::unique_ptr<ISettingsKey> OpenKey() = 0;
    // Opens the key, creating it when missing; null with a non-zero status on failure.
    virtual std::unique_ptr<ISettingsKey> CreateKey(long& status) = 0;
};

}  // namespace scour::platform
