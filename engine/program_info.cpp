#include "engine/program_info.h"

#include <algorithm>
#include <queue>
#include <set>
#include <string>

#include "engine/byte_scan.h"
#include "engine/byte_tests.h"
#include "engine/char_tests.h"
#include "engine/escapes.h"
#include "engine/loop_simplify.h"
#include "engine/unicode.h"

namespace quarry {
namespace {

// Whether the jump back to a loop is followed by the loop's exit. «?» or
// «|» applied to the loop («x+?», «x*|») stands between them, but only its
// operand (the loop's tail) is ever reached: the jump does not fall through
// to it.
bool ExitFollowsJumpBack(const ExprNode* back, const ExprNode* loop) {
    const ExprNode* after = back->next;
    return loop->link.node == after ||
           (after != nullptr && (after->op == QUEST || after->op == BRANCH) &&
            after->next == loop->link.node);
}

// No node between them: a byte test (or a character test) whose operand
// repeats alone.
bool IsSingleTestLoop(const ExprNode* loop) {
    const ExprNode* operand = loop->next;
    if (operand == nullptr || !IsConsuming(operand->op) ||
        (operand->op == EXACTLY && operand->length != 1)) {
        return false;
    }
    const ExprNode* back = operand->next;
    return back != nullptr && back->op == JUMP && back->link.node == loop &&
           ExitFollowsJumpBack(back, loop);
}

// The greedy loops whose passes a limited attempt may take as chained
// (ProgramInfo::chainSlot): outside other loops, neither single-test nor row
// loops, their passes holding at most kMaxChainInner loops and no case
// switch, in a program with a missing alternative whose walks hold for a
// higher input end wherever they held for a lower one (elsewhere a shortcut
// could lead to a walk that fails, which is then walked again the long way).
void FindChainLoops(ProgramInfo& info, const ExprNode* program) {
    const auto count = static_cast<size_t>(info.nodeCount);
    info.chainSlot.assign(count, -1);
    info.chainInner.clear();
    info.chainLoops = 0;
    info.chainRewalk = false;
    // Only a missing alternative ends an attempt short of a matching, which
    // is what the links lead to.
    const bool ends = std::any_of(info.branchSkip.begin(), info.branchSkip.end(),
                                  [](const ProgramInfo::BranchSkip& b) { return b.attemptFails; });
    if (!info.endMonotone || !ends) {
        return;
    }
    std::vector<uint8_t> insideLoop(count, 0);
    for (const ExprNode* n = program; n; n = n->next) {
        if (IsLoop(n->op)) {
            for (const ExprNode* b = n->next; b != nullptr && b != n->link.node; b = b->next) {
                insideLoop[static_cast<size_t>(b->index)] = 1;
            }
        }
    }
    for (const ExprNode* n = program; n; n = n->next) {
        const auto index = static_cast<size_t>(n->index);
        if ((n->op != STAR && n->op != PLUS) || insideLoop[index] || info.byteLoop[index] ||
            info.loopRow[index]) {
            continue;
        }
        bool plain = true;
        bool records = false;
        std::vector<int32_t> inner;
        for (const ExprNode* b = n->next; b != nullptr && b != n->link.node; b = b->next) {
            plain = plain && b->op != CASEON && b->op != CASEOFF;
            records = records || IsCapturing(b->op);
            if (IsLoop(b->op)) {
                inner.push_back(b->index);
            }
        }
        // A program of many such loops keeps links for the first few only.
        constexpr int32_t kMostChainLoops = 256;
        if (plain && inner.size() <= kMaxChainInner && info.chainLoops < kMostChainLoops) {
            info.chainSlot[index] = info.chainLoops++;
            info.chainInner.push_back(std::move(inner));
            info.chainRewalk = info.chainRewalk || records;
        }
    }
}

// A greedy loop whose operand is a row of copies of one test, two to kMaxRow
// of them, or from one in a group that captures: the row's length, else 0;
// `group` the group's number (0: none or brackets that capture nothing).
int RowLoopWidth(const ExprNode* loop, int& group) {
    group = 0;
    if (loop->op != STAR && loop->op != PLUS) {
        return 0;
    }
    const ExprNode* n = loop->next;
    const ExprNode* open = n != nullptr && IsOpeningBracket(n->op) ? n : nullptr;
    if (open != nullptr) {
        n = n->next;
    }
    const ExprNode* test = n;
    if (test == nullptr || !IsConsuming(test->op) || (test->op == EXACTLY && test->length != 1)) {
        return 0;
    }
    int width = 0;
    while (n != nullptr && width <= kMaxRow && SameTest(n, test)) {
        ++width;
        n = n->next;
    }
    if (open != nullptr) {
        const bool pair = IsCapturing(open->op)
                              ? n != nullptr && IsCapturing(n->op) && IsClosingBracket(n->op) &&
                                    GroupNumber(n->op) == GroupNumber(open->op)
                              : n != nullptr && n->op == GROUPCLOSE;
        if (!pair) {
            return 0;
        }
        group = IsCapturing(open->op) ? GroupNumber(open->op) : 0;
        n = n->next;
    }
    if (width < (group != 0 ? 1 : 2) || width > kMaxRow || n == nullptr || n->op != JUMP ||
        n->link.node != loop || !ExitFollowsJumpBack(n, loop)) {
        return 0;
    }
    return width;
}

// Whether a consuming node's test passes a byte (a literal: its first byte,
// with or without case; a character node: some character that begins with
// it, maybe).
bool TakesByte(const ExprNode* node, unsigned char b, bool exact) {
    if (IsCharTest(node->op)) {
        return detail::CharMayBeginWith(node, b, !exact);
    }
    if (node->op != EXACTLY) {
        return detail::MatchesByte(node, b);
    }
    const unsigned char lit = node->link.bytes[0];
    return exact ? b == lit : detail::AsciiUpper(b) == detail::AsciiUpper(lit);
}

// The consuming nodes a walk from `start` can meet first, each with whether
// literals are compared without case there, and whether the walk can reach
// END without consuming anything. Every way a walk can go is followed,
// whether or not a test on the way would let it pass; the case state is
// followed through «\C» and «\c» from the run's own.
struct FirstNode {
    const ExprNode* node;
    bool fold;
};

void CollectFirstNodes(const ProgramInfo& info, const ExprNode* start, int caseBit,
                       std::vector<FirstNode>& consuming, bool& reachesEnd) {
    std::vector<uint8_t> seen(static_cast<size_t>(info.nodeCount) * 2, 0);
    std::vector<std::pair<const ExprNode*, int>> pending = {{start, caseBit}};
    while (!pending.empty()) {
        auto [n, c] = pending.back();
        pending.pop_back();
        while (n != nullptr && !seen[static_cast<size_t>(n->index) * 2 + static_cast<size_t>(c)]) {
            seen[static_cast<size_t>(n->index) * 2 + static_cast<size_t>(c)] = 1;
            if (IsConsuming(n->op)) {
                consuming.push_back({n, c == 0});
                break;
            }
            if (n->op == END) {
                reachesEnd = true;
                break;
            }
            if (n->op == CASEON) {
                c = 1;
            } else if (n->op == CASEOFF) {
                c = 0;
            }
            if (n->op == JUMP) {
                n = n->link.node;
            } else if (n->op == BRANCHEND) {
                n = info.branchSkip[static_cast<size_t>(n->index)].next;
            } else if (IsOperator(n->op)) {
                pending.emplace_back(n->link.node, c);
                n = n->next;
            } else {
                n = n->next;
            }
        }
    }
}

// The loop node of «x+» or «x#» when n is its entry: a jump over the loop
// node into the operand, which the walk passes once before the loop decides.
const ExprNode* PlusEntryLoop(const ExprNode* n) {
    if (n != nullptr && n->op == JUMP && n->next != nullptr && IsLoop(n->next->op) &&
        n->link.node == n->next->next) {
        return n->next;
    }
    return nullptr;
}

// The atom a BRANCH's right alternative begins with, past the further bars
// of a chain «a|b|c»; nullptr when the list ends first.
const ExprNode* RightAlternative(const ExprNode* branch) {
    const ExprNode* r = branch->link.node->next;
    while (r && IsOperator(r->op) && (r->op & 0xFF) == '|' && r->link.node) {
        r = r->link.node->next;
    }
    return r;
}

// The first test of each alternative of the chain «a|b|…» that begins at
// `branch`, when every alternative begins with a consuming node (past
// opening brackets): a walk through the chain passes one of them. Empty
// when an alternative does not.
std::vector<const ExprNode*> AlternativeFirstTests(const ExprNode* branch) {
    auto first = [](const ExprNode* n) -> const ExprNode* {
        while (n != nullptr && IsOpeningBracket(n->op)) {
            n = n->next;
        }
        return n != nullptr && IsConsuming(n->op) ? n : nullptr;
    };
    std::vector<const ExprNode*> firsts;
    for (const ExprNode* b = branch;;) {
        const ExprNode* left = first(b->next);
        if (left == nullptr || b->link.node == nullptr) {
            return {};
        }
        firsts.push_back(left);
        const ExprNode* right = b->link.node->next;  // past the tail of «|»
        if (right != nullptr && right->op == BRANCH) {
            b = right;
            continue;
        }
        const ExprNode* last = first(right);
        if (last == nullptr) {
            return {};
        }
        firsts.push_back(last);
        return firsts;
    }
}

// The node after an atom: after its closing bracket when it is a group.
const ExprNode* PastAtom(const ExprNode* r) {
    if (r == nullptr) {
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

// A class of one ASCII byte that has no other case, such as «[.]» written
// for a literal dot: it takes exactly what that literal takes, with or
// without case.
bool IsOneByteClass(const ExprNode* n, char& byte) {
    if (n->op != ANYOF) {
        return false;
    }
    int found = -1;
    for (int b = 0; b < 256; ++b) {
        if (SetHas(n->link.bytes, static_cast<unsigned char>(b))) {
            if (found >= 0) {
                return false;
            }
            found = b;
        }
    }
    if (found < 0 || found >= 0x80 || detail::IsAsciiLetter(static_cast<unsigned char>(found))) {
        return false;
    }
    byte = static_cast<char>(found);
    return true;
}

// For the BRANCHEND of a bar that no walk reaches, as where «|» applies to
// a loop's tail after its jump back («x*|y»): where every walk that leaves
// the loop goes on (inside an operator's operand for «x*|y*»). nullptr
// elsewhere, and where the walk stops there. («a?|y» is no such case: the
// operand of «?» runs on into the bar.)
const ExprNode* PastRightAlternative(const ProgramInfo& info, const ExprNode* n) {
    const ExprNode* bar = n->op == BRANCHEND ? n->link.node : nullptr;
    if (bar == nullptr || bar->prev == nullptr || bar->prev->op != JUMP) {
        return nullptr;
    }
    const ProgramInfo::BranchSkip& skip = info.branchSkip[static_cast<size_t>(n->index)];
    return skip.attemptFails ? nullptr : skip.next;
}

// The longest run of literal bytes that every walk from the program's start
// to END consumes back to back: literals at the top level, outside every
// operator and alternative, or at the top level of the operand of a «+» or
// «#» over a group, which every walk passes once («{\w+::}+\w+» requires
// "::"); brackets and the zero-width tests between them consume nothing and
// keep a run going.
// bestStart is set to the node the run begins with; every other consuming
// node met on the way (each one every matching passes) is added to passed,
// and so is a chain of alternatives that each begin with a test. passesBol
// is set when every such walk passes a «^».
std::string FindRequiredLiteral(const ProgramInfo& info, const ExprNode* program,
                                const ExprNode*& bestStart, std::vector<const ExprNode*>& passed,
                                bool& passesBol) {
    // A byte that a scan stops at no more often than at a full stop.
    constexpr int kRareEnough = 500;
    std::string best;
    std::string run;
    const ExprNode* runStart = nullptr;
    bestStart = nullptr;
    // The loops whose operand is being read. The operand ends in a jump
    // back to its loop node, where the walk repeats the operand or goes on
    // past the loop's tail.
    std::vector<const ExprNode*> loops;
    auto frequency = [](const std::string& bytes) {
        return detail::TypicalFrequency(static_cast<unsigned char>(bytes[0]));
    };
    auto endRun = [&] {
        // A single byte in a loop's operand is mostly a separator, such as
        // a space, which a scan would stop at all the time: such a byte is
        // only taken when rare, the scan for a class doing better. Of two
        // single bytes the rarer one wins.
        const bool worthIt =
            loops.empty() || run.size() >= 2 || (run.size() == 1 && frequency(run) <= kRareEnough);
        if (worthIt && (run.size() > best.size() || (run.size() == 1 && best.size() == 1 &&
                                                     frequency(run) < frequency(best)))) {
            best = run;
            bestStart = runStart;
        }
        run.clear();
    };
    // The case option of a literal could depend on the path: with case
    // switches, literals are only consumed; classes never fold case.
    bool switchesCase = false;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        switchesCase = switchesCase || n->op == CASEON || n->op == CASEOFF;
    }
    // Any node but those handled here (a NOTHING or BRANCHEND met at this
    // level, as where an operator applies to another one's end) ends the
    // search: past it no path is certain.
    for (const ExprNode* n = program; n != nullptr && n->op != END;) {
        if (n->op == JUMP && !loops.empty() && n->link.node == loops.back()) {
            endRun();
            n = loops.back()->link.node->next;
            loops.pop_back();
            continue;
        }
        char oneByte = 0;
        if ((n->op == EXACTLY && !switchesCase) || IsOneByteClass(n, oneByte)) {
            if (run.empty()) {
                runStart = n;
            }
            if (n->op == EXACTLY) {
                run.append(reinterpret_cast<const char*>(n->link.bytes),
                           static_cast<size_t>(n->length));
            } else {
                run += oneByte;
            }
            n = n->next;
            continue;
        }
        if (IsBracket(n->op) || n->op == CASEON || n->op == CASEOFF ||
            (n->op == NOTHING && n->link.node->op == QUEST)) {
            // Case switches consume nothing. The tail of «?» applied to the
            // tail before it («x+?»), met straight from that tail: every
            // walk goes on past it.
            n = n->next;
            continue;
        }
        endRun();
        if (IsConsuming(n->op) || IsZeroWidthTest(n->op)) {
            if (IsConsuming(n->op)) {
                passed.push_back(n);
            }
            passesBol = passesBol || n->op == BOL;
            n = n->next;
        } else if (const ExprNode* loop = PlusEntryLoop(n)) {
            // The operand follows the loop node. A single test's operand is
            // not read as a run (the leading-loop analysis takes a literal
            // right after such a loop), but its test is passed.
            const bool once = loop->op == PLUS || loop->op == LAZYPLUS;
            if (once && !IsSingleTestLoop(loop)) {
                loops.push_back(loop);
                n = loop->next;
            } else {
                if (once) {
                    passed.push_back(loop->next);  // a class every matching needs («[ ]#»)
                }
                n = loop;
            }
        } else if (n->op == BRANCH) {
            // Past the right alternative, which the walk may skip. When each
            // alternative begins with a test, one of those tests is passed.
            const ExprNode* r = RightAlternative(n);
            if (r != nullptr && r == n->link.node->next && IsClosingBracket(r->op)) {
                // «{a|}»: an empty right alternative closing its group.
                // Either way the walk goes on after the bracket (the left
                // one skips it), so the chain only may pass a byte.
                endRun();
                n = r->next;
                continue;
            }
            const ExprNode* past = nullptr;
            if (r != nullptr && (IsConsuming(r->op) || IsOpeningBracket(r->op))) {
                past = PastAtom(r);
            } else if (const ExprNode* loop = PlusEntryLoop(r)) {
                past = loop->link.node->next;
            } else if (r != nullptr && IsOperator(r->op)) {
                // «a|(\w+)*»: the left alternative goes on inside the
                // operator's operand, which leads back to the operator; the
                // walk leaves both ways past its tail.
                past = r->link.node->next;
            }
            if (past == nullptr) {
                break;
            }
            if (!AlternativeFirstTests(n).empty()) {
                passed.push_back(n);
            }
            n = past;
        } else if (IsOperator(n->op)) {
            n = n->link.node->next;  // past the operand and its NOTHING
        } else if (const ExprNode* skip = PastRightAlternative(info, n)) {
            // The end of a left alternative that every walk passes, as after
            // a loop that «|» applies to («x*|y»): every walk goes on past the
            // right one, or into the operand of a loop over one test there
            // («x*|y*» takes a «y»), passes it and leaves the loop.
            const ExprNode* loop = skip->prev;
            if (loop != nullptr && IsOperator(loop->op) && loop->next == skip) {
                if (!IsLoop(loop->op) || !IsSingleTestLoop(loop)) {
                    break;
                }
                endRun();
                passed.push_back(skip);
                n = loop->link.node->next;
            } else {
                n = skip;
            }
        } else {
            break;
        }
    }
    endRun();
    return best;
}

// Adds the bytes a consuming node can take, its literal folded when fold.
void AddBytes(const ExprNode* n, bool fold, std::array<uint8_t, 32>& set);

// Adds to `passed` the class tests that every walk from the start to END
// passes, read off the program's graph: where the reading above stops short
// («\C?|(\w+)+.?\d+${a*}|», where «?» runs on into a bar, passes «\d» on
// every way through), a test is passed by every matching when END cannot be
// reached without it. The graph holds every step a walk can take (a loop
// guard or a failed test only takes steps away); a bar's left alternative
// goes on where the skip rule says, and nowhere where it ends the attempt.
void AddTestsEveryWalkPasses(const ProgramInfo& info, const ExprNode* program,
                             std::vector<const ExprNode*>& passed) {
    // Each test costs a walk over the graph: a few dozen over programs of a
    // few thousand nodes.
    constexpr size_t kMostNodes = 4096;
    constexpr int kMostTests = 32;
    const auto count = static_cast<size_t>(info.nodeCount);
    if (count > kMostNodes) {
        return;
    }
    std::vector<char> seen(count);
    std::vector<const ExprNode*> stack;
    auto reachesEnd = [&](const ExprNode* without) {
        std::fill(seen.begin(), seen.end(), 0);
        stack.assign(1, program);
        seen[static_cast<size_t>(program->index)] = 1;
        auto visit = [&](const ExprNode* n) {
            if (n != nullptr && n != without && !seen[static_cast<size_t>(n->index)]) {
                seen[static_cast<size_t>(n->index)] = 1;
                stack.push_back(n);
            }
        };
        while (!stack.empty()) {
            const ExprNode* n = stack.back();
            stack.pop_back();
            if (n->op == END) {
                return true;
            }
            if (n->op == JUMP) {
                visit(n->link.node);
            } else if (n->op == BRANCHEND) {
                const ProgramInfo::BranchSkip& skip =
                    info.branchSkip[static_cast<size_t>(n->index)];
                if (!skip.attemptFails) {
                    visit(skip.next);
                }
            } else {
                visit(n->next);
                if (IsOperator(n->op)) {
                    visit(n->link.node);
                }
            }
        }
        return false;
    };
    int tried = 0;
    for (const ExprNode* n = program; n != nullptr && tried < kMostTests; n = n->next) {
        if (!IsConsuming(n->op) || n->op == EXACTLY || n->op == UEXACTLY ||
            std::find(passed.begin(), passed.end(), n) != passed.end()) {
            continue;
        }
        ++tried;
        if (n != program && !reachesEnd(n)) {
            passed.push_back(n);
        }
    }
}

// Whether the program is one the matcher can walk straight through in a
// case option (see ProgramInfo::straight); the loop tables must be filled.
bool IsStraight(const ProgramInfo& info, const ExprNode* program, size_t caseBit) {
    // A loop that gives nothing back: the continuation cannot begin with a
    // byte of the run, or holds only brackets and «$» before END, which a
    // greedy loop's whole run reaches first (and where «$» fails after the
    // whole run, it fails after every shorter one).
    auto givesNothingBack = [&](const ExprNode* loop) {
        const auto index = static_cast<size_t>(loop->index);
        if ((loop->op != STAR && loop->op != PLUS) || !info.byteLoop[index]) {
            return false;
        }
        if (info.possessiveLoop[caseBit][index]) {
            return true;
        }
        const ExprNode* n = loop->link.node->next;
        while (n != nullptr &&
               (IsBracket(n->op) || n->op == EOL || n->op == NOTHING ||
                (n->op == QUEST && info.questSkip[static_cast<size_t>(n->index)]))) {
            n = n->next;
        }
        return n != nullptr && n->op == END;
    };
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        const int16_t op = n->op;
        if (op == END) {
            return true;
        }
        if (IsBracket(op) || IsZeroWidthTest(op) || IsConsuming(op)) {
            continue;
        }
        if (IsLoop(op) && givesNothingBack(n)) {
            continue;
        }
        // The entry of «x+», the jump back to a loop node, a loop's tail.
        const ExprNode* to = n->link.node;
        const ExprNode* entered = PlusEntryLoop(n);
        const bool plusEntry = entered != nullptr && givesNothingBack(entered);
        const bool back = op == JUMP && to != nullptr && IsLoop(to->op) && givesNothingBack(to) &&
                          ExitFollowsJumpBack(n, to);
        const bool tail = op == NOTHING && to != nullptr && IsLoop(to->op) && givesNothingBack(to);
        // A «?» whose choices all reach one node only passes tails on the way.
        const bool quest = op == QUEST && info.questSkip[static_cast<size_t>(n->index)] != nullptr;
        const bool questTail = op == NOTHING && to != nullptr && to->op == QUEST;
        if (!plusEntry && !back && !tail && !quest && !questTail) {
            return false;
        }
    }
    return false;
}

// Whether a loop repeats another one: a loop's operand lies between it and
// its continuation in the list.
bool HasNestedLoops(const ExprNode* program) {
    std::vector<const ExprNode*> ends;  // continuations of the loops open here
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        while (!ends.empty() && ends.back() == n) {
            ends.pop_back();
        }
        if (IsLoop(n->op) && n->link.node != nullptr) {
            if (!ends.empty()) {
                return true;
            }
            ends.push_back(n->link.node);
        }
    }
    return false;
}

// Whether a 256-bit set holds every byte a table admits.
bool HoldsEvery(const std::array<uint8_t, 32>& set, const std::array<uint8_t, 256>& table) {
    for (int b = 0; b < 256; ++b) {
        if (table[static_cast<size_t>(b)] &&
            !detail::ByteSetHas(set, static_cast<unsigned char>(b))) {
            return false;
        }
    }
    return true;
}

// Without a required literal, a class that every matching passes can rule
// out a line that lacks its bytes. One of at most six bytes that are not
// common in text is worth a scan for any program; with loops inside loops,
// whose failed attempts can each cost a walk over much of the line, so is
// any class of up to half the byte values. A class the program begins with
// is what the first-byte scan looks for already, and so is any class that
// holds every byte a matching can begin with («(a|b)+» before «\s»): it
// stands at each place that scan stops at. Fills `out` and returns the
// class chosen, if any.
const ExprNode* ChooseRequiredClass(const ProgramInfo& info, const ExprNode* program,
                                    const std::vector<const ExprNode*>& passed,
                                    ProgramInfo::ByteClass& out) {
    constexpr int kMostSetBytes = 6;
    // A scan for bytes this common stops so often that the attempts it
    // spares cost less than the scan.
    constexpr int kCommonSet = 1500;
    constexpr int kMostClassBytes = 128;
    const ExprNode* first = info.firstTest[static_cast<size_t>(program->index)];
    const ExprNode* rare = nullptr;
    int rareWeight = kCommonSet;
    const ExprNode* smallest = nullptr;
    int smallestCount = kMostClassBytes + 1;
    // The bytes a node takes, or with a character test the bytes a character
    // it takes can begin with; for alternatives, those their first tests
    // take. Literals compare without case as the run says; classes never do.
    auto classBytes = [](const ExprNode* n, std::array<uint8_t, 32>& set) {
        if (n->op != BRANCH) {
            AddBytes(n, false, set);
            return;
        }
        for (const ExprNode* test : AlternativeFirstTests(n)) {
            AddBytes(test, test->op == EXACTLY || test->op == UEXACTLY, set);
        }
    };
    for (const ExprNode* n : passed) {
        if (n == first || n->op == EXACTLY || n->op == UEXACTLY) {
            continue;
        }
        std::array<uint8_t, 32> set{};
        classBytes(n, set);
        int count = 0;
        int weight = 0;
        for (int b = 0; b < 256; ++b) {
            if (detail::ByteSetHas(set, static_cast<unsigned char>(b))) {
                ++count;
                weight += detail::TypicalFrequency(static_cast<unsigned char>(b));
            }
        }
        if (count == 0 || (!info.canMatchEmpty && HoldsEvery(set, info.firstBytes[0]))) {
            continue;
        }
        if (count <= kMostSetBytes && weight < rareWeight) {
            rare = n;
            rareWeight = weight;
        }
        if (count < smallestCount) {
            smallest = n;
            smallestCount = count;
        }
    }
    // Attempts that may each cost a limit's worth of walks: nested loops, or
    // a program that can tell where its input ends, whose failed attempts the
    // search limit keeps apart. A common class still rules out the lines and
    // the limited inputs that lack it.
    const bool costlyAttempts =
        !info.loopGroupSlots.empty() || HasNestedLoops(program) || !info.attemptEndMonotone;
    const ExprNode* chosen = rare != nullptr ? rare : costlyAttempts ? smallest : nullptr;
    if (chosen == nullptr) {
        return nullptr;
    }
    std::array<uint8_t, 32> set{};
    classBytes(chosen, set);
    out.known = true;
    for (int b = 0; b < 256; ++b) {
        if (detail::ByteSetHas(set, static_cast<unsigned char>(b))) {
            out.bytes[static_cast<size_t>(b)] = 1;
            if (out.setCount < kMostSetBytes) {
                out.set[static_cast<size_t>(out.setCount)] = static_cast<unsigned char>(b);
            }
            ++out.setCount;
        }
    }
    if (out.setCount > kMostSetBytes) {
        out.setCount = 0;  // scanned for by its table
    }
    return chosen;
}

// The bytes the nodes before the required literal (or class) can take
// (every node a walk passes before it stands before it in the list, the
// literal being outside every operator, or in the operand of a «+» that
// every walk passes first). Unless the literal begins with one
// of them, a matching starts within the run of such bytes that ends at the
// literal.
void FindRequiredRun(ProgramInfo& info, const ExprNode* program, const ExprNode* literal) {
    for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
        std::array<uint8_t, 32> set{};
        for (const ExprNode* n = program; n != literal; n = n->next) {
            if (IsConsuming(n->op)) {
                // «\c» may fold the case of a literal in a case-sensitive run.
                AddBytes(n, caseBit == 0 || info.switchesCase, set);
                if (info.charMode) {
                    // A character takes its following bytes too.
                    for (int b = 0x80; b < 0x100; ++b) {
                        set[static_cast<size_t>(b >> 3)] |= static_cast<uint8_t>(1u << (b & 7));
                    }
                }
            }
        }
        for (int b = 0; b < 256; ++b) {
            info.requiredRunBytes[caseBit][static_cast<size_t>(b)] = (set[b >> 3] >> (b & 7)) & 1;
        }
    }
    if (info.requiredLiteral.empty()) {
        // A class's bytes are found as written.
        info.requiredRunKnown = true;
        for (int b = 0; b < 256; ++b) {
            if (info.requiredClass.bytes[static_cast<size_t>(b)] &&
                (info.requiredRunBytes[0][static_cast<size_t>(b)] ||
                 info.requiredRunBytes[1][static_cast<size_t>(b)])) {
                info.requiredRunKnown = false;
            }
        }
        return;
    }
    const auto first = static_cast<unsigned char>(info.requiredLiteral[0]);
    info.requiredRunKnown =
        !info.requiredRunBytes[0][first] && !info.requiredRunBytes[0][detail::AsciiUpper(first)] &&
        !info.requiredRunBytes[0][detail::AsciiLower(first)] && !info.requiredRunBytes[1][first];
}

