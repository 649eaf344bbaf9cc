#include "ui/expr_colouring.h"

#include "engine/syntax.h"

namespace quarry {
namespace {

bool IsDecimal(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsHex(char16_t c) {
    return IsDecimal(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The escape letters of the search language and its operators are the
// compiler's own (engine/syntax.h); these rewrite letters are only coloured.
constexpr QStringView kRewriteEscapes = u"rnts";

syntax::Escape SearchEscapeOf(char16_t c) {
    return c < 0x80 ? syntax::EscapeOf(static_cast<unsigned char>(c)) : syntax::Escape{};
}

bool IsSearchOperator(char16_t c) {
    return c < 0x80 && syntax::kOperators.find(static_cast<char>(c)) != std::string_view::npos;
}

// Appends display characters and follows the group the suffix names.
class Builder {
  public:
    Builder(ExprColouring& out, int group) : out_(out), group_(group) {}

    void Add(char16_t c, QRgb colour) {
        out_.display.append(QChar(c));
        out_.textColours.push_back(colour);
    }
    // A displayed character outside every escape sequence. Before the start
    // is found, k counts the opening parentheses seen, which is the number of
    // the group most recently opened; after it, k is the nesting depth
    // relative to that group's "(".
    void Track(char16_t c, bool inClass) {
        const int position = static_cast<int>(out_.display.size()) - 1;
        if (!inClass && c == u'(') {
            ++k_;
        } else if (!inClass && c == u')' && start_ >= 0) {
            --k_;
        }
        if (start_ < 0 && k_ == group_) {
            start_ = position;
        }
        if (start_ >= 0 && end_ < 0 && k_ < group_) {
            end_ = position;
        }
    }
    void Finish() {
        if (start_ >= 0 && end_ >= 0) {
            out_.markStart = start_;
            out_.markEnd = end_;
        }
    }

  private:
    ExprColouring& out_;
    int group_;
    int k_ = 0;
    int start_ = -1;
    int end_ = -1;
};

void ColourSearch(QStringView s, ExprColouring& out) {
    // Group suffix: ":" and digits at the end. Position 0 is never taken as a
    // digit, so a text of digits alone has no suffix.
    qsizetype length = s.size();
    long long group = 0;
    long long unit = 1;
    qsizetype p = length - 1;
    while (p > 0 && IsDecimal(s[p].unicode())) {
        // Saturate: a suffix naming an absurd group marks nothing anyway.
        if (group < 1000000) {
            group += (s[p].unicode() - u'0') * unit;
        }
        unit = unit < 1000000 ? unit * 10 : unit;
        --p;
    }
    if (p >= 0 && s[p] == u':') {
        length = p;
    } else {
        group = 0;
    }
    out.group = static_cast<int>(group);

    Builder b(out, out.group);
    bool inClass = false;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = s[i].unicode();
        if (c == u'\\') {
            if (i + 1 >= length) {
                // A lone backslash at the end: the expression is invalid, so
                // show the backslash itself in the operator colour.
                b.Add(c, kExprOperator);
                break;
            }
            const char16_t e = s[++i].unicode();
            const syntax::Escape escape = SearchEscapeOf(e);
            if (escape.kind != syntax::EscapeKind::kNone) {
                b.Add(e,
                      escape.kind == syntax::EscapeKind::kCaseSwitch ? kExprOperator : kExprEscape);
                // Up to the escape's number of digits, shown as typed (octal
                // ones like decimal ones): whether they are valid is the
                // compiler's to say.
                auto isDigit = escape.base == 16 ? IsHex : IsDecimal;
                for (int digits = 0;
                     digits < escape.digits && i + 1 < length && isDigit(s[i + 1].unicode());
                     ++digits) {
                    b.Add(s[++i].unicode(), kExprEscape);
                }
            } else {
                b.Add(e, inClass ? kExprClass : kExprBlack);
            }
            continue;
        }
        if (!inClass && c == u'[') {
            b.Add(c, kExprClass);
            inClass = true;
            if (i + 1 < length && s[i + 1] == u'^') {
                b.Add(s[++i].unicode(), kExprOperator);
            }
            b.Track(s[i].unicode(), inClass);
            continue;
        }
        if (inClass) {
            b.Add(c, kExprClass);
            b.Track(c, inClass);
            if (c == u']') {
                inClass = false;
            }
            continue;
        }
        if (c == u'(' || c == u')') {
            b.Add(c, kExprGroup);
        } else if (IsSearchOperator(c)) {
            b.Add(c, kExprOperator);
        } else {
            b.Add(c, kExprBlack);
        }
        b.Track(c, inClass);
    }
    b.Finish();
}

void ColourRewrite(QStringView s, ExprColouring& out) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c != u'\\') {
            out.display.append(QChar(c));
            out.textColours.push_back(kExprBlack);
            continue;
        }
        if (i + 1 >= s.size()) {
            // A lone backslash at the end gives no output at all: show it.
            out.display.append(QChar(c));
            out.textColours.push_back(kExprOperator);
            break;
        }
        const char16_t e = s[++i].unicode();
        out.display.append(QChar(e));
        out.textColours.push_back(kRewriteEscapes.contains(QChar(e)) ? kExprEscape
                                  : IsDecimal(e)                     ? kExprOperator
                                                                     : kExprBlack);
    }
}

}  // namespace

QRgb Complement(QRgb colour) {
    return qRgba(255 - qRed(colour), 255 - qGreen(colour), 255 - qBlue(colour), qAlpha(colour));
}

ExprColouring ColourExpression(QStringView text, ExprSyntax syntax, QRgb background,
                               bool selected) {
    ExprColouring out;
    out.display.reserve(text.size());
    out.textColours.reserve(text.size());
    if (syntax == ExprSyntax::kSearch) {
        ColourSearch(text, out);
    } else {
        ColourRewrite(text, out);
    }
    out.cellColours.assign(out.textColours.size(), background);
    if (out.markStart >= 0) {
        for (int i = out.markStart; i <= out.markEnd; ++i) {
            out.cellColours[i] = kExprGroupMark;
        }
    }
    out.field = background;
    if (selected) {
        out.field = Complement(out.field);
        for (QRgb& c : out.textColours) {
            c = Complement(c);
        }
        for (QRgb& c : out.cellColours) {
            c = Complement(c);
        }
    }
    return out;
}

}  // namespace quarry
