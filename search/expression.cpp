#include "search/expression.h"

#include <cstring>
#include <string>

#include "engine/matcher.h"
#include "engine/rewrite.h"
#include "search/stack_guard.h"

namespace quarry {
namespace {

const unsigned char* Bytes(const char* p) {
    return reinterpret_cast<const unsigned char*>(p);
}

void TruncateTo(TextBuffer& buffer, int32_t length) {
    if (buffer.data != nullptr && length < buffer.length) {
        buffer.length = length;
        buffer.data[length] = 0;
    }
}

// The outcome of a loop whose last search ended with `last`.
LoopResult LoopEnd(SearchOutcome last, int32_t count) {
    if (last == SearchOutcome::kNone || last == SearchOutcome::kFound) {
        return {count > 0 ? SearchOutcome::kFound : SearchOutcome::kNone, count};
    }
    return {last, count};
}

}  // namespace

CExpression::CExpression(const char* pattern, SearchHost* host, TextMode mode)
    : m_strPattern(pattern ? pattern : ""), host_(host), mode_(mode) {
    m_pGroups = new int32_t[kGroupSlots];
    ClearGroups();
    const CompileResult compiled = Compile(pattern, mode_);
    m_pProgram = compiled.program;
    compileStatus_ = compiled.status;
    compileOffset_ = compiled.offset;
    if (m_pProgram == nullptr) {
        m_nState = kInvalid;
    }
    info_ = AnalyseProgram(m_pProgram, true, 0);
    if (info_.caseOption == 0) {
        caseInfo_ = std::make_unique<ProgramInfo>(AnalyseProgram(m_pProgram, true, 1));
    }
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
            auto* expression = static_cast<CExpression*>(self);
            expression->lineEndOffset_ = static_cast<int32_t>(m.inputEnd - m.textStart);
            expression->ReportLineProgress(percent);
        }
                 : [](void* self, int percent) {
                       static_cast<CExpression*>(self)->ReportProgress(percent);
                   };
    const ProgramInfo& info = (caseSensitive & 1) != 0 && caseInfo_ ? *caseInfo_ : info_;
    const int r = ExecExpression(info, text, length, from, m_pGroups, caseSensitive, searchLimit,
                                 lineMode, callbacks, CurrentStackFloor(), lineHint);
    return r == kStackExhausted ? -1 : r;
}

SearchOutcome CExpression::Search(const char* text, int32_t length, const char* from,
                                  bool matchCase, int32_t searchLimit, bool lineMode,
                                  LineHint* lineHint) {
    m_pText = text;
    textLength_ = length;
    cancelled_ = false;
    const int caseSensitive = matchCase ? 1 : 0;
    if (lineMode) {
        // Lines are searched in one matcher run, each as if the input ended
        // at its line break; offsets stay relative to the whole text, so «^»
        // holds only at its very start.
        if (from >= text + length) {
            return SearchOutcome::kNone;
        }
        if (!PollCancel()) {
            return SearchOutcome::kCancelled;
        }
    }
    const int r = Run(Bytes(text), length, Bytes(from), caseSensitive, searchLimit, lineMode,
                      lineMode, lineHint);
    if (r == 1) {
        return SearchOutcome::kFound;
    }
    if (r < 0) {
        return SearchOutcome::kStackExhausted;
    }
    return cancelled_ ? SearchOutcome::kCancelled : SearchOutcome::kNone;
}

int32_t CExpression::Find(const char* text, int32_t length, const char* from, bool matchCase,
                          int32_t searchLimit, bool lineMode, LineHint* lineHint) {
    const SearchOutcome outcome =
        Search(text, length, from, matchCase, searchLimit, lineMode, lineHint);
    return outcome == SearchOutcome::kFound ? GroupStart(0) : -1;
}

LoopResult CExpression::ListMatchings(const TextBuffer& input, TextBuffer& output, bool matchCase,
                                      int32_t searchLimit, bool lineMode,
                                      std::string_view separator) {
    return ListMatchings(input.Data(), input.Length(), output, matchCase, searchLimit, lineMode,
                         separator);
}

LoopResult CExpression::ListMatchings(const char* text, int32_t len, TextBuffer& output,
                                      bool matchCase, int32_t searchLimit, bool lineMode,
                                      std::string_view separator, int32_t start) {
    const bool crLf = separator == "\r\n";
    const auto separatorLength = static_cast<int32_t>(separator.size());
    LineHint line;
    int32_t count = 0;
    const char* from = text + start;
    for (;;) {
        const SearchOutcome outcome =
            Search(text, len, from, matchCase, searchLimit, lineMode, &line);
        if (outcome != SearchOutcome::kFound) {
            return LoopEnd(outcome, count);
        }
        const int32_t pos = GroupStart(0);
        const int32_t n = GroupEnd(0) - pos;
        ++count;
        if (n == 0) {
            // An empty matching is counted but ends the list.
            LoopResult result = LoopEnd(outcome, count);
            result.emptyAt = pos;
            return result;
        }
        const int32_t pieceStart = output.Length();
        bool ok = output.Append(text + pos, n);
        // A matching that ends in CR must not leave a bare CR line break.
        if (ok && crLf && output.data[output.length - 1] == '\r') {
            ok = output.Append("\n", 1);
        }
        if (!ok || !output.Append(separator.data(), separatorLength)) {
            // The output ends with the last whole line.
            TruncateTo(output, pieceStart);
            return {SearchOutcome::kOutputShort, count};
        }
        from = text + pos + n;
    }
}

