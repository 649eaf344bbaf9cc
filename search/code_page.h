// The 8-bit map of our documents: Windows-1252 for 0x80..0x9F where it
// defines a character, the byte's own code point everywhere else. A bijection
// on 256 values; documents that are not UTF-8 and settings.dat's strings are
// read and written with it.
#pragma once

#include <cstdint>

namespace quarry {

// 0 where Windows-1252 defines nothing: the byte stands for itself there.
inline constexpr char16_t kCodePageHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The character of a byte.
constexpr char16_t ByteToChar(uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0 && kCodePageHigh[byte - 0x80] != 0) {
        return kCodePageHigh[byte - 0x80];
    }
    return byte;
}

// The byte of a character, or -1 when it has none.
constexpr int CharToByte(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch < 0x100)) {
        return ch;
    }
    if (ch < 0xA0) {
        return kCodePageHigh[ch - 0x80] == 0 ? int(ch) : -1;
    }
    for (int k = 0; k < 32; ++k) {
        if (kCodePageHigh[k] == ch) {
            return 0x80 + k;
        }
    }
    return -1;
}

}  // namespace quarry
