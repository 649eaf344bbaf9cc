// The expression compiler. Its external interface is CompileExpression,
// FreeExpression and DumpExpression; the list builder and the parsing helpers
// below are private to this file.
//
// Nested groups are parsed without recursion: the program is one flat list,
// and a stack of the brackets still open marks where each nested sequence
// begins. Deeply nested input therefore cannot exhaust the stack here.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "engine/char_tests.h"
#include "engine/escapes.h"
#include "engine/expr_node.h"
#include "engine/syntax.h"
#include "engine/unicode.h"

namespace quarry {
namespace {

using detail::ParseNumericEscape;

// A bracket whose group is still being parsed.
struct OpenBracket {
    ExprNode* node;
    int16_t closeOp;  // CLOSE n or GROUPCLOSE, chosen by the opening bracket
};

class ListBuilder {
  public:
    ~ListBuilder() { FreeExpression(first_); }

    ExprNode* first() const { return first_; }
    ExprNode* last() const { return last_; }

    explicit ListBuilder(TextMode mode) : mode_(mode) {}

    ExprNode* Append(int16_t op) {
        ExprNode* n = NewNode(op);
        if (n) {
            n->prev = last_;
            (last_ ? last_->next : first_) = n;
            last_ = n;
        }
        return n;
    }

    ExprNode* InsertBefore(ExprNode* x, int16_t op) {
        ExprNode* n = NewNode(op);
        if (n) {
            n->prev = x->prev;
            n->next = x;
            (x->prev ? x->prev->next : first_) = n;
            x->prev = n;
        }
        return n;
    }

    // Records why the expression is rejected (the first reason found stands)
    // and returns false, for the parsers to return.
    bool Fail(CompileStatus why) {
        if (status_ == CompileStatus::kOk) {
            status_ = why;
        }
        return false;
    }
    CompileStatus status() const { return status_; }

    // Hands the finished list to the caller.
    ExprNode* Release() {
        ExprNode* f = first_;
        first_ = last_ = nullptr;
        return f;
    }

  private:
    ExprNode* NewNode(int16_t op) {
        ExprNode* n = new (std::nothrow) ExprNode{};
        if (n) {
            n->op = op;
            n->mode = mode_;
        } else {
            Fail(CompileStatus::kNoMemory);
        }
        return n;
    }

