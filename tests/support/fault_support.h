// Faults on demand for the tests: failing buffer growth, permissions that
// hold even for root, a file-size limit that makes writes fail as on a full
// disk. Each is undone when its scope ends.
#pragma once

#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "search/text_buffer.h"

namespace quarry::test {

// While in scope, every TextBuffer block asked for beyond `largest` bytes is
// refused: growing blocks only, or new blocks too. Counts the refusals.
class FailingGrowth {
  public:
    enum Scope { kGrowthOnly, kNewBlocksToo };
    explicit FailingGrowth(size_t largest, Scope scope = kGrowthOnly)
        : previous_(textBufferAllocator) {
        Largest() = largest;
        NewBlocksToo() = scope == kNewBlocksToo;
        Refused() = 0;
        textBufferAllocator = [](void* block, size_t bytes) -> void* {
            if (bytes > Largest() && (block != nullptr || NewBlocksToo())) {
                ++Refused();
                return nullptr;
            }
            return std::realloc(block, bytes);
        };
    }
    ~FailingGrowth() { textBufferAllocator = previous_; }
    FailingGrowth(const FailingGrowth&) = delete;
    FailingGrowth& operator=(const FailingGrowth&) = delete;

    static int refused() { return Refused(); }

  private:
    static std::atomic<size_t>& Largest() {
        static std::atomic<size_t> largest{0};
        return largest;
    }
    static std::atomic<bool>& NewBlocksToo() {
        static std::atomic<bool> newBlocksToo{false};
        return newBlocksToo;
    }
    static std::atomic<int>& Refused() {
        static std::atomic<int> refused{0};
        return refused;
    }
    BlockAllocator previous_;
};

// Root passes every permission check through CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH. Capabilities belong to a thread: this takes both out
// of the calling thread's effective set (they stay permitted, so the scope's
// end puts them back). For other users it changes nothing.
class PermissionsHoldForRoot {
  public:
    PermissionsHoldForRoot() {
        if (geteuid() != 0 || !Get(saved_)) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = Set(reduced);
    }
    ~PermissionsHoldForRoot() {
        if (active_) {
            Set(saved_);
        }
    }
    PermissionsHoldForRoot(const PermissionsHoldForRoot&) = delete;
    PermissionsHoldForRoot& operator=(const PermissionsHoldForRoot&) = delete;

    // False when running as root and the capabilities could not be dropped:
    // then permission tests can't fail the way they should.
    bool holds() const { return geteuid() != 0 || active_; }

  private:
    static bool Get(__user_cap_data_struct* data) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return syscall(SYS_capget, &header, data) == 0;
    }
    static bool Set(__user_cap_data_struct* data) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return syscall(SYS_capset, &header, data) == 0;
    }
    __user_cap_data_struct saved_[2] = {};
    bool active_ = false;
};

// Files of the process can't grow beyond `bytes` while in scope: writes past
// it fail with EFBIG, as on a full disk (SIGXFSZ, which would end the
// process, is ignored meanwhile).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool holds() const { return active_; }

  private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
    bool active_ = false;
};

}  // namespace quarry::test
