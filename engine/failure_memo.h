// Failed walks of one search, kept across its attempts, keyed by what a
// walk's outcome depends on: node, position, case state, the loops whose
// latest pass on the path stands at that position (only those the walk can
// reach before it consumes a byte), and, when the walk met the input end,
// that end. Without the memo, nested loops over the same input retry the same
// failing walks a polynomial or exponential number of times.
//
// Most failures go into bit sets over position x column, one bit each, a
// column standing for a node, a case state and the passes of a small loop
// group (see ProgramInfo::memoColumn): one set for failures that did not
// meet the input end, one for those that met the end many attempts share,
// and the same two for walks that ended their attempt.
// The rest go into a hash table. Both have a size cap: past it the memo
// forgets and starts over, which costs time but never changes a result.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

namespace quarry {

class FailureMemo {
  public:
    // Tag of a failure that holds whatever the input end.
    static constexpr uint32_t kAnyEnd = UINT32_MAX;

    // Readies the memo for a run: positions from `base` on, `columns` bits
    // per position, keys of the table carrying `passWords` words of loop
    // passes.
    void Start(uint64_t base, size_t columns, size_t passWords) {
        for (Sets& sets : sets_) {
            sets.plain.Reset(base, std::max<size_t>(columns, 1));
            sets.atEnd.Reset(base, std::max<size_t>(columns, 1));
            sets.atEndTag = kAnyEnd;
        }
        const size_t stride = 2 + std::max<size_t>(passWords, 1);
        if (stride != stride_) {
            table_.clear();
            stride_ = stride;
            mask_ = 0;
        }
        passWords_ = stride_ - 2;
        lookups_ = 0;
        ClearTable();
    }

    size_t PassWords() const { return passWords_; }

    // Forgets every failure kept, for walks that will see a lower input end
    // than the ones that failed, where failing says nothing.
    void Forget() {
        for (Sets& sets : sets_) {
            sets.plain.ClearFrom(0);
            sets.atEnd.ClearFrom(0);
            sets.atEndTag = kAnyEnd;
        }
        ClearTable();
    }

    // What the bit sets hold: failed walks, or walks with a column that
    // ended their attempt («{a|}» met its left alternative), each in sets of
    // their own. In the table, a line of nested loops that each end so
    // filled it past its cap within one attempt, and the next attempts walked
    // the rest of the line again.
    enum class Kind { kFailed = 0, kEndedAttempt = 1 };

    // The bit sets' part: walks without loop passes that did not meet the
    // input end, and those that met it, for one input end at a time.
    bool HasPlain(uint64_t pos, uint32_t column, Kind kind = Kind::kFailed) const {
        return SetsOf(kind).plain.Has(pos, column);
    }

    // floor: no walk of the search looks below this position any more, so
    // the bit sets may drop what lies below it to make room.
    void AddPlain(uint64_t pos, uint32_t column, uint64_t floor, Kind kind = Kind::kFailed) {
        SetsOf(kind).plain.Add(pos, column, floor, bitsCap);
    }

    // The tag of the input end the walks that met it hold for.
    uint32_t AtEndTag(Kind kind = Kind::kFailed) const { return SetsOf(kind).atEndTag; }
    bool HasAtEnd(uint64_t pos, uint32_t column, Kind kind = Kind::kFailed) const {
        return SetsOf(kind).atEnd.Has(pos, column);
    }

    // A walk that met input end `end`; those kept for another end at or
    // above the floor are forgotten.
    void AddAtEnd(uint64_t pos, uint32_t column, uint32_t end, uint64_t floor,
                  Kind kind = Kind::kFailed) {
        Sets& sets = SetsOf(kind);
        if (end != sets.atEndTag) {
            sets.atEnd.ClearFrom(floor);
            sets.atEndTag = end;
        }
        sets.atEnd.Add(pos, column, floor, bitsCap);
    }

    // The table's part. walk: position, node and case state; passes:
    // PassWords() words. Sets `end` to the entry's input-end tag.
    bool Find(uint64_t walk, const uint64_t* passes, uint32_t& end) const {
        if (used_ == 0) {
            return false;
        }
        ++lookups_;
        for (size_t i = Hash(walk, passes) & mask_;; i = (i + 1) & mask_) {
            const uint64_t* s = &table_[i * stride_];
            if ((s[1] >> 32) != generation_) {
                return false;
            }
            if (s[0] == walk && std::memcmp(s + 2, passes, passWords_ * 8) == 0) {
                end = static_cast<uint32_t>(s[1]);
                return true;
            }
        }
    }

