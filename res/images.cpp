#include "res/images.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include "res/command_ids.h"
#include "res/resource_tables.h"

namespace quarry {
namespace {

// The 16-colour palette the bitmaps are drawn with.
const QColor kBlack(0, 0, 0);
const QColor kDarkGrey(128, 128, 128);
const QColor kLightGrey(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kDarkBlue(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kDarkYellow(128, 128, 0);
const QColor kYellow(255, 255, 0);
const QColor kDarkGreen(0, 128, 0);
const QColor kDarkRed(128, 0, 0);
const QColor kTeal(0, 128, 128);

QImage Canvas(int w, int h, const QColor& fill) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

QFont BitmapFont(const char* family, int pixelSize, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// Draws text left-aligned and centred in the top textHeight rows, shrinking the
// font until it fits, descenders included.
void BannerText(QImage& image, const QString& text, int pixelSize, bool bold, int left,
                int textHeight) {
    QPainter p(&image);
    QFont font = BitmapFont("Arial", pixelSize, bold);
    while (pixelSize > 6) {
        p.setFont(font);
        const QFontMetrics metrics = p.fontMetrics();
        if (metrics.horizontalAdvance(text) <= image.width() - left - 1 &&
            metrics.ascent() + metrics.descent() <= textHeight) {
            break;
        }
        font.setPixelSize(--pixelSize);
    }
    p.setFont(font);
    p.setPen(kDarkBlue);
    p.drawText(QRect(left, 0, image.width() - left, textHeight), Qt::AlignLeft | Qt::AlignVCenter,
               text);
}

void Page(QPainter& p, int x, int y, int w, int h) {
    const int fold = 4;
    QPolygon outline;
    outline << QPoint(x, y) << QPoint(x + w - fold, y) << QPoint(x + w, y + fold)
            << QPoint(x + w, y + h) << QPoint(x, y + h);
    p.setPen(kBlack);
    p.setBrush(kWhite);
    p.drawPolygon(outline);
    p.drawLine(x + w - fold, y, x + w - fold, y + fold);
    p.drawLine(x + w - fold, y + fold, x + w, y + fold);
}

void TextLines(QPainter& p, int x, int y, int w, int count) {
    p.setPen(kDarkGrey);
    for (int k = 0; k < count; ++k) {
        p.drawLine(x, y + 2 * k, x + w, y + 2 * k);
    }
}

void Letter(QPainter& p, QRect r, const QString& text, int pixelSize, const QColor& c) {
    p.setFont(BitmapFont("Arial", pixelSize, true));
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text);
}

void DrawToolImage(QPainter& p, int index) {
    p.setBrush(Qt::NoBrush);
    switch (index) {
        case 0:  // New: a blank page
            Page(p, 4, 2, 11, 14);
            break;
        case 1: {  // Open: a folder
            p.setPen(kBlack);
            p.setBrush(kDarkYellow);
            p.drawRect(2, 6, 13, 10);
            p.drawRect(2, 4, 5, 2);
            p.setBrush(kYellow);
            QPolygon flap;
            flap << QPoint(4, 9) << QPoint(17, 9) << QPoint(15, 16) << QPoint(2, 16);
            p.drawPolygon(flap);
            break;
        }
        case 2:  // Save: a disk
            p.setPen(kBlack);
            p.setBrush(kDarkBlue);
            p.drawRect(2, 2, 14, 14);
            p.setBrush(kWhite);
            p.drawRect(5, 3, 8, 6);
            p.setBrush(kLightGrey);
            p.drawRect(6, 11, 6, 5);
            p.fillRect(7, 12, 2, 3, kDarkBlue);
            break;
        case 3:  // Cut: scissors
            p.setPen(kBlack);
            p.drawLine(6, 2, 11, 11);
            p.drawLine(12, 2, 7, 11);
            p.setPen(kDarkBlue);
            p.drawEllipse(3, 11, 4, 4);
            p.drawEllipse(11, 11, 4, 4);
            break;
        case 4:  // Copy: two pages
            Page(p, 2, 2, 9, 11);
            TextLines(p, 4, 6, 5, 3);
            Page(p, 7, 6, 9, 11);
            TextLines(p, 9, 10, 5, 3);
            break;
        case 5:  // Paste: a clipboard with a page
            p.setPen(kBlack);
            p.setBrush(kDarkYellow);
            p.drawRect(2, 3, 11, 13);
            p.setBrush(kLightGrey);
            p.drawRect(5, 1, 5, 3);
            Page(p, 8, 7, 8, 10);
            TextLines(p, 10, 11, 4, 3);
            break;
        case 6:  // Print: a printer with paper
            Page(p, 5, 1, 9, 7);
            p.setPen(kBlack);
            p.setBrush(kLightGrey);
            p.drawRect(2, 8, 15, 6);
            p.setBrush(kWhite);
            p.drawRect(4, 14, 11, 3);
            p.fillRect(13, 10, 2, 1, kDarkGreen);
            break;
        case 7:  // Reduce Fontsize: small A and a minus
            Letter(p, QRect(1, 4, 10, 12), QStringLiteral("A"), 9, kBlack);
            p.fillRect(11, 9, 6, 2, kDarkRed);
            break;
        case 8:  // Increase Fontsize: large A and a plus
            Letter(p, QRect(0, 1, 12, 17), QStringLiteral("A"), 15, kBlack);
            p.fillRect(11, 8, 7, 2, kDarkGreen);
            p.fillRect(13, 6, 2, 6, kDarkGreen);
            break;
        case 9:  // Find: a magnifying glass
            p.setPen(QPen(kBlack, 1));
            p.setBrush(kWhite);
            p.drawEllipse(2, 2, 9, 9);
            p.setPen(QPen(kTeal, 1));
            p.drawArc(4, 4, 5, 5, 90 * 16, 90 * 16);
            p.setPen(QPen(kDarkYellow, 3));
            p.drawLine(11, 11, 15, 15);
            break;
        case 10:    // Previous: an arrow to the left
        case 11: {  // Next: an arrow to the right
            QPolygon arrow;
            arrow << QPoint(3, 9) << QPoint(9, 3) << QPoint(9, 6) << QPoint(16, 6) << QPoint(16, 12)
                  << QPoint(9, 12) << QPoint(9, 15);
            if (index == 11) {
                for (QPoint& pt : arrow) {
                    pt.setX(19 - pt.x());
                }
            }
            p.setPen(kBlack);
            p.setBrush(kDarkGreen);
            p.drawPolygon(arrow);
            break;
        }
        case 12:  // About: a question mark in a speech balloon
            p.setPen(kBlack);
            p.setBrush(kYellow);
            p.drawEllipse(2, 1, 15, 13);
            p.drawLine(5, 13, 3, 17);
            p.drawLine(3, 17, 8, 14);
            Letter(p, QRect(2, 1, 15, 13), QStringLiteral("?"), 11, kDarkBlue);
            break;
        default:
            break;
    }
}

void DrawIcon(QPainter& p, int size, bool document) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    if (document) {
        QPolygonF page;
        page << QPointF(6, 2) << QPointF(21, 2) << QPointF(27, 8) << QPointF(27, 30)
             << QPointF(6, 30);
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kWhite);
        p.drawPolygon(page);
        p.drawPolyline(QPolygonF() << QPointF(21, 2) << QPointF(21, 8) << QPointF(27, 8));
        p.setPen(QPen(kDarkGrey, 1.5));
        for (int y = 12; y <= 26; y += 4) {
            p.drawLine(QPointF(9, y), QPointF(24, y));
        }
        p.setPen(QPen(kDarkBlue, 2));
        p.drawLine(QPointF(13, 16), QPointF(20, 16));
        return;
    }
    // A block of stone with a vein of text, under a magnifying glass.
    QPainterPath block;
    block.addRoundedRect(QRectF(2, 4, 24, 24), 3, 3);
    p.setPen(QPen(kDarkBlue, 1.5));
    p.setBrush(QColor(70, 90, 160));
    p.drawPath(block);
    p.setPen(QPen(kWhite, 2));
    p.drawLine(QPointF(6, 10), QPointF(21, 10));
    p.drawLine(QPointF(6, 15), QPointF(17, 15));
    p.drawLine(QPointF(6, 20), QPointF(19, 20));
    p.setPen(QPen(kBlack, 1.5));
    p.setBrush(QColor(255, 240, 150, 220));
    p.drawEllipse(QPointF(20, 18), 7, 7);
    p.setPen(QPen(kDarkYellow, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(25, 23), QPointF(30, 29));
}

}  // namespace

QImage DrawBanner(int id) {
    if (id == IDB_PRODUCT_NAME) {
        QImage image = Canvas(137, 25, kLightGrey);
        // The heading banner sits over the lower rows in the message dialog:
        // the name keeps to the upper ones.
        BannerText(image, QStringLiteral("Quarry!"), 22, true, 1, 19);
        return image;
    }
    if (id == IDB_NOTICE) {
        QImage image = Canvas(95, 15, kLightGrey);
        BannerText(image, QStringLiteral("\u00A9 2026 Quarry"), 11, false, 1, 15);
        return image;
    }
    if (id == IDB_MESSAGEBOX) {
        QImage image = Canvas(87, 16, kLightGrey);
        BannerText(image, QStringLiteral("MessageBox"), 13, true, 1, 16);
        return image;
    }
    return {};
}

QImage DrawToolbarStrip() {
    QImage strip = Canvas(kToolbarImageWidth * kToolbarImageCount, kToolbarImageHeight, kLightGrey);
    QPainter p(&strip);
    for (int k = 0; k < kToolbarImageCount; ++k) {
        p.save();
        p.translate(k * kToolbarImageWidth, 0);
        p.setClipRect(0, 0, kToolbarImageWidth, kToolbarImageHeight);
        DrawToolImage(p, k);
        p.restore();
    }
    return strip;
}

QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawIcon(p, size, false);
    return image;
}

QImage DrawDocumentIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawIcon(p, size, true);
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
    }
    return icon;
}

