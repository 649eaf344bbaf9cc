// MappedFile: a regular file's bytes mapped read-only into memory, so that a
// search over a large file reads the page cache directly instead of copying
// the whole file into a buffer of its own first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarry::cli {

// Where a mapping begins: on this boundary, the kernel maps large page-cache
// folios a whole folio at a time.
inline constexpr uintptr_t kMappingAlignment = uintptr_t{2} << 20;

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the first `size` bytes of fd (size > 0), followed by at least one
    // zero byte. Returns false, leaving nothing mapped, when the system
    // refuses; the caller then reads the file instead. Only one file can be
    // mapped at a time in the process.
    bool Map(int fd, int64_t size);

    const char* Data() const { return data_; }
    int32_t Length() const { return length_; }

    // True once a read from the mapping found that the file had become
    // shorter than when it was mapped. Such a read gives zero bytes instead
    // of stopping the process, so what was read from then on is not the
    // file's content.
    bool Shrank() const;

  private:
    void Unmap();

    char* data_ = nullptr;
    int32_t length_ = 0;
    size_t span_ = 0;  // bytes reserved: the file's pages and one more
};

}  // namespace quarry::cli
