// The search expression language's tokens: which characters are operators and
// what each escape letter stands for. The compiler reads expressions by these
// tables and the expression fields colour them by the same ones, so the two
// cannot disagree on what a letter after «\» is.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarry::syntax {

// «.» and the operators that apply to what stands before them.
inline constexpr std::string_view kOperators = ".*?+|@#";

enum class EscapeKind : uint8_t {
    kNone,        // not an escape letter: «\» makes the character itself
    kByte,        // one control byte: «\n», «\t», ...
    kNumeric,     // a byte by its number: «\x41», «\N065», «\o101»
    kSet,         // a set of characters: «\s», «\w», «\U», ...
    kCaseSwitch,  // «\C» and «\c»: match case on or off from here
};

struct Escape {
    EscapeKind kind = EscapeKind::kNone;
    unsigned char byte = 0;  // kByte: the byte
    int8_t digits = 0;       // kNumeric: exactly this many digits
    int8_t base = 0;         // kNumeric: of this base
};

constexpr Escape EscapeOf(unsigned char letter) {
    switch (letter) {
        case 'a':
            return {EscapeKind::kByte, 7};
        case 'b':
            return {EscapeKind::kByte, 8};
        case 'e':
            return {EscapeKind::kByte, 27};
        case 'f':
            return {EscapeKind::kByte, 12};
        case 'n':
            return {EscapeKind::kByte, 10};
        case 'r':
            return {EscapeKind::kByte, 13};
        case 't':
            return {EscapeKind::kByte, 9};
        case 'v':
            return {EscapeKind::kByte, 11};
        case 'x':
            return {EscapeKind::kNumeric, 0, 2, 16};
        case 'N':
            return {EscapeKind::kNumeric, 0, 3, 10};
        case 'o':
            return {EscapeKind::kNumeric, 0, 3, 8};
        case 's':
        case 'S':
        case 'd':
        case 'D':
        case 'w':
        case 'W':
        case 'U':
        case 'L':
            return {EscapeKind::kSet};
        case 'C':
        case 'c':
            return {EscapeKind::kCaseSwitch};
        default:
            return {};
    }
}

}  // namespace quarry::syntax
