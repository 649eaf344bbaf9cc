// Compiler and matcher together: options, expression and text from the input.
// Checks that every result is consistent, that the search driver agrees with
// the matcher, and that listing and replacing stay within their text. Small
// cases are also run through the tests' plain reference matcher (with a walk
// budget, as it has no defence against exponential cases): the matcher's
// start-position shortcuts and line-mode scan must find exactly what it finds.
//
// Input: byte 0 options (bit 0 match case, bit 1 line mode, bits 2-4 the
// search limit choice, bit 5 character mode, bit 6 the failure memo on from
// the first walk in the comparison with the reference, bit 7 blocks of starts
// from the first, and with bit 6 limited attempts that remember from their
// third walk), byte 1 the limit
// value, byte 2 the start position as a fraction of the text, then the
// expression up to a NUL, then the text. In character mode every group boundary must also lie
// at a character start.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "engine/program_info.h"
#include "engine/unicode.h"
#include "reference_matcher.h"
#include "search/expression.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"

namespace {

constexpr size_t kMaxExpression = 200;
constexpr size_t kMaxText = 4096;

void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

// Group table of a matching found in text[0, length) at or after from.
void CheckGroups(const int32_t* groups, int32_t length, int32_t from,
                 const unsigned char* text = nullptr) {
    Check(groups[0] >= from && groups[0] <= groups[64] && groups[64] <= length);
    for (int n = 0; n < 64; ++n) {
        const int32_t start = groups[n];
        const int32_t end = groups[64 + n];
        if (start == -1 && end == -1) {
            continue;
        }
        Check(start >= 0 && start <= length && end >= 0 && end <= length);
        Check(start <= end);
        if (text != nullptr) {
            Check(quarry::unicode::IsCharStart(text + start, text, text + length));
            Check(quarry::unicode::IsCharStart(text + end, text, text + length));
        }
    }
}

// The reference's answer for a whole-text or a line-by-line search; false when
// it ran out of its walk budget.
bool ReferenceFind(const quarry::ExprNode* program, const unsigned char* text, int32_t length,
                   int32_t from, int32_t* groups, int caseSensitive, int32_t limit, bool lineMode,
                   int& result) {
    quarry::test::ReferenceMatcher reference;
    reference.walkBudget = 200000;
    if (!lineMode) {
        result = reference.Exec(program, text, length, text + from, groups, caseSensitive, limit);
        return !reference.exhausted();
    }
    std::fill(groups, groups + quarry::kGroupSlots, -1);
    result = 0;
    const unsigned char* end = text + length;
    const unsigned char* p = text + from;
    if (program->mode == quarry::TextMode::kUtf8) {
        p = quarry::test::ReferenceMatcher::CharStartAtOrAfter(text, length, p);
    }
    auto isBreak = [](unsigned char c) { return c == '\r' || c == '\n'; };
    while (p < end) {
        while (p < end && isBreak(*p)) {
            ++p;
        }
        if (p >= end) {
            break;
        }
        const unsigned char* q = p;
        while (q < end && !isBreak(*q)) {
            ++q;
        }
        result = reference.Exec(program, text, static_cast<int32_t>(q - text), p, groups,
                                caseSensitive, limit);
        if (reference.exhausted()) {
            return false;
        }
        if (result == 1) {
            return true;
        }
        p = q;
    }
    std::fill(groups, groups + quarry::kGroupSlots, -1);
    return true;
}

int32_t Limit(uint8_t choice, uint8_t value) {
    switch (choice & 7) {
        case 0:
        case 1:
            return -1;
        case 2:
            return 0;
        case 3:
            return 1;
        case 4:
            return 1024;
        default:
            return value;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const bool matchCase = data[0] & 1;
    const bool lineMode = data[0] & 2;
    const bool memoFromStart = data[0] & 0x40;
    // Limited attempts that begin without the memo and remember part way,
    // with blocks of starts from the first on.
    const bool memoPartWay = data[0] & 0x80;
    const quarry::TextMode mode =
        (data[0] & 0x20) ? quarry::TextMode::kUtf8 : quarry::TextMode::kBytes;
    const int32_t limit = Limit(static_cast<uint8_t>(data[0] >> 2), data[1]);
    const uint8_t startFraction = data[2];
    data += 3;
    size -= 3;
    const auto* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    const size_t exprLen = nul ? static_cast<size_t>(nul - data) : size;
    if (exprLen > kMaxExpression) {
        return 0;
    }
    const std::string expression(reinterpret_cast<const char*>(data), exprLen);
    const size_t rest = nul ? size - exprLen - 1 : 0;
    const std::string text(reinterpret_cast<const char*>(data + size - rest),
                           rest > kMaxText ? kMaxText : rest);
    const auto length = static_cast<int32_t>(text.size());
    const int32_t from = static_cast<int32_t>(int64_t{length} * startFraction / 255);

    quarry::ExprNode* program = quarry::CompileExpression(expression.c_str(), mode);
    if (program == nullptr) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* charText = mode == quarry::TextMode::kUtf8 ? bytes : nullptr;
    int32_t groups[quarry::kGroupSlots];
    const int r = quarry::ExecExpression(program, bytes, length, bytes + from, groups,
                                         matchCase ? 1 : 0, limit, {}, quarry::CurrentStackFloor());
    Check(r == quarry::kMatchFound || r == quarry::kNoMatch || r == quarry::kStackExhausted);
    if (r == quarry::kMatchFound) {
        CheckGroups(groups, length, from, charText);
    }
    if (length <= 48 && exprLen <= 40) {
        int32_t expected[quarry::kGroupSlots];
        int reference = 0;
        if (ReferenceFind(program, bytes, length, from, expected, matchCase ? 1 : 0, limit,
                          lineMode, reference)) {
            const quarry::ProgramInfo info =
                quarry::AnalyseProgram(program, true, matchCase ? 1 : 0);
            int32_t actual[quarry::kGroupSlots];
            // Short cases rarely walk enough to turn the memo on by themselves.
            quarry::MatchContext& context = quarry::CurrentMatchContext();
            const uint32_t threshold = context.memoThreshold;
            const uint64_t blocks = context.blockThreshold;
            const uint32_t cutShort = context.wideCutShortMost;
            if (memoFromStart) {
                context.memoThreshold = memoPartWay ? 2 : 0;
            }
            if (memoPartWay) {
                context.blockThreshold = 0;
                context.wideCutShortMost = 1;
                context.limitedMemoAlwaysLate = true;
            }
            const int engine =
                quarry::ExecExpression(info, bytes, length, bytes + from, actual, matchCase ? 1 : 0,
                                       limit, lineMode, {}, quarry::CurrentStackFloor());
            context.memoThreshold = threshold;
            context.blockThreshold = blocks;
            context.wideCutShortMost = cutShort;
            context.limitedMemoAlwaysLate = false;
            if (engine != quarry::kStackExhausted) {
                Check(engine == reference);
                if (engine == quarry::kMatchFound) {
                    Check(memcmp(actual, expected, sizeof actual) == 0);
                }
            }
        }
    }
    quarry::FreeExpression(program);

    quarry::CExpression expr(expression.c_str(), nullptr, mode);
    Check(expr.m_nState == quarry::CExpression::kReady);
    const int32_t found =
        expr.Find(text.data(), length, text.data() + from, matchCase, limit, lineMode);
    if (found >= 0) {
        Check(found == expr.GroupStart(0));
        CheckGroups(expr.m_pGroups, length, from, charText);
        if (lineMode) {
            // The input ends at each line's end, so no matching spans a break.
            for (int32_t i = expr.GroupStart(0); i < expr.GroupEnd(0); ++i) {
                Check(text[i] != '\r' && text[i] != '\n');
            }
        }
    }
    if (!lineMode && r != quarry::kStackExhausted) {
        // The driver runs the same matcher over the same bytes.
        Check((r == quarry::kMatchFound) == (found >= 0));
        if (found >= 0) {
            Check(groups[0] == expr.GroupStart(0) && groups[64] == expr.GroupEnd(0));
        }
    }

    quarry::TextBuffer input;
    Check(input.Append(text.data(), length));
    quarry::TextBuffer listed;
    const quarry::LoopResult listing =
        expr.ListMatchings(input, listed, matchCase, limit, lineMode, "\n");
    const int32_t count = listing.count;
    Check(count >= 0 && count <= length + 1);
    Check(listed.Length() <= int64_t{count} * (length + 3));
    if (listing.outcome != quarry::SearchOutcome::kStackExhausted) {
        // The listing's searches share their memo; searches on their own
        // must find the same matchings.
        std::string alone;
        int32_t aloneCount = 0;
        bool complete = true;
        for (int32_t at = 0;;) {
            const quarry::SearchOutcome found =
                expr.Search(text.data(), length, text.data() + at, matchCase, limit, lineMode);
            complete = found != quarry::SearchOutcome::kStackExhausted;
            if (found != quarry::SearchOutcome::kFound) {
                break;
            }
            const int32_t start = expr.GroupStart(0);
            ++aloneCount;
            const int32_t n = expr.GroupEnd(0) - start;
            if (n == 0) {
                break;
            }
            alone.append(text, static_cast<size_t>(start), static_cast<size_t>(n));
            alone += '\n';
            at = start + n;
        }
        if (complete) {
            Check(aloneCount == count);
            Check(alone.size() == static_cast<size_t>(listed.Length()) &&
                  memcmp(alone.data(), listed.Data(), alone.size()) == 0);
        }
    }

    quarry::TextBuffer replaced;
    const quarry::LoopResult replacedResult =
        expr.ReplaceAll(input, replaced, "<\\0|\\1>", matchCase, limit, lineMode);
    const int32_t replacedCount = replacedResult.count;
    Check(replacedCount >= 0 && replacedCount <= length + 1);
    if (replacedResult.outcome == quarry::SearchOutcome::kNone) {
        Check(replaced.Length() == length &&
              memcmp(replaced.Data(), text.data(), text.size()) == 0);
    }
    return 0;
}
