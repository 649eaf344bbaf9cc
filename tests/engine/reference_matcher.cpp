#include "reference_matcher.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>

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

// Character mode, written independently of the engine's decoder and tables:
// a sequence is read by its lead byte's announced length and then checked
// for the overlong forms, surrogates and values past U+10FFFF.
constexpr uint32_t kStray = 0x110000;

int SequenceLength(const unsigned char* p, const unsigned char* end, uint32_t& value) {
    const unsigned char b = *p;
    int n = 0;
    uint32_t v = 0;
    if (b < 0x80) {
        value = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2;
        v = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3;
        v = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4;
        v = b & 0x07;
    } else {
        value = kStray + b;
        return 1;
    }
    if (end - p < n) {
        value = kStray + b;
        return 1;
    }
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            value = kStray + b;
            return 1;
        }
        v = (v << 6) | (p[i] & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
        value = kStray + b;
        return 1;
    }
    value = v;
    return n;
}

bool Has(uint32_t c, int8_t category) {
    return c < kStray && u_charType(static_cast<UChar32>(c)) == category;
}
bool IsWordChar(uint32_t c) {
    if (c >= kStray) {
        return false;
    }
    const int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_UPPERCASE_LETTER || t == U_LOWERCASE_LETTER || t == U_TITLECASE_LETTER ||
           t == U_MODIFIER_LETTER || t == U_OTHER_LETTER || t == U_DECIMAL_DIGIT_NUMBER;
}
bool IsSpaceChar(uint32_t c) {
    return c < kStray && u_isUWhiteSpace(static_cast<UChar32>(c));
}
uint32_t FoldChar(uint32_t c) {
    return c < kStray ? static_cast<uint32_t>(u_foldCase(static_cast<UChar32>(c), 0)) : c;
}

uint32_t Word(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// A class operand of character mode: values below 256 in the byte set,
// then the set escapes' properties and the ranges.
bool ClassContains(const unsigned char* cls, uint32_t c) {
    if (c < 256) {
        return SetHas(cls, static_cast<unsigned char>(c));
    }
    const unsigned char props = cls[32];
    if (((props & 1) && IsSpaceChar(c)) || ((props & 2) && !IsSpaceChar(c)) ||
        ((props & 4) && IsWordChar(c)) || ((props & 8) && !IsWordChar(c)) ||
        ((props & 16) && Has(c, U_UPPERCASE_LETTER)) ||
        ((props & 32) && Has(c, U_LOWERCASE_LETTER))) {
        return true;
    }
    const uint32_t count = Word(cls + 36);
    for (uint32_t i = 0; i < count; ++i) {
        if (c >= Word(cls + 40 + i * 8) && c <= Word(cls + 44 + i * 8)) {
            return true;
        }
    }
    return false;
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
    charStart_.clear();
    if (program->mode == TextMode::kUtf8) {
        charStart_.assign(static_cast<size_t>(length) + 1, false);
        for (int32_t i = 0; i < length;) {
            charStart_[static_cast<size_t>(i)] = true;
            uint32_t value = 0;
            i += SequenceLength(text + i, text + length, value);
        }
        charStart_[static_cast<size_t>(length)] = true;
        if (!IsStart(from)) {
            from = NextStart(from);
        }
    }

    if (program->op == BOL) {
        return TryAt(program, from);
    }

    if (CharMode() && program->op == UEXACTLY) {
        // Only positions holding the literal character are tried.
        uint32_t literal = 0;
        SequenceLength(program->link.bytes, program->link.bytes + program->length, literal);
        const unsigned char* s = from;
        if (s == inputEnd_) {
            return 0;
        }
        for (;;) {
            if (callbacks_.cancelPoll != nullptr && !callbacks_.cancelPoll(callbacks_.user)) {
                return 0;
            }
            while (s < inputEnd_ && !SameChar(CharAt(s), literal)) {
                s = NextStart(s);
            }
            if (s >= inputEnd_) {
                return 0;
            }
            if (TryAt(program, s)) {
                return 1;
            }
            s = NextStart(s);
            if (s == inputEnd_) {
                return 0;
            }
        }
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
            s = CharMode() ? NextStart(s) : s + 1;
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
        while (s < inputEnd_ && (!SameByte(*s, c) || (CharMode() && !IsStart(s)))) {
            ++s;
        }
        if (s >= inputEnd_) {
            return 0;
        }
        if (TryAt(program, s)) {
            return 1;
        }
        s = CharMode() ? NextStart(s) : s + 1;
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
        if (CharMode()) {
            inputEnd_ = StartAtOrBefore(inputEnd_);
        }
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
            case UWORDSTART:
                if (pos_ >= inputEnd_) {
                    return 0;
                }
                if (pos_ != textStart_ &&
                    !(IsWordChar(CharAt(pos_)) && !IsWordChar(CharAt(StartAtOrBefore(pos_ - 1))))) {
                    return 0;
                }
                break;
            case UWORDEND:
                if (pos_ == textStart_) {
                    return 0;
                }
                if (pos_ < inputEnd_ &&
                    !(!IsWordChar(CharAt(pos_)) && IsWordChar(CharAt(StartAtOrBefore(pos_ - 1))))) {
                    return 0;
                }
                break;
            default:
                if (IsCharTest(op)) {
                    if (!WalkCharTest(node)) {
                        return 0;
                    }
                }
                // NOTHING, GROUPOPEN, GROUPCLOSE and anything else: go on.
                break;
        }
        node = node->next;
    }
}

