#include "search/expression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "search/stack_guard.h"
#include "test_support.h"
#include "tests/support/slow_build.h"

namespace quarry {
namespace {

std::string Content(const TextBuffer& b) {
    return std::string(b.Data(), b.Length());
}

void Fill(TextBuffer& b, const std::string& s) {
    b.Clear();
    ASSERT_TRUE(b.Append(s.data(), static_cast<int32_t>(s.size())));
}

struct Options {
    bool matchCase = false;
    int32_t limit = 1024;
    bool lineMode = true;
};

int32_t FindIn(const char* pattern, const std::string& text, Options o = {}, size_t from = 0) {
    CExpression e(pattern);
    return e.Find(text.data(), static_cast<int32_t>(text.size()), text.data() + from, o.matchCase,
                  o.limit, o.lineMode);
}

struct Listing {
    int32_t count;
    std::string output;
    SearchOutcome outcome;
};

Listing List(const char* pattern, const std::string& text, Options o = {}) {
    CExpression e(pattern);
    TextBuffer in, out;
    Fill(in, text);
    const LoopResult r = e.ListMatchings(in, out, o.matchCase, o.limit, o.lineMode);
    return {r.count, Content(out), r.outcome};
}

Listing Replace(const char* pattern, const char* rewrite, const std::string& text, Options o = {}) {
    CExpression e(pattern);
    TextBuffer in, out;
    Fill(in, text);
    const LoopResult r = e.ReplaceAll(in, out, rewrite, o.matchCase, o.limit, o.lineMode);
    return {r.count, Content(out), r.outcome};
}

constexpr Options kWholeText{false, 1024, false};
constexpr Options kWholeTextNoLimit{false, -1, false};

// --- Find: whole text and line mode ---

TEST(Find, EmptyText) {
    EXPECT_EQ(FindIn("x*", "", kWholeText), 0) << "position 0 is tried in whole-text mode";
    EXPECT_EQ(FindIn("x*", ""), -1) << "line mode gives up at once";
}

TEST(Find, LineModeNeverCrossesALineBreak) {
    const std::string crlf = "ab\r\ncd";
    EXPECT_EQ(FindIn("b\\r\\nc", crlf), -1);
    EXPECT_EQ(FindIn("b\\r\\nc", crlf, kWholeText), 1);

    const std::string lf = "ab\ncd";
    EXPECT_EQ(FindIn("^c", lf), -1) << "«^» holds only at the start of the whole text";
    EXPECT_EQ(FindIn("^a", lf), 0);
    EXPECT_EQ(FindIn("b$", lf), 1) << "«$» holds at every line end";
    EXPECT_EQ(FindIn("b$", lf, kWholeText), -1);
    EXPECT_EQ(FindIn("d$", lf, kWholeText), 4);
}

TEST(Find, LineModeStartsWithTheRestOfTheCurrentLine) {
    const std::string text = "xab\r\n\r\nab";
    EXPECT_EQ(FindIn("ab", text, {}, 2), 7) << "the first line searched is the rest of line 1";
    EXPECT_EQ(FindIn("<ab", text, {}, 1), 7);
    EXPECT_EQ(FindIn("ab", text, {}, 4), 7) << "a start between CR and LF moves to the next line";
    EXPECT_EQ(FindIn("ab", text, {}, text.size()), -1);
}

TEST(Find, InvalidExpressionFindsNothing) {
    for (const char* bad : {"", "*a", "()", "[a-", "\\x4"}) {
        CExpression e(bad);
        EXPECT_EQ(e.m_nState, CExpression::kInvalid) << bad;
        EXPECT_EQ(e.m_pProgram, nullptr);
        const std::string text = "abc";
        EXPECT_EQ(e.Find(text.data(), 3, text.data(), false, -1, false), -1) << bad;
    }
    EXPECT_EQ(CExpression("a").m_nState, CExpression::kReady);
}

TEST(Find, SearchLimitCapsTheMatchingLength) {
    const Listing l = List("a.*b", "a123b a1234567b ab", {false, 5, false});
    EXPECT_EQ(l.output, "a123b\r\nab\r\n");
    EXPECT_EQ(l.count, 2);
    EXPECT_EQ(List("a.*b", "a123b a1234567b ab", {false, -1, false}).output,
              "a123b a1234567b ab\r\n");
}

// --- ListMatchings ---

TEST(ListMatchings, EachMatchingOnALineOfItsOwn) {
    const Listing l = List("a+", "xaaybz a");
    EXPECT_EQ(l.count, 2);
    EXPECT_EQ(l.output, "aa\r\na\r\n");
    EXPECT_EQ(List("a.*", "ab\r\ncd a").output, "ab\r\na\r\n");
}

TEST(ListMatchings, LineModeOverEveryKindOfLineBreak) {
    // Several matchings in one line, lines without the «=» every matching
    // needs, and CR LF, LF, CR and LF CR breaks before the lines that have it.
    const std::string text = "a=1 b=2 c=3\r\nxx\nno\r\ny=3\rno\n\rz=4 q\r\n\r\nzz=44";
    const Listing l = List("(\\w+)=(\\d+)", text);
    EXPECT_EQ(l.count, 6);
    EXPECT_EQ(l.output, "a=1\r\nb=2\r\nc=3\r\ny=3\r\nz=4\r\nzz=44\r\n");
    const Listing r = Replace("(\\w+)=(\\d+)", "\\2:\\1", text);
    EXPECT_EQ(r.count, 6);
    EXPECT_EQ(r.output, "1:a 2:b 3:c\r\nxx\nno\r\n3:y\rno\n\r4:z q\r\n\r\n44:zz");
    // A matching needs its whole literal within one line.
    EXPECT_EQ(List("b=\\d", "ab=\n5 b=6").output, "b=6\r\n");
}

TEST(ListMatchings, EmptyMatchingIsCountedAndEndsTheList) {
    const Listing first = List("a*", "baa");
    EXPECT_EQ(first.count, 1);
    EXPECT_EQ(first.output, "");
    const Listing later = List("a*", "aab");
    EXPECT_EQ(later.count, 2);
    EXPECT_EQ(later.output, "aa\r\n");
}

TEST(ListMatchings, MatchingEndingInCrGetsItsOwnLf) {
    const Listing l = List("x\\r", "x\r\n", kWholeText);
    EXPECT_EQ(l.output, "x\r\n\r\n");
    EXPECT_EQ(l.count, 1);
}

TEST(ListMatchings, NoMatchingLeavesOutputUntouched) {
    CExpression e("q");
    TextBuffer in, out;
    Fill(in, "abc");
    Fill(out, "keep");
    EXPECT_EQ(e.ListMatchings(in, out, false, 1024, true).count, 0);
    EXPECT_EQ(Content(out), "keep");
}

// --- ReplaceAll ---

TEST(ReplaceAll, ReplacesEveryMatchingAndCopiesTheRest) {
    EXPECT_EQ(Replace("o", "0", "foo").output, "f00");
    EXPECT_EQ(Replace("o", "0", "foo").count, 2);
    const Listing swapped = Replace("(\\w+)=(\\d+)", "\\2=\\1", "width=80\nname=x\r\nh=7 end");
    EXPECT_EQ(swapped.output, "80=width\nname=x\r\n7=h end");
    EXPECT_EQ(swapped.count, 2);
}

TEST(ReplaceAll, EmptyFirstMatchingIsCountedAndNothingReplaced) {
    const Listing l = Replace("x*", "Y", "abc");
    EXPECT_EQ(l.count, 1);
    EXPECT_EQ(l.output, "abc");
}

TEST(ReplaceAll, UnsetGroupGivesAnEmptyReplacement) {
    EXPECT_EQ(Replace("(a)|(b)", "[\\1]", "ab-").output, "[a]-");
    EXPECT_EQ(Replace("b", "x\\", "abc").output, "ac") << "an invalid rewrite deletes";
}

TEST(ReplaceAll, EmptyInputLeavesOutputUntouched) {
    CExpression e("x*");
    TextBuffer in, out;
    Fill(out, "keep");
    EXPECT_EQ(e.ReplaceAll(in, out, "y", false, 1024, false).count, 0);
    EXPECT_EQ(Content(out), "keep");
}

TEST(ReplaceAll, NoMatchingCopiesTheWholeText) {
    const Listing l = Replace("q", "z", "abc\r\n");
    EXPECT_EQ(l.count, 0);
    EXPECT_EQ(l.output, "abc\r\n");
}

// --- Rewrite ---

TEST(Rewrite, AfterAFailedFindOnlyLiteralRewritesExpand) {
    CExpression e("(q)");
    const std::string text = "abc";
    ASSERT_EQ(e.Find(text.data(), 3, text.data(), false, -1, false), -1);
    TextBuffer out;
    e.Rewrite("lit\\n", out);
    EXPECT_EQ(Content(out), "lit\n");
    e.Rewrite("x\\1", out);
    EXPECT_EQ(Content(out), "") << "the output is emptied first";
}

TEST(Rewrite, BeforeAnyFindGivesNothing) {
    CExpression e("a");
    TextBuffer out;
    Fill(out, "old");
    e.Rewrite("literal", out);
    EXPECT_EQ(Content(out), "");
}

// --- cancel and progress ---

TEST(Cancel, ReplaceAllKeepsTheReplacedPartAndTheUntouchedRest) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "ab\n";
    }
    test::RecordingHost host(1500);
    CExpression e("a", &host);
    TextBuffer in, out;
    Fill(in, text);
    const int32_t count = e.ReplaceAll(in, out, "X", false, 1024, true).count;
    const std::string result = Content(out);
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 2000);
    ASSERT_EQ(result.size(), text.size());
    EXPECT_EQ(std::count(result.begin(), result.end(), 'X'), count);
    const size_t firstUntouched = result.find('a');
    ASSERT_NE(firstUntouched, std::string::npos);
    EXPECT_EQ(result.rfind('X'), firstUntouched - 3) << "replacements form one leading run";
    EXPECT_EQ(result.substr(firstUntouched), text.substr(firstUntouched));
}

