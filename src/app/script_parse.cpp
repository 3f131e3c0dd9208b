// Reading a script: each line into one action, with the errors a script's
// author sees for a malformed line.
#include <string_view>

#include "app/script_internal.h"

namespace scour {

using namespace script_detail;

namespace {

// A decimal number fits an int with this many digits.
constexpr std::size_t kMaxDigits = 9;

constexpr Keyword<ScriptVerb> kStateExpectations[] = {
    {L"checked", ScriptVerb::ExpectChecked},
    {L"enabled", ScriptVerb::ExpectEnabled},
    {L"visible", ScriptVerb::ExpectVisible},
};

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// \n is a line break and \\ a backslash; any other backslash stands for itself,
// so Windows paths need no doubling unless a name starts with n.
std::wstring Unescape(std::wstring_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() &&
            (text[i + 1] == L'n' || text[i + 1] == L'\\')) {
            out += text[i + 1] == L'n' ? L'\n' : L'\\';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Reads one line's fields from left to right.
class LineReader {
  public:
    explicit LineReader(std::wstring_view line) : rest_(line) {}

    // The next word; empty at the end of the line.
    std::wstring_view Word() {
        while (!rest_.empty() && IsBlank(rest_.front())) {
            rest_.remove_prefix(1);
        }
        std::size_t end = 0;
        while (end < rest_.size() && !IsBlank(rest_[end])) {
            ++end;
        }
        std::wstring_view word = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return word;
    }

    // The rest of the line after the one blank that ends the previous word.
    std::wstring_view Text() {
        std::wstring_view text = rest_;
        if (!text.empty() && IsBlank(text.front())) {
            text.remove_prefix(1);
        }
        rest_ = {};
        return text;
    }

    bool AtEnd() const { return TrimBlanks(rest_).empty(); }

  private:
    std::wstring_view rest_;
};

std::optional<int> ParseNumber(std::wstring_view word) {
    if (word.empty() || word.size() > kMaxDigits) {
        return std::nullopt;
    }
    int value = 0;
    for (wchar_t c : word) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<int>(c - L'0');
    }
    return value;
}

std::optional<int> ParseFlag(std::wstring_view word) {
    if (word == L"0" || word == L"1") {
        return word == L"1" ? 1 : 0;
    }
    return std::nullopt;
}

std::optional<unsigned> ParseButtonList(std::wstring_view list) {
    list = TrimBlanks(list);
    if (EqualsAsciiNoCase(list, L"none")) {
        return 0u;
    }
    unsigned flags = 0;
    while (true) {
        std::size_t comma = list.find(L',');
        std::wstring_view item = TrimBlanks(list.substr(0, comma));
        auto flag = Lookup(kButtonFlags, item);
        if (!flag) {
            return std::nullopt;
        }
        flags |= *flag;
        if (comma == std::wstring_view::npos) {
            return flags;
        }
        list.remove_prefix(comma + 1);
    }
}

// One line into an action; an error text (without the line prefix) otherwise.
std::optional<std::wstring> ParseLine(std::wstring_view line, ScriptAction& action) {
    LineReader reader(line);
    const std::wstring verb = AsciiLower(reader.Word());
    auto id = [&](const wchar_t* usage) -> std::optional<std::wstring> {
        auto number = ParseNumber(reader.Word());
        if (!number) {
            return std::wstring(usage) + L": the control id must be a decimal number";
        }
        action.id = *number;
        return std::nullopt;
    };
    auto flag = [&](const wchar_t* usage) -> std::optional<std::wstring> {
        auto value = ParseFlag(reader.Word());
        if (!value) {
            return std::wstring(usage) + L": the state must be 0 or 1";
        }
        action.number = *value;
        return std::nullopt;
    };
    std::optional<std::wstring> error;
    const wchar_t* usage = nullptr;

    if (verb == L"press") {
        usage = L"press next|back|finish|cancel|help";
        action.verb = ScriptVerb::Press;
        auto button = Lookup(kButtons, reader.Word());
        if (!button) {
            return std::wstring(usage) + L": unknown button";
        }
        action.button = *button;
    } else if (verb == L"click") {
        usage = L"click ID";
        action.verb = ScriptVerb::Click;
        error = id(usage);
    } else if (verb == L"check") {
        usage = L"check ID 0|1";
        action.verb = ScriptVerb::Check;
        error = id(usage);
        if (!error) {
            error = flag(usage);
        }
    } else if (verb == L"type") {
        action.verb = ScriptVerb::Type;
        error = id(L"type ID TEXT");
        action.text = Unescape(reader.Text());
    } else if (verb == L"select") {
        usage = L"select ID INDEX";
        action.verb = ScriptVerb::Select;
        error = id(usage);
        if (!error) {
            auto index = ParseNumber(reader.Word());
            if (!index) {
                return std::wstring(usage) + L": the index must be a decimal number";
            }
            action.number = *index;
        }
    } else if (verb == L"answer") {
        usage = L"answer yes|no|ok|cancel";
        action.verb = ScriptVerb::Answer;
        auto answer = Lookup(kAnswers, reader.Word());
        if (!answer) {
            return std::wstring(usage) + L": unknown answer";
        }
        action.answer = *answer;
    } else if (verb == L"password") {
        action.verb = ScriptVerb::Password;
        action.text = Unescape(reader.Text());
    } else if (verb == L"device-change") {
        usage = L"device-change";
        action.verb = ScriptVerb::DeviceChange;
    } else if (verb == L"screenshot") {
        action.verb = ScriptVerb::Screenshot;
        // A file name is taken as written: no escapes in Windows paths.
        action.text = std::wstring(TrimBlanks(reader.Text()));
        if (action.text.empty()) {
            return std::wstring(L"screenshot FILE: the file is missing");
        }
    } else if (verb == L"expect") {
        const std::wstring what = AsciiLower(reader.Word());
        if (what == L"page") {
            usage = L"expect page DIALOGID";
            action.verb = ScriptVerb::ExpectPage;
            auto number = ParseNumber(reader.Word());
            if (!number) {
                return std::wstring(usage) + L": the dialog id must be a decimal number";
            }
            action.id = *number;
        } else if (auto state = Lookup(kStateExpectations, what)) {
            usage = L"expect checked|enabled|visible ID 0|1";
            action.verb = *state;
            error = id(usage);
            if (!error) {
                error = flag(usage);
            }
        } else if (what == L"text") {
            action.verb = ScriptVerb::ExpectText;
            error = id(L"expect text ID TEXT");
            action.text = Unescape(reader.Text());
        } else if (what == L"buttons") {
            action.verb = ScriptVerb::ExpectButtons;
            auto flags = ParseButtonList(reader.Text());
            if (!flags) {
                return std::wstring(
                    L"expect buttons LIST: a comma list of back, next and finish, or none");
            }
            action.number = static_cast<int>(*flags);
        } else if (what == L"box") {
            action.verb = ScriptVerb::ExpectBox;
            action.text = Unescape(reader.Text());
            if (action.text.empty()) {
                return std::wstring(L"expect box TEXT: the text is missing");
            }
        } else {
            return L"unknown expectation " + Quoted(what) +
                   L" (page, checked, enabled, visible, text, buttons or box)";
        }
    } else {
        return L"unknown action " + Quoted(verb);
    }
    if (error) {
        return error;
    }
    if (usage != nullptr && !reader.AtEnd()) {
        return std::wstring(usage) + L": unexpected text at the end of the line";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<ScriptAction>> ParseScript(const std::wstring& text,
                                                     std::wstring& error) {
    std::vector<ScriptAction> actions;
    std::wstring_view rest = text;
    if (!rest.empty() && rest.front() == L'\xFEFF') {
        rest.remove_prefix(1);
    }
    // The line of a password that still waits for its answer.
    int passwordLine = 0;
    for (int lineNo = 1; !rest.empty() || lineNo == 1; ++lineNo) {
        std::size_t end = rest.find(L'\n');
        std::wstring_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == L'\r') {
            line.remove_suffix(1);
        }
        while (!line.empty() && IsBlank(line.front())) {
            line.remove_prefix(1);
        }
        if (TrimBlanks(line).empty() || line.front() == L'#') {
            continue;
        }
        ScriptAction action;
        action.line = lineNo;
        if (auto what = ParseLine(line, action)) {
            error = LineError(lineNo, *what);
            return std::nullopt;
        }
        if (action.verb == ScriptVerb::Password) {
            if (passwordLine != 0) {
                error = LineError(lineNo, L"a password is still waiting for its answer (line " +
                                              std::to_wstring(passwordLine) + L")");
                return std::nullopt;
            }
            passwordLine = lineNo;
        } else if (action.verb == ScriptVerb::Answer) {
            passwordLine = 0;
        }
        actions.push_back(std::move(action));
    }
    if (passwordLine != 0) {
        error = LineError(passwordLine, L"a password must be followed by its answer");
        return std::nullopt;
    }
    error.clear();
    return actions;
}

}  // namespace scour
