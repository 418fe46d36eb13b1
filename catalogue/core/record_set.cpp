#include "catalogue/core/record_set.h"

#include "catalogue/core/background_readers.h"
#include "catalogue/core/record_storage.h"
#include "search/language/filter_evaluator.h"
#include "search/language/filter_expr.h"
#include "search/language/filter_language.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_key.h"

#include <algorithm>

record_set::record_set()
    : storage_(std::make_shared<record_storage>()),
      readers_(std::make_unique<background_readers>()) {}

record_set::~record_set() {
    before_change_in_place();
}

void record_set::build_pinyin_key() {
    before_change_in_place();
    storage_->build_pinyin_key();
}

void record_set::build_pinyin_key_in_background() {
    await_pinyin_key();
    std::shared_ptr<const record_storage> reading = storage_;
    pending_key_for_ = reading.get();
    pending_key_ = std::async(std::launch::async, [reading] { return reading->make_pinyin_key(); });
}

void record_set::await_pinyin_key() {
    if (!pending_key_.valid()) return;
    std::shared_ptr<const pinyin_key> key = pending_key_.get();
    // Made for records that a reset has replaced since: of no use.
    if (pending_key_for_ == storage_.get()) storage_->install_pinyin_key(std::move(key));
    pending_key_for_ = nullptr;
}

void record_set::read_in_background(
    std::function<void(const record_storage&, const std::atomic<bool>&)> job) {
    readers_->start([reading = std::shared_ptr<const record_storage>(storage_),
                     job = std::move(job)](const std::atomic<bool>& stop) { job(*reading, stop); });
}

void record_set::finish_background_work() {
    await_pinyin_key();
    readers_->wait();
}

void record_set::before_change_in_place() {
    await_pinyin_key();
    readers_->finish();
}

void record_set::reset() {
    before_change_in_place();
    // Another record set may still show these rows: leave them to it.
    if (storage_.use_count() == 1)
        storage_->clear();
    else
        storage_ = std::make_shared<record_storage>();
    order_.clear();
    visible_.clear();
    setaside_.clear();
    changed();
}

long record_set::insertrow(long before_row) {
    if (before_row != 0) return -1;
    return append_row([](record_storage&, std::uint32_t) {});
}

long record_set::append_row(const std::function<void(record_storage&, std::uint32_t)>& fill) {
    before_change_in_place();
    const std::uint32_t id = storage_->add_row();
    order_.push_back(id);
    visible_.push_back(id);
    fill(*storage_, id);
    changed();
    return static_cast<long>(visible_.size());
}

void record_set::append_rows(const std::function<void(record_storage&)>& fill) {
    before_change_in_place();
    const std::uint32_t first = storage_->rows();
    auto adopt = [&] {
        order_.reserve(order_.size() + (storage_->rows() - first));
        visible_.reserve(visible_.size() + (storage_->rows() - first));
        for (std::uint32_t id = first; id < storage_->rows(); ++id) {
            order_.push_back(id);
            visible_.push_back(id);
        }
        changed();
    };
    try {
        fill(*storage_);
    } catch (...) {
        adopt();
        throw;
    }
    adopt();
}

void record_set::reserve(std::size_t rows, std::size_t text_units) {
    before_change_in_place();
    storage_->reserve(rows, text_units);
    order_.reserve(order_.size() + rows);
    visible_.reserve(visible_.size() + rows);
}

long record_set::rowcount() const {
    return static_cast<long>(visible_.size());
}
long record_set::filteredcount() const {
    return static_cast<long>(order_.size() - visible_.size());
}
long record_set::setasidecount() const {
    return static_cast<long>(setaside_.size());
}

bool record_set::valid(long row, int column) const {
    return row >= 1 && row <= rowcount() && is_catalogue_column(column);
}

record_storage& record_set::writable_storage(std::uint32_t id) {
    before_change_in_place();
    // Rows shared with another record set are copied before they change.
    if (storage_.use_count() > 1 && id < storage_->shared_rows) {
        storage_ = std::make_shared<record_storage>(*storage_);
        storage_->shared_rows = 0;
    }
    return *storage_;
}

bool record_set::isnull(long row, int column) const {
    return !valid(row, column) || storage_->isnull(row_id(row), column);
}

void record_set::set_null(long row, int column) {
    if (!valid(row, column)) return;
    const auto id = row_id(row);
    writable_storage(id).set_null(id, column);
    changed();
}

void record_set::set_text(long row, int column, QStringView text) {
    if (!valid(row, column)) return;
    const auto id = row_id(row);
    writable_storage(id).set_text(id, column, text);
    changed();
}

void record_set::set_long(long row, int column, std::int32_t value) {
    if (!valid(row, column)) return;
    const auto id = row_id(row);
    writable_storage(id).set_long(id, column, value);
    changed();
}

void record_set::set_decimal(long row, int column, decimal2 value) {
    if (!valid(row, column)) return;
    const auto id = row_id(row);
    writable_storage(id).set_decimal(id, column, value);
    changed();
}

void record_set::set_datetime(long row, int column, local_datetime value) {
    if (!valid(row, column)) return;
    const auto id = row_id(row);
    writable_storage(id).set_datetime(id, column, value);
    changed();
}

