#include "ui/qt/format_choice.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/strings.h"
#include "ui/qt/dialog_view.h"
#include "ui/qt/platform_hooks.h"
#include "ui/qt/script_session.h"

namespace scour::qt {

namespace {

constexpr wchar_t kFormatCaption[] = L"Format Removable Disk";
constexpr wchar_t kFormatWarning[] =
    L"Formatting will erase ALL data on this disk.\nChoose the file system and click Start.";

}  // namespace

std::unique_ptr<QDialog> MakeFormatDialog(QWidget* owner) {
    auto dialog = std::make_unique<QDialog>(
        owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog->setWindowTitle(ToQt(kFormatCaption));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* warning = new QLabel(ToQt(kFormatWarning), dialog.get());
    warning->setTextFormat(Qt::PlainText);
    layout->addWidget(warning);
    auto* form = new QFormLayout;
    auto* fileSystem = new QComboBox(dialog.get());
    fileSystem->setObjectName(QStringLiteral("fileSystem"));
    fileSystem->addItems({QStringLiteral("FAT32"), QStringLiteral("FAT")});
    form->addRow(QStringLiteral("File system:"), fileSystem);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(dialog.get());
    QPushButton* start = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    start->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(buttons);
    dialog->setFixedSize(dialog->sizeHint());
    return dialog;
}

std::optional<std::wstring> AskFormatFileSystem(QWidget* owner) {
    std::unique_ptr<QDialog> made = MakeFormatDialog(owner);
    QDialog& dialog = *made;
    auto* fileSystem = dialog.findChild<QComboBox*>(QStringLiteral("fileSystem"));
    if (auto* script = ActiveScript()) {
        // "answer ok" starts the format with FAT32, "answer cancel" cancels.
        auto answer = script->AnswerBox(kFormatCaption, L"File system: FAT32", &dialog);
        if (answer || script->Failed()) {
            if (answer == BoxAnswer::Ok || answer == BoxAnswer::Yes) {
                return std::wstring(L"FAT32");
            }
            return std::nullopt;
        }
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return FromQt(fileSystem->currentText());
}

FormatChoicePreparer::FormatChoicePreparer(std::unique_ptr<platform::IDiskPreparer> inner, Ask ask)
    : inner_(std::move(inner)), ask_(std::move(ask)) {}

bool FormatChoicePreparer::Format(const platform::DiskTarget& target) {
    auto fileSystem = ask_ ? ask_() : std::optional<std::wstring>(L"FAT32");
    if (!fileSystem) {
        return false;
    }
    qt::SetFormatFileSystem(*inner_, *fileSystem);
    return inner_->Format(target);
}

}  // namespace scour::qt
