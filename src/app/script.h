// Scripted runs of the wizard: one action per line, parsed and checked here,
// performed by each frame on its real widgets. The frames take the script
// from the file named by SCOURLINE_WIZARD_SCRIPT.
//
//   press next|back|finish|cancel|help     click ID       check ID 0|1
//   type ID TEXT      select ID INDEX      answer yes|no|ok|cancel
//   password TEXT     device-change        screenshot FILE
//   expect page DIALOGID     expect checked|enabled|visible ID 0|1
//   expect text ID TEXT      expect buttons LIST      expect box TEXT
//
// Blank lines and lines starting with '#' are skipped. TEXT is the rest of the
// line after one space, with \n for a line break and \\ for a backslash.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace scour {

inline constexpr char kScriptVariable[] = "SCOURLINE_WIZARD_SCRIPT";

enum class ScriptVerb {
    Press,
    Click,
    Check,
    Type,
    Select,
    Answer,
    Password,
    DeviceChange,
    Screenshot,
    ExpectPage,
    ExpectChecked,
    ExpectEnabled,
    ExpectVisible,
    ExpectText,
    ExpectButtons,
    ExpectBox,
};

enum class WizardButton { Next, Back, Finish, Cancel, Help };
enum class BoxAnswer { Yes, No, Ok, Cancel };

struct ScriptAction {
    int line = 0;  // 1-based line in the script file
    ScriptVerb verb = ScriptVerb::Press;
    WizardButton button = WizardButton::Next;  // Press
    BoxAnswer answer = BoxAnswer::Ok;          // Answer
    int id = 0;                                // control or dialog id
    int number = 0;     // Check / Expect*: 0 or 1; Select: the index; ExpectButtons: flags
    std::wstring text;  // Type, Password, ExpectText, ExpectBox, Screenshot (the file)
};

// Parses the whole script. On a malformed line: nothing, and `error` reads
// "script: line N: ...".
std::optional<std::vector<ScriptAction>> ParseScript(const std::wstring& text, std::wstring& error);

// What a frame does for the runner, on its real widgets. Ids are those of the
// current page (or of the open modal dialog, where there is one).
class IScriptTarget {
  public:
    virtual ~IScriptTarget() = default;
    // Each returns false when the action cannot be performed (no such
    // control, control disabled or hidden, button not offered).
    virtual bool Press(WizardButton button) = 0;
    virtual bool Click(int id) = 0;
    virtual bool Type(int id, const std::wstring& text) = 0;
    virtual bool Select(int id, int index) = 0;
    virtual void DeviceChange() = 0;
    virtual bool Screenshot(const std::wstring& file) = 0;
    // The dialog number of the page shown.
    virtual int CurrentPage() = 0;
    // Nothing when the current page has no such control.
    virtual std::optional<bool> IsChecked(int id) = 0;
    virtual std::optional<bool> IsEnabled(int id) = 0;
    virtual std::optional<bool> IsVisible(int id) = 0;
    virtual std::optional<std::wstring> Text(int id) = 0;
    // Wizard buttons offered and enabled now: Back 1, Next 2, Finish 4.
    virtual unsigned Buttons() = 0;
};

class ScriptRunner {
  public:
    explicit ScriptRunner(std::vector<ScriptAction> actions);

    // Runs the next action against the target. False when the script has
    // ended or has failed (then Failed() is true and FailureText() says why).
    // A call from a nested event loop while an action still runs does nothing
    // (and returns true): actions never overlap.
    bool Step(IScriptTarget& target);
    bool Finished() const { return next_ >= actions_.size() || failed_; }
    bool Failed() const { return failed_; }
    // "script: line N: expected ..., found ..."
    const std::wstring& FailureText() const { return failure_; }

    // Every message box of a scripted run comes here instead of the screen.
    // Returns the queued answer (and remembers the text for "expect box"),
    // or nothing when no answer is queued: the run has failed then. Once the
    // script has ended (Finished() and not Failed()) a box without a queued
    // answer is the user's: nothing is returned and the run has not failed.
    // `boxLine` receives "box: CAPTION: TEXT" with line breaks as \n, for stderr.
    std::optional<BoxAnswer> AnswerBox(const std::wstring& caption, const std::wstring& text,
                                       std::wstring& boxLine);
    // The credentials dialog: the queued password (empty when none was
    // given) and the queued answer (Ok or Cancel); nothing as AnswerBox.
    std::optional<BoxAnswer> AnswerPasswordDialog(std::wstring& password);

  private:
    struct ShownBox {
        std::wstring caption;
        std::wstring text;
    };
    bool Fail(int line, const std::wstring& what);
    bool Perform(const ScriptAction& action, IScriptTarget& target);
    // Fails an action the target refused, saying why as far as it can tell.
    bool Refused(IScriptTarget& target, int line, const std::wstring& doing, int id);
    static std::wstring BoxLine(const ShownBox& box);
    // An action is running or still to come.
    bool Running() const;

    std::vector<ScriptAction> actions_;
    std::size_t next_ = 0;
    struct Queued {
        BoxAnswer answer;
        std::optional<std::wstring> password;
    };
    std::deque<Queued> answers_;
    std::optional<std::wstring> pendingPassword_;
    std::optional<ShownBox> lastBox_;
    // The line of the action started last: boxes between steps belong to it.
    int currentLine_ = 0;
    bool inStep_ = false;
    bool failed_ = false;
    std::wstring failure_;
};

}  // namespace scour
