// Matcher tests: tables of {expression, text, start, case option, search
// limit} with the expected result and the whole group table, then the
// callbacks, the run's state and the stack floor.
#include <pthread.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "test_support.h"

namespace quarry {
namespace {

using test::Bytes;
using test::ExpectMatches;
using test::FormatGroups;
using test::GroupTable;
using test::MatchCase;
using test::ParseGroups;
using test::Printable;
using test::Program;

constexpr int kCase = 1;
constexpr int kNoCase = 0;
constexpr int kNoLimit = -1;

// ---------------------------------------------------------------------------
// Repetition
// ---------------------------------------------------------------------------

TEST(Matcher, GreedyAndLazyRepetition) {
    ExpectMatches({
        // An expression that can match the empty string does so where it is
        // tried, even where the operand does not occur.
        {"x*", "abc", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"a*", "", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"a*", "aaa", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"a@", "aaa", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"a+", "aaa", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"a#", "aaa", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"a@b", "aaab", 0, kCase, kNoLimit, 1, "0=0,4"},
        {"a#b", "aaab", 0, kCase, kNoLimit, 1, "0=0,4"},
        {"b+", "aab", 0, kCase, kNoLimit, 1, "0=2,3"},
        {"a+", "aaa", 1, kCase, kNoLimit, 1, "0=1,3"},
        // Greedy loops give back repetitions; lazy ones take more only when
        // the rest fails.
        {"a*a", "aaa", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"a@a", "aaa", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"a#a", "aaa", 0, kCase, kNoLimit, 1, "0=0,2"},
        {".*b", "abab", 0, kCase, kNoLimit, 1, "0=0,4"},
        {".@b", "abab", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"a?a", "a", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"a?b", "b", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"a+b", "aac aab", 0, kCase, kNoLimit, 1, "0=4,7"},
        {R"(\w+)", "  ab1 ", 0, kCase, kNoLimit, 1, "0=2,5"},
        // Operators on groups repeat the whole group.
        {"{ab}+", "ababx", 0, kCase, kNoLimit, 1, "0=0,4"},
        {"{ab}#", "ababx", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"ab*", "abab", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"(ab)*", "abab", 0, kCase, kNoLimit, 1, "0=0,4 1=0,2"},
        {"(a*)(a)", "aaa", 0, kCase, kNoLimit, 1, "0=0,3 1=0,2 2=2,3"},
        {"(a@)(a+)", "aaa", 0, kCase, kNoLimit, 1, "0=0,3 1=0,0 2=0,3"},
    });
}

// ---------------------------------------------------------------------------
// Alternation and the skip over the right alternative
// ---------------------------------------------------------------------------

TEST(Matcher, AlternationTakesOneAtomEachSide) {
    ExpectMatches({
        {"abc|def", "abdef", 0, kCase, kNoLimit, 1, "0=0,5"},
        {"abc|def", "abcef", 0, kCase, kNoLimit, 1, "0=0,5"},
        {"abc|def", "abc", 0, kCase, kNoLimit, 0, ""},
        {"abc|def", "abdxabcef", 0, kCase, kNoLimit, 1, "0=4,9"},
        {"a|bc", "bc", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"a|bc", "ac", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"a|bc", "a", 0, kCase, kNoLimit, 0, ""},
        {"(abc)|(def)", "xdef", 0, kCase, kNoLimit, 1, "0=1,4 2=1,4"},
        {"(a)|(b)", "b", 0, kCase, kNoLimit, 1, "0=0,1 2=0,1"},
        {"(a)|(b)", "a", 0, kCase, kNoLimit, 1, "0=0,1 1=0,1"},
        {"x{ab}|{cd}y", "xcdy", 0, kCase, kNoLimit, 1, "0=0,4"},
        {"x{ab}|{cd}y", "xaby", 0, kCase, kNoLimit, 1, "0=0,4"},
        {"x{ab}|{cd}y", "xabcdy", 0, kCase, kNoLimit, 0, ""},
    });
}

TEST(Matcher, AlternationChains) {
    ExpectMatches({
        {"a|b|c", "xc", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"a|b|c", "xa", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"a|b|cd", "bd", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"(a)|(b)|(c)", "c", 0, kCase, kNoLimit, 1, "0=0,1 3=0,1"},
    });
}

TEST(Matcher, SkipIntoAnOperatorOnTheRightAlternative) {
    ExpectMatches({
        // After «a» the walk goes on inside «b*» at its operand, so it needs
        // one «b»; without it the left alternative fails and «b*» matches
        // nothing.
        {"a|b*", "a", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"a|b*", "ab", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"a|b*", "bb", 0, kCase, kNoLimit, 1, "0=0,2"},
        // For «+» the skip lands on the loop node, which may repeat zero times.
        {"a|b+", "a", 0, kCase, kNoLimit, 1, "0=0,1"},
    });
}

TEST(Matcher, ABarAfterAnOperatorMakesTheNextAtomOptional) {
    // «|» after «@» wraps the loop's end: the lazy loop takes nothing, the
    // skip passes over «{cd}», and the literal after the bar is not needed
    // (a search that looked for «cd» first would find nothing).
    ExpectMatches({
        {"ab@|{cd}", "xab", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"x(ab@|{cd})", "xab", 0, kCase, kNoLimit, 1, "0=0,2 1=1,2"},
    });
}

TEST(Matcher, SkipStartsAfterTheBranchOwnNothing) {
    // In «a||b» the second bar's construct wraps the first bar's NOTHING; the
    // skip after «a» starts behind that NOTHING, so «b» must follow.
    ExpectMatches({
        {"a||b", "ab", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"a||b", "a", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"a||b", "b", 0, kCase, kNoLimit, 1, "0=0,0"},
    });
}

TEST(Matcher, MissingRightAlternative) {
    ExpectMatches({
        // Reaching the skip before a closing bracket fails the whole attempt;
        // at the end of the text «a» cannot match, so the empty right side
        // does.
        {"(a|)", "a", 0, kCase, kNoLimit, 1, "0=1,1 1=1,1"},
        {"(a|)", "b", 0, kCase, kNoLimit, 1, "0=0,0 1=0,0"},
        {"{a|}b", "ab", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"(a|b|)", "b", 0, kCase, kNoLimit, 1, "0=1,1 1=1,1"},
        // A bar at the very end skips onto END's missing successor: that walk
        // fails and backtracking takes the empty right side.
        {"a|", "a", 0, kCase, kNoLimit, 1, "0=0,0"},
    });
}

// ---------------------------------------------------------------------------
// Groups
// ---------------------------------------------------------------------------

TEST(Matcher, GroupsAreWrittenWhileUnwinding) {
    ExpectMatches({
        // A group in a loop reports its first repetition.
        {"(a)*", "aaa", 0, kCase, kNoLimit, 1, "0=0,3 1=0,1"},
        {"(a)@b", "aab", 0, kCase, kNoLimit, 1, "0=0,3 1=0,1"},
        {"(a)#", "aaa", 0, kCase, kNoLimit, 1, "0=0,1 1=0,1"},
        {"x(a|b)+", "xab", 0, kCase, kNoLimit, 1, "0=0,3 1=1,2"},
        {"((a)b)+", "abab", 0, kCase, kNoLimit, 1, "0=0,4 1=0,2 2=0,1"},
        // A repetition that did not pass through the group leaves it to a
        // later one.
        {"{(a)|b}*", "ba", 0, kCase, kNoLimit, 1, "0=0,2 1=1,2"},
        // Groups the matching did not pass through stay unset, also when a
        // failed path went through them first.
        {"(a)?b", "b", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"(a)(b)?", "ac", 0, kCase, kNoLimit, 1, "0=0,1 1=0,1"},
        {"{(a)x}?a", "aa", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"(a*)b", "b", 0, kCase, kNoLimit, 1, "0=0,1 1=0,0"},
        // There are no back-references.
        {R"((a)\1)", "a1", 0, kCase, kNoLimit, 1, "0=0,2 1=0,1"},
    });
}

TEST(Matcher, SixtyThreeGroups) {
    std::string expression;
    std::string expected = "0=0,63";
    for (int g = 1; g <= kMaxGroups; ++g) {
        expression += "(a)";
        expected += ' ';
        expected += std::to_string(g);
        expected += '=';
        expected += std::to_string(g - 1);
        expected += ',';
        expected += std::to_string(g);
    }
    ExpectMatches({{expression, std::string(63, 'a'), 0, kCase, kNoLimit, 1, expected}});
}

// ---------------------------------------------------------------------------
// Search limit
// ---------------------------------------------------------------------------

TEST(Matcher, SearchLimitLowersTheInputEnd) {
    ExpectMatches({
        {"abc$", "abcd", 0, kCase, kNoLimit, 0, ""},
        {"abc$", "abcd", 0, kCase, 3, 1, "0=0,3"},
        {"abc$", "abcd", 0, kCase, 4, 0, ""},
        {"a*", "aaaa", 0, kCase, 2, 1, "0=0,2"},
        {".*", "abcdef", 2, kCase, 3, 1, "0=2,5"},
        {".*", "ab", 0, kCase, 5, 1, "0=0,2"},
        // «$» and «>» hold at the lowered end.
        {"a$", "aab", 0, kCase, 1, 1, "0=0,1"},
        {"a>", "aa", 0, kCase, 1, 1, "0=0,1"},
        {"$", "abc", 0, kCase, 1, 1, "0=3,3"},
        // The end is restored after a failed attempt: at 1 the window is
        // «aa», at 2 it is «ab».
        {"a*b", "aaab", 0, kCase, 2, 1, "0=2,4"},
    });
}

TEST(Matcher, SearchLimitZeroAllowsOnlyEmptyMatchings) {
    ExpectMatches({
        {"a*", "aaaa", 0, kCase, 0, 1, "0=0,0"},
        {"a*", "", 0, kCase, 0, 1, "0=0,0"},
        {"a", "a", 0, kCase, 0, 0, ""},
        {".", "abc", 0, kCase, 0, 0, ""},
        {"$", "abc", 0, kCase, 0, 1, "0=0,0"},
    });
}

// ---------------------------------------------------------------------------
// Anchors
// ---------------------------------------------------------------------------

TEST(Matcher, LineStartHoldsOnlyAtTheTextStart) {
    ExpectMatches({
        {"^abc", "abc", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"^abc", "xabc", 1, kCase, kNoLimit, 0, ""},
        // A program starting with «^» is tried at the start position only.
        {"^a", "ba", 0, kCase, kNoLimit, 0, ""},
        {"^", "abc", 1, kCase, kNoLimit, 0, ""},
        {"^", "", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"^a|b", "b", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"^a|b", "xb", 0, kCase, kNoLimit, 0, ""},
        // Elsewhere in a program «^» still holds only at the text start.
        {"x*^a", "a", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"x*^a", "xa", 0, kCase, kNoLimit, 0, ""},
        {"b|^a", "a", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"b|^a", "ca", 0, kCase, kNoLimit, 0, ""},
        {"(^a)", "ba", 0, kCase, kNoLimit, 0, ""},
        {"a^", "a", 0, kCase, kNoLimit, 0, ""},
    });
}

TEST(Matcher, EndAnchorHoldsOnlyAtTheInputEnd) {
    ExpectMatches({
        {"abc$", "abcabc", 0, kCase, kNoLimit, 1, "0=3,6"},
        {"$", "ab", 0, kCase, kNoLimit, 1, "0=2,2"},
        // Line breaks are ordinary bytes.
        {"a$", "a\r\n", 0, kCase, kNoLimit, 0, ""},
        {"a$", "a\r\na", 0, kCase, kNoLimit, 1, "0=3,4"},
    });
}

TEST(Matcher, WordStart) {
    ExpectMatches({
        {"<ab", "cab", 0, kCase, kNoLimit, 0, ""},
        {"<ab", "c ab", 0, kCase, kNoLimit, 1, "0=2,4"},
        // At the text start «<» holds before any byte, but never at the end.
        {"<.", " a", 0, kCase, kNoLimit, 1, "0=0,1"},
        {"<", "", 0, kCase, kNoLimit, 0, ""},
        {"a<", "a", 0, kCase, kNoLimit, 0, ""},
        // Digits are word bytes; bytes 128 to 255 are not.
        {"<1", "a1 1", 0, kCase, kNoLimit, 1, "0=3,4"},
        {"<a",
         "\xE4"
         "a",
         0, kCase, kNoLimit, 1, "0=1,2"},
        // The byte before the start position counts.
        {"<b", "ab", 1, kCase, kNoLimit, 0, ""},
    });
}

TEST(Matcher, WordEnd) {
    ExpectMatches({
        {"ab>", "abc", 0, kCase, kNoLimit, 0, ""},
        {"ab>", "ab c", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"ab>", "ab", 0, kCase, kNoLimit, 1, "0=0,2"},
        {">", "a b", 0, kCase, kNoLimit, 1, "0=1,1"},
        // Never at the text start; always at the input end.
        {">", "", 0, kCase, kNoLimit, 0, ""},
        {">", " a", 0, kCase, kNoLimit, 1, "0=2,2"},
        {R"(\W>)", "a-", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\w>)", "ab_", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"a>", "a\xE4", 0, kCase, kNoLimit, 1, "0=0,1"},
    });
}

// ---------------------------------------------------------------------------
// Case
// ---------------------------------------------------------------------------

TEST(Matcher, CaseOptionAppliesToLiteralsOnly) {
    ExpectMatches({
        {"ABC", "xabc", 0, kNoCase, kNoLimit, 1, "0=1,4"},
        {"ABC", "aBc", 0, kNoCase, kNoLimit, 1, "0=0,3"},
        {"ABC", "abc", 0, kCase, kNoLimit, 0, ""},
        {"[A-C]", "b", 0, kNoCase, kNoLimit, 0, ""},
        {"[A-C]", "B", 0, kNoCase, kNoLimit, 1, "0=0,1"},
        {R"(\U)", "a", 0, kNoCase, kNoLimit, 0, ""},
        {R"(\L)", "A", 0, kNoCase, kNoLimit, 0, ""},
        // Folding is ASCII letters only.
        {R"(\xE4)", "\xC4", 0, kNoCase, kNoLimit, 0, ""},
        {R"(\[)", "{", 0, kNoCase, kNoLimit, 0, ""},
        {R"(x\@)", "x`", 0, kNoCase, kNoLimit, 0, ""},
        {R"(\[x)", "{x[x", 0, kNoCase, kNoLimit, 1, "0=2,4"},
    });
}

TEST(Matcher, CaseEscapesApplyFromTheirPosition) {
    ExpectMatches({
        {R"(a\Cb)", "Ab", 0, kNoCase, kNoLimit, 1, "0=0,2"},
        {R"(a\Cb)", "AB", 0, kNoCase, kNoLimit, 0, ""},
        {R"(\cabc)", "ABC", 0, kCase, kNoLimit, 1, "0=0,3"},
        {R"(A\cb\Cc)", "ABc", 0, kCase, kNoLimit, 1, "0=0,3"},
        {R"(A\cb\Cc)", "ABC", 0, kCase, kNoLimit, 0, ""},
    });
}

TEST(Matcher, CaseChangesOnAFailedPathAreUndone) {
    ExpectMatches({
        // The optional group and the left alternative switch case on and
        // fail; «a» must then still ignore case.
        {R"({\Cb}?a)", "A", 0, kNoCase, kNoLimit, 1, "0=0,1"},
        {R"((\Cb)?a)", "A", 0, kNoCase, kNoLimit, 1, "0=0,1"},
        {R"({\Cx}|a)", "A", 0, kNoCase, kNoLimit, 1, "0=0,1"},
        // A failed attempt does not hand its case to the next one.
        {R"(a\Cx)", "aAx", 0, kNoCase, kNoLimit, 1, "0=1,3"},
        // A lazy loop's repetition keeps the case it set for the rest.
        {R"({\Cb}@a)", "bA", 0, kNoCase, kNoLimit, 1, "0=1,2"},
    });
}

// ---------------------------------------------------------------------------
// Scanning, bytes and set nodes
// ---------------------------------------------------------------------------

TEST(Matcher, FirstByteScan) {
    ExpectMatches({
        {"abc", "xxabc", 0, kCase, kNoLimit, 1, "0=2,5"},
        {"ab", "aab", 0, kCase, kNoLimit, 1, "0=1,3"},
        {"a", "aa", 1, kCase, kNoLimit, 1, "0=1,2"},
        {"a", "a", 1, kCase, kNoLimit, 0, ""},
        {"a", "", 0, kCase, kNoLimit, 0, ""},
        {"b", "aB", 0, kNoCase, kNoLimit, 1, "0=1,2"},
        {"B", "bB", 0, kCase, kNoLimit, 1, "0=1,2"},
    });
}

TEST(Matcher, EveryByteValueIsText) {
    ExpectMatches({
        {R"(\x00)", std::string("a\0b", 3), 0, kCase, kNoLimit, 1, "0=1,2"},
        {"[^]", std::string("\0", 1), 0, kCase, kNoLimit, 1, "0=0,1"},
        {"a.b", "a\nb", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"a.b", "a\rb", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"a[]", "a", 0, kCase, kNoLimit, 0, ""},
        {R"(\N0651)", "A1", 0, kCase, kNoLimit, 1, "0=0,2"},
        {"\xE4", "a\xE4", 0, kNoCase, kNoLimit, 1, "0=1,2"},
    });
}

TEST(Matcher, SetNodes) {
    ExpectMatches({
        {R"(\s)", "x\t", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\s)", "x\v", 0, kCase, kNoLimit, 0, ""},
        {R"(\S)", " \xE4", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\d)", "x5", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\D)", "5x", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\w)", "_\xE4z", 0, kCase, kNoLimit, 1, "0=2,3"},
        {R"(\W)", "a_", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\W)", "a\xE4", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\U)", "aB", 0, kCase, kNoLimit, 1, "0=1,2"},
        {R"(\L)", "Ab", 0, kCase, kNoLimit, 1, "0=1,2"},
        {"[^a-c]", "abcd", 0, kCase, kNoLimit, 1, "0=3,4"},
        {R"([\d_])", "a_", 0, kCase, kNoLimit, 1, "0=1,2"},
    });
}

