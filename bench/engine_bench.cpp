// The search core on the benchmark corpus (bench/make_corpus.py): compiling,
// a Find loop, List Matchings and Replace All, line by line and over the whole
// text, for the workloads people run with grep, sed and perl; each in byte
// mode and, with "/utf8" at the end of its name, in character mode.
//
// Corpus: the first argument left after the benchmark flags, else
// $QUARRY_CORPUS, else bench/corpus/corpus.txt in the source tree.
// Everything runs on one thread with the search stack, because the matcher
// nests one call per repetition.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "search/expression.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"

#ifndef QUARRY_SOURCE_DIR
#define QUARRY_SOURCE_DIR "."
#endif

namespace {

using quarry::CExpression;
using quarry::TextBuffer;
using quarry::TextMode;

struct Workload {
    const char* name;
    const char* pattern;
    const char* rewrite;
    bool matchCase;
    int32_t searchLimit;  // -1: none
    bool wholeText;       // false: this workload is measured in line mode only
};

constexpr int32_t kDefaultLimit = 1024;

// «<» and «>» alone are the word anchors, so the lazy span between tag
// brackets is written «\<.@\>». «.*x» without a limit over the whole text
// would nest once per byte of the corpus; it is a line-mode workload.
const Workload kWorkloads[] = {
    {"literal", "Holmes", "Watson", true, kDefaultLimit, true},
    {"literal_nocase", "holmes", "Watson", false, kDefaultLimit, true},
    {"word_ing", "\\w+ing", "<\\0>", true, kDefaultLimit, true},
    {"digits", "[0-9]+", "#", true, kDefaultLimit, true},
    {"key_value", "(\\w+)=(\\d+)", "\\2=\\1", true, kDefaultLimit, true},
    {"alternation", "(Tom)|(Sawyer)|(Finn)", "[\\0]", true, kDefaultLimit, true},
    {"alternation_nocase", "(Tom)|(Sawyer)|(Finn)|(Becky)", "[\\0]", false, kDefaultLimit, true},
    // Sixteen frequent words: many first bytes, so only a scan for the set
    // of their first bytes together stops rarely.
    {"word_set",
     "<{(the)|(and)|(of)|(to)|(in)|(that)|(was)|(he)|(it)|(his)|(with)|(had)|(as)|(for)|(you)|(but)"
     "}>",
     "", false, kDefaultLimit, true},
    {"lazy_span", "\\<.@\\>", "<>", true, kDefaultLimit, true},
    {"anchored", "^\\w+", "", true, kDefaultLimit, true},
    {"dot_star_x", ".*x", "x", true, -1, false},
};

TextBuffer* g_corpus = nullptr;

bool LoadCorpus(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    g_corpus = new TextBuffer(static_cast<int32_t>(bytes.size() + 1));
    return g_corpus->Append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void SetCounters(benchmark::State& state, int64_t matchings) {
    state.SetBytesProcessed(int64_t(state.iterations()) * g_corpus->Length());
    state.counters["matchings"] = static_cast<double>(matchings);
}

void CheckCompiled(benchmark::State& state, const CExpression& expression) {
    if (expression.m_nState != CExpression::kReady) {
        state.SkipWithError("the expression does not compile");
    }
}

void BM_Compile(benchmark::State& state, const Workload& w, TextMode mode) {
    for (auto _ : state) {
        CExpression expression(w.pattern, nullptr, mode);
        benchmark::DoNotOptimize(expression.m_pProgram);
    }
}

// Find from the end of each matching, as Search Next does; an empty matching
// steps one byte on.
void BM_FindLoop(benchmark::State& state, const Workload& w, bool lineMode, TextMode mode) {
    CExpression expression(w.pattern, nullptr, mode);
    CheckCompiled(state, expression);
    const char* text = g_corpus->Data();
    const int32_t length = g_corpus->Length();
    int64_t matchings = 0;
    for (auto _ : state) {
        matchings = 0;
        const char* from = text;
        while (from <= text + length) {
            const int32_t at =
                expression.Find(text, length, from, w.matchCase, w.searchLimit, lineMode);
            if (at < 0) {
                break;
            }
            ++matchings;
            const int32_t end = expression.GroupEnd(0);
            from = text + (end > at ? end : at + 1);
        }
        benchmark::DoNotOptimize(matchings);
    }
    SetCounters(state, matchings);
}

void BM_ListMatchings(benchmark::State& state, const Workload& w, bool lineMode, TextMode mode) {
    CExpression expression(w.pattern, nullptr, mode);
    CheckCompiled(state, expression);
    TextBuffer output(g_corpus->Length() + 3);
    int64_t matchings = 0;
    for (auto _ : state) {
        output.Clear();
        matchings =
            expression.ListMatchings(*g_corpus, output, w.matchCase, w.searchLimit, lineMode).count;
        benchmark::DoNotOptimize(output.Data());
    }
    SetCounters(state, matchings);
}

void BM_ReplaceAll(benchmark::State& state, const Workload& w, bool lineMode, TextMode mode) {
    CExpression expression(w.pattern, nullptr, mode);
    CheckCompiled(state, expression);
    TextBuffer output(g_corpus->Length() + 3);
    int64_t matchings = 0;
    for (auto _ : state) {
        output.Clear();
        matchings =
            expression
                .ReplaceAll(*g_corpus, output, w.rewrite, w.matchCase, w.searchLimit, lineMode)
                .count;
        benchmark::DoNotOptimize(output.Data());
    }
    SetCounters(state, matchings);
}

void RegisterAll() {
    for (TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
        const std::string modeName = mode == TextMode::kUtf8 ? "/utf8" : "";
        for (const Workload& w : kWorkloads) {
            const std::string name = w.name;
            benchmark::RegisterBenchmark(("Compile/" + name + modeName).c_str(), BM_Compile, w,
                                         mode);
            for (bool lineMode : {true, false}) {
                if (!lineMode && !w.wholeText) {
                    continue;
                }
                const std::string suffix = name + (lineMode ? "/line" : "/whole") + modeName;
                benchmark::RegisterBenchmark(("Find/" + suffix).c_str(), BM_FindLoop, w, lineMode,
                                             mode)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("ListMatchings/" + suffix).c_str(), BM_ListMatchings,
                                             w, lineMode, mode)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("ReplaceAll/" + suffix).c_str(), BM_ReplaceAll, w,
                                             lineMode, mode)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string path = std::string(QUARRY_SOURCE_DIR) + "/bench/corpus/corpus.txt";
    if (const char* env = std::getenv("QUARRY_CORPUS"); env && *env) {
        path = env;
    }
    if (argc > 1) {
        path = argv[1];
    }
    if (!LoadCorpus(path)) {
        std::fprintf(stderr,
                     "engine_bench: no corpus at %s; skipped. Make one with "
                     "bench/make_corpus.py [--size 10M] [PATH], or name it as the first "
                     "argument or in QUARRY_CORPUS.\n",
                     path.c_str());
        return 0;
    }
    RegisterAll();
    bool ran = quarry::RunOnLargeStack(quarry::kSearchStackBytes,
                                       [] { benchmark::RunSpecifiedBenchmarks(); });
    benchmark::Shutdown();
    if (!ran) {
        std::fprintf(stderr, "engine_bench: no thread with the search stack could be made\n");
        return 1;
    }
    return 0;
}
