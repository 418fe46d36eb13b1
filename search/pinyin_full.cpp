#include "search/pinyin_full.h"
#include "search/code_point_ranges.h"
#include "search/cpu_avx2.h"
#include "search/key_byte_sets.h"
#include "search/row_at_offset.h"

#include <QChar>
#include <algorithm>
#include <bit>
#include <iterator>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QM_FULL_AVX2 1
#endif

namespace {

using namespace key_bytes;

#include "search/pinyin_readings_table.inc"

char16_t readings_code(char32_t cp) {
    return code_in_ranges(pinyin_readings_ranges, cp, pinyin_readings_none);
}

std::span<const std::uint16_t> readings(char32_t cp) {
    const char16_t code = readings_code(cp);
    if (code < pinyin_readings_first_set) return {};
    const std::size_t set = code - pinyin_readings_first_set;
    if (set + 1 >= std::size(pinyin_reading_set_starts)) return {};
    return std::span<const std::uint16_t>(pinyin_reading_set_ids)
        .subspan(pinyin_reading_set_starts[set],
                 pinyin_reading_set_starts[set + 1] - pinyin_reading_set_starts[set]);
}

bool is_syllable(std::string_view s) {
    return std::binary_search(std::begin(pinyin_syllables), std::end(pinyin_syllables), s);
}

// Whether some syllable begins with `s`.
bool begins_syllable(std::string_view s) {
    const auto* it = std::lower_bound(std::begin(pinyin_syllables), std::end(pinyin_syllables), s);
    return it != std::end(pinyin_syllables) && it->starts_with(s);
}

bool two_letter_initial(std::string_view s) {
    return s.size() >= 2 && s[1] == 'h' && (s[0] == 'z' || s[0] == 'c' || s[0] == 's');
}

// About how many characters of everyday names begin with one of `letters`, per thousand:
// the initials of common characters, and Latin letters as initials of nothing.
unsigned how_common(std::uint32_t letters) {
    static constexpr std::uint8_t per_thousand[26] = {
        //  a   b   c   d  e   f   g   h  i   j   k   l   m   n  o   p   q   r   s   t  u  v
        5, 40, 30, 70, 5, 25, 45, 50, 2, 70, 20, 60, 35, 20, 1, 15, 40, 15, 90, 30, 2, 2,
        //  w   x    y   z
        35, 60, 100, 90};
    unsigned sum = 0;
    for (unsigned c = 0; c < 26; ++c)
        if ((letters >> c) & 1u) sum += per_thousand[c];
    return sum;
}

// Which key bytes a set of letters accepts: the letters themselves (Latin in a name) and the
// codes of the key whose letters meet the set.
byte_set accepted_bytes(std::uint32_t letters, const pinyin_key& key) {
    byte_set s;
    for (unsigned c = 0; c < 26; ++c)
        if ((letters >> c) & 1u) s.add('a' + c);
    for (unsigned b = 0x80; b < 0x100; ++b)
        if (key.code_letters(static_cast<std::uint8_t>(b)) & letters) s.add(b);
    return s;
}

#ifdef QM_FULL_AVX2
struct nibble_registers {
    __m256i low_rows, high_rows, bit_of_high;
};

__attribute__((target("avx2"))) inline nibble_registers registers_of(const nibble_tables& t) {
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(t.low_rows)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(t.high_rows)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(t.bit_of_high))};
}

__attribute__((target("avx2"))) inline __m256i accepts(__m256i x, const nibble_registers& t) {
    return key_bytes::accepts(x, t.low_rows, t.high_rows, t.bit_of_high);
}

// The first block of 32 places in [i, last] with a place p whose characters p and p + second
// are in their sets, with a mask of those places; the place where the rest begins and no mask
// when there is none.
__attribute__((target("avx2"))) std::size_t
next_block_avx2(const std::uint8_t* d, std::size_t i, std::size_t last, const nibble_tables& first,
                std::size_t second, const nibble_tables& other, std::uint32_t& mask) {
    const nibble_registers f = registers_of(first);
    const nibble_registers o = registers_of(other);
    for (; i <= last && last - i >= 31; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + second));
        mask = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_and_si256(accepts(a, f), accepts(z, o))));
        if (mask) return i;
    }
    mask = 0;
    return i;
}
#endif

} // namespace

