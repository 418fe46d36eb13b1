#include "search/language/filter_evaluator.h"
#include "app/shell/run_parts.h"

#include "search/language/cpu_features.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_key.h"
#include "search/language/row_at_offset.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

bool same_units(const char16_t* a, const char16_t* b, std::size_t n) {
    // Most literals are a few characters: a call to memcmp would cost more than the compare.
    if (n <= 8) {
        for (std::size_t k = 0; k < n; ++k)
            if (a[k] != b[k]) return false;
        return true;
    }
    return std::memcmp(a, b, n * sizeof(char16_t)) == 0;
}

// Below this many rows one thread is quicker than starting others.
constexpr std::uint32_t parallel_threshold = 65536;
constexpr std::uint32_t min_rows_per_thread = 32768;
constexpr unsigned max_threads = 8;

// What one term asks of a text.
struct text_matcher {
    enum class mode { equals, contains, anything, glob };
    mode how = mode::equals;
    std::u16string literal;            // equals, contains
    std::vector<std::u16string> parts; // glob: the literals between "%" runs
    bool anchored_start = false;       // glob: the pattern does not begin with "%"
    bool anchored_end = false;         // glob: nor end with it

    bool matches(const char16_t* s, std::size_t n) const {
        switch (how) {
        case mode::equals:
            return n == literal.size() && same_units(s, literal.data(), n);
        case mode::anything:
            return true;
        case mode::contains:
            return n >= literal.size() && filter_find_literal(s, 0, n, literal) != filter_not_found;
        case mode::glob:
            return glob_matches(s, n);
        }
        return false;
    }

    // With "%" the only wildcard, taking each literal at its leftmost place is never
    // worse than any later place, so one forward pass decides.
    bool glob_matches(const char16_t* s, std::size_t n) const {
        return glob_from(s, n, 0, anchored_start);
    }

    // The pattern from parts[first] on, anchored at the start of `s` only when asked.
    bool glob_from(const char16_t* s, std::size_t n, std::size_t first, bool anchored) const {
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
            if (end - pos < p.size() || !same_units(s + n - p.size(), p.data(), p.size()))
                return false;
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
    bool rest_matches(const char16_t* s, std::size_t n) const {
        return how == mode::contains || glob_from(s, n, 1, false);
    }
};

std::u16string units(QStringView text) {
    return std::u16string(text.utf16(), static_cast<std::size_t>(text.size()));
}

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

// Every term on one column, evaluated together.
struct column_plan {
    column_access access;
    std::vector<text_matcher> matchers;
    std::vector<const text_matcher*> whole_arena; // "contains" over an ordered arena
    // whole_arena as the wide scan takes it: every "contains" together (a few to a group),
    // each other pattern alone.
    std::vector<std::vector<const text_matcher*>> arena_groups;
    std::vector<const text_matcher*> per_row;
    std::vector<std::uint8_t> dictionary_pass;   // per distinct text
    std::vector<std::uint32_t> dictionary_ids;   // the distinct texts that pass
    std::vector<std::string> key_queries;        // pinyin key: its "contains" literals
    std::vector<pinyin_full_query> full_queries; // full pinyin: literals beyond initials
};

bool any_matches(const std::vector<const text_matcher*>& ms, const char16_t* s, std::size_t n) {
    for (const text_matcher* m : ms)
        if (m->matches(s, n)) return true;
    return false;
}

// Where the text of rows [b, e) ends in an ordered arena: past the last row with text.
std::size_t text_end(const text_arena_view& a, std::uint32_t b, std::uint32_t e) {
    for (std::uint32_t r = e; r > b; --r) {
        const std::uint16_t len = a.lengths[r - 1];
        if (len != null_text_length && len != 0)
            return std::min(std::size_t{a.offsets[r - 1]} + len, a.size);
    }
    return 0;
}

// One search for the matcher's first literal over the arena span of rows [b, e): each hit
// is mapped to its row, and counts only when it lies wholly inside that row's text and the
// rest of the pattern matches after it. The first hit in a row is its leftmost, which
// decides the row, so the search goes on at the next row either way. out[r - b] is row r's.
void ordered_contains(const text_arena_view& a, const text_matcher& matcher, std::uint32_t b,
                      std::uint32_t e, std::uint8_t* out) {
    const std::u16string& literal = matcher.first_literal();
    if (b >= e) return; // more threads than rows leaves some with none
    const std::size_t m = literal.size();
    const std::size_t limit = text_end(a, b, e);
    std::size_t pos = a.offsets[b];
    std::uint32_t row = b;
    while (m > 0 && pos < limit) {
        const std::size_t hit = filter_find_literal(a.data, pos, limit, literal);
        if (hit == filter_not_found) break;
        row = row_at(a.offsets, row, e, hit);
        const std::uint16_t len = a.lengths[row];
        const std::size_t end = std::size_t{a.offsets[row]} + (len == null_text_length ? 0 : len);
        if (hit + m <= end) {
            if (!out[row - b] && matcher.rest_matches(a.data + hit + m, end - (hit + m)))
                out[row - b] = 1;
            pos = end;
        } else {
            pos = hit + 1; // across the end of a row's text
        }
    }
}

// Literals one wide scan looks for at once.
constexpr std::size_t max_group = 8;
// How far ahead of the wide scan memory is asked for.
constexpr std::size_t prefetch_bytes = 2048;

#ifdef QM_X86_SIMD
// The units a wide scan compares at each place, per literal: the first, the second (any
// unit for a literal of one) and the last.
struct wide_probe {
    __m256i first;
    __m256i second; // the first again for a literal of one unit
    __m256i last;
    std::size_t second_at; // 1, or 0 for a literal of one unit
    std::size_t last_at;
};

// Sixteen places from `at`: two bits for each where some literal's first, second and last
// units match (the second keeps common pairs such as "live" for "love" out of the slow part).
// Loads are cheaper than compares here: each literal's units are loaded where it needs them.
__attribute__((target("avx2"))) inline std::uint64_t
chunk_mask(const char16_t* at, std::size_t count, const wide_probe* probes) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    __m256i any = _mm256_setzero_si256();
    for (std::size_t k = 0; k < count; ++k) {
        const wide_probe& p = probes[k];
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.second_at));
        const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.last_at));
        any =
            _mm256_or_si256(any, _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi16(x, p.first),
                                                                   _mm256_cmpeq_epi16(y, p.second)),
                                                  _mm256_cmpeq_epi16(z, p.last)));
    }
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(any));
}

