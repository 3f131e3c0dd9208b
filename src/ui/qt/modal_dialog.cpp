#include "ui/qt/modal_dialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <vector>

#include "app/resource_ids.h"
#include "pages/pages.h"
#include "ui/qt/script_session.h"

namespace scour::qt {

namespace {

std::vector<ModalDialog*> g_open;

}  // namespace

ModalDialog::ModalDialog(const DialogDesc& desc, IDialogLogic& logic, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      logic_(logic),
      view_(new DialogView(desc, this)) {
    setWindowTitle(ToQt(desc.caption != nullptr ? desc.caption : L""));
    setFixedSize(view_->DialogSize());
    view_->move(0, 0);
    view_->onCommand = [this](int id) {
        if (id == IDC_OK || id == IDC_CANCEL) {
            End(id);
        }
    };
}

void ModalDialog::Place() {
    QRect area;
    if (parentWidget() != nullptr && parentWidget()->isVisible()) {
        area = parentWidget()->window()->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void ModalDialog::reject() {
    End(IDC_CANCEL);
}

void ModalDialog::End(int command) {
    if (ended_) {
        return;
    }
    ended_ = true;
    // The logic reads what it needs while the controls still exist.
    logic_.OnClose(*view_, command);
    done(command);
}

ModalDialog* OpenModalDialog() {
    return g_open.empty() ? nullptr : g_open.back();
}

int RunModalDialog(IDialogLogic& logic, QWidget* owner) {
    const DialogDesc* desc = FindDialog(logic.DialogId());
    if (desc == nullptr) {
        return IDC_CANCEL;
    }
    ModalDialog dialog(*desc, logic, owner);
    dialog.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    dialog.Place();
    logic.OnInitDialog(dialog.View());
    std::wstring password;
    std::optional<BoxAnswer> answer;
    auto* script = ActiveScript();
    if (script != nullptr && desc->id == IDD_PASSWORD) {
        answer = script->AnswerPasswordDialog(password, &dialog);
    }
    if (answer || (script != nullptr && script->Failed())) {
        // The credentials come from the script; the dialog is still filled
        // and closed through its own logic.
        int command = answer == BoxAnswer::Ok ? IDC_OK : IDC_CANCEL;
        if (command == IDC_OK) {
            dialog.View().SetText(IDC_PASSWD_PASSWORD, password);
        }
        logic.OnClose(dialog.View(), command);
        return command;
    }
    g_open.push_back(&dialog);
    int result = dialog.exec();
    g_open.pop_back();
    return result == IDC_OK || result == IDC_CANCEL ? result : IDC_CANCEL;
}

std::optional<std::wstring> ProgramFileVersion() {
#ifdef SCOUR_VERSION_TEXT
    return std::wstring(SCOUR_VERSION_TEXT);
#else
    return std::nullopt;
#endif
}

int ShowAboutBox(QWidget* owner) {
    CAboutDlg about(ProgramFileVersion());
    return RunModalDialog(about, owner);
}

}  // namespace scour::qt
