// Compiler tests: each valid expression is checked against the listing of the
// node program it must produce, and each invalid one must yield no program.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/escapes.h"
#include "engine/expr_node.h"
#include "engine/syntax.h"
#include "test_support.h"

namespace quarry {
namespace {

using test::Printable;
using test::Program;

struct DumpCase {
    std::string expression;
    std::vector<std::string> lines;  // one per node, "END" included
};

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += '\n';
    }
    return out;
}

bool HasPartner(int16_t op) {
    return IsOperator(op) || op == NOTHING || op == JUMP || op == BRANCHEND;
}

// Checks what the listing does not show: back links, numbering, operand
// lengths and that every partner link points into the same list.
void ExpectWellFormedList(const ExprNode* first) {
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->prev, nullptr);
    std::set<const ExprNode*> members;
    for (const ExprNode* n = first; n != nullptr; n = n->next) {
        members.insert(n);
    }
    int index = 0;
    const ExprNode* last = nullptr;
    for (const ExprNode* n = first; n != nullptr; n = n->next, ++index) {
        SCOPED_TRACE("node " + std::to_string(index));
        EXPECT_EQ(n->index, index);
        if (n->next != nullptr) {
            EXPECT_EQ(n->next->prev, n);
        }
        switch (n->op) {
            case EXACTLY:
                EXPECT_EQ(n->length, 1);
                EXPECT_NE(n->link.bytes, nullptr);
                break;
            case ANYOF:
            case ANYBUT:
                EXPECT_EQ(n->length, kSetBytes);
                EXPECT_NE(n->link.bytes, nullptr);
                break;
            default:
                EXPECT_EQ(n->length, 0);
                if (HasPartner(n->op)) {
                    EXPECT_TRUE(members.count(n->link.node) == 1) << "partner outside the list";
                } else {
                    EXPECT_EQ(n->link.node, nullptr);
                }
        }
        last = n;
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->op, END);
}

void ExpectDumps(const std::vector<DumpCase>& cases) {
    for (const DumpCase& c : cases) {
        SCOPED_TRACE("expression «" + Printable(c.expression) + "»");
        Program program(c.expression);
        if (!program) {
            ADD_FAILURE() << "no program";
            continue;
        }
        EXPECT_EQ(DumpExpression(program.get()), Join(c.lines));
        ExpectWellFormedList(program.get());
    }
}

// ---------------------------------------------------------------------------
// Literals and single-node atoms
// ---------------------------------------------------------------------------

TEST(Compiler, LiteralsAndAnchors) {
    ExpectDumps({
        {"a", {"0 EXACTLY a", "1 END"}},
        // Neighbouring literals stay separate nodes.
        {"ab", {"0 EXACTLY a", "1 EXACTLY b", "2 END"}},
        {".", {"0 ANY", "1 END"}},
        {"^$<>", {"0 BOL", "1 EOL", "2 WORDSTART", "3 WORDEND", "4 END"}},
        // Bytes with no meaning of their own outside a class are literals.
        {"]-!~", {"0 EXACTLY ]", "1 EXACTLY -", "2 EXACTLY !", "3 EXACTLY ~", "4 END"}},
        {" ", {"0 EXACTLY \\x20", "1 END"}},
        {"\x7F\xE4\x01", {"0 EXACTLY \\x7F", "1 EXACTLY \\xE4", "2 EXACTLY \\x01", "3 END"}},
    });
}

// ---------------------------------------------------------------------------
// Escapes outside classes
// ---------------------------------------------------------------------------

TEST(Compiler, ControlByteEscapes) {
    ExpectDumps({
        {R"(\a)", {"0 EXACTLY \\x07", "1 END"}},
        {R"(\b)", {"0 EXACTLY \\x08", "1 END"}},
        {R"(\e)", {"0 EXACTLY \\x1B", "1 END"}},
        {R"(\f)", {"0 EXACTLY \\x0C", "1 END"}},
        {R"(\n)", {"0 EXACTLY \\x0A", "1 END"}},
        {R"(\r)", {"0 EXACTLY \\x0D", "1 END"}},
        {R"(\t)", {"0 EXACTLY \\x09", "1 END"}},
        {R"(\v)", {"0 EXACTLY \\x0B", "1 END"}},
    });
}