// chunk_mask over the byte copy of the text (text_arena_view::narrow): 32 places at once, one
// bit each, with byte probes. Half the memory of the units, and half the compares.
// SameLength: every literal is as long as the first, so each offset is loaded once for all.
template <bool SameLength>
__attribute__((target("avx2"))) inline std::uint64_t
byte_mask(const std::uint8_t* at, std::size_t count, const wide_probe* probes) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i y0 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + probes[0].second_at));
    const __m256i z0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + probes[0].last_at));
    __m256i any = _mm256_setzero_si256();
    for (std::size_t k = 0; k < count; ++k) {
        const wide_probe& p = probes[k];
        const __m256i y =
            SameLength ? y0
                       : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.second_at));
        const __m256i z =
            SameLength ? z0 : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.last_at));
        any =
            _mm256_or_si256(any, _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(x, p.first),
                                                                   _mm256_cmpeq_epi8(y, p.second)),
                                                  _mm256_cmpeq_epi8(z, p.last)));
    }
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(any));
}

// The places of h[i, limit) where some literal's first and last unit match, 32 at a time
// while every literal fits, each handed to `place`, which answers where to go on. Answers
// where the rest must be looked at one place at a time. N literals (0: n of them, known at
// run time only; a known count keeps the loop's values in registers).
// Bytes: the probes are bytes, for byte_mask over `nb`.
template <std::size_t N, bool Bytes, class Place>
__attribute__((target("avx2"))) inline std::size_t
wide_scan(const char16_t* h, const std::uint8_t* nb, std::size_t i, std::size_t limit,
          std::size_t longest, const wide_probe* given, std::size_t n, Place& place) {
    const std::size_t count = N == 0 ? n : N;
    // Copies of their own, which `place`'s stores cannot be taken to change.
    constexpr std::size_t room = N == 0 ? max_group : N;
    wide_probe probes[room];
    for (std::size_t k = 0; k < count; ++k) probes[k] = given[k];
    // The loads reach 31 + the longest literal (at least 2, for the second unit) units on.
    const std::size_t reach = std::max<std::size_t>(longest, 2) + 31;
    while (i < limit && limit - i >= reach) {
        // Frequent hits jump about; asking for the memory well ahead keeps it streaming.
        if (Bytes)
            _mm_prefetch(reinterpret_cast<const char*>(nb + i) + prefetch_bytes, _MM_HINT_T0);
        else
            _mm_prefetch(reinterpret_cast<const char*>(h + i) + prefetch_bytes, _MM_HINT_T0);
        constexpr unsigned bits = Bytes ? 1 : 2; // per place
        std::uint64_t mask = Bytes ? byte_mask<N == 1>(nb + i, count, probes)
                                   : chunk_mask(h + i, count, probes) |
                                         (chunk_mask(h + i + 16, count, probes) << 32);
        std::size_t next = i + 32;
        while (mask != 0) {
            const std::size_t lane = static_cast<std::size_t>(std::countr_zero(mask)) / bits;
            const std::size_t resume = place(i + lane);
            if (resume >= i + 32) {
                next = resume;
                break;
            }
            mask &= ~((std::uint64_t{1} << ((resume - i) * bits)) - 1);
        }
        i = next;
    }
    return i;
}

