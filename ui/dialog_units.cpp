#include "ui/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMainWindow>

namespace quarry {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the 52 letters, rounded as dialog managers do.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (letters / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1) {
        baseX_ = 1;
    }
    if (baseY_ < 1) {
        baseY_ = 1;
    }
}

QFont DialogUnits::TemplateFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QWidget* VisibleMainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow*>(w) != nullptr && w->isVisible()) {
            return w;
        }
    }
    return nullptr;
}

}  // namespace quarry
