// A set of walks known to fail, keyed by what their outcome depends on (node,
// position, case state, and the loops passed at that position). Nested loops
// over the same input can otherwise retry the same failing walk an
// exponential number of times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarry {

struct MemoKey {
    uint64_t walk;    // position, node and case state
    uint64_t passes;  // which loops were passed at that position on the path
    bool operator==(const MemoKey&) const = default;
};

class FailureMemo {
  public:
    // Forgets every key in constant time.
    void Clear() {
        if (used_ != 0) {
            ++generation_;
            used_ = 0;
        }
    }

    bool Contains(const MemoKey& key) const {
        if (slots_.empty()) {
            return false;
        }
        for (size_t i = Hash(key) & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.generation != generation_) {
                return false;
            }
            if (s.key == key) {
                return true;
            }
        }
    }

    // Adds a key; past its size cap the memo stops growing and simply
    // remembers less, which costs time but never changes a result.
    void Insert(const MemoKey& key) {
        if ((used_ + 1) * 2 > slots_.size() && !Grow()) {
            return;
        }
        for (size_t i = Hash(key) & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.generation != generation_) {
                s = {key, generation_};
                ++used_;
                return;
            }
            if (s.key == key) {
                return;
            }
        }
    }

  private:
    struct Slot {
        MemoKey key{0, 0};
        uint32_t generation = 0;
    };
    static constexpr size_t kMaxSlots = size_t{1} << 22;  // 96 MiB

    static size_t Hash(const MemoKey& key) {
        uint64_t h = key.walk ^ (key.passes * 0x9e3779b97f4a7c15ULL);
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return static_cast<size_t>(h);
    }

    bool Grow() {
        const size_t size = slots_.empty() ? 1024 : slots_.size() * 2;
        if (size > kMaxSlots) {
            return false;
        }
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(size, Slot{});
        mask_ = size - 1;
        const uint32_t live = generation_;
        generation_ = 1;
        used_ = 0;
        for (const Slot& s : old) {
            if (s.generation == live) {
                Insert(s.key);
            }
        }
        return true;
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t used_ = 0;
    uint32_t generation_ = 1;
};

}  // namespace quarry
