// The settings.dat reader on arbitrary bytes: it must never crash or allocate
// beyond the input's size, a damaged record keeps whatever parts came before
// the damage, and any record that reads whole writes back and reads again
// as the same record.
//
// The same bytes then go through the dialog's own path: written to a file,
// loaded with LoadSettingsFile (the dialog's caps, the backup of a damaged
// file), saved and loaded once more.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "search/settings_file.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

const std::string& TempPath() {
    static const std::string path = "/tmp/quarry-fuzz-settings-" + std::to_string(getpid());
    return path;
}

void RemoveTemps() {
    unlink(TempPath().c_str());
    unlink((TempPath() + quarry::kSettingsBackupSuffix).c_str());
}

std::string ReadWhole(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return bytes;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.append(chunk, got);
    }
    fclose(f);
    return bytes;
}

size_t Characters(const std::string& utf8) {
    size_t count = 0;
    for (const char c : utf8) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

bool WithinCaps(const quarry::SettingsRecord& r, const quarry::SettingsCaps& caps) {
    auto history = [&](const std::vector<std::string>& h) {
        if (h.size() > caps.historyEntries) {
            return false;
        }
        for (const std::string& s : h) {
            if (Characters(s) > caps.textCharacters) {
                return false;
            }
        }
        return true;
    };
    return history(r.searchHistory) && history(r.rewriteHistory) &&
           Characters(r.limitValue) <= caps.textCharacters;
}

// LoadSettingsFile over the bytes as a file: Complete exactly when the
// capped reader reads the whole record, the same record either way; a
// damaged file moves to the backup name unchanged; what loads saves and
// loads again as itself.
void LoadFromFile(std::string_view bytes) {
    const quarry::SettingsCaps& caps = quarry::kDialogSettingsCaps;
    RemoveTemps();
    FILE* f = fopen(TempPath().c_str(), "wb");
    Check(f != nullptr);
    Check(fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    Check(fclose(f) == 0);

    quarry::SettingsRecord expected = quarry::DefaultSettings(640, 480);
    const int parts = quarry::ReadSettingsInto(bytes, expected, caps);
    quarry::SettingsRecord loaded = quarry::DefaultSettings(640, 480);
    const quarry::SettingsLoad load = quarry::LoadSettingsFile(TempPath(), loaded);
    Check(loaded == expected);
    Check(WithinCaps(loaded, caps));
    if (parts == quarry::kSettingsPartCount) {
        Check(load == quarry::SettingsLoad::Complete);
        Check(access(TempPath().c_str(), F_OK) == 0);
    } else {
        Check(load == quarry::SettingsLoad::Damaged);
        Check(access(TempPath().c_str(), F_OK) != 0);
        Check(ReadWhole(TempPath() + quarry::kSettingsBackupSuffix) == bytes);
    }

    Check(quarry::SaveSettingsFile(TempPath(), loaded));
    quarry::SettingsRecord again = quarry::DefaultSettings(1, 1);
    Check(quarry::LoadSettingsFile(TempPath(), again) == quarry::SettingsLoad::Complete);
    Check(again == loaded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The path first, so that it outlives the handler that removes the file.
    static const bool registered = (TempPath(), atexit(RemoveTemps), true);
    (void)registered;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    quarry::SettingsRecord partial = quarry::DefaultSettings(640, 480);
    const int parts = quarry::ReadSettingsInto(bytes, partial);
    Check(parts >= 0 && parts <= quarry::kSettingsPartCount);

    const std::optional<quarry::SettingsRecord> parsed = quarry::ParseSettings(bytes);
    Check(parsed.has_value() == (parts == quarry::kSettingsPartCount));
    if (parsed) {
        Check(*parsed == partial);
        const std::string written = quarry::SerializeSettings(*parsed);
        const std::optional<quarry::SettingsRecord> again = quarry::ParseSettings(written);
        Check(again.has_value() && *again == *parsed);
        // A second round writes the very same bytes.
        Check(quarry::SerializeSettings(*again) == written);
    }

    LoadFromFile(bytes);
    return 0;
}
