#include "catalogue/catalogue_file.h"

#include "catalogue/record_set.h"
#include "catalogue/record_storage.h"
#include "catalogue/text_table_reader.h"
#include "catalogue/text_table_writer.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <bit>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Longest line a record can have: every text at its column's length, numbers and a date.
constexpr std::int64_t longest_record_units = 300 * 3 + 20 + 1024 + 19 + 3 * 24 + 8;

// Stores a line as the last record of `storage`, its values read once; a line that is no
// record (wrong field count, a value not of its column's type, NUL or broken UTF-16, a text
// longer than its column) stores nothing and answers false.
bool store_record(record_storage& storage, std::span<const QStringView> f,
                  const text_line_info& info) {
    if (info.has_nul || info.has_lone_surrogate ||
        f.size() != static_cast<std::size_t>(catalogue_column_count))
        return false;
    auto field = [&](int column) { return f[static_cast<std::size_t>(column - 1)]; };
    for (const auto& c : catalogue_columns)
        if (c.type == column_type::text && field(c.number).size() > c.max_length) return false;
    // Empty numbers and dates stay null.
    std::optional<std::int32_t> machineid, sourceid;
    std::optional<decimal2> size;
    std::optional<local_datetime> created;
    if (!field(col_machineid).isEmpty() && !(machineid = parse_long(field(col_machineid))))
        return false;
    if (!field(col_sourceid).isEmpty() && !(sourceid = parse_long(field(col_sourceid))))
        return false;
    if (!field(col_filesizedec).isEmpty() && !(size = parse_decimal2(field(col_filesizedec))))
        return false;
    if (!field(col_createdate).isEmpty() &&
        !(created = parse_local_datetime(field(col_createdate))))
        return false;
    const std::uint32_t row = storage.add_row();
    if (machineid) storage.set_long(row, col_machineid, *machineid);
    if (sourceid) storage.set_long(row, col_sourceid, *sourceid);
    if (size) storage.set_decimal(row, col_filesizedec, *size);
    if (created) storage.set_datetime(row, col_createdate, *created);
    // The parts first: the name and the path are then stored as made from them.
    for (const int c : {col_filenamewithno, col_fileext, col_filename, col_filepath, col_pinyinma})
        storage.set_text(row, c, field(c));
    return true;
}

struct part_result {
    std::int64_t loaded = 0;
    std::int64_t skipped = 0;
};

// A line handler that stores each record line and counts what was stored and what was not.
auto storing(record_storage& storage, std::int64_t& loaded, std::int64_t& skipped) {
    return [&storage, &loaded, &skipped](std::span<const QStringView> fields,
                                         const text_line_info& info) {
        if (store_record(storage, fields, info))
            ++loaded;
        else
            ++skipped;
    };
}

// Room is made for `reserve_units` of text and a record per 50 of them (address space only
// until written).
void load_part(record_storage& storage, std::u16string_view units, std::size_t reserve_units,
               std::int64_t first_line, part_result& out) {
    text_table_options options;
    options.first_line = first_line;
    options.max_line_units = longest_record_units;
    storage.reserve(reserve_units / 50, reserve_units);
    const text_table_result read =
        read_text_table_units(units, storing(storage, out.loaded, out.skipped), options);
    out.skipped += read.lines_over_long;
}

// Below this a file is read on one thread: starting others costs more than they save.
constexpr qint64 parallel_bytes = 8 << 20;

