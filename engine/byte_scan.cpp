#include "engine/byte_scan.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARRY_LITERAL_SET_X86 1
#endif

namespace quarry::detail {
namespace {

// Whether a literal of the buckets set in `allowed` stands at p.
inline bool LiteralOfBucketsAt(const LiteralSetScan& scan, unsigned allowed, const unsigned char* p,
                               const unsigned char* end) {
    const auto room = static_cast<size_t>(end - p);
    while (allowed != 0) {
        const auto k = static_cast<size_t>(__builtin_ctz(allowed));
        for (size_t i = scan.first[k]; i < scan.first[k + 1]; ++i) {
            const SetLiteral& l = scan.literals[i];
            const size_t n = l.bytes.size();
            if (n > room) {
                continue;
            }
            size_t j = 0;
            while (j < n && static_cast<unsigned char>(p[j] | l.caseBits[j]) ==
                                static_cast<unsigned char>(l.bytes[j])) {
                ++j;
            }
            if (j == n) {
                return true;
            }
        }
        allowed &= allowed - 1;
    }
    return false;
}

// The portable scan, and the tail of the vector ones: from p, places with
// all tested bytes before end, then the last places, where only the bytes
// before end are tested.
const unsigned char* ScanLiteralSetBytes(const unsigned char* p, const unsigned char* end,
                                         const LiteralSetScan& scan) {
    const auto w = static_cast<ptrdiff_t>(scan.width);
    for (; end - p >= w; ++p) {
        unsigned allowed = scan.Buckets(0, p[0]);
        if (w > 1) {
            allowed &= scan.Buckets(1, p[1]);
        }
        if (w > 2) {
            allowed &= scan.Buckets(2, p[2]);
        }
        if (allowed != 0 && LiteralOfBucketsAt(scan, allowed, p, end)) {
            return p;
        }
    }
    for (; p < end; ++p) {
        unsigned allowed = 0xFF;
        for (ptrdiff_t j = 0; j < end - p; ++j) {
            allowed &= scan.Buckets(static_cast<size_t>(j), p[j]);
        }
        if (allowed != 0 && LiteralOfBucketsAt(scan, allowed, p, end)) {
            return p;
        }
    }
    return end;
}

#if defined(QUARRY_LITERAL_SET_X86)
// The buckets that allow the sixteen bytes from q at place j (SSSE3).
[[gnu::target("ssse3")]] inline __m128i Buckets16(const unsigned char* q, __m128i low,
                                                  __m128i high) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(c, nibble)),
                         _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(c, 4), nibble)));
}

template <int W>
[[gnu::target("ssse3")]] const unsigned char* ScanSsse3(const unsigned char* p,
                                                        const unsigned char* end,
                                                        const LiteralSetScan& scan) {
    __m128i low[W];
    __m128i high[W];
    for (int j = 0; j < W; ++j) {
        low[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.low[j].data()));
        high[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.high[j].data()));
    }
    const __m128i zero = _mm_setzero_si128();
    // Places p .. p + 15 read up to p + 15 + W - 1, before end.
    while (end - p >= 15 + W) {
        __m128i allowed = Buckets16(p, low[0], high[0]);
        if constexpr (W > 1) {
            allowed = _mm_and_si128(allowed, Buckets16(p + 1, low[1], high[1]));
        }
        if constexpr (W > 2) {
            allowed = _mm_and_si128(allowed, Buckets16(p + 2, low[2], high[2]));
        }
        auto marked =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(allowed, zero))) & 0xFFFFu;
        if (marked != 0) {
            alignas(16) uint8_t bucketsAt[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(bucketsAt), allowed);
            do {
                const int i = __builtin_ctz(marked);
                if (LiteralOfBucketsAt(scan, bucketsAt[i], p + i, end)) {
                    return p + i;
                }
                marked &= marked - 1;
            } while (marked != 0);
        }
        p += 16;
    }
    return ScanLiteralSetBytes(p, end, scan);
}

