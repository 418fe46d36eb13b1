#pragma once
// Classes of syllables, which let the pinyin key tell apart ideographs of one initial: the
// syllables of each common initial ("y", "zh", "d", ...) are dealt into a few classes, the
// commonest of them into different ones, 56 classes in all. An ideograph whose readings all
// lie in one class is keyed as that class's code, a byte no character is keyed as otherwise
// (0x02..0x1F, then 0x41..0x5A: control characters and capitals are keyed otherwise); any
// other keeps its initial. A search for whole syllables ("yinyue") then rejects most places
// on the key alone, while initials accept every class of their letter. Tables are made once
// per process (under a millisecond) and never saved: a key is built and read by one process.
#include <cstdint>
#include <span>

namespace syllable_classes {

inline constexpr unsigned count = 56;

// The key byte of class `k` (< count).
std::uint8_t code_of_class(unsigned k);
// The initial (bit 0 = 'a') of a class code; 0 for any other byte.
std::uint32_t letter_of_code(std::uint8_t code);
// The code of the class of syllable `id` (see pinyin_syllable), 0 when its initial has none.
std::uint8_t code_of_syllable(std::uint16_t id);
// The code of the class holding every reading of `cp`; 0 when its readings lie in several
// classes, or in none.
std::uint8_t code_of_character(char32_t cp);
// The class of a class code (< count), or count for any other byte.
unsigned class_of_code(std::uint8_t code);

// Readings that lie in several classes, or in classes and beyond them: the classes (bit k
// for class k) and the initials of the readings in none. A key may give the commonest mixes
// in a catalogue codes of their own (see pinyin_key.h).
struct mix {
    std::uint64_t classes = 0;
    std::uint32_t others = 0;
    std::uint32_t letters = 0; // the initials of all the readings
};
// Mixes are numbered from 1; mix_count() is the last number.
std::size_t mix_count();
const mix& mix_numbered(std::uint16_t number);

// code_of_character of first_tabled + i at [i], and the number of the mix of its readings
// (0 for none), for loops over many characters; characters beyond have no mix.
inline constexpr char32_t first_tabled = 0x3400;
std::span<const std::uint8_t> tabled_characters();
std::span<const std::uint16_t> tabled_mixes();

// The initial letters of readings `ids` (bit 0 = 'a').
std::uint32_t letters_of(std::span<const std::uint16_t> ids);

} // namespace syllable_classes
