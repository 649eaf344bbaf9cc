// Compares the engine's matcher with the reference matcher on every
// expression built from a small set of pieces, over every short text from a
// small byte alphabet, with both case options and several search limits.
// The result and all 128 group entries must agree. The engine passes over
// start positions that cannot begin a matching, so it may poll and report
// progress less often: it must never poll more, and its percentages must rise
// and be ones the reference reports too. A cancelled run may end without a
// matching, never with a different one.
#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "reference_matcher.h"
#include "test_support.h"
#include "tests/support/slow_build.h"

namespace quarry {
namespace {

using test::FormatGroups;
using test::Printable;
using test::ReferenceMatcher;

// Atoms cover every node kind the matcher treats differently, groups whose
// operand can match the empty string (one of them switching case), a
// missing right alternative, a class of one byte (a required literal), one
// of two (a required class) and a loop that a suffix makes a loop of loops
// (with which any class every matching passes is required).
const std::vector<std::string> kAtoms = {
    "a", "A", "b",     ".",     "(a)",  "{ab}", "[ab]",      R"(\w)", "^",    "$",
    "<", ">", R"(\C)", R"(\c)", "(a?)", "{a|}", R"({\c|a})", "[ ]",   "[ A]", "{a*}",
};
// The three-piece run leaves out atoms whose behaviour the others already
// show («A», «[ab]», «\w» and «>»), to stay within its time.
const std::vector<std::string> kShortAtoms = {
    "a", "b", ".", "(a)", "{ab}", "^", "$", "<", R"(\C)", R"(\c)", "(a?)", "{a|}", R"({\c|a})",
};
const std::vector<std::string> kSuffixes = {"", "*", "+", "?", "@", "#", "|"};
// An operator after an operator applies to the first one's NOTHING; a second
// bar makes the skip start elsewhere than the BRANCHEND's successor.
const std::vector<std::string> kDoubleSuffixes = {"||", "?|", "|?", "*?", "@|", "#?"};
// Space stands for every byte that is white space and no word byte (CR and
// LF behave alike for these atoms).
const std::string kAlphabet = "aAb ";
// For line mode: both line-break bytes, so that lines, empty lines and CR LF
// pairs all occur.
const std::string kLineAlphabet = "aA \r\n";

struct Observed {
    int result = 0;
    std::array<int32_t, kGroupSlots> groups{};
    // Room for each percentage once (a run over lines may report more: those
    // are only counted).
    std::array<int, 101> percents{};
    int reports = 0;
    int polls = 0;

    bool operator==(const Observed&) const = default;
};

struct Recorder {
    Observed* observed;
    int stopAtPoll = 0;  // 0: always go on; n: the n-th poll cancels
    static bool Poll(void* user) {
        auto* self = static_cast<Recorder*>(user);
        ++self->observed->polls;
        return self->stopAtPoll == 0 || self->observed->polls < self->stopAtPoll;
    }
    static void Progress(void* user, int percent) {
        Observed* o = static_cast<Recorder*>(user)->observed;
        if (o->reports < static_cast<int>(o->percents.size())) {
            o->percents[o->reports] = percent;
        }
        ++o->reports;
    }
    MatchCallbacks Callbacks() {
        MatchCallbacks callbacks;
        callbacks.cancelPoll = &Poll;
        callbacks.progress = &Progress;
        callbacks.user = this;
        return callbacks;
    }
};

// Every text of up to maxLength pieces, each piece a token.
std::vector<std::string> TextsOfTokens(size_t maxLength, const std::vector<std::string>& tokens) {
    std::vector<std::string> texts = {""};
    size_t begin = 0;
    for (size_t length = 1; length <= maxLength; ++length) {
        const size_t end = texts.size();
        for (size_t i = begin; i < end; ++i) {
            for (const std::string& token : tokens) {
                texts.push_back(texts[i] + token);
            }
        }
        begin = end;
    }
    return texts;
}

std::vector<std::string> TextsUpTo(size_t maxLength, const std::string& alphabet = kAlphabet) {
    std::vector<std::string> tokens;
    for (char c : alphabet) {
        tokens.emplace_back(1, c);
    }
    return TextsOfTokens(maxLength, tokens);
}

// Pieces are atoms with an optional operator; those that cannot compile on
// their own are left out, as every sequence containing them would be invalid.
std::vector<std::string> ValidPieces(const std::vector<std::string>& atoms,
                                     const std::vector<std::string>& suffixes,
                                     TextMode mode = TextMode::kBytes) {
    std::vector<std::string> pieces;
    for (const std::string& atom : atoms) {
        for (const std::string& suffix : suffixes) {
            const std::string piece = atom + suffix;
            ExprNode* program = CompileExpression(piece.c_str(), mode);
            if (program != nullptr) {
                pieces.push_back(piece);
                FreeExpression(program);
            }
        }
    }
    return pieces;
}

std::string Describe(const Observed& o) {
    std::string out = "result " + std::to_string(o.result) + ", groups " +
                      FormatGroups(o.groups.data()) + ", progress [";
    for (int i = 0; i < o.reports && i < static_cast<int>(o.percents.size()); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += std::to_string(o.percents[i]);
    }
    return out + "], polls " + std::to_string(o.polls);
}

class Comparison {
  public:
    explicit Comparison(std::vector<int> limits, std::vector<int> stops = {0},
                        bool lineMode = false, TextMode mode = TextMode::kBytes)
        : limits_(std::move(limits)), stops_(std::move(stops)), lineMode_(lineMode), mode_(mode) {}

