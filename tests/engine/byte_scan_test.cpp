// The start-position scans against plain loops, over texts long enough for
// the sixteen-byte blocks and every start and end alignment.
#include "engine/byte_scan.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quarry::detail {
namespace {

const unsigned char* U(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Bytes next to the letters' case bit: '@' and '`', '[' and '{', '^' and
// '~' differ from letters' neighbours only in bit 5 and must not be folded.
constexpr char kAlphabet[] = "aAbBzZ@`[{^~ \n\xC1\xE1";

std::string RandomText(std::mt19937& rng, size_t length) {
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += kAlphabet[pick(rng)];
    }
    return text;
}

size_t Offset(const unsigned char* found, const std::string& text) {
    return static_cast<size_t>(found - U(text));
}

bool EqualNoCase(unsigned char x, unsigned char y) {
    auto up = [](unsigned char c) {
        return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
    };
    return up(x) == up(y);
}

TEST(ByteScan, ByteSetScansFindTheFirstAdmittedByte) {
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        const std::string text = RandomText(rng, rng() % 70);
        const size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
        const auto* s = U(text) + from;
        const auto* end = U(text) + text.size();
        const std::string values = RandomText(rng, 6);
        const auto* v = U(values);
        auto first = [&](auto admits) {
            size_t i = from;
            while (i < text.size() && !admits(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            return i;
        };
        EXPECT_EQ(Offset(FindEither(s, end, v[0], v[1]), text),
                  first([&](unsigned char c) { return c == v[0] || c == v[1]; }));
        for (int n = 3; n <= 6; ++n) {
            EXPECT_EQ(Offset(FindAnyOf(s, end, v, n), text), first([&](unsigned char c) {
                          for (int k = 0; k < n; ++k) {
                              if (c == v[k]) {
                                  return true;
                              }
                          }
                          return false;
                      }))
                << n;
        }
        const unsigned char lo = std::min(v[0], v[1]);
        const unsigned char hi = std::max(v[0], v[1]);
        EXPECT_EQ(Offset(FindInRange(s, end, lo, hi), text),
                  first([&](unsigned char c) { return c >= lo && c <= hi; }));
        std::array<unsigned char, 2> pairs[8];
        for (auto& pair : pairs) {
            pair = {v[rng() % 6], v[rng() % 6]};
        }
        for (int m = 1; m <= 8; ++m) {
            size_t want = from;
            for (; want < text.size(); ++want) {
                bool fits = false;
                for (int k = 0; k < m; ++k) {
                    fits = fits || (U(text)[want] == pairs[k][0] &&
                                    (want + 1 == text.size() || U(text)[want + 1] == pairs[k][1]));
                }
                if (fits) {
                    break;
                }
            }
            EXPECT_EQ(Offset(FindBytePair(s, end, pairs, m), text), want) << m;
        }
        unsigned char table[256] = {};
        table[v[2]] = table[v[3]] = 1;
        EXPECT_EQ(Offset(FindInTable(s, end, table), text),
                  first([&](unsigned char c) { return table[c] != 0; }));
    }
}

TEST(ByteScan, LiteralScansFindTheFirstPlaceWithAndWithoutCase) {
    std::mt19937 rng(12);
    for (int round = 0; round < 3000; ++round) {
        // Short literals over a small alphabet, so that most texts hold them.
        const std::string literal = RandomText(rng, 1 + rng() % 4);
        const std::string text = RandomText(rng, rng() % 90);
        const size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
        const auto* s = U(text) + from;
        const auto* end = U(text) + text.size();
        auto first = [&](bool withCase) {
            for (size_t at = from; at + literal.size() <= text.size(); ++at) {
                bool fits = true;
                for (size_t i = 0; i < literal.size() && fits; ++i) {
                    const auto x = static_cast<unsigned char>(text[at + i]);
                    const auto y = static_cast<unsigned char>(literal[i]);
                    fits = withCase ? x == y : EqualNoCase(x, y);
                }
                if (fits) {
                    return at;
                }
            }
            return text.size();
        };
        EXPECT_EQ(Offset(FindLiteral(s, end, literal, RarestByte(literal)), text), first(true))
            << literal << " in " << text;
        EXPECT_EQ(Offset(FindLiteralNoCase(s, end, FoldLiteral(literal)), text), first(false))
            << literal << " in " << text;
    }
}

// The scan over per-place byte sets tests two places sixteen starts at a
// time (by one bit test, or by comparing up to four bytes) and the rest one
// by one: every start alignment, both tested places anywhere in the literal
// (also the same one) and texts that end inside the last block must give the
// first place where every byte fits its set.
TEST(ByteScan, ByteSetScanFindsTheFirstPlaceWhereEverySetFits) {
    std::mt19937 rng(13);
    for (int round = 0; round < 3000; ++round) {
        ByteSetLiteral literal;
        const size_t n = 1 + rng() % 5;
        for (size_t i = 0; i < n; ++i) {
            std::array<uint8_t, 32> set{};
            const std::string members = RandomText(rng, 1 + rng() % 3);
            for (unsigned char c : members) {
                set[c >> 3] |= static_cast<uint8_t>(1u << (c & 7));
            }
            literal.sets.push_back(set);
        }
        SetTestedPlaces(literal, rng() % n, rng() % n);
        const std::string text = RandomText(rng, rng() % 90);
        const size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
        size_t want = from;
        for (; want + n <= text.size(); ++want) {
            bool fits = true;
            for (size_t i = 0; i < n && fits; ++i) {
                fits = ByteSetHas(literal.sets[i], static_cast<unsigned char>(text[want + i]));
            }
            if (fits) {
                break;
            }
        }
        if (want + n > text.size()) {
            want = text.size();
        }
        EXPECT_EQ(Offset(FindByteSets(U(text) + from, U(text) + text.size(), literal), text), want)
            << text;
    }
}

TEST(ByteScan, NoCaseScanTestsTwoDistinctBytesOfTheLiteral) {
    const FoldedLiteral folded = FoldLiteral("Holmes");
    EXPECT_NE(folded.a, folded.b);
    EXPECT_EQ(folded.small, "holmes");
    EXPECT_EQ(FoldLiteral("a@").small, "a@") << "only letters take the case bit";
    const std::string text = std::string(40, '.') + "HOLMES and hOlMeS";
    EXPECT_EQ(Offset(FindLiteralNoCase(U(text), U(text) + text.size(), folded), text), 40u);
    EXPECT_EQ(Offset(FindLiteralNoCase(U(text) + 41, U(text) + text.size(), folded), text), 51u);
}

}  // namespace
}  // namespace quarry::detail
