#include "search/language/pinyin_full.h"
#include "search/language/code_point_ranges.h"
#include "search/language/cpu_features.h"
#include "search/language/key_byte_buckets.h"
#include "search/language/key_byte_sets.h"
#include "search/language/pinyin_syllable_classes.h"

#include <QChar>
#include <algorithm>
#include <atomic>
#include <bit>
#include <iterator>
#include <vector>

namespace {

using namespace key_bytes;

std::atomic<int> forced_way{-1};
std::atomic<bool> forced_portable{false};

#include "search/language/pinyin_readings_table.inc"

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

// Where the pieces a reading gives from offset i of a text of n letters end (bit n: the
// text is done), given that the reading (`size` letters) and the text from i have their
// first `common` letters in common.
inline std::uint64_t piece_ends(std::size_t common, std::size_t size, bool initial_of_two,
                                std::size_t i, std::size_t n) {
    if (common == 0) return 0;
    std::uint64_t ends = std::uint64_t{1} << (i + 1);   // its first letter
    if (common == n - i) ends |= std::uint64_t{1} << n; // the rest begins it: a last piece
    if (common == size) ends |= std::uint64_t{1} << (i + common);
    if (common >= 2 && initial_of_two) ends |= std::uint64_t{1} << (i + 2);
    return ends;
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
    for (unsigned b = 0; b < 0x100; ++b)
        if (key.code_letters(static_cast<std::uint8_t>(b)) & letters) s.add(b);
    return s;
}

// The unit of `s` where its character `character` begins, given that its key had
// `characters` characters.
std::size_t unit_of_character(std::u16string_view s, std::size_t character,
                              std::size_t characters) {
    if (s.size() == characters) return character;
    std::size_t unit = 0; // pairs of surrogates, or a new name
    for (std::size_t c = character; c > 0 && unit < s.size(); --c)
        unit += QChar::isHighSurrogate(s[unit]) && unit + 1 < s.size() &&
                        QChar::isLowSurrogate(s[unit + 1])
                    ? 2
                    : 1;
    return unit;
}

// A place of the key where a match may begin, and its row.
struct key_candidate {
    std::uint32_t at, row;
};

#ifdef QM_X86_SIMD
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

// A byte vector's nibbles, made once for all the sets it is tried against.
struct nibbles {
    __m256i low, select, bit;
};

__attribute__((target("avx2"))) inline nibbles nibbles_of(__m256i x) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    const __m256i bit_of_high =
        _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                         32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    return {_mm256_and_si256(x, nibble), _mm256_slli_epi16(hi, 4),
            _mm256_shuffle_epi8(bit_of_high, hi)};
}

__attribute__((target("avx2"))) inline __m256i in_set(const nibbles& x, const nibble_registers& t) {
    const __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(t.low_rows, x.low),
                                           _mm256_shuffle_epi8(t.high_rows, x.low), x.select);
    return _mm256_cmpeq_epi8(_mm256_and_si256(row, x.bit), x.bit);
}

// The places of a block's mask into `out` with their rows, counted from the block's 0s.
inline void add_places(std::uint32_t mask, std::uint32_t ends, std::size_t i, std::uint32_t& at_row,
                       key_candidate* out, std::size_t& n) {
    for (; mask; mask &= mask - 1) {
        const auto place = static_cast<unsigned>(std::countr_zero(mask));
        out[n++] = {static_cast<std::uint32_t>(i + place),
                    at_row + static_cast<std::uint32_t>(
                                 std::popcount(ends & ((std::uint32_t{1} << place) - 1)))};
    }
    at_row += static_cast<std::uint32_t>(std::popcount(ends));
}

