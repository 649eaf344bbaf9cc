// Fast scans for the matcher's start positions: the first byte equal to one
// of two values, sixteen bytes at a time where SSE2 is available.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarry::detail {

// The first position in [s, end) holding a or b, or end.
inline const unsigned char* FindEither(const unsigned char* s, const unsigned char* end,
                                       unsigned char a, unsigned char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    while (end - s >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)));
        if (mask != 0) {
            return s + __builtin_ctz(static_cast<unsigned>(mask));
        }
        s += 16;
    }
#endif
    for (; s < end; ++s) {
        if (*s == a || *s == b) {
            return s;
        }
    }
    return end;
}

// The first position in [s, end) whose byte the table admits, or end.
inline const unsigned char* FindInTable(const unsigned char* s, const unsigned char* end,
                                        const unsigned char* table) {
    while (end - s >= 4) {
        if (table[s[0]]) {
            return s;
        }
        if (table[s[1]]) {
            return s + 1;
        }
        if (table[s[2]]) {
            return s + 2;
        }
        if (table[s[3]]) {
            return s + 3;
        }
        s += 4;
    }
    for (; s < end; ++s) {
        if (table[*s]) {
            return s;
        }
    }
    return end;
}

}  // namespace quarry::detail
