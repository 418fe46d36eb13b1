#include "search/language/key_byte_buckets.h"

#include <bit>
#include <limits>
#include <vector>

namespace key_bytes {

namespace {

struct rectangle {
    std::uint16_t highs = 0, lows = 0; // nibbles, one bit each
    std::uint8_t sets = 0;
};

template <class Fn> void each_byte(const rectangle& r, Fn&& fn) {
    for (unsigned h = r.highs; h; h &= h - 1)
        for (unsigned l = r.lows; l; l &= l - 1)
            fn(static_cast<unsigned>(std::countr_zero(h) * 16 + std::countr_zero(l)));
}

} // namespace

std::optional<byte_buckets> buckets_of(std::span<const byte_set> sets,
                                       const std::array<std::uint32_t, 256>& count,
                                       std::size_t most_rectangles) {
    if (sets.size() > 8) return std::nullopt;
    // The sets each byte is in; the buckets will give each byte `cover`, which holds that.
    std::array<std::uint8_t, 256> cover{};
    for (std::size_t s = 0; s < sets.size(); ++s)
        for (unsigned b = 0; b < 256; ++b)
            if (sets[s].has(static_cast<std::uint8_t>(b)))
                cover[b] |= static_cast<std::uint8_t>(1u << s);
    // The bytes of each mix of sets, high nibbles of the same low nibbles in one rectangle.
    std::vector<rectangle> rects;
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t mix = cover[b];
        const unsigned h = b >> 4;
        if (mix == 0) continue;
        bool first = true; // of its mix in its high nibble
        for (unsigned e = h * 16; e < b; ++e) first &= cover[e] != mix;
        if (!first) continue;
        std::uint16_t lows = 0;
        for (unsigned l = 0; l < 16; ++l)
            if (cover[h * 16 + l] == mix) lows |= static_cast<std::uint16_t>(1u << l);
        rectangle* same = nullptr;
        for (rectangle& r : rects)
            if (r.sets == mix && r.lows == lows) same = &r;
        if (same)
            same->highs |= static_cast<std::uint16_t>(1u << h);
        else
            rects.push_back({static_cast<std::uint16_t>(1u << h), lows, mix});
    }
    if (rects.size() > most_rectangles) return std::nullopt;

    byte_buckets out;
    out.exact = rects.size() <= 8;
    // Two merged at a time, those whose merging adds the fewest bytes the key holds.
    while (rects.size() > 8) {
        std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
        std::size_t bi = 0, bj = 1;
        for (std::size_t i = 0; i < rects.size(); ++i)
            for (std::size_t j = i + 1; j < rects.size(); ++j) {
                const rectangle u{static_cast<std::uint16_t>(rects[i].highs | rects[j].highs),
                                  static_cast<std::uint16_t>(rects[i].lows | rects[j].lows),
                                  static_cast<std::uint8_t>(rects[i].sets | rects[j].sets)};
                std::uint64_t cost = 0;
                each_byte(u, [&](unsigned b) {
                    if ((cover[b] | u.sets) != cover[b]) cost += std::uint64_t{count[b]} + 1;
                });
                if (cost < best) best = cost, bi = i, bj = j;
            }
        rectangle& r = rects[bi];
        r.highs |= rects[bj].highs, r.lows |= rects[bj].lows, r.sets |= rects[bj].sets;
        each_byte(r, [&](unsigned b) { cover[b] |= r.sets; });
        rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(bj));
    }
    for (std::size_t k = 0; k < rects.size(); ++k) {
        const auto bit = static_cast<std::uint8_t>(1u << k);
        for (unsigned n = 0; n < 16; ++n) {
            if ((rects[k].highs >> n) & 1u) out.by_high[n] |= bit, out.by_high[n + 16] |= bit;
            if ((rects[k].lows >> n) & 1u) out.by_low[n] |= bit, out.by_low[n + 16] |= bit;
        }
        for (std::size_t s = 0; s < sets.size(); ++s)
            if ((rects[k].sets >> s) & 1u) out.of_set[s] |= bit;
    }
    return out;
}

} // namespace key_bytes
