// Fast scans for the matcher's start positions: the first byte equal to one
// of two values, sixteen bytes at a time where SSE2 is available (a long
// way on, and a literal's two tested bytes, 32 at a time where AVX2 is).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarry::detail {

#if defined(__SSE2__)
// The first of the sixteen places from s that a byte comparison's result
// marks, or nullptr.
inline const unsigned char* FirstMarked(const unsigned char* s, __m128i marks) {
    const int mask = _mm_movemask_epi8(marks);
    return mask != 0 ? s + __builtin_ctz(static_cast<unsigned>(mask)) : nullptr;
}
#endif

// Whether the scans below that take 32 bytes at a time (AVX2) run on this
// processor.
bool Avx2Available();

// FindEither's scan, 64 bytes per test of the marks with AVX2: from s while
// at least 64 bytes are left before end, the first place holding a or b, or
// null with s the first place not yet tested.
const unsigned char* ScanEitherAvx2(const unsigned char*& s, const unsigned char* end,
                                    unsigned char a, unsigned char b);

// The first position in [s, end) holding a or b, or end.
inline const unsigned char* FindEither(const unsigned char* s, const unsigned char* end,
                                       unsigned char a, unsigned char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    // Most searches end within a short line: the first blocks are tested
    // here, and a long way on is left to the wider scan.
    for (int block = 0; end - s >= 16; ++block) {
        if (block == 4 && end - s >= 64 && Avx2Available()) {
            if (const unsigned char* at = ScanEitherAvx2(s, end, a, b)) {
                return at;
            }
            continue;  // fewer than 64 bytes left: on sixteen at a time
        }
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        if (const unsigned char* at = FirstMarked(
                s, _mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)))) {
            return at;
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

// The first position in [s, end) holding one of the n (3 to 6) bytes in
// values, or end.
inline const unsigned char* FindAnyOf(const unsigned char* s, const unsigned char* end,
                                      const unsigned char* values, int n) {
#if defined(__SSE2__)
    __m128i v[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = _mm_set1_epi8(static_cast<char>(values[i < n ? i : 0]));
    }
    while (end - s >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(chunk, v[0]), _mm_cmpeq_epi8(chunk, v[1]));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(chunk, v[2]));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(chunk, v[3]));
        hit = _mm_or_si128(hit,
                           _mm_or_si128(_mm_cmpeq_epi8(chunk, v[4]), _mm_cmpeq_epi8(chunk, v[5])));
        if (const unsigned char* at = FirstMarked(s, hit)) {
            return at;
        }
        s += 16;
    }
#endif
    for (; s < end; ++s) {
        for (int i = 0; i < n; ++i) {
            if (*s == values[i]) {
                return s;
            }
        }
    }
    return end;
}

// The first position in [s, end) holding a byte from lo to hi, or end.
inline const unsigned char* FindInRange(const unsigned char* s, const unsigned char* end,
                                        unsigned char lo, unsigned char hi) {
    const auto width = static_cast<unsigned char>(hi - lo);
#if defined(__SSE2__)
    const __m128i vlo = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i vwidth = _mm_set1_epi8(static_cast<char>(width));
    while (end - s >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        // In range when chunk - lo, taken modulo 256, is at most the width.
        const __m128i offset = _mm_sub_epi8(chunk, vlo);
        if (const unsigned char* at =
                FirstMarked(s, _mm_cmpeq_epi8(_mm_min_epu8(offset, vwidth), offset))) {
            return at;
        }
        s += 16;
    }
#endif
    for (; s < end; ++s) {
        if (static_cast<unsigned char>(*s - lo) <= width) {
            return s;
        }
    }
    return end;
}

#if defined(__SSE2__)
// The first place marked in mask (bit i: base + i) that fits, or null.
template <typename Fits>
inline const unsigned char* FirstFit(const unsigned char* base, unsigned mask, const Fits& fits) {
    for (; mask != 0; mask &= mask - 1) {
        const unsigned char* at = base + __builtin_ctz(mask);
        if (fits(at)) {
            return at;
        }
    }
    return nullptr;
}