// Where a scan puts what it decides of rows [first_row(), ...): a byte per row (set, never
// cleared), or the rows that pass themselves, each once, in increasing order, as a scan
// decides them in order. take(row, false) leaves everything as it was.
struct row_bytes {
    std::uint8_t* out;
    std::uint32_t b;
    std::uint32_t first_row() const { return b; }
    bool decided(std::uint32_t row) const { return out[row - b] != 0; }
    void take(std::uint32_t row, bool pass) { out[row - b] |= static_cast<std::uint8_t>(pass); }
};
struct row_ids {
    std::uint32_t* ids; // room for every row of the span and one more
    std::uint32_t b;
    std::size_t n = 0;
    std::uint32_t taken = UINT32_MAX; // the last row taken; rows are below it
    std::uint32_t first_row() const { return b; }
    bool decided(std::uint32_t row) const { return row == taken; }
    void take(std::uint32_t row, bool pass) {
        ids[n] = row;
        const bool add = pass & (row != taken);
        n += add;
        taken = add ? row : taken;
    }
};

// One literal of a "contains" group as a place is checked against it: its first eight
// units (zero beyond its end) compared at once, the rest one by one.
struct literal_check {
    __m128i head;
    std::uint32_t head_bytes; // movemask bits of the units `head` holds
    const char16_t* literal;
    std::size_t size;
    // The same in the byte copy, for a literal of ASCII: its first sixteen bytes at once.
    __m128i byte_head;
    std::uint32_t byte_head_bits;
    const std::uint8_t* bytes;
};

