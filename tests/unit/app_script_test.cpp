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

// The plain forms the wizard scripts use are parsed there too; here every
// verb once and the odd forms.
TEST(ScriptParser, EveryAction) {
    struct Case {
        const wchar_t* line;
        ScriptVerb verb;
        int id;
        int number;
        const wchar_t* text;
        int choice = 0;  // the button pressed or the answer given
    };
    const Case cases[] = {
        {L"press BACK", ScriptVerb::Press, 0, 0, L"", static_cast<int>(WizardButton::Back)},
        {L"press cancel", ScriptVerb::Press, 0, 0, L"", static_cast<int>(WizardButton::Cancel)},
        {L"press help", ScriptVerb::Press, 0, 0, L"", static_cast<int>(WizardButton::Help)},
        {L"answer no", ScriptVerb::Answer, 0, 0, L"", static_cast<int>(BoxAnswer::No)},
        {L"answer cancel", ScriptVerb::Answer, 0, 0, L"", static_cast<int>(BoxAnswer::Cancel)},
        {L"click 1001", ScriptVerb::Click, 1001, 0, L""},
        {L"check 1002 1", ScriptVerb::Check, 1002, 1, L""},
        {L"type 1003 a\\\\b\\nc d ", ScriptVerb::Type, 1003, 0, L"a\\b\nc d "},
        {L"type 1003 C:\\temp\\x.iso", ScriptVerb::Type, 1003, 0, L"C:\\temp\\x.iso"},
        {L"type 1003", ScriptVerb::Type, 1003, 0, L""},
        {L"select 1004 2", ScriptVerb::Select, 1004, 2, L""},
        {L"device-change", ScriptVerb::DeviceChange, 0, 0, L""},
        {L"screenshot C:\\shots\\new.png", ScriptVerb::Screenshot, 0, 0, L"C:\\shots\\new.png"},
        {L"expect enabled 2 1", ScriptVerb::ExpectEnabled, 2, 1, L""},
        {L"  Expect Visible 3 1  ", ScriptVerb::ExpectVisible, 3, 1, L""},
        {L"expect text 1005  two", ScriptVerb::ExpectText, 1005, 0, L" two"},
        {L"expect buttons back, finish", ScriptVerb::ExpectButtons, 0, 5, L""},
        {L"expect buttons none", ScriptVerb::ExpectButtons, 0, 0, L""},
        {L"expect box Done.", ScriptVerb::ExpectBox, 0, 0, L"Done."},
    };
    for (const auto& c : cases) {
        auto actions = Parse(c.line);
        ASSERT_EQ(actions.size(), 1u) << ToUtf8(c.line);
        const auto& a = actions[0];
        EXPECT_EQ(a.line, 1);
        EXPECT_EQ(a.verb, c.verb) << ToUtf8(c.line);
        EXPECT_EQ(a.id, c.id) << ToUtf8(c.line);
        EXPECT_EQ(a.number, c.number) << ToUtf8(c.line);
        EXPECT_EQ(a.text, c.text) << ToUtf8(c.line);
        EXPECT_EQ(a.verb == ScriptVerb::Press    ? static_cast<int>(a.button)
                  : a.verb == ScriptVerb::Answer ? static_cast<int>(a.answer)
                                                 : 0,
                  c.choice)
            << ToUtf8(c.line);
    }
}

TEST(ScriptParser, LinesAreCountedWithBlanksAndComments) {
    auto actions = Parse(L"\xFEFF# a walk\r\n\r\n  press next\r\n\t\n# done\nexpect page 205\r\n");
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].line, 3);
    EXPECT_EQ(actions[1].line, 6);
    EXPECT_EQ(actions[1].id, 205);
    EXPECT_TRUE(Parse(L"").empty());
}

TEST(ScriptParser, MalformedLineNamesItsNumber) {
    struct Case {
        const wchar_t* script;
        const wchar_t* error;
    };
    const Case cases[] = {
        {L"press next\npress forward",
         L"script: line 2: press next|back|finish|cancel|help: "
         L"unknown button"},
        {L"press next\n\nclick abc",
         L"script: line 3: click ID: the control id must be a decimal number"},
        {L"click 9999999999", L"script: line 1: click ID: the control id must be a decimal number"},
        {L"check 1 2", L"script: line 1: check ID 0|1: the state must be 0 or 1"},
        {L"select 1 -1", L"script: line 1: select ID INDEX: the index must be a decimal number"},
        {L"answer maybe", L"script: line 1: answer yes|no|ok|cancel: unknown answer"},
        {L"press next now",
         L"script: line 1: press next|back|finish|cancel|help: unexpected text at the end of "
         L"the line"},
        {L"expect page",
         L"script: line 1: expect page DIALOGID: the dialog id must be a decimal number"},
        {L"expect colour 1 1",
         L"script: line 1: unknown expectation \"colour\" (page, checked, "
         L"enabled, visible, text, buttons or box)"},
        {L"expect buttons back,up",
         L"script: line 1: expect buttons LIST: a comma list of back, "
         L"next and finish, or none"},
        {L"expect box", L"script: line 1: expect box TEXT: the text is missing"},
        {L"screenshot  ", L"script: line 1: screenshot FILE: the file is missing"},
        {L"frobnicate 1", L"script: line 1: unknown action \"frobnicate\""},
        {L"answer ok\npassword x", L"script: line 2: a password must be followed by its answer"},
        {L"password a\npassword b\nanswer ok",
         L"script: line 2: a password is still waiting for its answer (line 1)"},
    };
    for (const auto& c : cases) {
        std::wstring error;
        EXPECT_FALSE(ParseScript(c.script, error)) << ToUtf8(c.script);
        EXPECT_EQ(error, c.error) << ToUtf8(c.script);
    }
}

