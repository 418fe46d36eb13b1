#pragma once
// The catalogue file quellmark_mydb.dll: a text table of the nine catalogue columns,
// heading line first, one record per line, read back from line 2.
#include <QString>
#include <cstdint>

class record_set;

inline const QString catalogue_file_name = QStringLiteral("quellmark_mydb.dll");

struct catalogue_import_result {
    bool file_found = false;
    bool read_error = false;
    std::int64_t loaded = 0;
    // Lines that are no record: wrong field count, a value that is not of its column's type,
    // NUL or broken UTF-16 in the line, or longer than any record can be.
    std::int64_t skipped = 0;
};

// Appends the file's records from `first_line` on; the record set is not emptied first.
// A large file is read in parts on every core (`threads` 0), or on as many threads as asked
// (any size; 1 streams it); the records and counts are the same for every count.
catalogue_import_result import_catalogue_file(record_set& target, const QString& path,
                                              int first_line = 2, unsigned threads = 0);

// Writes the visible records, through a temporary file renamed over the old one: on any
// failure the previous file stays as it was and false is returned.
bool save_catalogue_file(const record_set& source, const QString& path);
