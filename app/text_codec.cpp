#include "app/text_codec.h"

#include <array>

namespace quarry {
namespace {

// Windows-1252 in 0x80..0x9F; 0 where it defines nothing (the byte keeps its
// own code point there).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsBreakChar(char16_t c) {
    return c == u'\n' || c == kParagraphSeparator;
}

// Code points that QTextDocument does not keep as ordinary characters.
bool IsDocumentSpecial(char32_t cp) {
    return cp == 0x2029 || cp == 0xFDD0 || cp == 0xFDD1;
}

int Utf8SequenceLength(uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes one valid sequence at p (n bytes left); returns its length and the
// code point, or 0 when the bytes there are not valid UTF-8.
int DecodeUtf8(const uint8_t* p, qsizetype n, char32_t& cp) {
    const int len = Utf8SequenceLength(p[0]);
    if (len == 0 || len > n) {
        return 0;
    }
    if (len == 1) {
        cp = p[0];
        return 1;
    }
    for (int k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) {
            return 0;
        }
    }
    if (len == 2) {
        cp = (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (len == 3) {
        if (p[0] == 0xE0 && p[1] < 0xA0) {
            return 0;  // overlong
        }
        if (p[0] == 0xED && p[1] >= 0xA0) {
            return 0;  // surrogate
        }
        cp = (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return 3;
    }
    if (p[0] == 0xF0 && p[1] < 0x90) {
        return 0;  // overlong
    }
    if (p[0] == 0xF4 && p[1] >= 0x90) {
        return 0;  // above U+10FFFF
    }
    cp = (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
         (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    return 4;
}

void AppendCodePoint(QString& out, char32_t cp) {
    if (cp < 0x10000) {
        out += QChar(char16_t(cp));
    } else {
        cp -= 0x10000;
        out += QChar(char16_t(0xD800 + (cp >> 10)));
        out += QChar(char16_t(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes the non-break bytes [p, p+n) of one stretch into out.
void DecodeBytes(const uint8_t* p, qsizetype n, const DocFormat& format, QString& out) {
    qsizetype i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            out += QChar(char16_t(b));
            ++i;
            continue;
        }
        if (format.encoding == TextEncoding::Utf8) {
            char32_t cp = 0;
            const int len = DecodeUtf8(p + i, n - i, cp);
            if (len > 0) {
                AppendCodePoint(out, cp);
                i += len;
                continue;
            }
        }
        // Bytes that are not UTF-8 (only reachable from the search side in a
        // UTF-8 document) still arrive as their own character, never as U+FFFD.
        out += QChar(ByteToChar(b));
        ++i;
    }
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Encodes text, writing `lineBreak` for each line break character.
void Encode(QStringView text, const DocFormat& format, const char* lineBreak, std::string& out) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 && c != u'\n') {
            out += char(c);
            continue;
        }
        if (IsBreakChar(c)) {
            out += lineBreak;
            continue;
        }
        if (format.strayBreaks && (c == kStrayCrMark || c == kStrayLfMark)) {
            out += c == kStrayCrMark ? '\r' : '\n';
            continue;
        }
        if (format.encoding == TextEncoding::Bytes8) {
            const int b = CharToByte(c);
            // Callers switch a document to UTF-8 before it can hold a character
            // without a byte; '?' only guards against a caller that didn't.
            out += char(b >= 0 ? b : '?');
            continue;
        }
        char32_t cp = c;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1].unicode() >= 0xDC00 &&
            text[i + 1].unicode() < 0xE000) {
            cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1].unicode() - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(cp, out);
    }
}

}  // namespace

char16_t ByteToChar(uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] != 0) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

int CharToByte(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch < 0x100)) {
        return ch;
    }
    if (ch >= 0x80 && ch < 0xA0) {
        return kCp1252High[ch - 0x80] == 0 ? int(ch) : -1;
    }
    for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == ch) {
            return 0x80 + k;
        }
    }
    return -1;
}

bool IsValidUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int len = DecodeUtf8(p + i, n - i, cp);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}

