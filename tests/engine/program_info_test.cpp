// The program analysis builds its per-node tables in one pass over the
// program. Former fault: it walked from every node on its own (the skip of
// every bar along a whole chain «a|a|…», the reach of every node through all
// later optional atoms), so an 80 KB expression of 40,000 bars took 44 s to
// analyse, on the desktop's UI thread. Here each table is checked against
// the direct walk from each node, on random and on long programs.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/program_info.h"
#include "test_support.h"

namespace quarry {
namespace {

using test::Program;

std::vector<const ExprNode*> Nodes(const ExprNode* program) {
    std::vector<const ExprNode*> nodes;
    for (const ExprNode* n = program; n; n = n->next) {
        nodes.push_back(n);
    }
    return nodes;
}

bool IsBar(const ExprNode* r) {
    return r != nullptr && IsOperator(r->op) && (r->op & 0xFF) == '|' && r->link.node;
}

// The skip after a left alternative, walked from its BRANCHEND.
ProgramInfo::BranchSkip DirectSkip(const ExprNode* branchEnd) {
    const ExprNode* r = branchEnd->link.node->link.node->next;
    while (IsBar(r)) {
        r = r->link.node->next;
    }
    if (r != nullptr && IsClosingBracket(r->op)) {
        return {nullptr, true};
    }
    if (r != nullptr && IsOpeningBracket(r->op)) {
        int depth = 1;
        for (r = r->next; r; r = r->next) {
            if (IsOpeningBracket(r->op)) {
                ++depth;
            } else if (IsClosingBracket(r->op) && --depth == 0) {
                break;
            }
        }
    }
    return {r == nullptr ? nullptr : r->next, false};
}

// Where a walk goes on without consuming, with the skips just checked.
std::vector<const ExprNode*> Successors(const ExprNode* n) {
    if (IsConsuming(n->op) || n->op == END) {
        return {};
    }
    std::vector<const ExprNode*> out;
    if (n->op == JUMP) {
        out = {n->link.node};
    } else if (n->op == BRANCHEND) {
        out = {DirectSkip(n).next};
    } else if (IsOperator(n->op)) {
        out = {n->next, n->link.node};
    } else {
        out = {n->next};
    }
    out.erase(std::remove(out.begin(), out.end(), nullptr), out.end());
    return out;
}

std::set<const ExprNode*> Reach(const ExprNode* from) {
    std::set<const ExprNode*> seen;
    std::vector<const ExprNode*> pending = {from};
    while (!pending.empty()) {
        const ExprNode* n = pending.back();
        pending.pop_back();
        if (!seen.insert(n).second) {
            continue;
        }
        for (const ExprNode* s : Successors(n)) {
            pending.push_back(s);
        }
    }
    return seen;
}

const ExprNode* DirectFirstTest(const ExprNode* n, size_t count) {
    const ExprNode* t = n;
    for (size_t steps = 0; t != nullptr && steps <= count; ++steps) {
        if (t->op == NOTHING || IsBracket(t->op)) {
            t = t->next;
        } else if (t->op == JUMP) {
            t = t->link.node;
        } else {
            break;
        }
    }
    return t != nullptr && IsConsuming(t->op) ? t : nullptr;
}

void CheckTables(const std::string& expression) {
    SCOPED_TRACE(expression);
    Program program(expression);
    ASSERT_TRUE(program);
    const ProgramInfo info = AnalyseProgram(program.get());
    const std::vector<const ExprNode*> nodes = Nodes(info.program);
    std::vector<std::set<const ExprNode*>> reach;
    for (const ExprNode* n : nodes) {
        reach.push_back(Reach(n));
    }
    for (const ExprNode* n : nodes) {
        const auto i = static_cast<size_t>(n->index);
        ASSERT_EQ(info.firstTest[i], DirectFirstTest(n, nodes.size())) << "node " << i;
        if (n->op == BRANCHEND) {
            const ProgramInfo::BranchSkip direct = DirectSkip(n);
            EXPECT_EQ(info.branchSkip[i].next, direct.next) << "node " << i;
            EXPECT_EQ(info.branchSkip[i].attemptFails, direct.attemptFails) << "node " << i;
        }
        // The key holds exactly the loops the walk came from and can reach
        // again without consuming.
        std::vector<int32_t> expected;
        bool cycle = false;  // some other node leads back to n
        for (const ExprNode* m : nodes) {
            if (m == n || reach[i].count(m) == 0 ||
                reach[static_cast<size_t>(m->index)].count(n) == 0) {
                continue;
            }
            cycle = true;
            if (IsLoop(m->op)) {
                expected.push_back(m->index * 2);
                expected.push_back(m->index * 2 + 1);
            }
        }
        if (IsLoop(n->op) && cycle) {
            expected.push_back(n->index * 2);
            expected.push_back(n->index * 2 + 1);
        }
        std::sort(expected.begin(), expected.end());
        std::vector<int32_t> actual;
        if (info.loopGroup[i] >= 0) {
            actual = info.loopGroupSlots[static_cast<size_t>(info.loopGroup[i])];
            std::sort(actual.begin(), actual.end());
        }
        EXPECT_EQ(actual, expected) << "node " << i;
    }
}

TEST(ProgramAnalysis, TablesAgreeWithTheWalkFromEachNode) {
    const std::vector<std::string> pieces = {
        "a",     "b",       "(a)",     "{ab}",    "{a|}",  "(a?)", "{a*}", "{\\c|a}", "[ab]",
        "\\C",   "$",       "a*",      "a+",      "a?",    "a@",   "a#",   "a|",      "{a|b}*",
        "(a*)+", "{a?b?}*", "{{a}|b}", "{a*|b}#", "{a|}*", "<",    "^"};
    std::mt19937 random(20261208);
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string expression;
        const int count = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < count; ++k) {
            expression += pieces[random() % pieces.size()];
        }
        Program program(expression);
        if (!program) {
            continue;
        }
        CheckTables(expression);
        ++checked;
        if (testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_GT(checked, 2000);
}

TEST(ProgramAnalysis, LongChainsAndNestings) {
    auto repeated = [](const std::string& piece, int count) {
        std::string s;
        for (int i = 0; i < count; ++i) {
            s += piece;
        }
        return s;
    };
    CheckTables(repeated("a|", 300));
    CheckTables(repeated("a|b|", 100) + "c");
    CheckTables(repeated("a?", 300));
    CheckTables(repeated("{a*}*", 60) + "[!]");
    CheckTables(repeated("{", 200) + "a" + repeated("}", 200));
    CheckTables("{" + repeated("{a|b}|", 50) + "c}*d");
}

}  // namespace
}  // namespace quarry
