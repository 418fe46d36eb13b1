#pragma once
// Full and mixed pinyin, answered with the in-memory pinyin key and the names it was made
// from: "yinyue" finds 音乐, "wodeairen", "wodear" and "wdair" find 我的爱人.
//
// A typed text of letters matches a run of two or more characters of a name when it splits
// into one piece per character, each piece, for its character: a whole reading without tone
// marks (ü typed "v"), the reading's first letter, "zh", "ch" or "sh" when the reading
// begins with it, or (the last piece only) any beginning of a reading; a Latin letter is a
// piece of itself, in any case. Split into single letters, a text matches where the
// initials key does, so this finds all the key finds, and more.
//
// Costs nothing per record. A search walks the key once: places whose first characters (up
// to four, as many as the shortest split has pieces) hold initials some split can begin with
// are candidates, two characters tried 32 places at a time and the others at each place
// those allow; each candidate is checked against the name, every split at once (the offsets
// of the text reached so far, one bit each), so the number of splits never matters. Texts of
// up to 63 letters. A candidate's row is counted from the key's closing 0s on the way, and
// the names of the candidates a part of the key leaves are asked of memory together.
//
// A text whose splits begin with the commonest initials ("yinyue") would leave many
// candidates that way, each a look at a name far from the key. The key's classes of
// syllables (see pinyin_syllable_classes.h) let a candidate first be followed along the key
// (in the cache), every split at once, as a name is, by a walk of byte to state made once
// per text and key; and the first two characters can be tried against each first piece of
// the text (y|i, yi|n, yin|y...) 32 places at a time, pairs of sets merged where that costs
// less, and all the sets' bytes dealt into eight shared buckets where they fit well enough
// (see key_byte_buckets.h). Which way a search takes, a sample of the key says, once per
// search and key, on the first part searched (about 0.05 ms; where the initials alone leave
// few candidates, a look at those only).
//
// The rule (syllable look-ups, compile, matches_at) is in pinyin_full_rule.cpp, the plan (the
// sample, the cost model, the state machine) in pinyin_full_plan.cpp, and the scan in
// pinyin_full_scan.cpp with its SIMD kernels in pinyin_full_scan_avx2.cpp.
#include "search/language/pinyin_key.h"

#include <QStringView>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The readings of `cp` without tone marks, as indices for pinyin_syllable; empty when it has
// none.
std::span<const std::uint16_t> pinyin_readings_of(char32_t cp);
std::string_view pinyin_syllable(std::uint16_t index);
std::size_t pinyin_syllable_count();

// How find() looks for candidates. `automatic`: as a sample of the key finds cheapest; the
// others force a way, for tests: the initials' test, the same with each candidate followed
// along the key, the pairs of first pieces (in buckets where they fit), and the pairs with
// each set tried on its own and each candidate followed offset by offset rather than by the
// state machine.
enum class pinyin_full_way { automatic, initials, initials_followed, pairs, pairs_plain };

class pinyin_full_query {
  public:
    // What `typed` asks; nullopt unless it is 2 to 63 letters that split into at least one
    // piece longer than a letter, or is one whole syllable (a text of initials only is the
    // key's to answer). A whole syllable also matches a single character that reads it.
    static std::optional<pinyin_full_query> compile(QStringView typed);

    // Sets out[r - b] = 1 for every row r in [b, e) whose name holds a match; names(r) is the
    // text the key's row r was made from, and `ahead`, if given, asks memory for what
    // names(r) reads. Called on several threads at once.
    // `way`: how candidates are found (tests force each; see pinyin_full_way).
    void find(const pinyin_key& key, const pinyin_key::name_of_row& names, std::uint32_t b,
              std::uint32_t e, std::uint8_t* out,
              const std::function<void(std::uint32_t)>* ahead = nullptr,
              pinyin_full_way way = pinyin_full_way::automatic) const;

    // The first characters the initials' test looks at: four leave few candidates on
    // BM_query_full_pinyin_wodeairen, and a shorter match tests as many as it has.
    static constexpr unsigned max_lead = 4;
    // How candidates are found on one key (pinyin_full_plan.h).
    struct piece_plan;

  private:
    // The rows of [b, e) holding a character that reads the syllable; for a text of two
    // letters, also those whose key holds them as initials.
    void find_syllable(const pinyin_key& key, const pinyin_key::name_of_row& names, std::uint32_t b,
                       std::uint32_t e, std::uint8_t* out,
                       const std::function<void(std::uint32_t)>* ahead, pinyin_full_way way) const;
    // Whether a match begins at `unit` of `name`.
    bool matches_at(std::u16string_view name, std::size_t unit) const;
    // The plan last made, for one key and way: made on the first part searched, shared by the
    // others.
    struct plan_slot {
        std::mutex lock;
        const pinyin_key* key = nullptr;
        pinyin_full_way way = pinyin_full_way::automatic;
        std::shared_ptr<const piece_plan> plan;
    };
    std::shared_ptr<const piece_plan> plan_for(const pinyin_key& key, pinyin_full_way way) const;
    // `whole`: the sets and sets of pairs even where a sample of the key finds the initials
    // rare enough alone.
    std::shared_ptr<piece_plan> make_plan(const pinyin_key& key, bool whole) const;

    std::string text_;                      // letters, lower case
    std::optional<std::uint16_t> syllable_; // the text as one whole syllable
    // Letters that may stand at each of the first characters of a match (bit 0 = 'a').
    std::array<std::uint32_t, max_lead> lead_{};
    unsigned lead_count_ = 0;
    // Letters each syllable has in common with the text from each offset on, by syllable.
    std::vector<std::uint8_t> common_;
    std::shared_ptr<plan_slot> plan_ = std::make_shared<plan_slot>();
};

// Whether a pinyin condition asks for more than its initials (see compile).
bool pinyin_full_applies(QStringView typed);
