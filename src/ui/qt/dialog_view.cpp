#include "ui/qt/dialog_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

namespace scour::qt {

namespace {

// MulDiv's rounding: half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

// The padding a report list adds around a cell's text, left and right.
constexpr int kCellPadding = 12;

}  // namespace

int DialogUnits::X(int units) const {
    return MulDiv(units, baseX, 4);
}
int DialogUnits::Y(int units) const {
    return MulDiv(units, baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
    // Place and size convert separately, as the system creates a template's controls.
    return QRect(X(x), Y(y), X(cx), Y(cy));
}

DialogUnits MeasureDialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = std::max(1, (width / 26 + 1) / 2);
    units.baseY = std::max(1, metrics.height());
    return units;
}

QFont DialogFont(const DialogDesc& dialog) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(dialog.fontPoints > 0 ? dialog.fontPoints : 8);
    return font;
}

QFont TitleFont() {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(12);
    font.setBold(true);
    return font;
}

QString ToQt(const std::wstring& text) {
    return QString::fromStdWString(text);
}
std::wstring FromQt(const QString& text) {
    return text.toStdWString();
}

DialogView::DialogView(const DialogDesc& dialog, QWidget* parent)
    : QWidget(parent), dialog_(dialog) {
    setFont(DialogFont(dialog));
    units_ = MeasureDialogUnits(font());
    Build();
    resize(DialogSize());
}

QSize DialogView::DialogSize() const {
    return QSize(units_.X(dialog_.cx), units_.Y(dialog_.cy));
}

QWidget* DialogView::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void DialogView::Build() {
    int group = 0;
    for (const auto& c : dialog_.controls) {
        QWidget* widget = nullptr;
        QString text = c.text != nullptr ? QString::fromWCharArray(c.text) : QString();
        if (c.style & kGroup) {
            ++group;
        }
        switch (c.kind) {
            case ControlKind::Static: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                label->setWordWrap(true);
                label->setAlignment(((c.style & kCentered) ? Qt::AlignHCenter : Qt::AlignLeft) |
                                    Qt::AlignTop);
                if (c.style & kTitleFont) {
                    label->setFont(TitleFont());
                }
                widget = label;
                break;
            }
            case ControlKind::Radio: {
                auto* radio = new QRadioButton(text, this);
                // Groups follow the dialog's group marks, not the parent widget.
                radio->setAutoExclusive(false);
                radio->installEventFilter(this);
                radioGroup_[c.id] = group;
                groupOrder_[group].push_back(c.id);
                int id = c.id;
                connect(radio, &QAbstractButton::clicked, this, [this, id] { RadioClicked(id); });
                widget = radio;
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = new QCheckBox(text, this);
                int id = c.id;
                connect(box, &QAbstractButton::clicked, this, [this, id] { Command(id); });
                widget = box;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new QLineEdit(this);
                if (c.style & kPassword) {
                    edit->setEchoMode(QLineEdit::Password);
                }
                edit->setReadOnly((c.style & kReadOnly) != 0);
                widget = edit;
                break;
            }
            case ControlKind::PushButton:
            case ControlKind::DefaultButton: {
                auto* button = new QPushButton(text, this);
                bool isDefault = c.kind == ControlKind::DefaultButton;
                // As in a Windows dialog: Return presses the push button that
                // has the focus; elsewhere it presses the window's default
                // button (the sheet's Next or Finish, a dialog's OK).
                button->setAutoDefault(true);
                button->setDefault(isDefault);
                int id = c.id;
                connect(button, &QAbstractButton::clicked, this, [this, id] { Command(id); });
                widget = button;
                break;
            }
            case ControlKind::DropDownList: {
                auto* combo = new QComboBox(this);
                combo->setEditable(false);
                int id = c.id;
                connect(combo, &QComboBox::activated, this, [this, id] {
                    if (!filling_ && onSelectionChanged) {
                        onSelectionChanged(id);
                    }
                });
                widget = combo;
                break;
            }
            case ControlKind::ListView: {
                auto* list = new QTreeWidget(this);
                list->setRootIsDecorated(false);
                list->setItemsExpandable(false);
                list->setUniformRowHeights(true);
                list->setSelectionMode(QAbstractItemView::SingleSelection);
                list->setSelectionBehavior(QAbstractItemView::SelectRows);
                list->setAllColumnsShowFocus(true);
                list->setSortingEnabled(false);
                list->header()->setSectionsClickable(false);
                list->header()->setSectionsMovable(false);
                list->header()->setStretchLastSection(false);
                list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                list->setColumnCount(0);
                // The selection stays visible while another control has the focus.
                QPalette palette = list->palette();
                for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
                    palette.setColor(QPalette::Inactive, role,
                                     palette.color(QPalette::Active, role));
                }
                list->setPalette(palette);
                int id = c.id;
                connect(list, &QTreeWidget::itemSelectionChanged, this, [this, id] {
                    if (!filling_ && onSelectionChanged) {
                        onSelectionChanged(id);
                    }
                });
                widget = list;
                break;
            }
            case ControlKind::Progress: {
                auto* bar = new QProgressBar(this);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                widget = bar;
                break;
            }
        }
        QRect place = units_.Rect(c.x, c.y, c.cx, c.cy);
        if (c.kind == ControlKind::DropDownList) {
            // The height in the description is the dropped-down list's; the
            // closed box is as tall as its font needs.
            auto* combo = static_cast<QComboBox*>(widget);
            int closed = std::max(combo->sizeHint().height(), units_.Y(12));
            int rowHeight = std::max(1, combo->fontMetrics().height() + 2);
            combo->setMaxVisibleItems(std::max(1, (place.height() - closed) / rowHeight));
            place.setHeight(closed);
        }
        widget->setGeometry(place);
        if (!(c.style & kTabStop) && c.kind != ControlKind::Static &&
            c.kind != ControlKind::Progress) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        if (c.style & kHidden) {
            widget->hide();
        }
        if (c.id != -1) {
            widget->setObjectName(QString::number(c.id));
            controls_[c.id] = widget;
        }
    }
}