    // Runs one expression over every text, case option and limit, starting
    // at the text start, or with allStarts at every later position too.
    void Run(const std::string& expression, const std::vector<std::string>& texts,
             bool allStarts = false) {
        ExprNode* program = CompileExpression(expression.c_str(), mode_);
        if (program == nullptr) {
            return;
        }
        ++expressions_;
        // Analysed once per case option, as a search holds it: the bare
        // ExecExpression would analyse it again for every text, start, case
        // and limit, which took most of the time.
        const ProgramInfo infos[2] = {AnalyseProgram(program, true, 0),
                                      AnalyseProgram(program, true, 1)};
        for (const std::string& text : texts) {
            const size_t lastStart = allStarts ? text.size() : 0;
            for (size_t from = allStarts ? 1 : 0; from <= lastStart; ++from) {
                for (int caseSensitive = 0; caseSensitive <= 1; ++caseSensitive) {
                    for (int limit : limits_) {
                        for (int stop : stops_) {
                            Compare(program, infos[caseSensitive], expression, text, from,
                                    caseSensitive, limit, stop);
                        }
                    }
                }
            }
        }
        FreeExpression(program);
    }

    void Report() const {
        EXPECT_GT(expressions_, 0);
        EXPECT_GT(cases_, 0);
        ::testing::Test::RecordProperty("expressions", expressions_);
        ::testing::Test::RecordProperty("cases", static_cast<int>(cases_));
        if (differences_ == 0) {
            return;
        }
        std::string message = std::to_string(differences_) + " of " + std::to_string(cases_) +
                              " cases differ; the first ones:\n";
        for (const std::string& r : reports_) {
            message += r + "\n";
        }
        ADD_FAILURE() << message;
    }

  private:
    // The reference walks the program as compiled, the engine what its
    // analysis made of it.
    void Compare(const ExprNode* program, const ProgramInfo& info, const std::string& expression,
                 const std::string& text, size_t from, int caseSensitive, int limit, int stop) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const auto length = static_cast<int32_t>(text.size());
        Observed engine;
        Observed reference;
        Recorder engineRecorder{&engine, stop};
        Recorder referenceRecorder{&reference, 0};
        engine.result = ExecExpression(info, bytes, length, bytes + from, engine.groups.data(),
                                       caseSensitive, limit, lineMode_, engineRecorder.Callbacks());
        if (lineMode_) {
            reference.result =
                ReferenceLines(program, bytes, length, bytes + from, reference.groups.data(),
                               caseSensitive, limit, referenceRecorder.Callbacks());
        } else {
            reference.result =
                reference_.Exec(program, bytes, length, bytes + from, reference.groups.data(),
                                caseSensitive, limit, referenceRecorder.Callbacks());
        }
        ++cases_;
        if (Agrees(engine, reference, stop != 0, lineMode_)) {
            return;
        }
        ++differences_;
        if (reports_.size() < 25) {
            reports_.push_back("«" + expression + "» on \"" + Printable(text) + "\" from " +
                               std::to_string(from) + " case " + std::to_string(caseSensitive) +
                               " limit " + std::to_string(limit) + " cancel at poll " +
                               std::to_string(stop) + (lineMode_ ? " line mode" : "") +
                               (mode_ == TextMode::kUtf8 ? " characters" : "") + ":\n  engine    " +
                               Describe(engine) + "\n  reference " + Describe(reference));
        }
    }

    // In line mode each line's percentages start afresh, so they need not rise.
    static bool Agrees(const Observed& engine, const Observed& reference, bool cancelled,
                       bool lineMode) {
        bool same = engine.result == reference.result && engine.groups == reference.groups;
        if (!same && cancelled && engine.result == kNoMatch) {
            same = std::all_of(engine.groups.begin(), engine.groups.end(),
                               [](int32_t g) { return g == -1; });
        }
        if (!same || engine.polls > reference.polls || engine.reports > reference.reports) {
            return false;
        }
        const int shown = std::min(engine.reports, static_cast<int>(engine.percents.size()));
        const int shownByReference =
            std::min(reference.reports, static_cast<int>(reference.percents.size()));
        for (int i = 0; i < shown; ++i) {
            if (!lineMode && i > 0 && engine.percents[i] <= engine.percents[i - 1]) {
                return false;
            }
            const auto* last = reference.percents.begin() + shownByReference;
            if (std::find(reference.percents.begin(), last, engine.percents[i]) == last) {
                return false;
            }
        }
        return true;
    }

