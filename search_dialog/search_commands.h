// The search commands' logic apart from any widget: option values, the next
// matching with its substitution, the bulk loops, and the status words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/expression.h"

namespace quarry {

class TextBuffer;

// The four commands of the dialog.
enum class Command { kSearch, kReplace, kReplaceAll, kListMatchings };

inline constexpr const char* kStatusNoDocument = "No active document";
inline constexpr const char* kStatusInvalid = "Invalid expression";
inline constexpr const char* kStatusSearching = "Searching...";
inline constexpr const char* kStatusReplacing = "Replacing...";
inline constexpr const char* kStatusListing = "Listing matchings...";
inline constexpr const char* kStatusReady = "Ready";
inline constexpr const char* kStatusNotFound = "No matching found";
inline constexpr const char* kStatusCancelled = "Cancelled";
inline constexpr const char* kStatusNotWritten = "No document changed";
inline constexpr const char* kStatusStackOverflow = "Stack Overflow";
inline constexpr const char* kStatusInvalidRewrite = "Invalid rewrite expression";

enum class BulkKind { List, ReplaceAll };

struct SearchOptions {
    bool matchCase = false;
    int32_t searchLimit = 1024;  // bytes one attempt may examine; negative: no limit
    bool lineMode = true;        // no matching crosses a line break
    bool newFile = true;         // bulk results go to a new document
};

// The search limit: the field read as a decimal integer the way atoi reads it
// (leading blanks, a sign, digits up to the first other character; nothing
// readable gives 0; values beyond 32 bits are clamped) when the box is ticked,
// -1 when it is not.
int32_t SearchLimitFrom(bool limitOn, std::string_view field);

struct NextMatching {
    int32_t start = -1;  // -1: none
    int32_t length = 0;
    SearchOutcome outcome = SearchOutcome::kNone;
};

// Searches text from the selection's end (the text's end when it lies beyond)
// and expands rewrite for what was found, or for no matching at all, into
// substitution. The texts searched here must be followed by a zero byte.
NextMatching FindNext(CExpression& expression, std::string_view text, int64_t selectionEnd,
                      const char* rewrite, TextBuffer& substitution, const SearchOptions& options);

// Line mode on several threads: the pattern the expression was compiled from
// (every thread compiles its own), the text mode, and who hears of progress
// and is polled for Cancel from all of them.
struct BulkThreads {
    const char* pattern = nullptr;
    TextMode mode = TextMode::kBytes;
    SearchHost* host = nullptr;
    int threads = 1;
    size_t stackBytes = 0;
    int32_t minPiece = 1 << 20;  // tests make it small to cut short texts
};

// Runs the list or replace-all loop over input into output. A listing ends
// each matching with `separator`: the line break of the text searched. With
// `threads` and line mode, large texts are cut at line starts and searched on
// several threads; the result is the same byte for byte.
LoopResult RunBulkLoop(CExpression& expression, std::string_view input, TextBuffer& output,
                       const char* rewrite, BulkKind kind, const SearchOptions& options,
                       std::string_view separator = "\r\n", const BulkThreads* threads = nullptr);

// What the status line reads while a command runs (empty: unchanged).
std::string RunningStatus(Command command);
// What it reads when the command ended. For Search, result is the start of
// the matching found or -1; for the bulk commands, the count.
std::string ResultStatus(Command command, bool cancelled, int32_t result);

}  // namespace quarry
