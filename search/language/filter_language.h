#pragma once
// The filter expression language of record sets:
//   expression := term | term "or" expression
//   term       := "(" expression ")" | column ("=" | "like") value
//   value      := string | string "+" value            (strings are joined)
//   string     := "'" characters "'"                   ('' inside stands for one ')
// "like" patterns: "%" is any run of characters; every other character is itself.
// Comparisons are exact; a null column matches nothing; the empty text matches all.
// A table may offer a pinyin search key column (pinyin_key.h), and one that also answers
// full pinyin (pinyin_full.h): they answer only like '%text%', letters in any case.
#include "search/language/filter_source.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <vector>

struct filter_expr;

// Parses `text` against the columns of `source`; nullptr when it does not parse or
// names an unknown column.
std::shared_ptr<const filter_expr> parse_filter(QStringView text, const filter_source& source);

// One byte per storage row: 1 where the row passes.
std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source);

// `text` as the inside of a filter string: every "'" doubled. Every filter built
// from what a user typed goes through here.
QString filter_escape(QStringView text);