const unsigned char* ReferenceMatcher::CharStartAtOrAfter(const unsigned char* text, int32_t length,
                                                          const unsigned char* p) {
    const unsigned char* q = text;
    while (q < p) {
        uint32_t value = 0;
        q += SequenceLength(q, text + length, value);
    }
    return q;
}

bool ReferenceMatcher::IsStart(const unsigned char* p) const {
    return charStart_[static_cast<size_t>(p - textStart_)];
}

const unsigned char* ReferenceMatcher::NextStart(const unsigned char* p) const {
    do {
        ++p;
    } while (!IsStart(p));
    return p;
}

const unsigned char* ReferenceMatcher::StartAtOrBefore(const unsigned char* p) const {
    while (!IsStart(p)) {
        --p;
    }
    return p;
}

uint32_t ReferenceMatcher::CharAt(const unsigned char* p) const {
    uint32_t value = 0;
    const unsigned char* end = textStart_ + static_cast<std::ptrdiff_t>(charStart_.size() - 1);
    SequenceLength(p, end, value);
    return value;
}

bool ReferenceMatcher::SameChar(uint32_t a, uint32_t b) const {
    return a == b || (!(caseSensitive_ & 1) && FoldChar(a) == FoldChar(b));
}

bool ReferenceMatcher::WalkCharTest(const ExprNode* node) {
    if (pos_ >= inputEnd_) {
        return false;
    }
    const uint32_t c = CharAt(pos_);
    bool pass = false;
    switch (node->op) {
        case UANY:
            pass = true;
            break;
        case UANYOF:
        case UANYBUT:
            pass = ClassContains(node->link.bytes, c) == (node->op == UANYOF);
            break;
        case UEXACTLY: {
            uint32_t literal = 0;
            SequenceLength(node->link.bytes, node->link.bytes + node->length, literal);
            pass = SameChar(c, literal);
            break;
        }
        case USPACE:
        case UNSPACE:
            pass = IsSpaceChar(c) == (node->op == USPACE);
            break;
        case UUPPER:
            pass = Has(c, U_UPPERCASE_LETTER);
            break;
        case ULOWER:
            pass = Has(c, U_LOWERCASE_LETTER);
            break;
        case UNDIGIT:
            pass = !(c >= '0' && c <= '9');
            break;
        case UALNUM:
        case UNALNUM:
            pass = IsWordChar(c) == (node->op == UALNUM);
            break;
    }
    if (pass) {
        pos_ = NextStart(pos_);
    }
    return pass;
}

}  // namespace quarry::test