void AddBytes(const ExprNode* n, bool fold, std::array<uint8_t, 32>& set) {
    auto add = [&](unsigned char b) { set[b >> 3] |= static_cast<uint8_t>(1u << (b & 7)); };
    if (n->op == EXACTLY) {
        const unsigned char b = n->link.bytes[0];
        add(b);
        if (fold) {
            add(detail::AsciiUpper(b));
            add(detail::AsciiLower(b));
        }
        return;
    }
    if (IsCharTest(n->op)) {
        uint8_t table[256];
        detail::CharFirstBytes(n, fold, table);
        for (int b = 0; b < 256; ++b) {
            if (table[b]) {
                add(static_cast<unsigned char>(b));
            }
        }
        return;
    }
    for (int b = 0; b < 256; ++b) {
        if (TakesByte(n, static_cast<unsigned char>(b), !fold)) {
            add(static_cast<unsigned char>(b));
        }
    }
}

// Whether a node takes characters other than ASCII ones (or bytes that
// begin none).
bool TakesNonAscii(const ExprNode* n, bool fold) {
    std::array<uint8_t, 32> set{};
    AddBytes(n, fold, set);
    return std::any_of(set.begin() + 16, set.end(), [](uint8_t bits) { return bits != 0; });
}

// Whether two character tests exclude each other beyond ASCII: no other
// character (and no byte that begins none) passes both. White space is
// neither a letter nor a digit.
bool NoCommonNonAsciiCharacter(int16_t a, int16_t b) {
    auto pair = [&](int16_t x, int16_t y) { return (a == x && b == y) || (a == y && b == x); };
    return pair(UALNUM, USPACE) || pair(UALNUM, UNALNUM) || pair(USPACE, UNSPACE) ||
           pair(UUPPER, USPACE) || pair(ULOWER, USPACE);
}

