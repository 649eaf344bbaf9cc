#include "search/stack_guard.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>

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

bool RunOnLargeStack(size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_t thread;
    const bool made = pthread_attr_setstacksize(&attr, stackBytes) == 0 &&
                      pthread_create(
                          &thread, &attr,
                          [](void* arg) -> void* {
                              (*static_cast<const std::function<void()>*>(arg))();
                              return nullptr;
                          },
                          const_cast<std::function<void()>*>(&work)) == 0;
    pthread_attr_destroy(&attr);
    if (made) {
        pthread_join(thread, nullptr);
    }
    return made;
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