std::span<const std::uint16_t> pinyin_readings_of(char32_t cp) {
    return readings(cp);
}

std::string_view pinyin_syllable(std::uint16_t index) {
    return index < std::size(pinyin_syllables) ? pinyin_syllables[index] : std::string_view();
}

std::optional<pinyin_full_query> pinyin_full_query::compile(QStringView typed) {
    const std::size_t n = static_cast<std::size_t>(typed.size());
    if (n < 2 || n > 63) return std::nullopt;
    pinyin_full_query q;
    for (const QChar c : typed) {
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z') {
            q.text_.push_back(static_cast<char>(u + 32));
        } else if (u >= u'a' && u <= u'z') {
            q.text_.push_back(static_cast<char>(u));
        } else {
            return std::nullopt;
        }
    }
    const std::string_view t = q.text_;
    // Splits over the syllables of the language: a piece [i, j) ahead of others is a letter,
    // a two-letter initial or a syllable; the last one any beginning of a syllable. Every
    // letter alone is a piece too (Latin in a name), so every place can be finished from.
    auto inner = [&](std::size_t i, std::size_t j) {
        return j == i + 1 || (j == i + 2 && two_letter_initial(t.substr(i))) ||
               is_syllable(t.substr(i, j - i));
    };
    auto last = [&](std::size_t i) { return n - i == 1 || begins_syllable(t.substr(i)); };
    std::uint64_t reach = 1; // offsets after `pieces` pieces
    bool longer_piece = false;
    std::size_t shortest = 0; // pieces of the shortest split into two or more
    for (std::size_t pieces = 1; reach != 0 && (shortest == 0 || !longer_piece); ++pieces) {
        std::uint64_t next = 0;
        for (std::uint64_t r = reach; r; r &= r - 1) {
            const auto i = static_cast<std::size_t>(std::countr_zero(r));
            if (pieces < max_lead + 1) q.lead_[pieces - 1] |= 1u << (t[i] - 'a');
            if (pieces >= 2 && last(i)) {
                if (shortest == 0) shortest = pieces;
                longer_piece = longer_piece || n - i >= 2;
            }
            for (std::size_t j = i + 1; j < n; ++j)
                if (inner(i, j)) {
                    next |= std::uint64_t{1} << j;
                    longer_piece = longer_piece || j - i >= 2;
                }
        }
        reach = next;
    }
    if (!longer_piece) return std::nullopt;
    q.lead_count_ = static_cast<unsigned>(std::min<std::size_t>(shortest, max_lead));
    q.common_.resize(std::size(pinyin_syllables) * n);
    for (std::size_t id = 0; id < std::size(pinyin_syllables); ++id)
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view reading = pinyin_syllables[id];
            std::size_t l = 0;
            while (l < reading.size() && i + l < n && reading[l] == t[i + l]) ++l;
            q.common_[id * n + i] = static_cast<std::uint8_t>(l);
        }
    return q;
}

bool pinyin_full_applies(QStringView typed) {
    return pinyin_full_query::compile(typed).has_value();
}

bool pinyin_full_query::matches_at(std::u16string_view s, std::size_t u) const {
    const std::size_t n = text_.size();
    const std::string_view t = text_;
    const std::uint64_t done = std::uint64_t{1} << n;
    std::uint64_t reached = 1; // offsets of the text the characters so far end a piece at
    for (unsigned chars = 1; reached != 0 && u < s.size(); ++chars) {
        char32_t cp = s[u++];
        if (QChar::isHighSurrogate(cp) && u < s.size() && QChar::isLowSurrogate(s[u]))
            cp = QChar::surrogateToUcs4(static_cast<char16_t>(cp), s[u++]);
        std::uint64_t next = 0;
        if (cp < 0x80) {
            const char c =
                cp >= u'A' && cp <= u'Z' ? static_cast<char>(cp + 32) : static_cast<char>(cp);
            for (std::uint64_t r = reached; r; r &= r - 1) {
                const auto i = static_cast<std::size_t>(std::countr_zero(r));
                if (t[i] == c) next |= std::uint64_t{1} << (i + 1);
            }
        } else {
            for (const std::uint16_t id : readings(cp)) {
                const std::uint8_t* common = common_.data() + std::size_t{id} * n;
                const std::string_view reading = pinyin_syllables[id];
                const bool initial_of_two = two_letter_initial(reading);
                for (std::uint64_t r = reached; r; r &= r - 1) {
                    const auto i = static_cast<std::size_t>(std::countr_zero(r));
                    const std::size_t l = common[i];
                    if (l == 0) continue;
                    if (l == n - i) { // the rest begins the reading: a last piece
                        next |= done;
                        continue;
                    }
                    next |= std::uint64_t{1} << (i + 1);
                    if (l == reading.size()) next |= std::uint64_t{1} << (i + l);
                    if (l >= 2 && initial_of_two) next |= std::uint64_t{1} << (i + 2);
                }
            }
        }
        if ((next & done) && chars >= 2) return true;
        reached = next & ~done;
    }
    return false;
}

