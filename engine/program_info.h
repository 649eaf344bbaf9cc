// What the matcher learns about a compiled program before it runs it: the
// bytes a matching can start with, a literal every matching starts with, and
// which loops repeat a single byte test. All of it is conservative: it lets
// the matcher skip work that could not succeed, never changes what it finds.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/byte_scan.h"
#include "engine/expr_node.h"
#include "engine/loop_simplify.h"

namespace quarry {

inline constexpr int kMaxBytePairs = 8;

struct ProgramInfo {
    // The program the matcher walks: the one analysed, or a simpler copy of
    // it (SimplifyLoops) held in `simplified`.
    const ExprNode* program = nullptr;
    std::shared_ptr<const SimplifiedProgram> simplified;
    // The case option the copy holds tests for (0 without case, 1 with), or
    // -1 when it serves both.
    int caseOption = -1;
    bool charMode = false;  // compiled for UTF-8 characters
    int32_t nodeCount = 0;
    int highestGroup = 0;  // highest group number the program records
    // The failure memo's loop groups: per node index, the group whose
    // loop-guard slots (loop index * 2 + case bit) belong to the memo key of
    // a walk from the node, or -1 for none. Only the passes of loops the walk
    // came from and can reach again, both without consuming, can stand at
    // its position and refuse anything within it.
    std::vector<int32_t> loopGroup;
    std::vector<std::vector<int32_t>> loopGroupSlots;
    size_t memoPassWords = 1;  // 64-bit words for the largest group
    // The program holds «\C» or «\c»: the case state may change within a run.
    bool switchesCase = false;
    // The failure memo's bit rows, one bit per failed walk at a position:
    // per node index, the first of the node's columns, or -1 for a node no
    // walk starts from (its walks go to the memo's table), and the number of
    // columns. A node has a column per case state when the program switches
    // case, times one per combination of its loop group's passes when the
    // group is small (memoFoldBits of the group, -1: not folded; then only
    // walks without passes have a column).
    std::vector<int32_t> memoColumn;
    std::vector<int8_t> memoFoldBits;
    size_t memoColumns = 0;
    // Per BRANCHEND index: where the walk goes after that left alternative,
    // the node after the right alternative (nullptr: the walk stops there);
    // attemptFails when no atom stands on the right («(a|)»): then the whole
    // attempt fails.
    struct BranchSkip {
        const ExprNode* next = nullptr;
        bool attemptFails = false;
    };
    std::vector<BranchSkip> branchSkip;
    // Per node index, for a «?» whose every choice only passes through
    // operator tails and other such «?» to one node («x+?», «b??»): that
    // node. nullptr elsewhere.
    std::vector<const ExprNode*> questSkip;
    // Per node index, for a bar or a «?» whose alternatives lead through
    // further choices (a chain of bars, «|?», «??»): the walks it comes down
    // to, `count` nodes of choiceLeaves from `first`, in the order tried,
    // each once (a walk that failed from a node at a position fails again
    // there); nullptr, always last, where the attempt ends (a missing
    // alternative). Count 0 elsewhere.
    struct Span {
        int32_t first = 0;
        int32_t count = 0;
    };
    std::vector<Span> choiceSpan;
    std::vector<const ExprNode*> choiceLeaves;
    // No walk from the start reaches END through a node that held because
    // the input ended there («$», «>»): then a walk that fails with some
    // input end also fails with every lower one.
    bool endMonotone = false;
    // The same for whole attempts from the start, where an end test inside
    // a «?» whose operand only tests («$?», «(>)?») does not count:
    // the attempt that took it could pass it by at the same place and go on
    // alike. A walk from inside the «?» has no such choice, so the memo
    // keeps to endMonotone.
    bool attemptEndMonotone = false;

    // Per case option, a kind for every byte: bytes of one kind pass and fail
    // each of the program's tests alike (and are word bytes alike, where it
    // tests word boundaries), so a walk cannot tell them apart. -1 for CR and
    // LF, and in character mode for the bytes above 0x7F, which are of no
    // kind. An attempt whose input from the byte before its start to its end
    // holds bytes of one kind only, with a search limit ending it before its
    // line does, walks as the attempt one byte later does.
    std::array<std::array<int16_t, 256>, 2> byteKind{};