TEST(Compiler, NumericEscapes) {
    ExpectDumps({
        {R"(\N065)", {"0 EXACTLY A", "1 END"}},
        // Decimal and octal values wrap modulo 256.
        {R"(\N321)", {"0 EXACTLY A", "1 END"}},
        {R"(\N999)", {"0 EXACTLY \\xE7", "1 END"}},
        {R"(\N255)", {"0 EXACTLY \\xFF", "1 END"}},
        {R"(\N000)", {"0 EXACTLY \\x00", "1 END"}},
        // Exactly three digits are consumed; the fourth is a literal.
        {R"(\N0651)", {"0 EXACTLY A", "1 EXACTLY 1", "2 END"}},
        {R"(\o101)", {"0 EXACTLY A", "1 END"}},
        {R"(\o777)", {"0 EXACTLY \\xFF", "1 END"}},
        {R"(\o0101)", {"0 EXACTLY \\x08", "1 EXACTLY 1", "2 END"}},
        {R"(\x4A)", {"0 EXACTLY J", "1 END"}},
        {R"(\x4a)", {"0 EXACTLY J", "1 END"}},
        {R"(\xfF)", {"0 EXACTLY \\xFF", "1 END"}},
        {R"(\x00)", {"0 EXACTLY \\x00", "1 END"}},
        {R"(\x411)", {"0 EXACTLY A", "1 EXACTLY 1", "2 END"}},
    });
}

TEST(Compiler, SetAndCaseEscapes) {
    ExpectDumps({
        {R"(\s\S\d\D)", {"0 SPACE", "1 NSPACE", "2 DIGIT", "3 NDIGIT", "4 END"}},
        {R"(\w\W\U\L)", {"0 ALNUM", "1 NALNUM", "2 UPPER", "3 LOWER", "4 END"}},
        {R"(\C\c)", {"0 CASEON", "1 CASEOFF", "2 END"}},
    });
}

TEST(Compiler, OtherEscapesAreTheByteItself) {
    ExpectDumps({
        {R"(\.\\\()", {"0 EXACTLY .", "1 EXACTLY \\", "2 EXACTLY (", "3 END"}},
        {R"(\[\*\|\{)", {"0 EXACTLY [", "1 EXACTLY *", "2 EXACTLY |", "3 EXACTLY {", "4 END"}},
        // Letters outside the escape table, including ones the rewrite language
        // uses, and digits (there are no back-references).
        {R"(\E\u\z\1)", {"0 EXACTLY E", "1 EXACTLY u", "2 EXACTLY z", "3 EXACTLY 1", "4 END"}},
        {R"(\ )", {"0 EXACTLY \\x20", "1 END"}},
    });
}

// The fields colour escapes by the token table; the compiler must read by the
// same one. Fault guarded: a letter the compiler treats as an escape that the
// table (and so the colouring) calls plain, or the other way round.
TEST(Compiler, EscapeLettersAreThoseOfTheTokenTable) {
    std::string escapes;
    for (int c = 0; c < 128; ++c) {
        const auto b = static_cast<char>(c);
        if (!detail::IsWordByte(static_cast<unsigned char>(c))) {
            continue;
        }
        for (TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            const Program escaped(std::string{'\\', b} + "000", mode);
            const Program plain(std::string{b} + "000", mode);
            const bool itself =
                escaped && DumpExpression(escaped.get()) == DumpExpression(plain.get());
            EXPECT_EQ(!itself, syntax::EscapeOf(static_cast<unsigned char>(c)).kind !=
                                   syntax::EscapeKind::kNone)
                << "«\\" << b << "»";
        }
        if (syntax::EscapeOf(static_cast<unsigned char>(c)).kind != syntax::EscapeKind::kNone) {
            escapes += b;
        }
    }
    // The language's escape letters, as its users are told them.
    std::string documented = "abfnsSwWdDULCcrtvexNo";
    std::sort(documented.begin(), documented.end());
    EXPECT_EQ(escapes, documented);
}

// ---------------------------------------------------------------------------
// Classes
// ---------------------------------------------------------------------------

