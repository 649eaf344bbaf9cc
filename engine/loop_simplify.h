#pragma once

#include <vector>

#include "engine/expr_node.h"

namespace quarry {

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
// The copy's nodes live in `storage`; they share the original's operand
// bytes, so the original must outlive it.
const ExprNode* SimplifyLoops(const ExprNode* program, std::vector<ExprNode>& storage);

}  // namespace quarry
