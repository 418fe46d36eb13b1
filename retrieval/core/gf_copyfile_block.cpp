#include "retrieval/core/gf_copyfile_block.h"

#include "catalogue/core/native_names.h"
#include "retrieval/core/copy_read_back.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace {

// The operating system's side of the copy, kept to a few small calls so that another
// platform only has to supply these.

struct file_identity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const file_identity&, const file_identity&) = default;
};

struct file_status {
    file_identity identity;
    bool regular = false;
    bool directory = false;
    std::int64_t size = 0;
};

file_status status_of(const struct stat& st) {
    return {{st.st_dev, st.st_ino},
            S_ISREG(st.st_mode),
            S_ISDIR(st.st_mode),
            static_cast<std::int64_t>(st.st_size)};
}

// Follows links, so a link to a file is that file.
std::optional<file_status> path_status(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return std::nullopt;
    return status_of(st);
}

class native_file {
  public:
    native_file() = default;
    explicit native_file(int fd) : fd_(fd) {}
    native_file(const native_file&) = delete;
    native_file& operator=(const native_file&) = delete;
    native_file(native_file&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    native_file& operator=(native_file&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~native_file() { close(); }

    bool is_open() const { return fd_ >= 0; }

    std::optional<file_status> status() const {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return status_of(st);
    }

    // Fills `size` bytes from `offset` unless the file ends first; -1 on a read error.
    std::int64_t read_at(char* data, std::int64_t size, std::int64_t offset) const {
        return read_fully(fd_, data, size, offset);
    }

    // Stops at the first refusal (a full disk writes part, then fails). Hands the block over in
    // pieces (see file_copy_target).
    std::int64_t write_all(const char* data, std::int64_t size, std::int64_t piece) const {
        std::int64_t done = 0;
        while (done < size) {
            const std::int64_t want = std::min(piece, size - done);
            const ssize_t n = ::write(fd_, data + done, static_cast<std::size_t>(want));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return done > 0 ? done : -1;
            done += n;
        }
        return done;
    }

    int fd() const { return fd_; }

    // 0, or the late write error the system reports.
    int close() {
        if (fd_ < 0) return 0;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 || errno == EINTR ? 0 : errno;
    }

  private:
    int fd_ = -1;
};

native_file open_for_reading(const QByteArray& path) {
    // Non-blocking so that a special file swapped in after the check cannot hang the open.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return native_file(fd);
}

// The target's folder, held open for the whole copy: the target is created, flushed and,
// on failure, removed through it, also when its card was unmounted meanwhile.
class native_folder {
  public:
    explicit native_folder(const QByteArray& path)
        : path_(path), fd_(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0) identity_ = {st.st_dev, st.st_ino};
    }
    native_folder(const native_folder&) = delete;
    native_folder& operator=(const native_folder&) = delete;
    ~native_folder() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    dev_t device() const { return identity_.device; }

    // False once the folder's path leads elsewhere: its card was unmounted or pulled.
    bool still_there() const {
        const std::optional<file_status> now = path_status(path_);
        return now && now->identity == identity_;
    }

    std::optional<file_status> entry_status(const QByteArray& name) const {
        struct stat st {};
        if (::fstatat(fd_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
        return status_of(st);
    }

    // A new file only: an entry of that name is never opened, let alone truncated.
    native_file create_new(const QByteArray& name) const {
        return native_file(::openat(fd_, name.constData(),
                                    O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    }

    void remove(const QByteArray& name) const { ::unlinkat(fd_, name.constData(), 0); }

    // Replaces whatever `to` names in one step; 0 or the error.
    int rename(const QByteArray& from, const QByteArray& to) const {
        return ::renameat(fd_, from.constData(), fd_, to.constData()) == 0 ? 0 : errno;
    }

    // Some file systems have nothing to flush for a folder and say so.
    int sync() const {
        if (::fsync(fd_) == 0) return 0;
        return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? 0 : errno;
    }

    std::int64_t free_bytes() const {
        struct statvfs vfs {};
        if (::fstatvfs(fd_, &vfs) != 0) return INT64_MAX;
        const std::uint64_t blocks = vfs.f_bavail, size = vfs.f_frsize;
        if (size != 0 && blocks > static_cast<std::uint64_t>(INT64_MAX) / size) return INT64_MAX;
        return static_cast<std::int64_t>(blocks * size);
    }

  private:
    QByteArray path_;
    int fd_;
    file_identity identity_;
};

// The copy as it is written: a file of its own beside the target, under a short hidden name
// that is new in the folder, so it never takes over a file of the user's and leaves the
// target's name, even one at the card's length limit, to the target. The file takes the
// target's name only once it is whole, so an old file of that name stays as it was until
// then, whatever ends the copy; until then it is removed on every way out.
class staged_file {
  public:
    explicit staged_file(const native_folder& folder) : folder_(folder) {}
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;
    ~staged_file() { discard(); }

    // 0 or the error.
    int create() {
        for (int attempt = 0; attempt < 16; ++attempt) {
            name_ =
                ".qm" + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
            native_file made = folder_.create_new(name_);
            if (!made.is_open()) {
                if (errno == EEXIST) continue;
                return errno;
            }
            const std::optional<file_status> made_status = made.status();
            if (!made_status) {
                const int error = errno;
                made.close();
                folder_.remove(name_);
                return error;
            }
            file_ = std::move(made);
            identity_ = made_status->identity;
            placed_ = true;
            return 0;
        }
        return EEXIST;
    }

    const native_file& file() const { return file_; }
    int close() { return file_.close(); }

    // The file opened again for direct reads (O_DIRECT), when its file system takes them.
    native_file open_direct_reader() const {
        native_file reader(::openat(folder_.fd(), name_.constData(),
                                    O_RDONLY | O_DIRECT | O_CLOEXEC | O_NOFOLLOW));
        const std::optional<file_status> st = reader.is_open() ? reader.status() : std::nullopt;
        return st && st->identity == identity_ ? std::move(reader) : native_file();
    }

    // Gives the file the name `name`, replacing any file of that name; 0 or the error.
    int commit(const QByteArray& name) {
        const int error = folder_.rename(name_, name);
        if (error == 0) placed_ = false;
        return error;
    }

    // Removes the file, and only it: the name may have changed hands meanwhile. Closed first:
    // a FUSE file system keeps a removed file that is still open under a hidden name of its own.
    void discard() {
        if (!placed_) return;
        placed_ = false;
        file_.close();
        const std::optional<file_status> now = folder_.entry_status(name_);
        if (now && now->identity == identity_) folder_.remove(name_);
    }

  private:
    const native_folder& folder_;
    native_file file_;
    QByteArray name_;
    file_identity identity_;
    bool placed_ = false;
};

copy_failure failure_of(int error, copy_failure otherwise) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return copy_failure::card_full;
    case EFBIG:
        return copy_failure::too_large;
    case EROFS:
    case EACCES:
    case EPERM:
        return copy_failure::folder_unwritable;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ENOTCONN:
    case ESHUTDOWN:
    case ENOMEDIUM:
    case ESTALE:
        return copy_failure::card_removed;
    default:
        return otherwise;
    }
}

int sync_data(int fd) {
    int rc = 0;
    do rc = ::fdatasync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

// A single 5 MiB write into the page cache was measured at up to 5 times slower now and
// then, pieces of 256 KiB never.
class file_copy_target final : public copy_target {
  public:
    explicit file_copy_target(const native_file& file) : file_(file) {}
    std::int64_t write(std::span<const char> bytes) override {
        return file_.write_all(bytes.data(), static_cast<std::int64_t>(bytes.size()), 256 * 1024);
    }

  private:
    const native_file& file_;
};

// Page-aligned: the system then moves whole pages between the file cache and the buffer,
// markedly faster than to an address a few bytes off a page.
class block_buffer {
  public:
    block_buffer() : data_(static_cast<char*>(::operator new(copy_block_size, alignment))) {}
    block_buffer(const block_buffer&) = delete;
    block_buffer& operator=(const block_buffer&) = delete;
    ~block_buffer() { ::operator delete(data_, alignment); }
    char* data() const { return data_; }

  private:
    static constexpr std::align_val_t alignment{4096};
    char* data_;
};

// Starts the write-back of [offset, offset + size); 0 or the error.
int start_write_back(int fd, std::int64_t offset, std::int64_t size) {
    if (::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE) == 0) return 0;
    return errno == EINVAL || errno == ESPIPE || errno == ENOSYS ? 0 : errno;
}

// Waits until [offset, offset + size) is on the device, then drops it from the cache: a
// film copied once should not push everything else out. 0 or the error.
int finish_write_back(int fd, std::int64_t offset, std::int64_t size) {
    constexpr unsigned all =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (::sync_file_range(fd, offset, size, all) != 0 &&
        !(errno == EINVAL || errno == ESPIPE || errno == ENOSYS))
        return errno;
    ::posix_fadvise(fd, offset, size, POSIX_FADV_DONTNEED);
    return 0;
}

// Where only a flush reaches the device, each flush also pays a fixed cost (the file
// system's own tables, the device's cache). Flushing every block would spend most of a fast
// card's time there; flushing seldom would freeze the window on a slow one. So the bytes
// between flushes are what the device writes in about a quarter of a second, as measured by
// the flushes before, between one block and 64 MiB.
class flush_pacer {
  public:
    bool due(std::int64_t pending) const { return pending >= budget_; }
    void flushed(std::int64_t bytes, std::chrono::steady_clock::duration took) {
        const double seconds = std::max(std::chrono::duration<double>(took).count(), 1e-4);
        const double per_quarter_second = static_cast<double>(bytes) / seconds / 4;
        budget_ = std::clamp(static_cast<std::int64_t>(per_quarter_second), copy_block_size,
                             std::int64_t{64} << 20);
    }

  private:
    std::int64_t budget_ = copy_block_size;
};

bool is_separator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

std::int64_t writer_or(const copy_options& options, copy_target& target,
                       std::span<const char> block) {
    return options.writer ? options.writer(target, block) : target.write(block);
}

} // namespace

QString copy_display_name(const QString& ls_to) {
    qsizetype start = ls_to.size();
    while (start > 0 && !is_separator(ls_to[start - 1])) --start;
    // Counts characters, so a character outside the basic plane is kept whole.
    int kept = 0;
    qsizetype pos = ls_to.size();
    while (pos > start && kept < 13) {
        --pos;
        if (pos > start && ls_to[pos].isLowSurrogate() && ls_to[pos - 1].isHighSurrogate()) --pos;
        ++kept;
    }
    return ls_to.sliced(pos);
}

QString copy_progress_text(const QString& display_name, std::int64_t copied, std::int64_t total) {
    // The fraction of a kilobyte is dropped, so the figure never runs ahead of the copy.
    const std::int64_t kilobytes = copied / 1024;
    // Percent rounded half up, exact for any size a file system holds: whole multiples of
    // the length first, then the remainder, scaled down only beyond 2^55 bytes.
    std::int64_t rest = copied % total;
    std::int64_t length = total;
    if (length > (std::int64_t{1} << 55)) {
        rest >>= 8;
        length >>= 8;
    }
    const std::int64_t percent = copied / total * 100 + (rest * 200 + length) / (length * 2);
    return u"下载: " + display_name + u" :" + QString::number(kilobytes) + u"KB/" +
           QString::number(percent) + u"%";
}

copy_failure copy_file_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                             operation_feedback& feedback, const copy_options& options,
                             copy_outcome* outcome) {
    copy_outcome ignored;
    copy_outcome& found = outcome ? *outcome : ignored;
    found = {};
    // A name with a NUL in it would reach the system cut short, naming another file.
    if (ls_from.contains(QChar(u'\0'))) return copy_failure::source_missing;
    if (ls_to.contains(QChar(u'\0'))) return copy_failure::name_refused;
    const QByteArray from = native_path(ls_from);

    // Special files are refused: a pipe or device would block or never end.
    const std::optional<file_status> from_path = path_status(from);
    if (!from_path || !from_path->regular) return copy_failure::source_missing;

    native_file source = open_for_reading(from);
    if (!source.is_open()) return copy_failure::source_unreadable;
    const std::optional<file_status> source_status = source.status();
    if (!source_status || !source_status->regular) return copy_failure::source_missing;

    qsizetype cut = ls_to.size();
    while (cut > 0 && !is_separator(ls_to[cut - 1])) --cut;
    const QString name_text = ls_to.sliced(cut);
    if (name_text.isEmpty() || name_text == u"." || name_text == u"..")
        return copy_failure::name_refused;
    const QByteArray name = native_path(name_text);
    const native_folder folder(cut > 0 ? native_path(ls_to.first(cut)) : QByteArray("."));
    if (!folder.is_open())
        return failure_of(errno, errno == EACCES ? copy_failure::folder_unwritable
                                                 : copy_failure::folder_missing);
    // The path leads elsewhere than to the card it was chosen on: its empty mount point.
    if (options.folder_device &&
        static_cast<std::uint64_t>(folder.device()) != *options.folder_device)
        return copy_failure::card_removed;

    // The same file under another name (a link, another mount of it): replacing the target
    // would destroy the source.
    const std::optional<file_status> old_target = path_status(native_path(ls_to));
    if (old_target && old_target->identity == source_status->identity)
        return copy_failure::same_file;

    // What the card cannot take is refused before a byte is written.
    const std::int64_t ll_filelen = source_status->size;
    const card_limits limits = options.limits ? *options.limits : limits_of_folder(folder.fd());
    if (!name_fits(limits, name_text)) return copy_failure::name_too_long;
    if (!name_allowed(limits, name_text)) return copy_failure::name_refused;
    if (!size_allowed(limits, ll_filelen)) return copy_failure::too_large;
    const std::optional<file_status> old_entry = folder.entry_status(name);
    if (old_entry && old_entry->directory) return copy_failure::folder_unwritable;
    // An old file is kept until the new one is whole: both need room meanwhile.
    if (ll_filelen > folder.free_bytes()) return copy_failure::card_full;

    const auto fail_on = [&](int error, copy_failure otherwise) {
        return folder.still_there() ? failure_of(error, otherwise) : copy_failure::card_removed;
    };

    // 1. The new file, beside the target under a name of its own.
    staged_file target(folder);
    if (const int error = target.create()) {
        if (error == ENOENT && !folder.still_there()) return copy_failure::card_removed;
        return failure_of(error, copy_failure::folder_unwritable);
    }

    // 2. The blocks. Any way out of here removes the new file, and leaves an old one alone.
    const QString ls_showfilename = copy_display_name(ls_to);
    // FUSE: nothing to start writing back, and nothing that reads back past the cache.
    const bool by_flush = served_by_fuse(folder.fd());
    const bool read_back = options.read_back && !by_flush;
    flush_pacer pacer;
    // Two blocks take turns: the one written last stays until it has been read back.
    const block_buffer buffers[2];
    std::optional<block_buffer> scratch;
    native_file direct_reader;
    if (read_back) {
        scratch.emplace();
        direct_reader = target.open_direct_reader();
    }
    int turn = 0;
    std::int64_t ll_read_already = 0;
    std::int64_t on_device = 0; // bytes known to have reached the device
    std::int64_t last_size = 0; // of the block before, still to be read back
    const auto read_back_last = [&]() -> copy_failure {
        if (!read_back || last_size == 0) return copy_failure::none;
        const std::span<const char> written(buffers[1 - turn].data(),
                                            static_cast<std::size_t>(last_size));
        const read_back_result r =
            read_back_block(target.file().fd(), direct_reader.fd(), ll_read_already - last_size,
                            written, std::span<char>(scratch->data(), copy_block_size));
        last_size = 0;
        if (r.outcome == read_back_outcome::equal) return copy_failure::none;
        if (r.outcome == read_back_outcome::unreadable) return fail_on(EIO, copy_failure::not_kept);
        found.first_difference = r.first_difference;
        return copy_failure::not_kept;
    };
    file_copy_target target_writer(target.file());
    const int target_fd = target.file().fd();
    std::int64_t reported = 0;
    const auto report = [&] {
        if (lb_showmsg && ll_filelen > 0 && on_device > reported)
            feedback.of_setmessage(copy_progress_text(ls_showfilename, on_device, ll_filelen));
        reported = on_device;
    };

    for (;;) {
        feedback.process_events();
        char* const buffer = buffers[turn].data();
        const std::int64_t n = source.read_at(buffer, copy_block_size, ll_read_already);
        if (n < 0) return copy_failure::read_failed;
        if (n == 0) break;

        const std::span<const char> block(buffer, static_cast<std::size_t>(n));
        errno = 0;
        const std::int64_t w = writer_or(options, target_writer, block);
        const int write_error = errno;
        feedback.process_events();
        if (w != n)
            return fail_on(write_error,
                           w >= 0 ? copy_failure::card_full : copy_failure::write_failed);
        if (feedback.ib_stop()) return copy_failure::stopped;

        if (by_flush) {
            if (pacer.due(ll_read_already + n - on_device)) {
                const auto started = std::chrono::steady_clock::now();
                if (const int e = sync_data(target_fd))
                    return fail_on(e, copy_failure::write_failed);
                pacer.flushed(ll_read_already + n - on_device,
                              std::chrono::steady_clock::now() - started);
                on_device = ll_read_already + n;
            }
        } else {
            if (const int e = start_write_back(target_fd, ll_read_already, n))
                return fail_on(e, copy_failure::write_failed);
            if (ll_read_already > on_device) {
                if (const int e =
                        finish_write_back(target_fd, on_device, ll_read_already - on_device))
                    return fail_on(e, copy_failure::write_failed);
                on_device = ll_read_already;
            }
            // The block before is on the card; reading it back overlaps this one's write-back.
            if (const copy_failure f = read_back_last(); f != copy_failure::none) return f;
        }
        if (!folder.still_there()) return copy_failure::card_removed;

        ll_read_already += n;
        last_size = n;
        turn = 1 - turn;
        feedback.process_events();
        report();
    }

    // 3. The data on the device, and the last block read back from it.
    if (const int e = sync_data(target_fd)) return fail_on(e, copy_failure::write_failed);
    if (const copy_failure f = read_back_last(); f != copy_failure::none) return f;
    found.verified = read_back;
    direct_reader.close();
    if (const int e = target.close()) return fail_on(e, copy_failure::write_failed);
    source.close();

    // 4. The target's name, in one step: an old file goes only now.
    if (const int e = target.commit(name)) {
        if (e == ENAMETOOLONG) return copy_failure::name_too_long;
        // A FUSE file system may answer a name it refuses with "no such file".
        if (e == EINVAL || e == EILSEQ || (e == ENOENT && folder.still_there()))
            return copy_failure::name_refused;
        return fail_on(e, copy_failure::write_failed);
    }

    // 5. The folder entry: only data and entry together make the copy survive a pull. The
    // file is whole by now and stays, also when this fails.
    if (const int e = folder.sync()) return fail_on(e, copy_failure::write_failed);
    if (!folder.still_there()) return copy_failure::card_removed;
    on_device = ll_read_already;
    report();
    return copy_failure::none;
}

bool gf_copyfile_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                       operation_feedback& feedback, const copy_block_writer& writer) {
    copy_options options;
    options.writer = writer;
    return copy_file_block(ls_from, ls_to, lb_showmsg, feedback, options) == copy_failure::none;
}
