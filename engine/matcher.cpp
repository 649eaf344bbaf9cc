// The matcher: a recursive backtracking walk over the node list. Its external
// interface is ExecExpression, TryAt and MatchHere on the calling thread's
// context; the walk's helpers below are private to this file.
//
// Greedy operators recurse once per repetition and groups once per bracket,
// so the recursion depth follows the length of the matching. Every frame
// checks the caller's stack floor and gives up cleanly when it is reached.

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#include <emmintrin.h>

#include "engine/byte_scan.h"
#include "engine/byte_tests.h"
#include "engine/char_tests.h"
#include "engine/escapes.h"
#include "engine/matcher.h"
#include "engine/unicode.h"

namespace quarry {
namespace {

using detail::AsciiUpper;
using detail::IsWordByte;

// Why a run stops backtracking altogether.
enum Abandon : int { kGoOn = 0, kAttemptFailed = 1, kOutOfStack = 2, kCancelledRun = 3 };

// A single attempt can take very long (nested loops over a long input), so the
// cancel callback is also polled after this many nested walks within one.
constexpr uint32_t kWalksBetweenPolls = 1u << 16;

// ExecExpression's outcome of one attempt: found, not found, or a reason to
// stop the whole run.
enum Attempt : int { kFound, kNotFound, kStop };

thread_local MatchContext context;
// The analysis behind the calls that pass a bare program.
thread_local ProgramInfo bareProgramInfo;

template <bool kRemembering>
[[gnu::always_inline]] inline int Walk(MatchContext& m, const ExprNode* node);

// The walk met the input end (or learnt what a walk that met it did).
[[gnu::always_inline]] inline void MeetEnd(MatchContext& m) {
    m.hitEnd = true;
    ++m.endMeets;
}

inline bool Cancelled(const MatchContext& m) {
    return m.callbacks.cancelPoll && !m.callbacks.cancelPoll(m.callbacks.user);
}

inline bool BelowStackFloor(const MatchContext& m) {
    return m.stackFloor != 0 &&
           reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < m.stackFloor;
}

// A walk's outcome depends on its node, position, case state and input end,
// and on the loop guard only through the loops whose latest pass on the path
// stands at the walk's position and which the walk can reach before it
// consumes a byte: positions never decrease along a path, so earlier passes
// can never refuse anything within the walk. There are no back-references,
// and a failed walk leaves no group entry set, so groups play no part.
// Sets the pass bits of `node`'s loop group; returns whether any is set.
inline bool PassesHere(const MatchContext& m, const ExprNode* node, uint64_t* passes) {
    const size_t words = m.failures.PassWords();
    std::fill(passes, passes + words, 0);
    const int32_t group = m.info->loopGroup[static_cast<size_t>(node->index)];
    if (group < 0) {
        return false;
    }
    const std::vector<int32_t>& slots = m.info->loopGroupSlots[static_cast<size_t>(group)];
    bool any = false;
    for (size_t i = 0; i < slots.size(); ++i) {
        if (m.loopPass[static_cast<size_t>(slots[i])].pos == m.pos) {
            passes[i >> 6] |= uint64_t{1} << (i & 63);
            any = true;
        }
    }
    return any;
}

// Whether the attempt has made many more walks than it is deep: then it is
// backtracking over the same ground, which remembering failures cuts short.
// A long greedy run walks about once per level and gains nothing, so it keeps
// the memo off and with it the memo's larger frames.
inline bool Branching(const MatchContext& m) {
    constexpr uintptr_t kTypicalFrame = 96;
    const uintptr_t used =
        m.attemptStackTop - reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return m.attemptWalks > 8 * (used / kTypicalFrame);
}

// Restores the loop passes made after log record `mark`: they leave the path.
inline void LeavePasses(MatchContext& m, int32_t mark) {
    while (static_cast<int32_t>(m.passLog.size()) > mark) {
        const MatchContext::PassRecord r = m.passLog.back();
        m.passLog.pop_back();
        m.loopPass[r.slot] = r.previous;
    }
}

using detail::MatchesByte;

// The character at `at` (before the input end, at a character start) and its
// length in bytes.
inline char32_t CharAt(const MatchContext& m, const unsigned char* at, int& length) {
    if (*at < 0x80) {
        length = 1;
        return *at;
    }
    return unicode::Decode(at, m.inputEnd, length);
}

// Whether the character at `at` (before the input end) passes a character
// node's test; sets its length.
[[gnu::always_inline]] inline bool CharPassesAt(const MatchContext& m, const ExprNode* test,
                                                const unsigned char* at, int& length) {
    const char32_t c = CharAt(m, at, length);
    if (test->op == UEXACTLY) {
        return detail::CharEqualsLiteral(test, c, (m.caseSensitive & 1) == 0);
    }
    return detail::CharPasses(test, c);
}

inline bool IsWordCharAt(const MatchContext& m, const unsigned char* at) {
    int length = 1;
    return (unicode::Flags(CharAt(m, at, length)) & unicode::kAlnum) != 0;
}

// Whether the character that ends at `at` (after the text start) is a word
// character.
inline bool IsWordCharBefore(const MatchContext& m, const unsigned char* at) {
    return IsWordCharAt(m, unicode::PreviousCharStart(at, m.textStart, m.textEnd));
}

// The start position after s (s before the text end).
inline const unsigned char* NextPosition(const MatchContext& m, const unsigned char* s) {
    if (!m.charMode || *s < 0x80) {
        return s + 1;
    }
    return s + unicode::CharLength(s, m.textEnd);
}

// Whether the byte at the current position passes a consuming node's test
// (for a literal, its first byte; for a character node, the character's
// whole test), noting when the input end decided it.
[[gnu::always_inline]] inline bool PassesFirstTest(MatchContext& m, const ExprNode* test,
                                                   const unsigned char* at) {
    if (at >= m.inputEnd) {
        MeetEnd(m);
        return false;
    }
    if (test->op >= UANY) {
        int length = 1;
        return CharPassesAt(m, test, at, length);
    }
    if (test->op != EXACTLY) {
        return MatchesByte(test, *at);
    }
    const unsigned char lit = test->link.bytes[0];
    return (m.caseSensitive & 1) ? *at == lit : AsciiUpper(*at) == AsciiUpper(lit);
}

// Whether a walk from `node` would fail at the first loop it meets, its
// latest pass on the path standing at the current position: a walk from
// there would repeat that pass forever (see EnterLoop). Loops in sequence
// over the same bytes come back to their operand that way once per position
// and loop.
inline bool MeetsLoopAgain(const MatchContext& m, const ExprNode* node) {
    const ExprNode* loop = m.info->firstLoop[static_cast<size_t>(node->index)];
    return loop != nullptr &&
           m.loopPass[static_cast<size_t>(loop->index * 2 + (m.caseSensitive & 1))].pos == m.pos;
}

// Whether a failure remembered with input-end tag `end` holds for the
// current input end. One that met the input end holds for that end; in a
// program without nodes that hold at the end it also holds for lower ones.
inline bool EndTagHolds(const MatchContext& m, uint32_t end) {
    if (end == FailureMemo::kAnyEnd) {
        return true;
    }
    const auto current = static_cast<uint32_t>(m.inputEnd - m.textStart);
    return end == current || (end > current && m.info->endMonotone);
}

// The passes of a folded loop group as a column offset: bit i for the
// group's i-th loop (each loop's slot of the run's case, or, when the
// program switches case, bit i for the group's i-th slot).
inline uint32_t FoldedPasses(const MatchContext& m, int32_t group) {
    const std::vector<int32_t>& slots = m.info->loopGroupSlots[static_cast<size_t>(group)];
    uint32_t bits = 0;
    if (m.info->switchesCase) {
        for (size_t i = 0; i < slots.size(); ++i) {
            bits |= static_cast<uint32_t>(m.loopPass[static_cast<size_t>(slots[i])].pos == m.pos)
                    << i;
        }
        return bits;
    }
    const int32_t caseBit = m.caseSensitive & 1;
    for (size_t i = 0; 2 * i < slots.size(); ++i) {
        const auto slot = static_cast<size_t>(slots[2 * i] + caseBit);
        bits |= static_cast<uint32_t>(m.loopPass[slot].pos == m.pos) << i;
    }
    return bits;
}

// Walk keys (position * stride + node * 2 + case) stay far below this bit,
// which marks the table's entries for walks that ended their attempt.
constexpr uint64_t kAbortKey = FailureMemo::kAbortKey;

// What later walks of the run can still ask the memo's table for: walks
// start at or after the attempt's start, and see an input end no lower than
// this attempt's or, with the search limit, one limit past its start (a
// character start, up to three bytes before that).
inline FailureMemo::Live MemoLive(const MatchContext& m) {
    const auto start = static_cast<uint64_t>(m.attemptStart - m.textStart);
    auto end = static_cast<uint64_t>(m.inputEnd - m.textStart);
    if (m.searchLimit >= 0) {
        end = std::min(end, start + static_cast<uint64_t>(std::max(m.searchLimit - 3, 0)));
    }
    return {start * m.memoStride, static_cast<uint32_t>(end)};
}

// Room for the loop passes of a memo key (FailureMemo::PassWords words), on
// the stack unless the program's loop groups are large.
class PassWords {
  public:
    explicit PassWords(const MatchContext& m) {
        if (m.failures.PassWords() > kInlineWords) {
            heap_.resize(m.failures.PassWords());
        }
    }
    uint64_t* data() { return heap_.empty() ? inline_ : heap_.data(); }