// Places of [i, last] whose characters are in their sets, 32 at a time, into `out` with their
// rows, until `out` has less room than a block. With Terms 0, character p in tables[0] and
// p + second in tables[1]; else, for one of the pairs (tables[2t], tables[2t + 1]) of `terms`,
// characters p and p + 1. A row ends at each 0 of the key, so the blocks' zeros, counted on
// the way, give every candidate's row without a look at the rows' starts (which lie far
// from the key: a miss or several each). Answers where the rest begins.
template <std::size_t Terms>
__attribute__((target("avx2"))) std::size_t
candidates_avx2(const std::uint8_t* d, std::size_t i, std::size_t last, const nibble_tables* tables,
                std::size_t second, const std::array<byte_set, 2>* terms, std::uint32_t& row,
                key_candidate* out, std::size_t room, std::size_t& count) {
    const __m256i zero = _mm256_setzero_si256();
    // Kept in registers: the stores of candidates might otherwise alias the tables.
    constexpr std::size_t sets = Terms == 0 ? 2 : 2 * Terms;
    nibble_registers in[sets];
    for (std::size_t k = 0; k < sets; ++k) in[k] = registers_of(tables[k]);
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        ask_ahead(d + i);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const auto ends =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, zero)));
        std::uint32_t mask = 0;
        if constexpr (Terms == 0) {
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + second));
            mask = static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_and_si256(accepts(x, in[0]), accepts(y, in[1]))));
        } else {
            // Both characters of a pair from one load: the second's answers, moved down a
            // place, and the next block's first character asked of its set alone.
            const nibbles a = nibbles_of(x);
            const std::uint8_t next = d[i + 32];
            for (std::size_t t = 0; t < Terms; ++t) {
                const auto f =
                    static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, in[2 * t])));
                const auto z =
                    static_cast<std::uint32_t>(_mm256_movemask_epi8(in_set(a, in[2 * t + 1])));
                mask |= f & ((z >> 1) | (std::uint32_t{terms[t][1].has(next)} << 31));
            }
        }
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}

// Places of [i, last] whose character is in `sets[0]`, or in `sets[1]` with the next in
// `sets[2]`, 32 at a time, into `out` with their rows (see candidates_avx2).
__attribute__((target("avx2"))) std::size_t
syllable_candidates_avx2(const std::uint8_t* d, std::size_t i, std::size_t last,
                         const nibble_tables* sets, std::uint32_t& row, key_candidate* out,
                         std::size_t room, std::size_t& count) {
    const __m256i zero = _mm256_setzero_si256();
    const nibble_registers reads = registers_of(sets[0]), first = registers_of(sets[1]),
                           second = registers_of(sets[2]);
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        ask_ahead(d + i);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1));
        const auto ends =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, zero)));
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
            accepts(x, reads), _mm256_and_si256(accepts(x, first), accepts(y, second)))));
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}

// The buckets of each byte of `x`.
__attribute__((target("avx2"))) inline __m256i buckets_in(__m256i x, __m256i by_low,
                                                          __m256i by_high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(by_low, _mm256_and_si256(x, nibble)),
        _mm256_shuffle_epi8(by_high, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
}

// The same for pairs, the sets' bytes dealt into buckets: one lookup of each nibble for all
// the sets, and a pair's two tests joined by the smaller of their bytes (0 unless both hold).
template <std::size_t Terms>
__attribute__((target("avx2"))) std::size_t
pair_candidates_by_buckets(const std::uint8_t* d, std::size_t i, std::size_t last,
                           const byte_buckets& buckets, std::uint32_t& row, key_candidate* out,
                           std::size_t room, std::size_t& count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i by_low = _mm256_load_si256(reinterpret_cast<const __m256i*>(buckets.by_low));
    const __m256i by_high = _mm256_load_si256(reinterpret_cast<const __m256i*>(buckets.by_high));
    __m256i of_set[2 * Terms];
    for (std::size_t k = 0; k < 2 * Terms; ++k)
        of_set[k] = _mm256_set1_epi8(static_cast<char>(buckets.of_set[k]));
    std::uint32_t at_row = row;
    std::size_t n = count;
    for (; i <= last && last - i >= 31 && room - n >= 32; i += 32) {
        ask_ahead(d + i);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const auto ends =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, zero)));
        const __m256i first = buckets_in(x, by_low, by_high);
        const __m256i second = buckets_in(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1)), by_low, by_high);
        __m256i any = zero;
        for (std::size_t t = 0; t < Terms; ++t)
            any =
                _mm256_or_si256(any, _mm256_min_epu8(_mm256_and_si256(first, of_set[2 * t]),
                                                     _mm256_and_si256(second, of_set[2 * t + 1])));
        const auto mask =
            ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(any, zero)));
        add_places(mask, ends, i, at_row, out, n);
    }
    row = at_row;
    count = n;
    return i;
}
#endif

} // namespace