TEST(Matcher, LengthBoundsTheText) {
    // The buffer goes on past the length; the matcher must not look there.
    const std::string buffer = "abcd";
    const unsigned char* text = Bytes(buffer);
    GroupTable groups;
    Program dollar("abc$");
    ASSERT_TRUE(dollar);
    EXPECT_EQ(ExecExpression(dollar.get(), text, 3, text, groups.data(), kCase, kNoLimit), 1);
    EXPECT_EQ(FormatGroups(groups.data()), "0=0,3");
    Program d("d");
    ASSERT_TRUE(d);
    EXPECT_EQ(ExecExpression(d.get(), text, 3, text, groups.data(), kCase, kNoLimit), 0);
    Program anyD(".d");
    ASSERT_TRUE(anyD);
    EXPECT_EQ(ExecExpression(anyD.get(), text, 3, text, groups.data(), kCase, kNoLimit), 0);
}

// ---------------------------------------------------------------------------
// Loops whose operand can match the empty string
// ---------------------------------------------------------------------------

TEST(Matcher, LoopReachedAgainAtTheSamePositionFails) {
    ExpectMatches({
        {"(a?)*", "aab", 0, kCase, kNoLimit, 1, "0=0,2 1=0,1"},
        {"(a?)*", "aab", 2, kCase, kNoLimit, 1, "0=2,2"},
        {"(a?)*", "b", 0, kCase, kNoLimit, 1, "0=0,0"},
        {"(a?)+", "b", 0, kCase, kNoLimit, 1, "0=0,0 1=0,0"},
        {"(a*)*", "aab", 0, kCase, kNoLimit, 1, "0=0,2 1=0,2"},
        {"{a?}@b", "x", 0, kCase, kNoLimit, 0, ""},
        {"{a?}@b", "aab", 0, kCase, kNoLimit, 1, "0=0,3"},
        {"{a?}#b", "x", 0, kCase, kNoLimit, 0, ""},
        {"{a?}#b", "b", 0, kCase, kNoLimit, 1, "0=0,1"},
        // A pass with another case state is no repetition of the earlier one:
        // the loop may go round once more to switch case off.
        {R"({\c|a}*$)", "Aa", 0, kCase, kNoLimit, 1, "0=0,2"},
    });
}

TEST(Matcher, EmptyOperandLoopOverLongText) {
    const std::string text = std::string(1000, 'a') + "b";
    ExpectMatches({{"(a?)*", text, 0, kCase, kNoLimit, 1, "0=0,1000 1=0,1"},
                   {"{a?}@b", text, 0, kCase, kNoLimit, 1, "0=0,1001"}});
}

// ---------------------------------------------------------------------------
// Cancel and progress callbacks
// ---------------------------------------------------------------------------

struct Recorder {
    int polls = 0;
    int stopAtPoll = 0;  // 0: always go on; n: the n-th poll cancels
    std::vector<int> percents;

    MatchCallbacks Callbacks() {
        MatchCallbacks callbacks;
        callbacks.cancelPoll = &Poll;
        callbacks.progress = &Progress;
        callbacks.user = this;
        return callbacks;
    }
    static bool Poll(void* user) {
        auto* self = static_cast<Recorder*>(user);
        ++self->polls;
        return self->stopAtPoll == 0 || self->polls < self->stopAtPoll;
    }
    static void Progress(void* user, int percent) {
        static_cast<Recorder*>(user)->percents.push_back(percent);
    }
};

int Scan(const std::string& expression, const std::string& text, int from, int limit,
         Recorder& recorder, GroupTable* groupsOut = nullptr) {
    Program program(expression);
    EXPECT_TRUE(program) << expression;
    GroupTable groups;
    const int result =
        ExecExpression(program.get(), Bytes(text), static_cast<int32_t>(text.size()),
                       Bytes(text) + from, groups.data(), kCase, limit, recorder.Callbacks());
    if (groupsOut != nullptr) {
        *groupsOut = groups;
    }
    return result;
}

// Lists every matching of the expression in text as a listing does: searches
// that go on with one hint, each from the end of the last matching.
// afterEach runs after each search that found one. Returns the count.
int ListWithHint(const std::string& expression, const std::string& text, int limit, bool lineMode,
                 const MatchCallbacks& callbacks, const std::function<void()>& afterEach = {}) {
    Program program(expression);
    EXPECT_TRUE(program) << expression;
    const ProgramInfo info = AnalyseProgram(program.get());
    const unsigned char* bytes = Bytes(text);
    const auto length = static_cast<int32_t>(text.size());
    LineHint hint;
    GroupTable groups;
    int found = 0;
    for (int32_t from = 0;
         from < length && ExecExpression(info, bytes, length, bytes + from, groups.data(), kCase,
                                         limit, lineMode, callbacks, 0, &hint) == kMatchFound;
         ++found) {
        if (afterEach) {
            afterEach();
        }
        from = groups[64];
    }
    return found;
}

using Percents = std::vector<int>;

