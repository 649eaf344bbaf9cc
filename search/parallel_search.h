// List Matchings and Replace All in line mode on several threads. Line mode
// searches every line on its own, so a large text can be cut at line starts
// and its pieces searched at the same time; the pieces' results, joined in
// order, are byte for byte what one thread gives, with the same count and
// outcome.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "search/expression.h"
#include "search/host.h"
#include "search/text_buffer.h"

namespace quarry {

struct LineModeJob {
    const char* pattern = nullptr;
    TextMode mode = TextMode::kBytes;
    bool matchCase = false;
    int32_t searchLimit = -1;
    const char* rewrite = nullptr;  // null: List Matchings
    std::string_view separator = "\r\n";
    // Pieces are at least this long, so that a small text stays on one thread
    // (tests make it small to cut short texts too).
    int32_t minPiece = 1 << 20;
    // When set, the joined result goes here piece after piece, in order, as
    // soon as each piece and all before it have run, instead of into the
    // output (which then only gets a result made on one thread). Returning
    // false ends the run as kOutputShort.
    std::function<bool(const char* data, size_t size)> sink;
};

// Runs the job over text[0, length) (followed by a zero byte) on up to
// `threads` threads, each with a stack of stackBytes, appending the result to
// output. host may be null; it is polled and told of progress from several
// threads at once. With threads < 2 it runs on the calling thread: piece
// after piece when the job has a sink, else (as for a text too short to cut)
// as one CExpression loop.
LoopResult RunLineModeJob(const LineModeJob& job, const char* text, int32_t length,
                          TextBuffer& output, SearchHost* host, int threads, size_t stackBytes);

// Where to cut: the places after a line break at which a line begins, about
// `piece` bytes apart. Each is a position p with a CR or LF before it and
// neither at p, so that no piece ends inside a CR LF pair or a line.
std::vector<int32_t> LineStartCuts(const char* text, int32_t length, int32_t piece);

}  // namespace quarry
