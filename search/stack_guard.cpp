#include "search/stack_guard.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace quarry {
namespace {

// Room left below the floor for the callbacks the matcher makes, the signal
// handlers and, in instrumented builds, the larger frames.
constexpr size_t kMinMargin = size_t{256} << 10;

uintptr_t ComputeFloor() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) {
        return 0;
    }
    void* low = nullptr;
    size_t size = 0;
    const int r = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (r != 0 || low == nullptr) {
        return 0;
    }
    // The main thread's reported size follows the resource limit, which may be
    // unlimited; never trust more than the stack we actually look at.
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const auto base = reinterpret_cast<uintptr_t>(low);
    if (here <= base) {
        return 0;
    }
    const uintptr_t usable = here - base;
    const uintptr_t margin = std::max<uintptr_t>(kMinMargin, usable / 16);
    return usable > margin ? base + margin : here;
}

}  // namespace

uintptr_t CurrentStackFloor() {
    thread_local const uintptr_t floor = ComputeFloor();
    return floor;
}

int RunOnLargeStacks(size_t stackBytes, int count, const std::function<void()>& work) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return 0;
    }
    std::vector<pthread_t> threads;
    if (pthread_attr_setstacksize(&attr, stackBytes) == 0) {
        for (int i = 0; i < count; ++i) {
            pthread_t thread;
            if (pthread_create(
                    &thread, &attr,
                    [](void* arg) -> void* {
                        (*static_cast<const std::function<void()>*>(arg))();
                        return nullptr;
                    },
                    const_cast<std::function<void()>*>(&work)) != 0) {
                break;
            }
            threads.push_back(thread);
        }
    }
    pthread_attr_destroy(&attr);
    for (pthread_t thread : threads) {
        pthread_join(thread, nullptr);
    }
    return static_cast<int>(threads.size());
}

bool RunOnLargeStack(size_t stackBytes, const std::function<void()>& work) {
    return RunOnLargeStacks(stackBytes, 1, work) == 1;
}

size_t SearchStackBytes() {
    const char* kib = std::getenv("QUARRY_SEARCH_STACK_KIB");
    if (kib == nullptr || *kib == 0) {
        return kSearchStackBytes;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(kib, &end, 10);
    if (*end != 0 || value < 64 || value > (kSearchStackBytes >> 10)) {
        return kSearchStackBytes;
    }
    return static_cast<size_t>(value) << 10;
}

}  // namespace quarry