// The places of h[i, limit) where some literal of a "contains" group lies, 32 at a time while
// every literal fits: each candidate is checked against every literal at once and mapped to
// its row, which passes when the shortest literal found there ends inside the row's text.
// A common word's hits (one every few dozen rows) thus cost no call and no branch on where
// they lie; the rest of a row is not skipped, as its next hit costs less than a jump.
// Answers where the rest must be looked at one place at a time. N literals and Bytes as in
// wide_scan, SameLength as in byte_mask; Exact: every literal is ASCII, so the byte copy
// decides a place alone and the units are never read.
template <std::size_t N, bool Bytes, bool Exact, bool SameLength, class Sink>
__attribute__((target("avx2"))) inline std::size_t
wide_scan_contains(const char16_t* h, std::size_t i, std::size_t limit, std::size_t longest,
                   const wide_probe* given, const literal_check* given_checks, std::size_t n,
                   const text_arena_view& a, std::uint32_t e, Sink& sink) {
    const std::uint8_t* nb = a.narrow;
    const std::size_t count = N == 0 ? n : N;
    constexpr std::size_t room = N == 0 ? max_group : N;
    wide_probe probes[room];
    literal_check checks[room];
    for (std::size_t k = 0; k < count; ++k) probes[k] = given[k], checks[k] = given_checks[k];
    std::uint32_t row = sink.first_row();
    // The loads reach 31 + the longest literal places on, and sixteen from every place.
    const std::size_t reach = std::max<std::size_t>(longest, 16) + 31;
    while (i < limit && limit - i >= reach) {
        if (Bytes)
            _mm_prefetch(reinterpret_cast<const char*>(nb + i) + prefetch_bytes, _MM_HINT_T0);
        else
            _mm_prefetch(reinterpret_cast<const char*>(h + i) + prefetch_bytes, _MM_HINT_T0);
        constexpr unsigned bits = Bytes ? 1 : 2; // per place
        std::uint64_t mask = Bytes ? byte_mask<SameLength>(nb + i, count, probes)
                                   : chunk_mask(h + i, count, probes) |
                                         (chunk_mask(h + i + 16, count, probes) << 32);
        while (mask != 0) {
            const std::size_t p = i + static_cast<std::size_t>(std::countr_zero(mask)) / bits;
            mask &= mask - 1;
            if (!Bytes) mask &= mask - 1; // both bits of the place
            std::size_t shortest = filter_not_found;
            if (Exact) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nb + p));
                for (std::size_t k = 0; k < count; ++k) {
                    const literal_check& c = checks[k];
                    const auto same = static_cast<std::uint32_t>(
                        _mm_movemask_epi8(_mm_cmpeq_epi8(v, c.byte_head)));
                    bool found = (same & c.byte_head_bits) == c.byte_head_bits;
                    if (c.size > 16)
                        found = found && std::memcmp(nb + p + 16, c.bytes + 16, c.size - 16) == 0;
                    shortest = found ? std::min(shortest, c.size) : shortest;
                }
            } else {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p));
                for (std::size_t k = 0; k < count; ++k) {
                    const literal_check& c = checks[k];
                    const auto same =
                        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, c.head)));
                    bool found = (same & c.head_bytes) == c.head_bytes;
                    if (c.size > 8)
                        found = found && same_units(h + p + 8, c.literal + 8, c.size - 8);
                    shortest = found ? std::min(shortest, c.size) : shortest;
                }
            }
            // Near misses (a number's digits) are rare and left before their rows are looked for.
            if (shortest == filter_not_found) continue;
            row = row_at_ahead_avx2(a.offsets, row, e, p);
            // The next hits' row starts (and lengths), asked for before they are needed.
            _mm_prefetch(reinterpret_cast<const char*>(a.offsets + row) + 512, _MM_HINT_T0);
            std::size_t end;
            if (a.gap_free) {
                // The last row of the span ends where its text does.
                end = row + 1 < e ? a.offsets[row + 1] : limit;
            } else {
                _mm_prefetch(reinterpret_cast<const char*>(a.lengths + row) + 256, _MM_HINT_T0);
                const std::uint16_t len = a.lengths[row];
                end = std::size_t{a.offsets[row]} + (len == null_text_length ? 0 : len);
            }
            sink.take(row, p + shortest <= end);
        }
        i += 32;
    }
    return i;
}

// The contains scan for a group of n literals, with a count known where it is small.
template <bool Bytes, bool Exact, bool SameLength, class Sink>
__attribute__((target("avx2"))) std::size_t
contains_scan(const char16_t* h, std::size_t i, std::size_t limit, std::size_t longest,
              const wide_probe* probes, const literal_check* checks, std::size_t n,
              const text_arena_view& a, std::uint32_t e, Sink& sink) {
    switch (n) {
    case 1:
        return wide_scan_contains<1, Bytes, Exact, true>(h, i, limit, longest, probes, checks, n, a,
                                                         e, sink);
    case 2:
        return wide_scan_contains<2, Bytes, Exact, SameLength>(h, i, limit, longest, probes, checks,
                                                               n, a, e, sink);
    case 3:
        return wide_scan_contains<3, Bytes, Exact, SameLength>(h, i, limit, longest, probes, checks,
                                                               n, a, e, sink);
    default:
        return wide_scan_contains<0, Bytes, Exact, SameLength>(h, i, limit, longest, probes, checks,
                                                               n, a, e, sink);
    }
}

