// The matcher: a recursive backtracking walk over the node list. Its external
// interface is ExecExpression, TryAt and MatchHere on the calling thread's
// context; the walk's helpers below are private to this file.
//
// Greedy operators recurse once per repetition and groups once per bracket,
// so the recursion depth follows the length of the matching. Every frame
// checks the caller's stack floor and gives up cleanly when it is reached.

#include <algorithm>
#include <cstring>

#include "engine/escapes.h"
#include "engine/matcher.h"

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

[[gnu::always_inline]] inline int Walk(MatchContext& m, const ExprNode* node);

inline bool Cancelled(const MatchContext& m) {
    return m.callbacks.cancelPoll && !m.callbacks.cancelPoll(m.callbacks.user);
}

inline bool BelowStackFloor(const MatchContext& m) {
    return m.stackFloor != 0 &&
           reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < m.stackFloor;
}

// A walk's outcome depends on its node, position, case state and input end,
// and on the loop guard only through the loops whose latest pass on the path
// stands at the walk's position: positions never decrease along a path, so
// earlier passes can never refuse anything within the walk.
inline MemoKey KeyHere(const MatchContext& m, const ExprNode* node) {
    const uint64_t walk = static_cast<uint64_t>(m.pos - m.textStart) * m.memoStride +
                          static_cast<uint64_t>(node->index) * 2 +
                          static_cast<uint64_t>(m.caseSensitive & 1);
    uint64_t passes = 0;
    for (size_t i = 0; i < m.loopSlots.size(); ++i) {
        if (m.loopPass[m.loopSlots[i]].pos == m.pos) {
            passes |= uint64_t{1} << i;
        }
    }
    return {walk, passes};
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

// A walk once the failure memo is on. With too many loops for the key, a
// failure is remembered only when no refusal of the loop guard relied on a
// pass recorded before the walk began.
[[gnu::noinline]] int RememberingWalk(MatchContext& m, const ExprNode* node) {
    const MemoKey key = KeyHere(m, node);
    if (m.failures.Contains(key)) {
        return 0;
    }
    const auto mark = static_cast<int32_t>(m.passLog.size());
    const int32_t outerRefused = m.firstRefusedRecord;
    m.firstRefusedRecord = INT32_MAX;
    const int result = Walk(m, node);
    LeavePasses(m, mark);
    const bool pathFree = !m.loopSlots.empty() || m.firstRefusedRecord >= mark;
    if (result == 0 && m.abandon == kGoOn && pathFree) {
        m.failures.Insert(key);
    }
    m.firstRefusedRecord = std::min(outerRefused, m.firstRefusedRecord);
    return result;
}

int MatchFrom(MatchContext& m, const ExprNode* node) {
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
    if (m.memoOn) {
        return RememberingWalk(m, node);
    }
    // Most attempts are short; only a long one turns the memo on, for the
    // rest of the run (every walk inside a remembering walk remembers too).
    if (++m.attemptWalks > m.memoThreshold && (m.memoThreshold == 0 || Branching(m))) {
        m.memoOn = true;
    }
    const auto mark = static_cast<int32_t>(m.passLog.size());
    const int result = Walk(m, node);
    LeavePasses(m, mark);
    return result;
}

// A loop node reached again at the same position with the same case state,
// while its earlier pass is still on the path, would repeat that pass forever:
// such a walk fails instead.
inline bool EnterLoop(MatchContext& m, const ExprNode* loop) {
    const int32_t slot = loop->index * 2 + (m.caseSensitive & 1);
    const MatchContext::LoopPass previous = m.loopPass[slot];
    if (previous.pos == m.pos) {
        m.firstRefusedRecord = std::min(m.firstRefusedRecord, previous.record);
        return false;
    }
    m.loopPass[slot] = {m.pos, static_cast<int32_t>(m.passLog.size())};
    m.passLog.push_back({slot, previous});
    return true;
}

// The node after the right alternative of the BRANCH that `branchEnd` closes,
// or nullptr when the walk must stop there (abandon says whether the attempt
// fails as a whole).
const ExprNode* SkipRightAlternative(MatchContext& m, const ExprNode* branchEnd) {
    const ExprNode* r = branchEnd->link.node->link.node->next;
    while (r && IsOperator(r->op) && (r->op & 0xFF) == '|' && r->link.node) {
        r = r->link.node->next;  // further alternatives of a chain «a|b|c»
    }
    if (r == nullptr) {
        return nullptr;
    }
    if (IsClosingBracket(r->op)) {
        // «(a|)»: no atom stands to the right, so there is nothing to skip.
        m.abandon = kAttemptFailed;
        return nullptr;
    }
    if (IsOpeningBracket(r->op)) {
        int depth = 1;
        for (r = r->next; r; r = r->next) {
            if (IsOpeningBracket(r->op)) {
                ++depth;
            } else if (IsClosingBracket(r->op) && --depth == 0) {
                break;
            }
        }
        if (r == nullptr) {
            return nullptr;
        }
    }
    return r->next;
}

inline bool MatchesByte(const ExprNode* node, unsigned char b) {
    switch (node->op) {
        case ANY:
            return true;
        case ANYOF:
            return SetHas(node->link.bytes, b);
        case ANYBUT:
            return !SetHas(node->link.bytes, b);
        case SPACE:
            return detail::IsSpaceByte(b);
        case NSPACE:
            return !detail::IsSpaceByte(b);
        case UPPER:
            return b >= 'A' && b <= 'Z';
        case LOWER:
            return b >= 'a' && b <= 'z';
        case DIGIT:
            return detail::IsAsciiDigit(b);
        case NDIGIT:
            return !detail::IsAsciiDigit(b);
        case ALNUM:
            return IsWordByte(b);
        case NALNUM:
            return !IsWordByte(b);
    }
    return false;
}

inline bool MatchesLiteral(const MatchContext& m, const ExprNode* node) {
    const int n = node->length;
    if (m.inputEnd - m.pos < n) {
        return false;
    }
    const unsigned char* lit = node->link.bytes;
    if (m.caseSensitive & 1) {
        return std::memcmp(lit, m.pos, n) == 0;
    }
    for (int i = 0; i < n; ++i) {
        if (AsciiUpper(lit[i]) != AsciiUpper(m.pos[i])) {
            return false;
        }
    }
    return true;
}

// Walks from node until END (1) or a failure (0). Operators and groups try
// their continuation in a nested walk and take their fallback in this one.
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
                node = SkipRightAlternative(m, node);
                continue;
            case END:
                return 1;
            case BOL:
                if (m.pos != m.textStart) {
                    return 0;
                }
                node = node->next;
                continue;
            case EOL:
                if (m.pos != m.inputEnd) {
                    return 0;
                }
                node = node->next;
                continue;
            case WORDSTART:
                if (m.pos >= m.inputEnd ||
                    (m.pos != m.textStart && !(IsWordByte(*m.pos) && !IsWordByte(m.pos[-1])))) {
                    return 0;
                }
                node = node->next;
                continue;
            case WORDEND:
                if (m.pos == m.textStart ||
                    (m.pos < m.inputEnd && !(!IsWordByte(*m.pos) && IsWordByte(m.pos[-1])))) {
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
                m.pos += node->length;
                node = node->next;
                continue;
        }
        if (IsConsuming(op)) {
            if (m.pos >= m.inputEnd || !MatchesByte(node, *m.pos)) {
                return 0;
            }
            ++m.pos;
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
            if (IsLoop(op) && !EnterLoop(m, node)) {
                return 0;
            }
            const bool greedy = IsGreedyOperator(op);
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
            continue;
        }
        node = node->next;  // any other opcode only delimits
    }
    return 0;
}

