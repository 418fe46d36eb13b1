// The plan of a full-pinyin search on one key: the tables that follow a text along key
// bytes, the sets the first characters are tried with, and a cost model, fed by a sample of
// the key, that picks the way of finding candidates (see pinyin_full.h).
#include "search/language/pinyin_full_plan.h"
#include "search/language/pinyin_full_rule.h"
#include "search/language/pinyin_syllable_classes.h"

#include <algorithm>
#include <bit>

using key_bytes::byte_set;
using plan_t = pinyin_full_query::piece_plan;

namespace full_pinyin {

byte_set accepted_bytes(std::uint32_t letters, const pinyin_key& key) {
    byte_set s;
    for (unsigned c = 0; c < 26; ++c)
        if ((letters >> c) & 1u) s.add('a' + c);
    for (unsigned b = 0; b < 0x100; ++b)
        if (key.code_letters(static_cast<std::uint8_t>(b)) & letters) s.add(b);
    return s;
}

} // namespace full_pinyin

namespace {

using full_pinyin::accepted_bytes;

// The cost model, in nanoseconds of a core as measured on this kind of machine (2 cores,
// 1M records of bench/catalogue_bench):
// a look at a name far from the key, a cache miss or three: 150 (BM_query_full_pinyin_wodear);
constexpr double name_cost = 150;
// a candidate followed along the key by the state machine, in the cache: 20
// (BM_query_full_pinyin_yinyue, whose candidates by initials are mostly followed away);
constexpr double follow_cost = 20;
// each set tested beyond the initials' two, per place of the key: 0.02
// (BM_query_full_pinyin_yinyue, 2 to 8 sets on every place).
constexpr double set_cost = 0.02;

// Places of a sample of the key: 64 runs of 128 (8192 places, about 0.05 ms once per search
// and key, under 2 % of BM_query_full_pinyin_yinyue), spread over the key so that a catalogue
// sorted by folder still shows its mix. Only for keys of 64 places or more.
struct key_sample {
    const std::uint8_t* d;
    std::size_t size;
    explicit key_sample(const pinyin_key& key)
        : d(key.bytes()), size(key.rows() ? key.row_starts()[key.rows()] : 0) {}
    template <class Fn> void each(Fn&& fn) const {
        constexpr std::size_t windows = 64, window = 128;
        for (std::size_t w = 0; w < windows; ++w) {
            const std::size_t from = (size - 64) * w / windows;
            for (std::size_t p = from;
                 p < std::min(from + window, size - pinyin_full_query::max_lead); ++p)
                fn(p);
        }
    }
};

// About how many characters of everyday names begin with one of `letters`, per thousand:
// the initials of common characters, and Latin letters as initials of nothing. Only orders
// the first characters, so rough figures do (BM_query_full_pinyin_wodeairen tries "w" with
// the rarer of "d", "a").
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

// The initials' tests: the text spelled initial by initial, and the first k characters' sets,
// two of them tried together (the first and the one least often met), the others one by one
// at each place those allow.
void set_initial_tests(plan_t& plan, std::string_view text,
                       const std::array<std::uint32_t, pinyin_full_query::max_lead>& lead,
                       std::size_t k, const pinyin_key& key) {
    for (const char c : text) {
        byte_set s = accepted_bytes(1u << (c - 'a'), key);
        s.bits[3] &= ~(std::uint64_t{1} << 63);
        plan.spelled.push_back(s);
    }
    for (std::size_t j = 0; j < k; ++j) plan.accept[j] = accepted_bytes(lead[j], key);
    for (std::size_t j = 2; j < k; ++j)
        if (how_common(lead[j]) < how_common(lead[plan.second])) plan.second = j;
#ifdef QM_X86_SIMD
    plan.initial_tables[0] = tables_of(plan.accept[0]);
    plan.initial_tables[1] = tables_of(plan.accept[plan.second]);
#endif
}

bool initial_at(const plan_t& plan, const std::uint8_t* d, std::size_t p, std::size_t k) {
    for (std::size_t j = 0; j < k; ++j)
        if (!plan.accept[j].has(d[p + j])) return false;
    return true;
}

// Whether the initials alone leave so few candidates (under 1 place in 1000 of the sample,
// BM_query_full_pinyin_wodeairen) that the rest of the plan costs more than it saves.
bool initials_rare(const plan_t& plan, const key_sample& sample, std::size_t k) {
    std::size_t initials = 0, places = 0;
    sample.each([&](std::size_t p) { ++places, initials += initial_at(plan, sample.d, p, k); });
    return initials * 1000 < places;
}

// plan.ends: where each initial's syllables and each class's take the text, from each offset,
// given to each key byte by the classes and letters it stands for.
void set_piece_ends(plan_t& plan, std::string_view text, const std::vector<std::uint8_t>& common,
                    const pinyin_key& key) {
    const std::size_t n = text.size();
    std::vector<std::uint64_t> by_letter(26 * n, 0), by_class(syllable_classes::count * n, 0);
    for (std::size_t id = 0; id < pinyin_syllable_count(); ++id) {
        const std::string_view reading = pinyin_syllable(static_cast<std::uint16_t>(id));
        const bool initial_of_two = full_pinyin::two_letter_initial(reading);
        const unsigned cls = syllable_classes::class_of_code(
            syllable_classes::code_of_syllable(static_cast<std::uint16_t>(id)));
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t ends =
                full_pinyin::piece_ends(common[id * n + i], reading.size(), initial_of_two, i, n);
            by_letter[std::size_t(reading[0] - 'a') * n + i] |= ends;
            if (cls < syllable_classes::count) by_class[cls * n + i] |= ends;
        }
    }
    plan.ends.assign(n * 256, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t* ends = plan.ends.data() + i * 256;
        for (unsigned b = 1; b < 256; ++b) {
            const auto x = static_cast<std::uint8_t>(b);
            // A letter may be Latin too.
            if (static_cast<unsigned char>(text[i]) == b) ends[b] = std::uint64_t{1} << (i + 1);
            for (std::uint64_t c = key.code_classes(x); c; c &= c - 1)
                ends[b] |= by_class[static_cast<std::size_t>(std::countr_zero(c)) * n + i];
            for (std::uint32_t l = key.code_other_letters(x); l; l &= l - 1)
                ends[b] |= by_letter[static_cast<std::size_t>(std::countr_zero(l)) * n + i];
        }
    }
}

