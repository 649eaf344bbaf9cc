// Application-wide editor settings and the link to the search dialog. They
// live for the whole run and are touched only on the user-interface thread.
#pragma once

#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

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

// What the shell needs from the one search dialog. The dialog sets the
// callbacks when it exists; until then Find does nothing and selection
// changes go nowhere.
struct SearchDialogLink {
    // An operation is running: the main window refuses Close and Exit.
    bool running = false;
    bool cancelRequested = false;
    // Find (32787): focus the dialog's window, or run the dialog.
    std::function<void()> find;
    // True while the dialog's window exists.
    std::function<bool()> windowExists;
    // Brings the Character, Line and Column fields in step with the caret.
    std::function<void()> updatePositionFields;
};
SearchDialogLink& SearchDialog();

}  // namespace quarry
