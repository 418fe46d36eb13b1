// The full-pinyin search over a part of the key (see pinyin_full.h): candidates found by the
// plan's test, 32 places at a time with SIMD where the processor has AVX2 and one by one
// otherwise (and for the rest of a part), then checked on the key where it can answer and
// against the names where it cannot.
#include "search/language/cpu_features.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_full_plan.h"
#include "search/language/pinyin_full_scan_avx2.h"

#include <QChar>
#include <algorithm>
#include <span>

using full_pinyin::accepted_bytes;
using full_pinyin::key_candidate;
using key_bytes::byte_set;

namespace {

// Runs a SIMD scan kernel(i, row, found, room, count) batch after batch, handing each
// candidate to take(at, row), until it stops short of a full batch; answers where the rest
// begins. Room for two blocks: each call hands over 33 or more candidates or ends the scan
// (BM_query_syllable_ai, a candidate in most blocks).
template <class Kernel, class Take>
std::size_t in_batches(std::size_t i, std::uint32_t& row, Kernel&& kernel, Take&& take) {
    constexpr std::size_t room = 64;
    key_candidate found[room];
    for (std::size_t count = room; count + 32 > room;) {
        count = 0;
        i = kernel(i, row, found, room, count);
        for (std::size_t c = 0; c < count; ++c) take(found[c].at, found[c].row);
    }
    return i;
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

// Sets out[row - b] for each candidate whose name matches(name, unit) at its character. The
// names lie far from the key: every candidate's character is asked of memory (prefetch)
// before the first is checked, so the checks mostly find it in the cache.
template <class Matches>
void check_names(const std::uint8_t* d, std::size_t first, std::span<const key_candidate> kept,
                 const pinyin_key::name_of_row& names, std::uint32_t b, std::uint8_t* out,
                 Matches&& matches) {
    struct place {
        std::uint32_t row, character, characters; // the character in its row
        std::u16string_view name;
    };
    std::vector<place> places;
    places.reserve(kept.size());
    for (const key_candidate& c : kept) {
        // The row's bounds from its 0s, still in the cache from the scan.
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
        const std::size_t unit = unit_of_character(p.name, p.character, p.characters);
        if (unit < p.name.size() && matches(p.name, unit)) out[p.row - b] = 1;
    }
}

} // namespace

void pinyin_full_query::find(const pinyin_key& key, const pinyin_key::name_of_row& names,
                             std::uint32_t b, std::uint32_t e, std::uint8_t* out,
                             const std::function<void(std::uint32_t)>* ahead,
                             pinyin_full_way way) const {
    if (syllable_) find_syllable(key, names, b, e, out, ahead, way);
    e = std::min(e, key.rows());
    const std::size_t k = lead_count_;
    if (b >= e || k == 0) return;
    const std::uint8_t* d = key.bytes();
    const std::uint32_t* starts = key.row_starts();
    const std::size_t limit = starts[e];
    if (limit - starts[b] < k) return;
    const std::size_t last = limit - k; // the last place a candidate may start
    const std::shared_ptr<const piece_plan> plan = plan_for(key, way);

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

    const std::size_t first = starts[b];
    std::size_t i = first;
    std::uint32_t row = b;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2() && (!by_pairs || !plan->terms.empty())) {
        namespace avx2 = full_pinyin::avx2;
        i = in_batches(
            i, row,
            [&](std::size_t at, std::uint32_t& r, key_candidate* found, std::size_t room,
                std::size_t& count) {
                if (!by_pairs)
                    return avx2::initial_candidates(d, at, last, plan->initial_tables, second, r,
                                                    found, room, count);
                if (plan->buckets)
                    return avx2::bucket_candidates(d, at, last, *plan->buckets, plan->terms.size(),
                                                   r, found, room, count);
                return avx2::pair_candidates(d, at, last, plan->tables.data(), plan->terms, r,
                                             found, room, count);
            },
            take);
    }
#endif
    for (; i <= last; ++i) {
        if (candidate_at(i)) take(i, row);
        row += d[i] == 0;
    }
    check_names(d, first, kept, names, b, out,
                [&](std::u16string_view s, std::size_t unit) { return matches_at(s, unit); });
}

void pinyin_full_query::find_syllable(const pinyin_key& key, const pinyin_key::name_of_row& names,
                                      std::uint32_t b, std::uint32_t e, std::uint8_t* out,
                                      const std::function<void(std::uint32_t)>* ahead,
                                      pinyin_full_way way) const {
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
    const std::shared_ptr<const piece_plan> plan = plan_for(key, way);
    const byte_set &reads = plan->reads, &exact = plan->exact, &firsts = plan->firsts,
                   &seconds = plan->seconds;
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
    if (cpu_has_avx2()) {
        const key_bytes::nibble_tables* sets = plan->syllable_tables;
        i = in_batches(
            i, row,
            [&](std::size_t at, std::uint32_t& r, key_candidate* found, std::size_t room,
                std::size_t& count) {
                return full_pinyin::avx2::syllable_candidates(d, at, last, sets, seconds, out, b, r,
                                                              found, room, count);
            },
            take);
    }
#endif
    for (; i <= last; ++i) {
        if (reads.has(d[i]) || (firsts.has(d[i]) && seconds.has(d[i + 1]))) take(i, row);
        row += d[i] == 0;
    }
    check_names(d, first, kept, names, b, out, [&](std::u16string_view s, std::size_t u) {
        char32_t cp = s[u];
        if (QChar::isHighSurrogate(cp) && u + 1 < s.size() && QChar::isLowSurrogate(s[u + 1]))
            cp = QChar::surrogateToUcs4(static_cast<char16_t>(cp), s[u + 1]);
        const std::span<const std::uint16_t> ids = pinyin_readings_of(cp);
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
}