    TextMode mode_;
    CompileStatus status_ = CompileStatus::kOk;
    ExprNode* first_ = nullptr;
    ExprNode* last_ = nullptr;
};

bool AppendOperand(ListBuilder& list, int16_t op, const unsigned char* bytes, int16_t length) {
    unsigned char* copy = new (std::nothrow) unsigned char[length];
    if (!copy) {
        return list.Fail(CompileStatus::kNoMemory);
    }
    std::memcpy(copy, bytes, length);
    ExprNode* n = list.Append(op);
    if (!n) {
        delete[] copy;
        return false;
    }
    n->length = length;
    n->link.bytes = copy;
    return true;
}

bool AppendLiteral(ListBuilder& list, unsigned char c) {
    return AppendOperand(list, EXACTLY, &c, 1);
}

// The byte sets of the set escapes, as they are added to classes.
void AddSetEscape(unsigned char* set, unsigned char letter) {
    for (int b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        bool member = false;
        switch (letter) {
            case 's':
                member = detail::IsSpaceByte(c);
                break;
            case 'S':
                member = !detail::IsSpaceByte(c);
                break;
            case 'd':
                member = detail::IsAsciiDigit(c);
                break;
            case 'D':
                member = !detail::IsAsciiDigit(c);
                break;
            case 'w':
                member = detail::IsWordByte(c);
                break;
            case 'W':
                member = !detail::IsWordByte(c);
                break;
            case 'U':
                member = c >= 'A' && c <= 'Z';
                break;
            case 'L':
                member = c >= 'a' && c <= 'z';
                break;
        }
        if (member) {
            set[c >> 3] |= static_cast<unsigned char>(1u << (c & 7));
        }
    }
}

bool IsSetEscape(unsigned char c) {
    return syntax::EscapeOf(c).kind == syntax::EscapeKind::kSet;
}

// A single-byte escape («\n», «\x41», ...). Returns 1 with the byte, 0 when the
// letter is not one of them, -1 for a bad numeric escape.
int ParseByteEscape(const unsigned char*& p, unsigned char letter, unsigned char& out) {
    const syntax::Escape e = syntax::EscapeOf(letter);
    if (e.kind == syntax::EscapeKind::kByte) {
        out = e.byte;
        return 1;
    }
    if (e.kind == syntax::EscapeKind::kNumeric) {
        return ParseNumericEscape(p, e.digits, e.base, out) ? 1 : -1;
    }
    return 0;
}

// Parses the members after «[» up to and including «]».
bool ParseClass(const unsigned char*& p, ListBuilder& list) {
    bool negated = false;
    if (*p == '^') {
        negated = true;
        ++p;
    }
    unsigned char set[kSetBytes] = {};
    bool rangePending = false;
    unsigned char rangeStart = 0;
    for (;;) {
        unsigned char c = *p;
        if (c == 0) {
            return list.Fail(CompileStatus::kUnclosedClass);
        }
        ++p;
        if (c == ']') {
            if (rangePending) {
                return list.Fail(CompileStatus::kBadRange);
            }
            break;
        }
        if (c == '\\') {
            const unsigned char letter = *p;
            if (letter == 0) {
                return list.Fail(CompileStatus::kUnclosedClass);
            }
            ++p;
            if (IsSetEscape(letter)) {
                AddSetEscape(set, letter);  // a pending range stays pending
                continue;
            }
            const int r = ParseByteEscape(p, letter, c);
            if (r < 0) {
                return list.Fail(CompileStatus::kBadNumericEscape);
            }
            if (r == 0) {
                c = letter;
            }
        }
        if (rangePending) {
            if (c < rangeStart) {
                return list.Fail(CompileStatus::kBadRange);
            }
            for (int b = rangeStart; b <= c; ++b) {
                set[b >> 3] |= static_cast<unsigned char>(1u << (b & 7));
            }
            rangePending = false;
        } else if (*p == '-') {
            ++p;
            rangePending = true;
            rangeStart = c;
        } else {
            set[c >> 3] |= static_cast<unsigned char>(1u << (c & 7));
        }
    }
    return AppendOperand(list, negated ? ANYBUT : ANYOF, set, kSetBytes);
}

// Parses the escape after «\» outside classes.
bool ParseEscape(const unsigned char*& p, ListBuilder& list) {
    const unsigned char letter = *p;
    if (letter == 0) {
        return list.Fail(CompileStatus::kTrailingBackslash);
    }
    ++p;
    int16_t op = -1;
    switch (letter) {
        case 's':
            op = SPACE;
            break;
        case 'S':
            op = NSPACE;
            break;
        case 'd':
            op = DIGIT;
            break;
        case 'D':
            op = NDIGIT;
            break;
        case 'w':
            op = ALNUM;
            break;
        case 'W':
            op = NALNUM;
            break;
        case 'U':
            op = UPPER;
            break;
        case 'L':
            op = LOWER;
            break;
        case 'C':
            op = CASEON;
            break;
        case 'c':
            op = CASEOFF;
            break;
    }
    if (op >= 0) {
        return list.Append(op) != nullptr;
    }
    unsigned char byte = letter;
    if (ParseByteEscape(p, letter, byte) < 0) {
        return list.Fail(CompileStatus::kBadNumericEscape);
    }
    return AppendLiteral(list, byte);
}

// --- character mode ---

// Whether an ASCII character matches only ASCII characters without case, so
// that the byte literal (compared with ASCII folding) serves for it. «k» and
// «s» do not: the Kelvin sign and the long s fold to them.
bool FoldsWithinAscii(char32_t c) {
    for (char32_t partner : unicode::FoldPartners(c)) {
        if (partner >= 0x80) {
            return false;
        }
    }
    return true;
}

bool AppendChar(ListBuilder& list, char32_t c) {
    if (c < 0x80 && FoldsWithinAscii(c)) {
        return AppendLiteral(list, static_cast<unsigned char>(c));
    }
    unsigned char bytes[4];
    const int n = unicode::Encode(c, bytes);
    return AppendOperand(list, UEXACTLY, bytes, static_cast<int16_t>(n));
}

// The character at p in the expression text (which ends at its zero byte),
// stepping past it.
char32_t TakeChar(const unsigned char*& p) {
    const unsigned char* end = p + std::strlen(reinterpret_cast<const char*>(p));
    int length = 1;
    const char32_t c = unicode::Decode(p, end, length);
    p += length;
    return c;
}

// A class of character mode while it is parsed.
struct CharClassBuilder {
    unsigned char low[kSetBytes] = {};  // values 0 to 255
    uint8_t props = 0;
    std::vector<std::pair<char32_t, char32_t>> ranges;  // values from 256 on

