#include "res/resource_tables.h"

#include <map>

namespace quarry {
namespace {

constexpr MenuItem Sep{nullptr, ID_SEPARATOR};

}  // namespace

const std::vector<Popup>& NoDocumentMenu() {
    static const std::vector<Popup> menu = {
        {"&File",
         {{"&New\tCtrl+N", ID_FILE_NEW},
          {"&Open...\tCtrl+O", ID_FILE_OPEN},
          Sep,
          {"P&rint Setup...", ID_FILE_PRINT_SETUP},
          Sep,
          {"Recent File", ID_FILE_MRU_FILE1},
          Sep,
          {"E&xit", ID_APP_EXIT}}},
        {"&View", {{"&Toolbar", ID_VIEW_TOOLBAR}, {"&Status Bar", ID_VIEW_STATUS_BAR}}},
        {"&Help", {{"&Help Topics", ID_HELP}, Sep, {"&About Quarry!...", ID_APP_ABOUT}}},
    };
    return menu;
}

const std::vector<Popup>& DocumentMenu() {
    static const std::vector<Popup> menu = {
        {"&File",
         {{"&New\tCtrl+N", ID_FILE_NEW},
          {"&Open...\tCtrl+O", ID_FILE_OPEN},
          {"&Close", ID_FILE_CLOSE},
          {"&Save\tCtrl+S", ID_FILE_SAVE},
          {"Save &As...", ID_FILE_SAVE_AS},
          Sep,
          {"&Print...\tCtrl+P", ID_FILE_PRINT},
          {"Print Pre&view", ID_FILE_PRINT_PREVIEW},
          {"P&rint Setup...", ID_FILE_PRINT_SETUP},
          Sep,
          {"Recent File", ID_FILE_MRU_FILE1},
          Sep,
          {"E&xit", ID_APP_EXIT}}},
        {"&Edit",
         {{"&Undo\tCtrl+Z", ID_EDIT_UNDO},
          {"&Redo\tCtrl+Y", ID_EDIT_REDO},
          Sep,
          {"Cu&t\tCtrl+X", ID_EDIT_CUT},
          {"&Copy\tCtrl+C", ID_EDIT_COPY},
          {"&Paste\tCtrl+V", ID_EDIT_PASTE},
          {"Select A&ll\tCtrl+A", ID_EDIT_SELECT_ALL},
          Sep,
          {"&Find...\tCtrl+F", ID_EDIT_FIND}}},
        {"&View",
         {{"&Toolbar", ID_VIEW_TOOLBAR},
          {"S&tatusbar", ID_VIEW_STATUS_BAR},
          {"&Next", ID_NEXT_PANE},
          Sep,
          {"Increase Fontsize\tStrg+Plus", ID_VIEW_INCREASE_FONTSIZE},
          {"Reduce Fontsize\tStrg+Minus", ID_VIEW_REDUCE_FONTSIZE},
          Sep,
          {"&Word Wrapping", ID_VIEW_WORD_WRAPPING},
          {"Line &Ends", ID_VIEW_LINE_ENDS},
          {"Line N&umbers", ID_VIEW_LINE_NUMBERS}}},
        {"&Window",
         {{"Ne&xt\tF6", ID_NEXT_PANE},
          {"Pre&vious\tShift+F6", ID_PREV_PANE},
          {"&New Window", ID_WINDOW_NEW},
          {"&Cascade", ID_WINDOW_CASCADE},
          {"&Tile", ID_WINDOW_TILE_HORZ},
          {"&Arrange Icons", ID_WINDOW_ARRANGE},
          {"T&abs", ID_WINDOW_TABS}}},
        {"&Help", {{"&Help Topics", ID_HELP}, Sep, {"&About Quarry...", ID_APP_ABOUT}}},
    };
    return menu;
}

const std::vector<Popup>& EditorContextMenu() {
    static const std::vector<Popup> menu = {
        {"Edit",
         {{"&Undo\tStrg+Z", ID_EDIT_UNDO},
          Sep,
          {"Cu&t\tStrg+X", ID_EDIT_CUT},
          {"&Copy\tStrg+C", ID_EDIT_COPY},
          {"&Paste\tStrg+V", ID_EDIT_PASTE},
          Sep,
          {"&Find...\tStrg+F", ID_EDIT_FIND}}},
    };
    return menu;
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> table = {
        {Qt::Key_C, Qt::ControlModifier, ID_EDIT_COPY},
        {Qt::Key_F, Qt::ControlModifier, ID_EDIT_FIND},
        {Qt::Key_N, Qt::ControlModifier, ID_FILE_NEW},
        {Qt::Key_O, Qt::ControlModifier, ID_FILE_OPEN},
        {Qt::Key_P, Qt::ControlModifier, ID_FILE_PRINT},
        {Qt::Key_S, Qt::ControlModifier, ID_FILE_SAVE},
        {Qt::Key_V, Qt::ControlModifier, ID_EDIT_PASTE},
        {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, ID_VIEW_INCREASE_FONTSIZE},
        {Qt::Key_Backspace, Qt::AltModifier, ID_EDIT_UNDO},
        {Qt::Key_Delete, Qt::ShiftModifier, ID_EDIT_CUT},
        {Qt::Key_F1, Qt::NoModifier, ID_HELP},
        {Qt::Key_F1, Qt::ShiftModifier, ID_CONTEXT_HELP},
        {Qt::Key_F6, Qt::NoModifier, ID_NEXT_PANE},
        {Qt::Key_F6, Qt::ShiftModifier, ID_PREV_PANE},
        {Qt::Key_Insert, Qt::ControlModifier, ID_EDIT_COPY},
        {Qt::Key_Insert, Qt::ShiftModifier, ID_EDIT_PASTE},
        {Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier, ID_VIEW_REDUCE_FONTSIZE},
        {Qt::Key_X, Qt::ControlModifier, ID_EDIT_CUT},
        {Qt::Key_Z, Qt::ControlModifier, ID_EDIT_UNDO},
        {Qt::Key_Y, Qt::ControlModifier, ID_EDIT_REDO},
        {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, ID_EDIT_REDO},
    };
    return table;
}

const std::vector<ToolbarButton>& ToolbarButtons() {
    static const std::vector<ToolbarButton> buttons = {
        {ID_FILE_NEW, 0, "document-new"},
        {ID_FILE_OPEN, 1, "document-open"},
        {ID_FILE_SAVE, 2, "document-save"},
        {ID_SEPARATOR, -1, nullptr},
        {ID_EDIT_CUT, 3, "edit-cut"},
        {ID_EDIT_COPY, 4, "edit-copy"},
        {ID_EDIT_PASTE, 5, "edit-paste"},
        {ID_SEPARATOR, -1, nullptr},
        {ID_FILE_PRINT, 6, "document-print"},
        {ID_SEPARATOR, -1, nullptr},
        {ID_VIEW_REDUCE_FONTSIZE, 7, "zoom-out"},
        {ID_VIEW_INCREASE_FONTSIZE, 8, "zoom-in"},
        {ID_EDIT_FIND, 9, "edit-find"},
        {ID_PREV_PANE, 10, "go-previous"},
        {ID_NEXT_PANE, 11, "go-next"},
        {ID_SEPARATOR, -1, nullptr},
        {ID_APP_ABOUT, 12, "help-about"},
    };
    return buttons;
}

QString LoadString(int id) {
    // The application's own strings, then the standard prompts of the
    // framework commands.
    static const std::map<int, const char*> table = {
        {IDR_MAINFRAME, " Quarry! "},
        {IDR_QUARRYTYPE, "\nnew\nQuarry\n\n\nQuarry.Document\nQuarry Document"},
        {IDS_APP_TITLE, "Quarry!"},
        {IDS_IDLE_MESSAGE, "For Help, press F1"},
        {ID_INDICATOR_CAPS, "CAP"},
        {ID_INDICATOR_NUM, "NUM"},
        {ID_INDICATOR_SCRL, "SCRL"},
        {ID_EDIT_FIND, "Open the search dialog.\nSearch..."},
        {ID_VIEW_INCREASE_FONTSIZE, "Increase the editor's fontsize.\nIncrease Fontsize"},
        {ID_VIEW_REDUCE_FONTSIZE, "Reduce the editor's fontsize.\nReduce Fontsize"},
        {ID_VIEW_LINE_ENDS, "Show or hide the line ends in every document window.\nLine Ends"},
        {ID_VIEW_LINE_NUMBERS,
         "Show or hide the line numbers in every document window.\nLine Numbers"},
        {ID_FILE_NEW, "Create a new document\nNew"},
        {ID_FILE_OPEN, "Open an existing document\nOpen"},
        {ID_FILE_CLOSE, "Close the active document\nClose"},
        {ID_FILE_SAVE, "Save the active document\nSave"},
        {ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"},
        {ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
        {ID_FILE_PRINT, "Print the active document\nPrint"},
        {ID_FILE_PRINT_PREVIEW, "Display full pages\nPrint Preview"},
        {ID_FILE_MRU_FILE1, "Open this document"},
        {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
        {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
        {ID_EDIT_UNDO, "Undo the last action\nUndo"},
        {ID_EDIT_REDO, "Redo the previously undone action\nRedo"},
        {ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"},
        {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"},
        {ID_EDIT_PASTE, "Insert Clipboard contents\nPaste"},
        {ID_EDIT_SELECT_ALL, "Select the entire document\nSelect All"},
        {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
        {ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
        {ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},
        {ID_WINDOW_NEW, "Open another window for the active document\nNew Window"},
        {ID_WINDOW_CASCADE, "Arrange windows so they overlap\nCascade Windows"},
        {ID_WINDOW_TILE_HORZ, "Arrange windows as non-overlapping tiles\nTile Windows"},
        {ID_WINDOW_ARRANGE, "Arrange icons at the bottom of the window\nArrange Icons"},
        {ID_WINDOW_TABS, "Show the documents as tabs\nTabs"},
        {ID_HELP, "List Help topics\nHelp Topics"},
    };
    const auto it = table.find(id);
    return it == table.end() ? QString() : QString::fromUtf8(it->second);
}

QString CommandPrompt(int id) {
    return LoadString(id).section(QLatin1Char('\n'), 0, 0);
}

QString CommandTooltip(int id) {
    return LoadString(id).section(QLatin1Char('\n'), 1, 1);
}

}  // namespace quarry
