#include "options/scheme_catalogue.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "options/wizard_options.h"

namespace scour {

namespace {

constexpr wchar_t kUserDefinedName[] = L"User-defined";

// White space as the C library's isspace sees it in the "C" locale.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::size_t SkipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && IsCSpace(s[i])) {
        ++i;
    }
    return i;
}

// scanf "%d": white space, a sign, decimal digits. Saturates instead of overflowing, so the
// result does not depend on the C library.
bool ScanDecimal(std::string_view s, std::size_t& i, std::int64_t& value) {
    std::size_t p = SkipSpace(s, i);
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        ++p;
    }
    if (p >= s.size() || !IsDigit(s[p])) {
        return false;
    }
    constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
    std::int64_t v = 0;
    for (; p < s.size() && IsDigit(s[p]); ++p) {
        v = std::min<std::int64_t>(v * 10 + (s[p] - '0'), kLimit + 1);
    }
    value = negative ? -v : std::min(v, kLimit);
    i = p;
    return true;
}

// scanf "%x": white space, a sign, an optional 0x, hexadecimal digits. Only whether a number
// is there matters; the byte value is not kept.
bool ScanHex(std::string_view s, std::size_t i) {
    std::size_t p = SkipSpace(s, i);
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        ++p;
    }
    return p < s.size() && IsHexDigit(s[p]);
}

// A token "+<count> <byte>", read from its '+'.
bool ScanCountAndByte(std::string_view token, std::int64_t& count) {
    std::size_t i = 1;  // past the '+'
    if (!ScanDecimal(token, i, count)) {
        return false;
    }
    return ScanHex(token, i);
}

bool StartsWithInteger(std::string_view line) {
    std::size_t i = 0;
    std::int64_t ignored = 0;
    return ScanDecimal(line, i, ignored);
}

std::string AsciiLowerBytes(std::string_view s) {
    std::string out(s);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool Contains(std::string_view s, std::string_view word) {
    return s.find(word) != std::string_view::npos;
}

// One line as a text-mode read with a 2048-byte buffer gives it: at most kSchemeLineBytes
// bytes, the line feed included when it fits, CR LF read as LF.
bool ReadLinePiece(std::FILE* file, std::string& piece) {
    piece.clear();
    while (piece.size() < kSchemeLineBytes) {
        int c = std::getc(file);
        if (c == EOF) {
            break;
        }
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        piece += static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    return !piece.empty();
}

bool IsSchemeFileName(std::wstring_view name) {
    constexpr std::wstring_view kExt = L".sch";
    return name.size() >= kExt.size() &&
           EqualsAsciiNoCase(name.substr(name.size() - kExt.size()), kExt);
}

// A name as the system's listing compares it: UTF-16 code units, each
// upper-cased. The small letters of ASCII and Latin-1 are mapped; other code
// units stay as they are, on every platform alike.
std::u16string ListingKey(std::wstring_view name, bool upper) {
    std::u16string key;
    key.reserve(name.size());
    for (wchar_t wc : name) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0xFFFF) {
            // Only on Linux: the pair of code units that Windows would list.
            c -= 0x10000;
            key += static_cast<char16_t>(0xD800 + (c >> 10));
            key += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
            continue;
        }
        if (upper) {
            if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
                c -= 0x20;
            } else if (c == 0xFF) {
                c = 0x178;
            }
        }
        key += static_cast<char16_t>(c);
    }
    return key;
}

// The order of the system's listing: ordinal on the upper-cased names, so
// '_', '[' and the other signs between 'Z' and 'a' come after every letter.
// Names equal but for case (possible on Linux only) keep one fixed order.
bool ListingOrder(const std::wstring& a, const std::wstring& b) {
    const std::u16string ua = ListingKey(a, true);
    const std::u16string ub = ListingKey(b, true);
    return ua != ub ? ua < ub : ListingKey(a, false) < ListingKey(b, false);
}

