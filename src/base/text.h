// Text and path helpers shared by every layer. Standard library only: the
// platform split below is a matter of wchar_t width and path separator, not of
// system headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace scour {

// Paths are built in buffers of this many characters, terminator included, so
// a usable path has at most kMaxPath - 1 characters.
inline constexpr std::size_t kMaxPath = 260;
// Command lines are built in buffers of this many characters.
inline constexpr std::size_t kMaxCommandLine = 520;

#ifdef _WIN32
inline constexpr wchar_t kPathSep = L'\\';
#else
inline constexpr wchar_t kPathSep = L'/';
#endif

// True when the text fits a kMaxPath buffer with its terminator.
inline bool FitsPathBuffer(std::wstring_view path) {
    return path.size() < kMaxPath;
}

// folder + separator + name; no separator is doubled when folder already ends in one.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// UTF-8 <-> wide. Invalid input bytes become U+FFFD; lone surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// Wide text as the little-endian UTF-16 bytes a registry value holds, and back.
// FromUtf16Le takes whole code units only (an odd trailing byte is dropped).
std::vector<std::uint8_t> ToUtf16Le(std::wstring_view text);
std::wstring FromUtf16Le(const std::uint8_t* data, std::size_t size);

// Wide path <-> std::filesystem path. On Linux file names are UTF-8 bytes.
std::filesystem::path ToFsPath(std::wstring_view path);
std::wstring FromFsPath(const std::filesystem::path& path);

// ASCII-only case folding, as the system's own comparisons use.
std::wstring AsciiLower(std::wstring_view text);

// The value of one hexadecimal digit of either case, or -1.
int HexDigitValue(char c);
bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace scour