void pinyin_full_query::find(const pinyin_key& key, const pinyin_key::name_of_row& names,
                             std::uint32_t b, std::uint32_t e, std::uint8_t* out) const {
    e = std::min(e, key.rows());
    const std::size_t k = lead_count_;
    if (b >= e || k == 0) return;
    const std::uint8_t* d = key.bytes();
    const std::uint32_t* starts = key.row_starts();
    const std::size_t limit = starts[e];
    if (limit - starts[b] < k) return;
    const std::size_t last = limit - k; // the last place a candidate may start
    std::array<byte_set, max_lead> accept;
    for (std::size_t j = 0; j < k; ++j) accept[j] = accepted_bytes(lead_[j], key);

    // First every candidate with its name, whose character is asked of memory at once; the
    // checks after that mostly find it in the cache (names lie far from the key).
    struct place {
        std::uint32_t row;
        std::uint32_t character; // in its row
        std::u16string_view name;
    };
    std::vector<place> places;
    places.reserve(256);
    // Two of the first characters are tried together, the first and the one least often met;
    // the others one by one at each place the two allow.
    std::size_t second = 1;
    for (std::size_t j = 2; j < k; ++j)
        if (how_common(lead_[j]) < how_common(lead_[second])) second = j;
    auto others = [&](std::size_t i) {
        for (std::size_t j = 1; j < k; ++j)
            if (j != second && !accept[j].has(d[i + j])) return false;
        return true;
    };
    std::uint32_t row = b;
    std::u16string_view name = names(b);
    auto take = [&](std::size_t i) {
        if (!others(i)) return;
        const std::uint32_t r = row_at(starts, row, e, i);
        if (r != row) name = names(row = r);
        const auto c = static_cast<std::uint32_t>(i - starts[r]);
        if (c < name.size()) __builtin_prefetch(name.data() + c);
        places.push_back({r, c, name});
    };

    std::size_t i = starts[b];
#ifdef QM_FULL_AVX2
    if (cpu_has_avx2()) {
        const nibble_tables first = tables_of(accept[0]);
        const nibble_tables other = tables_of(accept[second]);
        for (;;) {
            std::uint32_t mask = 0;
            i = next_block_avx2(d, i, last, first, second, other, mask);
            if (!mask) break;
            for (; mask; mask &= mask - 1)
                take(i + static_cast<std::size_t>(std::countr_zero(mask)));
            i += 32;
        }
    }
#endif
    for (; i <= last; ++i)
        if (accept[0].has(d[i]) && accept[second].has(d[i + second])) take(i);

    for (const place& p : places) {
        if (out[p.row - b]) continue;
        const std::u16string_view s = p.name;
        std::size_t unit = p.character;
        if (s.size() !=
            starts[p.row + 1] - starts[p.row] - 1) { // pairs of surrogates, or a new name
            unit = 0;
            for (std::size_t c = p.character; c > 0 && unit < s.size(); --c)
                unit += QChar::isHighSurrogate(s[unit]) && unit + 1 < s.size() &&
                                QChar::isLowSurrogate(s[unit + 1])
                            ? 2
                            : 1;
        }
        if (unit < s.size() && matches_at(s, unit)) out[p.row - b] = 1;
    }
}
