// The expression colouring, without drawing.
#include <gtest/gtest.h>

#include <string>

#include "ui/expr_colouring.h"

namespace quarry {
namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

// One letter per display character: k black, o operator red, g group
// parenthesis, c class blue, e escape green.
std::string Classes(const ExprColouring& c) {
    std::string out;
    for (QRgb colour : c.textColours) {
        switch (colour) {
            case kExprBlack:
                out += 'k';
                break;
            case kExprOperator:
                out += 'o';
                break;
            case kExprGroup:
                out += 'g';
                break;
            case kExprClass:
                out += 'c';
                break;
            case kExprEscape:
                out += 'e';
                break;
            default:
                out += '?';
        }
    }
    return out;
}

// '#' for a marked cell, '.' for a plain one.
std::string Marks(const ExprColouring& c) {
    std::string out;
    for (QRgb cell : c.cellColours) {
        out += cell == kExprGroupMark ? '#' : cell == kWhite ? '.' : '?';
    }
    return out;
}

ExprColouring Search(const QString& text) {
    return ColourExpression(text, ExprSyntax::kSearch, kWhite);
}
ExprColouring Rewrite(const QString& text) {
    return ColourExpression(text, ExprSyntax::kRewrite, kWhite);
}

TEST(SearchColouring, GroupSuffixMarksItsGroupAndIsHidden) {
    ExprColouring c = Search("a(b(c)d)e:2");
    EXPECT_EQ(c.display, "a(b(c)d)e");
    EXPECT_EQ(c.group, 2);
    EXPECT_EQ(Marks(c), "...###...");
    EXPECT_EQ(Classes(c), "kgkgkgkgk");

    // The first group's ")" does not lower the count before the start.
    c = Search("(a)(b):2");
    EXPECT_EQ(c.display, "(a)(b)");
    EXPECT_EQ(Marks(c), "...###");

    c = Search("(a(b)c):1");
    EXPECT_EQ(Marks(c), "#######");
    EXPECT_EQ(c.markStart, 0);
    EXPECT_EQ(c.markEnd, 6);

    // Multi-digit suffix, and a group the text doesn't have.
    c = Search("(((((((((((x))))))))))):11");
    EXPECT_EQ(c.group, 11);
    EXPECT_EQ(Marks(c), "..........###..........");
    c = Search("(a):3");
    EXPECT_EQ(c.display, "(a)");
    EXPECT_EQ(Marks(c), "...");
    // An unclosed group has no end: nothing is marked.
    EXPECT_EQ(Marks(Search("a(bc:1")), "....");
}

TEST(SearchColouring, SuffixNeedsColonAndDigits) {
    ExprColouring c = Search("ab:");
    EXPECT_EQ(c.display, "ab");
    EXPECT_EQ(c.group, 0);
    EXPECT_EQ(Marks(c), "..");
    c = Search("12");
    EXPECT_EQ(c.display, "12");
    EXPECT_EQ(c.group, 0);
    // Position 0 is never a suffix digit, so ":" alone at the start is hidden
    // but "1" alone is shown.
    EXPECT_EQ(Search(":").display, "");
    EXPECT_EQ(Search("1").display, "1");
    EXPECT_EQ(Search(":1").display, "");
    EXPECT_EQ(Search("a:1b").display, "a:1b");
    EXPECT_EQ(Search("").display, "");
    EXPECT_TRUE(Search("").textColours.empty());
    // An absurdly long suffix neither overflows nor marks anything.
    c = Search("(a):99999999999999999999");
    EXPECT_EQ(c.display, "(a)");
    EXPECT_EQ(Marks(c), "...");
}

TEST(SearchColouring, EscapesHideTheirBackslash) {
    ExprColouring c = Search(R"(\d+\x4Fz)");
    EXPECT_EQ(c.display, "d+x4Fz");
    EXPECT_EQ(Classes(c), "eoeeek");

    c = Search(R"(\Cabc)");
    EXPECT_EQ(c.display, "Cabc");
    EXPECT_EQ(Classes(c), "okkk");
    EXPECT_EQ(Classes(Search(R"(\c)")), "o");

    c = Search(R"(\N0651)");
    EXPECT_EQ(c.display, "N0651");
    EXPECT_EQ(Classes(c), "eeeek");
    EXPECT_EQ(Classes(Search(R"(\o1234)")), "eeeek");
    EXPECT_EQ(Classes(Search(R"(\xABC)")), "eeek");
    EXPECT_EQ(Classes(Search(R"(\xG1)")), "ekk");
    // Digits belong to x, N and o only.
    EXPECT_EQ(Classes(Search(R"(\d12)")), "ekk");

    c = Search(R"(\(x\))");
    EXPECT_EQ(c.display, "(x)");
    EXPECT_EQ(Classes(c), "kkk");
    EXPECT_EQ(Classes(Search(R"(\.\*\\)")), "kkk");
    EXPECT_EQ(Search(R"(\\)").display, "\\");

    // Every escape letter, and one that isn't.
    const QString letters = "abfnsSwWdDULCcrtvexNo";
    for (QChar letter : letters) {
        const ExprColouring e = Search(QStringLiteral("\\") + letter);
        EXPECT_EQ(e.display, QString(letter));
        const bool red = letter == 'c' || letter == 'C';
        EXPECT_EQ(Classes(e), red ? "o" : "e") << letter.toLatin1();
    }
    EXPECT_EQ(Classes(Search(R"(\q)")), "k");
}

TEST(SearchColouring, EscapedParenthesesCountNoGroup) {
    // With the escaped pair ignored, ":1" names the real group.
    ExprColouring c = Search(R"(\((y)\):1)");
    EXPECT_EQ(c.display, "((y))");
    EXPECT_EQ(Marks(c), ".###.");
}

TEST(SearchColouring, Classes) {
    ExprColouring c = Search(R"([^a-z\]])");
    EXPECT_EQ(c.display, "[^a-z]]");
    EXPECT_EQ(Classes(c), "coccccc");

    c = Search(R"([\d_])");
    EXPECT_EQ(c.display, "[d_]");
    EXPECT_EQ(Classes(c), "cecc");

    // Operators and parentheses inside a class are class text; the class
    // ends at the first "]", so «[]» is empty and "]" after it is ordinary.
    EXPECT_EQ(Classes(Search("[(*)]+")), "ccccco");
    EXPECT_EQ(Classes(Search("[]]")), "cck");
    // "^" is only special right after "[".
    EXPECT_EQ(Classes(Search("[a^]^")), "cccck");
    // An unterminated class colours everything after "[" as class text.
    EXPECT_EQ(Classes(Search("a[bc(d")), "kccccc");
    // Other characters in a class keep the class colour, also when escaped.
    EXPECT_EQ(Classes(Search(R"([\.])")), "ccc");
    // A group inside a class is no group.
    c = Search("[(](x):1");
    EXPECT_EQ(Marks(c), "...###");
}

TEST(SearchColouring, OperatorsAndOrdinaryCharacters) {
    EXPECT_EQ(Classes(Search(".*?+|@#")), "ooooooo");
    EXPECT_EQ(Classes(Search("^$<>{}a ")), "kkkkkkkk");
    EXPECT_EQ(Classes(Search("(a)")), "gkg");
    // Text beyond the 8-bit range is ordinary text.
    EXPECT_EQ(Classes(Search(QString::fromUtf8("ä€😀"))), "kkkk");
}

TEST(SearchColouring, UnmatchedCloseWithoutSuffixMarksUpToIt) {
    EXPECT_EQ(Marks(Search("ab)c")), "###.");
    EXPECT_EQ(Search("ab)c").markEnd, 2);
    // Not when the expression begins with "(".
    EXPECT_EQ(Marks(Search("(a))b")), ".....");
    // Balanced text marks nothing.
    EXPECT_EQ(Marks(Search("a(b)c")), ".....");
    EXPECT_EQ(Marks(Search("abc")), "...");
}

TEST(SearchColouring, LoneBackslashAtTheEnd) {
    ExprColouring c = Search("ab\\");
    EXPECT_EQ(c.display, "ab\\");
    EXPECT_EQ(Classes(c), "kko");
    // Also before a suffix, which is cut off first.
    c = Search("ab\\:1");
    EXPECT_EQ(c.display, "ab\\");
    EXPECT_EQ(Classes(c), "kko");
    // "\x" with its digits cut off by the suffix reads no digit.
    c = Search(R"(\x:12)");
    EXPECT_EQ(c.display, "x");
}

TEST(RewriteColouring, ReferencesAndEscapes) {
    ExprColouring c = Rewrite(R"(\1-\t\\)");
    EXPECT_EQ(c.display, "1-t\\");
    EXPECT_EQ(Classes(c), "okek");
    EXPECT_EQ(Marks(c), "....");

    c = Rewrite(R"(\r\n\s\12\q(a)[b]*:1)");
    EXPECT_EQ(c.display, "rns12q(a)[b]*:1");
    EXPECT_EQ(Classes(c), "eeeokkkkkkkkkkk");
    EXPECT_EQ(c.group, 0);

    c = Rewrite("x\\");
    EXPECT_EQ(c.display, "x\\");
    EXPECT_EQ(Classes(c), "ko");
    EXPECT_EQ(Rewrite("").display, "");
}

TEST(Colouring, SelectedEntriesAreComplemented) {
    EXPECT_EQ(Complement(qRgb(255, 255, 175)), qRgb(0, 0, 80));
    EXPECT_EQ(Complement(qRgb(200, 150, 0)), qRgb(55, 105, 255));

    const ExprColouring plain = ColourExpression(u"(a)\\d:1", ExprSyntax::kSearch, kWhite);
    const ExprColouring selected = ColourExpression(u"(a)\\d:1", ExprSyntax::kSearch, kWhite, true);
    EXPECT_EQ(selected.display, plain.display);
    EXPECT_EQ(plain.field, kWhite);
    EXPECT_EQ(selected.field, qRgb(0, 0, 0));
    ASSERT_EQ(selected.textColours.size(), plain.textColours.size());
    for (size_t i = 0; i < plain.textColours.size(); ++i) {
        EXPECT_EQ(selected.textColours[i], Complement(plain.textColours[i]));
        EXPECT_EQ(selected.cellColours[i], Complement(plain.cellColours[i]));
    }
    EXPECT_EQ(selected.cellColours[0], qRgb(0, 0, 80));
    EXPECT_EQ(selected.cellColours[3], qRgb(0, 0, 0));

    // Rewrite entries: every cell takes the complemented field.
    const ExprColouring rewrite = ColourExpression(u"\\1x", ExprSyntax::kRewrite, qRgb(240, 240, 240), true);
    EXPECT_EQ(rewrite.field, qRgb(15, 15, 15));
    EXPECT_EQ(rewrite.cellColours, std::vector<QRgb>(2, qRgb(15, 15, 15)));
    EXPECT_EQ(rewrite.textColours[0], qRgb(55, 255, 255));
}

}  // namespace
}  // namespace quarry
