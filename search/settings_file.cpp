#include "search/settings_file.h"

#include "search/code_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace quarry {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD, one per bad byte.
std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<uint8_t>(s[i]);
        int extra = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        bool ok = i + static_cast<size_t>(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (c & 0x3F);
            }
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

// --- writing ---

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutCount(std::string& out, uint32_t count) {
    if (count < 0xFFFF) {
        Put16(out, count);
    } else {
        Put16(out, 0xFFFF);
        Put32(out, count);
    }
}

void PutLength(std::string& out, uint32_t length) {
    if (length <= 254) {
        out.push_back(static_cast<char>(length));
    } else if (length <= 0xFFFD) {
        out.push_back(static_cast<char>(0xFF));
        Put16(out, length);
    } else {
        out.push_back(static_cast<char>(0xFF));
        Put16(out, 0xFFFF);
        Put32(out, length);
    }
}

void PutString(std::string& out, std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    std::string bytes;
    bytes.reserve(wide.size());
    bool fits = true;
    for (char16_t c : wide) {
        const int b = CharToByte(c);
        if (b < 0) {
            fits = false;
            break;
        }
        bytes.push_back(static_cast<char>(b));
    }
    if (fits) {
        PutLength(out, static_cast<uint32_t>(bytes.size()));
        out += bytes;
        return;
    }
    out.push_back(static_cast<char>(0xFF));
    Put16(out, 0xFFFE);
    PutLength(out, static_cast<uint32_t>(wide.size()));
    for (char16_t c : wide) {
        Put16(out, c);
    }
}

void PutFlag(std::string& out, bool on) {
    Put32(out, on ? 1 : 0);
}

void PutHistory(std::string& out, const std::vector<std::string>& history) {
    PutCount(out, static_cast<uint32_t>(history.size()));
    for (const std::string& entry : history) {
        PutString(out, entry);
    }
}

// --- reading ---

// Cuts UTF-8 text after `cap` characters.
void CapCharacters(std::string& text, size_t cap) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == cap) {
            text.resize(i);
            return;
        }
    }
}

class Reader {
  public:
    Reader(std::string_view bytes, const SettingsCaps& caps) : bytes_(bytes), caps_(caps) {}

    size_t Remaining() const { return bytes_.size() - pos_; }

    bool Get8(uint32_t& v) {
        if (Remaining() < 1) {
            return false;
        }
        v = static_cast<uint8_t>(bytes_[pos_++]);
        return true;
    }
    bool Get16(uint32_t& v) {
        uint32_t lo = 0;
        uint32_t hi = 0;
        if (Remaining() < 2 || !Get8(lo) || !Get8(hi)) {
            return false;
        }
        v = lo | (hi << 8);
        return true;
    }
    bool Get32(uint32_t& v) {
        uint32_t lo = 0;
        uint32_t hi = 0;
        if (Remaining() < 4 || !Get16(lo) || !Get16(hi)) {
            return false;
        }
        v = lo | (hi << 16);
        return true;
    }

    bool GetCount(uint32_t& count) {
        if (!Get16(count)) {
            return false;
        }
        return count != 0xFFFF || Get32(count);
    }

    // A length prefix; `wide` tells whether the UTF-16 marker preceded it.
    bool GetLength(uint32_t& length, bool& wide) {
        wide = false;
        if (!Get8(length)) {
            return false;
        }
        if (length < 0xFF) {
            return true;
        }
        if (!Get16(length)) {
            return false;
        }
        if (length == 0xFFFE) {
            wide = true;
            // The second prefix counts 16-bit characters; a second marker
            // inside it is damage.
            if (!Get8(length)) {
                return false;
            }
            if (length < 0xFF) {
                return true;
            }
            if (!Get16(length) || length == 0xFFFE) {
                return false;
            }
        }
        return length != 0xFFFF || Get32(length);
    }

    bool GetString(std::string& out) {
        uint32_t length = 0;
        bool wide = false;
        if (!GetLength(length, wide)) {
            return false;
        }
        // Checked before anything is allocated: a length beyond the file's
        // end is damage, however large.
        const uint64_t need = wide ? uint64_t{length} * 2 : length;
        if (need > Remaining()) {
            return false;
        }
        out.clear();
        if (!wide) {
            for (uint32_t i = 0; i < length; ++i) {
                AppendUtf8(out, ByteToChar(static_cast<uint8_t>(bytes_[pos_ + i])));
            }
            pos_ += length;
            CapCharacters(out, caps_.textCharacters);
            return true;
        }
        for (uint32_t i = 0; i < length; ++i) {
            uint32_t c = 0;
            Get16(c);
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
                uint32_t low = 0;
                const size_t mark = pos_;
                Get16(low);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
                pos_ = mark;
            }
            // An unpaired surrogate has no character: U+FFFD stands for it.
            AppendUtf8(out, (c >= 0xD800 && c <= 0xDFFF) ? kReplacement : c);
        }
        CapCharacters(out, caps_.textCharacters);
        return true;
    }

    bool GetFlag(bool& on) {
        uint32_t v = 0;
        if (!Get32(v)) {
            return false;
        }
        on = v == 1;
        return true;
    }

    bool GetHistory(std::vector<std::string>& history) {
        uint32_t count = 0;
        if (!GetCount(count)) {
            return false;
        }
        // Every string takes at least its one-byte prefix.
        if (count > Remaining()) {
            return false;
        }
        // Entries past the cap are read, to reach the parts behind them, and
        // dropped.
        std::vector<std::string> entries(std::min<size_t>(count, caps_.historyEntries));
        std::string dropped;
        for (uint32_t i = 0; i < count; ++i) {
            if (!GetString(i < entries.size() ? entries[i] : dropped)) {
                return false;
            }
        }
        history = std::move(entries);
        return true;
    }

  private:
    std::string_view bytes_;
    SettingsCaps caps_;
    size_t pos_ = 0;
};

