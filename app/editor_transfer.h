// The transfer of text between an editor and a TextBuffer, and the lookup of
// the editor the search commands work on. Text crosses as the document's
// own bytes, untranslated.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarry {

class CQuarryView;
class TextBuffer;

inline constexpr int SF_TEXT = 1;

// The editor of the main window's active document window, or none. Looked up
// afresh on every call.
CQuarryView* GetActiveEditor();

// Copies the editor's whole text into buffer (earlier content is dropped);
// returns the buffer's new length.
int32_t StreamOut(CQuarryView* editor, TextBuffer& buffer, int format = SF_TEXT);
// Replaces the editor's whole text by the buffer's content as one undo step,
// with one repaint at the end.
void StreamIn(CQuarryView* editor, TextBuffer& buffer, int format = SF_TEXT);
// Replaces the selection (or inserts at the caret) as one undo step and
// selects what was inserted.
void ReplaceSelection(CQuarryView* editor, std::string_view text);

}  // namespace quarry