// One pair of sets for each place a first piece ends at (a first character that ends the
// text alone is no match): the bytes that take the text there, and those that go on.
void set_terms(plan_t& plan, std::size_t n) {
    std::uint64_t firsts = 0;
    for (unsigned b = 0; b < 256; ++b) firsts |= plan.ends[b];
    firsts &= ~(std::uint64_t{1} << n);
    for (std::uint64_t f = firsts; f; f &= f - 1) {
        const auto o = static_cast<std::size_t>(std::countr_zero(f));
        std::array<byte_set, 2> term;
        for (unsigned b = 0; b < 256; ++b) {
            if ((plan.ends[b] >> o) & 1u) term[0].add(b);
            if (plan.ends[o * 256 + b]) term[1].add(b);
        }
        plan.terms.push_back(term);
    }
    // Four pairs at most, the registers one scan keeps (BM_query_full_pinyin_yinyue has
    // three): the last ones (the longest first pieces) together.
    constexpr std::size_t max_terms = 4;
    while (plan.terms.size() > max_terms) {
        const std::array<byte_set, 2> t = plan.terms.back();
        plan.terms.pop_back();
        for (std::size_t j = 0; j < 2; ++j)
            for (std::size_t w = 0; w < 4; ++w) plan.terms.back()[j].bits[w] |= t[j].bits[w];
    }
}