// The strongly connected components of a graph of `count` states, each with
// at most two successors (successors(state, out) fills out and returns how
// many), by Tarjan's algorithm without recursion: a program may have many
// thousand nodes. Components are numbered in the order they complete, so
// every successor of a state lies in its own component or a lower one.
template <typename Successors>
std::vector<int32_t> Components(size_t count, Successors successors, int32_t& componentCount) {
    std::vector<int32_t> order(count, -1);
    std::vector<int32_t> low(count, 0);
    std::vector<int32_t> component(count, -1);
    std::vector<int32_t> open;
    struct Frame {
        int32_t state;
        int done;
        int count;
        int32_t next[2];
    };
    std::vector<Frame> frames;
    int32_t counter = 0;
    componentCount = 0;
    auto enter = [&](int32_t s) {
        order[static_cast<size_t>(s)] = low[static_cast<size_t>(s)] = counter++;
        open.push_back(s);
        Frame f{s, 0, 0, {0, 0}};
        f.count = successors(s, f.next);
        frames.push_back(f);
    };
    for (size_t root = 0; root < count; ++root) {
        if (order[root] >= 0) {
            continue;
        }
        enter(static_cast<int32_t>(root));
        while (!frames.empty()) {
            Frame& f = frames.back();
            const auto v = static_cast<size_t>(f.state);
            if (f.done < f.count) {
                const int32_t w = f.next[f.done++];
                if (order[static_cast<size_t>(w)] < 0) {
                    enter(w);
                } else if (component[static_cast<size_t>(w)] < 0) {
                    low[v] = std::min(low[v], order[static_cast<size_t>(w)]);
                }
                continue;
            }
            if (low[v] == order[v]) {
                int32_t w = -1;
                do {
                    w = open.back();
                    open.pop_back();
                    component[static_cast<size_t>(w)] = componentCount;
                } while (static_cast<size_t>(w) != v);
                ++componentCount;
            }
            frames.pop_back();
            if (!frames.empty()) {
                const auto parent = static_cast<size_t>(frames.back().state);
                low[parent] = std::min(low[parent], low[v]);
            }
        }
    }
    return component;
}

// Where a walk from n goes on without consuming anything: none from a
// consuming node or END.
int WalkSuccessors(const ProgramInfo& info, const ExprNode* n, const ExprNode* out[2]) {
    int count = 0;
    auto add = [&](const ExprNode* to) {
        if (to != nullptr) {
            out[count++] = to;
        }
    };
    if (IsConsuming(n->op) || n->op == END) {
        return 0;
    }
    if (n->op == JUMP) {
        add(n->link.node);
    } else if (n->op == BRANCHEND) {
        add(info.branchSkip[static_cast<size_t>(n->index)].next);
    } else if (IsOperator(n->op)) {
        add(n->next);
        add(n->link.node);
    } else {
        add(n->next);
    }
    return count;
}

