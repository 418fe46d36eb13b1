#pragma once
// How the evaluator takes on each column a filter names: its terms compiled, and sorted by
// the way they are best decided (a search over the whole arena, per row, per distinct text,
// or by the pinyin key).
#include "search/language/filter_arena_scan.h"
#include "search/language/filter_matcher.h"
#include "search/language/filter_source.h"
#include "search/language/pinyin_full.h"

#include <cstdint>
#include <string>
#include <vector>

// Every term on one column, evaluated together.
struct column_plan {
    column_access access;
    std::vector<text_matcher> matchers;
    std::vector<const text_matcher*> whole_arena; // searched over an ordered arena
    std::vector<arena_group> arena_groups;        // whole_arena as the SIMD scan takes it
    std::vector<const text_matcher*> per_row;
    std::vector<std::uint8_t> dictionary_pass;   // per distinct text
    std::vector<std::uint32_t> dictionary_ids;   // the distinct texts that pass
    std::vector<std::string> key_queries;        // pinyin key: its "contains" literals
    std::vector<pinyin_full_query> full_queries; // full pinyin: literals beyond initials
};

std::vector<column_plan> make_plans(const filter_expr& expr, const filter_source& source);
