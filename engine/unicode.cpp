// Case partners from the build-time tables.

#include "engine/unicode.h"

#include <algorithm>

namespace quarry::unicode {

std::vector<char32_t> FoldPartners(char32_t c) {
    const char32_t f = Fold(c);
    std::vector<char32_t> partners = {f};
    const detail::FoldedFrom* end = detail::kFoldedFrom + detail::kFoldedFromSize;
    const detail::FoldedFrom* at =
        std::lower_bound(detail::kFoldedFrom, end, f,
                         [](const detail::FoldedFrom& x, char32_t v) { return x.folding < v; });
    for (; at != end && at->folding == f; ++at) {
        partners.push_back(at->character);
    }
    std::sort(partners.begin(), partners.end());
    return partners;
}

}  // namespace quarry::unicode