TEST(Compiler, ClassMembersAndRanges) {
    ExpectDumps({
        {"[ab]", {"0 ANYOF [ab]", "1 END"}},
        {"[abc]", {"0 ANYOF [a-c]", "1 END"}},
        {"[a-c]", {"0 ANYOF [a-c]", "1 END"}},
        {"[ca]", {"0 ANYOF [ac]", "1 END"}},
        {"[a-cx]", {"0 ANYOF [a-cx]", "1 END"}},
        {"[a-a]", {"0 ANYOF [a]", "1 END"}},
        {"[^a-z]", {"0 ANYBUT [a-z]", "1 END"}},
        // The compiler never folds a class for case.
        {"[A-C]", {"0 ANYOF [A-C]", "1 END"}},
        // «^» is a member anywhere but first.
        {"[a^]", {"0 ANYOF [^a]", "1 END"}},
        {"[^^]", {"0 ANYBUT [^]", "1 END"}},
        // Ranges compare bytes unsigned.
        {R"([\x7E-\x81])", {"0 ANYOF [~-\\x81]", "1 END"}},
        {R"([\xF0-\xFF])", {"0 ANYOF [\\xF0-\\xFF]", "1 END"}},
        {R"([\x41-\x43])", {"0 ANYOF [A-C]", "1 END"}},
        {R"([\N065-\o103])", {"0 ANYOF [A-C]", "1 END"}},
        {R"([\n\t])", {"0 ANYOF [\\x09\\x0A]", "1 END"}},
        {R"([\a\b\e\f\v\r])", {"0 ANYOF [\\x07\\x08\\x0B-\\x0D\\x1B]", "1 END"}},
        {R"([\N321])", {"0 ANYOF [A]", "1 END"}},
        {R"([A-\]])", {"0 ANYOF [A-]]", "1 END"}},
    });
}

TEST(Compiler, EmptyClasses) {
    ExpectDumps({
        {"[]", {"0 ANYOF []", "1 END"}},
        {"[^]", {"0 ANYBUT []", "1 END"}},
        // «]» right after «[» closes the class; the rest are literals.
        {"[]a]", {"0 ANYOF []", "1 EXACTLY a", "2 EXACTLY ]", "3 END"}},
        {"[^]]", {"0 ANYBUT []", "1 EXACTLY ]", "2 END"}},
    });
}

TEST(Compiler, DashAndEscapedMembers) {
    ExpectDumps({
        {"[-]", {"0 ANYOF [-]", "1 END"}},
        {"[-a]", {"0 ANYOF [-a]", "1 END"}},
        // After a closed range «-» is a member again.
        {"[a-c-e]", {"0 ANYOF [-a-ce]", "1 END"}},
        {R"([\]])", {"0 ANYOF []]", "1 END"}},
        {R"([\\])", {"0 ANYOF [\\]", "1 END"}},
        {R"([\-])", {"0 ANYOF [-]", "1 END"}},
        {R"([\^])", {"0 ANYOF [^]", "1 END"}},
        {R"([\z])", {"0 ANYOF [z]", "1 END"}},
        // Class syntax bytes outside «[...]» need no escape inside it.
        {"[(.*]", {"0 ANYOF [(*.]", "1 END"}},
    });
}

TEST(Compiler, SetEscapesInClasses) {
    ExpectDumps({
        {R"([\d])", {"0 ANYOF [0-9]", "1 END"}},
        {R"([\D])", {"0 ANYOF [\\x00-/:-\\xFF]", "1 END"}},
        {R"([\s])", {"0 ANYOF [\\x09\\x0A\\x0D\\x20]", "1 END"}},
        {R"([^\s])", {"0 ANYBUT [\\x09\\x0A\\x0D\\x20]", "1 END"}},
        {R"([\S])", {"0 ANYOF [\\x00-\\x08\\x0B\\x0C\\x0E-\\x1F!-\\xFF]", "1 END"}},
        {R"([\w])", {"0 ANYOF [0-9A-Za-z]", "1 END"}},
        {R"([\W])", {"0 ANYOF [\\x00-/:-@[-`{-\\xFF]", "1 END"}},
        {R"([\U\L])", {"0 ANYOF [A-Za-z]", "1 END"}},
        // A set escape leaves a pending range pending for the next byte.
        {R"([a-\sz])", {"0 ANYOF [\\x09\\x0A\\x0D\\x20a-z]", "1 END"}},
        {R"([a-\dz])", {"0 ANYOF [0-9a-z]", "1 END"}},
        // «-» after a set escape is a member, not a range sign.
        {R"([\d-z])", {"0 ANYOF [-0-9z]", "1 END"}},
    });
}

