// How the options' values look in the settings store, and the rules that decide
// whether a stored value is usable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace scour {

// Stored texts are read into a buffer of this many characters, terminator included.
inline constexpr std::size_t kStoredTextChars = 260;

// A REG_DWORD of exactly four bytes, as a signed number; nothing otherwise.
std::optional<std::int32_t> DecodeDword(const platform::RegValue& value);
// A REG_SZ or REG_EXPAND_SZ that fits the text buffer, has an even size and ends in a
// zero character (or is empty); the text up to its first zero character. Nothing otherwise.
std::optional<std::wstring> DecodeText(const platform::RegValue& value);

std::vector<std::uint8_t> EncodeDword(std::int32_t value);
// UTF-16LE with the terminating zero: (characters + 1) * 2 bytes.
std::vector<std::uint8_t> EncodeText(std::wstring_view text);
// True when the text, stored, would be read back by DecodeText.
bool FitsStoredText(std::wstring_view text);

}  // namespace scour
