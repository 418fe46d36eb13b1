#pragma once
// The catalogue file quellmark_mydb.dll: a text table of the nine catalogue columns,
// heading line first, one record per line, read back from line 2.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class record_set;

inline const QString catalogue_file_name = QStringLiteral("quellmark_mydb.dll");

struct catalogue_import_result {
    bool file_found = false;
    // The file could not be read to its end: it failed, or was cut short while it was read.
    bool read_error = false;
    // Memory ran out while loading: nothing was kept (see load_catalogue).
    bool out_of_memory = false;
    std::int64_t loaded = 0;
    // Lines that are no record: wrong field count, a value that is not of its column's type,
    // NUL or broken UTF-16 in the line, or longer than any record can be.
    std::int64_t skipped = 0;
};

// What the system says of an open file, enough to tell it from any other file or state of
// it: the change time is the system's own (no program can set it back), so a file put in
// place with another's size and modification time still differs.
struct file_facts {
    std::int64_t size = 0;
    std::int64_t modified_ns = 0; // nanoseconds since 1970
    std::int64_t changed_ns = 0;  // last change of content or attributes, the same
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const file_facts&, const file_facts&) = default;
};

// A catalogue file held open for a whole load, so that the bytes parsed, the bytes hashed and
// the facts that name them are of one file, whatever is renamed over its path meanwhile.
// Read by offset (several threads at once) and never mapped: a file cut short meanwhile is a
// read error, not a fault.
class open_catalogue_file {
  public:
    explicit open_catalogue_file(const QString& path);
    ~open_catalogue_file();
    open_catalogue_file(const open_catalogue_file&) = delete;
    open_catalogue_file& operator=(const open_catalogue_file&) = delete;

    bool is_open() const { return fd_ >= 0; }
    bool missing() const { return missing_; } // there was no such file
    // As they were when the file was opened; its bytes are read up to facts().size.
    const file_facts& facts() const { return facts_; }
    // As they are now; nothing when the system does not say.
    std::optional<file_facts> facts_now() const;
    // Up to `n` bytes from `offset`, fewer only at the end of the file; -1 on failure.
    std::int64_t read_at(void* dst, std::size_t n, std::int64_t offset) const;

  private:
    int fd_ = -1;
    bool missing_ = false;
    file_facts facts_;
};

// Runs right after a catalogue file was opened and its facts taken; tests change the file
// there. An empty function removes it.
void set_catalogue_open_hook(std::function<void(const QString& path)> hook);

// Appends the file's records from `first_line` on; the record set is not emptied first.
// A large file is read in parts on every core (`threads` 0), or on as many threads as asked
// (any size; 1 streams it); the records and counts are the same for every count.
// Memory running out throws std::bad_alloc; the records read by then stay in the set.
catalogue_import_result import_catalogue_file(record_set& target, const QString& path,
                                              int first_line = 2, unsigned threads = 0);
// The same from a file already open: its bytes up to the size it had when it was opened.
catalogue_import_result import_catalogue_file(record_set& target, const open_catalogue_file& file,
                                              int first_line = 2, unsigned threads = 0);

// Writes the visible records, through a temporary file renamed over the old one: on any
// failure the previous file stays as it was and false is returned.
bool save_catalogue_file(const record_set& source, const QString& path);
