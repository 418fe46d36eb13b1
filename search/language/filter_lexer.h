#pragma once
// Tokens of the filter expression language. Keywords are case-insensitive; a string's
// text is already unescaped ('' inside stands for one ').
#include <QString>
#include <QStringView>
#include <vector>

enum class filter_token_kind { identifier, equals, like, or_, open, close, plus, string, end };

struct filter_token {
    filter_token_kind kind = filter_token_kind::end;
    QString text;           // identifier name or string value
    qsizetype position = 0; // first character in the source text
};

struct filter_lex_result {
    std::vector<filter_token> tokens; // ends with one `end` token when ok
    bool ok = false;
    qsizetype error_position = -1; // where lexing failed
};

filter_lex_result lex_filter(QStringView text);
