#include "engine/loop_simplify.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

#include "engine/byte_tests.h"
#include "engine/char_tests.h"
#include "engine/escapes.h"

namespace quarry {

bool SameTest(const ExprNode* a, const ExprNode* b) {
    if (a->op != b->op || a->length != b->length) {
        return false;
    }
    return a->length == 0 ||
           std::memcmp(a->link.bytes, b->link.bytes, static_cast<size_t>(a->length)) == 0;
}

namespace {

// Operators, tails, jumps and branch ends refer to a partner node; the
// other nodes own operand bytes or hold nothing there.
bool HasNodeLink(int16_t op) {
    return IsOperator(op) || op == NOTHING || op == JUMP || op == BRANCHEND;
}

// A greedy «x*» over one test at nodes[i]: the loop node, its test, the jump
// back and the loop's tail, in that order.
bool IsPlainStar(const std::vector<const ExprNode*>& nodes, size_t i) {
    if (i + 3 >= nodes.size()) {
        return false;
    }
    const ExprNode* loop = nodes[i];
    const ExprNode* test = nodes[i + 1];
    return loop->op == STAR && IsConsuming(test->op) &&
           !(test->op == EXACTLY && test->length != 1) && nodes[i + 2]->op == JUMP &&
           nodes[i + 2]->link.node == loop && nodes[i + 3]->op == NOTHING &&
           loop->link.node == nodes[i + 3];
}

// «{x*}*» (or with `capture`, «(x*)*») at nodes[i]: the outer loop, the
// opening bracket, the inner loop, the closing bracket, the jump back and
// the outer loop's tail.
bool IsStarOfPlainStar(const std::vector<const ExprNode*>& nodes, size_t i, bool capture) {
    if (i + 8 >= nodes.size() || nodes[i]->op != STAR || !IsPlainStar(nodes, i + 2) ||
        nodes[i + 7]->op != JUMP || nodes[i + 7]->link.node != nodes[i] ||
        nodes[i + 8]->op != NOTHING || nodes[i]->link.node != nodes[i + 8]) {
        return false;
    }
    const int16_t open = nodes[i + 1]->op;
    const int16_t close = nodes[i + 6]->op;
    if (!capture) {
        return open == GROUPOPEN && close == GROUPCLOSE;
    }
    return IsCapturing(open) && IsOpeningBracket(open) && IsCapturing(close) &&
           IsClosingBracket(close) && GroupNumber(open) == GroupNumber(close);
}

// The test of «x*» or «(x*)*» ending just before nodes[end], and how many
// nodes it has; nullptr when none ends there. Either tries what follows it
// at every place of its run, the furthest first.
const ExprNode* StarEndingAt(const std::vector<const ExprNode*>& nodes, size_t end,
                             size_t& length) {
    if (end >= 4 && IsPlainStar(nodes, end - 4)) {
        length = 4;
        return nodes[end - 3];
    }
    if (end >= 9 && IsStarOfPlainStar(nodes, end - 9, true)) {
        length = 9;
        return nodes[end - 6];
    }
    return nullptr;
}

// Whether the node after `n` begins the right alternative of a bar: n is
// the bar's tail.
bool StartsAlternative(const ExprNode* n) {
    return n->op == NOTHING && n->link.node != nullptr && IsOperator(n->link.node->op) &&
           (n->link.node->op & 0xFF) == '|';
}

// A loop over a group whose body is one test or a chain of bars between
// tests («(a|b|[0-9])+»): where it begins in the list, and its parts.
struct ChoiceLoop {
    size_t first = 0;  // the loop node, or the entry jump of «+» and «#»
    const ExprNode* loop = nullptr;
    const ExprNode* open = nullptr;
    const ExprNode* close = nullptr;
    std::vector<const ExprNode*> tests;
};

bool IsBarPart(const std::vector<const ExprNode*>& nodes, size_t bar) {
    const ExprNode* branch = nodes[bar];
    return branch->op == BRANCH && branch->link.node == nodes[bar + 3] &&
           IsConsuming(nodes[bar + 1]->op) && nodes[bar + 2]->op == BRANCHEND &&
           nodes[bar + 2]->link.node == branch && nodes[bar + 3]->op == NOTHING &&
           nodes[bar + 3]->link.node == branch;
}

// Fills in `found` for a loop over a group whose body begins at
// nodes[body]: the loop node stands before the group, and «+» and «#» enter
// it by a jump before that; false when that jump is not there.
bool FoundLoopAt(const std::vector<const ExprNode*>& nodes, size_t body, const ExprNode* loop,
                 const ExprNode* open, const ExprNode* close, ChoiceLoop& found) {
    found.first = body - 2;
    if (loop->op == PLUS || loop->op == LAZYPLUS) {
        if (body < 3 || nodes[body - 3]->op != JUMP || nodes[body - 3]->link.node != open) {
            return false;
        }
        found.first = body - 3;
    }
    found.loop = loop;
    found.open = open;
    found.close = close;
    return true;
}

// Such a loop ending at the end of `nodes` (its tail just kept).
bool ChoiceLoopAtEnd(const std::vector<const ExprNode*>& nodes, ChoiceLoop& found) {
    const size_t size = nodes.size();
    if (size < 6) {
        return false;
    }
    const ExprNode* tail = nodes[size - 1];
    const ExprNode* loop = tail->op == NOTHING ? tail->link.node : nullptr;
    if (loop == nullptr || !IsLoop(loop->op) || loop->link.node != tail ||
        nodes[size - 2]->op != JUMP || nodes[size - 2]->link.node != loop ||
        !IsClosingBracket(nodes[size - 3]->op) || !IsConsuming(nodes[size - 4]->op)) {
        return false;
    }
    found.tests.assign(1, nodes[size - 4]);
    size_t body = size - 4;
    while (body >= 6 && IsBarPart(nodes, body - 4)) {
        found.tests.push_back(nodes[body - 3]);
        body -= 4;
    }
    const ExprNode* open = nodes[body - 1];
    const ExprNode* close = nodes[size - 3];
    if (nodes[body - 2] != loop || !IsOpeningBracket(open->op)) {
        return false;
    }
    const bool brackets =
        IsCapturing(open->op)
            ? IsCapturing(close->op) && GroupNumber(open->op) == GroupNumber(close->op)
            : open->op == GROUPOPEN && close->op == GROUPCLOSE;
    if (!brackets) {
        return false;
    }
    return FoundLoopAt(nodes, body, loop, open, close, found);
}

// A greedy loop over a capturing group whose body is a row of two or more
// copies of one test («(\w\w)+»), ending at the end of `nodes`.
bool RowLoopAtEnd(const std::vector<const ExprNode*>& nodes, ChoiceLoop& found) {
    const size_t size = nodes.size();
    if (size < 7) {
        return false;
    }
    const ExprNode* tail = nodes[size - 1];
    const ExprNode* loop = tail->op == NOTHING ? tail->link.node : nullptr;
    if (loop == nullptr || (loop->op != STAR && loop->op != PLUS) || loop->link.node != tail ||
        nodes[size - 2]->op != JUMP || nodes[size - 2]->link.node != loop) {
        return false;
    }
    const ExprNode* close = nodes[size - 3];
    if (!IsCapturing(close->op) || !IsClosingBracket(close->op)) {
        return false;
    }
    size_t body = size - 3;
    const ExprNode* test = nodes[body - 1];
    if (!IsConsuming(test->op) || (test->op == EXACTLY && test->length != 1)) {
        return false;
    }
    found.tests.clear();
    while (body >= 3 && SameTest(nodes[body - 1], test)) {
        found.tests.push_back(nodes[body - 1]);
        --body;
    }
    const ExprNode* open = nodes[body - 1];
    if (found.tests.size() < 2 || nodes[body - 2] != loop || !IsCapturing(open->op) ||
        !IsOpeningBracket(open->op) || GroupNumber(open->op) != GroupNumber(close->op)) {
        return false;
    }
    return FoundLoopAt(nodes, body, loop, open, close, found);
}

// Whether a byte-mode test takes the same bytes whatever the case option.
bool CaseFreeByteTest(const ExprNode* test) {
    return test->op != EXACTLY ||
           detail::AsciiUpper(test->link.bytes[0]) == detail::AsciiLower(test->link.bytes[0]);
}

// The characters a UEXACTLY literal equals without case, itself first.
std::vector<char32_t> LiteralPartners(const ExprNode* literal) {
    const char32_t lit = detail::LiteralChar(literal);
    std::vector<char32_t> partners = {lit};
    for (char32_t c : unicode::FoldPartners(lit)) {
        if (c != lit && detail::CharEqualsLiteral(literal, c, true)) {
            partners.push_back(c);
        }
    }
    return partners;
}

// Whether `test`, not a literal, takes character (or byte) c.
bool NonLiteralTakes(const ExprNode* test, char32_t c, bool charMode) {
    if (test->op == EXACTLY || test->op == UEXACTLY) {
        return false;
    }
    if (!charMode) {
        return c < 256 && detail::MatchesByte(test, static_cast<unsigned char>(c));
    }
    return test->op == DIGIT ? detail::IsAsciiDigitValue(c) : detail::CharPasses(test, c);
}

// Whether what a literal may equal in either case state, `partners`, is
// all taken by the other tests of the group: there it adds nothing, so the
// case state does not matter («(a|\w)» after a «\c»).
bool PartnersTakenByOthers(const std::vector<const ExprNode*>& tests,
                           const std::vector<char32_t>& partners, bool charMode) {
    return std::all_of(partners.begin(), partners.end(), [&](char32_t c) {
        return std::any_of(tests.begin(), tests.end(), [&](const ExprNode* other) {
            return NonLiteralTakes(other, c, charMode);
        });
    });
}

// Makes `made` the one test taking what any of `tests` takes (in the case
// option given; -1: in either, so a literal only where the other tests take
// every case form of it); false when these tests cannot be joined.
bool JoinTests(const std::vector<const ExprNode*>& tests, int caseOption, ExprNode& made,
               SimplifiedProgram& storage) {
    const bool charMode = made.mode == TextMode::kUtf8;
    if (tests.size() == 1) {
        made.op = tests[0]->op;
        made.length = tests[0]->length;
        made.link = tests[0]->link;
        return true;
    }
    for (const ExprNode* test : tests) {
        if (test->op == ANY || test->op == UANY) {
            made.op = test->op;
            return true;
        }
    }
    std::vector<unsigned char> set(kSetBytes, 0);
    auto add = [&](char32_t c) {
        set[c >> 3] = static_cast<unsigned char>(set[c >> 3] | 1u << (c & 7));
    };
    bool caseBound = false;
    // A one-byte literal: its byte, and its other case where the run
    // ignores case; false where the case option it is made for is unknown.
    auto addLiteral = [&](const ExprNode* test) {
        const unsigned char lit = test->link.bytes[0];
        if (test->length != 1) {
            return false;
        }
        add(lit);
        if (!CaseFreeByteTest(test)) {
            if (caseOption < 0) {
                return PartnersTakenByOthers(
                    tests, {detail::AsciiLower(lit), detail::AsciiUpper(lit)}, charMode);
            }
            caseBound = true;
            if (caseOption == 0) {
                add(detail::AsciiUpper(lit));
                add(detail::AsciiLower(lit));
            }
        }
        return true;
    };
    // The joined test owns its operand in the copy's storage.
    auto keep = [&](int16_t op, std::vector<unsigned char> operand) {
        storage.operands.push_back(std::move(operand));
        made.op = op;
        made.length = static_cast<int16_t>(storage.operands.back().size());
        made.link.bytes = storage.operands.back().data();
        storage.caseBound = storage.caseBound || caseBound;
        return true;
    };
    if (!charMode) {
        for (const ExprNode* test : tests) {
            if (test->op == EXACTLY) {
                if (!addLiteral(test)) {
                    return false;
                }
                continue;
            }
            for (int b = 0; b < 256; ++b) {
                if (detail::MatchesByte(test, static_cast<unsigned char>(b))) {
                    add(static_cast<char32_t>(b));
                }
            }
        }
        return keep(ANYOF, std::move(set));
    }
    // A character class: values below 256 in the set, properties for the
    // others, then ranges (stray bytes among them).
    uint8_t properties = 0;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    auto addValue = [&](char32_t c) {
        if (c < 256) {
            add(c);
        } else {
            ranges.emplace_back(c, c);
        }
    };
    for (const ExprNode* test : tests) {
        switch (test->op) {
            case UEXACTLY: {
                const std::vector<char32_t> partners = LiteralPartners(test);
                if (partners.size() > 1) {
                    if (caseOption < 0) {
                        if (!PartnersTakenByOthers(tests, partners, charMode)) {
                            return false;
                        }
                        break;
                    }
                    caseBound = true;
                }
                for (size_t i = 0; i < (caseOption == 0 ? partners.size() : 1); ++i) {
                    addValue(partners[i]);
                }
                break;
            }
            case EXACTLY:
                // In character mode, an ASCII literal compared by its byte.
                if (test->link.bytes[0] >= 0x80 || !addLiteral(test)) {
                    return false;
                }
                break;
            case DIGIT:
                for (char32_t c = '0'; c <= '9'; ++c) {
                    add(c);
                }
                break;
            case UANYOF: {
                const unsigned char* cls = test->link.bytes;
                for (int i = 0; i < kSetBytes; ++i) {
                    set[static_cast<size_t>(i)] |= cls[i];
                }
                properties = static_cast<uint8_t>(properties | cls[32]);
                const uint32_t count = detail::ReadWord(cls + 36);
                for (uint32_t i = 0; i < count; ++i) {
                    const unsigned char* r = cls + detail::kClassHeader + size_t{i} * 8;
                    ranges.emplace_back(detail::ReadWord(r), detail::ReadWord(r + 4));
                }
                break;
            }
            case USPACE:
            case UNSPACE:
            case UUPPER:
            case ULOWER:
            case UALNUM:
            case UNALNUM: {
                static constexpr std::pair<int16_t, uint8_t> kProperty[] = {
                    {USPACE, detail::kClassSpace}, {UNSPACE, detail::kClassNotSpace},
                    {UUPPER, detail::kClassUpper}, {ULOWER, detail::kClassLower},
                    {UALNUM, detail::kClassAlnum}, {UNALNUM, detail::kClassNotAlnum}};
                for (const auto& [op, bit] : kProperty) {
                    if (op == test->op) {
                        properties = static_cast<uint8_t>(properties | bit);
                    }
                }
                for (char32_t c = 0; c < 256; ++c) {
                    if (detail::CharPasses(test, c)) {
                        add(c);
                    }
                }
                break;
            }
            default:
                return false;
        }
    }
    std::vector<unsigned char> operand = detail::ClassOperand(set.data(), properties, ranges);
    return !operand.empty() && keep(UANYOF, std::move(operand));
}

}  // namespace

const ExprNode* SimplifyLoops(const ExprNode* program, SimplifiedProgram& storage, int caseOption) {
    int32_t highestIndex = 0;
    // «\C» and «\c» set the case state of the walks after them: a loop that
    // a walk can reach after one may run in either state. Walks go forward in
    // the list but for loops jumping back, so those are the loops that stand
    // after a switch, or inside a loop that holds one.
    std::vector<int32_t> switches;
    std::vector<std::pair<int32_t, int32_t>> loopSpans;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        highestIndex = std::max(highestIndex, n->index);
        if (n->op == CASEON || n->op == CASEOFF) {
            switches.push_back(n->index);
        }
        if (IsLoop(n->op) && n->link.node != nullptr) {
            loopSpans.emplace_back(n->index, n->link.node->index);
        }
    }
    // Loops inside another loop can be entered again by its next pass.
    auto insideALoop = [spans = loopSpans](int32_t from, int32_t to) {
        return std::any_of(spans.begin(), spans.end(),
                           [&](const auto& span) { return span.first < from && to < span.second; });
    };
    // Only the loops that hold a switch matter.
    std::erase_if(loopSpans, [&](const std::pair<int32_t, int32_t>& span) {
        return std::none_of(switches.begin(), switches.end(),
                            [&](int32_t at) { return span.first < at && at < span.second; });
    });
    auto reachedAfterSwitch = [&](int32_t from, int32_t to) {
        return (!switches.empty() && switches.front() < from) ||
               std::any_of(loopSpans.begin(), loopSpans.end(), [&](const auto& span) {
                   return span.first <= from && to <= span.second;
               });
    };
    std::vector<char> removed(static_cast<size_t>(highestIndex) + 1, 0);
    bool changed = false;
    // Nodes made here, numbered on from the program's own.
    std::deque<ExprNode> made;
    auto make = [&](int16_t op, const ExprNode* link) {
        ExprNode& node = made.emplace_back();
        node.op = op;
        node.mode = program->mode;
        node.index = highestIndex + static_cast<int32_t>(made.size());
        node.link.node = const_cast<ExprNode*>(link);
        removed.push_back(0);
        return &node;
    };
    // Nodes are kept in the order of the list; each pattern is looked for
    // where its last node has just been kept, so inner groups are simpler
    // already when the groups around them close («{{x*}*}*»), in one pass.
    std::vector<const ExprNode*> nodes;
    auto drop = [&](size_t from, size_t count) {
        for (size_t k = from; k < from + count; ++k) {
            removed[static_cast<size_t>(nodes[k]->index)] = 1;
        }
        nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(from),
                    nodes.begin() + static_cast<std::ptrdiff_t>(from + count));
        changed = true;
    };
    // The nodes from `first` on become `row`; what it does not keep is
    // taken out.
    auto replace = [&](size_t first, const std::vector<const ExprNode*>& row) {
        for (size_t k = first; k < nodes.size(); ++k) {
            if (std::find(row.begin(), row.end(), nodes[k]) == row.end()) {
                removed[static_cast<size_t>(nodes[k]->index)] = 1;
            }
        }
        nodes.resize(first);
        nodes.insert(nodes.end(), row.begin(), row.end());
        changed = true;
    };
    // A loop over a capturing group as the group once, holding `groupTests`,
    // then a loop without it over copies of the row's tests
    // («{(x)x*}?» for «*»).
    auto groupThenLoop = [&](const ChoiceLoop& c, const std::vector<const ExprNode*>& groupTests) {
        const int16_t op = c.loop->op;
        std::vector<const ExprNode*> row;
        ExprNode* quest = op == STAR ? make(QUEST, nullptr) : nullptr;
        if (quest != nullptr) {
            row.push_back(quest);
        }
        row.push_back(c.open);
        row.insert(row.end(), groupTests.begin(), groupTests.end());
        row.push_back(c.close);
        ExprNode* loop = make(op == LAZYPLUS ? LAZYSTAR : STAR, nullptr);
        row.push_back(loop);
        for (const ExprNode* test : groupTests) {
            ExprNode* again = make(NOTHING, nullptr);
            again->op = test->op;
            again->length = test->length;
            again->link = test->link;
            row.push_back(again);
        }
        ExprNode* tail = make(NOTHING, loop);
        loop->link.node = tail;
        row.insert(row.end(), {make(JUMP, loop), tail});
        if (quest != nullptr) {
            quest->link.node = make(NOTHING, quest);
            row.push_back(quest->link.node);
        }
        return row;
    };
    ChoiceLoop choice;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        nodes.push_back(n);
        // «(x)*» inside another loop stays a loop over its group: a pass of
        // that one that takes nothing meets it where its last pass stood,
        // which fails the walk there, while «{(x)x*}?» would go on. «(x)+»
        // is only met after a pass that took something.
        const auto reenteredStar = [&] {
            return IsCapturing(choice.open->op) && choice.loop->op == STAR &&
                   insideALoop(std::min(choice.open->index, choice.loop->index), n->index);
        };
        if (ChoiceLoopAtEnd(nodes, choice) &&
            !(choice.first > 0 && StartsAlternative(nodes[choice.first - 1])) &&
            !(IsCapturing(choice.open->op) && choice.loop->op == LAZYSTAR)) {
            ExprNode* test = make(NOTHING, nullptr);
            const int joinCase =
                reachedAfterSwitch(std::min(choice.open->index, choice.loop->index), n->index)
                    ? -1
                    : caseOption;
            if (JoinTests(choice.tests, joinCase, *test, storage)) {
                // The group's nodes, the loop's and their tests: what is not
                // kept in the new row is taken out.
                std::vector<const ExprNode*> row;
                const int16_t op = choice.loop->op;
                if (reenteredStar()) {
                    // «(a|b)*» as «(x)*».
                    row.insert(row.end(), {choice.loop, choice.open, test, choice.close,
                                           nodes[nodes.size() - 2], n});
                } else if (!IsCapturing(choice.open->op)) {
                    // «{a|b}*» as «x*», «{a|b}+» as «x+».
                    if (op == PLUS || op == LAZYPLUS) {
                        row.push_back(make(JUMP, test));
                    }
                    row.insert(row.end(), {choice.loop, test, nodes[nodes.size() - 2], n});
                } else {
                    // «(a|b)+» as «(x)x*», «(a|b)#» as «(x)x@», «(a|b)*» as
                    // «{(x)x*}?».
                    row = groupThenLoop(choice, {test});
                }
                replace(choice.first, row);
            }
        } else if (RowLoopAtEnd(nodes, choice) &&
                   !(choice.first > 0 && StartsAlternative(nodes[choice.first - 1])) &&
                   !reenteredStar()) {
            // «(\w\w)+» as «(\w\w){\w\w}*»: the group holds the first pass
            // either way, and the loop left over captures nothing, so the
            // matcher can take its passes as rows of the test's run.
            std::reverse(choice.tests.begin(), choice.tests.end());
            replace(choice.first, groupThenLoop(choice, choice.tests));
        }
        // A bar's left alternative, once matched, goes on after the first
        // node of the right one («a|{b*}*» at «{»): there the outer loop
        // must stay.
        if (nodes.size() >= 9 && IsStarOfPlainStar(nodes, nodes.size() - 9, false) &&
            !(nodes.size() >= 10 && StartsAlternative(nodes[nodes.size() - 10]))) {
            const size_t outer = nodes.size() - 9;
            drop(outer + 6, 3);  // «}», the jump back, the outer tail
            drop(outer, 2);      // the outer loop and «{»
        }
        // After a run of x that stops at each place in turn, another loop
        // over x that can match nothing ends up doing so: every place it
        // could reach was tried, and failed, with the first loop ending
        // there. Its group («(x*)*») is then never entered.
        size_t length = 0;
        size_t before = 0;
        if (const ExprNode* second = StarEndingAt(nodes, nodes.size(), length)) {
            const ExprNode* first = nodes.size() > length
                                        ? StarEndingAt(nodes, nodes.size() - length, before)
                                        : nullptr;
            if (first != nullptr && SameTest(first, second)) {
                drop(nodes.size() - length, length);
            }
        }
    }
    if (!changed) {
        return program;
    }
    // Only the loops themselves may lead into what was taken out; anything
    // else that does (an operator applied to a loop's tail) keeps the
    // program as it is.
    for (const ExprNode* n : nodes) {
        if (HasNodeLink(n->op) && n->link.node != nullptr &&
            removed[static_cast<size_t>(n->link.node->index)] != 0) {
            return program;
        }
    }
    std::vector<ExprNode*> copyOf(removed.size(), nullptr);
    storage.nodes.assign(nodes.size(), ExprNode{});
    for (size_t i = 0; i < nodes.size(); ++i) {
        copyOf[static_cast<size_t>(nodes[i]->index)] = &storage.nodes[i];
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        const ExprNode* from = nodes[i];
        ExprNode& to = storage.nodes[i];
        to.op = from->op;
        to.length = from->length;
        to.mode = from->mode;
        to.index = static_cast<int32_t>(i);
        to.prev = i > 0 ? &storage.nodes[i - 1] : nullptr;
        to.next = i + 1 < nodes.size() ? &storage.nodes[i + 1] : nullptr;
        if (HasNodeLink(from->op)) {
            to.link.node = from->link.node != nullptr
                               ? copyOf[static_cast<size_t>(from->link.node->index)]
                               : nullptr;
        } else {
            to.link = from->link;
        }
    }
    return storage.nodes.data();
}

}  // namespace quarry
