// The pinyin key's codes (see pinyin_key.h): those every key has, those a sample of the rows
// gives the syllables and mixes of readings it holds most, and what each own code stands for
// once the rows are keyed.
#include "search/language/pinyin_key_build.h"

#include <algorithm>

using namespace key_build;

namespace {

// How often a sample of the rows holds each mix of readings (by number), each syllable of a
// character of one initial, and how many sets of initials it meets.
struct sample_counts {
    std::vector<std::uint32_t> seen, read;
    unsigned sets = 0;
};

// 4096 rows, spread evenly: a small part of BM_build_pinyin_key at 1M, and the codes they
// choose only steer a search's speed (BM_query_syllable_*), never its answers.
sample_counts count_sample(const pinyin_key::name_of_row& names, std::uint32_t rows) {
    sample_counts c;
    c.seen.assign(syllable_classes::mix_count() + 1, 0);
    c.read.assign(pinyin_syllable_count(), 0);
    std::vector<bool> set_seen(initial_set_count(), false);
    const std::span<const std::uint16_t> mix_of = syllable_classes::tabled_mixes();
    const std::uint32_t step = std::max<std::uint32_t>(1, rows / 4096);
    for (std::uint32_t r = 0; r < rows; r += step)
        for (const char16_t u : names(r)) {
            const std::size_t at = u - syllable_classes::first_tabled;
            if (at < mix_of.size()) ++c.seen[mix_of[at]];
            if (const int set = initial_set_of(u); set >= 0)
                set_seen[static_cast<std::size_t>(set)] = true;
            const std::span<const std::uint16_t> ids = pinyin_readings_of(u);
            if (!ids.empty() && std::has_single_bit(syllable_classes::letters_of(ids)))
                for (const std::uint16_t id : ids) ++c.read[id];
        }
    c.seen[0] = 0;
    c.sets = static_cast<unsigned>(std::count(set_seen.begin(), set_seen.end(), true));
    return c;
}

struct wanted {
    bool syllable;
    std::uint16_t id;
    std::uint32_t count;
    bool later;
};

// The syllables and mixes that get codes, as many as leave room for the sets of initials the
// sample holds and 8 more (sets it missed): syllables and mixes of readings of several
// letters by how often the sample holds them, then mixes of one letter (a syllable's code
// takes most of their characters).
std::vector<wanted> codes_wanted(const sample_counts& c) {
    const unsigned room = set_aside_code - first_code;
    const unsigned budget = room - std::min(room, c.sets + 8);
    std::vector<wanted> order;
    for (std::size_t id = 0; id < c.read.size(); ++id)
        if (c.read[id]) order.push_back({true, static_cast<std::uint16_t>(id), c.read[id], false});
    for (std::size_t m = 1; m < c.seen.size(); ++m)
        if (c.seen[m])
            order.push_back(
                {false, static_cast<std::uint16_t>(m), c.seen[m],
                 std::has_single_bit(
                     syllable_classes::mix_numbered(static_cast<std::uint16_t>(m)).letters)});
    std::stable_sort(order.begin(), order.end(), [](const wanted& a, const wanted& b) {
        return a.later != b.later ? b.later : a.count > b.count;
    });
    order.resize(std::min<std::size_t>(order.size(), budget));
    return order;
}

// The own code of each character of the tabled range, made once rather than per character.
void set_tabled_own_codes(mix_codes& mixes) {
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
            pinyin_readings_of(static_cast<char32_t>(syllable_classes::first_tabled + at)).size() >=
            2;
}

} // namespace

void pinyin_key::set_fixed_codes() {
    for (unsigned c = 0; c < first_code; ++c) {
        const auto b = static_cast<std::uint8_t>(c);
        code_letters_[c] = syllable_classes::letter_of_code(b);
        const unsigned cls = syllable_classes::class_of_code(b);
        if (cls < syllable_classes::count) code_classes_[c] = std::uint64_t{1} << cls;
        if (c >= 'a' && c <= 'z') code_others_[c] = 1u << (c - 'a');
    }
    code_letters_[set_aside_code] = code_others_[set_aside_code] = every_letter;
}

mix_codes pinyin_key::sample_codes(const name_of_row& names, std::uint32_t rows) {
    mix_codes mixes;
    mixes.of_mix.assign(syllable_classes::mix_count() + 1, 0);
    const std::vector<wanted> order = codes_wanted(count_sample(names, rows));
    // Syllables' codes first, those of one letter side by side: a letter's bytes then make
    // few ranges of nibbles (see key_byte_buckets.h).
    const std::size_t syllables = pinyin_syllable_count();
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
        code_syllable_[c] = static_cast<std::uint16_t>(id + 1);
    }
    for (const wanted& w : order) {
        if (w.syllable) continue;
        const auto c = static_cast<std::uint8_t>(mixes.first_local++);
        mixes.of_mix[w.id] = c;
        const syllable_classes::mix& x = syllable_classes::mix_numbered(w.id);
        code_letters_[c] = x.letters;
        code_classes_[c] = x.classes;
        code_others_[c] = x.others;
    }
    if (!own.empty()) set_tabled_own_codes(mixes);
    syllable_code_ = mixes.of_syllable;
    return mixes;
}

void pinyin_key::set_own_code_reads(const mix_codes& mixes, const std::vector<key_part>& parts) {
    // An own code's syllable and the readings of the characters of this catalogue it took; a
    // mix's readings likewise (a local code's are joined with the parts).
    code_reads_.assign(set_aside_code - first_code, {});
    for (std::size_t id = 0; id < mixes.of_syllable.size(); ++id)
        if (const std::uint8_t c = mixes.of_syllable[id])
            code_reads_[c - first_code][id >> 6] |= std::uint64_t{1} << (id & 63);
    for (unsigned c = first_code; c < mixes.first_local; ++c) exact_reads_[c] = true;
    for (const key_part& part : parts)
        for (std::size_t c = 0; c < mixes.first_local - first_code; ++c)
            for (std::size_t w = 0; w < 7; ++w) code_reads_[c][w] |= part.reads[c][w];
    for (unsigned c = first_code; c < set_aside_code; ++c) {
        if (code_syllable_[c] == 0) continue;
        code_letters_[c] = 1u << (pinyin_syllable(code_syllable_[c] - 1)[0] - 'a');
        for (std::size_t w = 0; w < 7; ++w)
            for (std::uint64_t bits = code_reads_[c - first_code][w]; bits; bits &= bits - 1) {
                const auto r = static_cast<std::uint16_t>(64 * w + std::countr_zero(bits));
                const unsigned cls =
                    syllable_classes::class_of_code(syllable_classes::code_of_syllable(r));
                if (cls < syllable_classes::count)
                    code_classes_[c] |= std::uint64_t{1} << cls;
                else
                    code_others_[c] |= 1u << (pinyin_syllable(r)[0] - 'a');
            }
    }
}
