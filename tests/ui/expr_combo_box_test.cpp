// CExprComboBox: history, the coloured overlay's focus behaviour, and what the
// drawing puts on screen.
#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/paint_counter.h"
#include "ui/expr_combo_box.h"

namespace quarry {
namespace {

// A box in a shown, active window, beside a line edit that can take the focus.
class ComboWindow {
  public:
    ComboWindow() : window_(std::make_unique<QWidget>()) {
        auto* layout = new QVBoxLayout(window_.get());
        box = new CExprComboBox(window_.get());
        other = new QLineEdit(window_.get());
        layout->addWidget(box);
        layout->addWidget(other);
        window_->resize(300, 80);
        window_->show();
        window_->activateWindow();
        active = QTest::qWaitForWindowActive(window_.get());
    }
    CExprComboBox* box;
    QLineEdit* other;
    bool active = false;

  private:
    std::unique_ptr<QWidget> window_;
};

// A font whose glyph pixels are exactly the pen colour.
QFont PlainFont() {
    QFont font(QStringLiteral("Monospace"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(9);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The plain font on a white field, whatever the style's palette.
void PlainFontOnWhite(CExprComboBox& box) {
    box.setFont(PlainFont());
    QPalette palette = box.palette();
    palette.setColor(QPalette::Base, Qt::white);
    box.setPalette(palette);
}

struct Drawing {
    QImage image;
    int drawn = 0;
};

Drawing Draw(const CExprComboBox& box, const QString& text, bool selected, int width = 300) {
    Drawing d{QImage(width, 30, QImage::Format_RGB32)};
    d.image.fill(Qt::gray);
    QPainter painter(&d.image);
    d.drawn = box.DrawItem(painter, d.image.rect(), text, selected);
    return d;
}

// Whether any pixel of character cell `index` (fixed-pitch cells) has colour.
bool CellHas(const Drawing& d, int cellWidth, int index, QRgb colour) {
    for (int x = index * cellWidth; x < (index + 1) * cellWidth; ++x) {
        for (int y = 0; y < d.image.height(); ++y) {
            if ((d.image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                return true;
            }
        }
    }
    return false;
}

TEST(ExprComboBox, HistoryLoadsInOrderAndBoxAddsNothingItself) {
    ComboWindow w;
    CExprComboBox& box = *w.box;
    EXPECT_EQ(box.Syntax(), ExprSyntax::kSearch);
    box.setEditText(QStringLiteral("typed"));
    box.LoadHistory({});
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentText(), "typed");

    box.LoadHistory({"b(c)", "a", "B(C)"});
    EXPECT_EQ(box.History(), QStringList({"b(c)", "a", "B(C)"}));
    EXPECT_EQ(box.currentText(), "b(c)");
    box.LoadHistory({"x"});
    EXPECT_EQ(box.History(), QStringList({"x"}));

    // Return in the edit field doesn't record the text; the owner does.
    box.setFocus();
    box.setEditText(QStringLiteral("new text"));
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.History(), QStringList({"x"}));
    // Nor does typing complete from the history.
    box.setEditText(QString());
    QTest::keyClick(&box, Qt::Key_X);
    QTest::keyClick(&box, Qt::Key_Y);
    EXPECT_EQ(box.currentText(), "xy");
}

TEST(ExprComboBox, OverlayShowsOnlyWhileUnfocused) {
    ComboWindow w;
    ASSERT_TRUE(w.active);
    CExprEditArea* area = w.box->EditArea();
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->parentWidget(), w.box);

    w.other->setFocus();
    EXPECT_TRUE(area->isVisible());
    // It lies over the edit field.
    EXPECT_EQ(area->geometry(), w.box->lineEdit()->geometry());

    w.box->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(area->isVisible());
    // Gaining the focus selects nothing.
    w.box->setEditText(QStringLiteral("abc"));
    EXPECT_FALSE(w.box->lineEdit()->hasSelectedText());

    w.other->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(area->isVisible());

    // Clicking the overlay hands the focus to the box, which hides it.
    QTest::mouseClick(area, Qt::LeftButton);
    EXPECT_TRUE(w.box->hasFocus());
    EXPECT_FALSE(area->isVisible());

    // The drop-down list keeps the box in its focused state.
    w.box->LoadHistory({"a", "b"});
    w.box->showPopup();
    QApplication::processEvents();
    EXPECT_FALSE(area->isVisible());
    w.box->hidePopup();
    QApplication::processEvents();
    EXPECT_FALSE(area->isVisible());

    // The overlay follows the edit field when the box is resized.
    w.other->setFocus();
    w.box->resize(w.box->width() + 40, w.box->height());
    EXPECT_EQ(area->geometry(), w.box->lineEdit()->geometry());
}

// Fault: the box asked its overlay to repaint from its own paint event; the
// overlay lets the box show through, so each repaint of one brought another of
// the other, and an idle dialog took most of a core.
TEST(ExprComboBox, AnIdleBoxIsNotRepainted) {
    ComboWindow w;
    ASSERT_TRUE(w.active);
    const int flash = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);  // a blinking caret is a change
    w.box->setEditText(QStringLiteral("(a|b)+"));
    for (bool focused : {false, true}) {
        if (focused) {
            w.box->setFocus();
        } else {
            w.other->setFocus();
        }
        test::PaintCounter counter{w.box, w.box->EditArea(), w.box->lineEdit()};
        counter.Run(100);  // whatever the change of focus asked for
        counter.Run(400);
        EXPECT_EQ(counter.Total(), 0)
            << "focused " << focused << ": " << counter.Painted().toStdString();
    }
    // A change is still shown.
    w.other->setFocus();
    test::PaintCounter counter{w.box->EditArea()};
    w.box->setEditText(QStringLiteral("other"));
    counter.Run(100);
    EXPECT_GT(counter.Total(), 0);
    QApplication::setCursorFlashTime(flash);
}

// Fault: the drop-down list opened with the entry last picked (or the first)
// highlighted, whatever the edit field held.
TEST(ExprComboBox, TheListOpensOnTheEntryEqualToTheText) {
    ComboWindow w;
    CExprComboBox& box = *w.box;
    box.LoadHistory({"first", "Second", "second", "third"});
    const auto highlighted = [&box] {
        box.showPopup();
        QApplication::processEvents();
        const QModelIndexList selected = box.view()->selectionModel()->selectedRows();
        box.hidePopup();
        return selected.size() == 1 ? selected.front().row() : -1;
    };
    box.setEditText(QStringLiteral("third"));
    EXPECT_EQ(highlighted(), 3);
    box.setEditText(QStringLiteral("second"));
    EXPECT_EQ(highlighted(), 2);
    box.setEditText(QStringLiteral("Second"));
    EXPECT_EQ(highlighted(), 1);
    box.setEditText(QStringLiteral("none of them"));
    EXPECT_EQ(highlighted(), -1);
    // Opening the list changes nothing in the field.
    EXPECT_EQ(box.currentText(), "none of them");
}

TEST(ExprComboBox, OverlayShowsTheEditTextColoured) {
    ComboWindow w;
    ASSERT_TRUE(w.active);
    w.box->setFont(PlainFont());
    w.box->setEditText(QStringLiteral("a+"));
    w.other->setFocus();
    const QImage shot = w.box->EditArea()->grab().toImage();
    bool red = false;
    for (int x = 0; x < shot.width(); ++x) {
        for (int y = 0; y < shot.height(); ++y) {
            red = red || (shot.pixel(x, y) & 0xFFFFFF) == 0xC80000;
        }
    }
    EXPECT_TRUE(red);
    // The field's own colour, just inside the top margin.
    EXPECT_EQ(shot.pixel(shot.width() - 2, 3), w.box->palette().color(QPalette::Base).rgb());

    // Disabled: the field takes the menu (window face) colour.
    w.box->setEnabled(false);
    const QImage disabled = w.box->EditArea()->grab().toImage();
    EXPECT_EQ(disabled.pixel(disabled.width() - 2, 3),
              w.box->palette().color(QPalette::Active, QPalette::Window).rgb());
    EXPECT_NE(disabled.pixel(disabled.width() - 2, 3), shot.pixel(shot.width() - 2, 3));
}

TEST(ExprComboBox, DrawingColoursCellsAndComplementsSelectedEntries) {
    CExprComboBox box;
    PlainFontOnWhite(box);
    const int cell = QFontMetrics(box.font()).horizontalAdvance(QLatin1Char(' '));
    ASSERT_GT(cell, 0);

    // «(a)b:1»: "(a)" on light yellow, "b" on white; the suffix isn't drawn.
    Drawing d = Draw(box, QStringLiteral("(a)b:1"), false);
    EXPECT_EQ(d.drawn, 4);
    EXPECT_EQ(d.image.pixel(cell / 2, 3), 0xFFFFFFAF);
    EXPECT_EQ(d.image.pixel(2 * cell + cell / 2, 3), 0xFFFFFFAF);
    EXPECT_EQ(d.image.pixel(3 * cell + cell / 2, 3), 0xFFFFFFFF);
    EXPECT_EQ(d.image.pixel(10 * cell, 3), 0xFFFFFFFF);
    // Outside the field's 2-pixel margins nothing is filled.
    EXPECT_EQ(d.image.pixel(cell / 2, 0), QColor(Qt::gray).rgb());
    EXPECT_TRUE(CellHas(d, cell, 0, kExprGroup));
    EXPECT_TRUE(CellHas(d, cell, 1, kExprBlack));
    EXPECT_FALSE(CellHas(d, cell, 4, kExprBlack));

    // Selected: every colour complemented.
    d = Draw(box, QStringLiteral("(a)b:1"), true);
    EXPECT_EQ(d.image.pixel(cell / 2, 3), qRgb(0, 0, 80));
    EXPECT_EQ(d.image.pixel(3 * cell + cell / 2, 3), qRgb(0, 0, 0));
    EXPECT_EQ(d.image.pixel(10 * cell, 3), qRgb(0, 0, 0));
    EXPECT_TRUE(CellHas(d, cell, 0, Complement(kExprGroup)));
    EXPECT_TRUE(CellHas(d, cell, 1, qRgb(255, 255, 255)));

    // Escapes and operators in their colours, backslashes hidden.
    d = Draw(box, QStringLiteral("\\d+[x]"), false);
    EXPECT_EQ(d.drawn, 5);
    EXPECT_TRUE(CellHas(d, cell, 0, kExprEscape));
    EXPECT_TRUE(CellHas(d, cell, 1, kExprOperator));
    EXPECT_TRUE(CellHas(d, cell, 2, kExprClass));
    EXPECT_TRUE(CellHas(d, cell, 3, kExprClass));

    // Rewrite syntax.
    box.SetSyntax(ExprSyntax::kRewrite);
    d = Draw(box, QStringLiteral("\\1\\t"), false);
    EXPECT_EQ(d.drawn, 2);
    EXPECT_TRUE(CellHas(d, cell, 0, kExprOperator));
    EXPECT_TRUE(CellHas(d, cell, 1, kExprEscape));
}

TEST(ExprComboBox, LongTextEndsInAnEllipsis) {
    CExprComboBox box;
    box.setFont(PlainFont());
    const QFontMetrics metrics(box.font());
    const int cell = metrics.horizontalAdvance(QLatin1Char(' '));
    const int ellipsis = metrics.horizontalAdvance(QStringLiteral("..."));
    const int width = 20 * cell;
    // Characters are drawn while their left edge is short of right - "...".
    const int fits = (width - ellipsis + cell - 1) / cell;
    const QString longText(40, QLatin1Char('a'));
    Drawing d = Draw(box, longText, false, width);
    EXPECT_EQ(d.drawn, fits);
    EXPECT_LT(d.drawn, 20);
    // Something (the dots) is drawn after the last character.
    EXPECT_TRUE(CellHas(d, cell, fits, kExprBlack));

    // A short text draws whole with nothing after it.
    d = Draw(box, QStringLiteral("abc"), false, width);
    EXPECT_EQ(d.drawn, 3);
    EXPECT_FALSE(CellHas(d, cell, 3, kExprBlack));
}

TEST(ExprComboBox, ListEntriesAreDrawnColoured) {
    CExprComboBox box;
    PlainFontOnWhite(box);
    box.LoadHistory({QStringLiteral("(x):1")});
    QImage image(200, 30, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = QStyle::State_Enabled | QStyle::State_Selected;
    QPainter painter(&image);
    box.itemDelegate()->paint(&painter, option, box.model()->index(0, 0));
    painter.end();
    EXPECT_EQ(image.pixel(1, 3), qRgb(0, 0, 80));
    EXPECT_EQ(image.pixel(150, 3), qRgb(0, 0, 0));
}

}  // namespace
}  // namespace quarry
