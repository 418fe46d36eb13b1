#include "search/language/pinyin_syllable_classes.h"
#include "search/language/pinyin_full.h"

#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <string_view>
#include <vector>

namespace syllable_classes {
namespace {

// Initials with how many classes each: more for those that begin more everyday characters.
struct group {
    std::string_view initial;
    unsigned classes;
};
constexpr std::array<group, 18> groups{{{"y", 6},
                                        {"sh", 4},
                                        {"zh", 4},
                                        {"d", 4},
                                        {"j", 4},
                                        {"l", 4},
                                        {"x", 4},
                                        {"h", 3},
                                        {"g", 3},
                                        {"b", 3},
                                        {"q", 3},
                                        {"m", 2},
                                        {"w", 2},
                                        {"t", 2},
                                        {"z", 2},
                                        {"s", 2},
                                        {"ch", 2},
                                        {"f", 2}}};
static_assert(std::accumulate(groups.begin(), groups.end(), 0u,
                              [](unsigned s, const group& g) { return s + g.classes; }) == count);

constexpr char32_t table_first = first_tabled, table_last = 0x9FFF;

std::uint8_t code_at(unsigned k) {
    return static_cast<std::uint8_t>(k < 30 ? 0x02 + k : 0x41 + (k - 30));
}

// The group a syllable belongs to: its two-letter initial, or its first letter.
int group_of(std::string_view s) {
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].initial.size() == 2 && s.starts_with(groups[g].initial))
            return static_cast<int>(g);
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].initial.size() == 1 && s.starts_with(groups[g].initial) &&
            !(s.size() >= 2 && s[1] == 'h' && (s[0] == 'z' || s[0] == 'c' || s[0] == 's')))
            return static_cast<int>(g);
    return -1;
}

std::uint8_t class_of_readings(std::span<const std::uint16_t> ids,
                               const std::vector<std::uint8_t>& of_syllable) {
    std::uint8_t code = 0;
    for (const std::uint16_t id : ids) {
        const std::uint8_t c = id < of_syllable.size() ? of_syllable[id] : 0;
        if (c == 0 || (code != 0 && c != code)) return 0;
        code = c;
    }
    return code;
}

struct tables {
    std::vector<std::uint8_t> of_syllable;
    std::array<std::uint32_t, 256> letter{};
    std::array<std::uint8_t, 256> class_of{};
    std::vector<std::uint8_t> of_character; // table_first .. table_last
    std::vector<std::uint16_t> mix_of_character;
    std::vector<mix> mixes{mix{}}; // from 1

    tables() {
        std::size_t syllables = 0;
        while (!pinyin_syllable(static_cast<std::uint16_t>(syllables)).empty()) ++syllables;
        of_syllable.assign(syllables, 0);
        // How many ideographs of the basic block read each syllable: dealt in that order, the
        // commonest syllables of an initial go to different classes.
        std::vector<unsigned> readers(syllables, 0);
        for (char32_t cp = 0x4E00; cp <= 0x9FFF; ++cp)
            for (const std::uint16_t id : pinyin_readings_of(cp))
                if (id < syllables) ++readers[id];
        unsigned first = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            std::vector<std::uint16_t> ids;
            for (std::size_t id = 0; id < syllables; ++id)
                if (group_of(pinyin_syllable(static_cast<std::uint16_t>(id))) ==
                    static_cast<int>(g))
                    ids.push_back(static_cast<std::uint16_t>(id));
            std::stable_sort(ids.begin(), ids.end(), [&](std::uint16_t a, std::uint16_t b) {
                return readers[a] > readers[b];
            });
            for (std::size_t i = 0; i < ids.size(); ++i)
                of_syllable[ids[i]] = code_at(first + static_cast<unsigned>(i % groups[g].classes));
            for (unsigned k = 0; k < groups[g].classes; ++k) {
                letter[code_at(first + k)] = 1u << (groups[g].initial[0] - 'a');
                class_of[code_at(first + k)] = static_cast<std::uint8_t>(first + k);
            }
            first += groups[g].classes;
        }
        of_character.resize(table_last - table_first + 1);
        mix_of_character.resize(table_last - table_first + 1);
        std::map<std::pair<std::uint64_t, std::uint32_t>, std::uint16_t> numbers;
        for (char32_t cp = table_first; cp <= table_last; ++cp) {
            const std::span<const std::uint16_t> ids = pinyin_readings_of(cp);
            of_character[cp - table_first] = class_of_readings(ids, of_syllable);
            if (of_character[cp - table_first] != 0) continue;
            mix m;
            for (const std::uint16_t id : ids) {
                const std::string_view reading = pinyin_syllable(id);
                if (reading.empty()) continue;
                const std::uint32_t initial = 1u << (reading[0] - 'a');
                m.letters |= initial;
                if (of_syllable[id] != 0)
                    m.classes |= std::uint64_t{1} << class_of[of_syllable[id]];
                else
                    m.others |= initial;
            }
            if (m.classes == 0) continue; // the initials say all
            auto [it, added] = numbers.try_emplace({m.classes, m.others},
                                                   static_cast<std::uint16_t>(mixes.size()));
            if (added) mixes.push_back(m);
            mix_of_character[cp - table_first] = it->second;
        }
        class_of.fill(count);
        for (unsigned k = 0; k < count; ++k) class_of[code_at(k)] = static_cast<std::uint8_t>(k);
    }
};

const tables& the_tables() {
    static const tables t;
    return t;
}

} // namespace

std::uint8_t code_of_class(unsigned k) {
    return code_at(k);
}

std::uint32_t letter_of_code(std::uint8_t code) {
    return the_tables().letter[code];
}

std::uint8_t code_of_syllable(std::uint16_t id) {
    const tables& t = the_tables();
    return id < t.of_syllable.size() ? t.of_syllable[id] : 0;
}

std::uint8_t code_of_character(char32_t cp) {
    const tables& t = the_tables();
    if (cp >= table_first && cp <= table_last) return t.of_character[cp - table_first];
    return class_of_readings(pinyin_readings_of(cp), t.of_syllable);
}

} // namespace syllable_classes

namespace syllable_classes {
std::span<const std::uint8_t> tabled_characters() {
    return the_tables().of_character;
}

std::span<const std::uint16_t> tabled_mixes() {
    return the_tables().mix_of_character;
}

unsigned class_of_code(std::uint8_t code) {
    return the_tables().class_of[code];
}

std::size_t mix_count() {
    return the_tables().mixes.size() - 1;
}

std::uint32_t letters_of(std::span<const std::uint16_t> ids) {
    std::uint32_t letters = 0;
    for (const std::uint16_t id : ids) {
        const std::string_view reading = pinyin_syllable(id);
        if (!reading.empty()) letters |= 1u << (reading[0] - 'a');
    }
    return letters;
}

const mix& mix_numbered(std::uint16_t number) {
    const tables& t = the_tables();
    return t.mixes[number < t.mixes.size() ? number : 0];
}
} // namespace syllable_classes
