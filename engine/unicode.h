// Characters of UTF-8 text and their Unicode properties, for the engine's
// character mode.
//
// A character is a valid UTF-8 sequence (shortest form, no surrogates, at
// most U+10FFFF); any byte that begins none is a character of its own. Such a
// stray byte b gets the value kStrayByteBase + b, above every code point, so
// that it equals only itself and belongs to no property.
//
// The properties come from ICU, written into a two-stage table at build time
// (tools/make_unicode_tables.cpp): nothing is loaded when a process starts,
// and the matcher never calls into the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarry::unicode {

inline constexpr char32_t kStrayByteBase = 0x110000;
inline constexpr char32_t kCharLimit = kStrayByteBase + 0x100;  // above every character value

// Property bits.
inline constexpr uint8_t kAlnum = 1;  // a letter (L*) or a decimal digit (Nd)
inline constexpr uint8_t kUpper = 2;  // an upper-case letter (Lu)
inline constexpr uint8_t kLower = 4;  // a lower-case letter (Ll)
inline constexpr uint8_t kSpace = 8;  // White_Space

struct CharInfo {
    uint8_t flags = 0;
    // Simple case folding and simple upper and lower case mappings, as
    // differences from the character itself (so that pages of characters
    // without case are all alike and stored once).
    int32_t foldDelta = 0;
    int32_t upperDelta = 0;
    int32_t lowerDelta = 0;
};

namespace detail {
inline constexpr size_t kPageCount = 0x110000 / 256;
extern const uint16_t kPageOf[kPageCount];  // per 256 code points: index of its page
extern const CharInfo kPageData[];          // 256 entries per page; page 0 has no properties
extern const size_t kPageDataSize;
extern const uint8_t kAsciiFlags[128];  // the flags of ASCII again, one load away
// Characters whose folding is not themselves, by folding: the inverse of the
// folding, for the literals that several characters match without case.
struct FoldedFrom {
    char32_t folding;
    char32_t character;
};
extern const FoldedFrom kFoldedFrom[];  // sorted
extern const size_t kFoldedFromSize;
}  // namespace detail

// The properties of a character value (stray bytes have none).
inline const CharInfo& Info(char32_t c) {
    if (c >= kStrayByteBase) {
        return detail::kPageData[0];
    }
    return detail::kPageData[static_cast<size_t>(detail::kPageOf[c >> 8]) * 256 + (c & 0xFF)];
}
inline uint8_t Flags(char32_t c) {
    return c < 128 ? detail::kAsciiFlags[c] : Info(c).flags;
}
inline char32_t Fold(char32_t c) {
    return static_cast<char32_t>(static_cast<int32_t>(c) + Info(c).foldDelta);
}
inline char32_t ToUpper(char32_t c) {
    return static_cast<char32_t>(static_cast<int32_t>(c) + Info(c).upperDelta);
}
inline char32_t ToLower(char32_t c) {
    return static_cast<char32_t>(static_cast<int32_t>(c) + Info(c).lowerDelta);
}

// Every character whose simple case folding equals that of c, c included.
std::vector<char32_t> FoldPartners(char32_t c);

// The character at p (p < end): its value, and its length in bytes.
inline char32_t Decode(const unsigned char* p, const unsigned char* end, int& length) {
    const unsigned char b = p[0];
    length = 1;
    if (b < 0x80) {
        return b;
    }
    auto cont = [&](int i, unsigned char lo, unsigned char hi) {
        return p + i < end && p[i] >= lo && p[i] <= hi;
    };
    if (b >= 0xC2 && b <= 0xDF) {
        if (cont(1, 0x80, 0xBF)) {
            length = 2;
            return (char32_t{b & 0x1Fu} << 6) | (p[1] & 0x3Fu);
        }
    } else if (b >= 0xE0 && b <= 0xEF) {
        // E0 needs A0..BF after it (shorter forms are overlong), ED 80..9F
        // (above are the surrogates).
        const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
        if (cont(1, lo, hi) && cont(2, 0x80, 0xBF)) {
            length = 3;
            return (char32_t{b & 0x0Fu} << 12) | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
        }
    } else if (b >= 0xF0 && b <= 0xF4) {
        // F0 needs 90..BF (shorter are overlong), F4 80..8F (above U+10FFFF).
        const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
        if (cont(1, lo, hi) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF)) {
            length = 4;
            return (char32_t{b & 0x07u} << 18) | (char32_t{p[1] & 0x3Fu} << 12) |
                   (char32_t{p[2] & 0x3Fu} << 6) | (p[3] & 0x3Fu);
        }
    }
    return kStrayByteBase + b;
}

inline int CharLength(const unsigned char* p, const unsigned char* end) {
    if (*p < 0x80) {
        return 1;
    }
    int length = 1;
    Decode(p, end, length);
    return length;
}

// Writes the bytes of a character value (a stray byte as itself); returns
// their number (1 to 4).
inline int Encode(char32_t c, unsigned char* out) {
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c >= kStrayByteBase) {
        out[0] = static_cast<unsigned char>(c - kStrayByteBase);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// Whether p (start <= p <= end) is the start of a character of the text
// [start, end) or its end. Only a continuation byte can lie inside one: then
// the nearest byte before it that is no continuation byte decides.
inline bool IsCharStart(const unsigned char* p, const unsigned char* start,
                        const unsigned char* end) {
    if (p >= end || (*p & 0xC0) != 0x80) {
        return true;
    }
    for (const unsigned char* q = p - 1; q >= start && p - q <= 3; --q) {
        if ((*q & 0xC0) != 0x80) {
            int length = 1;
            Decode(q, end, length);
            return q + length <= p;
        }
    }
    return true;
}

// The first character start at or after p.
inline const unsigned char* CharStartAtOrAfter(const unsigned char* p, const unsigned char* start,
                                               const unsigned char* end) {
    while (!IsCharStart(p, start, end)) {
        ++p;
    }
    return p;
}

// The last character start at or before p.
inline const unsigned char* CharStartAtOrBefore(const unsigned char* p, const unsigned char* start,
                                                const unsigned char* end) {
    while (p > start && !IsCharStart(p, start, end)) {
        --p;
    }
    return p;
}

// The start of the character that ends at p (start < p, p a character start).
inline const unsigned char* PreviousCharStart(const unsigned char* p, const unsigned char* start,
                                              const unsigned char* end) {
    if (p[-1] < 0x80) {
        return p - 1;
    }
    return CharStartAtOrBefore(p - 1, start, end);
}

}  // namespace quarry::unicode
