#pragma once
// The second, in-memory pinyin search key of the catalogue, beside the stored `pinyinma`:
// for every record the initials of its name, where every ideograph of the generated table
// (Traditional and Simplified, basic block and extensions) stands for the initials of all
// its readings, and Latin letters are folded to lower case. Never saved; built in one pass
// over the name column after a load or a scan.
//
// One byte per character: an ASCII character is itself (letters lower case); an ideograph
// whose readings all begin with one letter, one of them a syllable the catalogue holds often,
// is that syllable's code (the commonest such syllables in a sample of the rows get codes of
// their own, so that a search for one syllable tells them apart without reading the names);
// else an ideograph whose readings all lie in one class of syllables is that class's code (see
// pinyin_syllable_classes.h), else if they all begin with one letter that letter; one whose
// readings begin with several letters, or lie in several classes, is a code 0x80..0xFE: the
// commonest such mixes of classes in a sample of the rows get codes of their own first (as
// many as leave room for the sets of letters the sample holds and 8 more; the commonest
// syllables first), then the sets of
// letters as they first occur in this catalogue, or 0xFF with the set kept aside by position
// once 127 codes are taken; any other character is 0x01, which nothing typed
// matches. Each record's key ends with a 0 byte, so no match runs from one record into the
// next. Cost: one byte per character plus five per record.
#include "search/language/filter_source.h"
#include "search/language/large_allocator.h"

#include <QStringView>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace key_build {
struct mix_codes;
struct key_part;
} // namespace key_build

// Initials of every reading of `cp` as a mask (bit 0 = 'a'); 0 when it has no reading.
std::uint32_t pinyin_initials_of(char32_t cp);

class pinyin_key {
  public:
    // Keys of rows [0, rows) of the name column `names`; a null name has an empty key.
    // Parts of the rows are keyed on `threads` threads (0: every core, for large sets only).
    // With `initials` (the stored `pinyinma`, one unit per unit of the name), the same pass
    // finds whether the key covers them (see covers_initials).
    static pinyin_key build(const text_arena_view& names, std::uint32_t rows, unsigned threads = 0,
                            const text_arena_view* initials = nullptr);
    // A row's name (empty for a null one); called on several threads at once.
    using name_of_row = std::function<std::u16string_view(std::uint32_t row)>;
    // The same with the names given row by row.
    static pinyin_key build(const name_of_row& names, std::uint32_t rows, unsigned threads = 0,
                            const text_arena_view* initials = nullptr);
    std::uint32_t rows() const {
        return offsets_.empty() ? 0 : static_cast<std::uint32_t>(offsets_.size() - 1);
    }
    std::size_t memory_bytes() const;

    // Sets out[r - b] = 1 for every row r in [b, e) whose key holds `query` (a
    // pinyin_key_query result, not empty), a polyphone matching any of its letters.
    void contains(std::string_view query, std::uint32_t b, std::uint32_t e,
                  std::uint8_t* out) const;
    // The same rows themselves, in increasing order, into rows (room for e - b + 1);
    // answers how many.
    std::size_t contains_rows(std::string_view query, std::uint32_t b, std::uint32_t e,
                              std::uint32_t* rows) const;

    // The bytes described above, for searches built on the key: row r's characters are
    // bytes()[row_starts()[r] .. row_starts()[r + 1] - 1), followed by its 0.
    const std::uint8_t* bytes() const { return data_.data(); }
    const std::uint32_t* row_starts() const { return offsets_.data(); }
    // The letters a code byte (a class code or 0x80..0xFF) may stand for; 0xFF: every
    // letter; 0 for any other byte.
    std::uint32_t code_letters(std::uint8_t code) const { return code_letters_[code]; }
    // The syllables a byte may stand for: those of its classes (bit k: class k of
    // pinyin_syllable_classes.h), and every syllable of its other letters (a letter: itself).
    std::uint64_t code_classes(std::uint8_t code) const { return code_classes_[code]; }
    std::uint32_t code_other_letters(std::uint8_t code) const { return code_others_[code]; }

    // Whether a character keyed as `code` may read syllable `id` (see pinyin_syllable), and
    // whether every one does (the syllable's own code).
    bool may_read(std::uint8_t code, std::uint16_t id) const;
    bool always_reads(std::uint8_t code, std::uint16_t id) const {
        return code_syllable_[code] == id + 1u;
    }
    // Whether the character at `position` of bytes() matches letter `c` as an initial.
    bool letter_at(std::size_t position, char c) const {
        return byte_matches(position, static_cast<std::uint8_t>(c));
    }

    // Whether every printable ASCII character of every row's initials given to build() is
    // accepted by the key at the same character, so that a condition of printable ASCII that
    // matches the initials also matches the key. A row whose initials do not line up with
    // its name makes it false; so does a build without initials.
    bool covers_initials() const { return covers_initials_; }

  private:
    struct set_aside {
        std::uint32_t position;
        std::uint32_t letters;
    };
    bool byte_matches(std::size_t position, std::uint8_t c) const;
    // The steps of build: the codes every key has, and those a sample of the rows gets
    // (pinyin_key_codes.cpp); the rows keyed in parts and the parts joined (pinyin_key.cpp);
    // what each own code stands for once the rows are keyed (pinyin_key_codes.cpp); each
    // letter's set of bytes for the search (pinyin_key_search.cpp).
    void set_fixed_codes();
    key_build::mix_codes sample_codes(const name_of_row& names, std::uint32_t rows);
    void set_own_code_reads(const key_build::mix_codes& mixes,
                            const std::vector<key_build::key_part>& parts);
    void join_parts(const std::vector<key_build::key_part>& parts, unsigned first_local);
    void make_letter_sets();
    template <class Take>
    void scan(std::string_view query, std::uint32_t b, std::uint32_t e, Take&& take) const;

    // In huge pages, as the catalogue's texts: a search streams through all of it.
    large_vector<std::uint8_t> data_;
    large_vector<std::uint32_t> offsets_;           // rows + 1
    std::array<std::uint32_t, 256> code_letters_{}; // by byte
    std::array<std::uint64_t, 256> code_classes_{};
    std::array<std::uint32_t, 256> code_others_{};
    std::vector<set_aside> set_aside_;               // code 0xFF, by position
    std::array<std::uint16_t, 256> code_syllable_{}; // 1 + the syllable of its own code
    std::vector<std::uint8_t> syllable_code_;        // by syllable: its own code, or 0
    // The syllables the characters keyed as each code from 0x80 read in this catalogue, one
    // bit each, for the codes whose readings were noted (all but 0xFF).
    std::vector<std::array<std::uint64_t, 7>> code_reads_;
    std::array<bool, 256> exact_reads_{};
    // What each letter accepts, made once per key rather than once per search of a part.
    struct letter_sets;
    std::shared_ptr<const letter_sets> letter_sets_;
    bool covers_initials_ = false;
};

// What a typed text asks of the key: its characters folded to lower case, or empty when it
// holds a character no key byte can match (non-ASCII, control characters).
std::string pinyin_key_query(QStringView typed);
