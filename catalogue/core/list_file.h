#pragma once
// The small list files (scan areas, file types): text tables of one or two columns with
// a heading line, read back from line 2.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One row per line from `first_line` (1-based) on, each the line's TAB-separated fields
// (an empty line gives one empty field). nullopt when the file does not exist or cannot be
// read, so callers keep what they had instead of acting on half a list. Over-long lines
// (beyond 64 Ki code units) are dropped; NUL and lone surrogates are kept as read.
std::optional<std::vector<QStringList>> read_list_file(const QString& path, int first_line = 2);

// Writes the heading line, then one line per row, replacing the old file only when all
// went well (false otherwise, and the old file stays). Rows are written as given, however
// many fields they hold; a TAB or line break inside a field becomes a blank.
bool write_list_file(const QString& path, const QStringList& heading,
                     const std::vector<QStringList>& rows);