TEST(Cancel, StopsListingAtTheNextPoll) {
    test::RecordingHost host(0);
    CExpression e(".", &host);
    TextBuffer in, out;
    Fill(in, "abc\ndef");
    const LoopResult r = e.ListMatchings(in, out, false, 1024, true);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.outcome, SearchOutcome::kCancelled) << "line mode polls before line 1";
    test::RecordingHost wholeText(0);
    CExpression w("z.[q]", &wholeText);
    Fill(in, "abz zq");
    EXPECT_EQ(w.Find(in.Data(), in.Length(), in.Data(), false, -1, false), -1);
    EXPECT_EQ(wholeText.polls, 1) << "no attempt after the poll that cancels";
}

TEST(Progress, WholeTextReportsEachGrowingPercentageOnce) {
    test::RecordingHost host;
    CExpression e("a.[^a]", &host);
    const std::string text(1000, 'a');
    EXPECT_EQ(e.Find(text.data(), 1000, text.data(), false, -1, false), -1);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_LE(host.progress.size(), 100u);
    EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end()));
    EXPECT_EQ(std::adjacent_find(host.progress.begin(), host.progress.end()), host.progress.end());
    EXPECT_EQ(host.progress.front(), 1) << "0 % is never reported";
    EXPECT_EQ(host.progress.back(), 99) << "the last attempt starts at offset 999";
}

