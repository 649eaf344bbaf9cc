// Menus, accelerators, toolbar and string table of the application, as data.
// The frames build their widgets from these tables.
#pragma once

#include <QString>
#include <Qt>

#include <vector>

#include "res/command_ids.h"

namespace quarry {

struct MenuItem {
    const char* label;  // nullptr for a separator; text after '\t' is the key hint
    int id;
};

struct Popup {
    const char* title;
    std::vector<MenuItem> items;
};

// Menu 128 (no document window), 129 (a document window is active) and the
// editor's context menu 159 (one popup).
const std::vector<Popup>& MainMenu128();
const std::vector<Popup>& DocumentMenu129();
const std::vector<Popup>& ContextMenu159();

struct Accelerator {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;  // Qt::KeypadModifier marks the number pad keys
    int id;
};

// Accelerator table 128, in table order.
const std::vector<Accelerator>& AcceleratorTable128();

struct ToolbarButton {
    int id;     // ID_SEPARATOR for a separator
    int image;  // index into the 13-image strip; -1 for a separator
};

// Toolbar 128, buttons in order.
const std::vector<ToolbarButton>& Toolbar128();
inline constexpr int kToolbarImageWidth = 19;
inline constexpr int kToolbarImageHeight = 20;
inline constexpr int kToolbarImageCount = 13;

// String table. Command strings are "prompt\ntooltip"; empty when none.
QString LoadString(int id);
QString CommandPrompt(int id);
QString CommandTooltip(int id);

}  // namespace quarry