// The fewest bytes any walk from the program's start to END consumes,
// whether or not its tests would pass: each test takes at least one (a
// literal character too, which without case may match a shorter one). Shortest paths over the
// walk's steps, each node settled once.
int32_t ShortestMatching(const ProgramInfo& info, const ExprNode* program,
                         const std::vector<const ExprNode*>& byIndex) {
    constexpr int32_t kNone = INT32_MAX;
    std::vector<int32_t> fewest(byIndex.size(), kNone);
    using Entry = std::pair<int32_t, int32_t>;  // bytes so far, node index
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> pending;
    fewest[static_cast<size_t>(program->index)] = 0;
    pending.push({0, program->index});
    while (!pending.empty()) {
        const auto [bytes, index] = pending.top();
        pending.pop();
        if (bytes != fewest[static_cast<size_t>(index)]) {
            continue;  // settled already with fewer
        }
        const ExprNode* n = byIndex[static_cast<size_t>(index)];
        if (n->op == END) {
            return bytes;
        }
        const ExprNode* out[2];
        int count = 0;
        int32_t cost = 0;
        if (IsConsuming(n->op)) {
            out[count++] = n->next;
            cost = 1;
        } else {
            count = WalkSuccessors(info, n, out);
        }
        for (int i = 0; i < count; ++i) {
            if (out[i] == nullptr) {
                continue;
            }
            const auto to = static_cast<size_t>(out[i]->index);
            if (bytes + cost < fewest[to]) {
                fewest[to] = bytes + cost;
                pending.push({fewest[to], out[i]->index});
            }
        }
    }
    return kNone;
}

// The walks a choice comes down to (ProgramInfo::choiceSpan): from a bar or
// a «?», the nodes its alternatives reach through nodes that neither test
// nor change anything (further bars and «?» among them), in the order the
// walk tries them, each once. A node reached again was listed with all it
// reaches, and a walk from it would fail again where it failed before.
class ChoiceLeaves {
  public:
    ChoiceLeaves(const ProgramInfo& info, size_t count) : info_(info), seen_(count, 0) {}

    // Lists from `root`; false when the choice is plain (two walks, no
    // further choice within) or would list too many.
    bool List(const ExprNode* root, std::vector<const ExprNode*>& leaves) {
        std::fill(seen_.begin(), seen_.end(), 0);
        leaves.clear();
        ended_ = false;
        nested_ = false;
        seen_[static_cast<size_t>(root->index)] = 1;
        From(root->next, leaves);
        From(root->link.node, leaves);
        return nested_ && leaves.size() <= kMost;
    }

  private:
    static constexpr size_t kMost = 32;

    void From(const ExprNode* n, std::vector<const ExprNode*>& leaves) {
        while (n != nullptr && !ended_ && leaves.size() <= kMost) {
            uint8_t& seen = seen_[static_cast<size_t>(n->index)];
            if (seen) {
                nested_ = true;
                return;
            }
            seen = 1;
            if (n->op == NOTHING || n->op == GROUPOPEN || n->op == GROUPCLOSE) {
                n = n->next;
            } else if (n->op == JUMP) {
                n = n->link.node;
            } else if (n->op == BRANCHEND) {
                const ProgramInfo::BranchSkip& skip =
                    info_.branchSkip[static_cast<size_t>(n->index)];
                if (skip.attemptFails) {
                    leaves.push_back(nullptr);  // the attempt ends here
                    ended_ = true;
                    return;
                }
                n = skip.next;
            } else if (n->op == QUEST && info_.questSkip[static_cast<size_t>(n->index)]) {
                nested_ = true;
                n = info_.questSkip[static_cast<size_t>(n->index)];
            } else if (n->op == BRANCH || n->op == QUEST) {
                nested_ = true;
                From(n->next, leaves);
                From(n->link.node, leaves);
                return;
            } else {
                leaves.push_back(n);
                return;
            }
        }
    }

    const ProgramInfo& info_;
    std::vector<uint8_t> seen_;
    bool ended_ = false;
    bool nested_ = false;
};

void FindChoiceLeaves(ProgramInfo& info, const std::vector<const ExprNode*>& byIndex) {
    info.choiceSpan.assign(byIndex.size(), {});
    info.choiceLeaves.clear();
    ChoiceLeaves lister(info, byIndex.size());
    std::vector<const ExprNode*> leaves;
    for (const ExprNode* n : byIndex) {
        if (n == nullptr || (n->op != BRANCH && n->op != QUEST) ||
            info.questSkip[static_cast<size_t>(n->index)] != nullptr) {
            continue;
        }
        if (lister.List(n, leaves) && !leaves.empty()) {
            info.choiceSpan[static_cast<size_t>(n->index)] = {
                static_cast<int32_t>(info.choiceLeaves.size()),
                static_cast<int32_t>(leaves.size())};
            info.choiceLeaves.insert(info.choiceLeaves.end(), leaves.begin(), leaves.end());
        }
    }
}

// «?» applied to the tail of the construct before it («x+?», «b??») makes
// optional a node that does nothing, and a chain of them nests each in the
// one before. Each such «?» is given the one node all its choices reach.
// Tails go on to their next node and «?» links forward to its tail, so one
// pass from the last node back sees every successor first.
void FindQuestSkips(ProgramInfo& info, const std::vector<const ExprNode*>& byIndex) {
    const size_t count = byIndex.size();
    std::vector<const ExprNode*> reaches(count, nullptr);  // nullptr: no single node
    info.questSkip.assign(count, nullptr);
    for (size_t i = count; i-- > 0;) {
        const ExprNode* n = byIndex[i];
        if (n == nullptr) {
            continue;
        }
        auto through = [&](const ExprNode* to) -> const ExprNode* {
            if (to == nullptr) {
                return nullptr;
            }
            if (to->op == NOTHING || to->op == QUEST) {
                return to->index > n->index ? reaches[static_cast<size_t>(to->index)] : nullptr;
            }
            return to;
        };
        if (n->op == NOTHING) {
            reaches[i] = through(n->next);
        } else if (n->op == QUEST) {
            const ExprNode* operand = through(n->next);
            const ExprNode* skipped = through(n->link.node);
            if (operand != nullptr && operand == skipped) {
                reaches[i] = operand;
                info.questSkip[i] = operand;
            }
        }
    }
}

// One alternative of «(int)|(char)|…» from n: literal nodes, bare or in a
// bracket pair. The node after it, or nullptr when n holds something else.
const ExprNode* ReadLiteralAlternative(const ExprNode* n, ProgramInfo::LiteralAlternative& out) {
    const ExprNode* open = nullptr;
    if (n != nullptr && IsOpeningBracket(n->op)) {
        open = n;
        n = n->next;
    }
    for (; n != nullptr && n->op == EXACTLY && n->length == 1; n = n->next) {
        out.bytes += static_cast<char>(n->link.bytes[0]);
    }
    if (out.bytes.empty()) {
        return nullptr;
    }
    if (open != nullptr) {
        if (n == nullptr || !IsClosingBracket(n->op) ||
            IsCapturing(open->op) != IsCapturing(n->op) ||
            GroupNumber(open->op) != GroupNumber(n->op)) {
            return nullptr;
        }
        out.group = IsCapturing(open->op) ? GroupNumber(open->op) : 0;
        n = n->next;
    }
    return n;
}

// Whether the program is a chain of literal alternatives and nothing else
// (ProgramInfo::literalAlternatives); the branch skips must be known.
void FindLiteralAlternatives(ProgramInfo& info, const ExprNode* program) {
    std::vector<ProgramInfo::LiteralAlternative> found;
    const ExprNode* n = program;
    for (; n != nullptr && n->op == BRANCH; n = n->link.node->next) {
        ProgramInfo::LiteralAlternative left;
        const ExprNode* after = ReadLiteralAlternative(n->next, left);
        // The left alternative's end must go on at END, past the whole chain.
        if (after == nullptr || after->op != BRANCHEND || after->link.node != n ||
            after->next != n->link.node) {
            return;
        }
        const ExprNode* skip = info.branchSkip[static_cast<size_t>(after->index)].next;
        if (skip == nullptr || skip->op != END) {
            return;
        }
        found.push_back(std::move(left));
    }
    ProgramInfo::LiteralAlternative last;
    const ExprNode* after = ReadLiteralAlternative(n, last);
    if (found.empty() || after == nullptr || after->op != END) {
        return;
    }
    found.push_back(std::move(last));
    info.literalAlternatives = std::move(found);
}

// Every BRANCHEND's skip past the right alternative, worked out once: a
// chain «a|b|c|…» would otherwise be walked again for each of its bars.
void FindBranchSkips(ProgramInfo& info, const ExprNode* program,
                     const std::vector<const ExprNode*>& byIndex) {
    const size_t count = byIndex.size();
    std::vector<const ExprNode*> closing(count, nullptr);
    std::vector<const ExprNode*> opened;
    const ExprNode* last = program;
    for (const ExprNode* n = program; n; n = n->next) {
        last = n;
        if (IsOpeningBracket(n->op)) {
            opened.push_back(n);
        } else if (IsClosingBracket(n->op) && !opened.empty()) {
            closing[static_cast<size_t>(opened.back()->index)] = n;
            opened.pop_back();
        }
    }
    auto pastAtom = [&](const ExprNode* r) -> const ExprNode* {
        if (r == nullptr) {
            return nullptr;
        }
        if (IsOpeningBracket(r->op)) {
            const ExprNode* c = closing[static_cast<size_t>(r->index)];
            return c == nullptr ? nullptr : c->next;
        }
        return r->next;
    };
    auto isBar = [](const ExprNode* r) {
        return r != nullptr && IsOperator(r->op) && (r->op & 0xFF) == '|' && r->link.node;
    };
    // The right alternative of each bar, from the last bar of a chain back
    // (in list order: a node's index tells when the compiler made it).
    std::vector<const ExprNode*> right(count, nullptr);
    std::vector<uint8_t> known(count, 0);
    for (const ExprNode* n = last; n; n = n->prev) {
        if (!isBar(n)) {
            continue;
        }
        const ExprNode* r = n->link.node->next;
        while (isBar(r) && !known[static_cast<size_t>(r->index)]) {
            r = r->link.node->next;  // not met yet (not after n in the list)
        }
        right[static_cast<size_t>(n->index)] = isBar(r) ? right[static_cast<size_t>(r->index)] : r;
        known[static_cast<size_t>(n->index)] = 1;
    }
    info.branchSkip.assign(count, {});
    for (size_t i = 0; i < count; ++i) {
        const ExprNode* n = byIndex[i];
        if (n->op != BRANCHEND || !isBar(n->link.node)) {
            continue;
        }
        const ExprNode* r = right[static_cast<size_t>(n->link.node->index)];
        if (r != nullptr && IsClosingBracket(r->op)) {
            info.branchSkip[i].attemptFails = true;
        } else {
            info.branchSkip[i].next = pastAtom(r);
        }
    }
}