bool record_set::setitem(long row, int column, QStringView text) {
    if (!valid(row, column)) return false;
    switch (catalogue_column_info(column).type) {
    case column_type::text:
        set_text(row, column, text);
        return true;
    case column_type::long_number:
        if (const auto v = parse_long(text)) {
            set_long(row, column, *v);
            return true;
        }
        break;
    case column_type::decimal2:
        if (const auto v = parse_decimal2(text)) {
            set_decimal(row, column, *v);
            return true;
        }
        break;
    case column_type::datetime:
        if (const auto v = parse_local_datetime(text)) {
            set_datetime(row, column, *v);
            return true;
        }
        break;
    }
    set_null(row, column);
    return false;
}

std::optional<QString> record_set::get_text(long row, int column) const {
    if (!valid(row, column)) return std::nullopt;
    return storage_->get_text(row_id(row), column);
}

std::optional<std::int32_t> record_set::get_long(long row, int column) const {
    if (!valid(row, column)) return std::nullopt;
    return storage_->get_long(row_id(row), column);
}

std::optional<decimal2> record_set::get_decimal(long row, int column) const {
    if (!valid(row, column)) return std::nullopt;
    return storage_->get_decimal(row_id(row), column);
}

std::optional<local_datetime> record_set::get_datetime(long row, int column) const {
    if (!valid(row, column)) return std::nullopt;
    return storage_->get_datetime(row_id(row), column);
}

QString record_set::getitemstring(long row, int column) const {
    QString out;
    if (valid(row, column)) storage_->text_form(row_id(row), column, out);
    return out;
}

int record_set::setfilter(QStringView expression) {
    auto parsed = parse_filter(expression, *storage_);
    if (!parsed) return -1;
    filter_ = std::move(parsed);
    filter_text_ = expression.toString();
    return 1;
}

int record_set::filter() {
    if (!filter_ || filter_text_.trimmed().isEmpty()) {
        visible_ = order_;
    } else {
        if (std::any_of(filter_->terms.begin(), filter_->terms.end(), [](const filter_term& t) {
                return t.column == col_pinyin_key || t.column == col_pinyin_full;
            }))
            await_pinyin_key();
        // A freshly loaded catalogue is in order already: nothing changes under a reader.
        storage_->prepare_for_search();
        if (order_.is_identity() && order_.size() == storage_->rows()) {
            visible_ = row_list(filter_passing_rows(*filter_, *storage_, 0));
        } else {
            const std::vector<std::uint8_t> pass = evaluate_filter(*filter_, *storage_);
            std::vector<std::uint32_t> ids;
            for (std::size_t i = 0; i < order_.size(); ++i)
                if (pass[order_[i]]) ids.push_back(order_[i]);
            visible_ = row_list(std::move(ids));
        }
    }
    changed();
    return 1;
}

void record_set::rowscopy(long first, long last, record_set& target) const {
    first = std::max(first, 1L);
    last = std::min(last, rowcount());
    if (first > last) return;
    if (target.storage_ == storage_ || target.storage_->rows() == 0) {
        // Share the values and, when it is all of it, the list of ids too.
        target.storage_ = storage_;
        storage_->shared_rows = storage_->rows();
        const row_list ids =
            visible_.slice(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last));
        target.order_.append(ids);
        target.visible_.append(ids);
    } else {
        QString text;
        for (long r = first; r <= last; ++r) {
            const std::uint32_t id = row_id(r);
            const long row = target.insertrow(0);
            for (const auto& c : catalogue_columns) {
                if (storage_->text_form(id, c.number, text))
                    target.setitem(row, c.number, text);
                else
                    target.set_null(row, c.number);
            }
        }
    }
    target.changed();
}

namespace {
// Removes the ids of `moving` from `from`, keeping the order of the rest.
void remove_ids(std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& moving,
                std::uint32_t id_count) {
    std::vector<std::uint8_t> gone(id_count, 0);
    for (const auto id : moving) gone[id] = 1;
    std::erase_if(from, [&](std::uint32_t id) { return gone[id] != 0; });
}
} // namespace

void record_set::move_to_setaside(long first, long last) {
    first = std::max(first, 1L);
    last = std::min(last, rowcount());
    if (first > last) return;
    std::vector<std::uint32_t>& visible = visible_.writable();
    const std::vector<std::uint32_t> moving(visible.begin() + (first - 1), visible.begin() + last);
    visible.erase(visible.begin() + (first - 1), visible.begin() + last);
    remove_ids(order_.writable(), moving, storage_->rows());
    setaside_.insert(setaside_.begin(), moving.begin(), moving.end());
    changed();
}

void record_set::move_from_setaside(long first, long last) {
    first = std::max(first, 1L);
    last = std::min(last, setasidecount());
    if (first > last) return;
    const std::vector<std::uint32_t> moving(setaside_.begin() + (first - 1),
                                            setaside_.begin() + last);
    setaside_.erase(setaside_.begin() + (first - 1), setaside_.begin() + last);
    std::vector<std::uint32_t>& visible = visible_.writable();
    visible.insert(visible.begin(), moving.begin(), moving.end());
    std::vector<std::uint32_t>& order = order_.writable();
    order.insert(order.begin(), moving.begin(), moving.end());
    changed();
}

void record_set::setredraw(bool on) {
    redraw_ = on;
    if (on && change_pending_) changed();
}

void record_set::set_change_listener(std::function<void()> on_change) {
    on_change_ = std::move(on_change);
}

void record_set::changed() {
    if (!redraw_ || !on_change_) {
        change_pending_ = true;
        return;
    }
    change_pending_ = false;
    on_change_();
}
