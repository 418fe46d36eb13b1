// The initials search over the pinyin key (see pinyin_key.h): places where the first and
// the last typed characters may stand, 32 at a time with SIMD where the processor has AVX2,
// each checked whole; the row of each hit counted from the key's 0s.
#include "search/language/cpu_features.h"
#include "search/language/key_byte_sets.h"
#include "search/language/pinyin_key_build.h"
#include "search/language/row_at_offset.h"

#include <algorithm>
#include <bit>

using namespace key_bytes;
using key_build::set_aside_code;

struct pinyin_key::letter_sets {
    std::array<key_bytes::byte_set, 26> accept;
#ifdef QM_X86_SIMD
    std::array<key_bytes::nibble_tables, 26> tables;
#endif
};

namespace {

byte_set accepted_bytes(char c, const std::array<std::uint32_t, 256>& code_letters) {
    byte_set s;
    s.add(static_cast<std::uint8_t>(c));
    if (c >= 'a' && c <= 'z')
        for (unsigned k = 0; k < 256; ++k)
            if ((code_letters[k] >> (c - 'a')) & 1u) s.add(k);
    return s;
}

#ifdef QM_X86_SIMD
// Places in [i, last] where both the first and the last query character may stand, 32 at a
// time; answers the first block with one, its mask, and its 0s (rows' ends). `row` goes on by
// the 0s of the blocks passed over.
// Inlined: called once per block with a candidate, which for common initials is most blocks.
__attribute__((target("avx2"), always_inline)) inline std::size_t
candidates_avx2(const std::uint8_t* d, std::size_t i, std::size_t last, std::size_t m,
                const nibble_tables& first, const nibble_tables& final, std::uint32_t& mask,
                std::uint32_t& ends, std::uint32_t& row) {
    const __m256i f0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(first.low_rows));
    const __m256i f1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(first.high_rows));
    const __m256i f2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(first.bit_of_high));
    const __m256i z0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(final.low_rows));
    const __m256i z1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(final.high_rows));
    const __m256i z2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(final.bit_of_high));
    const __m256i zero = _mm256_setzero_si256();
    for (; i <= last && last - i >= 31; i += 32) {
        ask_ahead(d + i);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + m - 1));
        ends = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, zero)));
        mask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_and_si256(accepts(a, f0, f1, f2), accepts(z, z0, z1, z2))));
        if (mask) return i;
        row += static_cast<std::uint32_t>(std::popcount(ends));
    }
    mask = 0;
    return i;
}

// The candidates of [i, last] (see candidates_avx2), each checked by hit_at(place) and handed
// with its row to take(row, hit), in order; `row` goes along. A row ends at each 0 of the key,
// so the blocks' 0s, counted on the way, give each hit's row without a look at the rows'
// starts, which lie far from the key. A hit never spans a row's closing 0. Answers where the
// rest must be looked at one place at a time.
template <class Hit, class Take>
__attribute__((target("avx2"))) std::size_t
scan_avx2(const std::uint8_t* d, std::size_t i, std::size_t last, std::size_t m,
          const nibble_tables& first, const nibble_tables& final, std::uint32_t& row, Hit& hit_at,
          Take& take) {
    // Counted in a local the calls below cannot reach, so it stays in a register rather than
    // a store and a load per block.
    std::uint32_t at_row = row;
    while (i <= last) {
        std::uint32_t mask = 0, ends = 0;
        const std::size_t block = candidates_avx2(d, i, last, m, first, final, mask, ends, at_row);
        if (!mask) {
            row = at_row;
            return block;
        }
        while (mask) {
            const auto place = static_cast<unsigned>(std::countr_zero(mask));
            mask &= mask - 1;
            if (!hit_at(block + place))
                continue; // mostly a hit: a pair's first and last are its all
            take(at_row + static_cast<std::uint32_t>(
                              std::popcount(ends & ((std::uint32_t{1} << place) - 1))),
                 true);
        }
        at_row += static_cast<std::uint32_t>(std::popcount(ends));
        i = block + 32;
    }
    row = at_row;
    return i;
}

#endif

} // namespace