  private:
    static constexpr size_t kInlineWords = 4;
    uint64_t inline_[kInlineWords];
    std::vector<uint64_t> heap_;
};

// A walk once the failure memo is on: a failure is remembered with the loop
// passes it could see and, if it met the input end, that end. Walks with a
// column of their own go to the memo's bit rows, the rest to its table.
[[gnu::noinline]] int RememberingWalk(MatchContext& m, const ExprNode* node) {
    m.limitedLooks += m.endShared ? 0 : 1;
    PassWords words(m);
    uint64_t* passes = words.data();
    const ProgramInfo& info = *m.info;
    const auto index = static_cast<size_t>(node->index);
    const int32_t caseBit = m.caseSensitive & 1;
    const int32_t group = info.loopGroup[index];
    const int foldBits = group < 0 ? 0 : info.memoFoldBits[static_cast<size_t>(group)];
    int64_t column = -1;
    if (foldBits >= 0) {
        std::fill(passes, passes + m.failures.PassWords(), 0);
        if (group >= 0) {
            passes[0] = FoldedPasses(m, group);
        }
    } else if (!PassesHere(m, node, passes)) {
        column = info.memoColumn[index];
        if (column >= 0 && info.switchesCase) {
            column += caseBit;
        }
    }
    if (foldBits >= 0 && info.memoColumn[index] >= 0) {
        column = info.memoColumn[index] + static_cast<int64_t>(passes[0]) +
                 (info.switchesCase ? int64_t{caseBit} << foldBits : 0);
    }
    const auto pos = static_cast<uint64_t>(m.pos - m.textStart);
    const auto nodeCase = static_cast<uint32_t>(node->index * 2 + caseBit);
    const auto end = static_cast<uint32_t>(m.inputEnd - m.textStart);
    // A walk that ended its attempt («{a|}» met its left alternative) ends
    // it again: it would try the same paths in the same order. Not with a
    // lower input end, though, where an earlier path may now fail short of
    // the one that ended it and a later one succeed.
    const bool abortsHold = m.abortsKept && m.endShared;
    if (column >= 0) {
        const auto c = static_cast<uint32_t>(column);
        if (m.failures.HasPlain(pos, c)) {
            return 0;
        }
        if (EndTagHolds(m, m.failures.AtEndTag()) && m.failures.HasAtEnd(pos, c)) {
            MeetEnd(m);  // as the walk itself did
            return 0;
        }
        if (abortsHold) {
            constexpr auto kEnded = FailureMemo::Kind::kEndedAttempt;
            const bool plain = m.failures.HasPlain(pos, c, kEnded);
            if (plain ||
                (m.failures.AtEndTag(kEnded) == end && m.failures.HasAtEnd(pos, c, kEnded))) {
                if (!plain) {
                    MeetEnd(m);  // as the walk itself did
                }
                m.abandon = kAttemptFailed;
                return 0;
            }
        }
    }
    const uint64_t walk = pos * m.memoStride + nodeCase;
    if (abortsHold && m.abortsInTable) {
        uint32_t abortTag = 0;
        if (m.failures.Find(walk | kAbortKey, passes, abortTag) &&
            (abortTag == FailureMemo::kAnyEnd || abortTag == end)) {
            if (abortTag != FailureMemo::kAnyEnd) {
                MeetEnd(m);  // as the walk itself did
            }
            m.abandon = kAttemptFailed;
            return 0;
        }
    }
    uint32_t tag = 0;
    if ((column < 0 || m.failures.ColumnKeysMayHold(end)) && m.failures.Find(walk, passes, tag) &&
        EndTagHolds(m, tag)) {
        if (tag != FailureMemo::kAnyEnd) {
            MeetEnd(m);  // as the walk itself did
        }
        return 0;
    }
    const bool outerHitEnd = m.hitEnd;
    m.hitEnd = false;
    m.limitedWalked += m.endShared ? 0 : 1;
    const auto mark = static_cast<int32_t>(m.passLog.size());
    const size_t tailMark = m.tailPlaces.size();
    const int result = Walk<true>(m, node);
    LeavePasses(m, mark);
    const bool sawEnd = m.hitEnd;
    m.hitEnd = outerHitEnd || sawEnd;
    // Ends of attempts are only looked up where the input end is shared, so
    // one that met an end of its own is not kept.
    if (result == 0 && m.abandon == kAttemptFailed && (m.endShared || !sawEnd)) {
        // Those of limited attempts serve only the wide attempts of the next
        // blocks: the table lets them go once no later attempt can ask.
        const auto floor = static_cast<uint64_t>(m.attemptStart - m.textStart);
        if (column < 0 || !m.endShared) {
            m.failures.Add(walk | kAbortKey, passes, sawEnd ? end : FailureMemo::kAnyEnd,
                           MemoLive(m));
            m.abortsInTable = true;
        } else if (sawEnd) {
            m.failures.AddAtEnd(pos, static_cast<uint32_t>(column), end, floor,
                                FailureMemo::Kind::kEndedAttempt);
        } else {
            m.failures.AddPlain(pos, static_cast<uint32_t>(column), floor,
                                FailureMemo::Kind::kEndedAttempt);
        }
        m.abortsKept = true;
    }
    if (result == 0 && m.abandon == kGoOn) {
        const auto floor = static_cast<uint64_t>(m.attemptStart - m.textStart);
        if (column >= 0 && !sawEnd) {
            m.failures.AddPlain(pos, static_cast<uint32_t>(column), floor);
        } else if (column >= 0 && m.endShared) {
            m.failures.AddAtEnd(pos, static_cast<uint32_t>(column), end, floor);
        } else {
            m.failures.Add(walk, passes, sawEnd ? end : FailureMemo::kAnyEnd, MemoLive(m),
                           column >= 0);
        }
        // The places this walk went on from failed with it. Whether they met
        // the input end is known only for the walk as a whole, so a walk
        // that met it marks them all as having met it.
        for (size_t i = tailMark; i < m.tailPlaces.size(); ++i) {
            const MatchContext::TailPlace t = m.tailPlaces[i];
            if (!sawEnd) {
                m.failures.AddPlain(t.pos, t.column, floor);
            } else if (m.endShared) {
                m.failures.AddAtEnd(t.pos, t.column, end, floor);
            }
        }
    }
    m.tailPlaces.resize(tailMark);
    return result;
}

// Whether the memo's table holds a failure of a walk from `node` with the
// loop passes at the current position.
[[gnu::noinline]] bool FailsFromHereInTable(MatchContext& m, const ExprNode* node) {
    PassWords words(m);
    uint64_t* passes = words.data();
    PassesHere(m, node, passes);
    const auto pos = static_cast<uint64_t>(m.pos - m.textStart);
    const uint64_t walk =
        pos * m.memoStride + static_cast<uint32_t>(node->index * 2 + (m.caseSensitive & 1));
    uint32_t tag = 0;
    if (!m.failures.Find(walk, passes, tag) || !EndTagHolds(m, tag)) {
        return false;
    }
    if (tag != FailureMemo::kAnyEnd) {
        MeetEnd(m);  // as the walk itself did
    }
    return true;
}

// Where a remembering walk goes on from an operator's fallback to `node`:
// whether a walk from there is known to fail; if not, the place is noted, so
// that its failure is remembered with the walk's. Sequences of loops over
// the same bytes reach one loop's fallback from each loop before it; without
// this, each of those arrivals walked the rest of the sequence again.
[[gnu::noinline]] bool FailsFromHere(MatchContext& m, const ExprNode* node) {
    const ProgramInfo& info = *m.info;
    const auto index = static_cast<size_t>(node->index);
    if (const ExprNode* test = info.firstTest[index];
        test != nullptr && !PassesFirstTest(m, test, m.pos)) {
        return true;  // not worth a place in the memo
    }
    if (MeetsLoopAgain(m, node)) {
        return true;
    }
    int64_t column = info.memoColumn[index];
    if (column < 0) {
        return false;
    }
    const int32_t caseBit = m.caseSensitive & 1;
    const int32_t group = info.loopGroup[index];
    const int foldBits = group < 0 ? 0 : info.memoFoldBits[static_cast<size_t>(group)];
    if (foldBits >= 0) {
        column += (group >= 0 ? FoldedPasses(m, group) : 0) +
                  (info.switchesCase ? int64_t{caseBit} << foldBits : 0);
    } else {
        const std::vector<int32_t>& slots = info.loopGroupSlots[static_cast<size_t>(group)];
        for (const int32_t slot : slots) {
            if (m.loopPass[static_cast<size_t>(slot)].pos == m.pos) {
                // Such keys go to the memo's table. Asked there too: where a
                // chain of empty alternatives falls back to the operand of
                // the next bar, each arrival walked the rest of the chain.
                return FailsFromHereInTable(m, node);
            }
        }
        column += info.switchesCase ? caseBit : 0;
    }
    const auto pos = static_cast<uint64_t>(m.pos - m.textStart);
    const auto c = static_cast<uint32_t>(column);
    if (m.failures.HasPlain(pos, c)) {
        return true;
    }
    if (EndTagHolds(m, m.failures.AtEndTag()) && m.failures.HasAtEnd(pos, c)) {
        MeetEnd(m);  // as the walk itself did
        return true;
    }
    constexpr size_t kMostTailPlaces = 4096;
    if (m.tailPlaces.size() < kMostTailPlaces) {
        m.tailPlaces.push_back({pos, c});
    }
    return false;
}

// Walks an attempt that the search limit cuts makes before it remembers
// failures, once the memo is on, where the memo answers few of such
// attempts' walks. Such an attempt sees an input end of its own: the
// failures that met it serve that attempt alone, and with the limit most
// attempts are short, each paying for memo entries no later one asks for.
// One that walks this much is backtracking over its own ground, where the
// memo pays.
constexpr uint32_t kLimitedWalksBeforeMemo = 48;

int MatchFrom(MatchContext& m, const ExprNode* node) {
    if (const ExprNode* test = m.info->firstTest[static_cast<size_t>(node->index)];
        test != nullptr && !PassesFirstTest(m, test, m.pos)) {
        return 0;  // the walk would fail at its first byte test
    }
    if (BelowStackFloor(m)) {
        m.abandon = kOutOfStack;
        return 0;
    }
    if (++m.walks == kWalksBetweenPolls) {
        m.walks = 0;
        if (Cancelled(m)) {
            m.abandon = kCancelledRun;
            return 0;
        }
    }
    if (m.memoOn && (m.endShared || !m.limitedMemoLate ||
                     m.attemptWalks >= std::min(m.memoThreshold, kLimitedWalksBeforeMemo))) {
        if (MeetsLoopAgain(m, node)) {
            return 0;  // not worth a walk that would cost a memo entry
        }
        ++m.runWalks;
        return RememberingWalk(m, node);
    }
    ++m.runWalks;
    // Most attempts are short; only a long one, or a run whose attempts walk
    // much more than once per start position, turns the memo on, for the rest
    // of the run (every walk inside a remembering walk remembers too).
    if ((++m.attemptWalks > m.memoThreshold && (m.memoThreshold == 0 || Branching(m))) ||
        m.runWalks > m.runWalkLimit) {
        m.memoOn = true;
    }
    const auto mark = static_cast<int32_t>(m.passLog.size());
    const int result = Walk<false>(m, node);
    LeavePasses(m, mark);
    return result;
}

// A loop node reached again at the same position with the same case state,
// while its earlier pass is still on the path, would repeat that pass forever:
// such a walk fails instead.
[[gnu::always_inline]] inline bool EnterLoop(MatchContext& m, const ExprNode* loop) {
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const MatchContext::LoopPass previous = m.loopPass[slot];
    if (previous.pos == m.pos) {
        return false;
    }
    m.loopPass[slot] = {m.pos, static_cast<int32_t>(m.passLog.size())};
    m.passLog.push_back({slot, previous});
    return true;
}

// The node after the right alternative of the BRANCH that `branchEnd` closes,
// or nullptr when the walk must stop there (abandon says whether the attempt
// fails as a whole).
inline const ExprNode* SkipAlternative(MatchContext& m, const ExprNode* branchEnd) {
    const ProgramInfo::BranchSkip& skip = m.info->branchSkip[static_cast<size_t>(branchEnd->index)];
    if (skip.attemptFails) {
        m.abandon = kAttemptFailed;
    }
    return skip.next;
}

// Whether a zero-width test holds at the current position. A test that
// looks at the input end notes that the walk met it.
inline bool ZeroWidthHolds(MatchContext& m, int16_t op) {
    const unsigned char* p = m.pos;
    const unsigned char* end = m.inputEnd;
    switch (op) {
        case BOL:
            return p == m.textStart;
        case EOL:
            if (p != end) {
                return false;
            }
            MeetEnd(m);
            return true;
        case WORDSTART:
            if (p >= end) {
                MeetEnd(m);
            }
            return !(p >= end || (p != m.textStart && !(IsWordByte(*p) && !IsWordByte(p[-1]))));
        case WORDEND:
            if (p >= end) {
                MeetEnd(m);
            }
            return !(p == m.textStart || (p < end && !(!IsWordByte(*p) && IsWordByte(p[-1]))));
        case UWORDSTART:
            if (p >= end) {
                MeetEnd(m);
            }
            return !(p >= end ||
                     (p != m.textStart && !(IsWordCharAt(m, p) && !IsWordCharBefore(m, p))));
        case UWORDEND:
            if (p >= end) {
                MeetEnd(m);
            }
            return !(p == m.textStart ||
                     (p < end && !(!IsWordCharAt(m, p) && IsWordCharBefore(m, p))));
    }
    return true;
}

// A literal node holds one byte (the compiler makes one node per byte), so
// it is compared as one: a memcmp call per literal cost more than the test.
inline bool MatchesLiteral(MatchContext& m, const ExprNode* node) {
    if (m.pos >= m.inputEnd) {
        MeetEnd(m);
        return false;
    }
    const unsigned char lit = node->link.bytes[0];
    const unsigned char b = *m.pos;
    return (m.caseSensitive & 1) ? b == lit : AsciiUpper(b) == AsciiUpper(lit);
}

// Whether a one-byte test (not a literal) or a character test passes at the
// current position; if so the position moves past what it took. A test at
// the input end fails and notes that the walk met it.
[[gnu::always_inline]] inline bool ConsumesByte(MatchContext& m, const ExprNode* node) {
    if (m.pos >= m.inputEnd) {
        MeetEnd(m);
        return false;
    }
    if (!MatchesByte(node, *m.pos)) {
        return false;
    }
    ++m.pos;
    return true;
}

[[gnu::always_inline]] inline bool ConsumesChar(MatchContext& m, const ExprNode* node) {
    if (m.pos >= m.inputEnd) {
        MeetEnd(m);
        return false;
    }
    int length = 1;
    if (!CharPassesAt(m, node, m.pos, length)) {
        return false;
    }
    m.pos += length;
    return true;
}

// Sets the entries of the groups the program records to -1.
inline void ClearRecordedGroups(MatchContext& m) {
    // Group 0 alone is the common case, made before every attempt: two
    // stores rather than two calls.
    m.groups[0] = -1;
    m.groups[64] = -1;
    if (m.highestGroup > 0) {
        std::fill(m.groups + 1, m.groups + m.highestGroup + 1, -1);
        std::fill(m.groups + 65, m.groups + 64 + m.highestGroup + 1, -1);
    }
}

// The one byte a first byte test takes (a literal compared with case, or
// without a letter), or -1.
inline int ExactByteOf(const MatchContext& m, const ExprNode* test) {
    if (test == nullptr || test->op != EXACTLY) {
        return -1;
    }
    const unsigned char lit = test->link.bytes[0];
    return ((m.caseSensitive & 1) || !detail::IsAsciiLetter(lit)) ? lit : -1;
}

// The last place in (start, k] holding the byte a continuation's literal
// test begins with, in either case when the run ignores case, for k that
// only decrease. Each case's search goes on from where it last stopped, so
// all the calls of one loop read its run at most once per case.
class LastLiteralByte {
  public:
    LastLiteralByte(const MatchContext& m, const ExprNode* test, const unsigned char* start)
        : start_(start) {
        if (test == nullptr || test->op != EXACTLY) {
            return;
        }
        const unsigned char lit = test->link.bytes[0];
        bytes_[0] = lit;
        count_ = 1;
        if (!(m.caseSensitive & 1) && detail::IsAsciiLetter(lit)) {
            bytes_[0] = detail::AsciiLower(lit);
            bytes_[1] = detail::AsciiUpper(lit);
            count_ = 2;
        }
    }

    // Whether there is a byte to look for.
    bool Known() const { return count_ > 0; }

    // nullptr when no place in (start, k] holds it.
    const unsigned char* UpTo(const unsigned char* k) {
        const unsigned char* last = nullptr;
        for (int i = 0; i < count_; ++i) {
            if (found_[i] == nullptr || found_[i] > k) {
                const void* hit = memrchr(start_ + 1, bytes_[i], static_cast<size_t>(k - start_));
                found_[i] = hit != nullptr ? static_cast<const unsigned char*>(hit) : start_;
            }
            if (found_[i] != start_ && (last == nullptr || found_[i] > last)) {
                last = found_[i];
            }
        }
        return last;
    }