// The loop groups of the failure memo's keys: a loop's latest pass can
// stand at a walk's position only if the walk came from the loop without
// consuming, and it can matter to the walk only if the walk can reach the
// loop again without consuming. So a node's key needs the passes of the
// loops in its component of the graph of walks that consume nothing.
void FindLoopGroups(ProgramInfo& info, const std::vector<const ExprNode*>& byIndex) {
    const size_t count = byIndex.size();
    int32_t components = 0;
    const std::vector<int32_t> component = Components(
        count,
        [&](int32_t s, int32_t next[2]) {
            const ExprNode* out[2];
            const int k = WalkSuccessors(info, byIndex[static_cast<size_t>(s)], out);
            for (int i = 0; i < k; ++i) {
                next[i] = out[i]->index;
            }
            return k;
        },
        components);
    std::vector<int32_t> size(static_cast<size_t>(components), 0);
    for (const int32_t c : component) {
        ++size[static_cast<size_t>(c)];
    }
    std::vector<int32_t> group(static_cast<size_t>(components), -1);
    info.loopGroup.assign(count, -1);
    info.loopGroupSlots.clear();
    for (size_t i = 0; i < count; ++i) {
        const auto c = static_cast<size_t>(component[i]);
        // A node alone in its component never reaches itself again.
        if (!IsLoop(byIndex[i]->op) || size[c] < 2) {
            continue;
        }
        if (group[c] < 0) {
            group[c] = static_cast<int32_t>(info.loopGroupSlots.size());
            info.loopGroupSlots.emplace_back();
        }
        auto& slots = info.loopGroupSlots[static_cast<size_t>(group[c])];
        slots.push_back(byIndex[i]->index * 2);
        slots.push_back(byIndex[i]->index * 2 + 1);
    }
    for (size_t i = 0; i < count; ++i) {
        info.loopGroup[i] = group[static_cast<size_t>(component[i])];
    }
    for (const auto& slots : info.loopGroupSlots) {
        info.memoPassWords = std::max(info.memoPassWords, (slots.size() + 63) / 64);
    }
}

// Columns of the failure memo's bit rows for the nodes walks start from: the
// program's start, an operator's operand and continuation, a group's
// content, the walks a choice comes down to. A small loop group's passes are
// folded into columns, so that nested loops over a long line keep their
// failures in bits rather than in the table (one entry there takes 24 bytes
// or more).
void FindMemoColumns(ProgramInfo& info, const ExprNode* program,
                     const std::vector<const ExprNode*>& byIndex) {
    constexpr size_t kMostFoldedLoops = 3;
    info.memoFoldBits.assign(info.loopGroupSlots.size(), -1);
    for (size_t g = 0; g < info.loopGroupSlots.size(); ++g) {
        const size_t slots = info.loopGroupSlots[g].size();
        // With case switches both slots of a loop count; else only the
        // run's own case slot is ever set.
        const size_t bits = info.switchesCase ? slots : slots / 2;
        if (bits <= (info.switchesCase ? 2 : kMostFoldedLoops)) {
            info.memoFoldBits[g] = static_cast<int8_t>(bits);
        }
    }
    std::vector<uint8_t> starts(byIndex.size(), 0);
    auto mark = [&](const ExprNode* n) {
        if (n != nullptr) {
            starts[static_cast<size_t>(n->index)] = 1;
        }
    };
    mark(program);
    for (const ExprNode* n : byIndex) {
        if (IsOperator(n->op)) {
            mark(n->next);
            mark(n->link.node);
        } else if (IsCapturing(n->op)) {
            mark(n->next);
        }
    }
    for (const ExprNode* leaf : info.choiceLeaves) {
        mark(leaf);
    }
    info.memoColumn.assign(byIndex.size(), -1);
    size_t columns = 0;
    for (size_t i = 0; i < byIndex.size(); ++i) {
        if (!starts[i]) {
            continue;
        }
        const int32_t group = info.loopGroup[i];
        const int bits =
            group < 0 ? 0 : std::max<int>(info.memoFoldBits[static_cast<size_t>(group)], 0);
        info.memoColumn[i] = static_cast<int32_t>(columns);
        columns += (size_t{1} << bits) * (info.switchesCase ? 2 : 1);
    }
    info.memoColumns = std::max<size_t>(columns, 1);
}

// For every node and case state: the bytes the first consuming nodes a
// walk from there meets can begin with, and whether it can reach END without
// consuming (as CollectFirstNodes finds them, for all nodes at once).
class FirstByteSets {
  public:
    struct Set {
        std::array<uint8_t, 32> bytes{};
        bool reachesEnd = false;
    };

    FirstByteSets(const ProgramInfo& info, const std::vector<const ExprNode*>& byIndex) {
        const size_t states = byIndex.size() * 2;  // node index * 2 + case bit
        auto caseAfter = [](const ExprNode* n, int32_t c) {
            return n->op == CASEON ? 1 : n->op == CASEOFF ? 0 : c;
        };
        int32_t components = 0;
        component_ = Components(
            states,
            [&](int32_t s, int32_t next[2]) {
                const ExprNode* n = byIndex[static_cast<size_t>(s / 2)];
                const ExprNode* out[2];
                const int k = WalkSuccessors(info, n, out);
                for (int i = 0; i < k; ++i) {
                    next[i] = out[i]->index * 2 + caseAfter(n, s % 2);
                }
                return k;
            },
            components);
        // Components complete after all they lead to, so one pass in their
        // order sees every successor's set final.
        std::vector<int32_t> start(static_cast<size_t>(components) + 1, 0);
        for (const int32_t c : component_) {
            ++start[static_cast<size_t>(c) + 1];
        }
        for (size_t c = 0; c < static_cast<size_t>(components); ++c) {
            start[c + 1] += start[c];
        }
        std::vector<int32_t> members(states);
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (size_t s = 0; s < states; ++s) {
            members[static_cast<size_t>(fill[static_cast<size_t>(component_[s])]++)] =
                static_cast<int32_t>(s);
        }
        sets_.assign(static_cast<size_t>(components), {});
        for (size_t c = 0; c < static_cast<size_t>(components); ++c) {
            Set& set = sets_[c];
            for (int32_t k = start[c]; k < start[c + 1]; ++k) {
                const int32_t s = members[static_cast<size_t>(k)];
                const ExprNode* n = byIndex[static_cast<size_t>(s / 2)];
                if (IsConsuming(n->op)) {
                    AddBytes(n, s % 2 == 0, set.bytes);
                    continue;
                }
                if (n->op == END) {
                    set.reachesEnd = true;
                    continue;
                }
                const ExprNode* out[2];
                const int count = WalkSuccessors(info, n, out);
                for (int i = 0; i < count; ++i) {
                    const auto to = static_cast<size_t>(
                        component_[static_cast<size_t>(out[i]->index * 2 + caseAfter(n, s % 2))]);
                    if (to != c) {
                        for (size_t b = 0; b < 32; ++b) {
                            set.bytes[b] |= sets_[to].bytes[b];
                        }
                        set.reachesEnd = set.reachesEnd || sets_[to].reachesEnd;
                    }
                }
            }
        }
    }

    // A walk from `node` (nullptr: none goes on) with case bit caseBit.
    const Set& From(const ExprNode* node, int caseBit) const {
        if (node == nullptr) {
            return none_;
        }
        return sets_[static_cast<size_t>(
            component_[static_cast<size_t>(node->index * 2 + caseBit)])];
    }

  private:
    std::vector<int32_t> component_;
    std::vector<Set> sets_;
    Set none_;
};

// Per node, the consuming node a walk from there must match first through
// nodes that test nothing, or the loop it meets first, each chain followed
// once.
void FindFirstTests(ProgramInfo& info, const ExprNode* program) {
    const auto count = static_cast<size_t>(info.nodeCount);
    info.firstTest.assign(count, nullptr);
    info.firstLoop.assign(count, nullptr);
    std::vector<uint8_t> state(count, 0);  // 1: on the current chain, 2: known
    std::vector<const ExprNode*> chain;
    for (const ExprNode* n = program; n; n = n->next) {
        chain.clear();
        const ExprNode* t = n;
        // Brackets only record where a group starts or ends once the whole
        // walk has succeeded, so a walk that fails its first byte test
        // records nothing through them either.
        while (t != nullptr && state[static_cast<size_t>(t->index)] == 0 &&
               (t->op == NOTHING || IsBracket(t->op) || t->op == JUMP)) {
            state[static_cast<size_t>(t->index)] = 1;
            chain.push_back(t);
            t = t->op == JUMP ? t->link.node : t->next;
        }
        const ExprNode* test = nullptr;
        const ExprNode* loop = nullptr;
        if (t != nullptr) {
            const auto at = static_cast<size_t>(t->index);
            if (state[at] == 2) {
                test = info.firstTest[at];
                loop = info.firstLoop[at];
            } else if (state[at] == 0) {
                test = IsConsuming(t->op) ? t : nullptr;
                loop = IsLoop(t->op) ? t : nullptr;
                info.firstTest[at] = test;
                info.firstLoop[at] = loop;
                state[at] = 2;
            }  // else a cycle of jumps: no test
        }
        for (const ExprNode* c : chain) {
            info.firstTest[static_cast<size_t>(c->index)] = test;
            info.firstLoop[static_cast<size_t>(c->index)] = loop;
            state[static_cast<size_t>(c->index)] = 2;
        }
    }
}

// For each listed first byte, the bytes a matching can have next: those
// the consuming nodes a walk meets after the first one can take (every byte
// where the walk can end there).
void FillSecondBytes(ProgramInfo& info, size_t caseBit, const std::vector<FirstNode>& first,
                     const FirstByteSets& firstSets) {
    const auto& admitted = info.firstBytes[caseBit];
    auto& index = info.secondIndex[caseBit];
    std::array<unsigned char, 256> listed{};
    size_t count = 0;
    for (int b = 0; b < 256; ++b) {
        if (admitted[static_cast<size_t>(b)]) {
            index[static_cast<size_t>(b)] = static_cast<uint8_t>(count);
            listed[count++] = static_cast<unsigned char>(b);
        }
    }
    auto& sets = info.secondBytes[caseBit];
    sets.assign(count, {});
    std::array<uint8_t, 32> any{};
    any.fill(0xFF);
    for (const FirstNode& f : first) {
        std::array<uint8_t, 32> next{};
        const ExprNode* n = f.node;
        if (n->op == EXACTLY && n->length >= 2) {
            std::array<uint8_t, 32> one{};
            ExprNode second = *n;
            second.link.bytes = n->link.bytes + 1;
            AddBytes(&second, f.fold, one);
            next = one;
        } else {
            const FirstByteSets::Set& after = firstSets.From(n->next, f.fold ? 0 : 1);
            next = after.bytes;
            if (after.reachesEnd) {
                next.fill(0xFF);
            }
        }
        std::array<uint8_t, 32> firstSet{};
        AddBytes(n, f.fold, firstSet);
        for (size_t i = 0; i < count; ++i) {
            const unsigned char b = listed[i];
            if ((firstSet[b >> 3] >> (b & 7)) & 1) {
                // After a byte that may begin a longer character, its next
                // byte follows, whatever the following node takes.
                const auto& follows = IsCharTest(n->op) && b >= 0x80 ? any : next;
                for (size_t k = 0; k < 32; ++k) {
                    sets[i][k] |= follows[k];
                }
            }
        }
    }
    info.secondBytesKnown[caseBit] = true;

    // Few enough (first byte, second byte) pairs for a scan that tests both.
    int pairs = 0;
    for (size_t i = 0; i < count && pairs <= kMaxBytePairs; ++i) {
        for (int b = 0; b < 256 && pairs <= kMaxBytePairs; ++b) {
            if ((sets[i][static_cast<size_t>(b >> 3)] >> (b & 7)) & 1) {
                if (pairs < kMaxBytePairs) {
                    info.bytePairs[caseBit][static_cast<size_t>(pairs)] = {
                        listed[i], static_cast<unsigned char>(b)};
                }
                ++pairs;
            }
        }
    }
    info.bytePairCount[caseBit] = pairs <= kMaxBytePairs ? pairs : 0;
}

