#include "search_dialog/search_commands.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "search/expression.h"
#include "search/parallel_search.h"
#include "search/text_buffer.h"

namespace quarry {

int32_t SearchLimitFrom(bool limitOn, std::string_view field) {
    if (!limitOn) {
        return -1;
    }
    size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (field[i] - '0'), int64_t{1} << 32);
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

NextMatching FindNext(CExpression& expression, std::string_view text, int64_t selectionEnd,
                      const char* rewrite, TextBuffer& substitution, const SearchOptions& options) {
    const auto length = int32_t(text.size());
    const int64_t from = std::clamp<int64_t>(selectionEnd, 0, length);
    // Searching from the text's end makes no attempt and so leaves the groups
    // alone: start from none, or the substitution would repeat an old one.
    expression.ClearGroups();
    NextMatching found;
    found.outcome = expression.Search(text.data(), length, text.data() + from, options.matchCase,
                                      options.searchLimit, options.lineMode);
    if (found.outcome == SearchOutcome::kFound) {
        found.start = expression.GroupStart(0);
        found.length = expression.GroupEnd(0) - expression.GroupStart(0);
    } else {
        expression.ClearGroups();
    }
    // Also without a matching: a rewrite that names no group still expands.
    expression.Rewrite(rewrite, substitution);
    return found;
}

LoopResult RunBulkLoop(CExpression& expression, std::string_view input, TextBuffer& output,
                       const char* rewrite, BulkKind kind, const SearchOptions& options,
                       std::string_view separator, const BulkThreads* threads) {
    const auto length = int32_t(input.size());
    // A text too short to cut stays with the expression already compiled,
    // rather than the job's compiling it again.
    if (options.lineMode && threads != nullptr && threads->threads > 1 &&
        threads->pattern != nullptr && int64_t{length} >= 2 * int64_t{threads->minPiece}) {
        LineModeJob job;
        job.pattern = threads->pattern;
        job.mode = threads->mode;
        job.matchCase = options.matchCase;
        job.searchLimit = options.searchLimit;
        job.rewrite = kind == BulkKind::ReplaceAll ? rewrite : nullptr;
        job.separator = separator;
        job.minPiece = threads->minPiece;
        return RunLineModeJob(job, input.data(), length, output, threads->host, threads->threads,
                              threads->stackBytes);
    }
    if (kind == BulkKind::List) {
        return expression.ListMatchings(input.data(), length, output, options.matchCase,
                                        options.searchLimit, options.lineMode, separator);
    }
    return expression.ReplaceAll(input.data(), length, output, rewrite, options.matchCase,
                                 options.searchLimit, options.lineMode);
}

std::string RunningStatus(Command command) {
    switch (command) {
        case Command::kSearch:
            return kStatusSearching;
        case Command::kReplaceAll:
            return kStatusReplacing;
        case Command::kListMatchings:
            return kStatusListing;
        case Command::kReplace:
            break;
    }
    return {};
}

std::string ResultStatus(Command command, bool cancelled, int32_t result) {
    if (command == Command::kReplace) {
        return kStatusReady;
    }
    if (cancelled) {
        return kStatusCancelled;
    }
    switch (command) {
        case Command::kSearch:
            return result >= 0 ? kStatusReady : kStatusNotFound;
        case Command::kReplaceAll:
            return result < 1 ? std::string(kStatusNotFound)
                              : std::to_string(result) + " matchings replaced";
        case Command::kListMatchings:
            return result > 0 ? std::to_string(result) + " matchings listed"
                              : std::string(kStatusNotFound);
        case Command::kReplace:
            break;
    }
    return {};
}

}  // namespace quarry
