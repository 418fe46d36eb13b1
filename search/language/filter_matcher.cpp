#include "search/language/filter_matcher.h"

#include "search/language/cpu_features.h"
#include "search/language/filter_evaluator.h"

#include <QString>
#include <QStringView>
#include <bit>

bool text_matcher::matches(const char16_t* s, std::size_t n) const {
    switch (how) {
    case mode::equals:
        return n == literal.size() && same_units(s, literal.data(), n);
    case mode::anything:
        return true;
    case mode::contains:
        return n >= literal.size() && filter_find_literal(s, 0, n, literal) != filter_not_found;
    case mode::glob:
        // With "%" the only wildcard, taking each literal at its leftmost place is never
        // worse than any later place, so one forward pass decides.
        return glob_from(s, n, 0, anchored_start);
    }
    return false;
}

bool text_matcher::rest_matches(const char16_t* s, std::size_t n) const {
    return how == mode::contains || glob_from(s, n, 1, false);
}

// The pattern from parts[first] on, anchored at the start of `s` only when asked.
bool text_matcher::glob_from(const char16_t* s, std::size_t n, std::size_t first,
                             bool anchored) const {
    std::size_t pos = 0;
    std::size_t end = n;
    std::size_t last = parts.size();
    if (anchored && first < last) {
        const std::u16string& p = parts[first];
        if (n < p.size() || !same_units(s, p.data(), p.size())) return false;
        pos = p.size();
        ++first;
    }
    if (anchored_end && first < last) {
        const std::u16string& p = parts.back();
        if (end - pos < p.size() || !same_units(s + n - p.size(), p.data(), p.size())) return false;
        end -= p.size();
        --last;
    }
    for (std::size_t i = first; i < last; ++i) {
        const std::size_t hit = filter_find_literal(s, pos, end, parts[i]);
        if (hit == filter_not_found) return false;
        pos = hit + parts[i].size();
    }
    return true;
}

bool any_matches(const std::vector<const text_matcher*>& ms, const char16_t* s, std::size_t n) {
    for (const text_matcher* m : ms)
        if (m->matches(s, n)) return true;
    return false;
}

namespace {

std::u16string units(QStringView text) {
    return std::u16string(text.utf16(), static_cast<std::size_t>(text.size()));
}

} // namespace

text_matcher compile(const filter_term& term) {
    text_matcher m;
    const QString& v = term.value;
    if (term.op == filter_op::equals || !v.contains(QLatin1Char('%'))) {
        m.how = text_matcher::mode::equals;
        m.literal = units(v);
        return m;
    }
    const QStringView view(v);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= view.size(); ++i) {
        if (i == view.size() || view[i] == QLatin1Char('%')) {
            if (i > start) m.parts.push_back(units(view.sliced(start, i - start)));
            start = i + 1;
        }
    }
    m.anchored_start = view.front() != QLatin1Char('%');
    m.anchored_end = view.back() != QLatin1Char('%');
    if (m.parts.empty()) {
        m.how = text_matcher::mode::anything;
    } else if (m.parts.size() == 1 && !m.anchored_start && !m.anchored_end) {
        m.how = text_matcher::mode::contains;
        m.literal = std::move(m.parts.front());
        m.parts.clear();
    } else {
        m.how = text_matcher::mode::glob;
    }
    return m;
}

namespace {

#ifdef QM_X86_SIMD
// The candidate test of filter_find_literal sixteen units at a time. Answers the hit, or with
// `found` false the place from which the rest must be searched.
__attribute__((target("avx2"))) std::size_t find_avx2(const char16_t* h, std::size_t i,
                                                      std::size_t last, const char16_t* p,
                                                      std::size_t m, bool& found) {
    const __m256i first_unit = _mm256_set1_epi16(static_cast<short>(p[0]));
    const __m256i last_unit = _mm256_set1_epi16(static_cast<short>(p[m - 1]));
    for (; i <= last && last - i >= 15; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
        const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + m - 1));
        auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi16(a, first_unit), _mm256_cmpeq_epi16(z, last_unit))));
        while (mask != 0) {
            const unsigned lane = static_cast<unsigned>(std::countr_zero(mask)) / 2;
            if (m <= 2 || same_units(h + i + lane + 1, p + 1, m - 2)) {
                found = true;
                return i + lane;
            }
            mask &= ~(std::uint32_t{3} << (lane * 2));
        }
    }
    found = false;
    return i;
}
#endif

} // namespace

// Candidates are the places where both the first and the last unit match, then checked whole.
std::size_t filter_find_literal(const char16_t* h, std::size_t from, std::size_t limit,
                                std::u16string_view literal) {
    const std::size_t m = literal.size();
    if (limit < from || limit - from < m) return filter_not_found;
    if (m == 0) return from;
    const char16_t* p = literal.data();
    const std::size_t last = limit - m; // the last place a hit may start
    std::size_t i = from;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2()) {
        bool found = false;
        i = find_avx2(h, i, last, p, m, found);
        if (found) return i;
    }
    // SSE2, eight places at a time.
    const __m128i first_unit = _mm_set1_epi16(static_cast<short>(p[0]));
    const __m128i last_unit = _mm_set1_epi16(static_cast<short>(p[m - 1]));
    for (; i <= last && last - i >= 7; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
        const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi16(a, first_unit), _mm_cmpeq_epi16(z, last_unit))));
        while (mask != 0) {
            const unsigned lane = static_cast<unsigned>(std::countr_zero(mask)) / 2;
            if (m <= 2 || same_units(h + i + lane + 1, p + 1, m - 2)) return i + lane;
            mask &= ~(3u << (lane * 2));
        }
    }
#endif
    for (; i <= last; ++i)
        if (h[i] == p[0] && h[i + m - 1] == p[m - 1] &&
            (m <= 2 || same_units(h + i + 1, p + 1, m - 2)))
            return i;
    return filter_not_found;
}
