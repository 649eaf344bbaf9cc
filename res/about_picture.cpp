#include "res/about_picture.h"

#include <QFont>
#include <QPainter>
#include <QPolygon>

namespace quarry {
namespace {

QFont PictureFont(int pixelSize, bool bold, bool italic = false) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// Shrinks the font until the text fits the width.
void FitFont(QPainter& p, QFont font, const QString& text, int width) {
    int size = font.pixelSize();
    while (size > 6) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= width) {
            break;
        }
        --size;
    }
    p.setFont(font);
}

}  // namespace

QImage DrawAboutPicture(const QColor& face) {
    QImage image(kAboutPictureWidth, kAboutPictureHeight, QImage::Format_RGB888);
    image.fill(face);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // Rules: one across the top, one across the middle.
    p.fillRect(0, 0, kAboutPictureWidth, 3, kAboutDarkBlue);
    p.fillRect(0, 62, kAboutPictureWidth, 2, kAboutDarkBlue);

    // The lightning mark at the left.
    QPolygon bolt;
    bolt << QPoint(17, 9) << QPoint(29, 9) << QPoint(23, 24) << QPoint(31, 24) << QPoint(13, 52)
         << QPoint(18, 31) << QPoint(10, 31);
    p.setPen(Qt::NoPen);
    p.setBrush(kAboutRed);
    p.drawPolygon(bolt);

    // Product name, the small line below it and the revision at the right.
    p.setPen(kAboutDarkBlue);
    FitFont(p, PictureFont(34, true), QStringLiteral("Quarry!"), 190);
    p.drawText(QRect(40, 5, 200, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quarry!"));
    FitFont(p, PictureFont(10, false), QStringLiteral("search, extract and rewrite text files"),
            200);
    p.drawText(QRect(42, 43, 220, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("search, extract and rewrite text files"));
    p.setPen(kAboutTeal);
    p.setFont(PictureFont(12, true));
    p.drawText(QRect(230, 8, 78, 20), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Rev. 0.1"));

    // The slogan at the lower right, its last line larger.
    p.setPen(kAboutDarkBlue);
    const int right = kAboutPictureWidth - 8;
    p.setFont(PictureFont(11, false, true));
    p.drawText(QRect(100, 68, right - 100, 14), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Extract and transform your data"));
    p.drawText(QRect(100, 82, right - 100, 14), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("with the power of"));
    FitFont(p, PictureFont(18, true, true), QStringLiteral("Regular Expressions"), right - 60);
    p.drawText(QRect(60, 96, right - 60, 24), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Regular Expressions"));
    return image;
}

}  // namespace quarry