// The same for thirty-two bytes (AVX2); the tables repeat in both lanes,
// since the byte shuffle stays within each.
[[gnu::target("avx2")]] inline __m256i Buckets32(const unsigned char* q, __m256i low,
                                                 __m256i high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    return _mm256_and_si256(
        _mm256_shuffle_epi8(low, _mm256_and_si256(c, nibble)),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(c, 4), nibble)));
}

template <int W>
[[gnu::target("avx2")]] const unsigned char* ScanAvx2(const unsigned char* p,
                                                      const unsigned char* end,
                                                      const LiteralSetScan& scan) {
    __m256i low[W];
    __m256i high[W];
    for (int j = 0; j < W; ++j) {
        low[j] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.low[j].data())));
        high[j] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.high[j].data())));
    }
    const __m256i zero = _mm256_setzero_si256();
    // Places p .. p + 31 read up to p + 31 + W - 1, before end.
    while (end - p >= 31 + W) {
        __m256i allowed = Buckets32(p, low[0], high[0]);
        if constexpr (W > 1) {
            allowed = _mm256_and_si256(allowed, Buckets32(p + 1, low[1], high[1]));
        }
        if constexpr (W > 2) {
            allowed = _mm256_and_si256(allowed, Buckets32(p + 2, low[2], high[2]));
        }
        auto marked =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(allowed, zero)));
        if (marked != 0) {
            alignas(32) uint8_t bucketsAt[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(bucketsAt), allowed);
            do {
                const int i = __builtin_ctz(marked);
                if (LiteralOfBucketsAt(scan, bucketsAt[i], p + i, end)) {
                    return p + i;
                }
                marked &= marked - 1;
            } while (marked != 0);
        }
        p += 32;
    }
    return ScanSsse3<W>(p, end, scan);  // every AVX2 processor has SSSE3
}

// Candidates of a FoldedLiteral's two tested places among the 32 places
// from q.
[[gnu::target("avx2")]] inline uint32_t PairCandidates32(const unsigned char* q, size_t a,
                                                         __m256i wantA, __m256i bitA, size_t b,
                                                         __m256i wantB, __m256i bitB) {
    const __m256i atA = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + a));
    const __m256i atB = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + b));
    return static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(atA, bitA), wantA),
                         _mm256_cmpeq_epi8(_mm256_or_si256(atB, bitB), wantB))));
}

// The places among the 32 from q that hold a or b.
[[gnu::target("avx2")]] inline uint32_t EitherMarks32(const unsigned char* q, __m256i a,
                                                      __m256i b) {
    const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    return static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_or_si256(_mm256_cmpeq_epi8(chunk, a), _mm256_cmpeq_epi8(chunk, b))));
}
#endif

}  // namespace