// Expressions that must be tried at every position end in a class of many
// bytes («[p-z]»): a class of a few would be required, and the scan for it
// would rule the text out before any attempt.
TEST(MatcherCallbacks, PollsBeforeEveryAttemptButTheFirst) {
    {
        // «$» can hold without a byte, so every position is tried.
        Recorder r;
        EXPECT_EQ(Scan("$", "abc", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.polls, 3);  // before the attempts at 1, 2 and 3 (the end)
        EXPECT_EQ(r.percents, (Percents{33, 66, 100}));
    }
    {
        Recorder r;
        r.stopAtPoll = 1;
        EXPECT_EQ(Scan(".", "a", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.polls, 0);
    }
    {
        Recorder r;
        r.stopAtPoll = 1;
        GroupTable groups;
        EXPECT_EQ(Scan(".b", "aab", 0, kNoLimit, r, &groups), 0);
        EXPECT_EQ(r.polls, 1);
        EXPECT_EQ(FormatGroups(groups.data()), "(none)");
    }
    {
        Recorder r;
        r.stopAtPoll = 3;
        EXPECT_EQ(Scan("[a-f].[p-z]", "abcdef", 0, kNoLimit, r), 0);
        EXPECT_EQ(r.polls, 3);
        EXPECT_EQ(r.percents, (Percents{16, 33}));
    }
}

TEST(MatcherCallbacks, PositionsNoMatchingCanStartAtAreNotTried) {
    {
        // No byte of the text can begin a matching: no attempt, no poll.
        Recorder r;
        EXPECT_EQ(Scan("[z]", "abc", 0, kNoLimit, r), 0);
        EXPECT_EQ(r.polls, 0);
        EXPECT_EQ(r.percents, Percents{});
    }
    {
        // A literal start is looked for as a whole.
        Recorder r;
        EXPECT_EQ(Scan("ab", "aaa", 0, kNoLimit, r), 0);
        EXPECT_EQ(r.polls, 0);
    }
    {
        Recorder r;
        GroupTable groups;
        EXPECT_EQ(Scan("b", "abab", 0, kNoLimit, r, &groups), 1);
        EXPECT_EQ(r.polls, 0);
        EXPECT_EQ(r.percents, Percents{25});
        EXPECT_EQ(FormatGroups(groups.data()), "0=1,2");
    }
    {
        Recorder r;
        // (A rare class such as «[xy]» there would be required besides the
        // literal, and rule the text out before any attempt.)
        EXPECT_EQ(Scan("b.[^ab]", "abab", 0, kNoLimit, r), 0);
        EXPECT_EQ(r.polls, 1);
        EXPECT_EQ(r.percents, (Percents{25, 75}));
    }
    {
        // Alternatives of literals: each literal is looked for whole, so
        // «Saw» is not tried.
        Recorder r;
        EXPECT_EQ(Scan("(Tom)|(Sawyer)|(Finn)", "a Saw Finn", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.polls, 0);
        // One alternative begins with a class: only the first bytes are
        // looked for; the attempt at «S» fails, the one at «F» finds.
        Recorder q;
        EXPECT_EQ(Scan("(Tom)|(Sawyer)|([EF]inn)", "a Saw Finn", 0, kNoLimit, q), 1);
        EXPECT_EQ(q.polls, 1);
        // With few first bytes, the byte after each is looked at too: «Th»
        // and «Su» begin no alternative.
        Recorder t;
        GroupTable groups;
        EXPECT_EQ(Scan("(Tom)|(Sawyer)|([EF]inn)", "The Sun: Tom", 0, kNoLimit, t, &groups), 1);
        EXPECT_EQ(FormatGroups(groups.data()), "0=9,12 1=9,12");
        EXPECT_EQ(t.polls, 0);
    }
    {
        // A program that begins with a loop over one byte test: a start whose
        // run holds no byte the rest could begin with is not tried, and after
        // a failed attempt the rest of its run is passed over. «\w+x» makes
        // no attempt before «ccx»; «(\w+)=(\d+)» tries «ab=», then «xy=».
        Recorder r;
        EXPECT_EQ(Scan("\\w+x", "aaaa bbbb ccx", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.polls, 0);
        GroupTable groups;
        Recorder s;
        EXPECT_EQ(Scan("(\\w+)=(\\d+)", "ab=c xy=12", 0, kNoLimit, s, &groups), 1);
        EXPECT_EQ(FormatGroups(groups.data()), "0=5,10 1=5,7 2=8,10");
        EXPECT_EQ(s.polls, 1);
        EXPECT_EQ(s.percents, (Percents{50})) << "attempts at 0 and 5 only";
        // A literal right after the leading loop: the search goes to the
        // start of the loop run that ends at the literal, past words that
        // merely hold its first byte.
        Recorder t;
        EXPECT_EQ(Scan("\\w+ing", "this is fine running", 0, kNoLimit, t, &groups), 1);
        EXPECT_EQ(FormatGroups(groups.data()), "0=13,20");
        EXPECT_EQ(t.polls, 0);
        EXPECT_EQ(t.percents, (Percents{65}));
    }
    {
        // Not when the search limit cut the run short: a later start sees
        // further.
        Recorder r;
        GroupTable groups;
        EXPECT_EQ(Scan("a*b", "aaaab", 0, 3, r, &groups), 1);
        EXPECT_EQ(FormatGroups(groups.data()), "0=2,5");
    }
    {
        // Nothing to scan: no poll at all.
        Recorder r;
        EXPECT_EQ(Scan("a", "ba", 2, kNoLimit, r), 0);
        EXPECT_EQ(r.polls, 0);
    }
}

// A program that ends with «$» after a known last byte: in line mode a line
// ending in another byte is passed over whole, but not where the search limit
// cuts an attempt short, since «$» holds at the cut.
TEST(MatcherCallbacks, LinesThatCannotEndAMatchingAreNotTried) {
    auto scanLines = [](const std::string& expression, const std::string& text, int limit,
                        Recorder& recorder, GroupTable& groups) {
        Program program(expression);
        const ProgramInfo info = AnalyseProgram(program.get());
        return ExecExpression(info, Bytes(text), static_cast<int32_t>(text.size()), Bytes(text),
                              groups.data(), kCase, limit, true, recorder.Callbacks());
    };
    GroupTable groups;
    Recorder r;
    EXPECT_EQ(scanLines("[ \t]+$", "a b c\n d e\r\nfg  \nh", kNoLimit, r, groups), 1);
    EXPECT_EQ(FormatGroups(groups.data()), "0=14,16");
    EXPECT_EQ(r.polls, 0) << "the spaces of the first two lines start no attempt";
    Recorder cut;
    EXPECT_EQ(scanLines("[ \t]+$", "a  b\nc", 2, cut, groups), 1);
    EXPECT_EQ(FormatGroups(groups.data()), "0=1,3") << "«$» at the limit's cut";
    Recorder last;
    EXPECT_EQ(scanLines("x|[b ]+$", "ab  c\nax", kNoLimit, last, groups), 1);
    EXPECT_EQ(FormatGroups(groups.data()), "0=7,8") << "the left alternative can end the line";
}

// Former fault: a failure kept after the bit set started over from the floor
// was checked for room by its row's first bit only, so a column further
// along the row was written past the set's end.
TEST(FailureMemoBits, StartingOverKeepsOnlyWhatFitsTheCap) {
    FailureMemo memo;
    memo.bitsCap = 16;        // two words
    memo.Start(0, 80, 1);     // rows of 80 bits
    memo.AddPlain(0, 0, 0);   // the set grows to its cap
    memo.AddPlain(2, 70, 1);  // from the floor the row begins at bit 80, the column at 150
    EXPECT_FALSE(memo.HasPlain(2, 70));
    memo.AddPlain(2, 10, 1);  // bit 90 fits once the rows start at 1
    EXPECT_TRUE(memo.HasPlain(2, 10));
    EXPECT_FALSE(memo.HasPlain(0, 0)) << "what lay below the floor is forgotten";
}

// Rows below the floor make room instead of the set growing: the rows of a
// long line reached from its start to the furthest failure, though no walk
// goes back before its attempt's start (a megabyte line of a program with 50
// columns kept 6 MB per set, and the sets of walks that end their attempt
// doubled that). What lies at or above the floor keeps its bits.
TEST(FailureMemoBits, RowsBelowTheFloorMakeRoom) {
    FailureMemo memo;
    memo.Start(0, 10, 1);  // rows of 10 bits: 32 rows make 5 whole words
    int wrong = 0;
    for (uint64_t pos = 0; pos < 100000; ++pos) {
        const uint64_t floor = pos >= 50 ? pos - 50 : 0;
        memo.AddPlain(pos, static_cast<uint32_t>(pos % 10), floor);
        memo.AddPlain(pos, static_cast<uint32_t>(pos % 7), floor, FailureMemo::Kind::kEndedAttempt);
        for (uint64_t kept = floor; kept <= pos; ++kept) {
            for (uint32_t c = 0; c < 10; ++c) {
                wrong += memo.HasPlain(kept, c) != (c == kept % 10) ? 1 : 0;
                wrong += memo.HasPlain(kept, c, FailureMemo::Kind::kEndedAttempt) != (c == kept % 7)
                             ? 1
                             : 0;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(memo.MemoryBytes(), size_t{2048});  // growing: 125 KB per set
}

TEST(MatcherCallbacks, AnchoredProgramIsNotPolled) {
    Recorder r;
    r.stopAtPoll = 1;
    EXPECT_EQ(Scan("^a", "a", 0, kNoLimit, r), 1);
    EXPECT_EQ(Scan("^a", "ba", 0, kNoLimit, r), 0);
    EXPECT_EQ(r.polls, 0);
}

TEST(MatcherCallbacks, ProgressGrowsByWholePercentages) {
    {
        Recorder r;
        EXPECT_EQ(Scan("$", "abcd", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.percents, (Percents{25, 50, 75, 100}));
    }
    {
        // The first attempt already reports where it starts.
        Recorder r;
        EXPECT_EQ(Scan("[a-d].[p-z]", "abcd", 2, kNoLimit, r), 0);
        EXPECT_EQ(r.percents, (Percents{50, 75}));
    }
    {
        // Progress is measured against the whole input, not the window the
        // search limit leaves. (The literal tells «b» from the other bytes,
        // so that no attempt stands for the next.)
        Recorder r;
        EXPECT_EQ(Scan("[a-d]{.|b}[p-z]", "abcd", 0, 1, r), 0);
        EXPECT_EQ(r.percents, (Percents{25, 50, 75}));
    }
    {
        // Each run starts again from 0.
        Recorder r;
        Scan("[a-d].[p-z]", "abcd", 0, kNoLimit, r);
        Scan("[a-d].[p-z]", "abcd", 0, kNoLimit, r);
        EXPECT_EQ(r.percents, (Percents{25, 50, 75, 25, 50, 75}));
    }
    {
        // An empty input reports nothing.
        Recorder r;
        EXPECT_EQ(Scan("x*", "", 0, kNoLimit, r), 1);
        EXPECT_EQ(r.percents, Percents{});
    }
}

TEST(MatcherCallbacks, PercentageIsTheTruncatedScaledQuotient) {
    // The quotient is taken first and then scaled: 29/100 and 58/100 scale to
    // just below 29 and 58 in floating point, so those two are never reported.
    Recorder r;
    EXPECT_EQ(Scan("a.[^a]", std::string(100, 'a'), 0, kNoLimit, r), 0);
    Percents expected;
    for (int p = 1; p < 100; ++p) {
        if (p != 29 && p != 58) {
            expected.push_back(p);
        }
    }
    EXPECT_EQ(r.percents, expected);
}

TEST(MatcherCallbacks, LongTextsStillReportEveryWholePercent) {
    // Attempts at each of 50,000 positions; progress is looked at only every
    // 1/512 of the text, which still shows every whole percent.
    Recorder r;
    EXPECT_EQ(Scan("[a-z][a-z][p-z]", std::string(50000, 'a'), 0, kNoLimit, r), 0);
    EXPECT_EQ(r.polls, 49999);
    ASSERT_EQ(r.percents.size(), 99u);
    EXPECT_EQ(r.percents.front(), 1);
    EXPECT_EQ(r.percents.back(), 99);
}

// Former fault: each search of a listing started its progress afresh, so
// the listing called the progress callback once per matching (300,000 calls
// for «(int)|(char)|(void)|(bool)» over 60 MB of code). The searches that go
// on with one hint report by the text, as a single search would.
TEST(MatcherCallbacks, AListingReportsProgressByTheTextNotByTheMatching) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "int x; char y; int z;\n";
    }
    for (const bool lineMode : {true, false}) {
        Recorder recorder;
        EXPECT_EQ(ListWithHint("(int)|(char)", text, kNoLimit, lineMode, recorder.Callbacks()),
                  6000);
        EXPECT_GE(recorder.percents.size(), 90u) << lineMode;
        EXPECT_LE(recorder.percents.size(), 600u) << lineMode;
    }
}

// ---------------------------------------------------------------------------
// The run's state
// ---------------------------------------------------------------------------

TEST(MatcherState, ContextKeepsTheSuccessfulRun) {
    const std::string buffer = "xabcd";
    const unsigned char* text = Bytes(buffer);
    GroupTable groups;
    Program program("abc");
    ASSERT_TRUE(program);
    ASSERT_EQ(ExecExpression(program.get(), text, 5, text, groups.data(), kCase, 3), 1);
    const MatchContext& context = CurrentMatchContext();
    EXPECT_EQ(context.textStart, text);
    EXPECT_EQ(context.pos, text + 4);
    EXPECT_EQ(context.inputEnd, text + 4);  // lowered to 1 + 3 by the limit
    EXPECT_EQ(context.groups, groups.data());
}

TEST(MatcherState, TryAtAndMatchHereUseTheCurrentContext) {
    const std::string buffer = "abcabc";
    const unsigned char* text = Bytes(buffer);
    GroupTable groups;
    Program program("abc");
    ASSERT_TRUE(program);
    ASSERT_EQ(ExecExpression(program.get(), text, 6, text, groups.data(), kCase, kNoLimit), 1);
    EXPECT_EQ(TryAt(program.get(), text + 1), 0);
    EXPECT_EQ(FormatGroups(groups.data()), "(none)");
    EXPECT_EQ(TryAt(program.get(), text + 3), 1);
    EXPECT_EQ(FormatGroups(groups.data()), "0=3,6");
    MatchContext& context = CurrentMatchContext();
    context.pos = text + 3;
    EXPECT_EQ(MatchHere(program.get()), 1);
    EXPECT_EQ(context.pos, text + 6);
    context.pos = text + 2;
    EXPECT_EQ(MatchHere(program.get()), 0);
}

TEST(MatcherState, RunsDoNotInfluenceEachOther) {
    // The same program on the same text twice, with other runs in between,
    // gives the same answer.
    const std::vector<MatchCase> cases = {
        {"(a?)*", "aab", 2, kCase, kNoLimit, 1, "0=2,2"},
        {"{a?}@b", "x", 0, kCase, kNoLimit, 0, ""},
        {"a\\Cx", "aAx", 0, kNoCase, kNoLimit, 1, "0=1,3"},
        {"a*b", "aaab", 0, kCase, 2, 1, "0=2,4"},
    };
    ExpectMatches(cases);
    ExpectMatches(cases);
}

TEST(MatcherState, NoProgramNoMatch) {
    GroupTable groups;
    groups.fill(5);
    const unsigned char text[] = "a";
    EXPECT_EQ(ExecExpression(nullptr, text, 1, text, groups.data(), kCase, kNoLimit), 0);
}

// ---------------------------------------------------------------------------
// Stack floor
// ---------------------------------------------------------------------------

constexpr size_t kThreadStack = 1 << 20;
constexpr uintptr_t kFloorMargin = 256 << 10;  // room below the floor for the last frames

struct StackProbe {
    std::string expression;
    int limit;
    int result = 99;
    GroupTable groups{};
};

struct StackRun {
    std::string text;
    std::vector<StackProbe> probes;
};

void* RunProbes(void* arg) {
    auto* run = static_cast<StackRun*>(arg);
    pthread_attr_t attr;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) {
        return nullptr;
    }
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    const uintptr_t floor = reinterpret_cast<uintptr_t>(base) + kFloorMargin;
    const unsigned char* text = Bytes(run->text);
    for (StackProbe& probe : run->probes) {
        ExprNode* program = CompileExpression(probe.expression.c_str());
        if (program == nullptr) {
            continue;
        }
        probe.groups.fill(12345);
        probe.result = ExecExpression(program, text, static_cast<int32_t>(run->text.size()), text,
                                      probe.groups.data(), kCase, probe.limit, {}, floor);
        FreeExpression(program);
    }
    return nullptr;
}

TEST(MatcherStack, ExhaustionStopsTheRunAndIsReported) {
    StackRun run;
    run.text = std::string(1000000, 'a');
    run.probes = {
        {"(.|{..})*", kNoLimit},
        {"a(a|{aa})*", kNoLimit},
        // The limit bounds the depth; the same thread matches normally after
        // running out of stack.
        {".*", 1000},
        {"(a?)*", 100},
        {".*", kNoLimit},
        {"a+$", kNoLimit},
        {"(.)*", kNoLimit},
    };
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kThreadStack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, &RunProbes, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    EXPECT_EQ(run.probes[0].result, kStackExhausted);
    EXPECT_EQ(run.probes[0].groups[0], -1);
    EXPECT_EQ(run.probes[1].result, kStackExhausted);
    EXPECT_EQ(run.probes[1].groups[0], -1);
    EXPECT_EQ(run.probes[2].result, 1);
    EXPECT_EQ(FormatGroups(run.probes[2].groups.data()), "0=0,1000");
    EXPECT_EQ(run.probes[3].result, 1);
    EXPECT_EQ(FormatGroups(run.probes[3].groups.data()), "0=0,100 1=0,1");
    // A loop over one byte test does not nest per repetition: the whole
    // megabyte fits the small stack.
    EXPECT_EQ(run.probes[4].result, 1);
    EXPECT_EQ(FormatGroups(run.probes[4].groups.data()), "0=0,1000000");
    EXPECT_EQ(run.probes[5].result, 1);
    EXPECT_EQ(FormatGroups(run.probes[5].groups.data()), "0=0,1000000");
    // Former fault: a loop over a group of one character nested per pass as
    // well; it walks as «(.).*» now, its group the first pass.
    EXPECT_EQ(run.probes[6].result, 1);
    EXPECT_EQ(FormatGroups(run.probes[6].groups.data()), "0=0,1000000 1=0,1");
}

// ---------------------------------------------------------------------------
// Nested loops over a long input stay polynomial
// ---------------------------------------------------------------------------

// The cancel callback doubles as a work meter: it is polled before every
// attempt and, within an attempt, once per 65536 nested walks. Without
// remembered failures each of these would need more walks than there are
// atoms in the universe; with them they end on their own long before the
// meter runs out (1001 attempts leave room for a billion more walks). The
// text stays short enough for the deepest recursion to fit the test's stack,
// also with instrumented frames.
TEST(MatcherComplexity, NestedLoopsEndWithoutBeingCancelled) {
    struct Case {
        const char* expression;
        int32_t expected;
        int32_t expectedEnd;
    };
    const std::string text(1000, 'a');
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (const Case& c : {Case{"(a*)*b", kNoMatch, -1}, Case{"(a|{aa})*c", kNoMatch, -1},
                          Case{"(\\w+\\s?)*$", kMatchFound, 1000}}) {
        struct Meter {
            long polls = 0;
        } meter;
        MatchCallbacks callbacks;
        callbacks.user = &meter;
        callbacks.cancelPoll = [](void* user) {
            return ++static_cast<Meter*>(user)->polls < 20000;
        };
        ExprNode* program = CompileExpression(c.expression);
        ASSERT_NE(program, nullptr) << c.expression;
        int32_t groups[kGroupSlots];
        const int r = ExecExpression(program, bytes, static_cast<int32_t>(text.size()), bytes,
                                     groups, 0, -1, callbacks, 0);
        FreeExpression(program);
        EXPECT_LT(meter.polls, 20000) << c.expression << " was cancelled instead of ending";
        EXPECT_EQ(r, c.expected) << c.expression;
        EXPECT_EQ(groups[64], c.expectedEnd) << c.expression;
    }
}

// ---------------------------------------------------------------------------
// Former bugs
// ---------------------------------------------------------------------------

// --- work that grows with the text ---
// Former faults: the search limit gave every attempt an input end of its own,
// which cleared the failure memo and stopped the skip over a failed leading
// loop's run, so «\w+(:|=)» over a long line of hexadecimal digits or
// «(a+)+[!]» over a run of «a» walked limit-many times per start position;
// the memo's key held the passes of 64 loop slots at most and beyond that kept
// only failures that no loop pass decided, so 17 «{a*}*» in a row were
// exponential; and without a limit each attempt measured and tried its nested
// loop's whole run again, so «(\w*)*$» and «{a*}*{a*}*[!]» were quadratic.
// Each search here must walk a bounded number of times per byte, in both text
// modes, with the default limit and without. The expressions end in
// «{!|{<=}}» where those had «[!]»: a class that every matching passes is
// scanned for, and a line without it is ruled out before any walk («{!|=}»
// too, since each of its alternatives begins with a test); these cases are
// about walks, so their last alternative begins with a zero-width test.
const std::string kNoClass = "{!|{<=}}";

struct LinearCase {
    std::string expression;
    std::string line;
    // false: «$» holds only at the text end, after the line break, where the
    // search then finds an empty matching; searched only without a limit,
    // which lets «$» hold where it cuts the input.
    bool lineMode = true;
    // false: the program as compiled, loops that SimplifyLoops takes out
    // included (rows of «{a*}*» are about the memo's work).
    bool simplify = true;
};

std::string HexDigits(size_t n) {
    std::string s(n, '0');
    uint32_t seed = 7;
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = "0123456789abcdef"[(seed >> 16) % 16];
    }
    return s;
}

std::string WordBytes(size_t n) {
    std::string s(n, 'a');
    uint32_t seed = 11;
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = "abcdefghijklmnopqrstuvwxyz0123456789"[(seed >> 16) % 36];
    }
    return s;
}

// n bytes of «a», «b» and spaces in an irregular order.
std::string MixedLine(int n) {
    std::string line;
    for (int i = 0; i < n; ++i) {
        line += "ab ab a b"[i * 7919 % 9];
    }
    return line;
}

// n pairs «ab» or «ba» in an irregular order.
std::string PairsLine(int n) {
    std::string line;
    for (int i = 0; i < n; ++i) {
        line += (i * 7919 % 13) < 6 ? "ab" : "ba";
    }
    return line;
}

std::string Repeated(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) {
        s += piece;
    }
    return s;
}

// Walks per byte and node of one search that finds nothing in line mode or
// only the empty matching at the text end otherwise, which it checks too.
double WalksToFindNothing(const std::string& expression, const std::string& text, TextMode mode,
                          int32_t limit, bool lineMode, bool simplify = true) {
    Program program(expression, mode);
    EXPECT_TRUE(program) << expression;
    if (!program) {
        return 0;
    }
    // Made for the run's case option (without case), as a search makes it.
    const ProgramInfo info = AnalyseProgram(program.get(), simplify, 0);
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    const int result = ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes,
                                      groups.data(), 0, limit, lineMode);
    if (lineMode) {
        EXPECT_EQ(result, kNoMatch) << expression;
    } else {
        EXPECT_EQ(result, kMatchFound) << expression;
        EXPECT_EQ(groups[0], static_cast<int32_t>(text.size()));
        EXPECT_EQ(groups[64], static_cast<int32_t>(text.size()));
    }
    return static_cast<double>(CurrentMatchContext().runWalks) /
           static_cast<double>(text.size() * static_cast<size_t>(info.nodeCount));
}

TEST(MatcherWork, BacktrackingOverLongLinesWalksEachByteABoundedNumberOfTimes) {
    constexpr size_t n = 20000;
    const std::vector<LinearCase> cases = {
        {"\\w+(:|{<=})", HexDigits(n)},
        {"(\\w+)+\\s", WordBytes(n)},
        {"(a+)+" + kNoClass, std::string(n, 'a')},
        {"{a*}*{a*}*" + kNoClass, std::string(n, 'a'), true, false},
        {"(\\w*)*$", std::string(n, 'a') + "\n", false},
        {"(\\w+\\s?)*$", std::string(n, 'a') + "!", false},
        {Repeated("{a*}*", 17) + kNoClass, std::string(n / 8, 'a'), true, false},
        {Repeated("{a*}*", 40) + kNoClass, std::string(n / 32, 'a'), true, false},
        {Repeated("(a*)*", 17) + kNoClass, std::string(n / 8, 'a')},
    };
    for (const LinearCase& c : cases) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            for (const int32_t limit : {1024}) {
                if (!c.lineMode && limit >= 0) {
                    continue;
                }
                SCOPED_TRACE(c.expression + (mode == TextMode::kUtf8 ? " utf-8" : " bytes") +
                             " limit " + std::to_string(limit));
                // Quadratic work would be hundreds of walks per byte and node
                // here, exponential work would not end.
                EXPECT_LE(
                    WalksToFindNothing(c.expression, c.line, mode, limit, c.lineMode, c.simplify),
                    16.0);
            }
        }
    }
}