    // The line-by-line search with the reference matcher: every run of bytes
    // other than CR and LF is searched on its own, as if the input ended there.
    int ReferenceLines(const ExprNode* program, const unsigned char* text, int32_t length,
                       const unsigned char* from, int32_t* groups, int caseSensitive, int limit,
                       const MatchCallbacks& callbacks) {
        const unsigned char* end = text + length;
        const unsigned char* p = from;
        if (program->mode == TextMode::kUtf8) {
            p = ReferenceMatcher::CharStartAtOrAfter(text, length, from);
        }
        auto isBreak = [](unsigned char c) { return c == '\r' || c == '\n'; };
        std::fill(groups, groups + kGroupSlots, -1);
        bool firstLine = true;
        while (p < end) {
            while (p < end && isBreak(*p)) {
                ++p;
            }
            if (p >= end) {
                break;
            }
            // The search polls once more before each further line.
            if (!firstLine && !callbacks.cancelPoll(callbacks.user)) {
                return 0;
            }
            firstLine = false;
            const unsigned char* q = p;
            while (q < end && !isBreak(*q)) {
                ++q;
            }
            if (reference_.Exec(program, text, static_cast<int32_t>(q - text), p, groups,
                                caseSensitive, limit, callbacks) == 1) {
                return 1;
            }
            p = q;
        }
        return 0;
    }

    std::vector<int> limits_;
    std::vector<int> stops_;
    bool lineMode_;
    TextMode mode_;
    ReferenceMatcher reference_;
    int expressions_ = 0;
    long cases_ = 0;
    long differences_ = 0;
    std::vector<std::string> reports_;
};

// Slow builds take every sixth first piece: the same kinds of cases in about
// a sixth of the time.
std::vector<std::string> FirstPieces(const std::vector<std::string>& pieces) {
    if (!QUARRY_SLOW_BUILD) {
        return pieces;
    }
    std::vector<std::string> some;
    for (size_t i = 0; i < pieces.size(); i += 6) {
        some.push_back(pieces[i]);
    }
    return some;
}

TEST(Exhaustive, OneAndTwoPiecesOverTextsUpToFourBytes) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(4);
    Comparison comparison({-1, 0, 1, 2});
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, OneAndTwoPiecesFromLaterStartPositions) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(3);
    Comparison comparison({-1, 1});
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts, true);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts, true);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, CancelledRuns) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(3);
    Comparison comparison({-1, 1}, {1, 2, 3});
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, DoubleOperatorsOverTextsUpToThreeBytes) {
    const std::vector<std::string> single = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> doubled = ValidPieces(kAtoms, kDoubleSuffixes);
    const std::vector<std::string> texts = TextsUpTo(3);
    Comparison comparison({-1, 0, 1, 2});
    for (const std::string& p : FirstPieces(doubled)) {
        comparison.Run(p, texts);
        for (const std::string& q : single) {
            comparison.Run(p + q, texts);
            comparison.Run(q + p, texts);
        }
        for (const std::string& q : doubled) {
            comparison.Run(p + q, texts);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, ThreePiecesOverTextsUpToTwoBytes) {
    const std::vector<std::string> pieces = ValidPieces(kShortAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(2);
    Comparison comparison({-1, 1});
    for (const std::string& p : FirstPieces(pieces)) {
        for (const std::string& q : pieces) {
            for (const std::string& r : pieces) {
                comparison.Run(p + q + r, texts);
            }
        }
    }
    comparison.Report();
}

// --- the failure memo ---
// Remembering failed walks must never change a result. Forcing the memo on
// from an attempt's first walk puts it under every case above.

// tiny: the memo's bit set and table are capped so small that they forget
// and start over all the time, as a search over a long text does at its caps.
class ForcedFailureMemo {
  public:
    explicit ForcedFailureMemo(bool tiny = false)
        : savedThreshold_(CurrentMatchContext().memoThreshold),
          savedBits_(CurrentMatchContext().failures.bitsCap),
          savedTable_(CurrentMatchContext().failures.tableCap) {
        CurrentMatchContext().memoThreshold = 0;
        if (tiny) {
            CurrentMatchContext().failures.bitsCap = 16;
            CurrentMatchContext().failures.tableCap = 512;
        }
    }
    ~ForcedFailureMemo() {
        CurrentMatchContext().memoThreshold = savedThreshold_;
        CurrentMatchContext().failures.bitsCap = savedBits_;
        CurrentMatchContext().failures.tableCap = savedTable_;
    }

  private:
    uint32_t savedThreshold_;
    size_t savedBits_;
    size_t savedTable_;
};

TEST(Exhaustive, FailureMemoOverOneAndTwoPiecesFromEveryStart) {
    ForcedFailureMemo memo;
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(4);
    Comparison comparison({-1, 2});
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts, true);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts, true);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, FailureMemoOverDoubleOperatorsAndThreePieces) {
    ForcedFailureMemo memo;
    const std::vector<std::string> single = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> doubled = ValidPieces(kAtoms, kDoubleSuffixes);
    const std::vector<std::string> shortPieces = ValidPieces(kShortAtoms, kSuffixes);
    Comparison comparison({-1, 1});
    for (const std::string& p : FirstPieces(doubled)) {
        for (const std::string& q : single) {
            comparison.Run(p + q, TextsUpTo(3));
            comparison.Run(q + p, TextsUpTo(3));
        }
    }
    for (const std::string& p : FirstPieces(shortPieces)) {
        for (const std::string& q : shortPieces) {
            for (const std::string& r : shortPieces) {
                comparison.Run(p + q + r, TextsUpTo(2));
            }
        }
    }
    comparison.Report();
}

// Longer texts give the memo positions to share between attempts; random
// expressions of up to five pieces over random texts of up to 12 bytes.
void CompareOnRandomTexts(uint32_t seed, bool lineMode = false) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::string alphabet = lineMode ? kLineAlphabet : kAlphabet;
    std::mt19937 random(seed);
    Comparison comparison({-1, 3}, {0}, lineMode);
    for (int i = 0; i < (QUARRY_SLOW_BUILD ? 6000 : 20000); ++i) {
        std::string expression;
        const int count = 2 + static_cast<int>(random() % 4);
        for (int k = 0; k < count; ++k) {
            expression += pieces[random() % pieces.size()];
        }
        std::vector<std::string> texts;
        for (int t = 0; t < 4; ++t) {
            std::string text(random() % 13, ' ');
            for (char& ch : text) {
                ch = alphabet[random() % alphabet.size()];
            }
            texts.push_back(text);
        }
        comparison.Run(expression, texts, true);
    }
    comparison.Report();
}

