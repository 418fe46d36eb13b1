#include "retrieval/core/copy_read_back.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::int64_t read_fully(int fd, char* data, std::int64_t size, std::int64_t offset) {
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, static_cast<std::size_t>(size - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

read_back_result read_back_block(int fd, int direct_fd, std::int64_t offset,
                                 std::span<const char> written, std::span<char> scratch) {
    const auto size = static_cast<std::int64_t>(written.size());
    if (size == 0) return {};
    std::int64_t got = -1;
    if (direct_fd >= 0) {
        // Whole sectors: the file's end answers the short count.
        const std::int64_t whole = (size + 4095) / 4096 * 4096;
        if (static_cast<std::int64_t>(scratch.size()) < whole)
            return {read_back_outcome::unreadable, offset};
        got = read_fully(direct_fd, scratch.data(), whole, offset);
    } else {
        if (static_cast<std::int64_t>(scratch.size()) < size)
            return {read_back_outcome::unreadable, offset};
        // Clean pages (already written back) are dropped; the read that follows goes to the card.
        ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                        POSIX_FADV_DONTNEED);
        got = read_fully(fd, scratch.data(), size, offset);
        ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                        POSIX_FADV_DONTNEED);
    }
    if (got < size) return {read_back_outcome::unreadable, offset + std::max<std::int64_t>(got, 0)};
    if (std::memcmp(scratch.data(), written.data(), static_cast<std::size_t>(size)) == 0) return {};
    const auto at = std::mismatch(written.begin(), written.end(), scratch.begin()).first;
    return {read_back_outcome::differs, offset + (at - written.begin())};
}
