#include "search/language/filter_lexer.h"

namespace {

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

bool is_identifier_start(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool is_identifier_part(char16_t c) {
    return is_identifier_start(c) || (c >= u'0' && c <= u'9');
}

} // namespace

filter_lex_result lex_filter(QStringView text) {
    filter_lex_result result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto fail = [&](qsizetype at) {
        result.tokens.clear();
        result.ok = false;
        result.error_position = at;
        return result;
    };
    while (true) {
        while (i < n && is_blank(text[i].unicode())) ++i;
        if (i == n) break;
        const qsizetype start = i;
        const char16_t c = text[i].unicode();
        filter_token token;
        token.position = start;
        if (is_identifier_start(c)) {
            while (i < n && is_identifier_part(text[i].unicode())) ++i;
            const QStringView word = text.sliced(start, i - start);
            if (word.compare(u"like", Qt::CaseInsensitive) == 0) {
                token.kind = filter_token_kind::like;
            } else if (word.compare(u"or", Qt::CaseInsensitive) == 0) {
                token.kind = filter_token_kind::or_;
            } else {
                token.kind = filter_token_kind::identifier;
                token.text = word.toString();
            }
        } else if (c == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const char16_t d = text[i].unicode();
                if (d != u'\'') {
                    // Copy the run up to the next quote in one go.
                    qsizetype j = i + 1;
                    while (j < n && text[j].unicode() != u'\'') ++j;
                    token.text.append(text.sliced(i, j - i));
                    i = j;
                } else if (i + 1 < n && text[i + 1].unicode() == u'\'') {
                    token.text.append(QChar(u'\''));
                    i += 2;
                } else {
                    ++i;
                    closed = true;
                    break;
                }
            }
            if (!closed) return fail(start);
            token.kind = filter_token_kind::string;
        } else {
            switch (c) {
            case u'=':
                token.kind = filter_token_kind::equals;
                break;
            case u'(':
                token.kind = filter_token_kind::open;
                break;
            case u')':
                token.kind = filter_token_kind::close;
                break;
            case u'+':
                token.kind = filter_token_kind::plus;
                break;
            default:
                return fail(start);
            }
            ++i;
        }
        result.tokens.push_back(std::move(token));
    }
    filter_token end;
    end.position = n;
    result.tokens.push_back(std::move(end));
    result.ok = true;
    return result;
}
