// CExpression: a search expression compiled for one command, with the group
// table of its last matching and the loops that search, list and replace.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "engine/program_info.h"
#include "search/host.h"
#include "search/text_buffer.h"

namespace quarry {

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
    // cancelled, -1 the stack ran out (the stack-overflow message was shown).
    int Execute(const unsigned char* text, int32_t length, const unsigned char* from,
                int caseSensitive, int32_t searchLimit, bool lineProgress);

    // Start offset of the next matching at or after from, or -1. A loop that
    // searches one unchanged text from each matching's end may pass the same
    // lineHint to every call.
    int32_t Find(const char* text, int32_t length, const char* from, bool matchCase,
                 int32_t searchLimit, bool lineMode, LineHint* lineHint = nullptr);
    int32_t ListMatchings(const TextBuffer& input, TextBuffer& output, bool matchCase,
                          int32_t searchLimit, bool lineMode);
    int32_t ReplaceAll(const TextBuffer& input, TextBuffer& output, const char* rewriteText,
                       bool matchCase, int32_t searchLimit, bool lineMode);
    // The same over text[0, length), which must be followed by a zero byte.
    int32_t ListMatchings(const char* text, int32_t length, TextBuffer& output, bool matchCase,
                          int32_t searchLimit, bool lineMode);
    int32_t ReplaceAll(const char* text, int32_t length, TextBuffer& output,
                       const char* rewriteText, bool matchCase, int32_t searchLimit, bool lineMode);
    // Empties output and fills it with the expansion for the current matching.
    void Rewrite(const char* rewriteText, TextBuffer& output);

    bool PollCancel();
    void ReportProgress(int percent);
    void ReportLineProgress(int percent);

    ExprNode* m_pProgram = nullptr;
    int32_t* m_pGroups = nullptr;
    int m_nState = kReady;
    const char* m_pText = nullptr;
    std::string m_strPattern;
    // Set when a loop stopped early because its output could not grow: the
    // output then ends at the last complete piece and must not pass for the
    // whole result.
    bool m_bOutputShort = false;

  private:
    // Execute over the whole text or, in line mode, line by line in one call.
    int Run(const unsigned char* text, int32_t length, const unsigned char* from, int caseSensitive,
            int32_t searchLimit, bool lineMode, bool lineProgress, LineHint* lineHint = nullptr);

    SearchHost* host_;
    TextMode mode_;
    ProgramInfo info_;        // the program's analysis, made once for every search
    int32_t textLength_ = 0;  // length of the text at m_pText
};

}  // namespace quarry
