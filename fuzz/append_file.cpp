// AppendFile in text and binary mode against a plain reference of each mode,
// onto a buffer that already holds a prefix which must stay untouched.
//
// Input: byte 0 picks the prefix length, the rest is the file.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "search/text_buffer.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

// Text mode: CR LF becomes LF, the first 0x1A ends the file.
std::string TextModeReference(const std::string& file) {
    std::string out;
    for (size_t i = 0; i < file.size(); ++i) {
        const char c = file[i];
        if (c == 0x1A) {
            break;
        }
        if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n') {
            continue;
        }
        out += c;
    }
    return out;
}

// Binary mode: every byte as it is, NUL turned into a space.
std::string BinaryModeReference(const std::string& file) {
    std::string out = file;
    for (char& c : out) {
        if (c == 0) {
            c = ' ';
        }
    }
    return out;
}

const std::string& TempPath() {
    static const std::string path = "/tmp/quarry-fuzz-append-" + std::to_string(getpid());
    return path;
}

void RemoveTemp() {
    unlink(TempPath().c_str());
}

void Run(const std::string& prefix, const std::string& file, quarry::JoinMode mode) {
    const bool textMode = mode == quarry::JoinMode::kText;
    // Small grow steps make the append reallocate as often as possible.
    quarry::TextBuffer buffer(static_cast<int32_t>(prefix.size() % 7 + 1));
    Check(buffer.Append(prefix.data(), static_cast<int32_t>(prefix.size())));
    const int32_t got = buffer.AppendFile(TempPath(), mode);
    const std::string expected = textMode ? TextModeReference(file) : BinaryModeReference(file);
    Check(got == static_cast<int32_t>(expected.size()));
    Check(buffer.Length() == static_cast<int32_t>(prefix.size() + expected.size()));
    Check(std::string(buffer.Data(), buffer.Length()) == prefix + expected);
    Check(buffer.Data()[buffer.Length()] == 0);  // zero-terminated
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The path first, so that it outlives the handler that removes the file.
    static const bool registered = (TempPath(), atexit(RemoveTemp), true);
    (void)registered;
    if (size < 1) {
        return 0;
    }
    // The prefix holds NUL, CR and 0x1A bytes: none of them may be touched.
    std::string prefix;
    for (int i = 0; i < data[0] % 32; ++i) {
        prefix += "a\r\0\x1A"[i % 4];
    }
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    // A new file each time: ext4 flushes a file that is truncated and written
    // again, which would make every run wait for the disk.
    RemoveTemp();
    FILE* f = fopen(TempPath().c_str(), "wb");
    Check(f != nullptr);
    Check(fwrite(file.data(), 1, file.size(), f) == file.size());
    Check(fclose(f) == 0);
    Run(prefix, file, quarry::JoinMode::kText);
    Run(prefix, file, quarry::JoinMode::kBinary);
    return 0;
}
