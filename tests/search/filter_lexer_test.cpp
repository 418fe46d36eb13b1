// Tokens: string values unescaped, and where lexing stops on bad input.
#include "search/language/filter_lexer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

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
