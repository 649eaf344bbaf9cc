// A second matcher for the engine tests, kept deliberately plain: it walks the
// same node programs as the engine's matcher, recursing exactly where the
// matching rules recurse, with no scan shortcuts beyond the ones those rules
// name and no stack guard. The exhaustive test compares the two.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/expr_node.h"
#include "engine/matcher.h"

namespace quarry::test {

class ReferenceMatcher {
  public:
    // Same contract as ExecExpression without the stack floor: 1 or 0.
    int Exec(const ExprNode* program, const unsigned char* text, int32_t length,
             const unsigned char* from, int32_t* groups, int caseSensitive, int32_t searchLimit,
             const MatchCallbacks& callbacks = {});

    // In character mode: the first character start at or after p in
    // text[0, length).
    static const unsigned char* CharStartAtOrAfter(const unsigned char* text, int32_t length,
                                                   const unsigned char* p);

    // A bound on the nested walks of one Exec (0: none), for callers that
    // must not wait for a plain matcher's exponential cases; exhausted()
    // tells whether the last Exec ran out, and its result then means nothing.
    long walkBudget = 0;
    bool exhausted() const { return walks_ > walkBudget && walkBudget > 0; }

  private:
    int TryAt(const ExprNode* program, const unsigned char* s);
    int MatchHere(const ExprNode* node);
    int Walk(const ExprNode* node);
    bool SameByte(unsigned char a, unsigned char b) const;

    // Character mode: the characters of the text are found once per Exec by
    // decoding it from its start; charStart_[i] tells whether offset i
    // begins one (or is the text's end).
    bool CharMode() const { return !charStart_.empty(); }
    bool IsStart(const unsigned char* p) const;
    const unsigned char* NextStart(const unsigned char* p) const;  // first start after p
    const unsigned char* StartAtOrBefore(const unsigned char* p) const;
    // The value of the character at p (a start before the text's end):
    // its code point, or 0x110000 + the byte for a stray byte.
    uint32_t CharAt(const unsigned char* p) const;
    bool SameChar(uint32_t a, uint32_t b) const;
    bool WalkCharTest(const ExprNode* node);  // a character node at pos_

    // A loop node passed on the current path, with the position and case
    // state of that pass.
    struct LoopPass {
        const ExprNode* loop;
        const unsigned char* pos;
        int caseBit;
    };

    const unsigned char* textStart_ = nullptr;
    const unsigned char* pos_ = nullptr;
    const unsigned char* inputEnd_ = nullptr;
    int32_t* groups_ = nullptr;
    int caseSensitive_ = 0;
    int32_t searchLimit_ = -1;
    MatchCallbacks callbacks_;
    int lastPercent_ = 0;
    // Set when the skip over a right alternative meets a closing bracket: the
    // attempt fails as a whole, with no further backtracking.
    bool attemptFailed_ = false;
    std::vector<LoopPass> path_;
    long walks_ = 0;
    std::vector<bool> charStart_;
};

}  // namespace quarry::test
