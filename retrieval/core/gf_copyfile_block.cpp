#include "retrieval/core/gf_copyfile_block.h"

#include "catalogue/core/native_names.h"
#include "retrieval/core/copy_progress.h"
#include "retrieval/core/copy_read_back.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <optional>
#include <utility>

namespace {

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
        native_file reader = folder_.open_direct(name_);
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

std::int64_t write_block(const copy_options& options, const native_file& target,
                         std::span<const char> block) {
    return options.writer ? options.writer(target, block) : target.write_all(block);
}

} // namespace

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

    native_file source = native_file::open_for_reading(from);
    if (!source.is_open()) return copy_failure::source_unreadable;
    const std::optional<file_status> source_status = source.status();
    if (!source_status || !source_status->regular) return copy_failure::source_missing;

    const qsizetype cut = file_name_start(ls_to);
    const QString name_text = ls_to.sliced(cut);
    if (name_text.isEmpty() || name_text == u"." || name_text == u"..")
        return copy_failure::name_refused;
    const QByteArray name = native_path(name_text);
    const native_folder folder(cut > 0 ? native_path(ls_to.first(cut)) : QByteArray("."));
    if (!folder.is_open())
        return failure_of(folder.open_error(), folder.open_error() == EACCES
                                                   ? copy_failure::folder_unwritable
                                                   : copy_failure::folder_missing);
    // The path leads elsewhere than to the card it was chosen on: its empty mount point.
    if (options.folder_device && folder.device() != *options.folder_device)
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
            read_back_block(target.file(), direct_reader, ll_read_already - last_size, written,
                            std::span<char>(scratch->data(), copy_block_size));
        last_size = 0;
        if (r.outcome == read_back_outcome::equal) return copy_failure::none;
        if (r.outcome == read_back_outcome::unreadable) return fail_on(EIO, copy_failure::not_kept);
        found.first_difference = r.first_difference;
        return copy_failure::not_kept;
    };
    const native_file& written_file = target.file();
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
        const std::int64_t w = write_block(options, written_file, block);
        const int write_error = errno;
        feedback.process_events();
        if (w != n)
            return fail_on(write_error,
                           w >= 0 ? copy_failure::card_full : copy_failure::write_failed);
        if (feedback.ib_stop()) return copy_failure::stopped;

        if (by_flush) {
            if (pacer.due(ll_read_already + n - on_device)) {
                const auto started = std::chrono::steady_clock::now();
                if (const int e = written_file.sync_data())
                    return fail_on(e, copy_failure::write_failed);
                pacer.flushed(ll_read_already + n - on_device,
                              std::chrono::steady_clock::now() - started);
                on_device = ll_read_already + n;
            }
        } else {
            if (const int e = written_file.start_write_back(ll_read_already, n))
                return fail_on(e, copy_failure::write_failed);
            if (ll_read_already > on_device) {
                if (const int e =
                        written_file.finish_write_back(on_device, ll_read_already - on_device))
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
    if (const int e = written_file.sync_data()) return fail_on(e, copy_failure::write_failed);
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
                       operation_feedback& feedback) {
    return copy_file_block(ls_from, ls_to, lb_showmsg, feedback) == copy_failure::none;
}