// Which way costs less on the sample: the initials' test, each candidate a look at a name;
// the same with each candidate first followed along the key; or the pairs, which cost more
// per place, merged two by two while that costs less. Sets plan.how; `groups` (the terms
// merged into each pair, one bit each) comes out merged; `count` of each byte and `places`
// of the sample for the buckets.
void choose_way(plan_t& plan, const key_sample& sample, std::size_t k, std::size_t n,
                std::vector<std::uint32_t>& groups, std::array<std::uint32_t, 256>& count,
                std::size_t& places) {
    const std::uint8_t* d = sample.d;
    std::size_t initials = 0, followed = 0;
    // Places some merging of the terms would take: terms whose first set holds the first
    // character, and terms whose second holds the second.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> maybe;
    sample.each([&](std::size_t p) {
        ++places, ++count[d[p]];
        const bool all = initial_at(plan, d, p, k);
        initials += all;
        if (all) followed += plan.follows(d + p, n);
        std::uint8_t first = 0, second = 0;
        for (std::size_t t = 0; t < plan.terms.size(); ++t) {
            first |= static_cast<std::uint8_t>(plan.terms[t][0].has(d[p]) << t);
            second |= static_cast<std::uint8_t>(plan.terms[t][1].has(d[p + 1]) << t);
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
        plan.how = plan_t::way::pairs;
    else if (followed_on < by_initials)
        plan.how = plan_t::way::initials_followed;
}

void merge_terms(plan_t& plan, const std::vector<std::uint32_t>& groups) {
    std::vector<std::array<byte_set, 2>> merged;
    for (const std::uint32_t g : groups) {
        std::array<byte_set, 2> m;
        for (std::uint32_t t = g; t; t &= t - 1)
            for (std::size_t j = 0; j < 2; ++j)
                for (std::size_t w = 0; w < 4; ++w)
                    m[j].bits[w] |=
                        plan.terms[static_cast<std::size_t>(std::countr_zero(t))][j].bits[w];
        merged.push_back(m);
    }
    plan.terms = std::move(merged);
}

void set_syllable_sets(plan_t& plan, std::uint16_t id, std::string_view text,
                       const pinyin_key& key) {
    for (unsigned c = 1; c < 256; ++c) {
        if (key.may_read(static_cast<std::uint8_t>(c), id)) plan.reads.add(c);
        if (key.always_reads(static_cast<std::uint8_t>(c), id)) plan.exact.add(c);
    }
    if (text.size() == 2) {
        plan.firsts = accepted_bytes(1u << (text[0] - 'a'), key);
        plan.seconds = accepted_bytes(1u << (text[1] - 'a'), key);
    }
#ifdef QM_X86_SIMD
    byte_set looked = plan.reads;
    for (std::size_t w = 0; w < 4; ++w) looked.bits[w] &= ~plan.exact.bits[w];
    plan.syllable_tables[0] = tables_of(looked);
    plan.syllable_tables[1] = tables_of(plan.firsts);
    plan.syllable_tables[2] = tables_of(plan.seconds);
    plan.syllable_tables[3] = tables_of(plan.exact);
#endif
}

#ifdef QM_X86_SIMD
// The pairs' lookup tables, and their sets in buckets where they fit well enough. A bucket
// test costs about 2 of the 5 vector steps of a set's own less a place; merged buckets hold
// more bytes, each place they add a candidate followed, so they are kept while those cost
// under 0.4 of the set steps (BM_query_full_pinyin_yinyue). Past 32 rectangles the merging
// costs more than it saves; with `whole` (a way forced) they are tried up to 256.
void set_tables_and_buckets(plan_t& plan, const key_sample& sample,
                            const std::array<std::uint32_t, 256>& count, std::size_t places,
                            bool whole) {
    std::vector<byte_set> sets;
    for (const auto& t : plan.terms) {
        plan.tables.push_back(tables_of(t[0]));
        plan.tables.push_back(tables_of(t[1]));
        sets.push_back(t[0]), sets.push_back(t[1]);
    }
    if (plan.how != plan_t::way::pairs && !whole) return;
    std::optional<key_bytes::byte_buckets> b = buckets_of(sets, count, whole ? 256 : 32);
    if (b && !b->exact && !whole) {
        const std::uint8_t* d = sample.d;
        std::size_t added = 0;
        sample.each([&](std::size_t p) {
            bool exact = false, loose = false;
            for (std::size_t t = 0; t < plan.terms.size(); ++t) {
                exact |= plan.terms[t][0].has(d[p]) && plan.terms[t][1].has(d[p + 1]);
                loose |= b->has(2 * t, d[p]) && b->has(2 * t + 1, d[p + 1]);
            }
            added += loose && !exact;
        });
        if (follow_cost * static_cast<double>(added) >=
            0.4 * set_cost * static_cast<double>(sets.size() * places))
            b.reset();
    }
    plan.buckets = b;
}
#endif

} // namespace

void pinyin_full_query::piece_plan::make_walk(std::size_t n) {
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
            walk[s * 256 + b] = static_cast<std::uint8_t>(to | ((next & done) ? text_done : 0u));
        }
}

std::shared_ptr<plan_t> pinyin_full_query::make_plan(const pinyin_key& key, bool whole) const {
    auto plan = std::make_shared<piece_plan>();
    const key_sample sample(key);
    const std::size_t k = lead_count_, n = text_.size();
    if (syllable_) set_syllable_sets(*plan, *syllable_, text_, key);
    set_initial_tests(*plan, text_, lead_, k, key);
    if (k == 0 || (sample.size < 64 && !whole)) return plan;
    if (!whole && initials_rare(*plan, sample, k)) return plan;
    set_piece_ends(*plan, text_, common_, key);
    plan->make_walk(n);
    set_terms(*plan, n);
    std::vector<std::uint32_t> groups; // terms merged into each pair, one bit each
    for (std::size_t t = 0; t < plan->terms.size(); ++t) groups.push_back(1u << t);
    std::array<std::uint32_t, 256> count{}; // of each byte in the sample
    std::size_t places = 0;
    if (sample.size >= 64) choose_way(*plan, sample, k, n, groups, count, places);
    merge_terms(*plan, groups);
#ifdef QM_X86_SIMD
    set_tables_and_buckets(*plan, sample, count, places, whole);
#endif
    return plan;
}

std::shared_ptr<const plan_t> pinyin_full_query::plan_for(const pinyin_key& key,
                                                          pinyin_full_way way) const {
    const std::lock_guard<std::mutex> hold(plan_->lock);
    if (plan_->key != &key || plan_->way != way || !plan_->plan) {
        const bool forced = way != pinyin_full_way::automatic;
        std::shared_ptr<piece_plan> plan = make_plan(key, forced);
        switch (way) {
        case pinyin_full_way::automatic:
            break;
        case pinyin_full_way::initials:
            plan->how = piece_plan::way::initials;
            break;
        case pinyin_full_way::initials_followed:
            plan->how = piece_plan::way::initials_followed;
            break;
        case pinyin_full_way::pairs:
            plan->how = piece_plan::way::pairs;
            break;
        case pinyin_full_way::pairs_plain:
            plan->how = piece_plan::way::pairs;
            plan->walk.clear();
#ifdef QM_X86_SIMD
            plan->buckets.reset();
#endif
            break;
        }
        plan_->plan = std::move(plan);
        plan_->key = &key;
        plan_->way = way;
    }
    return plan_->plan;
}
