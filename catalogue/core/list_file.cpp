#include "catalogue/core/list_file.h"

#include "catalogue/core/text_table_reader.h"
#include "catalogue/core/text_table_writer.h"

std::optional<std::vector<QStringList>> read_list_file(const QString& path, int first_line) {
    std::vector<QStringList> rows;
    text_table_options options;
    options.first_line = first_line;
    options.block_bytes = 64 * 1024; // list files are small
    const text_table_result r = read_text_table(
        path,
        [&rows](std::span<const QStringView> fields, const text_line_info&) {
            QStringList row;
            row.reserve(static_cast<qsizetype>(fields.size()));
            for (QStringView f : fields) row.append(f.toString());
            rows.push_back(std::move(row));
        },
        options);
    if (!r.ok()) return std::nullopt;
    return rows;
}

bool write_list_file(const QString& path, const QStringList& heading,
                     const std::vector<QStringList>& rows) {
    text_table_writer writer(path);
    writer.write_row(heading);
    for (const QStringList& row : rows) writer.write_row(row);
    return writer.commit();
}
