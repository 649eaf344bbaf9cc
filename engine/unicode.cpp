// The Unicode property tables of character mode, read from ICU.

#include "engine/unicode.h"

#include <unicode/uchar.h>
#include <unicode/uset.h>

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

// What a character reads as, given its general category and whether it is
// white space.
CharInfo ReadChar(UChar32 c, int8_t type, bool space) {
    CharInfo info;
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
    if (space) {
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

constexpr size_t kPages = 0x110000 / 256;

// A run of code points of one general category.
struct CategoryRun {
    UChar32 start;
    UChar32 limit;
    int8_t type;
};

// The library lists the code space by runs of one general category far
// faster than it answers for each code point.
UBool AddCategoryRun(const void* context, UChar32 start, UChar32 limit, UCharCategory type) {
    auto& runs = *static_cast<std::vector<CategoryRun>*>(const_cast<void*>(context));
    runs.push_back({start, limit, static_cast<int8_t>(type)});
    return true;
}

// The white-space characters in ascending order, from the library's set;
// listed is false when it gives none (then each is asked for on its own).
std::vector<UChar32> WhiteSpaceList(bool& listed) {
    std::vector<UChar32> list;
    UErrorCode status = U_ZERO_ERROR;
    const USet* set = u_getBinaryPropertySet(UCHAR_WHITE_SPACE, &status);
    listed = U_SUCCESS(status) && set != nullptr;
    if (!listed) {
        return list;
    }
    for (int32_t i = 0, n = uset_getItemCount(set); i < n; ++i) {
        UChar32 first = 0;
        UChar32 last = 0;
        status = U_ZERO_ERROR;
        if (uset_getItem(set, i, &first, &last, nullptr, 0, &status) == 0 && U_SUCCESS(status)) {
            for (UChar32 c = first; c <= last; ++c) {
                list.push_back(c);
            }
        }
    }
    return list;
}

void Build() {
    detail::Tables& t = detail::tables;
    t.pageOf.assign(kPages, 0);
    t.pages.assign(256, CharInfo{});  // page 0: nothing, also for stray bytes
    std::vector<CategoryRun> runs;
    u_enumCharTypes(AddCategoryRun, &runs);
    // Only pages with a code point ReadChar gives anything for are read.
    std::vector<uint8_t> toRead(kPages, 0);
    for (const CategoryRun& r : runs) {
        if (r.type != U_UNASSIGNED && r.type != U_PRIVATE_USE_CHAR && r.type != U_SURROGATE) {
            for (auto p = static_cast<size_t>(r.start) / 256;
                 p <= static_cast<size_t>(r.limit - 1) / 256; ++p) {
                toRead[p] = 1;
            }
        }
    }
    bool spaceListed = false;
    const std::vector<UChar32> spaces = WhiteSpaceList(spaceListed);
    auto nextSpace = spaces.begin();
    auto run = runs.begin();
    std::map<std::string, uint16_t> known;
    std::vector<CharInfo> page(256);
    for (size_t p = 0; p < kPages; ++p) {
        if (!toRead[p]) {
            continue;  // every character there reads as nothing: page 0
        }
        for (size_t i = 0; i < 256; ++i) {
            const auto c = static_cast<UChar32>(p * 256 + i);
            while (run != runs.end() && run->limit <= c) {
                ++run;
            }
            while (nextSpace != spaces.end() && *nextSpace < c) {
                ++nextSpace;
            }
            const int8_t type = run != runs.end() && run->start <= c ? run->type : u_charType(c);
            const bool space = spaceListed ? nextSpace != spaces.end() && *nextSpace == c
                                           : u_isUWhiteSpace(c) != 0;
            page[i] = ReadChar(c, type, space);
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