// Former fault: every failed walk of nested loops over a long line that had a
// loop pass at its position went to the memo's hash table, 48 bytes or more
// each, which filled its 32 MiB at a few hundred kilobytes and then started
// over again and again (17 nested pairs took 31 s per megabyte). A small
// group of loops now folds its passes into the bit rows' columns.
TEST(MatcherWork, NestedLoopPassesAreKeptInBitsNotInTheTable) {
    const std::string line(20000, 'a');
    for (const std::string& expression :
         {"{a*}*{a*}*" + kNoClass, Repeated("{a*}*", 17) + kNoClass, "(a+)+" + kNoClass}) {
        SCOPED_TRACE(expression);
        EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, -1, true, false), 16.0);
        EXPECT_EQ(CurrentMatchContext().failures.TableEntries(), 0u);
    }
}

// Former faults: a sequence of loops over the same bytes reached each loop's
// fallback once from every loop before it, and each arrival walked the rest
// of the sequence again: 17 groups made 1.2 to 1.4 walks per byte and node,
// 40 groups 2.5 to 3 (7.0 s per megabyte for 17 with the search limit). A
// walk that goes on from a fallback now checks the memo there and, when it
// fails, marks that place failed too. And each loop came back to its operand
// from its own last pass at every position, a walk that fails at once at the
// inner loop but cost a memo entry: 0.33 walks per byte and node without the
// limit, where 0.22 remain.
TEST(MatcherWork, LoopSequencesReachEachFallbackOnce) {
    const std::string line(20000, 'a');
    for (const int groups : {17, 40}) {
        const std::string expression = Repeated("{a*}*", groups) + kNoClass;
        SCOPED_TRACE(expression);
        for (const int32_t limit : {1024}) {
            EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, limit, true, false),
                      limit < 0 ? 0.3 : 0.5);
        }
    }
}

// Former fault: a run turned the memo on only past 16 walks per start
// position on average. A loop over the words of short lines, failing at
// every start, walks the rest of its line from each word, fewer times than
// that: never remembered, so quadratic in the words of each line (20 MB of
// prose: «(\w+\s)+[.!?]» 6.3 s, now 1.5 s; «(\w\w+\s)+[.]» 2.8 s, now 0.8 s).
TEST(MatcherWork, RunsThatWalkTheSameWordsFromEveryStartRememberThem) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "abc def ghi jkl mno pqr stu vwx yz.\n";
    }
    // 0.58 walks per byte and node before, 0.125 now.
    EXPECT_LE(WalksToFindNothing("(\\w\\w+\\s)+[.]", text, TextMode::kBytes, -1, true), 0.3);
}

// Former fault: the first limited attempt over a long line, the one that
// turns the memo on, put its failures in the memo's table with its own input
// end, since no other attempt shares that end. They can never hold for the
// wider ends that follow, yet every later walk looked for its key there, a
// cache miss each (17 nested groups: 3.9 s per megabyte with the limit, 2.0
// without).
TEST(MatcherWork, FailuresOfAnEndNoLaterAttemptSharesAreNotLookedUp) {
    const std::string expression = Repeated("{a*}*", 17) + kNoClass;
    const FailureMemo& memo = CurrentMatchContext().failures;
    WalksToFindNothing(expression, std::string(20000, 'a'), TextMode::kBytes, 1024, true, false);
    EXPECT_GT(memo.TableEntries(), 0u);  // what the first attempt left
    const size_t shorter = memo.TableLookups();
    // The first attempt looks up its own failures; the 20,000 bytes more
    // must add next to none.
    WalksToFindNothing(expression, std::string(40000, 'a'), TextMode::kBytes, 1024, true, false);
    EXPECT_LT(memo.TableLookups(), shorter + 2000);
}

// A class of one byte that has no other case takes part in the required
// literal like the byte written alone; with no literal, a class of a few
// bytes that are not common in text is required on its own. A line without it is ruled out by the
// scan, before any walk. A one-byte letter class stays out of the literal: it takes only the case
// written, the literal scan both when case is ignored.
TEST(MatcherWork, RequiredClassesRuleOutLinesWithoutThem) {
    EXPECT_EQ(AnalyseProgram(Program("x[.]y").get()).requiredLiteral, "x.y");
    EXPECT_EQ(AnalyseProgram(Program("[a]").get()).requiredLiteral, "");
    EXPECT_EQ(AnalyseProgram(Program("b*[a]").get()).requiredClass.setCount, 1);
    EXPECT_EQ(AnalyseProgram(Program("a*[!?]b*").get()).requiredClass.setCount, 2);
    // Too many bytes; bytes too common; the first test, which the scan for
    // first bytes covers.
    EXPECT_EQ(AnalyseProgram(Program("b*[!-/]").get()).requiredClass.setCount, 0);
    EXPECT_EQ(AnalyseProgram(Program("b*[ \t]").get()).requiredClass.setCount, 0);
    EXPECT_EQ(AnalyseProgram(Program("[!?]b*").get()).requiredClass.setCount, 0);
    // With loops inside loops (whether or not the inner one can repeat
    // nothing), a class of any size up to half the bytes.
    const ProgramInfo nested = AnalyseProgram(Program("(a*)*[!-/]").get());
    EXPECT_TRUE(nested.requiredClass.known);
    EXPECT_EQ(nested.requiredClass.setCount, 0);
    EXPECT_TRUE(AnalyseProgram(Program("(a+)+[!-/]").get()).requiredClass.known);
    EXPECT_FALSE(AnalyseProgram(Program("a*[!-/]").get()).requiredClass.known);
    EXPECT_FALSE(AnalyseProgram(Program("a*b*[!-/]").get()).requiredClass.known);
    EXPECT_FALSE(AnalyseProgram(Program("{a*}*\\W").get()).requiredClass.known);
    const std::string line(20000, 'a');
    for (const std::string& tail : {"[!]", "[!?]", "[!?.,;:]", "[!-/]"}) {
        SCOPED_TRACE(tail);
        const std::string expression = Repeated("{a*}*", 17) + tail;
        EXPECT_EQ(WalksToFindNothing(expression, line, TextMode::kBytes, -1, true), 0.0);
        EXPECT_EQ(WalksToFindNothing(expression, line, TextMode::kUtf8, 1024, true), 0.0);
    }
}

// Former fault: the required class chosen could hold every byte a matching
// begins with, so it stood at each start the first-byte scan stops at and
// ruled nothing out, while a rarer one went unused: «(a|b)+\s#{.*}b*(\w+)@$»
// over 20 KB of «a» and «b» walked a limit's worth from every start (5 s).
TEST(MatcherWork, AClassAtEveryPossibleStartIsNotTheRequiredOne) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        const ProgramInfo info = AnalyseProgram(Program("(a|b)+\\s#{.*}b*(\\w+)@$", mode).get());
        ASSERT_TRUE(info.requiredClass.known);
        EXPECT_TRUE(info.requiredClass.bytes[' ']);
        EXPECT_FALSE(info.requiredClass.bytes['a']);
        SCOPED_TRACE(static_cast<int>(mode));
        EXPECT_EQ(
            WalksToFindNothing("(a|b)+\\s#{.*}b*(\\w+)@$", Repeated("ab", 10000), mode, 1024, true),
            0.0);
    }
}

// Former fault: a class every matching passes was taken only when rare or
// with nested loops, so where the program can tell its input end («>» and a
// trailing «|»: «\w» or nothing), which keeps the failed attempts the search
// limit cuts apart, a line without any space cost a limit's worth of walks
// per start (20 KB of «a» and «b»: 2.2 s).
TEST(MatcherWork, ACommonClassIsRequiredWhereTheLimitKeepsAttemptsApart) {
    const std::string line = PairsLine(4000);
    for (const char* expression : {"(a)#(a|b)*\\s#>b@\\w|", "(a|b)#\\s#(a|b)@$|[^x]#(\\w+)|"}) {
        const ProgramInfo info = AnalyseProgram(Program(expression).get());
        ASSERT_FALSE(info.attemptEndMonotone) << expression;
        // «(a)#» walks as «(a)a@», whose «a» is then a required literal:
        // the space is required besides it.
        const ProgramInfo::ByteClass& space =
            info.requiredLiteral.empty() ? info.requiredClass : info.alsoRequired;
        EXPECT_TRUE(space.known && space.bytes[' ']) << expression;
        EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, 1024, true), 0.01)
            << expression;
    }
}

// Former fault: a case switch anywhere in the program left it without any
// required literal or class, since a literal's case could depend on the path;
// classes never depend on it («\C?[^x]*\d[ ]?» was tried from every byte).
// Literals before the required one may then match in either case, also in a
// case-sensitive run.
TEST(MatcherWork, CaseSwitchesKeepRequiredClasses) {
    EXPECT_EQ(AnalyseProgram(Program("\\c(\\w+)[=](\\d+)").get()).requiredLiteral, "=");
    Program program("\\cAB[=]");
    const ProgramInfo info = AnalyseProgram(program.get());
    EXPECT_EQ(info.requiredLiteral, "=");
    const std::string text = "xab=";
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             kCase, -1, true),
              kMatchFound);
    EXPECT_EQ(groups[0], 1);
}

// Former fault: the search for what every matching passes stopped at the end
// of a left alternative, which it meets where «|» applies to a loop's tail
// («(a|b)@|(\w+)|…»: the bar is never reached, every walk leaves the loop
// into the skip past the right alternatives). So «[ ]» and «\d» below were
// not required, and 100 KB of «a» and «b» took over 10 s.
TEST(MatcherWork, ClassesPastALoopThatABarAppliesToAreRequired) {
    const std::string line = Repeated("abbab", 4000);
    const std::pair<const char*, unsigned char> cases[] = {
        {">?(a|b)@|(\\w+)|(a|b)#[ ]+>", ' '},
        {"(a|b)#|\\d@$", '5'},
    };
    for (const auto& [expression, byte] : cases) {
        const ProgramInfo info = AnalyseProgram(Program(expression).get());
        EXPECT_TRUE(info.requiredClass.known && info.requiredClass.bytes[byte]) << expression;
        EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, 1024, true), 0.01)
            << expression;
    }
}

// Former fault: with a required literal, no class was required besides it,
// so where the literal is common a missing class ruled out nothing: each
// start of «(\w+)+a\d\d?$» over «a» and «b» walked a limit's worth (100 KB:
// over 10 s). Both must now lie within the line and the search limit.
TEST(MatcherWork, AClassIsRequiredBesidesACommonLiteral) {
    Program program("(\\w+)+a\\d\\d?$");
    const ProgramInfo info = AnalyseProgram(program.get());
    EXPECT_EQ(info.requiredLiteral, "a");
    EXPECT_TRUE(info.alsoRequired.known && info.alsoRequired.bytes['7']);
    const std::string line = Repeated("abbab", 4000);
    EXPECT_LE(WalksToFindNothing("(\\w+)+a\\d\\d?$", line, TextMode::kBytes, 1024, true), 0.01);
    // A digit out of the limit's reach from every start before it but the
    // last few.
    const std::string text = line + "a7";
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             0, 16, true),
              kMatchFound);
    EXPECT_EQ(groups[0], static_cast<int32_t>(text.size()) - 16);
    EXPECT_EQ(groups[64], static_cast<int32_t>(text.size()));
}

// Former fault: a literal inside a group that «+» repeats was never taken as
// required, so «{\w+::}+\w+» was tried from every byte of every word, each
// attempt backtracking over the rest of the word (30 MB of headers: 1.5 s
// against 0.03 s for the same search with the literal). A single common byte
// there (a separator) must not displace a better class or literal.
TEST(MatcherWork, LiteralsInsideRepeatedGroupsAreRequired) {
    EXPECT_EQ(AnalyseProgram(Program("{\\w+::}+\\w+").get()).requiredLiteral, "::");
    EXPECT_EQ(AnalyseProgram(Program("(x{ab}#c)+").get()).requiredLiteral, "ab");
    EXPECT_EQ(AnalyseProgram(Program("(\\w+,)+\\d").get()).requiredLiteral, ",");
    EXPECT_EQ(AnalyseProgram(Program("{\\w+ }+\\w+;").get()).requiredLiteral, ";");
    const ProgramInfo spaced = AnalyseProgram(Program("(\\w+ )+[0-9]").get());
    EXPECT_EQ(spaced.requiredLiteral, "");
    EXPECT_TRUE(spaced.requiredClass.known);
    // Optional or starred groups require nothing.
    EXPECT_EQ(AnalyseProgram(Program("{\\w+::}*\\w+").get()).requiredLiteral, "");
    EXPECT_EQ(AnalyseProgram(Program("{\\w+::}?\\w+").get()).requiredLiteral, "");
    std::string words;
    for (int i = 0; i < 2000; ++i) {
        words += "word" + std::to_string(i) + " ";
    }
    EXPECT_EQ(WalksToFindNothing("{\\w+::}+\\w+", words, TextMode::kBytes, 1024, true), 0.0);
    EXPECT_EQ(WalksToFindNothing("{\\w+::}+\\w+", words, TextMode::kUtf8, -1, true), 0.0);
}

// Former fault: an alternation with an empty right alternative («{a|}»)
// ended the search for required literals, so «(a|b)+{a|}+b» attempted every
// start of a line without «b», each walking the rest of the line (13 s on
// 10 KB of «a»). The left alternative ends the attempt, the right one goes on
// after the bracket: what follows is still required.
TEST(MatcherWork, LiteralsAfterAnEmptyAlternativeAreRequired) {
    EXPECT_EQ(AnalyseProgram(Program("(a|b)+{a|}+b").get()).requiredLiteral, "b");
    EXPECT_EQ(AnalyseProgram(Program("({a|}q)+zz").get()).requiredLiteral, "zz");
    EXPECT_EQ(AnalyseProgram(Program("(a|)xyz").get()).requiredLiteral, "xyz");
    EXPECT_EQ(
        WalksToFindNothing("(a|b)+{a|}+b", std::string(2000, 'a'), TextMode::kBytes, -1, true),
        0.0);
}

