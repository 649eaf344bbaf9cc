// The lexical colouring of search and rewrite expressions: what the expression
// fields show while they don't have the focus. A pure function of the text, so
// it never compiles the expression and never fails.
#pragma once

#include <QRgb>
#include <QString>
#include <QStringView>

#include <vector>

namespace quarry {

inline constexpr QRgb kExprBlack = 0xFF000000;      // ordinary characters
inline constexpr QRgb kExprOperator = 0xFFC80000;   // .*?+|@#, \c, \C, class "^"
inline constexpr QRgb kExprGroup = 0xFFC89600;      // "(" and ")"
inline constexpr QRgb kExprClass = 0xFF0064FF;      // "[...]"
inline constexpr QRgb kExprEscape = 0xFF009600;     // escape letters and their digits
inline constexpr QRgb kExprGroupMark = 0xFFFFFFAF;  // cells of the marked group

// What an expression field holds, and so how it is coloured.
enum class ExprSyntax { kSearch, kRewrite };

struct ExprColouring {
    QString display;                // the characters shown: no escape backslashes,
                                    // no group suffix
    std::vector<QRgb> textColours;  // one per display character
    std::vector<QRgb> cellColours;  // one per display character
    QRgb field = 0;                 // the field's background
    int group = 0;                  // the group named by the suffix, 0 for none
    int markStart = -1;             // display positions of the marked run,
    int markEnd = -1;               // inclusive; -1 when nothing is marked
};

// The complement of a colour: every channel c becomes 255 - c.
QRgb Complement(QRgb colour);

// Colours `text` as a search or a rewrite expression on a field of colour
// `background`. When `selected`, the field, every text colour
// and every cell colour are complemented.
ExprColouring ColourExpression(QStringView text, ExprSyntax syntax, QRgb background,
                               bool selected = false);

}  // namespace quarry
