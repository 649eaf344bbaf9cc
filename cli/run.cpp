#include "cli/run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/mapped_file.h"
#include "search/expression.h"
#include "search/host.h"
#include "search/parallel_search.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"

namespace quarry::cli {

namespace {

constexpr size_t kReadChunk = size_t{1} << 20;
constexpr size_t kWriteChunk = size_t{1} << 20;
constexpr auto kProgressDelay = std::chrono::milliseconds(500);
constexpr int kProgressCells = 40;

// Everything quarry-cli says on standard error goes through here, so that a
// progress bar drawn by the search thread is wiped before any other text.
class ErrorOutput {
  public:
    explicit ErrorOutput(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {}

    void StartProgressClock() {
        std::lock_guard<std::mutex> lock(mutex_);
        start_ = std::chrono::steady_clock::now();
        clockRunning_ = true;
    }

    // Draws the bar only on a terminal and only once the run has taken long
    // enough to be worth watching.
    void Progress(int percent) {
        if (!terminal_) {
            return;
        }
        percent = std::clamp(percent, 0, 100);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!clockRunning_ || percent == drawnPercent_) {
            return;
        }
        if (!barShown_ && std::chrono::steady_clock::now() - start_ < kProgressDelay) {
            return;
        }
        const int filled = percent * kProgressCells / 100;
        std::string bar = "\r[";
        bar.append(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kProgressCells - filled), ' ');
        bar += "] " + std::to_string(percent) + "%";
        WriteAll(fd_, bar.data(), bar.size());
        barShown_ = true;
        drawnPercent_ = percent;
    }

    void StopProgress() {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
        clockRunning_ = false;
    }

    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearLocked();
        std::string line = text + "\n";
        WriteAll(fd_, line.data(), line.size());
    }

  private:
    void ClearLocked() {
        if (!barShown_) {
            return;
        }
        // "\r[" + cells + "] 100%"
        std::string blank = "\r" + std::string(kProgressCells + 8, ' ') + "\r";
        WriteAll(fd_, blank.data(), blank.size());
        barShown_ = false;
        drawnPercent_ = -1;
    }

    std::mutex mutex_;
    const int fd_;
    const bool terminal_;
    bool clockRunning_ = false;
    bool barShown_ = false;
    int drawnPercent_ = -1;
    std::chrono::steady_clock::time_point start_;
};

class CliHost : public SearchHost {
  public:
    CliHost(const std::atomic<bool>& interrupted, ErrorOutput& errors)
        : interrupted_(interrupted), errors_(errors) {}
    bool PollCancel() override { return !interrupted_.load(std::memory_order_relaxed); }
    void ReportProgress(int percent) override { errors_.Progress(percent); }

  private:
    const std::atomic<bool>& interrupted_;
    ErrorOutput& errors_;
};

enum class ReadStatus { kOk, kFailed, kInterrupted };

// The text to search: a named file mapped into memory, or the bytes read into
// a buffer (standard input, joined files, or a file that could not be mapped).
struct Input {
    MappedFile mapped;
    std::unique_ptr<TextBuffer> buffer;

    const char* Data() const { return buffer ? buffer->Data() : mapped.Data(); }
    int32_t Length() const { return buffer ? buffer->Length() : mapped.Length(); }
};

// name: a file name as given, shown with its control characters escaped.
std::string SystemError(const std::string& name, int error) {
    return "quarry-cli: " + EscapeControls(name) + ": " + std::strerror(error);
}

void ReportUnreadable(ErrorOutput& errors, const std::string& path, int error) {
    ShowFileAccessDenied(path);
    errors.Line(SystemError(path, error));
}

// what: "big.txt is", "the joined files are"; size: "2147483648 bytes".
void ReportTooLarge(ErrorOutput& errors, const std::string& what, const std::string& size) {
    errors.Line("quarry-cli: " + EscapeControls(what) + " too large: " + size + ", but at most " +
                std::to_string(kMaxInputBytes) + " bytes (just under 2 GiB) can be searched");
}

std::string Bytes(int64_t size) {
    return std::to_string(size) + " bytes";
}