  private:
    const unsigned char* start_;
    int count_ = 0;
    unsigned char bytes_[2] = {0, 0};
    // The last hit at or below the latest k asked for; start_ for none.
    const unsigned char* found_[2] = {nullptr, nullptr};
};

// The byte-loop helpers' answer when nothing is decided yet: the loop tries
// its next place, or the walk goes on from the continuation at the loop's
// own start.
constexpr int kWalkOn = 2;

// Walks a byte loop's continuation from k, with the loop's pass at k on the
// path (made here when newPass; the loop's entry made the one at its start).
// 1 found, 0 the run must stop, kWalkOn the loop goes on.
int TryContinuation(MatchContext& m, const ExprNode* continuation, int32_t slot,
                    const unsigned char* k, bool newPass, int32_t savedCase) {
    const auto mark = static_cast<int32_t>(m.passLog.size());
    if (newPass) {
        m.passLog.push_back({slot, m.loopPass[static_cast<size_t>(slot)]});
        m.loopPass[static_cast<size_t>(slot)] = {k, mark};
    }
    m.pos = k;
    const int found = MatchFrom(m, continuation);
    LeavePasses(m, mark);
    if (found) {
        return 1;
    }
    if (m.abandon != kGoOn) {
        return 0;
    }
    m.caseSensitive = savedCase;
    return kWalkOn;
}

// The end of the run from `start` that a greedy single-test loop takes, up to
// the input end. Nested loops measure the runs from every position of one
// run again and again, so the last run measured per loop is kept: a start
// inside it ends where it ended, and a run that stopped at an earlier input
// end goes on from there. measure(k, stop) measures from k, up to stop.
// A loop's run entry, emptied first if an earlier search left it.
inline MatchContext::LoopRun& LoopRunOf(MatchContext& m, const ExprNode* loop) {
    MatchContext::LoopRun& run = m.loopRuns[static_cast<size_t>(loop->index)];
    if (run.epoch != m.loopRunEpoch) {
        run = MatchContext::LoopRun{};
        run.epoch = m.loopRunEpoch;
    }
    return run;
}

// Notes the bytes above 0x7F in [from, to), a part of a row loop's run that
// lies `before` it or after it.
inline void NoteHighBytes(MatchContext::LoopRun& run, const unsigned char* from,
                          const unsigned char* to, bool before) {
    const unsigned char* first = from;
    while (first < to && *first < 0x80) {
        ++first;
    }
    if (first == to) {
        return;
    }
    const unsigned char* last = to - 1;
    while (*last < 0x80) {
        --last;
    }
    if (before || run.firstHigh == nullptr) {
        run.firstHigh = first;
    }
    if (!before || run.lastHigh == nullptr) {
        run.lastHigh = last;
    }
}

// kHigh: the run's bytes above 0x7F are noted (LoopRun::firstHigh).
template <bool kHigh = false, typename Measure>
inline const unsigned char* KnownRunEnd(MatchContext& m, const ExprNode* loop,
                                        const unsigned char* start, Measure measureBytes) {
    auto measure = [&](const unsigned char* from, const unsigned char* stop) {
        const unsigned char* k = measureBytes(from, stop);
        m.loopPlaces += static_cast<uint64_t>(k - from);
        return k;
    };
    MatchContext::LoopRun& run = LoopRunOf(m, loop);
    // Only a literal's run depends on the case state; a class's holds for
    // both, which «\C?» before the loop lets it be reached in by turns.
    const int16_t operand = RowTest(loop)->op;
    const int32_t caseBit = operand == EXACTLY || operand == UEXACTLY ? m.caseSensitive & 1 : 0;
    if (run.from != nullptr && run.caseBit == caseBit && start <= run.to) {
        if (start < run.from) {
            // Nested loops walk back over a run: join the bytes before it.
            const unsigned char* k = measure(start, std::min(run.from, m.inputEnd));
            if (k < run.from) {
                // Ended before it, or at the input end: this run is kept
                // instead, or every start further back would measure up to
                // the byte that ended it again.
                run.from = start;
                run.to = k;
                run.end = m.inputEnd;
                run.caseBit = caseBit;
                if constexpr (kHigh) {
                    run.firstHigh = run.lastHigh = nullptr;
                    NoteHighBytes(run, start, k, false);
                }
                return k;
            }
            if constexpr (kHigh) {
                NoteHighBytes(run, start, run.from, true);
            }
            run.from = start;
        }
        if (run.to < run.end || m.inputEnd <= run.to) {
            return std::min(run.to, m.inputEnd);  // the byte at run.to ends it
        }
        const unsigned char* to = measure(run.to, m.inputEnd);
        if constexpr (kHigh) {
            NoteHighBytes(run, run.to, to, false);
        }
        run.to = to;
        run.end = m.inputEnd;
        return run.to;
    }
    run.from = start;
    run.to = measure(start, m.inputEnd);
    run.end = m.inputEnd;
    run.caseBit = caseBit;
    if constexpr (kHigh) {
        run.firstHigh = run.lastHigh = nullptr;
        NoteHighBytes(run, start, run.to, false);
    }
    return run.to;
}

// The places after a single-test loop's start where its continuation
// is known to fail. A continuation tried at k after the start has only the
// loop's own pass at k on the path that it can see (every other pass lies at
// or before the start), so whether it fails does not depend on the path that
// led to the loop: the failures found by one walk of the loop hold for the
// next whose run covers the same places. Nested loops otherwise try the
// continuation over a whole run again from every start, each try answered by
// the memo but the places still counted one by one, and the attempts at the
// starts inside a run each scanned the rest of it. The memo's rules for the
// input end apply.
class ContinuationFailures {
  public:
    ContinuationFailures(MatchContext& m, const ExprNode* loop)
        : ContinuationFailures(m, LoopRunOf(m, loop).clean, LoopRunOf(m, loop).ended) {}
    // With the places of a row loop's starts of one residue.
    ContinuationFailures(MatchContext& m, MatchContext::RowPlaces& places)
        : ContinuationFailures(m, places.clean, places.ended) {}
    ContinuationFailures(MatchContext& m, MatchContext::LoopRun::Failed* clean,
                         MatchContext::LoopRun::Failed* ended)
        : m_(m), clean_(clean), ended_(ended) {
        outerHitEnd_ = m.hitEnd;
        m.hitEnd = false;  // from here on, what the continuation's tries met
    }
    ~ContinuationFailures() { m_.hitEnd = outerHitEnd_ || metEnd_ || m_.hitEnd; }

    // Whether the continuation is known to fail at k; then moves k to the
    // next place that is not known.
    bool Known(const unsigned char*& k) {
        const Failed* f = Covering(k);
        if (f == nullptr) {
            return false;
        }
        k = f->low;
        return true;
    }

    // For a lazy loop, whose known places are also a run of bytes its
    // operand takes ([low, high) as AllFailed was told): whether the
    // continuation is known to fail at k (after the loop's start); then moves
    // k to the last known place, or to the input end when that comes first.
    bool KnownOnward(const unsigned char*& k) {
        const Failed* f = Covering(k);
        if (f == nullptr) {
            return false;
        }
        k = std::min(f->high, m_.inputEnd);
        return true;
    }

    // The continuation failed at every place in (low, high]; metEnd says
    // whether those tries met the input end.
    void AllFailed(const unsigned char* low, const unsigned char* high, bool metEnd) {
        if (high <= low) {
            return;
        }
        const auto caseBit = static_cast<size_t>(m_.caseSensitive & 1);
        Failed& f = metEnd ? ended_[caseBit] : clean_[caseBit];
        if (f.low <= high && low <= f.high && Holds(f)) {
            // Joined with the known places (which hold for this input end).
            low = std::min(low, f.low);
            high = std::max(high, f.high);
        }
        f.low = low;
        f.high = high;
        f.end = metEnd ? static_cast<uint32_t>(m_.inputEnd - m_.textStart) : FailureMemo::kAnyEnd;
    }

    // For a greedy loop, before each place k it looks at (and once more at
    // its low end): whether the tries at the places above k met the input
    // end. Each place's own tries are told apart from those above it.
    void Descend(const unsigned char* k) {
        if (m_.hitEnd) {
            metEnd_ = true;
            cleanHigh_ = k;
            m_.hitEnd = false;
        }
    }

    // A greedy loop whose continuation failed at every place in (low, high].
    // The places below those whose tries met the input end are kept apart:
    // they hold for the next start's end too, where the limit cut this one.
    void DescentFailed(const unsigned char* low, const unsigned char* high) {
        Descend(low);
        AllFailed(low, high, metEnd_);
        if (metEnd_) {
            AllFailed(low, cleanHigh_, false);
        }
    }

    // For a lazy loop, after the tries at each place k, from its start on:
    // the places before the first whose tries met the input end are kept
    // apart, as Descend keeps them for a greedy loop.
    void Ascend(const unsigned char* k) {
        if (metEnd_) {
            return;
        }
        if (m_.hitEnd) {
            metEnd_ = true;
        } else {
            cleanHigh_ = k;
        }
    }

    // A lazy loop from `start` whose continuation failed at every place up
    // to k.
    void LazyFailed(const unsigned char* start, const unsigned char* k) {
        AllFailed(start, k, metEnd_);
        if (metEnd_ && cleanHigh_ != nullptr) {
            AllFailed(start, cleanHigh_, false);
        }
    }

  private:
    using Failed = MatchContext::LoopRun::Failed;

    // Whether known places hold for this walk. Walks nested in this one's
    // tries record places of the same loop as they finish.
    bool Holds(const Failed& f) const { return f.high != nullptr && EndTagHolds(m_, f.end); }

    // The known places that k lies in, if any.
    const Failed* Covering(const unsigned char* k) {
        const auto caseBit = static_cast<size_t>(m_.caseSensitive & 1);
        for (const Failed* f : {&clean_[caseBit], &ended_[caseBit]}) {
            if (k > f->low && k <= f->high && Holds(*f)) {
                if (f->end != FailureMemo::kAnyEnd) {
                    MeetEnd(m_);  // as those tries did
                }
                return f;
            }
        }
        return nullptr;
    }

