#pragma once
// The pieces a reading gives (see pinyin_full.h), shared by the check of a name
// (pinyin_full_rule.cpp) and the state machine over key bytes (pinyin_full_plan.cpp).
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace full_pinyin {

inline bool two_letter_initial(std::string_view s) {
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

} // namespace full_pinyin
