// Line mode on several threads against one CExpression loop on one thread:
// the same bytes, count and outcome, wherever the text is cut.
#include "search/parallel_search.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "search/stack_guard.h"
#include "test_support.h"

namespace quarry {
namespace {

std::string Printable(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    }
    return out;
}

struct Outcome {
    LoopResult result;
    std::string output;
};

Outcome OneThread(const LineModeJob& job, const std::string& text) {
    CExpression expression(job.pattern);
    TextBuffer out;
    const auto length = static_cast<int32_t>(text.size());
    LoopResult r = job.rewrite != nullptr
                       ? expression.ReplaceAll(text.c_str(), length, out, job.rewrite,
                                               job.matchCase, job.searchLimit, true)
                       : expression.ListMatchings(text.c_str(), length, out, job.matchCase,
                                                  job.searchLimit, true, job.separator);
    return {r, std::string(out.Data(), size_t(out.Length()))};
}

Outcome Threads(const LineModeJob& job, const std::string& text, int threads,
                SearchHost* host = nullptr, size_t stack = size_t{8} << 20) {
    TextBuffer out;
    LoopResult r = RunLineModeJob(job, text.c_str(), static_cast<int32_t>(text.size()), out, host,
                                  threads, stack);
    return {r, std::string(out.Data(), size_t(out.Length()))};
}

// Texts of a few letters and every kind of line break, cut into pieces of a
// few bytes, so that cuts fall next to every kind of line and matching.
TEST(ParallelLineMode, GivesTheOneThreadResultWhereverTheTextIsCut) {
    const char* patterns[] = {"a+", "(a|b)c*", "\\w+", "$", "x*",      "^a",  "a?",    "<b",
                              "c>", "[^a]+",   "b@c",  ".", "(a)(b)?", "\\s", "\\w*$", "b*$"};
    const char* rewrites[] = {nullptr, "[\\0]", "\\U\\0", ""};
    const char alphabet[] = {'a', 'b', 'c', ' ', '\n', '\r'};
    std::mt19937 random(12345);
    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i) {
            text += alphabet[random() % sizeof alphabet];
        }
        LineModeJob job;
        job.pattern = patterns[random() % std::size(patterns)];
        job.rewrite = rewrites[random() % std::size(rewrites)];
        job.separator = random() % 2 ? "\r\n" : "\n";
        job.searchLimit = random() % 3 == 0 ? 3 : -1;
        job.matchCase = random() % 2 == 0;
        job.minPiece = 1 + static_cast<int32_t>(random() % 8);
        const Outcome one = OneThread(job, text);
        const Outcome many = Threads(job, text, 2 + static_cast<int>(random() % 3));
        SCOPED_TRACE(std::string("«") + job.pattern + "» over \"" + Printable(text) +
                     "\", pieces of " + std::to_string(job.minPiece));
        EXPECT_EQ(many.output, one.output);
        EXPECT_EQ(many.result.count, one.result.count);
        EXPECT_EQ(many.result.outcome, one.result.outcome);
        EXPECT_EQ(many.result.emptyAt, one.result.emptyAt);
        ++compared;
    }
    EXPECT_EQ(compared, 400);
}

TEST(ParallelLineMode, CutsOnlyWhereALineBeginsAfterABreak) {
    const std::string text = "ab\r\ncd\n\nef\rgh\r\n\r\nij";
    const auto cuts = LineStartCuts(text.c_str(), static_cast<int32_t>(text.size()), 1);
    EXPECT_EQ(cuts, (std::vector<int32_t>{4, 8, 11, 17}));
    EXPECT_TRUE(LineStartCuts("no break at all", 15, 1).empty());
}

// A piece that runs out of stack fails the whole run, as one thread's would,
// and a piece before it is not reported as cancelled.
TEST(ParallelLineMode, AFailingPieceFailsTheRunAndCancellingStopsIt) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "ab ab\n";
    }
    text += std::string(1 << 20, 'a') + "\n";
    LineModeJob job;
    job.pattern = "(a|b)(a|b|{ab})*";
    job.minPiece = 64;
    const Outcome many = Threads(job, text, 3, nullptr, size_t{1} << 20);
    EXPECT_EQ(many.result.outcome, SearchOutcome::kStackExhausted);

    test::RecordingHost cancelling(3);
    job.pattern = "a";
    text = std::string(4000, 'a') + "\n";
    for (int i = 0; i < 200; ++i) {
        text += "a\n";
    }
    job.minPiece = 16;
    const Outcome cancelled = Threads(job, text, 2, &cancelling);
    EXPECT_EQ(cancelled.result.outcome, SearchOutcome::kCancelled);
}