// The first literals of `group` looked for in one pass over the arena span of rows [b, e)
// (sink.first_row()): 32 places at a time (sixteen without
// the byte copy) are tested against every literal's first,
// second and last unit, so a few terms cost about what one does, and a hit costs no new
// call. A group is any number of "contains" (up to max_group) or one matcher of another
// kind. A row's first place where a literal lies wholly inside its text decides it (the
// leftmost place decides a pattern, see ordered_contains).
template <class Sink>
__attribute__((target("avx2"))) void scan_arena_avx2(const text_arena_view& a,
                                                     const std::vector<const text_matcher*>& group,
                                                     std::uint32_t e, Sink& sink) {
    const std::uint32_t b = sink.first_row();
    if (b >= e || group.empty()) return;
    const std::size_t n = std::min(group.size(), max_group);
    const char16_t* literals[max_group];
    std::size_t lengths[max_group];
    wide_probe probes[max_group];
    literal_check checks[max_group];
    std::size_t longest = 0;
    bool all_contains = true;
    const bool bytes = a.narrow != nullptr;
    bool exact = bytes;
    std::vector<std::uint8_t> literal_bytes[max_group];
    for (std::size_t k = 0; k < n; ++k) {
        const std::u16string& l = group[k]->first_literal();
        if (l.empty()) return; // not searchable this way (never built so)
        literals[k] = l.data();
        lengths[k] = l.size();
        const std::size_t second_at = l.size() > 1 ? 1 : 0;
        probes[k].second_at = second_at;
        probes[k].last_at = l.size() - 1;
        if (bytes) {
            probes[k].first = _mm256_set1_epi8(static_cast<char>(narrow_unit(l.front())));
            probes[k].second = _mm256_set1_epi8(static_cast<char>(narrow_unit(l[second_at])));
            probes[k].last = _mm256_set1_epi8(static_cast<char>(narrow_unit(l.back())));
        } else {
            probes[k].first = _mm256_set1_epi16(static_cast<short>(l.front()));
            probes[k].second = _mm256_set1_epi16(static_cast<short>(l[second_at]));
            probes[k].last = _mm256_set1_epi16(static_cast<short>(l.back()));
        }
        alignas(16) char16_t head[8] = {};
        const std::size_t held = std::min<std::size_t>(l.size(), 8);
        std::copy_n(l.data(), held, head);
        checks[k].head = _mm_load_si128(reinterpret_cast<const __m128i*>(head));
        checks[k].head_bytes = (std::uint32_t{1} << (2 * held)) - 1;
        checks[k].literal = l.data();
        checks[k].size = l.size();
        std::vector<std::uint8_t>& lb = literal_bytes[k];
        lb.resize(std::max<std::size_t>(l.size(), 16)); // zeros past the end fill the head
        narrow_units(l.data(), l.size(), lb.data());
        checks[k].byte_head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lb.data()));
        checks[k].byte_head_bits = static_cast<std::uint32_t>(
            (std::uint64_t{1} << std::min<std::size_t>(l.size(), 16)) - 1);
        checks[k].bytes = lb.data();
        longest = std::max(longest, l.size());
        all_contains = all_contains && group[k]->how == text_matcher::mode::contains;
        // An ASCII byte stands for its unit alone (see narrow_unit).
        exact = exact && std::all_of(l.begin(), l.end(), [](char16_t u) { return u < 0x80; });
    }
    const std::size_t limit = text_end(a, b, e);
    const char16_t* h = a.data;
    std::uint32_t row = b;
    // Decides place p; answers where the scan goes on: after the row when it decided one.
    // Out of line: the scan's own values then stay in registers, and a pattern's first literal
    // is seldom where it looks.
    auto place = [&](std::size_t p) __attribute__((noinline)) {
        bool row_known = false;
        std::size_t end = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t m = lengths[k];
            if (limit - p < m || !same_units(h + p, literals[k], m)) continue;
            if (!row_known) {
                row = row_at(a.offsets, row, e, p);
                const std::uint16_t len = a.lengths[row];
                end = std::size_t{a.offsets[row]} + (len == null_text_length ? 0 : len);
                row_known = true;
            }
            if (end < p + m) continue; // across the end of a row's text
            if (!sink.decided(row) && group[k]->rest_matches(h + p + m, end - (p + m)))
                sink.take(row, true);
            return end;
        }
        return p + 1;
    };
    std::size_t i = a.offsets[b];
    if (all_contains) {
        const bool same_length =
            std::all_of(lengths, lengths + n, [&](std::size_t m) { return m == lengths[0]; });
        if (exact && same_length)
            i = contains_scan<true, true, true>(h, i, limit, longest, probes, checks, n, a, e,
                                                sink);
        else if (exact)
            i = contains_scan<true, true, false>(h, i, limit, longest, probes, checks, n, a, e,
                                                 sink);
        else if (bytes && same_length)
            i = contains_scan<true, false, true>(h, i, limit, longest, probes, checks, n, a, e,
                                                 sink);
        else if (bytes)
            i = contains_scan<true, false, false>(h, i, limit, longest, probes, checks, n, a, e,
                                                  sink);
        else
            i = contains_scan<false, false, false>(h, i, limit, longest, probes, checks, n, a, e,
                                                   sink);
    } else if (bytes) {
        i = wide_scan<1, true>(h, a.narrow, i, limit, longest, probes, n, place); // one pattern
    } else {
        i = wide_scan<1, false>(h, a.narrow, i, limit, longest, probes, n, place);
    }
    while (i < limit) i = place(i);
}
#endif

