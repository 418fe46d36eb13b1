#pragma once
// Columnar storage of catalogue records: fixed-width columns in arrays, texts in
// contiguous UTF-16 arenas, repeated texts (extensions, folders) interned.
// Rows are addressed by storage id; the record set keeps the order.
//
// Two texts are mostly not stored at all, since a scan makes them from others: `filename`
// is the end of `filenamewithno` (one byte per row says how much is cut off the front),
// and the name at the end of `filepath` is `filenamewithno` and `fileext` joined (one byte
// per row says how). Whether a value may be made so is decided by exact comparison when it
// is stored; any other value (from a hand-edited catalogue, a null, a name too unlike its
// parts) is kept whole in a sparse side store, so every read gives back exactly what was
// stored.
// Changing `filenamewithno` or `fileext` first keeps the values made from them whole.
// Cost after a scan or load: about 2 bytes per record for both texts.
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/catalogue_values.h"
#include "catalogue/core/name_columns.h"
#include "catalogue/core/snapshot_stream.h"
#include "catalogue/core/text_columns.h"
#include "search/language/filter_source.h"
#include "search/language/large_allocator.h"
#include "search/language/pinyin_key.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <optional>

class record_storage final : public filter_source {
  public:
    std::uint32_t add_row(); // sourceid 0, everything else null
    // Room for `rows` more records holding about `text_units` of text in all; memory that
    // is reserved but never written costs address space only.
    void reserve(std::size_t rows, std::size_t text_units);
    std::uint32_t rows() const { return static_cast<std::uint32_t>(null_mask_.size()); }
    void clear();
    // Every row of `other` after the last row here, in its order (loaders fill parts of a
    // catalogue on several threads and join them).
    void append(const record_storage& other);

    bool isnull(std::uint32_t row, int column) const;
    void set_null(std::uint32_t row, int column);
    void set_text(std::uint32_t row, int column, QStringView text);
    void set_long(std::uint32_t row, int column, std::int32_t value);
    void set_decimal(std::uint32_t row, int column, decimal2 value);
    void set_datetime(std::uint32_t row, int column, local_datetime value);

    std::optional<QString> get_text(std::uint32_t row, int column) const;
    // Texts other than the path are read without copying; valid until the next write
    // (also a prepare_for_search).
    std::optional<QStringView> get_text_view(std::uint32_t row, int column) const;
    std::optional<std::int32_t> get_long(std::uint32_t row, int column) const;
    std::optional<decimal2> get_decimal(std::uint32_t row, int column) const;
    std::optional<local_datetime> get_datetime(std::uint32_t row, int column) const;
    // `filesizedec` in cents, 0 for null: inline for sums over millions of rows.
    std::int64_t size_cents(std::uint32_t row) const {
        return fixed_null(row, col_filesizedec) ? 0 : filesizedec_[row];
    }
    // The value's text form into `out` (cleared first); false for null.
    bool text_form(std::uint32_t row, int column, QString& out) const;

    // Rows whose ids are below this were shared with another record set by a copy.
    std::uint32_t shared_rows = 0;

    // Every column to a snapshot, and back into an empty storage: false (what was read left
    // for the caller to clear) when a column points outside its store or a row makes a text
    // from parts that are not there.
    void save(snapshot_writer& out) const;
    bool load(snapshot_reader& in);

    // Before a search: arenas in row order so one pass finds every hit.
    void prepare_for_search();
    std::size_t memory_bytes() const;

    // The pinyin search key of every row there is now, from the name column; a filter names
    // it "pinyinkey", and "pinyinfull" with full pinyin. Rows added later have none until the
    // next call.
    void build_pinyin_key() { install_pinyin_key(make_pinyin_key()); }
    // The two halves of that, for a key made on another thread while nothing changes here.
    std::shared_ptr<const pinyin_key> make_pinyin_key() const;
    void install_pinyin_key(std::shared_ptr<const pinyin_key> key);
    // The text of a row the key is made from.
    pinyin_key::name_of_row pinyin_key_names() const;
    std::size_t pinyin_key_bytes() const { return pinyin_key_ ? pinyin_key_->memory_bytes() : 0; }
    // True while the key covers every row and finds whatever the stored initials find, so a
    // pinyin condition needs to search the key alone.
    bool pinyin_key_answers_alone() const {
        return pinyin_key_ && pinyin_key_covers_initials_ && pinyin_key_->rows() == rows();
    }

    // filter_source
    std::uint32_t row_count() const override { return rows(); }
    int column_number(QStringView name) const override;
    column_access access(int column) const override;

  private:
    text_arena_column* arena(int column);
    const text_arena_column* arena(int column) const;
    name_parts parts_of(std::uint32_t row) const {
        return {filenamewithno_.get(row), fileext_.get(row)};
    }
    // Keeps whole what is made from `column` of `row`, before `column` changes.
    void keep_dependents(std::uint32_t row, int column);
    bool fixed_null(std::uint32_t row, int column) const {
        return (null_mask_[row] >> column) & 1u;
    }
    void set_fixed_null(std::uint32_t row, int column, bool null);

    large_vector<std::uint16_t> null_mask_; // bit n: fixed-width column n is null
    large_vector<std::int32_t> machineid_;
    large_vector<std::int32_t> sourceid_;
    large_vector<std::int64_t> createdate_;
    large_vector<std::int64_t> filesizedec_;
    suffix_text_column filename_; // of filenamewithno_
    text_arena_column pinyinma_;
    text_arena_column filenamewithno_;
    text_dictionary_column fileext_;
    path_column filepath_;
    std::shared_ptr<const pinyin_key> pinyin_key_;
    bool pinyin_key_covers_initials_ = false;
};
