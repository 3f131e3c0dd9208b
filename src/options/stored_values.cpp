#include "options/stored_values.h"

#include "base/text.h"

namespace scour {

std::optional<std::int32_t> DecodeDword(const platform::RegValue& value) {
    if (value.type != platform::kRegDword || value.data.size() != 4) {
        return std::nullopt;
    }
    const auto& d = value.data;
    std::uint32_t u = static_cast<std::uint32_t>(d[0]) | (static_cast<std::uint32_t>(d[1]) << 8) |
                      (static_cast<std::uint32_t>(d[2]) << 16) |
                      (static_cast<std::uint32_t>(d[3]) << 24);
    return static_cast<std::int32_t>(u);
}

std::optional<std::wstring> DecodeText(const platform::RegValue& value) {
    if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) {
        return std::nullopt;
    }
    const auto& d = value.data;
    if (d.empty()) {
        return std::wstring();
    }
    if (d.size() > kStoredTextChars * 2 || d.size() % 2 != 0 || d[d.size() - 2] != 0 ||
        d[d.size() - 1] != 0) {
        return std::nullopt;
    }
    // The text ends at its first zero character, as it would in the buffer.
    std::size_t units = 0;
    while (d[units * 2] != 0 || d[units * 2 + 1] != 0) {
        ++units;
    }
    return FromUtf16Le(d.data(), units * 2);
}

std::vector<std::uint8_t> EncodeDword(std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::vector<std::uint8_t> EncodeText(std::wstring_view text) {
    auto bytes = ToUtf16Le(text);
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

bool FitsStoredText(std::wstring_view text) {
    // Counted in UTF-16 units, which is what the buffer holds.
    return ToUtf16Le(text).size() / 2 < kStoredTextChars;
}

}  // namespace scour
