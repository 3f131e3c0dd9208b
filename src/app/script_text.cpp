// How a script's text is shown in its messages: line breaks as \n, quoted
// words, and the line prefix of every error.
#include "app/script_internal.h"

namespace scour::script_detail {

std::wstring OneLine(std::wstring_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
            out += L"\\n";
        } else if (text[i] == L'\n') {
            out += L"\\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::wstring Quoted(std::wstring_view text) {
    return L"\"" + OneLine(text) + L"\"";
}

std::wstring LineError(int line, const std::wstring& what) {
    return L"script: line " + std::to_wstring(line) + L": " + what;
}

}  // namespace scour::script_detail
