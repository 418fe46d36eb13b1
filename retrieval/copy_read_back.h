#pragma once
// Reads a copied block back from the card, not from memory, and compares it with what was
// written. Cards whose controller claims more than the flash holds drop writes without an
// error, and failing cards return flipped bits; only a block that reads back equal is whole.
//
// The block's pages are flushed and dropped from the page cache first (POSIX_FADV_DONTNEED),
// so the read reaches the device. That holds for file systems the kernel drives itself; a
// FUSE file system reads its device through the kernel's cache, so what it returns may be
// what was written, not what the card kept: there, copies cannot be verified.
#include <cstdint>
#include <span>

enum class read_back_outcome { equal, differs, unreadable };

struct read_back_result {
    read_back_outcome outcome = read_back_outcome::equal;
    std::int64_t first_difference = -1; // from the start of the file, when it differs
};

// Reads `written.size()` bytes at `offset` of the open file `fd` back from its device into
// `scratch` (at least as large) and compares them with `written`. The range must already be
// written back (fdatasync or sync_file_range's wait).
read_back_result read_back_block(int fd, std::int64_t offset, std::span<const char> written,
                                 std::span<char> scratch);

// Whether reading back through the open folder `folder_fd` reaches the device: false on FUSE.
bool read_back_reaches_device(int folder_fd);
