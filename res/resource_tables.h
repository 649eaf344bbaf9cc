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

// The menu bar while no document window exists, the menu bar while one does,
// and the editor's context menu (one popup).
const std::vector<Popup>& NoDocumentMenu();
const std::vector<Popup>& DocumentMenu();
const std::vector<Popup>& EditorContextMenu();

struct Accelerator {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;  // Qt::KeypadModifier marks the number pad keys
    int id;
};

// The window's shortcut keys; a command may have several.
const std::vector<Accelerator>& Accelerators();

struct ToolbarButton {
    int id;     // ID_SEPARATOR for a separator
    int image;  // index into the 13-image strip; -1 for a separator
    // The desktop theme's icon, preferred to the strip's image where the
    // theme has it.
    const char* themeIcon;
};

// The toolbar's buttons in order.
const std::vector<ToolbarButton>& ToolbarButtons();
inline constexpr int kToolbarImageWidth = 19;
inline constexpr int kToolbarImageHeight = 20;
inline constexpr int kToolbarImageCount = 13;

// String table. Command strings are "prompt\ntooltip"; empty when none.
QString LoadString(int id);
QString CommandPrompt(int id);
QString CommandTooltip(int id);

}  // namespace quarry