bool Avx2Available() {
#if defined(QUARRY_LITERAL_SET_X86)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

#if defined(QUARRY_LITERAL_SET_X86)
[[gnu::target("avx2")]] const unsigned char* ScanEitherAvx2(const unsigned char*& s,
                                                            const unsigned char* end,
                                                            unsigned char a, unsigned char b) {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i vb = _mm256_set1_epi8(static_cast<char>(b));
    for (; end - s >= 64; s += 64) {
        const uint64_t mask =
            EitherMarks32(s, va, vb) | (uint64_t{EitherMarks32(s + 32, va, vb)} << 32);
        if (mask != 0) {
            return s + __builtin_ctzll(mask);
        }
    }
    return nullptr;
}

[[gnu::target("avx2")]] const unsigned char* ScanLiteralPairAvx2(const unsigned char*& p,
                                                                 const unsigned char* last,
                                                                 const FoldedLiteral& literal) {
    const size_t n = literal.small.size();
    const auto* small = reinterpret_cast<const unsigned char*>(literal.small.data());
    const auto* bits = reinterpret_cast<const unsigned char*>(literal.bits.data());
    const size_t a = literal.a;
    const size_t b = literal.b;
    const __m256i wantA = _mm256_set1_epi8(static_cast<char>(small[a]));
    const __m256i bitA = _mm256_set1_epi8(static_cast<char>(bits[a]));
    const __m256i wantB = _mm256_set1_epi8(static_cast<char>(small[b]));
    const __m256i bitB = _mm256_set1_epi8(static_cast<char>(bits[b]));
    // The places p .. p + 63 read up to p + 63 + n - 1, before the text's end.
    for (; last - p >= 63; p += 64) {
        uint64_t mask = PairCandidates32(p, a, wantA, bitA, b, wantB, bitB) |
                        (uint64_t{PairCandidates32(p + 32, a, wantA, bitA, b, wantB, bitB)} << 32);
        for (; mask != 0; mask &= mask - 1) {
            const unsigned char* at = p + __builtin_ctzll(mask);
            size_t i = 0;
            while (i < n && static_cast<unsigned char>(at[i] | bits[i]) == small[i]) {
                ++i;
            }
            if (i == n) {
                return at;
            }
        }
    }
    return nullptr;
}
#else
const unsigned char* ScanEitherAvx2(const unsigned char*&, const unsigned char*, unsigned char,
                                    unsigned char) {
    return nullptr;
}

const unsigned char* ScanLiteralPairAvx2(const unsigned char*&, const unsigned char*,
                                         const FoldedLiteral&) {
    return nullptr;
}
#endif

SetLiteral MakeSetLiteral(const std::string& literal, bool fold) {
    SetLiteral l;
    for (size_t i = 0; i < literal.size() && i < kMaxSetLiteralLength; ++i) {
        const auto c = static_cast<unsigned char>(literal[i]);
        const bool letter = fold && static_cast<unsigned char>((c | 0x20) - 'a') < 26;
        l.bytes.push_back(static_cast<char>(letter ? c | 0x20 : c));
        l.caseBits.push_back(static_cast<char>(letter ? 0x20 : 0));
    }
    return l;
}

LiteralSetScan BuildLiteralSetScan(const std::vector<SetLiteral>& literals) {
    LiteralSetScan scan;
    if (literals.empty() || literals.size() > kMaxLiteralSet) {
        return scan;
    }
    int longest = 0;
    for (const SetLiteral& l : literals) {
        if (l.bytes.empty() || l.bytes.size() != l.caseBits.size()) {
            return scan;  // a literal without a byte would stand everywhere
        }
        longest = std::max(longest,
                           static_cast<int>(std::min<size_t>(l.bytes.size(), kLiteralSetPlaces)));
    }
    // A bucket as the tables see it: per place, the low and high nibbles it
    // allows (all of them past a short literal's end).
    struct Nibbles {
        std::array<uint16_t, kLiteralSetPlaces> low{}, high{};
        // How many byte strings of `width` places the bucket allows.
        uint64_t Allowed(int width) const {
            uint64_t count = 1;
            for (size_t j = 0; j < static_cast<size_t>(width); ++j) {
                count *=
                    static_cast<uint64_t>(__builtin_popcount(low[j]) * __builtin_popcount(high[j]));
            }
            return count;
        }
        Nibbles Merged(const Nibbles& other) const {
            Nibbles m = *this;
            for (size_t j = 0; j < kLiteralSetPlaces; ++j) {
                m.low[j] |= other.low[j];
                m.high[j] |= other.high[j];
            }
            return m;
        }
    };
    // Each literal's group.
    std::vector<Nibbles> groups;
    std::vector<size_t> owner;
    for (const SetLiteral& l : literals) {
        Nibbles g;
        for (size_t j = 0; j < static_cast<size_t>(longest); ++j) {
            if (j >= l.bytes.size()) {
                g.low[j] = g.high[j] = 0xFFFF;
                continue;
            }
            const auto c = static_cast<unsigned char>(l.bytes[j]);
            const auto other = static_cast<unsigned char>(c & ~l.caseBits[j]);
            g.low[j] = static_cast<uint16_t>((1u << (c & 15)) | (1u << (other & 15)));
            g.high[j] = static_cast<uint16_t>((1u << (c >> 4)) | (1u << (other >> 4)));
        }
        owner.push_back(groups.size());
        groups.push_back(g);
    }
    // A bucket allows every combination of its literals' nibbles: the two
    // groups whose merger adds the fewest foreign byte strings merge, until
    // eight are left (literals with the same first bytes, short literals
    // with each other).
    while (groups.size() > 8) {
        size_t bestA = 0;
        size_t bestB = 1;
        uint64_t bestAdded = UINT64_MAX;
        for (size_t a = 0; a < groups.size(); ++a) {
            const uint64_t ownA = groups[a].Allowed(longest);
            for (size_t b = a + 1; b < groups.size(); ++b) {
                const uint64_t merged = groups[a].Merged(groups[b]).Allowed(longest);
                const uint64_t added = merged - std::min(merged, ownA + groups[b].Allowed(longest));
                if (added < bestAdded) {
                    bestAdded = added;
                    bestA = a;
                    bestB = b;
                }
            }
        }
        groups[bestA] = groups[bestA].Merged(groups[bestB]);
        groups.erase(groups.begin() + static_cast<ptrdiff_t>(bestB));
        for (size_t& o : owner) {
            o = o == bestB ? bestA : o > bestB ? o - 1 : o;
        }
    }
    scan.width = longest;
    scan.literals.reserve(literals.size());
    for (size_t k = 0; k < groups.size(); ++k) {
        scan.first[k] = static_cast<uint8_t>(scan.literals.size());
        for (size_t i = 0; i < literals.size(); ++i) {
            if (owner[i] == k) {
                scan.literals.push_back(literals[i]);
            }
        }
    }
    for (size_t k = groups.size(); k < scan.first.size(); ++k) {
        scan.first[k] = static_cast<uint8_t>(scan.literals.size());
    }
    for (size_t k = 0; k < groups.size(); ++k) {
        const auto bit = static_cast<uint8_t>(1u << k);
        for (size_t j = 0; j < static_cast<size_t>(longest); ++j) {
            for (size_t x = 0; x < 16; ++x) {
                if ((groups[k].low[j] >> x) & 1) {
                    scan.low[j][x] |= bit;
                }
                if ((groups[k].high[j] >> x) & 1) {
                    scan.high[j][x] |= bit;
                }
            }
        }
    }
    return scan;
}

bool LiteralSetKernelAvailable(LiteralSetKernel kernel) {
    switch (kernel) {
        case LiteralSetKernel::kPortable:
            return true;
#if defined(QUARRY_LITERAL_SET_X86)
        case LiteralSetKernel::kSsse3:
            return __builtin_cpu_supports("ssse3");
        case LiteralSetKernel::kAvx2:
            return __builtin_cpu_supports("avx2");
#endif
        default:
            return false;
    }
}

const unsigned char* FindLiteralSetWith(LiteralSetKernel kernel, const unsigned char* s,
                                        const unsigned char* end, const LiteralSetScan& scan) {
    if (scan.width == 0 || s >= end) {
        return end;
    }
#if defined(QUARRY_LITERAL_SET_X86)
    if (kernel == LiteralSetKernel::kAvx2) {
        switch (scan.width) {
            case 1:
                return ScanAvx2<1>(s, end, scan);
            case 2:
                return ScanAvx2<2>(s, end, scan);
            default:
                return ScanAvx2<3>(s, end, scan);
        }
    }
    if (kernel == LiteralSetKernel::kSsse3) {
        switch (scan.width) {
            case 1:
                return ScanSsse3<1>(s, end, scan);
            case 2:
                return ScanSsse3<2>(s, end, scan);
            default:
                return ScanSsse3<3>(s, end, scan);
        }
    }
#endif
    (void)kernel;
    return ScanLiteralSetBytes(s, end, scan);
}

const unsigned char* FindLiteralSet(const unsigned char* s, const unsigned char* end,
                                    const LiteralSetScan& scan) {
    static const LiteralSetKernel kernel =
        LiteralSetKernelAvailable(LiteralSetKernel::kAvx2)    ? LiteralSetKernel::kAvx2
        : LiteralSetKernelAvailable(LiteralSetKernel::kSsse3) ? LiteralSetKernel::kSsse3
                                                              : LiteralSetKernel::kPortable;
    return FindLiteralSetWith(kernel, s, end, scan);
}

}  // namespace quarry::detail
