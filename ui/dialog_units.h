// Dialog units: the layout unit of our dialog templates. One horizontal unit
// is a quarter of the dialog font's average character width, one vertical
// unit an eighth of its height, so layouts scale with the font.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace quarry {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    // From explicit base units (average character width and height in pixels).
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int X(int du) const { return (du * baseX_ + 2) / 4; }
    int Y(int du) const { return (du * baseY_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const {
        return QRect(X(x), Y(y), X(x + w) - X(x), Y(y + h) - Y(y));
    }
    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    // The font dialog templates name ("MS Sans Serif", 8 points) or the
    // nearest sans face this machine has.
    static QFont TemplateFont();

  private:
    int baseX_;
    int baseY_;
};

// The visible main window that owns the application's dialogs, or nullptr.
QWidget* VisibleMainWindow();

}  // namespace quarry