// For one key: where a character with each key byte takes the text on to, from each offset,
// and the pairs of sets the first two characters of a match are tried with.
struct pinyin_full_query::piece_plan {
    // The initials' test alone, each candidate then followed along the key, or the pairs.
    enum class way { initials, initials_followed, pairs } how = way::initials;
    // Offsets reached (bit n: the text is done), at [offset * 256 + byte].
    std::vector<std::uint64_t> ends;
    // The same walk made once: for each set of offsets reached (a state, 1 the first) and
    // byte, the next state (0: none) in the low bits and whether the text is done in the
    // top one; empty where the text has too many states.
    std::vector<std::uint8_t> walk;
    static constexpr unsigned max_states = 127, text_done = 0x80;
    // Whether the key from `at` on (up to its row's closing 0, which ends nothing) holds a
    // match of the text (n letters) of two characters or more, as matches_at asks of a name.
    bool follows(const std::uint8_t* at, std::size_t n) const {
        if (!walk.empty()) {
            // The first three characters without a branch (most candidates fail there): a
            // candidate's second character is never its row's closing 0, so a third can be
            // read, and no state stays none. A first character that ends the text alone is
            // no match.
            const unsigned second = walk[(walk[256 + at[0]] & ~text_done) * 256 + at[1]];
            const unsigned third = walk[(second & ~text_done) * 256 + at[2]];
            if ((second | third) & text_done) return true;
            unsigned state = third;
            for (std::size_t c = 3; state != 0; ++c) {
                const unsigned next = walk[state * 256 + at[c]];
                if (next & text_done) return true;
                state = next;
            }
            return false;
        }
        const std::uint64_t done = std::uint64_t{1} << n;
        std::uint64_t reached = 1;
        for (std::size_t c = 0;; ++c) {
            std::uint64_t next = 0;
            for (std::uint64_t r = reached; r; r &= r - 1)
                next |= ends[static_cast<std::size_t>(std::countr_zero(r)) * 256 + at[c]];
            if ((next & done) && c >= 1) return true;
            reached = next & ~done;
            if (!reached) return false;
        }
    }
    void make_walk(std::size_t n) {
        const std::uint64_t done = std::uint64_t{1} << n;
        std::vector<std::uint64_t> states{0, 1}; // by number; 0 stands for none
        walk.assign(2 * 256, 0);
        for (std::size_t s = 1; s < states.size(); ++s)
            for (unsigned b = 0; b < 256; ++b) {
                std::uint64_t next = 0;
                for (std::uint64_t r = states[s]; r; r &= r - 1)
                    next |= ends[static_cast<std::size_t>(std::countr_zero(r)) * 256 + b];
                const std::uint64_t reached = next & ~done;
                std::size_t to = 0;
                if (reached) {
                    to = static_cast<std::size_t>(std::find(states.begin(), states.end(), reached) -
                                                  states.begin());
                    if (to == states.size()) {
                        if (to > max_states) {
                            walk.clear();
                            return;
                        }
                        states.push_back(reached);
                        walk.resize(walk.size() + 256, 0);
                    }
                }
                walk[s * 256 + b] =
                    static_cast<std::uint8_t>(to | ((next & done) ? text_done : 0u));
            }
    }
    // The bytes that stand for each letter of the text as an initial, but 0xFF (its letters
    // are kept aside): where the key spells the text so, the name matches.
    std::vector<byte_set> spelled;
    // The initials' test: the bytes each of the first characters may be, and which of them is
    // tried with the first (see find).
    std::array<byte_set, max_lead> accept;
    std::size_t second = 1;
#ifdef QM_X86_SIMD
    nibble_tables initial_tables[2];
#endif
    // For each end of a first piece: the bytes that take the text there, and the bytes that
    // go on from there.
    std::vector<std::array<byte_set, 2>> terms;
#ifdef QM_X86_SIMD
    std::vector<nibble_tables> tables; // of terms, two by two
    // The same sets in buckets, where they fit well enough.
    std::optional<byte_buckets> buckets;
#endif
};

std::span<const std::uint16_t> pinyin_readings_of(char32_t cp) {
    return readings(cp);
}