// Rows [b, e) of one column; out[r - b] is row r's.
void evaluate_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e, std::uint8_t* out) {
    switch (plan.access.how) {
    case column_access::kind::arena: {
        const text_arena_view& a = plan.access.arena;
#ifdef QM_X86_SIMD
        if (cpu_has_avx2()) {
            row_bytes sink{out, b};
            for (const auto& group : plan.arena_groups) scan_arena_avx2(a, group, e, sink);
        } else
#endif
            for (const text_matcher* m : plan.whole_arena) ordered_contains(a, *m, b, e, out);
        if (plan.per_row.empty()) break;
        for (std::uint32_t r = b; r < e; ++r) {
            const std::uint16_t len = a.lengths[r];
            if (out[r - b] || len == null_text_length) continue;
            const std::size_t s = a.offsets[r];
            if (s + len > a.size) continue;
            if (any_matches(plan.per_row, a.data + s, len)) out[r - b] = 1;
        }
        break;
    }
    case column_access::kind::dictionary: {
        const std::uint32_t* ids = plan.access.dictionary.ids;
        const std::uint32_t beyond = static_cast<std::uint32_t>(plan.dictionary_pass.size() - 1);
        const std::uint8_t* pass = plan.dictionary_pass.data();
        for (std::uint32_t r = b; r < e; ++r) out[r - b] |= pass[std::min(ids[r], beyond)];
        break;
    }
    case column_access::kind::pinyin_key:
    case column_access::kind::pinyin_full:
        if (!plan.access.key) break;
        for (const std::string& q : plan.key_queries) plan.access.key->contains(q, b, e, out);
        if (!plan.access.key_names) break;
        for (const pinyin_full_query& q : plan.full_queries)
            q.find(*plan.access.key, plan.access.key_names, b, e, out,
                   plan.access.key_names_ahead ? &plan.access.key_names_ahead : nullptr);
        break;
    case column_access::kind::generic: {
        if (!plan.access.text_of) break;
        QString text;
        for (std::uint32_t r = b; r < e; ++r) {
            if (out[r - b] || !plan.access.text_of(r, text)) continue;
            const QStringView v(text);
            if (any_matches(plan.per_row, v.utf16(), static_cast<std::size_t>(v.size())))
                out[r - b] = 1;
        }
        break;
    }
    }
}

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
            plan.access.how == column_access::kind::pinyin_full) {
            // The key answers "contains" only; a text it cannot hold matches nothing.
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
            continue;
        }
        for (const text_matcher& m : plan.matchers) {
            const bool whole = plan.access.how == column_access::kind::arena &&
                               plan.access.arena.ordered && m.searchable_over_arena();
            (whole ? plan.whole_arena : plan.per_row).push_back(&m);
        }
        std::vector<const text_matcher*> together;
        for (const text_matcher* m : plan.whole_arena) {
            if (m->how != text_matcher::mode::contains) {
                plan.arena_groups.push_back({m});
                continue;
            }
            together.push_back(m);
            if (together.size() == max_group) {
                plan.arena_groups.push_back(std::move(together));
                together.clear();
            }
        }
        if (!together.empty()) plan.arena_groups.push_back(std::move(together));
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
    return plans;
}

#ifdef QM_X86_SIMD
// For each set of eight lanes (a bit each), the lanes that are set, lowest first, then zeros.
struct lane_order {
    std::uint64_t of[256];
    constexpr lane_order() : of{} {
        for (unsigned bits = 0; bits < 256; ++bits) {
            unsigned n = 0;
            for (unsigned lane = 0; lane < 8; ++lane)
                if (bits >> lane & 1u) of[bits] |= std::uint64_t{lane} << (8 * n++);
        }
    }
};
constexpr lane_order lanes_set;