LoopResult CExpression::ReplaceAll(const TextBuffer& input, TextBuffer& output,
                                   const char* rewriteText, bool matchCase, int32_t searchLimit,
                                   bool lineMode) {
    return ReplaceAll(input.Data(), input.Length(), output, rewriteText, matchCase, searchLimit,
                      lineMode);
}

LoopResult CExpression::ReplaceAll(const char* text, int32_t len, TextBuffer& output,
                                   const char* rewriteText, bool matchCase, int32_t searchLimit,
                                   bool lineMode, int32_t start) {
    if (len <= 0) {
        return {};
    }
    TextBuffer expansion;
    // A rewrite without escapes is its own expansion at every matching: a
    // loop over many short matchings («.» by «X») spends its time there.
    const bool literalRewrite = rewriteText == nullptr || std::strchr(rewriteText, '\\') == nullptr;
    const std::string_view literal = rewriteText != nullptr ? rewriteText : "";
    if (literal.size() > size_t{INT32_MAX}) {
        return {SearchOutcome::kOutputShort, 0};
    }
    LineHint line;
    const char* src = text + start;
    int32_t count = 0;
    SearchOutcome last = SearchOutcome::kNone;
    int32_t emptyAt = -1;
    for (;;) {
        const SearchOutcome outcome =
            Search(text, len, src, matchCase, searchLimit, lineMode, &line);
        if (outcome == SearchOutcome::kStackExhausted) {
            return {outcome, count};  // the rest was never searched
        }
        if (outcome != SearchOutcome::kFound) {
            // Cancelled too: the text so far replaced, the rest as it was.
            last = outcome;
            break;
        }
        ++count;
        const int32_t d = GroupStart(0);
        const int32_t n = GroupEnd(0) - d;
        if (n == 0) {
            emptyAt = d;  // an empty matching is counted, not replaced, and ends the run
            break;
        }
        if (!literalRewrite && !Rewrite(rewriteText, expansion)) {
            return {SearchOutcome::kOutputShort, count};
        }
        const int32_t pieceStart = output.Length();
        if (!output.Append(src, static_cast<int32_t>(text + d - src)) ||
            !(literalRewrite ? output.Append(literal.data(), static_cast<int32_t>(literal.size()))
                             : output.Append(expansion.Data(), expansion.Length()))) {
            // The output ends behind the last whole replacement.
            TruncateTo(output, pieceStart);
            return {SearchOutcome::kOutputShort, count};
        }
        src = text + d + n;
    }
    if (!output.Append(src, static_cast<int32_t>(text + len - src))) {
        return {SearchOutcome::kOutputShort, count};
    }
    LoopResult result = LoopEnd(last, count);
    result.emptyAt = emptyAt;
    return result;
}

bool CExpression::Rewrite(const char* rewriteText, TextBuffer& output) {
    output.Clear();
    if (m_pText == nullptr || m_pGroups == nullptr) {
        return true;
    }
    std::string bytes;
    const ExpandStatus status =
        ExpandRewrite(rewriteText, Bytes(m_pText), textLength_, m_pGroups, bytes, mode_);
    if (status == ExpandStatus::kNoMemory) {
        return false;
    }
    // Lengths are 32-bit: a larger replacement cannot be held either.
    return status == ExpandStatus::kFault ||
           (bytes.size() <= size_t{INT32_MAX} &&
            output.Append(bytes.data(), static_cast<int32_t>(bytes.size())));
}

RewriteCheck CExpression::CheckRewrite(const char* rewriteText) const {
    return quarry::CheckRewrite(rewriteText, info_.highestGroup);
}

bool CExpression::PollCancel() {
    if (host_ != nullptr && !host_->PollCancel()) {
        cancelled_ = true;
        return false;
    }
    return true;
}

void CExpression::ReportProgress(int percent) {
    if (host_) {
        host_->ReportProgress(percent);
    }
}

void CExpression::ReportLineProgress(int percent) {
    if (textLength_ <= 0) {
        return;
    }
    const int overall = static_cast<int>(percent * 0.01 * lineEndOffset_ / textLength_ * 100.0);
    if ((overall == 0 && lastOverallPercent_ != 0) || overall > lastOverallPercent_) {
        lastOverallPercent_ = overall;
        ReportProgress(overall);
    }
}

}  // namespace quarry
