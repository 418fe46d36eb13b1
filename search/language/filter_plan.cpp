#include "search/language/filter_plan.h"

#include "search/language/pinyin_key.h"

#include <algorithm>

namespace {

group_literal literal_of(const text_matcher& m) {
    const std::u16string& l = m.first_literal();
    group_literal g{&l, std::vector<std::uint8_t>(std::max<std::size_t>(l.size(), 16)), true};
    narrow_units(l.data(), l.size(), g.bytes.data());
    g.ascii = std::all_of(l.begin(), l.end(), [](char16_t u) { return u < 0x80; });
    return g;
}

arena_group group_of(std::vector<const text_matcher*> matchers) {
    arena_group g;
    g.matchers = std::move(matchers);
    for (const text_matcher* m : g.matchers) {
        g.literals.push_back(literal_of(*m));
        g.all_contains = g.all_contains && m->how == text_matcher::mode::contains;
    }
    return g;
}

// The pinyin key answers "contains" only; a text it cannot hold matches nothing.
void plan_pinyin(column_plan& plan) {
    for (const text_matcher& m : plan.matchers) {
        if (m.how != text_matcher::mode::contains) continue;
        if (plan.access.how == column_access::kind::pinyin_full) {
            // Its initials are among what full pinyin finds.
            if (auto full = pinyin_full_query::compile(m.literal)) {
                plan.full_queries.push_back(std::move(*full));
                continue;
            }
        }
        std::string q = pinyin_key_query(m.literal);
        if (!q.empty()) plan.key_queries.push_back(std::move(q));
    }
}

void plan_texts(column_plan& plan) {
    for (const text_matcher& m : plan.matchers) {
        const bool whole = plan.access.how == column_access::kind::arena &&
                           plan.access.arena.ordered && m.searchable_over_arena();
        (whole ? plan.whole_arena : plan.per_row).push_back(&m);
    }
    // Every "contains" together, a few to a group; each other pattern alone.
    std::vector<const text_matcher*> together;
    for (const text_matcher* m : plan.whole_arena) {
        if (m->how != text_matcher::mode::contains) {
            plan.arena_groups.push_back(group_of({m}));
            continue;
        }
        together.push_back(m);
        if (together.size() == max_group) {
            plan.arena_groups.push_back(group_of(std::move(together)));
            together.clear();
        }
    }
    if (!together.empty()) plan.arena_groups.push_back(group_of(std::move(together)));
    if (plan.access.how == column_access::kind::dictionary) {
        const auto texts = plan.access.dictionary.texts;
        plan.dictionary_pass.assign(texts.size(), 0);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const QStringView v(texts[i]);
            plan.dictionary_pass[i] =
                any_matches(plan.per_row, v.utf16(), static_cast<std::size_t>(v.size()));
            if (plan.dictionary_pass[i])
                plan.dictionary_ids.push_back(static_cast<std::uint32_t>(i));
        }
        // The past-the-end id (and every id beyond) passes nothing.
        plan.dictionary_pass.push_back(0);
    }
}

} // namespace

std::vector<column_plan> make_plans(const filter_expr& expr, const filter_source& source) {
    std::vector<int> columns;
    for (const filter_term& t : expr.terms)
        if (std::find(columns.begin(), columns.end(), t.column) == columns.end())
            columns.push_back(t.column);
    std::vector<column_plan> plans(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        column_plan& plan = plans[c];
        plan.access = source.access(columns[c]);
        for (const filter_term& t : expr.terms)
            if (t.column == columns[c]) plan.matchers.push_back(compile(t));
        // A generic view of a column that says it is something else would be misread.
        if (plan.access.how == column_access::kind::arena &&
            (plan.access.arena.lengths == nullptr || plan.access.arena.offsets == nullptr))
            plan.access.how = column_access::kind::generic;
        if (plan.access.how == column_access::kind::dictionary &&
            plan.access.dictionary.ids == nullptr)
            plan.access.how = column_access::kind::generic;
        if (plan.access.how == column_access::kind::pinyin_key ||
            plan.access.how == column_access::kind::pinyin_full)
            plan_pinyin(plan);
        else
            plan_texts(plan);
    }
    return plans;
}

std::size_t arena_text_end(const text_arena_view& a, std::uint32_t b, std::uint32_t e) {
    for (std::uint32_t r = e; r > b; --r) {
        const std::uint16_t len = a.lengths[r - 1];
        if (len != null_text_length && len != 0)
            return std::min(std::size_t{a.offsets[r - 1]} + len, a.size);
    }
    return 0;
}