TEST(Progress, LineModeReportsAgainstTheWholeText) {
    test::RecordingHost host;
    CExpression e("[a-i].q", &host);
    std::string text;
    for (int i = 0; i < 50; ++i) {
        // Each line holds the q and starts nine attempts that fail only at
        // the q's place; attempts are what report progress.
        text += "abcdefghi  q\n";
    }
    EXPECT_EQ(e.Find(text.data(), static_cast<int32_t>(text.size()), text.data(), false, -1, true),
              -1);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_TRUE(std::is_sorted(host.progress.begin() + 1, host.progress.end()));
    EXPECT_GE(host.progress.back(), 95);
    EXPECT_LE(host.progress.back(), 100);
    // The first line's percentages shrink to whole-text ones: line 1 ends at
    // offset 13 of 650, so nothing above 1 % can come from it.
    EXPECT_LE(host.progress.front(), 1);
}

// --- stack exhaustion ---

TEST(StackGuard, ExhaustedStackIsAnOutcomeAndTheCoreShowsNoMessage) {
    test::MessageRecorder recorder;
    const std::string text(4 << 20, 'a');
    SearchOutcome outcome = SearchOutcome::kFound;
    int32_t found = 0;
    ASSERT_TRUE(RunOnLargeStack(size_t{2} << 20, [&] {
        CExpression e("(.|{..})*");
        const auto length = static_cast<int32_t>(text.size());
        outcome = e.Search(text.data(), length, text.data(), false, -1, false);
        found = e.Find(text.data(), length, text.data(), false, -1, false);
    }));
    EXPECT_EQ(outcome, SearchOutcome::kStackExhausted);
    EXPECT_EQ(found, -1);
    EXPECT_TRUE(recorder.messages.empty()) << "the front ends say it, once";
}

// Former fault: the loops ended at the exhausted search as if nothing more
// was there, so a result whose tail was never searched passed for the whole.
TEST(StackGuard, BulkOperationsReportTheExhaustedStackInsteadOfAPartialResult) {
    test::MessageRecorder recorder;
    const std::string text = "ab ab " + std::string(4 << 20, 'a');
    Listing replaced{}, listed{};
    ASSERT_TRUE(RunOnLargeStack(size_t{2} << 20, [&] {
        replaced = Replace("a([ab]|{ab})*", "<\\0>", text, kWholeTextNoLimit);
        listed = List("a([ab]|{ab})*", text, kWholeTextNoLimit);
    }));
    EXPECT_EQ(replaced.outcome, SearchOutcome::kStackExhausted);
    EXPECT_EQ(replaced.count, 2);
    EXPECT_EQ(listed.outcome, SearchOutcome::kStackExhausted);
    EXPECT_EQ(listed.count, 2);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST(StackGuard, SearchThreadHasRoomForMegabytesOfUnlimitedMatching) {
    test::MessageRecorder recorder;
#if QUARRY_SLOW_BUILD
    // Instrumented and unoptimised frames are several times larger.
    const std::string text(512 << 10, 'a');
#else
    const std::string text(2 << 20, 'a');
#endif
    int32_t end = 0;
    ASSERT_TRUE(RunOnLargeStack(kSearchStackBytes, [&] {
        CExpression e(".*");
        ASSERT_EQ(
            e.Find(text.data(), static_cast<int32_t>(text.size()), text.data(), false, -1, false),
            0);
        end = e.GroupEnd(0);
    }));
    EXPECT_EQ(end, static_cast<int32_t>(text.size()));
    EXPECT_TRUE(recorder.messages.empty());
}

}  // namespace
}  // namespace quarry
