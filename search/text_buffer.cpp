#include "search/text_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "search/host.h"

namespace quarry {

BlockAllocator textBufferAllocator = [](void* block, size_t bytes) {
    return std::realloc(block, bytes);
};

const char TextBuffer::kEmpty = 0;

TextBuffer::TextBuffer() : TextBuffer(1024) {}

TextBuffer::TextBuffer(int32_t size) {
    growStep = size < 1 ? 1 : size;
    // A first block that can't be had leaves an empty buffer of capacity 0;
    // the next Reserve tries again.
    if (Resize(growStep)) {
        data[0] = 0;
    }
}

TextBuffer::~TextBuffer() {
    std::free(data);
}

bool TextBuffer::Resize(int64_t newCapacity) {
    void* block = textBufferAllocator(data, static_cast<size_t>(newCapacity));
    if (block == nullptr) {
        return false;
    }
    data = static_cast<char*>(block);
    capacity = static_cast<int32_t>(newCapacity);
    return true;
}

bool TextBuffer::Reserve(int32_t n) {
    const int64_t needed = int64_t{n} + 1;  // capacity must exceed this
    if (capacity > needed) {
        return true;
    }
    if (needed >= INT32_MAX) {
        return false;  // lengths are 32-bit
    }
    const int64_t steps = (needed - capacity) / growStep + 1;
    // A step past the 32-bit limit is cut to it: what fits must not be
    // refused for the step's sake.
    const int64_t grown = std::min<int64_t>(capacity + steps * growStep, INT32_MAX);
    const bool wasEmpty = data == nullptr;
    if (!Resize(grown)) {
        return false;
    }
    if (wasEmpty) {
        data[length] = 0;
    }
    return true;
}

bool TextBuffer::AppendGrowing(const void* bytes, int32_t count) {
    if (count < 0 || int64_t{length} + count > INT32_MAX - 2 || !Reserve(length + count)) {
        return false;
    }
    if (count > 0) {
        std::memcpy(data + length, bytes, static_cast<size_t>(count));
    }
    length += count;
    data[length] = 0;
    return true;
}

void TextBuffer::Clear() {
    length = 0;
    if (data) {
        data[0] = 0;
    }
}

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads up to n bytes, retrying short reads; returns the count read (less
// than n only at the end of the file or on an error).
int64_t ReadFully(int fd, char* dst, int64_t n) {
    int64_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, dst + got, static_cast<size_t>(n - got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += r;
    }
    return got;
}

// Text-mode translation, fed chunk by chunk: each CR LF pair becomes LF (also
// when a chunk boundary cuts the pair) and the byte 0x1A ends the file.
class TextModeFilter {
  public:
    // Translates n bytes into out (which has room for n + 1); returns the end
    // of what was written. Sets ended at a 0x1A.
    char* Feed(const char* in, int64_t n, char* out) {
        for (int64_t i = 0; i < n; ++i) {
            const char c = in[i];
            if (pendingCr_) {
                pendingCr_ = false;
                if (c != '\n') {
                    *out++ = '\r';
                }
            }
            if (c == 0x1A) {
                ended = true;
                return out;
            }
            if (c == '\r') {
                pendingCr_ = true;
            } else {
                *out++ = c;
            }
        }
        return out;
    }
    // A CR at the very end stays.
    char* Finish(char* out) {
        if (pendingCr_ && !ended) {
            *out++ = '\r';
        }
        pendingCr_ = false;
        return out;
    }
    bool ended = false;

  private:
    bool pendingCr_ = false;
};

int64_t ReadTextMode(int fd, char* dst, int64_t size) {
    constexpr int64_t kChunk = 64 * 1024;
    std::vector<char> buffer(kChunk);
    TextModeFilter filter;
    char* out = dst;
    for (int64_t raw = 0; raw < size && !filter.ended;) {
        const int64_t got = ReadFully(fd, buffer.data(), std::min(kChunk, size - raw));
        if (got <= 0) {
            break;
        }
        raw += got;
        out = filter.Feed(buffer.data(), got, out);
    }
    return filter.Finish(out) - dst;
}

// Reads what a file whose size says 0 (as /proc files do) holds, up to limit
// bytes; nullopt when it holds more or can't be read.
std::optional<std::string> ReadToEnd(int fd, int64_t limit) {
    std::string bytes;
    char chunk[64 * 1024];
    for (;;) {
        const int64_t got = ReadFully(fd, chunk, sizeof chunk);
        if (got < 0 || int64_t(bytes.size()) + got > limit) {
            return std::nullopt;
        }
        bytes.append(chunk, size_t(got));
        if (got < int64_t(sizeof chunk)) {
            return bytes;
        }
    }
}

}  // namespace

std::string NotRegularFileText(const std::string& fileName, unsigned mode) {
    const char* what = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a FIFO (named pipe)"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "not a regular file";
    return "\"" + EscapeControls(fileName) + "\" is " + what +
           ", not a file of text, and was not opened.";
}

int32_t TextBuffer::AppendFile(const std::string& path, JoinMode mode) {
    const bool textMode = mode == JoinMode::kText;
    // Only a regular file is opened: opening a FIFO waits for a writer, and a
    // device or a socket has no end to read to.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        ShowMessage(NotRegularFileText(path, info.st_mode), kFileAccessDeniedTitle, {}, MB_OK);
        return kFileNotRead;
    }
    // Without blocking, should a FIFO have taken the file's place meanwhile.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        ShowFileAccessDenied(path);
        return kFileNotRead;
    }
    const int64_t room = int64_t{INT32_MAX} - 2 - length;
    std::optional<std::string> whole;
    int64_t size = info.st_size;
    if (size == 0) {
        whole = ReadToEnd(file.get(), room);
        if (!whole) {
            return kFileNoRoom;
        }
        size = int64_t(whole->size());
    }
    if (size > room || !Reserve(static_cast<int32_t>(length + size))) {
        return kFileNoRoom;
    }
    char* dst = data + length;
    int64_t got = 0;
    if (whole) {
        if (textMode) {
            TextModeFilter filter;
            got = filter.Finish(filter.Feed(whole->data(), size, dst)) - dst;
        } else {
            std::memcpy(dst, whole->data(), size_t(size));
            got = size;
        }
    } else {
        got = textMode ? ReadTextMode(file.get(), dst, size) : ReadFully(file.get(), dst, size);
    }
    if (!textMode) {
        for (char* p = dst;
             (p = static_cast<char*>(std::memchr(p, 0, dst + got - p))) != nullptr;) {
            *p++ = ' ';
        }
    }
    length += static_cast<int32_t>(got);
    data[length] = 0;
    return static_cast<int32_t>(got);
}

}  // namespace quarry
