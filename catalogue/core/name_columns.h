#pragma once
// The two record columns that are mostly made from others rather than stored (see
// record_storage.h): the file name from the end of `filenamewithno`, and the path's name
// from `filenamewithno` and `fileext`.
#include "catalogue/core/text_columns.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// A text that is mostly the end of another column's text (the `whole`): a row keeps how
// many units are cut off the front of its whole, or its own text aside.
class suffix_text_column {
  public:
    static constexpr std::uint8_t kept = 0xFF; // the row's text is kept aside (or null)

    void add_row() { cuts_.push_back(kept); }
    void reserve(std::size_t rows) { cuts_.reserve(cuts_.size() + rows); }
    void set(std::uint32_t row, QStringView text, const std::optional<QStringView>& whole);
    void set_null(std::uint32_t row);
    std::optional<QStringView> get(std::uint32_t row,
                                   const std::optional<QStringView>& whole) const;
    void prefetch(std::uint32_t row) const { __builtin_prefetch(cuts_.data() + row); }
    bool made_from_whole(std::uint32_t row) const { return cuts_[row] != kept; }
    // Before the whole changes: the row's text kept as it is.
    void keep(std::uint32_t row, const std::optional<QStringView>& whole);
    void clear();
    std::size_t memory_bytes() const;
    void append(const suffix_text_column& other);
    // The cut of a row made from its whole fits in `whole`.
    bool fits(std::uint32_t row, QStringView whole) const { return cuts_[row] <= whole.size(); }
    void save(snapshot_writer& out) const;
    // Into an empty column; false when a row both is made and keeps a text.
    bool load(snapshot_reader& in, std::size_t rows);

  private:
    large_vector<std::uint8_t> cuts_;
    sparse_text_column aside_;
};

// The parts a path's name is mostly made of: the record's `filenamewithno` and `fileext`.
struct name_parts {
    std::optional<QStringView> base;
    std::optional<QStringView> ext;
};

// A path as interned folder (up to and including the last separator) plus the file's name,
// which a row either makes from its name_parts (how, in one byte) or keeps aside.
class path_column {
  public:
    // How a row's name is made; name_kept: aside, or none when the path is null.
    enum name_form : std::uint8_t {
        name_kept = 0,
        name_joined = 1,   // base + ext
        ext_capitals = 2,  // with the extension's ASCII letters in capitals
        native_marked = 4, // behind the mark of a name read as GB18030
    };
    static constexpr std::uint8_t every_form_bit = name_joined | ext_capitals | native_marked;

    void add_row();
    void reserve(std::size_t rows);
    void set(std::uint32_t row, QStringView path, const name_parts& parts);
    void set_null(std::uint32_t row);
    bool is_null(std::uint32_t row) const { return !folders_.get(row); }
    std::optional<QString> get(std::uint32_t row, const name_parts& parts) const;
    bool get_into(std::uint32_t row, QString& out, const name_parts& parts) const;
    bool name_made_from_parts(std::uint32_t row) const { return forms_[row] != name_kept; }
    // Before a part changes: the row's name kept as it is.
    void keep_name(std::uint32_t row, const name_parts& parts);
    void clear();
    std::size_t memory_bytes() const;
    void append(const path_column& other);
    void save(snapshot_writer& out) const;
    // Into an empty column; false when a row's form is none there is, or a row both makes
    // its name and keeps one, or keeps one without a folder.
    bool load(snapshot_reader& in, std::size_t rows);

  private:
    text_dictionary_column folders_;
    large_vector<std::uint8_t> forms_;
    sparse_text_column names_;
};