    // The program begins with «^», so it can only match at the text start.
    bool anchored = false;
    // Every walk to END passes a «^» that does not begin the program
    // («.*^a», «{x*|a*}^»): a matching can only start at the text start too.
    bool caretRequired = false;
    // Per case option: a walk has no choice that can matter, as it holds
    // only byte, character and zero-width tests, groups passed once and
    // greedy loops over one test that give nothing back (possessiveLoop).
    // The matcher then walks it straight through, without nested walks.
    std::array<bool, 2> straight{};
    // «(int)|(char)|…»: a chain of alternatives, each only literal bytes,
    // bare or in a group (0: none or not capturing). The matcher compares
    // them in turn.
    struct LiteralAlternative {
        std::string bytes;
        int32_t group = 0;
    };
    std::vector<LiteralAlternative> literalAlternatives;  // empty: another program
    // Some walk may reach END without consuming a byte: then a matching can
    // start anywhere, also where no byte remains.
    bool canMatchEmpty = true;
    // The fewest bytes a matching can take (INT32_MAX when none can reach
    // END): with a search limit below it no attempt can match.
    int32_t shortestMatching = 0;
    // Per case option of the run (0: case ignored, 1: case matters), 1 for
    // every byte a matching can begin with; meaningful without canMatchEmpty.
    std::array<std::array<uint8_t, 256>, 2> firstBytes{};
    std::array<int, 2> firstByteCount{};
    // The admitted bytes themselves when there are at most six, and whether
    // they form one range from the first to the last.
    std::array<std::array<unsigned char, 6>, 2> firstByteList{};
    std::array<bool, 2> firstBytesOneRange{};
    // Without empty matchings: for each byte a matching can begin with, the
    // 256-bit set of bytes that can follow it (indexed by that first byte).
    // Pairs are far rarer than single bytes when many first bytes are
    // admitted («(if)|(else)|(for)|…»), so a scan tests both.
    // secondIndex maps an admitted first byte to its set in secondBytes.
    std::array<bool, 2> secondBytesKnown{};
    std::array<std::array<uint8_t, 256>, 2> secondIndex{};
    std::array<std::vector<std::array<uint8_t, 32>>, 2> secondBytes;
    std::array<std::array<unsigned char, 2>, 2> firstByteRange{};
    // With second bytes known: all (first byte, following byte) pairs when
    // there are at most kMaxBytePairs of them (count 0: too many).
    std::array<int, 2> bytePairCount{};
    std::array<std::array<std::array<unsigned char, 2>, kMaxBytePairs>, 2> bytePairs{};
    // Without empty matchings, per case option, when every consuming node a
    // matching can begin with is a literal (bytes, or a character): a scan
    // for the set of those literals, each taken together with the literals
    // right after it (width 0: no such scan).
    std::array<detail::LiteralSetScan, 2> literalSet{};
    // Every matching ends at the input end («…$») with a byte of lastBytes
    // (a 256-bit set per case option): a line whose last byte is none of
    // them holds no matching, unless the search limit ends an attempt
    // before the line does.
    bool lastBytesKnown = false;
    std::array<std::array<uint8_t, 32>, 2> lastBytes{};
    // The literal bytes every matching begins with (the leading EXACTLY
    // nodes), compared with the run's case option.
    std::string prefix;

    // Literal bytes that every matching contains in this order, one after
    // the other (the longest such run outside loops, options and
    // alternatives), compared with case; empty when there is none. Where
    // the program switches case itself, only bytes that no case option
    // changes (one-byte classes) count.
    std::string requiredLiteral;
    // A set of bytes scanned for: its table, and its bytes when there are
    // at most six, for a vector scan (setCount 0 otherwise).
    struct ByteClass {
        bool known = false;
        std::array<uint8_t, 256> bytes{};
        int setCount = 0;
        std::array<unsigned char, 6> set{};
    };
    // With no required literal: a class that every matching passes at the
    // top level after its first test (the bytes it takes as written, whatever
    // the case option; for a character test, the bytes its characters can
    // begin with). A line without any of them holds no matching. Chosen when
    // its bytes are few and rare, or for any size when attempts may be
    // costly (loops nest, or the program can tell where its input ends).
    ByteClass requiredClass;
    // With a required literal: such a class as well, chosen alike, which a
    // matching also passes within its line and the search limit
    // («(\w+)+a\d» over text full of «a» and without a digit).
    ByteClass alsoRequired;
    // Per case option, every byte the nodes before the required literal (or
    // class) can take; requiredRunKnown when the literal begins with none of
    // them: then a matching starts within the run of such bytes that ends at
    // the literal.
    bool requiredRunKnown = false;
    std::array<std::array<uint8_t, 256>, 2> requiredRunBytes{};
    // Both prepared for a scan that ignores case.
    detail::FoldedLiteral prefixFolded;
    detail::FoldedLiteral requiredFolded;
    // And for a scan with case.
    detail::FoldedLiteral prefixExact;
    detail::FoldedLiteral requiredExact;
    // Neither holds an ASCII letter, so the case option does not matter.
    bool prefixWithoutLetters = false;
    bool requiredWithoutLetters = false;

    // Character mode, case ignored, when the literal characters a matching
    // begins with hold a non-ASCII one, or one whose folding leaves ASCII
    // («k», «s») and the prefix is too short to scan for: places of them at
    // fixed distances in every case variant, each with the bytes the variants
    // have there (no sets: no such scan). Variants of earlier characters may
    // differ in length, so the places begin from charLiteralLead[0] to
    // charLiteralLead[1] bytes after the matching start.
    detail::ByteSetLiteral charLiteral;
    std::array<size_t, 2> charLiteralLead{};