    MatchContext& m_;
    Failed* clean_;  // per case bit
    Failed* ended_;
    bool outerHitEnd_ = false;
    // Descend's and Ascend's: whether any try met the end, and the highest
    // place below every such try.
    bool metEnd_ = false;
    const unsigned char* cleanHigh_ = nullptr;
};

// The end of the run of bytes from k (up to stop) that a one-byte test
// takes, a literal with or without case as the run says.
inline const unsigned char* ByteRunEnd(const MatchContext& m, const ExprNode* operand,
                                       const unsigned char* k, const unsigned char* stop) {
    if (operand->op == EXACTLY) {
        const unsigned char lit = operand->link.bytes[0];
        if (m.caseSensitive & 1) {
            while (k < stop && *k == lit) {
                ++k;
            }
        } else {
            const unsigned char upper = AsciiUpper(lit);
            while (k < stop && AsciiUpper(*k) == upper) {
                ++k;
            }
        }
        return k;
    }
    while (k < stop && MatchesByte(operand, *k)) {
        ++k;
    }
    return k;
}

// The same for a character test: the end of its run of whole characters.
inline const unsigned char* CharRunEnd(const MatchContext& m, const ExprNode* operand,
                                       const unsigned char* k, const unsigned char* stop) {
    // ASCII characters by the loop's table (a literal has none: its test
    // depends on the case option), the others decoded.
    const bool byTable = operand->op != UEXACTLY;
    const auto& ascii = m.info->asciiTakes[static_cast<size_t>(operand->index)];
    int length = 1;
    while (k < stop) {
        if (byTable && *k < 0x80) {
            if (((ascii[*k >> 6] >> (*k & 63)) & 1) == 0) {
                return k;
            }
            ++k;
        } else if (CharPassesAt(m, operand, k, length)) {
            k += length;
        } else {
            return k;
        }
    }
    return k;
}

// A greedy loop over one byte test, entered at the current position (its pass
// there already made). Walking it the ordinary way nests once per repetition
// and then tries the continuation after each one on the way back; this does
// the same without the nesting: it measures the run, then tries the
// continuation from the run's end backwards, each with the loop's pass at
// that position on the path as the nested walk would have it. The
// continuation at the start itself is left to the caller's walk.
[[gnu::noinline]] int RepeatByteLoop(MatchContext& m, const ExprNode* loop) {
    const ExprNode* operand = loop->next;
    const unsigned char* start = m.pos;
    const unsigned char* end = m.inputEnd;
    const unsigned char* e = end;
    if (operand->op != ANY) {
        e = KnownRunEnd(m, loop, start, [&](const unsigned char* from, const unsigned char* stop) {
            return ByteRunEnd(m, operand, from, stop);
        });
    }
    if (e == end) {
        MeetEnd(m);
    }
    if (loop == m.info->leadingLoop) {
        m.leadingRunEnd = e;
    }
    const ExprNode* continuation = loop->link.node;
    const ExprNode* test = m.info->firstTest[static_cast<size_t>(continuation->index)];
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const int32_t savedCase = m.caseSensitive;
    LastLiteralByte wanted(m, test, start);
    // A run given back in part leaves the continuation to begin on a run
    // byte, which it cannot: then only the whole run is tried.
    const unsigned char* last = m.info->possessiveLoop[static_cast<size_t>(m.caseSensitive & 1)]
                                                      [static_cast<size_t>(loop->index)] &&
                                        e > start
                                    ? e - 1
                                    : start;
    ContinuationFailures failures(m, loop);
    uint64_t places = 0;
    for (const unsigned char* k = e; k > last; ++places) {
        failures.Descend(k);
        // Known places are passed over at once: a continuation whose first
        // test passes nowhere would otherwise be tested again at every place
        // by each walk that reaches this loop.
        if (failures.Known(k)) {
            continue;
        }
        if (wanted.Known() && k < end) {
            // The last place in (start, k] holding the continuation's byte.
            k = wanted.UpTo(k);
            if (k == nullptr) {
                break;
            }
            if (failures.Known(k)) {
                continue;
            }
        } else if (test != nullptr && !PassesFirstTest(m, test, k)) {
            --k;
            continue;
        }
        const int tried = TryContinuation(m, continuation, slot, k, true, savedCase);
        if (tried != kWalkOn) {
            m.loopPlaces += places;
            return tried;
        }
        --k;
    }
    m.loopPlaces += places;
    failures.DescentFailed(last, e);
    m.pos = start;
    return kWalkOn;
}

// A lazy loop over one byte test, entered at the current position (its pass
// there already made): the continuation first, then one more byte and the
// continuation again, as the ordinary walk does it, but positions where the
// continuation's first byte test fails are passed over without a walk, and
// each try has only the loop's latest pass on the path, which is all that a
// walk from there can see of the earlier ones. A loop that failed leaves its
// places behind: the attempts at the next starts would otherwise scan the
// same run to its end again, quadratic in the run.
[[gnu::noinline]] int RepeatLazyByteLoop(MatchContext& m, const ExprNode* loop) {
    const ExprNode* operand = loop->next;
    const ExprNode* continuation = loop->link.node;
    const ExprNode* test = m.info->firstTest[static_cast<size_t>(continuation->index)];
    const unsigned char* start = m.pos;
    const unsigned char* end = m.inputEnd;
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const int32_t savedCase = m.caseSensitive;
    // «.@» followed by a literal: the next place holding the literal's byte.
    const int wanted = operand->op == ANY ? ExactByteOf(m, test) : -1;
    ContinuationFailures failures(m, loop);
    uint64_t places = 1;
    for (const unsigned char* k = start;; ++k, ++places) {
        if (wanted >= 0 && k < end) {
            const void* hit = std::memchr(k, wanted, static_cast<size_t>(end - k));
            k = hit != nullptr ? static_cast<const unsigned char*>(hit) : end;
        }
        const bool known = k != start && failures.KnownOnward(k);
        if (!known && (test == nullptr || PassesFirstTest(m, test, k))) {
            const int tried = TryContinuation(m, continuation, slot, k, k != start, savedCase);
            if (tried != kWalkOn) {
                m.loopPlaces += places;
                return tried;
            }
        }
        failures.Ascend(k);
        if (k >= end) {
            m.loopPlaces += places;
            failures.LazyFailed(start, k);
            MeetEnd(m);
            return 0;
        }
        if (!PassesFirstTest(m, operand, k)) {
            m.loopPlaces += places;
            failures.LazyFailed(start, k);
            return 0;
        }
    }
}

// The character start before k (start < k, k a character start).
inline const unsigned char* PreviousChar(const MatchContext& m, const unsigned char* k) {
    return k[-1] < 0x80 ? k - 1 : unicode::PreviousCharStart(k, m.textStart, m.textEnd);
}

// RepeatByteLoop for a loop over one character test: the run and the places
// the continuation is tried at are those of whole characters.
[[gnu::noinline]] int RepeatCharLoop(MatchContext& m, const ExprNode* loop) {
    const ExprNode* operand = loop->next;
    const unsigned char* start = m.pos;
    const unsigned char* end = m.inputEnd;
    const unsigned char* e = end;
    if (operand->op != UANY) {
        e = KnownRunEnd(m, loop, start, [&](const unsigned char* from, const unsigned char* stop) {
            return CharRunEnd(m, operand, from, stop);
        });
    }
    if (e == end) {
        MeetEnd(m);
    }
    if (loop == m.info->leadingLoop) {
        m.leadingRunEnd = e;
    }
    const ExprNode* continuation = loop->link.node;
    const ExprNode* test = m.info->firstTest[static_cast<size_t>(continuation->index)];
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const int32_t savedCase = m.caseSensitive;
    LastLiteralByte wanted(m, test, start);  // an ASCII byte: always a character start
    const unsigned char* last = m.info->possessiveLoop[static_cast<size_t>(m.caseSensitive & 1)]
                                                      [static_cast<size_t>(loop->index)] &&
                                        e > start
                                    ? PreviousChar(m, e)
                                    : start;
    ContinuationFailures failures(m, loop);
    uint64_t places = 0;
    for (const unsigned char* k = e; k > last; ++places) {
        failures.Descend(k);
        // Known places are passed over at once: a continuation whose first
        // test passes nowhere would otherwise be tested again at every place
        // by each walk that reaches this loop.
        if (failures.Known(k)) {
            continue;
        }
        if (wanted.Known() && k < end) {
            k = wanted.UpTo(k);
            if (k == nullptr) {
                break;
            }
            if (failures.Known(k)) {
                continue;
            }
        } else if (test != nullptr && !PassesFirstTest(m, test, k)) {
            k = PreviousChar(m, k);
            continue;
        }
        const int tried = TryContinuation(m, continuation, slot, k, true, savedCase);
        if (tried != kWalkOn) {
            m.loopPlaces += places;
            return tried;
        }
        k = PreviousChar(m, k);
    }
    m.loopPlaces += places;
    failures.DescentFailed(last, e);
    m.pos = start;
    return kWalkOn;
}

// RepeatLazyByteLoop for a loop over one character test.
[[gnu::noinline]] int RepeatLazyCharLoop(MatchContext& m, const ExprNode* loop) {
    const ExprNode* operand = loop->next;
    const ExprNode* continuation = loop->link.node;
    const ExprNode* test = m.info->firstTest[static_cast<size_t>(continuation->index)];
    const unsigned char* start = m.pos;
    const unsigned char* end = m.inputEnd;
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const int32_t savedCase = m.caseSensitive;
    // «.@» followed by a literal: the next place holding the literal's
    // (ASCII) byte, which is a character start.
    const int wanted = operand->op == UANY ? ExactByteOf(m, test) : -1;
    ContinuationFailures failures(m, loop);
    uint64_t places = 1;
    for (const unsigned char* k = start;;) {
        if (wanted >= 0 && k < end) {
            const void* hit = std::memchr(k, wanted, static_cast<size_t>(end - k));
            k = hit != nullptr ? static_cast<const unsigned char*>(hit) : end;
        }
        const bool known = k != start && failures.KnownOnward(k);
        if (!known && (test == nullptr || PassesFirstTest(m, test, k))) {
            const int tried = TryContinuation(m, continuation, slot, k, k != start, savedCase);
            if (tried != kWalkOn) {
                m.loopPlaces += places;
                return tried;
            }
        }
        failures.Ascend(k);
        if (k >= end) {
            m.loopPlaces += places;
            failures.LazyFailed(start, k);
            MeetEnd(m);
            return 0;
        }
        int length = 1;
        if (!CharPassesAt(m, operand, k, length)) {
            m.loopPlaces += places;
            failures.LazyFailed(start, k);
            return 0;
        }
        k += length;
        ++places;
    }
}

// RepeatRowLoop's answer for a loop it leaves to the ordinary walk.
constexpr int kNotTaken = 3;

// A greedy loop over a row of copies of one test («{\w\w}*», `width` of
// them), entered at the current position (its pass there already made).
// Its passes take whole rows of the test's run from the start: the run is
// measured as a single-test loop's is, and the continuation is tried after
// each whole row from the last one back, with the loop's pass there on the
// path as the nested walk would have it. Without this a limited attempt
// walked one pass per row up to its cut, from every start. A character run
// is counted in bytes only where it holds ASCII characters alone; elsewhere
// the loop is left to the ordinary walk (kNotTaken).
[[gnu::noinline]] int RepeatRowLoop(MatchContext& m, const ExprNode* loop, int width) {
    const ExprNode* operand = RowTest(loop);
    const unsigned char* start = m.pos;
    const unsigned char* end = m.inputEnd;
    const unsigned char* e = end;
    if (IsCharTest(operand->op)) {
        e = KnownRunEnd<true>(m, loop, start,
                              [&](const unsigned char* from, const unsigned char* stop) {
                                  return CharRunEnd(m, operand, from, stop);
                              });
        const MatchContext::LoopRun& run = m.loopRuns[static_cast<size_t>(loop->index)];
        if (run.firstHigh != nullptr && run.firstHigh < e && run.lastHigh >= start) {
            return kNotTaken;
        }
    } else if (operand->op != ANY) {
        e = KnownRunEnd(m, loop, start, [&](const unsigned char* from, const unsigned char* stop) {
            return ByteRunEnd(m, operand, from, stop);
        });
    }
    if (e == end) {
        MeetEnd(m);  // the pass after the last whole row met it
    }
    const ExprNode* continuation = loop->link.node;
    const ExprNode* test = m.info->firstTest[static_cast<size_t>(continuation->index)];
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const int32_t savedCase = m.caseSensitive;
    const int group = m.info->rowGroup[static_cast<size_t>(loop->index)];
    const auto offset = static_cast<size_t>(start - m.textStart);
    const unsigned char* top = start + (e - start) / width * width;
    MatchContext::RowPlaces& places =
        m.rowPlaces[static_cast<size_t>(m.info->rowSlot[static_cast<size_t>(loop->index)]) *
                        kMaxRow +
                    offset % static_cast<size_t>(width)];
    if (places.epoch != m.loopRunEpoch) {
        places = MatchContext::RowPlaces{};
        places.epoch = m.loopRunEpoch;
    }
    ContinuationFailures failures(m, places);
    uint64_t looked = 0;
    for (const unsigned char* k = top; k > start; ++looked) {
        failures.Descend(k);
        // Known places lie on this start's rows: their low end is a start
        // of the same residue.
        if (failures.Known(k)) {
            continue;
        }
        if (test != nullptr && !PassesFirstTest(m, test, k)) {
            k -= width;
            continue;
        }
        const int tried = TryContinuation(m, continuation, slot, k, true, savedCase);
        if (tried != kWalkOn) {
            m.loopPlaces += looked;
            if (tried == 1 && group != 0) {
                // As the first pass writes it, last, when the walk unwinds.
                m.groups[group] = static_cast<int32_t>(start - m.textStart);
                m.groups[64 + group] = static_cast<int32_t>(start + width - m.textStart);
            }
            return tried;
        }
        k -= width;
    }
    m.loopPlaces += looked;
    failures.DescentFailed(start, top);
    m.pos = start;
    return kWalkOn;
}

// One pass of a chained loop from the current position, with `passes` of
// the loops within it standing here (bit i for ProgramInfo::chainInner's
// i-th), noting the link from it when it ended its attempt through a later
// pass of the loop.
int ChainedPass(MatchContext& m, const ExprNode* loop, int32_t slot, uint16_t passes,
                MatchContext::ChainLink* links) {
    const unsigned char* q = m.pos;
    const uint64_t meets = m.endMeets;
    m.chainArrival = nullptr;
    if (MatchFrom(m, loop->next)) {
        return 1;
    }
    // The pass within this one through which the walk ended its attempt,
    // if any (another loop's, or none, when the continuation of a pass
    // that failed ended it).
    if (m.abandon == kAttemptFailed && m.chainArrival != nullptr && m.chainArrivalSlot == slot &&
        m.chainArrivalMeets == meets) {
        const auto at = static_cast<uint32_t>(q - m.textStart);
        links[at & m.chainMask] = {at, static_cast<uint32_t>(m.chainArrival - m.textStart),
                                   m.loopRunEpoch, passes, m.chainArrivalPasses};
    }
    if (m.abandon != kGoOn) {
        m.chainArrival = q;
        m.chainArrivalSlot = slot;
        m.chainArrivalPasses = passes;
        m.chainArrivalMeets = meets;
        return 0;
    }
    m.pos = q;
    return kWalkOn;
}

// A pass of a chained loop (ProgramInfo::chainSlot) from the current
// position, in an attempt cut by the search limit: 1 or 0 as the walk's,
// or kWalkOn when the pass failed and the loop's continuation follows.
//
// Such a loop runs from each start up to the cut, and where the attempt is
// then ended short of it (a missing alternative) each start walked every
// pass again for its own cut. But when a pass from q led to the attempt's
// end through the pass from q' without meeting the input end on the way,
// everything it tried before q' failed whatever the end, and in a program
// whose walks keep holding for a higher end the walk from q' ends a later
// attempt with a higher end too: the walk from q is the walk from q', which
// a later attempt reaching q takes at once. Ends only grow from one limited
// attempt to the next within a search. Such links are followed to the last
// and shortened on the way.
//
// Where a pass leads depends on the position, the case state and which
// loops within the passes have a pass standing there (their guards refuse
// to enter them there again); a loop's pass from an earlier position can
// stand at no later one, and the loops around it are this loop alone.
[[gnu::noinline]] int ChainedLoop(MatchContext& m, const ExprNode* loop, int32_t slot) {
    const unsigned char* q = m.pos;
    const auto at = static_cast<uint32_t>(q - m.textStart);
    const int32_t caseBit = m.caseSensitive & 1;
    const std::vector<int32_t>& inner = m.info->chainInner[static_cast<size_t>(slot)];
    uint16_t passes = 0;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (m.loopPass[static_cast<size_t>(inner[i] * 2 + caseBit)].pos == q) {
            passes = static_cast<uint16_t>(passes | 1u << i);
        }
    }
    const auto ring = static_cast<size_t>(slot * 2 + caseBit);
    MatchContext::ChainLink* links = m.chainLinks.data() + ring * (size_t{m.chainMask} + 1);
    auto linkFrom = [&](uint32_t p, uint16_t standing) -> MatchContext::ChainLink* {
        MatchContext::ChainLink& l = links[p & m.chainMask];
        return l.epoch == m.loopRunEpoch && l.pos == p && l.from == standing ? &l : nullptr;
    };
    if (MatchContext::ChainLink* link = linkFrom(at, passes)) {
        uint32_t target = link->target;
        uint16_t standing = link->to;
        while (const MatchContext::ChainLink* next = linkFrom(target, standing)) {
            target = next->target;
            standing = next->to;
        }
        for (uint32_t p = at; p != target;) {
            MatchContext::ChainLink* l = &links[p & m.chainMask];
            p = l->target;
            l->target = target;
            l->to = standing;
        }
        const uint64_t meets = m.endMeets;
        const auto mark = static_cast<int32_t>(m.passLog.size());
        m.pos = m.textStart + target;
        // The loops within whose passes stood there, as on the way.
        for (size_t i = 0; i < inner.size(); ++i) {
            if (standing >> i & 1) {
                const auto innerSlot = static_cast<size_t>(inner[i] * 2 + caseBit);
                m.passLog.push_back({static_cast<int32_t>(innerSlot), m.loopPass[innerSlot]});
                m.loopPass[innerSlot] = {m.pos, static_cast<int32_t>(m.passLog.size() - 1)};
            }
        }
        if (EnterLoop(m, loop)) {
            m.chainJumped = true;
            const int r = ChainedPass(m, loop, slot, standing, links);
            if (r != kWalkOn && (r != 0 || m.abandon != kGoOn)) {
                m.chainArrival = q;
                m.chainArrivalPasses = passes;
                m.chainArrivalMeets = meets;
                return r;
            }
        }
        // Not expected: the walk from there holds for every higher end.
        // Walked as it stands.
        LeavePasses(m, mark);
        m.pos = q;
    }
    return ChainedPass(m, loop, slot, passes, links);
}

// Walks from node until END (1) or a failure (0). Operators and groups try
// their continuation in a nested walk and take their fallback in this one.
// kRemembering: the walk is a remembering one (the failure memo is on).
template <bool kRemembering>
[[gnu::always_inline]] inline int Walk(MatchContext& m, const ExprNode* node) {
    while (node) {
        const int16_t op = node->op;
        switch (op) {
            case NOTHING:
            case GROUPOPEN:
            case GROUPCLOSE:
                node = node->next;
                continue;
            case JUMP:
                node = node->link.node;
                continue;
            case BRANCHEND:
                node = SkipAlternative(m, node);
                continue;
            case END:
                return 1;
            case BOL:
            case EOL:
            case WORDSTART:
            case WORDEND:
            case UWORDSTART:
            case UWORDEND:
                if (!ZeroWidthHolds(m, op)) {
                    return 0;
                }
                node = node->next;
                continue;
            case CASEON:
                m.caseSensitive |= 1;
                node = node->next;
                continue;
            case CASEOFF:
                m.caseSensitive &= ~1;
                node = node->next;
                continue;
            case EXACTLY:
                if (!MatchesLiteral(m, node)) {
                    return 0;
                }
                ++m.pos;
                node = node->next;
                continue;
            case UANY:
            case UANYOF:
            case UANYBUT:
            case UEXACTLY:
            case USPACE:
            case UNSPACE:
            case UUPPER:
            case ULOWER:
            case UNDIGIT:
            case UALNUM:
            case UNALNUM:
                if (!ConsumesChar(m, node)) {
                    return 0;
                }
                node = node->next;
                continue;
        }
        if (IsConsuming(op)) {
            if (!ConsumesByte(m, node)) {
                return 0;
            }
            node = node->next;
            continue;
        }
        if (IsCapturing(op)) {
            const int32_t slot = GroupNumber(op) + (IsOpeningBracket(op) ? 0 : 64);
            const int32_t savedCase = m.caseSensitive;
            const unsigned char* p = m.pos;
            if (!MatchFrom(m, node->next)) {
                m.caseSensitive = savedCase;
                m.groups[slot] = -1;
                return 0;
            }
            // Written while the successful walk unwinds: the outermost pass,
            // which is the first repetition of an enclosing loop, wins.
            m.groups[slot] = static_cast<int32_t>(p - m.textStart);
            return 1;
        }
        if (IsOperator(op)) {
            const auto index = static_cast<size_t>(node->index);
            const uint8_t kind = m.info->walkKind[index];
            if (kind & kWalkChoices) {
                // A choice that comes down to a few walks: each tried once.
                const ProgramInfo::Span span = m.info->choiceSpan[index];
                const ExprNode* const* leaves = &m.info->choiceLeaves[span.first];
                const int32_t savedCase = m.caseSensitive;
                const unsigned char* savedPos = m.pos;
                for (int32_t i = 0; i + 1 < span.count; ++i) {
                    if (MatchFrom(m, leaves[i])) {
                        return 1;
                    }
                    if (m.abandon != kGoOn) {
                        return 0;
                    }
                    m.caseSensitive = savedCase;
                    m.pos = savedPos;
                }
                node = leaves[span.count - 1];
                if (node == nullptr) {
                    m.abandon = kAttemptFailed;
                    return 0;
                }
                if (kRemembering && FailsFromHere(m, node)) {
                    return 0;
                }
                continue;
            }
            if (IsLoop(op) && !EnterLoop(m, node)) {
                return 0;
            }
            const bool greedy = IsGreedyOperator(op);
            if (kind & (kWalkSingleLoop | kWalkRowLoop)) {
                const bool single = (kind & kWalkSingleLoop) != 0;
                int r = 0;
                if (single) {
                    const bool chars = IsCharTest(node->next->op);
                    if (!greedy) {
                        return chars ? RepeatLazyCharLoop(m, node) : RepeatLazyByteLoop(m, node);
                    }
                    r = chars ? RepeatCharLoop(m, node) : RepeatByteLoop(m, node);
                } else {
                    r = RepeatRowLoop(m, node, m.info->loopRow[index]);
                }
                if (r == kWalkOn) {
                    node = node->link.node;
                    if (kRemembering && FailsFromHere(m, node)) {
                        return 0;
                    }
                    continue;
                }
                if (r != kNotTaken) {
                    return r;
                }
            }
            if ((kind & kWalkChainLoop) && !m.endShared && !m.chainsOff) {
                const int r = ChainedLoop(m, node, m.info->chainSlot[index]);
                if (r != kWalkOn) {
                    return r;
                }
                node = node->link.node;
                if (kRemembering && FailsFromHere(m, node)) {
                    return 0;
                }
                continue;
            }
            if (kind & kWalkQuestSkip) {
                // Both choices of «x+?» go on alike (a chain of them would
                // multiply the walks).
                node = m.info->questSkip[index];
                continue;
            }
            const int32_t savedCase = m.caseSensitive;
            const unsigned char* savedPos = m.pos;
            // Greedy: the operand (and, through its JUMP, further repetitions)
            // first; lazy: the rest of the expression first.
            if (MatchFrom(m, greedy ? node->next : node->link.node)) {
                return 1;
            }
            if (m.abandon != kGoOn) {
                return 0;
            }
            m.caseSensitive = savedCase;
            m.pos = savedPos;
            node = greedy ? node->link.node : node->next;
            if (kRemembering && FailsFromHere(m, node)) {
                return 0;
            }
            continue;
        }
        node = node->next;  // any other opcode only delimits
    }
    return 0;
}

// The walk of «(int)|(char)|…» (ProgramInfo::literalAlternatives): the
// first alternative whose bytes stand at the current position, with the
// group entries and the input end met as the ordinary walk leaves them.
int WalkLiteralAlternatives(MatchContext& m) {
    const unsigned char* s = m.pos;
    const auto room = static_cast<size_t>(m.inputEnd - s);
    const bool withCase = (m.caseSensitive & 1) != 0;
    for (const ProgramInfo::LiteralAlternative& a : m.info->literalAlternatives) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(a.bytes.data());
        const size_t length = a.bytes.size();
        const size_t k = std::min(length, room);
        size_t i = 0;
        if (withCase) {
            while (i < k && s[i] == bytes[i]) {
                ++i;
            }
        } else {
            while (i < k && AsciiUpper(s[i]) == AsciiUpper(bytes[i])) {
                ++i;
            }
        }
        if (i == length) {
            if (a.group != 0) {
                m.groups[a.group] = static_cast<int32_t>(s - m.textStart);
                m.groups[64 + a.group] = static_cast<int32_t>(s + length - m.textStart);
            }
            m.pos = s + length;
            return 1;
        }
        if (i == room) {
            MeetEnd(m);  // the next byte test met the input end
        }
    }
    return 0;
}

