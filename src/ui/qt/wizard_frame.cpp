#include "ui/qt/wizard_frame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "ui/qt/art.h"
#include "ui/qt/modal_dialog.h"
#include "ui/qt/script_session.h"

namespace scour::qt {

namespace {

// The sheet's measures in dialog units, as the system's wizard sheet has them.
constexpr int kPageCx = 317;
constexpr int kPageCy = 179;
constexpr int kHeaderCy = 36;
constexpr int kPadding = 7;
constexpr int kButtonCx = 50;
constexpr int kButtonCy = 14;
// How long volume notices are gathered before the page is told once.
constexpr int kDeviceSettleMs = 1000;

// An exterior page's background: white, the watermark down the left side.
class ExteriorBack final : public QWidget {
  public:
    ExteriorBack(const QPixmap& watermark, QWidget* parent)
        : QWidget(parent), watermark_(watermark) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.drawPixmap(0, 0, watermark_);
    }

  private:
    const QPixmap& watermark_;
};

// An interior page's header band: title, indented subtitle, the header
// bitmap at the right and a line below.
class HeaderBand final : public QWidget {
  public:
    HeaderBand(const DialogUnits& units, const QPixmap& bitmap, QString title, QString subtitle,
               QWidget* parent)
        : QWidget(parent),
          units_(units),
          bitmap_(bitmap),
          title_(std::move(title)),
          subtitle_(std::move(subtitle)) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        int lineY = height() - 2;
        p.fillRect(QRect(0, 0, width(), lineY), Qt::white);
        p.setPen(palette().color(QPalette::Dark));
        p.drawLine(0, lineY, width(), lineY);
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(0, lineY + 1, width(), lineY + 1);

        int bitmapX = width() - bitmap_.width() - units_.X(kPadding);
        p.drawPixmap(bitmapX, (lineY - bitmap_.height()) / 2, bitmap_);
        int textRight = bitmapX - units_.X(4);

        QFont bold = font();
        bold.setBold(true);
        p.setPen(Qt::black);
        p.setFont(bold);
        QRect titleBox(units_.X(13), units_.Y(6), textRight - units_.X(13), units_.Y(10));
        p.drawText(titleBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title_);
        p.setFont(font());
        QRect subtitleBox(units_.X(26), units_.Y(15), textRight - units_.X(26),
                          lineY - units_.Y(15));
        p.drawText(subtitleBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, subtitle_);
    }

  private:
    const DialogUnits& units_;
    const QPixmap& bitmap_;
    QString title_;
    QString subtitle_;
};

bool Usable(QWidget* w) {
    return w != nullptr && !w->isHidden() && w->isEnabled();
}

}  // namespace

WizardFrame::WizardFrame()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      watermark_(Watermark()),
      header_(HeaderBitmap()) {
    const DialogDesc* first = FindDialog(IDD_WELCOME);
    if (first != nullptr) {
        setFont(DialogFont(*first));
    }
    units_ = MeasureDialogUnits(font());
    pageSize_ = QSize(units_.X(kPageCx), units_.Y(kPageCy));
    headerHeight_ = units_.Y(kHeaderCy);
    setWindowIcon(ProgramIcon());

    pageArea_ = new QWidget(this);
    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("buttonLine"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    back_ = new QPushButton(QStringLiteral("< &Back"), this);
    next_ = new QPushButton(QStringLiteral("&Next >"), this);
    finish_ = new QPushButton(QStringLiteral("Finish"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    help_ = new QPushButton(QStringLiteral("&Help"), this);
    finish_->hide();
    back_->setEnabled(false);
    next_->setDefault(true);

    connect(back_, &QPushButton::clicked, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->PressBack();
        }
    });
    connect(next_, &QPushButton::clicked, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->PressNext();
        }
    });
    connect(finish_, &QPushButton::clicked, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->PressFinish();
        }
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->OnCancel();
        }
    });
    connect(help_, &QPushButton::clicked, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->PressHelp();
        }
    });

    // The window menu with "About": the context menu of the window, and
    // Alt+Space where the desktop leaves that key to the window.
    auto* menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { ShowWindowMenu(mapToGlobal(QPoint())); });

    deviceTimer_ = new QTimer(this);
    deviceTimer_->setSingleShot(true);
    deviceTimer_->setInterval(kDeviceSettleMs);
    connect(deviceTimer_, &QTimer::timeout, this, [this] { DeliverDeviceChange(); });

    Layout();
}

WizardFrame::~WizardFrame() = default;

