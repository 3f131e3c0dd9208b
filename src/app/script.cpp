#include "app/script.h"

#include <array>
#include <string_view>

#include "base/text.h"

namespace scour {

namespace {

// A decimal number fits an int with this many digits.
constexpr std::size_t kMaxDigits = 9;

template <typename T>
struct Keyword {
    const wchar_t* word;
    T value;
};

constexpr Keyword<WizardButton> kButtons[] = {
    {L"next", WizardButton::Next},     {L"back", WizardButton::Back},
    {L"finish", WizardButton::Finish}, {L"cancel", WizardButton::Cancel},
    {L"help", WizardButton::Help},
};

constexpr Keyword<BoxAnswer> kAnswers[] = {
    {L"yes", BoxAnswer::Yes},
    {L"no", BoxAnswer::No},
    {L"ok", BoxAnswer::Ok},
    {L"cancel", BoxAnswer::Cancel},
};

constexpr Keyword<ScriptVerb> kStateExpectations[] = {
    {L"checked", ScriptVerb::ExpectChecked},
    {L"enabled", ScriptVerb::ExpectEnabled},
    {L"visible", ScriptVerb::ExpectVisible},
};

constexpr Keyword<unsigned> kButtonFlags[] = {
    {L"back", 1},
    {L"next", 2},
    {L"finish", 4},
};

template <typename T, std::size_t N>
std::optional<T> Lookup(const Keyword<T> (&table)[N], std::wstring_view word) {
    for (const auto& entry : table) {
        if (EqualsAsciiNoCase(word, entry.word)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

template <typename T, std::size_t N>
std::wstring NameOf(const Keyword<T> (&table)[N], T value) {
    for (const auto& entry : table) {
        if (entry.value == value) {
            return entry.word;
        }
    }
    return L"?";
}

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

// Line breaks shown as \n, so that a text stays on one line of output.
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

// Windows edit boxes hold \r\n where the other frame holds \n.
std::wstring UnifyBreaks(std::wstring_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
            out += L'\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::wstring Quoted(std::wstring_view text) {
    return L"\"" + OneLine(text) + L"\"";
}

std::wstring ButtonList(unsigned flags) {
    std::wstring list;
    for (const auto& entry : kButtonFlags) {
        if ((flags & entry.value) != 0) {
            if (!list.empty()) {
                list += L',';
            }
            list += entry.word;
        }
    }
    return list.empty() ? L"none" : list;
}

std::wstring LineError(int line, const std::wstring& what) {
    return L"script: line " + std::to_wstring(line) + L": " + what;
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

std::wstring ControlName(int id) {
    return L"control " + std::to_wstring(id);
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

ScriptRunner::ScriptRunner(std::vector<ScriptAction> actions) : actions_(std::move(actions)) {
    if (!actions_.empty()) {
        currentLine_ = actions_.front().line;
    }
}

bool ScriptRunner::Fail(int line, const std::wstring& what) {
    // The first failure is the one that counts; later ones follow from it.
    if (!failed_) {
        failed_ = true;
        failure_ = LineError(line, what);
    }
    return false;
}

bool ScriptRunner::Step(IScriptTarget& target) {
    if (inStep_) {
        // Called again from a nested event loop inside an action: not yet.
        return !failed_;
    }
    if (Finished()) {
        return false;
    }
    const ScriptAction& action = actions_[next_];
    currentLine_ = action.line;
    inStep_ = true;
    const bool done = Perform(action, target);
    inStep_ = false;
    ++next_;
    return done && !failed_;
}

bool ScriptRunner::Refused(IScriptTarget& target, int line, const std::wstring& doing, int id) {
    std::wstring found;
    if (!target.IsVisible(id).has_value() && !target.IsEnabled(id).has_value()) {
        found = L"no " + ControlName(id) + L" on page " + std::to_wstring(target.CurrentPage());
    } else if (target.IsVisible(id) == false) {
        found = L"it hidden";
    } else if (target.IsEnabled(id) == false) {
        found = L"it disabled";
    } else {
        found = L"it refused";
    }
    return Fail(line, L"expected to " + doing + L", found " + found);
}

bool ScriptRunner::Perform(const ScriptAction& a, IScriptTarget& target) {
    const std::wstring control = ControlName(a.id);
    switch (a.verb) {
        case ScriptVerb::Press:
            if (!target.Press(a.button)) {
                if (failed_) {
                    return false;
                }
                return Fail(a.line, L"expected to press " + NameOf(kButtons, a.button) +
                                        L", found it disabled or not offered (buttons " +
                                        ButtonList(target.Buttons()) + L")");
            }
            return true;
        case ScriptVerb::Click:
            if (!target.Click(a.id)) {
                return failed_ ? false : Refused(target, a.line, L"click " + control, a.id);
            }
            return true;
        case ScriptVerb::Check: {
            const bool wanted = a.number != 0;
            const std::wstring doing = (wanted ? L"check " : L"uncheck ") + control;
            auto state = target.IsChecked(a.id);
            if (!state) {
                return Fail(a.line, L"expected to " + doing + L", found no " + control +
                                        L" on page " + std::to_wstring(target.CurrentPage()));
            }
            if (*state == wanted) {
                return true;
            }
            if (!target.Click(a.id)) {
                return failed_ ? false : Refused(target, a.line, doing, a.id);
            }
            if (failed_) {
                return false;
            }
            // A radio button cannot be cleared by clicking it.
            if (target.IsChecked(a.id) != wanted) {
                return Fail(a.line, L"expected " + control +
                                        (wanted ? L" checked" : L" unchecked") +
                                        L" after the click, found it " +
                                        (wanted ? L"unchecked" : L"checked"));
            }
            return true;
        }
        case ScriptVerb::Type:
            if (!target.Type(a.id, a.text)) {
                return failed_ ? false : Refused(target, a.line, L"type into " + control, a.id);
            }
            return true;
        case ScriptVerb::Select:
            if (!target.Select(a.id, a.number)) {
                return failed_ ? false
                               : Refused(target, a.line,
                                         L"select item " + std::to_wstring(a.number) + L" of " +
                                             control,
                                         a.id);
            }
            return true;
        case ScriptVerb::Answer:
            answers_.push_back({a.answer, pendingPassword_});
            pendingPassword_.reset();
            return true;
        case ScriptVerb::Password:
            pendingPassword_ = a.text;
            return true;
        case ScriptVerb::DeviceChange:
            target.DeviceChange();
            return !failed_;
        case ScriptVerb::Screenshot:
            if (!target.Screenshot(a.text)) {
                return Fail(a.line,
                            L"expected a screenshot in " + a.text + L", found it not written");
            }
            return true;
        case ScriptVerb::ExpectPage: {
            const int page = target.CurrentPage();
            if (page != a.id) {
                return Fail(a.line, L"expected page " + std::to_wstring(a.id) + L", found page " +
                                        std::to_wstring(page));
            }
            return true;
        }
        case ScriptVerb::ExpectChecked:
        case ScriptVerb::ExpectEnabled:
        case ScriptVerb::ExpectVisible: {
            static constexpr std::array<const wchar_t*, 2> kChecked = {L"unchecked", L"checked"};
            static constexpr std::array<const wchar_t*, 2> kEnabled = {L"disabled", L"enabled"};
            static constexpr std::array<const wchar_t*, 2> kVisible = {L"hidden", L"visible"};
            std::optional<bool> state;
            const std::array<const wchar_t*, 2>* words = nullptr;
            if (a.verb == ScriptVerb::ExpectChecked) {
                state = target.IsChecked(a.id);
                words = &kChecked;
            } else if (a.verb == ScriptVerb::ExpectEnabled) {
                state = target.IsEnabled(a.id);
                words = &kEnabled;
            } else {
                state = target.IsVisible(a.id);
                words = &kVisible;
            }
            const std::wstring expected = control + L" " + (*words)[a.number != 0 ? 1 : 0];
            if (!state) {
                return Fail(a.line, L"expected " + expected + L", found no " + control +
                                        L" on page " + std::to_wstring(target.CurrentPage()));
            }
            if (*state != (a.number != 0)) {
                return Fail(a.line,
                            L"expected " + expected + L", found it " + (*words)[*state ? 1 : 0]);
            }
            return true;
        }
        case ScriptVerb::ExpectText: {
            auto text = target.Text(a.id);
            const std::wstring expected = L"expected text " + Quoted(a.text) + L" in " + control;
            if (!text) {
                return Fail(a.line, expected + L", found no " + control + L" on page " +
                                        std::to_wstring(target.CurrentPage()));
            }
            if (UnifyBreaks(*text) != a.text) {
                return Fail(a.line, expected + L", found " + Quoted(*text));
            }
            return true;
        }
        case ScriptVerb::ExpectButtons: {
            const unsigned buttons = target.Buttons() & 7u;
            if (buttons != static_cast<unsigned>(a.number)) {
                return Fail(a.line, L"expected buttons " +
                                        ButtonList(static_cast<unsigned>(a.number)) +
                                        L", found buttons " + ButtonList(buttons));
            }
            return true;
        }
        case ScriptVerb::ExpectBox: {
            const std::wstring expected = L"expected a box containing " + Quoted(a.text);
            if (!lastBox_) {
                return Fail(a.line, expected + L", found no box");
            }
            if (UnifyBreaks(lastBox_->text).find(a.text) == std::wstring::npos) {
                return Fail(a.line, expected + L", found " + BoxLine(*lastBox_));
            }
            return true;
        }
    }
    return true;
}

std::wstring ScriptRunner::BoxLine(const ShownBox& box) {
    return L"box: " + OneLine(box.caption) + L": " + OneLine(box.text);
}

bool ScriptRunner::Running() const {
    return inStep_ || next_ < actions_.size();
}

std::optional<BoxAnswer> ScriptRunner::AnswerBox(const std::wstring& caption,
                                                 const std::wstring& text, std::wstring& boxLine) {
    lastBox_ = ShownBox{caption, text};
    boxLine = BoxLine(*lastBox_);
    if (failed_) {
        return std::nullopt;
    }
    if (answers_.empty()) {
        if (!Running()) {
            // The script is over: the box is the user's.
            return std::nullopt;
        }
        Fail(currentLine_, L"expected no message box, found " + boxLine);
        return std::nullopt;
    }
    Queued queued = answers_.front();
    answers_.pop_front();
    if (queued.password) {
        Fail(currentLine_,
             L"expected the credentials dialog for the queued password, found " + boxLine);
        return std::nullopt;
    }
    return queued.answer;
}

std::optional<BoxAnswer> ScriptRunner::AnswerPasswordDialog(std::wstring& password) {
    password.clear();
    if (failed_) {
        return std::nullopt;
    }
    if (answers_.empty()) {
        if (!Running()) {
            return std::nullopt;
        }
        Fail(currentLine_, L"expected no credentials dialog, found the credentials dialog");
        return std::nullopt;
    }
    Queued queued = answers_.front();
    answers_.pop_front();
    if (queued.answer != BoxAnswer::Ok && queued.answer != BoxAnswer::Cancel) {
        Fail(currentLine_, L"expected answer ok or cancel for the credentials dialog, found " +
                               NameOf(kAnswers, queued.answer));
        return std::nullopt;
    }
    password = queued.password.value_or(std::wstring());
    return queued.answer;
}

}  // namespace scour