std::int32_t Saturate(std::int64_t v) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(v, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::int64_t PatternLength(std::string_view line) {
    std::size_t dot = line.find('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    std::string_view rest = line.substr(dot + 1);
    std::int64_t sum = 0;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t comma = rest.find(',', start);
        std::size_t end = comma == std::string_view::npos ? rest.size() : comma;
        std::string_view token = rest.substr(start, end - start);
        start = end + 1;
        std::int64_t count = 0;
        std::size_t plus = token.find('+');
        if (plus != std::string_view::npos) {
            if (!ScanCountAndByte(token.substr(plus), count)) {
                continue;
            }
        } else {
            if (!ScanHex(token, 0)) {
                continue;
            }
            count = 1;
        }
        if (sum + count >= kMaxPatternLength) {
            return kMaxPatternLength;
        }
        sum += count;
    }
    return sum;
}

PassLine ExaminePassLine(std::string_view line, std::int64_t currentWeight) {
    std::string lower = AsciiLowerBytes(line);
    PassLine pass;
    pass.recognised = true;
    if (Contains(lower, "random")) {
        pass.weight = 4;
    } else if (Contains(lower, "complement")) {
        pass.weight = currentWeight + 1;
    } else if (Contains(lower, "test")) {
        pass.weight = 1;
    } else if (Contains(lower, "zero")) {
        pass.weight = 1;
    } else if (PatternLength(lower) > 0) {
        pass.weight = 1;
    } else {
        return PassLine{};
    }
    pass.verify = Contains(lower, "verify");
    return pass;
}

SchemeFileScan ScanSchemeFile(std::FILE* file) {
    SchemeFileScan scan;
    std::int64_t currentWeight = 1;
    std::string piece;
    while (ReadLinePiece(file, piece)) {
        // The line ends at a zero byte, as a C string would.
        std::string_view line(piece.data(), std::min(piece.size(), piece.find('\0')));
        bool firstUserDefined = false;
        if (!scan.nameKnown) {
            std::size_t open = line.find('[');
            std::size_t close = line.rfind(']');
            if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
                scan.nameBytes = line.substr(open + 1, close - open - 1);
                scan.nameKnown = true;
                continue;
            }
            if (!StartsWithInteger(line)) {
                continue;
            }
            scan.nameKnown = true;
            scan.userDefined = true;
            firstUserDefined = true;
        }
        PassLine pass = ExaminePassLine(line, currentWeight);
        if (!pass.recognised) {
            continue;
        }
        currentWeight = pass.weight;
        ++scan.passCount;
        scan.weight += pass.weight;
        // The first line of a file without a header has its verify mark ignored.
        if (pass.verify && !firstUserDefined) {
            ++scan.weight;
        }
    }
    return scan;
}

bool WizardOptions::ReadSchemeFile(const platform::Services& services, const std::wstring& path) {
    if (!FitsPathBuffer(path)) {
        return false;
    }
    // Only regular files: a folder is no scheme, and a pipe or device would block the read.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ToFsPath(path), ec)) {
        return false;
    }
    FilePtr file = OpenFile(path, "rb");
    if (!file) {
        return false;
    }
    const SchemeFileScan scan = ScanSchemeFile(file.get());
    file.reset();

    if (!scan.nameKnown || scan.passCount < 1) {
        return false;
    }
    std::wstring name = kUserDefinedName;
    if (!scan.userDefined) {
        name = services.text != nullptr ? services.text->FromSystem8Bit(scan.nameBytes)
                                        : FromUtf8(scan.nameBytes);
    }
    if (name.empty()) {
        return false;
    }
    Schemes.push_back(SchemeEntry{name, path, Saturate(scan.passCount), Saturate(scan.weight)});
    return true;
}

bool WizardOptions::BuildSchemeCatalogue(const platform::Services& services) {
    Schemes.clear();
    if (services.environment == nullptr) {
        return false;
    }
    std::wstring program = services.environment->ProgramFolder();
    if (program.empty()) {
        return false;
    }
    const std::wstring folder = JoinPath(JoinPath(program, L"schemes"), L"");
    // The listing pattern (folder + "*.sch") has to fit a path buffer too.
    if (!FitsPathBuffer(folder + L"*.sch")) {
        return false;
    }

    std::vector<std::wstring> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(ToFsPath(folder), ec);
    if (ec) {
        return false;
    }
    // A listing that fails part-way keeps the names found so far.
    while (it != std::filesystem::directory_iterator()) {
        std::wstring name = FromFsPath(it->path().filename());
        if (IsSchemeFileName(name)) {
            names.push_back(std::move(name));
        }
        if (it.increment(ec); ec) {
            break;
        }
    }
    if (names.empty()) {
        return false;
    }
    std::sort(names.begin(), names.end(), ListingOrder);

    for (const auto& name : names) {
        std::wstring path = folder + name;
        if (FitsPathBuffer(path)) {
            ReadSchemeFile(services, path);
        }
    }
    std::stable_sort(
        Schemes.begin(), Schemes.end(),
        [](const SchemeEntry& a, const SchemeEntry& b) { return a.Weight > b.Weight; });
    return true;
}

}  // namespace scour
