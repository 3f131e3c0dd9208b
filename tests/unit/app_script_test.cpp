// The script parser and runner the frames are driven with. The wizard scripts
// use the plain forms on real widgets and the fuzzer feeds the parser anything;
// here the odd forms, the line numbers and what each failure says.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "app/script.h"
#include "base/text.h"

namespace scour {
namespace {

std::vector<ScriptAction> Parse(const std::wstring& text) {
    std::wstring error;
    auto actions = ParseScript(text, error);
    EXPECT_TRUE(actions) << ToUtf8(error);
    return actions.value_or(std::vector<ScriptAction>());
}

TEST(ScriptParser, OddForms) {
    const std::tuple<const wchar_t*, ScriptVerb, int, int, const wchar_t*> cases[] = {
        {L"type 1003 a\\\\b\\nc d ", ScriptVerb::Type, 1003, 0, L"a\\b\nc d "},
        {L"type 1003 C:\\temp\\x.iso", ScriptVerb::Type, 1003, 0, L"C:\\temp\\x.iso"},
        {L"select 1004 29", ScriptVerb::Select, 1004, 29, L""},
        {L"  Expect Visible 3 1  ", ScriptVerb::ExpectVisible, 3, 1, L""},
        {L"expect text 1005  two", ScriptVerb::ExpectText, 1005, 0, L" two"},
        {L"expect buttons back, finish", ScriptVerb::ExpectButtons, 0, 5, L""},
    };
    for (const auto& [line, verb, id, number, text] : cases) {
        SCOPED_TRACE(ToUtf8(line));
        auto actions = Parse(line);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0].verb, verb);
        EXPECT_EQ(actions[0].id, id);
        EXPECT_EQ(actions[0].number, number);
        EXPECT_EQ(actions[0].text, text);
    }
    EXPECT_EQ(Parse(L"press BACK").at(0).button, WizardButton::Back);
    EXPECT_EQ(Parse(L"answer Cancel").at(0).answer, BoxAnswer::Cancel);
}

// The error names the line and says what was wrong.
TEST(ScriptParser, MalformedLineNamesItsNumber) {
    const std::tuple<const wchar_t*, int, const wchar_t*> cases[] = {
        {L"press next\npress forward", 2, L"unknown button"},
        {L"press next\n\nclick abc", 3, L"the control id must be a decimal number"},
        {L"click 9999999999", 1, L"the control id must be a decimal number"},
        {L"check 1 2", 1, L"the state must be 0 or 1"},
        {L"press next now", 1, L"unexpected text at the end of the line"},
        {L"frobnicate 1", 1, L"unknown action \"frobnicate\""},
        {L"password a\npassword b\nanswer ok", 2, L"still waiting for its answer (line 1)"},
        {L"answer ok\npassword a", 2, L"a password must be followed by its answer"},
        {L"answer maybe", 1, L"unknown answer"},
        {L"screenshot  ", 1, L"the file is missing"},
        {L"expect page x", 1, L"the dialog id must be a decimal number"},
        {L"expect buttons back,up", 1, L"back, next and finish, or none"},
        {L"expect box", 1, L"the text is missing"},
        {L"expect colour 1", 1, L"(page, checked, enabled, visible, text, buttons or box)"},
    };
    for (const auto& [script, line, what] : cases) {
        std::wstring error;
        EXPECT_FALSE(ParseScript(script, error)) << ToUtf8(script);
        EXPECT_TRUE(error.starts_with(L"script: line " + std::to_wstring(line) + L": ") &&
                    error.ends_with(what))
            << ToUtf8(error);
    }
}

// A page of controls with Back and Next offered. Check boxes toggle on a click,
// radio buttons only set themselves; `onAction` shows boxes as the wizard does.
class FakeTarget final : public IScriptTarget {
  public:
    struct Control {
        bool checked = false, enabled = true, visible = true, radio = false;
        std::wstring text;
        int selection = -1;
    };
    std::map<int, Control> controls;
    std::vector<std::wstring> log;
    std::function<void(WizardButton)> onAction;

    bool Press(WizardButton button) override {
        log.push_back(L"press " + std::to_wstring(static_cast<int>(button)));
        if (onAction) {
            onAction(button);
        }
        return button != WizardButton::Finish;
    }
    bool Click(int id) override {
        Control* c = Usable(id);
        if (c != nullptr) {
            log.push_back(L"click " + std::to_wstring(id));
            c->checked = c->radio || !c->checked;
        }
        return c != nullptr;
    }
    bool Type(int id, const std::wstring& text) override {
        Control* c = Usable(id);
        return c != nullptr && (c->text = text, true);
    }
    bool Select(int id, int index) override {
        Control* c = Usable(id);
        return c != nullptr && (c->selection = index, true);
    }
    void DeviceChange() override { log.push_back(L"device-change"); }
    bool Screenshot(const std::wstring&) override { return true; }
    int CurrentPage() override { return 205; }
    std::optional<bool> IsChecked(int id) override { return Get(id, &Control::checked); }
    std::optional<bool> IsEnabled(int id) override { return Get(id, &Control::enabled); }
    std::optional<bool> IsVisible(int id) override { return Get(id, &Control::visible); }
    std::optional<std::wstring> Text(int id) override { return Get(id, &Control::text); }
    unsigned Buttons() override { return 3; }

  private:
    template <typename T>
    std::optional<T> Get(int id, T Control::*field) {
        auto it = controls.find(id);
        return it != controls.end() ? std::optional<T>(it->second.*field) : std::nullopt;
    }
    Control* Usable(int id) {
        auto it = controls.find(id);
        return it != controls.end() && it->second.enabled && it->second.visible ? &it->second
                                                                                : nullptr;
    }
};

