#pragma once
// What the pinyin key's build shares between its files: the key's fixed byte values, the
// codes chosen from a sample of the rows before they are keyed (pinyin_key_codes.cpp), and
// a part of the rows keyed on its own (pinyin_key.cpp).
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_key.h"
#include "search/language/pinyin_syllable_classes.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace key_build {

constexpr std::uint8_t other_character = 0x01;
constexpr std::uint8_t first_code = 0x80;
constexpr std::uint8_t set_aside_code = 0xFF;
constexpr std::uint32_t every_letter = (1u << 26) - 1;

// The generated table's sets of initials (of characters read with several): how many, and
// the letters of each; the set of `cp`, or -1 when it has one initial or none.
std::size_t initial_set_count();
std::uint32_t initial_set_letters(std::size_t set);
int initial_set_of(char32_t cp);

// Rows [b, e) keyed on their own: a character with several initials and no mix code is
// written as a local code (first_local + index into `sets`), or as set_aside_code with its letters
// in `aside` once 127 local codes are taken. Joining the parts gives the codes their final values.
struct key_part {
    std::uint32_t b = 0, e = 0;
    std::vector<std::uint8_t> data;
    std::vector<std::uint32_t> offsets; // row starts within `data`
    std::vector<std::uint16_t> sets;    // local code -> index into pinyin_key_sets
    std::vector<std::uint32_t> aside;   // letters of each set_aside_code, in order
    // The readings of the characters of more than one that took each own code (from
    // first_code), one bit each.
    std::vector<std::array<std::uint64_t, 7>> reads;
    bool covers = true; // see pinyin_key::covers_initials
};

// Codes given before the parts are keyed: the mixes of readings (see
// pinyin_syllable_classes.h) a sample holds most, from first_code on; local codes follow.
struct mix_codes {
    std::vector<std::uint8_t> of_mix; // by number
    unsigned first_local = first_code;
    // Syllables with codes of their own: the code of each (0: none), how common each is (the
    // lower the commoner), and the code of each character of the tabled range.
    std::vector<std::uint8_t> of_syllable;
    std::vector<std::uint16_t> rank;
    std::vector<std::uint8_t> of_tabled;
    std::vector<bool> many_tabled; // whether each has more than one reading
    // The own code of a character whose readings all begin with `letters` (one letter):
    // that of its commonest syllable with one; 0 for none.
    std::uint8_t own_code(std::span<const std::uint16_t> ids, std::uint32_t letters) const {
        if (!std::has_single_bit(letters) || syllable_classes::letters_of(ids) != letters) return 0;
        std::uint8_t code = 0;
        std::uint16_t best = UINT16_MAX;
        for (const std::uint16_t id : ids)
            if (id < rank.size() && of_syllable[id] != 0 && rank[id] < best)
                best = rank[id], code = of_syllable[id];
        return code;
    }
    std::uint8_t own_code(char32_t cp, std::uint32_t letters) const {
        const std::size_t at = cp - syllable_classes::first_tabled;
        if (at < of_tabled.size()) return of_tabled[at];
        return of_tabled.empty() ? 0 : own_code(pinyin_readings_of(cp), letters);
    }
};

} // namespace key_build
