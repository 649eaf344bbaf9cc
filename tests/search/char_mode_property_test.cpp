// Character mode through the loops every front end calls: over random UTF-8,
// valid and not, no matching, group or listing ever splits a character, and a
// Replace All writes only whole characters.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/expression.h"
#include "search/text_buffer.h"

namespace quarry {
namespace {

// Where each character of text begins: a valid UTF-8 sequence is one
// character, any other byte one of its own.
std::vector<bool> CharacterStarts(const std::string& text) {
    std::vector<bool> starts(text.size() + 1, false);
    size_t i = 0;
    while (i < text.size()) {
        starts[i] = true;
        const auto c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80                 ? 1
                   : c >= 0xC2 && c <= 0xDF ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 1;
        bool valid = i + n <= text.size();
        for (size_t k = 1; valid && k < n; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (valid && n >= 3) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0) &&
                    !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
        }
        i += valid ? n : 1;
    }
    starts[text.size()] = true;
    return starts;
}

bool IsValidUtf8(const std::string& text) {
    const std::vector<bool> starts = CharacterStarts(text);
    for (size_t i = 0; i < text.size(); ++i) {
        if (starts[i] && static_cast<unsigned char>(text[i]) >= 0x80) {
            size_t end = i + 1;
            while (end < text.size() && !starts[end]) {
                ++end;
            }
            if (end == i + 1) {
                return false;  // a byte that begins no valid character
            }
        }
    }
    return true;
}

const char* kPieces[] = {"a", "b", "é",  "Ä",    "ä", "€",    "𝄞",    "Σ",    "σ",
                         "ς", " ", "\n", "\r\n", "1", "\xFF", "\xC3", "\x80", "\xE2\x82"};

std::string RandomText(std::mt19937& random, bool valid) {
    std::string text;
    const int n = static_cast<int>(random() % 24);
    for (int i = 0; i < n; ++i) {
        const size_t count = valid ? std::size(kPieces) - 4 : std::size(kPieces);
        text += kPieces[random() % count];
    }
    return text;
}

TEST(CharacterMode, MatchingsAndGroupsBeginAndEndAtCharacters) {
    const char* patterns[] = {".",    "..",    "[^a]",  "[à-ÿ]+", "\\W",   "\\w+",  "(.)(.)?",
                              ".@a",  "[äöü]", "\\S+",  "σ+",     "(ä|.)", ".$",    "<.",
                              "\\L+", "\\U",   "[^€]+", "é?.",    ".*",    "\\x80", "\\D"};
    std::mt19937 random(2026);
    int checked = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool valid = round % 3 != 0;
        const std::string text = RandomText(random, valid);
        const char* pattern = patterns[random() % std::size(patterns)];
        const bool lineMode = random() % 2 == 0;
        const std::vector<bool> starts = CharacterStarts(text);
        CExpression expression(pattern, nullptr, TextMode::kUtf8);
        ASSERT_NE(expression.m_nState, CExpression::kInvalid) << pattern;
        const auto length = static_cast<int32_t>(text.size());
        for (int32_t from = 0; from <= length;
             from = expression.GroupEnd(0) > from ? expression.GroupEnd(0) : from + 1) {
            while (from < length && !starts[size_t(from)]) {
                ++from;
            }
            if (expression.Search(text.c_str(), length, text.c_str() + from, false, -1, lineMode) !=
                SearchOutcome::kFound) {
                break;
            }
            for (int g = 0; g < 64; ++g) {
                for (const int32_t at : {expression.GroupStart(g), expression.GroupEnd(g)}) {
                    if (at >= 0) {
                        ASSERT_TRUE(starts[size_t(at)])
                            << "«" << pattern << "» group " << g << " at " << at;
                    }
                }
            }
            ++checked;
        }
        if (valid) {
            TextBuffer in, out;
            ASSERT_TRUE(in.Append(text.data(), length));
            CExpression replace(pattern, nullptr, TextMode::kUtf8);
            const LoopResult r = replace.ReplaceAll(in, out, "[\\0|\\U\\0]", false, -1, lineMode);
            ASSERT_TRUE(r.outcome == SearchOutcome::kFound || r.outcome == SearchOutcome::kNone);
            EXPECT_TRUE(IsValidUtf8(std::string(out.Data(), size_t(out.Length()))))
                << "«" << pattern << "» over valid text";
        }
    }
    EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace quarry
