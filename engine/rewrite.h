// Rewrite expansion: turns a rewrite expression and the groups of the current
// matching into replacement bytes.
#pragma once

#include <cstdint>
#include <string>

#include "engine/text_mode.h"

namespace quarry {

// Collects the pieces of one expansion and applies the case state to them.
class RewriteOutput {
  public:
    enum CaseBits : unsigned { kUpperAll = 1, kLowerAll = 2, kUpperNext = 4, kLowerNext = 8 };

    void AppendPiece(const unsigned char* bytes, size_t n);
    std::string& bytes() { return out_; }
    unsigned caseState = 0;
    // In character mode case conversion maps whole UTF-8 characters by
    // Unicode simple case mapping; stray bytes stay as they are.
    TextMode mode = TextMode::kBytes;

  private:
    void AppendCharPiece(const unsigned char* bytes, size_t n);
    std::string out_;
};

// Expands `rewrite` (zero-terminated) for the matching whose group table is
// `groups` (128 entries, offsets into text[0, textLength]). Returns false and
// leaves `out` empty for a trailing «\», a bad numeric escape or a reference
// to an unset group (or one outside the text). In character mode a literal
// character of the rewrite is one piece, and case conversion works on
// characters.
bool ExpandRewrite(const char* rewrite, const unsigned char* text, int32_t textLength,
                   const int32_t* groups, std::string& out, TextMode mode = TextMode::kBytes);

}  // namespace quarry
