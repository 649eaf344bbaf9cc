// The compiled form of a search expression: a doubly linked list of ExprNode
// records ending in END. The compiler builds it, the matcher walks it and the
// compiled-expression object owns it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/text_mode.h"

namespace quarry {

// Opcode bits above the low byte.
inline constexpr int16_t kBracketBit = 0x0100;
inline constexpr int16_t kOpeningBit = 0x0200;
inline constexpr int16_t kClosingBit = 0x0400;
inline constexpr int16_t kCapturingBit = 0x0800;  // on brackets
inline constexpr int16_t kGreedyBit = 0x0800;     // on operators
inline constexpr int16_t kOperatorBit = 0x1000;

enum Opcode : int16_t {
    NOTHING = 0,     // tail of an operator construct; link: its operator
    JUMP = 1,        // continue at link
    BRANCHEND = 2,   // end of a left alternative; link: its BRANCH
    BOL = 3,         // «^»: only at the text start
    EOL = 4,         // «$»: at the input end
    WORDSTART = 5,   // «<»
    WORDEND = 6,     // «>»
    CASEON = 7,      // «\C»: literals match with case from here on
    CASEOFF = 8,     // «\c»: literals ignore case from here on
    UWORDSTART = 9,  // «<» in character mode
    UWORDEND = 10,   // «>» in character mode
    END = 31,        // appended by the compiler
    ANY = 33,        // «.»: any byte
    ANYOF = 34,      // «[...]»: 32-byte set operand
    ANYBUT = 35,     // «[^...]»: 32-byte set operand
    EXACTLY = 36,    // one literal byte operand
    SPACE = 37,      // «\s»: 9, 10, 13, 32
    NSPACE = 38,     // «\S»
    UPPER = 39,      // «\U»: A-Z
    LOWER = 40,      // «\L»: a-z
    DIGIT = 41,      // «\d»
    NDIGIT = 42,     // «\D»
    ALNUM = 43,      // «\w»: ASCII letters and digits
    NALNUM = 44,     // «\W»
    // Character mode: each consumes one whole character (see engine/unicode.h).
    // Literals and classes that can only take ASCII characters keep the byte
    // opcodes above, since an ASCII byte is always a character of its own.
    UANY = 45,            // «.»
    UANYOF = 46,          // «[...]»: class operand (CharClass layout, engine/char_tests.h)
    UANYBUT = 47,         // «[^...]»
    UEXACTLY = 48,        // one literal character: its bytes (length 1 to 4)
    USPACE = 49,          // «\s»: White_Space
    UNSPACE = 50,         // «\S»
    UUPPER = 51,          // «\U»: upper-case letters of any script
    ULOWER = 52,          // «\L»
    UNDIGIT = 53,         // «\D» («\d» stays DIGIT: ASCII digits only)
    UALNUM = 54,          // «\w»: letters and decimal digits of any script
    UNALNUM = 55,         // «\W»
    GROUPOPEN = 0x0300,   // «{»
    GROUPCLOSE = 0x0500,  // «}» or «)» closing a «{»
    OPEN = 0x0B00,        // «(» of group n: OPEN + n
    CLOSE = 0x0D00,       // «)» or «}» closing group n: CLOSE + n
    STAR = 0x182A,        // «*»; link: its NOTHING
    PLUS = 0x182B,        // «+»; link: its NOTHING
    QUEST = 0x183F,       // «?»; link: its NOTHING
    BRANCH = 0x187C,      // «|»; link: its NOTHING
    LAZYSTAR = 0x1040,    // «@»; link: its NOTHING
    LAZYPLUS = 0x1023,    // «#»; link: its NOTHING
};

inline constexpr int kMaxGroups = 63;    // capturing groups 1..63; group 0 is the match
inline constexpr int kGroupSlots = 128;  // 64 start offsets, then 64 end offsets
inline constexpr int kSetBytes = 32;     // a 256-bit byte set

struct ExprNode {
    int16_t op = NOTHING;
    // operand bytes: 1 for EXACTLY, 32 for ANYOF/ANYBUT, 1 to 4 for UEXACTLY,
    // the class's size for UANYOF/UANYBUT, else 0
    int16_t length = 0;
    ExprNode* prev = nullptr;
    ExprNode* next = nullptr;
    // EXACTLY, ANYOF, ANYBUT own their operand bytes; operators, NOTHING, JUMP
    // and BRANCHEND refer to a partner node of the same list.
    union {
        unsigned char* bytes;
        ExprNode* node;
    } link{nullptr};
    // Position in the list, numbered from 0 once compilation has finished. The
    // matcher uses it to keep per-node state without a lookup.
    int32_t index = 0;
    // The text mode the program was compiled for; the same in every node.
    TextMode mode = TextMode::kBytes;
};

inline bool IsConsuming(int16_t op) {
    return op >= 32 && op <= 63;
}
inline bool IsCharTest(int16_t op) {
    return op >= UANY && op <= UNALNUM;
}
// «^», «$» and the word boundaries: tests that consume nothing.
inline bool IsZeroWidthTest(int16_t op) {
    return op == BOL || op == EOL || op == WORDSTART || op == WORDEND || op == UWORDSTART ||
           op == UWORDEND;
}
// Nodes that own operand bytes.
inline bool HasOperand(int16_t op) {
    return op == EXACTLY || op == ANYOF || op == ANYBUT || op == UEXACTLY || op == UANYOF ||
           op == UANYBUT;
}
inline bool IsOperator(int16_t op) {
    return (op & kOperatorBit) != 0;
}
inline bool IsGreedyOperator(int16_t op) {
    return IsOperator(op) && (op & kGreedyBit) != 0;
}
inline bool IsBracket(int16_t op) {
    return (op & kBracketBit) != 0 && !IsOperator(op);
}
inline bool IsOpeningBracket(int16_t op) {
    return IsBracket(op) && (op & kOpeningBit) != 0;
}
inline bool IsClosingBracket(int16_t op) {
    return IsBracket(op) && (op & kClosingBit) != 0;
}
inline bool IsCapturing(int16_t op) {
    return IsBracket(op) && (op & kCapturingBit) != 0;
}
inline bool IsLoop(int16_t op) {
    return op == STAR || op == PLUS || op == LAZYSTAR || op == LAZYPLUS;
}
inline int GroupNumber(int16_t op) {
    return op & 0xFF;
}
inline bool SetHas(const unsigned char* set, unsigned char b) {
    return (set[b >> 3] >> (b & 7)) & 1;
}

// Why an expression gives no program.
enum class CompileStatus : uint8_t {
    kOk,
    kNoExpression,       // no text at all (a null pointer)
    kEmpty,              // nothing to match: an empty text, or one that starts with «)» or «}»
    kMissingOperand,     // an operator with nothing before it in its sequence («*a», «(|b)»)
    kLoopOverNothing,    // a loop whose operand consumes nothing («^*», «a?*»)
    kEmptyGroup,         // «()», «{}», or a group left open with nothing in it
    kTooManyGroups,      // a 64th numbered group
    kUnclosedClass,      // «[» without its «]»
    kBadRange,           // a class range running backwards or left open («[z-a]», «[a-]»)
    kTrailingBackslash,  // «\» as the last byte
    kBadNumericEscape,   // «\x», «\N» or «\o» without all of its digits
    kClassTooLarge,      // a character class with more ranges than a node can hold
    kNoMemory,
};

struct CompileResult {
    ExprNode* program = nullptr;  // owned by the caller (FreeExpression)
    CompileStatus status = CompileStatus::kOk;
    // Byte offset in the text of what was rejected: the operator, bracket,
    // escape or class at fault, or the text's length for what was still open
    // at its end; -1 when the status names no place.
    int32_t offset = -1;
};

// Compiles a zero-terminated expression. In character mode the expression
// itself is UTF-8 text.
CompileResult Compile(const char* text, TextMode mode = TextMode::kBytes);

// The program alone: nullptr for an absent, empty or invalid expression.
ExprNode* CompileExpression(const char* text, TextMode mode = TextMode::kBytes);

// The user's words for a status, to follow "invalid expression: ".
const char* CompileStatusText(CompileStatus status);

// Releases every node of a program and their operand bytes.
void FreeExpression(ExprNode* program);

// A readable listing of a program, one node per line ("3 PLUS ->12"), for
// tests and debugging.
std::string DumpExpression(const ExprNode* program);

}  // namespace quarry