    // The entries later walks of the search can still use: no walk has a key
    // below `key` any more (keys grow with the position), and none sees an
    // input end below `end`, for which an entry that met a lower end does
    // not hold.
    struct Live {
        uint64_t key = 0;
        uint32_t end = 0;
    };

    // columnKey: the walk has a column of the bit rows, and is here only
    // because its input end was not shared (see ColumnKeysMayHold).
    // live: what later walks can still ask for; other entries may make room.
    void Add(uint64_t walk, const uint64_t* passes, uint32_t end, Live live,
             bool columnKey = false) {
        if (columnKey) {
            columnEndMost_ = std::max(columnEndMost_, end);
        }
        if ((used_ + 1) * 2 > Slots() && !MakeRoom(live)) {
            ClearTable();  // at its cap: forget and start over
            if (Slots() == 0) {
                return;
            }
        }
        Insert(walk, passes, end);
    }

    // Tag bit of keys of walks that ended their attempt; the rest of such a
    // key is the walk's own.
    static constexpr uint64_t kAbortKey = uint64_t{1} << 63;

    // Whether the table may hold a failure of a walk with a column that
    // holds for input end `end`: such failures met an input end, and hold
    // only for ends up to theirs. Without this, the first limited attempt
    // of a long line, which turns the memo on, filled the table, and every
    // later walk missed the cache looking there.
    bool ColumnKeysMayHold(uint32_t end) const { return used_ != 0 && columnEndMost_ >= end; }

    // Bytes held, the high-water mark of this memo's storage.
    size_t MemoryBytes() const {
        size_t words = table_.capacity();
        for (const Sets& sets : sets_) {
            words += sets.plain.bits.capacity() + sets.atEnd.bits.capacity();
        }
        return words * 8;
    }

    // Failures the table holds for this run, and the lookups that searched
    // it since the run began.
    size_t TableEntries() const { return used_; }
    size_t TableLookups() const { return lookups_; }

    // Caps in bytes of the bit set and of the table (tests lower them).
    size_t bitsCap = size_t{32} << 20;
    size_t tableCap = size_t{32} << 20;

  private:
    size_t Slots() const { return table_.size() / stride_; }

    void Insert(uint64_t walk, const uint64_t* passes, uint32_t end) {
        for (size_t i = Hash(walk, passes) & mask_;; i = (i + 1) & mask_) {
            uint64_t* s = &table_[i * stride_];
            if ((s[1] >> 32) != generation_) {
                s[0] = walk;
                s[1] = (generation_ << 32) | end;
                std::memcpy(s + 2, passes, passWords_ * 8);
                ++used_;
                return;
            }
            if (s[0] == walk && std::memcmp(s + 2, passes, passWords_ * 8) == 0) {
                // The same walk failed again: with an input end it can see
                // further than before, or with none.
                const auto old = static_cast<uint32_t>(s[1]);
                s[1] = (generation_ << 32) | std::max(old, end);
                return;
            }
        }
    }

    size_t Hash(uint64_t walk, const uint64_t* passes) const {
        uint64_t h = walk;
        for (size_t w = 0; w < passWords_; ++w) {
            h ^= passes[w] * 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        }
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return static_cast<size_t>(h);
    }

    void ClearTable() {
        columnEndMost_ = 0;
        if (used_ != 0 || generation_ == 0) {
            ++generation_;
            used_ = 0;
        }
        if (generation_ > UINT32_MAX) {
            std::fill(table_.begin(), table_.end(), 0);
            generation_ = 1;
        }
    }

    static bool IsLive(const uint64_t* slot, Live live, uint64_t generation) {
        return (slot[1] >> 32) == generation && (slot[0] & ~kAbortKey) >= live.key &&
               static_cast<uint32_t>(slot[1]) >= live.end;
    }

    // Room for one more entry: the table is made again with its live entries
    // only, twice as large unless that leaves it at most an eighth full.
    // Along a long line, and with the search limit, the live entries are
    // those of the last few attempts: a table of them stays small enough for
    // the cache, where one grown to its cap with the whole line's missed it
    // on nearly every look.
    bool MakeRoom(Live live) {
        size_t liveCount = 0;
        for (size_t i = 0; i + stride_ <= table_.size(); i += stride_) {
            liveCount += IsLive(&table_[i], live, generation_);
        }
        size_t slotCount = std::max<size_t>(Slots(), 16);
        if ((liveCount + 1) * 8 > slotCount) {
            slotCount *= 2;
            if (slotCount * stride_ * 8 > tableCap) {
                return false;
            }
        }
        std::vector<uint64_t> old;
        old.swap(table_);
        table_.assign(slotCount * stride_, 0);
        mask_ = slotCount - 1;
        const uint64_t current = generation_;
        generation_ = 1;
        used_ = 0;
        for (size_t i = 0; i + stride_ <= old.size(); i += stride_) {
            if (IsLive(&old[i], live, current)) {
                Insert(old[i], &old[i + 2], static_cast<uint32_t>(old[i + 1]));
            }
        }
        return true;
    }

