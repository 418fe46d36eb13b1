#pragma once
// The full-pinyin search's candidate scans over the key, 32 places at a time (SIMD, AVX2;
// called only where cpu_has_avx2()). Each goes from place i while a whole block lies within
// [i, last] and `out` has room for one (`count` places already in it), puts the places whose
// characters pass its test into `out` with their rows, and answers where the rest begins.
// A row ends at each 0 of the key, so the blocks' 0s, counted on the way, give every
// candidate's row without a look at the rows' starts (which lie far from the key: a cache
// miss or several each); `row` is the row of place i and goes along.
#include "search/language/key_byte_buckets.h"
#include "search/language/key_byte_sets.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace full_pinyin {

// A place of the key where a match may begin, and its row.
struct key_candidate {
    std::uint32_t at, row;
};

#ifdef QM_X86_SIMD
namespace avx2 {

using key_bytes::byte_buckets;
using key_bytes::byte_set;
using key_bytes::nibble_tables;

// Places p with character p in tables[0] and p + second in tables[1] (the initials' test).
std::size_t initial_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                               const nibble_tables* tables, std::size_t second, std::uint32_t& row,
                               key_candidate* out, std::size_t room, std::size_t& count);
// Places p whose characters p and p + 1 are in the sets of one of `terms` (1 to 4 pairs;
// their tables two by two in `tables`).
std::size_t pair_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                            const nibble_tables* tables,
                            std::span<const std::array<byte_set, 2>> terms, std::uint32_t& row,
                            key_candidate* out, std::size_t room, std::size_t& count);
// The same with the pairs' sets dealt into buckets (see key_byte_buckets.h).
std::size_t bucket_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                              const byte_buckets& buckets, std::size_t terms, std::uint32_t& row,
                              key_candidate* out, std::size_t room, std::size_t& count);
// One syllable typed alone: rows with a character in sets[3] (those that always read it),
// or one in sets[1] followed by one in sets[2], `second_set` (its letters as initials), neither
// 0xFF, are found on the spot, found[row - b] = 1; places whose character is in sets[0] (those that
// may read it), or such a pair with a 0xFF, are handed over.
std::size_t syllable_candidates(const std::uint8_t* d, std::size_t i, std::size_t last,
                                const nibble_tables* sets, const byte_set& second_set,
                                std::uint8_t* found, std::uint32_t b, std::uint32_t& row,
                                key_candidate* out, std::size_t room, std::size_t& count);

} // namespace avx2
#endif

} // namespace full_pinyin
