#include "search/expression.h"

#include <cstring>
#include <string>

#include "engine/matcher.h"
#include "engine/rewrite.h"
#include "search/stack_guard.h"

namespace quarry {
namespace {

// Line-mode progress: the matcher reports against the end of the current
// line; these convert it to the whole text. Kept across searches.
int32_t lineEndOffset = 0;
int32_t textLength = 0;
int lastOverallPercent = 0;

const unsigned char* Bytes(const char* p) {
    return reinterpret_cast<const unsigned char*>(p);
}

void TruncateTo(TextBuffer& buffer, int32_t length) {
    if (buffer.data != nullptr && length < buffer.length) {
        buffer.length = length;
        buffer.data[length] = 0;
    }
}

}  // namespace

CExpression::CExpression(const char* pattern, SearchHost* host, TextMode mode)
    : m_strPattern(pattern ? pattern : ""), host_(host), mode_(mode) {
    m_pGroups = new int32_t[kGroupSlots];
    std::fill(m_pGroups, m_pGroups + kGroupSlots, -1);
    m_pProgram = CompileExpression(pattern, mode_);
    if (m_pProgram == nullptr) {
        m_nState = kInvalid;
    }
    info_ = AnalyseProgram(m_pProgram);
}

CExpression::~CExpression() {
    FreeExpression(m_pProgram);
    delete[] m_pGroups;
}

int CExpression::Execute(const unsigned char* text, int32_t length, const unsigned char* from,
                         int caseSensitive, int32_t searchLimit, bool lineProgress) {
    return Run(text, length, from, caseSensitive, searchLimit, false, lineProgress);
}

int CExpression::Run(const unsigned char* text, int32_t length, const unsigned char* from,
                     int caseSensitive, int32_t searchLimit, bool lineMode, bool lineProgress,
                     LineHint* lineHint) {
    MatchCallbacks callbacks;
    callbacks.user = this;
    callbacks.cancelPoll = [](void* self) { return static_cast<CExpression*>(self)->PollCancel(); };
    callbacks.progress =
        lineProgress ? [](void* self,
                      int percent) {
            // The matcher's percentage relates to the end of the line it is in.
            const MatchContext& m = CurrentMatchContext();
            lineEndOffset = static_cast<int32_t>(m.inputEnd - m.textStart);
            static_cast<CExpression*>(self)->ReportLineProgress(percent);
        }
                 : [](void* self, int percent) {
                       static_cast<CExpression*>(self)->ReportProgress(percent);
                   };
    const int r = ExecExpression(info_, text, length, from, m_pGroups, caseSensitive, searchLimit,
                                 lineMode, callbacks, CurrentStackFloor(), lineHint);
    if (r == kStackExhausted) {
        ShowMessage(kStackOverflowText, kStackOverflowTitle, {}, MB_OK);
        return -1;
    }
    return r;
}

int32_t CExpression::Find(const char* text, int32_t length, const char* from, bool matchCase,
                          int32_t searchLimit, bool lineMode, LineHint* lineHint) {
    m_pText = text;
    textLength_ = length;
    const int caseSensitive = matchCase ? 1 : 0;
    if (lineMode) {
        // Lines are searched in one matcher run, each as if the input ended
        // at its line break; offsets stay relative to the whole text, so «^»
        // holds only at its very start.
        textLength = length;
        if (from >= text + length || !PollCancel()) {
            return -1;
        }
    }
    const int r = Run(Bytes(text), length, Bytes(from), caseSensitive, searchLimit, lineMode,
                      lineMode, lineHint);
    return r == 1 ? m_pGroups[0] : -1;
}

int32_t CExpression::ListMatchings(const TextBuffer& input, TextBuffer& output, bool matchCase,
                                   int32_t searchLimit, bool lineMode) {
    return ListMatchings(input.Data(), input.Length(), output, matchCase, searchLimit, lineMode);
}

int32_t CExpression::ListMatchings(const char* text, int32_t len, TextBuffer& output,
                                   bool matchCase, int32_t searchLimit, bool lineMode) {
    LineHint line;
    int32_t pos = Find(text, len, text, matchCase, searchLimit, lineMode, &line);
    int32_t count = 0;
    while (pos >= 0) {
        const int32_t n = m_pGroups[64] - m_pGroups[0];
        ++count;
        if (n == 0) {
            break;  // an empty matching is counted but ends the list
        }
        const int32_t pieceStart = output.Length();
        bool ok = output.Append(text + pos, n);
        // A matching that ends in CR must not leave a bare CR line break.
        if (ok && output.data[output.length - 1] == '\r') {
            ok = output.Append("\n", 1);
        }
        if (!ok || !output.Append("\r\n", 2)) {
            // The output ends with the last whole line.
            TruncateTo(output, pieceStart);
            m_bOutputShort = true;
            break;
        }
        pos = Find(text, len, text + pos + n, matchCase, searchLimit, lineMode, &line);
    }
    return count;
}

int32_t CExpression::ReplaceAll(const TextBuffer& input, TextBuffer& output,
                                const char* rewriteText, bool matchCase, int32_t searchLimit,
                                bool lineMode) {
    return ReplaceAll(input.Data(), input.Length(), output, rewriteText, matchCase, searchLimit,
                      lineMode);
}

int32_t CExpression::ReplaceAll(const char* text, int32_t len, TextBuffer& output,
                                const char* rewriteText, bool matchCase, int32_t searchLimit,
                                bool lineMode) {
    TextBuffer expansion;
    if (len <= 0) {
        return 0;
    }
    LineHint line;
    int32_t d = Find(text, len, text, matchCase, searchLimit, lineMode, &line);
    const char* src = text;
    int32_t count = 0;
    while (d >= 0) {
        ++count;
        const int32_t n = m_pGroups[64] - m_pGroups[0];
        if (n == 0) {
            break;  // an empty matching is counted, not replaced, and ends the run
        }
        Rewrite(rewriteText, expansion);
        if (m_bOutputShort) {
            return count;  // the expansion could not be held whole
        }
        const int32_t pieceStart = output.Length();
        if (!output.Append(src, static_cast<int32_t>(text + d - src)) ||
            !output.Append(expansion.Data(), expansion.Length())) {
            // The output ends behind the last whole replacement.
            TruncateTo(output, pieceStart);
            m_bOutputShort = true;
            return count;
        }
        src = text + d + n;
        d = Find(text, len, src, matchCase, searchLimit, lineMode, &line);
    }
    if (!output.Append(src, static_cast<int32_t>(text + len - src))) {
        m_bOutputShort = true;
    }
    return count;
}

void CExpression::Rewrite(const char* rewriteText, TextBuffer& output) {
    output.Clear();
    if (m_pText == nullptr || m_pGroups == nullptr) {
        return;
    }
    int32_t groups[kGroupSlots];
    std::memcpy(groups, m_pGroups, sizeof groups);
    std::string bytes;
    if (ExpandRewrite(rewriteText, Bytes(m_pText), textLength_, groups, bytes, mode_) &&
        !output.Append(bytes.data(), static_cast<int32_t>(bytes.size()))) {
        m_bOutputShort = true;
    }
}

bool CExpression::PollCancel() {
    return host_ == nullptr || host_->PollCancel();
}

void CExpression::ReportProgress(int percent) {
    if (host_) {
        host_->ReportProgress(percent);
    }
}

void CExpression::ReportLineProgress(int percent) {
    if (textLength <= 0) {
        return;
    }
    const int overall = static_cast<int>(percent * 0.01 * lineEndOffset / textLength * 100.0);
    if ((overall == 0 && lastOverallPercent != 0) || overall > lastOverallPercent) {
        lastOverallPercent = overall;
        ReportProgress(overall);
    }
}

}  // namespace quarry
