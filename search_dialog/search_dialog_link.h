// The one search dialog of the application: Find opens it over the target's
// window, or focuses the open one.
#pragma once

#include <string>

namespace quarry {

class CSearchReplaceDlg;
class SearchTarget;

// Connects Find, the window-exists test and the position updates of the
// shell to the dialog, whose commands work on target. settings.dat is looked
// for beside the help file.
void InstallSearchDialog(SearchTarget& target, std::string helpFilePath);
// Find: focuses the open window, or opens one over the target's window.
CSearchReplaceDlg* ShowSearchDialog();
// The open window, or none.
CSearchReplaceDlg* SearchDialogWindow();

// settings.dat beside the help file, or in the user's configuration folder
// when that folder can't be written. A non-empty override wins (tests).
std::string SearchSettingsPath();
void OverrideSearchSettingsPath(std::string path);

}  // namespace quarry
