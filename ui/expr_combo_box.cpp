#include "ui/expr_combo_box.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

namespace quarry {
namespace {

// Draws the drop-down list's entries with the box's colouring.
class ExprItemDelegate : public QStyledItemDelegate {
  public:
    explicit ExprItemDelegate(CExprComboBox* box) : QStyledItemDelegate(box), box_(box) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        box_->DrawItem(*painter, option.rect, index.data(Qt::DisplayRole).toString(), selected);
    }

  private:
    CExprComboBox* box_;
};

}  // namespace

CExprEditArea::CExprEditArea(CExprComboBox* box) : QWidget(box), box_(box) {
    setObjectName(QStringLiteral("exprEditArea"));
    // The box keeps the keyboard focus; this only shows its text.
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::IBeamCursor);
}

void CExprEditArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    box_->DrawItem(painter, rect(), box_->currentText(), false);
}

void CExprEditArea::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    box_->setFocus(Qt::MouseFocusReason);
}

CExprComboBox::CExprComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // The owner records the history; the box never adds entries itself, and
    // never completes what the user types from it.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(4);
    setItemDelegate(new ExprItemDelegate(this));
    editArea_ = new CExprEditArea(this);
    connect(this, &QComboBox::editTextChanged, editArea_, qOverload<>(&QWidget::update));
    PlaceEditArea();
    UpdateEditAreaVisibility();
}

void CExprComboBox::SetSyntax(ExprSyntax syntax) {
    syntax_ = syntax;
    editArea_->update();
    view()->viewport()->update();
}

QStringList CExprComboBox::History() const {
    QStringList entries;
    entries.reserve(count());
    for (int i = 0; i < count(); ++i) {
        entries.append(itemText(i));
    }
    return entries;
}

void CExprComboBox::LoadHistory(const QStringList& entries) {
    const QString text = currentText();
    clear();
    addItems(entries);
    setEditText(entries.isEmpty() ? text : entries.first());
}

QColor CExprComboBox::FieldColour() const {
    return isEnabled() ? palette().color(QPalette::Active, QPalette::Base)
                       : palette().color(QPalette::Active, QPalette::Window);
}

ExprColouring CExprComboBox::Colour(const QString& text, bool selected) const {
    return ColourExpression(text, syntax_, FieldColour().rgb(), selected);
}

int CExprComboBox::DrawItem(QPainter& painter, const QRect& rect, const QString& text,
                            bool selected) const {
    const ExprColouring c = Colour(text, selected);
    painter.save();
    painter.setFont(font());
    painter.fillRect(rect.adjusted(0, 2, 0, -2), QColor::fromRgb(c.field));

    const QFontMetrics metrics(font());
    const int ellipsis = metrics.horizontalAdvance(QStringLiteral("..."));
    const int n = static_cast<int>(c.display.size());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    int left = rect.left();
    const int right = rect.left() + rect.width();
    int i = 0;
    while (i < n && left < right - ellipsis) {
        // A surrogate pair is one character on screen.
        const int take =
            (c.display[i].isHighSurrogate() && i + 1 < n && c.display[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        const QString ch = c.display.mid(i, take);
        const int width = metrics.horizontalAdvance(ch);
        painter.fillRect(QRect(left, rect.top() + 2, width, rect.height() - 4),
                         QColor::fromRgb(c.cellColours[i]));
        painter.setPen(QColor::fromRgb(c.textColours[i]));
        painter.drawText(QRect(left, rect.top(), right - left, rect.height()), flags, ch);
        left += width;
        i += take;
    }
    if (i < n) {
        painter.drawText(QRect(left, rect.top(), right - left, rect.height()), flags,
                         QStringLiteral("..."));
    }
    painter.restore();
    return i;
}

void CExprComboBox::showPopup() {
    QComboBox::showPopup();
    QAbstractItemView* list = view();
    // Case matters here: entries that differ only in case are distinct
    // expressions.
    const int row = findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row < 0) {
        list->selectionModel()->clear();
        return;
    }
    const QModelIndex index = model()->index(row, modelColumn(), rootModelIndex());
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    list->scrollTo(index);
}

void CExprComboBox::focusInEvent(QFocusEvent* event) {
    // The edit field selects its text when tabbed into or reached by its
    // label's key, so that typing replaces it, as in any other field.
    QComboBox::focusInEvent(event);
    UpdateEditAreaVisibility();
}

void CExprComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    // Opening the drop-down list takes the focus only for the list's time.
    if (event->reason() != Qt::PopupFocusReason && !view()->isVisible()) {
        UpdateEditAreaVisibility();
    }
}

void CExprComboBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    PlaceEditArea();
}

void CExprComboBox::changeEvent(QEvent* event) {
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::PaletteChange) {
        editArea_->update();
    }
}

void CExprComboBox::PlaceEditArea() {
    if (QLineEdit* edit = lineEdit()) {
        editArea_->setGeometry(edit->geometry());
    }
    editArea_->raise();
}

void CExprComboBox::UpdateEditAreaVisibility() {
    editArea_->setVisible(!hasFocus());
    if (editArea_->isVisible()) {
        PlaceEditArea();
    }
}

}  // namespace quarry