// The candidate scan the literal finders share: sixteen places at a time from
// p, candidates(p) marks in a bit each the places of p .. p + 15 worth
// testing whole, and the first of them that fits is returned. Null once
// fewer than sixteen places are left before last; p is then the first place
// not yet tried.
template <typename Candidates, typename Fits>
inline const unsigned char* ScanSixteenAtATime(const unsigned char*& p, const unsigned char* last,
                                               const Candidates& candidates, const Fits& fits) {
    // Two blocks per test of the marks: where candidates are rare (a literal
    // not in the text), the branch per block cost as much as the compares.
    for (; last - p >= 31; p += 32) {
        const unsigned mask = static_cast<unsigned>(candidates(p)) |
                              (static_cast<unsigned>(candidates(p + 16)) << 16);
        if (const unsigned char* at = FirstFit(p, mask, fits)) {
            return at;
        }
    }
    for (; last - p >= 15; p += 16) {
        if (const unsigned char* at = FirstFit(p, static_cast<unsigned>(candidates(p)), fits)) {
            return at;
        }
    }
    return nullptr;
}

// Candidates where the byte at offset a, with the bits bitA set, is wantA,
// and the same at b.
inline auto FoldedPairCandidates(size_t a, unsigned char wantA, unsigned char bitA, size_t b,
                                 unsigned char wantB, unsigned char bitB) {
    return [a, b, wantA = _mm_set1_epi8(static_cast<char>(wantA)),
            bitA = _mm_set1_epi8(static_cast<char>(bitA)),
            wantB = _mm_set1_epi8(static_cast<char>(wantB)),
            bitB = _mm_set1_epi8(static_cast<char>(bitB))](const unsigned char* p) {
        const __m128i atA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + a));
        const __m128i atB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b));
        return _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(atA, bitA), wantA),
                                               _mm_cmpeq_epi8(_mm_or_si128(atB, bitB), wantB)));
    };
}
#endif

