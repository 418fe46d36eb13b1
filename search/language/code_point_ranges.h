#pragma once
// Look-up in the generated pinyin tables: ranges of code points, each with one code per code
// point. The range that holds the basic ideograph block (the second) is tried first, as most
// names hold nothing else; the others by a binary search.
#include <algorithm>
#include <cstddef>

// The code of `cp`; `none` outside every range.
template <typename Range, std::size_t N>
char16_t code_in_ranges(const Range (&ranges)[N], char32_t cp, char16_t none) {
    static_assert(N >= 2);
    const Range& main = ranges[1];
    if (cp >= main.first && cp <= main.last) return main.codes[cp - main.first];
    const Range* r = std::upper_bound(ranges, ranges + N, cp,
                                      [](char32_t c, const Range& x) { return c < x.first; });
    if (r == ranges) return none;
    --r;
    return cp <= r->last ? r->codes[cp - r->first] : none;
}