constexpr std::uintmax_t kMaxSettingsFileBytes = 64u << 20;

}  // namespace

SettingsRecord DefaultSettings(int32_t width, int32_t height) {
    SettingsRecord record;
    record.width = width;
    record.height = height;
    return record;
}

int ReadSettingsInto(std::string_view bytes, SettingsRecord& record, const SettingsCaps& caps) {
    Reader in(bytes, caps);
    int parts = 0;

    std::vector<std::string> history;
    if (!in.GetHistory(history)) {
        return parts;
    }
    record.searchHistory = std::move(history);
    ++parts;
    if (!in.GetHistory(history)) {
        return parts;
    }
    record.rewriteHistory = std::move(history);
    ++parts;

    uint32_t width = 0;
    uint32_t height = 0;
    if (!in.Get32(width) || !in.Get32(height)) {
        return parts;
    }
    record.width = static_cast<int32_t>(width);
    record.height = static_cast<int32_t>(height);
    ++parts;

    bool limitOn = false;
    bool newFile = false;
    bool matchCase = false;
    if (!in.GetFlag(limitOn) || !in.GetFlag(newFile) || !in.GetFlag(matchCase)) {
        return parts;
    }
    record.limitOn = limitOn;
    record.newFile = newFile;
    record.matchCase = matchCase;
    ++parts;

    std::string limit;
    if (!in.GetString(limit)) {
        return parts;
    }
    record.limitValue = std::move(limit);
    ++parts;

    bool lineBreaks = false;
    if (!in.GetFlag(lineBreaks)) {
        return parts;
    }
    record.matchLineBreaks = lineBreaks;
    return ++parts;
}

std::optional<SettingsRecord> ParseSettings(std::string_view bytes, const SettingsCaps& caps) {
    SettingsRecord record;
    if (ReadSettingsInto(bytes, record, caps) != kSettingsPartCount) {
        return std::nullopt;
    }
    return record;
}

std::string SerializeSettings(const SettingsRecord& record) {
    std::string out;
    PutHistory(out, record.searchHistory);
    PutHistory(out, record.rewriteHistory);
    Put32(out, static_cast<uint32_t>(record.width));
    Put32(out, static_cast<uint32_t>(record.height));
    PutFlag(out, record.limitOn);
    PutFlag(out, record.newFile);
    PutFlag(out, record.matchCase);
    PutString(out, record.limitValue);
    PutFlag(out, record.matchLineBreaks);
    return out;
}

std::string SettingsPathBeside(std::string_view filePath) {
    const size_t slash = filePath.rfind('/');
    if (slash == std::string_view::npos) {
        return kSettingsFileName;
    }
    return std::string(filePath.substr(0, slash + 1)) + kSettingsFileName;
}

std::string ChooseSettingsPath(std::string_view helpFilePath, std::string_view configDir) {
    const std::string beside = SettingsPathBeside(helpFilePath);
    const size_t slash = beside.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : beside.substr(0, slash + 1);
    // Saving renames a new file into the folder, so the folder must be writable.
    if (access(folder.c_str(), W_OK | X_OK) == 0) {
        return beside;
    }
    std::string path(configDir);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path + kSettingsFileName;
}

SettingsLoad LoadSettingsFile(const std::string& path, SettingsRecord& record) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return SettingsLoad::NotFound;
    }
    if (!S_ISREG(info.st_mode)) {
        return SettingsLoad::NotAFile;
    }
    // Without blocking, should a FIFO have taken the file's place meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return SettingsLoad::NotFound;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return SettingsLoad::NotAFile;
    }
    std::string bytes;
    char chunk[4096];
    bool tooLarge = false;
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            failed = got < 0;
            break;
        }
        if (bytes.size() + size_t(got) > kMaxSettingsFileBytes) {
            tooLarge = true;
            break;
        }
        bytes.append(chunk, size_t(got));
    }
    ::close(fd);
    if (failed && bytes.empty()) {
        return SettingsLoad::NotFound;
    }
    if (!tooLarge && ReadSettingsInto(bytes, record, kDialogSettingsCaps) == kSettingsPartCount &&
        !failed) {
        return SettingsLoad::Complete;
    }
    // Kept for whoever wants what could not be read: the next save would
    // otherwise replace it.
    const std::string backup = path + kSettingsBackupSuffix;
    ::rename(path.c_str(), backup.c_str());
    return SettingsLoad::Damaged;
}

bool SaveSettingsFile(const std::string& path, const SettingsRecord& record, std::string* error) {
    auto fail = [&](const std::string& what, int err) {
        if (error != nullptr) {
            *error = what + ": " + std::strerror(err);
        }
        return false;
    };
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            return fail(folder.string(), ec.value());
        }
    }
    const std::string bytes = SerializeSettings(record);
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return fail(path, errno);
    }
    // mkstemp makes the file private; settings are as readable as other files.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            close(fd);
            unlink(temp.c_str());
            return fail(path, err);
        }
        written += static_cast<size_t>(n);
    }
    const int synced = fsync(fd) == 0 ? 0 : errno;
    const int closed = close(fd) == 0 ? 0 : errno;
    if (synced != 0 || closed != 0) {
        unlink(temp.c_str());
        return fail(path, synced != 0 ? synced : closed);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        unlink(temp.c_str());
        return fail(path, err);
    }
    return true;
}

}  // namespace quarry