TEST(Exhaustive, FailureMemoOnLongerRandomTexts) {
    ForcedFailureMemo memo;
    CompareOnRandomTexts(20261207);
}

TEST(Exhaustive, FailureMemoAtItsCapsOnLongerRandomTexts) {
    ForcedFailureMemo memo(true);
    CompareOnRandomTexts(20261208);
}

// Attempts under a search limit taken in blocks that share a wider input end
// from the first start on, with the memo off.
TEST(Exhaustive, BlocksOfStartsWithoutTheMemoOnLongerRandomTexts) {
    MatchContext& m = CurrentMatchContext();
    const uint32_t savedThreshold = m.memoThreshold;
    const uint64_t savedBlocks = m.blockThreshold;
    m.memoThreshold = UINT32_MAX;
    m.blockThreshold = 0;
    CompareOnRandomTexts(20261209);
    m.memoThreshold = savedThreshold;
    m.blockThreshold = savedBlocks;
}

// Limited attempts once the memo is on begin without it and remember from
// their third walk on, and a block whose wide attempt ended at a missing
// alternative leaves the rest of its starts to limited attempts alone.
TEST(Exhaustive, LimitedAttemptsThatRememberPartWayOnLongerRandomTexts) {
    MatchContext& m = CurrentMatchContext();
    const uint32_t savedThreshold = m.memoThreshold;
    const uint64_t savedBlocks = m.blockThreshold;
    const uint32_t savedCutShort = m.wideCutShortMost;
    m.memoThreshold = 2;
    m.blockThreshold = 0;
    m.wideCutShortMost = 1;
    m.limitedMemoAlwaysLate = true;
    CompareOnRandomTexts(20261210);
    m.memoThreshold = savedThreshold;
    m.blockThreshold = savedBlocks;
    m.wideCutShortMost = savedCutShort;
    m.limitedMemoAlwaysLate = false;
}

// End tests and what may follow them, under limits whose blocks of starts
// share a wider end from the first start on: a program that counts as
// failing at every lower end once it fails at one («$<» holds nowhere) skips
// the limited attempt after a failed wide one, so counting one that may hold
// at the end («$<?», «>{<|a}», «(a|<)$») as such loses matchings at the
// cut (1,364 differences when «?» and «|» after «$» count as a word start).
// The random pieces seldom put an end test and a word test side by side,
// nor a byte or a second end test after an end test, which decide whether
// the later one can be reached where the input ends (4,028 differences when
// «>» is taken to hold only at the input end). An optional end test lets
// an attempt that fails with some end fail with every lower one, but not a
// walk from inside it: the memo must forget what the wide attempts found
// (24,212 differences when it keeps it).
TEST(Exhaustive, EndTestsBeforeWordTestsUnderBlocksOfStarts) {
    MatchContext& m = CurrentMatchContext();
    const uint64_t savedBlocks = m.blockThreshold;
    m.blockThreshold = 0;
    std::mt19937 random(20261213);
    for (const bool memoOn : {false, true}) {
        std::optional<ForcedFailureMemo> memo;
        if (memoOn) {
            memo.emplace();
        }
        for (const TextMode mode : {TextMode::kBytes, TextMode::kUtf8}) {
            for (const bool lineMode : {false, true}) {
                Comparison comparison({1, 2, 3}, {0}, lineMode, mode);
                const std::string& alphabet = lineMode ? kLineAlphabet : kAlphabet;
                std::vector<std::string> texts;
                for (int t = 0; t < (QUARRY_SLOW_BUILD ? 8 : 24); ++t) {
                    std::string text(1 + random() % 12, ' ');
                    for (char& ch : text) {
                        ch = alphabet[random() % alphabet.size()];
                    }
                    texts.push_back(text);
                }
                for (const char* before : {"", "a", "\\w+", "(\\w+)+", ".*", "b?(a)*", "\\w*<",
                                           "(a|<)", "(\\w+|<)", "a<?", "\\w>", "a>?", "<\\w"}) {
                    for (const char* end : {"$", ">", "$?", "(>)?", "{>$}?", "(($))?"}) {
                        for (const char* after :
                             {"", "<", ">", "$", "(<)", "<?", "{<|a}", "<a", "\\W", "$?", "a?",
                              "\\W$", "b+>", "{$|a}>", "<?$", ">?\\W"}) {
                            const std::string expression = std::string(before) + end + after;
                            comparison.Run(expression, texts);
                            comparison.Run(expression, texts, true);
                        }
                    }
                }
                comparison.Report();
            }
        }
    }
    m.blockThreshold = savedBlocks;
}

