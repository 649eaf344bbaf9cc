#include "engine/loop_simplify.h"

#include <algorithm>
#include <cstring>

namespace quarry {
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

bool SameTest(const ExprNode* a, const ExprNode* b) {
    if (a->op != b->op || a->length != b->length) {
        return false;
    }
    return a->length == 0 ||
           std::memcmp(a->link.bytes, b->link.bytes, static_cast<size_t>(a->length)) == 0;
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

}  // namespace

const ExprNode* SimplifyLoops(const ExprNode* program, std::vector<ExprNode>& storage) {
    int32_t highestIndex = 0;
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        highestIndex = std::max(highestIndex, n->index);
    }
    std::vector<char> removed(static_cast<size_t>(highestIndex) + 1, 0);
    bool changed = false;
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
    for (const ExprNode* n = program; n != nullptr; n = n->next) {
        nodes.push_back(n);
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
    storage.assign(nodes.size(), ExprNode{});
    for (size_t i = 0; i < nodes.size(); ++i) {
        copyOf[static_cast<size_t>(nodes[i]->index)] = &storage[i];
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        const ExprNode* from = nodes[i];
        ExprNode& to = storage[i];
        to.op = from->op;
        to.length = from->length;
        to.mode = from->mode;
        to.index = static_cast<int32_t>(i);
        to.prev = i > 0 ? &storage[i - 1] : nullptr;
        to.next = i + 1 < nodes.size() ? &storage[i + 1] : nullptr;
        if (HasNodeLink(from->op)) {
            to.link.node = from->link.node != nullptr
                               ? copyOf[static_cast<size_t>(from->link.node->index)]
                               : nullptr;
        } else {
            to.link = from->link;
        }
    }
    return storage.data();
}

}  // namespace quarry
