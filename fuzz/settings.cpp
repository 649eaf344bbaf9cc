// The settings.dat reader on arbitrary bytes: it must never crash or allocate
// beyond the input's size, a damaged record keeps whatever parts came before
// the damage, and any record that reads whole writes back and reads again
// as the same record.

#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    quarry::SettingsRecord partial = quarry::DefaultSettings(640, 480);
    const int parts = quarry::ReadSettingsInto(bytes, partial);
    Check(parts >= 0 && parts <= quarry::kSettingsPartCount);

    const std::optional<quarry::SettingsRecord> parsed = quarry::ParseSettings(bytes);
    Check(parsed.has_value() == (parts == quarry::kSettingsPartCount));
    if (!parsed) {
        return 0;
    }
    Check(*parsed == partial);

    const std::string written = quarry::SerializeSettings(*parsed);
    const std::optional<quarry::SettingsRecord> again = quarry::ParseSettings(written);
    Check(again.has_value() && *again == *parsed);
    // A second round writes the very same bytes.
    Check(quarry::SerializeSettings(*again) == written);
    return 0;
}
