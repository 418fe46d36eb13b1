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
#include "search/language/filter_source.h"
#include "search/language/large_allocator.h"
#include "search/language/pinyin_key.h"

#include <QHash>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Texts of one column back to back, in the order they were stored, with a byte per unit
// beside them for scans (one byte more per unit).
class text_arena_column {
    friend class catalogue_snapshot_io;

  public:
    void add_row();
    void set(std::uint32_t row, QStringView text);
    void set_null(std::uint32_t row);
    std::optional<QStringView> get(std::uint32_t row) const {
        const std::uint16_t n = lengths_[row];
        if (n == null_text_length) return std::nullopt;
        return QStringView(data_.data() + offsets_[row], n);
    }
    // Asks memory for what get(row) reads first.
    void prefetch(std::uint32_t row) const {
        __builtin_prefetch(lengths_.data() + row);
        __builtin_prefetch(offsets_.data() + row);
    }
    void reserve(std::size_t rows, std::size_t units);
    // Rewrites the arena in row order when edits broke that order.
    void make_ordered();
    text_arena_view view() const;
    void clear();
    std::size_t memory_bytes() const;
    // Rows of `other` after this column's rows, its texts after this arena's.
    void append(const text_arena_column& other);

  private:
    // The byte copy of data_ for text_arena_view::narrow, remade when it is read from elsewhere.
    void make_narrow();

    large_vector<char16_t> data_;
    large_vector<std::uint8_t> narrow_; // narrow_unit of each unit of data_
    large_vector<std::uint32_t> offsets_;
    large_vector<std::uint16_t> lengths_;
    std::uint32_t high_water_ = 0; // one past the highest row given a text
    bool ordered_ = true;
    bool gap_free_ = true; // see text_arena_view::gap_free
};

// Each row holds an id into a list of distinct texts.
class text_dictionary_column {
    friend class catalogue_snapshot_io;

  public:
    void add_row() { ids_.push_back(text_dictionary_view::null_id); }
    void reserve(std::size_t rows) { ids_.reserve(rows); }
    void set(std::uint32_t row, QStringView text) { ids_[row] = intern(text); }
    void set_null(std::uint32_t row) { ids_[row] = text_dictionary_view::null_id; }
    std::optional<QStringView> get(std::uint32_t row) const;
    std::uint32_t intern(QStringView text);
    text_dictionary_view view() const { return {ids_.data(), texts_}; }
    void clear();
    std::size_t memory_bytes() const;
    std::uint32_t id(std::uint32_t row) const { return ids_[row]; }
    const QString& text(std::uint32_t id) const { return texts_[id]; }
    // Rows of `other` after this column's rows, its texts interned here.
    void append(const text_dictionary_column& other);

  private:
    // A new distinct text; its id.
    std::uint32_t add_text(QString text);
    // The id of `text`, or null_id; `hash` is text_hash(text).
    std::uint32_t find(QStringView text, std::size_t hash) const;
    void place(std::uint32_t id);
    static std::size_t text_hash(QStringView text);

    large_vector<std::uint32_t> ids_;
    std::vector<QString> texts_;
    // Open addressing over the ids of texts_, a power of two long: a scan interns a text per
    // file, and a look-up by view allocates nothing.
    std::vector<std::uint32_t> slots_;
    std::uint32_t last_id_ = text_dictionary_view::null_id; // files of one folder come together
};

// Texts of a few rows out of many, each exactly as stored (empty included); a row without
// one reads as null. Replaced texts stay in the store until it is cleared.
class sparse_text_column {
    friend class catalogue_snapshot_io;

  public:
    void set(std::uint32_t row, QStringView text);
    void set_null(std::uint32_t row) { index_.remove(row); }
    std::optional<QStringView> get(std::uint32_t row) const;
    bool holds(std::uint32_t row) const { return index_.contains(row); }
    std::size_t size() const { return static_cast<std::size_t>(index_.size()); }
    void clear();
    std::size_t memory_bytes() const;
    // The texts of `other`, its row r becoming row `first_row` + r.
    void append(const sparse_text_column& other, std::uint32_t first_row);

  private:
    struct place {
        std::uint32_t offset;
        std::uint16_t length;
    };
    large_vector<char16_t> data_;
    QHash<std::uint32_t, place> index_;
};

// A text that is mostly the end of another column's text (the `whole`): a row keeps how
// many units are cut off the front of its whole, or its own text aside.
class suffix_text_column {
    friend class catalogue_snapshot_io;

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
    friend class catalogue_snapshot_io;

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

  private:
    text_dictionary_column folders_;
    large_vector<std::uint8_t> forms_;
    sparse_text_column names_;
};

class record_storage final : public filter_source {
    friend class catalogue_snapshot_io;

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
