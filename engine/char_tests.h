// The tests of character mode's consuming nodes, shared by the compiler, the
// matcher and the program analysis.
//
// A class operand (UANYOF, UANYBUT) is laid out as:
//   bytes 0-31   a 256-bit set of the character values 0 to 255;
//   byte 32      the set escapes added for values from 256 on (kClass* bits);
//   bytes 36-39  the number of ranges, then per range its first and last value
//                (each 4 bytes, native order), sorted and apart, all >= 256.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/expr_node.h"
#include "engine/unicode.h"

namespace quarry::detail {

inline constexpr uint8_t kClassSpace = 1;
inline constexpr uint8_t kClassNotSpace = 2;
inline constexpr uint8_t kClassAlnum = 4;
inline constexpr uint8_t kClassNotAlnum = 8;
inline constexpr uint8_t kClassUpper = 16;
inline constexpr uint8_t kClassLower = 32;
inline constexpr size_t kClassHeader = 40;

inline uint32_t ReadWord(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Whether an escape's property bits admit a character value of 256 or more.
inline bool ClassPropertiesHave(uint8_t props, char32_t c) {
    if (props == 0) {
        return false;
    }
    const uint8_t f = unicode::Flags(c);
    return ((props & kClassSpace) && (f & unicode::kSpace)) ||
           ((props & kClassNotSpace) && !(f & unicode::kSpace)) ||
           ((props & kClassAlnum) && (f & unicode::kAlnum)) ||
           ((props & kClassNotAlnum) && !(f & unicode::kAlnum)) ||
           ((props & kClassUpper) && (f & unicode::kUpper)) ||
           ((props & kClassLower) && (f & unicode::kLower));
}

inline bool ClassHas(const unsigned char* cls, char32_t c) {
    if (c < 256) {
        return SetHas(cls, static_cast<unsigned char>(c));
    }
    if (ClassPropertiesHave(cls[32], c)) {
        return true;
    }
    // Binary search over the ranges.
    uint32_t lo = 0;
    uint32_t hi = ReadWord(cls + 36);
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        const unsigned char* r = cls + kClassHeader + size_t{mid} * 8;
        if (c < ReadWord(r)) {
            hi = mid;
        } else if (c > ReadWord(r + 4)) {
            lo = mid + 1;
        } else {
            return true;
        }
    }
    return false;
}

// The operand of a class laid out as above: `low` the set of the values 0 to
// 255, `props` the escapes' bits, `ranges` values from 256 on, in any order
// and overlapping or not. Empty when it needs more ranges than a node's
// length can tell.
inline std::vector<unsigned char> ClassOperand(const unsigned char* low, uint8_t props,
                                               std::vector<std::pair<char32_t, char32_t>> ranges) {
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<char32_t, char32_t>> merged;
    for (const auto& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    const size_t size = kClassHeader + merged.size() * 8;
    if (size > 0x7FFF) {
        return {};
    }
    std::vector<unsigned char> operand(size, 0);
    std::memcpy(operand.data(), low, kSetBytes);
    operand[32] = props;
    const auto count = static_cast<uint32_t>(merged.size());
    std::memcpy(&operand[36], &count, 4);
    for (size_t i = 0; i < merged.size(); ++i) {
        const uint32_t first = merged[i].first;
        const uint32_t last = merged[i].second;
        std::memcpy(&operand[kClassHeader + i * 8], &first, 4);
        std::memcpy(&operand[kClassHeader + i * 8 + 4], &last, 4);
    }
    return operand;
}

// Whether the class holds any value in [first, last].
inline bool ClassMeetsRange(const unsigned char* cls, char32_t first, char32_t last) {
    for (char32_t c = first; c <= last && c < 256; ++c) {
        if (SetHas(cls, static_cast<unsigned char>(c))) {
            return true;
        }
    }
    if (last < 256) {
        return false;
    }
    if (cls[32] != 0) {
        return true;  // a property may hold somewhere in the range
    }
    const uint32_t count = ReadWord(cls + 36);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* r = cls + kClassHeader + size_t{i} * 8;
        if (ReadWord(r) <= last && ReadWord(r + 4) >= first) {
            return true;
        }
    }
    return false;
}

// A UEXACTLY literal: its character value, and that value's folding.
inline char32_t LiteralChar(const ExprNode* node) {
    int length = 1;
    return unicode::Decode(node->link.bytes, node->link.bytes + node->length, length);
}

inline bool IsAsciiDigitValue(char32_t c) {
    return c >= '0' && c <= '9';
}

// Whether character c passes a character-mode node other than UEXACTLY.
inline bool CharPasses(const ExprNode* node, char32_t c) {
    switch (node->op) {
        case UANY:
            return true;
        case UANYOF:
            return ClassHas(node->link.bytes, c);
        case UANYBUT:
            return !ClassHas(node->link.bytes, c);
        case USPACE:
            return (unicode::Flags(c) & unicode::kSpace) != 0;
        case UNSPACE:
            return (unicode::Flags(c) & unicode::kSpace) == 0;
        case UUPPER:
            return (unicode::Flags(c) & unicode::kUpper) != 0;
        case ULOWER:
            return (unicode::Flags(c) & unicode::kLower) != 0;
        case UNDIGIT:
            return !IsAsciiDigitValue(c);
        case UALNUM:
            return (unicode::Flags(c) & unicode::kAlnum) != 0;
        case UNALNUM:
            return (unicode::Flags(c) & unicode::kAlnum) == 0;
    }
    return false;
}

// Whether character c equals a UEXACTLY literal, without case when fold.
inline bool CharEqualsLiteral(const ExprNode* node, char32_t c, bool fold) {
    const char32_t lit = LiteralChar(node);
    return c == lit || (fold && unicode::Fold(c) == unicode::Fold(lit));
}

// The character values whose UTF-8 form begins with byte b (besides the
// stray byte b itself): [first, last], or false when none does.
inline bool ValuesLedBy(unsigned char b, char32_t& first, char32_t& last) {
    if (b < 0x80) {
        first = last = b;
        return true;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        first = char32_t{b & 0x1Fu} << 6;
        last = first + 0x3F;
        return true;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        first = std::max<char32_t>(char32_t{b & 0x0Fu} << 12, 0x800);
        last = (char32_t{b & 0x0Fu} << 12) + 0xFFF;
        return true;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        first = std::max<char32_t>(char32_t{b & 0x07u} << 18, 0x10000);
        last = std::min<char32_t>((char32_t{b & 0x07u} << 18) + 0x3FFFF, 0x10FFFF);
        return true;
    }
    return false;
}

// The bytes a character that may pass a character-mode node can begin with
// (see CharMayBeginWith), as a 256-entry table.
inline void CharFirstBytes(const ExprNode* node, bool fold, uint8_t* table);

// Whether some character that begins with byte b may pass a character-mode
// node (a literal compared without case when fold). Exact for ASCII bytes;
// for the others it may say yes where no such character passes.
inline bool CharMayBeginWith(const ExprNode* node, unsigned char b, bool fold) {
    if (b < 0x80) {
        return node->op == UEXACTLY ? CharEqualsLiteral(node, b, fold) : CharPasses(node, b);
    }
    const char32_t stray = unicode::kStrayByteBase + b;
    char32_t first = 0;
    char32_t last = 0;
    const bool leads = ValuesLedBy(b, first, last);
    switch (node->op) {
        case UEXACTLY: {
            if (!fold) {
                return node->link.bytes[0] == b;
            }
            for (char32_t c : unicode::FoldPartners(LiteralChar(node))) {
                unsigned char bytes[4];
                unicode::Encode(c, bytes);
                if (bytes[0] == b) {
                    return true;
                }
            }
            return false;
        }
        case UANYOF:
            return ClassHas(node->link.bytes, stray) ||
                   (leads && ClassMeetsRange(node->link.bytes, first, last));
        case USPACE:
        case UUPPER:
        case ULOWER:
        case UALNUM:
            return leads;  // no stray byte has a property
        default:
            return true;
    }
}

inline void CharFirstBytes(const ExprNode* node, bool fold, uint8_t* table) {
    if (node->op == UEXACTLY && fold) {
        // The literal's fold partners once, rather than once per byte.
        for (int b = 0; b < 256; ++b) {
            table[b] = 0;
        }
        for (char32_t c : unicode::FoldPartners(LiteralChar(node))) {
            unsigned char bytes[4];
            unicode::Encode(c, bytes);
            table[bytes[0]] = 1;
        }
        return;
    }
    for (int b = 0; b < 256; ++b) {
        table[b] = CharMayBeginWith(node, static_cast<unsigned char>(b), fold) ? 1 : 0;
    }
}

}  // namespace quarry::detail
