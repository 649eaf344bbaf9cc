#include "app/text_codec.h"

#include <algorithm>
#include <cstring>

namespace quarry {
namespace {

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

}  // namespace

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

const char* LineBreakBytes(LineEndStyle style) {
    switch (style) {
        case LineEndStyle::CrLf:
            return "\r\n";
        case LineEndStyle::Cr:
            return "\r";
        case LineEndStyle::Lf:
            break;
    }
    return "\n";
}

DocFormat DetectFormat(QByteArrayView bytes) {
    FormatDetector detector;
    detector.Feed(bytes);
    return detector.Result();
}

void FormatDetector::Feed(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    if (n == 0) {
        return;
    }
    const auto count = [this](LineEndStyle style) {
        ++counts_[int(style)];
        if (first_ < 0) {
            first_ = int(style);
        }
    };
    qsizetype i = 0;
    if (pendingCr_) {
        pendingCr_ = false;
        const bool pair = p[0] == '\n';
        count(pair ? LineEndStyle::CrLf : LineEndStyle::Cr);
        i = pair ? 1 : 0;
    }
    // Most texts have no CR at all: their LFs are counted in one vectorised
    // pass instead of a byte-by-byte walk.
    if (std::memchr(p + i, '\r', size_t(n - i)) == nullptr) {
        const auto* lf = static_cast<const uint8_t*>(std::memchr(p + i, '\n', size_t(n - i)));
        if (lf != nullptr) {
            count(LineEndStyle::Lf);
            counts_[int(LineEndStyle::Lf)] += std::count(lf + 1, p + n, uint8_t('\n'));
        }
    } else {
        for (; i < n; ++i) {
            if (p[i] == '\n') {
                count(LineEndStyle::Lf);
            } else if (p[i] == '\r') {
                if (i + 1 == n) {
                    pendingCr_ = true;
                } else {
                    const bool pair = p[i + 1] == '\n';
                    count(pair ? LineEndStyle::CrLf : LineEndStyle::Cr);
                    i += pair ? 1 : 0;
                }
            }
        }
    }
    if (utf8_) {
        FeedUtf8(p, n);
    }
}

void FormatDetector::FeedUtf8(const uint8_t* p, qsizetype n) {
    qsizetype i = 0;
    if (carryLength_ > 0) {
        // Complete the sequence the last piece cut off.
        const int need = Utf8SequenceLength(carry_[0]);
        while (carryLength_ < need && i < n) {
            carry_[carryLength_++] = p[i++];
        }
        if (carryLength_ < need) {
            return;
        }
        char32_t cp = 0;
        carryLength_ = 0;
        if (DecodeUtf8(carry_, need, cp) != need) {
            utf8_ = false;
            return;
        }
    }
    while (i < n) {
        // Eight ASCII bytes at a time.
        while (n - i >= 8) {
            uint64_t word = 0;
            std::memcpy(&word, p + i, 8);
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= n) {
            break;
        }
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int len = Utf8SequenceLength(p[i]);
        if (len == 0) {
            utf8_ = false;
            return;
        }
        if (len > n - i) {
            // Cut by the piece's end: checked when the rest comes. Bytes
            // that would not be continuations fail already here.
            for (qsizetype k = i + 1; k < n; ++k) {
                if ((p[k] & 0xC0) != 0x80) {
                    utf8_ = false;
                    return;
                }
            }
            carryLength_ = int(n - i);
            std::memcpy(carry_, p + i, size_t(carryLength_));
            return;
        }
        char32_t cp = 0;
        if (DecodeUtf8(p + i, n - i, cp) != len) {
            utf8_ = false;
            return;
        }
        i += len;
    }
}

DocFormat FormatDetector::Result() const {
    DocFormat format;
    int64_t counts[3] = {counts_[0], counts_[1], counts_[2]};
    int first = first_;
    if (pendingCr_) {
        // The text ended with a CR.
        ++counts[int(LineEndStyle::Cr)];
        if (first < 0) {
            first = int(LineEndStyle::Cr);
        }
    }
    if (first >= 0) {
        int best = first;
        for (int s = 0; s < 3; ++s) {
            if (counts[s] > counts[best]) {
                best = s;
            }
        }
        format.lineEnd = LineEndStyle(best);
    }
    // A sequence still waiting for its continuation bytes was cut by the end.
    format.encoding = utf8_ && carryLength_ == 0 ? TextEncoding::Utf8 : TextEncoding::Bytes8;
    return format;
}

std::optional<std::string> EncodeText(QStringView text, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) {
        // A lone surrogate becomes U+FFFD, as it has no UTF-8 form.
        return text.toUtf8().toStdString();
    }
    std::string out;
    out.reserve(size_t(text.size()));
    for (const QChar ch : text) {
        const int b = CharToByte(ch.unicode());
        if (b < 0) {
            return std::nullopt;
        }
        out += char(b);
    }
    return out;
}

QString DecodeText(QByteArrayView bytes, TextEncoding encoding) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        if (p[i] >= 0x80 && encoding == TextEncoding::Utf8) {
            char32_t cp = 0;
            const int len = DecodeUtf8(p + i, n - i, cp);
            if (len > 0) {
                AppendCodePoint(out, cp);
                i += len;
                continue;
            }
        }
        out += QChar(ByteToChar(p[i]));
        ++i;
    }
    return out;
}

}  // namespace quarry
