#include "catalogue/core/record_storage.h"

#include "app/shell/run_parts.h"
#include "search/language/pinyin_full.h"

#include <limits>
#include <stdexcept>
#include <utility>

std::uint32_t record_storage::add_row() {
    const auto id = rows();
    if (id == std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::length_error("catalogue full");
    null_mask_.push_back(static_cast<std::uint16_t>((1u << col_machineid) | (1u << col_createdate) |
                                                    (1u << col_filesizedec)));
    machineid_.push_back(0);
    sourceid_.push_back(0);
    createdate_.push_back(0);
    filesizedec_.push_back(0);
    filename_.add_row();
    pinyinma_.add_row();
    filenamewithno_.add_row();
    fileext_.add_row();
    filepath_.add_row();
    return id;
}

void record_storage::reserve(std::size_t rows, std::size_t text_units) {
    const std::size_t n = null_mask_.size() + rows;
    null_mask_.reserve(n);
    machineid_.reserve(n);
    sourceid_.reserve(n);
    createdate_.reserve(n);
    filesizedec_.reserve(n);
    fileext_.reserve(n);
    // Any one text column holds at most all of the text.
    filename_.reserve(rows);
    pinyinma_.reserve(rows, text_units);
    filenamewithno_.reserve(rows, text_units);
    filepath_.reserve(rows);
}

void record_storage::append(const record_storage& other) {
    if (std::size_t{rows()} + other.rows() >= std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::length_error("catalogue full");
    auto join = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
    // Two halves of about the same size, on two threads for many rows: the copy goes to fresh
    // memory, and the system's work of handing out pages is most of its cost.
    auto numbers_and_initials = [&] {
        join(null_mask_, other.null_mask_);
        join(machineid_, other.machineid_);
        join(sourceid_, other.sourceid_);
        join(createdate_, other.createdate_);
        join(filesizedec_, other.filesizedec_);
        filename_.append(other.filename_);
        pinyinma_.append(other.pinyinma_);
    };
    auto names_and_paths = [&] {
        filenamewithno_.append(other.filenamewithno_);
        fileext_.append(other.fileext_);
        filepath_.append(other.filepath_);
    };
    // A thread's start and join take about 40 µs, the time one thread copies some hundreds
    // of rows: fewer go on one thread.
    constexpr std::uint32_t parallel_rows = 512;
    const unsigned halves = other.rows() < parallel_rows ? 1 : 2;
    run_parts(2u, halves, [&](unsigned, unsigned from, unsigned to) {
        for (unsigned half = from; half < to; ++half)
            half == 0 ? names_and_paths() : numbers_and_initials();
    });
}

void record_storage::save(snapshot_writer& out) const {
    out.array(null_mask_);
    out.array(machineid_);
    out.array(sourceid_);
    out.array(createdate_);
    out.array(filesizedec_);
    pinyinma_.save(out);
    filenamewithno_.save(out);
    fileext_.save(out);
    filename_.save(out);
    filepath_.save(out);
}

bool record_storage::load(snapshot_reader& in) {
    // What every row takes at the least: its null mask, numbers and date, the offset and
    // length of two arena texts, two dictionary ids, a cut and a path form.
    constexpr std::size_t least_row_bytes = 2 + 4 + 4 + 8 + 8 + 2 * (4 + 2) + 2 * 4 + 1 + 1;
    if (!in.array(null_mask_, snapshot_reader::any, std::uint64_t(-1), least_row_bytes))
        return false;
    const std::size_t n = null_mask_.size();
    if (!in.array(machineid_, n) || !in.array(sourceid_, n) || !in.array(createdate_, n) ||
        !in.array(filesizedec_, n) || !pinyinma_.load(in, n) || !filenamewithno_.load(in, n) ||
        !fileext_.load(in, n) || !filename_.load(in, n) || !filepath_.load(in, n))
        return false;
    // A row that makes a text from other columns has them.
    for (std::uint32_t r = 0; r < rows(); ++r) {
        const bool cut = filename_.made_from_whole(r);
        const bool made = filepath_.name_made_from_parts(r);
        if (!cut && !made) continue;
        const auto whole = filenamewithno_.get(r);
        if (!whole || (cut && !filename_.fits(r, *whole)) || (made && !fileext_.get(r)))
            return false;
    }
    return true;
}

void record_storage::clear() {
    null_mask_.clear();
    machineid_.clear();
    sourceid_.clear();
    createdate_.clear();
    filesizedec_.clear();
    filename_.clear();
    pinyinma_.clear();
    filenamewithno_.clear();
    fileext_.clear();
    filepath_.clear();
    pinyin_key_.reset();
    shared_rows = 0;
}

text_arena_column* record_storage::arena(int column) {
    return const_cast<text_arena_column*>(std::as_const(*this).arena(column));
}

const text_arena_column* record_storage::arena(int column) const {
    switch (column) {
    case col_pinyinma:
        return &pinyinma_;
    case col_filenamewithno:
        return &filenamewithno_;
    default:
        return nullptr;
    }
}

void record_storage::set_fixed_null(std::uint32_t row, int column, bool null) {
    const auto bit = static_cast<std::uint16_t>(1u << column);
    null_mask_[row] =
        static_cast<std::uint16_t>(null ? (null_mask_[row] | bit) : (null_mask_[row] & ~bit));
}

bool record_storage::isnull(std::uint32_t row, int column) const {
    switch (catalogue_column_info(column).type) {
    case column_type::text: {
        if (column == col_filepath) return filepath_.is_null(row);
        return !get_text_view(row, column);
    }
    default:
        return fixed_null(row, column);
    }
}

void record_storage::keep_dependents(std::uint32_t row, int column) {
    if (column == col_filenamewithno) filename_.keep(row, filenamewithno_.get(row));
    if (column == col_filenamewithno || column == col_fileext)
        filepath_.keep_name(row, parts_of(row));
}

void record_storage::set_null(std::uint32_t row, int column) {
    keep_dependents(row, column);
    if (column == col_filename) return filename_.set_null(row);
    if (column == col_fileext) return fileext_.set_null(row);
    if (column == col_filepath) return filepath_.set_null(row);
    if (auto* a = arena(column)) return a->set_null(row);
    set_fixed_null(row, column, true);
}

void record_storage::set_text(std::uint32_t row, int column, QStringView text) {
    const column_info& info = catalogue_column_info(column);
    if (info.type != column_type::text) return;
    text = text.left(info.max_length);
    keep_dependents(row, column);
    if (column == col_filename) return filename_.set(row, text, filenamewithno_.get(row));
    if (column == col_fileext) return fileext_.set(row, text);
    if (column == col_filepath) return filepath_.set(row, text, parts_of(row));
    arena(column)->set(row, text);
}

void record_storage::set_long(std::uint32_t row, int column, std::int32_t value) {
    if (column == col_machineid)
        machineid_[row] = value;
    else if (column == col_sourceid)
        sourceid_[row] = value;
    else
        return;
    set_fixed_null(row, column, false);
}

void record_storage::set_decimal(std::uint32_t row, int column, decimal2 value) {
    if (column != col_filesizedec) return;
    filesizedec_[row] = value.cents;
    set_fixed_null(row, column, false);
}

void record_storage::set_datetime(std::uint32_t row, int column, local_datetime value) {
    if (column != col_createdate) return;
    createdate_[row] = value.seconds;
    set_fixed_null(row, column, false);
}

std::optional<QStringView> record_storage::get_text_view(std::uint32_t row, int column) const {
    if (column == col_fileext) return fileext_.get(row);
    if (column == col_filename) return filename_.get(row, filenamewithno_.get(row));
    if (const auto* a = arena(column)) return a->get(row);
    return std::nullopt;
}

std::optional<QString> record_storage::get_text(std::uint32_t row, int column) const {
    if (column == col_filepath) return filepath_.get(row, parts_of(row));
    if (const auto v = get_text_view(row, column)) return v->toString();
    return std::nullopt;
}

std::optional<std::int32_t> record_storage::get_long(std::uint32_t row, int column) const {
    if (column != col_machineid && column != col_sourceid) return std::nullopt;
    if (fixed_null(row, column)) return std::nullopt;
    return column == col_machineid ? machineid_[row] : sourceid_[row];
}

std::optional<decimal2> record_storage::get_decimal(std::uint32_t row, int column) const {
    if (column != col_filesizedec || fixed_null(row, column)) return std::nullopt;
    return decimal2{filesizedec_[row]};
}

std::optional<local_datetime> record_storage::get_datetime(std::uint32_t row, int column) const {
    if (column != col_createdate || fixed_null(row, column)) return std::nullopt;
    return local_datetime{createdate_[row]};
}

bool record_storage::text_form(std::uint32_t row, int column, QString& out) const {
    out.clear();
    switch (catalogue_column_info(column).type) {
    case column_type::text:
        if (column == col_filepath) return filepath_.get_into(row, out, parts_of(row));
        if (const auto v = get_text_view(row, column)) {
            out.append(*v);
            return true;
        }
        return false;
    case column_type::long_number:
        if (const auto v = get_long(row, column)) {
            out.setNum(*v);
            return true;
        }
        return false;
    case column_type::decimal2:
        if (const auto v = get_decimal(row, column)) {
            out = to_text(*v);
            return true;
        }
        return false;
    case column_type::datetime:
        if (const auto v = get_datetime(row, column)) {
            out = to_text(*v);
            return true;
        }
        return false;
    }
    return false;
}

void record_storage::prepare_for_search() {
    pinyinma_.make_ordered();
    filenamewithno_.make_ordered();
}

std::size_t record_storage::memory_bytes() const {
    return null_mask_.capacity() * 2 + machineid_.capacity() * 4 + sourceid_.capacity() * 4 +
           createdate_.capacity() * 8 + filesizedec_.capacity() * 8 + filename_.memory_bytes() +
           pinyinma_.memory_bytes() + filenamewithno_.memory_bytes() + fileext_.memory_bytes() +
           filepath_.memory_bytes();
}

int record_storage::column_number(QStringView name) const {
    if (name.compare(pinyin_key_column_name, Qt::CaseInsensitive) == 0) return col_pinyin_key;
    if (name.compare(pinyin_full_column_name, Qt::CaseInsensitive) == 0) return col_pinyin_full;
    return catalogue_column_number(name);
}

pinyin_key::name_of_row record_storage::pinyin_key_names() const {
    return [this](std::uint32_t row) {
        const auto v = filename_.get(row, filenamewithno_.get(row));
        return v ? std::u16string_view(v->utf16(), static_cast<std::size_t>(v->size()))
                 : std::u16string_view();
    };
}

std::shared_ptr<const pinyin_key> record_storage::make_pinyin_key() const {
    const text_arena_view initials = pinyinma_.view();
    return std::make_shared<const pinyin_key>(
        pinyin_key::build(pinyin_key_names(), rows(), 0, &initials));
}

void record_storage::install_pinyin_key(std::shared_ptr<const pinyin_key> key) {
    pinyin_key_ = std::move(key);
    pinyin_key_covers_initials_ = pinyin_key_ && pinyin_key_->covers_initials();
}

column_access record_storage::access(int column) const {
    column_access a;
    if (column == col_pinyin_key || column == col_pinyin_full) {
        a.key = pinyin_key_.get();
        if (column == col_pinyin_key) {
            a.how = column_access::kind::pinyin_key;
        } else {
            a.how = column_access::kind::pinyin_full;
            a.key_names = pinyin_key_names();
            a.key_names_ahead = [this](std::uint32_t row) {
                filenamewithno_.prefetch(row);
                filename_.prefetch(row);
            };
        }
        return a;
    }
    if (const auto* ar = arena(column)) {
        a.how = column_access::kind::arena;
        a.arena = ar->view();
    } else if (column == col_fileext) {
        a.how = column_access::kind::dictionary;
        a.dictionary = fileext_.view();
    }
    a.text_of = [this, column](std::uint32_t row, QString& out) {
        return text_form(row, column, out);
    };
    return a;
}
