// The backtracking matcher: runs a compiled program against a byte text and
// reports the first matching at or after a start position, with its groups.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/expr_node.h"
#include "engine/failure_memo.h"
#include "engine/program_info.h"

namespace quarry {

// Callbacks polled by ExecExpression. cancelPoll returns true to go on.
struct MatchCallbacks {
    bool (*cancelPoll)(void* user) = nullptr;
    void (*progress)(void* user, int percent) = nullptr;
    void* user = nullptr;
};

// What a search learnt about the text for the next one. A caller that
// searches one unchanged text again and again from where the last matching
// ended, with the same program and options, passes the same hint to each
// search. In line mode every position from `from` up to `end` lies in the
// line that ends at `end`, so the rest of the line is not scanned for its
// end once more; and the failures the last search remembered still hold, so
// each matching does not walk again what the one before it found failing.
struct LineHint {
    const unsigned char* from = nullptr;
    const unsigned char* end = nullptr;
    // Which searches share the memo: given on first use, never reused.
    uint64_t session = 0;
};

// The state of one matching run. ExecExpression uses one instance per thread;
// only one search runs at a time on it.
struct MatchContext {
    const unsigned char* textStart = nullptr;
    const unsigned char* pos = nullptr;
    const unsigned char* inputEnd = nullptr;
    // End of the whole text; in character mode, characters are those of
    // [textStart, textEnd), and inputEnd always lies at one's start.
    const unsigned char* textEnd = nullptr;
    bool charMode = false;
    int32_t* groups = nullptr;
    int32_t caseSensitive = 0;  // bit 0 set: literals match exactly
    int32_t searchLimit = -1;   // bytes one attempt may examine; negative: none
    MatchCallbacks callbacks;
    int32_t lastPercent = 0;
    // The line end that lastPercent relates to, in line mode.
    const unsigned char* percentLineEnd = nullptr;
    // The rarest bytes of the program's literal prefix and required literal
    // (with case) turned out common in this run's text (detail::FindLiteral).
    bool prefixByteCommon = false;
    bool requiredByteCommon = false;
    int highestGroup = 0;               // highest group number the program records
    const ProgramInfo* info = nullptr;  // of the program being run

    // Progress is worked out again once an attempt starts at or after
    // progressDue; it moves on by progressStep.
    const unsigned char* progressDue = nullptr;
    uintptr_t progressStep = 1;
    LineHint* lineHint = nullptr;  // of the current run, if its caller keeps one
    // The searches whose memo the context holds (LineHint::session), and
    // what they searched with; id 0: none.
    struct Session {
        uint64_t id = 0;
        const ProgramInfo* info = nullptr;
        const unsigned char* text = nullptr;
        int32_t length = 0;
        int caseSensitive = 0;
        int32_t limit = 0;
        bool lineMode = false;
    };
    Session session;

    // Set when a test of the current attempt met the input end: its outcome
    // may then differ for a later input end.
    bool hitEnd = false;
    // How often a walk of this context met the input end, ever: whether a
    // stretch of a walk met it, wherever its nested walks began.
    uint64_t endMeets = 0;
    // The last attempt stopped early because a missing right alternative
    // failed it as a whole, so it did not try everything it could.
    bool attemptCutShort = false;
    const unsigned char* attemptEnd = nullptr;  // input end of the last attempt
    // Where the run of the program's leading byte loop ended in the last
    // attempt (nullptr: the attempt did not reach the loop).
    const unsigned char* leadingRunEnd = nullptr;

    // Stack guard: recursion stops once a frame lies below this address
    // (0: unchecked). Set by the caller from the running thread's stack.
    uintptr_t stackFloor = 0;
    // Set when backtracking must stop altogether: 1 the current attempt
    // fails as a whole, 2 the stack floor was reached, 3 cancelled.
    int abandon = 0;
    uint32_t walks = 0;  // nested walks since the last cancel poll