// ---------------------------------------------------------------------------
// Operator constructs
// ---------------------------------------------------------------------------

TEST(Compiler, EachOperatorOnOneByte) {
    ExpectDumps({
        {"a*", {"0 STAR ->3", "1 EXACTLY a", "2 JUMP ->0", "3 NOTHING ->0", "4 END"}},
        {"a@", {"0 LAZYSTAR ->3", "1 EXACTLY a", "2 JUMP ->0", "3 NOTHING ->0", "4 END"}},
        {"a+", {"0 JUMP ->2", "1 PLUS ->4", "2 EXACTLY a", "3 JUMP ->1", "4 NOTHING ->1", "5 END"}},
        {"a#",
         {"0 JUMP ->2", "1 LAZYPLUS ->4", "2 EXACTLY a", "3 JUMP ->1", "4 NOTHING ->1", "5 END"}},
        {"a?", {"0 QUEST ->2", "1 EXACTLY a", "2 NOTHING ->0", "3 END"}},
        {"a|b",
         {"0 BRANCH ->3", "1 EXACTLY a", "2 BRANCHEND ->0", "3 NOTHING ->0", "4 EXACTLY b",
          "5 END"}},
    });
}

TEST(Compiler, OperatorTakesOnlyTheLastAtom) {
    ExpectDumps({
        {"ab*",
         {"0 EXACTLY a", "1 STAR ->4", "2 EXACTLY b", "3 JUMP ->1", "4 NOTHING ->1", "5 END"}},
        {"[ab]#",
         {"0 JUMP ->2", "1 LAZYPLUS ->4", "2 ANYOF [ab]", "3 JUMP ->1", "4 NOTHING ->1", "5 END"}},
        {R"(\w@)", {"0 LAZYSTAR ->3", "1 ALNUM", "2 JUMP ->0", "3 NOTHING ->0", "4 END"}},
        {R"(x\x41?)", {"0 EXACTLY x", "1 QUEST ->3", "2 EXACTLY A", "3 NOTHING ->1", "4 END"}},
        // «?» and «|» accept operands that consume nothing.
        {"^?", {"0 QUEST ->2", "1 BOL", "2 NOTHING ->0", "3 END"}},
        {R"(\C|a)",
         {"0 BRANCH ->3", "1 CASEON", "2 BRANCHEND ->0", "3 NOTHING ->0", "4 EXACTLY a", "5 END"}},
        {"abc|def",
         {"0 EXACTLY a", "1 EXACTLY b", "2 BRANCH ->5", "3 EXACTLY c", "4 BRANCHEND ->2",
          "5 NOTHING ->2", "6 EXACTLY d", "7 EXACTLY e", "8 EXACTLY f", "9 END"}},
    });
}

