// The rule of full pinyin (see pinyin_full.h): the syllable table's look-ups, what a typed
// text asks (compile), and whether a name matches at a place (matches_at).
#include "search/language/pinyin_full_rule.h"
#include "search/language/code_point_ranges.h"
#include "search/language/pinyin_full.h"

#include <QChar>
#include <algorithm>
#include <bit>
#include <iterator>

using full_pinyin::piece_ends;
using full_pinyin::two_letter_initial;

namespace {

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

} // namespace

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
