// Where the manual is, and opening it at a topic in the desktop's browser.
#pragma once

#include <QString>

#include <cstdint>

#include "res/command_ids.h"

namespace quarry {

// The manual's HTML file: QUARRY_MANUAL from the environment when set, else
// the installed one beside the program (../share/doc/quarry/manual.html), the
// one of the install prefix the program was built for, or the one made in
// the build tree. Empty when none exists.
QString ManualPath();

// The licence file shipped with the program: QUARRY_LICENCE from the
// environment when set, else LICENSE installed beside the manual, or the one
// of the source tree. Empty when none exists.
QString LicencePath();

// The manual's address at a topic (a section anchor such as "the-dialog"; none
// for the start), or an empty URL string when there is no manual.
QString ManualUrl(const QString& topic = {});

// Opens the manual at a topic in the desktop's browser; false when there is
// no manual or nothing could open it.
bool OpenManual(const QString& topic = {});

// The topics the program opens the manual at.
inline constexpr const char* kManualTopicDialog = "the-dialog";
inline constexpr const char* kManualTopicExpression = "the-search-expression";

// Help contexts: 0x20000 plus a dialog's resource number, as the windows ask
// for help.
inline constexpr uint32_t kSearchDialogHelpContext = 0x20000 + IDD_SEARCH_REPLACE;

// The topic of a help context; empty for the manual's start.
QString ManualTopicOf(uint32_t context);

}  // namespace quarry
