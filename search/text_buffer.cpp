#include "search/text_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

bool TextBuffer::Append(const void* bytes, int32_t count) {
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

// Text-mode reading: each CR LF pair arrives as LF (also when the pair is cut
// by a chunk boundary) and the byte 0x1A ends the file.
int64_t ReadTextMode(int fd, char* dst, int64_t size) {
    constexpr int64_t kChunk = 64 * 1024;
    std::vector<char> buffer(kChunk);
    char* chunk = buffer.data();
    int64_t out = 0;
    int64_t raw = 0;
    bool pendingCr = false;
    while (raw < size) {
        const int64_t got = ReadFully(fd, chunk, std::min(kChunk, size - raw));
        if (got <= 0) {
            break;
        }
        raw += got;
        for (int64_t i = 0; i < got; ++i) {
            const char c = chunk[i];
            if (pendingCr) {
                pendingCr = false;
                if (c != '\n') {
                    dst[out++] = '\r';
                }
            }
            if (c == 0x1A) {
                return out;
            }
            if (c == '\r') {
                pendingCr = true;
            } else {
                dst[out++] = c;
            }
        }
    }
    if (pendingCr) {
        dst[out++] = '\r';  // a CR at the very end stays
    }
    return out;
}

}  // namespace

int32_t TextBuffer::AppendFile(const std::string& path, int textMode) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        ShowFileAccessDenied(path);
        return -1;
    }
    const int64_t size = info.st_size;
    if (size > INT32_MAX - 2 - int64_t{length} || !Reserve(static_cast<int32_t>(length + size))) {
        return 0;
    }
    char* dst = data + length;
    int64_t got = textMode ? ReadTextMode(file.get(), dst, size) : ReadFully(file.get(), dst, size);
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