void ReportNoMemory(ErrorOutput& errors, const std::string& name) {
    errors.Line("quarry-cli: " + EscapeControls(name) + ": not enough memory to read it");
}

// A buffer whose first block already holds `content` bytes, so that reading
// them needs no growth. The size is clamped to what the buffer can express.
std::unique_ptr<TextBuffer> MakeBufferFor(int64_t content) {
    const int64_t size = std::min<int64_t>(content + 2, INT32_MAX);
    return std::make_unique<TextBuffer>(static_cast<int32_t>(size));
}

// Makes room for `more` bytes behind the content, doubling the block rather
// than growing it by a fixed step, so that reading a stream of unknown length
// copies each byte only a few times.
bool MakeRoom(TextBuffer& buffer, int64_t more) {
    const int64_t needed = int64_t{buffer.length} + more;
    if (buffer.data != nullptr && buffer.capacity > needed + 1) {
        return true;
    }
    int64_t step = std::max<int64_t>(buffer.capacity, int64_t{1} << 16);
    step = std::min<int64_t>(step, int64_t{INT32_MAX} - buffer.capacity);
    buffer.growStep = static_cast<int32_t>(std::max<int64_t>(step, 1));
    return buffer.Reserve(static_cast<int32_t>(needed));
}

// Reads fd to its end behind the buffer's content, exactly as the bytes come.
ReadStatus ReadStream(int fd, const std::string& name, TextBuffer& buffer,
                      const std::atomic<bool>& interrupted, ErrorOutput& errors) {
    for (;;) {
        if (interrupted.load()) {
            return ReadStatus::kInterrupted;
        }
        const int64_t room = kMaxInputBytes - buffer.length;
        if (room <= 0) {
            // Full: only an immediate end of input keeps it acceptable.
            char probe;
            ssize_t n = ::read(fd, &probe, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                errors.Line(SystemError(name, errno));
                return ReadStatus::kFailed;
            }
            if (n == 0) {
                return ReadStatus::kOk;
            }
            ReportTooLarge(errors, name + " is", "more than " + Bytes(kMaxInputBytes));
            return ReadStatus::kFailed;
        }
        // Fill the block as it is before growing it: a buffer made for a
        // file's known size then takes the whole file without a resize.
        const int64_t spare = buffer.data ? int64_t{buffer.capacity} - buffer.length - 1 : 0;
        int64_t want = std::min<int64_t>(room, kReadChunk);
        if (spare > 0) {
            want = std::min(want, spare);
        } else if (!MakeRoom(buffer, want)) {
            ReportNoMemory(errors, name);
            return ReadStatus::kFailed;
        }
        ssize_t n = ::read(fd, buffer.data + buffer.length, static_cast<size_t>(want));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            errors.Line(SystemError(name, errno));
            return ReadStatus::kFailed;
        }
        if (n == 0) {
            return ReadStatus::kOk;
        }
        buffer.length += static_cast<int32_t>(n);
        buffer.data[buffer.length] = '\0';
    }
}

// One file, or standard input when path is null: its exact bytes.
ReadStatus ReadSingle(const std::string* path, const RunIo& io, Input& input,
                      const std::atomic<bool>& interrupted, ErrorOutput& errors) {
    const std::string name = path ? *path : std::string("standard input");
    int fd = io.in;
    if (path) {
        fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ReportUnreadable(errors, *path, errno);
            return ReadStatus::kFailed;
        }
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned) {
                ::close(fd);
            }
        }
    } closer{fd, path != nullptr};

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        errors.Line(SystemError(name, errno));
        return ReadStatus::kFailed;
    }
    if (S_ISDIR(info.st_mode)) {
        if (path) {
            ReportUnreadable(errors, *path, EISDIR);
        } else {
            errors.Line(SystemError(name, EISDIR));
        }
        return ReadStatus::kFailed;
    }
    if (S_ISREG(info.st_mode)) {
        // Only the part from the current offset is read (standard input may
        // have been positioned by the caller).
        off_t at = path ? 0 : ::lseek(fd, 0, SEEK_CUR);
        int64_t size = int64_t{info.st_size} - std::max<int64_t>(at, 0);
        size = std::max<int64_t>(size, 0);
        if (size > kMaxInputBytes) {
            ReportTooLarge(errors, name + " is", Bytes(size));
            return ReadStatus::kFailed;
        }
        if (path && size > 0 && input.mapped.Map(fd, size)) {
            return ReadStatus::kOk;
        }
        input.buffer = MakeBufferFor(size);
    } else {
        input.buffer = std::make_unique<TextBuffer>();
    }
    return ReadStream(fd, name, *input.buffer, interrupted, errors);
}