TEST(Compiler, OperatorsOnGroups) {
    ExpectDumps({
        {"(ab)*",
         {"0 STAR ->6", "1 OPEN 1", "2 EXACTLY a", "3 EXACTLY b", "4 CLOSE 1", "5 JUMP ->0",
          "6 NOTHING ->0", "7 END"}},
        {"(a)+",
         {"0 JUMP ->2", "1 PLUS ->6", "2 OPEN 1", "3 EXACTLY a", "4 CLOSE 1", "5 JUMP ->1",
          "6 NOTHING ->1", "7 END"}},
        {"{ab}?",
         {"0 QUEST ->5", "1 GROUPOPEN", "2 EXACTLY a", "3 EXACTLY b", "4 GROUPCLOSE",
          "5 NOTHING ->0", "6 END"}},
        {"{a|b}*",
         {"0 STAR ->9", "1 GROUPOPEN", "2 BRANCH ->5", "3 EXACTLY a", "4 BRANCHEND ->2",
          "5 NOTHING ->2", "6 EXACTLY b", "7 GROUPCLOSE", "8 JUMP ->0", "9 NOTHING ->0", "10 END"}},
        // The operand may hold its only consuming node deep inside.
        {"(^a?)*",
         {"0 STAR ->8", "1 OPEN 1", "2 BOL", "3 QUEST ->5", "4 EXACTLY a", "5 NOTHING ->3",
          "6 CLOSE 1", "7 JUMP ->0", "8 NOTHING ->0", "9 END"}},
        {"((a)+)?",
         {"0 QUEST ->10", "1 OPEN 1", "2 JUMP ->4", "3 PLUS ->8", "4 OPEN 2", "5 EXACTLY a",
          "6 CLOSE 2", "7 JUMP ->3", "8 NOTHING ->3", "9 CLOSE 1", "10 NOTHING ->0", "11 END"}},
        {"x(a|b)+",
         {"0 EXACTLY x", "1 JUMP ->3", "2 PLUS ->11", "3 OPEN 1", "4 BRANCH ->7", "5 EXACTLY a",
          "6 BRANCHEND ->4", "7 NOTHING ->4", "8 EXACTLY b", "9 CLOSE 1", "10 JUMP ->2",
          "11 NOTHING ->2", "12 END"}},
        {"(abc)|(def)",
         {"0 BRANCH ->7", "1 OPEN 1", "2 EXACTLY a", "3 EXACTLY b", "4 EXACTLY c", "5 CLOSE 1",
          "6 BRANCHEND ->0", "7 NOTHING ->0", "8 OPEN 2", "9 EXACTLY d", "10 EXACTLY e",
          "11 EXACTLY f", "12 CLOSE 2", "13 END"}},
    });
}

TEST(Compiler, OperatorAfterOperatorAppliesToTheNothing) {
    ExpectDumps({
        {"a*?",
         {"0 STAR ->4", "1 EXACTLY a", "2 JUMP ->0", "3 QUEST ->5", "4 NOTHING ->0",
          "5 NOTHING ->3", "6 END"}},
        {"a+?",
         {"0 JUMP ->2", "1 PLUS ->5", "2 EXACTLY a", "3 JUMP ->1", "4 QUEST ->6", "5 NOTHING ->1",
          "6 NOTHING ->4", "7 END"}},
        {"a||b",
         {"0 BRANCH ->4", "1 EXACTLY a", "2 BRANCHEND ->0", "3 BRANCH ->6", "4 NOTHING ->0",
          "5 BRANCHEND ->3", "6 NOTHING ->3", "7 EXACTLY b", "8 END"}},
    });
}

TEST(Compiler, AlternationChains) {
    ExpectDumps({
        {"a|b|c",
         {"0 BRANCH ->3", "1 EXACTLY a", "2 BRANCHEND ->0", "3 NOTHING ->0", "4 BRANCH ->7",
          "5 EXACTLY b", "6 BRANCHEND ->4", "7 NOTHING ->4", "8 EXACTLY c", "9 END"}},
        {"a|b*",
         {"0 BRANCH ->3", "1 EXACTLY a", "2 BRANCHEND ->0", "3 NOTHING ->0", "4 STAR ->7",
          "5 EXACTLY b", "6 JUMP ->4", "7 NOTHING ->4", "8 END"}},
        {"(a)|b",
         {"0 BRANCH ->5", "1 OPEN 1", "2 EXACTLY a", "3 CLOSE 1", "4 BRANCHEND ->0",
          "5 NOTHING ->0", "6 EXACTLY b", "7 END"}},
        // A bar before a closing bracket compiles; its right alternative is
        // missing.
        {"(a|)",
         {"0 OPEN 1", "1 BRANCH ->4", "2 EXACTLY a", "3 BRANCHEND ->1", "4 NOTHING ->1",
          "5 CLOSE 1", "6 END"}},
        {"a|", {"0 BRANCH ->3", "1 EXACTLY a", "2 BRANCHEND ->0", "3 NOTHING ->0", "4 END"}},
    });
}

// ---------------------------------------------------------------------------
// Group numbering
// ---------------------------------------------------------------------------

