// The SIMD arena scans, built with -mavx2 (see filter_arena_scan.h). Everything here but the
// entry point has internal linkage, and it calls out only to functions of other files or of
// row_at_offset.h (static): no copy of a shared inline function is made here for the linker
// to hand to portable code.
#include "search/language/filter_arena_scan.h"

#ifdef QM_X86_SIMD
#include "search/language/filter_evaluator.h"
#include "search/language/row_at_offset.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// How far ahead of the scan memory is asked for (prefetch).
// BM_query_fuzzy_blank 10M: 8.0 ms with it vs 11.2 ms without (name_chinese 6.0 vs 7.7).
constexpr std::size_t prefetch_bytes = 2048;

// The units a scan compares at each place, per literal: the first, the second (any unit for a
// literal of one) and the last.
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
inline std::uint64_t chunk_mask(const char16_t* at, std::size_t count, const wide_probe* probes) {
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
inline std::uint64_t byte_mask(const std::uint8_t* at, std::size_t count,
                               const wide_probe* probes) {
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

// The candidates of 32 places from i: one bit per place over the byte copy (Bytes), else two.
template <bool Bytes, bool SameLength>
inline std::uint64_t candidates(const char16_t* h, const std::uint8_t* nb, std::size_t i,
                                std::size_t count, const wide_probe* probes) {
    // Frequent hits jump about; asking for the memory well ahead keeps it streaming.
    if (Bytes) {
        _mm_prefetch(reinterpret_cast<const char*>(nb + i) + prefetch_bytes, _MM_HINT_T0);
        return byte_mask<SameLength>(nb + i, count, probes);
    }
    _mm_prefetch(reinterpret_cast<const char*>(h + i) + prefetch_bytes, _MM_HINT_T0);
    return chunk_mask(h + i, count, probes) | (chunk_mask(h + i + 16, count, probes) << 32);
}

// A byte per row, or the rows that pass themselves (see scan_output), as a scan decides rows
// in order. take(row, false) leaves everything as it was.
struct row_bytes {
    std::uint8_t* out;
    std::uint32_t b;
    bool decided(std::uint32_t row) const { return out[row - b] != 0; }
    void take(std::uint32_t row, bool pass) { out[row - b] |= static_cast<std::uint8_t>(pass); }
};
struct row_ids {
    std::uint32_t* ids;
    std::size_t n = 0;
    std::uint32_t taken = UINT32_MAX; // the last row taken; rows are below it
    bool decided(std::uint32_t row) const { return row == taken; }
    void take(std::uint32_t row, bool pass) {
        ids[n] = row;
        const bool add = pass & (row != taken);
        n += add;
        taken = add ? row : taken;
    }
};

// One literal of a "contains" group as a place is checked against it: its first eight units
// (zero beyond its end) compared at once, the rest one by one.
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

// What one scan of rows [b, e) works with.
struct scan_setup {
    const text_arena_view& a;
    std::uint32_t b, e;
    std::size_t limit;   // where the rows' text ends
    std::size_t n;       // literals
    std::size_t longest; // the longest literal
    wide_probe probes[max_group];
    literal_check checks[max_group];
};

// The places of [i, limit) where some literal of a "contains" group lies, 32 at a time while
// every literal fits: each candidate is checked against every literal at once and mapped to
// its row, which passes when the shortest literal found there ends inside the row's text.
// A common word's hits (one every few dozen rows) thus cost no call and no branch on where
// they lie; the rest of a row is not skipped, as its next hit costs less than a jump.
// Answers where the rest must be looked at one place at a time. N literals (0: known at run
// time only; a known count keeps the loop's values in registers); Bytes: the candidates come
// from the byte copy; Exact: every literal is ASCII, so the byte copy decides a place alone
// and the units are never read; SameLength as in byte_mask.
// BM_query_name_latin 10M: 9.2 ms SIMD vs 28.7 ms portable; BM_query_several_numbers 10M:
// 8.6 ms vs 37.1 ms. Exact: BM_query_name_latin 10M 8.4 ms vs 24.3 ms without it.
template <std::size_t N, bool Bytes, bool Exact, bool SameLength, class Sink>
std::size_t contains_scan(const scan_setup& s, std::size_t i, Sink& sink) {
    const char16_t* h = s.a.data;
    const std::uint8_t* nb = s.a.narrow;
    const std::size_t count = N == 0 ? s.n : N;
    constexpr std::size_t room = N == 0 ? max_group : N;
    // Copies of their own, which the sink's stores cannot be taken to change.
    wide_probe probes[room];
    literal_check checks[room];
    for (std::size_t k = 0; k < count; ++k) probes[k] = s.probes[k], checks[k] = s.checks[k];
    const std::uint32_t e = s.e;
    const std::size_t limit = s.limit;
    std::uint32_t row = s.b;
    // The loads reach 31 + the longest literal places on, and sixteen from every place.
    const std::size_t reach = std::max<std::size_t>(s.longest, 16) + 31;
    while (i < limit && limit - i >= reach) {
        constexpr unsigned bits = Bytes ? 1 : 2; // per place
        std::uint64_t mask = candidates<Bytes, SameLength>(h, nb, i, count, probes);
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
            row = row_at_ahead_avx2(s.a.offsets, row, e, p);
            std::size_t end;
            if (s.a.gap_free) {
                // The last row of the span ends where its text does.
                end = row + 1 < e ? s.a.offsets[row + 1] : limit;
            } else {
                const std::uint16_t len = s.a.lengths[row];
                end = std::size_t{s.a.offsets[row]} + (len == null_text_length ? 0 : len);
            }
            sink.take(row, p + shortest <= end);
        }
        i += 32;
    }
    return i;
}

// contains_scan with the count known where it is small.
// BM_query_name_latin 10M: 8.7 ms vs 10.6 ms all at a run-time count (number 3.7 vs 5.0).
template <bool Bytes, bool Exact, bool SameLength, class Sink>
std::size_t contains_scan_n(const scan_setup& s, std::size_t i, Sink& sink) {
    switch (s.n) {
    case 1:
        return contains_scan<1, Bytes, Exact, true>(s, i, sink);
    case 2:
        return contains_scan<2, Bytes, Exact, SameLength>(s, i, sink);
    case 3:
        return contains_scan<3, Bytes, Exact, SameLength>(s, i, sink);
    default:
        return contains_scan<0, Bytes, Exact, SameLength>(s, i, sink);
    }
}

// The places of [i, limit) where the first literal of one pattern could start, 32 at a time
// while it fits, each handed to `place`, which answers where to go on. Answers where the rest
// must be looked at one place at a time.
// BM_query_fuzzy_blank 10M: 5.9 ms vs 7.4 ms by the per-literal search (find_avx2).
template <bool Bytes, class Place>
std::size_t pattern_scan(const scan_setup& s, std::size_t i, Place& place) {
    const wide_probe probes[1] = {s.probes[0]};
    const std::size_t limit = s.limit;
    // The loads reach 31 + the literal (at least 2, for the second unit) units on.
    const std::size_t reach = std::max<std::size_t>(s.longest, 2) + 31;
    while (i < limit && limit - i >= reach) {
        constexpr unsigned bits = Bytes ? 1 : 2; // per place
        std::uint64_t mask = candidates<Bytes, true>(s.a.data, s.a.narrow, i, 1, probes);
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

void set_up(scan_setup& s, const arena_group& group, bool bytes) {
    for (std::size_t k = 0; k < s.n; ++k) {
        const group_literal& g = group.literals[k];
        const char16_t* l = g.units->data();
        const std::size_t size = g.units->size();
        wide_probe& p = s.probes[k];
        p.second_at = size > 1 ? 1 : 0;
        p.last_at = size - 1;
        if (bytes) {
            p.first = _mm256_set1_epi8(static_cast<char>(g.bytes[0]));
            p.second = _mm256_set1_epi8(static_cast<char>(g.bytes[p.second_at]));
            p.last = _mm256_set1_epi8(static_cast<char>(g.bytes[p.last_at]));
        } else {
            p.first = _mm256_set1_epi16(static_cast<short>(l[0]));
            p.second = _mm256_set1_epi16(static_cast<short>(l[p.second_at]));
            p.last = _mm256_set1_epi16(static_cast<short>(l[p.last_at]));
        }
        literal_check& c = s.checks[k];
        alignas(16) char16_t head[8] = {};
        const std::size_t held = std::min<std::size_t>(size, 8);
        std::copy_n(l, held, head);
        c.head = _mm_load_si128(reinterpret_cast<const __m128i*>(head));
        c.head_bytes = (std::uint32_t{1} << (2 * held)) - 1;
        c.literal = l;
        c.size = size;
        c.byte_head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.bytes.data()));
        c.byte_head_bits =
            static_cast<std::uint32_t>((std::uint64_t{1} << std::min<std::size_t>(size, 16)) - 1);
        c.bytes = g.bytes.data();
        s.longest = std::max(s.longest, size);
    }
}

// The first literals of the group looked for in one pass over the arena span of rows [b, e):
// 32 places at a time (sixteen without the byte copy) are tested against every literal's
// first, second and last unit, so a few terms cost about what one does, and a hit costs no new
// call.
template <class Sink>
void scan(const text_arena_view& a, const arena_group& group, std::uint32_t b, std::uint32_t e,
          Sink& sink) {
    const std::size_t n = std::min(group.literals.size(), max_group);
    if (b >= e || n == 0) return;
    for (std::size_t k = 0; k < n; ++k)
        if (group.literals[k].units->empty()) return; // not searchable this way (never built so)
    const bool bytes = a.narrow != nullptr;
    scan_setup s{a, b, e, arena_text_end(a, b, e), n, 0, {}, {}};
    set_up(s, group, bytes);
    const char16_t* h = a.data;
    const std::size_t limit = s.limit;
    std::uint32_t row = b;
    // Decides place p; answers where the scan goes on: after the row when it decided one.
    // Out of line: the scan's own values then stay in registers, and a pattern's first literal
    // is seldom where it looks.
    auto place = [&](std::size_t p) __attribute__((noinline)) {
        bool row_known = false;
        std::size_t end = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t m = s.checks[k].size;
            if (limit - p < m || !same_units(h + p, s.checks[k].literal, m)) continue;
            if (!row_known) {
                row = row_at_avx2(a.offsets, row, e, p);
                const std::uint16_t len = a.lengths[row];
                end = std::size_t{a.offsets[row]} + (len == null_text_length ? 0 : len);
                row_known = true;
            }
            if (end < p + m) continue; // across the end of a row's text
            if (!sink.decided(row) && group.matchers[k]->rest_matches(h + p + m, end - (p + m)))
                sink.take(row, true);
            return end;
        }
        return p + 1;
    };
    std::size_t i = a.offsets[b];
    if (group.all_contains) {
        const bool exact = bytes && std::all_of(group.literals.begin(), group.literals.begin() + n,
                                                [](const group_literal& g) { return g.ascii; });
        const bool same_length = std::all_of(s.checks, s.checks + n, [&](const literal_check& c) {
            return c.size == s.checks[0].size;
        });
        if (exact && same_length)
            i = contains_scan_n<true, true, true>(s, i, sink);
        else if (exact)
            i = contains_scan_n<true, true, false>(s, i, sink);
        else if (bytes && same_length)
            i = contains_scan_n<true, false, true>(s, i, sink);
        else if (bytes)
            i = contains_scan_n<true, false, false>(s, i, sink);
        else
            i = contains_scan_n<false, false, false>(s, i, sink);
    } else if (bytes) {
        i = pattern_scan<true>(s, i, place);
    } else {
        i = pattern_scan<false>(s, i, place);
    }
    while (i < limit) i = place(i);
}

} // namespace

void scan_arena_avx2(const text_arena_view& a, const arena_group& group, std::uint32_t b,
                     std::uint32_t e, scan_output& out) {
    if (out.bytes) {
        row_bytes sink{out.bytes, b};
        scan(a, group, b, e, sink);
    } else {
        row_ids sink{out.ids};
        scan(a, group, b, e, sink);
        out.count = sink.n;
    }
}
#endif
