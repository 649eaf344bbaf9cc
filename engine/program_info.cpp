#include "engine/program_info.h"

#include <algorithm>

#include "engine/byte_scan.h"
#include "engine/byte_tests.h"
#include "engine/char_tests.h"
#include "engine/escapes.h"

namespace quarry {
namespace {

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
           loop->link.node == back->next;
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

void CollectFirstNodes(const ExprNode* start, int32_t nodeCount, int caseBit,
                       std::vector<FirstNode>& consuming, bool& reachesEnd) {
    std::vector<uint8_t> seen(static_cast<size_t>(nodeCount) * 2, 0);
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
                bool attemptFails = false;
                n = SkipRightAlternative(n, attemptFails);
            } else if (IsOperator(n->op)) {
                pending.emplace_back(n->link.node, c);
                n = n->next;
            } else {
                n = n->next;
            }
        }
    }
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

// The longest run of literal bytes that every walk from the program's start
// to END consumes back to back: literals at the top level, outside every
// operator and alternative; brackets and the zero-width tests between them
// consume nothing and keep a run going.
std::string FindRequiredLiteral(const ExprNode* program) {
    std::string best;
    std::string run;
    auto endRun = [&] {
        if (run.size() > best.size()) {
            best = run;
        }
        run.clear();
    };
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        if (n->op == CASEON || n->op == CASEOFF) {
            return {};  // the case option of a literal could depend on the path
        }
    }
    // Any node but those handled here (a NOTHING or BRANCHEND met at this
    // level, as where an operator applies to another one's end) ends the
    // search: past it no path is certain.
    for (const ExprNode* n = program; n != nullptr && n->op != END;) {
        if (n->op == EXACTLY) {
            run.append(reinterpret_cast<const char*>(n->link.bytes),
                       static_cast<size_t>(n->length));
            n = n->next;
            continue;
        }
        if (IsBracket(n->op)) {
            n = n->next;
            continue;
        }
        endRun();
        if (IsConsuming(n->op) || n->op == BOL || n->op == EOL || n->op == WORDSTART ||
            n->op == WORDEND) {
            n = n->next;
        } else if (n->op == JUMP && n->next != nullptr && IsLoop(n->next->op) &&
                   n->link.node == n->next->next) {
            n = n->next;  // the entry of «x+» or «x#»: the loop node follows
        } else if (n->op == BRANCH) {
            // Past the right alternative, which the walk may skip.
            const ExprNode* r = RightAlternative(n);
            if (r == nullptr || !(IsConsuming(r->op) || IsOpeningBracket(r->op))) {
                break;
            }
            n = PastAtom(r);
        } else if (IsOperator(n->op)) {
            n = n->link.node->next;  // past the operand and its NOTHING
        } else {
            break;
        }
    }
    endRun();
    return best;
}

// Adds the bytes a consuming node can take, its literal folded when fold.
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

// For each listed first byte, the bytes a matching can have next: those
// the consuming nodes a walk meets after the first one can take (every byte
// where the walk can end there).
void FillSecondBytes(ProgramInfo& info, size_t caseBit, const std::vector<FirstNode>& first) {
    auto& sets = info.secondBytes[caseBit];
    const auto& list = info.firstByteList[caseBit];
    const int count = info.firstByteCount[caseBit];
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
            std::vector<FirstNode> after;
            bool reachesEnd = false;
            CollectFirstNodes(n->next, info.nodeCount, f.fold ? 0 : 1, after, reachesEnd);
            if (reachesEnd) {
                next.fill(0xFF);
            }
            for (const FirstNode& a : after) {
                AddBytes(a.node, a.fold, next);
            }
        }
        std::array<uint8_t, 32> firstSet{};
        AddBytes(n, f.fold, firstSet);
        std::array<uint8_t, 32> any{};
        any.fill(0xFF);
        for (int i = 0; i < count; ++i) {
            const unsigned char b = list[static_cast<size_t>(i)];
            if ((firstSet[b >> 3] >> (b & 7)) & 1) {
                // After a byte that may begin a longer character, its next
                // byte follows, whatever the following node takes.
                const auto& follows = IsCharTest(n->op) && b >= 0x80 ? any : next;
                for (size_t k = 0; k < 32; ++k) {
                    sets[static_cast<size_t>(i)][k] |= follows[k];
                }
            }
        }
    }
    info.secondBytesKnown[caseBit] = true;

    // Few enough (first byte, second byte) pairs for a scan that tests both.
    int pairs = 0;
    for (int i = 0; i < count; ++i) {
        for (int b = 0; b < 256; ++b) {
            if ((sets[static_cast<size_t>(i)][static_cast<size_t>(b >> 3)] >> (b & 7)) & 1) {
                if (pairs < kMaxBytePairs) {
                    info.bytePairs[caseBit][static_cast<size_t>(pairs)] = {
                        list[static_cast<size_t>(i)], static_cast<unsigned char>(b)};
                }
                ++pairs;
            }
        }
    }
    info.bytePairCount[caseBit] = pairs <= kMaxBytePairs ? pairs : 0;
}

}  // namespace

