#pragma once

#include <vector>

#include "engine/expr_node.h"

namespace quarry {

// The nodes of a simpler copy, and the operand bytes of the tests it made.
struct SimplifiedProgram {
    std::vector<ExprNode> nodes;
    std::vector<std::vector<unsigned char>> operands;
    // A test was made from literals whose bytes depend on the case option
    // the copy was made for.
    bool caseBound = false;
};

// A copy of `program` with loops a walk cannot tell apart from a simpler
// one taken out, or `program` itself when there are none:
// - «{x*}*», a greedy loop over a group that captures nothing and holds only
//   a greedy loop over one test, walks as «x*»;
// - «x*x*», two greedy loops over the same test in a row, walks as «x*»;
//   so does «x*(x*)*», and «(x*)*(x*)*» as «(x*)*».
// Each tries its continuation at the same places as the simpler program, the
// furthest first (the others only again), and a loop left out would match
// nothing in the first matching found, its group never entered; so that
// matching and its groups are the same. A row of such loops otherwise costs
// a walk and a memo entry per loop and place.
// - «(a|b|[0-9])+», a loop over a group whose every pass takes one character
//   by one of several tests, walks as «(x)x*» with x the one test that takes
//   what any of them takes («{a|b}+» as «x+», «(a|b)*» as «{(x)x*}?»). The
//   passes try their continuation at the same places as before, and the
//   group, written as a successful walk unwinds, holds the first pass. A
//   loop over one test walks without nesting a call per pass.
//   Literals take letters of both cases when the case option is off: with
//   `caseOption` 0 or 1 the test is made for that option (the copy then says
//   caseBound), with -1 only from tests that do not depend on it. A loop
//   that a walk can reach after «\C» or «\c» is made as with -1.
// - «(\w\w)+», a greedy loop over a capturing group that holds a row of
//   copies of one test, walks as «(\w\w){\w\w}*» («(\w\w)*» as
//   «{(\w\w){\w\w}*}?») for the same reason; the matcher then takes the
//   passes of the loop left over as rows of the test's run.
// The copy's nodes live in `storage`; they share the original's operand
// bytes, so the original must outlive it.
// Whether two consuming nodes make the same test.
bool SameTest(const ExprNode* a, const ExprNode* b);

const ExprNode* SimplifyLoops(const ExprNode* program, SimplifiedProgram& storage,
                              int caseOption = -1);

}  // namespace quarry
