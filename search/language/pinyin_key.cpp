#include "search/language/pinyin_key.h"
#include "search/language/code_point_ranges.h"
#include "search/language/cpu_features.h"
#include "search/language/key_byte_sets.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_syllable_classes.h"
#include "search/language/row_at_offset.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <thread>

struct pinyin_key::letter_sets {
    std::array<key_bytes::byte_set, 26> accept;
#ifdef QM_X86_SIMD
    std::array<key_bytes::nibble_tables, 26> tables;
#endif
};

namespace {

using namespace key_bytes;

#include "search/language/pinyin_key_table.inc"

constexpr std::uint8_t other_character = 0x01;
constexpr std::uint8_t first_code = 0x80;
constexpr std::uint8_t set_aside_code = 0xFF;
constexpr std::uint32_t every_letter = (1u << 26) - 1;

char16_t table_code(char32_t cp) {
    return code_in_ranges(pinyin_key_ranges, cp, pinyin_key_none);
}

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

std::uint32_t pinyin_initials_of(char32_t cp) {
    const char16_t code = table_code(cp);
    if (code >= u'a' && code <= u'z') return 1u << (code - u'a');
    if (code >= pinyin_key_first_set &&
        static_cast<std::size_t>(code - pinyin_key_first_set) < std::size(pinyin_key_sets))
        return pinyin_key_sets[code - pinyin_key_first_set];
    return 0;
}

namespace {

// Rows [b, e) keyed on their own: a character with several initials and no mix code is
// written as a local code (first_local + index into `sets`), or as set_aside_code with its letters
// in `aside` once 127 local codes are taken. Joining the parts gives the codes their final values.
struct key_part {
    std::uint32_t b = 0, e = 0;
    std::vector<std::uint8_t> data;
    std::vector<std::uint32_t> offsets; // row starts within `data`
    std::vector<std::uint16_t> sets;    // local code -> index into pinyin_key_sets
    std::vector<std::uint32_t> aside;   // letters of each set_aside_code, in order
    // The readings of the characters of more than one that took each own code (from
    // first_code), one bit each.
    std::vector<std::array<std::uint64_t, 7>> reads;
    bool covers = true; // see pinyin_key::covers_initials
};

std::u16string_view text_of_row(const text_arena_view& v, std::uint32_t r) {
    const std::uint16_t len = v.lengths ? v.lengths[r] : null_text_length;
    if (len == null_text_length || std::size_t{v.offsets[r]} + len > v.size) return {};
    return {v.data + v.offsets[r], len};
}

bool printable(char16_t u) {
    return u >= 0x20 && u < 0x7F;
}

char16_t folded(char16_t u) {
    return u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u;
}

// Whether a key character whose readings begin with `letters` (ASCII: the folded character
// itself, `ascii`) takes the initials unit `ini` typed as it stands.
bool takes(char16_t ini, std::uint8_t ascii, std::uint32_t letters) {
    if (!printable(ini)) return true;
    const char16_t u = folded(ini);
    if (letters == 0) return ascii != other_character && u == ascii;
    return u >= u'a' && u <= u'z' && ((letters >> (u - u'a')) & 1u);
}

// Codes given before the parts are keyed: the mixes of readings (see
// pinyin_syllable_classes.h) a sample holds most, from first_code on; local codes follow.
struct mix_codes {
    std::vector<std::uint8_t> of_mix; // by number
    unsigned first_local = first_code;
    // Syllables with codes of their own: the code of each (0: none), how common each is (the
    // lower the commoner), and the code of each character of the tabled range.
    std::vector<std::uint8_t> of_syllable;
    std::vector<std::uint16_t> rank;
    std::vector<std::uint8_t> of_tabled;
    std::vector<bool> many_tabled; // whether each has more than one reading
    // The own code of a character whose readings all begin with `letters` (one letter):
    // that of its commonest syllable with one; 0 for none.
    std::uint8_t own_code(std::span<const std::uint16_t> ids, std::uint32_t letters) const {
        if (!std::has_single_bit(letters) || syllable_classes::letters_of(ids) != letters) return 0;
        std::uint8_t code = 0;
        std::uint16_t best = UINT16_MAX;
        for (const std::uint16_t id : ids)
            if (id < rank.size() && of_syllable[id] != 0 && rank[id] < best)
                best = rank[id], code = of_syllable[id];
        return code;
    }
    std::uint8_t own_code(char32_t cp, std::uint32_t letters) const {
        const std::size_t at = cp - syllable_classes::first_tabled;
        if (at < of_tabled.size()) return of_tabled[at];
        return of_tabled.empty() ? 0 : own_code(pinyin_readings_of(cp), letters);
    }
};

void key_rows(const pinyin_key::name_of_row& names, const text_arena_view* initials,
              const mix_codes& mixes, key_part& part) {
    const unsigned first_local = mixes.first_local;
    std::vector<std::uint8_t> code_of_set(std::size(pinyin_key_sets), 0);
    const std::span<const std::uint8_t> classes = syllable_classes::tabled_characters();
    const std::span<const std::uint16_t> mix_of = syllable_classes::tabled_mixes();
    part.offsets.resize(part.e - part.b);
    // At most one byte per unit of each name, and the row's end: room for names of a usual
    // length, made larger when a name needs it.
    part.data.resize(std::size_t{part.e - part.b} * 16);
    std::uint8_t* out = part.data.data();
    part.covers = initials != nullptr;
    for (std::uint32_t r = part.b; r < part.e; ++r) {
        const auto used = static_cast<std::size_t>(out - part.data.data());
        part.offsets[r - part.b] = static_cast<std::uint32_t>(used);
        const std::u16string_view name = names(r);
        if (part.data.size() - used < name.size() + 1) {
            part.data.resize(std::max(part.data.size() * 2, used + name.size() + 1));
            out = part.data.data() + used;
        }
        std::u16string_view ini;
        if (part.covers) {
            ini = text_of_row(*initials, r);
            // Initials line up with the name unit by unit; others must hold nothing typed.
            if (ini.size() != name.size()) {
                part.covers = std::none_of(ini.begin(), ini.end(), printable);
                ini = {};
            }
        }
        const char16_t* s = name.data();
        const std::size_t len = name.size();
        for (std::size_t i = 0; i < len; ++i) {
            char32_t cp = s[i];
            const char16_t typed = ini.empty() ? u'\0' : ini[i];
            if (cp < 0x80) {
                const std::uint8_t b =
                    cp < 0x20 ? other_character : static_cast<std::uint8_t>(folded(s[i]));
                *out++ = b;
                if (!ini.empty() && !takes(typed, b, 0)) part.covers = false, ini = {};
                continue;
            }
            if (QChar::isHighSurrogate(cp) && i + 1 < len && QChar::isLowSurrogate(s[i + 1])) {
                cp = QChar::surrogateToUcs4(s[i], s[i + 1]);
                ++i;
                if (!ini.empty() && (printable(typed) || printable(ini[i])))
                    part.covers = false, ini = {};
            }
            const char16_t code = table_code(cp);
            std::uint32_t letters = 0;
            std::uint8_t b = other_character;
            const std::size_t at = cp - syllable_classes::first_tabled;
            // A mix's code, when it has one and its initials are the character's (as both
            // tables come from one source).
            std::uint8_t mixed = 0;
            std::uint32_t mix_letters = 0;
            if (at < mix_of.size() && mix_of[at] != 0 && mixes.of_mix[mix_of[at]] != 0) {
                mixed = mixes.of_mix[mix_of[at]];
                mix_letters = syllable_classes::mix_numbered(mix_of[at]).letters;
            }
            if (code >= u'a' && code <= u'z') {
                letters = 1u << (code - u'a');
                const std::uint8_t c =
                    at < classes.size() ? classes[at] : syllable_classes::code_of_character(cp);
                const std::uint8_t own = mixes.own_code(cp, letters);
                if (own != 0 &&
                    (at < mixes.many_tabled.size() ? mixes.many_tabled[at]
                                                   : pinyin_readings_of(cp).size() >= 2)) {
                    part.reads.resize(set_aside_code - first_code);
                    for (const std::uint16_t id : pinyin_readings_of(cp))
                        part.reads[own - first_code][id >> 6] |= std::uint64_t{1} << (id & 63);
                }
                b = own != 0                                                   ? own
                    : c != 0 && syllable_classes::letter_of_code(c) == letters ? c
                    : mixed != 0 && mix_letters == letters                     ? mixed
                                                           : static_cast<std::uint8_t>(code);
            } else if (code >= pinyin_key_first_set) {
                const std::size_t set = code - pinyin_key_first_set;
                letters = pinyin_key_sets[set];
                if (mixed != 0 && mix_letters == letters) {
                    *out++ = mixed;
                    if (!ini.empty() && !takes(typed, mixed, letters))
                        part.covers = false, ini = {};
                    continue;
                }
                if (code_of_set[set] == 0 && part.sets.size() < set_aside_code - first_local) {
                    code_of_set[set] = static_cast<std::uint8_t>(first_local + part.sets.size());
                    part.sets.push_back(static_cast<std::uint16_t>(set));
                }
                b = code_of_set[set];
                if (b == 0) {
                    part.aside.push_back(letters);
                    b = set_aside_code;
                }
            }
            *out++ = b;
            if (!ini.empty() && !takes(typed, b, letters)) part.covers = false, ini = {};
        }
        *out++ = 0;
    }
    part.data.resize(static_cast<std::size_t>(out - part.data.data()));
}

// Runs fn(part index, b, e) over `parts` ranges of [0, rows) on as many threads.
template <typename Fn> void on_parts(std::uint32_t rows, unsigned parts, Fn fn) {
    const auto bound = [&](unsigned i) {
        return static_cast<std::uint32_t>(std::uint64_t{rows} * i / parts);
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < parts; ++i) workers.emplace_back(fn, i, bound(i), bound(i + 1));
    fn(0u, bound(0), bound(1));
    for (std::thread& w : workers) w.join();
}

unsigned part_count(std::uint32_t rows, unsigned threads) {
    if (threads) return std::max(1u, std::min(threads, rows));
    // Below this many rows a thread costs more than it saves.
    constexpr std::uint32_t rows_per_part = 65536;
    // Asked once: the answer reads a system file.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::max(1u, std::min(cores, rows / rows_per_part));
}

} // namespace

pinyin_key pinyin_key::build(const text_arena_view& names, std::uint32_t rows, unsigned threads,
                             const text_arena_view* initials) {
    return build([&names](std::uint32_t r) { return text_of_row(names, r); }, rows, threads,
                 initials);
}

pinyin_key pinyin_key::build(const name_of_row& names, std::uint32_t rows, unsigned threads,
                             const text_arena_view* initials) {
    pinyin_key k;
    for (unsigned c = 0; c < first_code; ++c) {
        const auto b = static_cast<std::uint8_t>(c);
        k.code_letters_[c] = syllable_classes::letter_of_code(b);
        const unsigned cls = syllable_classes::class_of_code(b);
        if (cls < syllable_classes::count) k.code_classes_[c] = std::uint64_t{1} << cls;
        if (c >= 'a' && c <= 'z') k.code_others_[c] = 1u << (c - 'a');
    }
    k.code_letters_[set_aside_code] = k.code_others_[set_aside_code] = every_letter;

    // Syllables and mixes a sample of rows holds most get codes, as many as leave room for the
    // sets of initials the sample holds and 8 more.
    mix_codes mixes;
    mixes.of_mix.assign(syllable_classes::mix_count() + 1, 0);
    {
        std::vector<std::uint32_t> seen(mixes.of_mix.size(), 0);
        const std::size_t syllables = pinyin_syllable_count();
        std::vector<std::uint32_t> read(syllables, 0); // by syllable
        std::vector<bool> set_seen(std::size(pinyin_key_sets), false);
        const std::span<const std::uint16_t> mix_of = syllable_classes::tabled_mixes();
        const std::uint32_t step = std::max<std::uint32_t>(1, rows / 4096);
        for (std::uint32_t r = 0; r < rows; r += step)
            for (const char16_t u : names(r)) {
                const std::size_t at = u - syllable_classes::first_tabled;
                if (at < mix_of.size()) ++seen[mix_of[at]];
                const char16_t code = table_code(u);
                if (code >= pinyin_key_first_set) set_seen[code - pinyin_key_first_set] = true;
                const std::span<const std::uint16_t> ids = pinyin_readings_of(u);
                if (!ids.empty() && std::has_single_bit(syllable_classes::letters_of(ids)))
                    for (const std::uint16_t id : ids) ++read[id];
            }
        seen[0] = 0;
        const auto sets = static_cast<unsigned>(std::count(set_seen.begin(), set_seen.end(), true));
        const unsigned room = set_aside_code - first_code;
        const unsigned budget = room - std::min(room, sets + 8);
        // Syllables and mixes of readings of several letters by how often the sample holds
        // them, then mixes of one letter (a syllable's code takes most of their characters).
        struct wanted {
            bool syllable;
            std::uint16_t id;
            std::uint32_t count;
            bool later;
        };
        std::vector<wanted> order;
        for (std::size_t id = 0; id < syllables; ++id)
            if (read[id]) order.push_back({true, static_cast<std::uint16_t>(id), read[id], false});
        for (std::size_t m = 1; m < seen.size(); ++m)
            if (seen[m])
                order.push_back(
                    {false, static_cast<std::uint16_t>(m), seen[m],
                     std::has_single_bit(
                         syllable_classes::mix_numbered(static_cast<std::uint16_t>(m)).letters)});
        std::stable_sort(order.begin(), order.end(), [](const wanted& a, const wanted& b) {
            return a.later != b.later ? b.later : a.count > b.count;
        });
        order.resize(std::min<std::size_t>(order.size(), budget));
        // Syllables' codes first, those of one letter side by side: a letter's bytes then make
        // few ranges of nibbles (see key_byte_buckets.h).
        mixes.of_syllable.assign(syllables, 0);
        mixes.rank.assign(syllables, UINT16_MAX);
        std::vector<std::uint16_t> own;
        for (std::size_t i = 0; i < order.size(); ++i)
            if (order[i].syllable) {
                own.push_back(order[i].id);
                mixes.rank[order[i].id] = static_cast<std::uint16_t>(i);
            }
        std::stable_sort(own.begin(), own.end(), [](std::uint16_t a, std::uint16_t b) {
            return pinyin_syllable(a)[0] < pinyin_syllable(b)[0];
        });
        for (const std::uint16_t id : own) {
            const auto c = static_cast<std::uint8_t>(mixes.first_local++);
            mixes.of_syllable[id] = c;
            k.code_syllable_[c] = static_cast<std::uint16_t>(id + 1);
        }
        for (const wanted& w : order) {
            if (w.syllable) continue;
            const auto c = static_cast<std::uint8_t>(mixes.first_local++);
            mixes.of_mix[w.id] = c;
            const syllable_classes::mix& x = syllable_classes::mix_numbered(w.id);
            k.code_letters_[c] = x.letters;
            k.code_classes_[c] = x.classes;
            k.code_others_[c] = x.others;
        }
        if (!own.empty()) {
            const std::size_t tabled = syllable_classes::tabled_characters().size();
            std::vector<std::uint8_t> of_tabled(tabled);
            for (std::size_t at = 0; at < tabled; ++at) {
                const auto cp = static_cast<char32_t>(syllable_classes::first_tabled + at);
                of_tabled[at] = mixes.own_code(pinyin_readings_of(cp), pinyin_initials_of(cp));
            }
            mixes.of_tabled = std::move(of_tabled);
            mixes.many_tabled.resize(tabled);
            for (std::size_t at = 0; at < tabled; ++at)
                mixes.many_tabled[at] =
                    pinyin_readings_of(static_cast<char32_t>(syllable_classes::first_tabled + at))
                        .size() >= 2;
        }
        k.syllable_code_ = mixes.of_syllable;
    }

    const unsigned n = part_count(rows, threads);
    std::vector<key_part> parts(n);
    on_parts(rows, n, [&](unsigned i, std::uint32_t b, std::uint32_t e) {
        parts[i].b = b;
        parts[i].e = e;
        key_rows(names, initials, mixes, parts[i]);
    });

    // What each own code may stand for: its syllable, and the other readings of the
    // characters of this catalogue it took.
    if (!mixes.of_tabled.empty()) {
        k.code_reads_.assign(set_aside_code - first_code, {});
        for (std::size_t id = 0; id < mixes.of_syllable.size(); ++id)
            if (const std::uint8_t c = mixes.of_syllable[id])
                k.code_reads_[c - first_code][id >> 6] |= std::uint64_t{1} << (id & 63);
        for (const key_part& part : parts)
            for (std::size_t c = 0; c < part.reads.size(); ++c)
                for (std::size_t w = 0; w < 7; ++w) k.code_reads_[c][w] |= part.reads[c][w];
        for (unsigned c = first_code; c < set_aside_code; ++c) {
            if (k.code_syllable_[c] == 0) continue;
            k.code_letters_[c] = 1u << (pinyin_syllable(k.code_syllable_[c] - 1)[0] - 'a');
            for (std::size_t w = 0; w < 7; ++w)
                for (std::uint64_t bits = k.code_reads_[c - first_code][w]; bits;
                     bits &= bits - 1) {
                    const auto r = static_cast<std::uint16_t>(64 * w + std::countr_zero(bits));
                    const unsigned cls =
                        syllable_classes::class_of_code(syllable_classes::code_of_syllable(r));
                    if (cls < syllable_classes::count)
                        k.code_classes_[c] |= std::uint64_t{1} << cls;
                    else
                        k.code_others_[c] |= 1u << (pinyin_syllable(r)[0] - 'a');
                }
        }
    }

    // Codes in the order the sets first occur, part after part; a part's own code becomes the
    // final one, or set_aside_code with its letters kept by position once codes run out.
    const unsigned first_local = mixes.first_local;
    std::vector<std::uint8_t> code_of_set(std::size(pinyin_key_sets), 0);
    unsigned next_code = first_local;
    std::vector<std::array<std::uint8_t, 128>> remap(n);
    std::vector<std::size_t> base(n + 1, 0);
    for (unsigned i = 0; i < n; ++i) {
        remap[i].fill(set_aside_code);
        for (std::size_t c = 0; c < parts[i].sets.size(); ++c) {
            const std::uint16_t set = parts[i].sets[c];
            if (code_of_set[set] == 0 && next_code < set_aside_code) {
                code_of_set[set] = static_cast<std::uint8_t>(next_code);
                k.code_letters_[next_code] = k.code_others_[next_code] = pinyin_key_sets[set];
                ++next_code;
            }
            if (code_of_set[set] != 0) remap[i][c] = code_of_set[set];
        }
        base[i + 1] = base[i] + parts[i].data.size();
    }
    k.data_.resize(base[n]);
    k.offsets_.resize(std::size_t{rows} + 1);
    k.offsets_[rows] = static_cast<std::uint32_t>(base[n]);
    std::vector<std::vector<set_aside>> aside(n);
    on_parts(rows, n, [&](unsigned i, std::uint32_t, std::uint32_t) {
        const key_part& part = parts[i];
        for (std::size_t r = 0; r < part.offsets.size(); ++r)
            k.offsets_[part.b + r] = static_cast<std::uint32_t>(base[i] + part.offsets[r]);
        std::uint8_t* out = k.data_.data() + base[i];
        std::size_t next_aside = 0;
        for (std::size_t j = 0; j < part.data.size(); ++j) {
            const std::uint8_t c = part.data[j];
            if (c < first_local) {
                out[j] = c;
                continue;
            }
            std::uint32_t letters;
            if (c == set_aside_code) {
                letters = part.aside[next_aside++];
            } else {
                out[j] = remap[i][c - first_local];
                if (out[j] != set_aside_code) continue;
                letters = pinyin_key_sets[part.sets[c - first_local]];
            }
            out[j] = set_aside_code;
            aside[i].push_back({static_cast<std::uint32_t>(base[i] + j), letters});
        }
    });
    for (const auto& a : aside) k.set_aside_.insert(k.set_aside_.end(), a.begin(), a.end());
    auto sets = std::make_shared<letter_sets>();
    for (char c = 'a'; c <= 'z'; ++c) {
        sets->accept[static_cast<std::size_t>(c - 'a')] = accepted_bytes(c, k.code_letters_);
#ifdef QM_X86_SIMD
        sets->tables[static_cast<std::size_t>(c - 'a')] =
            tables_of(sets->accept[static_cast<std::size_t>(c - 'a')]);
#endif
    }
    k.letter_sets_ = std::move(sets);
    k.covers_initials_ =
        std::all_of(parts.begin(), parts.end(), [](const key_part& p) { return p.covers; });
    return k;
}

std::size_t pinyin_key::memory_bytes() const {
    return data_.capacity() + offsets_.capacity() * sizeof(std::uint32_t) +
           set_aside_.capacity() * sizeof(set_aside) + syllable_code_.capacity() +
           code_reads_.capacity() * sizeof(code_reads_[0]) + sizeof(code_letters_) +
           sizeof(code_classes_) + sizeof(code_others_);
}

bool pinyin_key::may_read(std::uint8_t code, std::uint16_t id) const {
    if (code_syllable_[code] != 0)
        return (code_reads_[code - first_code][id >> 6] >> (id & 63)) & 1u;
    const std::string_view reading = pinyin_syllable(id);
    if (reading.empty()) return false;
    const std::uint32_t letter = 1u << (reading[0] - 'a');
    // A character of one initial letter with this reading takes the syllable's own code.
    const std::uint32_t letters = code_letters_[code] | (code_others_[code] & letter);
    if (id < syllable_code_.size() && syllable_code_[id] != 0 && std::popcount(letters) <= 1)
        return false;
    const unsigned cls = syllable_classes::class_of_code(syllable_classes::code_of_syllable(id));
    return (code_others_[code] & letter) != 0 ||
           (cls < syllable_classes::count && ((code_classes_[code] >> cls) & 1u));
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