// Several files joined as the desktop application's Open joins them: each
// file's content through AppendFile, then one LF.
ReadStatus ReadJoined(const CliOptions& options, std::unique_ptr<TextBuffer>& input,
                      const std::atomic<bool>& interrupted, ErrorOutput& errors) {
    // Every file is checked, and the total weighed, before anything is read.
    int64_t total = 0;
    for (const std::string& path : options.files) {
        struct stat info {};
        // Without blocking: opening a FIFO would wait for a writer.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            ReportUnreadable(errors, path, errno);
            return ReadStatus::kFailed;
        }
        const bool statOk = ::fstat(fd, &info) == 0;
        const int statError = errno;
        ::close(fd);
        if (!statOk) {
            errors.Line(SystemError(path, statError));
            return ReadStatus::kFailed;
        }
        if (S_ISDIR(info.st_mode)) {
            ReportUnreadable(errors, path, EISDIR);
            return ReadStatus::kFailed;
        }
        // The join takes each file's length up front; a pipe or device has
        // none and would silently contribute nothing.
        if (!S_ISREG(info.st_mode)) {
            errors.Line("quarry-cli: " + EscapeControls(path) +
                        ": only regular files can be joined");
            return ReadStatus::kFailed;
        }
        total += int64_t{info.st_size} + 1;
    }
    if (total > kMaxInputBytes) {
        ReportTooLarge(errors, "the joined files are", Bytes(total) + " with their line breaks");
        return ReadStatus::kFailed;
    }
    input = MakeBufferFor(total);
    if (!input->Reserve(static_cast<int32_t>(total))) {
        ReportNoMemory(errors, "the joined files");
        return ReadStatus::kFailed;
    }
    const JoinMode joinMode = options.binaryJoin ? JoinMode::kBinary : JoinMode::kText;
    for (const std::string& path : options.files) {
        if (interrupted.load()) {
            return ReadStatus::kInterrupted;
        }
        const int32_t appended = input->AppendFile(path, joinMode);
        if (appended == TextBuffer::kFileNoRoom) {
            ReportNoMemory(errors, path);
            return ReadStatus::kFailed;
        }
        if (appended < 0) {
            return ReadStatus::kFailed;  // its message has been shown
        }
        if (!input->Append("\n", 1)) {
            ReportNoMemory(errors, "the joined files");
            return ReadStatus::kFailed;
        }
    }
    return ReadStatus::kOk;
}

std::string CountText(int32_t count, const char* verb) {
    return std::to_string(count) + " matchings " + verb;
}

// Standard output as a regular file that the result is added at the end of
// (opened with ">" or ">>"): a result made on several threads then goes out
// piece by piece while the search runs, not all at once after it, and a run
// that fails or is interrupted cuts the file back to where the result began,
// so that it leaves nothing, as a result held back until whole would.
class StreamedOutput {
  public:
    StreamedOutput(int fd, int errorFd) : fd_(fd) {
        struct stat st {};
        struct stat err {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            return;
        }
        if (fstat(errorFd, &err) == 0 && err.st_dev == st.st_dev && err.st_ino == st.st_ino) {
            return;  // "2>&1": cutting the file back would take the messages with it
        }
        const int flags = fcntl(fd, F_GETFL);
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (flags < 0 || ((flags & O_APPEND) == 0 && at != st.st_size)) {
            return;  // writing here would overwrite what the file holds
        }
        start_ = st.st_size;
        on_ = true;
    }
    StreamedOutput(const StreamedOutput&) = delete;
    StreamedOutput& operator=(const StreamedOutput&) = delete;
    ~StreamedOutput() {
        if (on_ && !kept_ && ftruncate(fd_, start_) == 0) {
            lseek(fd_, start_, SEEK_SET);
        }
    }

