#include "retrieval/copy_read_back.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

read_back_result read_back_block(int fd, std::int64_t offset, std::span<const char> written,
                                 std::span<char> scratch) {
    const auto size = static_cast<std::int64_t>(written.size());
    if (size == 0) return {};
    if (static_cast<std::int64_t>(scratch.size()) < size)
        return {read_back_outcome::unreadable, -1};
    // Clean pages (already written back) are dropped; the read that follows goes to the card.
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_DONTNEED);
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, scratch.data() + done, static_cast<std::size_t>(size - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {read_back_outcome::unreadable, offset + done};
        done += n;
    }
    ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_DONTNEED);
    if (std::memcmp(scratch.data(), written.data(), static_cast<std::size_t>(size)) == 0) return {};
    const auto at = std::mismatch(written.begin(), written.end(), scratch.begin()).first;
    return {read_back_outcome::differs, offset + (at - written.begin())};
}

bool read_back_reaches_device(int folder_fd) {
    struct statfs fs {};
    constexpr long fuse_magic = 0x65735546;
    return ::fstatfs(folder_fd, &fs) != 0 || static_cast<long>(fs.f_type) != fuse_magic;
}