// Former fault: the searches of one listing count their walks together, but
// each search measured them against the allowance of its own starts alone,
// so a long listing turned the memo on however few walks each matching took:
// listing «\<.@\>» over 100 MB of prose filled 100 MB of memo rows (0.20 s
// against 0.05 s), «{\w+::}+\w+» over 60 MB of headers 0.28 s against 0.06 s.
TEST(MatcherWork, AListingTurnsTheMemoOnOnlyForItsWalksPerStart) {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "x <b> and <i> y\n";
    }
    bool memoOn = false;
    EXPECT_EQ(ListWithHint("\\<.@\\>", text, 1024, true, {},
                           [&] { memoOn = memoOn || CurrentMatchContext().memoOn; }),
              10000);
    EXPECT_FALSE(memoOn);
}

// Former fault: an alternative whose right side is an operator («a|x*»,
// «a|x+») ended the search for required literals, so «{ab}|(\w+)*[ ](a|b)#$»
// walked every start of 100 KB of «a» and «b» (over 20 s). The left side goes
// on inside the operator's operand, which leads back to the operator: both
// leave past its tail.
TEST(MatcherWork, LiteralsAfterAnAlternativeOfAnOperatorAreRequired) {
    EXPECT_EQ(AnalyseProgram(Program("{ab}|(\\w+)*[ ](a|b)#$").get()).requiredLiteral, " ");
    EXPECT_EQ(AnalyseProgram(Program("x|y+zz").get()).requiredLiteral, "zz");
    EXPECT_EQ(AnalyseProgram(Program("x|{yq}?zz").get()).requiredLiteral, "zz");
    EXPECT_EQ(WalksToFindNothing("{ab}|(\\w+)*[ ](a|b)#$", std::string(2000, 'a'), TextMode::kBytes,
                                 -1, true),
              0.0);
}

// Former fault: only a program beginning with «^» was tried at the text start
// alone, so «(\w+)+>^b@» (where every walk passes «^», which holds at the
// text start only) walked each start of a 100 KB line to its cut: over 20 s
// in character mode. The search for required nodes also stopped at a character
// mode «<» or «>», so nothing after one was required.
TEST(MatcherWork, ProgramsThatEveryWalkLeadsThroughACaretTryTheTextStartOnly) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        EXPECT_TRUE(AnalyseProgram(Program("(\\w+)+>^b@", mode).get()).caretRequired);
        EXPECT_TRUE(AnalyseProgram(Program("{ab}|.*^", mode).get()).caretRequired);
        EXPECT_FALSE(AnalyseProgram(Program("{^|a}b", mode).get()).caretRequired);
        EXPECT_FALSE(AnalyseProgram(Program("a|^b", mode).get()).caretRequired);
        EXPECT_EQ(AnalyseProgram(Program("\\w+>xyz", mode).get()).requiredLiteral, "xyz");
        // One attempt: 0.07 walks per byte and node, 19 without.
        EXPECT_LE(WalksToFindNothing("(\\w+)+>^b@", WordBytes(2000), mode, 64, true), 0.1);
    }
}

// Former fault: the one test of a «+» or «#» loop counted for nothing, though
// every matching passes it once at least: «{.*}@(a|b)*[ ]#\w+.*>» walked
// every start of 100 KB of «a» and «b» to its cut (over 20 s). With nested
// loops, such a class is required.
TEST(MatcherWork, TheTestOfALoopThatRunsOnceAtLeastIsRequired) {
    const ProgramInfo info = AnalyseProgram(Program("{.*}@(a|b)*[ ]#\\w+.*>").get());
    ASSERT_TRUE(info.requiredClass.known);
    EXPECT_EQ(info.requiredClass.setCount, 1);
    EXPECT_EQ(info.requiredClass.set[0], ' ');
    EXPECT_EQ(WalksToFindNothing("{.*}@(a|b)*[ ]#\\w+.*>", std::string(2000, 'a'), TextMode::kBytes,
                                 -1, true),
              0.0);
}

// Former fault: a walk that ended its attempt (the left alternative of
// «{a|}» matched) left nothing in the memo, so the next start walked the
// same nested loop to the end of the line again: «(a|b)+{a|}b» over 2,000
// bytes of «a» before « b» took 8 million walks, 2 per byte and start. (The
// line is shorter here: the loop nests a walk per byte, and the sanitizers'
// frames would not fit a longer one on the test's stack.)
TEST(MatcherWork, WalksThatEndTheirAttemptAreRemembered) {
    const std::string line = std::string(500, 'a') + " b";
    for (const char* expression : {"(a|b)+{a|}b", "{a|b}+{a|}b"}) {
        for (const int32_t limit : {-1, 1024}) {
            EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, limit, true), 2.0)
                << expression << " limit " << limit;
        }
    }
}

// Former fault: a loop over a group of one-character choices nested a walk
// per pass, each start anew up to the limit's cut, where an attempt that met
// «{a|}» ended («(a|b)+{a|}(a)@(a)» over 100 KB of «a» and «b»: 17.8 s). It
// walks as «([ab])[ab]*», whose run is measured once for every start.
TEST(MatcherWork, LoopsOverOneCharacterChoicesWalkAsLoopsOverOneTest) {
    // Short enough for the nesting walk to fit the test's stack.
    const std::string line = PairsLine(1500);
    for (const char* expression :
         {"(a|b)+{a|}(a)@(a)", "{a|b}+{a|}(a)@(a)", "(a|b)*[ab]|{a|}#[^x]+(a)+"}) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            for (const int32_t limit : {1024}) {
                EXPECT_LE(WalksToFindNothing(expression, line, mode, limit, true), 2.0)
                    << expression << " mode " << static_cast<int>(mode) << " limit " << limit;
            }
        }
    }
}

// The memo's storage after one search in a context of its own (a thread's),
// so that what earlier tests left does not count.
size_t MemoBytesAfter(const std::string& expression, const std::string& line, int32_t limit) {
    size_t bytes = 0;
    std::thread([&] {
        WalksToFindNothing(expression, line, TextMode::kUtf8, limit, true);
        bytes = CurrentMatchContext().failures.MemoryBytes();
    }).join();
    return bytes;
}

// Former fault: the memo's table kept every failure of a search until its
// cap of 32 MiB, though no walk goes back before its attempt's start, nor
// sees an input end below the one of the attempts that follow: over 200 KB
// of «a» and «b», «(a|b)+{a|}(a)@(a)» without the limit grew it to 26 MB,
// and nearly every look missed the cache (0.50 s per megabyte, now 0.27 s).
// A full table now drops what no later walk can ask for before it grows.
TEST(MatcherWork, TheMemosTableKeepsWhatLaterWalksCanAskFor) {
    const std::string line = PairsLine(100000);
    for (const char* expression :
         {"(a|b)+{a|}(a)@(a)", "(a|b)*[ab]|{a|}#[^x]+(a)+", "(\\w+)+{\\c|a}?{a|}+(a|\\w)+{ab}"}) {
        for (const int32_t limit : {1024}) {
            EXPECT_LT(MemoBytesAfter(expression, line, limit), size_t{6} << 20)
                << expression << " limit " << limit;
        }
    }
}

// Former fault: every walk that ended its attempt was kept in the memo's
// table. In «(\w\w)+{a|b|}?(\w\w)» over a line of «a» and «b» without the
// limit, each pass of the loop ends the attempt from inside the passes around
// it: one attempt over 400 KB filled the table past its cap, the memo started
// over, and the next attempts walked the rest of the line again (over two
// minutes; now 0.3 s). Walks with a column now keep their end in bit rows.
// Here with the table's cap lowered to 1 KiB, over 600 bytes (the loop
// nests walks per pass, which the test's stack must hold under the
// sanitizers too).
TEST(MatcherWork, WalksThatEndTheirAttemptAreKeptInBitRows) {
    FailureMemo& memo = CurrentMatchContext().failures;
    const size_t savedCap = memo.tableCap;
    memo.tableCap = size_t{1} << 10;
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        EXPECT_LE(WalksToFindNothing("(\\w\\w)+{a|b|}?(\\w\\w)", PairsLine(300), mode, -1, true),
                  1.0)
            << static_cast<int>(mode);
    }
    memo.tableCap = savedCap;
}

// Former fault: with the limit, «(\w\w)+{a|b|}?(\w\w)» walked one pass of
// its loop per two bytes up to each start's cut, where «a» or «b» ended the
// attempt: 77 s per megabyte. A loop over a row of copies of one test now
// takes its passes as rows of the test's run, which later starts share, and
// tries its continuation from the last row back (1 MB: 0.15 s).
TEST(MatcherWork, LoopsOverARowOfOneTestTakeTheRunsRows) {
    const std::string line = PairsLine(20000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression : {"(\\w\\w)+{a|b|}?(\\w\\w)", "{[ab][ab][ab]}*{a|b|}?<"}) {
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 1024, true), 0.5)
                << expression << " mode " << static_cast<int>(mode);
        }
    }
}

// Runs `work` on a thread with a stack of `bytes`: the walks of a wide
// attempt nest per pass, deeper than the main thread's stack allows in the
// sanitizer build.
void OnStackOf(size_t bytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t thread;
    auto run = [](void* p) -> void* {
        (*static_cast<const std::function<void()>*>(p))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// A loop that runs from each start up to the limit's cut, where a missing
// alternative then ends the attempt short of it, walked all its passes again
// for each start: «[^x]?{a?b?}+{a|b|}#.|\s+» over a line of «a» and «b»
// took 58 s per megabyte. A pass that ended its attempt through a later pass
// of the loop without meeting the input end now leads later attempts there
// at once: 0.37, 0.34 and 0.39 walks per byte and node below, 46, 35 and
// 40 without (MatchContext::chainsOff).
TEST(MatcherWork, PassesThatLedToTheAttemptsEndLeadThereAgain) {
    std::string line;
    for (int i = 0; i < 20000; ++i) {
        line += (i * 7919 % 13) < 6 ? 'a' : 'b';
    }
    OnStackOf(size_t{512} << 20, [&] {
        for (const char* expression :
             {"[^x]?{a?b?}+{a|b|}#.|\\s+", "{a|}\\s|(a|\\w)+{a|b|}|\\w*((a)+)+",
              "{.!|||||b)+{a|}(a)"}) {
            EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, 1024, true), 1.0)
                << expression;
        }
    });
}

// A choice whose alternatives lead through further choices walked each
// path through them, nesting a walk per bar: a pass of «{.!|||||||||||b)+»
// (a chain of 11 bars, most with an empty alternative) over «ab!c» repeated
// walked 1.06 times per byte and node with the limit before «{a|}(a)», 0.34
// before «x»; with 23 bars an attempt ran out of the test's stack. Such a
// choice now comes down to the few walks it reaches, each tried once: 0.21
// and 0.09.
TEST(MatcherWork, AChainOfChoicesIsWalkedOncePerWalkItReaches) {
    std::string line;
    for (int i = 0; i < 5000; ++i) {
        line += "ab!c";
    }
    OnStackOf(size_t{512} << 20, [&] {
        EXPECT_LE(
            WalksToFindNothing("{.!|||||||||||b)+{a|}(a)", line, TextMode::kBytes, 1024, true),
            0.5);
        EXPECT_LE(WalksToFindNothing("{.!|||||||||||b)+x", line, TextMode::kBytes, 1024, true),
                  0.2);
    });
}

// Former fuzz finding: «(a*\x1C?a@\S)*{.!|||…???…\||||||||b)+{a|}(a)» (a chain
// of 23 bars, three «?» and 29 bars more) with the limit 99 took 0.36 s over
// its 394 bytes, about 1,000 s per megabyte: both loops ran to each start's
// cut, each pass walking every path through the bars. Over «ab!c» repeated
// it walked 7.6 times per byte and node; 6.1 with chained passes alone, 1.7
// with the choices' walks listed alone, 0.26 with both.
TEST(MatcherWork, AFuzzFoundChainOfBarsInLoopsBeforeAMissingAlternative) {
    std::string line;
    for (int i = 0; i < 2000; ++i) {
        line += "ab!c";
    }
    const std::string expression = "(a*\x1C?a@\\S)*{.!" + std::string(23, '|') + "???" +
                                   std::string(22, '|') + "\\|" + std::string(7, '|') +
                                   "b)+{a|}(a)";
    OnStackOf(size_t{512} << 20, [&] {
        EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, 99, true), 0.6);
    });
}

// The places a row loop's continuation failed at hold for one search only:
// a search with a longer program starts the loop runs' count of searches
// over, and the places of the same count before it must not be taken for
// the next search's, here over the same buffer with other bytes.
TEST(MatcherWork, ARowLoopsPlacesDoNotOutliveTheirSearch) {
    std::thread([] {
        Program rows("(\\w\\w)+\\W");
        Program longer("{a|b|c|d|e|f|g|h|i|j|k|l|m|n|o|p|q|r|s|t|u|v|w|x|y|z}x");
        ASSERT_TRUE(rows && longer);
        const ProgramInfo rowInfo = AnalyseProgram(rows.get(), true, 0);
        const ProgramInfo longerInfo = AnalyseProgram(longer.get(), true, 0);
        ASSERT_GT(longerInfo.nodeCount, rowInfo.nodeCount);
        // From 0 every row's end fails; from 1 the last one's meets «!».
        std::string text = std::string(63, 'a') + "!";
        const auto* bytes = Bytes(text);
        const auto length = static_cast<int32_t>(text.size());
        GroupTable groups;
        auto search = [&](const ProgramInfo& info) {
            return ExecExpression(info, bytes, length, bytes, groups.data(), 0, -1, false);
        };
        EXPECT_EQ(search(rowInfo), kMatchFound);
        EXPECT_EQ(search(rowInfo), kMatchFound);  // its places kept under the second count
        EXPECT_EQ(groups[0], 1);
        search(longerInfo);
        text[40] = '!';
        EXPECT_EQ(search(rowInfo), kMatchFound);
        EXPECT_EQ(groups[0], 0);
        EXPECT_EQ(groups[64], 41);
    }).join();
}

// Former fault: where the wide attempts of a block of starts kept ending at
// a missing alternative («{a|}» whose «a» matched), which tells nothing of
// the limited attempt, every start still made both: «(a|b)+{a|}(a)@(a)» over
// a line of «a» and «b» walked 0.52 times per byte and node, now 0.29. After
// 16 such in a row the rest of the block makes limited attempts only.
TEST(MatcherWork, WideAttemptsThatTellNothingAreLeftOff) {
    const std::string line = PairsLine(20000);
    for (const char* expression : {"(a|b)+{a|}(a)@(a)", "(a|b)*[ab]|{a|}#[^x]+(a)+"}) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 1024, true), 0.35)
                << expression << " mode " << static_cast<int>(mode);
        }
    }
}

// Former fault: once the memo was on, every walk of every limited attempt
// looked in the memo's table and put its failure there, though most failed
// at the attempt's own input end, which no later attempt sees: over 200 KB
// of «a» and «b», «(a|b)*[ab]|{a|}#[^x]+(a)+» with the limit made a million
// lookups and took 0.99 s per megabyte (now 0.31 s). Where the memo answers
// few of their walks (here 7 %), limited attempts now remember only once they
// have walked 48 times.
TEST(MatcherWork, ShortLimitedAttemptsDoNotRemember) {
    const FailureMemo& memo = CurrentMatchContext().failures;
    for (const char* expression : {"(a|b)+{a|}(a)@(a)", "(a|b)*[ab]|{a|}#[^x]+(a)+"}) {
        WalksToFindNothing(expression, PairsLine(100000), TextMode::kUtf8, 1024, true);
        EXPECT_LT(memo.TableLookups(), 50000u) << expression;
    }
}