// The rows of [b, e) whose id is one of `wanted` (N of them, repeats allowed), eight at a time:
// each row's id is compared with every wanted id, and the rows that match are packed down to
// ids[n] by one store. Answers where the rest must be looked at one row at a time.
template <std::size_t N>
__attribute__((target("avx2"))) std::uint32_t
dictionary_rows_avx2(const std::uint32_t* text_ids, const std::uint32_t* wanted, std::uint32_t b,
                     std::uint32_t e, std::uint32_t* ids, std::size_t& n) {
    __m256i want[N];
    for (std::size_t k = 0; k < N; ++k) want[k] = _mm256_set1_epi32(static_cast<int>(wanted[k]));
    const __m256i step = _mm256_set1_epi32(8);
    __m256i rows = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(b)),
                                    _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    std::uint32_t r = b;
    for (; e - r >= 8; r += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text_ids + r));
        __m256i hit = _mm256_cmpeq_epi32(v, want[0]);
        for (std::size_t k = 1; k < N; ++k)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi32(v, want[k]));
        const auto bits = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(hit)));
        const __m256i order =
            _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(lanes_set.of[bits])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ids + n),
                            _mm256_permutevar8x32_epi32(rows, order));
        n += static_cast<std::size_t>(std::popcount(bits));
        rows = _mm256_add_epi32(rows, step);
    }
    return r;
}
#endif

// The rows of [b, e) that pass a plan on one dictionary column, into ids (room for e - b + 1),
// in order; answers how many. A row costs a compare per passing text when few pass (a picture
// query's extensions), else a look-up, and never a branch.
std::size_t dictionary_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e,
                            std::uint32_t* ids) {
    const std::uint32_t* text_ids = plan.access.dictionary.ids;
    const std::vector<std::uint32_t>& wanted = plan.dictionary_ids;
    std::size_t n = 0;
    if (wanted.empty()) return 0;
    std::uint32_t r = b;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2() && wanted.size() <= 8) {
        // Repeats of the last fill the compares up to a count the loop is built for.
        std::uint32_t padded[8];
        for (std::size_t k = 0; k < 8; ++k) padded[k] = wanted[std::min(k, wanted.size() - 1)];
        if (wanted.size() <= 2)
            r = dictionary_rows_avx2<2>(text_ids, padded, b, e, ids, n);
        else if (wanted.size() <= 4)
            r = dictionary_rows_avx2<4>(text_ids, padded, b, e, ids, n);
        else
            r = dictionary_rows_avx2<8>(text_ids, padded, b, e, ids, n);
    }
#endif
    const std::uint32_t beyond = static_cast<std::uint32_t>(plan.dictionary_pass.size() - 1);
    const std::uint8_t* pass = plan.dictionary_pass.data();
    for (; r < e; ++r) {
        ids[n] = r;
        n += pass[std::min(text_ids[r], beyond)];
    }
    return n;
}

// Whether the rows that pass are those of one scan (one column: its dictionary ids, one wide
// scan of its arena, or one query of the pinyin key), which hands them over in order without
// a byte per row.
bool one_scan(const std::vector<column_plan>& plans) {
    if (plans.size() == 1 && plans.front().access.how == column_access::kind::dictionary)
        return true;
#ifdef QM_X86_SIMD
    if (plans.size() != 1 || !cpu_has_avx2()) return false;
    const column_plan& p = plans.front();
    if (p.access.how == column_access::kind::arena)
        return p.arena_groups.size() == 1 && p.per_row.empty();
    return p.access.how == column_access::kind::pinyin_key && p.access.key != nullptr &&
           p.key_queries.size() == 1;
#else
    (void)plans;
    return false;
#endif
}

// The rows of [b, e) that pass a one_scan plan, into ids (room for e - b + 1), in order;
// answers how many.
std::size_t scan_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e,
                      std::uint32_t* ids) {
    if (plan.access.how == column_access::kind::dictionary) return dictionary_rows(plan, b, e, ids);
#ifdef QM_X86_SIMD
    if (plan.access.how == column_access::kind::pinyin_key)
        return plan.access.key->contains_rows(plan.key_queries.front(), b, e, ids);
    row_ids sink{ids, b};
    scan_arena_avx2(plan.access.arena, plan.arena_groups.front(), e, sink);
    return sink.n;
#else
    (void)plan, (void)b, (void)e, (void)ids;
    return 0;
#endif
}

unsigned choose_threads(std::uint32_t rows, unsigned asked) {
    if (asked == 0) {
        if (rows < parallel_threshold) return 1;
        // Asked once: the answer reads a system file.
        static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        asked = std::min({cores, max_threads, rows / min_rows_per_thread});
    }
    return std::max(1u, std::min(asked, std::max(rows, 1u)));
}

