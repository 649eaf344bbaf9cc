// Byte-level helpers shared by the compiler and the rewrite expansion.
#pragma once

namespace quarry::detail {

inline int DigitValue(unsigned char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    }
    return v < base ? v : -1;
}

// Reads exactly `digits` digits of `base` at p and advances p past them. The
// value is taken modulo 256. Fails on a missing or foreign digit; the zero
// terminator is never a digit, so the text's end is never passed.
inline bool ParseNumericEscape(const unsigned char*& p, int digits, int base, unsigned char& out) {
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = DigitValue(p[i], base);
        if (d < 0) {
            return false;
        }
        value = value * base + d;
    }
    p += digits;
    out = static_cast<unsigned char>(value & 0xFF);
    return true;
}

inline bool IsAsciiLetter(unsigned char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}
inline bool IsAsciiDigit(unsigned char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}
inline bool IsWordByte(unsigned char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}
inline bool IsSpaceByte(unsigned char c) {
    return c == 9 || c == 10 || c == 13 || c == 32;
}
inline unsigned char AsciiUpper(unsigned char c) {
    return static_cast<unsigned char>(c - 'a') < 26 ? static_cast<unsigned char>(c - 32) : c;
}
inline unsigned char AsciiLower(unsigned char c) {
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace quarry::detail
