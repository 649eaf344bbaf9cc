// Application-wide editor settings and the link to the search dialog. They
// live for the whole run and are touched only on the user-interface thread.
#pragma once

#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

#include "search_dialog/search_target.h"

namespace quarry {

// Editor font height in twips (1/20 point); 185 from start-up on, changed only
// by Reduce and Increase Fontsize, never saved.
extern int32_t editorFontSize;
// Editor font face; "Courier New" from start-up on (the nearest fixed-pitch
// face stands in where the machine lacks it).
extern QString editorFaceName;
// 1 = every editor view wraps at the window edge; never saved.
extern int wordWrapEnabled;
// Folder of the last File Open; written to the profile by every Open.
extern QString fileOpenDir;

inline constexpr int kFontStep = 15;
inline constexpr int kReduceFontMinimum = 30;     // Reduce offered from this size on
inline constexpr int kIncreaseFontMaximum = 385;  // Increase offered up to this size

// The font for a face and a height in twips: fixed pitch, not bold.
QFont EditorFont(const QString& face, int twips);

// The search dialog's side of the link, as it connected (app/main_frame_search.cpp).
SearchDialogLink& SearchDialog();

}  // namespace quarry