void WizardFrame::Layout() {
    int width = pageSize_.width();
    pageArea_->setGeometry(0, 0, width, pageSize_.height());
    int lineY = pageSize_.height();
    if (auto* line = findChild<QFrame*>(QStringLiteral("buttonLine"))) {
        line->setGeometry(0, lineY, width, 2);
    }
    int buttonY = lineY + 2 + units_.Y(kPadding);
    int bw = units_.X(kButtonCx), bh = units_.Y(kButtonCy), gap = units_.X(kPadding);
    int x = width - gap - bw;
    help_->setGeometry(x, buttonY, bw, bh);
    x -= gap + bw;
    cancel_->setGeometry(x, buttonY, bw, bh);
    x -= gap + bw;
    next_->setGeometry(x, buttonY, bw, bh);
    finish_->setGeometry(x, buttonY, bw, bh);
    x -= bw;
    back_->setGeometry(x, buttonY, bw, bh);
    setFixedSize(width, buttonY + bh + units_.Y(kPadding));
}

void WizardFrame::Open(CMainDlg& sheet) {
    sheet_ = &sheet;
    sheet.Attach(*this);
    sheet.Start();
    // The sheet takes its text from the first page's caption, then keeps the title.
    std::wstring caption;
    if (!sheet.Pages().empty()) {
        if (const DialogDesc* first = FindDialog(sheet.Pages().front()->DialogId())) {
            caption = first->caption != nullptr ? first->caption : L"";
        }
    }
    title_ = ToQt(sheet.FixTitle(caption));
    setWindowTitle(title_);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

WizardFrame::PageHost& WizardFrame::HostFor(CWizardPage& page) {
    auto found = hosts_.find(&page);
    if (found != hosts_.end()) {
        return found->second;
    }
    PageHost& h = hosts_[&page];
    const DialogDesc* desc = FindDialog(page.DialogId());
    if (page.IsExterior()) {
        h.host = new ExteriorBack(watermark_, pageArea_);
    } else {
        h.host = new QWidget(pageArea_);
        auto* band =
            new HeaderBand(units_, header_, ToQt(page.Title()), ToQt(page.Subtitle()), h.host);
        band->setGeometry(0, 0, pageSize_.width(), headerHeight_);
    }
    h.host->setGeometry(QRect(QPoint(0, 0), pageSize_));
    h.host->hide();
    if (desc != nullptr) {
        h.view = new DialogView(*desc, h.host);
        h.view->move(0, page.IsExterior() ? 0 : headerHeight_);
        CWizardPage* p = &page;
        h.view->onCommand = [p](int id) { p->OnCommand(id); };
        h.view->onSelectionChanged = [p](int id) { p->OnSelectionChanged(id); };
        page.Attach(*h.view);
    }
    return h;
}

void WizardFrame::ShowPage(CWizardPage& page) {
    PageHost& h = HostFor(page);
    for (auto& [other, host] : hosts_) {
        if (&host != &h) {
            host.host->hide();
        }
    }
    h.host->show();
    current_ = &h;
    help_->setEnabled(page.HasHelp());
    // The sheet's initial focus: the page's first control that takes Tab.
    if (h.view != nullptr) {
        for (const ControlDesc& c : h.view->Desc().controls) {
            QWidget* w = h.view->Control(c.id);
            if ((c.style & kTabStop) && w != nullptr && !w->isHidden() && w->isEnabled()) {
                w->setFocus(Qt::TabFocusReason);
                return;
            }
        }
    }
    (finish_->isHidden() ? next_ : finish_)->setFocus(Qt::TabFocusReason);
}

void WizardFrame::Close(int exitCode) {
    if (closing_) {
        return;
    }
    closing_ = true;
    exitCode_ = exitCode;
    // The pages go right after this; nothing may call them any more.
    for (auto& [page, host] : hosts_) {
        if (host.view != nullptr) {
            host.view->onCommand = nullptr;
            host.view->onSelectionChanged = nullptr;
        }
    }
    current_ = nullptr;
    deviceTimer_->stop();
    if (watchNotifier_ != nullptr) {
        watchNotifier_->setEnabled(false);
    }
    hide();
    QCoreApplication::exit(exitCode);
}

void WizardFrame::SetWizardButtons(unsigned flags) {
    // Posted, as the system's sheet takes PSM_SETWIZBUTTONS.
    QTimer::singleShot(0, this, [this, flags] { ApplyButtons(flags); });
}

void WizardFrame::ApplyButtons(unsigned flags) {
    back_->setEnabled((flags & kWizBack) != 0);
    bool finish = (flags & kWizFinish) != 0;
    next_->setVisible(!finish);
    finish_->setVisible(finish);
    next_->setEnabled((flags & kWizNext) != 0);
    finish_->setEnabled(finish);
    next_->setDefault(!finish);
    finish_->setDefault(finish);
}

void WizardFrame::ShowCancelButton(bool visible) {
    cancel_->setVisible(visible);
}

void WizardFrame::PostOk() {
    QTimer::singleShot(0, this, [this] {
        if (sheet_ != nullptr) {
            sheet_->OnOk();
        }
    });
}

int WizardFrame::RunDialog(IDialogLogic& dialog) {
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr && isVisible()) {
        owner = this;
    }
    return RunModalDialog(dialog, owner);
}

