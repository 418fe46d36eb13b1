#include "retrieval/core/copy_read_back.h"

#include "retrieval/core/native_file.h"

#include <algorithm>
#include <cstring>

read_back_result read_back_block(const native_file& file, const native_file& direct,
                                 std::int64_t offset, std::span<const char> written,
                                 std::span<char> scratch) {
    const auto size = static_cast<std::int64_t>(written.size());
    if (size == 0) return {};
    std::int64_t got = -1;
    if (direct.is_open()) {
        // Whole sectors: the file's end answers the short count.
        const std::int64_t whole = (size + 4095) / 4096 * 4096;
        if (static_cast<std::int64_t>(scratch.size()) < whole)
            return {read_back_outcome::unreadable, offset};
        got = direct.read_at(scratch.data(), whole, offset);
    } else {
        if (static_cast<std::int64_t>(scratch.size()) < size)
            return {read_back_outcome::unreadable, offset};
        // Clean pages (already written back) are dropped; the read that follows goes to the card.
        file.drop_cached(offset, size);
        got = file.read_at(scratch.data(), size, offset);
        file.drop_cached(offset, size);
    }
    if (got < size) return {read_back_outcome::unreadable, offset + std::max<std::int64_t>(got, 0)};
    if (std::memcmp(scratch.data(), written.data(), static_cast<std::size_t>(size)) == 0) return {};
    const auto at = std::mismatch(written.begin(), written.end(), scratch.begin()).first;
    return {read_back_outcome::differs, offset + (at - written.begin())};
}