// A page of controls as a frame would offer them. Check boxes toggle on a
// click, radio buttons only set themselves; `onAction` lets a test show boxes
// while an action runs, as the wizard does.
class FakeTarget final : public IScriptTarget {
  public:
    struct Control {
        bool checked = false, enabled = true, visible = true, radio = false;
        std::wstring text;
        int selection = -1;
    };
    std::map<int, Control> controls;
    int page = 205;
    unsigned buttons = 3;
    std::vector<std::wstring> log;
    std::function<void()> onAction;

    bool Press(WizardButton button) override {
        log.push_back(L"press " + std::to_wstring(static_cast<int>(button)));
        if (onAction) {
            onAction();
        }
        const unsigned needs[] = {2, 1, 4, 0, 0};  // Next, Back, Finish, Cancel, Help
        unsigned need = needs[static_cast<int>(button)];
        return need == 0 || (buttons & need) != 0;
    }
    bool Click(int id) override {
        Control* c = Usable(id);
        if (c != nullptr) {
            log.push_back(L"click " + std::to_wstring(id));
            c->checked = c->radio || !c->checked;
            if (onAction) {
                onAction();
            }
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
    bool Screenshot(const std::wstring& file) override {
        log.push_back(L"screenshot " + file);
        return file != L"bad";
    }
    int CurrentPage() override { return page; }
    std::optional<bool> IsChecked(int id) override { return Get(id, &Control::checked); }
    std::optional<bool> IsEnabled(int id) override { return Get(id, &Control::enabled); }
    std::optional<bool> IsVisible(int id) override { return Get(id, &Control::visible); }
    std::optional<std::wstring> Text(int id) override { return Get(id, &Control::text); }
    unsigned Buttons() override { return buttons; }

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

std::wstring RunScript(const std::wstring& script, FakeTarget& target) {
    ScriptRunner runner(Parse(script));
    return RunAll(runner, target);
}

TEST(ScriptRunner, ActionsReachTheTargetAndCheckClicksOnlyWhenTheStateDiffers) {
    FakeTarget target;
    target.controls[10].checked = true;
    target.controls[11].radio = true;
    target.controls[11].checked = true;
    target.controls[12];
    target.controls[20];
    EXPECT_EQ(RunScript(L"check 10 1\ncheck 12 0\ncheck 10 0\ncheck 12 1\ntype 20 a\\nb\n"
                        L"select 20 3\ndevice-change\nscreenshot s.png\npress next\npress help",
                        target),
              L"");
    EXPECT_EQ(target.log, (std::vector<std::wstring>{L"click 10", L"click 12", L"device-change",
                                                     L"screenshot s.png", L"press 0", L"press 4"}));
    EXPECT_FALSE(target.controls[10].checked);
    EXPECT_TRUE(target.controls[12].checked);
    EXPECT_EQ(target.controls[20].text, L"a\nb");
    EXPECT_EQ(target.controls[20].selection, 3);
    // A radio button does not clear when clicked: the check says so.
    EXPECT_EQ(RunScript(L"check 11 0", target),
              L"script: line 1: expected control 11 unchecked after the click, found it checked");
}

TEST(ScriptRunner, FailuresSayWhatWasExpectedAndWhatWasFound) {
    struct Case {
        const wchar_t* script;
        const wchar_t* failure;
    };
    const Case cases[] = {
        {L"# start\n\nexpect page 206", L"script: line 3: expected page 206, found page 205"},
        {L"expect checked 10 0",
         L"script: line 1: expected control 10 unchecked, found it checked"},
        {L"expect enabled 11 1", L"script: line 1: expected control 11 enabled, found it disabled"},
        {L"expect visible 12 1", L"script: line 1: expected control 12 visible, found it hidden"},
        {L"expect enabled 99 1",
         L"script: line 1: expected control 99 enabled, found no control 99 on page 205"},
        {L"expect text 13 a\\nc",
         L"script: line 1: expected text \"a\\nc\" in control 13, found \"a\\nb\""},
        {L"expect buttons back,next,finish",
         L"script: line 1: expected buttons back,next,finish, found buttons back,next"},
        {L"expect buttons none", L"script: line 1: expected buttons none, found buttons back,next"},
        {L"expect box Done", L"script: line 1: expected a box containing \"Done\", found no box"},
        {L"press finish",
         L"script: line 1: expected to press finish, found it disabled or not offered (buttons "
         L"back,next)"},
        {L"click 11", L"script: line 1: expected to click control 11, found it disabled"},
        {L"type 12 x", L"script: line 1: expected to type into control 12, found it hidden"},
        {L"select 98 0",
         L"script: line 1: expected to select item 0 of control 98, found no control 98 on page "
         L"205"},
        {L"check 97 1",
         L"script: line 1: expected to check control 97, found no control 97 on page 205"},
        {L"screenshot bad", L"script: line 1: expected a screenshot in bad, found it not written"},
        // What matches goes by without a word; the first failure ends the run.
        {L"expect page 205\nexpect text 13 a\\nb\nexpect buttons next,back\nexpect page 1\n"
         L"expect page 2",
         L"script: line 4: expected page 1, found page 205"},
    };
    for (const auto& c : cases) {
        FakeTarget target;
        target.controls[10].checked = true;
        target.controls[11].enabled = false;
        target.controls[12].visible = false;
        target.controls[13].text = L"a\r\nb";  // a Windows edit box's line break
        EXPECT_EQ(RunScript(c.script, target), c.failure) << ToUtf8(c.script);
    }
}

// Boxes and the credentials dialog shown while an action runs take the
// queued answers in order; a password goes with the answer after it.
TEST(ScriptRunner, AnswersAreTakenInOrder) {
    FakeTarget target;
    target.controls[30];
    ScriptRunner runner(
        Parse(L"answer yes\nanswer no\npress next\nexpect box second\nanswer ok\npassword s3cret\n"
              L"answer cancel\nanswer ok\nclick 30\nexpect box Saved\nanswer no"));
    std::vector<std::optional<BoxAnswer>> given;
    std::vector<std::wstring> lines;
    std::wstring password1 = L"stale", password2 = L"stale";
    auto box = [&](const wchar_t* text) {
        std::wstring line;
        given.push_back(runner.AnswerBox(L"Cap", text, line));
        lines.push_back(line);
    };
    target.onAction = [&] {
        box(L"first\nline");
        box(L"the second");
        target.onAction = [&] {
            box(L"Saved.");
            given.push_back(runner.AnswerPasswordDialog(password1));
            given.push_back(runner.AnswerPasswordDialog(password2));
            target.onAction = nullptr;
        };
    };
    EXPECT_EQ(RunAll(runner, target), L"");
    EXPECT_EQ(given,
              (std::vector<std::optional<BoxAnswer>>{BoxAnswer::Yes, BoxAnswer::No, BoxAnswer::Ok,
                                                     BoxAnswer::Cancel, BoxAnswer::Ok}));
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"box: Cap: first\\nline", L"box: Cap: the second",
                                                L"box: Cap: Saved."}));
    EXPECT_EQ(password1, L"s3cret");
    EXPECT_EQ(password2, L"");  // no password given: an empty one
    // After the script, a queued answer left over still counts; then the user answers.
    std::wstring line;
    EXPECT_EQ(runner.AnswerBox(L"C", L"T", line), BoxAnswer::No);
    EXPECT_EQ(runner.AnswerBox(L"C", L"T", line), std::nullopt);
    EXPECT_EQ(line, L"box: C: T");
    EXPECT_FALSE(runner.Failed());
}

