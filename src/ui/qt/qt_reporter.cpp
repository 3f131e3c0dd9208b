#include "ui/qt/qt_reporter.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/qt/dialog_view.h"
#include "ui/qt/script_session.h"

namespace scour::qt {

namespace {

QMessageBox::Icon IconFor(platform::BoxKind kind) {
    switch (kind) {
        case platform::BoxKind::Error:
            return QMessageBox::Critical;
        case platform::BoxKind::Information:
            return QMessageBox::Information;
        case platform::BoxKind::Plain:
        case platform::BoxKind::Question:
            break;
    }
    return QMessageBox::NoIcon;
}

// The box owned by the window the user works in, as the system's boxes are.
QWidget* Owner() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->isWindow() && qobject_cast<QDialog*>(top) != nullptr) {
            return top;
        }
    }
    return nullptr;
}

// The arrow over a box that comes while the wait cursor is up (a failure in
// the middle of the work), the wait cursor again after it.
class ArrowWhileOpen {
  public:
    ArrowWhileOpen() : busy_(QApplication::overrideCursor() != nullptr) {
        if (busy_) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~ArrowWhileOpen() {
        if (busy_) {
            QApplication::restoreOverrideCursor();
        }
    }
    ArrowWhileOpen(const ArrowWhileOpen&) = delete;
    ArrowWhileOpen& operator=(const ArrowWhileOpen&) = delete;

  private:
    bool busy_;
};

}  // namespace

void QtReporter::ShowMessage(platform::BoxKind kind, const std::wstring& caption,
                             const std::wstring& text) {
    QMessageBox box(IconFor(kind), ToQt(caption), ToQt(text), QMessageBox::Ok, Owner());
    if (auto* script = ActiveScript()) {
        if (script->AnswerBox(caption, text, &box) || script->Failed()) {
            return;
        }
    }
    ArrowWhileOpen arrow;
    box.exec();
}

bool QtReporter::AskYesNo(const std::wstring& caption, const std::wstring& text) {
    QMessageBox box(QMessageBox::NoIcon, ToQt(caption), ToQt(text),
                    QMessageBox::Yes | QMessageBox::No, Owner());
    box.setDefaultButton(QMessageBox::Yes);
    if (auto* script = ActiveScript()) {
        auto answer = script->AnswerBox(caption, text, &box);
        if (answer || script->Failed()) {
            return answer == BoxAnswer::Yes;
        }
    }
    ArrowWhileOpen arrow;
    return box.exec() == QMessageBox::Yes;
}

}  // namespace scour::qt
