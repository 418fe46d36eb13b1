// The pinyin key's build (see pinyin_key.h): codes chosen from a sample of the rows, the
// rows keyed in parts on several threads, and the parts joined into one key.
#include "app/shell/run_parts.h"
#include "search/language/code_point_ranges.h"
#include "search/language/pinyin_key_build.h"

#include <QChar>
#include <algorithm>
#include <bit>
#include <cstdint>

using namespace key_build;

namespace {

#include "search/language/pinyin_key_table.inc"

char16_t table_code(char32_t cp) {
    return code_in_ranges(pinyin_key_ranges, cp, pinyin_key_none);
}

} // namespace

std::uint32_t pinyin_initials_of(char32_t cp) {
    const char16_t code = table_code(cp);
    if (code >= u'a' && code <= u'z') return 1u << (code - u'a');
    if (code >= pinyin_key_first_set &&
        static_cast<std::size_t>(code - pinyin_key_first_set) < std::size(pinyin_key_sets))
        return pinyin_key_sets[code - pinyin_key_first_set];
    return 0;
}

namespace key_build {

std::size_t initial_set_count() {
    return std::size(pinyin_key_sets);
}

std::uint32_t initial_set_letters(std::size_t set) {
    return pinyin_key_sets[set];
}

int initial_set_of(char32_t cp) {
    const char16_t code = table_code(cp);
    return code >= pinyin_key_first_set ? code - pinyin_key_first_set : -1;
}

} // namespace key_build

namespace {

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
    part.reads.resize(set_aside_code - first_code);
    // The readings of a character keyed as code `c` (from first_code), which a search for
    // one syllable asks of the key rather than of the name.
    auto note_reads = [&part](std::uint8_t c, char32_t cp) {
        for (const std::uint16_t id : pinyin_readings_of(cp))
            part.reads[c - first_code][id >> 6] |= std::uint64_t{1} << (id & 63);
    };
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
                                                   : pinyin_readings_of(cp).size() >= 2))
                    note_reads(own, cp);
                b = own != 0                                                   ? own
                    : c != 0 && syllable_classes::letter_of_code(c) == letters ? c
                    : mixed != 0 && mix_letters == letters                     ? mixed
                                                           : static_cast<std::uint8_t>(code);
                if (b == mixed) note_reads(mixed, cp);
            } else if (code >= pinyin_key_first_set) {
                const std::size_t set = code - pinyin_key_first_set;
                letters = pinyin_key_sets[set];
                if (mixed != 0 && mix_letters == letters) {
                    note_reads(mixed, cp);
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
                } else {
                    note_reads(b, cp);
                }
            }
            *out++ = b;
            if (!ini.empty() && !takes(typed, b, letters)) part.covers = false, ini = {};
        }
        *out++ = 0;
    }
    part.data.resize(static_cast<std::size_t>(out - part.data.data()));
}

// Parts of at least 65536 rows when the cores are asked: below that a thread costs more
// than it saves (BM_build_pinyin_key).
unsigned part_count(std::uint32_t rows, unsigned threads) {
    if (threads) return std::max(1u, std::min(threads, rows));
    return parts_for(rows, 65536);
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
    k.set_fixed_codes();
    const mix_codes mixes = k.sample_codes(names, rows);
    const unsigned n = part_count(rows, threads);
    std::vector<key_part> parts(n);
    run_parts(rows, n, [&](unsigned i, std::uint32_t b, std::uint32_t e) {
        parts[i].b = b;
        parts[i].e = e;
        key_rows(names, initials, mixes, parts[i]);
    });
    k.set_own_code_reads(mixes, parts);
    k.join_parts(parts, mixes.first_local);
    k.make_letter_sets();
    k.covers_initials_ =
        std::all_of(parts.begin(), parts.end(), [](const key_part& p) { return p.covers; });
    return k;
}

// Codes in the order the sets first occur, part after part; a part's own code becomes the
// final one, or set_aside_code with its letters kept by position once codes run out.
void pinyin_key::join_parts(const std::vector<key_part>& parts, unsigned first_local) {
    const auto n = static_cast<unsigned>(parts.size());
    const std::uint32_t rows = parts.empty() ? 0 : parts.back().e;
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
                code_letters_[next_code] = code_others_[next_code] = pinyin_key_sets[set];
                ++next_code;
            }
            if (code_of_set[set] == 0) continue;
            const std::uint8_t to = remap[i][c] = code_of_set[set];
            exact_reads_[to] = true;
            for (std::size_t w = 0; w < 7; ++w)
                code_reads_[to - first_code][w] |= parts[i].reads[first_local - first_code + c][w];
        }
        base[i + 1] = base[i] + parts[i].data.size();
    }
    data_.resize(base[n]);
    offsets_.resize(std::size_t{rows} + 1);
    offsets_[rows] = static_cast<std::uint32_t>(base[n]);
    std::vector<std::vector<set_aside>> aside(n);
    run_parts(rows, n, [&](unsigned i, std::uint32_t, std::uint32_t) {
        const key_part& part = parts[i];
        for (std::size_t r = 0; r < part.offsets.size(); ++r)
            offsets_[part.b + r] = static_cast<std::uint32_t>(base[i] + part.offsets[r]);
        std::uint8_t* out = data_.data() + base[i];
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
    for (const auto& a : aside) set_aside_.insert(set_aside_.end(), a.begin(), a.end());
}

std::size_t pinyin_key::memory_bytes() const {
    return data_.capacity() + offsets_.capacity() * sizeof(std::uint32_t) +
           set_aside_.capacity() * sizeof(set_aside) + syllable_code_.capacity() +
           code_reads_.capacity() * sizeof(code_reads_[0]) + sizeof(code_letters_) +
           sizeof(code_classes_) + sizeof(code_others_);
}

bool pinyin_key::may_read(std::uint8_t code, std::uint16_t id) const {
    if (exact_reads_[code]) return (code_reads_[code - first_code][id >> 6] >> (id & 63)) & 1u;
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