// The walk of a straight program (ProgramInfo::straight) from the current
// position: the moves the ordinary walk would make, without nesting a walk
// per group and loop. Its loops give nothing back, so a failure anywhere
// fails the attempt. Group entries are written as the ordinary walk leaves
// them: set on success, -1 after a failure.
int WalkStraight(MatchContext& m, const ExprNode* node) {
    const unsigned char* const end = m.inputEnd;
    for (;;) {
        const int16_t op = node->op;
        switch (op) {
            case END:
                return 1;
            case JUMP:
                node = node->link.node;
                continue;
            case BOL:
            case EOL:
            case WORDSTART:
            case WORDEND:
            case UWORDSTART:
            case UWORDEND:
                if (!ZeroWidthHolds(m, op)) {
                    break;
                }
                node = node->next;
                continue;
            case EXACTLY:
                if (!MatchesLiteral(m, node)) {
                    break;
                }
                ++m.pos;
                node = node->next;
                continue;
            case STAR:
            case PLUS: {
                // The whole run, then the continuation. The attempts at the
                // starts inside a run that failed end where it did: the run
                // is measured once, not again from each of them.
                const ExprNode* operand = node->next;
                const unsigned char* k = m.pos;
                if (operand->op == ANY || operand->op == UANY) {
                    k = end;  // the input ends with whole characters
                } else {
                    const bool chars = IsCharTest(operand->op);
                    k = KnownRunEnd(m, node, k,
                                    [&](const unsigned char* from, const unsigned char* stop) {
                                        return chars ? CharRunEnd(m, operand, from, stop)
                                                     : ByteRunEnd(m, operand, from, stop);
                                    });
                }
                if (k == end) {
                    MeetEnd(m);
                }
                if (node == m.info->leadingLoop) {
                    m.leadingRunEnd = k;
                }
                m.pos = k;
                node = node->link.node;
                continue;
            }
            default:
                if (IsConsuming(op)) {
                    if (!(IsCharTest(op) ? ConsumesChar(m, node) : ConsumesByte(m, node))) {
                        break;
                    }
                } else if (IsCapturing(op)) {
                    m.groups[GroupNumber(op) + (IsOpeningBracket(op) ? 0 : 64)] =
                        static_cast<int32_t>(m.pos - m.textStart);
                }
                node = node->next;  // brackets that capture nothing, a loop's tail
                continue;
        }
        ClearRecordedGroups(m);
        return 0;
    }
}

inline void ReportProgress(MatchContext& m, const unsigned char* s) {
    if (m.callbacks.progress == nullptr || s < m.progressDue) {
        return;
    }
    m.progressDue = s + m.progressStep;
    if (m.inputEnd == m.textStart) {
        return;
    }
    const int percent = static_cast<int>(static_cast<double>(s - m.textStart) /
                                         static_cast<double>(m.inputEnd - m.textStart) * 100.0);
    if (percent > m.lastPercent) {
        m.lastPercent = percent;
        m.callbacks.progress(m.callbacks.user, percent);
    }
}

// Sets every group entry to -1, with vector stores: the compiler turns a
// plain fill into «rep stos», whose start-up costs more than the search
// itself when a loop finds a matching at every character.
inline void ClearGroups(int32_t* groups) {
    static_assert(kGroupSlots % 8 == 0);
    const __m128i none = _mm_set1_epi32(-1);
    for (int i = 0; i < kGroupSlots; i += 8) {
        int32_t* p = groups + i;
        __asm__("" : "+r"(p));  // hides the fill pattern from that rewriting
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), none);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), none);
    }
}