    void Add(char32_t first, char32_t last) {
        for (char32_t c = first; c <= last && c < 256; ++c) {
            low[c >> 3] |= static_cast<unsigned char>(1u << (c & 7));
        }
        if (last >= 256) {
            ranges.emplace_back(std::max<char32_t>(first, 256), last);
        }
    }

    void AddSetEscape(unsigned char letter) {
        for (char32_t c = 0; c < 256; ++c) {
            const uint8_t f = unicode::Flags(c);
            bool member = false;
            switch (letter) {
                case 's':
                    member = f & unicode::kSpace;
                    break;
                case 'S':
                    member = !(f & unicode::kSpace);
                    break;
                case 'd':
                    member = detail::IsAsciiDigitValue(c);
                    break;
                case 'D':
                    member = !detail::IsAsciiDigitValue(c);
                    break;
                case 'w':
                    member = f & unicode::kAlnum;
                    break;
                case 'W':
                    member = !(f & unicode::kAlnum);
                    break;
                case 'U':
                    member = f & unicode::kUpper;
                    break;
                case 'L':
                    member = f & unicode::kLower;
                    break;
            }
            if (member) {
                Add(c, c);
            }
        }
        switch (letter) {
            case 's':
                props |= detail::kClassSpace;
                break;
            case 'S':
                props |= detail::kClassNotSpace;
                break;
            case 'D':
                Add(256, unicode::kCharLimit - 1);  // no digit lies above ASCII
                break;
            case 'w':
                props |= detail::kClassAlnum;
                break;
            case 'W':
                props |= detail::kClassNotAlnum;
                break;
            case 'U':
                props |= detail::kClassUpper;
                break;
            case 'L':
                props |= detail::kClassLower;
                break;
        }
    }

    // Whether the class takes ASCII characters only: then a byte set does.
    bool AsciiOnly() const {
        if (props != 0 || !ranges.empty()) {
            return false;
        }
        for (int i = 16; i < kSetBytes; ++i) {
            if (low[i] != 0) {
                return false;
            }
        }
        return true;
    }

