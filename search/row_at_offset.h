#pragma once
// Maps a position in texts stored back to back to the row that holds it. Row starts never
// decrease and hits come in increasing order, so a gallop forward from the row of the
// previous hit takes a few steps, not a pass over every row.
#include <algorithm>
#include <cstddef>
#include <cstdint>

// The last row of [from, e) that starts at or before `pos`, given that row `from` does.
inline std::uint32_t row_at(const std::uint32_t* offsets, std::uint32_t from, std::uint32_t e,
                            std::size_t pos) {
    std::uint32_t lo = from;
    std::uint32_t step = 1;
    std::uint32_t hi = e;
    while (e - lo > step) {
        if (offsets[lo + step] > pos) {
            hi = lo + step;
            break;
        }
        lo += step;
        step *= 2;
    }
    return static_cast<std::uint32_t>(std::upper_bound(offsets + lo + 1, offsets + hi, pos) -
                                      offsets - 1);
}