inline void ReportProgress(MatchContext& m, const unsigned char* s) {
    if (m.callbacks.progress == nullptr || m.inputEnd == m.textStart) {
        return;
    }
    const int percent = static_cast<int>(static_cast<double>(s - m.textStart) /
                                         static_cast<double>(m.inputEnd - m.textStart) * 100.0);
    if (percent > m.lastPercent) {
        m.lastPercent = percent;
        m.callbacks.progress(m.callbacks.user, percent);
    }
}

// Sizes the per-node loop state and finds the highest group the program
// records, so that each attempt resets only the group entries it can write.
void PrepareForProgram(MatchContext& m, const ExprNode* program) {
    int32_t count = 0;
    int highest = 0;
    for (const ExprNode* n = program; n; n = n->next) {
        count = n->index + 1;
        if (IsCapturing(n->op)) {
            highest = std::max(highest, GroupNumber(n->op));
        }
    }
    m.highestGroup = highest;
    m.loopPass.assign(static_cast<size_t>(count) * 2, MatchContext::LoopPass{});
    m.passLog.clear();
    m.firstRefusedRecord = INT32_MAX;
    m.failures.Clear();
    m.memoOn = false;
    m.memoEnd = nullptr;
    m.memoStride = static_cast<uint64_t>(count) * 2;
    m.loopSlots.clear();
    for (const ExprNode* n = program; n; n = n->next) {
        if (IsLoop(n->op)) {
            m.loopSlots.push_back(n->index * 2);
            m.loopSlots.push_back(n->index * 2 + 1);
        }
    }
    if (m.loopSlots.size() > m.maxKeyedLoopSlots) {
        m.loopSlots.clear();
    }
}

