// The run of quarry-cli once its command line is known: read the input, list
// or replace on a thread with a large stack, write the result and the outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "search/text_buffer.h"

namespace quarry::cli {

inline constexpr int kExitMatched = 0;
inline constexpr int kExitNoMatching = 1;
inline constexpr int kExitError = 2;
inline constexpr int kExitInterrupted = 130;

inline constexpr int64_t kMaxInputBytes = kMaxTextBytes;

struct RunIo {
    int in = 0;
    int out = 1;
    int err = 2;
};

// Runs one listing or replace-all. interrupted is set from outside (the SIGINT
// handler); once it is, the search stops and nothing reaches io.out.
// Returns the exit status.
int Run(const CliOptions& options, const RunIo& io, const std::atomic<bool>& interrupted);

// Parses args (without the program name), handles --help, --version and usage
// errors, and runs. Returns the exit status.
int RunMain(const std::vector<std::string>& args, const RunIo& io,
            const std::atomic<bool>& interrupted);

// Writes all of data to fd, going on after partial writes and EINTR. Stops
// early when stopFlag is set. Returns 0 on success, else the errno value
// (EINTR when stopped by stopFlag).
int WriteAll(int fd, const char* data, size_t size, const std::atomic<bool>* stopFlag = nullptr);

}  // namespace quarry::cli
