#include "catalogue/core/catalogue_file.h"

#include "app/shell/run_parts.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "catalogue/core/text_table_reader.h"
#include "catalogue/core/text_table_writer.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <optional>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    bool failed = false;
};

// Bytes asked of the file per read: small enough to stay in the core's cache while parsed
// (a core's L2 is 0.5 to 1 MiB), large enough that a system call per block is nothing beside
// parsing it.
constexpr std::int64_t read_block_bytes = std::int64_t{1} << 20;

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

// Reads bytes [from, to) of the file through a buffer of its own: `storage` is sized once for
// `reserve_units` of text (growing columns by doubling would copy them over and over;
// address space only until written). A record's name is in its path too, so no text column
// of a scanned file holds more than half the text.
void load_range(const open_catalogue_file& file, std::int64_t from, std::int64_t to,
                std::int64_t first_line, bool at_start, record_storage& storage,
                std::size_t reserve_units, part_result& out) {
    text_table_options options;
    options.first_line = first_line;
    options.max_line_units = longest_record_units;
    options.byte_order_mark = at_start;
    options.block_bytes = read_block_bytes;
    // A row per 50 units: a record's line is rarely shorter (its date alone is 19 units).
    storage.reserve(reserve_units / 50, reserve_units / 2);
    std::int64_t at = from;
    const text_byte_reader read_some = [&](char* dst, std::int64_t max) -> std::int64_t {
        const std::int64_t n = std::min(max, to - at);
        if (n <= 0) return 0;
        // Short of the size the file had when opened: it was cut meanwhile.
        if (file.read_at(dst, static_cast<std::size_t>(n), at) != n) return -1;
        at += n;
        return n;
    };
    const text_table_result read = read_text_table_from(
        read_some, to - from, storing(storage, out.loaded, out.skipped), options);
    out.skipped += read.lines_over_long;
    out.failed = !read.ok();
}

// Below this a file is read on one thread: 8 MiB (some 36 000 records) parse in about 20 ms
// on one core (232 MB of 1M records in some 0.5 s of core time), so another part would save a
// few milliseconds against its own room and the copy that appends it.
constexpr std::int64_t parallel_bytes = 8 << 20;

// Where the line after the first line feed at or after unit `from` starts (`units` when
// there is none, or the file cannot be read there: the part before then meets the end).
std::int64_t next_line_start(const open_catalogue_file& file, std::int64_t text_at,
                             std::int64_t from, std::int64_t units) {
    // More than the longest record line (longest_record_units): one read mostly finds it.
    std::array<char16_t, 8192> buffer;
    while (from < units) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), units - from));
        if (file.read_at(buffer.data(), n * 2, text_at + from * 2) !=
            static_cast<std::int64_t>(n * 2))
            return units;
        const auto lf = std::find(buffer.begin(), buffer.begin() + n, u'\n');
        if (lf != buffer.begin() + n) return from + (lf - buffer.begin()) + 1;
        from += static_cast<std::int64_t>(n);
    }
    return units;
}