void WizardFrame::BeginBusy() {
    if (busy_++ == 0) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    RepaintWindowNow(this);
}

void WizardFrame::EndBusy() {
    if (busy_ > 0 && --busy_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void WizardFrame::Pause(int milliseconds) {
    RepaintWindowNow(this);
    if (milliseconds > 0) {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
}

std::optional<std::wstring> WizardFrame::BrowseForFolder(const std::wstring& prompt) {
    if (ActiveScript() != nullptr) {
        ScriptSession::Note(L"browse: " + prompt);
        return std::nullopt;
    }
    QWidget* owner = QApplication::activeModalWidget();
    QString folder =
        QFileDialog::getExistingDirectory(owner != nullptr ? owner : this, ToQt(prompt), QString());
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return FromQt(QDir::toNativeSeparators(folder));
}

void WizardFrame::ExploreFolder(const std::wstring& folder) {
    if (ActiveScript() != nullptr) {
        ScriptSession::Note(L"explore: " + folder);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(ToQt(folder)));
}

QString WizardFrame::HelpPageFor(const std::wstring& request) {
    std::wstring file = request;
    std::wstring topic;
    if (auto at = request.find(L"::"); at != std::wstring::npos) {
        file = request.substr(0, at);
        topic = request.substr(at + 2);
        if (!topic.empty() && topic.back() == L'!') {
            topic.pop_back();
        }
    }
    QString contents = ToQt(file);
    if (!topic.empty()) {
        QString page = QFileInfo(contents).dir().filePath(ToQt(topic));
        if (QFileInfo::exists(page)) {
            return page;
        }
    }
    return contents;
}

void WizardFrame::OpenHelp(const std::wstring& request) {
    QString page = HelpPageFor(request);
    if (ActiveScript() != nullptr) {
        ScriptSession::Note(L"help: " + FromQt(page));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

void WizardFrame::ShowAbout() {
    ShowAboutBox(isVisible() ? this : nullptr);
}

void WizardFrame::ShowWindowMenu(const QPoint& where) {
    QMenu menu(this);
    QAction* about = menu.addAction(ToQt(LoadText(IDS_ABOUT_MENU_ITEM)));
    if (menu.exec(where) == about) {
        ShowAbout();
    }
}

void WizardFrame::WatchVolumes(std::unique_ptr<IVolumeWatch> watch) {
    watch_ = std::move(watch);
    if (watch_ == nullptr || watch_->Descriptor() < 0) {
        return;
    }
    watchNotifier_ = new QSocketNotifier(watch_->Descriptor(), QSocketNotifier::Read, this);
    connect(watchNotifier_, &QSocketNotifier::activated, this, [this] {
        if (watch_->ReadVolumeChange()) {
            deviceTimer_->start();
        }
    });
}

void WizardFrame::DeliverDeviceChange() {
    if (closing_ || sheet_ == nullptr) {
        return;
    }
    if (CWizardPage* page = sheet_->CurrentPage(); page != nullptr && page->IsCreated()) {
        page->OnDeviceChange();
    }
}

DialogView* WizardFrame::CurrentView() {
    return current_ != nullptr ? current_->view : nullptr;
}

QPushButton* WizardFrame::ButtonFor(scour::WizardButton button) {
    switch (button) {
        case scour::WizardButton::Next:
            return next_;
        case scour::WizardButton::Back:
            return back_;
        case scour::WizardButton::Finish:
            return finish_;
        case scour::WizardButton::Cancel:
            return cancel_;
        case scour::WizardButton::Help:
            return help_;
    }
    return nullptr;
}

void WizardFrame::reject() {
    if (sheet_ != nullptr && !closing_) {
        sheet_->OnCancel();
    }
}

void WizardFrame::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    if (sheet_ != nullptr) {
        sheet_->OnCancel();
    }
}

void WizardFrame::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // The title, once fixed, stays whatever tries to change it.
    if (event->type() == QEvent::WindowTitleChange && sheet_ != nullptr && sheet_->OnSetText() &&
        windowTitle() != title_) {
        setWindowTitle(title_);
    }
}

void WizardFrame::contextMenuEvent(QContextMenuEvent* event) {
    ShowWindowMenu(event->globalPos());
}

// --- scripted runs ----------------------------------------------------------------

DialogView* WizardFrame::ScriptView() {
    if (ModalDialog* modal = OpenModalDialog()) {
        return &modal->View();
    }
    return CurrentView();
}

bool WizardFrame::Press(scour::WizardButton button) {
    QPushButton* b = ButtonFor(button);
    if (closing_ || OpenModalDialog() != nullptr || !Usable(b)) {
        return false;
    }
    QTimer::singleShot(0, b, [b] { b->click(); });
    return true;
}

bool WizardFrame::Click(int id) {
    DialogView* view = ScriptView();
    QWidget* control = view != nullptr ? view->Control(id) : nullptr;
    if (control == nullptr && id == kAboutCommand && OpenModalDialog() == nullptr && !closing_) {
        // The window menu's About item, by its command number.
        QTimer::singleShot(0, this, [this] { ShowAbout(); });
        return true;
    }
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (!Usable(button)) {
        return false;
    }
    if (qobject_cast<QPushButton*>(button) != nullptr) {
        // A push button may open a dialog whose own loop the script then drives.
        QTimer::singleShot(0, button, [button] { button->click(); });
    } else {
        // Check boxes and radio buttons change at once, for what the script reads next.
        button->click();
    }
    return true;
}

bool WizardFrame::Type(int id, const std::wstring& text) {
    DialogView* view = ScriptView();
    auto* edit = qobject_cast<QLineEdit*>(view != nullptr ? view->Control(id) : nullptr);
    if (!Usable(edit) || edit->isReadOnly()) {
        return false;
    }
    // As typed: the old text selected and replaced, with the edit's notifications.
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    edit->insert(ToQt(text));
    return true;
}

bool WizardFrame::Select(int id, int index) {
    DialogView* view = ScriptView();
    QWidget* control = view != nullptr ? view->Control(id) : nullptr;
    if (!Usable(control)) {
        return false;
    }
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        if (index < 0 || index >= combo->count()) {
            return false;
        }
        combo->setCurrentIndex(index);
        if (view->onSelectionChanged) {
            view->onSelectionChanged(id);
        }
        return true;
    }
    if (auto* list = qobject_cast<QTreeWidget*>(control)) {
        QTreeWidgetItem* item = list->topLevelItem(index);
        if (item == nullptr) {
            return false;
        }
        list->setCurrentItem(item);
        return true;
    }
    return false;
}

void WizardFrame::DeviceChange() {
    DeliverDeviceChange();
}

bool WizardFrame::Screenshot(const std::wstring& file) {
    QWidget* target = OpenModalDialog();
    if (target == nullptr) {
        target = this;
    }
    QString path = QFileInfo(ToQt(file)).absoluteFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    return target->grab().save(path, "PNG");
}

int WizardFrame::CurrentPage() {
    if (sheet_ == nullptr || closing_) {
        return 0;
    }
    CWizardPage* page = sheet_->CurrentPage();
    return page != nullptr ? page->DialogId() : 0;
}

std::optional<bool> WizardFrame::IsChecked(int id) {
    DialogView* view = ScriptView();
    if (view == nullptr || view->Control(id) == nullptr) {
        return std::nullopt;
    }
    return view->IsChecked(id);
}

std::optional<bool> WizardFrame::IsEnabled(int id) {
    DialogView* view = ScriptView();
    if (view == nullptr || view->Control(id) == nullptr) {
        return std::nullopt;
    }
    return view->IsEnabled(id);
}

std::optional<bool> WizardFrame::IsVisible(int id) {
    DialogView* view = ScriptView();
    if (view == nullptr || view->Control(id) == nullptr) {
        return std::nullopt;
    }
    return view->IsVisible(id);
}

std::optional<std::wstring> WizardFrame::Text(int id) {
    DialogView* view = ScriptView();
    if (view == nullptr || view->Control(id) == nullptr) {
        return std::nullopt;
    }
    return view->GetText(id);
}

unsigned WizardFrame::Buttons() {
    unsigned flags = 0;
    if (Usable(back_)) {
        flags |= kWizBack;
    }
    if (Usable(next_)) {
        flags |= kWizNext;
    }
    if (Usable(finish_)) {
        flags |= kWizFinish;
    }
    return flags;
}

}  // namespace scour::qt