// Where the memo answers many of the walks of limited attempts, they
// remember from their first walk: over a long line of quoted identifiers (a
// table in a Python module), «(\w+)+x» answers a fifth of them with failures
// earlier starts found. Remembering only past the first 48 walks there took
// 4.5 times the walks (1.5 times the instructions over 3 MB of Python).
TEST(MatcherWork, LimitedAttemptsRememberFromTheFirstWalkWhereTheMemoAnswers) {
    std::string line = "NAMES = {";
    uint32_t seed = 7;
    while (line.size() < 40000) {
        line += "'";
        seed = seed * 1664525u + 1013904223u;
        const uint32_t length = 8 + (seed >> 16) % 32;
        for (uint32_t i = 0; i < length; ++i) {
            seed = seed * 1664525u + 1013904223u;
            line += "ABCDEFGHIJKLMNOPQRSTUVWabcdefghijklmnopqrstuvwx"[(seed >> 16) % 48];
        }
        line += "', ";
    }
    line += "}\n";
    EXPECT_EQ(ListWithHint("(\\w+)+x", line, 1024, true, {}), 554);
    // 4.4 walks per byte, against 19.8 remembering late.
    EXPECT_LT(CurrentMatchContext().runWalks, 8 * line.size());
}

// Former fault: a program with «\C» or «\c» joined no literals of its loops
// over one-character choices, though a loop that no walk reaches after the
// switch runs in the run's case option: «(a|b)+\w+{a*}?{a|}\c?<» nested a walk
// per pass up to the limit's cut from every start of a line of «a» and «b»
// (12.8 G instructions over 10 KB, over 100 s per megabyte; now 145 M).
TEST(MatcherWork, LoopsOverChoicesBeforeACaseSwitchWalkAsLoopsOverOneTest) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        EXPECT_LE(WalksToFindNothing("(a|b)+\\w+{a*}?{a|}\\c?<", PairsLine(2000), mode, 1024, true),
                  2.0)
            << static_cast<int>(mode);
    }
}

// Former fault: a loop over choices after a case switch joined nothing when a
// choice was a literal, though «\w» in «(a|\w)» takes «a» and «A» in either
// case state: «(\w+)+{\c|a}?{a|}+(a|\w)+{ab}» walked the loop choice by
// choice (2,409 M instructions over 100 KB of «a» and «b», now 2,191 M).
TEST(MatcherWork, ALiteralThatAnotherChoiceTakesInBothCasesIsJoinedAfterASwitch) {
    auto branches = [](const std::string& expression, TextMode mode) {
        Program program(expression, mode);
        const ProgramInfo info = AnalyseProgram(program.get(), true, 0);
        int count = 0;
        for (const ExprNode* n = info.program; n != nullptr; n = n->next) {
            count += n->op == BRANCH ? 1 : 0;
        }
        return count;
    };
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        EXPECT_EQ(branches("\\c(a|\\w)+<", mode), 0);
        EXPECT_EQ(branches("\\C{\\w|a|b}+<", mode), 0);
        // «[a]» does not take the «A» that «a» takes where case is ignored.
        EXPECT_EQ(branches("\\c(a|[a])+<", mode), 1);
    }
}

// Former fault: a test every way through passes was not required where the
// program's shape hid it from the reading in list order: in
// «\C?|(\w+)+.?\d+${a*}|» the «?» runs on into the bar, so «\d» went unused
// and every start of 100 KB of «a» and «b» walked the nested loop to the
// limit's cut (50.6 s).
TEST(MatcherWork, ATestEveryWayThroughPassesIsRequired) {
    const std::string expression = "\\C?|(\\w+)+.?\\d+${a*}|";
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        const ProgramInfo info = AnalyseProgram(Program(expression, mode).get());
        ASSERT_TRUE(info.requiredClass.known);
        EXPECT_TRUE(info.requiredClass.bytes['5'] && !info.requiredClass.bytes['a']);
        EXPECT_EQ(WalksToFindNothing(expression, PairsLine(5000), mode, 1024, true), 0.0);
    }
    // A test some way through passes by is not required.
    for (const char* expression : {"\\C?|(\\w+)+.?\\d?${a*}|", "(\\d)*[ ]\\s", "\\d?\\s"}) {
        const ProgramInfo info = AnalyseProgram(Program(expression).get());
        EXPECT_FALSE(info.requiredClass.known && info.requiredClass.bytes['5']) << expression;
    }
}

// «\w+(:|=)» over a megabyte of hexadecimal digits took 55 s with the search
// limit (it still took 0.3 s per megabyte): nothing in the program counted as
// required, so every start walked. A chain of alternatives that each begin
// with a test now requires the bytes those tests take, a literal's in either
// case since the run may ignore it.
TEST(MatcherWork, AlternativesThatBeginWithTestsRequireTheirFirstBytes) {
    const ProgramInfo info = AnalyseProgram(Program("\\w+(:|=)").get());
    ASSERT_TRUE(info.requiredClass.known);
    EXPECT_TRUE(info.requiredClass.bytes[':'] && info.requiredClass.bytes['=']);
    EXPECT_FALSE(info.requiredClass.bytes['a']);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        EXPECT_EQ(WalksToFindNothing("\\w+(:|=)", HexDigits(20000), mode, 1024, true), 0.0);
        EXPECT_EQ(WalksToFindNothing("\\w+{:|(=)|\\s}x", HexDigits(20000), mode, -1, true), 0.0);
    }
    Program program("\\d+(k|{mb})");
    const ProgramInfo sizes = AnalyseProgram(program.get());
    const std::string text = "size 12MB";
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    ASSERT_EQ(ExecExpression(sizes, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             0, -1, true),
              kMatchFound);
    EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups("0=5,9 1=7,9").data()));
    EXPECT_EQ(ExecExpression(sizes, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             kCase, -1, true),
              kNoMatch);
    // An alternative that begins with a zero-width test may pass any byte.
    EXPECT_FALSE(AnalyseProgram(Program("\\w+" + kNoClass).get()).requiredClass.known);
}

// 17 «{a*}*» in a row took 3.4 s per megabyte with the search limit and 2.7 s
// without: a walk and a memo entry per loop and place, though the row finds
// what one «a*» finds. Rows of greedy loops over one test, nested in groups
// that capture nothing or side by side, now walk as that one loop; anything
// that could tell them apart keeps the program as compiled.
TEST(MatcherWork, RowsOfLoopsOverOneTestWalkAsOneLoop) {
    auto walked = [](const std::string& expression) {
        Program program(expression);
        return AnalyseProgram(program.get()).nodeCount;
    };
    EXPECT_EQ(walked(Repeated("{a*}*", 17) + "b"), walked("a*b"));
    EXPECT_EQ(walked("{{[0-9]*}*}*{[0-9]*}*x"), walked("[0-9]*x"));
    EXPECT_EQ(walked("a*a*a*"), walked("a*"));
    EXPECT_EQ(walked("({a*}*)|b"), walked("(a*)|b"));
    // A loop after another over the same test matches nothing in the first
    // matching found: its group is never entered.
    EXPECT_EQ(walked(Repeated("(a*)*", 17) + "b"), walked("(a*)*b"));
    EXPECT_EQ(walked("a*(a*)*"), walked("a*"));
    for (const char* kept : {"(a*)*", "{a*}+", "{a+}*", "{a*b}*", "{a*}@", "a*b*", "a*[a]*", "a@a*",
                             "a*?a*", "a*\\ca*", "{a*}*?", "b|{a*}*", "a*(a*)", "(a*)*(b*)*"}) {
        Program program(kept);
        const ProgramInfo info = AnalyseProgram(program.get());
        EXPECT_TRUE(info.simplified == nullptr) << kept;
        EXPECT_EQ(info.program, program.get()) << kept;
    }
    const std::string line(20000, 'a');
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const int32_t limit : {1024}) {
            const double one = WalksToFindNothing("a*" + kNoClass, line, mode, limit, true);
            EXPECT_EQ(
                WalksToFindNothing(Repeated("{a*}*", 17) + kNoClass, line, mode, limit, true) *
                    static_cast<double>(walked(Repeated("{a*}*", 17) + kNoClass)),
                one * static_cast<double>(walked("a*" + kNoClass)));
        }
    }
    // The same matchings and groups as the program as compiled.
    std::vector<std::string> texts = {""};
    for (size_t i = 0; i < texts.size() && texts[i].size() < 6; ++i) {
        texts.push_back(texts[i] + "a");
        texts.push_back(texts[i] + "b");
    }
    for (const char* expression : {"(a*)*(a*)*", "a*(a*)*b", "(a*)*a*(a*)*$", "{a*}*(a*)*a",
                                   "b|{a*}*{a*}*", "(a*)*{a*}*(a*)", "({a*}*(a*)*)*b"}) {
        Program program(expression);
        const ProgramInfo simpler = AnalyseProgram(program.get());
        const ProgramInfo compiled = AnalyseProgram(program.get(), false);
        EXPECT_TRUE(simpler.simplified != nullptr) << expression;
        for (const std::string& text : texts) {
            for (const int32_t limit : {-1, 2}) {
                const unsigned char* bytes = Bytes(text);
                const auto length = static_cast<int32_t>(text.size());
                GroupTable expected;
                GroupTable actual;
                EXPECT_EQ(
                    ExecExpression(simpler, bytes, length, bytes, actual.data(), 0, limit, false),
                    ExecExpression(compiled, bytes, length, bytes, expected.data(), 0, limit,
                                   false))
                    << expression << " on " << text;
                EXPECT_EQ(FormatGroups(actual.data()), FormatGroups(expected.data()))
                    << expression << " on " << text;
            }
        }
    }
}

// Former fault: with the memo on and the search limit cutting the input, an
// attempt first looks as far as its block's wider end; when that matched, the
// case state its matching ended with («\c» switched it off) stayed for the
// limited attempt, which then matched differently or not at all.
TEST(MatcherWork, LimitedAttemptAfterAWiderOneStartsWithTheRunsCaseState) {
    CurrentMatchContext().memoThreshold = 0;  // the memo from the first walk on
    const std::string text = "Aaa baAb abb";
    Program program("{a|}?{\\c|a}+");
    ASSERT_TRUE(program);
    const ProgramInfo info = AnalyseProgram(program.get());
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    const int result = ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes + 5,
                                      groups.data(), kCase, 3, false);
    CurrentMatchContext().memoThreshold = 2048;
    EXPECT_EQ(result, kMatchFound);
    EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups("0=6,7").data()));
}

// A straight walk (no choice that matters) must report meeting the input end
// as the ordinary walk does: with the search limit cutting «b+» short, a
// start inside the leading «a+» run sees further and matches, and a walk that
// kept quiet about the end let the search skip past the whole run.
TEST(MatcherWork, StraightWalksReportMeetingTheInputEnd) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const std::string& expression : {"a+b+a", "[^b]+b+a"}) {
            SCOPED_TRACE(expression);
            Program program(expression, mode);
            ASSERT_TRUE(program);
            const ProgramInfo info = AnalyseProgram(program.get());
            EXPECT_TRUE(info.straight[1]);
            const std::string text = "aaba";
            GroupTable groups;
            const unsigned char* bytes = Bytes(text);
            EXPECT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes,
                                     groups.data(), kCase, 3, false),
                      kMatchFound);
            EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups("0=1,4").data()));
        }
    }
    // Loops that may give back and alternatives walk as before.
    // A run of «[^b]» may end at «B», which «b+» takes when case is ignored.
    EXPECT_FALSE(AnalyseProgram(Program("[^b]+b+a").get()).straight[0]);
    EXPECT_FALSE(AnalyseProgram(Program("a+ab").get()).straight[1]);
    EXPECT_FALSE(AnalyseProgram(Program("(a)|b").get()).straight[1]);
    const ProgramInfo assignment = AnalyseProgram(Program("<(\\w+)\\s*=\\s*(\\d+);").get());
    EXPECT_TRUE(assignment.straight[0] && assignment.straight[1]);
    EXPECT_TRUE(AnalyseProgram(Program("<(\\w+)=(\\d+);", TextMode::kUtf8).get()).straight[0]);
    // A last loop's whole run reaches END (or fails «$») first.
    EXPECT_TRUE(AnalyseProgram(Program("(\\w+)=(\\d+)").get()).straight[0]);
    EXPECT_TRUE(AnalyseProgram(Program("(a)b*$").get()).straight[0]);
}

// Former fault: any «$» or «>» made a program count as one whose walks may
// hold at the input end, so the search limit gave each start an input end of
// its own and nothing carried over from one start to the next: «(\w+)+$b»
// took 55 s on 100 KB of one line, «.*$b» 2.5 s. After «$» nothing can be
// consumed, so where a walk from it cannot reach END without consuming, its
// holding at the end changes nothing.
TEST(MatcherWork, EndTestsThatNothingCanFollowLeaveTheLimitLinear) {
    for (const char* expression : {".*$b", "(\\w+)+$b", "\\w+>x", "a(.|$)+y"}) {
        EXPECT_TRUE(AnalyseProgram(Program(expression).get()).endMonotone) << expression;
    }
    for (const char* expression : {".*$", "(\\w+)+$", "\\w+>", "a$\\w*", "a(b|$)"}) {
        EXPECT_FALSE(AnalyseProgram(Program(expression).get()).endMonotone) << expression;
    }
    const std::string line = Repeated("ab", 10000);
    for (const char* expression : {".*$b", "(\\w+)+$b", "[^x]+.*$b"}) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            SCOPED_TRACE(expression);
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 1024, true), 16.0);
        }
    }
}

// Former fault: a word start right after «$» or «>» (or right before, with
// no way in between), where they never both hold, still made the program
// count as one that may hold at the input end, so
// each start under the search limit walked to its own cut: where no run of
// one kind lets the search pass over starts («b?» tells «b» from «a»),
// «b?(\w+)+$<» over 20 KB of «a» and «b» took 12 s, «[ab]+\w[^x]*[^x]@><»
// over 100 KB 9 s.
TEST(MatcherWork, AWordStartAfterAnEndTestHoldsNowhere) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression :
             {"b?(\\w+)+$<", "\\w+><", "a$(<b)", "[^x]@a{.*}+<$", "a(<)$", "\\w<>"}) {
            EXPECT_TRUE(AnalyseProgram(Program(expression, mode).get()).endMonotone) << expression;
        }
        // «?» lets the walk go on to END without the word start, or past
        // the one before the end test, and so does the alternative.
        for (const char* expression : {"b?(\\w+)+$<?", "a<?$", "(a|<)$", "\\w+(<)?>"}) {
            EXPECT_FALSE(AnalyseProgram(Program(expression, mode).get()).endMonotone) << expression;
        }
        const std::string line = Repeated("ab", 10000);
        for (const char* expression : {"b?(\\w+)+$<", "[ab]+\\w[^x]*[^x]@><", "b?(\\w+)+<$"}) {
            SCOPED_TRACE(expression);
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 1024, true), 16.0);
        }
    }
}

