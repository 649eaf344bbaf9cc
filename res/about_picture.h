// The About picture (bitmap 186), drawn in code.
#pragma once

#include <QColor>
#include <QImage>

namespace quarry {

inline constexpr int kAboutPictureWidth = 314;
inline constexpr int kAboutPictureHeight = 122;

// Dark-blue rules at the top and across the middle, a red lightning mark,
// the product name with a small line below it, the revision in teal and a
// three-line slogan, on the dialog face colour.
QImage DrawAboutPicture(const QColor& face);

// Colours of the picture, for checking it.
inline const QColor kAboutDarkBlue(0, 0, 128);
inline const QColor kAboutRed(204, 0, 0);
inline const QColor kAboutTeal(0, 128, 128);

}  // namespace quarry