void DialogView::RadioClicked(int id) {
    // An automatic radio button: checked by the click, the others of its group cleared.
    int group = radioGroup_[id];
    for (const auto& [other, otherGroup] : radioGroup_) {
        if (otherGroup == group) {
            if (auto* button = qobject_cast<QAbstractButton*>(Control(other))) {
                button->setChecked(other == id);
            }
        }
    }
    Command(id);
}

bool DialogView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* radio = qobject_cast<QRadioButton*>(watched);
        if (radio != nullptr && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            switch (key->key()) {
                case Qt::Key_Up:
                case Qt::Key_Left:
                    return MoveInRadioGroup(*radio, -1);
                case Qt::Key_Down:
                case Qt::Key_Right:
                    return MoveInRadioGroup(*radio, +1);
                default:
                    break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool DialogView::MoveInRadioGroup(QRadioButton& from, int step) {
    auto group = std::find_if(radioGroup_.begin(), radioGroup_.end(),
                              [&](const auto& entry) { return Control(entry.first) == &from; });
    if (group == radioGroup_.end()) {
        return false;
    }
    int id = group->first;
    const std::vector<int>& members = groupOrder_[group->second];
    auto at = std::find(members.begin(), members.end(), id);
    if (at == members.end()) {
        return false;
    }
    // The next usable button of the group, wrapping; the focus and the check
    // move together and the page hears a click, as with a Windows auto radio
    // button. A group with no other usable button keeps the key.
    auto count = static_cast<std::ptrdiff_t>(members.size());
    std::ptrdiff_t start = at - members.begin();
    for (std::ptrdiff_t n = 1; n < count; ++n) {
        std::ptrdiff_t i = ((start + step * n) % count + count) % count;
        auto* next = qobject_cast<QRadioButton*>(Control(members[static_cast<std::size_t>(i)]));
        if (next != nullptr && next->isVisibleTo(this) && next->isEnabledTo(this)) {
            next->setFocus(Qt::TabFocusReason);
            next->click();
            return true;
        }
    }
    return true;
}

void DialogView::Command(int id) {
    if (onCommand) {
        onCommand(id);
    }
}

QTreeWidget* DialogView::List(int id) const {
    return qobject_cast<QTreeWidget*>(Control(id));
}

void DialogView::SetText(int id, const std::wstring& text) {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(ToQt(text));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(ToQt(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(ToQt(text));
    }
}

std::wstring DialogView::GetText(int id) {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return FromQt(edit->text());
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return FromQt(label->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return FromQt(button->text());
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        return FromQt(combo->currentText());
    }
    return {};
}

void DialogView::SetChecked(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        button->setChecked(checked);
    }
}

bool DialogView::IsChecked(int id) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

void DialogView::Enable(int id, bool enabled) {
    if (QWidget* w = Control(id)) {
        w->setEnabled(enabled);
    }
}

bool DialogView::IsEnabled(int id) {
    QWidget* w = Control(id);
    return w != nullptr && w->isEnabledTo(this);
}

void DialogView::Show(int id, bool visible) {
    if (QWidget* w = Control(id)) {
        w->setVisible(visible);
    }
}

bool DialogView::IsVisible(int id) {
    QWidget* w = Control(id);
    return w != nullptr && !w->isHidden();
}

void DialogView::SetFocus(int id) {
    if (QWidget* w = Control(id)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

void DialogView::SelectAllText(int id) {
    if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) {
        edit->selectAll();
    }
}

void DialogView::AddItem(int id, const std::wstring& text) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        filling_ = true;
        combo->addItem(ToQt(text));
        // A drop-down list starts without a selection, as the system's does.
        if (combo->count() == 1) {
            combo->setCurrentIndex(-1);
        }
        filling_ = false;
    }
}

void DialogView::SetSelection(int id, int index) {
    filling_ = true;
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    } else if (auto* list = List(id)) {
        list->clearSelection();
        if (auto* item = list->topLevelItem(index)) {
            item->setSelected(true);
            list->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        }
    }
    filling_ = false;
}