// A rough idea of how often a byte occurs in text (higher: more often), to
// pick the byte of a literal that a scan stops at least.
inline int TypicalFrequency(unsigned char b) {
    static constexpr char kLettersByUse[] = "etaoinshrdlcumwfgypbvkjxqz";
    if (b == ' ') {
        return 1000;
    }
    const unsigned char lower = (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b;
    for (int i = 0; kLettersByUse[i] != 0; ++i) {
        if (kLettersByUse[i] == lower) {
            // Capitals are far rarer than small letters.
            return (lower == b ? 900 : 300) - i * 10;
        }
    }
    if (b >= '0' && b <= '9') {
        return 400;
    }
    if (b == '\n' || b == '\r' || b == '.' || b == ',' || b == '\t') {
        return 500;
    }
    return b < 128 ? 100 : 50;
}

// The index of the byte of a literal that TypicalFrequency deems rarest,
// other than `other` (SIZE_MAX: any).
inline size_t RarestByte(const std::string& literal, size_t other = SIZE_MAX) {
    size_t best = SIZE_MAX;
    for (size_t i = 0; i < literal.size(); ++i) {
        if (i != other &&
            (best == SIZE_MAX || TypicalFrequency(static_cast<unsigned char>(literal[i])) <
                                     TypicalFrequency(static_cast<unsigned char>(literal[best])))) {
            best = i;
        }
    }
    return best == SIZE_MAX ? 0 : best;
}

// The index of the byte of a literal that a scan ignoring case should look
// for first, other than `other` (SIZE_MAX: any): the rarest by the frequency
// of its small letter, since both cases are looked for.
inline size_t RarestByteNoCase(const std::string& literal, size_t other = SIZE_MAX) {
    size_t best = SIZE_MAX;
    int bestFrequency = 0;
    for (size_t i = 0; i < literal.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(literal[i]);
        b = (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b;
        if (i != other && (best == SIZE_MAX || TypicalFrequency(b) < bestFrequency)) {
            best = i;
            bestFrequency = TypicalFrequency(b);
        }
    }
    return best == SIZE_MAX ? 0 : best;
}

// A literal prepared for FindLiteralNoCase: each byte with bit 5 set where
// it is an ASCII letter (small), and that bit alone for letters (bits). A
// byte x then matches the literal's byte i without case exactly when
// (x | bits[i]) == small[i].
struct FoldedLiteral {
    std::string small;
    std::string bits;
    size_t a = 0, b = 0;  // the two indexes the scan tests first
};

inline FoldedLiteral FoldLiteral(const std::string& literal) {
    FoldedLiteral folded;
    for (char ch : literal) {
        const auto c = static_cast<unsigned char>(ch);
        const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        folded.bits.push_back(static_cast<char>(letter ? 0x20 : 0));
        folded.small.push_back(static_cast<char>(letter ? (c | 0x20) : c));
    }
    folded.a = RarestByteNoCase(literal);
    folded.b = literal.size() > 1 ? RarestByteNoCase(literal, folded.a) : folded.a;
    return folded;
}

// The same for a scan with case: no bit is ignored, and the two bytes tested
// first are the rarest by their own frequency.
inline FoldedLiteral ExactLiteral(const std::string& literal) {
    FoldedLiteral exact;
    exact.small = literal;
    exact.bits.assign(literal.size(), '\0');
    exact.a = RarestByte(literal);
    exact.b = literal.size() > 1 ? RarestByte(literal, exact.a) : exact.a;
    return exact;
}

// FindLiteralNoCase's scan, thirty-two places at a time with AVX2: from p
// while at least 64 places are left before last, the first place where the
// literal stands, or null with p the first place not yet tried.
const unsigned char* ScanLiteralPairAvx2(const unsigned char*& p, const unsigned char* last,
                                         const FoldedLiteral& literal);

// The first place in [s, end) where the literal stands when ASCII letters
// are compared without case (with an ExactLiteral: with case), or end.
// Sixteen places at a time, the scan tests the two bytes the literal was
// prepared with and compares the whole literal only where both fit.
inline const unsigned char* FindLiteralNoCase(const unsigned char* s, const unsigned char* end,
                                              const FoldedLiteral& literal) {
    const size_t n = literal.small.size();
    if (static_cast<size_t>(end - s) < n) {
        return end;
    }
    const auto* small = reinterpret_cast<const unsigned char*>(literal.small.data());
    const auto* bits = reinterpret_cast<const unsigned char*>(literal.bits.data());
    const auto fits = [&](const unsigned char* at) {
        for (size_t i = 0; i < n; ++i) {
            if (static_cast<unsigned char>(at[i] | bits[i]) != small[i]) {
                return false;
            }
        }
        return true;
    };
    const unsigned char* last = end - n;  // the last place the literal fits
    const unsigned char* p = s;
    if (last - p >= 63 && Avx2Available()) {
        if (const unsigned char* at = ScanLiteralPairAvx2(p, last, literal)) {
            return at;
        }
    }
#if defined(__SSE2__)
    const size_t a = literal.a;
    const size_t b = literal.b;
    // The places p .. p + 15 read up to p + 15 + n - 1, before end.
    if (const unsigned char* at = ScanSixteenAtATime(
            p, last, FoldedPairCandidates(a, small[a], bits[a], b, small[b], bits[b]), fits)) {
        return at;
    }
#endif
    for (; p <= last; ++p) {
        if (fits(p)) {
            return p;
        }
    }
    return end;
}

// The first place in [s, end) where an ExactLiteral stands, or end. The
// scan looks for the literal's rarest byte with memchr and compares the rest
// there; where that byte turns out common (a stop that fails every 32 bytes
// or more often), it goes on testing two bytes at once instead, and sets
// *common if given: a caller that passes it again, set, skips the memchr
// stage from then on (the searches of one listing learn it once rather
// than at each matching).
inline const unsigned char* FindLiteral(const unsigned char* s, const unsigned char* end,
                                        const FoldedLiteral& exact, bool* common = nullptr) {
    const size_t n = exact.small.size();
    if (common != nullptr && *common && n >= 2) {
        return FindLiteralNoCase(s, end, exact);
    }
    const auto* lit = reinterpret_cast<const unsigned char*>(exact.small.data());
    if (static_cast<size_t>(end - s) < n) {
        return end;
    }
    const size_t rare = exact.a;
    const unsigned char* last = end - n;  // the last place the literal fits
    const unsigned char* p = s + rare;
    constexpr int kMissesMeasured = 16;
    int misses = 0;
    const unsigned char* measuredFrom = p;
    while (p <= last + rare) {
        const void* hit = std::memchr(p, lit[rare], static_cast<size_t>(last + rare - p) + 1);
        if (hit == nullptr) {
            return end;
        }
        const unsigned char* at = static_cast<const unsigned char*>(hit) - rare;
        if (std::memcmp(at, lit, n) == 0) {
            return at;
        }
        p = static_cast<const unsigned char*>(hit) + 1;
        if (++misses == kMissesMeasured) {
            if (p - measuredFrom < kMissesMeasured * 32 && n >= 2) {
                if (common != nullptr) {
                    *common = true;
                }
                return FindLiteralNoCase(at + 1, end, exact);
            }
            misses = 0;
            measuredFrom = p;
        }
    }
    return end;
}

// A literal whose bytes are known only as sets: each place of the literal
// admits any byte of its set. Two places, each with at most four bytes,
// are tested first (values padded with repeats). When both sets are one
// byte, or two that differ in one bit, the test is (x | bit) == want.
struct ByteSetLiteral {
    std::vector<std::array<uint8_t, 32>> sets;
    size_t a = 0, b = 0;
    std::array<unsigned char, 4> aValues{}, bValues{};
    bool bitTests = false;
    unsigned char aBit = 0, aWant = 0, bBit = 0, bWant = 0;
};

inline bool ByteSetHas(const std::array<uint8_t, 32>& set, unsigned char c) {
    return ((set[c >> 3] >> (c & 7)) & 1) != 0;
}

// Makes places a and b (sets of one to four bytes) the ones the scan tests
// first.
inline void SetTestedPlaces(ByteSetLiteral& literal, size_t a, size_t b) {
    auto fill = [&](size_t place, std::array<unsigned char, 4>& values) {
        size_t k = 0;
        for (int c = 0; c < 256 && k < 4; ++c) {
            if (ByteSetHas(literal.sets[place], static_cast<unsigned char>(c))) {
                values[k++] = static_cast<unsigned char>(c);
            }
        }
        for (; k < 4; ++k) {
            values[k] = values[0];
        }
    };
    // One byte, or two that differ in one bit: (x | bit) == want.
    auto bitTest = [](const std::array<unsigned char, 4>& v, unsigned char& bit,
                      unsigned char& want) {
        const auto diff = static_cast<unsigned char>(v[0] ^ v[1]);
        if (v[2] != v[0] || v[3] != v[0] || (diff & (diff - 1)) != 0) {
            return false;
        }
        bit = diff;
        want = static_cast<unsigned char>(v[0] | v[1]);
        return true;
    };
    literal.a = a;
    literal.b = b;
    fill(a, literal.aValues);
    fill(b, literal.bValues);
    literal.bitTests = bitTest(literal.aValues, literal.aBit, literal.aWant) &&
                       bitTest(literal.bValues, literal.bBit, literal.bWant);
}

// The first place in [s, end) where every byte of the literal lies in its
// place's set, or end.
inline const unsigned char* FindByteSets(const unsigned char* s, const unsigned char* end,
                                         const ByteSetLiteral& literal) {
    const size_t n = literal.sets.size();
    if (n == 0 || static_cast<size_t>(end - s) < n) {
        return end;
    }
    const auto fits = [&](const unsigned char* at) {
        for (size_t i = 0; i < n; ++i) {
            if (!ByteSetHas(literal.sets[i], at[i])) {
                return false;
            }
        }
        return true;
    };
    const unsigned char* last = end - n;  // the last place the literal fits
    const unsigned char* p = s;
#if defined(__SSE2__)
    const size_t a = literal.a;
    const size_t b = literal.b;
    if (literal.bitTests) {
        if (const unsigned char* at =
                ScanSixteenAtATime(p, last,
                                   FoldedPairCandidates(a, literal.aWant, literal.aBit, b,
                                                        literal.bWant, literal.bBit),
                                   fits)) {
            return at;
        }
    }
    __m128i va[4];
    __m128i vb[4];
    for (size_t k = 0; k < 4; ++k) {
        va[k] = _mm_set1_epi8(static_cast<char>(literal.aValues[k]));
        vb[k] = _mm_set1_epi8(static_cast<char>(literal.bValues[k]));
    }
    const auto anyOf = [](__m128i chunk, const __m128i* v) {
        return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, v[0]), _mm_cmpeq_epi8(chunk, v[1])),
                            _mm_or_si128(_mm_cmpeq_epi8(chunk, v[2]), _mm_cmpeq_epi8(chunk, v[3])));
    };
    // The places p .. p + 15 read up to p + 15 + n - 1, before end.
    const auto candidates = [&](const unsigned char* at) {
        const __m128i atA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + a));
        const __m128i atB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + b));
        return _mm_movemask_epi8(_mm_and_si128(anyOf(atA, va), anyOf(atB, vb)));
    };
    if (const unsigned char* at = ScanSixteenAtATime(p, last, candidates, fits)) {
        return at;
    }
