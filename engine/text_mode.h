// How the engine divides a text into characters: every byte on its own (for
// 8-bit code pages), or UTF-8 sequences with any stray byte a character of
// its own.
#pragma once

#include <cstdint>

namespace quarry {

enum class TextMode : uint8_t { kBytes, kUtf8 };

}  // namespace quarry