int DialogView::Selection(int id) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        return combo->currentIndex();
    }
    if (auto* list = List(id)) {
        auto selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
    }
    return -1;
}

void DialogView::InsertColumns(int id, const std::vector<std::wstring>& titles) {
    auto* list = List(id);
    if (list == nullptr) {
        return;
    }
    QStringList labels;
    for (const auto& t : titles) {
        labels << ToQt(t);
    }
    list->setColumnCount(static_cast<int>(titles.size()));
    list->setHeaderLabels(labels);
    QFontMetrics metrics(list->font());
    for (int i = 0; i < labels.size(); ++i) {
        list->setColumnWidth(i, metrics.horizontalAdvance(labels[i]) + 15);
    }
}

void DialogView::SetRows(int id, const std::vector<std::vector<std::wstring>>& rows, int selected) {
    auto* list = List(id);
    if (list == nullptr) {
        return;
    }
    filling_ = true;
    list->setUpdatesEnabled(false);
    list->clear();
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem(list);
        for (std::size_t col = 0; col < row.size(); ++col) {
            item->setText(static_cast<int>(col), ToQt(row[col]));
        }
    }
    if (auto* item = list->topLevelItem(selected)) {
        item->setSelected(true);
        list->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    list->setUpdatesEnabled(true);
    filling_ = false;
}

int DialogView::ColumnContentWidth(int id, int column) {
    auto* list = List(id);
    if (list == nullptr) {
        return 0;
    }
    QFontMetrics metrics(list->font());
    int widest = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        widest = std::max(widest, metrics.horizontalAdvance(list->topLevelItem(i)->text(column)));
    }
    return widest + kCellPadding;
}

int DialogView::ColumnContentAndTitleWidth(int id, int column) {
    auto* list = List(id);
    if (list == nullptr) {
        return 0;
    }
    QFontMetrics metrics(list->header()->font());
    int title = metrics.horizontalAdvance(list->headerItem()->text(column)) + kCellPadding;
    int width = std::max(ColumnContentWidth(id, column), title);
    if (column == list->columnCount() - 1) {
        // As the system's list measures it: the last column reaches to the
        // list's right edge when that is wider.
        int left = 0;
        for (int i = 0; i < column; ++i) {
            left += list->columnWidth(i);
        }
        width = std::max(width, list->viewport()->width() - left);
    }
    return width;
}

void DialogView::SetColumnWidth(int id, int column, int width) {
    if (auto* list = List(id)) {
        list->setColumnWidth(column, width);
    }
}

int DialogView::ColumnWidth(int id, int column) {
    auto* list = List(id);
    return list == nullptr ? 0 : list->columnWidth(column);
}

void DialogView::SetProgressRange(int id, int lower, int upper) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) {
        bar->setRange(lower, upper);
    }
}

void DialogView::SetProgressPosition(int id, int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) {
        bar->setValue(position);
        RepaintWindowNow(bar);
    }
}

int DialogView::ProgressPosition(int id) {
    auto* bar = qobject_cast<QProgressBar*>(Control(id));
    return bar == nullptr ? 0 : bar->value();
}

void DialogView::RepaintNow() {
    RepaintWindowNow(this);
}

void RepaintWindowNow(QWidget* widget) {
    if (widget == nullptr) {
        return;
    }
    QWidget* top = widget->window();
    if (!top->isVisible()) {
        return;
    }
    top->repaint();
    // Only what asks for a repaint: timers, input and the script's steps wait.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
}

namespace {
bool g_keepingAlive = false;
}

void KeepWindowsAlive() {
    if (g_keepingAlive || QCoreApplication::instance() == nullptr) {
        return;
    }
    g_keepingAlive = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers |
                                    QEventLoop::X11ExcludeTimers);
    g_keepingAlive = false;
}

bool KeepingWindowsAlive() {
    return g_keepingAlive;
}

}  // namespace scour::qt
