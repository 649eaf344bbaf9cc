// Rewrite expansion with an arbitrary group table, in byte or character mode.
// AddressSanitizer catches any read outside the text; on success every output
// byte must come from the rewrite, an escape or a referenced group (in
// character mode: from the case variants of their characters), and the output
// can be no longer than those pieces together (half as long again in
// character mode, where a case mapping may lengthen a character). Character
// mode must fail exactly where byte mode does, give byte mode's output when
// no escape converts case or names a byte, and write whole characters when
// the rewrite, the text and the groups it uses are whole characters.
//
// Input: byte 0 options (bit 0 character mode), 128 little-endian int32
// group entries (offsets are folded into a small range around the text so
// that both valid and invalid ones occur), the rewrite up to a NUL, then the
// text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/expr_node.h"
#include "engine/rewrite.h"
#include "engine/unicode.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

unsigned char Upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}
unsigned char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// Marks the bytes of character c and of its upper and lower case forms, also
// of one case taken after the other (\l inside \U turns ſ into S, then s).
void AllowCharVariants(char32_t c, bool* allowed) {
    using quarry::unicode::ToLower;
    using quarry::unicode::ToUpper;
    for (char32_t v : {c, ToUpper(c), ToLower(c), ToLower(ToUpper(c)), ToUpper(ToLower(c))}) {
        unsigned char bytes[4];
        const int n = quarry::unicode::Encode(v, bytes);
        for (int i = 0; i < n; ++i) {
            allowed[bytes[i]] = true;
        }
    }
}

// Marks the bytes of the characters of [p, end), decoded on their own as the
// expansion decodes a piece, with their case variants.
void AllowPieceChars(const unsigned char* p, const unsigned char* end, bool* allowed) {
    while (p < end) {
        int length = 1;
        AllowCharVariants(quarry::unicode::Decode(p, end, length), allowed);
        p += length;
    }
}

bool WholeUtf8(const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        int length = 1;
        if (quarry::unicode::Decode(p, end, length) >= quarry::unicode::kStrayByteBase) {
            return false;
        }
        p += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kTableBytes = quarry::kGroupSlots * 4;
    if (size < 1 + kTableBytes) {
        return 0;
    }
    const bool chars = (data[0] & 1) != 0;
    const quarry::TextMode mode = chars ? quarry::TextMode::kUtf8 : quarry::TextMode::kBytes;
    ++data;
    --size;
    int32_t raw[quarry::kGroupSlots];
    memcpy(raw, data, kTableBytes);
    data += kTableBytes;
    size -= kTableBytes;
    const auto* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    const size_t rewriteLen = nul ? static_cast<size_t>(nul - data) : size;
    const std::string rewrite(reinterpret_cast<const char*>(data), rewriteLen);
    const size_t rest = nul ? size - rewriteLen - 1 : 0;
    // The text lives in a block of exactly its own size so that ASan sees any
    // read past it.
    auto* text = static_cast<unsigned char*>(malloc(rest ? rest : 1));
    memcpy(text, data + size - rest, rest);
    const auto length = static_cast<int32_t>(rest);

    // Most entries in [-2, length + 2]; the top bit keeps the raw value, so
    // huge and negative offsets are tried too.
    int32_t groups[quarry::kGroupSlots];
    for (int i = 0; i < quarry::kGroupSlots; ++i) {
        const auto u = static_cast<uint32_t>(raw[i]);
        groups[i] =
            (u & 0x80000000u) ? raw[i] : static_cast<int32_t>(u % (uint32_t(length) + 5)) - 2;
    }

    std::string out = "stale";
    const bool ok = quarry::ExpandRewrite(rewrite.c_str(), text, length, groups, out, mode) ==
                    quarry::ExpandStatus::kDone;
    std::string byteOut;
    if (chars) {
        // The same escapes fail in both modes: a character never hides a
        // backslash.
        const bool byteOk = quarry::ExpandRewrite(rewrite.c_str(), text, length, groups, byteOut) ==
                            quarry::ExpandStatus::kDone;
        Check(ok == byteOk);
    }
    if (!ok) {
        Check(out.empty());
        free(text);
        return 0;
    }

    // What the output may contain: the rewrite's bytes, the bytes of the
    // simple escapes, the bytes of every group that lies within the text, and
    // their ASCII case variants. Numeric escapes give any byte, so with one of
    // those present only the length is checked.
    bool allowed[256] = {};
    bool numeric = false;
    bool caseEscape = false;
    bool wholeGroups = true;  // every group used begins and ends at a character start
    int64_t bound = 0;
    for (size_t i = 0; i < rewrite.size(); ++i) {
        const auto c = static_cast<unsigned char>(rewrite[i]);
        allowed[c] = true;
        ++bound;
        if (c == '\\' && i + 1 < rewrite.size()) {
            const char e = rewrite[++i];
            allowed[static_cast<unsigned char>(e)] = true;
            if (e == 'd' || e == 'o' || e == 'x') {
                numeric = true;
            } else if (e == 'U' || e == 'L' || e == 'u' || e == 'l') {
                caseEscape = true;
            } else if (e >= '0' && e <= '9') {
                const int n = e - '0';
                const int32_t start = groups[n];
                const int32_t end = groups[64 + n];
                Check(start >= 0 && end >= 0 && start <= length && end <= length);
                for (int32_t k = start; k < end; ++k) {
                    allowed[text[k]] = true;
                }
                if (end > start) {
                    bound += end - start;
                    if (chars) {
                        AllowPieceChars(text + start, text + end, allowed);
                    }
                }
                wholeGroups = wholeGroups &&
                              quarry::unicode::IsCharStart(text + start, text, text + length) &&
                              quarry::unicode::IsCharStart(text + end, text, text + length);
            }
        }
    }
    for (unsigned char c : {7, 8, 9, 10, 13}) {
        allowed[c] = true;
    }
    for (int c = 0; c < 256; ++c) {
        if (allowed[c]) {
            allowed[Upper(static_cast<unsigned char>(c))] = true;
            allowed[Lower(static_cast<unsigned char>(c))] = true;
        }
    }
    const auto* rewriteBytes = reinterpret_cast<const unsigned char*>(rewrite.data());
    if (chars) {
        AllowPieceChars(rewriteBytes, rewriteBytes + rewrite.size(), allowed);
        bound += bound / 2 + 1;
        if (!numeric && !caseEscape) {
            Check(out == byteOut);
        }
        if (wholeGroups && WholeUtf8(rewriteBytes, rewriteBytes + rewrite.size()) &&
            WholeUtf8(text, text + length)) {
            const auto* o = reinterpret_cast<const unsigned char*>(out.data());
            Check(WholeUtf8(o, o + out.size()));
        }
    }
    Check(static_cast<int64_t>(out.size()) <= bound);
    if (!numeric) {
        for (unsigned char c : out) {
            Check(allowed[c]);
        }
    }
    if (rewrite.find('\\') == std::string::npos) {
        Check(out == rewrite);  // nothing to expand: the rewrite itself
    }
    free(text);
    return 0;
}
