// The start-position scans against plain loops, over texts long enough for
// the sixteen-byte blocks and every start and end alignment.
#include "engine/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quarry::detail {
namespace {

const unsigned char* U(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Bytes next to the letters' case bit: '@' and '`', '[' and '{', '^' and
// '~' differ from letters' neighbours only in bit 5 and must not be folded.
constexpr char kAlphabet[] = "aAbBzZ@`[{^~ \n\xC1\xE1";

std::string RandomText(std::mt19937& rng, size_t length, std::string_view alphabet = kAlphabet) {
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += alphabet[pick(rng)];
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

// A line end far on is left to the scan that takes 64 bytes at a time, with
// the rest after its last block left to the narrower loops: a break in a
// block, at its edges, in the rest or nowhere is found at its first place.
TEST(ByteScan, LineEndScanFindsABreakFarOn) {
    std::mt19937 rng(15);
    for (int round = 0; round < 3000; ++round) {
        std::string text = RandomText(rng, 60 + rng() % 400, "ab\x0b\x0c");
        for (int k = static_cast<int>(rng() % 3); k > 0; --k) {
            text[rng() % text.size()] = rng() % 2 == 0 ? '\r' : '\n';
        }
        const size_t from = rng() % 8;
        const size_t want = std::min(text.find_first_of("\r\n", from), text.size());
        EXPECT_EQ(Offset(FindEither(U(text) + from, U(text) + text.size(), '\r', '\n'), text), want)
            << text.size() << " bytes, from " << from;
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
        EXPECT_EQ(Offset(FindLiteral(s, end, ExactLiteral(literal)), text), first(true))
            << literal << " in " << text;
        EXPECT_EQ(Offset(FindLiteralNoCase(s, end, FoldLiteral(literal)), text), first(false))
            << literal << " in " << text;
    }
}

// Where the literal's rarest byte stands every few bytes without the literal,
// the scan with case gives up stopping at it and tests two bytes at a time
// from there on: the first place must come out the same wherever it lies,
// before, at or after the change.
TEST(ByteScan, LiteralScanWithCaseChangesMethodWithoutMissingAPlace) {
    std::mt19937 rng(13);
    for (int round = 0; round < 300; ++round) {
        const std::string literal = round % 2 == 0 ? "xyz" : "qxq";
        std::string text = RandomText(rng, 200 + rng() % 2000, "xyqa");
        const size_t at = rng() % (text.size() + 1);
        if (round % 3 != 0) {
            text.insert(at, literal);
        }
        const size_t expected = std::min(text.find(literal), text.size());
        const size_t from = rng() % 8;
        const auto* s = U(text) + from;
        const size_t want =
            expected < from ? std::min(text.find(literal, from), text.size()) : expected;
        EXPECT_EQ(Offset(FindLiteral(s, U(text) + text.size(), ExactLiteral(literal)), text), want)
            << literal << " at " << at;
    }
}

// Former cost: the switch from the rarest byte to two bytes at a time was
// learned again by each search of a listing (a memchr stop at every «x» of
// source code before each «0x»). FindLiteral tells its caller once the byte
// turns out common, and a caller passing that back finds the same places.
TEST(ByteScan, LiteralScanTellsItsCallerWhenTheRareByteIsCommon) {
    const FoldedLiteral hex = ExactLiteral("0x");
    // Twenty stops of the memchr stage before each place.
    const std::string stops(20, hex.small[hex.a]);
    std::string code;
    for (int i = 0; i < 300; ++i) {
        code += stops + " = 0x" + std::to_string(i % 10) + ";\n";
    }
    const auto* end = U(code) + code.size();
    bool common = false;
    size_t found = 0;
    for (const unsigned char* p = U(code);; ++found) {
        const unsigned char* at = FindLiteral(p, end, hex, &common);
        EXPECT_EQ(Offset(at, code), std::min(code.find("0x", Offset(p, code)), code.size()));
        if (at == end) {
            break;
        }
        EXPECT_TRUE(common) << "after " << found << " places";
        p = at + 2;
    }
    EXPECT_EQ(found, 300u);

    const std::string prose = "a 0x1 b\n" + std::string(2000, 'a') + " 0x2\n";  // no stops
    bool rare = false;
    EXPECT_EQ(Offset(FindLiteral(U(prose) + 5, U(prose) + prose.size(), hex, &rare), prose),
              prose.find("0x2"));
    EXPECT_FALSE(rare);
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

// The literal-set scan's texts: letters with both cases, and bytes that
// share a letter's low nibble ('!', '1', 'q') or high nibble ('b'), which
// the nibble tables tell apart only in combination.
constexpr char kSetAlphabet[] = "aAbBqQ!1 \xE1\xC1";

// A copy of the text in a buffer of exactly its size, so that a read past
// its end is caught by AddressSanitizer.
std::unique_ptr<unsigned char[]> ExactCopy(const std::string& text) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    return copy;
}

std::vector<LiteralSetKernel> AvailableKernels() {
    std::vector<LiteralSetKernel> kernels;
    for (auto k :
         {LiteralSetKernel::kPortable, LiteralSetKernel::kSsse3, LiteralSetKernel::kAvx2}) {
        if (LiteralSetKernelAvailable(k)) {
            kernels.push_back(k);
        }
    }
    return kernels;
}

// Whether the literal stands at `at` (its whole length before the end).
bool LiteralAt(const std::string& text, size_t at, const std::string& literal, bool fold) {
    if (at + literal.size() > text.size()) {
        return false;
    }
    for (size_t i = 0; i < literal.size(); ++i) {
        const auto x = static_cast<unsigned char>(text[at + i]);
        const auto y = static_cast<unsigned char>(literal[i]);
        if (fold ? !EqualNoCase(x, y) : x != y) {
            return false;
        }
    }
    return true;
}

// Each vector kernel tests the first bytes of sixteen or thirty-two places
// a block, compares the literals of the buckets that fire and hands the
// rest to the byte-wise scan. Over texts shorter than a block and texts
// ending inside one, literals planted at the very start and end, every start
// and 1 to 64 literals of 1 to 20 bytes (with and without case, one, two or
// three bytes tested), all must find the first place a plain comparison of
// every literal finds, and never read past the end.
TEST(ByteScan, LiteralSetScanFindsTheFirstPlaceOfAnyLiteral) {
    std::mt19937 rng(14);
    const std::vector<LiteralSetKernel> kernels = AvailableKernels();
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::string> literals(1 + rng() % (round % 4 == 0 ? 64 : 9));
        std::vector<bool> folds;
        std::vector<SetLiteral> set;
        const size_t longest = round % 5 == 0 ? 1 : round % 7 == 0 ? 20 : 4;
        for (std::string& l : literals) {
            l = RandomText(rng, 1 + rng() % longest, kSetAlphabet);
            folds.push_back(rng() % 2 == 0);
            set.push_back(MakeSetLiteral(l, folds.back()));
        }
        const LiteralSetScan scan = BuildLiteralSetScan(set);
        ASSERT_GE(scan.width, 1);
        std::string text = RandomText(rng, rng() % 100, kSetAlphabet);
        const std::string& planted = literals[rng() % literals.size()];
        if (planted.size() <= text.size() && rng() % 3 == 0) {
            text.replace(rng() % 2 == 0 ? 0 : text.size() - planted.size(), planted.size(),
                         planted);
        }
        const auto copy = ExactCopy(text);
        const size_t from = rng() % (text.size() + 1);
        size_t want = from;
        for (bool found = false; want < text.size() && !found; want += found ? 0 : 1) {
            for (size_t i = 0; i < literals.size() && !found; ++i) {
                found =
                    LiteralAt(text, want, literals[i].substr(0, kMaxSetLiteralLength), folds[i]);
            }
        }
        for (LiteralSetKernel k : kernels) {
            const unsigned char* found =
                FindLiteralSetWith(k, copy.get() + from, copy.get() + text.size(), scan);
            EXPECT_EQ(static_cast<size_t>(found - copy.get()), want)
                << "kernel " << static_cast<int>(k) << ", " << literals.size()
                << " literals, the first " << literals[0] << ", in " << text;
        }
    }
}

// Literals that share their first bytes share a bucket, so that a bucket
// fires on few foreign places. Fault guarded: the buckets took the sorted
// literals in equal shares, and «if» (any third byte) beside «return» made
// every «re» and «be» a place to compare; the results stay right, so only
// the tables show it.
TEST(ByteScan, LiteralSetBucketsGroupLiteralsWithTheSameFirstBytes) {
    std::vector<SetLiteral> set;
    for (const char* l : {"if", "else", "while", "for", "return", "static", "const", "struct",
                          "int", "char", "void", "case", "break", "switch", "default", "sizeof"}) {
        set.push_back(MakeSetLiteral(l, false));
    }
    const LiteralSetScan scan = BuildLiteralSetScan(set);
    ASSERT_EQ(scan.width, 3);
    auto bucketsOf = [&](const char* three) {
        unsigned allowed = 0xFF;
        for (size_t j = 0; j < 3; ++j) {
            allowed &= scan.Buckets(j, static_cast<unsigned char>(three[j]));
        }
        return allowed;
    };
    EXPECT_NE(bucketsOf("sta") & bucketsOf("str"), 0u) << "static and struct";
    EXPECT_EQ(bucketsOf("ret") & bucketsOf("if("), 0u) << "return beside if";
    EXPECT_EQ(bucketsOf("re ") | bucketsOf("be ") | bucketsOf("in ") | bucketsOf("the"), 0u);
}

// Where AVX2 runs, the scan takes 64 places at a time and leaves fewer than
// 64 to the narrower loops: a literal in a block, across two, or in the rest
// is found at its first place, and a miss leaves p where the rest begins.
TEST(ByteScan, WideLiteralScanFindsTheFirstPlaceAndLeavesTheRest) {
    if (!Avx2Available()) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
    std::mt19937 rng(14);
    for (int round = 0; round < 3000; ++round) {
        const std::string literal = RandomText(rng, 1 + rng() % 5, "abAB@");
        std::string text = RandomText(rng, 60 + rng() % 300, "abAB@`");
        const FoldedLiteral folded = FoldLiteral(literal);
        auto fitsAt = [&](size_t at) {
            for (size_t i = 0; i < literal.size(); ++i) {
                if (!EqualNoCase(static_cast<unsigned char>(text[at + i]),
                                 static_cast<unsigned char>(literal[i]))) {
                    return false;
                }
            }
            return true;
        };
        size_t want = text.size();
        for (size_t at = 0; at + literal.size() <= text.size(); ++at) {
            if (fitsAt(at)) {
                want = at;
                break;
            }
        }
        const auto* s = U(text);
        const auto* end = s + text.size();
        EXPECT_EQ(Offset(FindLiteralNoCase(s, end, folded), text), want)
            << literal << " in " << text;
        if (text.size() < literal.size()) {
            continue;
        }
        const unsigned char* p = s;
        const unsigned char* last = end - literal.size();
        if (const unsigned char* at = ScanLiteralPairAvx2(p, last, folded)) {
            EXPECT_EQ(Offset(at, text), want) << literal << " in " << text;
        } else {
            EXPECT_LT(last - p, 63);
            EXPECT_LE(Offset(p, text), want) << literal << " in " << text;
        }
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
