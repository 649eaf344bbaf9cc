// The one search dialog of the application: shown by Find, reached by the
// shell through SearchDialog() (app/app_state.h).
#pragma once

#include <string>

#include "search/host.h"

namespace quarry {

class CSearchReplaceDlg;

// Connects Find, the window-exists test and the position updates of the
// shell to the dialog.
void InstallSearchDialog();
// Find: focuses the open window, or opens one over the main window.
CSearchReplaceDlg* ShowSearchDialog();
// The open window, or none.
CSearchReplaceDlg* SearchDialogWindow();

// settings.dat beside the help file, or in the user's configuration folder
// when that folder can't be written. A non-empty override wins (tests).
std::string SearchSettingsPath();
void OverrideSearchSettingsPath(std::string path);

}  // namespace quarry