    // One bit per position x column, from position `base` on.
    struct BitRows {
        std::vector<uint64_t> bits;
        size_t used = 0;    // words that may hold a set bit
        uint64_t base = 0;  // position of the first row
        uint64_t rowBits = 2;

        void Reset(uint64_t from, size_t width) {
            std::fill(bits.begin(), bits.begin() + static_cast<ptrdiff_t>(used), 0);
            used = 0;
            base = from;
            rowBits = width;
        }
        // Clears the rows from position `from` on.
        void ClearFrom(uint64_t from) {
            const uint64_t first = from > base ? ((from - base) * rowBits) >> 6 : 0;
            if (first < used) {
                std::fill(bits.begin() + static_cast<ptrdiff_t>(first),
                          bits.begin() + static_cast<ptrdiff_t>(used), 0);
                used = first;
            }
        }
        bool Has(uint64_t pos, uint32_t column) const {
            if (pos < base) {
                return false;
            }
            const uint64_t bit = (pos - base) * rowBits + column;
            const uint64_t word = bit >> 6;
            return word < used && ((bits[word] >> (bit & 63)) & 1) != 0;
        }
        void Add(uint64_t pos, uint32_t column, uint64_t floor, size_t capBytes) {
            if (pos < base) {
                return;
            }
            uint64_t bit = (pos - base) * rowBits + column;
            if ((bit >> 6) >= bits.size() && DropBelow(std::min(floor, pos))) {
                bit = (pos - base) * rowBits + column;
            }
            if ((bit >> 6) >= bits.size() && !Grow(bit >> 6, capBytes)) {
                // Start over from the floor, what lay below it being of no
                // more use, if that makes room; else this one is not kept.
                if (floor <= base || pos < floor) {
                    return;
                }
                const uint64_t rebased = (pos - floor) * rowBits + column;
                if ((rebased >> 6) >= bits.size() && !Grow(rebased >> 6, capBytes)) {
                    return;
                }
                Reset(floor, rowBits);
                bit = rebased;
            }
            const uint64_t word = bit >> 6;
            bits[word] |= uint64_t{1} << (bit & 63);
            used = std::max<size_t>(used, word + 1);
        }
        // Instead of growing, drops the rows below `floor` where they fill at
        // least half the set: a long line's rows would otherwise reach from
        // its start to the furthest failure, though no walk goes back before
        // its attempt's start. Whole words move, so the rows dropped are a
        // multiple of 64 / gcd(rowBits, 64).
        bool DropBelow(uint64_t floor) {
            if (floor <= base || bits.empty()) {
                return false;
            }
            const uint64_t step = 64 / std::gcd(rowBits, uint64_t{64});
            const uint64_t rows = (floor - base) / step * step;
            const uint64_t words = rows * rowBits / 64;
            if (words == 0 || words * 2 < bits.size()) {
                return false;
            }
            const size_t kept = used > words ? used - static_cast<size_t>(words) : 0;
            std::memmove(bits.data(), bits.data() + (used - kept), kept * 8);
            std::fill(bits.begin() + static_cast<ptrdiff_t>(kept),
                      bits.begin() + static_cast<ptrdiff_t>(used), 0);
            used = kept;
            base += rows;
            return true;
        }
        bool Grow(uint64_t word, size_t capBytes) {
            const size_t cap = capBytes / 8;
            if (word >= cap) {
                return false;
            }
            const size_t doubled = std::max<size_t>(bits.size() * 2, 128);
            bits.resize(std::min(cap, std::max<size_t>(word + 1, doubled)), 0);
            return true;
        }
    };

    struct Sets {
        BitRows plain;
        BitRows atEnd;
        uint32_t atEndTag = kAnyEnd;
    };
    Sets& SetsOf(Kind kind) { return sets_[static_cast<size_t>(kind)]; }
    const Sets& SetsOf(Kind kind) const { return sets_[static_cast<size_t>(kind)]; }

    Sets sets_[2];

    std::vector<uint64_t> table_;  // slots of stride_ words: walk, generation|end, passes
    size_t stride_ = 0;
    size_t passWords_ = 1;
    size_t mask_ = 0;
    size_t used_ = 0;
    uint64_t generation_ = 0;
    uint32_t columnEndMost_ = 0;  // highest input end of failures added with columnKey
    mutable size_t lookups_ = 0;
};

}  // namespace quarry
