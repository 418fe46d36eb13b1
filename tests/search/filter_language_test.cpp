// The filter language end to end: the expressions the program builds, the meaning of
// "=" and "like", and texts that must not parse, over every way a column is stored.
#include "search/language/filter_evaluator.h"
#include "search/language/filter_language.h"
#include "tests/search/fake_filter_source.h"

#include <gtest/gtest.h>

#include <set>

using namespace Qt::StringLiterals;

namespace {

using layout = fake_filter_source::layout;
using cell = fake_filter_source::cell;

struct catalogue_row {
    cell name;     // filenamewithno
    cell initials; // pinyinma
    cell ext;      // fileext
};

// Row numbers below are what the cases expect.
const std::vector<catalogue_row>& rows() {
    static const std::vector<catalogue_row> r = {
        {u"1002-我的爱人"_s, u"wdar"_s, u".mp3"_s}, // 0
        {u"我的好爱人"_s, u"wdhar"_s, u".jpg"_s},   // 1
        {u"Don't Stop"_s, u"dts"_s, u".mp3"_s},     // 2
        {u"photo_1"_s, u"p1"_s, u".JPG"_s},         // 3
        {u"photo21"_s, u"p21"_s, u".jpeg"_s},       // 4
        {u""_s, u""_s, u""_s},                      // 5
        {std::nullopt, std::nullopt, std::nullopt}, // 6
        {u"1003 live"_s, u"live"_s, u".bmp"_s},     // 7
        {u"x1004"_s, u"x"_s, u".gif"_s},            // 8
        {u"abc "_s, u"abc"_s, u".avi"_s},           // 9
        {u"ABC"_s, u"ABC"_s, u".wmv"_s},            // 10
        {u"1002"_s, u""_s, u".rle"_s},              // 11
        {u"zz"_s, u"z"_s, u".wmf"_s},               // 12
        {u"50%off"_s, u"off"_s, u".jpg "_s},        // 13
    };
    return r;
}

fake_filter_source catalogue(layout names, layout initials, layout ext) {
    std::vector<fake_filter_source::column> cols(3);
    cols[0] = {u"filenamewithno"_s, names, {}};
    cols[1] = {u"pinyinma"_s, initials, {}};
    cols[2] = {u"fileext"_s, ext, {}};
    for (const catalogue_row& r : rows()) {
        cols[0].values.push_back(r.name);
        cols[1].values.push_back(r.initials);
        cols[2].values.push_back(r.ext);
    }
    return fake_filter_source(std::move(cols));
}

std::set<std::uint32_t> selected(const std::vector<std::uint8_t>& pass) {
    std::set<std::uint32_t> out;
    for (std::uint32_t r = 0; r < pass.size(); ++r)
        if (pass[r]) out.insert(r);
    return out;
}

std::set<std::uint32_t> all_but(std::set<std::uint32_t> except) {
    std::set<std::uint32_t> out;
    for (std::uint32_t r = 0; r < rows().size(); ++r)
        if (!except.count(r)) out.insert(r);
    return out;
}

struct selection_case {
    const char16_t* expression;
    std::set<std::uint32_t> rows;
};

const std::vector<selection_case>& selection_cases() {
    static const std::vector<selection_case> cases = {
        // What the query engine and the file type window write.
        {u"fileext = '.jpg' or  fileext = '.jpeg' or  fileext = '.bmp' or  fileext = '.gif' "
         u"or  fileext = '.rle' or  fileext = '.wmf' ",
         {1, 4, 7, 8, 11, 12}},
        {u"fileext = '.' + 'jpg'", {1}},
        {u"fileext = '.' + 'mp3'", {0, 2}},
        {u"filenamewithno like '%' +'我的%爱人' + '%'", {0, 1}},
        {u"filenamewithno like '%' +'1002' + '%'", {0, 11}},
        {u"pinyinma like '%' +'ar' + '%'", {0, 1}},
        {u"(filenamewithno like '%' + '1002' + '%') or (filenamewithno like '%' +'1003' + '%') "
         u"or (filenamewithno like '%' +'1004' + '%')",
         {0, 7, 8, 11}},
        // An empty token of several numbers: every non-null name.
        {u"(filenamewithno like '%' + '1002' + '%') or (filenamewithno like '%' +'' + '%')",
         all_but({6})},
        {u"fileext = '.avi' or fileext = '.wmv'", {9, 10}},
        {u"fileext = '.avi' or fileext = '.avi'", {9}},
        {u"", all_but({})},
        {u" \t ", all_but({})},
        // Exact: case and blanks count.
        {u"filenamewithno like '%abc%'", {9}},
        {u"filenamewithno = 'ABC'", {10}},
        {u"filenamewithno = 'abc'", {}},
        {u"filenamewithno = 'abc '", {9}},
        {u"fileext = '.jpg '", {13}},
        // Null matches nothing, the empty text is a text.
        {u"filenamewithno = ''", {5}},
        {u"filenamewithno like '%'", all_but({6})},
        {u"filenamewithno like '%%%'", all_but({6})},
        {u"filenamewithno like ''", {5}},
        {u"pinyinma = ''", {5, 11}},
        // "_" is an ordinary character.
        {u"filenamewithno like 'photo_%'", {3}},
        {u"filenamewithno like '%o_1%'", {3}},
        // A doubled quote is one quote.
        {u"filenamewithno = 'Don''t Stop'", {2}},
        {u"filenamewithno like '%' + 'n''t' + '%'", {2}},
        // Patterns other than "contains".
        {u"filenamewithno like '1002%'", {0, 11}},
        {u"filenamewithno like '%爱人'", {0, 1}},
        {u"filenamewithno like '1002%爱人'", {0}},
        {u"filenamewithno like 'photo%1'", {3, 4}},
        {u"filenamewithno like 'zz%z'", {}},
        {u"filenamewithno like 'z%z'", {12}},
        {u"filenamewithno like '%我%爱%'", {0, 1}},
        {u"filenamewithno like '%爱%我%'", {}},
        {u"filenamewithno like '%%1002%%'", {0, 11}},
        {u"filenamewithno like '50%'", {13}},
        {u"filenamewithno like 'ABC'", {10}},
        {u"filenamewithno like '%'+'0%o'+'%'", {13}},
        // Keywords in any case, blanks anywhere or nowhere, groups that only group.
        {u"FILEEXT = '.avi' OR fileext LIKE '.wm%'", {9, 10, 12}},
        {u"fileext='.avi'or fileext='.wmv'", {9, 10}},
        {u"\r\n fileext\t=\n'.gif'  Or\tpinyinma like'%l%'", {7, 8}},
        {u"((fileext = '.avi')) or (fileext = '.gif' or (fileext = '.bmp'))", {7, 8, 9}},
        {u"pinyinma like '%p%' or filenamewithno like '%Stop' or fileext = '.rle'", {2, 3, 4, 11}},
    };
    return cases;
}

struct layouts {
    const char* label;
    layout names, initials, ext;
};

class filter_language_test : public testing::TestWithParam<layouts> {};

TEST_P(filter_language_test, selects_the_rows_each_expression_names) {
    const layouts l = GetParam();
    const fake_filter_source source = catalogue(l.names, l.initials, l.ext);
    for (const selection_case& c : selection_cases()) {
        const QString text = QString::fromUtf16(c.expression);
        SCOPED_TRACE(text.toStdString());
        const auto expr = parse_filter(text, source);
        ASSERT_NE(expr, nullptr);
        EXPECT_EQ(selected(evaluate_filter(*expr, source)), c.rows);
    }
}

INSTANTIATE_TEST_SUITE_P(
    every_layout, filter_language_test,
    testing::Values(
        layouts{"catalogue", layout::ordered_arena, layout::ordered_arena, layout::dictionary},
        layouts{"unordered", layout::unordered_arena, layout::unordered_arena,
                layout::unordered_arena},
        layouts{"ordered", layout::ordered_arena, layout::ordered_arena, layout::ordered_arena},
        layouts{"dictionary", layout::dictionary, layout::dictionary, layout::dictionary},
        layouts{"generic", layout::generic, layout::generic, layout::generic}),
    [](const testing::TestParamInfo<layouts>& info) { return std::string(info.param.label); });

TEST(filter_language, texts_that_do_not_parse) {
    const fake_filter_source source =
        catalogue(layout::ordered_arena, layout::ordered_arena, layout::dictionary);
    const char16_t* bad[] = {
        u"fileext = '.avi",     // unterminated
        u"fileext = 'Don't'",   // a quote the user typed, not doubled
        u"nosuch = 'x'",        // unknown column
        u"fileext = '.avi' or", // dangling or
        u"fileext = '.avi' or or fileext = 'b'",
        u"or fileext = 'x'",
        u"fileext =", // missing value
        u"fileext = 'a' +",
        u"fileext = + 'a'",
        u"fileext 'x'", // missing operator
        u"fileext == 'a'",
        u"'a' = fileext",
        u"fileext = 'a' 'b'",
        u"fileext = 'a' fileext = 'b'",
        u"fileext = 'a' and fileext = 'b'",
        u"(fileext = 'a'",
        u"fileext = 'a')",
        u"(fileext = 'a'))",
        u"()",
        u"(",
        u"fileext = \"a\"",
        u"fileext = 'a' 我",
        u"1fileext = 'a'",
        u"like = 'a'",
        u"fileext like",
        u"fileext",
    };
    for (const char16_t* b : bad) {
        const QString text = QString::fromUtf16(b);
        EXPECT_EQ(parse_filter(text, source), nullptr) << text.toStdString();
    }
}

TEST(filter_language, escaped_user_text_finds_exactly_itself) {
    const std::vector<QString> texts = {u"Don't Stop"_s, u"'"_s,   u"''"_s,
                                        u"a''b'"_s,      u"'%'"_s, u""_s};
    std::vector<fake_filter_source::column> cols = {
        {u"filenamewithno"_s, layout::ordered_arena, {}}};
    for (const QString& t : texts) cols[0].values.push_back(t);
    const fake_filter_source source(std::move(cols));
    for (std::uint32_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(texts[i].toStdString());
        const auto equal = parse_filter(
            QString(u"filenamewithno = '"_s + filter_escape(texts[i]) + u"'"_s), source);
        ASSERT_NE(equal, nullptr);
        EXPECT_EQ(selected(evaluate_filter(*equal, source)), std::set<std::uint32_t>{i});
    }
    EXPECT_EQ(filter_escape(u"Don't Stop"), u"Don''t Stop"_s);
    EXPECT_EQ(filter_escape(u"''"), u"''''"_s);
    EXPECT_EQ(filter_escape(u"我的%爱人_"), u"我的%爱人_"_s);
}

// Texts lie back to back in an ordered arena: a hit across a row boundary is no hit.
TEST(filter_language, hits_across_rows_do_not_count) {
    for (const layout how : {layout::ordered_arena, layout::unordered_arena}) {
        std::vector<fake_filter_source::column> cols = {{u"filenamewithno"_s, how, {}}};
        cols[0].values = {u"xa"_s, u"by"_s,  std::nullopt, u"a"_s, u""_s,   u"b"_s,
                          u"ab"_s, u"aaa"_s, u"ab"_s,      u"a"_s, u"bab"_s};
        const fake_filter_source source(std::move(cols));
        const auto expr = parse_filter(u"filenamewithno like '%ab%'", source);
        ASSERT_NE(expr, nullptr);
        EXPECT_EQ(selected(evaluate_filter(*expr, source)), (std::set<std::uint32_t>{6, 8, 10}));
        const auto longer = parse_filter(u"filenamewithno like '%aab%'", source);
        ASSERT_NE(longer, nullptr);
        EXPECT_TRUE(selected(evaluate_filter(*longer, source)).empty());
    }
}

TEST(filter_language, a_table_without_rows_or_with_null_columns_only) {
    std::vector<fake_filter_source::column> cols = {
        {u"filenamewithno"_s, layout::ordered_arena, {}}};
    const fake_filter_source empty(cols);
    const auto expr = parse_filter(u"filenamewithno like '%a%'", empty);
    ASSERT_NE(expr, nullptr);
    EXPECT_TRUE(evaluate_filter(*expr, empty).empty());

    cols[0].values.assign(5, std::nullopt);
    const fake_filter_source nulls(cols);
    EXPECT_EQ(evaluate_filter(*expr, nulls), std::vector<std::uint8_t>(5, 0));
    EXPECT_EQ(evaluate_filter(*parse_filter(u"", nulls), nulls), std::vector<std::uint8_t>(5, 1));
}

} // namespace
