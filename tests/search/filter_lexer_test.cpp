// Tokens: what each text splits into, and where lexing stops on bad input.
#include "search/filter_lexer.h"

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;

namespace {

// One letter per token, so a whole token stream compares as one string:
// i identifier, = equals, l like, o or, ( ) + as themselves, s string, $ end.
std::string shape(const filter_lex_result& r) {
    std::string out;
    for (const filter_token& t : r.tokens) {
        switch (t.kind) {
        case filter_token_kind::identifier:
            out += 'i';
            break;
        case filter_token_kind::equals:
            out += '=';
            break;
        case filter_token_kind::like:
            out += 'l';
            break;
        case filter_token_kind::or_:
            out += 'o';
            break;
        case filter_token_kind::open:
            out += '(';
            break;
        case filter_token_kind::close:
            out += ')';
            break;
        case filter_token_kind::plus:
            out += '+';
            break;
        case filter_token_kind::string:
            out += 's';
            break;
        case filter_token_kind::end:
            out += '$';
            break;
        }
    }
    return out;
}

TEST(filter_lexer, splits_texts_into_tokens) {
    struct row {
        const char16_t* text;
        std::string shape;
    };
    const row rows[] = {
        {u"", "$"},
        {u"  \t\r\n", "$"},
        {u"fileext = '.jpg' or  fileext = '.jpeg' ", "i=soi=s$"},
        {u"filenamewithno like '%' +'1002' + '%'", "ils+s+s$"},
        {u"(a like'x')OR(b=''+'')", "(ils)o(i=s+s)$"},
        {u"LIKE Like oR or_x orx _or", "lloiii$"},
        {u"col_1=''''", "i=s$"},
    };
    for (const row& r : rows) {
        const QString text = QString::fromUtf16(r.text);
        const filter_lex_result lexed = lex_filter(text);
        EXPECT_TRUE(lexed.ok) << text.toStdString();
        EXPECT_EQ(shape(lexed), r.shape) << text.toStdString();
    }
}

TEST(filter_lexer, unescapes_strings_and_keeps_everything_else) {
    struct row {
        const char16_t* text;
        const char16_t* value;
    };
    const row rows[] = {
        {u"''", u""},
        {u"''''", u"'"},
        {u"'Don''t Stop'", u"Don't Stop"},
        {u"'a''''b'", u"a''b"},
        {u"' %_ 我的 \t'", u" %_ 我的 \t"},
        {u"'or like = ( ) +'", u"or like = ( ) +"},
    };
    for (const row& r : rows) {
        const filter_lex_result lexed = lex_filter(QString::fromUtf16(r.text));
        ASSERT_TRUE(lexed.ok);
        ASSERT_EQ(lexed.tokens.size(), 2u);
        EXPECT_EQ(lexed.tokens[0].kind, filter_token_kind::string);
        EXPECT_EQ(lexed.tokens[0].text, QString::fromUtf16(r.value));
    }
    const filter_lex_result names = lex_filter(u"  FileExt = 'x'");
    ASSERT_TRUE(names.ok);
    EXPECT_EQ(names.tokens[0].text, u"FileExt"_s);
    EXPECT_EQ(names.tokens[0].position, 2);
    EXPECT_EQ(names.tokens[2].position, 12);
}

TEST(filter_lexer, reports_where_bad_input_starts) {
    struct row {
        const char16_t* text;
        qsizetype position;
    };
    const row rows[] = {
        {u"a = 'open", 4}, {u"a = 'x''", 4},  {u"'", 0},  {u"a == 'x' ; b", 9}, {u"a = \"x\"", 4},
        {u"名 = 'x'", 0},  {u"a = 'x' %", 8}, {u"1a", 0}, {u"a\u3000= 'x'", 1},
    };
    for (const row& r : rows) {
        const QString text = QString::fromUtf16(r.text);
        const filter_lex_result lexed = lex_filter(text);
        EXPECT_FALSE(lexed.ok) << text.toStdString();
        EXPECT_TRUE(lexed.tokens.empty());
        EXPECT_EQ(lexed.error_position, r.position) << text.toStdString();
    }
}

} // namespace
