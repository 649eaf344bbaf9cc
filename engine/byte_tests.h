// The single-byte tests of the consuming nodes other than literals, shared by
// the matcher and the program analysis.
#pragma once

#include "engine/escapes.h"
#include "engine/expr_node.h"

namespace quarry::detail {

inline bool MatchesByte(const ExprNode* node, unsigned char b) {
    switch (node->op) {
        case ANY:
            return true;
        case ANYOF:
            return SetHas(node->link.bytes, b);
        case ANYBUT:
            return !SetHas(node->link.bytes, b);
        case SPACE:
            return IsSpaceByte(b);
        case NSPACE:
            return !IsSpaceByte(b);
        case UPPER:
            return b >= 'A' && b <= 'Z';
        case LOWER:
            return b >= 'a' && b <= 'z';
        case DIGIT:
            return IsAsciiDigit(b);
        case NDIGIT:
            return !IsAsciiDigit(b);
        case ALNUM:
            return IsWordByte(b);
        case NALNUM:
            return !IsWordByte(b);
    }
    return false;
}

}  // namespace quarry::detail
