// CExpression in character mode: the mode must reach the compiler, the
// matcher and the rewrite. Faults guarded: a CExpression that compiled in
// byte mode whatever it was given («.» → «X» over «hät» gave «XXXX»), and
// one whose rewrite still converted case byte by byte.
#include <string>

#include <gtest/gtest.h>

#include "search/expression.h"
#include "search/text_buffer.h"

namespace quarry {
namespace {

std::string ReplaceAll(const char* pattern, const std::string& text, const char* rewrite,
                       TextMode mode, bool matchCase = true, bool lineMode = false) {
    CExpression expression(pattern, nullptr, mode);
    EXPECT_EQ(expression.m_nState, CExpression::kReady);
    TextBuffer input;
    EXPECT_TRUE(input.Append(text.data(), static_cast<int32_t>(text.size())));
    TextBuffer output;
    expression.ReplaceAll(input, output, rewrite, matchCase, -1, lineMode);
    return std::string(output.Data(), static_cast<size_t>(output.Length()));
}

TEST(CExpressionCharMode, ReplacesWholeCharacters) {
    EXPECT_EQ(ReplaceAll(".", "hät", "X", TextMode::kUtf8), "XXX");
    EXPECT_EQ(ReplaceAll(".", "hät", "X", TextMode::kBytes), "XXXX");
    EXPECT_EQ(ReplaceAll("[äöü]", "Größe für", "_", TextMode::kUtf8), "Gr_ße f_r");
    EXPECT_EQ(ReplaceAll("\\w+", "Binärmodus Textmodus", "<\\0>", TextMode::kUtf8, true, true),
              "<Binärmodus> <Textmodus>");
    // Stray bytes are kept, one «.» each.
    EXPECT_EQ(ReplaceAll("a.b",
                         "a\xFF"
                         "b a\xC3"
                         "b",
                         "[\\0]", TextMode::kUtf8),
              "[a\xFF"
              "b] [a\xC3"
              "b]");
}

TEST(CExpressionCharMode, CaseBlindSearchAndCaseConversion) {
    EXPECT_EQ(ReplaceAll("σας", "ΣΑΣ σας", "\\U\\0", TextMode::kUtf8, false), "ΣΑΣ ΣΑΣ");
    EXPECT_EQ(ReplaceAll("(\\w)(\\w*)", "über ärger", "\\u\\1\\2", TextMode::kUtf8), "Über Ärger");
}

}  // namespace
}  // namespace quarry
