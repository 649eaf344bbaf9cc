// A SearchTarget over a plain byte string: the search dialog driven with no
// editor, no document and no main window.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "search_dialog/search_target.h"

namespace quarry {

class FakeTarget : public SearchTarget {
  public:
    std::string text;
    int64_t selStart = 0;
    int64_t selEnd = 0;
    TextMode mode = TextMode::kUtf8;
    std::string lineBreak = "\n";
    bool busy = false;
    // Every Busy call, in order.
    std::vector<bool> busyCalls;
    // Documents made by BeginNewResult and kept.
    std::vector<std::string> newDocuments;
    // Called after each piece of a result has gone in.
    std::function<void()> onAppend;
    int appended = 0;
    // The part the view shows; -1: to the text's end.
    int64_t visibleStart = 0;
    int64_t visibleEnd = -1;
    // The marks set last, and how often they were set and cleared.
    ByteRanges highlights;
    int highlightCalls = 0;
    int clearCalls = 0;

    void ConnectDialog(const SearchDialogLink&) override {}
    QWidget* OwnerWindow() const override { return nullptr; }
    bool HasDocument() const override { return true; }
    TextMode Mode() const override { return mode; }
    std::string LineBreak() const override { return lineBreak; }
    std::optional<std::string> ToDocumentBytes(QStringView s) const override {
        if (mode == TextMode::kUtf8) {
            return s.toUtf8().toStdString();
        }
        std::string out;
        for (const QChar ch : s) {
            if (ch.unicode() > 0xFF) {
                return std::nullopt;
            }
            out += char(ch.unicode());
        }
        return out;
    }
    QString FromDocumentBytes(std::string_view bytes) const override {
        return mode == TextMode::kUtf8 ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size()))
                                       : QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    }
    int64_t Length() const override { return int64_t(text.size()); }
    std::string_view Text() const override { return text; }
    void GetSelection(int64_t& start, int64_t& end) const override {
        start = selStart;
        end = selEnd;
    }
    void SetSelection(int64_t start, int64_t end) override {
        selStart = std::clamp<int64_t>(start, 0, Length());
        selEnd = std::clamp<int64_t>(end, 0, Length());
    }
    int64_t LineOf(int64_t offset) const override {
        return std::count(text.begin(), text.begin() + std::clamp<int64_t>(offset, 0, Length()),
                          '\n');
    }
    int64_t LineStart(int64_t line) const override {
        int64_t at = 0;
        for (; line > 0; --line) {
            const size_t nl = text.find('\n', size_t(at));
            if (nl == std::string::npos) {
                return -1;
            }
            at = int64_t(nl) + 1;
        }
        return at;
    }
    void ReplaceSelection(std::string_view bytes) override {
        text.replace(size_t(selStart), size_t(selEnd - selStart), bytes);
        selEnd = selStart + int64_t(bytes.size());
    }
    void BeginResult(int64_t) override { Begin(false); }
    void BeginNewResult(int64_t) override { Begin(true); }
    // The old text goes in one step.
    bool ClearStep() override { return false; }
    void AppendResult(std::string_view bytes) override {
        result_ += bytes;
        ++appended;
        if (onAppend) {
            onAppend();
        }
    }
    void EndResult(bool keep) override {
        if (keep && toNew_) {
            newDocuments.push_back(result_);
        } else if (keep) {
            text = result_;
        }
        result_.clear();
    }
    void Busy(bool b) override {
        busy = b;
        if (b) {
            highlights.clear();
        }
        busyCalls.push_back(b);
    }

    void VisibleRange(int64_t& start, int64_t& end) const override {
        start = visibleStart;
        end = visibleEnd < 0 ? Length() : visibleEnd;
    }
    void SetHighlights(const ByteRanges& ranges) override {
        if (!busy) {
            highlights = ranges;
            ++highlightCalls;
        }
    }
    void ClearHighlights() override {
        highlights.clear();
        ++clearCalls;
    }

  private:
    void Begin(bool toNew) {
        toNew_ = toNew;
        result_.clear();
    }
    bool toNew_ = false;
    std::string result_;
};

}  // namespace quarry
