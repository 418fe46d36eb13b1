#pragma once
// Maps a position in texts stored back to back to the row that holds it. Row starts never
// decrease and hits come in increasing order, so the answer lies a little after the row of
// the previous hit: the next rows' starts are compared eight at a time (a prefix of them
// lies at or before the position), and a gallop (exponential search) then a binary search
// take over when the hit is further away. Frequent hits (a common word) thus cost a compare
// or two and no mispredicted branches.
// Every function here is static: a file built with -mavx2 keeps its own copies, so the
// linker never hands a portable caller a copy built for AVX2.
#include "search/language/cpu_features.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

// The last row of [from, e) that starts at or before `pos`, given that row `from` does.
static inline std::uint32_t row_at_gallop(const std::uint32_t* offsets, std::uint32_t from,
                                          std::uint32_t e, std::size_t pos) {
    std::uint32_t lo = from;
    std::uint32_t step = 1;
    std::uint32_t hi = e;
    while (e - lo > step) {
        if (offsets[lo + step] > pos) {
            hi = lo + step;
            break;
        }
        lo += step;
        step *= 2;
    }
    return static_cast<std::uint32_t>(std::upper_bound(offsets + lo + 1, offsets + hi, pos) -
                                      offsets - 1);
}

#ifdef QM_X86_SIMD
// SIMD, before the gallop: the next 32 rows' starts, eight at a time.
__attribute__((target("avx2"))) static inline std::uint32_t
row_at_avx2(const std::uint32_t* offsets, std::uint32_t from, std::uint32_t e, std::size_t pos) {
    if (pos > UINT32_MAX) return row_at_gallop(offsets, from, e, pos);
    const __m256i p = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(pos)));
    for (int round = 0; round < 4 && e - from > 8; ++round) {
        const __m256i starts =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets + from + 1));
        // start <= pos, unsigned: max(start, pos) == pos.
        const __m256i at_or_before = _mm256_cmpeq_epi32(_mm256_max_epu32(starts, p), p);
        const auto mask =
            static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(at_or_before)));
        const auto count = static_cast<std::uint32_t>(std::popcount(mask));
        if (count < 8) return from + count;
        from += 8;
    }
    return row_at_gallop(offsets, from, e, pos);
}

// row_at_avx2 out of line, for the rare hit beyond row_at_ahead_avx2's window: kept out of
// the loops that call that.
[[gnu::noinline]] __attribute__((target("avx2"))) static std::uint32_t
row_at_far_avx2(const std::uint32_t* offsets, std::uint32_t from, std::uint32_t e,
                std::size_t pos) {
    return row_at_avx2(offsets, from, e, pos);
}

// The next 64 rows' starts counted at once, at a fixed cost with no branch on how far the
// hit lies (the common case of a hit every few dozen rows), the gallop taking over past them.
__attribute__((target("avx2"))) static inline std::uint32_t
row_at_ahead_avx2(const std::uint32_t* offsets, std::uint32_t from, std::uint32_t e,
                  std::size_t pos) {
    if (pos > UINT32_MAX || e - from <= 64) return row_at_far_avx2(offsets, from, e, pos);
    const __m256i p = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(pos)));
    // start <= pos, unsigned: a true lane is -1. The eight answers are narrowed to bytes (in
    // some order, which a count does not mind) and counted as bits: a short chain, as the next
    // hit's look-up waits for this one.
    __m256i at_or_before[8];
    for (int k = 0; k < 8; ++k) {
        const __m256i starts =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets + from + 1 + 8 * k));
        at_or_before[k] = _mm256_cmpeq_epi32(_mm256_max_epu32(starts, p), p);
    }
    const __m256i low = _mm256_packs_epi16(_mm256_packs_epi32(at_or_before[0], at_or_before[1]),
                                           _mm256_packs_epi32(at_or_before[2], at_or_before[3]));
    const __m256i high = _mm256_packs_epi16(_mm256_packs_epi32(at_or_before[4], at_or_before[5]),
                                            _mm256_packs_epi32(at_or_before[6], at_or_before[7]));
    const auto ahead = static_cast<std::uint32_t>(
        std::popcount(static_cast<std::uint32_t>(_mm256_movemask_epi8(low))) +
        std::popcount(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))));
    return ahead < 64 ? from + ahead : row_at_far_avx2(offsets, from + 64, e, pos);
}
#endif

// The last row of [from, e) that starts at or before `pos`, given that row `from` does.
static inline std::uint32_t row_at(const std::uint32_t* offsets, std::uint32_t from,
                                   std::uint32_t e, std::size_t pos) {
#ifdef QM_X86_SIMD
    if (cpu_has_avx2()) return row_at_avx2(offsets, from, e, pos);
#endif
    return row_at_gallop(offsets, from, e, pos);
}