// For programs that end with «$»: the bytes the last consumed byte can be.
// Only the shapes where every walk to «$» has just passed one known test
// are taken: a consuming node or a «+» loop over one test, then brackets.
void FindLastBytes(ProgramInfo& info, const ExprNode* program) {
    const ExprNode* end = program;
    while (end->next != nullptr) {
        end = end->next;
    }
    if (end->op != END || end->prev == nullptr || end->prev->op != EOL) {
        return;
    }
    const ExprNode* last = end->prev->prev;
    while (last != nullptr && IsBracket(last->op)) {
        last = last->prev;
    }
    if (last == nullptr) {
        return;
    }
    const ExprNode* test = nullptr;
    // The first node of the tail: a walk that comes in after it may reach
    // «$» without the last test (at a «+» loop's node, by its exit).
    const ExprNode* tail = last;
    if (IsConsuming(last->op)) {
        test = last;
    } else if (last->op == NOTHING && last->link.node != nullptr && last->link.node->op == PLUS &&
               IsSingleTestLoop(last->link.node)) {
        const ExprNode* loop = last->link.node;
        test = loop->next;
        tail = loop->prev != nullptr && loop->prev->op == JUMP && loop->prev->link.node == test
                   ? loop->prev
                   : loop;
    } else if (last->op == NOTHING && last->link.node != nullptr && last->link.node->op == PLUS) {
        // «(ab )+$»: every pass of the group ends with the operand's last
        // test, and the loop leaves after a pass.
        const ExprNode* loop = last->link.node;
        const ExprNode* back = last->prev;  // the operand's jump back to the loop
        if (back == nullptr || back->op != JUMP || back->link.node != loop) {
            return;
        }
        test = back->prev;
        while (test != nullptr && test != loop && IsBracket(test->op)) {
            test = test->prev;
        }
        if (test == nullptr || test == loop || !IsConsuming(test->op)) {
            return;
        }
        tail = PlusEntryLoop(loop->prev) == loop ? loop->prev : loop;
    } else {
        return;
    }
    bool switchesCase = false;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        if (n->op == CASEON || n->op == CASEOFF) {
            switchesCase = true;
        }
        if (n->op == BRANCHEND) {
            // A left alternative whose walk goes on past `last` skips it.
            const ProgramInfo::BranchSkip& skip = info.branchSkip[static_cast<size_t>(n->index)];
            const ExprNode* after = skip.next;
            if ((after == nullptr && !skip.attemptFails) ||
                (after != nullptr && after->index > tail->index)) {
                return;
            }
        }
    }
    for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
        auto& set = info.lastBytes[caseBit];
        const bool fold = caseBit == 0 || switchesCase;
        if (test->op == EXACTLY && test->length > 1) {
            ExprNode lastByte = *test;
            lastByte.link.bytes = test->link.bytes + test->length - 1;
            AddBytes(&lastByte, fold, set);
        } else {
            AddBytes(test, fold, set);
        }
        if (info.charMode) {
            // A character's last byte, or a stray byte, may be any of these;
            // caseless letters may end in them too (K, the Kelvin sign).
            for (int b = 0x80; b < 0x100; ++b) {
                set[static_cast<size_t>(b >> 3)] |= static_cast<uint8_t>(1u << (b & 7));
            }
        }
    }
    info.lastBytesKnown = true;
}

// How often a byte of UTF-8 text tends to occur, for the character-mode
// literal scan: a lead byte begins every character of its script block, a
// continuation byte tells characters apart like an ASCII letter does.
int Utf8Frequency(unsigned char b) {
    if (b < 0x80) {
        return detail::TypicalFrequency(b);
    }
    return b < 0xC0 ? 200 : 1000;
}

// The case variants of a caseless literal node's character, as UTF-8.
std::vector<std::string> CaseVariants(const ExprNode* n) {
    std::vector<std::string> variants;
    if (n->op == EXACTLY) {
        const unsigned char b = n->link.bytes[0];
        variants.emplace_back(1, static_cast<char>(b));
        if (detail::IsAsciiLetter(b)) {
            variants.emplace_back(1, static_cast<char>(b ^ 0x20));
        }
        return variants;
    }
    const char32_t c = detail::LiteralChar(n);
    if (c >= unicode::kStrayByteBase) {
        variants.emplace_back(reinterpret_cast<const char*>(n->link.bytes),
                              static_cast<size_t>(n->length));
        return variants;
    }
    for (char32_t partner : unicode::FoldPartners(c)) {
        unsigned char bytes[4];
        variants.emplace_back(reinterpret_cast<const char*>(bytes),
                              static_cast<size_t>(unicode::Encode(partner, bytes)));
    }
    return variants;
}

// Picks, for the scan of ByteSetLiteral, the two places with the rarest byte
// sets of at most four bytes; returns the expected cost of the scan's stops
// (lower is better), or -1 when no place qualifies.
int ChooseTestedPlaces(detail::ByteSetLiteral& literal, size_t leadSpread) {
    const size_t n = literal.sets.size();
    std::vector<int> cost(n, -1);
    for (size_t i = 0; i < n; ++i) {
        int members = 0;
        int sum = 0;
        for (int c = 0; c < 256; ++c) {
            if (detail::ByteSetHas(literal.sets[i], static_cast<unsigned char>(c))) {
                ++members;
                sum += Utf8Frequency(static_cast<unsigned char>(c));
            }
        }
        if (members >= 1 && members <= 4) {
            cost[i] = sum;
        }
    }
    size_t a = SIZE_MAX;
    for (size_t i = 0; i < n; ++i) {
        if (cost[i] >= 0 && (a == SIZE_MAX || cost[i] < cost[a])) {
            a = i;
        }
    }
    if (a == SIZE_MAX) {
        return -1;
    }
    size_t b = a;
    for (size_t i = 0; i < n; ++i) {
        if (i != a && cost[i] >= 0 && (b == a || cost[i] < cost[b])) {
            b = i;
        }
    }
    detail::SetTestedPlaces(literal, a, b);
    // A single tested place stops at every one of its bytes; a wide lead
    // makes every stop cost several attempts.
    const int second = b == a ? 1500 : cost[b];
    return cost[a] + second + 150 * static_cast<int>(leadSpread);
}

// The set of the bytes the variants have at one place: index k from their
// start, or their last byte (k == SIZE_MAX).
std::array<uint8_t, 32> PlaceSet(const std::vector<std::string>& variants, size_t k) {
    std::array<uint8_t, 32> set{};
    for (const std::string& v : variants) {
        const auto c = static_cast<unsigned char>(k == SIZE_MAX ? v.back() : v[k]);
        set[c >> 3] |= static_cast<uint8_t>(1u << (c & 7));
    }
    return set;
}

// Appends to `out` the literal bytes a walk from literal node n consumes
// first: those of n and of the literals right after it (brackets between
// them consume nothing). A character compared without case continues once
// per case variant, as they may differ in their bytes and length; past the
// places the scan tests, the literal ends before such a character instead,
// so that the variants do not multiply the literals. Stops (false) once
// `out` holds more than the scan takes.
bool CollectSetLiterals(const ExprNode* n, bool fold, detail::SetLiteral literal,
                        std::vector<detail::SetLiteral>& out) {
    auto append = [](detail::SetLiteral& to, const unsigned char* bytes, size_t count,
                     bool asciiFold) {
        for (size_t k = 0; k < count && to.bytes.size() < detail::kMaxSetLiteralLength; ++k) {
            const bool letter = asciiFold && detail::IsAsciiLetter(bytes[k]);
            to.bytes.push_back(static_cast<char>(letter ? bytes[k] | 0x20 : bytes[k]));
            to.caseBits.push_back(static_cast<char>(letter ? 0x20 : 0));
        }
    };
    while (literal.bytes.size() < detail::kMaxSetLiteralLength) {
        while (n != nullptr && IsBracket(n->op)) {
            n = n->next;
        }
        if (n == nullptr) {
            break;
        }
        if (n->op == EXACTLY) {
            append(literal, n->link.bytes, static_cast<size_t>(n->length), fold);
        } else if (n->op == UEXACTLY && !fold) {
            append(literal, n->link.bytes, static_cast<size_t>(n->length), false);
        } else if (n->op == UEXACTLY && literal.bytes.size() < detail::kLiteralSetPlaces) {
            for (const std::string& v : CaseVariants(n)) {
                detail::SetLiteral with = literal;
                append(with, reinterpret_cast<const unsigned char*>(v.data()), v.size(), false);
                if (!CollectSetLiterals(n->next, fold, with, out)) {
                    return false;
                }
            }
            return true;
        } else {
            break;
        }
        n = n->next;
    }
    out.push_back(literal);
    return out.size() <= detail::kMaxLiteralSet;
}

// The literal-set scan for one case option, when every first node is a
// literal and the set stays small enough.
void FindLiteralSet(ProgramInfo& info, size_t caseBit, const std::vector<FirstNode>& first) {
    std::vector<detail::SetLiteral> literals;
    for (const FirstNode& f : first) {
        if (f.node->op != EXACTLY && f.node->op != UEXACTLY) {
            return;
        }
        if (!CollectSetLiterals(f.node, f.fold, {}, literals)) {
            return;
        }
    }
    info.literalSet[caseBit] = detail::BuildLiteralSetScan(literals);
}

