// Rewrite expansion: turns a rewrite expression and the groups of the current
// matching into replacement bytes.
#pragma once

#include <cstdint>
#include <string>

namespace quarry {

// Collects the pieces of one expansion and applies the case state to them.
class RewriteOutput {
  public:
    enum CaseBits : unsigned { kUpperAll = 1, kLowerAll = 2, kUpperNext = 4, kLowerNext = 8 };

    void AppendPiece(const unsigned char* bytes, size_t n);
    std::string& bytes() { return out_; }
    unsigned caseState = 0;

  private:
    std::string out_;
};

// Expands `rewrite` (zero-terminated) for the matching whose group table is
// `groups` (128 entries, offsets into text[0, textLength]). Returns false and
// leaves `out` empty for a trailing «\», a bad numeric escape or a reference
// to an unset group (or one outside the text).
bool ExpandRewrite(const char* rewrite, const unsigned char* text, int32_t textLength,
                   const int32_t* groups, std::string& out);

}  // namespace quarry
