#pragma once
// How the full-pinyin search looks for candidates on one key (the plan): the state machine
// over key bytes that follows a candidate along the key, the sets the first characters are
// tried with, and which way a sample of the key found cheapest (pinyin_full_plan.cpp).
#include "search/language/key_byte_buckets.h"
#include "search/language/key_byte_sets.h"
#include "search/language/pinyin_full.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace full_pinyin {

// Which key bytes a set of letters accepts: the letters themselves (Latin in a name) and the
// codes of the key whose letters meet the set.
key_bytes::byte_set accepted_bytes(std::uint32_t letters, const pinyin_key& key);

} // namespace full_pinyin

// For one key: where a character with each key byte takes the text on to, from each offset,
// and the pairs of sets the first two characters of a match are tried with.
struct pinyin_full_query::piece_plan {
    // The initials' test alone, each candidate then followed along the key, or the pairs.
    enum class way { initials, initials_followed, pairs } how = way::initials;
    // Offsets reached (bit n: the text is done), at [offset * 256 + byte].
    std::vector<std::uint64_t> ends;
    // The same walk made once: for each set of offsets reached (a state, 1 the first) and
    // byte, the next state (0: none) in the low bits and whether the text is done in the
    // top one; empty where the text has too many states.
    std::vector<std::uint8_t> walk;
    // 127 states fit the byte with text_done; texts of the benchmarks' lengths (up to
    // "wodeairen", BM_query_full_pinyin_wodeairen) need far fewer.
    static constexpr unsigned max_states = 127, text_done = 0x80;
    // The walk from `ends`, for a text of n letters; left empty past max_states.
    void make_walk(std::size_t n);
    // Whether the key from `at` on (up to its row's closing 0, which ends nothing) holds a
    // match of the text (n letters) of two characters or more, as matches_at asks of a name:
    // the state machine where there is one, else offset by offset (bit-parallel).
    bool follows(const std::uint8_t* at, std::size_t n) const {
        if (!walk.empty()) {
            // The first three characters without a branch (most candidates fail there): a
            // candidate's second character is never its row's closing 0, so a third can be
            // read, and no state stays none. A first character that ends the text alone is
            // no match.
            const unsigned second = walk[(walk[256 + at[0]] & ~text_done) * 256 + at[1]];
            const unsigned third = walk[(second & ~text_done) * 256 + at[2]];
            if ((second | third) & text_done) return true;
            unsigned state = third;
            for (std::size_t c = 3; state != 0; ++c) {
                const unsigned next = walk[state * 256 + at[c]];
                if (next & text_done) return true;
                state = next;
            }
            return false;
        }
        const std::uint64_t done = std::uint64_t{1} << n;
        std::uint64_t reached = 1;
        for (std::size_t c = 0;; ++c) {
            std::uint64_t next = 0;
            for (std::uint64_t r = reached; r; r &= r - 1)
                next |= ends[static_cast<std::size_t>(std::countr_zero(r)) * 256 + at[c]];
            if ((next & done) && c >= 1) return true;
            reached = next & ~done;
            if (!reached) return false;
        }
    }
    // The bytes that stand for each letter of the text as an initial, but 0xFF (its letters
    // are kept aside): where the key spells the text so, the name matches.
    std::vector<key_bytes::byte_set> spelled;
    // The initials' test: the bytes each of the first characters may be, and which of them is
    // tried with the first (see find).
    std::array<key_bytes::byte_set, max_lead> accept;
    std::size_t second = 1;
#ifdef QM_X86_SIMD
    key_bytes::nibble_tables initial_tables[2];
#endif
    // A whole syllable typed alone: the bytes that may stand for a character read so, those
    // that always do (the syllable's own code), and for a text of two letters the bytes of
    // its two initials; made once per key rather than once per part searched
    // (BM_query_syllable_ai 1M: about 0.3 ms of 2.1).
    key_bytes::byte_set reads, exact, firsts, seconds;
#ifdef QM_X86_SIMD
    key_bytes::nibble_tables syllable_tables[4]; // reads but exact, firsts, seconds, exact
#endif
    // For each end of a first piece: the bytes that take the text there, and the bytes that
    // go on from there.
    std::vector<std::array<key_bytes::byte_set, 2>> terms;
#ifdef QM_X86_SIMD
    std::vector<key_bytes::nibble_tables> tables; // of terms, two by two
    // The same sets in buckets, where they fit well enough.
    std::optional<key_bytes::byte_buckets> buckets;
#endif
};
