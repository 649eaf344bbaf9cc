#include "reference_matcher.h"

#include <algorithm>

namespace quarry::test {

namespace {

bool IsLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsWordByte(unsigned char c) {
    return IsLetter(c) || IsDigit(c);
}
bool IsSpaceByte(unsigned char c) {
    return c == 9 || c == 10 || c == 13 || c == 32;
}
unsigned char Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

bool ReferenceMatcher::SameByte(unsigned char a, unsigned char b) const {
    return (caseSensitive_ & 1) ? a == b : Upper(a) == Upper(b);
}

int ReferenceMatcher::Exec(const ExprNode* program, const unsigned char* text, int32_t length,
                           const unsigned char* from, int32_t* groups, int caseSensitive,
                           int32_t searchLimit, const MatchCallbacks& callbacks) {
    searchLimit_ = searchLimit;
    callbacks_ = callbacks;
    lastPercent_ = 0;
    walks_ = 0;
    if (program == nullptr) {
        return 0;
    }
    textStart_ = text;
    groups_ = groups;
    inputEnd_ = text + length;
    caseSensitive_ = caseSensitive;
    std::fill_n(groups_, kGroupSlots, -1);

    if (program->op == BOL) {
        return TryAt(program, from);
    }

    if (program->op != EXACTLY) {
        const unsigned char* s = from;
        if (TryAt(program, s)) {
            return 1;
        }
        for (;;) {
            if (s >= inputEnd_) {
                return 0;
            }
            ++s;
            if (callbacks_.cancelPoll != nullptr && !callbacks_.cancelPoll(callbacks_.user)) {
                return 0;
            }
            if (TryAt(program, s)) {
                return 1;
            }
        }
    }

    // The program starts with a literal: only positions holding it are tried.
    const unsigned char c = program->link.bytes[0];
    const unsigned char* s = from;
    if (s == inputEnd_) {
        return 0;
    }
    for (;;) {
        if (callbacks_.cancelPoll != nullptr && !callbacks_.cancelPoll(callbacks_.user)) {
            return 0;
        }
        while (s < inputEnd_ && !SameByte(*s, c)) {
            ++s;
        }
        if (s >= inputEnd_) {
            return 0;
        }
        if (TryAt(program, s)) {
            return 1;
        }
        ++s;
        if (s == inputEnd_) {
            return 0;
        }
    }
}

int ReferenceMatcher::TryAt(const ExprNode* program, const unsigned char* s) {
    if (callbacks_.progress != nullptr && inputEnd_ != textStart_) {
        const double scaled = static_cast<double>(s - textStart_) /
                              static_cast<double>(inputEnd_ - textStart_) * 100.0;
        const int percent = static_cast<int>(scaled);
        if (percent > lastPercent_) {
            lastPercent_ = percent;
            callbacks_.progress(callbacks_.user, percent);
        }
    }
    const unsigned char* savedEnd = inputEnd_;
    if (searchLimit_ >= 0 && searchLimit_ < inputEnd_ - s) {
        inputEnd_ = s + searchLimit_;
    }
    const int savedCase = caseSensitive_;
    pos_ = s;
    std::fill_n(groups_, kGroupSlots, -1);
    attemptFailed_ = false;
    path_.clear();
    if (!MatchHere(program)) {
        caseSensitive_ = savedCase;
        inputEnd_ = savedEnd;
        return 0;
    }
    groups_[0] = static_cast<int32_t>(s - textStart_);
    groups_[kGroupSlots / 2] = static_cast<int32_t>(pos_ - textStart_);
    return 1;
}

// Loop passes recorded by a walk belong to that walk: they leave the path
// when it returns.
int ReferenceMatcher::MatchHere(const ExprNode* node) {
    if (walkBudget > 0 && ++walks_ > walkBudget) {
        return 0;  // out of budget: every walk fails from here on
    }
    const size_t mark = path_.size();
    const int result = Walk(node);
    path_.resize(mark);
    return result;
}

int ReferenceMatcher::Walk(const ExprNode* node) {
    for (;;) {
        if (node == nullptr) {
            return 0;
        }
        const int16_t op = node->op;

        if (IsOperator(op)) {
            if (IsLoop(op)) {
                // A loop met again at the same position with the same case
                // would repeat the pass that is still under way.
                const int caseBit = caseSensitive_ & 1;
                for (const LoopPass& pass : path_) {
                    if (pass.loop == node && pass.pos == pos_ && pass.caseBit == caseBit) {
                        return 0;
                    }
                }
                path_.push_back({node, pos_, caseBit});
            }
            const int savedCase = caseSensitive_;
            const unsigned char* savedPos = pos_;
            if (IsGreedyOperator(op)) {
                if (MatchHere(node->next)) {
                    return 1;
                }
                if (attemptFailed_) {
                    return 0;
                }
                caseSensitive_ = savedCase;
                pos_ = savedPos;
                node = node->link.node;
            } else {
                if (MatchHere(node->link.node)) {
                    return 1;
                }
                if (attemptFailed_) {
                    return 0;
                }
                caseSensitive_ = savedCase;
                pos_ = savedPos;
                node = node->next;
            }
            continue;
        }

        if (IsCapturing(op)) {
            const int group = GroupNumber(op);
            const int slot = IsOpeningBracket(op) ? group : kGroupSlots / 2 + group;
            const int savedCase = caseSensitive_;
            const unsigned char* p = pos_;
            if (!MatchHere(node->next)) {
                caseSensitive_ = savedCase;
                groups_[slot] = -1;
                return 0;
            }
            groups_[slot] = static_cast<int32_t>(p - textStart_);
            return 1;
        }

        switch (op) {
            case JUMP:
                node = node->link.node;
                continue;
            case BRANCHEND: {
                // Skip the right alternative: one atom after the BRANCH's own
                // NOTHING, passing over further bars of a chain.
                const ExprNode* nothing = node->link.node->link.node;
                const ExprNode* r = nothing->next;
                if (r == nullptr) {
                    node = nothing;
                    continue;
                }
                while (IsOperator(r->op) && (r->op & 0xFF) == '|' && r->link.node != nullptr) {
                    r = r->link.node->next;
                    if (r == nullptr) {
                        return 0;
                    }
                }
                if (IsClosingBracket(r->op)) {
                    attemptFailed_ = true;
                    return 0;
                }
                if (IsOpeningBracket(r->op)) {
                    int depth = 1;
                    const ExprNode* q = r->next;
                    for (; q != nullptr; q = q->next) {
                        if (IsOpeningBracket(q->op)) {
                            ++depth;
                        } else if (IsClosingBracket(q->op)) {
                            --depth;
                        }
                        if (depth == 0) {
                            break;
                        }
                    }
                    if (q == nullptr) {
                        return 0;
                    }
                    r = q;
                }
                node = r->next;
                continue;
            }
            case BOL:
                if (pos_ != textStart_) {
                    return 0;
                }
                break;
            case EOL:
                if (pos_ != inputEnd_) {
                    return 0;
                }
                break;
            case WORDSTART:
                if (pos_ >= inputEnd_) {
                    return 0;
                }
                if (pos_ != textStart_ && !(IsWordByte(*pos_) && !IsWordByte(pos_[-1]))) {
                    return 0;
                }
                break;
            case WORDEND:
                if (pos_ == textStart_) {
                    return 0;
                }
                if (pos_ < inputEnd_ && !(!IsWordByte(*pos_) && IsWordByte(pos_[-1]))) {
                    return 0;
                }
                break;
            case CASEON:
                caseSensitive_ |= 1;
                break;
            case CASEOFF:
                caseSensitive_ &= ~1;
                break;
            case END:
                return 1;
            case ANY:
                if (pos_ >= inputEnd_) {
                    return 0;
                }
                ++pos_;
                break;
            case ANYOF:
            case ANYBUT:
                if (pos_ >= inputEnd_ || SetHas(node->link.bytes, *pos_) != (op == ANYOF)) {
                    return 0;
                }
                ++pos_;
                break;
            case EXACTLY:
                if (pos_ >= inputEnd_ || inputEnd_ - pos_ < node->length) {
                    return 0;
                }
                for (int i = 0; i < node->length; ++i) {
                    if (!SameByte(pos_[i], node->link.bytes[i])) {
                        return 0;
                    }
                }
                pos_ += node->length;
                break;
            case SPACE:
            case NSPACE:
                if (pos_ >= inputEnd_ || IsSpaceByte(*pos_) != (op == SPACE)) {
                    return 0;
                }
                ++pos_;
                break;
            case UPPER:
                if (pos_ >= inputEnd_ || !(*pos_ >= 'A' && *pos_ <= 'Z')) {
                    return 0;
                }
                ++pos_;
                break;
            case LOWER:
                if (pos_ >= inputEnd_ || !(*pos_ >= 'a' && *pos_ <= 'z')) {
                    return 0;
                }
                ++pos_;
                break;
            case DIGIT:
            case NDIGIT:
                if (pos_ >= inputEnd_ || IsDigit(*pos_) != (op == DIGIT)) {
                    return 0;
                }
                ++pos_;
                break;
            case ALNUM:
            case NALNUM:
                if (pos_ >= inputEnd_ || IsWordByte(*pos_) != (op == ALNUM)) {
                    return 0;
                }
                ++pos_;
                break;
            default:
                // NOTHING, GROUPOPEN, GROUPCLOSE and anything else: go on.
                break;
        }
        node = node->next;
    }
}

}  // namespace quarry::test
