#include "ui/qt/script_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/main_dlg.h"
#include "ui/qt/dialog_view.h"

namespace scour::qt {

namespace {

ScriptSession* g_active = nullptr;

void PrintLine(const std::wstring& line) {
    QByteArray bytes = QString::fromStdWString(line).toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

}  // namespace

ScriptSession* ActiveScript() {
    return g_active;
}
void SetActiveScript(ScriptSession* session) {
    g_active = session;
}

std::unique_ptr<ScriptSession> ScriptSession::FromEnvironment(std::wstring& error) {
    error.clear();
    const char* name = std::getenv(kScriptVariable);
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    QFile file(QString::fromLocal8Bit(name));
    if (!file.open(QIODevice::ReadOnly)) {
        error = L"script: cannot read " + QString::fromLocal8Bit(name).toStdWString();
        return nullptr;
    }
    std::wstring text = QString::fromUtf8(file.readAll()).toStdWString();
    auto actions = ParseScript(text, error);
    if (!actions) {
        return nullptr;
    }
    return std::make_unique<ScriptSession>(std::move(*actions));
}

ScriptSession::ScriptSession(std::vector<ScriptAction> actions) : runner_(actions) {
    for (const auto& a : actions) {
        if (a.verb != ScriptVerb::Answer && a.verb != ScriptVerb::Password) {
            break;
        }
        ++leading_;
    }
    if (const char* folder = std::getenv("SCOURLINE_WIZARD_BOX_SHOTS")) {
        boxFolder_ = QString::fromLocal8Bit(folder);
    }
}

namespace {

// Answers take no target; the leading ones run before any window exists.
class NoTarget final : public IScriptTarget {
  public:
    bool Press(WizardButton) override { return false; }
    bool Click(int) override { return false; }
    bool Type(int, const std::wstring&) override { return false; }
    bool Select(int, int) override { return false; }
    void DeviceChange() override {}
    bool Screenshot(const std::wstring&) override { return false; }
    int CurrentPage() override { return 0; }
    std::optional<bool> IsChecked(int) override { return std::nullopt; }
    std::optional<bool> IsEnabled(int) override { return std::nullopt; }
    std::optional<bool> IsVisible(int) override { return std::nullopt; }
    std::optional<std::wstring> Text(int) override { return std::nullopt; }
    unsigned Buttons() override { return 0; }
};

}  // namespace

void ScriptSession::TakeLeadingAnswers() {
    NoTarget none;
    for (; leading_ > 0; --leading_) {
        if (!runner_.Step(none)) {
            break;
        }
    }
    if (runner_.Failed()) {
        Fail();
    }
}

void ScriptSession::Start(IScriptTarget& target) {
    target_ = &target;
    Schedule();
}

void ScriptSession::Schedule() {
    // Two turns per action: what the last action posted (button states after
    // a page change, a dialog opening) has happened before the next one runs.
    QTimer::singleShot(0, [this] { QTimer::singleShot(0, [this] { Tick(); }); });
}

void ScriptSession::Tick() {
    if (failed_ || target_ == nullptr || runner_.Finished()) {
        // A script that ends without closing the wizard leaves it to the user.
        return;
    }
    if (inTick_ || KeepingWindowsAlive()) {
        // A dialog's own loop inside an action, or the windows kept alive
        // while the wizard waits: the script goes on after it.
        QTimer::singleShot(50, [this] { Tick(); });
        return;
    }
    inTick_ = true;
    bool stepped = runner_.Step(*target_);
    inTick_ = false;
    if (!stepped) {
        if (runner_.Failed()) {
            Fail();
        }
        return;
    }
    Schedule();
}

void ScriptSession::Fail() {
    if (failed_) {
        return;
    }
    failed_ = true;
    PrintLine(runner_.FailureText());
    QCoreApplication::exit(kExitScriptFailed);
}

std::optional<BoxAnswer> ScriptSession::AnswerBox(const std::wstring& caption,
                                                  const std::wstring& text, QWidget* drawnBox) {
    Draw(drawnBox);
    std::wstring line;
    auto answer = runner_.AnswerBox(caption, text, line);
    PrintLine(line);
    if (!answer && runner_.Failed()) {
        Fail();
    }
    return answer;
}

std::optional<BoxAnswer> ScriptSession::AnswerPasswordDialog(std::wstring& password,
                                                             QWidget* drawnDialog) {
    Draw(drawnDialog);
    auto answer = runner_.AnswerPasswordDialog(password);
    PrintLine(L"dialog: credentials");
    if (!answer && runner_.Failed()) {
        Fail();
    }
    return answer;
}

void ScriptSession::Note(const std::wstring& line) {
    PrintLine(line);
}

void ScriptSession::Draw(QWidget* widget) {
    if (widget == nullptr || boxFolder_.isEmpty()) {
        return;
    }
    QDir().mkpath(boxFolder_);
    widget->adjustSize();
    widget->show();
    QCoreApplication::sendPostedEvents(widget, QEvent::LayoutRequest);
    widget->grab().save(
        QDir(boxFolder_).filePath(QStringLiteral("box-%1.png").arg(++boxes_, 2, 10, QChar('0'))),
        "PNG");
    widget->hide();
}

}  // namespace scour::qt