    bool Append(ListBuilder& list, bool negated) {
        if (!negated && AsciiOnly()) {
            return AppendOperand(list, ANYOF, low, kSetBytes);
        }
        const std::vector<unsigned char> operand = detail::ClassOperand(low, props, ranges);
        if (operand.empty()) {
            return list.Fail(
                CompileStatus::kClassTooLarge);  // beyond what a node's length can tell
        }
        return AppendOperand(list, negated ? UANYBUT : UANYOF, operand.data(),
                             static_cast<int16_t>(operand.size()));
    }
};

// Parses the members after «[» up to and including «]» in character mode:
// members and ranges are characters; the rules are those of byte classes.
bool ParseCharClass(const unsigned char*& p, ListBuilder& list) {
    bool negated = false;
    if (*p == '^') {
        negated = true;
        ++p;
    }
    CharClassBuilder cls;
    bool rangePending = false;
    char32_t rangeStart = 0;
    for (;;) {
        if (*p == 0) {
            return list.Fail(CompileStatus::kUnclosedClass);
        }
        char32_t c = TakeChar(p);
        if (c == ']') {
            if (rangePending) {
                return list.Fail(CompileStatus::kBadRange);
            }
            break;
        }
        if (c == '\\') {
            const unsigned char letter = *p;
            if (letter == 0) {
                return list.Fail(CompileStatus::kUnclosedClass);
            }
            if (IsSetEscape(letter)) {
                ++p;
                cls.AddSetEscape(letter);  // a pending range stays pending
                continue;
            }
            const unsigned char* after = p + 1;
            unsigned char byte = 0;
            const int r = ParseByteEscape(after, letter, byte);
            if (r < 0) {
                return list.Fail(CompileStatus::kBadNumericEscape);
            }
            if (r > 0) {
                p = after;
                c = byte;  // numeric escapes name U+0000 to U+00FF
            } else {
                c = TakeChar(p);
            }
        }
        if (rangePending) {
            if (c < rangeStart) {
                return list.Fail(CompileStatus::kBadRange);
            }
            cls.Add(rangeStart, c);
            rangePending = false;
        } else if (*p == '-') {
            ++p;
            rangePending = true;
            rangeStart = c;
        } else {
            cls.Add(c, c);
        }
    }
    return cls.Append(list, negated);
}

// Parses the escape after «\» outside classes in character mode.
bool ParseCharEscape(const unsigned char*& p, ListBuilder& list) {
    const unsigned char letter = *p;
    if (letter == 0) {
        return list.Fail(CompileStatus::kTrailingBackslash);
    }
    int16_t op = -1;
    switch (letter) {
        case 's':
            op = USPACE;
            break;
        case 'S':
            op = UNSPACE;
            break;
        case 'd':
            op = DIGIT;
            break;
        case 'D':
            op = UNDIGIT;
            break;
        case 'w':
            op = UALNUM;
            break;
        case 'W':
            op = UNALNUM;
            break;
        case 'U':
            op = UUPPER;
            break;
        case 'L':
            op = ULOWER;
            break;
        case 'C':
            op = CASEON;
            break;
        case 'c':
            op = CASEOFF;
            break;
    }
    if (op >= 0) {
        ++p;
        return list.Append(op) != nullptr;
    }
    const unsigned char* after = p + 1;
    unsigned char byte = 0;
    const int r = ParseByteEscape(after, letter, byte);
    if (r < 0) {
        return list.Fail(CompileStatus::kBadNumericEscape);
    }
    if (r > 0) {
        p = after;
        return AppendChar(list, byte);
    }
    return AppendChar(list, TakeChar(p));
}

// Wraps the last atom of the current sequence in the construct of `opChar`.
// `boundary` is the bracket that opened the current sequence (nullptr at the
// top level); the sequence's nodes follow it.
bool ApplyOperator(ListBuilder& list, const ExprNode* boundary, unsigned char opChar) {
    ExprNode* last = list.last();
    if (last == nullptr || last == boundary) {
        return list.Fail(CompileStatus::kMissingOperand);  // nothing before the operator
    }
    ExprNode* first = last;
    if (IsClosingBracket(last->op)) {
        int depth = 1;
        for (first = last->prev; first != boundary; first = first->prev) {
            if (IsClosingBracket(first->op)) {
                ++depth;
            } else if (IsOpeningBracket(first->op) && --depth == 0) {
                break;
            }
        }
        if (first == boundary) {
            return list.Fail(CompileStatus::kMissingOperand);
        }
    }
    const bool loop = opChar == '*' || opChar == '@' || opChar == '+' || opChar == '#';
    if (loop) {
        bool consuming = false;
        for (const ExprNode* n = first; n != last->next && !consuming; n = n->next) {
            consuming = IsConsuming(n->op);
        }
        if (!consuming) {
            return list.Fail(CompileStatus::kLoopOverNothing);
        }
    }

    int16_t op = 0;
    switch (opChar) {
        case '*':
            op = STAR;
            break;
        case '@':
            op = LAZYSTAR;
            break;
        case '+':
            op = PLUS;
            break;
        case '#':
            op = LAZYPLUS;
            break;
        case '?':
            op = QUEST;
            break;
        default:
            op = BRANCH;
            break;
    }
    if (op == PLUS || op == LAZYPLUS) {
        ExprNode* entry = list.InsertBefore(first, JUMP);
        if (!entry) {
            return false;
        }
        entry->link.node = first;
    }
    ExprNode* head = list.InsertBefore(first, op);
    if (!head) {
        return false;
    }
    if (loop) {
        ExprNode* back = list.Append(JUMP);
        if (!back) {
            return false;
        }
        back->link.node = head;
    } else if (op == BRANCH) {
        ExprNode* branchEnd = list.Append(BRANCHEND);
        if (!branchEnd) {
            return false;
        }
        branchEnd->link.node = head;
    }
    ExprNode* tail = list.Append(NOTHING);
    if (!tail) {
        return false;
    }
    tail->link.node = head;
    head->link.node = tail;
    return true;
}

const char* OpName(int16_t op) {
    switch (op) {
        case NOTHING:
            return "NOTHING";
        case JUMP:
            return "JUMP";
        case BRANCHEND:
            return "BRANCHEND";
        case BOL:
            return "BOL";
        case EOL:
            return "EOL";
        case WORDSTART:
            return "WORDSTART";
        case WORDEND:
            return "WORDEND";
        case CASEON:
            return "CASEON";
        case CASEOFF:
            return "CASEOFF";
        case END:
            return "END";
        case ANY:
            return "ANY";
        case ANYOF:
            return "ANYOF";
        case ANYBUT:
            return "ANYBUT";
        case EXACTLY:
            return "EXACTLY";
        case SPACE:
            return "SPACE";
        case NSPACE:
            return "NSPACE";
        case UPPER:
            return "UPPER";
        case LOWER:
            return "LOWER";
        case DIGIT:
            return "DIGIT";
        case NDIGIT:
            return "NDIGIT";
        case ALNUM:
            return "ALNUM";
        case NALNUM:
            return "NALNUM";
        case UWORDSTART:
            return "UWORDSTART";
        case UWORDEND:
            return "UWORDEND";
        case UANY:
            return "UANY";
        case UANYOF:
            return "UANYOF";
        case UANYBUT:
            return "UANYBUT";
        case UEXACTLY:
            return "UEXACTLY";
        case USPACE:
            return "USPACE";
        case UNSPACE:
            return "UNSPACE";
        case UUPPER:
            return "UUPPER";
        case ULOWER:
            return "ULOWER";
        case UNDIGIT:
            return "UNDIGIT";
        case UALNUM:
            return "UALNUM";
        case UNALNUM:
            return "UNALNUM";
        case GROUPOPEN:
            return "GROUPOPEN";
        case GROUPCLOSE:
            return "GROUPCLOSE";
        case STAR:
            return "STAR";
        case PLUS:
            return "PLUS";
        case QUEST:
            return "QUEST";
        case BRANCH:
            return "BRANCH";
        case LAZYSTAR:
            return "LAZYSTAR";
        case LAZYPLUS:
            return "LAZYPLUS";
    }
    if (IsCapturing(op)) {
        return IsOpeningBracket(op) ? "OPEN" : "CLOSE";
    }
    return "?";
}

void DumpByte(std::string& out, unsigned char b) {
    if (b >= 0x21 && b <= 0x7E) {
        out += static_cast<char>(b);
    } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        out += hex;
    }
}

void DumpSet(std::string& out, const unsigned char* set) {
    out += '[';
    for (int b = 0; b < 256;) {
        if (!SetHas(set, static_cast<unsigned char>(b))) {
            ++b;
            continue;
        }
        int e = b;
        while (e + 1 < 256 && SetHas(set, static_cast<unsigned char>(e + 1))) {
            ++e;
        }
        if (e - b >= 2) {
            DumpByte(out, static_cast<unsigned char>(b));
            out += '-';
            DumpByte(out, static_cast<unsigned char>(e));
        } else {
            for (int x = b; x <= e; ++x) {
                DumpByte(out, static_cast<unsigned char>(x));
            }
        }
        b = e + 1;
    }
    out += ']';
}

void DumpChar(std::string& out, char32_t c) {
    if (c < 0x80) {
        DumpByte(out, static_cast<unsigned char>(c));
        return;
    }
    char hex[16];
    if (c >= unicode::kStrayByteBase) {
        std::snprintf(hex, sizeof hex, "\\x%02X",
                      static_cast<unsigned>(c - unicode::kStrayByteBase));
    } else {
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
    }
    out += hex;
}

// A character class: its values below 256 as a byte set, then its set
// escapes and ranges.
void DumpCharClass(std::string& out, const unsigned char* cls) {
    DumpSet(out, cls);
    static const char* const kProps[] = {"\\s", "\\S", "\\w", "\\W", "\\U", "\\L"};
    for (int i = 0; i < 6; ++i) {
        if (cls[32] & (1u << i)) {
            out += kProps[i];
        }
    }
    const uint32_t count = detail::ReadWord(cls + 36);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* r = cls + detail::kClassHeader + size_t{i} * 8;
        out += ' ';
        DumpChar(out, detail::ReadWord(r));
        out += '-';
        DumpChar(out, detail::ReadWord(r + 4));
    }
}

}  // namespace