// The file cut after line ends into one part per core: a line end never lies inside a line,
// so every part holds whole lines, and the parts appended in order are the file. Nothing
// when the file is not read that way (the caller then streams it).
std::optional<catalogue_import_result> import_in_parts(record_set& target,
                                                       const open_catalogue_file& file,
                                                       int first_line, unsigned threads) {
    const std::int64_t bytes = file.facts().size;
    if constexpr (std::endian::native != std::endian::little) return std::nullopt;
    if (bytes < 2 || first_line > 2) return std::nullopt;
    // At most 16 parts: they are appended one after another once parsed, a cost that grows
    // with their number while the parse each saves shrinks.
    const auto n = threads != 0
                       ? threads
                       : std::min(16u, parts_for(static_cast<std::uint64_t>(bytes),
                                                 static_cast<std::uint64_t>(parallel_bytes)));
    if (n < 2) return std::nullopt;
    char16_t first = 0;
    if (file.read_at(&first, 2, 0) != 2) return std::nullopt;
    const std::int64_t text_at = first == u'\uFEFF' ? 2 : 0; // the units after the mark
    const std::int64_t units = (bytes - text_at) / 2;
    std::vector<std::int64_t> bounds{0};
    for (unsigned k = 1; k < n; ++k)
        bounds.push_back(
            next_line_start(file, text_at, std::max(bounds.back(), units * k / n), units));
    bounds.push_back(units);
    auto load = [&](unsigned k, record_storage& storage, std::int64_t reserve_units,
                    part_result& out) {
        load_range(file, text_at + bounds[k] * 2, text_at + bounds[k + 1] * 2,
                   k == 0 ? first_line : 1, false, storage, static_cast<std::size_t>(reserve_units),
                   out);
    };

    std::vector<part_result> results(n);
    std::vector<std::unique_ptr<record_storage>> parts(n);
    target.append_rows([&](record_storage& storage) {
        // Part 0 into the catalogue itself, with room for every part: they are appended here.
        run_parts(n, n, [&](unsigned, unsigned from, unsigned to) {
            for (unsigned k = from; k < to; ++k) {
                if (k == 0) {
                    load(0, storage, units, results[0]);
                    continue;
                }
                parts[k] = std::make_unique<record_storage>();
                load(k, *parts[k], bounds[k + 1] - bounds[k], results[k]);
            }
        });
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
        result.read_error = result.read_error || r.failed;
    }
    return result;
}

std::function<void(const QString&)>& open_hook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::optional<file_facts> facts_of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return file_facts{static_cast<std::int64_t>(st.st_size), nanoseconds(st.st_mtim),
                      nanoseconds(st.st_ctim), static_cast<std::uint64_t>(st.st_dev),
                      static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

open_catalogue_file::open_catalogue_file(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    do fd_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        missing_ = errno == ENOENT || errno == ENOTDIR;
        return;
    }
    const auto facts = facts_of(fd_);
    if (!facts || facts->size < 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    facts_ = *facts;
    // A copy: the hook may replace itself.
    if (const auto hook = open_hook()) hook(path);
}

open_catalogue_file::~open_catalogue_file() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<file_facts> open_catalogue_file::facts_now() const {
    return fd_ >= 0 ? facts_of(fd_) : std::nullopt;
}

std::int64_t open_catalogue_file::read_at(void* dst, std::size_t n, std::int64_t offset) const {
    auto* p = static_cast<char*>(dst);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got =
            ::pread(fd_, p + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

void set_catalogue_open_hook(std::function<void(const QString& path)> hook) {
    open_hook() = std::move(hook);
}

catalogue_import_result import_catalogue_file(record_set& target, const QString& path,
                                              int first_line, unsigned threads) {
    const open_catalogue_file file(path);
    if (!file.is_open()) {
        catalogue_import_result result;
        result.file_found = !file.missing();
        result.read_error = result.file_found;
        return result;
    }
    return import_catalogue_file(target, file, first_line, threads);
}

catalogue_import_result import_catalogue_file(record_set& target, const open_catalogue_file& file,
                                              int first_line, unsigned threads) {
    target.setredraw(false);
    struct redraw_on {
        record_set& r;
        ~redraw_on() { r.setredraw(true); }
    } const redraw{target};
    if (auto parts = import_in_parts(target, file, first_line, threads)) return *parts;
    part_result read;
    target.append_rows([&](record_storage& storage) {
        const std::int64_t bytes = file.facts().size;
        load_range(file, 0, bytes, first_line, true, storage, static_cast<std::size_t>(bytes / 2),
                   read);
    });
    catalogue_import_result result;
    result.file_found = true;
    result.read_error = read.failed;
    result.loaded = read.loaded;
    result.skipped = read.skipped;
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