DocFormat DetectFormat(QByteArrayView bytes) {
    DocFormat format;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    // The first line break decides the style.
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] == '\n') {
            format.lineEnd = LineEndStyle::Lf;
            break;
        }
        if (p[i] == '\r') {
            format.lineEnd =
                (i + 1 < n && p[i + 1] == '\n') ? LineEndStyle::CrLf : LineEndStyle::Cr;
            break;
        }
    }
    for (qsizetype i = 0; i < n && !format.strayBreaks; ++i) {
        if (p[i] == '\r') {
            const bool pair = i + 1 < n && p[i + 1] == '\n';
            if (format.lineEnd == LineEndStyle::CrLf && pair) {
                ++i;
            } else if (format.lineEnd != LineEndStyle::Cr) {
                format.strayBreaks = true;
            }
        } else if (p[i] == '\n' && format.lineEnd != LineEndStyle::Lf) {
            format.strayBreaks = true;
        }
    }
    // UTF-8 only when every byte decodes and no character would be taken by the
    // editor for something else.
    format.encoding = TextEncoding::Utf8;
    qsizetype i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int len = DecodeUtf8(p + i, n - i, cp);
        if (len == 0 || IsDocumentSpecial(cp) ||
            (format.strayBreaks && (cp == kStrayCrMark || cp == kStrayLfMark))) {
            format.encoding = TextEncoding::Bytes8;
            break;
        }
        i += len;
    }
    return format;
}

QString DecodeFile(QByteArrayView bytes, const DocFormat& format) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        if (b != '\r' && b != '\n') {
            continue;
        }
        DecodeBytes(p + start, i - start, format, out);
        if (b == '\r') {
            if (format.lineEnd == LineEndStyle::CrLf && i + 1 < n && p[i + 1] == '\n') {
                out += u'\n';
                ++i;
            } else if (format.lineEnd == LineEndStyle::Cr) {
                out += u'\n';
            } else {
                out += QChar(kStrayCrMark);
            }
        } else {
            out += format.lineEnd == LineEndStyle::Lf ? QChar(u'\n') : QChar(kStrayLfMark);
        }
        start = i + 1;
    }
    DecodeBytes(p + start, n - start, format, out);
    return out;
}

QByteArray EncodeFile(QStringView text, const DocFormat& format) {
    const char* lineBreak = format.lineEnd == LineEndStyle::CrLf ? "\r\n"
                            : format.lineEnd == LineEndStyle::Cr ? "\r"
                                                                 : "\n";
    std::string out;
    out.reserve(size_t(text.size()) + 16);
    Encode(text, format, lineBreak, out);
    return QByteArray(out.data(), qsizetype(out.size()));
}

QString DecodeStream(QByteArrayView bytes, const DocFormat& format) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        if (b != '\r' && b != '\n') {
            continue;
        }
        DecodeBytes(p + start, i - start, format, out);
        if (b == '\r' && i + 1 < n && p[i + 1] == '\n') {
            out += u'\n';
            ++i;
        } else if (format.strayBreaks) {
            out += QChar(b == '\r' ? kStrayCrMark : kStrayLfMark);
        } else {
            out += u'\n';
        }
        start = i + 1;
    }
    DecodeBytes(p + start, n - start, format, out);
    return out;
}

void EncodeStreamAppend(QStringView text, const DocFormat& format, std::string& out) {
    Encode(text, format, "\r\n", out);
}

std::string EncodeStream(QStringView text, const DocFormat& format) {
    std::string out;
    out.reserve(size_t(text.size()) + size_t(text.size()) / 8 + 16);
    EncodeStreamAppend(text, format, out);
    return out;
}

int64_t StreamByteLength(QStringView text, const DocFormat& format) {
    int64_t total = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        total += StreamByteCount(text, i, format);
    }
    return total;
}

qsizetype FirstUnencodable(QStringView text, const DocFormat& format) {
    if (format.encoding == TextEncoding::Utf8) {
        return -1;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || IsBreakChar(c)) {
            continue;
        }
        if (format.strayBreaks && (c == kStrayCrMark || c == kStrayLfMark)) {
            continue;
        }
        if (CharToByte(c) < 0) {
            return i;
        }
    }
    return -1;
}

}  // namespace quarry
