#pragma once
// Sets of pinyin-key bytes (which byte values a typed letter accepts) and their 32-wide AVX2
// test by nibble lookup, shared by the initials search and the full-pinyin search. A set is
// 32 bytes; its lookup tables 96, made once per search.
#include "search/language/cpu_features.h"
#include <array>
#include <cstdint>

namespace key_bytes {

// Asks for the key some blocks ahead of a wide scan at `at`: left to itself, a processor's
// prefetcher may fall behind these loops (a 10M key was read at half the memory's speed).
inline void ask_ahead(const std::uint8_t* at) {
    __builtin_prefetch(at + 2048);
}

struct byte_set {
    std::array<std::uint64_t, 4> bits{};
    void add(unsigned b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
    bool has(std::uint8_t b) const { return (bits[b >> 6] >> (b & 63)) & 1u; }
};

#ifdef QM_X86_SIMD
// Row bytes for high nibbles 0..7 and 8..15, each indexed by the low nibble, and the bit of
// each high nibble.
struct nibble_tables {
    alignas(32) std::uint8_t low_rows[32] = {};
    alignas(32) std::uint8_t high_rows[32] = {};
    alignas(32) std::uint8_t bit_of_high[32] = {};
};

inline nibble_tables tables_of(const byte_set& s) {
    nibble_tables t;
    for (unsigned v = 0; v < 256; ++v) {
        if (!s.has(static_cast<std::uint8_t>(v))) continue;
        const unsigned h = v >> 4, l = v & 15;
        for (unsigned lane = 0; lane < 32; lane += 16)
            (h < 8 ? t.low_rows : t.high_rows)[lane + l] |=
                static_cast<std::uint8_t>(1u << (h & 7));
    }
    for (unsigned i = 0; i < 32; ++i) t.bit_of_high[i] = static_cast<std::uint8_t>(1u << (i & 7));
    return t;
}

// 0xFF in each byte of `x` that the tables' set holds.
__attribute__((target("avx2"))) inline __m256i accepts(__m256i x, __m256i low_rows,
                                                       __m256i high_rows, __m256i bit_of_high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_and_si256(x, nibble);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    // The high nibble's top bit, moved to each byte's sign bit, picks the row table.
    const __m256i row =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(low_rows, lo), _mm256_shuffle_epi8(high_rows, lo),
                           _mm256_slli_epi16(hi, 4));
    const __m256i bit = _mm256_shuffle_epi8(bit_of_high, hi);
    return _mm256_cmpeq_epi8(_mm256_and_si256(row, bit), bit);
}
#endif

} // namespace key_bytes