// Makes the context ready for a run of the program that info describes. The
// loop-guard table is left all clear by every run that ends normally, so it
// is only rebuilt when it is too small or a run was interrupted. A run that
// goes on from the last one (MatchContext::session) keeps the memo, the loop
// runs and whether the memo is on; any other starts them from `memoBase`.
void PrepareForProgram(MatchContext& m, const ProgramInfo& info, bool continuing,
                       uint64_t memoBase) {
    m.info = &info;
    m.charMode = info.charMode;
    m.highestGroup = info.highestGroup;
    const size_t slots = static_cast<size_t>(info.nodeCount) * 2;
    if (m.loopPass.size() < slots || !m.passLog.empty()) {
        m.loopPass.assign(std::max(slots, m.loopPass.size()), MatchContext::LoopPass{});
        m.passLog.clear();
    }
    m.tailPlaces.clear();
    m.loopPlaces = 0;
    m.kindRunFrom = m.kindRunTo = nullptr;  // the text may have changed
    m.leadingScanFrom = m.leadingScanTo = nullptr;
    if (continuing) {
        return;
    }
    m.session = {};  // the memo no longer holds what any session left
    m.prefixByteCommon = m.requiredByteCommon = false;
    // Each search sees the loop runs as empty; clearing them per search
    // would cost more than a short search itself.
    if (m.loopRuns.size() < static_cast<size_t>(info.nodeCount) || m.loopRunEpoch == UINT32_MAX) {
        m.loopRuns.assign(std::max(static_cast<size_t>(info.nodeCount), m.loopRuns.size()),
                          MatchContext::LoopRun{});
        // Row places and chain links count searches with the same number,
        // which starts over.
        m.rowPlaces.assign(m.rowPlaces.size(), MatchContext::RowPlaces{});
        m.chainLinks.assign(m.chainLinks.size(), MatchContext::ChainLink{});
        m.loopRunEpoch = 0;
    }
    ++m.loopRunEpoch;
    if (info.chainLoops > 0) {
        // Room for the passes of one attempt's reach, within reason (at most
        // 2^21 entries, 32 MiB, for all loops): a pass whose entry another
        // took is only walked again.
        constexpr size_t kMostEntries = size_t{1} << 21;
        const size_t rings = static_cast<size_t>(info.chainLoops) * 2;
        uint32_t ring = 64;
        while (ring <= static_cast<uint32_t>(std::max(m.searchLimit, 0)) &&
               size_t{ring} * 2 * rings <= kMostEntries) {
            ring <<= 1;
        }
        m.chainMask = ring - 1;
        const size_t entries = rings * ring;
        if (m.chainLinks.size() < entries) {
            m.chainLinks.resize(entries);  // new entries' epoch is 0: empty
        }
    }
    const size_t rowEntries = static_cast<size_t>(info.rowLoops) * kMaxRow;
    if (m.rowPlaces.size() < rowEntries) {
        m.rowPlaces.resize(rowEntries);  // new entries' epoch is 0: empty
    }
    m.memoOn = false;
    m.memoStride = static_cast<uint64_t>(info.nodeCount) * 2;
    m.failures.Start(memoBase, info.memoColumns, info.memoPassWords);
    m.runWalks = 0;
    m.runWalkLimit = UINT64_MAX;
    m.cutEndFailures = 0;
    m.wideFoundBefore = nullptr;
    m.wideCutShort = 0;
    m.limitedLooks = m.limitedWalked = m.limitedAttempts = 0;
    m.limitedMemoLate = false;
    m.abortsKept = m.abortsInTable = false;
}

// Session ids handed to line hints; 0 is none.
std::atomic<uint64_t> nextSession{1};

// Analyses a program passed on its own. Never cached by its address: a
// freed program's memory may hold the next one.
const ProgramInfo& InfoFor(const ExprNode* program, int caseSensitive) {
    bareProgramInfo = AnalyseProgram(program, true, caseSensitive & 1);
    return bareProgramInfo;
}

// One attempt at s with input end `end`. After a failure the context's input
// end is `savedEnd` again.
int AttemptWithEnd(MatchContext& m, const ExprNode* program, const unsigned char* s,
                   const unsigned char* end, const unsigned char* savedEnd) {
    m.inputEnd = end;
    m.attemptEnd = end;
    m.leadingRunEnd = nullptr;
    m.hitEnd = false;
    m.attemptCutShort = false;
    m.attemptWalks = 0;
    m.attemptStackTop = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const int32_t savedCase = m.caseSensitive;
    m.pos = s;
    // Only the groups the program records can have been written.
    ClearRecordedGroups(m);
    const ProgramInfo& info = *m.info;
    if (end - s < info.shortestMatching) {
        // No matching fits before the input end (a line's, or the search
        // limit's): the walk could only fail, at the latest where it met it.
        MeetEnd(m);
        m.caseSensitive = savedCase;
        m.inputEnd = savedEnd;
        return 0;
    }
    const int walked = !info.literalAlternatives.empty() ? WalkLiteralAlternatives(m)
                       : info.straight[static_cast<size_t>(m.caseSensitive & 1)]
                           ? WalkStraight(m, program)
                           : MatchFrom(m, program);
    if (!walked) {
        m.caseSensitive = savedCase;
        m.inputEnd = savedEnd;
        if (m.abandon == kAttemptFailed) {
            m.abandon = kGoOn;
            m.attemptCutShort = true;
        }
        return 0;
    }
    m.groups[0] = static_cast<int32_t>(s - m.textStart);
    m.groups[64] = static_cast<int32_t>(m.pos - m.textStart);
    return 1;
}

// The length of a block of start positions that share one wide input end,
// in search limits. Each block's walks are redone for the next block's end,
// and so are the limit's length beyond the block: longer blocks repeat less
// of that work, and reach further past the limit for each start.
constexpr uint64_t kMemoBlockLimits = 4;

// Walks per start position, on average over a run, past which the run turns
// the memo on. A loop over the words of a line that fails at every start
// walks the rest of the line again from each word: a few walks per start,
// and quadratic in the line's words without the memo.
constexpr uint64_t kRunWalksPerStart = 4;

// Whether the next limited attempt remembers from its first walk: while the
// memo answers at least a fifth of such walks (failures found by earlier
// starts that met no input end), as over a long line of words; else only past
// its first walks. Every 32nd remembers from the first anyway, so that the
// share is measured again.
inline void LimitedMemoFor(MatchContext& m) {
    constexpr uint64_t kWindow = 4096;
    if (m.limitedLooks >= kWindow) {
        m.limitedLooks /= 2;
        m.limitedWalked /= 2;
    }
    const bool sample = (++m.limitedAttempts & 31) == 0;
    m.limitedMemoLate =
        m.limitedMemoAlwaysLate || (!sample && m.limitedLooks >= 256 &&
                                    (m.limitedLooks - m.limitedWalked) * 5 < m.limitedLooks);
}

// Forgets what a block's wide attempts found failing, before a limited
// attempt with a lower end: the memo's failures and the places where loops'
// continuations failed (by counting on the loop runs' searches, which drops
// the runs measured too).
void ForgetWideFailures(MatchContext& m) {
    m.failures.Forget();
    if (++m.loopRunEpoch == UINT32_MAX) {
        std::fill(m.loopRuns.begin(), m.loopRuns.end(), MatchContext::LoopRun{});
        std::fill(m.rowPlaces.begin(), m.rowPlaces.end(), MatchContext::RowPlaces{});
        std::fill(m.chainLinks.begin(), m.chainLinks.end(), MatchContext::ChainLink{});
        m.loopRunEpoch = 1;
    }
}

int TryAtImpl(MatchContext& m, const ExprNode* program, const unsigned char* s) {
    ReportProgress(m, s);
    m.attemptStart = s;
    m.sameEndBefore = s + 1;
    m.runWalkLimit = m.memoThreshold + kRunWalksPerStart * static_cast<uint64_t>(s - m.runFrom);
    const unsigned char* savedEnd = m.inputEnd;
    const unsigned char* end = savedEnd;
    m.endShared = true;
    if (m.searchLimit >= 0 && savedEnd - s > m.searchLimit) {
        end = s + m.searchLimit;
        if (m.charMode) {
            // No matching ends inside a character.
            end = unicode::CharStartAtOrBefore(end, s, m.textEnd);
        }
        if ((m.memoOn || m.cutEndFailures >= m.blockThreshold) && m.info->attemptEndMonotone &&
            m.searchLimit >= std::max(m.info->shortestMatching, 1) && s >= m.wideFoundBefore) {
            // Every start would see an input end of its own, and a walk that
            // met one end tells nothing about the next: no failure that
            // reaches the limit would carry over. So the start positions are
            // taken in blocks of a few limits' length, and an attempt first
            // looks as far as one limit past its block's end, an end shared
            // by the whole block. Worth it once the memo is on, or once many
            // attempts have failed at their cut (each would have read up to
            // it again, where a block's can pass over the starts of its run).
            // Without nodes that hold at the input end, failing there means
            // failing at every lower end too: then the limited attempt need
            // not be made, and the failures found carry over to it. Once a
            // block's wide attempt finds a matching, the limited ones decide
            // for the rest of it: the next starts would mostly find the same
            // matching, each reading again as far as it.
            const auto limit = static_cast<uint64_t>(m.searchLimit);
            const uint64_t length = kMemoBlockLimits * limit;
            const auto block = static_cast<uint64_t>(s - m.textStart) / length;
            const unsigned char* wide =
                m.textStart + std::min((block + 1) * length + limit,
                                       static_cast<uint64_t>(savedEnd - m.textStart));
            if (m.charMode) {
                wide = unicode::CharStartAtOrBefore(wide, s, m.textEnd);
            }
            if (wide > end) {
                const int32_t savedCase = m.caseSensitive;
                const int found = AttemptWithEnd(m, program, s, wide, savedEnd);
                m.caseSensitive = savedCase;  // a matching keeps the case it ended with
                const unsigned char* blockEnd = m.textStart + (block + 1) * length;
                const bool cutShort = !found && (m.attemptCutShort || m.abandon == kOutOfStack);
                m.wideCutShort = cutShort ? m.wideCutShort + 1 : 0;
                if (m.wideCutShort >= m.wideCutShortMost) {
                    m.wideFoundBefore = blockEnd;
                    m.wideCutShort = 0;
                }
                if (found) {
                    // The limited attempt decides what is found.
                    m.wideFoundBefore = blockEnd;
                } else if (m.abandon == kGoOn && !m.attemptCutShort) {
                    m.sameEndBefore = blockEnd;
                    return 0;
                } else if (m.abandon == kCancelledRun) {
                    return 0;
                }
                // A matching, or out of stack, or stopped by a missing
                // alternative: the limited attempt itself must tell. Only
                // the attempts from the start are known to fail with every
                // lower end: where a node holds at the input end, a walk
                // that failed short of the wide end may hold, or end the
                // attempt, where the limited one ends («(>)?», «$|}»).
                if (!m.info->endMonotone) {
                    ForgetWideFailures(m);
                }
                m.abandon = kGoOn;
            }
        }
        m.endShared = false;
        LimitedMemoFor(m);
        m.chainJumped = false;
        const int32_t savedCase = m.caseSensitive;
        int found = AttemptWithEnd(m, program, s, end, savedEnd);
        if (found && m.chainJumped && m.info->chainRewalk) {
            // The matching passed over passes whose groups it did not write:
            // walked again without shortcuts, once per matching found.
            m.caseSensitive = savedCase;
            m.chainsOff = true;
            found = AttemptWithEnd(m, program, s, end, savedEnd);
            m.chainsOff = false;
        }
        m.cutEndFailures += !found && m.hitEnd ? 1 : 0;
        return found;
    }
    return AttemptWithEnd(m, program, s, end, savedEnd);
}

// Result of an attempt as ExecExpression reports it: found, or why not.
inline Attempt Outcome(const MatchContext& m, int tried) {
    if (tried) {
        return kFound;
    }
    return m.abandon == kGoOn ? kNotFound : kStop;
}

// What ExecExpression reports for an attempt that ended the run.
inline int RunResult(const MatchContext& m, Attempt a) {
    if (a == kFound) {
        return kMatchFound;
    }
    return m.abandon == kOutOfStack ? kStackExhausted : kNoMatch;
}

inline bool IsLineBreak(unsigned char c) {
    return c == '\r' || c == '\n';
}

// The end of the line that s (no line break) lies in. The searches of one
// listing pass a hint with the last line end found: without it, each search
// read the rest of its line again, quadratic in a line of many matchings.
const unsigned char* LineEndFrom(const MatchContext& m, const unsigned char* s,
                                 const unsigned char* end) {
    LineHint* hint = m.lineHint;
    if (hint != nullptr && s >= hint->from && s < hint->end) {
        return hint->end;
    }
    const unsigned char* lineEnd = detail::FindEither(s, end, '\r', '\n');
    if (hint != nullptr) {
        hint->from = s;
        hint->end = lineEnd;
    }
    return lineEnd;
}

