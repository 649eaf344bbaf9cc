// Command line of quarry-cli: parsed into CliOptions without touching any file
// or stream, so that every rule can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarry::cli {

inline constexpr int32_t kDefaultSearchLimit = 1024;

struct CliOptions {
    std::string expression;
    // Set: Replace All with this rewrite expression; unset: List Matchings.
    std::optional<std::string> rewrite;
    bool matchCase = false;
    int32_t searchLimit = kDefaultSearchLimit;  // -1: no limit
    bool lineMode = true;                       // false with --match-linebreaks
    bool binaryJoin = false;                    // join several files untranslated
    bool crlfSeparators = false;                // a listing ends each matching with CR LF, not LF
    bool bytes = false;                         // byte mode: every byte a character
    int threads = 0;                            // line mode's threads; 0: one per core
    std::vector<std::string> files;             // none: standard input
};

enum class CliAction { kRun, kHelp, kVersion, kUsageError };

struct ParseResult {
    CliAction action = CliAction::kUsageError;
    CliOptions options;
    std::string error;  // for kUsageError: what was wrong, one line
};

// args are the arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

std::string UsageText();
std::string VersionText();

}  // namespace quarry::cli
