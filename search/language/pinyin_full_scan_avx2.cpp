#include "search/language/pinyin_full_scan_avx2.h"

#ifdef QM_X86_SIMD
#include <bit>

namespace full_pinyin::avx2 {
namespace {

using namespace key_bytes;

struct nibble_registers {
    __m256i low_rows, high_rows, bit_of_high;
};

__attribute__((target("avx2"))) inline nibble_registers registers_of(const nibble_tables& t) {
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(t.low_rows)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(t.high_rows)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(t.bit_of_high))};
}

__attribute__((target("avx2"))) inline __m256i accepts(__m256i x, const nibble_registers& t) {
    return key_bytes::accepts(x, t.low_rows, t.high_rows, t.bit_of_high);
}

// A byte vector's nibbles, made once for all the sets it is tried against.
struct nibbles {
    __m256i low, select, bit;
};

__attribute__((target("avx2"))) inline nibbles nibbles_of(__m256i x) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    const __m256i bit_of_high =
        _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                         32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    return {_mm256_and_si256(x, nibble), _mm256_slli_epi16(hi, 4),
            _mm256_shuffle_epi8(bit_of_high, hi)};
}

__attribute__((target("avx2"))) inline __m256i in_set(const nibbles& x, const nibble_registers& t) {
    const __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(t.low_rows, x.low),
                                           _mm256_shuffle_epi8(t.high_rows, x.low), x.select);
    return _mm256_cmpeq_epi8(_mm256_and_si256(row, x.bit), x.bit);
}

// A block of 32 places of the key (the key further on asked of memory first) and where its
// rows end.
struct key_block {
    __m256i x;
    std::uint32_t ends;
};
__attribute__((target("avx2"))) inline key_block block_at(const std::uint8_t* d, std::size_t i) {
    ask_ahead(d + i);
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
    return {x, static_cast<std::uint32_t>(
                   _mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_setzero_si256())))};
}

// A block's answers for the character after each place: its own moved down a place, and the
// next block's first character's on top.
inline std::uint32_t moved_down(std::uint32_t mask, bool next) {
    return (mask >> 1) | (std::uint32_t{next} << 31);
}

// The places of a block's mask into `out` with their rows, counted from the block's 0s.
inline void add_places(std::uint32_t mask, std::uint32_t ends, std::size_t i, std::uint32_t& at_row,
                       key_candidate* out, std::size_t& n) {
    for (; mask; mask &= mask - 1) {
        const auto place = static_cast<unsigned>(std::countr_zero(mask));
        out[n++] = {static_cast<std::uint32_t>(i + place),
                    at_row + static_cast<std::uint32_t>(
                                 std::popcount(ends & ((std::uint32_t{1} << place) - 1)))};
    }
    at_row += static_cast<std::uint32_t>(std::popcount(ends));
}

// Places whose characters are in their sets (see pinyin_full_scan_avx2.h). With Terms 0,
// character p in tables[0] and p + second in tables[1]; else, for one of the pairs
// (tables[2t], tables[2t + 1]) of `terms`, characters p and p + 1.
template <std::size_t Terms>
__attribute__((target("avx2"))) std::size_t
candidates_avx2(const std::uint8_t* d, std::size_t i, std::size_t last, const nibble_tables* tables,
                std::size_t second, const std::array<byte_set, 2>* terms, std::uint32_t& row,
                key_candidate* out, std::size_t room, std::size_t& count) {
    // Kept in registers: the stores of candidates might otherwise alias the tables.
    constexpr std::size_t sets = Terms == 0 ? 2 : 2 * Terms;
    nibble_registers in[sets];
    for (std::size_t k = 0; k < sets; ++k) in[k] = registers_of(tables[k]);
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        const auto [x, ends] = block_at(d, i);
        std::uint32_t mask = 0;
        if constexpr (Terms == 0) {
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + second));
            mask = static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_and_si256(accepts(x, in[0]), accepts(y, in[1]))));
        } else {
            // Both characters of a pair from one load: the second's answers, moved down a
            // place, and the next block's first character asked of its set alone.
            const nibbles a = nibbles_of(x);
            const std::uint8_t next = d[i + 32];
            for (std::size_t t = 0; t < Terms; ++t) {
                const auto f =
                    static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, in[2 * t])));
                const auto z =
                    static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, in[2 * t + 1])));
                mask |= f & moved_down(z, terms[t][1].has(next));
            }
        }
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}