CompileResult Compile(const char* text, TextMode mode) {
    CompileResult result;
    if (text == nullptr) {
        result.status = CompileStatus::kNoExpression;
        return result;
    }
    const bool chars = mode == TextMode::kUtf8;
    ListBuilder list(mode);
    std::vector<OpenBracket> open;
    int groupCounter = 0;
    auto closeGroup = [&]() {
        const OpenBracket top = open.back();
        open.pop_back();
        if (list.last() == top.node) {
            return list.Fail(CompileStatus::kEmptyGroup);  // «()»
        }
        return list.Append(top.closeOp) != nullptr;
    };

    const auto* start = reinterpret_cast<const unsigned char*>(text);
    const auto* p = start;
    const unsigned char* token = p;  // where the construct being read begins
    bool ok = true;
    while (ok && *p) {
        token = p;
        const unsigned char c = *p++;
        switch (c) {
            case '*':
            case '+':
            case '?':
            case '@':
            case '#':
            case '|':
                ok = ApplyOperator(list, open.empty() ? nullptr : open.back().node, c);
                break;
            case '$':
                ok = list.Append(EOL) != nullptr;
                break;
            case '^':
                ok = list.Append(BOL) != nullptr;
                break;
            case '<':
                ok = list.Append(chars ? UWORDSTART : WORDSTART) != nullptr;
                break;
            case '>':
                ok = list.Append(chars ? UWORDEND : WORDEND) != nullptr;
                break;
            case '.':
                ok = list.Append(chars ? UANY : ANY) != nullptr;
                break;
            case '(': {
                // The group table has slots for groups 1 to 63 only.
                if (++groupCounter > kMaxGroups) {
                    ok = list.Fail(CompileStatus::kTooManyGroups);
                    break;
                }
                ExprNode* n = list.Append(static_cast<int16_t>(OPEN + groupCounter));
                ok = n != nullptr;
                if (ok) {
                    open.push_back({n, static_cast<int16_t>(CLOSE + groupCounter)});
                }
                break;
            }
            case '{': {
                ExprNode* n = list.Append(GROUPOPEN);
                ok = n != nullptr;
                if (ok) {
                    open.push_back({n, GROUPCLOSE});
                }
                break;
            }
            case ')':
            case '}':
                if (open.empty()) {
                    goto done;  // an unmatched closing bracket ends the expression
                }
                ok = closeGroup();
                break;
            case '[':
                ok = chars ? ParseCharClass(p, list) : ParseClass(p, list);
                break;
            case '\\':
                ok = chars ? ParseCharEscape(p, list) : ParseEscape(p, list);
                break;
            default:
                if (chars && c >= 0x80) {
                    --p;
                    ok = AppendChar(list, TakeChar(p));
                } else if (chars) {
                    ok = AppendChar(list, c);
                } else {
                    ok = AppendLiteral(list, c);
                }
                break;
        }
    }
done:
    if (ok) {
        token = p;
    }
    while (ok && !open.empty()) {
        ok = closeGroup();  // a group left open closes at the end of the text
    }
    if (ok && list.first() == nullptr) {
        ok = list.Fail(CompileStatus::kEmpty);
        token = nullptr;
    }
    if (!ok || list.Append(END) == nullptr) {
        result.status = list.status();
        if (result.status != CompileStatus::kNoMemory && token != nullptr) {
            result.offset = static_cast<int32_t>(token - start);
        }
        return result;
    }
    int32_t index = 0;
    for (ExprNode* n = list.first(); n; n = n->next) {
        n->index = index++;
    }
    result.program = list.Release();
    return result;
}

