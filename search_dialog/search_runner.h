// Runs one search operation on a thread with a stack large enough for the
// matcher's recursion, while the user-interface thread goes on handling
// events: the windows repaint, Cancel is heard, and progress reaches the bar
// through queued signals.
#pragma once

#include <QObject>

#include <atomic>
#include <cstddef>
#include <functional>

#include "search/host.h"
#include "ui/message_dlg.h"

namespace quarry {

class SearchRunner : public QObject, public SearchHost {
    Q_OBJECT
  public:
    explicit SearchRunner(QObject* parent = nullptr);

    // Called by the matcher on the search thread.
    bool PollCancel() override;
    void ReportProgress(int percent) override;

    // Safe from any thread; the operation stops at its next poll.
    void RequestCancel();
    bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }

    // Forgets a cancel request; done before each command.
    void ResetCancel() { cancel_.store(false, std::memory_order_relaxed); }

    // Runs work on the search thread and returns once it has ended, running a
    // local event loop meanwhile. A cancel request made before still counts.
    // False when no such thread could be made; work has not run then.
    bool Run(const std::function<void()>& work);
    bool IsRunning() const { return running_; }
    // The search thread's stack; smaller ones let tests reach its end.
    void SetStackBytes(size_t bytes) { stackBytes_ = bytes; }
    size_t StackBytes() const { return stackBytes_; }

  signals:
    // Emitted on the search thread, delivered on the receiver's thread.
    void Progress(int percent);

  private:
    std::atomic<bool> cancel_{false};
    std::atomic<int> lastPercent_{-1};
    bool running_ = false;
    size_t stackBytes_;
};

}  // namespace quarry