std::size_t pinyin_syllable_count() {
    static_assert(std::size(pinyin_syllables) <= 7 * 64); // a key's bits of syllables
    return std::size(pinyin_syllables);
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
    const auto* whole =
        std::lower_bound(std::begin(pinyin_syllables), std::end(pinyin_syllables), t);
    if (n >= 2 && whole != std::end(pinyin_syllables) && *whole == t)
        q.syllable_ = static_cast<std::uint16_t>(whole - std::begin(pinyin_syllables));
    if (!longer_piece) {
        if (!q.syllable_) return std::nullopt;
        return q; // two letters: find_syllable answers their initials too
    }
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

void pinyin_full_force_way(int way, bool portable) {
    forced_way.store(way, std::memory_order_relaxed);
    forced_portable.store(portable, std::memory_order_relaxed);
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
                    next |= piece_ends(common[i], reading.size(), initial_of_two, i, n);
                }
            }
        }
        if ((next & done) && chars >= 2) return true;
        reached = next & ~done;
    }
    return false;
}

std::shared_ptr<const pinyin_full_query::piece_plan>
pinyin_full_query::plan_for(const pinyin_key& key) const {
    const std::lock_guard<std::mutex> hold(plan_->lock);
    if (plan_->key != &key || !plan_->plan) {
        const int forced = forced_way.load(std::memory_order_relaxed);
        std::shared_ptr<piece_plan> plan = make_plan(key, forced >= 0);
        if (forced >= 0) plan->how = static_cast<piece_plan::way>(std::min(forced, 2));
        // Way 3 also tries each set on its own.
        if (forced == 3) {
            plan->walk.clear();
#ifdef QM_X86_SIMD
            plan->buckets.reset();
#endif
        }
        plan_->plan = std::move(plan);
        plan_->key = &key;
    }
    return plan_->plan;
}

