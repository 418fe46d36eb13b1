#pragma once
// The SIMD search of an ordered arena for several literals in one pass (AVX2), built apart
// with -mavx2 (filter_arena_scan_avx2.cpp): call it only when cpu_has_avx2() says so. Without
// it the evaluator searches for one literal at a time (filter_evaluator.cpp).
#include "search/language/cpu_features.h"
#include "search/language/filter_matcher.h"
#include "search/language/filter_source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Literals one scan looks for at once.
inline constexpr std::size_t max_group = 8;

// The first literal of a matcher as the scan takes it.
struct group_literal {
    const std::u16string* units;
    std::vector<std::uint8_t> bytes; // narrow_unit of each unit, zeros up to 16 at least
    bool ascii;                      // the byte copy then decides it alone (see narrow_unit)
};

// Matchers one scan takes together: any number of "contains" (up to max_group), or one
// pattern of another kind.
struct arena_group {
    std::vector<const text_matcher*> matchers;
    std::vector<group_literal> literals; // the matchers' first literals, in their order
    bool all_contains = true;
};

// Where a scan puts the rows of [b, e) that pass: bytes[r - b] set (never cleared), or, with
// `bytes` null, the rows themselves into ids (room for e - b + 1), each once, in increasing
// order, `count` of them.
struct scan_output {
    std::uint8_t* bytes = nullptr;
    std::uint32_t* ids = nullptr;
    std::size_t count = 0;
};

#ifdef QM_X86_SIMD
// Rows [b, e) of an ordered arena against one group. A row passes when its first place where
// a literal lies wholly inside its text completes the pattern (the leftmost place decides).
void scan_arena_avx2(const text_arena_view& a, const arena_group& group, std::uint32_t b,
                     std::uint32_t e, scan_output& out);
#endif

// Where the text of rows [b, e) ends in an ordered arena: past the last row with text.
std::size_t arena_text_end(const text_arena_view& a, std::uint32_t b, std::uint32_t e);