// Percentages relate to each line's end: they start again from 0 where a
// search reaches a line other than the one the last percentage was of.
inline void NewPercentLine(MatchContext& m, const unsigned char* lineEnd) {
    if (lineEnd != m.percentLineEnd) {
        m.percentLineEnd = lineEnd;
        m.lastPercent = 0;
    }
}

// The first position in [s, end) where a matching can begin, or end. Only
// for programs that cannot match empty.
const unsigned char* NextCandidate(MatchContext& m, const ProgramInfo& info, const unsigned char* s,
                                   const unsigned char* end) {
    const size_t caseBit = static_cast<size_t>(m.caseSensitive & 1);
    if (caseBit == 0 && !info.charLiteral.sets.empty()) {
        // A matching at p has those places from p + lead on, for a lead in
        // the range: it starts in the window from the place found less the
        // longest lead to the place less the shortest, at a byte it can
        // begin with.
        const size_t shortest = info.charLiteralLead[0];
        const size_t longest = info.charLiteralLead[1];
        const uint8_t* admits = info.firstBytes[0].data();
        if (static_cast<size_t>(end - s) <= shortest) {
            return end;
        }
        for (const unsigned char* from = s + shortest;;) {
            const unsigned char* at = detail::FindByteSets(from, end, info.charLiteral);
            if (at >= end) {
                return end;
            }
            const unsigned char* p = static_cast<size_t>(at - s) > longest ? at - longest : s;
            for (; p <= at - shortest; ++p) {
                if (admits[*p]) {
                    return p;
                }
            }
            from = at + 1;
        }
    }
    const std::string& prefix = info.prefix;
    if (prefix.size() >= 2) {
        if (s >= end) {
            return end;
        }
        if (caseBit == 1 || info.prefixWithoutLetters) {
            return detail::FindLiteral(s, end, info.prefixExact, &m.prefixByteCommon);
        }
        return detail::FindLiteralNoCase(s, end, info.prefixFolded);
    }
    if (info.literalSet[caseBit].width > 0) {
        // Every matching begins with one of a set of literals, which the
        // scan finds whole: it stops far less often than at first bytes or
        // pairs, and no attempt is made where none stands.
        return detail::FindLiteralSet(s, end, info.literalSet[caseBit]);
    }
    if (info.bytePairCount[caseBit] > 0 && info.firstByteCount[caseBit] >= 2) {
        // A matching here takes two bytes at least (otherwise any byte could
        // follow the first), and in line mode both lie within the line.
        return detail::FindBytePair(s, end, info.bytePairs[caseBit].data(),
                                    info.bytePairCount[caseBit]);
    }
    switch (info.firstByteCount[caseBit]) {
        case 0:
            return end;
        case 1: {
            if (s >= end) {
                return end;
            }
            const void* hit =
                std::memchr(s, info.firstByteList[caseBit][0], static_cast<size_t>(end - s));
            return hit != nullptr ? static_cast<const unsigned char*>(hit) : end;
        }
        case 2:
            return detail::FindEither(s, end, info.firstByteList[caseBit][0],
                                      info.firstByteList[caseBit][1]);
        default:
            if (info.firstBytesOneRange[caseBit]) {
                return detail::FindInRange(s, end, info.firstByteRange[caseBit][0],
                                           info.firstByteRange[caseBit][1]);
            }
            if (info.firstByteCount[caseBit] <= 6) {
                return detail::FindAnyOf(s, end, info.firstByteList[caseBit].data(),
                                         info.firstByteCount[caseBit]);
            }
            if (info.secondBytesKnown[caseBit]) {
                return detail::FindInPairTable(s, end, info.firstBytes[caseBit].data(),
                                               info.secondIndex[caseBit].data(),
                                               info.secondBytes[caseBit].data());
            }
            return detail::FindInTable(s, end, info.firstBytes[caseBit].data());
    }
}