const ExprNode* SkipRightAlternative(const ExprNode* branchEnd, bool& attemptFails) {
    attemptFails = false;
    const ExprNode* r = RightAlternative(branchEnd->link.node);
    if (r != nullptr && IsClosingBracket(r->op)) {
        attemptFails = true;
        return nullptr;
    }
    return PastAtom(r);
}

ProgramInfo AnalyseProgram(const ExprNode* program) {
    ProgramInfo info;
    info.program = program;
    info.charMode = program != nullptr && program->mode == TextMode::kUtf8;
    if (program == nullptr) {
        info.canMatchEmpty = false;
        return info;
    }
    for (const ExprNode* n = program; n; n = n->next) {
        info.nodeCount = n->index + 1;
        if (IsCapturing(n->op)) {
            info.highestGroup = std::max(info.highestGroup, GroupNumber(n->op));
        }
        if (IsLoop(n->op)) {
            info.loopSlots.push_back(n->index * 2);
            info.loopSlots.push_back(n->index * 2 + 1);
        }
    }
    const auto count = static_cast<size_t>(info.nodeCount);
    info.byteLoop.assign(count, 0);
    info.firstTest.assign(count, nullptr);
    for (const ExprNode* n = program; n; n = n->next) {
        if (IsLoop(n->op) && IsSingleTestLoop(n)) {
            info.byteLoop[static_cast<size_t>(n->index)] = 1;
        }
        const ExprNode* t = n;
        for (int32_t steps = 0; t != nullptr && steps <= info.nodeCount; ++steps) {
            // Brackets only record where a group starts or ends once the whole
            // walk has succeeded, so a walk that fails its first byte test
            // records nothing through them either.
            if (t->op == NOTHING || IsBracket(t->op)) {
                t = t->next;
            } else if (t->op == JUMP) {
                t = t->link.node;
            } else {
                break;
            }
        }
        if (t != nullptr && IsConsuming(t->op)) {
            info.firstTest[static_cast<size_t>(n->index)] = t;
        }
    }

    info.anchored = program->op == BOL;
    for (const ExprNode* n = program; n && n->op == EXACTLY; n = n->next) {
        info.prefix.append(reinterpret_cast<const char*>(n->link.bytes),
                           static_cast<size_t>(n->length));
    }

    info.canMatchEmpty = false;
    for (int caseBit = 0; caseBit <= 1; ++caseBit) {
        auto& table = info.firstBytes[static_cast<size_t>(caseBit)];
        std::vector<FirstNode> first;
        CollectFirstNodes(program, info.nodeCount, caseBit, first, info.canMatchEmpty);
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
        if (admitted <= 6 && !info.canMatchEmpty) {
            FillSecondBytes(info, static_cast<size_t>(caseBit), first);
        }
        info.firstBytesOneRange[static_cast<size_t>(caseBit)] =
            admitted > 0 && highest - lowest + 1 == admitted;
        info.firstByteRange[static_cast<size_t>(caseBit)] = {static_cast<unsigned char>(lowest),
                                                             static_cast<unsigned char>(highest)};
    }

    info.requiredLiteral = FindRequiredLiteral(program);
    info.prefixRareByte = detail::RarestByte(info.prefix);
    info.requiredRareByte = detail::RarestByte(info.requiredLiteral);
    info.prefixFolded = detail::FoldLiteral(info.prefix);
    info.requiredFolded = detail::FoldLiteral(info.requiredLiteral);
    auto withoutLetters = [](const std::string& bytes) {
        return std::none_of(bytes.begin(), bytes.end(), [](char c) {
            return detail::IsAsciiLetter(static_cast<unsigned char>(c));
        });
    };
    info.prefixWithoutLetters = withoutLetters(info.prefix);
    info.requiredWithoutLetters = withoutLetters(info.requiredLiteral);

    const ExprNode* lead = program;
    while (lead &&
           (lead->op == GROUPOPEN || (IsCapturing(lead->op) && IsOpeningBracket(lead->op)))) {
        lead = lead->next;
    }
    if (lead && lead->op == JUMP && lead->next && lead->link.node == lead->next->next) {
        lead = lead->next;  // «x+» and «x#» enter their operand before the loop node
    }
    if (lead && IsLoop(lead->op) && IsSingleTestLoop(lead)) {
        info.leadingLoop = lead;
        const ExprNode* next = info.firstTest[static_cast<size_t>(lead->link.node->index)];
        info.leadingNextTested = next != nullptr;
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
                    next == nullptr || IsCharTest(next->op) || TakesByte(next, byte, caseBit == 1);
            }
            if (next != nullptr && IsCharTest(next->op)) {
                detail::CharFirstBytes(next, caseBit == 0, info.leadingNextBytes[caseBit].data());
            }
        }
    }
    return info;
}

}  // namespace quarry
