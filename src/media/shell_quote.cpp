#include "media/shell_quote.h"

#include <algorithm>

namespace scour {

namespace {

bool SafeByte(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("/._-:@%+,=").find(c) != std::string_view::npos;
}

}  // namespace

bool IsShellSafe(std::string_view value) {
    return std::all_of(value.begin(), value.end(), SafeByte);
}

std::string ShellQuote(std::string_view value) {
    if (IsShellSafe(value)) {
        return std::string(value);
    }
    std::string out;
    out.reserve(value.size() + 8);
    out += '\'';
    for (char c : value) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

}  // namespace scour