// Former fault: an end test reached only through one that holds nowhere
// there («<$» before «$?»), or only after a byte consumed past «$», still
// made the program count as one that may hold at the input end, so each
// start under the search limit walked to its own cut: over 20 KB of «a» and
// «b», «\w?[^x]@(a|b)#<$$?» with a rewrite took 9 s, «.+{.*}+$b+>» 3 s;
// «[ab]*.+{ab}[ ]+$?», whose «$» may be passed by, 3.3 s over «a», «b»
// and spaces.
TEST(MatcherWork, EndTestsReachedOnlyPastOnesThatCannotHoldThereAreIgnored) {
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression :
             {"\\w?[^x]@(a|b)#<$$?", ".+{.*}+$b+>", "a$b$?", "><$", "\\w<$>?", "{a|<}<$"}) {
            EXPECT_TRUE(AnalyseProgram(Program(expression, mode).get()).endMonotone) << expression;
        }
        // A byte consumed before the end test, «>» that holds before a
        // character that is no word's, or a way past the test that made it
        // hold nowhere.
        for (const char* expression : {"<$|a$", ">\\W$", "a>$", "$a?", "<?$$?", "(<|a)+$"}) {
            EXPECT_FALSE(AnalyseProgram(Program(expression, mode).get()).endMonotone) << expression;
        }
        // An attempt that takes an optional end test could pass it by at
        // the same place; not so a walk from inside it.
        for (const char* expression : {"[ab]*.+{ab}[ ]+$?", "a(>)?", "\\w+(<)?(>)?", "{>$}?"}) {
            const ProgramInfo info = AnalyseProgram(Program(expression, mode).get());
            EXPECT_FALSE(info.endMonotone) << expression;
            EXPECT_TRUE(info.attemptEndMonotone) << expression;
        }
        // «$?|» puts the «|» inside the span of the «?»: its link leads out.
        for (const char* expression : {"$?$", "(a$)?", "{\\C$}?", "a*$?|"}) {
            EXPECT_FALSE(AnalyseProgram(Program(expression, mode).get()).attemptEndMonotone)
                << expression;
        }
        // A limit of 256: «(a|b)#» nests a walk per pass up to the cut, which
        // a limit of 1024 takes past the stack of the sanitizer build.
        const std::string line = Repeated("ab", 10000);
        for (const char* expression : {"\\w?[^x]@(a|b)#<$$?", ".+{.*}+$b+>", "[ab]*.+{ab}[ ]+$?"}) {
            SCOPED_TRACE(expression);
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 256, true), 2.0);
        }
    }
}

// Former fault: the walk of a straight program (its loops give nothing
// back) measured a loop's run afresh at each start, so the attempts at the
// starts inside a run were quadratic in it where the continuation failed at
// its end: «\w*$» as a whole text, where «$» holds only at the text's end,
// over 100 KB of «a» and a line break without the limit took 16 s.
TEST(MatcherWork, StraightProgramsMeasureARunOnce) {
    const std::string text = std::string(20000, 'a') + "\n";
    const auto length = static_cast<int32_t>(text.size());
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression : {"\\w*$", "(\\w*)$"}) {
            SCOPED_TRACE(expression);
            Program program(expression, mode);
            const ProgramInfo info = AnalyseProgram(program.get());
            EXPECT_TRUE(info.straight[0]);
            GroupTable groups;
            const unsigned char* bytes = Bytes(text);
            ASSERT_EQ(ExecExpression(info, bytes, length, bytes, groups.data(), 0, -1, false),
                      kMatchFound);
            EXPECT_EQ(groups[0], length);
            EXPECT_EQ(groups[64], length);
            EXPECT_LE(CurrentMatchContext().loopPlaces, 8 * text.size());
        }
    }
}

// Former fault: with «$» at its end, where the search limit cuts a long line
// a matching can only end at the cut, which no other start shares: each start
// at a word of «ab ab ab …» walked a limit's worth of passes of «(ab )+» to
// fail there (0.57 s on 30 KB, over a minute per megabyte; «(\w+ )+$» four
// times that). The byte before the cut now has to be one a matching can end
// with, as the byte before a line's end already had to, and the last byte of
// a group that «+» repeats is known too.
TEST(MatcherWork, TheByteBeforeTheCutDecidesWhereMatchingsEndThere) {
    EXPECT_TRUE(AnalyseProgram(Program("(ab )+$").get()).lastBytesKnown);
    EXPECT_TRUE(AnalyseProgram(Program("{(\\w+) }+$").get()).lastBytesKnown);
    // A pass may end elsewhere, or no pass be made.
    EXPECT_FALSE(AnalyseProgram(Program("(ab ?)+$").get()).lastBytesKnown);
    EXPECT_FALSE(AnalyseProgram(Program("(ab )*$").get()).lastBytesKnown);
    EXPECT_FALSE(AnalyseProgram(Program("(a|b )+$").get()).lastBytesKnown);
    const std::string line = Repeated("ab ", 7000) + "ab";
    for (const char* expression : {"(ab )+$", "(\\w+ )+$"}) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            SCOPED_TRACE(expression);
            EXPECT_LE(WalksToFindNothing(expression, line, mode, 1024, true), 0.5);
        }
    }
}

// Former fault: in character mode «\w» and «\s» both take characters that
// begin with bytes above 0x7F, so a loop over one of them before the other
// counted as one that may give back, and with the search limit every start
// in a long line of word characters tested its continuation at each place up
// to the cut: «(\w+)?\s+» 7.6 s per megabyte, «(\w+ )?\w+\s» 9.4 s. No
// character is both, so such loops give nothing back.
TEST(MatcherWork, LoopsOverCharactersTheContinuationCannotTakeGiveNothingBack) {
    auto possessive = [](const std::string& expression) {
        Program program(expression, TextMode::kUtf8);
        const ProgramInfo info = AnalyseProgram(program.get());
        for (const ExprNode* n = info.program; n != nullptr; n = n->next) {
            if (n->op == PLUS) {
                return info.possessiveLoop[0][static_cast<size_t>(n->index)] != 0;
            }
        }
        return false;
    };
    EXPECT_TRUE(possessive("\\w+\\s"));
    EXPECT_TRUE(possessive("\\s+{\\w|x}"));
    for (const char* gives : {"\\w+\\S", "\\w+.", "\\w+[^a]", "\\w+\\L", "\\s+\\w?"}) {
        EXPECT_FALSE(possessive(gives)) << gives;
    }
    const std::string line = WordBytes(20000);
    WalksToFindNothing("(\\w+)?\\s+", line, TextMode::kUtf8, 1024, true);
    EXPECT_LE(CurrentMatchContext().loopPlaces, 4 * line.size());
}

// Former fault, found by the fuzzer: with a search limit shorter than any
// matching (a chain of optional tests before two literal runs of 18 bytes,
// limit 13), every start still walked its program up to the cut, each with
// an input end of its own: 280 s per megabyte. An attempt with fewer bytes
// before its input end than the shortest matching now fails at once.
TEST(MatcherWork, ALimitBelowTheShortestMatchingRulesOutEveryAttempt) {
    auto shortest = [](const std::string& expression, TextMode mode) {
        Program program(expression, mode);
        return AnalyseProgram(program.get()).shortestMatching;
    };
    EXPECT_EQ(shortest("ab+c?", TextMode::kBytes), 2);
    EXPECT_EQ(shortest("{{abc}|d}x*", TextMode::kBytes), 1);
    EXPECT_EQ(shortest("{abc|d}x*", TextMode::kBytes), 3);  // «|» takes the atoms beside it
    EXPECT_EQ(shortest("({a}|{bb})+\\w", TextMode::kBytes), 2);
    EXPECT_EQ(shortest("\xC3\xA9|.", TextMode::kUtf8), 1);
    // A literal character counts one byte: without case the Kelvin sign (three
    // bytes) matches «k».
    EXPECT_EQ(shortest("\xC3\xA9x", TextMode::kUtf8), 2);
    EXPECT_EQ(shortest("a*", TextMode::kBytes), 0);
    Program program("[^\xE2\x82\xAC]+??\\D??:??4??.KKKKKKKK??.KKKKKKKKKK", TextMode::kUtf8);
    const ProgramInfo info = AnalyseProgram(program.get());
    EXPECT_EQ(info.shortestMatching, 20);
    const std::string text = Repeated(std::string(27, 'K') + " p ", 300);
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    const auto length = static_cast<int32_t>(text.size());
    EXPECT_EQ(ExecExpression(info, bytes, length, bytes, groups.data(), 0, 13, false), kNoMatch);
    EXPECT_EQ(CurrentMatchContext().runWalks, 0u);
    EXPECT_EQ(ExecExpression(info, bytes, length, bytes, groups.data(), 0, 40, false), kMatchFound);
}

// Former fault: before each attempt that begins with a loop, the run of that
// loop was measured to its end to see whether the continuation could begin
// anywhere in it, even where it could at once: listing «\w@\w» (every
// character a matching) over one 100 KB line of word characters took 2.2 s.
TEST(MatcherWork, AttemptsDoNotMeasureTheLeadingRunWhereTheContinuationCanBegin) {
    const std::string line = WordBytes(20000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        Program program("\\w@\\w", mode);
        const ProgramInfo info = AnalyseProgram(program.get());
        GroupTable groups;
        const unsigned char* bytes = Bytes(line);
        ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(line.size()), bytes + 100,
                                 groups.data(), 0, -1, true),
                  kMatchFound);
        EXPECT_EQ(groups[64], 101);
        EXPECT_LE(CurrentMatchContext().loopPlaces, 4u);
    }
}

// Former fault: «\w+$» was tried at every word of a line that ends with a
// word character, each attempt measuring its word to learn it did not reach
// the line's end (835 M instructions over 8 MB of keyboard tables in
// character mode). Only the line's last run can hold a start that matches;
// it is found from the line's end, over characters outside ASCII too.
TEST(MatcherWork, ARunThatMustReachTheLineEndIsFoundFromTheLineEnd) {
    const std::string line = Repeated("w\xC3\xA4rme ", 3000) +
                             "gr\xC3\xBC\xC3\x9F"
                             "e";
    const auto length = static_cast<int32_t>(line.size());
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        Program program("\\w+$", mode);
        const ProgramInfo info = AnalyseProgram(program.get());
        GroupTable groups;
        const unsigned char* bytes = Bytes(line);
        ASSERT_EQ(ExecExpression(info, bytes, length, bytes, groups.data(), 0, -1, true),
                  kMatchFound);
        // Bytes mode takes only ASCII letters and digits for «\w».
        EXPECT_EQ(groups[0], mode == TextMode::kUtf8 ? length - 7 : length - 1);
        EXPECT_EQ(groups[64], length);
        EXPECT_LE(CurrentMatchContext().loopPlaces, 16u);
    }
}

// Former fault: going back from a required literal to the start of the loop
// run before it («\w+ing»), a character loop stopped at the first character
// outside ASCII and tried every start before it instead, measuring each word
// of the line up to the one that held the literal.
TEST(MatcherWork, TheRunBeforeARequiredLiteralIsFoundOverAnyCharacter) {
    const std::string line = Repeated("w\xC3\xA4rme ", 3000) + "gr\xC3\xB6\xC3\x9Fing.";
    Program program("\\w+ing", TextMode::kUtf8);
    const ProgramInfo info = AnalyseProgram(program.get());
    ASSERT_TRUE(info.requiredFollowsLeadingLoop);
    GroupTable groups;
    const unsigned char* bytes = Bytes(line);
    ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(line.size()), bytes, groups.data(),
                             1, -1, true),
              kMatchFound);
    EXPECT_EQ(groups[0], static_cast<int32_t>(line.size()) - 10);
    EXPECT_LE(CurrentMatchContext().loopPlaces, 16u);
}

// Former fault: a loop's measured run was kept for one case state, so where
// «\C?» before it lets a walk reach it in either, each arrival measured
// the run of a class again («\C?[^x]*\d[ ]?» over 100 KB: 2.0 s). Only a
// literal's run depends on the case state.
TEST(MatcherWork, AClassLoopReachedInEitherCaseStateMeasuresItsRunOnce) {
    const std::string line = MixedLine(20000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        WalksToFindNothing("\\C?[^x]*\\d[ ]?", line, mode, 1024, true);
        EXPECT_LE(CurrentMatchContext().loopPlaces, 8 * line.size());
    }
}

// Former fault: where the search limit cut a leading loop's run before any
// byte let its continuation begin, each start read the run to its cut again
// to decide the attempt could not match («[^x]*\d[ ]?» over 1 MB without a
// digit: 1.0 s).
TEST(MatcherWork, StartsInsideALeadingRunCutByTheLimitDoNotReadItAgain) {
    const std::string line = MixedLine(20000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression : {"[^x]*\\d[ ]?", "[^x]+\\d"}) {
            WalksToFindNothing(expression, line, mode, 1024, true);
            EXPECT_LE(CurrentMatchContext().loopPlaces, 4 * line.size()) << expression;
        }
    }
}

// Over one line of «a» and a space: `failing` (searched without the space)
// finds nothing and `pair` ends at the line's end, within a bounded number of
// loop places, with and without a search limit.
void ExpectEachRunScannedOnce(const char* failing, const char* pair) {
    const std::string line = std::string(20000, 'a') + " ";
    const unsigned char* bytes = Bytes(line);
    const auto length = static_cast<int32_t>(line.size());
    const uint64_t bound = 8u * static_cast<uint64_t>(length);  // a limit's worth per start before
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        Program failingProgram(failing, mode);
        const ProgramInfo failingInfo = AnalyseProgram(failingProgram.get());
        Program pairProgram(pair, mode);
        const ProgramInfo pairInfo = AnalyseProgram(pairProgram.get());
        for (const int32_t limit : {-1, 1000}) {
            GroupTable groups;
            EXPECT_EQ(ExecExpression(failingInfo, bytes, length - 1, bytes, groups.data(), 1, limit,
                                     true),
                      kNoMatch)
                << failing;
            EXPECT_LE(CurrentMatchContext().loopPlaces, bound) << failing << " limit " << limit;
            ASSERT_EQ(ExecExpression(pairInfo, bytes, length, bytes, groups.data(), 1, limit, true),
                      kMatchFound)
                << pair << " limit " << limit;
            EXPECT_LE(CurrentMatchContext().loopPlaces, bound) << pair << " limit " << limit;
            EXPECT_EQ(groups[0], limit < 0 ? 0 : length - limit);
            EXPECT_EQ(groups[64], length);
        }
    }
}

// Former fault: a lazy loop over one test scanned its run to the end from
// every start, trying the continuation at each place: quadratic in the run,
// with or without the memo («[ab]@b» over a 20 KB line of «a» 1.9 s, «b?[^x]#<»
// 4.4 s; with the default limit still 0.3 s, since each start saw an input
// end of its own). A failed loop now leaves its places behind for the next
// start; under the limit, only those whose tries did not meet the end.
TEST(MatcherWork, LazyLoopsDoNotScanTheirRunAgainFromEachStart) {
    // «\w\W» needs the byte after the last start's end: places whose tries
    // met that end are tried again by the next start.
    ExpectEachRunScannedOnce("b?[^x]#<", "[^x]@\\w\\W");
}

// Former fault: a greedy loop over one test kept the places where its
// continuation failed only while the memo was on, and a walk that met a
// search limit's cut end kept none: each start inside the run measured and
// scanned the rest of it again («$?{.*}[ ]#» over a 20 KB line of «a» without
// the limit 0.78 s; «.*[ ]+e» over 10 MB of prose with the default limit
// 0.58 s, 0.28 s now, against 0.19 s without the limit).
TEST(MatcherWork, GreedyLoopsDoNotScanTheirRunAgainFromEachStart) {
    ExpectEachRunScannedOnce("$?{.*}[ ]#", "[^x]*\\w\\W");
}

