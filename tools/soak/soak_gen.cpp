#include "tools/soak/soak_gen.h"

#include <cstdio>
#include <utility>

namespace quarry::soak {
namespace {

const char* const kUtf8Words[] = {"é", "Über", "straße", "naïve", "日本語", "ΑΒΓ", "αβγ", "ça",
                                  "Ω", "😀",    "ÉCOLE",  "école", "x̌ylo",   "ﬁn",  "İi",  "ǅ"};
const char* const kAsciiWords[] = {"alpha", "beta", "Gamma", "key",  "value", "x",   "a",
                                   "ab",    "abc",  "aaa",   "DEF",  "id",    "42",  "007",
                                   "x1",    "a_b",  "name",  "Name", "NAME",  "b2b", "zz"};
const char* const kSeparators[] = {" ", " ", "  ", "=", ", ", "\t", ";", "-", ".", ""};

std::string LineBreak(Random& rng, int style) {
    // 0 LF, 1 CR LF, 2 CR, 3 any of them per line.
    const int s = style == 3 ? int(rng.Below(3)) : style;
    return s == 0 ? "\n" : s == 1 ? "\r\n" : "\r";
}

std::string Word(Random& rng, DocKind kind) {
    const int roll = int(rng.Below(100));
    if (kind == DocKind::kUtf8 && roll < 25) {
        return rng.Pick(kUtf8Words);
    }
    if (kind == DocKind::kEightBit && roll < 25) {
        std::string bytes;
        const int n = 1 + int(rng.Below(5));
        for (int i = 0; i < n; ++i) {
            // Mostly high bytes, now and then a control byte or a zero.
            const int pick = int(rng.Below(20));
            bytes += char(pick == 0 ? int(rng.Below(32)) : 0x80 + int(rng.Below(128)));
        }
        return bytes;
    }
    if (roll < 40) {
        return std::string(rng.Pick(kAsciiWords)) + "=" + std::to_string(rng.Below(1000));
    }
    return rng.Pick(kAsciiWords);
}

std::string Line(Random& rng, DocKind kind, size_t approxBytes) {
    std::string line;
    while (line.size() < approxBytes) {
        line += Word(rng, kind);
        line += rng.Pick(kSeparators);
    }
    return line;
}

struct Piece {
    std::string text;
    bool consuming = false;
};

std::string Literal(Random& rng, bool allowUnicode) {
    static const char* const kPlain[] = {"a", "b", "c", "x", "e", "A", "B", "=", " ",
                                         "1", "2", "0", ",", "-", "_", "k", "y", "E"};
    static const char* const kEscaped[] = {"\\.", "\\*", "\\(", "\\[", "\\\\", "\\|",
                                           "\\{", "\\+", "\\?", "\\$", "\\<",  "\\@"};
    static const char* const kUnicode[] = {"é", "ß", "Ü", "ü", "日", "α", "Ω"};
    const int roll = int(rng.Below(100));
    if (allowUnicode && roll < 12) {
        return rng.Pick(kUnicode);
    }
    if (roll < 22) {
        return rng.Pick(kEscaped);
    }
    return rng.Pick(kPlain);
}

Piece Atom(Random& rng, bool allowUnicode, int depth, int& groups);

Piece Sequence(Random& rng, bool allowUnicode, int depth, int& groups) {
    Piece seq;
    const int items = 1 + int(rng.Below(depth == 0 ? 4 : 3));
    for (int i = 0; i < items; ++i) {
        Piece atom = Atom(rng, allowUnicode, depth, groups);
        // A postfix operator: the repeating ones need something consumed.
        if (rng.Chance(35)) {
            static const char* const kRepeat[] = {"*", "+", "?", "@", "#"};
            if (atom.consuming) {
                atom.text += rng.Pick(kRepeat);
            } else {
                atom.text += "?";
            }
        }
        // One atom each side of the bar.
        if (rng.Chance(12)) {
            Piece right = Atom(rng, allowUnicode, depth, groups);
            if (rng.Chance(30) && right.consuming) {
                right.text += "+";
            }
            atom.text += "|" + right.text;
            atom.consuming = atom.consuming || right.consuming;
        }
        seq.text += atom.text;
        seq.consuming = seq.consuming || atom.consuming;
    }
    return seq;
}

Piece Atom(Random& rng, bool allowUnicode, int depth, int& groups) {
    static const char* const kSetEscapes[] = {"\\w", "\\W", "\\d", "\\D", "\\s",
                                              "\\S", "\\U", "\\L", "."};
    static const char* const kByteEscapes[] = {"\\n",    "\\r",   "\\t",   "\\x41",
                                               "\\x61",  "\\xE9", "\\xC3", "\\N065",
                                               "\\o141", "\\x3D", "\\x80"};
    static const char* const kClasses[] = {"[a-c]",  "[^\\s]",        "[\\w-]", "[aeiou]", "[0-9x]",
                                           "[^a-z]", "[-a]",          "[\\d.]", "[]",      "[^]",
                                           "[A-Z]",  "[\\x80-\\xFF]", "[=,;]",  "[^\\w ]"};
    static const char* const kAnchors[] = {"^", "$", "<", ">", "\\C", "\\c"};
    const int roll = int(rng.Below(100));
    if (roll < 35) {
        return {Literal(rng, allowUnicode), true};
    }
    if (roll < 55) {
        return {rng.Pick(kSetEscapes), true};
    }
    if (roll < 63) {
        return {rng.Pick(kByteEscapes), true};
    }
    if (roll < 73) {
        std::string cls = rng.Pick(kClasses);
        if (allowUnicode && rng.Chance(20)) {
            cls = "[éa-c]";
        }
        return {cls, true};
    }
    if (roll < 81) {
        return {rng.Pick(kAnchors), false};
    }
    if (depth >= 2) {
        return {Literal(rng, allowUnicode), true};
    }
    const bool capturing = rng.Chance(70) && groups < 9;
    if (capturing) {
        ++groups;  // numbered by the order of the «(»
    }
    Piece inner = Sequence(rng, allowUnicode, depth + 1, groups);
    return {(capturing ? "(" : "{") + inner.text + (capturing ? ")" : "}"), inner.consuming};
}

int CountGroups(const std::string& text) {
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '[') {
            // A class's members are no brackets.
            size_t j = i + 1;
            if (j < text.size() && text[j] == '^') {
                ++j;
            }
            if (j < text.size() && text[j] == ']') {
                i = j;
                continue;
            }
            for (; j < text.size() && text[j] != ']'; ++j) {
                if (text[j] == '\\') {
                    ++j;
                }
            }
            i = j;
        } else if (text[i] == '(') {
            ++n;
        }
    }
    return n;
}

}  // namespace