    // A greedy or lazy loop over one byte (or character) test that the
    // program begins with (after group openings only), or nullptr. An attempt
    // there that fails has tried the loop's continuation after every byte
    // (character) of the loop's run, so later starts inside the run fail too.
    const ExprNode* leadingLoop = nullptr;
    // With a leading loop, per case option: the bytes its operand takes, and
    // the bytes its continuation's first byte test admits, if it has one.
    bool leadingNextTested = false;
    // The continuation holds at the input end only («\w+$»): it admits no
    // byte, and an attempt can only match where the loop's run reaches the
    // attempt's input end.
    bool leadingNextAtEnd = false;
    // The required literal stands right after the leading loop: then a
    // matching starts within the run of loop bytes that ends at the literal.
    bool requiredFollowsLeadingLoop = false;
    // The leading loop repeats a character test: its run bytes then hold
    // only the ASCII characters it takes, and a run that stops at another
    // byte may go on.
    bool leadingCharLoop = false;
    std::array<std::array<uint8_t, 256>, 2> leadingRunBytes{};
    std::array<std::array<uint8_t, 256>, 2> leadingNextBytes{};

    // Per node index: 1 for loop nodes whose operand is a single byte (or
    // character) test
    // (the matcher runs those in a loop of its own: greedy ones without
    // nesting once per repetition, lazy ones without a walk per byte).
    std::vector<uint8_t> byteLoop;
    // Per node index: for a greedy loop whose operand is a row of copies of
    // one test («{\w\w}*», «(\w\w)*», «(x)*»), the row's length (else 0),
    // the group its brackets capture (else 0), and its slot among such loops
    // (else -1); `rowLoops` of them. The matcher takes the passes of such a
    // loop as whole rows of the test's run.
    std::vector<uint8_t> loopRow;
    std::vector<uint8_t> rowGroup;
    std::vector<int32_t> rowSlot;
    int32_t rowLoops = 0;
    // Per node index, for the character test such a loop or a row loop
    // repeats (other than a literal, whose test depends on the case option):
    // bit c of the 128 set when the ASCII character c passes it, so that a
    // run over ASCII text is measured a byte at a time without decoding.
    // Zero elsewhere.
    std::vector<std::array<uint64_t, 2>> asciiTakes;
    // Per node index: for a greedy loop outside other loops whose passes
    // hold no case switch and at most kMaxChainInner loops (and that is not
    // a single-test or row loop), its slot among such loops, else -1;
    // `chainLoops` of them, in a program with a missing alternative whose
    // walks cannot fail for a higher input end after holding for a lower one
    // (endMonotone). In an attempt cut by the search limit, the matcher takes
    // a pass of such a loop that ended the attempt at a missing alternative
    // through a later pass, without meeting the input end on the way, as
    // leading there again for any higher end (see ChainedLoop).
    // `chainInner`, per slot: the loop nodes within its passes, whose guards
    // are part of where a pass leads. `chainRewalk`: some such loop's passes
    // record groups, which a matching found through such a shortcut leaves
    // unwritten.
    std::vector<int32_t> chainSlot;
    std::vector<std::vector<int32_t>> chainInner;
    int32_t chainLoops = 0;
    bool chainRewalk = false;
    // Per node index: which of the ways above the matcher takes an operator
    // node in (kWalk… bits), so that it looks them up with one load.
    std::vector<uint8_t> walkKind;
    // Per case option and node index: 1 for a greedy single-test loop whose
    // continuation must consume first and cannot begin with a byte the loop
    // takes. Giving back part of its run then cannot help (the continuation
    // would begin on a run byte), so only the whole run is tried.
    std::array<std::vector<uint8_t>, 2> possessiveLoop;
    // Per node index: the consuming node a walk from there must match first,
    // reached through nodes that test nothing (jumps, brackets), or nullptr.
    // A walk whose first byte test fails need not be started.
    std::vector<const ExprNode*> firstTest;
    // Likewise the loop node a walk from there meets first, or nullptr. A
    // walk that meets a loop at the position of the loop's latest pass on
    // the path fails there, and need not be started either.
    std::vector<const ExprNode*> firstLoop;
};

// ProgramInfo::walkKind bits.
constexpr uint8_t kWalkSingleLoop = 1;  // byteLoop
constexpr uint8_t kWalkRowLoop = 2;     // loopRow
constexpr uint8_t kWalkChainLoop = 4;   // chainSlot
constexpr uint8_t kWalkChoices = 8;     // choiceSpan
constexpr uint8_t kWalkQuestSkip = 16;  // questSkip

// The longest row of tests a loop's passes are taken as rows of.
constexpr int kMaxRow = 8;
// The most loops a chained loop's passes may hold (ProgramInfo::chainSlot).
constexpr size_t kMaxChainInner = 16;

// The test that a row loop's operand repeats (ProgramInfo::loopRow).
inline const ExprNode* RowTest(const ExprNode* loop) {
    return IsOpeningBracket(loop->next->op) ? loop->next->next : loop->next;
}

// Analyses a program (which may be nullptr: then nothing can match). With
// `simplify` false the matcher walks the program as compiled, loops that
// SimplifyLoops would take out included. `caseOption` (0 without case, 1
// with, -1 either) is the option the matcher will run the program with; the
// simpler copy may hold tests made for it (then info.caseOption says so).
ProgramInfo AnalyseProgram(const ExprNode* program, bool simplify = true, int caseOption = -1);

}  // namespace quarry
