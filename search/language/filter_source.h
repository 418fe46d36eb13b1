#pragma once
// What the filter evaluator needs to know of a table, without knowing the table:
// rows are numbered 0..row_count()-1 (storage order), columns 1..n by name.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// Length value that marks a null text in a text_arena_view.
inline constexpr std::uint16_t null_text_length = 0xFFFF;

// Texts of one column stored back to back. Row r's text is
// data[offsets[r] .. offsets[r] + lengths[r]), or null when lengths[r] == null_text_length.
// `ordered` promises that offsets never decrease in row order (null and empty texts
// included) and that no text begins before the one of the row before ends, so a hit of a
// search over the whole arena maps back to its one row.
struct text_arena_view {
    const char16_t* data = nullptr;
    std::size_t size = 0;
    const std::uint32_t* offsets = nullptr;
    const std::uint16_t* lengths = nullptr;
    bool ordered = false;
    // When given: narrow_unit of every unit of data, at the same index. A scan reads half the
    // memory there, and a literal of ASCII is decided there alone.
    const std::uint8_t* narrow = nullptr;
    // Promises, beside `ordered`, that each row's text ends where the next row's begins (null
    // and empty texts take no room), so a scan finds where a row ends without its length.
    bool gap_free = false;
};

// A unit as one byte: ASCII stays itself, any other unit becomes one of 128 codes above it,
// so equal units give equal bytes and an ASCII byte stands for its unit alone.
constexpr std::uint8_t narrow_unit(char16_t u) {
    return static_cast<std::uint8_t>(u < 0x80 ? u : 0x80 | ((u ^ (u >> 7)) & 0x7F));
}
void narrow_units(const char16_t* units, std::size_t n, std::uint8_t* out);

// A column whose rows hold small ids into a short list of distinct texts
// (extensions, folders). A predicate is decided once per distinct text.
struct text_dictionary_view {
    const std::uint32_t* ids = nullptr; // per row; null_id for null
    std::span<const QString> texts;
    static constexpr std::uint32_t null_id = 0xFFFFFFFFu;
};

class pinyin_key; // search/pinyin_key.h

struct column_access {
    enum class kind { arena, dictionary, generic, pinyin_key, pinyin_full };
    kind how = kind::generic;
    text_arena_view arena;
    text_dictionary_view dictionary;
    const pinyin_key* key = nullptr; // rows past its end have no key
    // pinyin_full: the text the key's row was made from (search/language/pinyin_full.h).
    std::function<std::u16string_view(std::uint32_t row)> key_names;
    // Optional: prefetches what key_names(row) will read, so that the cache misses of
    // several rows' look-ups overlap.
    std::function<void(std::uint32_t row)> key_names_ahead;
    // Any column: writes the row's value as text into `out`; false when the value is null.
    std::function<bool(std::uint32_t row, QString& out)> text_of;
};

class filter_source {
  public:
    virtual ~filter_source() = default;
    virtual std::uint32_t row_count() const = 0;
    // 1-based column number of a column name (case-insensitive), 0 when there is none.
    virtual int column_number(QStringView name) const = 0;
    virtual column_access access(int column) const = 0;
};
