// The modal dialogs of the shared descriptions (the credentials dialog, the
// About box), driven by their dialog logic.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "app/page_view.h"
#include "ui/qt/dialog_view.h"

namespace scour::qt {

class ModalDialog final : public QDialog {
    Q_OBJECT

  public:
    ModalDialog(const DialogDesc& desc, IDialogLogic& logic, QWidget* owner);
    DialogView& View() { return *view_; }
    // Centred over the owner, or on the screen without one.
    void Place();

  protected:
    void reject() override;

  private:
    void End(int command);
    IDialogLogic& logic_;
    DialogView* view_;
    bool ended_ = false;
};

// Shows the dialog modally over `owner` (null: alone, centred on the screen)
// and returns the command that closed it: 1 OK, 2 Cancel, Escape or the close box.
int RunModalDialog(IDialogLogic& logic, QWidget* owner);

// The dialog open now, if any (for scripted runs).
ModalDialog* OpenModalDialog();

// The program's file version for the About box.
std::optional<std::wstring> ProgramFileVersion();
// The About box over `owner`, or alone.
int ShowAboutBox(QWidget* owner);

}  // namespace scour::qt