    // Loop guard: for every loop node and case value, the position of its
    // latest pass on the current path (nullptr: none) and the index of the
    // log record that made it; the log lets each walk restore what it changed
    // as it returns.
    struct LoopPass {
        const unsigned char* pos = nullptr;
        int32_t record = -1;
    };
    std::vector<LoopPass> loopPass;
    struct PassRecord {
        int32_t slot;
        LoopPass previous;
    };
    std::vector<PassRecord> passLog;
    // Per greedy single-test or row loop node: the last run of bytes its operand
    // took, [from, to), measured up to input end `end` (see KnownRunEnd).
    struct LoopRun {
        const unsigned char* from = nullptr;
        const unsigned char* to = nullptr;
        const unsigned char* end = nullptr;
        int32_t caseBit = 0;
        // Its continuation failed at every place in (low, high] with
        // input-end tag `end` as the memo's (see ContinuationFailures):
        // places whose tries met no input end, which hold for any later
        // end, and places whose tries met one. Kept per case bit: where a
        // «\C?» lets the loop be reached in either case state, the tries
        // of one state would otherwise replace the other's each time.
        struct Failed {
            const unsigned char* low = nullptr;
            const unsigned char* high = nullptr;
            uint32_t end = 0;
        };
        Failed clean[2];
        Failed ended[2];
        // For a row loop over a character test: the first and the last byte
        // above 0x7F in [from, to) (nullptr: none), which tell whether a
        // part of the run holds ASCII characters alone, counted in bytes.
        const unsigned char* firstHigh = nullptr;
        const unsigned char* lastHigh = nullptr;
        // The search it was measured in (loopRunEpoch): entries of earlier
        // searches count as empty, so a search need not clear them all.
        uint32_t epoch = 0;
    };
    std::vector<LoopRun> loopRuns;
    // Per row loop (ProgramInfo::rowSlot) and start offset modulo its row's
    // length (kMaxRow entries each): the places where its continuation
    // failed, as LoopRun keeps them. Only starts of one residue share rows.
    struct RowPlaces {
        LoopRun::Failed clean[2];
        LoopRun::Failed ended[2];
        uint32_t epoch = 0;
    };
    std::vector<RowPlaces> rowPlaces;
    uint32_t loopRunEpoch = 0;
    // Per chained loop (ProgramInfo::chainSlot) and case state, a ring over
    // offsets of chainMask + 1 entries: a pass of the loop from `pos` that led to
    // its attempt's end through the loop's pass from `target`, meeting no
    // input end on the way, in a limited attempt of the search `epoch`
    // (loopRunEpoch). Limited attempts' input ends only grow within a
    // search, so the pass leads there again (see ChainedLoop).
    // `from` and `to`: which loops within the passes (ProgramInfo::
    // chainInner) had a pass standing at `pos` and at `target`, whose
    // guards refuse to enter them there again.
    struct ChainLink {
        uint32_t pos = 0;
        uint32_t target = 0;
        uint32_t epoch = 0;
        uint16_t from = 0;
        uint16_t to = 0;
    };
    std::vector<ChainLink> chainLinks;
    uint32_t chainMask = 0;
    // The pass of a chained loop through which a walk that ended its
    // attempt last went, and endMeets when it began; set as the ending
    // unwinds, so that each pass finds the one within it.
    const unsigned char* chainArrival = nullptr;
    int32_t chainArrivalSlot = -1;
    uint16_t chainArrivalPasses = 0;
    uint64_t chainArrivalMeets = 0;
    // The attempt took a chained pass's shortcut, which leaves the groups
    // of the passes it passed over unwritten; the ring is not used while
    // chainsOff is set.
    bool chainJumped = false;
    bool chainsOff = false;
    // Failed walks of this run, once the run has taken long enough to be
    // worth remembering them (see FailureMemo).
    FailureMemo failures;
    bool memoOn = false;
    bool abortsKept = false;     // it holds walks that ended their attempt
    bool abortsInTable = false;  // some of them in its table
    uint32_t attemptWalks = 0;
    uintptr_t attemptStackTop = 0;  // stack address where the attempt began
    uint64_t memoStride = 0;        // walk keys: position * stride + node * 2 + case
    uint32_t memoThreshold = 2048;  // walks in one attempt before memoising; 0: always
    // Places at which the one-test loops of this run looked for their
    // continuation, and the bytes they measured their runs over, as a
    // measure of their work.
    uint64_t loopPlaces = 0;
    // Walks started in this run, and the count past which the run turns the
    // memo on: many walks per start position mean backtracking over the same
    // ground from one attempt to the next.
    uint64_t runWalks = 0;
    uint64_t runWalkLimit = 0;
    // Attempts of this run that failed having met the search limit's cut,
    // and the count from which the run takes its starts in blocks that share
    // an input end, memo or not (see TryAtImpl).
    uint64_t cutEndFailures = 0;
    uint64_t blockThreshold = 256;
    // Starts before this take no wide attempt: their block's found a matching,
    // or wideCutShortMost in a row ended where the limited attempt must tell
    // (at a missing alternative, or out of stack). Each start then paid for
    // two attempts, the wide one telling nothing.
    const unsigned char* wideFoundBefore = nullptr;
    uint32_t wideCutShort = 0;
    uint32_t wideCutShortMost = 16;
    // Remembering walks of limited attempts, and how many of them walked
    // (the rest were answered by the memo), over the last few thousand; and
    // whether the current limited attempt remembers only past its first
    // walks, which it does while the memo answers few of them.
    uint64_t limitedLooks = 0;
    uint64_t limitedWalked = 0;
    uint32_t limitedAttempts = 0;
    bool limitedMemoLate = false;
    bool limitedMemoAlwaysLate = false;      // tests: whatever the memo answers
    const unsigned char* runFrom = nullptr;  // the run's first start position
    // The last run of bytes of one kind (ProgramInfo::byteKind) measured
    // after a failed attempt, [from, to).
    const unsigned char* kindRunFrom = nullptr;
    const unsigned char* kindRunTo = nullptr;
    // The bytes after leadingScanFrom up to leadingScanTo belong to the
    // leading loop's run and none lets its continuation begin: what the last
    // look ahead of a leading loop (LeadingLoopRejects) found, so that starts
    // inside such a run cut by the search limit do not read it again.
    const unsigned char* leadingScanFrom = nullptr;
    const unsigned char* leadingScanTo = nullptr;
    const unsigned char* attemptStart = nullptr;
    // The current attempt's input end is shared by the attempts around it
    // (not cut by the search limit, or the wide end of a block of starts):
    // failures that met it are worth a bit set of their own.
    bool endShared = true;
    // The first start after the last attempt's whose attempt sees another
    // input end (the next start when the search limit cut the input).
    const unsigned char* sameEndBefore = nullptr;
    // The places where remembering walks went on without a nested walk (an
    // operator's fallback) that have a column in the memo's bit rows: from
    // there on a walk's outcome is that place's, so when it fails, they
    // failed too. Each walk owns those noted after its own start.
    struct TailPlace {
        uint64_t pos;
        uint32_t column;
    };
    std::vector<TailPlace> tailPlaces;
};

inline constexpr int kMatchFound = 1;
inline constexpr int kNoMatch = 0;
inline constexpr int kStackExhausted = -1;  // the stack floor was reached

// Searches text[0, length) from `from` (text <= from <= text + length).
// Returns kMatchFound with groups[0] / groups[64] holding the matching's
// offsets, kNoMatch (also when cancelled), or kStackExhausted. Start
// positions where no matching can begin (by its first byte, or inside the run
// of a leading loop that already failed) are passed over without an attempt.
// The cancel callback is polled before every attempt but the first and,
// within a long attempt, every 65536 nested walks; progress is reported at
// attempts, at most once per 1/512 of the text. groups must hold kGroupSlots
// entries.
int ExecExpression(const ExprNode* program, const unsigned char* text, int32_t length,
                   const unsigned char* from, int32_t* groups, int caseSensitive,
                   int32_t searchLimit, const MatchCallbacks& callbacks = {},
                   uintptr_t stackFloor = 0);

// The same with the program's analysis done beforehand (info.program is the
// program), for callers that search with one program many times. In line
// mode the text is searched line by line as if the input ended at each line's
// end: every run of bytes other than CR and LF from `from` on is one line,
// tried at each of its positions and at its end. While an attempt runs, the
// context's inputEnd is the end of its line (before the search limit), which
// is what its progress percentage relates to.
int ExecExpression(const ProgramInfo& info, const unsigned char* text, int32_t length,
                   const unsigned char* from, int32_t* groups, int caseSensitive,
                   int32_t searchLimit, bool lineMode, const MatchCallbacks& callbacks = {},
                   uintptr_t stackFloor = 0, LineHint* lineHint = nullptr);

// The matcher's state on this thread, for TryAt and MatchHere.
MatchContext& CurrentMatchContext();

// One attempt at start position s with the current context; 1 or 0.
int TryAt(const ExprNode* program, const unsigned char* s);

// Matches from node at the current position; 1 when the walk reaches END.
int MatchHere(const ExprNode* node);

}  // namespace quarry