std::shared_ptr<pinyin_full_query::piece_plan> pinyin_full_query::make_plan(const pinyin_key& key,
                                                                            bool whole) const {
    auto plan = std::make_shared<piece_plan>();
    // Places of a sample of the key: 64 runs of 128, spread over it.
    const std::uint8_t* d = key.bytes();
    const std::size_t size = key.rows() ? key.row_starts()[key.rows()] : 0;
    const std::size_t k = lead_count_;
    auto each_sampled = [&](auto&& fn) {
        constexpr std::size_t windows = 64, window = 128;
        for (std::size_t w = 0; w < windows; ++w) {
            const std::size_t from = (size - 64) * w / windows;
            for (std::size_t p = from; p < std::min(from + window, size - max_lead); ++p) fn(p);
        }
    };
    for (const char c : text_) {
        byte_set s = accepted_bytes(1u << (c - 'a'), key);
        s.bits[3] &= ~(std::uint64_t{1} << 63);
        plan->spelled.push_back(s);
    }
    std::array<byte_set, max_lead>& accept = plan->accept;
    for (std::size_t j = 0; j < k; ++j) accept[j] = accepted_bytes(lead_[j], key);
    // Two of the first characters are tried together, the first and the one least often met;
    // the others one by one at each place the two allow.
    for (std::size_t j = 2; j < k; ++j)
        if (how_common(lead_[j]) < how_common(lead_[plan->second])) plan->second = j;
#ifdef QM_X86_SIMD
    plan->initial_tables[0] = tables_of(accept[0]);
    plan->initial_tables[1] = tables_of(accept[plan->second]);
#endif
    auto initial_at = [&](std::size_t p) {
        for (std::size_t j = 0; j < k; ++j)
            if (!accept[j].has(d[p + j])) return false;
        return true;
    };
    if (k == 0 || (size < 64 && !whole)) return plan;
    // Rare initials: their candidates cost less than the rest of the plan.
    if (!whole) {
        std::size_t initials = 0, places = 0;
        each_sampled([&](std::size_t p) { ++places, initials += initial_at(p); });
        if (initials * 1000 < places) return plan;
    }

    const std::size_t n = text_.size();
    const std::uint64_t done = std::uint64_t{1} << n;
    // Where each initial's syllables and each class's take the text, from each offset.
    std::vector<std::uint64_t> by_letter(26 * n, 0), by_class(syllable_classes::count * n, 0);
    for (std::size_t id = 0; id < std::size(pinyin_syllables); ++id) {
        const std::string_view reading = pinyin_syllables[id];
        const bool initial_of_two = two_letter_initial(reading);
        const unsigned cls = syllable_classes::class_of_code(
            syllable_classes::code_of_syllable(static_cast<std::uint16_t>(id)));
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t ends =
                piece_ends(common_[id * n + i], reading.size(), initial_of_two, i, n);
            by_letter[std::size_t(reading[0] - 'a') * n + i] |= ends;
            if (cls < syllable_classes::count) by_class[cls * n + i] |= ends;
        }
    }
    plan->ends.assign(n * 256, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t* ends = plan->ends.data() + i * 256;
        for (unsigned b = 1; b < 256; ++b) {
            const auto x = static_cast<std::uint8_t>(b);
            // A letter may be Latin too.
            if (static_cast<unsigned char>(text_[i]) == b) ends[b] = std::uint64_t{1} << (i + 1);
            for (std::uint64_t c = key.code_classes(x); c; c &= c - 1)
                ends[b] |= by_class[static_cast<std::size_t>(std::countr_zero(c)) * n + i];
            for (std::uint32_t l = key.code_other_letters(x); l; l &= l - 1)
                ends[b] |= by_letter[static_cast<std::size_t>(std::countr_zero(l)) * n + i];
        }
    }
    plan->make_walk(n);
    // One pair of sets for each place a first piece ends at; a first character that ends
    // the text alone is no match.
    std::uint64_t firsts = 0;
    for (unsigned b = 0; b < 256; ++b) firsts |= plan->ends[b];
    firsts &= ~done;
    for (std::uint64_t f = firsts; f; f &= f - 1) {
        const auto o = static_cast<std::size_t>(std::countr_zero(f));
        std::array<byte_set, 2> term;
        for (unsigned b = 0; b < 256; ++b) {
            if ((plan->ends[b] >> o) & 1u) term[0].add(b);
            if (plan->ends[o * 256 + b]) term[1].add(b);
        }
        plan->terms.push_back(term);
    }
    // Few enough pairs to try at once: the last ones (the longest first pieces) together.
    constexpr std::size_t max_terms = 4;
    while (plan->terms.size() > max_terms) {
        const std::array<byte_set, 2> t = plan->terms.back();
        plan->terms.pop_back();
        for (std::size_t j = 0; j < 2; ++j)
            for (std::size_t w = 0; w < 4; ++w) plan->terms.back()[j].bits[w] |= t[j].bits[w];
    }
    // A sample of the key says which way costs less: the initials' test as find makes it,
    // each candidate a look at a name (far from the key, so a miss of the cache or three);
    // the same with each candidate first followed along the key; or the pairs, which cost
    // more per place, merged where that costs less. Costs in nanoseconds of a core, as
    // measured on this kind of machine: a look at a name 150, a candidate followed along the
    // key 20, each set beyond the initials' two 0.02 a place.
    constexpr double name_cost = 150, follow_cost = 20, set_cost = 0.02;
    std::vector<std::uint32_t> groups; // terms merged into each pair, one bit each
    for (std::size_t t = 0; t < plan->terms.size(); ++t) groups.push_back(1u << t);
    std::array<std::uint32_t, 256> count{}; // of each byte in the sample
    std::size_t places = 0;
    if (size >= 64) {
        std::size_t initials = 0, followed = 0;
        // Places some merging of the terms would take: terms whose first set holds the first
        // character, and terms whose second holds the second.
        std::vector<std::pair<std::uint8_t, std::uint8_t>> maybe;
        each_sampled([&](std::size_t p) {
            ++places, ++count[d[p]];
            const bool all = initial_at(p);
            initials += all;
            if (all) followed += plan->follows(d + p, n);
            std::uint8_t first = 0, second = 0;
            for (std::size_t t = 0; t < plan->terms.size(); ++t) {
                first |= static_cast<std::uint8_t>(plan->terms[t][0].has(d[p]) << t);
                second |= static_cast<std::uint8_t>(plan->terms[t][1].has(d[p + 1]) << t);
            }
            if (first && second) maybe.emplace_back(first, second);
        });
        auto pairs_cost = [&](const std::vector<std::uint32_t>& g) {
            std::size_t candidates = 0;
            for (const auto& pair : maybe)
                candidates += std::any_of(g.begin(), g.end(), [&](std::uint32_t m) {
                    return (pair.first & m) && (pair.second & m);
                });
            return set_cost * static_cast<double>(places * 2 * (g.size() - 1)) +
                   follow_cost * static_cast<double>(candidates) +
                   name_cost * static_cast<double>(followed);
        };
        const double by_initials = name_cost * static_cast<double>(initials);
        const double followed_on =
            follow_cost * static_cast<double>(initials) + name_cost * static_cast<double>(followed);
        double by_pairs = groups.empty() ? by_initials + followed_on : pairs_cost(groups);
        // Two pairs merged while that costs less.
        for (bool better = true; better && groups.size() > 1;) {
            better = false;
            std::vector<std::uint32_t> best;
            for (std::size_t x = 0; x < groups.size(); ++x)
                for (std::size_t y = x + 1; y < groups.size(); ++y) {
                    std::vector<std::uint32_t> g = groups;
                    g[x] |= g[y];
                    g.erase(g.begin() + static_cast<std::ptrdiff_t>(y));
                    const double c = pairs_cost(g);
                    if (c < by_pairs) by_pairs = c, best = std::move(g), better = true;
                }
            if (better) groups = std::move(best);
        }
        if (!groups.empty() && by_pairs < std::min(by_initials, followed_on))
            plan->how = piece_plan::way::pairs;
        else if (followed_on < by_initials)
            plan->how = piece_plan::way::initials_followed;
    }
    std::vector<std::array<byte_set, 2>> merged;
    for (const std::uint32_t g : groups) {
        std::array<byte_set, 2> m;
        for (std::uint32_t t = g; t; t &= t - 1)
            for (std::size_t j = 0; j < 2; ++j)
                for (std::size_t w = 0; w < 4; ++w)
                    m[j].bits[w] |=
                        plan->terms[static_cast<std::size_t>(std::countr_zero(t))][j].bits[w];
        merged.push_back(m);
    }
    plan->terms = std::move(merged);
