// The Unicode property tables of character mode, read from ICU.

#include "engine/unicode.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace quarry::unicode {

namespace detail {
Tables tables;
}  // namespace detail

namespace {

// Characters whose folding is not themselves, by folding: the inverse of the
// folding, for the literals that several characters match without case.
std::vector<std::pair<char32_t, char32_t>> foldedFrom;  // (folding, character), sorted

CharInfo ReadChar(UChar32 c) {
    CharInfo info;
    const int8_t type = u_charType(c);
    if (type == U_UNASSIGNED || type == U_PRIVATE_USE_CHAR || type == U_SURROGATE) {
        return info;  // no properties and no case: most of the code space
    }
    const uint32_t mask = U_MASK(type);
    if ((mask & (U_GC_L_MASK | U_GC_ND_MASK)) != 0) {
        info.flags |= kAlnum;
    }
    if (type == U_UPPERCASE_LETTER) {
        info.flags |= kUpper;
    }
    if (type == U_LOWERCASE_LETTER) {
        info.flags |= kLower;
    }
    if (u_isUWhiteSpace(c)) {
        info.flags |= kSpace;
    }
    info.foldDelta = u_foldCase(c, U_FOLD_CASE_DEFAULT) - c;
    info.upperDelta = u_toupper(c) - c;
    info.lowerDelta = u_tolower(c) - c;
    return info;
}

bool SameInfo(const CharInfo& a, const CharInfo& b) {
    return a.flags == b.flags && a.foldDelta == b.foldDelta && a.upperDelta == b.upperDelta &&
           a.lowerDelta == b.lowerDelta;
}

void Build() {
    detail::Tables& t = detail::tables;
    constexpr size_t kPages = 0x110000 / 256;
    t.pageOf.assign(kPages, 0);
    t.pages.assign(256, CharInfo{});  // page 0: nothing, also for stray bytes
    std::map<std::string, uint16_t> known;
    std::vector<CharInfo> page(256);
    for (size_t p = 0; p < kPages; ++p) {
        for (size_t i = 0; i < 256; ++i) {
            const auto c = static_cast<UChar32>(p * 256 + i);
            page[i] = ReadChar(c);
            if (page[i].foldDelta != 0) {
                foldedFrom.emplace_back(static_cast<char32_t>(c + page[i].foldDelta),
                                        static_cast<char32_t>(c));
            }
        }
        if (std::all_of(page.begin(), page.end(),
                        [](const CharInfo& x) { return SameInfo(x, CharInfo{}); })) {
            continue;  // page 0
        }
        // Pages are compared by their bytes to find one stored already.
        std::string key(256 * 13, 0);
        for (size_t i = 0; i < 256; ++i) {
            key[i * 13] = page[i].flags;
            std::memcpy(&key[i * 13 + 1], &page[i].foldDelta, 4);
            std::memcpy(&key[i * 13 + 5], &page[i].upperDelta, 4);
            std::memcpy(&key[i * 13 + 9], &page[i].lowerDelta, 4);
        }
        auto [at, added] =
            known.emplace(std::move(key), static_cast<uint16_t>(t.pages.size() / 256));
        if (added) {
            t.pages.insert(t.pages.end(), page.begin(), page.end());
        }
        t.pageOf[p] = at->second;
    }
    std::sort(foldedFrom.begin(), foldedFrom.end());
    for (size_t c = 0; c < 128; ++c) {
        t.asciiFlags[c] = t.pages[static_cast<size_t>(t.pageOf[0]) * 256 + c].flags;
    }
}

}  // namespace

void LoadTables() {
    static std::once_flag once;
    std::call_once(once, Build);
}

std::vector<char32_t> FoldPartners(char32_t c) {
    LoadTables();
    const char32_t f = Fold(c);
    std::vector<char32_t> partners = {f};
    auto at =
        std::lower_bound(foldedFrom.begin(), foldedFrom.end(), std::make_pair(f, char32_t{0}));
    for (; at != foldedFrom.end() && at->first == f; ++at) {
        partners.push_back(at->second);
    }
    std::sort(partners.begin(), partners.end());
    return partners;
}

}  // namespace quarry::unicode