#endif
    for (; p <= last; ++p) {
        if (fits(p)) {
            return p;
        }
    }
    return end;
}

// The first position p in [s, end) where the byte at p and the byte after
// it form one of the M pairs, or where the byte at p is the last before end
// and the first of a pair; or end.
template <int M>
const unsigned char* FindBytePairOf(const unsigned char* s, const unsigned char* end,
                                    const std::array<unsigned char, 2>* pairs) {
#if defined(__SSE2__)
    __m128i first[M];
    __m128i second[M];
    for (int k = 0; k < M; ++k) {
        first[k] = _mm_set1_epi8(static_cast<char>(pairs[k][0]));
        second[k] = _mm_set1_epi8(static_cast<char>(pairs[k][1]));
    }
    // Places s .. s + 15 read their next byte up to s + 16, before end.
    while (end - s >= 17) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1));
        __m128i hit =
            _mm_and_si128(_mm_cmpeq_epi8(here, first[0]), _mm_cmpeq_epi8(next, second[0]));
        for (int k = 1; k < M; ++k) {
            hit = _mm_or_si128(hit, _mm_and_si128(_mm_cmpeq_epi8(here, first[k]),
                                                  _mm_cmpeq_epi8(next, second[k])));
        }
        if (const unsigned char* at = FirstMarked(s, hit)) {
            return at;
        }
        s += 16;
    }
