#pragma once
// The text columns of the record storage (see record_storage.h): texts back to back in an
// arena, interned texts behind ids, and the few texts of a sparse column. Each writes itself
// to a snapshot and reads itself back, checked against the row count.
#include "catalogue/core/snapshot_stream.h"
#include "search/language/filter_source.h"
#include "search/language/large_allocator.h"

#include <QHash>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

// Texts of one column back to back, in the order they were stored, with a byte per unit
// beside them for scans (one byte more per unit).
class text_arena_column {
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
    void save(snapshot_writer& out) const;
    // Into an empty column, for `rows` rows; false when an offset or length points outside
    // the texts or the order claimed is not kept.
    bool load(snapshot_reader& in, std::size_t rows);

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
    void save(snapshot_writer& out) const;
    // Into an empty column; false when a row names no text or a text comes twice.
    bool load(snapshot_reader& in, std::size_t rows);

  private:
    // A new distinct text; its id. The table is kept at most half full (load factor 1/2), so
    // linear probing meets an empty slot within a few steps.
    std::uint32_t add_text(QString text);
    // The id of `text`, or null_id; `hash` is text_hash(text).
    std::uint32_t find(QStringView text, std::size_t hash) const;
    void place(std::uint32_t id);
    // 64-bit FNV-1a over the UTF-16 units, seeded with the length, high half folded in.
    static std::size_t text_hash(QStringView text);

    large_vector<std::uint32_t> ids_;
    std::vector<QString> texts_;
    // Hash table with open addressing and linear probing over the ids of texts_, a power of
    // two long: a scan interns a text per file, and a look-up by view allocates nothing.
    std::vector<std::uint32_t> slots_;
    std::uint32_t last_id_ = text_dictionary_view::null_id; // files of one folder come together
};

// Texts of a few rows out of many, each exactly as stored (empty included); a row without
// one reads as null. Replaced texts stay in the store until it is cleared.
class sparse_text_column {
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
    // In row order: the same records give the same bytes whatever order the hash keeps.
    void save(snapshot_writer& out) const;
    // Into an empty column; false for a row out of `rows`, a row twice or a text outside
    // the store.
    bool load(snapshot_reader& in, std::size_t rows);
    // Calls f(row) for every row that has a text, in no order.
    template <typename F> void for_each_row(F&& f) const {
        for (auto it = index_.keyBegin(); it != index_.keyEnd(); ++it) f(*it);
    }

  private:
    struct place {
        std::uint32_t offset;
        std::uint16_t length;
    };
    large_vector<char16_t> data_;
    QHash<std::uint32_t, place> index_;
};
