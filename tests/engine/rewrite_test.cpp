// Rewrite expansion tests: literal bytes, escapes, group references and the
// case state, and every way an expansion fails.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/rewrite.h"
#include "test_support.h"

namespace quarry {
namespace {

using test::GroupTable;
using test::ParseGroups;
using test::Printable;

struct RewriteCase {
    std::string rewrite;
    std::string text;
    std::string groups;  // see ParseGroups
    bool ok;
    std::string output;
};

void ExpectRewrites(const std::vector<RewriteCase>& cases) {
    for (const RewriteCase& c : cases) {
        SCOPED_TRACE("«" + Printable(c.rewrite) + "» over \"" + Printable(c.text) + "\" with " +
                     c.groups);
        const GroupTable groups = ParseGroups(c.groups);
        std::string out = "stale";
        const bool ok =
            ExpandRewrite(c.rewrite.c_str(), reinterpret_cast<const unsigned char*>(c.text.data()),
                          static_cast<int32_t>(c.text.size()), groups.data(),
                          out) == ExpandStatus::kDone;
        EXPECT_EQ(ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(Printable(out), Printable(c.output));
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

// ---------------------------------------------------------------------------
// Literals and escapes
// ---------------------------------------------------------------------------

TEST(Rewrite, LiteralBytes) {
    ExpectRewrites({
        {"", "", "", true, ""},
        {"abc", "", "", true, "abc"},
        {"a b\xE4", "", "", true, "a b\xE4"},
    });
}

TEST(Rewrite, ControlByteEscapes) {
    ExpectRewrites({
        {R"(\r\n)", "", "", true, "\r\n"},
        {R"(\n)", "", "", true, "\n"},
        {R"(\a\b\t)", "", "", true, "\a\b\t"},
    });
}

TEST(Rewrite, NumericEscapes) {
    ExpectRewrites({
        {R"(\x41)", "", "", true, "A"},
        {R"(\x4a\x4A)", "", "", true, "JJ"},
        {R"(\xff)", "", "", true, "\xFF"},
        {R"(\d065)", "", "", true, "A"},
        {R"(\d321)", "", "", true, "A"},
        {R"(\d000)", "", "", true, std::string(1, '\0')},
        {R"(\d0651)", "", "", true, "A1"},
        {R"(\o101)", "", "", true, "A"},
        {R"(\o777)", "", "", true, "\xFF"},
    });
}

TEST(Rewrite, OtherEscapesAreTheByteItself) {
    // The search language's «\e», «\f», «\v», «\s», «\N», «\c» and «\C» mean
    // nothing special here.
    ExpectRewrites({
        {R"(\f\v\N\s\c\C)", "", "", true, "fvNscC"},
        {R"(\\\.\q)", "", "", true, "\\.q"},
        {R"(\e)", "", "", true, ""},
    });
}

TEST(Rewrite, BadEscapesFailTheWholeExpansion) {
    ExpectRewrites({
        {R"(abc\)", "", "", false, ""},
        {R"(\)", "", "", false, ""},
        {R"(\x4)", "", "", false, ""},
        {R"(\x4g)", "", "", false, ""},
        {R"(\x)", "", "", false, ""},
        {R"(\d06)", "", "", false, ""},
        {R"(\d06x)", "", "", false, ""},
        {R"(\d)", "", "", false, ""},
        {R"(\o8)", "", "", false, ""},
        {R"(\o108)", "", "", false, ""},
        {R"(\o10)", "", "", false, ""},
        // Everything expanded before the fault is dropped too.
        {R"(\Uabc\x4)", "", "", false, ""},
    });
}

// ---------------------------------------------------------------------------
// Checking a rewrite before a command runs
// ---------------------------------------------------------------------------

// Former fault: these rewrites expanded to nothing at every matching, so
// Replace All deleted every matching and reported success.
TEST(CheckRewrite, FindsWhatNoMatchingCanExpand) {
    struct Case {
        const char* rewrite;
        int highestGroup;
        RewriteFault fault;
        int32_t offset;
    };
    const Case cases[] = {
        {R"(\9)", 2, RewriteFault::kNoSuchGroup, 0},
        {R"(a\2=\3)", 2, RewriteFault::kNoSuchGroup, 4},
        {R"(\1)", 0, RewriteFault::kNoSuchGroup, 0},
        {R"(abc\)", 1, RewriteFault::kTrailingBackslash, 3},
        {R"(\x4)", 0, RewriteFault::kBadNumericEscape, 0},
        {R"(x\d99)", 0, RewriteFault::kBadNumericEscape, 1},
        {R"(\o8xx)", 0, RewriteFault::kBadNumericEscape, 0},
        // What can expand passes: references up to the highest group, an
        // escaped backslash before a digit, whole numeric escapes.
        {R"(\2=\1\0)", 2, RewriteFault::kNone, -1},
        {R"(\\9)", 0, RewriteFault::kNone, -1},
        {R"(\x41\d065\o101\U\E\s)", 0, RewriteFault::kNone, -1},
        {"", 0, RewriteFault::kNone, -1},
    };
    for (const Case& c : cases) {
        const RewriteCheck check = CheckRewrite(c.rewrite, c.highestGroup);
        EXPECT_EQ(check.fault, c.fault) << c.rewrite;
        EXPECT_EQ(check.offset, c.offset) << c.rewrite;
    }
    EXPECT_EQ(RewriteFaultText(CheckRewrite(R"(\9)", 2)),
              "refers to group 9 at offset 0, which the search expression does not have");
}

// ---------------------------------------------------------------------------
// Group references
// ---------------------------------------------------------------------------

TEST(Rewrite, GroupReferences) {
    const std::string text = "abcDef";
    const std::string groups = "0=0,6 1=0,3 2=3,6";
    ExpectRewrites({
        {R"(<\2>)", text, groups, true, "<Def>"},
        {R"(\1\1)", text, groups, true, "abcabc"},
        {R"(\0)", text, groups, true, "abcDef"},
        // One digit only: «\12» is group 1 followed by «2».
        {R"(\12)", text, groups, true, "abc2"},
        {R"(\9)", "xyz", "9=1,3", true, "yz"},
        // Group bytes are copied as they are, zero bytes included.
        {R"([\1])", std::string("a\0b", 3), "1=0,3", true, std::string("[a\0b]", 5)},
        // An empty group is an empty piece.
        {R"(x\3y)", text, "3=2,2", true, "xy"},
    });
}

TEST(Rewrite, UnsetGroupsFailTheWholeExpansion) {
    ExpectRewrites({
        {R"(x\2y)", "abc", "0=0,3 1=0,1", false, ""},
        {R"(x\2y)", "abc", "2=1,-1", false, ""},
        {R"(x\2y)", "abc", "2=-1,1", false, ""},
        // After a search that found nothing only references fail.
        {R"(\1)", "abc", "", false, ""},
        {R"(plain\n)", "abc", "", true, "plain\n"},
        // A reference beyond the text is refused rather than read.
        {R"(\1)", "abc", "1=1,4", false, ""},
    });
}

// ---------------------------------------------------------------------------
// Case conversion
// ---------------------------------------------------------------------------

TEST(Rewrite, CaseOfWholePieces) {
    const std::string text = "abcDef";
    const std::string groups = "1=0,3 2=3,6";
    ExpectRewrites({
        {R"(\U\1\E-\2)", text, groups, true, "ABC-Def"},
        {R"(\U\1\e-\2)", text, groups, true, "ABC-Def"},
        {R"(\L\2x)", text, groups, true, "defx"},
        {R"(\Uab\ecd)", "", "", true, "ABcd"},
        // Upper-all wins when both are set.
        {R"(\U\Labc)", "", "", true, "ABC"},
        {R"(\L\UABc)", "", "", true, "ABC"},
        // Only ASCII letters change.
        {R"(\U\1)", "\xE4z", "1=0,2", true, "\xE4Z"},
        {R"(\L\1)", "\xC4Z", "1=0,2", true, "\xC4z"},
    });
}

TEST(Rewrite, CaseOfTheNextByte) {
    ExpectRewrites({
        {R"(\L\u\1)", "HELLO", "1=0,5", true, "Hello"},
        {R"(\u\L\1)", "HELLO", "1=0,5", true, "Hello"},
        {R"(\uabc)", "", "", true, "Abc"},
        {R"(\lABC)", "", "", true, "aBC"},
        // Upper-next wins and clears; lower-next then waits for the next piece.
        {R"(\u\lAB)", "", "", true, "Ab"},
        // «\E» ends whole-piece conversion only.
        {R"(\U\u\Eab)", "", "", true, "Ab"},
        // An empty piece leaves a pending «\u» or «\l» for the next one.
        {R"(\u\3\1)", "abc", "1=0,3 3=2,2", true, "Abc"},
        {R"(\l\3X)", "abc", "3=1,1", true, "x"},
        // A pending conversion at the end has nothing to change.
        {R"(ab\u)", "", "", true, "ab"},
        {R"(\u\xE4a)", "", "", true,
         "\xE4"
         "a"},
    });
}

TEST(Rewrite, AppendPieceAppliesTheCaseState) {
    const auto* bytes = reinterpret_cast<const unsigned char*>("hELLo");
    {
        RewriteOutput out;
        out.caseState = RewriteOutput::kUpperNext | RewriteOutput::kLowerAll;
        out.AppendPiece(bytes, 0);
        EXPECT_EQ(out.caseState, RewriteOutput::kUpperNext | RewriteOutput::kLowerAll);
        EXPECT_EQ(out.bytes(), "");
        out.AppendPiece(bytes, 5);
        EXPECT_EQ(out.bytes(), "Hello");
        EXPECT_EQ(out.caseState, RewriteOutput::kLowerAll);
        out.AppendPiece(bytes + 1, 2);
        EXPECT_EQ(out.bytes(), "Helloel");
    }
    {
        RewriteOutput out;
        out.caseState = RewriteOutput::kUpperNext | RewriteOutput::kLowerNext;
        out.AppendPiece(bytes, 1);
        EXPECT_EQ(out.caseState, RewriteOutput::kLowerNext);
        out.AppendPiece(bytes + 1, 4);
        EXPECT_EQ(out.bytes(), "HeLLo");
        EXPECT_EQ(out.caseState, 0u);
    }
    {
        RewriteOutput out;
        out.caseState = RewriteOutput::kUpperAll | RewriteOutput::kLowerNext;
        out.AppendPiece(bytes, 5);
        EXPECT_EQ(out.bytes(), "hELLO");
    }
}

}  // namespace
}  // namespace quarry
