// The matcher recurses once per greedy repetition, so an unlimited search over
// a long text can need more stack than any thread has. These helpers give the
// matcher a floor to stop at and a thread with a stack large enough for
// ordinary searches over several megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quarry {

// The lowest address the matcher may use on the calling thread, leaving a
// margin for the callbacks and the unwinding. Computed once per thread.
uintptr_t CurrentStackFloor();

// Runs work on a new thread whose stack is stackBytes large and waits for it.
// Returns false (without running work) when no such thread could be made.
bool RunOnLargeStack(size_t stackBytes, const std::function<void()>& work);
// Runs work on up to `count` such threads at once and waits for them all;
// returns how many could be made.
int RunOnLargeStacks(size_t stackBytes, int count, const std::function<void()>& work);

inline constexpr size_t kSearchStackBytes = size_t{512} << 20;

// The stack the search threads get: kSearchStackBytes, unless the environment
// variable QUARRY_SEARCH_STACK_KIB names another size in KiB (at least 64),
// so that the end of the stack can be reached over a small text.
size_t SearchStackBytes();

}  // namespace quarry