// The file mapped and cut after line ends into one part per core: a line end never lies
// inside a line, so every part holds whole lines, and the parts appended in order are the
// file. Nothing when the file cannot be read that way (the caller then streams it).
std::optional<catalogue_import_result> import_in_parts(record_set& target, QFile& file,
                                                       int first_line, unsigned threads) {
    const qint64 bytes = file.size();
    if constexpr (std::endian::native != std::endian::little) return std::nullopt;
    if (bytes < 2 || first_line > 2) return std::nullopt;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto n = threads != 0 ? threads
                                : static_cast<unsigned>(std::min<qint64>(
                                      {static_cast<qint64>(cores), 16, bytes / parallel_bytes}));
    if (n < 2) return std::nullopt;
    uchar* mapped = file.map(0, bytes);
    if (!mapped) return std::nullopt;
    const std::u16string_view all(reinterpret_cast<const char16_t*>(mapped),
                                  static_cast<std::size_t>(bytes / 2));
    const std::u16string_view text = !all.empty() && all[0] == u'\uFEFF' ? all.substr(1) : all;
    std::vector<std::size_t> bounds{0};
    for (unsigned k = 1; k < n; ++k) {
        const std::size_t from = std::max(bounds.back(), text.size() * k / n);
        const std::size_t lf = text.find(u'\n', from);
        bounds.push_back(lf == std::u16string_view::npos ? text.size() : lf + 1);
    }
    bounds.push_back(text.size());
    auto part_text = [&](unsigned k) { return text.substr(bounds[k], bounds[k + 1] - bounds[k]); };

    std::vector<part_result> results(n);
    std::vector<std::unique_ptr<record_storage>> parts(n);
    std::vector<std::exception_ptr> failures(n);
    std::vector<std::thread> workers;
    target.append_rows([&](record_storage& storage) {
        for (unsigned k = 1; k < n; ++k) {
            parts[k] = std::make_unique<record_storage>();
            workers.emplace_back([&, k] {
                try {
                    load_part(*parts[k], part_text(k), part_text(k).size(), 1, results[k]);
                } catch (...) {
                    failures[k] = std::current_exception();
                }
            });
        }
        try {
            load_part(storage, part_text(0), text.size(), first_line, results[0]);
        } catch (...) {
            failures[0] = std::current_exception();
        }
        for (std::thread& w : workers) w.join();
        file.unmap(mapped);
        for (const std::exception_ptr& f : failures)
            if (f) std::rethrow_exception(f);
        for (unsigned k = 1; k < n; ++k) {
            storage.append(*parts[k]);
            parts[k].reset();
        }
    });
    catalogue_import_result result;
    result.file_found = true;
    for (const part_result& r : results) {
        result.loaded += r.loaded;
        result.skipped += r.skipped;
    }
    return result;
}

} // namespace

catalogue_import_result import_catalogue_file(record_set& target, const QString& path,
                                              int first_line, unsigned threads) {
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            target.setredraw(false);
            std::optional<catalogue_import_result> parts;
            try {
                parts = import_in_parts(target, file, first_line, threads);
            } catch (...) {
                target.setredraw(true);
                throw;
            }
            target.setredraw(true);
            if (parts) return *parts;
        }
    }
    catalogue_import_result result;
    text_table_options options;
    options.first_line = first_line;
    options.max_line_units = longest_record_units;
    target.setredraw(false);
    text_table_result read;
    target.append_rows([&](record_storage& storage) {
        // Growing the columns by doubling would copy them over and over: size them once.
        const qint64 bytes = QFileInfo(path).size();
        if (bytes > 0) {
            const auto units = static_cast<std::size_t>(bytes / 2);
            storage.reserve(units / 50, units);
        }
        read = read_text_table(path, storing(storage, result.loaded, result.skipped), options);
    });
    target.setredraw(true);
    result.file_found = read.status != text_table_status::missing;
    result.read_error = read.status == text_table_status::io_error;
    result.skipped += read.lines_over_long;
    return result;
}

bool save_catalogue_file(const record_set& source, const QString& path) {
    text_table_writer writer(path);
    std::array<QStringView, catalogue_column_count> heading;
    for (const auto& c : catalogue_columns)
        heading[static_cast<std::size_t>(c.number - 1)] = c.name;
    writer.write_row(heading);
    const record_storage& storage = source.storage();
    QString value;
    for (long row = 1; row <= source.rowcount() && writer.ok(); ++row) {
        const std::uint32_t id = source.row_id(row);
        for (const auto& c : catalogue_columns) {
            if (const auto view = storage.get_text_view(id, c.number)) {
                writer.add_field(*view);
            } else {
                storage.text_form(id, c.number, value);
                writer.add_field(value);
            }
        }
        writer.end_row();
    }
    return writer.commit();
}
