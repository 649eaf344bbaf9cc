// The text of one document: its bytes, exactly as in the file, held by a
// Scintilla document that every view of it shows, plus the encoding the
// views display them in and the line break Enter inserts. Nothing here
// translates bytes; offsets are byte offsets of the file's text.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/text_codec.h"

class QsciScintilla;
class QsciScintillaBase;

namespace quarry {

class TextBuffer;

class DocumentText : public QObject {
    Q_OBJECT
  public:
    explicit DocumentText(QObject* parent = nullptr);
    ~DocumentText() override;

    // The never-shown editor that owns the bytes; views display its document.
    QsciScintilla* Buffer() const { return buffer_.get(); }
    // Makes view show this text; DetachView gives it back its own empty
    // document, and must come before the view is destroyed.
    void AttachView(QsciScintilla* view) const;
    static void DetachView(QsciScintilla* view);
    const DocFormat& Format() const { return format_; }
    // Sets the encoding the bytes are shown in and the line break Enter
    // inserts; the bytes stay as they are.
    void SetFormat(const DocFormat& format);

    // Replaces the text by a file's bytes and chooses how to show them.
    // Clears undo and the modified flag.
    void LoadBytes(QByteArrayView bytes);
    // The same for bytes that come in pieces: BeginLoad empties the text and
    // makes room for size bytes, LoadPiece appends, EndLoad(true) chooses how
    // to show them from all the pieces and clears undo and the modified
    // flag; EndLoad(false) leaves the text empty. With waiting, the room for
    // a big text is made on another thread while waiting runs every few
    // milliseconds on this one.
    void BeginLoad(int64_t size, const std::function<void()>& waiting = {});
    void LoadPiece(std::string_view bytes);
    void EndLoad(bool keep);
    // Between BeginLoad and EndLoad: the text is incomplete, and its views
    // wait for Loaded rather than follow each piece.
    bool IsLoading() const { return loading_ != nullptr; }
    QByteArray SaveBytes() const;
    // The bytes in place, valid until the next change.
    std::string_view Bytes() const;
    void AppendBytes(std::string& out) const;
    int64_t ByteLength() const;

    // Whole-text transfer with a TextBuffer. StreamOut returns the buffer's
    // new length; StreamIn is one undo step.
    int32_t StreamOut(TextBuffer& buffer) const;
    void StreamIn(const TextBuffer& buffer);
    void StreamIn(std::string_view bytes);

    // Replaces the whole text by a result that comes in pieces, as one undo
    // step, also while read-only, resultLength bytes in all: the old text goes a piece at a time
    // (ClearReplacementStep, true while some is left), then the result comes
    // (AppendReplacement). EndReplacement(false) takes it all back: the text
    // and its modified state are as before BeginReplacement, and Redo cannot
    // bring a partial result back.
    // With waiting, room for a result that replaces an empty text is made
    // on another thread while waiting runs every few milliseconds; only
    // while no view shows the text. Without undoable (a new document that
    // starts as the result), no undo step keeps a second copy of the result:
    // the result is there as if loaded, and the text is marked modified.
    void BeginReplacement(int64_t resultLength, const std::function<void()>& waiting = {},
                          bool undoable = true);
    bool ClearReplacementStep();
    void AppendReplacement(std::string_view bytes);
    void EndReplacement(bool keep);

    bool IsModified() const;
    // Scintilla knows only "at the save point"; a text never saved but worth
    // keeping (a joined text) is marked by hand until the next save point.
    void SetModified(bool modified);

    // Keeps every view from changing the text (a search command runs on it).
    void SetReadOnly(bool readOnly);
    bool IsReadOnly() const;

    // A search or rewrite expression as bytes of this document's encoding;
    // none when it holds a character the encoding cannot represent.
    std::optional<std::string> ToDocumentBytes(QStringView text) const;
    // Typed or pasted characters as bytes of the document. An 8-bit document
    // that has no byte for one becomes UTF-8 first (its bytes re-encoded, the
    // editor's selection kept on the same characters); the re-encoding and
    // the edit made with the returned bytes undo as one step.
    std::string InputBytes(QStringView text, QsciScintillaBase* editor);

  signals:
    // A character that the 8-bit map cannot hold came in; the document is UTF-8
    // from now on and will be saved that way.
    void EncodingWidened(QChar character);
    // The encoding or line-end style changed: views update how they show it.
    void FormatChanged();
    // The bytes are about to change, from any view or by a command.
    void AboutToChange();
    // The bytes changed: once for the changes made since control was last
    // in the event loop, emitted from there.
    void Changed();
    // IsModified() may have changed.
    void ModifiedChanged();
    // A load has ended: the text is a new one.
    void Loaded();

  private:
    void Widen(QsciScintillaBase* editor);
    void SetEncoding(TextEncoding encoding);
    void ReserveReplacement(const std::function<void()>& waiting = {});
    // Makes room for size bytes, on another thread while waiting runs.
    void Allocate(int64_t size, const std::function<void()>& waiting);
    void OnModified(int type, int token);

    std::unique_ptr<QsciScintilla> buffer_;
    // The buffer's own document, kept for its destruction; the text lives in
    // one made without per-byte styles.
    void* ownDoc_ = nullptr;
    std::unique_ptr<FormatDetector> loading_;
    DocFormat format_;
    bool forcedModified_ = false;
    bool replacementFromSavePoint_ = false;
    int64_t replacementClearLeft_ = 0;
    int64_t replacementLength_ = 0;
    int64_t replacementOldLength_ = 0;
    // The result goes in before one byte of the old text, which keeps
    // Scintilla's storage; the byte goes once the result is in.
    bool replacementKeptByte_ = false;
    bool replacementUndoable_ = true;
    int64_t replacementAppended_ = 0;
    bool changePending_ = false;
};

// Byte-exact editing of the document an editor shows.
// Replaces the selection (or inserts at the caret) by bytes as one undo step
// and selects what was inserted; also while the document is read-only.
void ReplaceSelectionBytes(QsciScintillaBase* editor, std::string_view bytes);
// Replaces everything by bytes as one undo step; also while read-only.
void ReplaceAllBytes(QsciScintillaBase* editor, std::string_view bytes);
void GetSelectionBytes(QsciScintillaBase* editor, int64_t& start, int64_t& end);
// Selects start..end (anchor at start, caret at end), clamped to the text.
void SetSelectionBytes(QsciScintillaBase* editor, int64_t start, int64_t end);

}  // namespace quarry
