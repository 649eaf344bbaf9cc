#include "cli/options.h"

#include <cstddef>
#include <limits>
#include <string_view>

#ifndef QUARRY_VERSION
#define QUARRY_VERSION "unknown"
#endif

namespace quarry::cli {

namespace {

// A decimal number from 0 to INT32_MAX, digits only: "12x", "", "-1" and
// "+5" are refused rather than read as far as they go.
std::optional<int32_t> ParseLimit(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<int32_t>(value);
}

ParseResult Failure(std::string message) {
    ParseResult result;
    result.action = CliAction::kUsageError;
    result.error = std::move(message);
    return result;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& options = result.options;
    size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            ++i;
            break;
        }
        // "-" alone is an ordinary argument; so is everything after the first
        // argument that does not start with '-'.
        if (arg.size() < 2 || arg[0] != '-') {
            break;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = std::string_view(arg).substr(0, eq);
                inlineValue = std::string_view(arg).substr(eq + 1);
            }
        }
        const bool takesValue = name == "--limit" || name == "--rewrite" || name == "--threads";
        if (inlineValue && !takesValue) {
            return Failure("option '" + std::string(name) + "' takes no value");
        }
        std::string_view value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return Failure("option '" + std::string(name) + "' needs a value");
            }
        }

        if (name == "--help" || name == "-h") {
            result.action = CliAction::kHelp;
            return result;
        }
        if (name == "--version" || name == "-V") {
            result.action = CliAction::kVersion;
            return result;
        }
        if (name == "--rewrite") {
            options.rewrite = std::string(value);
        } else if (name == "--limit") {
            std::optional<int32_t> limit = ParseLimit(value);
            if (!limit) {
                return Failure("option '--limit' needs a number from 0 to 2147483647, not '" +
                               std::string(value) + "'");
            }
            options.searchLimit = *limit;
        } else if (name == "--threads") {
            std::optional<int32_t> threads = ParseLimit(value);
            if (!threads || *threads < 1 || *threads > 256) {
                return Failure("option '--threads' needs a number from 1 to 256, not '" +
                               std::string(value) + "'");
            }
            options.threads = *threads;
        } else if (name == "--no-limit") {
            options.searchLimit = -1;
        } else if (name == "--match-case") {
            options.matchCase = true;
        } else if (name == "--match-linebreaks") {
            options.lineMode = false;
        } else if (name == "--binary") {
            options.binaryJoin = true;
        } else if (name == "--lf") {
            // LF is the separator already; kept so that older command lines run.
        } else if (name == "--crlf") {
            options.crlfSeparators = true;
        } else if (name == "--bytes") {
            options.bytes = true;
        } else {
            return Failure("unknown option '" + std::string(name) + "'");
        }
    }
    if (i >= args.size()) {
        return Failure("missing EXPRESSION");
    }
    options.expression = args[i++];
    options.files.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    result.action = CliAction::kRun;
    return result;
}

std::string UsageText() {
    return "Usage: quarry-cli [OPTION]... [--] EXPRESSION [FILE]...\n"
           "Lists every matching of the search EXPRESSION, one per line, or with --rewrite\n"
           "replaces every matching and prints the whole transformed text.\n"
           "\n"
           "Input: one FILE is searched as its exact bytes; without FILE, standard input.\n"
           "Several FILEs are joined into one text, each file's content followed by one LF.\n"
           "\n"
           "Options (all before EXPRESSION; '--' ends them):\n"
           "  --rewrite TEXT, --rewrite=TEXT\n"
           "                      Replace All with the rewrite expression TEXT\n"
           "                      (without it: List Matchings, each matching then LF)\n"
           "  --match-case        letters match with case (default: case is ignored)\n"
           "  --limit N, --limit=N\n"
           "                      one match attempt examines at most N bytes (default 1024)\n"
           "  --no-limit          no search-depth limit\n"
           "  --match-linebreaks  search the whole text at once, so that matchings may span\n"
           "                      line breaks (default: line by line)\n"
           "  --binary            join several FILEs untranslated, NUL bytes becoming spaces\n"
           "                      (default: text mode, CR LF read as LF, a byte 0x1A ends\n"
           "                      the file)\n"
           "  --crlf              end each listed matching with CR LF instead of LF\n"
           "  --bytes             byte mode: every byte is a character, for 8-bit text\n"
           "                      (default: UTF-8 characters; a byte that does not begin\n"
           "                      a valid UTF-8 character is a character of its own)\n"
           "  --lf                accepted for older command lines; LF is the default\n"
           "  --threads N, --threads=N\n"
           "                      search a large text line by line on N threads (default:\n"
           "                      one per core); the result is the same as on one\n"
           "  -h, --help          show this help and exit\n"
           "  -V, --version       show the version and exit\n"
           "\n"
           "Standard output gets the listing or the transformed text, written only once the\n"
           "whole result is ready: nothing when the search fails or is interrupted. An\n"
           "interrupt or a failure while the result is being written stops the writing,\n"
           "so the output then holds only its beginning (exit status 130 or 2 says so);\n"
           "a regular file written at its end ('>' or '>>', standard error elsewhere) is\n"
           "cut back to where the result began instead. A line-mode result goes to such\n"
           "a file piece by piece during the search, on one thread or several, and is\n"
           "cut back the same way should the run fail or be interrupted.\n"
           "Standard error gets the outcome (\"3 matchings listed\", \"No matching found\",\n"
           "\"Invalid expression\", \"Cancelled\") and any message.\n"
           "\n"
           "Exit status: 0 at least one matching, 1 none, 2 invalid expression or rewrite\n"
           "expression, bad command line, unreadable input, a search that ran out of stack\n"
           "or a result too large for memory (nothing is written then), failed output; 130\n"
           "interrupted (Ctrl-C).\n";
}

std::string VersionText() {
    return std::string("quarry-cli ") + QUARRY_VERSION + "\n";
}

}  // namespace quarry::cli