#ifdef QM_X86_SIMD
// The candidate test of filter_find_literal sixteen units at a time, on processors that have
// the instructions (checked once at run time). Answers the hit, or with `found` false the
// place from which the rest must be searched.
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
#endif
#ifdef QM_X86_SIMD
    // Candidates: places where both the first and the last unit match, eight at a time.
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

namespace {

// Rows are decided a block at a time, every term of every column over the block before the
// next: a block's texts stay in the cache, so several terms on one column cost about one
// pass over its memory instead of one each.
constexpr std::uint32_t block_rows = 8192;

// Decides rows [b, e) block by block into `scratch` (block_rows bytes), then hands each
// block to `take(first row, bytes, count)`.
template <class Take>
void evaluate_range(const std::vector<column_plan>& plans, std::uint32_t b, std::uint32_t e,
                    std::uint8_t* scratch, Take&& take) {
    for (std::uint32_t s = b; s < e;) {
        const std::uint32_t t = s + std::min(block_rows, e - s);
        std::memset(scratch, 0, t - s);
        for (const column_plan& plan : plans) evaluate_rows(plan, s, t, scratch);
        take(s, static_cast<const std::uint8_t*>(scratch), t - s);
        s = t;
    }
}

// Appends first + i for every non-zero byte i of bytes[0, n), in order.
void append_passing(std::uint32_t first, const std::uint8_t* bytes, std::uint32_t n,
                    std::vector<std::uint32_t>& out) {
    std::uint32_t i = 0;
#ifdef QM_X86_SIMD
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        auto mask =
            static_cast<std::uint32_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFFFu;
        while (mask != 0) {
            out.push_back(first + i + static_cast<std::uint32_t>(std::countr_zero(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; i < n; ++i)
        if (bytes[i]) out.push_back(first + i);
}

} // namespace

std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source,
                                          unsigned threads) {
    const std::uint32_t rows = source.row_count();
    if (expr.passes_everything()) return std::vector<std::uint8_t>(rows, 1);
    std::vector<std::uint8_t> out(rows, 0);
    if (rows == 0) return out;
    const std::vector<column_plan> plans = make_plans(expr, source);
    run_parts(rows, choose_threads(rows, threads), [&](unsigned, std::uint32_t b, std::uint32_t e) {
        std::vector<std::uint8_t> scratch(block_rows);
        evaluate_range(plans, b, e, scratch.data(),
                       [&](std::uint32_t first, const std::uint8_t* bytes, std::uint32_t n) {
                           std::memcpy(out.data() + first, bytes, n);
                       });
    });
    return out;
}

std::vector<std::uint32_t> filter_passing_rows(const filter_expr& expr, const filter_source& source,
                                               unsigned threads) {
    const std::uint32_t rows = source.row_count();
    std::vector<std::uint32_t> out;
    if (expr.passes_everything()) {
        out.resize(rows);
        for (std::uint32_t r = 0; r < rows; ++r) out[r] = r;
        return out;
    }
    if (rows == 0) return out;
    const std::vector<column_plan> plans = make_plans(expr, source);
    const unsigned n = choose_threads(rows, threads);
    std::vector<std::vector<std::uint32_t>> parts(n);
    if (one_scan(plans)) {
        run_parts(rows, n, [&](unsigned k, std::uint32_t b, std::uint32_t e) {
            std::vector<std::uint32_t> ids(block_rows + 1);
            for (std::uint32_t s = b; s < e;) {
                const std::uint32_t t = s + std::min(block_rows, e - s);
                const std::size_t count = scan_rows(plans.front(), s, t, ids.data());
                parts[k].insert(parts[k].end(), ids.data(), ids.data() + count);
                s = t;
            }
        });
    } else {
        run_parts(rows, n, [&](unsigned k, std::uint32_t b, std::uint32_t e) {
            std::vector<std::uint8_t> scratch(block_rows);
            evaluate_range(
                plans, b, e, scratch.data(),
                [&](std::uint32_t first, const std::uint8_t* bytes, std::uint32_t count) {
                    append_passing(first, bytes, count, parts[k]);
                });
        });
    }
    if (n == 1) return std::move(parts[0]);
    std::size_t total = 0;
    for (const auto& p : parts) total += p.size();
    out.reserve(total);
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source) {
    return evaluate_filter(expr, source, 0);
}
