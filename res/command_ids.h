// Command ids of menus, accelerators and the toolbar. The values are fixed:
// menus, the string table and the toolbar refer to commands by them.
#pragma once

namespace quarry {

enum CommandId : int {
    ID_SEPARATOR = 0,
    ID_VIEW_REDUCE_FONTSIZE = 32782,
    ID_VIEW_INCREASE_FONTSIZE = 32783,
    ID_VIEW_WORD_WRAPPING = 32786,
    ID_EDIT_FIND = 32787,
    ID_VIEW_LINE_ENDS = 32788,
    ID_WINDOW_TABS = 32789,
    ID_VIEW_LINE_NUMBERS = 32790,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_FILE_MRU_LAST = 57631,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_SELECT_ALL = 57642,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_REDO = 57644,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
    ID_INDICATOR_SCRL = 59139,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Resource ids.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_QUARRYTYPE = 129;
inline constexpr int IDR_CONTEXT_MENU = 159;
inline constexpr int IDD_SEARCH_REPLACE = 158;
inline constexpr int IDB_PRODUCT_NAME = 133;
inline constexpr int IDB_NOTICE = 151;
inline constexpr int IDB_MESSAGEBOX = 135;
inline constexpr int IDS_APP_TITLE = 57344;
inline constexpr int IDS_IDLE_MESSAGE = 57345;

}  // namespace quarry
