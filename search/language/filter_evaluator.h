#pragma once
// Evaluation of a parsed filter over a filter_source (see filter_language.h).
#include "search/language/filter_expr.h"
#include "search/language/filter_language.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// As evaluate_filter, on at most `threads` threads; 0 lets the table size and the
// machine decide. The bytes are the same for every count.
std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source,
                                          unsigned threads);

// The rows that pass, in increasing order: the same answer as evaluate_filter's non-zero
// bytes, without a byte per row.
std::vector<std::uint32_t> filter_passing_rows(const filter_expr& expr, const filter_source& source,
                                               unsigned threads);

inline constexpr std::size_t filter_not_found = static_cast<std::size_t>(-1);

// First position p in [from, limit) where `literal` lies wholly inside text[from, limit),
// or filter_not_found. An empty literal is found at `from`.
std::size_t filter_find_literal(const char16_t* text, std::size_t from, std::size_t limit,
                                std::u16string_view literal);
