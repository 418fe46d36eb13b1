#pragma once
// Up to eight sets of key bytes tested together: each bucket is the bytes of some high
// nibbles with some low nibbles, so one lookup by each nibble and an AND give a byte all its
// buckets, and a set is a mask of buckets. That is three vector steps a set where a set of
// its own costs five. Sets that need more than eight such rectangles get some merged: the
// test then holds more bytes than the sets, never fewer, and the merges chosen are those
// that add the bytes a key holds least (by a count of each byte in a sample of it).
#include "search/language/key_byte_sets.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace key_bytes {

struct byte_buckets {
    // The buckets of each low and each high nibble, twice over (one per lane).
    alignas(32) std::uint8_t by_low[32] = {};
    alignas(32) std::uint8_t by_high[32] = {};
    std::array<std::uint8_t, 8> of_set{};
    bool exact = true; // the buckets hold each set's bytes and no other
    bool has(std::size_t set, std::uint8_t b) const {
        return (by_low[b & 15] & by_high[b >> 4] & of_set[set]) != 0;
    }
};

// Buckets for `sets` (at most eight); nullopt where they need more than `most_rectangles`
// rectangles before merging, which would make the merging cost more than it saves.
std::optional<byte_buckets> buckets_of(std::span<const byte_set> sets,
                                       const std::array<std::uint32_t, 256>& count,
                                       std::size_t most_rectangles = 32);

} // namespace key_bytes