// The character-mode scan for caseless leading literals (see ProgramInfo).
// A character whose variants differ in length cuts the run of places at
// fixed distances: its first byte still ends one run and its last byte
// begins the next. Of the runs, the one whose scan should stop least often
// is kept.
void FindCharLiteral(ProgramInfo& info, const ExprNode* program) {
    std::vector<std::vector<std::string>> chars;
    bool folding = false;  // a character node: ASCII folding alone does not serve
    bool nonAscii = false;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        if (IsBracket(n->op)) {
            continue;  // brackets consume nothing
        }
        if (n->op != EXACTLY && n->op != UEXACTLY) {
            break;
        }
        folding = folding || n->op == UEXACTLY;
        nonAscii = nonAscii || (n->op == UEXACTLY && n->link.bytes[0] >= 0x80);
        chars.push_back(CaseVariants(n));
    }
    // Without a non-ASCII character a prefix of two bytes or more is scanned
    // for as in byte mode.
    if (!folding || (!nonAscii && info.prefix.size() >= 2)) {
        return;
    }
    int bestCost = -1;
    size_t before[2] = {0, 0};  // bytes before the current character: fewest, most
    detail::ByteSetLiteral run;
    size_t runLead[2] = {0, 0};
    auto addPlace = [&](const std::array<uint8_t, 32>& set, size_t leastLead, size_t mostLead) {
        if (run.sets.empty()) {
            runLead[0] = leastLead;
            runLead[1] = mostLead;
        }
        run.sets.push_back(set);
    };
    auto endRun = [&] {
        if (!run.sets.empty()) {
            const int cost = ChooseTestedPlaces(run, runLead[1] - runLead[0]);
            if (cost >= 0 && (bestCost < 0 || cost < bestCost)) {
                bestCost = cost;
                info.charLiteral = run;
                info.charLiteralLead = {runLead[0], runLead[1]};
            }
        }
        run = {};
    };
    for (const auto& variants : chars) {
        size_t shortest = variants[0].size();
        size_t longest = shortest;
        for (const std::string& v : variants) {
            shortest = std::min(shortest, v.size());
            longest = std::max(longest, v.size());
        }
        if (shortest == longest) {
            for (size_t k = 0; k < shortest; ++k) {
                addPlace(PlaceSet(variants, k), before[0] + k, before[1] + k);
            }
        } else {
            addPlace(PlaceSet(variants, 0), before[0], before[1]);
            endRun();
            addPlace(PlaceSet(variants, SIZE_MAX), before[0] + shortest - 1,
                     before[1] + longest - 1);
        }
        before[0] += shortest;
        before[1] += longest;
    }
    endRun();
}

}  // namespace

// Gives each byte its kind (ProgramInfo::byteKind), from the tests of the
// program as compiled: a simpler copy tests nothing the compiled one does not
// (and keeps its «\C» and «\c», so info.switchesCase holds for both).
void FindByteKinds(ProgramInfo& info, const ExprNode* program) {
    using Members = std::array<uint64_t, 4>;
    for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
        // Each test's bytes once: a long expression repeats few tests, and
        // asking a test about all 256 bytes at every node of one took half
        // the time of compiling it.
        std::set<Members> tests;
        std::set<std::string> asked;  // opcode, case folding and operand of each test asked
        auto collect = [&](const ExprNode* n, auto&& passes, bool fold = false) {
            std::string key{static_cast<char>(n->op & 0xFF), static_cast<char>(n->op >> 8),
                            static_cast<char>(fold)};
            if (HasOperand(n->op)) {
                key.append(reinterpret_cast<const char*>(n->link.bytes),
                           static_cast<size_t>(n->length));
            }
            if (!asked.insert(std::move(key)).second) {
                return;
            }
            Members set{};
            for (int b = 0; b < 256; ++b) {
                if (passes(static_cast<unsigned char>(b))) {
                    set[static_cast<size_t>(b) >> 6] |= uint64_t{1} << (b & 63);
                }
            }
            tests.insert(set);
        };
        for (const ExprNode* n = program; n; n = n->next) {
            const int16_t op = n->op;
            if (op == EXACTLY || op == UEXACTLY) {
                auto literal = [&](bool fold) {
                    collect(
                        n,
                        [&](unsigned char b) {
                            return op == EXACTLY
                                       ? TakesByte(n, b, !fold)
                                       : b < 0x80 && detail::CharEqualsLiteral(n, b, fold);
                        },
                        fold);
                };
                literal(caseBit == 0);
                if (info.switchesCase) {
                    literal(caseBit == 1);  // «\C» and «\c» change the case state within a walk
                }
            } else if (IsCharTest(op)) {
                collect(n, [&](unsigned char b) { return b < 0x80 && detail::CharPasses(n, b); });
            } else if (IsConsuming(op)) {
                collect(n, [&](unsigned char b) { return detail::MatchesByte(n, b); });
            } else if (op == WORDSTART || op == WORDEND) {
                collect(n, [](unsigned char b) { return detail::IsWordByte(b); });
            } else if (op == UWORDSTART || op == UWORDEND) {
                collect(n, [](unsigned char b) {
                    return b < 0x80 && (unicode::Flags(b) & unicode::kAlnum) != 0;
                });
            }
        }
        auto& kind = info.byteKind[caseBit];
        for (int b = 0; b < 256; ++b) {
            const bool none = b == '\r' || b == '\n' || (info.charMode && b >= 0x80);
            kind[static_cast<size_t>(b)] = none ? -1 : 0;
        }
        for (const Members& set : tests) {
            // Splits each kind in two by the test.
            std::array<std::array<int16_t, 2>, 256> renamed;
            for (auto& pair : renamed) {
                pair = {-1, -1};
            }
            int16_t kinds = 0;
            for (size_t b = 0; b < 256; ++b) {
                if (kind[b] < 0) {
                    continue;
                }
                const size_t in = (set[b >> 6] >> (b & 63)) & 1;
                int16_t& id = renamed[static_cast<size_t>(kind[b])][in];
                if (id < 0) {
                    id = kinds++;
                }
                kind[b] = id;
            }
        }
    }
}

// Whether the nodes from first up to last are only tests that consume
// nothing and brackets: a walk through them, if it gets through, leaves
// them at last where it came in. (An operator there may lead elsewhere: in
// «$?|» the «|» lies inside the span of the «?».)
bool OnlyTests(const ExprNode* first, const ExprNode* last) {
    for (const ExprNode* n = first; n != last; n = n->next) {
        if (!IsBracket(n->op) && !IsZeroWidthTest(n->op)) {
            return false;
        }
    }
    return true;
}

// Whether some walk from the program's start can reach END through a test
// that held because the input ended there («$», or «>» at the input end):
// only then can a walk that fails with some input end hold with a lower one.
// After such a test nothing can be consumed; a word start holds nowhere
// with it, nor with «>» («><»), and an end test holds nowhere after a word
// start at the same place («<$», «<>»). The walk's steps are followed with
// what the tests since the last byte consumed say of the place: «.+$b+>»
// reaches «>» only through «b» consumed after «$», «<$$?» the second «$»
// only through «<$».
// With passOptional, a «?» whose operand only tests («$?», «(<>)?») is
// always passed by. With endsAttempts, a bar without a right alternative
// («$|}») reached there counts as END: it ends the attempt where a lower end
// stands, where the walk only failed with a higher one.
bool HoldsAtTheInputEnd(const ProgramInfo& info, const ExprNode* program, bool passOptional,
                        bool endsAttempts) {
    enum Place : uint8_t {
        kAnywhere,    // nothing known since the last byte consumed
        kWordNext,    // a word start held: a word character follows
        kNoWordNext,  // «>» held before the input end: no word character follows
        kAtInputEnd,  // an end test held because the input ends here
        kPlaces
    };
    std::vector<uint8_t> seen(static_cast<size_t>(info.nodeCount) * kPlaces, 0);
    std::vector<std::pair<const ExprNode*, Place>> pending;
    auto reach = [&](const ExprNode* n, Place place) {
        if (n == nullptr) {
            return;
        }
        uint8_t& s = seen[static_cast<size_t>(n->index) * kPlaces + place];
        if (!s) {
            s = 1;
            pending.emplace_back(n, place);
        }
    };
    reach(program, kAnywhere);
    while (!pending.empty()) {
        const auto [n, place] = pending.back();
        pending.pop_back();
        const int16_t op = n->op;
        if (op == END) {
            if (place == kAtInputEnd) {
                return true;
            }
            continue;
        }
        if (IsConsuming(op)) {
            if (place != kAtInputEnd) {
                reach(n->next, kAnywhere);
            }
            continue;
        }
        if (endsAttempts && op == BRANCHEND && place == kAtInputEnd &&
            info.branchSkip[static_cast<size_t>(n->index)].attemptFails) {
            return true;
        }
        if (op == EOL || op == WORDEND || op == UWORDEND) {
            if (place == kWordNext) {
                continue;
            }
            reach(n->next, kAtInputEnd);
            if (op != EOL && place != kAtInputEnd) {
                reach(n->next, kNoWordNext);
            }
            continue;
        }
        if (op == WORDSTART || op == UWORDSTART) {
            if (place == kAnywhere || place == kWordNext) {
                reach(n->next, kWordNext);
            }
            continue;
        }
        if (passOptional && op == QUEST && OnlyTests(n->next, n->link.node)) {
            reach(n->link.node, place);
            continue;
        }
        const ExprNode* out[2];
        const int k = WalkSuccessors(info, n, out);
        for (int i = 0; i < k; ++i) {
            reach(out[i], place);
        }
    }
    return false;
}

