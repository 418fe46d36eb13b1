// Any text given to the filter parser: no crash, and where it parses, every storage
// layout and thread count gives one answer. Any text escaped as a string value finds
// exactly itself. The first byte chooses UTF-8 or UTF-16 for the rest.
#include "search/language/filter_evaluator.h"
#include "search/language/filter_language.h"
#include "tests/search/fake_filter_source.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

using layout = fake_filter_source::layout;

fake_filter_source table(layout names, layout exts) {
    const std::vector<fake_filter_source::cell> name_values = {
        u"ab"_s,       u"Don't Stop"_s, std::nullopt, u""_s,     u"a%b_c"_s,
        u"我的爱人"_s, u"xa"_s,         u"by"_s,      u"aaab"_s, u"''"_s,
    };
    const std::vector<fake_filter_source::cell> ext_values = {
        u".mp3"_s, u".jpg"_s, u".JPG"_s, std::nullopt, u""_s,
        u".avi"_s, u".jpg"_s, u"'"_s,    u".wmv"_s,    u"%"_s,
    };
    return fake_filter_source({{u"filenamewithno"_s, names, name_values},
                               {u"fileext"_s, exts, ext_values},
                               {u"pinyinma"_s, layout::generic, name_values}});
}

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    QString text;
    if (data[0] & 1) {
        text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                 static_cast<qsizetype>(size - 1));
    } else {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.append(QChar(static_cast<char16_t>(data[i] | (data[i + 1] << 8))));
    }

    static const fake_filter_source reference = table(layout::generic, layout::generic);
    static const fake_filter_source others[] = {
        table(layout::ordered_arena, layout::dictionary),
        table(layout::unordered_arena, layout::ordered_arena),
        table(layout::dictionary, layout::unordered_arena),
    };

    if (const auto expr = parse_filter(text, reference)) {
        const std::vector<std::uint8_t> expected = evaluate_filter(*expr, reference, 1);
        check(expected.size() == reference.row_count());
        for (const fake_filter_source& s : others) check(evaluate_filter(*expr, s, 1) == expected);
        check(evaluate_filter(*expr, others[0], 3) == expected);
    }

    // The same text as a user's search word, escaped, must parse and find itself.
    if (text.size() >= null_text_length) return 0;
    const fake_filter_source self({{u"name"_s, layout::ordered_arena, {u"x"_s, text, u"y"_s}}});
    const auto equal = parse_filter(QString(u"name = '"_s + filter_escape(text) + u"'"_s), self);
    check(equal != nullptr);
    check(evaluate_filter(*equal, self, 1)[1] == 1);
    const auto contains =
        parse_filter(QString(u"name like '%' + '"_s + filter_escape(text) + u"' + '%'"_s), self);
    check(contains != nullptr);
    check(evaluate_filter(*contains, self, 1)[1] == 1);
    return 0;
}
