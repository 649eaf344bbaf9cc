// Writes the engine's Unicode property tables as C++ source, from ICU, at
// build time: character mode then starts with nothing to load (reading them
// at run time cost several milliseconds per process, more than a whole
// search of a short text), and the engine never calls into the library.
//
//   make_unicode_tables OUTPUT.cpp

#include "engine/unicode.h"

#include <unicode/uchar.h>
#include <unicode/uset.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

using quarry::unicode::CharInfo;
namespace unicode = quarry::unicode;

namespace {

// What a character reads as, given its general category and whether it is
// white space.
CharInfo ReadChar(UChar32 c, int8_t type, bool space) {
    CharInfo info;
    if (type == U_UNASSIGNED || type == U_PRIVATE_USE_CHAR || type == U_SURROGATE) {
        return info;  // no properties and no case: most of the code space
    }
    const uint32_t mask = U_MASK(type);
    if ((mask & (U_GC_L_MASK | U_GC_ND_MASK)) != 0) {
        info.flags |= unicode::kAlnum;
    }
    if (type == U_UPPERCASE_LETTER) {
        info.flags |= unicode::kUpper;
    }
    if (type == U_LOWERCASE_LETTER) {
        info.flags |= unicode::kLower;
    }
    if (space) {
        info.flags |= unicode::kSpace;
    }
    info.foldDelta = u_foldCase(c, U_FOLD_CASE_DEFAULT) - c;
    info.upperDelta = u_toupper(c) - c;
    info.lowerDelta = u_tolower(c) - c;
    return info;
}

bool IsEmpty(const CharInfo& x) {
    return x.flags == 0 && x.foldDelta == 0 && x.upperDelta == 0 && x.lowerDelta == 0;
}

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

std::vector<UChar32> WhiteSpaceList() {
    std::vector<UChar32> list;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        if (u_isUWhiteSpace(c)) {
            list.push_back(c);
        }
    }
    return list;
}

struct Built {
    std::vector<uint16_t> pageOf;
    std::vector<CharInfo> pages;
    std::vector<std::pair<char32_t, char32_t>> foldedFrom;  // (folding, character), sorted
};

Built Build() {
    Built t;
    t.pageOf.assign(unicode::detail::kPageCount, 0);
    t.pages.assign(256, CharInfo{});  // page 0: nothing, also for stray bytes
    std::vector<CategoryRun> runs;
    u_enumCharTypes(AddCategoryRun, &runs);
    const std::vector<UChar32> spaces = WhiteSpaceList();
    auto nextSpace = spaces.begin();
    auto run = runs.begin();
    std::map<std::string, uint16_t> known;
    std::vector<CharInfo> page(256);
    for (size_t p = 0; p < unicode::detail::kPageCount; ++p) {
        for (size_t i = 0; i < 256; ++i) {
            const auto c = static_cast<UChar32>(p * 256 + i);
            while (run != runs.end() && run->limit <= c) {
                ++run;
            }
            while (nextSpace != spaces.end() && *nextSpace < c) {
                ++nextSpace;
            }
            const int8_t type = run != runs.end() && run->start <= c ? run->type : u_charType(c);
            page[i] = ReadChar(c, type, nextSpace != spaces.end() && *nextSpace == c);
            if (page[i].foldDelta != 0) {
                t.foldedFrom.emplace_back(static_cast<char32_t>(c + page[i].foldDelta),
                                          static_cast<char32_t>(c));
            }
        }
        if (std::all_of(page.begin(), page.end(), IsEmpty)) {
            continue;  // page 0
        }
        // Pages whose characters read alike are stored once (most pages of
        // letters without case differ only in nothing).
        std::string key(256 * 13, 0);
        for (size_t i = 0; i < 256; ++i) {
            key[i * 13] = static_cast<char>(page[i].flags);
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
    std::sort(t.foldedFrom.begin(), t.foldedFrom.end());
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const Built t = Build();
    std::string out;
    auto add = [&out](const char* format, auto... values) {
        char line[256];
        std::snprintf(line, sizeof line, format, values...);
        out += line;
    };
    add("// Made by tools/make_unicode_tables.cpp from ICU %s (Unicode %s); do not edit.\n",
        U_ICU_VERSION, U_UNICODE_VERSION);
    out += "#include \"engine/unicode.h\"\n\nnamespace quarry::unicode::detail {\n\n";
    out += "const uint16_t kPageOf[kPageCount] = {";
    for (size_t p = 0; p < t.pageOf.size(); ++p) {
        add("%s%u,", p % 24 == 0 ? "\n" : "", static_cast<unsigned>(t.pageOf[p]));
    }
    add("\n};\n\nconst size_t kPageDataSize = %zu;\n", t.pages.size());
    out += "const CharInfo kPageData[] = {";
    for (size_t i = 0; i < t.pages.size(); ++i) {
        const CharInfo& x = t.pages[i];
        if (IsEmpty(x)) {
            add("%s{},", i % 8 == 0 ? "\n" : "");
        } else {
            add("%s{%u,%d,%d,%d},", i % 8 == 0 ? "\n" : "", static_cast<unsigned>(x.flags),
                x.foldDelta, x.upperDelta, x.lowerDelta);
        }
    }
    out += "\n};\n\nconst uint8_t kAsciiFlags[128] = {";
    for (size_t c = 0; c < 128; ++c) {
        add("%s%u,", c % 32 == 0 ? "\n" : "",
            static_cast<unsigned>(t.pages[size_t{t.pageOf[0]} * 256 + c].flags));
    }
    add("\n};\n\nconst size_t kFoldedFromSize = %zu;\n", t.foldedFrom.size());
    out += "const FoldedFrom kFoldedFrom[] = {";
    for (size_t i = 0; i < t.foldedFrom.size(); ++i) {
        add("%s{0x%X,0x%X},", i % 8 == 0 ? "\n" : "", static_cast<unsigned>(t.foldedFrom[i].first),
            static_cast<unsigned>(t.foldedFrom[i].second));
    }
    out += "\n};\n\n}  // namespace quarry::unicode::detail\n";

    // Written beside and renamed, so that a failed run never leaves half a
    // table for the next build to compile.
    const std::string temporary = std::string(argv[1]) + ".part";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() ||
        std::fclose(f) != 0 || std::rename(temporary.c_str(), argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