#ifdef QM_X86_SIMD
    std::vector<byte_set> sets;
    for (const auto& t : plan->terms) {
        plan->tables.push_back(tables_of(t[0]));
        plan->tables.push_back(tables_of(t[1]));
        sets.push_back(t[0]), sets.push_back(t[1]);
    }
    // Buckets cost about 2 of the 5 steps of a set less a place; merged ones hold more bytes,
    // each place they add a candidate followed.
    if (plan->how == piece_plan::way::pairs || whole) {
        std::optional<byte_buckets> b = buckets_of(sets, count, whole ? 256 : 32);
        if (b && !b->exact && !whole) {
            std::size_t added = 0;
            each_sampled([&](std::size_t p) {
                bool exact = false, loose = false;
                for (std::size_t t = 0; t < plan->terms.size(); ++t) {
                    exact |= plan->terms[t][0].has(d[p]) && plan->terms[t][1].has(d[p + 1]);
                    loose |= b->has(2 * t, d[p]) && b->has(2 * t + 1, d[p + 1]);
                }
                added += loose && !exact;
            });
            if (follow_cost * static_cast<double>(added) >=
                0.4 * set_cost * static_cast<double>(sets.size() * places))
                b.reset();
        }
        plan->buckets = b;
    }
#endif
    return plan;
}