// Texts of long runs of bytes, some of which only the case option, a class
// or a word boundary tells apart, under limits short enough that the
// attempts of one run are moved copies of each other (ProgramInfo::byteKind).
void CompareAlongRuns(uint32_t seed, const std::vector<std::string>& pieces,
                      const std::vector<std::string>& runTokens, bool lineMode, TextMode mode) {
    std::mt19937 random(seed);
    Comparison comparison({1, 2, 3}, {0}, lineMode, mode);
    for (int i = 0; i < (QUARRY_SLOW_BUILD ? 1000 : 4000); ++i) {
        std::string expression;
        for (int k = 1 + static_cast<int>(random() % 4); k > 0; --k) {
            expression += pieces[random() % pieces.size()];
        }
        std::vector<std::string> texts;
        for (int t = 0; t < 4; ++t) {
            std::string text;
            for (int run = 1 + static_cast<int>(random() % 3); run > 0; --run) {
                // A run's tokens: one, or two in turn at random.
                const std::string& one = runTokens[random() % runTokens.size()];
                const std::string& other =
                    random() % 2 ? one : runTokens[random() % runTokens.size()];
                for (size_t n = 1 + random() % 9; n > 0 && text.size() < 14; --n) {
                    text += random() % 2 ? one : other;
                }
                if (lineMode && random() % 3 == 0) {
                    text += '\n';
                }
            }
            texts.push_back(text);
        }
        comparison.Run(expression, texts);  // «^» and «<» hold at the text start
        comparison.Run(expression, texts, true);
    }
    comparison.Report();
}

TEST(Exhaustive, AttemptsAlongRunsOfOneKindUnderTheLimit) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> tokens = {"a", "A", "b", " "};
    CompareAlongRuns(20261210, pieces, tokens, false, TextMode::kBytes);
    CompareAlongRuns(20261211, pieces, tokens, true, TextMode::kBytes);
}

TEST(Exhaustive, LineModeOverTextsWithLineBreaks) {
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes);
    const std::vector<std::string> texts = TextsUpTo(3, kLineAlphabet);
    Comparison comparison({-1, 1}, {0}, true);
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts, true);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts, true);
        }
    }
    comparison.Report();
}

TEST(Exhaustive, LineModeOnLongerRandomTexts) {
    CompareOnRandomTexts(41, true);
}

// --- loops over a group of one-character choices ---
// «(a|b)+» walks as «(x)x*» with x one test made from the choices (with
// letters of both cases where the case option is off): the places tried, the
// first matching and its group must stay those of the loop over the group,
// next to every other piece, with the memo on and off.
const std::vector<std::string> kChoiceLoops = {
    "(a|b)", "{a|b}", R"((a|\w))", "{A|[ ]}", "(.|a)", "(b|A|a)", "( )", R"({b|\s|a})",
};
const std::vector<std::string> kChoiceSuffixes = {"*", "+", "@", "#", "*?", "+|"};

void CompareChoiceLoops(const std::vector<std::string>& loops,
                        const std::vector<std::string>& atoms,
                        const std::vector<std::string>& texts, TextMode mode) {
    const std::vector<std::string> choices = ValidPieces(loops, kChoiceSuffixes, mode);
    const std::vector<std::string> pieces = ValidPieces(atoms, kSuffixes, mode);
    for (const bool memo : {false, true}) {
        std::optional<ForcedFailureMemo> forced;
        if (memo) {
            forced.emplace();
        }
        Comparison comparison({-1, 1, 2}, {0}, false, mode);
        for (const std::string& c : choices) {
            comparison.Run(c, texts, true);
            for (const std::string& p : pieces) {
                comparison.Run(p + c, texts);
                comparison.Run(c + p, texts);
            }
        }
        comparison.Report();
    }
}

TEST(Exhaustive, LoopsOverGroupsOfOneByteChoices) {
    CompareChoiceLoops(kChoiceLoops, kAtoms, TextsUpTo(3), TextMode::kBytes);
}

// A loop over one-character choices that no walk reaches after «\C» or «\c»
// joins its literals for the run's case option; one after a switch, or
// inside a loop that holds one, runs in either case state and must not.
TEST(Exhaustive, LoopsOverChoicesAroundCaseSwitches) {
    std::vector<std::string> expressions;
    for (const std::string& c : ValidPieces(kChoiceLoops, kChoiceSuffixes, TextMode::kBytes)) {
        for (const std::string sw : {"\\C", "\\c"}) {
            expressions.push_back("{" + c + sw + "}*");
            expressions.push_back("{" + sw + c + "a}+");
            expressions.push_back("(" + c + "b" + sw + ")@A");
            expressions.push_back("{a" + c + "{" + sw + "|b}}#" + c);
        }
    }
    const std::vector<std::string> texts = TextsUpTo(3);
    for (const bool memo : {false, true}) {
        std::optional<ForcedFailureMemo> forced;
        if (memo) {
            forced.emplace();
        }
        Comparison comparison({-1, 1, 2}, {0}, false, TextMode::kBytes);
        for (const std::string& expression : expressions) {
            comparison.Run(expression, texts, true);
        }
        comparison.Report();
    }
}

