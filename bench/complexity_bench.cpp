// Expressions that take exponential time in a plain backtracking matcher, over
// growing runs of «a» without a search limit: the time per search must grow
// polynomially (Google Benchmark fits the curve and prints it as BigO). Each
// run of «a» ends in bytes that make every attempt fail late but hold the
// literal the expression needs, so that every start position is tried and
// backtracks over the rest of the run. Then how long Cancel takes to stop a
// search that would run for hours.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/matcher.h"
#include "search/expression.h"
#include "search/host.h"
#include "search/stack_guard.h"

namespace {

using quarry::CExpression;
using Clock = std::chrono::steady_clock;

// Each search from the text start, as Search Next does; none of them finds a
// matching, so every attempt runs to its end.
struct Case {
    const char* pattern;
    const char* tail;
};
const Case kCases[] = {{"(a*)*b", "xb"}, {"(a|aa)*c", "xc"}, {"(\\w+\\s?)*$", "!"}};

std::string Text(int64_t runLength, const Case& c) {
    return std::string(static_cast<size_t>(runLength), 'a') + c.tail;
}

void BM_NestedLoops(benchmark::State& state, const Case& c) {
    const std::string text = Text(state.range(0), c);
    const char* pattern = c.pattern;
    CExpression expression(pattern);
    int32_t found = 0;
    for (auto _ : state) {
        found = expression.Find(text.data(), static_cast<int32_t>(text.size()), text.data(), true,
                                -1, false);
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = found;
    state.counters["text_bytes"] = static_cast<double>(text.size());
    state.SetComplexityN(state.range(0));
}

// One line of up to a megabyte that no matching fits, searched in line mode
// with the default search limit (1024) and without one: backtracking that
// the limit cuts short must stay linear in the line's length too. The memo's
// storage after the search is reported as memo_bytes.
struct LineCase {
    const char* pattern;
    char fill;  // 'h': random hexadecimal digits, 'w': random word bytes, 'r': random «a» and
                // «b», 'p': «ab ab …», 'c': «ab!cab!c…», else that byte
    // Searched as one text: «$» then holds only after the line break, at the
    // text end, where an empty matching is found after every other start
    // has failed.
    bool wholeText = false;
};
const LineCase kLineCases[] = {
    // A line without «:» or «=» is ruled out at once; with an alternative
    // that begins with a zero-width test, each start walks.
    {"\\w+(:|=)", 'h'},
    {"\\w+(:|{<=})", 'h'},
    {"(\\w+)+\\s", 'w'},
    {"(a+)+[!]", 'a'},
    {"{a*}*{a*}*[!]", 'a'},
    {"(\\w*)*$", 'a', true},
    {"(\\w+\\s?)*$", 'a', true},
    {"(a|aa)*c", 'a'},
    {"{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*[!]",
     'a'},
    // A class every matching passes is scanned for, and a line without it is
    // ruled out («{!|=}» too): with an alternative that begins with a
    // zero-width test there, the walks and the memo do all the work.
    {"(a+)+{!|{<=}}", 'a'},
    {"{a*}*{a*}*{!|{<=}}", 'a'},
    {"{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*{a*}*"
     "{!|{<=}}",
     'a'},
    // Rows of «{a*}*» walk as one «a*»; groups that capture keep every loop,
    // and so do loops over other bytes between them.
    {"(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*(a*)*"
     "{!|{<=}}",
     'a'},
    {"{a*}*{b*}*{a*}*{b*}*{a*}*{b*}*{a*}*{b*}*{!|{<=}}", 'a'},
    // «$» with the limit: each cut start sees an input end of its own.
    {".*$b", 'w'},
    {"(\\w+)+$b", 'w'},
    {"(ab )+$", 'p'},
    {"(\\w+ )+$", 'p'},
    // A loop that must end exactly at the limit's cut, which no start's can
    // (1024 is no multiple of 3), over bytes no test tells apart.
    {"(\\w\\w\\w)+$", 'w'},
    // «^» holds at the text start only: every other start fails.
    {"(\\w+)+>^b@", 'w'},
    // A loop whose continuation's first test passes nowhere.
    {"[^x]+.*\\d", 'a'},
    // A nested loop's run that the line break ends: measured once, not again
    // from every start further back.
    {".*a*^", 'a', true},
    // Attempts that «{a|}» ends after a loop over a group of one-character
    // choices, which walks as a loop over one test.
    {"(a|b)+{a|}(a)@(a)", 'r'},
    {"(a|b)*[ab]|{a|}#[^x]+(a)+", 'r'},
    // «\d» is passed every way through, though «?» runs on into a bar.
    {"\\C?|(\\w+)+.?\\d+${a*}|", 'r'},
    // Nested loops over groups before «{a|}»: with the limit, each start's
    // walks near its own cut are its own.
    {"(a?)?(\\w+)@(\\w+)*(a?)@{a|}?(a)+", 'r'},
    {"(\\w+)+{\\c|a}?{a|}+(a|\\w)+{ab}", 'r'},
    // A loop over a group whose every pass ends the attempt from inside the
    // passes around it («{a|b|}» after the loop): without the limit one
    // attempt leaves more such walks than the memo's table holds; with it,
    // each start still walks the loop pass by pass up to its own cut.
    {"(\\w\\w)+{a|b|}?(\\w\\w)", 'r'},
    // Loops that run from every start to its cut, where a missing alternative
    // then ends the attempt short of it: a pass that ended its attempt
    // through a later pass leads later attempts there at once.
    {"[^x]?{a?b?}+{a|b|}#.|\\s+", 'r'},
    {"{a|}\\s|(a|\\w)+{a|b|}|\\w*((a)+)+", 'r'},
    // A chain of bars in a loop's pass comes down to the few walks it
    // reaches.
    {"{.!|||||||||||||||||||||||b)+{a|}(a)", 'c'},
};

std::string Line(int64_t length, char fill) {
    std::string line(static_cast<size_t>(length), fill);
    uint32_t seed = 12345;
    const char* alphabet =
        fill == 'h' ? "0123456789abcdef" : "abcdefghijklmnopqrstuvwxyz0123456789";
    const uint32_t size = fill == 'h' ? 16 : 36;
    if (fill == 'h' || fill == 'w') {
        for (char& c : line) {
            seed = seed * 1664525u + 1013904223u;
            c = alphabet[(seed >> 16) % size];
        }
    }
    if (fill == 'r') {
        for (char& c : line) {
            seed = seed * 1664525u + 1013904223u;
            c = "ab"[(seed >> 16) % 2];
        }
    }
    if (fill == 'p') {
        // «ab ab ab …», ending in a byte no «… $» above can end with.
        for (size_t i = 0; i < line.size(); ++i) {
            line[i] = "ab "[i % 3];
        }
        line.back() = 'b';
    }
    if (fill == 'c') {
        for (size_t i = 0; i < line.size(); ++i) {
            line[i] = "ab!c"[i % 4];
        }
    }
    // «$» holds only at the text end, after the line break.
    return line + "\n";
}

void BM_LongLine(benchmark::State& state, const LineCase& c, int32_t limit) {
    const std::string text = Line(state.range(0), c.fill);
    CExpression expression(c.pattern);
    // The memo keeps its storage from one search to the next: this row's
    // figure starts from none.
    quarry::CurrentMatchContext().failures = quarry::FailureMemo{};
    int32_t found = 0;
    for (auto _ : state) {
        found = expression.Find(text.data(), static_cast<int32_t>(text.size()), text.data(), false,
                                limit, !c.wholeText);
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = found;
    state.counters["memo_bytes"] =
        static_cast<double>(quarry::CurrentMatchContext().failures.MemoryBytes());
    state.SetComplexityN(state.range(0));
}

class TimedCancel : public quarry::SearchHost {
  public:
    bool PollCancel() override { return !cancelled.load(std::memory_order_relaxed); }
    void ReportProgress(int) override {}
    std::atomic<bool> cancelled{false};
};

// A search that would take hours (every start position of a megabyte, each
// walking the rest of the text) is cancelled after 50 ms; the time from the
// cancel to the search's return is the latency reported.
void BM_CancelLatency(benchmark::State& state, const Case& c) {
    const std::string text = Text(1 << 20, c);
    const char* pattern = c.pattern;
    double worstMs = 0;
    for (auto _ : state) {
        TimedCancel host;
        CExpression expression(pattern, &host);
        Clock::time_point cancelledAt;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            cancelledAt = Clock::now();
            host.cancelled.store(true);
        });
        const int32_t found = expression.Find(text.data(), static_cast<int32_t>(text.size()),
                                              text.data(), true, -1, false);
        const Clock::time_point returned = Clock::now();
        canceller.join();
        const double ms = std::chrono::duration<double, std::milli>(returned - cancelledAt).count();
        state.SetIterationTime(ms / 1000.0);
        worstMs = std::max(worstMs, ms);
        benchmark::DoNotOptimize(found);
    }
    state.counters["worst_ms"] = worstMs;
}

// Long expressions: compiling and analysing one, as the dialog does before a
// command, must grow about linearly with its length (up to the fields'
// 32,767 characters).
struct ExpressionShape {
    const char* name;
    const char* piece;
    const char* tail;
};
const ExpressionShape kShapes[] = {
    {"bars", "a|", "b"},
    {"optional", "a?", ""},
    {"loops", "a*", "b"},
    {"nested-loops", "{a*}*", "[!]"},
    {"alternatives", "{ab|c}", ""},
};

void BM_Compile(benchmark::State& state, const ExpressionShape& shape) {
    std::string pattern;
    while (pattern.size() < static_cast<size_t>(state.range(0))) {
        pattern += shape.piece;
    }
    pattern += shape.tail;
    for (auto _ : state) {
        CExpression expression(pattern.c_str());
        benchmark::DoNotOptimize(&expression);
    }
    state.SetComplexityN(state.range(0));
}

void RegisterAll() {
    for (const ExpressionShape& shape : kShapes) {
        benchmark::RegisterBenchmark((std::string("Compile/") + shape.name).c_str(), BM_Compile,
                                     shape)
            ->RangeMultiplier(4)
            ->Range(512, 32 << 10)
            ->Unit(benchmark::kMillisecond)
            ->Complexity();
    }
    for (const LineCase& c : kLineCases) {
        for (const int32_t limit : {1024, -1}) {
            const std::string name =
                std::string("LongLine/") + c.pattern + (limit < 0 ? "/no-limit" : "/limit-1024");
            benchmark::RegisterBenchmark(name.c_str(), BM_LongLine, c, limit)
                ->RangeMultiplier(4)
                ->Range(1 << 10, 1 << 20)
                ->Unit(benchmark::kMillisecond)
                ->Complexity();
        }
    }
    for (const Case& c : kCases) {
        const std::string pattern = c.pattern;
        benchmark::RegisterBenchmark(("NestedLoops/" + pattern).c_str(), BM_NestedLoops, c)
            ->RangeMultiplier(2)
            ->Range(32, 8 << 10)
            ->Unit(benchmark::kMillisecond)
            ->Complexity();
        benchmark::RegisterBenchmark(("CancelLatency/" + pattern).c_str(), BM_CancelLatency, c)
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RegisterAll();
    const bool ran = quarry::RunOnLargeStack(quarry::kSearchStackBytes,
                                             [] { benchmark::RunSpecifiedBenchmarks(); });
    benchmark::Shutdown();
    if (!ran) {
        std::fprintf(stderr, "complexity_bench: no thread with the search stack could be made\n");
        return 1;
    }
    return 0;
}
