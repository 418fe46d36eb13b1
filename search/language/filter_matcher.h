#pragma once
// What one term of a filter asks of a text, compiled from the term: a whole text, a literal
// anywhere, anything, or literals in order between "%" runs.
#include "search/language/filter_expr.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// Static: the file built with -mavx2 keeps its own copy (see row_at_offset.h).
static inline bool same_units(const char16_t* a, const char16_t* b, std::size_t n) {
    // Most literals are a few characters: a call to memcmp would cost more than the compare.
    if (n <= 8) {
        for (std::size_t k = 0; k < n; ++k)
            if (a[k] != b[k]) return false;
        return true;
    }
    return std::memcmp(a, b, n * sizeof(char16_t)) == 0;
}

struct text_matcher {
    enum class mode { equals, contains, anything, glob };
    mode how = mode::equals;
    std::u16string literal;            // equals, contains
    std::vector<std::u16string> parts; // glob: the literals between "%" runs
    bool anchored_start = false;       // glob: the pattern does not begin with "%"
    bool anchored_end = false;         // glob: nor end with it

    bool matches(const char16_t* s, std::size_t n) const;

    // "contains", and a glob that does not start anchored: its first literal can be looked
    // for over a whole arena, the rest of the pattern then tried in the row it hit.
    bool searchable_over_arena() const {
        // A lone literal that must also end the text is not decided by its leftmost place.
        return how == mode::contains ||
               (how == mode::glob && !anchored_start && (!anchored_end || parts.size() >= 2));
    }
    const std::u16string& first_literal() const {
        return how == mode::contains ? literal : parts.front();
    }
    // After the first literal's leftmost hit in a row, whether the rest of the row completes
    // the match (`s` is the row's text after that hit).
    bool rest_matches(const char16_t* s, std::size_t n) const;

  private:
    bool glob_from(const char16_t* s, std::size_t n, std::size_t first, bool anchored) const;
};

text_matcher compile(const filter_term& term);

// Whether any of `ms` matches the text s[0, n).
bool any_matches(const std::vector<const text_matcher*>& ms, const char16_t* s, std::size_t n);
