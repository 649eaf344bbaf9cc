// The application's images, drawn in code: banners, toolbar strip, icons.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QPixmap>

namespace quarry {

// Banner 133 (137 x 25, the product name), 151 (95 x 15, a year notice) and
// 135 (87 x 16, the heading word MessageBox): dark blue on light grey
// (192,192,192), 16 colours, no antialiasing. A null image for other ids.
QImage DrawBanner(int id);

// The 13 toolbar images of 19 x 20 pixels side by side (247 x 20) on light
// grey, in toolbar image order.
QImage DrawToolbarStrip();

// Icon 128 (application) and 129 (document) at the given edge length.
QImage DrawAppIcon(int size);
QImage DrawDocumentIcon(int size);
QIcon AppIcon();
QIcon DocumentIcon();

// Replaces black, dark grey (128,128,128), light grey (192,192,192) and white
// by the palette's button text, shadow, face and highlight colours, so that a
// light-grey background takes the colour of the dialog face.
QImage MapSystemColours(const QImage& image, const QPalette& palette);

// The three banners, loaded once at start-up and kept until exit.
struct BannerBitmaps {
    QPixmap productName;  // 133
    QPixmap notice;       // 151
    QPixmap messageBox;   // 135
};
BannerBitmaps& Banners();
// Loads 133, 151 and 135 in that order, mapped to the palette; false when one
// of them could not be made.
bool LoadBanners(const QPalette& palette);

}  // namespace quarry
