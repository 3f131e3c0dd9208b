// A scripted run of the wizard: the script from SCOURLINE_WIZARD_SCRIPT,
// stepped one action per turn of the event loop against the real widgets.
// Message boxes and the credentials dialog take their answers from it.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/script.h"

class QWidget;

namespace scour::qt {

class ScriptSession {
  public:
    // The session of the variable's script; null without the variable. On a
    // file that cannot be read or parsed: null and `error` says why.
    static std::unique_ptr<ScriptSession> FromEnvironment(std::wstring& error);
    explicit ScriptSession(std::vector<ScriptAction> actions);

    // The answers at the very start of the script, for boxes shown before any
    // window (the start-up messages).
    void TakeLeadingAnswers();
    // Runs the script against the target from the next turn of the loop on.
    void Start(IScriptTarget& target);

    // A message box: prints "box: CAPTION: TEXT" to stderr and gives the
    // queued answer. Nothing when the run has failed (Failed()) or when the
    // script is over and the box is the user's.
    std::optional<BoxAnswer> AnswerBox(const std::wstring& caption, const std::wstring& text,
                                       QWidget* drawnBox = nullptr);
    std::optional<BoxAnswer> AnswerPasswordDialog(std::wstring& password,
                                                  QWidget* drawnDialog = nullptr);
    // A line on stderr for what a scripted run does not show (help, folders).
    static void Note(const std::wstring& line);

    bool Failed() const { return failed_; }

  private:
    void Schedule();
    void Tick();
    void Fail();
    // Boxes of the run drawn to SCOURLINE_WIZARD_BOX_SHOTS/box-N.png.
    void Draw(QWidget* widget);

    ScriptRunner runner_;
    std::size_t leading_ = 0;
    IScriptTarget* target_ = nullptr;
    bool failed_ = false;
    bool inTick_ = false;
    int boxes_ = 0;
    QString boxFolder_;
};

// The run's session, or null when the wizard runs without a script.
ScriptSession* ActiveScript();
void SetActiveScript(ScriptSession* session);

}  // namespace scour::qt
