#include "retrieval/gf_copyfile_block.h"

#include "catalogue/native_names.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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
    std::int64_t size = 0;
};

file_status status_of(const struct stat& st) {
    return {{st.st_dev, st.st_ino}, S_ISREG(st.st_mode), static_cast<std::int64_t>(st.st_size)};
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
    ~native_file() { close(); }

    bool is_open() const { return fd_ >= 0; }

    std::optional<file_status> status() const {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return status_of(st);
    }

    // Fills `size` bytes from `offset` unless the file ends first; -1 on a read error.
    std::int64_t read_at(char* data, std::int64_t size, std::int64_t offset) const {
        std::int64_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_, data + done, static_cast<std::size_t>(size - done),
                                      static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            done += n;
        }
        return done;
    }

    // Stops at the first refusal (a full disk writes part, then fails). Hands the block over in
    // pieces: a single 5 MiB write was measured at up to 5 times slower now and then, pieces
    // of 256 KiB never.
    std::int64_t write_all(const char* data, std::int64_t size) const {
        constexpr std::int64_t piece = 256 * 1024;
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

    // False when the system reports a late write error.
    bool close() {
        if (fd_ < 0) return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 || errno == EINTR;
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

// A link left at the target (one that could not be removed) is refused, not written through.
native_file open_for_writing(const QByteArray& path) {
    return native_file(
        ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
}

void remove_path(const QByteArray& path) {
    ::unlink(path.constData());
}

class file_copy_target final : public copy_target {
  public:
    explicit file_copy_target(const native_file& file) : file_(file) {}
    std::int64_t write(std::span<const char> bytes) override {
        return file_.write_all(bytes.data(), static_cast<std::int64_t>(bytes.size()));
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

bool is_separator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
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

bool gf_copyfile_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                       operation_feedback& feedback, const copy_block_writer& writer) {
    // A name with a NUL in it would reach the system cut short, naming another file.
    if (ls_from.contains(QChar(u'\0')) || ls_to.contains(QChar(u'\0'))) return false;
    const QByteArray from = native_path(ls_from);
    const QByteArray to = native_path(ls_to);

    // Special files are refused: a pipe or device would block or never end.
    const std::optional<file_status> from_path = path_status(from);
    if (!from_path || !from_path->regular) return false;

    native_file source = open_for_reading(from);
    if (!source.is_open()) return false;
    const std::optional<file_status> source_status = source.status();
    if (!source_status || !source_status->regular) return false;

    // The same file under another name (a link, another mount of it): deleting or truncating
    // the target would destroy the source.
    const std::optional<file_status> old_target = path_status(to);
    if (old_target && old_target->identity == source_status->identity) return false;

    remove_path(to);
    native_file target = open_for_writing(to);
    if (!target.is_open()) return false;
    const std::optional<file_status> target_status = target.status();
    if (!target_status || target_status->identity == source_status->identity) return false;

    // Removes what this call wrote, and only that: the path may have changed hands meanwhile.
    const auto fail = [&] {
        const std::optional<file_status> now = path_status(to);
        source.close();
        target.close();
        if (now && now->identity == target_status->identity) remove_path(to);
        return false;
    };

    const QString ls_showfilename = copy_display_name(ls_to);
    const std::int64_t ll_filelen = source_status->size;
    const block_buffer buffer;
    file_copy_target target_writer(target);
    std::int64_t ll_read_already = 0;

    for (;;) {
        feedback.process_events();
        const std::int64_t n = source.read_at(buffer.data(), copy_block_size, ll_read_already);
        if (n < 0) return fail();
        if (n == 0) break;

        const std::span<const char> block(buffer.data(), static_cast<std::size_t>(n));
        const std::int64_t w = writer ? writer(target_writer, block) : target_writer.write(block);
        feedback.process_events();
        if (w != n) return fail();

        ll_read_already += n;
        feedback.process_events();
        if (lb_showmsg && ll_filelen > 0)
            feedback.of_setmessage(
                copy_progress_text(ls_showfilename, ll_read_already, ll_filelen));
    }

    source.close();
    if (!target.close()) return fail();
    return true;
}
