// CExprComboBox: the editable drop-down in which the user types a search or
// rewrite expression, with its history list. While the box has the focus it is
// a plain editable combo box; while it hasn't, its CExprEditArea lies over the
// edit field and shows the text syntax-coloured. List entries are drawn with
// the same colouring.
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

#include "ui/expr_colouring.h"

class QPainter;

namespace quarry {

class CExprComboBox;

// The coloured overlay over the box's edit field. Clicking it focuses the box,
// which hides it.
class CExprEditArea : public QWidget {
    Q_OBJECT
  public:
    explicit CExprEditArea(CExprComboBox* box);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    CExprComboBox* box_;
};

class CExprComboBox : public QComboBox {
    Q_OBJECT
  public:
    // Search-expression colouring until SetSyntax says otherwise.
    explicit CExprComboBox(QWidget* parent = nullptr);

    ExprSyntax Syntax() const { return syntax_; }
    void SetSyntax(ExprSyntax syntax);

    // The list entries from index 0 (most recent) to the last.
    QStringList History() const;
    // Replaces the list by `entries` in their order; the edit text becomes
    // the first entry when there is one (otherwise it is left as it was).
    void LoadHistory(const QStringList& entries);

    CExprEditArea* EditArea() const { return editArea_; }

    // The list opens with the entry equal to the edit text highlighted (none
    // when no entry is), not the one last picked from it.
    void showPopup() override;

    // The colouring of `text` as this box shows it: its syntax, its field
    // colour (the window colour, or the menu colour while disabled), and
    // complemented when `selected`.
    ExprColouring Colour(const QString& text, bool selected) const;
    // The field colour of an unselected entry.
    QColor FieldColour() const;

    // Draws one coloured text into rect: fills the field, then draws the
    // characters cell by cell, ending in "..." when they don't fit. Returns how
    // many display characters were drawn.
    int DrawItem(QPainter& painter, const QRect& rect, const QString& text, bool selected) const;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void PlaceEditArea();
    void UpdateEditAreaVisibility();

    ExprSyntax syntax_ = ExprSyntax::kSearch;
    CExprEditArea* editArea_ = nullptr;
};

}  // namespace quarry
