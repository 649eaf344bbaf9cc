// Maps editor positions (UTF-16 units of a QTextDocument, one unit per line
// break) to byte offsets of the stream form of the text (line breaks CR LF)
// and back.
//
// It keeps checkpoints (position, byte offset) every few thousand characters,
// built lazily from the start of the text. An edit drops only the checkpoints
// behind it, so a lookup near the caret after typing rescans a few thousand
// characters, never the whole document.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

#include "app/text_codec.h"

class QTextDocument;

namespace quarry {

class OffsetMap : public QObject {
    Q_OBJECT
  public:
    // format must outlive the map; the map follows later changes to it only
    // after Reset().
    OffsetMap(QTextDocument* document, const DocFormat* format, QObject* parent = nullptr);

    // Byte offset of the editor position pos (clamped to the text). A position
    // between the halves of a surrogate pair counts as the pair's start.
    int64_t ByteOffset(int pos);
    // Editor position of a byte offset. An offset inside a character's bytes
    // snaps to that character's start; between CR and LF it snaps to the line
    // end. Offsets past the end give the end, negative ones 0.
    int PositionOf(int64_t byte);
    // Byte length of the whole text in stream form.
    int64_t ByteLength();

    // Forgets every checkpoint (after the document's encoding changed).
    void Reset();

    // Characters between checkpoints; exposed for tests.
    static constexpr int kSpacing = 2048;
    // Characters beyond the last checkpoint from which a lookup reads the whole
    // text instead of ranges.
    static constexpr int kRawScan = 256 * 1024;

  private:
    struct Checkpoint {
        int pos;
        int64_t byte;
    };

    void OnContentsChange(int position, int removed, int added);
    int EndPosition() const;
    // Builds checkpoints until one lies at or after pos, or past byte, or the
    // text ends.
    void Extend(int pos, int64_t byte);

    QTextDocument* document_;
    const DocFormat* format_;
    std::vector<Checkpoint> checkpoints_;
    bool complete_ = false;
    int64_t totalBytes_ = 0;
};

// Text of the editor positions [from, to): line breaks come out as U+2029.
QString DocumentRange(QTextDocument* document, int from, int to);

}  // namespace quarry