    bool On() const { return on_; }
    // The run succeeded: what was written stays.
    void Keep() { kept_ = true; }

    int error = 0;  // of the first failed write (EINTR: interrupted)

  private:
    const int fd_;
    off_t start_ = 0;
    bool on_ = false;
    bool kept_ = false;
};

}  // namespace

int WriteAll(int fd, const char* data, size_t size, const std::atomic<bool>* stopFlag) {
    while (size > 0) {
        if (stopFlag && stopFlag->load()) {
            return EINTR;
        }
        ssize_t n = ::write(fd, data, std::min(size, kWriteChunk));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor inherited from the caller: wait
                // until it takes more.
                pollfd waitFor{fd, POLLOUT, 0};
                ::poll(&waitFor, 1, -1);
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int Run(const CliOptions& options, const RunIo& io, const std::atomic<bool>& interrupted) {
    ErrorOutput errors(io.err);
    SetMessageHandler([&errors](const std::string& text, const MessageTitle& title,
                                const std::vector<std::string>&, int style) {
        errors.Line(title.value_or("quarry-cli") + "\n" + text);
        // Nobody is there to answer a question: take the cautious choice.
        return style == MB_OK ? IDOK : IDCANCEL;
    });
    struct HandlerReset {
        ~HandlerReset() { SetMessageHandler(nullptr); }
    } handlerReset;

    const std::string threadError = "quarry-cli: can't start the search thread with its " +
                                    std::to_string(SearchStackBytes() >> 20) + " MiB stack";

    CliHost host(interrupted, errors);
    const TextMode mode = options.bytes ? TextMode::kBytes : TextMode::kUtf8;
    auto expression = std::make_unique<CExpression>(options.expression.c_str(), &host, mode);
    if (expression->m_nState == CExpression::kInvalid) {
        errors.Line("Invalid expression");
        std::string why = "quarry-cli: invalid expression '" + EscapeControls(options.expression) +
                          "': " + CompileStatusText(expression->compileStatus());
        if (expression->compileOffset() >= 0) {
            why += " (at offset " + std::to_string(expression->compileOffset()) + ")";
        }
        errors.Line(why);
        return kExitError;
    }
    if (options.rewrite) {
        // A rewrite that cannot be expanded would turn every matching into
        // nothing: refuse it before anything is read or written.
        const RewriteCheck check = expression->CheckRewrite(options.rewrite->c_str());
        if (check.fault != RewriteFault::kNone) {
            errors.Line("quarry-cli: invalid rewrite expression '" +
                        EscapeControls(*options.rewrite) + "': " + RewriteFaultText(check));
            return kExitError;
        }
    }

    Input input;
    ReadStatus read = ReadStatus::kOk;
    if (options.files.size() <= 1) {
        read = ReadSingle(options.files.empty() ? nullptr : &options.files[0], io, input,
                          interrupted, errors);
    } else {
        read = ReadJoined(options, input.buffer, interrupted, errors);
    }
    if (read == ReadStatus::kInterrupted) {
        errors.Line("Cancelled");
        return kExitInterrupted;
    }
    if (read == ReadStatus::kFailed) {
        return kExitError;
    }

    // Results grow in steps of the input's size.
    std::unique_ptr<TextBuffer> output = MakeBufferFor(int64_t{input.Length()} + 3);
    LoopResult result;
    errors.StartProgressClock();
    const int threads = options.threads > 0
                            ? options.threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    StreamedOutput streamed(io.out, io.err);
    const bool ran = RunOnLargeStack(SearchStackBytes(), [&] {
        if (options.lineMode && (threads > 1 || streamed.On())) {
            LineModeJob job;
            if (streamed.On()) {
                // Called by one thread at a time, in the result's order.
                job.sink = [&](const char* data, size_t size) {
                    streamed.error = WriteAll(io.out, data, size, &interrupted);
                    return streamed.error == 0;
                };
            }
            job.pattern = options.expression.c_str();
            job.mode = mode;
            job.matchCase = options.matchCase;
            job.searchLimit = options.searchLimit;
            job.rewrite = options.rewrite ? options.rewrite->c_str() : nullptr;
            job.separator = options.crlfSeparators ? "\r\n" : "\n";
            result = RunLineModeJob(job, input.Data(), input.Length(), *output, &host, threads,
                                    SearchStackBytes());
        } else if (options.rewrite) {
            result = expression->ReplaceAll(input.Data(), input.Length(), *output,
                                            options.rewrite->c_str(), options.matchCase,
                                            options.searchLimit, options.lineMode);
        } else {
            result = expression->ListMatchings(
                input.Data(), input.Length(), *output, options.matchCase, options.searchLimit,
                options.lineMode, options.crlfSeparators ? "\r\n" : "\n");
        }
    });
    errors.StopProgress();
    if (!ran) {
        errors.Line(threadError);
        return kExitError;
    }
    if (interrupted.load() || result.outcome == SearchOutcome::kCancelled) {
        errors.Line("Cancelled");
        return kExitInterrupted;
    }
    if (streamed.error != 0) {
        errors.Line(std::string("quarry-cli: can't write the output: ") +
                    std::strerror(streamed.error));
        return kExitError;
    }
    if (input.mapped.Shrank()) {
        // Part of what was searched read as zeros, not as the file's bytes.
        errors.Line("quarry-cli: " + EscapeControls(options.files[0]) +
                    " became shorter while it was searched; nothing was written");
        return kExitError;
    }
    if (result.outcome == SearchOutcome::kStackExhausted) {
        // The text after the point where the stack ran out was never
        // searched: a partial result must not pass for the whole one.
        errors.Line(std::string(kStackOverflowTitle) + "\n" + kStackOverflowText);
        errors.Line("quarry-cli: the search ran out of stack; nothing was written");
        return kExitError;
    }
    if (result.outcome == SearchOutcome::kOutputShort) {
        // A result that lost pieces must never pass for the whole one.
        errors.Line("quarry-cli: not enough memory for the whole result; nothing was written");
        return kExitError;
    }
    const int32_t count = result.count;

    const int writeError =
        WriteAll(io.out, output->Data(), static_cast<size_t>(output->Length()), &interrupted);
    if (writeError == EINTR) {
        errors.Line("Cancelled");
        return kExitInterrupted;
    }
    if (writeError != 0) {
        errors.Line(std::string("quarry-cli: can't write the output: ") +
                    std::strerror(writeError));
        return kExitError;
    }
    streamed.Keep();

    if (count < 1) {
        errors.Line("No matching found");
        return kExitNoMatching;
    }
    errors.Line(CountText(count, options.rewrite ? "replaced" : "listed"));
    return kExitMatched;
}

int RunMain(const std::vector<std::string>& args, const RunIo& io,
            const std::atomic<bool>& interrupted) {
    ParseResult parsed = ParseArguments(args);
    switch (parsed.action) {
        case CliAction::kHelp:
        case CliAction::kVersion: {
            const std::string text =
                parsed.action == CliAction::kHelp ? UsageText() : VersionText();
            const int error = WriteAll(io.out, text.data(), text.size());
            if (error != 0) {
                const std::string message = std::string("quarry-cli: can't write the output: ") +
                                            std::strerror(error) + "\n";
                WriteAll(io.err, message.data(), message.size());
                return kExitError;
            }
            return kExitMatched;
        }
        case CliAction::kUsageError: {
            const std::string message =
                "quarry-cli: " + parsed.error + "\nTry 'quarry-cli --help' for more information.\n";
            WriteAll(io.err, message.data(), message.size());
            return kExitError;
        }
        case CliAction::kRun:
            break;
    }
    return Run(parsed.options, io, interrupted);
}

}  // namespace quarry::cli
