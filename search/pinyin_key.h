#pragma once
// The second, in-memory pinyin search key of the catalogue, beside the stored `pinyinma`:
// for every record the initials of its name, where every ideograph of the generated table
// (Traditional and Simplified, basic block and extensions) stands for the initials of all
// its readings, and Latin letters are folded to lower case. Never saved; built in one pass
// over the name column after a load or a scan.
//
// Bytes: an ASCII character is itself (letters lower case); an ideograph whose readings all
// begin with one letter is that letter; one whose readings begin with several letters is two
// bytes, a lead 0xC0 | id >> 6 and a trail 0x80 | id & 63 naming a set of letters; any other
// character is 0x01, which nothing typed matches. Each record's key ends with a 0 byte, so
// no match runs from one record into the next. Cost: one byte per character (two for the
// few polyphones whose readings differ in their initial) plus five bytes per record.
#include "search/filter_source.h"

#include <QStringView>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The key's column in a filter ("pinyinkey like '%wdar%'"): after the catalogue's columns.
inline constexpr int col_pinyin_key = 10;
inline constexpr QStringView pinyin_key_column_name = u"pinyinkey";

class pinyin_key {
  public:
    // Keys of rows [0, rows) of the name column `names`; a null name has an empty key.
    static pinyin_key build(const text_arena_view& names, std::uint32_t rows);
    pinyin_key_view view() const;
    std::size_t memory_bytes() const;

  private:
    std::vector<std::uint8_t> data_;
    std::vector<std::uint32_t> offsets_; // rows + 1
};

// Appends the key bytes of `text`, without the closing 0.
void append_pinyin_key(QStringView text, std::vector<std::uint8_t>& out);

// What a typed text asks of the key: its characters folded to lower case, or empty when it
// holds a character no key byte can match (non-ASCII, control characters).
std::string pinyin_key_query(QStringView typed);

// Whether the key bytes at `key` begin with `query` (a pinyin_key_query result), each
// position of a polyphone matching any of its letters.
bool pinyin_key_starts_with(const std::uint8_t* key, std::string_view query);

// Sets out[r] = 1 for every row r in [b, e) whose key holds `query` (non-empty).
void pinyin_key_contains(const pinyin_key_view& key, std::string_view query, std::uint32_t b,
                         std::uint32_t e, std::uint8_t* out);