TEST(Compiler, GroupsAreNumberedByTheirOpeningBracket) {
    ExpectDumps({
        {"(a)(b)",
         {"0 OPEN 1", "1 EXACTLY a", "2 CLOSE 1", "3 OPEN 2", "4 EXACTLY b", "5 CLOSE 2", "6 END"}},
        {"((a)b)",
         {"0 OPEN 1", "1 OPEN 2", "2 EXACTLY a", "3 CLOSE 2", "4 EXACTLY b", "5 CLOSE 1", "6 END"}},
        // Non-capturing groups, escaped brackets and brackets in classes take
        // no number.
        {"{(a)}(b)",
         {"0 GROUPOPEN", "1 OPEN 1", "2 EXACTLY a", "3 CLOSE 1", "4 GROUPCLOSE", "5 OPEN 2",
          "6 EXACTLY b", "7 CLOSE 2", "8 END"}},
        {R"([(]\((a))",
         {"0 ANYOF [(]", "1 EXACTLY (", "2 OPEN 1", "3 EXACTLY a", "4 CLOSE 1", "5 END"}},
    });
}

TEST(Compiler, SixtyThreeGroupsAreTheMost) {
    std::string flat;
    std::string nested;
    for (int i = 0; i < kMaxGroups; ++i) {
        flat += "(a)";
        nested += "(";
    }
    nested += "a";
    for (int i = 0; i < kMaxGroups; ++i) {
        nested += ")";
    }
    {
        Program program(flat);
        ASSERT_TRUE(program);
        const std::string dump = DumpExpression(program.get());
        EXPECT_NE(dump.find("\n186 OPEN 63\n187 EXACTLY a\n188 CLOSE 63\n189 END\n"),
                  std::string::npos);
        ExpectWellFormedList(program.get());
    }
    {
        Program program(nested);
        ASSERT_TRUE(program);
        const std::string dump = DumpExpression(program.get());
        EXPECT_NE(dump.find("\n62 OPEN 63\n63 EXACTLY a\n64 CLOSE 63\n65 CLOSE 62\n"),
                  std::string::npos);
    }
    // Non-capturing groups do not count towards the limit.
    EXPECT_TRUE(Program(std::string(40, '{') + "a" + flat));
    EXPECT_FALSE(Program(flat + "(a)"));
    EXPECT_FALSE(Program("(" + nested + ")"));
    EXPECT_FALSE(Program("(" + nested));
}

// ---------------------------------------------------------------------------
// Unmatched closing brackets and unterminated groups
// ---------------------------------------------------------------------------

TEST(Compiler, UnmatchedClosingBracketEndsTheExpression) {
    ExpectDumps({
        {"ab)cd", {"0 EXACTLY a", "1 EXACTLY b", "2 END"}},
        {"ab}cd", {"0 EXACTLY a", "1 EXACTLY b", "2 END"}},
        // What follows is not compiled, not even an invalid operator.
        {"a)*", {"0 EXACTLY a", "1 END"}},
        {"a)[", {"0 EXACTLY a", "1 END"}},
        {"(a)b)c", {"0 OPEN 1", "1 EXACTLY a", "2 CLOSE 1", "3 EXACTLY b", "4 END"}},
    });
}

TEST(Compiler, UnterminatedGroupsCloseAtTheEnd) {
    ExpectDumps({
        {"(ab", {"0 OPEN 1", "1 EXACTLY a", "2 EXACTLY b", "3 CLOSE 1", "4 END"}},
        {"{ab", {"0 GROUPOPEN", "1 EXACTLY a", "2 EXACTLY b", "3 GROUPCLOSE", "4 END"}},
        {"((a", {"0 OPEN 1", "1 OPEN 2", "2 EXACTLY a", "3 CLOSE 2", "4 CLOSE 1", "5 END"}},
        {"(a*",
         {"0 OPEN 1", "1 STAR ->4", "2 EXACTLY a", "3 JUMP ->1", "4 NOTHING ->1", "5 CLOSE 1",
          "6 END"}},
        // Either closing bracket closes either kind of group; the opening
        // bracket decides the node.
        {"(ab}", {"0 OPEN 1", "1 EXACTLY a", "2 EXACTLY b", "3 CLOSE 1", "4 END"}},
        {"{ab)", {"0 GROUPOPEN", "1 EXACTLY a", "2 EXACTLY b", "3 GROUPCLOSE", "4 END"}},
    });
}

// ---------------------------------------------------------------------------
// Invalid expressions
// ---------------------------------------------------------------------------

