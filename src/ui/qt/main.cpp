// scourline-wizard: the wizard on Linux, in its Qt frame.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "app/startup.h"
#include "base/strings.h"
#include "pages/pages.h"
#include "platform/services.h"
#include "platform/volumes.h"
#include "ui/qt/art.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/format_choice.h"
#include "ui/qt/modal_dialog.h"
#include "ui/qt/platform_hooks.h"
#include "ui/qt/qt_reporter.h"
#include "ui/qt/script_session.h"
#include "ui/qt/wizard_frame.h"

namespace {

using namespace scour;
using namespace scour::qt;

class StartupHost final : public IStartupHost {
  public:
    StartupHost(QApplication& app, WizardFrame& frame, ScriptSession* script)
        : app_(app), frame_(frame), script_(script) {}

    bool IsAdministrator() override { return HasAdministratorRights(); }

    void ShowStartupError(const std::wstring& text) override {
        const std::wstring& caption = LoadText(IDS_WIZARD_CAPTION);
        QMessageBox box(QMessageBox::Critical, ToQt(caption), ToQt(text), QMessageBox::Ok);
        if (script_ != nullptr && (script_->AnswerBox(caption, text, &box) || script_->Failed())) {
            return;
        }
        box.exec();
    }

    void ShowAboutAlone() override {
        if (script_ != nullptr) {
            StartScript(frame_);
        }
        ShowAboutBox(nullptr);
    }

    int RunSheet(CMainDlg& sheet) override {
        frame_.Open(sheet);
        if (!frame_.isVisible()) {
            return kExitNoWindow;
        }
        StartScript(frame_);
        return app_.exec();
    }

  private:
    void StartScript(IScriptTarget& target) {
        if (script_ != nullptr && !started_) {
            started_ = true;
            script_->Start(target);
        }
    }

    QApplication& app_;
    WizardFrame& frame_;
    ScriptSession* script_;
    bool started_ = false;
};

QtMessageHandler g_qtMessages = nullptr;

// Only while the application connects to the window system: a platform that
// cannot be opened (no display, a display nobody serves, no compositor, no
// plugin) ends the wizard as one that showed no window, where Qt would abort.
// Qt's own choice of platform decides, so nothing of it is guessed here.
void NoWindowOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        auto env = [](const char* name) {
            const char* value = std::getenv(name);
            return std::string(name) + "=" + (value != nullptr ? value : "(unset)");
        };
        std::fprintf(stderr,
                     "scourline-wizard: no usable display, so no window was shown (%s, %s, "
                     "%s)\n",
                     env("DISPLAY").c_str(), env("WAYLAND_DISPLAY").c_str(),
                     env("QT_QPA_PLATFORM").c_str());
        std::fflush(stderr);
        std::_Exit(kExitNoWindow);
    }
    g_qtMessages(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    g_qtMessages = qInstallMessageHandler(NoWindowOnFatal);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtMessages);
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(QString::fromLocal8Bit(argv[i]).toStdWString());
    }

    std::wstring scriptError;
    std::unique_ptr<ScriptSession> script = ScriptSession::FromEnvironment(scriptError);
    if (!scriptError.empty()) {
        std::fprintf(stderr, "%s\n", QString::fromStdWString(scriptError).toUtf8().constData());
        return kExitScriptFailed;
    }
    SetActiveScript(script.get());
    if (script != nullptr) {
        script->TakeLeadingAnswers();
        if (script->Failed()) {
            return kExitScriptFailed;
        }
    }

    platform::Services& services = platform::DefaultServices();
    std::wstring programFolder =
        services.environment != nullptr ? services.environment->ProgramFolder() : std::wstring();

    WizardFrame frame;
    QtReporter reporter;
    std::unique_ptr<platform::IVolumeSystem> volumes = platform::CreateVolumeSystem(programFolder);
    auto disks =
        std::make_unique<FormatChoicePreparer>(CreateFrameDiskPreparer(programFolder), [&frame] {
            QWidget* owner = QApplication::activeModalWidget();
            return AskFormatFileSystem(owner != nullptr ? owner : &frame);
        });
    KeepWindowsAliveDuringShareTests(services.network);
    PageContext context{services, reporter, frame, volumes.get(), disks.get()};
    CMainDlg sheet(context);
    frame.WatchVolumes(OpenVolumeWatch());

    StartupHost host(app, frame, script.get());
    int code = Run(JoinArguments(args), sheet, host, CreateWizardPages);
    if (script != nullptr && script->Failed()) {
        code = kExitScriptFailed;
    }
    SetActiveScript(nullptr);
    return code;
}
