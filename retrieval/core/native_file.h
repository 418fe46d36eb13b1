#pragma once
// The platform layer under the copy: files and folders held open by descriptor (POSIX), each
// call retried on EINTR where a signal may interrupt it. A call that fails answers the errno
// value (0 for success), or an empty result with errno set. The copy speaks only in these
// terms, so another platform only has to supply this file.
#include <QByteArray>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <span>

// A file's identity: two paths with equal identities name one file.
struct file_identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const file_identity&, const file_identity&) = default;
};

struct file_status {
    file_identity identity;
    bool regular = false;
    bool directory = false;
    std::int64_t size = 0;
};

// Follows links, so a link to a file is that file.
std::optional<file_status> path_status(const QByteArray& path);

// Where the last component of `path` starts (after its last separator).
qsizetype file_name_start(QStringView path);

class native_file {
  public:
    native_file() = default;
    explicit native_file(int fd) : fd_(fd) {}
    native_file(const native_file&) = delete;
    native_file& operator=(const native_file&) = delete;
    native_file(native_file&& other) noexcept;
    native_file& operator=(native_file&& other) noexcept;
    ~native_file() { close(); }

    // Opened to be read in sequence. Non-blocking, so that a special file swapped in after a
    // check cannot hang the open.
    static native_file open_for_reading(const QByteArray& path);

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::optional<file_status> status() const;

    // Fills `size` bytes from `offset` (pread) unless the file ends first; -1 on a read error.
    std::int64_t read_at(char* data, std::int64_t size, std::int64_t offset) const;
    // Writes at the file position and stops at the first refusal (a full disk writes part,
    // then fails): the count written, -1 when nothing was.
    std::int64_t write_all(std::span<const char> bytes) const;

    // The data written so far on the device (fdatasync); 0 or the error.
    int sync_data() const;
    // Starts the write-back of [offset, offset + size) (sync_file_range); 0 or the error.
    int start_write_back(std::int64_t offset, std::int64_t size) const;
    // Waits until [offset, offset + size) is on the device, then drops it from the cache: a
    // film copied once should not push everything else out. 0 or the error.
    int finish_write_back(std::int64_t offset, std::int64_t size) const;
    // Drops the clean pages of [offset, offset + size) from the cache, so the next read of
    // them goes to the device.
    void drop_cached(std::int64_t offset, std::int64_t size) const;

    // 0, or the late write error the system reports.
    int close();

  private:
    int fd_ = -1;
};

// A folder held open: files in it are created, renamed, removed and flushed through it, so
// they stay in this folder also when its path comes to lead elsewhere (a card unmounted).
class native_folder {
  public:
    explicit native_folder(const QByteArray& path);
    native_folder(const native_folder&) = delete;
    native_folder& operator=(const native_folder&) = delete;
    ~native_folder();

    bool is_open() const { return fd_ >= 0; }
    // Why the folder could not be opened.
    int open_error() const { return open_error_; }
    int fd() const { return fd_; }
    std::uint64_t device() const { return identity_.device; }

    // False once the folder's path leads elsewhere: its card was unmounted or pulled.
    bool still_there() const;
    // The entry itself, not what a link of that name points to.
    std::optional<file_status> entry_status(const QByteArray& name) const;
    // A new file only (O_EXCL): an entry of that name is never opened, let alone truncated.
    native_file create_new(const QByteArray& name) const;
    // The file opened for direct reads (O_DIRECT), when its file system takes them.
    native_file open_direct(const QByteArray& name) const;
    void remove(const QByteArray& name) const;
    // Replaces whatever `to` names in one step (renameat); 0 or the error.
    int rename(const QByteArray& from, const QByteArray& to) const;
    // The folder's entries on the device (fsync); 0 or the error.
    int sync() const;
    std::int64_t free_bytes() const;

  private:
    QByteArray path_;
    int fd_ = -1;
    int open_error_ = 0;
    file_identity identity_;
};