// `count` random texts, each of `length()` pieces drawn by `piece()`.
template <typename Length, typename Piece>
std::vector<std::string> RandomTexts(int count, Length length, Piece piece) {
    std::vector<std::string> texts;
    for (int t = 0; t < count; ++t) {
        std::string text;
        for (size_t n = length(); n > 0; --n) {
            text += piece();
        }
        texts.push_back(text);
    }
    return texts;
}

// --- loops over a row of copies of one test, and loops inside loops ---
// «(\w\w)+» walks as «(\w\w){\w\w}*», and the loop left over takes its
// passes as whole rows of the test's run, trying the continuation after each
// row from the last back; the places found failing are kept per residue of
// the start. Random expressions hold such loops and the choice loops next to
// pieces that end the attempt, switch case or test the input end, mostly
// inside another loop, whose passes that take nothing meet them again where
// they stood (a capturing «(x)*» must stay a loop there), over texts long
// enough for several rows, with short limits, from every start, the memo on
// and off.
void CompareLoopsInsideLoops(uint32_t seed, const std::vector<std::string>& loops,
                             const std::vector<std::string>& atoms,
                             const std::vector<std::string>& tokens, TextMode mode) {
    const std::vector<std::string> loopPieces = ValidPieces(loops, {"*", "+", "@", "#"}, mode);
    const std::vector<std::string> pieces = ValidPieces(atoms, kSuffixes, mode);
    std::mt19937 random(seed);
    auto any = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    auto maybe = [&](const std::vector<std::string>& from) {
        return random() % 2 ? any(from) : std::string();
    };
    for (const bool memo : {false, true}) {
        std::optional<ForcedFailureMemo> forced;
        if (memo) {
            forced.emplace();
        }
        Comparison comparison({-1, 2, 4}, {0}, false, mode);
        for (int i = 0; i < (QUARRY_SLOW_BUILD ? 3000 : 12000); ++i) {
            std::string expression = any(loopPieces) + any(pieces) + maybe(pieces);
            if (random() % 4 != 0) {
                expression = "{" + maybe(pieces) + expression + "}" + kSuffixes[1 + random() % 5];
            }
            expression = maybe(loopPieces) + expression + maybe(loopPieces);
            std::vector<std::string> texts;
            for (int t = 0; t < 3; ++t) {
                std::string text;
                for (size_t n = random() % 10; n > 0; --n) {
                    // Mostly the first token, so that runs of it are long.
                    text += random() % 2 ? tokens[0] : any(tokens);
                }
                texts.push_back(text);
            }
            comparison.Run(expression, texts, true);
        }
        comparison.Report();
    }
}

// Former fault: a bar without a right alternative after an end test
// («$|}», «>|}») ends the attempt where the input ends, while with a higher
// end the walk only fails; the analysis took such programs as failing alike
// with every lower end, so failures that a block's wide attempts left were
// answered to its limited ones where those should have ended: over texts of
// a few hundred bytes, with the default memo and the limit 2 or 4,
// «{(a|b)*.>|}*(.|a)+» found 26,970 matchings the reference does not.
TEST(Exhaustive, EndTestsBeforeAMissingAlternativeOnLongerTexts) {
    std::mt19937 random(20261213);
    Comparison comparison({2, 4});
    for (const char* expression : {"{(a|b)*$|}*", "{(a|b)*.>|}*(.|a)+", R"({\c?{b|\s|a}#$|}+)",
                                   "(AA)+{(a|\\w)@{ab}?>|}@(AA)#", R"({\w+$|}#\w#)"}) {
        std::vector<std::string> texts;
        for (int t = 0; t < 2; ++t) {
            std::string text(300 + random() % 300, ' ');
            for (char& ch : text) {
                ch = kAlphabet[random() % kAlphabet.size()];
            }
            texts.push_back(text);
        }
        comparison.Run(expression, texts, true);
    }
    // Where the memo is on from the first walk, a block's wide attempt over
    // «xaa a» from 1 matched «aa» with «$» failing at 3; the loop «\w+»
    // kept that place as failed, and the limited attempt, whose «$» holds
    // there, went on past it to the same matching instead of ending.
    ForcedFailureMemo memo;
    for (const char* expression : {R"({\w+$|}#\w#)", R"({(\w|[ab])+$|}#(\w|[ab])#)"}) {
        comparison.Run(expression, {"xaa a", "a aab ab", "xaab  aa a"}, true);
    }
    comparison.Report();
}

TEST(Exhaustive, LoopsOverRowsAndChoicesInsideLoops) {
    std::vector<std::string> loops = kChoiceLoops;
    loops.insert(loops.end(),
                 {"(aa)", "{aa}", R"((\w\w))", "{..}", "([ab][ab][ab])", "(AA)", "( a)"});
    CompareLoopsInsideLoops(20261211, loops, kAtoms, {"a", "b", "A", " "}, TextMode::kBytes);
}