// Whether the literal prefix, compared without case, stands at s (a cheap
// test before a full attempt; with case, the scan has found it already).
inline bool PrefixFits(const MatchContext& m, const ProgramInfo& info, const unsigned char* s,
                       const unsigned char* end) {
    const std::string& prefix = info.prefix;
    if (prefix.size() < 2 || (m.caseSensitive & 1)) {
        return true;
    }
    if (static_cast<size_t>(end - s) < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiUpper(s[i]) != AsciiUpper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

// Whether the byte after s can follow the byte at s in a matching (true
// where that is not known, or no byte follows within the line).
inline bool SecondByteFits(const MatchContext& m, const ProgramInfo& info, const unsigned char* s,
                           const unsigned char* end) {
    const size_t caseBit = static_cast<size_t>(m.caseSensitive & 1);
    if (!info.secondBytesKnown[caseBit] || end - s < 2) {
        return true;
    }
    if (!info.firstBytes[caseBit][s[0]]) {
        return false;
    }
    const auto& set = info.secondBytes[caseBit][info.secondIndex[caseBit][s[0]]];
    return ((set[s[1] >> 3] >> (s[1] & 7)) & 1) != 0;
}

// The end of the run of bytes from s (before end) that the program's leading
// loop takes.
inline const unsigned char* LeadingRunEnd(const MatchContext& m, const ProgramInfo& info,
                                          const unsigned char* s, const unsigned char* end) {
    const uint8_t* run = info.leadingRunBytes[static_cast<size_t>(m.caseSensitive & 1)].data();
    while (s < end && run[*s]) {
        ++s;
    }
    return s;
}

// Where to try next after a failed attempt at s. An attempt that began with a
// loop over one byte test tried the loop's continuation after every byte of
// the loop's run, and a later start inside the run would try a subset of
// those same walks; it must fail as well, unless the input end differs and
// the attempt's outcome depended on it, or the attempt was cut short.
const unsigned char* NextStart(const MatchContext& m, const ProgramInfo& info,
                               const unsigned char* s, const unsigned char* end) {
    const ExprNode* loop = info.leadingLoop;
    if (loop == nullptr || m.attemptCutShort) {
        return s + 1;
    }
    // Only starts whose attempts see the same input end can be passed over.
    const unsigned char* sameEndBefore =
        m.hitEnd && m.attemptEnd != end ? m.sameEndBefore : end + 1;
    if (sameEndBefore <= s + 1) {
        return s + 1;
    }
    if (m.leadingRunEnd != nullptr) {
        return std::min(m.leadingRunEnd + 1, sameEndBefore);  // a greedy loop measured its run
    }
    // A lazy loop walks its run one byte at a time; «x+» whose first byte
    // failed never reached its loop node (then the run ends at s).
    return std::min(LeadingRunEnd(m, info, s, m.attemptEnd) + 1, sameEndBefore);
}

// Where to try next after a failed attempt at s, whatever the program, when
// the search limit ended it before the line's end (lineEnd): the attempt at
// s + 1 is the same one moved a byte on while every byte from s - 1 to
// s + limit is of one kind, since neither its tests nor the word boundaries
// can tell those bytes apart, the input end moves with it and «^» holds at
// neither. So the starts up to the last whose input lies in that run of one
// kind fail too: a long run costs one attempt per limit's length of its
// end, not one per byte.
const unsigned char* PastShiftedFailures(MatchContext& m, const ProgramInfo& info,
                                         const unsigned char* s, const unsigned char* lineEnd) {
    const int32_t limit = m.searchLimit;
    if (limit < 1 || s <= m.textStart || lineEnd - s <= limit) {
        return s + 1;
    }
    const int16_t* kind = info.byteKind[static_cast<size_t>(m.caseSensitive & 1)].data();
    if (s - 1 < m.kindRunFrom || s - 1 >= m.kindRunTo) {
        const int16_t k = kind[s[-1]];
        if (k < 0) {
            return s + 1;
        }
        const unsigned char* to = s;
        while (to < lineEnd && kind[*to] == k) {
            ++to;
        }
        m.kindRunFrom = s - 1;
        m.kindRunTo = to;
    }
    // A start t fails like t - 1 when [t - 2, t - 1 + limit] lies in the run.
    return std::max(s + 1, m.kindRunTo - limit + 1);
}

// Whether an attempt at s that begins with the program's leading byte loop
// must fail before it is made: the loop's continuation is only ever tried
// after the bytes of the loop's run, so when its first byte test passes at
// none of them the attempt fails. Sets next to where to try afterwards.
bool LeadingLoopRejects(MatchContext& m, const ProgramInfo& info, const unsigned char* s,
                        const unsigned char* lineEnd, const unsigned char*& next) {
    if (!info.leadingNextTested) {
        return false;  // the continuation may hold anywhere, even at the input end
    }
    const ExprNode* loop = info.leadingLoop;
    const size_t caseBit = static_cast<size_t>(m.caseSensitive & 1);
    const uint8_t* admits = info.leadingNextBytes[caseBit].data();
    const unsigned char* end = lineEnd;
    if (m.searchLimit >= 0 && end - s > m.searchLimit) {
        end = s + m.searchLimit;
        if (m.charMode) {
            end = unicode::CharStartAtOrBefore(end, s, m.textEnd);  // as the attempt cuts it
        }
    }
    // The continuation is tried after each byte of the run (for «x+» and «x#»
    // not before the first, which comes before the loop node), up to the
    // byte that ended it; at the input end its first test fails. Where it may
    // begin the attempt decides: mostly at once («\w@\w»), so the rest of a
    // long run is not read for each start.
    const bool needsByte = loop->op == PLUS || loop->op == LAZYPLUS;
    const uint8_t* run = info.leadingRunBytes[caseBit].data();
    const unsigned char* e = s;
    if (s > m.leadingScanFrom && s < m.leadingScanTo) {
        e = m.leadingScanTo;  // an earlier start's look, which the limit cut
    }
    const unsigned char* const scanFrom = e;
    // A character loop's characters other than ASCII are decoded up to the
    // attempt's input end, as the attempt decodes them.
    m.inputEnd = end;
    while (e < end) {
        int length = 1;
        if (!run[*e] &&
            (!info.leadingCharLoop || *e < 0x80 || !CharPassesAt(m, loop->next, e, length))) {
            break;
        }
        if (admits[*e] && (e > s || !needsByte)) {
            m.loopPlaces += static_cast<uint64_t>(e - scanFrom);
            return false;
        }
        e += length;
    }
    m.loopPlaces += static_cast<uint64_t>(e - scanFrom);
    m.leadingScanFrom = s;
    m.leadingScanTo = e;
    if (needsByte && e == s) {
        if (s == end && end != lineEnd) {
            return false;  // the search limit decided it; a later start sees further
        }
        next = s + 1;
        return true;
    }
    if (e == end && info.leadingNextAtEnd) {
        return false;  // the run reaches the input end, where the continuation holds
    }
    if (e < end && admits[*e]) {
        return false;
    }
    if (e == end && end != lineEnd) {
        next = s + 1;  // the limit cut the run: a later start may see more
    } else {
        next = e + 1;
    }
    return true;
}

// The start of the run of the leading loop's bytes (or characters) that ends
// at `to`, not before `from` (a character start); `lineEnd` bounds the
// characters decoded.
inline const unsigned char* LeadingRunStart(MatchContext& m, const ProgramInfo& info,
                                            const unsigned char* from, const unsigned char* to,
                                            const unsigned char* lineEnd) {
    const uint8_t* run = info.leadingRunBytes[static_cast<size_t>(m.caseSensitive & 1)].data();
    for (;;) {
        while (to > from && run[to[-1]]) {
            --to;
        }
        if (to == from || !info.leadingCharLoop || to[-1] < 0x80) {
            return to;
        }
        const unsigned char* q = unicode::PreviousCharStart(to, from, m.textEnd);
        int length = 1;
        m.inputEnd = lineEnd;
        if (!CharPassesAt(m, info.leadingLoop->next, q, length) || q + length != to) {
            return to;
        }
        to = q;
    }
}

// Tries every start position from s to last (inclusive) with input end `end`,
// polling for cancellation before each but the first.
Attempt TryEveryPosition(MatchContext& m, const ExprNode* program, const unsigned char* s,
                         const unsigned char* last, const unsigned char* end) {
    for (;;) {
        m.inputEnd = end;
        const Attempt a = Outcome(m, TryAtImpl(m, program, s));
        if (a != kNotFound || s >= last) {
            return a;
        }
        s = std::max(NextPosition(m, s), PastShiftedFailures(m, *m.info, s, end));
        if (s > last) {
            return kNotFound;
        }
        if (Cancelled(m)) {
            return kStop;
        }
    }
}

// The first place in [s, end) holding a byte of a required class, or end.
const unsigned char* FindRequiredSet(const ProgramInfo::ByteClass& required, const unsigned char* s,
                                     const unsigned char* end) {
    const unsigned char* set = required.set.data();
    const int setCount = required.setCount;
    switch (setCount) {
        case 0:
            return detail::FindInTable(s, end, required.bytes.data());
        case 1: {
            const void* at = memchr(s, set[0], static_cast<size_t>(end - s));
            return at != nullptr ? static_cast<const unsigned char*>(at) : end;
        }
        case 2:
            return detail::FindEither(s, end, set[0], set[1]);
        default:
            return detail::FindAnyOf(s, end, set, setCount);
    }
}

// Tries the positions in [s, end) where a matching can begin, each with the
// input end its line gives (lineMode) or the text end.
Attempt TryCandidates(MatchContext& m, const ProgramInfo& info, const unsigned char* s,
                      const unsigned char* end, bool lineMode) {
    const unsigned char* lineEnd = lineMode ? s : end;
    bool pollFirst = false;
    const std::string& literal = info.requiredLiteral;
    // Without a literal, a required class stands in for a literal of one
    // byte.
    const bool useSet = literal.empty() && info.requiredClass.known;
    const bool useLiteral = !literal.empty() || useSet;
    const size_t literalLength = useSet ? 1 : literal.size();
    const bool literalWithCase = (m.caseSensitive & 1) != 0 || info.requiredWithoutLetters;
    const unsigned char* literalAt = nullptr;  // its next place at or after s, once known
    // The start of the run of bytes before literalAt that the nodes before
    // the literal take, and the literal place it was found for.
    const unsigned char* literalRunStart = nullptr;
    const unsigned char* literalRunFor = nullptr;
    const ProgramInfo::ByteClass& also = info.alsoRequired;
    const unsigned char* alsoAt = nullptr;  // the next place of that class, once known
    // The start of the leading loop's run that ends at the input end endRunFor.
    const unsigned char* endRunFor = nullptr;
    const unsigned char* endRunStart = nullptr;
    for (;;) {
        bool literalReached = false;
        s = NextCandidate(m, info, s, end);
        if (s >= end) {
            return kNotFound;
        }
        if (m.charMode && !unicode::IsCharStart(s, m.textStart, m.textEnd)) {
            // Scans and skips step by bytes; only character starts are tried.
            s = unicode::CharStartAtOrAfter(s, m.textStart, m.textEnd);
            continue;
        }
        if (lineMode) {
            if (IsLineBreak(*s)) {
                ++s;  // line breaks are never start positions in line mode
                continue;
            }
            if (s >= lineEnd) {
                lineEnd = LineEndFrom(m, s, end);
                NewPercentLine(m, lineEnd);
            }
        }
        if (info.lastBytesKnown && (m.searchLimit < 0 || lineEnd - s <= m.searchLimit)) {
            // Every attempt from here sees the line's end as its input end,
            // and a matching ends there with one of the last bytes.
            const auto& set = info.lastBytes[static_cast<size_t>(m.caseSensitive & 1)];
            if (!detail::ByteSetHas(set, lineEnd[-1])) {
                if (!lineMode) {
                    return kNotFound;
                }
                s = lineEnd;
                continue;
            }
        } else if (info.lastBytesKnown) {
            // The search limit cuts this attempt's input, where a matching
            // would have to end: no later start shares that end.
            const unsigned char* cut = s + m.searchLimit;
            if (m.charMode) {
                cut = unicode::CharStartAtOrBefore(cut, s, m.textEnd);
            }
            const auto& set = info.lastBytes[static_cast<size_t>(m.caseSensitive & 1)];
            if (cut == s || !detail::ByteSetHas(set, cut[-1])) {
                ++s;
                continue;
            }
        }
        if (info.leadingNextAtEnd && (m.searchLimit < 0 || lineEnd - s <= m.searchLimit)) {
            // Every attempt from here has the line's end as its input end,
            // which the leading loop's run must reach: only the line's last
            // run holds starts that can match.
            if (endRunFor != lineEnd) {
                endRunFor = lineEnd;
                endRunStart = LeadingRunStart(m, info, s, lineEnd, lineEnd);
            }
            if (endRunStart > s) {
                s = endRunStart;
                continue;
            }
        }
        if (useLiteral) {
            // Every matching contains the required literal, within its line
            // and the search limit.
            if (literalAt < s) {
                literalAt =
                    useSet ? FindRequiredSet(info.requiredClass, s, end)
                    : literalWithCase
                        ? detail::FindLiteral(s, end, info.requiredExact, &m.requiredByteCommon)
                        : detail::FindLiteralNoCase(s, end, info.requiredFolded);
            }
            if (literalAt >= end) {
                return kNotFound;
            }
            const unsigned char* literalEnd = literalAt + literalLength;
            if (literalEnd > lineEnd) {
                // Not in this line after s: no line before the literal's own
                // can hold a matching either.
                s = lineEnd;
                if (literalAt > lineEnd) {
                    // lineEnd holds a line break: the last one before the
                    // literal is at or after it.
                    const auto before = static_cast<size_t>(literalAt - lineEnd);
                    const void* lf = memrchr(lineEnd, '\n', before);
                    const auto* lastBreak =
                        lf != nullptr ? static_cast<const unsigned char*>(lf) : lineEnd;
                    const void* cr =
                        memrchr(lastBreak, '\r', static_cast<size_t>(literalAt - lastBreak));
                    if (cr != nullptr) {
                        lastBreak = static_cast<const unsigned char*>(cr);
                    }
                    s = lastBreak + 1;
                }
                continue;
            }
            if (m.searchLimit >= 0 && literalEnd - s > m.searchLimit) {
                s = std::max(s + 1, literalEnd - m.searchLimit);  // out of this attempt's reach
                continue;
            }
            if (info.requiredFollowsLeadingLoop) {
                // Only a start whose loop run reaches the literal can match
                // (a run of any bytes reaches it from wherever it starts).
                const int16_t runOp = info.leadingLoop->next->op;
                const unsigned char* runStart =
                    runOp == ANY || runOp == UANY ? s
                                                  : LeadingRunStart(m, info, s, literalAt, lineEnd);
                if (runStart > s) {
                    s = runStart;
                    continue;
                }
                // The continuation then begins at the literal, inside the
                // run: the leading-loop test below would pass.
                literalReached = literalAt > s || !(info.leadingLoop->op == PLUS ||
                                                    info.leadingLoop->op == LAZYPLUS);
            }
        }
        if (also.known) {
            // A class every matching passes besides the literal, within its
            // line and the search limit too.
            if (alsoAt < s) {
                alsoAt = FindRequiredSet(also, s, end);
            }
            if (alsoAt >= end) {
                return kNotFound;
            }
            if (alsoAt >= lineEnd) {
                s = lineEnd;
                continue;
            }
            if (m.searchLimit >= 0 && alsoAt + 1 - s > m.searchLimit) {
                s = std::max(s + 1, alsoAt + 1 - m.searchLimit);
                continue;
            }
        }
        if (useLiteral && info.requiredRunKnown && !info.requiredFollowsLeadingLoop) {
            // A matching from s reaches the literal over bytes that the nodes
            // before it take: none starts before that run.
            if (literalRunFor != literalAt) {
                literalRunFor = literalAt;
                const uint8_t* run =
                    info.requiredRunBytes[static_cast<size_t>(m.caseSensitive & 1)].data();
                literalRunStart = literalAt;
                while (literalRunStart > s && run[literalRunStart[-1]]) {
                    --literalRunStart;
                }
            }
            if (literalRunStart > s) {
                s = literalRunStart;
                continue;
            }
        }
        if (m.charMode) {
            // The byte tables admit every character that begins with an
            // admitted byte; the program's first character test is exact.
            const ExprNode* first = info.firstTest[static_cast<size_t>(info.program->index)];
            int length = 1;
            m.inputEnd = lineEnd;
            if (first != nullptr && IsCharTest(first->op) && !CharPassesAt(m, first, s, length)) {
                s = NextPosition(m, s);
                continue;
            }
        }
        if (!PrefixFits(m, info, s, lineEnd) || !SecondByteFits(m, info, s, lineEnd)) {
            ++s;
            continue;
        }
        if (info.leadingLoop != nullptr && !literalReached) {
            const unsigned char* next = nullptr;
            if (LeadingLoopRejects(m, info, s, lineEnd, next)) {
                s = next;
                continue;
            }
        }
        if (pollFirst && Cancelled(m)) {
            return kStop;
        }
        pollFirst = true;
        m.inputEnd = lineEnd;
        const Attempt a = Outcome(m, TryAtImpl(m, info.program, s));
        if (a != kNotFound) {
            return a;
        }
        s = std::max(NextStart(m, info, s, lineEnd), PastShiftedFailures(m, info, s, lineEnd));
    }
}

Attempt Search(MatchContext& m, const ProgramInfo& info, const unsigned char* from,
               const unsigned char* end, bool lineMode) {
    if (info.caretRequired) {
        // «^» holds at the text start only, and a walk never goes back: only
        // an attempt there can match (and it reports no progress, being at 0).
        if (from != m.textStart || (lineMode && (from >= end || IsLineBreak(*from)))) {
            return kNotFound;
        }
        return TryEveryPosition(m, info.program, from, from,
                                lineMode ? LineEndFrom(m, from, end) : end);
    }
    if (!lineMode) {
        if (info.anchored) {
            // can only hold at the text start
            return TryEveryPosition(m, info.program, from, from, end);
        }
        if (info.canMatchEmpty) {
            return TryEveryPosition(m, info.program, from, end, end);
        }
        if (from >= end) {
            return kNotFound;
        }
        return TryCandidates(m, info, from, end, false);
    }
    const unsigned char* p = from;
    if (p >= end) {
        return kNotFound;
    }
    if (info.canMatchEmpty || info.anchored) {
        bool pollFirst = false;
        for (;;) {
            while (p < end && IsLineBreak(*p)) {
                ++p;
            }
            if (p >= end) {
                return kNotFound;
            }
            if (pollFirst && Cancelled(m)) {
                return kStop;
            }
            const unsigned char* q = LineEndFrom(m, p, end);
            NewPercentLine(m, q);
            const Attempt a = TryEveryPosition(m, info.program, p, info.anchored ? p : q, q);
            if (a != kNotFound) {
                return a;
            }
            if (info.anchored) {
                return kNotFound;  // «^» holds only at the text start
            }
            pollFirst = true;
            p = q;
        }
    }
    return TryCandidates(m, info, p, end, true);
}

}  // namespace

MatchContext& CurrentMatchContext() {
    return context;
}

int TryAt(const ExprNode* program, const unsigned char* s) {
    PrepareForProgram(context, InfoFor(program, context.caseSensitive), false, 0);
    context.runFrom = s;
    return TryAtImpl(context, program, s);
}

int MatchHere(const ExprNode* node) {
    return MatchFrom(context, node);
}

int ExecExpression(const ExprNode* program, const unsigned char* text, int32_t length,
                   const unsigned char* from, int32_t* groups, int caseSensitive,
                   int32_t searchLimit, const MatchCallbacks& callbacks, uintptr_t stackFloor) {
    return ExecExpression(InfoFor(program, caseSensitive), text, length, from, groups,
                          caseSensitive, searchLimit, false, callbacks, stackFloor);
}

int ExecExpression(const ProgramInfo& info, const unsigned char* text, int32_t length,
                   const unsigned char* from, int32_t* groups, int caseSensitive,
                   int32_t searchLimit, bool lineMode, const MatchCallbacks& callbacks,
                   uintptr_t stackFloor, LineHint* lineHint) {
    // A simpler copy may hold tests made for the other case option.
    assert(info.caseOption < 0 || info.caseOption == (caseSensitive & 1));
    MatchContext& m = context;
    m.lineHint = lineHint;
    m.searchLimit = searchLimit;
    m.callbacks = callbacks;
    if (info.program == nullptr) {
        return kNoMatch;
    }
    m.textStart = text;
    m.textEnd = text + length;
    m.groups = groups;
    m.inputEnd = text + length;
    m.caseSensitive = caseSensitive;
    m.stackFloor = stackFloor;
    m.abandon = kGoOn;
    m.walks = 0;
    m.progressStep = std::max<uintptr_t>(1, static_cast<uintptr_t>(length) / 512);
    ClearGroups(groups);
    const unsigned char* end = text + length;
    if (info.charMode) {
        from = unicode::CharStartAtOrAfter(from, text, end);  // no start inside a character
    }
    // The search before this one, over the same text with the same program
    // and options, left failures that hold whatever start they came from:
    // kept, unless it was abandoned.
    MatchContext::Session& kept = m.session;
    const bool continuing = lineHint != nullptr && lineHint->session != 0 &&
                            kept.id == lineHint->session && kept.info == &info &&
                            kept.text == text && kept.length == length &&
                            kept.caseSensitive == caseSensitive && kept.limit == searchLimit &&
                            kept.lineMode == lineMode && from >= m.runFrom;
    PrepareForProgram(m, info, continuing, static_cast<uint64_t>(from - text));
    if (!continuing) {
        if (lineHint != nullptr) {
            if (lineHint->session == 0) {
                lineHint->session = nextSession.fetch_add(1, std::memory_order_relaxed);
            }
            kept = {lineHint->session, &info, text, length, caseSensitive, searchLimit, lineMode};
        }
        // A search that goes on keeps the run's first start: its walks are
        // counted from there, and so is the count that turns the memo on.
        m.runFrom = from;
        // So does its progress: a search that goes on reports where the one
        // before it would have next (starting again at each search, a listing
        // called the progress callback once per matching).
        m.lastPercent = 0;
        m.percentLineEnd = nullptr;
        m.progressDue = from;
    }
    const Attempt a = Search(m, info, from, end, lineMode);
    if (m.abandon != kGoOn) {
        kept = {};
    }
    if (a == kNotFound) {
        return kNoMatch;
    }
    return RunResult(m, a);
}

}  // namespace quarry
