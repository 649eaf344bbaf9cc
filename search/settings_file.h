// settings.dat: the search dialog's histories and options as one small binary
// record with no header, version or checksum. All integers little-endian.
//
//   count   16-bit when below 0xFFFF, else 0xFFFF and a 32-bit count
//   string  length prefix, then the bytes: one byte for lengths up to 254;
//           0xFF and a 16-bit length up to 0xFFFD; else 0xFF, 0xFFFF and a
//           32-bit length. 0xFF 0xFFFE announces UTF-16 text: a second prefix
//           follows that counts 16-bit characters.
//   flag    32-bit; exactly 1 reads as checked
//
// The record: search history (count, strings), rewrite history (count,
// strings), width, height (32-bit signed), limit-on, new-file and match-case
// flags, the limit field's text, the match-line-breaks flag.
//
// Texts in a SettingsRecord are UTF-8. A text whose characters all lie in the
// 8-bit map of our documents (Windows-1252 where it defines 0x80..0x9F, the
// byte's own code point elsewhere) is stored as those 8-bit bytes; any other
// text is stored in the UTF-16 form, which every reader of the format already
// accepts, so no history entry is ever mangled on its way through the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

inline constexpr const char* kSettingsFileName = "settings.dat";

struct SettingsRecord {
    std::vector<std::string> searchHistory;   // most recent first
    std::vector<std::string> rewriteHistory;  // most recent first
    int32_t width = 0;                        // the dialog's outer size in pixels
    int32_t height = 0;
    bool limitOn = true;              // "Limit Search Depth to"
    bool newFile = true;              // "Create New File"
    bool matchCase = false;           // "Match Case"
    std::string limitValue = "1024";  // the search-limit field's text, as typed
    bool matchLineBreaks = false;     // "Match Linebreaks"

    bool operator==(const SettingsRecord&) const = default;
};

// The options a first showing uses, with the given window size.
SettingsRecord DefaultSettings(int32_t width = 0, int32_t height = 0);

// The record's parts in file order. Reading applies a part only when all of
// it was read, so a damaged file keeps every part before the damage.
enum class SettingsPart {
    SearchHistory,
    RewriteHistory,
    Size,
    Flags,  // limit on, new file, match case
    LimitValue,
    MatchLineBreaks,
};
inline constexpr int kSettingsPartCount = 6;

// What a record may hold at most once read: entries per history, and
// characters per text. Reading keeps the first entries and characters within
// the caps and passes over the rest.
struct SettingsCaps {
    size_t historyEntries = SIZE_MAX;
    size_t textCharacters = SIZE_MAX;
};
// The dialog's: its history length and its text fields' length, so that no
// file can make it build lists it cannot show.
inline constexpr SettingsCaps kDialogSettingsCaps{100, 32767};

// Reads as far as the bytes hold a sound record, replacing in `record` each
// part read whole and leaving the rest as it was. Returns the number of parts
// read (kSettingsPartCount for an intact record). Bytes after the record are
// ignored. Counts and lengths are checked against the bytes that remain, so a
// damaged file never makes it allocate more than the file's own size.
int ReadSettingsInto(std::string_view bytes, SettingsRecord& record, const SettingsCaps& caps = {});
// The whole record, or none when the bytes end early or are damaged.
std::optional<SettingsRecord> ParseSettings(std::string_view bytes, const SettingsCaps& caps = {});
std::string SerializeSettings(const SettingsRecord& record);

// settings.dat in the folder of the given file (the help file, which lies
// beside the executable): everything up to and including the last '/', then
// "settings.dat". A path with no '/' names a file in the current folder; one
// whose only '/' is its first character, a file in the root.
std::string SettingsPathBeside(std::string_view filePath);
// Where settings live: beside the help file when that folder can be written,
// else in configDir (the user's configuration
// folder for Quarry).
std::string ChooseSettingsPath(std::string_view helpFilePath, std::string_view configDir);

enum class SettingsLoad {
    NotFound,  // missing or can't be opened: `record` untouched
    Complete,  // every part read
    Damaged,   // ends early or holds nonsense: the parts before it were read
    NotAFile,  // a folder, FIFO, socket or device: not opened, `record` untouched
};
// Reads the file into `record` as ReadSettingsInto does, with the dialog's
// caps. Only a regular file
// is opened (opening a FIFO would wait for a writer). A file larger than any
// record could sensibly be (64 MiB) counts as damaged and is not read. A
// damaged file is kept as `path` + ".bak" (see kSettingsBackupSuffix), so that
// the next save does not overwrite what could not be read.
SettingsLoad LoadSettingsFile(const std::string& path, SettingsRecord& record);
inline constexpr const char* kSettingsBackupSuffix = ".bak";

// Writes the record to a temporary file in the same folder and renames it over
// `path`, so the old file stays whole if anything fails. The folder is made
// when missing. On failure returns false and, if asked, the reason in `error`.
bool SaveSettingsFile(const std::string& path, const SettingsRecord& record,
                      std::string* error = nullptr);

}  // namespace quarry
