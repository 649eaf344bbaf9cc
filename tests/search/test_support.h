// Helpers shared by the search-core tests: a host that records what the core
// tells it, and message capture.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "search/host.h"

namespace quarry::test {

struct Message {
    std::string text;
    std::string title;
    int style;
};

// Installs a message handler for the lifetime of the object.
class MessageRecorder {
  public:
    MessageRecorder() {
        SetMessageHandler([this](const std::string& text, const MessageTitle& title,
                                 const std::vector<std::string>&, int style) {
            messages.push_back({text, title.value_or("(default title)"), style});
            return IDOK;
        });
    }
    ~MessageRecorder() { SetMessageHandler(nullptr); }
    std::vector<Message> messages;
};

// Goes on for `pollsBeforeCancel` polls, then asks to stop (-1: never).
class RecordingHost : public SearchHost {
  public:
    explicit RecordingHost(long pollsBeforeCancel = -1) : budget_(pollsBeforeCancel) {}
    bool PollCancel() override {
        const long seen = ++polls;
        return budget_ < 0 || seen <= budget_;
    }
    void ReportProgress(int percent) override { progress.push_back(percent); }
    std::atomic<long> polls{0};  // polled from several threads at once
    std::vector<int> progress;

  private:
    long budget_;
};

}  // namespace quarry::test
