// The text of one document and everything that turns it into bytes: the
// QTextDocument that its views share, the document's encoding and line-end
// style, and the position <-> byte offset map. This is the only code that
// converts between editor text and bytes; it needs no widget.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/offset_map.h"
#include "app/text_codec.h"

class QTextCursor;
class QTextDocument;

namespace quarry {

class TextBuffer;

class DocumentText : public QObject {
    Q_OBJECT
  public:
    explicit DocumentText(QObject* parent = nullptr);

    QTextDocument* Document() const { return document_; }
    const DocFormat& Format() const { return format_; }
    void SetFormat(const DocFormat& format);

    // Replaces the text by a file's bytes, choosing the encoding and line-end
    // style that write the same bytes back. Clears undo and the modified flag.
    void LoadBytes(QByteArrayView bytes);
    // The text in file form.
    QByteArray SaveBytes() const;

    // The whole text in stream form (every line break CR LF) appended to out.
    void AppendStream(std::string& out) const;
    // Whole-text transfer with a TextBuffer, in stream form. StreamOut returns
    // the buffer's new length; StreamIn is one undo step.
    int32_t StreamOut(TextBuffer& buffer) const;
    void StreamIn(const TextBuffer& buffer);
    void StreamIn(std::string_view bytes);
    // Replaces the cursor's selection by stream-form bytes as one undo step and
    // selects what was inserted.
    void ReplaceSelection(QTextCursor& cursor, std::string_view bytes);

    // Offsets of the stream form.
    int64_t ByteOffset(int position) { return map_.ByteOffset(position); }
    int PositionOf(int64_t byte) { return map_.PositionOf(byte); }
    int64_t ByteLength() { return map_.ByteLength(); }
    void GetSelection(const QTextCursor& cursor, int64_t& start, int64_t& end);
    // Selects start..end (anchor at start, caret at end), offsets snapped.
    void SetSelection(QTextCursor& cursor, int64_t start, int64_t end);
    // Line (paragraph) that holds a byte offset, and the offset a line starts at.
    int LineFromByte(int64_t byte);
    int64_t LineStartByte(int line);

    // A search or rewrite expression as bytes of this document's encoding; none
    // when it holds a character the encoding cannot represent.
    std::optional<std::string> ToDocumentBytes(QStringView text) const;

  signals:
    // A character that the 8-bit map cannot hold came in; the document is UTF-8
    // from now on and will be saved that way.
    void EncodingWidened(QChar character);

  private:
    void OnContentsChange(int position, int removed, int added);

    QTextDocument* document_;
    DocFormat format_;
    OffsetMap map_;
};

}  // namespace quarry
