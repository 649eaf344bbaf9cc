// LiveHighlighter: while the search expression is typed, marks the matchings
// in the part of the document its view shows and counts those of the whole
// document. The work runs on threads of its own, a while after the last
// change; each change cancels the work before, whose result is dropped.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "search_dialog/search_commands.h"
#include "search_dialog/search_target.h"

class QThread;

namespace quarry {

// What a live search looks for: the expression as typed and the options.
struct LiveQuery {
    QString expression;
    SearchOptions options;
};

// The count shown: at most this many matchings, for at most this long.
inline constexpr int32_t kLiveCountCap = 10000;
inline constexpr int kLiveCountMilliseconds = 500;
// A document up to this long is copied whole for the worker, which then also
// counts; a longer one gets only the part around what its view shows.
inline constexpr int64_t kLiveCopyLimit = int64_t{64} << 20;
// The part of a longer document searched after what its view shows, for a
// matching that begins there and runs on.
inline constexpr int64_t kLiveTail = int64_t{1} << 20;
// Highlights beyond this many in one view are left out.
inline constexpr size_t kLiveHighlightCap = 20000;

// The status line's words for a count; kLiveCountCap + 1 stands for more.
QString LiveCountText(int32_t count);

class LiveHighlighter : public QObject {
    Q_OBJECT
  public:
    LiveHighlighter(SearchTarget& target, std::function<LiveQuery()> readQuery,
                    QObject* parent = nullptr);
    // Cancels the work under way and waits for its threads.
    ~LiveHighlighter() override;

    // The expression, an option, the view or the document changed: the work
    // under way is dropped and runs again once nothing has changed for the
    // debounce interval. recount: the count is shown afresh; otherwise only
    // a count already shown is brought up to date, so that a command's
    // result stays in the status line while the view scrolls.
    void Schedule(bool recount);
    // Starts the work now, dropping the work under way.
    void RunNow(bool recount = true);
    // Drops the work under way and takes the highlights and the count away.
    void Stop();

    // The status line shows other words now: a count is no longer shown.
    void StatusTaken() { countShown_ = false; }

    // While false (a command runs), nothing is computed or shown.
    std::function<bool()> enabled;
    // Shows the count's words; an empty text takes them away.
    std::function<void(const QString&)> showCount;
    // Called on the worker thread before it searches; for tests.
    std::function<void()> workerStarted;

    int DebounceMilliseconds() const { return debounce_.interval(); }
    // Nothing waits to run and no thread runs: every result has been applied
    // or dropped.
    bool Idle() const { return !debounce_.isActive() && threads_.empty(); }
    // Threads still running, the cancelled ones too.
    int RunningThreads() const { return int(threads_.size()); }
    // Results applied since the start: each one a run that was not dropped.
    int AppliedResults() const { return applied_; }

  private:
    struct Job;
    void Start(const std::shared_ptr<Job>& job);
    // count: none while unknown.
    void Apply(uint64_t generation, const ByteRanges& ranges, std::optional<int32_t> count,
               bool updateCount);
    void CancelRunning();

    SearchTarget& target_;
    std::function<LiveQuery()> readQuery_;
    QTimer debounce_;
    uint64_t generation_ = 0;
    std::shared_ptr<Job> current_;
    struct Running {
        QThread* thread;
        std::shared_ptr<Job> job;
    };
    std::vector<Running> threads_;
    bool countShown_ = false;  // the status line shows a live count
    bool recountPending_ = false;
    int applied_ = 0;
};

}  // namespace quarry