// --- passes of a loop that led to an attempt's end ---
// Under the search limit, a pass of a loop outside other loops that ended
// its attempt (a matching, or a missing alternative) through a later pass,
// meeting no input end on the way, is taken by later attempts as leading
// there at once. Random expressions put such loops, over bodies of choices,
// optional pieces, chains of empty alternatives, groups and loops (whose
// guards are part of where a pass leads), before pieces
// that end the attempt, match or test the input end, over texts several
// limits long, from every start, the memo off and forced on.
void CompareChainedLoops(uint32_t seed, const std::vector<std::string>& bodies,
                         const std::vector<std::string>& tokens, TextMode mode) {
    const std::vector<std::string> after = {
        "{a|}", "{a|b|}", "{b|}?", "{.!|}", "{a|}(a)", R"({\w\w|})", "a",    "(b)",   "$",
        ".",    "{a|}$",  ">",     "(a|b)", "!",       "",           "{$|}", "{.>|}", R"({\w$|})",
    };
    const std::vector<std::string> pieces = ValidPieces(kAtoms, kSuffixes, mode);
    std::mt19937 random(seed);
    auto any = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    for (const bool memo : {false, true}) {
        std::optional<ForcedFailureMemo> forced;
        if (memo) {
            forced.emplace();
        }
        Comparison comparison({2, 3, 5}, {0}, false, mode);
        for (int i = 0; i < (QUARRY_SLOW_BUILD ? 800 : 3000); ++i) {
            std::string expression;
            for (int loops = random() % 4 == 0 ? 2 : 1; loops > 0; --loops) {
                std::string body = any(bodies);
                if (random() % 3 == 0) {
                    body += any(bodies);
                }
                expression += random() % 3 == 0 ? "(" + body + ")" : "{" + body + "}";
                expression += random() % 2 ? "+" : "*";
                expression += any(after);
                if (random() % 3 == 0) {
                    expression += any(after);
                }
            }
            if (random() % 3 == 0) {
                expression = any(pieces) + expression;
            }
            comparison.Run(expression,
                           RandomTexts(
                               2, [&] { return 6 + random() % 14; }, [&] { return any(tokens); }),
                           true);
        }
        comparison.Report();
    }
}

TEST(Exhaustive, PassesOfLoopsThatLedToTheAttemptsEnd) {
    CompareChainedLoops(
        20261214,
        {".",     ".!|||b",        ".!||b",   "a?b?",     R"((a|\w))", "{a|ab}",   "[ab].?",
         "(a)|b", ".{!|}",         R"(a|\w)", "{.a|b}",   "(.)b?",     "{ab|a}!?", "b|..",
         "a*b?",  R"((a*!?a@\S))", "{a@b}",   R"(\w+!?)", "(b*)a?",    "{a*}*."},
        {"a", "b", "!", "ab", "ab!", " ", "A"}, TextMode::kBytes);
}

// --- chains of choices ---
// A bar or a «?» whose alternatives lead through further choices («!|||b»,
// «a|?», «??») comes down to the walks it reaches, each tried once. Random
// expressions join atoms with runs of bars and question marks, inside and
// outside loops and before pieces that end the attempt, over short texts
// from every start, with limits and the memo off and forced on.
TEST(Exhaustive, ChainsOfChoicesComeDownToTheirWalks) {
    const std::vector<std::string> atoms = {"a", "b",    ".",     "(a)", "{ab}", "$",
                                            ">", "{a|}", R"(\c)", "",    "[ab]", "(b?)"};
    const std::vector<std::string> joins = {"|",   "||", "|||",  "?|", "|?",   "??|",
                                            "|??", "?",  "||?|", "",   "|||||"};
    std::mt19937 random(20261215);
    auto any = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    for (const bool memo : {false, true}) {
        std::optional<ForcedFailureMemo> forced;
        if (memo) {
            forced.emplace();
        }
        Comparison comparison({-1, 2, 4});
        for (int i = 0; i < (QUARRY_SLOW_BUILD ? 1000 : 4000); ++i) {
            std::string chain = any(atoms);
            for (size_t n = 1 + random() % 4; n > 0; --n) {
                chain += any(joins) + any(atoms);
            }
            std::string expression = chain;
            if (random() % 2) {
                expression = "{" + chain + "}" + kSuffixes[1 + random() % 5];
            }
            expression += any(atoms) + any(joins);
            comparison.Run(expression,
                           RandomTexts(
                               2, [&] { return random() % 9; },
                               [&] { return kAlphabet[random() % kAlphabet.size()]; }),
                           true);
        }
        comparison.Report();
    }
}

// --- character mode ---
// The same comparison with UTF-8 characters: atoms with one- and two-byte
// literals, case pairs, classes with and without non-ASCII members, the set
// escapes and the word anchors; texts of characters of one to four bytes,
// a case pair, the Kelvin sign (which folds to «k») and stray bytes, which
// next to each other may also form characters («\xC3» «\xA4» is «ä»).

