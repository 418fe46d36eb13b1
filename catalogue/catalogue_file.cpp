#include "catalogue/catalogue_file.h"

#include "catalogue/record_set.h"
#include "catalogue/record_storage.h"
#include "catalogue/text_table_reader.h"
#include "catalogue/text_table_writer.h"

#include <QFileInfo>
#include <array>

namespace {

// Longest line a record can have: every text at its column's length, numbers and a date.
constexpr std::int64_t longest_record_units = 300 * 3 + 20 + 1024 + 19 + 3 * 24 + 8;

// Checks a line's fields before anything is appended, so a bad line leaves no half record.
bool fields_are_values(std::span<const QStringView> f) {
    for (const auto& c : catalogue_columns) {
        const QStringView v = f[static_cast<std::size_t>(c.number - 1)];
        if (v.isEmpty()) continue; // empty: null number or date, empty text
        switch (c.type) {
        case column_type::text:
            if (v.size() > c.max_length) return false;
            break;
        case column_type::long_number:
            if (!parse_long(v)) return false;
            break;
        case column_type::decimal2:
            if (!parse_decimal2(v)) return false;
            break;
        case column_type::datetime:
            if (!parse_local_datetime(v)) return false;
            break;
        }
    }
    return true;
}

} // namespace

catalogue_import_result import_catalogue_file(record_set& target, const QString& path,
                                              int first_line) {
    catalogue_import_result result;
    text_table_options options;
    options.first_line = first_line;
    options.max_line_units = longest_record_units;
    target.setredraw(false);
    // Growing the columns by doubling would copy them over and over: size them once.
    const qint64 bytes = QFileInfo(path).size();
    if (bytes > 0) {
        const auto units = static_cast<std::size_t>(bytes / 2);
        target.reserve(units / 50, units);
    }
    const auto read = read_text_table(
        path,
        [&](std::span<const QStringView> fields, const text_line_info& info) {
            if (info.has_nul || info.has_lone_surrogate ||
                fields.size() != static_cast<std::size_t>(catalogue_column_count) ||
                !fields_are_values(fields)) {
                ++result.skipped;
                return;
            }
            const long row = target.insertrow(0);
            for (const auto& c : catalogue_columns) {
                const QStringView v = fields[static_cast<std::size_t>(c.number - 1)];
                if (v.isEmpty() && c.type != column_type::text) continue; // stays null
                target.setitem(row, c.number, v);
            }
            ++result.loaded;
        },
        options);
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
