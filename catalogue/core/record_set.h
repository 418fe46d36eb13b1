#pragma once
// The record set of the catalogue and of every grid that shows catalogue records.
//
// Rows are numbered from 1 within the visible store. A record is in exactly one of
// three stores: visible, hidden by the filter, or set aside. Setting a filter never
// touches set-aside records. Values live in a shared columnar storage; copying rows
// into another record set shares that storage instead of copying text, and copying every
// visible row shares the list of rows too (see row_list.h: no cost per row).
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/catalogue_values.h"
#include "catalogue/core/row_list.h"

#include <QString>
#include <QStringView>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

class background_readers;
class pinyin_key;
class record_storage;
struct filter_expr;

class record_set {
  public:
    record_set();
    ~record_set();
    record_set(const record_set&) = delete;
    record_set& operator=(const record_set&) = delete;

    // Removes every record of every store.
    void reset();
    // Appends an empty record (sourceid 0, every other column null); only 0 (= at the end)
    // is accepted as position. Returns the new row's number.
    long insertrow(long before_row = 0);
    // Appends a record whose values `fill` stores straight into the storage, at the id it is
    // given: for records added one by one in great numbers, one check for the record rather
    // than one per value. Returns the new row's number.
    long append_row(const std::function<void(record_storage&, std::uint32_t id)>& fill);
    // Bulk append: `fill` adds rows at the end of the storage; they become the last records,
    // in storage order (also those added before `fill` throws).
    void append_rows(const std::function<void(record_storage&)>& fill);
    // Room for many appends to come (the rows are not added).
    void reserve(std::size_t rows, std::size_t text_units);
    long rowcount() const;
    long filteredcount() const;
    long setasidecount() const;

    // Values. A row or column out of range is ignored by setters and reads as null.
    bool isnull(long row, int column) const;
    void set_null(long row, int column);
    void set_text(long row, int column, QStringView text); // cut to the column's length
    void set_long(long row, int column, std::int32_t value);
    void set_decimal(long row, int column, decimal2 value);
    void set_datetime(long row, int column, local_datetime value);
    // Stores a value given in its text form (as the catalogue file carries it).
    // False, and null stored, when the text is not a value of the column's type.
    bool setitem(long row, int column, QStringView text);

    std::optional<QString> get_text(long row, int column) const;
    std::optional<std::int32_t> get_long(long row, int column) const;
    std::optional<decimal2> get_decimal(long row, int column) const;
    std::optional<local_datetime> get_datetime(long row, int column) const;
    // The value's text form; empty for null.
    QString getitemstring(long row, int column) const;
    // The same two with the column named ("filepath", any case); an unknown name is out of
    // range.
    bool setitem(long row, QStringView column, QStringView text) {
        return setitem(row, catalogue_column_number(column), text);
    }
    QString getitemstring(long row, QStringView column) const {
        return getitemstring(row, catalogue_column_number(column));
    }

    // Filter language of the catalogue. setfilter returns 1, or -1 when the text does
    // not parse (the previous filter stays in force). filter() applies it.
    int setfilter(QStringView expression);
    int filter();
    QString filter_text() const { return filter_text_; }

    // Builds the in-memory pinyin search key of every record (see pinyin_key.h); after a load
    // or a scan, once the records are in.
    void build_pinyin_key();
    // The same on another thread, so a large catalogue is in use at once; a filter that
    // needs the key waits for it (await_pinyin_key), and so does any change of the records.
    void build_pinyin_key_in_background();
    void await_pinyin_key();
    // Runs `job` on another thread over the records as they are now (see background_readers.h).
    void read_in_background(
        std::function<void(const record_storage&, const std::atomic<bool>& stop)> job);
    // Waits for the key and for every reading job to complete.
    void finish_background_work();

    // Appends visible rows first..last to `target`, in order.
    void rowscopy(long first, long last, record_set& target) const;

    // Set-aside store: moves visible rows first..last to the set-aside store, before its
    // record 1; or set-aside rows first..last back, before visible record 1.
    void move_to_setaside(long first, long last);
    void move_from_setaside(long first, long last);

    // Views may want to wait while many records change; `on_change` runs after each
    // change while redraw is on, and once when redraw is switched back on.
    void setredraw(bool on);
    void set_change_listener(std::function<void()> on_change);

    // For readers and writers that walk many rows: the storage id of a visible row.
    std::uint32_t row_id(long row) const { return visible_[static_cast<std::size_t>(row - 1)]; }
    const record_storage& storage() const { return *storage_; }

  private:
    record_storage& writable_storage(std::uint32_t id);
    // Before the storage changes in place: no other thread may be reading it.
    void before_change_in_place();
    bool valid(long row, int column) const;
    void changed();

    std::shared_ptr<record_storage> storage_;
    row_list order_;                      // visible + filtered, catalogue order
    row_list visible_;                    // subset of order_, same order
    std::vector<std::uint32_t> setaside_; // set-aside order
    std::shared_ptr<const filter_expr> filter_;
    QString filter_text_;
    bool redraw_ = true;
    bool change_pending_ = false;
    std::function<void()> on_change_;
    // Declared last: ends before the storage it reads.
    std::future<std::shared_ptr<const pinyin_key>> pending_key_;
    const record_storage* pending_key_for_ = nullptr;
    std::unique_ptr<background_readers> readers_;
};