ProgramInfo AnalyseProgram(const ExprNode* program, bool simplify, int caseOption) {
    ProgramInfo info;
    const ExprNode* compiled = program;
    // Groups a simpler copy leaves out are still the expression's.
    for (const ExprNode* n = program; n; n = n->next) {
        if (IsCapturing(n->op)) {
            info.highestGroup = std::max(info.highestGroup, GroupNumber(n->op));
        }
    }
    if (program != nullptr && simplify) {
        auto storage = std::make_shared<SimplifiedProgram>();
        const ExprNode* simpler = SimplifyLoops(program, *storage, caseOption);
        if (simpler != program) {
            info.caseOption = storage->caseBound ? caseOption : -1;
            info.simplified = std::move(storage);
            program = simpler;
        }
    }
    info.program = program;
    info.charMode = program != nullptr && program->mode == TextMode::kUtf8;
    if (program == nullptr) {
        info.canMatchEmpty = false;
        return info;
    }
    for (const ExprNode* n = program; n; n = n->next) {
        info.nodeCount = n->index + 1;
    }
    const auto count = static_cast<size_t>(info.nodeCount);
    std::vector<const ExprNode*> byIndex(count, nullptr);
    for (const ExprNode* n = program; n; n = n->next) {
        byIndex[static_cast<size_t>(n->index)] = n;
        info.switchesCase = info.switchesCase || n->op == CASEON || n->op == CASEOFF;
    }
    FindByteKinds(info, compiled);
    FindBranchSkips(info, program, byIndex);
    FindQuestSkips(info, byIndex);
    FindChoiceLeaves(info, byIndex);
    FindLiteralAlternatives(info, program);
    FindLoopGroups(info, byIndex);
    FindMemoColumns(info, program, byIndex);
    const FirstByteSets firstSets(info, byIndex);
    // A failure remembered with one input end stands for a walk with a lower
    // one only if the walk cannot end its attempt there instead; the outcome
    // of a whole attempt fails either way.
    info.endMonotone = !HoldsAtTheInputEnd(info, program, false, true);
    info.attemptEndMonotone = info.endMonotone || !HoldsAtTheInputEnd(info, program, true, false);
    info.byteLoop.assign(count, 0);
    info.asciiTakes.assign(count, {});
    info.loopRow.assign(count, 0);
    info.rowGroup.assign(count, 0);
    info.rowSlot.assign(count, -1);
    info.rowLoops = 0;
    for (const ExprNode* n = program; n; n = n->next) {
        const ExprNode* test = nullptr;
        if (IsLoop(n->op) && IsSingleTestLoop(n)) {
            info.byteLoop[static_cast<size_t>(n->index)] = 1;
            test = n->next;
        } else if (int group = 0; const int width = RowLoopWidth(n, group)) {
            info.loopRow[static_cast<size_t>(n->index)] = static_cast<uint8_t>(width);
            info.rowGroup[static_cast<size_t>(n->index)] = static_cast<uint8_t>(group);
            info.rowSlot[static_cast<size_t>(n->index)] = info.rowLoops++;
            test = RowTest(n);
        }
        if (test != nullptr) {
            if (IsCharTest(test->op) && test->op != UEXACTLY) {
                auto& bits = info.asciiTakes[static_cast<size_t>(test->index)];
                for (char32_t c = 0; c < 128; ++c) {
                    if (detail::CharPasses(test, c)) {
                        bits[c >> 6] |= uint64_t{1} << (c & 63);
                    }
                }
            }
        }
    }
    FindFirstTests(info, program);
    FindChainLoops(info, program);
    info.walkKind.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        info.walkKind[i] = static_cast<uint8_t>(
            (info.byteLoop[i] ? kWalkSingleLoop : 0) | (info.loopRow[i] ? kWalkRowLoop : 0) |
            (info.chainSlot[i] >= 0 ? kWalkChainLoop : 0) |
            (info.choiceSpan[i].count > 0 ? kWalkChoices : 0) |
            (info.questSkip[i] != nullptr ? kWalkQuestSkip : 0));
    }

    int charChecks = 0;
    for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
        info.possessiveLoop[caseBit].assign(count, 0);
        for (const ExprNode* n = program; n; n = n->next) {
            if ((n->op != STAR && n->op != PLUS) || !info.byteLoop[static_cast<size_t>(n->index)]) {
                continue;
            }
            const FirstByteSets::Set& next =
                firstSets.From(n->link.node, static_cast<int>(caseBit));
            if (next.reachesEnd) {
                continue;  // the continuation may match where any run byte stands
            }
            std::array<uint8_t, 32> taken{};
            AddBytes(n->next, caseBit == 0, taken);
            bool ascii = true;  // bytes 0 to 0x7F, each a character
            bool high = true;   // the bytes other characters begin with
            for (size_t i = 0; i < taken.size(); ++i) {
                (i < 16 ? ascii : high) &= (taken[i] & next.bytes[i]) == 0;
            }
            // «\w+\s»: both take characters that begin with the same bytes,
            // but no such character passes both tests. Each look at the
            // continuation's first tests is bounded by the program's size, so
            // only so many are made.
            constexpr int kMostCharChecks = 256;
            if (ascii && !high && info.charMode && charChecks < kMostCharChecks) {
                ++charChecks;
                std::vector<FirstNode> firsts;
                bool reachesEnd = false;
                CollectFirstNodes(info, n->link.node, static_cast<int>(caseBit), firsts,
                                  reachesEnd);
                high = !reachesEnd &&
                       std::all_of(firsts.begin(), firsts.end(), [&](const FirstNode& f) {
                           return !TakesNonAscii(f.node, f.fold) ||
                                  NoCommonNonAsciiCharacter(n->next->op, f.node->op);
                       });
            }
            info.possessiveLoop[caseBit][static_cast<size_t>(n->index)] = ascii && high ? 1 : 0;
        }
    }

    for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
        info.straight[caseBit] = IsStraight(info, program, caseBit);
    }
    info.anchored = program->op == BOL;
    for (const ExprNode* n = program; n && n->op == EXACTLY; n = n->next) {
        info.prefix.append(reinterpret_cast<const char*>(n->link.bytes),
                           static_cast<size_t>(n->length));
    }

    info.shortestMatching = ShortestMatching(info, program, byIndex);
    info.canMatchEmpty = false;
    for (int caseBit = 0; caseBit <= 1; ++caseBit) {
        auto& table = info.firstBytes[static_cast<size_t>(caseBit)];
        std::vector<FirstNode> first;
        CollectFirstNodes(info, program, caseBit, first, info.canMatchEmpty);
        for (const FirstNode& f : first) {
            const ExprNode* n = f.node;
            if (n->op == EXACTLY) {
                const unsigned char b = n->link.bytes[0];
                table[b] = 1;
                if (f.fold) {
                    table[detail::AsciiUpper(b)] = 1;
                    table[detail::AsciiLower(b)] = 1;
                }
                continue;
            }
            if (IsCharTest(n->op)) {
                uint8_t bytes[256];
                detail::CharFirstBytes(n, f.fold, bytes);
                for (int b = 0; b < 256; ++b) {
                    table[static_cast<size_t>(b)] |= bytes[b];
                }
                continue;
            }
            for (int b = 0; b < 256; ++b) {
                if (TakesByte(n, static_cast<unsigned char>(b), !f.fold)) {
                    table[static_cast<size_t>(b)] = 1;
                }
            }
        }
        int admitted = 0;
        int lowest = -1;
        int highest = -1;
        for (int b = 0; b < 256; ++b) {
            if (table[static_cast<size_t>(b)]) {
                lowest = lowest < 0 ? b : lowest;
                highest = b;
                if (admitted < 6) {
                    info.firstByteList[static_cast<size_t>(caseBit)]
                                      [static_cast<size_t>(admitted)] =
                        static_cast<unsigned char>(b);
                }
                ++admitted;
            }
        }
        info.firstByteCount[static_cast<size_t>(caseBit)] = admitted;
        // With more first bytes than letters and digits, nearly every byte
        // passes and the pair test would cost more than it saves.
        if (!info.canMatchEmpty && admitted <= 64) {
            FillSecondBytes(info, static_cast<size_t>(caseBit), first, firstSets);
        }
        if (!info.canMatchEmpty) {
            FindLiteralSet(info, static_cast<size_t>(caseBit), first);
        }
        info.firstBytesOneRange[static_cast<size_t>(caseBit)] =
            admitted > 0 && highest - lowest + 1 == admitted;
        info.firstByteRange[static_cast<size_t>(caseBit)] = {static_cast<unsigned char>(lowest),
                                                             static_cast<unsigned char>(highest)};
    }

    if (!info.canMatchEmpty) {
        FindLastBytes(info, program);
    }

    const ExprNode* literalNode = nullptr;
    std::vector<const ExprNode*> passed;
    bool passesBol = false;
    info.requiredLiteral = FindRequiredLiteral(info, program, literalNode, passed, passesBol);
    info.caretRequired = passesBol && !info.anchored;
    const size_t passedInOrder = passed.size();
    AddTestsEveryWalkPasses(info, program, passed);
    if (literalNode == nullptr) {
        literalNode = ChooseRequiredClass(info, program, passed, info.requiredClass);
        // Of a test found on the graph alone, the nodes a walk passes before
        // it are not known to stand before it in the list.
        const auto inOrder = passed.begin() + static_cast<std::ptrdiff_t>(passedInOrder);
        if (std::find(passed.begin(), inOrder, literalNode) == inOrder) {
            literalNode = nullptr;
        }
    } else {
        ChooseRequiredClass(info, program, passed, info.alsoRequired);
    }
    if (literalNode != nullptr) {
        FindRequiredRun(info, program, literalNode);
    }
    info.prefixFolded = detail::FoldLiteral(info.prefix);
    info.requiredFolded = detail::FoldLiteral(info.requiredLiteral);
    info.prefixExact = detail::ExactLiteral(info.prefix);
    info.requiredExact = detail::ExactLiteral(info.requiredLiteral);
    auto withoutLetters = [](const std::string& bytes) {
        return std::none_of(bytes.begin(), bytes.end(), [](char c) {
            return detail::IsAsciiLetter(static_cast<unsigned char>(c));
        });
    };
    info.prefixWithoutLetters = withoutLetters(info.prefix);
    info.requiredWithoutLetters = withoutLetters(info.requiredLiteral);

    if (info.charMode) {
        FindCharLiteral(info, program);
    }

    const ExprNode* lead = program;
    while (lead &&
           (lead->op == GROUPOPEN || (IsCapturing(lead->op) && IsOpeningBracket(lead->op)))) {
        lead = lead->next;
    }
    if (const ExprNode* loop = PlusEntryLoop(lead)) {
        lead = loop;  // «x+» and «x#» enter their operand before the loop node
    }
    if (lead && IsLoop(lead->op) && IsSingleTestLoop(lead)) {
        info.leadingLoop = lead;
        const ExprNode* next = info.firstTest[static_cast<size_t>(lead->link.node->index)];
        info.leadingNextTested = next != nullptr;
        if (next == nullptr) {
            const ExprNode* after = lead->link.node;
            while (after != nullptr && (after->op == NOTHING || IsBracket(after->op))) {
                after = after->next;
            }
            info.leadingNextAtEnd = info.leadingNextTested = after != nullptr && after->op == EOL;
        }
        std::string follows;
        for (const ExprNode* n = lead->link.node; n != nullptr; n = n->next) {
            if (n->op == EXACTLY) {
                follows.append(reinterpret_cast<const char*>(n->link.bytes),
                               static_cast<size_t>(n->length));
            } else if (n->op != NOTHING && !IsBracket(n->op)) {
                break;
            }
        }
        info.requiredFollowsLeadingLoop =
            !info.requiredLiteral.empty() && follows.starts_with(info.requiredLiteral);
        info.leadingCharLoop = IsCharTest(lead->next->op);
        for (size_t caseBit = 0; caseBit <= 1; ++caseBit) {
            for (int b = 0; b < 256; ++b) {
                const auto byte = static_cast<unsigned char>(b);
                // A character loop's run is only known through its ASCII
                // characters: it may go on at any other byte.
                info.leadingRunBytes[caseBit][byte] =
                    info.leadingCharLoop ? b < 0x80 && TakesByte(lead->next, byte, caseBit == 1)
                                         : TakesByte(lead->next, byte, caseBit == 1);
                info.leadingNextBytes[caseBit][byte] =
                    next == nullptr ? !info.leadingNextAtEnd
                                    : IsCharTest(next->op) || TakesByte(next, byte, caseBit == 1);
            }
            if (next != nullptr && IsCharTest(next->op)) {
                detail::CharFirstBytes(next, caseBit == 0, info.leadingNextBytes[caseBit].data());
            }
        }
    }
    return info;
}

}  // namespace quarry