std::atomic<int> newPieceBlocks{0};

// The blocks of a piece's size (over 8 KiB) that TextBuffers take new while
// run runs.
int NewPieceBlocksDuring(const std::function<void()>& run) {
    auto* const previous = textBufferAllocator;
    newPieceBlocks = 0;
    textBufferAllocator = [](void* block, size_t bytes) -> void* {
        if (block == nullptr && bytes > 8192) {
            ++newPieceBlocks;
        }
        return std::realloc(block, bytes);
    };
    run();
    textBufferAllocator = previous;
    return newPieceBlocks.load();
}

// Former fault: each piece of a Replace All on several threads wrote into a
// buffer of its own, so the whole result was written twice in fresh pages
// (a page fault every 4 KiB) before the join; on a 100 MB text that cost a
// third more than one thread. Pieces joined now hand their buffers on.
TEST(ParallelLineMode, PiecesWriteIntoTheBuffersOfPiecesAlreadyJoined) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "key" + std::to_string(i) + "=" + std::to_string(i * 7) + "\n";
    }
    const auto length = static_cast<int32_t>(text.size());
    LineModeJob job;
    job.pattern = "(\\w+)=(\\d+)";
    job.rewrite = "\\2=\\1";
    job.minPiece = 1024;
    // Two threads cut the text into 16 pieces, each far longer than the
    // small buffers a piece's loop makes for itself.
    const int32_t piece = length / 16;
    ASSERT_GE(LineStartCuts(text.c_str(), length, piece).size(), 15u);
    ASSERT_GT(piece, 8192);
    // A stack too small for any thread: the pieces run one after the other
    // on this one, as when no thread can be made, which makes the count
    // exact (threads running ahead of a slow piece need buffers of their
    // own until it is joined).
    Outcome many;
    EXPECT_EQ(NewPieceBlocksDuring([&] { many = Threads(job, text, 2, nullptr, 1); }), 1)
        << "one for all the pieces";
    EXPECT_EQ(many.output, OneThread(job, text).output);
}

// A result for a sink (quarry-cli writing to a file) is made piece by piece
// on one thread too: one loop filled a copy of the whole result in fresh
// pages before any of it went out (a Replace All over 100 MB: 25,600 page
// faults). The sink gets the one loop's bytes in order, from one buffer.
TEST(ParallelLineMode, OneThreadWithASinkMakesTheResultPieceByPiece) {
    std::mt19937 random(777);
    const char* patterns[] = {"a+", "\\w+", "$", "x*", "^a", "b*$", "c>"};
    const char* rewrites[] = {nullptr, "[\\0]", ""};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i) {
            text += "abc \n\r"[random() % 6];
        }
        LineModeJob job;
        job.pattern = patterns[random() % std::size(patterns)];
        job.rewrite = rewrites[random() % std::size(rewrites)];
        job.minPiece = 1 + static_cast<int32_t>(random() % 8);
        std::string sunk;
        job.sink = [&](const char* data, size_t size) {
            sunk.append(data, size);
            return true;
        };
        const Outcome one = OneThread(job, text);
        const Outcome piecewise = Threads(job, text, 1);
        SCOPED_TRACE(std::string("«") + job.pattern + "» over \"" + Printable(text) + "\"");
        // A text too short to cut goes into the output, as one loop's result.
        EXPECT_EQ(sunk + piecewise.output, one.output);
        EXPECT_TRUE(sunk.empty() || piecewise.output.empty());
        EXPECT_EQ(piecewise.result.count, one.result.count);
        EXPECT_EQ(piecewise.result.outcome, one.result.outcome);
    }

    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "key" + std::to_string(i) + "=" + std::to_string(i * 7) + "\n";
    }
    LineModeJob job;
    job.pattern = "(\\w+)=(\\d+)";
    job.rewrite = "\\2=\\1";
    job.minPiece = 1024;
    size_t sunk = 0;
    job.sink = [&](const char*, size_t size) {
        sunk += size;
        return true;
    };
    Outcome piecewise;
    EXPECT_EQ(NewPieceBlocksDuring([&] { piecewise = Threads(job, text, 1); }), 1)
        << "one for all the pieces";
    EXPECT_EQ(sunk, text.size());
    EXPECT_EQ(piecewise.result.count, 20000);
}

}  // namespace
}  // namespace quarry
