// The mapping between a document's bytes and the characters the editor
// shows. Two byte forms exist:
//  - the file form: the bytes as stored, line breaks in the document's own
//    style (LF, CR LF or CR);
//  - the stream form: what the search side sees, every line break CR LF.
// In the editor text a line break is one character ('\n' or U+2029, the
// paragraph separator that QTextDocument uses internally).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <string>

namespace quarry {

enum class TextEncoding {
    Utf8,   // valid UTF-8
    Bytes8  // one character per byte, every byte value has its own character
};

enum class LineEndStyle { Lf, CrLf, Cr };

struct DocFormat {
    TextEncoding encoding = TextEncoding::Utf8;
    LineEndStyle lineEnd = LineEndStyle::Lf;
    // CR or LF bytes that are not part of the style's line break. They are shown
    // as the symbols U+240D and U+240A so that saving writes them back.
    bool strayBreaks = false;

    bool operator==(const DocFormat&) const = default;
};

inline constexpr char16_t kStrayCrMark = u'\u240D';
inline constexpr char16_t kStrayLfMark = u'\u240A';
inline constexpr char16_t kParagraphSeparator = u'\u2029';

// The 8-bit map: Windows-1252 for 0x80..0x9F where it defines a character,
// the byte's own code point everywhere else. A bijection on 256 values.
char16_t ByteToChar(uint8_t byte);
// The byte of a character under the 8-bit map, or -1 when it has none.
int CharToByte(char16_t ch);

// Strict check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(QByteArrayView bytes);

// Chooses encoding and line-end style for a file's bytes so that decoding and
// encoding again give the same bytes.
DocFormat DetectFormat(QByteArrayView bytes);

// File form <-> editor text ('\n' per line break).
QString DecodeFile(QByteArrayView bytes, const DocFormat& format);
QByteArray EncodeFile(QStringView text, const DocFormat& format);

// Stream form <-> editor text. Decoding takes CR LF as a line break; a lone CR
// or LF is a line break too, unless the document keeps stray breaks, where it
// is the stray byte again.
QString DecodeStream(QByteArrayView bytes, const DocFormat& format);
void EncodeStreamAppend(QStringView text, const DocFormat& format, std::string& out);
std::string EncodeStream(QStringView text, const DocFormat& format);

// Bytes that the character at text[i] takes in the stream form. A surrogate
// pair counts 4 on its high half and 0 on its low half.
inline int StreamByteCount(QStringView text, qsizetype i, const DocFormat& format) {
    const char16_t c = text[i].unicode();
    if (c == u'\n' || c == kParagraphSeparator) {
        return 2;
    }
    if (format.encoding == TextEncoding::Bytes8 || c < 0x80) {
        return 1;
    }
    if (format.strayBreaks && (c == kStrayCrMark || c == kStrayLfMark)) {
        return 1;
    }
    if (c < 0x800) {
        return 2;
    }
    if (c >= 0xD800 && c < 0xDC00) {
        const bool paired = i + 1 < text.size() && text[i + 1].unicode() >= 0xDC00 &&
                            text[i + 1].unicode() < 0xE000;
        return paired ? 4 : 3;
    }
    if (c >= 0xDC00 && c < 0xE000) {
        const bool paired =
            i > 0 && text[i - 1].unicode() >= 0xD800 && text[i - 1].unicode() < 0xDC00;
        return paired ? 0 : 3;
    }
    return 3;
}

int64_t StreamByteLength(QStringView text, const DocFormat& format);

// Index of the first character the format cannot hold, or -1.
qsizetype FirstUnencodable(QStringView text, const DocFormat& format);

}  // namespace quarry