// Each rejection says why, so that callers can tell the user. Fault
// guarded: a failure path that returns without its reason, or with another
// path's reason.
void ExpectRejected(CompileStatus status, const std::vector<std::string>& expressions,
                    TextMode mode = TextMode::kBytes) {
    for (const std::string& e : expressions) {
        const CompileResult r = Compile(e.c_str(), mode);
        EXPECT_EQ(r.program, nullptr) << "«" << Printable(e) << "» compiled";
        FreeExpression(r.program);
        EXPECT_EQ(r.status, status) << "«" << Printable(e) << "»";
    }
}

void ExpectRejectedBothModes(CompileStatus status, const std::vector<std::string>& expressions) {
    ExpectRejected(status, expressions, TextMode::kBytes);
    ExpectRejected(status, expressions, TextMode::kUtf8);
}

TEST(Compiler, AbsentOrEmptyText) {
    EXPECT_EQ(Compile(nullptr).status, CompileStatus::kNoExpression);
    // Nothing before the first unmatched closing bracket.
    ExpectRejectedBothModes(CompileStatus::kEmpty, {"", ")", "}a"});
}

TEST(Compiler, InvalidEscapes) {
    ExpectRejectedBothModes(CompileStatus::kTrailingBackslash, {"\\", "a\\", "(a\\"});
    // Missing, cut-off or wrong digits of numeric escapes.
    ExpectRejectedBothModes(
        CompileStatus::kBadNumericEscape,
        {R"(\x)",    R"(\x4)",   R"(\xG1)",  R"(\x4G)",   R"(\x4\)",   R"(\x-1)", R"(\N)",
         R"(\N06)",  R"(\N6a5)", R"(\N06\)", R"(\o)",     R"(\o10)",   R"(\o8)",  R"(\o108)",
         R"(\o1 1)", R"([\x4])", R"([\x])",  R"([\xG1])", R"([\N06])", R"([\o9])"});
}

TEST(Compiler, InvalidClasses) {
    ExpectRejectedBothModes(CompileStatus::kUnclosedClass,
                            {"[", "[a", "[^", "[a-", "[\\", "[a\\", "[ä"});
    // Ranges left pending at «]» or running backwards.
    ExpectRejectedBothModes(CompileStatus::kBadRange, {"[a-]", "[ab-]", R"([a-\d])", R"([a-\s])",
                                                       "[z-a]", R"([\xFF-\x00])", R"([a-\]])"});
}

TEST(Compiler, InvalidOperators) {
    // Nothing before the operator.
    ExpectRejectedBothModes(CompileStatus::kMissingOperand,
                            {"*", "+", "?", "@", "#", "|", "*a", "|a", "(*a)", "a(|b)", "{?}"});
    // Loops over operands that consume nothing.
    ExpectRejectedBothModes(CompileStatus::kLoopOverNothing,
                            {"^*", "$+", "<@", ">#", R"(\C*)", R"(\c+)", R"((\C)+)", "{^$}*", "a?*",
                             "a**", "a*+", "a|*", "(a?)?*", "a|@"});
}

TEST(Compiler, EmptyGroups) {
    ExpectRejectedBothModes(CompileStatus::kEmptyGroup,
                            {"()", "{}", "(}", "{)", "a()", "(()a)", "({})", "((", "a("});
}

TEST(Compiler, TooManyGroups) {
    std::string groups;
    for (int i = 0; i < kMaxGroups; ++i) {
        groups += "(a)";
    }
    EXPECT_TRUE(Program(groups));
    ExpectRejectedBothModes(CompileStatus::kTooManyGroups, {groups + "(a)"});
}

// The offset names the construct at fault, or the end for what the end left
// open, so that a front end can point at it.
TEST(Compiler, RejectionsSayWhere) {
    struct Case {
        const char* expression;
        int32_t offset;
    };
    for (const Case& c : std::vector<Case>{{"ab*+", 3},
                                           {"ab(|c)", 3},
                                           {"ab[cd", 2},
                                           {"a[z-a]", 1},
                                           {"abc\\", 3},
                                           {"a\\x4", 1},
                                           {"a()", 2},
                                           {"a(b(", 4},
                                           {"", -1}}) {
        for (TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            const CompileResult r = Compile(c.expression, mode);
            FreeExpression(r.program);
            EXPECT_EQ(r.offset, c.offset) << "«" << c.expression << "»";
        }
    }
}

}  // namespace
}  // namespace quarry
