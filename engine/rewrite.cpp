// Rewrite expansion. The rewrite expression is not compiled: it is read byte
// by byte at every expansion, and any fault discards the whole replacement.

#include "engine/rewrite.h"

#include <new>
#include <string>

#include "engine/escapes.h"
#include "engine/unicode.h"

namespace quarry {

using detail::AsciiLower;
using detail::AsciiUpper;
using detail::ParseNumericEscape;

void RewriteOutput::AppendCharPiece(const unsigned char* bytes, size_t n) {
    const unsigned char* end = bytes + n;
    bool first = true;
    for (const unsigned char* p = bytes; p < end; first = false) {
        int length = 1;
        char32_t c = unicode::Decode(p, end, length);
        p += length;
        if (caseState & kUpperAll) {
            c = unicode::ToUpper(c);
        } else if (caseState & kLowerAll) {
            c = unicode::ToLower(c);
        }
        if (first && (caseState & kUpperNext)) {
            c = unicode::ToUpper(c);
        } else if (first && (caseState & kLowerNext)) {
            c = unicode::ToLower(c);
        }
        unsigned char encoded[4];
        out_.append(reinterpret_cast<const char*>(encoded),
                    static_cast<size_t>(unicode::Encode(c, encoded)));
    }
    if (caseState & kUpperNext) {
        caseState &= ~kUpperNext;
    } else {
        caseState &= ~kLowerNext;
    }
}

void RewriteOutput::AppendPiece(const unsigned char* bytes, size_t n) {
    if (n == 0) {
        return;  // an empty piece leaves a pending «\u» or «\l» for the next one
    }
    if (mode == TextMode::kUtf8 && caseState != 0) {
        AppendCharPiece(bytes, n);
        return;
    }
    const size_t start = out_.size();
    out_.append(reinterpret_cast<const char*>(bytes), n);
    auto at = [&](size_t i) -> unsigned char& { return reinterpret_cast<unsigned char&>(out_[i]); };
    if (caseState & kUpperAll) {
        for (size_t i = start; i < out_.size(); ++i) {
            at(i) = AsciiUpper(at(i));
        }
    } else if (caseState & kLowerAll) {
        for (size_t i = start; i < out_.size(); ++i) {
            at(i) = AsciiLower(at(i));
        }
    }
    if (caseState & kUpperNext) {
        at(start) = AsciiUpper(at(start));
        caseState &= ~kUpperNext;
    } else if (caseState & kLowerNext) {
        at(start) = AsciiLower(at(start));
        caseState &= ~kLowerNext;
    }
}

namespace {

// Appends group n of the current matching; false when it is unset or does
// not lie within the text.
bool AppendGroup(RewriteOutput& out, int n, const unsigned char* text, int32_t textLength,
                 const int32_t* groups) {
    const int32_t start = groups[n];
    const int32_t end = groups[64 + n];
    if (start < 0 || end < 0 || start > textLength || end > textLength) {
        return false;
    }
    if (end > start) {
        out.AppendPiece(text + start, static_cast<size_t>(end - start));
    }
    return true;
}

}  // namespace

namespace {

// The length of the literal piece at p: a whole character in character mode.
size_t LiteralLength(const unsigned char* p, TextMode mode) {
    if (mode == TextMode::kBytes || *p < 0x80) {
        return 1;
    }
    int length = 1;
    unicode::Decode(p, p + std::char_traits<char>::length(reinterpret_cast<const char*>(p)),
                    length);
    return static_cast<size_t>(length);
}

bool Expand(const char* rewrite, const unsigned char* text, int32_t textLength,
            const int32_t* groups, std::string& result, TextMode mode) {
    if (rewrite == nullptr) {
        return true;
    }
    RewriteOutput out;
    out.mode = mode;
    const auto* p = reinterpret_cast<const unsigned char*>(rewrite);
    while (*p) {
        unsigned char c = *p;
        if (c != '\\') {
            const size_t n = LiteralLength(p, mode);
            out.AppendPiece(p, n);
            p += n;
            continue;
        }
        ++p;
        c = *p;
        if (c == 0) {
            return false;  // a trailing «\»
        }
        ++p;
        unsigned char byte = c;
        bool ok = true;
        switch (c) {
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9':
                if (!AppendGroup(out, c - '0', text, textLength, groups)) {
                    return false;
                }
                continue;
            case 'U':
                out.caseState |= RewriteOutput::kUpperAll;
                continue;
            case 'L':
                out.caseState |= RewriteOutput::kLowerAll;
                continue;
            case 'E':
            case 'e':
                out.caseState &= ~(RewriteOutput::kUpperAll | RewriteOutput::kLowerAll);
                continue;
            case 'u':
                out.caseState |= RewriteOutput::kUpperNext;
                continue;
            case 'l':
                out.caseState |= RewriteOutput::kLowerNext;
                continue;
            case 'a':
                byte = 7;
                break;
            case 'b':
                byte = 8;
                break;
            case 'n':
                byte = 10;
                break;
            case 'r':
                byte = 13;
                break;
            case 't':
                byte = 9;
                break;
            case 'd':
                ok = ParseNumericEscape(p, 3, 10, byte);
                break;
            case 'o':
                ok = ParseNumericEscape(p, 3, 8, byte);
                break;
            case 'x':
                ok = ParseNumericEscape(p, 2, 16, byte);
                break;
            default: {
                // any other byte (in character mode, character) stands for itself
                const size_t n = LiteralLength(p - 1, mode);
                out.AppendPiece(p - 1, n);
                p += n - 1;
                continue;
            }
        }
        if (!ok) {
            return false;
        }
        if (mode == TextMode::kUtf8 && byte >= 0x80) {
            // A numeric escape names the character with that code point, as
            // in the search expression; a lone byte would break the text.
            const unsigned char encoded[2] = {static_cast<unsigned char>(0xC0 | (byte >> 6)),
                                              static_cast<unsigned char>(0x80 | (byte & 0x3F))};
            out.AppendPiece(encoded, 2);
            continue;
        }
        out.AppendPiece(&byte, 1);
    }
    result = std::move(out.bytes());
    return true;
}

}  // namespace

ExpandStatus ExpandRewrite(const char* rewrite, const unsigned char* text, int32_t textLength,
                           const int32_t* groups, std::string& result, TextMode mode) {
    result.clear();
    try {
        return Expand(rewrite, text, textLength, groups, result, mode) ? ExpandStatus::kDone
                                                                       : ExpandStatus::kFault;
    } catch (const std::bad_alloc&) {
        result.clear();
        result.shrink_to_fit();
        return ExpandStatus::kNoMemory;
    }
}

RewriteCheck CheckRewrite(const char* rewrite, int highestGroup) {
    RewriteCheck check;
    if (rewrite == nullptr) {
        return check;
    }
    const auto* start = reinterpret_cast<const unsigned char*>(rewrite);
    for (const unsigned char* p = start; *p;) {
        if (*p++ != '\\') {
            continue;
        }
        const auto offset = static_cast<int32_t>(p - 1 - start);
        const unsigned char c = *p;
        if (c == 0) {
            return {RewriteFault::kTrailingBackslash, offset};
        }
        ++p;
        int base = 0;
        int digits = 0;
        if (c == 'd') {
            base = 10, digits = 3;
        } else if (c == 'o') {
            base = 8, digits = 3;
        } else if (c == 'x') {
            base = 16, digits = 2;
        } else if (c >= '0' && c <= '9' && c - '0' > highestGroup) {
            return {RewriteFault::kNoSuchGroup, offset, c - '0'};
        }
        unsigned char byte = 0;
        if (digits > 0 && !ParseNumericEscape(p, digits, base, byte)) {
            return {RewriteFault::kBadNumericEscape, offset};
        }
    }
    return check;
}

std::string RewriteFaultText(const RewriteCheck& check) {
    const std::string at = " at offset " + std::to_string(check.offset);
    switch (check.fault) {
        case RewriteFault::kNone:
            return {};
        case RewriteFault::kTrailingBackslash:
            return "ends with a backslash";
        case RewriteFault::kBadNumericEscape:
            return "incomplete numeric escape" + at;
        case RewriteFault::kNoSuchGroup:
            return "refers to group " + std::to_string(check.group) + at +
                   ", which the search expression does not have";
    }
    return {};
}

}  // namespace quarry
