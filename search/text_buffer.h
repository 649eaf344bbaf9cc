// TextBuffer: the growable, zero-terminated byte block that every operation on
// a document's text works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quarry {

// Every block a TextBuffer gets or grows comes through this function
// (std::realloc's contract). Tests replace it to make growth fail.
using BlockAllocator = void* (*)(void* block, size_t bytes);
extern BlockAllocator textBufferAllocator;

// The most content a TextBuffer can hold: its capacity is a positive 32-bit
// number and must exceed the length by more than one byte. Every front end
// searches texts up to this size and refuses larger ones.
inline constexpr int64_t kMaxTextBytes = INT32_MAX - 2;

// How a file's bytes are read into a joined text: kText turns each CR LF pair
// into LF and stops at the first byte 0x1A; kBinary turns NUL bytes into
// spaces. The open dialog's mode list is sorted, so its rows are these values.
enum class JoinMode { kBinary = 0, kText = 1 };

class TextBuffer {
  public:
    TextBuffer();                       // growStep and capacity 1024
    explicit TextBuffer(int32_t size);  // growStep and capacity `size` (at least 1)
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Makes room for n content bytes: afterwards capacity > n + 1. On failure
    // returns false and leaves the block as it was.
    bool Reserve(int32_t n);
    // Appends count bytes; false (nothing changed) when the block can't grow.
    bool Append(const void* bytes, int32_t count) {
        // Most appends fit where they go (a listing makes two per matching):
        // those take no call.
        if (data != nullptr && count > 0 && int64_t{length} + count + 1 < capacity) {
            std::memcpy(data + length, bytes, static_cast<size_t>(count));
            length += count;
            data[length] = 0;
            return true;
        }
        return AppendGrowing(bytes, count);
    }
    // Appends a file's bytes, read as `mode` says.
    // A file whose size says 0 (as /proc files do) is read to its end. Returns
    // the bytes appended, kFileNotRead when it is not a regular file or can't
    // be opened (after showing a message), kFileNoRoom when no room could be
    // had (also for a file too large for the buffer; nothing is shown).
    int32_t AppendFile(const std::string& path, JoinMode mode);
    static constexpr int32_t kFileNotRead = -1;
    static constexpr int32_t kFileNoRoom = -2;
    // Empties the content; the block stays.
    void Clear();

    const char* Data() const { return data ? data : &kEmpty; }
    int32_t Length() const { return length; }

    char* data = nullptr;
    int32_t growStep = 1024;
    int32_t capacity = 0;
    int32_t length = 0;
    int32_t readPos = 0;

  private:
    static const char kEmpty;
    bool Resize(int64_t newCapacity);
    bool AppendGrowing(const void* bytes, int32_t count);
};

// Why a path that is a folder, FIFO, socket or device (st_mode `mode`) is not
// opened as a text.
std::string NotRegularFileText(const std::string& fileName, unsigned mode);

}  // namespace quarry