void pinyin_full_query::find(const pinyin_key& key, const pinyin_key::name_of_row& names,
                             std::uint32_t b, std::uint32_t e, std::uint8_t* out,
                             const std::function<void(std::uint32_t)>* ahead) const {
    if (syllable_) find_syllable(key, names, b, e, out, ahead);
    e = std::min(e, key.rows());
    const std::size_t k = lead_count_;
    if (b >= e || k == 0) return;
    const std::uint8_t* d = key.bytes();
    const std::uint32_t* starts = key.row_starts();
    const std::size_t limit = starts[e];
    if (limit - starts[b] < k) return;
    const std::size_t last = limit - k; // the last place a candidate may start
    const std::shared_ptr<const piece_plan> plan = plan_for(key);

    // First every candidate with its name, whose character is asked of memory at once; the
    // checks after that mostly find it in the cache (names lie far from the key).
    struct place {
        std::uint32_t row;
        std::uint32_t character; // in its row
        std::uint32_t characters;
        std::u16string_view name;
    };
    std::vector<place> places;
    places.reserve(256);
    const std::size_t first = starts[b];
    auto take_place = [&](std::size_t at, std::uint32_t row) {
        // The row's bounds from its 0s, still in the cache from the scan.
        std::size_t from = at, to = at;
        while (from > first && d[from - 1] != 0) --from;
        while (d[to] != 0) ++to;
        const std::u16string_view name = names(row);
        const auto c = static_cast<std::uint32_t>(at - from);
        if (c < name.size()) __builtin_prefetch(name.data() + c);
        places.push_back({row, c, static_cast<std::uint32_t>(to - from), name});
    };

    const bool by_pairs = plan->how == piece_plan::way::pairs;
    const std::array<byte_set, max_lead>& accept = plan->accept;
    const std::size_t second = plan->second;
    const bool follow = by_pairs || plan->how == piece_plan::way::initials_followed;
    auto others = [&](std::size_t at) {
        for (std::size_t j = 1; j < k; ++j)
            if (j != second && !accept[j].has(d[at + j])) return false;
        return true;
    };
    const std::size_t n = text_.size();
    auto spelled_at = [&](std::size_t at) {
        for (std::size_t j = 0; j < n; ++j) // the row's 0 spells nothing
            if (!plan->spelled[j].has(d[at + j])) return false;
        return true;
    };
    // Candidates the key lets through, their names asked of memory together.
    std::vector<key_candidate> kept;
    auto take = [&](std::size_t at, std::uint32_t row) {
        if (out[row - b]) return;
        // Where the key spells the text initial by initial, the name matches unread
        // (catalogue_bench full_pinyin_love, "love" in 5 % of names: 10M 23.8 -> 12.5 ms).
        if (spelled_at(at)) {
            out[row - b] = 1;
            return;
        }
        if ((by_pairs || others(at)) && (!follow || plan->follows(d + at, n))) {
            kept.push_back({static_cast<std::uint32_t>(at), row});
            if (ahead) (*ahead)(row);
        }
    };
    auto candidate_at = [&](std::size_t at) {
        if (!by_pairs) return accept[0].has(d[at]) && accept[second].has(d[at + second]);
        for (const auto& t : plan->terms)
            if (t[0].has(d[at]) && t[1].has(d[at + 1])) return true;
        return false;
    };

    std::size_t i = first;
    std::uint32_t row = b;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2() && !forced_portable.load(std::memory_order_relaxed) &&
        (!by_pairs || !plan->terms.empty())) {
        const nibble_tables* t = by_pairs ? plan->tables.data() : plan->initial_tables;
        const std::array<byte_set, 2>* pairs = plan->terms.data();
        constexpr std::size_t room = 64;
        key_candidate found[room];
        for (std::size_t count = room; count + 32 > room;) {
            count = 0;
            if (by_pairs && plan->buckets) {
                const byte_buckets& bk = *plan->buckets;
                switch (plan->terms.size()) {
                case 1:
                    i = pair_candidates_by_buckets<1>(d, i, last, bk, row, found, room, count);
                    break;
                case 2:
                    i = pair_candidates_by_buckets<2>(d, i, last, bk, row, found, room, count);
                    break;
                case 3:
                    i = pair_candidates_by_buckets<3>(d, i, last, bk, row, found, room, count);
                    break;
                default:
                    i = pair_candidates_by_buckets<4>(d, i, last, bk, row, found, room, count);
                    break;
                }
            } else
                switch (by_pairs ? plan->terms.size() : 0) {
                case 0:
                    i = candidates_avx2<0>(d, i, last, t, second, pairs, row, found, room, count);
                    break;
                case 1:
                    i = candidates_avx2<1>(d, i, last, t, 1, pairs, row, found, room, count);
                    break;
                case 2:
                    i = candidates_avx2<2>(d, i, last, t, 1, pairs, row, found, room, count);
                    break;
                case 3:
                    i = candidates_avx2<3>(d, i, last, t, 1, pairs, row, found, room, count);
                    break;
                default:
                    i = candidates_avx2<4>(d, i, last, t, 1, pairs, row, found, room, count);
                    break;
                }
            for (std::size_t c = 0; c < count; ++c) take(found[c].at, found[c].row);
        }
    }
#endif
    for (; i <= last; ++i) {
        if (candidate_at(i)) take(i, row);
        row += d[i] == 0;
    }
    for (const key_candidate& c : kept) take_place(c.at, c.row);

    for (const place& p : places) {
        if (out[p.row - b]) continue;
        const std::u16string_view s = p.name;
        const std::size_t unit = unit_of_character(s, p.character, p.characters);
        if (unit < s.size() && matches_at(s, unit)) out[p.row - b] = 1;
    }
}