void pinyin_key::make_letter_sets() {
    auto sets = std::make_shared<letter_sets>();
    for (char c = 'a'; c <= 'z'; ++c) {
        sets->accept[static_cast<std::size_t>(c - 'a')] = accepted_bytes(c, code_letters_);
#ifdef QM_X86_SIMD
        sets->tables[static_cast<std::size_t>(c - 'a')] =
            tables_of(sets->accept[static_cast<std::size_t>(c - 'a')]);
#endif
    }
    letter_sets_ = std::move(sets);
}

bool pinyin_key::byte_matches(std::size_t position, std::uint8_t c) const {
    const std::uint8_t b = data_[position];
    std::uint32_t letters = code_letters_[b];
    if (letters == 0) return b == c;
    if (c < 'a' || c > 'z') return false;
    if (b == set_aside_code) {
        const auto it =
            std::lower_bound(set_aside_.begin(), set_aside_.end(), position,
                             [](const set_aside& a, std::size_t p) { return a.position < p; });
        letters = it != set_aside_.end() && it->position == position ? it->letters : 0;
    }
    return (letters >> (c - 'a')) & 1u;
}

std::string pinyin_key_query(QStringView typed) {
    std::string q;
    q.reserve(static_cast<std::size_t>(typed.size()));
    for (const QChar c : typed) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7F) return {};
        q.push_back(static_cast<char>(u >= u'A' && u <= u'Z' ? u + 32 : u));
    }
    return q;
}

// Hands take(row, pass) every row of [b, e) that holds `query` (pass true), in increasing
// order, a row possibly more than once; and other rows near them with pass false.
template <class Take>
void pinyin_key::scan(std::string_view query, std::uint32_t b, std::uint32_t e, Take&& take) const {
    e = std::min(e, rows());
    const std::size_t m = query.size();
    if (b >= e || m == 0) return;
    const std::uint8_t* d = data_.data();
    const std::size_t limit = offsets_[e];
    if (limit - offsets_[b] < m) return;
    const std::size_t last = limit - m; // the last place a hit may start
    std::vector<byte_set> accept;
    accept.reserve(m);
    auto letter = [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' : -1; };
    for (const char c : query)
        accept.push_back(letter(c) >= 0 ? letter_sets_->accept[static_cast<std::size_t>(letter(c))]
                                        : accepted_bytes(c, code_letters_));
    auto hit_at = [&](std::size_t i) {
        for (std::size_t k = 0; k < m; ++k) {
            const std::uint8_t x = d[i + k];
            if (!accept[k].has(x)) return false;
            if (x == set_aside_code && !byte_matches(i + k, static_cast<std::uint8_t>(query[k])))
                return false;
        }
        return true;
    };
    std::uint32_t row = b;
    std::size_t i = offsets_[b];
#ifdef QM_X86_SIMD
    // The wide test checks the first and the last character: for a query of two or fewer
    // that is all, but for letters a code set aside holds elsewhere.
    auto wide_hit_at = [&](std::size_t at) {
        return (m <= 2 && d[at] != set_aside_code && d[at + m - 1] != set_aside_code) || hit_at(at);
    };
    auto tables = [&](char c, const byte_set& s) {
        return letter(c) >= 0 ? letter_sets_->tables[static_cast<std::size_t>(letter(c))]
                              : tables_of(s);
    };
    if (cpu_has_avx2())
        i = scan_avx2(d, i, last, m, tables(query.front(), accept.front()),
                      tables(query.back(), accept.back()), row, wide_hit_at, take);
#endif
    for (; i <= last; ++i) {
        if (!hit_at(i)) continue;
        row = row_at(offsets_.data(), row, e, i);
        take(row, true);
        i = std::size_t{offsets_[row + 1]} - 1; // the row's other hits add nothing
    }
}

void pinyin_key::contains(std::string_view query, std::uint32_t b, std::uint32_t e,
                          std::uint8_t* out) const {
    scan(query, b, e,
         [&](std::uint32_t row, bool pass) { out[row - b] |= static_cast<std::uint8_t>(pass); });
}

std::size_t pinyin_key::contains_rows(std::string_view query, std::uint32_t b, std::uint32_t e,
                                      std::uint32_t* rows) const {
    std::size_t n = 0;
    std::uint32_t taken = UINT32_MAX; // the last row taken; rows are below it
    scan(query, b, e, [&](std::uint32_t row, bool pass) {
        rows[n] = row;
        const bool add = pass & (row != taken);
        n += add;
        taken = add ? row : taken;
    });
    return n;
}
