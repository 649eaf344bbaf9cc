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

enum class ExpandStatus : uint8_t {
    kDone,
    // A trailing «\», a bad numeric escape or a reference to an unset group
    // (or one outside the text): the replacement is empty.
    kFault,
    // The replacement could not be held in memory: no replacement at all, and
    // the caller must not pass its result off as whole.
    kNoMemory,
};

// Expands `rewrite` (zero-terminated) for the matching whose group table is
// `groups` (128 entries, offsets into text[0, textLength]). `out` is empty
// unless the expansion is kDone. In character mode a literal character of the
// rewrite is one piece, and case conversion works on characters.
ExpandStatus ExpandRewrite(const char* rewrite, const unsigned char* text, int32_t textLength,
                           const int32_t* groups, std::string& out,
                           TextMode mode = TextMode::kBytes);

// What makes a rewrite expression unusable whatever the matching: a command
// refuses it before it runs rather than turn every matching into nothing.
enum class RewriteFault : uint8_t {
    kNone,
    kTrailingBackslash,  // «\» as the last byte
    kBadNumericEscape,   // «\x», «\d» or «\o» without all of its digits
    kNoSuchGroup,        // «\n» with n above the expression's highest group
};

struct RewriteCheck {
    RewriteFault fault = RewriteFault::kNone;
    int32_t offset = -1;  // of the backslash that starts the faulty escape
    int group = -1;       // the group named, for kNoSuchGroup
};

// Checks a rewrite expression against an expression whose highest group
// number is highestGroup (0: only the whole matching, «\0»).
RewriteCheck CheckRewrite(const char* rewrite, int highestGroup);

// The user's words for a fault found by CheckRewrite, to follow "invalid
// rewrite expression: ".
std::string RewriteFaultText(const RewriteCheck& check);

}  // namespace quarry
