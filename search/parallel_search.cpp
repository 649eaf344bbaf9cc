#include "search/parallel_search.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "search/stack_guard.h"

namespace quarry {
namespace {

bool IsBreak(char c) {
    return c == '\n' || c == '\r';
}

// The host as one piece's CExpression sees it: cancelling goes to the real
// host; progress, reported against the piece's own view of the text, becomes
// bytes done of the whole.
class PieceHost : public SearchHost {
  public:
    struct Shared {
        SearchHost* host = nullptr;
        int64_t total = 0;
        std::atomic<int64_t> done{0};
        std::atomic<int> lastPercent{0};
        // The first piece whose loop ended early, by a failure or an empty
        // matching: nothing after it matters, and pieces after it stop.
        std::atomic<size_t> stopAfter{SIZE_MAX};
        std::mutex progressMutex;  // the real host hears progress from one thread at a time
    };

    PieceHost(Shared& shared, size_t index, int32_t start, int32_t end)
        : shared_(shared), index_(index), start_(start), end_(end) {}

    // Polled before nearly every attempt, on every thread: a lock here made
    // the threads queue for each other all the time. Hosts poll from any
    // thread (see SearchHost).
    bool PollCancel() override {
        if (index_ > shared_.stopAfter.load(std::memory_order_relaxed)) {
            return false;
        }
        return shared_.host == nullptr || shared_.host->PollCancel();
    }

    // percent relates to the piece's view, text[0, end): so much of it lies
    // behind the search now.
    void ReportProgress(int percent) override {
        const int64_t reached = int64_t{end_} * std::clamp(percent, 0, 100) / 100;
        Advance(std::clamp<int64_t>(reached - start_, 0, end_ - start_));
    }

    void Finish() { Advance(end_ - start_); }

  private:
    void Advance(int64_t bytes) {
        if (bytes <= counted_) {
            return;
        }
        const int64_t done = shared_.done.fetch_add(bytes - counted_) + (bytes - counted_);
        counted_ = bytes;
        if (shared_.host == nullptr || shared_.total <= 0) {
            return;
        }
        const int percent = static_cast<int>(done * 100 / shared_.total);
        int last = shared_.lastPercent.load();
        while (percent > last && !shared_.lastPercent.compare_exchange_weak(last, percent)) {
        }
        if (percent > last) {
            std::lock_guard<std::mutex> lock(shared_.progressMutex);
            shared_.host->ReportProgress(percent);
        }
    }

    Shared& shared_;
    const size_t index_;
    const int32_t start_;
    const int32_t end_;
    int64_t counted_ = 0;
};

// A piece's output, on cache lines of its own: buffers pass from thread to
// thread, and two buffers' fields side by side on one line made each thread's
// appends wait for the other's writes.
struct alignas(64) PieceOutput {
    explicit PieceOutput(int32_t size) : buffer(size) {}
    TextBuffer buffer;
};

struct Piece {
    int32_t start = 0;
    int32_t end = 0;
    std::unique_ptr<PieceOutput> output;
    LoopResult result;
    bool ran = false;
};

LoopResult RunPiece(const LineModeJob& job, const char* text, Piece& piece, SearchHost* host) {
    CExpression expression(job.pattern, host, job.mode);
    // The piece's view ends at its last line break: its lines are exactly the
    // whole text's, and the text start stays where «^» can hold.
    if (job.rewrite != nullptr) {
        return expression.ReplaceAll(text, piece.end, piece.output->buffer, job.rewrite,
                                     job.matchCase, job.searchLimit, true, piece.start);
    }
    return expression.ListMatchings(text, piece.end, piece.output->buffer, job.matchCase,
                                    job.searchLimit, true, job.separator, piece.start);
}

// Joins the pieces' results into the output in order, as soon as each piece
// and all before it have run, and hands their buffers on to pieces yet to
// run. So a Replace All does not fill a second copy of the text in fresh
// pages (each page a fault) before joining it: only a few pieces' buffers
// are ever held, written over again and again.
class Joiner {
  public:
    Joiner(const LineModeJob& job, const char* text, int32_t length, std::vector<Piece>& pieces,
           TextBuffer& output)
        : job_(job), text_(text), length_(length), pieces_(pieces), output_(output) {}