// Former fault: a loop nested in another kept the last run it measured only
// when the next one joined it; a run ended by a byte just before it (the «;»
// after a line of digits, the line break of a whole text) was measured again
// from every start further back: «.*\d*<» over an 80 KB line of digits and
// «;» without the limit took 5.1 s, «.*a*^» over 40 KB of «a» and a line
// break as a whole text 1.7 s. Both match the empty text at the start.
TEST(MatcherWork, ARunEndedBeforeTheLastOneMeasuredIsKept) {
    const std::string digits = std::string(20000, '1') + ";";
    const std::string letters = std::string(20000, 'a') + "\n";
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const auto& [expression, text, lineMode] :
             {std::tuple{".*\\d*<", digits, true}, std::tuple{".*a*^", letters, false}}) {
            SCOPED_TRACE(expression);
            Program program(expression, mode);
            const ProgramInfo info = AnalyseProgram(program.get());
            GroupTable groups;
            const unsigned char* bytes = Bytes(text);
            ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes,
                                     groups.data(), 0, -1, lineMode),
                      kMatchFound);
            EXPECT_EQ(groups[0], 0);
            EXPECT_EQ(groups[64], 0);
            EXPECT_LE(CurrentMatchContext().loopPlaces, 8 * text.size());
        }
    }
}

// Former fault: with the memo off, attempts that failed at the search
// limit's cut each read up to their own cut again, and only a run with the
// memo on took its starts in blocks that share a wider end. Since loops keep
// their continuation's failures, such runs walk too little to turn the memo
// on: «.*$b» over a 1 MB line with the default limit went from 0.06 to 0.19 s
// («\w+(:|{<=})» over hex digits took 0.15 s, now 0.002 s).
TEST(MatcherWork, AttemptsFailingAtTheirCutShareAWiderEnd) {
    const std::string line = HexDigits(100000);
    for (const char* expression : {".*$b", "\\w+(:|{<=})"}) {
        Program program(expression);
        const ProgramInfo info = AnalyseProgram(program.get());
        GroupTable groups;
        EXPECT_EQ(ExecExpression(info, Bytes(line), static_cast<int32_t>(line.size()), Bytes(line),
                                 groups.data(), 1, 1024, true),
                  kNoMatch);
        const MatchContext& m = CurrentMatchContext();
        // Without the blocks: 3 and 4 walks per byte.
        EXPECT_LE(m.runWalks, line.size() * 3 / 2) << expression;
    }
}

// Former fault: a search limit that ends every attempt before its line does,
// with a program that tells where its input ends («$», «>»), cost a limit's
// walks per start: «(\w\w\w)+$» with the default limit over a 100 KB line of
// word bytes took 10 s. Where the bytes from before a start to past its cut
// are all of one kind (ProgramInfo::byteKind), the attempt a byte on is the
// same one moved, so a failure stands for the starts after it.
TEST(MatcherWork, AttemptsTheLimitEndsInARunOfOneKindAreNotMadeAgain) {
    const std::string line = HexDigits(20000);
    for (const char* expression : {"(\\w\\w\\w)+$", "(\\w\\w\\w)*>", "{\\w\\w\\w}#$"}) {
        Program program(expression);
        const ProgramInfo info = AnalyseProgram(program.get());
        GroupTable groups;
        ASSERT_EQ(ExecExpression(info, Bytes(line), static_cast<int32_t>(line.size()), Bytes(line),
                                 groups.data(), 0, 1024, true),
                  kMatchFound)
            << expression;
        // The first start whose input, the line's end, is a multiple of 3.
        EXPECT_EQ(groups[0], static_cast<int32_t>(line.size()) - 1023) << expression;
        EXPECT_EQ(groups[64], static_cast<int32_t>(line.size())) << expression;
        // A limit's walks for the run's first start and for each of its last
        // limit's starts: 1,026 to 3,076 walks here, 6.5 to 19 million without.
        EXPECT_LE(CurrentMatchContext().runWalks, 4u * 1024) << expression;
    }
    // «^» holds at the text start only, whatever byte lies before it: there
    // the empty alternative is not reached, and the attempt ends.
    const std::string bytes = "aaaaaaa";
    Program program("{^|}.");
    const ProgramInfo info = AnalyseProgram(program.get());
    GroupTable groups;
    ASSERT_EQ(
        ExecExpression(info, Bytes(bytes) + 1, 6, Bytes(bytes) + 1, groups.data(), 0, 1, true),
        kMatchFound);
    EXPECT_EQ(groups[0], 1);
}

// Former fault: a program that can match empty read the rest of the line
// again in each search for the line's end, where other programs took it from
// the listing's line hint: listing «[^x]|^» (every byte a matching) over one
// 100 KB line took 0.66 s, now 0.01 s. The hint's line end is the one used.
TEST(MatcherWork, SearchesThatCanMatchEmptyTakeTheLineEndFromTheHint) {
    const std::string text = "aaaaaaaaaa\n";
    const unsigned char* bytes = Bytes(text);
    for (const char* expression : {"a*", "a@$"}) {
        Program program(expression);
        const ProgramInfo info = AnalyseProgram(program.get());
        ASSERT_TRUE(info.canMatchEmpty) << expression;
        LineHint hint;
        hint.from = bytes;
        hint.end = bytes + 5;  // as a search of this listing found it
        GroupTable groups;
        ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes + 4,
                                 groups.data(), 1, -1, true, {}, 0, &hint),
                  kMatchFound);
        EXPECT_EQ(groups[64], 5) << expression;
    }
}

// Former fault: each search of a listing started with an empty memo, so each
// matching walked again what the search for the one before it had found
// failing. The fuzzer's «(.*|||||||||||\xAA )*.» lists every character of a
// line, each search walking the whole rest of it: 8 s for 46 KB of 230-byte
// lines, now 0.05 s. Searches that pass the same line hint over the same
// text keep the memo.
TEST(MatcherWork, SearchesOfOneListingShareTheirFailures) {
    Program program("(.*|||||||||||\xAA )*.");
    ASSERT_TRUE(program);
    const ProgramInfo info = AnalyseProgram(program.get());
    std::string text;
    for (int i = 0; i < 10; ++i) {
        text += std::string(229, 'a' + i % 3) + "\n";
    }
    const unsigned char* bytes = Bytes(text);
    const auto length = static_cast<int32_t>(text.size());
    // Walks of all the searches, and the matchings, with a hint or without.
    auto list = [&](bool hinted, std::vector<int32_t>& ends) {
        LineHint hint;
        uint64_t walks = 0;
        uint64_t session = 0;
        uint64_t before = 0;
        GroupTable groups;
        for (int32_t from = 0; from < length;) {
            const int r = ExecExpression(info, bytes, length, bytes + from, groups.data(), 0, -1,
                                         true, {}, 0, hinted ? &hint : nullptr);
            const MatchContext& m = CurrentMatchContext();
            walks +=
                m.session.id != 0 && m.session.id == session ? m.runWalks - before : m.runWalks;
            session = m.session.id;
            before = m.runWalks;
            if (r != kMatchFound) {
                break;
            }
            ends.push_back(groups[64]);
            from = std::max(groups[64], groups[0] + 1);
        }
        return walks;
    };
    std::vector<int32_t> alone;
    std::vector<int32_t> shared;
    const uint64_t walksAlone = list(false, alone);
    const uint64_t walksShared = list(true, shared);
    EXPECT_EQ(shared, alone);
    EXPECT_EQ(alone.size(), 2290u);
    EXPECT_LT(walksShared * 20, walksAlone) << walksShared << " " << walksAlone;
}

// Former fault: a greedy one-test loop looked for its continuation's first
// literal byte with memrchr only when case counted; with the case ignored
// (the default) and a letter there, it tested every place of its run in
// turn. Listing «(.*x)?.» over one 80 KB line without an «x» took 19 s, each
// one-character matching testing the rest of the line; now 0.09 s.
TEST(MatcherWork, LoopsFindTheirContinuationsLetterInEitherCaseAtOnce) {
    const std::string line = Repeated("ab", 10000) + "X" + Repeated("ab", 10000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const int caseOption : {0, kCase}) {
            Program program("(.*x)?.", mode);
            const ProgramInfo info = AnalyseProgram(program.get());
            GroupTable groups;
            const unsigned char* bytes = Bytes(line);
            ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(line.size()), bytes,
                                     groups.data(), caseOption, -1, true),
                      kMatchFound);
            // Without case «.*x» takes the line up to its «X», then «.» one
            // more byte; with case only «.» matches.
            EXPECT_EQ(groups[64], caseOption == 0 ? 20002 : 1);
            EXPECT_LE(CurrentMatchContext().loopPlaces, 4u);
        }
    }
}

// Former fault: a greedy one-test loop looked at every place of its run for
// its continuation's first test before asking the memo whether the place
// was known to fail. Where that test passes nowhere, each walk reaching the
// loop tested the whole rest of the line again: «[^x]+.*\d» took 4.4 s on
// 32 KB (a place for every pair of bytes); known places are now passed over
// at once.
TEST(MatcherWork, LoopsPassOverKnownFailedPlacesAtOnce) {
    for (const char* expression : {"[^x]+.*\\d", "[^x]+.*\\U"}) {
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            for (const int32_t limit : {1024}) {
                SCOPED_TRACE(std::string(expression) + " limit " + std::to_string(limit));
                // Until the memo turns on, a fixed number of walks look at
                // their rest of the line: the places the next 20,000 bytes
                // add tell the growth.
                uint64_t places[2] = {};
                for (const int half : {0, 1}) {
                    WalksToFindNothing(expression, Repeated("ab", 10000 * (half + 1)), mode, limit,
                                       true);
                    places[half] = CurrentMatchContext().loopPlaces;
                }
                EXPECT_LE(static_cast<double>(places[1] - places[0]) / 20000.0, 16.0);
            }
        }
    }
}

// Former fault: a loop kept the places its continuation had failed at for
// one case state only. In «.+\C?.@^a» the lazy loop is reached with «\C»
// and without it from each place of «.+», so each arrival replaced what the
// other state had found and the loop tried its whole rest again: quadratic
// (20 KB: 8.1 s without the limit).
TEST(MatcherWork, LoopsKeepFailedPlacesForEitherCaseState) {
    const std::string line = MixedLine(2000);
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        for (const char* expression : {".+\\C?.@^a", ".+\\C?.*^a"}) {
            EXPECT_LE(WalksToFindNothing(expression, line, mode, -1, true), 1.0) << expression;
        }
    }
}

// Former fault: «|» after a loop applies to the loop's tail and is never
// reached (the jump back does not fall through to it), but a loop followed by
// one counted as more than a single test, so it nested a walk per pass and
// kept no failed places: where the program can tell its input end, each
// start under the search limit walked the limit's worth again («\w*|>?(a|b)$»
// over 100 KB of «a» and «b» as a whole text: 7.4 s).
TEST(MatcherWork, ALoopBeforeABarIsASingleTestLoop) {
    const ProgramInfo info = AnalyseProgram(Program("\\w*|>?(a|b)$").get());
    EXPECT_TRUE(info.byteLoop[0]);
    const std::string line = PairsLine(4000);
    for (const char* expression : {"\\w*|>?(a|b)$", "\\w+|>?(a|b)\\C$"}) {
        EXPECT_LE(WalksToFindNothing(expression, line, TextMode::kBytes, 1024, true), 1.0)
            << expression;
    }
}

// Former fault: «?» after another operator applies to its tail, which does
// nothing, and each further «?» nests in the one before: a chain of them made
// every pass of the loop before reach the rest through as many choices
// («[^x]+» and 106 «?» before «.*\xC2»: 0.27 s on 8 KB with the search
// limit). Such a «?» now goes straight to the one node all its choices
// reach, and the required literal looks past it.
TEST(MatcherWork, ChainsOfOptionalTailsAddNoWalks) {
    // «[^x]+?» was no loop over one test (the never-reached «?» after the
    // jump back hid it), so the ordinary walk nested a walk per pass: about
    // 290 bytes of walk stack per byte of the run, and a "Stack Overflow"
    // under the sanitizers past a few thousand bytes. A long line now takes
    // the loop's own path, with no more walks than without the chain.
    const std::string chain(106, '?');
    for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        WalksToFindNothing("[^x]+?\\d", Repeated("ab", 500), mode, -1, true);
        ASSERT_LE(CurrentMatchContext().runWalks, 4u);
        const std::string line = Repeated("ab", 50000);
        WalksToFindNothing("[^x]+?\\d", line, mode, -1, true);
        EXPECT_LE(CurrentMatchContext().runWalks, 4u);
        WalksToFindNothing("[^x]+.*\\d", line, mode, 1024, true);
        const uint64_t plain = CurrentMatchContext().runWalks;
        WalksToFindNothing("[^x]+" + chain + ".*\\d", line, mode, 1024, true);
        EXPECT_LE(CurrentMatchContext().runWalks, 2 * plain);
    }
    EXPECT_EQ(AnalyseProgram(Program("a+???.*x").get()).requiredLiteral, "x");
    EXPECT_EQ(AnalyseProgram(Program("ab??c").get()).requiredLiteral, "c");
}

// Former fault: «x||y» makes each further bar's operand the previous one's
// fallback, so a chain of empty alternatives falls back into the operand of
// the bar two on. Where a loop has passed at the current position and the
// loop group is too large to fold into columns («\C» doubles its slots),
// those walks are kept in the memo's table, which the fallback did not ask:
// each bar reached walked the rest of the chain again, quadratic in the bars
// (4,000 of them over 100 bytes: over 100 s; here 37 walks per byte and
// node).
TEST(MatcherWork, FallbacksIntoAChainOfEmptyAlternativesAreWalkedOnce) {
    const std::string expression = "{x|\\C" + std::string(100, '|') + "a@}*d";
    for (const uint32_t threshold : {0u, 2048u}) {
        CurrentMatchContext().memoThreshold = threshold;
        EXPECT_LE(WalksToFindNothing(expression, Repeated("xa", 8), TextMode::kBytes, -1, true),
                  8.0)
            << "memo after " << threshold;
    }
    CurrentMatchContext().memoThreshold = 2048;
}

// «(int)|(char)|…» is compared alternative by alternative without the
// ordinary walk (16 keywords over 60 MB of headers: 0.32 s, now 0.20 s). Only
// a chain of bare or bracketed literals and nothing else takes that path.
TEST(MatcherWork, LiteralAlternativesAreComparedInTurn) {
    const ProgramInfo keywords = AnalyseProgram(Program("(int)|{char}|(void)").get());
    ASSERT_EQ(keywords.literalAlternatives.size(), 3u);
    EXPECT_EQ(keywords.literalAlternatives[0].bytes, "int");
    EXPECT_EQ(keywords.literalAlternatives[0].group, 1);
    EXPECT_EQ(keywords.literalAlternatives[1].group, 0);
    EXPECT_EQ(keywords.literalAlternatives[2].bytes, "void");
    EXPECT_EQ(keywords.literalAlternatives[2].group, 2);
    for (const char* other : {"(int)|(char)x", "x(int)|(char)", "(in)t|(char)", "(int)|(ch*)",
                              "(int)|(char|x)", "(int)|", "(a(b))|(c)"}) {
        EXPECT_TRUE(AnalyseProgram(Program(other).get()).literalAlternatives.empty()) << other;
    }
    // The first alternative that stands at a start wins, as in the ordinary
    // walk; case is ignored unless asked for, and the limit cuts the input.
    Program program("(in)|(int)|(INTO)");
    const ProgramInfo info = AnalyseProgram(program.get());
    const std::string text = "x into";
    GroupTable groups;
    const unsigned char* bytes = Bytes(text);
    ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             0, -1, false),
              kMatchFound);
    EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups("0=2,4 1=2,4").data()));
    ASSERT_EQ(ExecExpression(info, bytes, static_cast<int32_t>(text.size()), bytes, groups.data(),
                             kCase, -1, false),
              kMatchFound);
    EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups("0=2,4 1=2,4").data()));
    ASSERT_EQ(ExecExpression(info, bytes + 2, 4, bytes + 2, groups.data(), 0, 1, false), kNoMatch);
}

}  // namespace
}  // namespace quarry