// Places whose character is in `sets[0]`, or in `sets[1]` with the next in `sets[2]` where
// either is 0xFF; rows with a character in `sets[3]`, or such a pair of others, marked in
// `found`.
__attribute__((target("avx2"))) std::size_t
syllable_candidates_avx2(const std::uint8_t* d, std::size_t i, std::size_t last,
                         const nibble_tables* sets, const byte_set& second_set, std::uint8_t* found,
                         std::uint32_t b, std::uint32_t& row, key_candidate* out, std::size_t room,
                         std::size_t& count) {
    const __m256i ones = _mm256_set1_epi8(-1);
    const nibble_registers reads = registers_of(sets[0]), first = registers_of(sets[1]),
                           second = registers_of(sets[2]), always = registers_of(sets[3]);
    std::uint8_t sink = 0;
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        const auto [x, ends] = block_at(d, i);
        // Every set asked of one load's nibbles, the next character's answers moved down a
        // place: a load and a set's test less a block (BM_query_syllable_ai 10M 17.6 -> 14.7).
        const nibbles a = nibbles_of(x);
        const std::uint8_t next = d[i + 32];
        const auto kept =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, ones)));
        const std::uint32_t pair =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, first))) &
            moved_down(static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, second))),
                       second_set.has(next));
        // A pair of letters is sure unless one of them is kept aside (0xFF).
        const std::uint32_t aside = kept | moved_down(kept, next == 0xFF);
        auto hits =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, always))) | (pair & ~aside);
        const auto mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, reads))) | (pair & aside);
        // Sure rows marked here rather than handed over, the first of a block without a
        // branch: a common syllable is in every few blocks, at random (BM_query_syllable_ai).
        const std::uint64_t before = (std::uint64_t{1} << std::countr_zero(hits)) - 1;
        *(hits ? found + (at_row - b + static_cast<std::uint32_t>(std::popcount(ends & before)))
               : &sink) = 1;
        for (hits &= hits - 1; hits; hits &= hits - 1) {
            const auto place = static_cast<unsigned>(std::countr_zero(hits));
            found[at_row - b +
                  static_cast<std::uint32_t>(
                      std::popcount(ends & ((std::uint32_t{1} << place) - 1)))] = 1;
        }
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}

// The buckets of each byte of `x`.
__attribute__((target("avx2"))) inline __m256i buckets_in(__m256i x, __m256i by_low,
                                                          __m256i by_high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(by_low, _mm256_and_si256(x, nibble)),
        _mm256_shuffle_epi8(by_high, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
}

// The same for pairs, the sets' bytes dealt into buckets: one lookup of each nibble for all
// the sets, and a pair's two tests joined by the smaller of their bytes (0 unless both hold).
template <std::size_t Terms>
__attribute__((target("avx2"))) std::size_t
pair_candidates_by_buckets(const std::uint8_t* d, std::size_t i, std::size_t last,
                           const byte_buckets& buckets, std::uint32_t& row, key_candidate* out,
                           std::size_t room, std::size_t& count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i by_low = _mm256_load_si256(reinterpret_cast<const __m256i*>(buckets.by_low));
    const __m256i by_high = _mm256_load_si256(reinterpret_cast<const __m256i*>(buckets.by_high));
    __m256i of_set[2 * Terms];
    for (std::size_t k = 0; k < 2 * Terms; ++k)
        of_set[k] = _mm256_set1_epi8(static_cast<char>(buckets.of_set[k]));
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        const auto [x, ends] = block_at(d, i);
        const __m256i first = buckets_in(x, by_low, by_high);
        const __m256i second = buckets_in(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1)), by_low, by_high);
        __m256i any = zero;
        for (std::size_t t = 0; t < Terms; ++t)
            any =
                _mm256_or_si256(any, _mm256_min_epu8(_mm256_and_si256(first, of_set[2 * t]),
                                                     _mm256_and_si256(second, of_set[2 * t + 1])));
        const auto mask =
            ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(any, zero)));
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}

} // namespace

std::size_t initial_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                               const nibble_tables* tables, std::size_t second, std::uint32_t& row,
                               key_candidate* out, std::size_t room, std::size_t& count) {
    return candidates_avx2<0>(d, i, last, tables, second, nullptr, row, out, room, count);
}

std::size_t pair_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                            const nibble_tables* tables,
                            std::span<const std::array<byte_set, 2>> terms, std::uint32_t& row,
                            key_candidate* out, std::size_t room, std::size_t& count) {
    const std::array<byte_set, 2>* t = terms.data();
    switch (terms.size()) {
    case 1:
        return candidates_avx2<1>(d, i, last, tables, 1, t, row, out, room, count);
    case 2:
        return candidates_avx2<2>(d, i, last, tables, 1, t, row, out, room, count);
    case 3:
        return candidates_avx2<3>(d, i, last, tables, 1, t, row, out, room, count);
    default:
        return candidates_avx2<4>(d, i, last, tables, 1, t, row, out, room, count);
    }
}

std::size_t bucket_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                              const byte_buckets& buckets, std::size_t terms, std::uint32_t& row,
                              key_candidate* out, std::size_t room, std::size_t& count) {
    switch (terms) {
    case 1:
        return pair_candidates_by_buckets<1>(d, i, last, buckets, row, out, room, count);
    case 2:
        return pair_candidates_by_buckets<2>(d, i, last, buckets, row, out, room, count);
    case 3:
        return pair_candidates_by_buckets<3>(d, i, last, buckets, row, out, room, count);
    default:
        return pair_candidates_by_buckets<4>(d, i, last, buckets, row, out, room, count);
    }
}

std::size_t syllable_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                                const nibble_tables* sets, const byte_set& second_set,
                                std::uint8_t* found, std::uint32_t b, std::uint32_t& row,
                                key_candidate* out, std::size_t room, std::size_t& count) {
    return syllable_candidates_avx2(d, i, last, sets, second_set, found, b, row, out, room, count);
}

} // namespace full_pinyin::avx2
#endif
