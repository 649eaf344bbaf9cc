#include "search_dialog/live_highlight.h"

#include <QLocale>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "search/expression.h"
#include "search/stack_guard.h"

namespace quarry {

QString LiveCountText(int32_t count) {
    const QLocale english(QLocale::English);
    if (count > kLiveCountCap) {
        return QStringLiteral("more than %1 matchings").arg(english.toString(kLiveCountCap));
    }
    if (count == 0) {
        return QString::fromLatin1(kStatusNotFound);
    }
    if (count == 1) {
        return QStringLiteral("1 matching");
    }
    return QStringLiteral("%1 matchings").arg(english.toString(count));
}

// One run: its own copy of the bytes, so that the document stays free for
// edits while it runs, and its own compiled expression.
struct LiveHighlighter::Job : SearchHost {
    using Clock = std::chrono::steady_clock;

    bool PollCancel() override {
        if (cancel.load(std::memory_order_relaxed)) {
            return false;
        }
        return !counting || Clock::now() < deadline;
    }
    void ReportProgress(int) override {}

    std::atomic<bool> cancel{false};
    uint64_t generation = 0;
    bool updateCount = false;
    std::unique_ptr<CExpression> expression;
    SearchOptions options;
    // The copy holds the document's bytes from copyStart on.
    std::string copy;
    int64_t copyStart = 0;
    bool whole = false;  // the copy is the whole text: the count can be had
    // Where the search for the visible part begins, and that part.
    int64_t syncFrom = 0;
    int64_t visibleStart = 0;
    int64_t visibleEnd = 0;
    // Set on the worker only.
    bool counting = false;
    Clock::time_point deadline;
};

LiveHighlighter::LiveHighlighter(SearchTarget& target, std::function<LiveQuery()> readQuery,
                                 QObject* parent)
    : QObject(parent), target_(target), readQuery_(std::move(readQuery)) {
    debounce_.setSingleShot(true);
    debounce_.setInterval(150);
    connect(&debounce_, &QTimer::timeout, this, [this] { RunNow(recountPending_); });
}

LiveHighlighter::~LiveHighlighter() {
    for (Running& r : threads_) {
        r.job->cancel.store(true, std::memory_order_relaxed);
    }
    // Each stops at its next poll; their queued results go with this object.
    for (Running& r : threads_) {
        r.thread->wait();
        delete r.thread;
    }
}

void LiveHighlighter::Schedule(bool recount) {
    CancelRunning();
    recountPending_ = recountPending_ || recount;
    debounce_.start();
}

void LiveHighlighter::CancelRunning() {
    // A result of a run before this one is dropped even if it comes.
    ++generation_;
    if (current_) {
        current_->cancel.store(true, std::memory_order_relaxed);
        current_.reset();
    }
}

void LiveHighlighter::Stop() {
    CancelRunning();
    debounce_.stop();
    recountPending_ = false;
    target_.ClearHighlights();
    if (countShown_ && showCount) {
        showCount(QString());
    }
    countShown_ = false;
}

void LiveHighlighter::RunNow(bool recount) {
    debounce_.stop();
    recountPending_ = false;
    CancelRunning();
    if (enabled && !enabled()) {
        return;  // a command runs: its document shows no highlights
    }
    const LiveQuery query = readQuery_();
    if (query.expression.isEmpty() || !target_.HasDocument()) {
        Stop();
        return;
    }
    const std::optional<std::string> pattern = target_.ToDocumentBytes(query.expression);
    if (!pattern) {
        Stop();
        return;
    }
    auto job = std::make_shared<Job>();
    // Compiled here: an expression that does not compile ends the run at once.
    job->expression = std::make_unique<CExpression>(pattern->c_str(), job.get(), target_.Mode());
    if (job->expression->m_nState == CExpression::kInvalid) {
        Stop();
        return;
    }
    job->generation = generation_;
    job->options = query.options;
    job->updateCount = recount || countShown_;
    int64_t start = 0;
    int64_t end = 0;
    target_.VisibleRange(start, end);
    const std::string_view text = target_.Text();
    const auto length = int64_t(text.size());
    job->visibleStart = std::clamp<int64_t>(start, 0, length);
    job->visibleEnd = std::clamp<int64_t>(end, job->visibleStart, length);
    // The part shows whole lines. In line mode no matching crosses a line
    // break, so searching from the first shown line finds what a search from
    // the text's start finds there; across lines, a matching that begins up
    // to the search limit before may reach in.
    job->syncFrom = job->visibleStart;
    if (!query.options.lineMode && query.options.searchLimit > 0) {
        job->syncFrom = std::max<int64_t>(0, job->syncFrom - query.options.searchLimit);
    }
    if (length <= kLiveCopyLimit) {
        job->copy.assign(text);
        job->whole = true;
    } else {
        // One byte before the search's start is kept, so that «^» (the
        // text's start only) finds no start there and «\b» sees that byte.
        job->copyStart = std::max<int64_t>(0, job->syncFrom - 1);
        const int64_t copyEnd = std::min(length, job->visibleEnd + kLiveTail);
        job->copy.assign(text.substr(size_t(job->copyStart), size_t(copyEnd - job->copyStart)));
    }
    current_ = job;
    Start(job);
}

void LiveHighlighter::Start(const std::shared_ptr<Job>& job) {
    const std::function<void()> started = workerStarted;
    QThread* thread = QThread::create([this, job, started] {
        if (started) {
            started();
        }
        CExpression& expression = *job->expression;
        const SearchOptions& o = job->options;
        const char* text = job->copy.c_str();
        const auto length = int32_t(job->copy.size());
        const auto rel = [&](int64_t offset) { return int32_t(offset - job->copyStart); };

        // The visible part first: it shows before the count is known.
        ByteRanges ranges;
        LineHint hint;
        const char* from = text + rel(job->syncFrom);
        while (ranges.size() < kLiveHighlightCap) {
            if (expression.Search(text, length, from, o.matchCase, o.searchLimit, o.lineMode,
                                  &hint) != SearchOutcome::kFound) {
                break;
            }
            const int64_t pos = job->copyStart + expression.GroupStart(0);
            const int64_t n = expression.GroupEnd(0) - expression.GroupStart(0);
            if (pos >= job->visibleEnd || n == 0) {
                break;
            }
            if (pos + n > job->visibleStart) {
                ranges.emplace_back(pos, pos + n);
            }
            from = text + rel(pos + n);
        }
        if (job->cancel.load(std::memory_order_relaxed)) {
            return;
        }
        const uint64_t generation = job->generation;
        const bool updateCount = job->updateCount;
        // Without a count to follow, a count shown before is taken away.
        const bool clearCount = updateCount && !job->whole;
        QMetaObject::invokeMethod(
            this,
            [this, generation, ranges, clearCount] {
                Apply(generation, ranges, std::nullopt, clearCount);
            },
            Qt::QueuedConnection);
        if (!job->whole || !updateCount) {
            return;
        }

        // The count, in the loop List Matchings runs, within a bound of
        // matchings and of time.
        job->counting = true;
        job->deadline = Job::Clock::now() + std::chrono::milliseconds(kLiveCountMilliseconds);
        LineHint line;
        int32_t count = 0;
        int64_t emptyAt = -1;
        from = text;
        SearchOutcome outcome = SearchOutcome::kFound;
        while (count <= kLiveCountCap) {
            outcome = expression.Search(text, length, from, o.matchCase, o.searchLimit, o.lineMode,
                                        &line);
            if (outcome != SearchOutcome::kFound) {
                break;
            }
            const int32_t pos = expression.GroupStart(0);
            const int32_t n = expression.GroupEnd(0) - pos;
            ++count;
            if (n == 0) {
                emptyAt = pos;  // counted, and it ends the listing
                break;
            }
            from = text + pos + n;
        }
        if (job->cancel.load(std::memory_order_relaxed)) {
            return;
        }
        std::optional<int32_t> counted;
        if (outcome == SearchOutcome::kFound || outcome == SearchOutcome::kNone) {
            counted = count;
        }
        if (emptyAt >= 0 && emptyAt < job->visibleEnd) {
            // The listing ends there: nothing after it is a matching of it.
            std::erase_if(ranges, [&](const auto& r) { return r.first > emptyAt; });
        }
        QMetaObject::invokeMethod(
            this, [this, generation, ranges, counted] { Apply(generation, ranges, counted, true); },
            Qt::QueuedConnection);
    });
    thread->setStackSize(static_cast<uint>(SearchStackBytes()));
    threads_.push_back({thread, job});
    connect(thread, &QThread::finished, this, [this, thread] {
        std::erase_if(threads_, [thread](const Running& r) { return r.thread == thread; });
        thread->deleteLater();
    });
    thread->start();
}

void LiveHighlighter::Apply(uint64_t generation, const ByteRanges& ranges,
                            std::optional<int32_t> count, bool updateCount) {
    if (generation != generation_ || (enabled && !enabled())) {
        return;
    }
    ++applied_;
    target_.SetHighlights(ranges);
    if (updateCount && showCount) {
        const QString words = count ? LiveCountText(*count) : QString();
        showCount(words);
        countShown_ = !words.isEmpty();
    }
}

}  // namespace quarry