ExprNode* CompileExpression(const char* text, TextMode mode) {
    return Compile(text, mode).program;
}

const char* CompileStatusText(CompileStatus status) {
    switch (status) {
        case CompileStatus::kOk:
            return "no fault";
        case CompileStatus::kNoExpression:
        case CompileStatus::kEmpty:
            return "there is nothing to search for";
        case CompileStatus::kMissingOperand:
            return "an operator has nothing before it to apply to";
        case CompileStatus::kLoopOverNothing:
            return "a loop repeats something that takes up no text";
        case CompileStatus::kEmptyGroup:
            return "a group is empty";
        case CompileStatus::kTooManyGroups:
            return "more than 63 numbered groups";
        case CompileStatus::kUnclosedClass:
            return "a class has no closing ]";
        case CompileStatus::kBadRange:
            return "a class range runs backwards or has no end";
        case CompileStatus::kTrailingBackslash:
            return "a backslash ends the expression";
        case CompileStatus::kBadNumericEscape:
            return "a numeric escape lacks its digits";
        case CompileStatus::kClassTooLarge:
            return "a class has too many ranges";
        case CompileStatus::kNoMemory:
            return "not enough memory";
    }
    return "unknown fault";
}

void FreeExpression(ExprNode* program) {
    while (program) {
        ExprNode* next = program->next;
        if (HasOperand(program->op)) {
            delete[] program->link.bytes;
        }
        delete program;
        program = next;
    }
}

std::string DumpExpression(const ExprNode* program) {
    std::string out;
    for (const ExprNode* n = program; n; n = n->next) {
        out += std::to_string(n->index);
        out += ' ';
        out += OpName(n->op);
        if (n->op == EXACTLY) {
            out += ' ';
            DumpByte(out, n->link.bytes[0]);
        } else if (n->op == ANYOF || n->op == ANYBUT) {
            out += ' ';
            DumpSet(out, n->link.bytes);
        } else if (n->op == UEXACTLY) {
            out += ' ';
            DumpChar(out, detail::LiteralChar(n));
        } else if (n->op == UANYOF || n->op == UANYBUT) {
            out += ' ';
            DumpCharClass(out, n->link.bytes);
        } else if (IsCapturing(n->op)) {
            out += ' ';
            out += std::to_string(GroupNumber(n->op));
        } else if ((IsOperator(n->op) || n->op == NOTHING || n->op == JUMP || n->op == BRANCHEND) &&
                   n->link.node) {
            out += " ->";
            out += std::to_string(n->link.node->index);
        }
        out += '\n';
    }
    return out;
}

}  // namespace quarry