const std::vector<std::string> kCharAtoms = {
    "a", "ä", "k", ".", "[äb]", "[^a]", R"(\w)", R"(\W)", "<", ">", "(ä)", "$", R"(\c)",
};
const std::vector<std::string> kCharTokens = {
    "a", "\xC3\xA4", "\xE2\x84\xAA", "\xC3", "\xA4", "\xF0\x9F\x98\x80",
};
const std::vector<std::string> kCharLineTokens = {"a", "\xC3\xA4", "\xC3", "\xA4", "\r", "\n"};

TEST(ExhaustiveCharacters, OneAndTwoPiecesOverTextsUpToThreeCharacters) {
    const std::vector<std::string> pieces = ValidPieces(kCharAtoms, kSuffixes, TextMode::kUtf8);
    const std::vector<std::string> texts = TextsOfTokens(3, kCharTokens);
    Comparison comparison({-1, 3}, {0}, false, TextMode::kUtf8);
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts);
        }
    }
    comparison.Report();
}

TEST(ExhaustiveCharacters, FromEveryStartPositionAndCancelled) {
    const std::vector<std::string> pieces = ValidPieces(kCharAtoms, kSuffixes, TextMode::kUtf8);
    const std::vector<std::string> texts = TextsOfTokens(2, kCharTokens);
    Comparison comparison({-1, 2}, {0, 2}, false, TextMode::kUtf8);
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts, true);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts, true);
        }
    }
    comparison.Report();
}

TEST(ExhaustiveCharacters, LineMode) {
    const std::vector<std::string> pieces = ValidPieces(kCharAtoms, kSuffixes, TextMode::kUtf8);
    const std::vector<std::string> texts = TextsOfTokens(2, kCharLineTokens);
    Comparison comparison({-1, 2}, {0}, true, TextMode::kUtf8);
    for (const std::string& p : FirstPieces(pieces)) {
        comparison.Run(p, texts, true);
        for (const std::string& q : pieces) {
            comparison.Run(p + q, texts, true);
        }
    }
    comparison.Report();
}

// A literal without case takes its case partners: the Kelvin sign too for «k».
TEST(ExhaustiveCharacters, LoopsOverGroupsOfOneCharacterChoices) {
    CompareChoiceLoops({"(a|ä)", "{k|b}", R"((\w|[äb]))", R"({ä|\W|k})", R"((\d|ä))", "(ä)",
                        R"((k|\w))", R"({ä|\w})", "(ä|[äb])"},
                       kCharAtoms, TextsOfTokens(2, kCharTokens), TextMode::kUtf8);
}

// Random expressions of up to five pieces over random texts of up to eight
// tokens, with the failure memo forced on and off, whole text and lines.
void CompareCharactersOnRandomTexts(uint32_t seed, bool lineMode) {
    const std::vector<std::string> pieces = ValidPieces(kCharAtoms, kSuffixes, TextMode::kUtf8);
    const std::vector<std::string>& tokens = lineMode ? kCharLineTokens : kCharTokens;
    std::mt19937 random(seed);
    Comparison comparison({-1, 3, 5}, {0}, lineMode, TextMode::kUtf8);
    for (int i = 0; i < (QUARRY_SLOW_BUILD ? 1000 : 3000); ++i) {
        std::string expression;
        const int count = 2 + static_cast<int>(random() % 4);
        for (int k = 0; k < count; ++k) {
            expression += pieces[random() % pieces.size()];
        }
        comparison.Run(
            expression,
            RandomTexts(
                4, [&] { return random() % 9; }, [&] { return tokens[random() % tokens.size()]; }),
            true);
    }
    comparison.Report();
}

TEST(ExhaustiveCharacters, LongerRandomTexts) {
    CompareCharactersOnRandomTexts(12, false);
}

TEST(ExhaustiveCharacters, LongerRandomTextsInLineMode) {
    CompareCharactersOnRandomTexts(13, true);
}

TEST(ExhaustiveCharacters, AttemptsAlongRunsOfOneKindUnderTheLimit) {
    const std::vector<std::string> pieces = ValidPieces(kCharAtoms, kSuffixes, TextMode::kUtf8);
    const std::vector<std::string> tokens = {"a", "k", "\xE2\x84\xAA", "\xC3\xA4", " "};
    CompareAlongRuns(20261212, pieces, tokens, false, TextMode::kUtf8);
}

// Runs of ASCII characters are taken as rows counted in bytes; a run that
// holds another character is left to the ordinary walk.
TEST(ExhaustiveCharacters, LoopsOverRowsAndChoicesInsideLoops) {
    CompareLoopsInsideLoops(20261212,
                            {R"((\w\w))", "{..}", "(ää)", "{kk}", R"((\W\W\W))", "([äb][äb])",
                             "(a|ä)", R"((\w|[äb]))", R"({k|\w})"},
                            kCharAtoms, {"a", "b", "\xC3\xA4", "\xE2\x84\xAA", " ", "\xC3"},
                            TextMode::kUtf8);
}

TEST(ExhaustiveCharacters, FailureMemoOnLongerRandomTexts) {
    ForcedFailureMemo memo;
    CompareCharactersOnRandomTexts(14, false);
}

}  // namespace
}  // namespace quarry
