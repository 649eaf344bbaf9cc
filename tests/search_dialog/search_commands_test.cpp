// The command logic without widgets: option values, the next matching with
// its substitution, the bulk loops and the status words.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <string>

#include "search/expression.h"
#include "search/text_buffer.h"
#include "search_dialog/search_commands.h"
#include "search_dialog/search_runner.h"

namespace quarry {
namespace {

void Fill(TextBuffer& buffer, const std::string& text) {
    buffer.Clear();
    buffer.Append(text.data(), int32_t(text.size()));
}

std::string_view View(const TextBuffer& buffer) {
    return std::string_view(buffer.Data(), size_t(buffer.Length()));
}

std::string Content(const TextBuffer& buffer) {
    return std::string(buffer.Data(), size_t(buffer.Length()));
}

TEST(SearchLimit, ReadLikeAtoiAndMinusOneWhenOff) {
    EXPECT_EQ(SearchLimitFrom(false, "1024"), -1);
    EXPECT_EQ(SearchLimitFrom(false, ""), -1);
    EXPECT_EQ(SearchLimitFrom(true, "1024"), 1024);
    EXPECT_EQ(SearchLimitFrom(true, ""), 0);
    EXPECT_EQ(SearchLimitFrom(true, "abc"), 0);
    EXPECT_EQ(SearchLimitFrom(true, "  42xyz"), 42);
    EXPECT_EQ(SearchLimitFrom(true, "-7"), -7);
    EXPECT_EQ(SearchLimitFrom(true, "99999999999999999999"), INT32_MAX);
}

TEST(StatusWords, ExactWordingAndCancelFirst) {
    EXPECT_EQ(RunningStatus(Command::kSearch), "Searching...");
    EXPECT_EQ(RunningStatus(Command::kReplace), "");
    EXPECT_EQ(RunningStatus(Command::kReplaceAll), "Replacing...");
    EXPECT_EQ(RunningStatus(Command::kListMatchings), "Listing matchings...");

    EXPECT_EQ(ResultStatus(Command::kSearch, false, 0), "Ready");
    EXPECT_EQ(ResultStatus(Command::kSearch, false, -1), "No matching found");
    EXPECT_EQ(ResultStatus(Command::kSearch, true, 5), "Cancelled");
    EXPECT_EQ(ResultStatus(Command::kReplace, false, 0), "Ready");
    EXPECT_EQ(ResultStatus(Command::kReplaceAll, false, 1), "1 matchings replaced");
    EXPECT_EQ(ResultStatus(Command::kReplaceAll, false, 0), "No matching found");
    EXPECT_EQ(ResultStatus(Command::kReplaceAll, true, 12), "Cancelled");
    EXPECT_EQ(ResultStatus(Command::kListMatchings, false, 3), "3 matchings listed");
    EXPECT_EQ(ResultStatus(Command::kListMatchings, false, 0), "No matching found");
    EXPECT_EQ(ResultStatus(Command::kListMatchings, true, 3), "Cancelled");
}

TEST(FindNext, SearchesForwardFromTheSelectionWithoutWrapping) {
    TextBuffer text;
    Fill(text, "x1 y2 x3");
    TextBuffer substitution;
    SearchOptions options;
    CExpression expression("x(\\d)");

    NextMatching found = FindNext(expression, View(text), 0, "<\\1>", substitution, options);
    EXPECT_EQ(found.start, 0);
    EXPECT_EQ(found.length, 2);
    EXPECT_EQ(Content(substitution), "<1>");

    found = FindNext(expression, View(text), 2, "<\\1>", substitution, options);
    EXPECT_EQ(found.start, 6);
    EXPECT_EQ(Content(substitution), "<3>");

    // Behind the last matching: nothing, although matchings lie before.
    found = FindNext(expression, View(text), 8, "<\\1>", substitution, options);
    EXPECT_EQ(found.start, -1);
    EXPECT_EQ(Content(substitution), "") << "a rewrite naming a group expands to nothing";
    // A selection beyond the text starts at its end.
    found = FindNext(expression, View(text), 500, "literal", substitution, options);
    EXPECT_EQ(found.start, -1);
    EXPECT_EQ(Content(substitution), "literal") << "a rewrite naming no group still expands";
}

TEST(FindNext, EmptyMatchingIsFoundAgainAtTheSamePlace) {
    TextBuffer text;
    Fill(text, "abc");
    TextBuffer substitution;
    CExpression expression("x*");
    const NextMatching first =
        FindNext(expression, View(text), 1, "", substitution, SearchOptions{});
    EXPECT_EQ(first.start, 1);
    EXPECT_EQ(first.length, 0);
    const NextMatching again = FindNext(expression, View(text), first.start + first.length, "",
                                        substitution, SearchOptions{});
    EXPECT_EQ(again.start, 1);
}

TEST(BulkLoop, ListsAndReplacesWithTheOptionsGiven) {
    TextBuffer input;
    Fill(input, "Ab ab\r\naB");
    SearchOptions options;
    options.matchCase = true;
    {
        CExpression expression("ab");
        TextBuffer output(input.Length() + 5);
        EXPECT_EQ(RunBulkLoop(expression, View(input), output, "", BulkKind::List, options).count,
                  1);
        EXPECT_EQ(Content(output), "ab\r\n");
    }
    options.matchCase = false;
    {
        CExpression expression("ab");
        TextBuffer output(input.Length() + 5);
        EXPECT_EQ(
            RunBulkLoop(expression, View(input), output, "X", BulkKind::ReplaceAll, options).count,
            3);
        EXPECT_EQ(Content(output), "X X\r\nX");
    }
    // Line mode keeps a matching from crossing the line break.
    {
        CExpression expression("b\\r\\na");
        TextBuffer output(input.Length() + 5);
        EXPECT_EQ(RunBulkLoop(expression, View(input), output, "", BulkKind::List, options).count,
                  0);
        options.lineMode = false;
        EXPECT_EQ(RunBulkLoop(expression, View(input), output, "", BulkKind::List, options).count,
                  1);
    }
}

TEST(SearchRunner, RunsOnALargeStackAndCancelsFromAnyThread) {
    SearchRunner runner;
    bool onOtherThread = false;
    bool pollBefore = false;
    bool pollAfter = true;
    ASSERT_TRUE(runner.Run([&] {
        onOtherThread = QThread::currentThread() != QCoreApplication::instance()->thread();
        pollBefore = runner.PollCancel();
        runner.RequestCancel();
        pollAfter = runner.PollCancel();
    }));
    EXPECT_TRUE(onOtherThread);
    EXPECT_TRUE(pollBefore);
    EXPECT_FALSE(pollAfter);
    EXPECT_TRUE(runner.CancelRequested());
    // A request stays until it is reset, also when made before a run.
    bool poll = true;
    ASSERT_TRUE(runner.Run([&] { poll = runner.PollCancel(); }));
    EXPECT_FALSE(poll);
    runner.ResetCancel();
    ASSERT_TRUE(runner.Run([&] { poll = runner.PollCancel(); }));
    EXPECT_TRUE(poll);
}

TEST(SearchRunner, MessagesFromTheSearchThreadAreShownOnTheUserInterfaceThread) {
    std::vector<std::string> shown;
    bool onUiThread = false;
    SetMessageHandler(OnUiThread([&](const std::string& text, const MessageTitle& title,
                                     const std::vector<std::string>&, int) {
        onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        shown.push_back(title.value_or("") + "|" + text);
        return int(IDOK);
    }));
    SearchRunner runner;
    int answer = 0;
    ASSERT_TRUE(runner.Run([&] { answer = ShowMessage(kStackOverflowText, kStackOverflowTitle); }));
    SetMessageHandler(nullptr);
    EXPECT_EQ(answer, IDOK);
    EXPECT_TRUE(onUiThread);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::string("Stack Overflow|") + kStackOverflowText);
}

TEST(SearchRunner, ProgressArrivesOnTheReceiversThreadOncePerChange) {
    SearchRunner runner;
    std::vector<int> seen;
    QObject receiver;
    QObject::connect(&runner, &SearchRunner::Progress, &receiver, [&](int p) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        seen.push_back(p);
    });
    ASSERT_TRUE(runner.Run([&] {
        for (int p : {0, 0, 10, 10, 10, 55, 100}) {
            runner.ReportProgress(p);
        }
    }));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (std::vector<int>{0, 10, 55, 100}));
}

}  // namespace
}  // namespace quarry