QIcon DocumentIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(QPixmap::fromImage(DrawDocumentIcon(size)));
    }
    return icon;
}

QImage MapSystemColours(const QImage& image, const QPalette& palette) {
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    const QRgb black = qRgb(0, 0, 0);
    const QRgb dark = qRgb(128, 128, 128);
    const QRgb light = qRgb(192, 192, 192);
    const QRgb white = qRgb(255, 255, 255);
    const QRgb text = palette.color(QPalette::ButtonText).rgb();
    const QRgb shadow = palette.color(QPalette::Dark).rgb();
    const QRgb face = palette.color(QPalette::Button).rgb();
    const QRgb highlight = palette.color(QPalette::Light).rgb();
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x] | 0xFF000000u;
            if (c == black) {
                line[x] = text;
            } else if (c == dark) {
                line[x] = shadow;
            } else if (c == light) {
                line[x] = face;
            } else if (c == white) {
                line[x] = highlight;
            }
        }
    }
    return out;
}

BannerBitmaps& Banners() {
    static BannerBitmaps banners;
    return banners;
}

bool LoadBanners(const QPalette& palette) {
    BannerBitmaps& banners = Banners();
    QPixmap* targets[] = {&banners.productName, &banners.notice, &banners.messageBox};
    const int ids[] = {IDB_PRODUCT_NAME, IDB_NOTICE, IDB_MESSAGEBOX};
    for (int k = 0; k < 3; ++k) {
        const QImage image = DrawBanner(ids[k]);
        if (image.isNull()) {
            return false;
        }
        *targets[k] = QPixmap::fromImage(MapSystemColours(image, palette));
        if (targets[k]->isNull()) {
            return false;
        }
    }
    return true;
}

}  // namespace quarry