// Runs the script to its end or its failure; the failure text, or empty.
std::wstring RunAll(ScriptRunner& runner, FakeTarget& target) {
    while (runner.Step(target)) {
    }
    EXPECT_TRUE(runner.Finished());
    return runner.Failed() ? runner.FailureText() : std::wstring();
}

// Boxes and the credentials dialog shown while an action runs take the queued
// answers in order; a password goes with the answer after it, none is empty.
TEST(ScriptRunner, ActionsReachTheTargetAndAnswersAreTakenInOrder) {
    FakeTarget target;
    target.controls[10].checked = true;
    target.controls[12];
    ScriptRunner runner(
        Parse(L"check 10 1\ncheck 12 0\ncheck 10 0\ncheck 12 1\ntype 12 a\\nb\nselect 12 3\n"
              L"device-change\nanswer ok\npassword s3cret\nanswer cancel\nanswer no\nanswer yes\n"
              L"press next\nexpect box second\npress help\nanswer ok"));
    std::vector<std::optional<BoxAnswer>> given;
    std::wstring line, first = L"stale", second;
    target.onAction = [&](WizardButton button) {
        if (button == WizardButton::Next) {
            given = {runner.AnswerPasswordDialog(first), runner.AnswerPasswordDialog(second),
                     runner.AnswerBox(L"C", L"first", line),
                     runner.AnswerBox(L"C", L"second", line)};
        }
    };
    EXPECT_EQ(RunAll(runner, target), L"");
    // A check clicks only when the state differs.
    EXPECT_EQ(target.log, (std::vector<std::wstring>{L"click 10", L"click 12", L"device-change",
                                                     L"press 0", L"press 4"}));
    EXPECT_EQ(target.controls[12].text, L"a\nb");
    EXPECT_EQ(target.controls[12].selection, 3);
    EXPECT_EQ(given, (std::vector<std::optional<BoxAnswer>>{BoxAnswer::Ok, BoxAnswer::Cancel,
                                                            BoxAnswer::No, BoxAnswer::Yes}));
    EXPECT_EQ(first, L"");
    EXPECT_EQ(second, L"s3cret");
    // After the script, a queued answer left over still counts; then the user answers.
    EXPECT_EQ(runner.AnswerBox(L"C", L"T", line), BoxAnswer::Ok);
    EXPECT_EQ(runner.AnswerBox(L"C", L"T", line), std::nullopt);
    EXPECT_FALSE(runner.Failed());
}

// Each expectation and refusal fails the run at its line. Cancel shows a
// message box and Help the credentials dialog, neither of them expected.
TEST(ScriptRunner, FailuresSayWhatWasExpectedAndWhatWasFound) {
    // The script and its failure after "script: line ".
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"expect checked 10 0", L"1: expected control 10 unchecked, found it checked"},
        {L"expect visible 99 1",
         L"1: expected control 99 visible, found no control 99 on page 205"},
        {L"expect text 13 a\\nc", L"1: expected text \"a\\nc\" in control 13, found \"a\\nb\""},
        {L"expect buttons none", L"1: expected buttons none, found buttons back,next"},
        {L"expect box Done", L"1: expected a box containing \"Done\", found no box"},
        {L"press finish", L"1: expected to press finish, found it disabled or not offered"},
        {L"click 11", L"1: expected to click control 11, found it disabled"},
        {L"type 99 x", L"1: expected to type into control 99, found no control 99 on page 205"},
        {L"check 99 1", L"1: expected to check control 99, found no control 99 on page 205"},
        {L"select 15 2", L"1: expected to select item 2 of control 15, found it hidden"},
        {L"press help", L"1: expected no credentials dialog, found the credentials dialog"},
        // A radio button does not clear when clicked.
        {L"check 14 0", L"1: expected control 14 unchecked after the click, found it checked"},
        // What matches goes by without a word; the first failure ends the run.
        // Comments, blank lines, a byte-order mark and CRLF count as lines.
        {L"\xFEFF# start\r\n\r\nexpect page 205\nexpect text 13 a\\nb\nexpect page 1\nexpect page "
         L"2",
         L"5: expected page 1, found page 205"},
        {L"expect page 205\npress cancel", L"2: expected no message box, found box: W: A?\\nB?"},
        {L"password x\nanswer ok\npress cancel",
         L"3: expected the credentials dialog for the queued password, found box: W: A?\\nB?"},
        {L"answer yes\npress help",
         L"2: expected answer ok or cancel for the credentials dialog, found yes"},
    };
    for (const auto& [script, failure] : cases) {
        FakeTarget target;
        target.controls[10].checked = true;
        target.controls[11].enabled = false;
        target.controls[13].text = L"a\r\nb";  // a Windows edit box's line break
        target.controls[14].radio = target.controls[14].checked = true;
        target.controls[15].visible = false;
        ScriptRunner runner(Parse(script));
        std::optional<BoxAnswer> given;
        target.onAction = [&](WizardButton button) {
            std::wstring line;
            if (button == WizardButton::Help) {
                given = runner.AnswerPasswordDialog(line);
            } else if (button == WizardButton::Cancel) {
                given = runner.AnswerBox(L"W", L"A?\r\nB?", line);
            }
        };
        EXPECT_TRUE(RunAll(runner, target).starts_with(std::wstring(L"script: line ") + failure))
            << ToUtf8(runner.FailureText());
        EXPECT_EQ(given, std::nullopt) << ToUtf8(script);  // the box goes unanswered
    }
}

}  // namespace
}  // namespace scour