void pinyin_full_query::find_syllable(const pinyin_key& key, const pinyin_key::name_of_row& names,
                                      std::uint32_t b, std::uint32_t e, std::uint8_t* out,
                                      const std::function<void(std::uint32_t)>* ahead) const {
    e = std::min(e, key.rows());
    if (b >= e) return;
    const std::uint8_t* d = key.bytes();
    const std::uint32_t* starts = key.row_starts();
    const std::size_t first = starts[b], limit = starts[e];
    const std::uint16_t id = *syllable_;
    // Two letters split only into initials, which this search answers too; a longer text's
    // initials are among what the rest of find answers.
    const bool pair = lead_count_ == 0 && text_.size() == 2;
    if (lead_count_ == 0 && !pair) key.contains(text_, b, e, out);
    // Bytes that may stand for a character of this reading, and those that always do: the
    // syllable's own code, whose places need no look at the name.
    byte_set reads, exact, firsts, seconds;
    for (unsigned c = 1; c < 256; ++c) {
        if (key.may_read(static_cast<std::uint8_t>(c), id)) reads.add(c);
        if (key.always_reads(static_cast<std::uint8_t>(c), id)) exact.add(c);
    }
    if (pair) {
        firsts = accepted_bytes(1u << (text_[0] - 'a'), key);
        seconds = accepted_bytes(1u << (text_[1] - 'a'), key);
    }
    std::vector<key_candidate> kept;
    auto take = [&](std::size_t at, std::uint32_t row) {
        if (out[row - b]) return;
        const std::uint8_t x = d[at], y = d[at + 1];
        if (exact.has(x) || (pair && firsts.has(x) && seconds.has(y) &&
                             (x != 0xFF || key.letter_at(at, text_[0])) &&
                             (y != 0xFF || key.letter_at(at + 1, text_[1])))) {
            out[row - b] = 1;
            return;
        }
        if (reads.has(x)) {
            kept.push_back({static_cast<std::uint32_t>(at), row});
            if (ahead) (*ahead)(row);
        }
    };
    // Every row ends with a 0, which is no candidate: the places end before the last one, so
    // the next character can always be read.
    if (limit - first < 2) return;
    const std::size_t last = limit - 2;
    std::size_t i = first;
    std::uint32_t row = b;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2() && !forced_portable.load(std::memory_order_relaxed)) {
        const nibble_tables sets[3] = {tables_of(reads), tables_of(firsts), tables_of(seconds)};
        constexpr std::size_t room = 64;
        key_candidate found[room];
        for (std::size_t count = room; count + 32 > room;) {
            count = 0;
            i = syllable_candidates_avx2(d, i, last, sets, row, found, room, count);
            for (std::size_t c = 0; c < count; ++c) take(found[c].at, found[c].row);
        }
    }
#endif
    for (; i <= last; ++i) {
        if (reads.has(d[i]) || (firsts.has(d[i]) && seconds.has(d[i + 1]))) take(i, row);
        row += d[i] == 0;
    }

    // The names of the candidates the key leaves, asked of memory together.
    struct place {
        std::uint32_t row, character, characters;
        std::u16string_view name;
    };
    std::vector<place> places;
    places.reserve(kept.size());
    for (const key_candidate& c : kept) {
        std::size_t from = c.at, to = c.at;
        while (from > first && d[from - 1] != 0) --from;
        while (d[to] != 0) ++to;
        const std::u16string_view name = names(c.row);
        const auto character = static_cast<std::uint32_t>(c.at - from);
        if (character < name.size()) __builtin_prefetch(name.data() + character);
        places.push_back({c.row, character, static_cast<std::uint32_t>(to - from), name});
    }
    for (const place& p : places) {
        if (out[p.row - b]) continue;
        const std::u16string_view s = p.name;
        std::size_t u = unit_of_character(s, p.character, p.characters);
        if (u >= s.size()) continue;
        char32_t cp = s[u];
        if (QChar::isHighSurrogate(cp) && u + 1 < s.size() && QChar::isLowSurrogate(s[u + 1]))
            cp = QChar::surrogateToUcs4(static_cast<char16_t>(cp), s[u + 1]);
        const std::span<const std::uint16_t> ids = readings(cp);
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) out[p.row - b] = 1;
    }
}