TEST(ScriptRunner, UnexpectedBoxesAndDialogsFailTheRun) {
    struct Case {
        const wchar_t* script;
        bool dialog;  // the credentials dialog instead of a message box
        const wchar_t* failure;
    };
    const Case cases[] = {
        {L"expect page 205\npress cancel\nexpect page 205", false,
         L"script: line 2: expected no message box, found box: Scourline Configuration Wizard: "
         L"Are you sure?\\nReally?"},
        {L"password x\nanswer ok\npress cancel", false,
         L"script: line 3: expected the credentials dialog for the queued password, found box: "
         L"Scourline Configuration Wizard: Are you sure?\\nReally?"},
        {L"press cancel", true,
         L"script: line 1: expected no credentials dialog, found the credentials dialog"},
        {L"answer yes\npress cancel", true,
         L"script: line 2: expected answer ok or cancel for the credentials dialog, found yes"},
    };
    for (const auto& c : cases) {
        FakeTarget target;
        ScriptRunner runner(Parse(c.script));
        std::optional<BoxAnswer> given = BoxAnswer::Ok;
        target.onAction = [&] {
            std::wstring line;
            if (c.dialog) {
                given = runner.AnswerPasswordDialog(line);
            } else {
                given = runner.AnswerBox(L"Scourline Configuration Wizard",
                                         L"Are you sure?\r\nReally?", line);
            }
        };
        EXPECT_EQ(RunAll(runner, target), c.failure) << ToUtf8(c.script);
        EXPECT_EQ(given, std::nullopt);
        EXPECT_FALSE(runner.Step(target));
    }
}

}  // namespace
}  // namespace scour