Document MakeDocument(Random& rng) {
    Document doc;
    const int kindRoll = int(rng.Below(100));
    doc.kind = kindRoll < 35   ? DocKind::kAscii
               : kindRoll < 70 ? DocKind::kUtf8
                               : DocKind::kEightBit;
    if (rng.Chance(5)) {
        return doc;  // an empty file
    }
    const int style = int(rng.Below(4));
    const int lines = 1 + int(rng.Below(40));
    for (int i = 0; i < lines; ++i) {
        const size_t width = rng.Chance(3) ? 20000 + rng.Below(80000) : rng.Below(90);
        doc.bytes += Line(rng, doc.kind, width);
        if (i + 1 < lines || rng.Chance(70)) {
            doc.bytes += LineBreak(rng, style);
        }
    }
    return doc;
}

std::string MakeLongText(Random& rng, size_t bytes) {
    std::string text;
    const std::string brk = LineBreak(rng, int(rng.Below(3)));
    while (text.size() < bytes) {
        text += "key" + std::to_string(rng.Below(100000)) + "=value" +
                std::to_string(rng.Below(100000)) + " " + rng.Pick(kAsciiWords) + brk;
    }
    return text;
}

Expression MakeExpression(Random& rng, bool allowUnicode) {
    // Known-good expressions of everyday use, besides the generated ones.
    static const char* const kKnown[] = {"(\\w+)=(\\d+)",
                                         "<\\w+>",
                                         "\\s+",
                                         "[aeiou]",
                                         "^.*$",
                                         "(a|b)+",
                                         "x(a|b)+",
                                         "\\d+",
                                         "{ab}*c",
                                         "[^\\s]+",
                                         "<(\\w)(\\w*)>",
                                         "a.@b",
                                         "\\r\\n",
                                         "\\n",
                                         "$",
                                         "^",
                                         ".",
                                         "\\w#",
                                         "(\\w+) (\\w+)",
                                         "[\\x80-\\xFF]+",
                                         "(.)\\r",
                                         "(abc)|(def)",
                                         "\\U\\L+",
                                         "=.@,",
                                         "(\\w)\\1",
                                         "\\<\\w",
                                         "(\\d)(\\d)?",
                                         "{a|b}{c}*",
                                         ".*",
                                         "\\S*"};
    static const char* const kKnownUnicode[] = {"é+", "\\w*é", "(.)ü", "[éa-c]+", "\\Wé"};
    Expression e;
    const int roll = int(rng.Below(100));
    if (roll < 30) {
        e.text = rng.Pick(kKnown);
    } else if (allowUnicode && roll < 36) {
        e.text = rng.Pick(kKnownUnicode);
    } else {
        int groups = 0;
        e.text = Sequence(rng, allowUnicode, 0, groups).text;
    }
    e.groups = CountGroups(e.text);
    return e;
}

std::string MakeRewrite(Random& rng, int groups, bool allowUnicode) {
    static const char* const kPieces[] = {
        "x",   "-",   "=",    " ",     "<",      ">",      "\\U", "\\L", "\\E", "\\u", "\\l", "\\n",
        "\\r", "\\t", "\\\\", "\\x41", "\\d065", "\\o101", "\\s", "\\e", "[",   "]",   "ab"};
    if (rng.Chance(10)) {
        return "";
    }
    std::string rewrite;
    const int pieces = 1 + int(rng.Below(6));
    for (int i = 0; i < pieces; ++i) {
        const int roll = int(rng.Below(100));
        if (roll < 40) {
            // Mostly a group the expression has; now and then one it lacks.
            const int n =
                rng.Chance(92) ? int(rng.Below(uint64_t(groups + 1))) : int(rng.Below(10));
            rewrite += '\\';
            rewrite += std::to_string(n);
        } else if (allowUnicode && roll < 46) {
            rewrite += rng.Chance(50) ? "é" : "日";
        } else {
            rewrite += rng.Pick(kPieces);
        }
    }
    if (rng.Chance(3)) {
        rewrite += rng.Chance(50) ? "\\" : "\\x4";  // expands to nothing
    }
    return rewrite;
}

std::string Printable(const std::string& bytes, size_t max) {
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 32 && c < 127 && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (bytes.size() > max) {
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    }
    return out;
}

}  // namespace quarry::soak
