// SearchTarget: all the search dialog knows of documents. The main window
// implements it; the dialog never sees an editor, a document class or the
// application object, so it can be driven in tests by a plain double.
//
// "The document" is the active one while no command runs. From Busy(true)
// to Busy(false) it is the document the command started on, whichever
// window the user activates meanwhile, so a result always goes back to the
// text it was made from; if that document is closed, HasDocument() is false.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/text_mode.h"

class QWidget;

namespace quarry {

// What the shell asks of the one search dialog, the other way across the
// same boundary. Until the dialog connects, Find does nothing and caret moves
// go nowhere.
struct SearchDialogLink {
    // A command is running: the main window refuses Close and Exit.
    bool running = false;
    // Find: focus the dialog's window, or open one.
    std::function<void()> find;
    // True while the dialog's window exists.
    std::function<bool()> windowExists;
    // Brings the Character, Line and Column fields in step with the caret.
    std::function<void()> updatePositionFields;
    // Another document became the active one, or the last one closed.
    std::function<void()> activeDocumentChanged;
    // The document's view scrolled, or its text changed: what it shows of
    // the text is another part now.
    std::function<void()> viewChanged;
};

// Byte offsets [first, second) of the document.
using ByteRanges = std::vector<std::pair<int64_t, int64_t>>;

class SearchTarget {
  public:
    virtual ~SearchTarget() = default;

    // The dialog's side of the link; running is the target's to keep.
    virtual void ConnectDialog(const SearchDialogLink& link) = 0;

    // The window the dialog is owned by and shows its messages over.
    virtual QWidget* OwnerWindow() const = 0;

    virtual bool HasDocument() const = 0;
    // How the document's bytes are matched: characters of a UTF-8 text, or
    // the bytes of an 8-bit one.
    virtual TextMode Mode() const = 0;
    // The document's line break, which ends each matching of a listing.
    virtual std::string LineBreak() const = 0;
    // Characters typed into the dialog as bytes of the document; none when
    // one of them has no byte there.
    virtual std::optional<std::string> ToDocumentBytes(QStringView text) const = 0;
    // Bytes of the document as characters, for display in the dialog.
    virtual QString FromDocumentBytes(std::string_view bytes) const = 0;

    virtual int64_t Length() const = 0;
    // The document's bytes in place, followed by a zero byte; valid until the
    // text changes, so a command holds them only while Busy.
    virtual std::string_view Text() const = 0;
    // Byte offsets of the selection; start <= end.
    virtual void GetSelection(int64_t& start, int64_t& end) const = 0;
    // Selects start..end (caret at end), clamped to the text, and shows it.
    virtual void SetSelection(int64_t start, int64_t end) = 0;
    // The line holding a byte offset, and a line's first byte (-1 past the
    // last line).
    virtual int64_t LineOf(int64_t offset) const = 0;
    virtual int64_t LineStart(int64_t line) const = 0;

    // Edits, each one undo step; they are made also while Busy.
    virtual void ReplaceSelection(std::string_view bytes) = 0;
    // Starts replacing the whole text by a result of length bytes, one undo step from begin
    // to end, in steps that each take a bounded time: ClearStep removes a
    // piece of the old text (true while some is left), AppendResult adds a
    // piece of the result. EndResult(false) takes it all back out: the text
    // is as before BeginResult.
    virtual void BeginResult(int64_t length) = 0;
    virtual bool ClearStep() = 0;
    virtual void AppendResult(std::string_view bytes) = 0;
    virtual void EndResult(bool keep) = 0;
    // As BeginResult, into a new empty document in the format of the
    // document (encoding, line break), which becomes the active one.
    virtual void BeginNewResult(int64_t length) = 0;

    // A command is running on the document: no view of it takes edits, and
    // its window, the main window and the application stay open. Busy(true)
    // takes the highlights away.
    virtual void Busy(bool busy) = 0;

    // The bytes the document's view shows now, whole lines: start <= end.
    virtual void VisibleRange(int64_t& start, int64_t& end) const = 0;
    // Marks ranges of the document in its view, in place of the marks before
    // (also those of another document). A mark is no edit: no undo step, no
    // modified flag. Nothing is marked while Busy.
    virtual void SetHighlights(const ByteRanges& ranges) = 0;
    virtual void ClearHighlights() = 0;
};

}  // namespace quarry
