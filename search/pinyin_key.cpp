#include "search/pinyin_key.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QM_KEY_AVX2 1
#endif
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QM_KEY_SSE2 1
#endif

namespace {

#include "search/pinyin_key_table.inc"

constexpr std::uint8_t other_character = 0x01;
constexpr std::uint8_t lead_mark = 0xC0;
constexpr std::uint8_t trail_mark = 0x80;

char16_t table_code(char32_t cp) {
    // Most names hold ideographs of the first range; it is tried before the search.
    const pinyin_key_range& main = pinyin_key_ranges[1];
    if (cp >= main.first && cp <= main.last) return main.codes[cp - main.first];
    const auto* end = std::end(pinyin_key_ranges);
    const auto* r =
        std::upper_bound(std::begin(pinyin_key_ranges), end, cp,
                         [](char32_t c, const pinyin_key_range& x) { return c < x.first; });
    if (r == std::begin(pinyin_key_ranges)) return pinyin_key_none;
    --r;
    return cp <= r->last ? r->codes[cp - r->first] : pinyin_key_none;
}

void append_code_point(char32_t cp, std::vector<std::uint8_t>& out) {
    if (cp < 0x80) {
        if (cp < 0x20)
            out.push_back(other_character);
        else if (cp >= u'A' && cp <= u'Z')
            out.push_back(static_cast<std::uint8_t>(cp + 32));
        else
            out.push_back(static_cast<std::uint8_t>(cp));
        return;
    }
    const char16_t code = table_code(cp);
    if (code >= u'a' && code <= u'z') {
        out.push_back(static_cast<std::uint8_t>(code));
    } else if (code >= pinyin_key_first_set) {
        const unsigned id = code - pinyin_key_first_set;
        out.push_back(static_cast<std::uint8_t>(lead_mark | (id >> 6)));
        out.push_back(static_cast<std::uint8_t>(trail_mark | (id & 63u)));
    } else {
        out.push_back(other_character);
    }
}

bool is_lead(std::uint8_t b) {
    return (b & lead_mark) == lead_mark;
}

std::uint32_t set_letters(const std::uint8_t* lead) {
    const unsigned id = (unsigned{lead[0] & 63u} << 6) | (lead[1] & 63u);
    return id < std::size(pinyin_key_sets) ? pinyin_key_sets[id] : 0;
}

// A place where a hit of `query` may start: its first character, or any polyphone.
bool candidate(std::uint8_t b, std::uint8_t first) {
    return b == first || is_lead(b);
}

#ifdef QM_KEY_AVX2
__attribute__((target("avx2"))) std::size_t candidates_avx2(const std::uint8_t* d, std::size_t i,
                                                            std::size_t limit, std::uint8_t first,
                                                            std::uint32_t& mask) {
    const __m256i f = _mm256_set1_epi8(static_cast<char>(first));
    const __m256i lead = _mm256_set1_epi8(static_cast<char>(lead_mark));
    for (; limit - i >= 32; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i hit = _mm256_or_si256(_mm256_cmpeq_epi8(x, f),
                                            _mm256_cmpeq_epi8(_mm256_and_si256(x, lead), lead));
        mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
        if (mask) return i;
    }
    mask = 0;
    return i;
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

// The first place in [from, limit) where a hit may start, or limit.
std::size_t next_candidate(const std::uint8_t* d, std::size_t from, std::size_t limit,
                           std::uint8_t first) {
    std::size_t i = from;
#ifdef QM_KEY_AVX2
    if (has_avx2()) {
        std::uint32_t mask = 0;
        i = candidates_avx2(d, i, limit, first, mask);
        if (mask) return i + static_cast<std::size_t>(std::countr_zero(mask));
    }
#endif
#ifdef QM_KEY_SSE2
    const __m128i f = _mm_set1_epi8(static_cast<char>(first));
    const __m128i lead = _mm_set1_epi8(static_cast<char>(lead_mark));
    for (; limit - i >= 16; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(x, f), _mm_cmpeq_epi8(_mm_and_si128(x, lead), lead))));
        if (mask) return i + static_cast<std::size_t>(std::countr_zero(mask));
    }
#endif
    for (; i < limit; ++i)
        if (candidate(d[i], first)) return i;
    return limit;
}

// The row of [from, e) whose key holds `pos`, given that row `from` starts at or before it.
std::uint32_t row_of(const std::uint32_t* offsets, std::uint32_t from, std::uint32_t e,
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

} // namespace

void append_pinyin_key(QStringView text, std::vector<std::uint8_t>& out) {
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t cp = s[i];
        if (QChar::isHighSurrogate(cp) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            cp = QChar::surrogateToUcs4(s[i], s[i + 1]);
            ++i;
        }
        append_code_point(cp, out);
    }
}

pinyin_key pinyin_key::build(const text_arena_view& names, std::uint32_t rows) {
    pinyin_key k;
    k.offsets_.reserve(std::size_t{rows} + 1);
    // Most characters take one byte; the rest is grown into.
    k.data_.reserve(names.size + rows + names.size / 8);
    for (std::uint32_t r = 0; r < rows; ++r) {
        k.offsets_.push_back(static_cast<std::uint32_t>(k.data_.size()));
        const std::uint16_t len = names.lengths ? names.lengths[r] : null_text_length;
        if (len != null_text_length && std::size_t{names.offsets[r]} + len <= names.size)
            append_pinyin_key(QStringView(names.data + names.offsets[r], len), k.data_);
        k.data_.push_back(0);
    }
    k.offsets_.push_back(static_cast<std::uint32_t>(k.data_.size()));
    k.data_.shrink_to_fit();
    return k;
}

pinyin_key_view pinyin_key::view() const {
    if (offsets_.empty()) return {};
    return {data_.data(), offsets_.data(), static_cast<std::uint32_t>(offsets_.size() - 1)};
}

std::size_t pinyin_key::memory_bytes() const {
    return data_.capacity() + offsets_.capacity() * sizeof(std::uint32_t);
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

bool pinyin_key_starts_with(const std::uint8_t* key, std::string_view query) {
    // The closing 0 of the record matches no query character, so the walk stops there.
    for (const char ch : query) {
        const auto c = static_cast<std::uint8_t>(ch);
        const std::uint8_t b = *key;
        if (b < trail_mark) {
            if (b != c) return false;
            ++key;
        } else {
            if (c < 'a' || c > 'z' || !is_lead(b) || !((set_letters(key) >> (c - 'a')) & 1u))
                return false;
            key += 2;
        }
    }
    return true;
}

void pinyin_key_contains(const pinyin_key_view& key, std::string_view query, std::uint32_t b,
                         std::uint32_t e, std::uint8_t* out) {
    e = std::min(e, key.rows);
    if (b >= e || query.empty() || !key.data) return;
    const std::uint8_t first = static_cast<std::uint8_t>(query.front());
    const std::uint8_t* d = key.data;
    const std::size_t limit = key.offsets[e];
    std::size_t pos = key.offsets[b];
    std::uint32_t row = b;
    while (pos < limit) {
        pos = next_candidate(d, pos, limit, first);
        if (pos >= limit) break;
        if (!pinyin_key_starts_with(d + pos, query)) {
            pos += is_lead(d[pos]) ? 2 : 1;
            continue;
        }
        row = row_of(key.offsets, row, e, pos);
        out[row] = 1;
        pos = key.offsets[row + 1];
    }
}
