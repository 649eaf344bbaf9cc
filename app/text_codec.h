// What the application needs to know about a file's bytes beyond what the
// editor holds: which encoding the editor shows them in, which line break
// Enter inserts, and the 8-bit map used to turn typed or pasted characters
// and search expressions into bytes of an 8-bit document.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <string>

#include "search/code_page.h"

namespace quarry {

enum class TextEncoding {
    Utf8,   // valid UTF-8
    Bytes8  // one character per byte, every byte value has its own character
};

enum class LineEndStyle { Lf, CrLf, Cr };

struct DocFormat {
    TextEncoding encoding = TextEncoding::Utf8;
    // The most frequent line break; only what Enter and paste insert; the
    // bytes keep every break as it is.
    LineEndStyle lineEnd = LineEndStyle::Lf;

    bool operator==(const DocFormat&) const = default;
};

// The bytes of a line break in a style.
const char* LineBreakBytes(LineEndStyle style);

// Strict check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(QByteArrayView bytes);

// Valid UTF-8 is shown as UTF-8, anything else byte by byte; the line-end
// style is the most frequent break (the first one seen on a tie).
DocFormat DetectFormat(QByteArrayView bytes);

// DetectFormat over a text that comes in pieces, cut anywhere (inside a CR LF
// or a UTF-8 sequence too): Result() after the last piece is what
// DetectFormat gives for all of them joined.
class FormatDetector {
  public:
    void Feed(QByteArrayView bytes);
    DocFormat Result() const;

  private:
    void FeedUtf8(const uint8_t* p, qsizetype n);

    // Counts per style, indexed by LineEndStyle, and the first style seen.
    int64_t counts_[3] = {0, 0, 0};
    int first_ = -1;
    // The last piece ended with a CR whose partner may come next.
    bool pendingCr_ = false;
    bool utf8_ = true;
    // The start of a UTF-8 sequence the last piece cut off.
    uint8_t carry_[4] = {};
    int carryLength_ = 0;
};

// Characters as bytes of an encoding; none when a character has no byte in
// the 8-bit map.
std::optional<std::string> EncodeText(QStringView text, TextEncoding encoding);
// Bytes as characters for display outside the editor; bytes that are not
// UTF-8 in a UTF-8 text show as their 8-bit map character, never as U+FFFD.
QString DecodeText(QByteArrayView bytes, TextEncoding encoding);

}  // namespace quarry
