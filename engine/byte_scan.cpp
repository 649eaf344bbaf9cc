#include "engine/byte_scan.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARRY_LITERAL_SET_X86 1
#endif

namespace quarry::detail {
namespace {

void AddByte(std::array<uint8_t, 32>& set, unsigned char c) {
    set[c >> 3] |= static_cast<uint8_t>(1u << (c & 7));
}

// The portable scan, and the tail of the vector ones: from p, places with
// all tested bytes before end, then the last places, where only the bytes
// before end are tested.
const unsigned char* ScanLiteralSetBytes(const unsigned char* p, const unsigned char* end,
                                         const LiteralSetScan& scan) {
    const auto& t = scan.buckets;
    const auto w = static_cast<ptrdiff_t>(scan.width);
    switch (scan.width) {
        case 1:
            for (; end - p >= 1; ++p) {
                if (t[0][p[0]] != 0) {
                    return p;
                }
            }
            break;
        case 2:
            for (; end - p >= 2; ++p) {
                if ((t[0][p[0]] & t[1][p[1]]) != 0) {
                    return p;
                }
            }
            break;
        default:
            for (; end - p >= 3; ++p) {
                if ((t[0][p[0]] & t[1][p[1]] & t[2][p[2]]) != 0) {
                    return p;
                }
            }
            break;
    }
    for (; end - p >= scan.shortest && end - p < w; ++p) {
        uint8_t allowed = 0xFF;
        for (ptrdiff_t j = 0; j < end - p; ++j) {
            allowed &= t[static_cast<size_t>(j)][p[j]];
        }
        if (allowed != 0) {
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
        const auto none = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(allowed, zero)));
        if (none != 0xFFFF) {
            return p + __builtin_ctz(~none);
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
        const auto none =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(allowed, zero)));
        if (none != 0xFFFFFFFFu) {
            return p + __builtin_ctz(~none);
        }
        p += 32;
    }
    return ScanSsse3<W>(p, end, scan);  // every AVX2 processor has SSSE3
}
#endif

}  // namespace

LiteralPlaces PlacesOf(const std::string& literal, bool fold) {
    LiteralPlaces places;
    places.length = static_cast<int>(std::min<size_t>(literal.size(), kLiteralSetPlaces));
    for (size_t j = 0; j < static_cast<size_t>(places.length); ++j) {
        const auto c = static_cast<unsigned char>(literal[j]);
        AddByte(places.sets[j], c);
        if (fold && static_cast<unsigned char>((c | 0x20) - 'a') < 26) {
            AddByte(places.sets[j], static_cast<unsigned char>(c ^ 0x20));
        }
    }
    return places;
}

LiteralSetScan BuildLiteralSetScan(const std::vector<LiteralPlaces>& literals) {
    LiteralSetScan scan;
    if (literals.empty() || literals.size() > kMaxLiteralSet) {
        return scan;
    }
    int longest = 0;
    int shortest = kLiteralSetPlaces;
    for (const LiteralPlaces& l : literals) {
        if (l.length < 1) {
            return scan;  // a literal without a byte would allow every place
        }
        longest = std::max(longest, l.length);
        shortest = std::min(shortest, l.length);
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
    std::vector<Nibbles> groups;
    for (const LiteralPlaces& l : literals) {
        Nibbles g;
        for (size_t j = 0; j < static_cast<size_t>(longest); ++j) {
            for (int c = 0; c < 256; ++c) {
                if (static_cast<int>(j) >= l.length || ((l.sets[j][c >> 3] >> (c & 7)) & 1)) {
                    g.low[j] |= static_cast<uint16_t>(1u << (c & 15));
                    g.high[j] |= static_cast<uint16_t>(1u << (c >> 4));
                }
            }
        }
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
    }
    scan.width = longest;
    scan.shortest = shortest;
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
    for (size_t j = 0; j < static_cast<size_t>(longest); ++j) {
        for (int c = 0; c < 256; ++c) {
            scan.buckets[j][static_cast<size_t>(c)] =
                scan.low[j][c & 15] & scan.high[j][static_cast<size_t>(c >> 4)];
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