    // A buffer for piece i: one a joined piece left, or a new one.
    std::unique_ptr<PieceOutput> BufferFor(size_t i) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spare_.empty()) {
                std::unique_ptr<PieceOutput> buffer = std::move(spare_.back());
                spare_.pop_back();
                buffer->buffer.Clear();
                return buffer;
            }
        }
        return std::make_unique<PieceOutput>(pieces_[i].end - pieces_[i].start + 3);
    }

    // Marks piece `ran` (if any) as run, its result and output written, and
    // joins what can be joined now. Returns false once the result is known
    // whole: a piece that failed, or ended the run with an empty matching.
    bool JoinReady(size_t ran = SIZE_MAX) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ran < pieces_.size()) {
            pieces_[ran].ran = true;
        }
        while (!done_ && next_ < pieces_.size() && pieces_[next_].ran) {
            JoinPiece(pieces_[next_]);
            ++next_;
        }
        return !done_;
    }

    // The run's result once every piece that was to run has run.
    LoopResult Result() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!done_ && next_ < pieces_.size()) {
            // A piece was left out although none before it ended the run;
            // only for safety's sake.
            return {SearchOutcome::kCancelled, total_.count};
        }
        if (!done_) {
            total_.outcome = total_.count > 0 ? SearchOutcome::kFound : SearchOutcome::kNone;
        }
        return total_;
    }

  private:
    void JoinPiece(Piece& piece) {
        LoopResult r = piece.result;
        if (r.outcome != SearchOutcome::kFound && r.outcome != SearchOutcome::kNone) {
            Finish({r.outcome, total_.count + r.count});
            return;
        }
        const bool last = &piece == &pieces_.back();
        if (r.emptyAt == piece.end && !last) {
            // The piece's view ends at the cut, where the whole text goes on
            // with the next line: an empty matching there belongs to the next
            // piece, which finds it if the whole text has it.
            --r.count;
            r.emptyAt = -1;
        }
        total_.count += r.count;
        if (!Emit(piece.output->buffer.Data(), piece.output->buffer.Length())) {
            Finish({SearchOutcome::kOutputShort, total_.count});
            return;
        }
        spare_.push_back(std::move(piece.output));
        if (r.emptyAt >= 0) {
            // Nothing after an empty matching is searched: the rest of a
            // Replace All is the text as it is.
            total_.emptyAt = r.emptyAt;
            if (job_.rewrite != nullptr &&
                !Emit(text_ + piece.end, static_cast<int32_t>(length_ - piece.end))) {
                Finish({SearchOutcome::kOutputShort, total_.count});
                return;
            }
            total_.outcome = total_.count > 0 ? SearchOutcome::kFound : SearchOutcome::kNone;
            done_ = true;
        }
    }

    bool Emit(const char* data, int32_t size) {
        return job_.sink ? job_.sink(data, static_cast<size_t>(size)) : output_.Append(data, size);
    }

    void Finish(LoopResult result) {
        total_ = result;
        done_ = true;
    }

    const LineModeJob& job_;
    const char* text_;
    const int32_t length_;
    std::vector<Piece>& pieces_;
    TextBuffer& output_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<PieceOutput>> spare_;
    size_t next_ = 0;  // the first piece not joined yet
    LoopResult total_;
    bool done_ = false;
};

}  // namespace

std::vector<int32_t> LineStartCuts(const char* text, int32_t length, int32_t piece) {
    std::vector<int32_t> cuts;
    piece = std::max(piece, 1);
    for (int64_t at = piece; at < length;) {
        auto p = static_cast<int32_t>(at);
        while (p < length && !(IsBreak(text[p - 1]) && !IsBreak(text[p]))) {
            ++p;
        }
        if (p >= length) {
            break;
        }
        cuts.push_back(p);
        at = int64_t{p} + piece;
    }
    return cuts;
}

LoopResult RunLineModeJob(const LineModeJob& job, const char* text, int32_t length,
                          TextBuffer& output, SearchHost* host, int threads, size_t stackBytes) {
    const int32_t pieceSize =
        std::max(job.minPiece, static_cast<int32_t>(length / (std::max(threads, 1) * 8)));
    // A result for a sink is made piece by piece on one thread too: it goes
    // out as it is made, from one buffer written over again and again, where
    // one loop would fill a copy of the whole result in fresh pages first.
    std::vector<int32_t> cuts;
    if ((threads >= 2 || job.sink) && length >= 2 * int64_t{job.minPiece}) {
        cuts = LineStartCuts(text, length, pieceSize);
    }
    if (cuts.empty()) {
        CExpression expression(job.pattern, host, job.mode);
        return job.rewrite != nullptr
                   ? expression.ReplaceAll(text, length, output, job.rewrite, job.matchCase,
                                           job.searchLimit, true)
                   : expression.ListMatchings(text, length, output, job.matchCase, job.searchLimit,
                                              true, job.separator);
    }

    std::vector<Piece> pieces(cuts.size() + 1);
    for (size_t i = 0; i < pieces.size(); ++i) {
        pieces[i].start = i == 0 ? 0 : cuts[i - 1];
        pieces[i].end = i < cuts.size() ? cuts[i] : length;
    }
    Joiner joiner(job, text, length, pieces, output);
    PieceHost::Shared shared;
    shared.host = host;
    shared.total = length;
    std::atomic<size_t> next{0};
    const std::function<void()> work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < pieces.size();) {
            if (i > shared.stopAfter.load()) {
                continue;
            }
            Piece& piece = pieces[i];
            piece.output = joiner.BufferFor(i);
            PieceHost pieceHost(shared, i, piece.start, piece.end);
            piece.result = RunPiece(job, text, piece, &pieceHost);
            pieceHost.Finish();
            const bool whole = piece.result.outcome == SearchOutcome::kFound ||
                               piece.result.outcome == SearchOutcome::kNone;
            const bool endedEarly = piece.result.emptyAt >= 0 && piece.result.emptyAt < piece.end;
            if ((!whole && piece.result.outcome != SearchOutcome::kCancelled) || endedEarly) {
                size_t last = shared.stopAfter.load();
                while (i < last && !shared.stopAfter.compare_exchange_weak(last, i)) {
                }
            }
            if (!joiner.JoinReady(i)) {
                // The result is whole (or failed) before this piece's end:
                // nothing after it is needed.
                size_t last = shared.stopAfter.load();
                while (i < last && !shared.stopAfter.compare_exchange_weak(last, i)) {
                }
            }
        }
    };
    if (threads < 2 || RunOnLargeStacks(stackBytes, threads, work) == 0) {
        work();  // on this thread, piece after piece
    }
    joiner.JoinReady();
    return joiner.Result();
}

}  // namespace quarry
