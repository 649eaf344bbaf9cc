// CExpression: a search expression compiled for one command, with the group
// table of its last matching and the loops that search, list and replace.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "engine/program_info.h"
#include "engine/rewrite.h"
#include "search/host.h"
#include "search/text_buffer.h"

namespace quarry {

// How a search, or a command's loop of searches, ended.
enum class SearchOutcome : uint8_t {
    kFound,           // a matching; for a loop, at least one
    kNone,            // no matching
    kCancelled,       // the host asked to stop
    kStackExhausted,  // the matcher ran out of stack: the result is unknown
    kOutputShort,     // the result could not be held whole
};

// What List Matchings and Replace All did. Only kFound and kNone leave a
// whole result in the output; after any other outcome it must not be used.
struct LoopResult {
    SearchOutcome outcome = SearchOutcome::kNone;
    int32_t count = 0;  // matchings found before the loop ended
    // Where the empty matching that ended the loop began (it is counted, and
    // nothing after it is searched); -1 when the loop ran to the text's end.
    int32_t emptyAt = -1;
};

class CExpression {
  public:
    static constexpr int kReady = 0;
    static constexpr int kInvalid = 2;

    // host may be null: then nothing cancels and no progress is shown. The
    // mode decides how the pattern, the searched text and rewrites divide
    // into characters.
    explicit CExpression(const char* pattern, SearchHost* host = nullptr,
                         TextMode mode = TextMode::kBytes);
    virtual ~CExpression();
    CExpression(const CExpression&) = delete;
    CExpression& operator=(const CExpression&) = delete;

    // Runs the matcher under the stack guard: 1 found, 0 not found or
    // cancelled, -1 the stack ran out.
    int Execute(const unsigned char* text, int32_t length, const unsigned char* from,
                int caseSensitive, int32_t searchLimit, bool lineProgress);

    // Looks for the next matching at or after from; with kFound the group
    // table holds it. A loop that searches one unchanged text from each
    // matching's end may pass the same lineHint to every call.
    SearchOutcome Search(const char* text, int32_t length, const char* from, bool matchCase,
                         int32_t searchLimit, bool lineMode, LineHint* lineHint = nullptr);
    // Start offset of the next matching at or after from, or -1 for none
    // (whatever the reason).
    int32_t Find(const char* text, int32_t length, const char* from, bool matchCase,
                 int32_t searchLimit, bool lineMode, LineHint* lineHint = nullptr);
    // Each matching then `separator` (CR LF, the dialog's; LF, quarry-cli's).
    // The loops search from offset `from` on (0: the whole text); a Replace
    // All's output then begins at `from`.
    LoopResult ListMatchings(const TextBuffer& input, TextBuffer& output, bool matchCase,
                             int32_t searchLimit, bool lineMode,
                             std::string_view separator = "\r\n");
    LoopResult ReplaceAll(const TextBuffer& input, TextBuffer& output, const char* rewriteText,
                          bool matchCase, int32_t searchLimit, bool lineMode);
    // The same over text[0, length), which must be followed by a zero byte.
    LoopResult ListMatchings(const char* text, int32_t length, TextBuffer& output, bool matchCase,
                             int32_t searchLimit, bool lineMode,
                             std::string_view separator = "\r\n", int32_t from = 0);
    LoopResult ReplaceAll(const char* text, int32_t length, TextBuffer& output,
                          const char* rewriteText, bool matchCase, int32_t searchLimit,
                          bool lineMode, int32_t from = 0);
    // Empties output and fills it with the expansion for the current matching.
    // False when the expansion could not be held: output is then empty and
    // must not stand for the replacement.
    bool Rewrite(const char* rewriteText, TextBuffer& output);
    // Whether rewriteText can be expanded for this expression's matchings;
    // commands refuse a faulty one before they run.
    RewriteCheck CheckRewrite(const char* rewriteText) const;

    // Why the pattern gave no program (kOk when it did), and where.
    CompileStatus compileStatus() const { return compileStatus_; }
    int32_t compileOffset() const { return compileOffset_; }

    // The span of group n (0: the matching) after a successful Find; -1 where
    // the group took no part.
    int32_t GroupStart(int n) const { return m_pGroups[n]; }
    int32_t GroupEnd(int n) const { return m_pGroups[kGroupSlots / 2 + n]; }
    // Marks every group unset, as before any Find.
    void ClearGroups() { std::fill(m_pGroups, m_pGroups + kGroupSlots, -1); }

    bool PollCancel();
    void ReportProgress(int percent);
    void ReportLineProgress(int percent);

    ExprNode* m_pProgram = nullptr;
    int32_t* m_pGroups = nullptr;
    int m_nState = kReady;
    const char* m_pText = nullptr;
    std::string m_strPattern;

  private:
    // Execute over the whole text or, in line mode, line by line in one call.
    int Run(const unsigned char* text, int32_t length, const unsigned char* from, int caseSensitive,
            int32_t searchLimit, bool lineMode, bool lineProgress, LineHint* lineHint = nullptr);

    SearchHost* host_;
    CompileStatus compileStatus_ = CompileStatus::kOk;
    int32_t compileOffset_ = -1;
    bool cancelled_ = false;  // the host asked to stop during this search
    TextMode mode_;
    // The program's analysis, made once for every search: for searches
    // without case, and (when its simpler copy differs) for those with case.
    ProgramInfo info_;
    std::unique_ptr<ProgramInfo> caseInfo_;
    int32_t textLength_ = 0;  // length of the text at m_pText
    // Line-mode progress: the matcher reports against the end of the current
    // line; these convert it to the whole text.
    int32_t lineEndOffset_ = 0;
    int lastOverallPercent_ = 0;
};

}  // namespace quarry
