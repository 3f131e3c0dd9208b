// Running a script: each action performed on the frame's real widgets and
// checked, and the message boxes and credentials dialog answered from the queue.
#include <array>

#include "app/script_internal.h"

namespace scour {

using namespace script_detail;

namespace {

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

std::wstring ControlName(int id) {
    return L"control " + std::to_wstring(id);
}

}  // namespace

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