// The first position at or after s holding c (ignoring ASCII case when asked).
const unsigned char* ScanFor(const unsigned char* s, const unsigned char* end, unsigned char c,
                             bool exact) {
    if (exact || !detail::IsAsciiLetter(c)) {
        return static_cast<const unsigned char*>(std::memchr(s, c, static_cast<size_t>(end - s)));
    }
    const unsigned char upper = AsciiUpper(c);
    for (; s < end; ++s) {
        if (AsciiUpper(*s) == upper) {
            return s;
        }
    }
    return nullptr;
}

int TryAtImpl(MatchContext& m, const ExprNode* program, const unsigned char* s) {
    ReportProgress(m, s);
    const unsigned char* savedEnd = m.inputEnd;
    if (m.searchLimit >= 0 && m.inputEnd - s > m.searchLimit) {
        m.inputEnd = s + m.searchLimit;
    }
    if (m.inputEnd != m.memoEnd) {
        m.failures.Clear();  // what failed before an earlier input end may match now
        m.memoEnd = m.inputEnd;
    }
    m.attemptWalks = 0;
    m.attemptStackTop = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const int32_t savedCase = m.caseSensitive;
    m.pos = s;
    // Only the groups the program records can have been written.
    std::fill(m.groups, m.groups + m.highestGroup + 1, -1);
    std::fill(m.groups + 64, m.groups + 64 + m.highestGroup + 1, -1);
    if (!MatchFrom(m, program)) {
        m.caseSensitive = savedCase;
        m.inputEnd = savedEnd;
        if (m.abandon == kAttemptFailed) {
            m.abandon = kGoOn;
        }
        return 0;
    }
    m.groups[0] = static_cast<int32_t>(s - m.textStart);
    m.groups[64] = static_cast<int32_t>(m.pos - m.textStart);
    return 1;
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

}  // namespace

MatchContext& CurrentMatchContext() {
    return context;
}

int TryAt(const ExprNode* program, const unsigned char* s) {
    return TryAtImpl(context, program, s);
}

int MatchHere(const ExprNode* node) {
    return MatchFrom(context, node);
}

int ExecExpression(const ExprNode* program, const unsigned char* text, int32_t length,
                   const unsigned char* from, int32_t* groups, int caseSensitive,
                   int32_t searchLimit, const MatchCallbacks& callbacks, uintptr_t stackFloor) {
    MatchContext& m = context;
    m.searchLimit = searchLimit;
    m.callbacks = callbacks;
    m.lastPercent = 0;
    if (program == nullptr) {
        return kNoMatch;
    }
    m.textStart = text;
    m.groups = groups;
    m.inputEnd = text + length;
    m.caseSensitive = caseSensitive;
    m.stackFloor = stackFloor;
    m.abandon = kGoOn;
    m.walks = 0;
    std::fill(groups, groups + kGroupSlots, -1);
    PrepareForProgram(m, program);

    if (program->op == BOL) {
        // can only hold at the text start
        return RunResult(m, Outcome(m, TryAtImpl(m, program, from)));
    }
    const unsigned char* s = from;
    if (program->op != EXACTLY) {
        for (;;) {
            const Attempt a = Outcome(m, TryAtImpl(m, program, s));
            if (a != kNotFound) {
                return RunResult(m, a);
            }
            if (s >= m.inputEnd) {
                return kNoMatch;
            }
            ++s;
            if (Cancelled(m)) {
                return kNoMatch;
            }
        }
    }
    // A literal first byte: only positions holding it can start a matching.
    const unsigned char first = program->link.bytes[0];
    if (s >= m.inputEnd) {
        return kNoMatch;
    }
    for (;;) {
        if (Cancelled(m)) {
            return kNoMatch;
        }
        s = ScanFor(s, m.inputEnd, first, (m.caseSensitive & 1) != 0);
        if (s == nullptr) {
            return kNoMatch;
        }
        const Attempt a = Outcome(m, TryAtImpl(m, program, s));
        if (a != kNotFound) {
            return RunResult(m, a);
        }
        if (++s == m.inputEnd) {
            return kNoMatch;
        }
    }
}

}  // namespace quarry
