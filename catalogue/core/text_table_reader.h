#pragma once
// Streaming reader of the program's text tables (the catalogue file and the list files):
// UTF-16LE, optional byte-order mark FF FE, one line per row, fields split on TAB.
//
// Line ends: LF, CR LF and a lone CR each end a line, so a file written by any editor
// loads. The text after the last line end is a line of its own when it is not empty
// (a truncated last line is still delivered); an empty tail is not a line, so a file that
// ends with a line end has no extra empty row.
//
// Bad input is reported, never fatal: an odd last byte is ignored, NUL code units and
// lone surrogates are passed through and flagged per line, and a line longer than
// `max_line_units` is skipped (or cut, see `over_long_policy`) without being buffered
// whole, so memory stays bounded by the block size plus that limit.
//
// The field views point into the reader's buffer and are valid only during the callback;
// nothing is allocated per line or per field.
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <span>

struct text_line_info {
    std::int64_t line_number = 0;    // 1-based, counting every line of the file
    bool has_nul = false;            // a U+0000 code unit occurs in the line
    bool has_lone_surrogate = false; // a surrogate code unit without its partner
    bool over_long = false;          // only with over_long_policy::deliver_prefix
};

// Called once per line from `first_line` on; `fields` holds at least one (maybe empty) view.
using text_line_callback =
    std::function<void(std::span<const QStringView> fields, const text_line_info& info)>;

enum class over_long_policy {
    skip,           // the line is not delivered, only counted
    deliver_prefix, // its first max_line_units code units are delivered, flagged over_long
};

struct text_table_options {
    std::int64_t first_line = 1; // lines before it are read past unseen (values < 1 mean 1)
    // Longest line, in UTF-16 code units without the line end; clamped to 1 .. 16 Mi.
    std::int64_t max_line_units = 64 * 1024;
    over_long_policy over_long = over_long_policy::skip;
    // Bytes asked of the file per read; small values are for tests of block boundaries.
    std::int64_t block_bytes = 4 * 1024 * 1024;
    // A mark FF FE at the very start is read past; off for a part cut from the middle.
    bool byte_order_mark = true;
};

enum class text_table_status {
    read,     // the whole file was read
    missing,  // there is no such file: not an error, nothing was delivered
    io_error, // the file could not be opened or a read failed; see `error`
};

struct text_table_result {
    text_table_status status = text_table_status::missing;
    std::int64_t lines_delivered = 0;
    std::int64_t lines_over_long = 0; // from first_line on; skipped or cut
    std::int64_t bytes_read = 0;      // as read from the file, mark included
    QString error;                    // the system's text for an io_error

    bool ok() const { return status == text_table_status::read; }
};

// Reads the file at `path`. After an io_error part of the lines may have been delivered.
text_table_result read_text_table(const QString& path, const text_line_callback& on_line,
                                  const text_table_options& options = {});

// The same over bytes that `read_some(dst, max)` hands out: how many it stored, 0 at the end,
// -1 on failure (status io_error, `error` left empty). `size_hint` (0 when unknown) keeps the
// buffer of a small input small.
using text_byte_reader = std::function<std::int64_t(char* dst, std::int64_t max)>;
text_table_result read_text_table_from(const text_byte_reader& read_some, std::int64_t size_hint,
                                       const text_line_callback& on_line,
                                       const text_table_options& options = {});

// The same over bytes in memory (status is then always `read`).
text_table_result read_text_table_bytes(QByteArrayView bytes, const text_line_callback& on_line,
                                        const text_table_options& options = {});