#endif
    for (; s < end; ++s) {
        for (int k = 0; k < M; ++k) {
            if (s[0] == pairs[k][0] && (end - s < 2 || s[1] == pairs[k][1])) {
                return s;
            }
        }
    }
    return end;
}

// FindBytePairOf for m (1 to 8) pairs.
inline const unsigned char* FindBytePair(const unsigned char* s, const unsigned char* end,
                                         const std::array<unsigned char, 2>* pairs, int m) {
    switch (m) {
        case 1:
            return FindBytePairOf<1>(s, end, pairs);
        case 2:
            return FindBytePairOf<2>(s, end, pairs);
        case 3:
            return FindBytePairOf<3>(s, end, pairs);
        case 4:
            return FindBytePairOf<4>(s, end, pairs);
        case 5:
            return FindBytePairOf<5>(s, end, pairs);
        case 6:
            return FindBytePairOf<6>(s, end, pairs);
        case 7:
            return FindBytePairOf<7>(s, end, pairs);
        default:
            return FindBytePairOf<8>(s, end, pairs);
    }
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

// The first position in [s, end) whose byte the table admits and whose next
// byte the admitted byte's 256-bit set (next[index[byte]]) holds (the last
// byte needs no next one), or end.
inline const unsigned char* FindInPairTable(const unsigned char* s, const unsigned char* end,
                                            const unsigned char* first, const unsigned char* index,
                                            const std::array<uint8_t, 32>* next) {
    for (;;) {
        s = FindInTable(s, end, first);
        if (end - s < 2) {
            return s;
        }
        const std::array<uint8_t, 32>& set = next[index[s[0]]];
        if ((set[s[1] >> 3] >> (s[1] & 7)) & 1) {
            return s;
        }
        ++s;
    }
}

// A scan for a set of literals at once, after the Teddy scheme: the
// literals are spread over eight buckets, and for each of the first
// `width` places (up to three) two 16-byte tables give the buckets whose
// literals allow a byte's low and high nibble there. Where some bucket
// allows all the tested bytes, that bucket's literals are compared whole.
inline constexpr int kLiteralSetPlaces = 3;
inline constexpr size_t kMaxLiteralSet = 64;
// Longer literals are compared by their first bytes only.
inline constexpr size_t kMaxSetLiteralLength = 16;

// One literal of a set: a text byte x matches its byte i when
// (x | caseBits[i]) == bytes[i]; caseBits[i] is 0x20 for an ASCII letter
// compared without case (bytes[i] then holds its small letter), else 0.
struct SetLiteral {
    std::string bytes;
    std::string caseBits;
};

// A byte literal (its first kMaxSetLiteralLength bytes), ASCII letters
// without case when fold.
SetLiteral MakeSetLiteral(const std::string& literal, bool fold);

struct LiteralSetScan {
    int width = 0;  // places tested, 1 to 3; 0: no scan was built
    // Per place: bit k set for the nibbles that bucket k allows.
    std::array<std::array<uint8_t, 16>, kLiteralSetPlaces> low{};
    std::array<std::array<uint8_t, 16>, kLiteralSetPlaces> high{};
    // The buckets that allow byte c at place j.
    unsigned Buckets(size_t j, unsigned char c) const { return low[j][c & 15] & high[j][c >> 4]; }
    // The literals by bucket: bucket k holds literals[first[k]] up to
    // literals[first[k + 1]].
    std::vector<SetLiteral> literals;
    std::array<uint8_t, 9> first{};
};

// Spreads 1 to kMaxLiteralSet literals (none empty) over the buckets, so
// that the combinations of nibbles that no literal has stay few.
LiteralSetScan BuildLiteralSetScan(const std::vector<SetLiteral>& literals);

enum class LiteralSetKernel { kPortable, kSsse3, kAvx2 };

// Whether this processor runs the kernel.
bool LiteralSetKernelAvailable(LiteralSetKernel kernel);

// The first place p in [s, end) where one of the scan's literals stands
// (whole before end), or end. Never reads at or past end.
const unsigned char* FindLiteralSetWith(LiteralSetKernel kernel, const unsigned char* s,
                                        const unsigned char* end, const LiteralSetScan& scan);

// FindLiteralSetWith the fastest kernel this processor runs.
const unsigned char* FindLiteralSet(const unsigned char* s, const unsigned char* end,
                                    const LiteralSetScan& scan);

}  // namespace quarry::detail
