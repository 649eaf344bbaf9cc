// quarry-cli: lists or replaces the matchings of a search expression in files
// or standard input, for scripts and the shell.
#include <signal.h>

#include <atomic>
#include <string>
#include <vector>

#include "cli/run.h"

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterrupt(int) {
    interrupted.store(true);
}

void InstallSignalHandlers() {
    struct sigaction previous {};
    sigaction(SIGINT, nullptr, &previous);
    // A shell that starts us in the background ignores SIGINT for us; keep it so.
    if (previous.sa_handler != SIG_IGN) {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        // The first Ctrl-C stops the search cleanly; a second one ends the
        // process at once, should the search not reach its next poll soon.
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, nullptr);
    }
    // A closed pipe shows up as EPIPE from write, reported like any failed write.
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    return quarry::cli::RunMain(args, quarry::cli::RunIo{}, interrupted);
}
