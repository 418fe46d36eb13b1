#include "search/core/query_engine.h"

#include "catalogue/core/record_set.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(query_engine, an_edit_decides_by_length_and_first_character) {
    struct case_t {
        QString text;
        bool too_short, stop, start, show_all;
    };
    const case_t cases[] = {
        {u""_s, true, false, false, false},     {u"a"_s, true, false, false, false},
        {u">"_s, true, false, false, false},    {u"ab"_s, false, false, true, false},
        {u" 1"_s, false, true, false, false},   {u">>"_s, false, true, false, true},
        {u"》》"_s, false, true, false, true},  {u"我的"_s, false, false, true, false},
        {u"PPPP"_s, false, false, true, false},
    };
    for (const auto& c : cases) {
        const edit_action a = on_condition_edited(c.text);
        EXPECT_EQ(a.note_too_short, c.too_short) << c.text.toStdString();
        EXPECT_EQ(a.stop_timer, c.stop) << c.text.toStdString();
        EXPECT_EQ(a.start_timer, c.start) << c.text.toStdString();
        EXPECT_EQ(a.show_all_now, c.show_all) << c.text.toStdString();
    }
}

TEST(query_engine, each_kind_of_condition_builds_its_exact_filter) {
    using pm = picture_mode_change;
    struct case_t {
        QString condition;
        std::optional<QString> filter;
        pm picture;
        bool every;
    };
    const case_t cases[] = {
        {u"PPPP"_s,
         u"fileext = '.jpg' or  fileext = '.jpeg' or  fileext = '.bmp' or  fileext = '.gif' or  "
         "fileext = '.rle' or  fileext = '.wmf' "_s,
         pm::turn_on, true},
        {u"PJPG"_s, u"fileext = '.' + 'jpg'"_s, pm::turn_on, true},
        {u"Pmp3"_s, u"fileext = '.' + 'mp3'"_s, pm::turn_on, true},
        {u"pjpg"_s, u"pinyinma like '%' +'pjpg' + '%' or pinyinkey like '%' + 'pjpg' + '%'"_s,
         pm::turn_off, false},
        {u"wdar"_s, u"pinyinma like '%' +'wdar' + '%' or pinyinfull like '%' + 'wdar' + '%'"_s,
         pm::turn_off, false}, // w|da|r read as mixed pinyin too
        {u"ai"_s, u"pinyinma like '%' +'ai' + '%' or pinyinfull like '%' + 'ai' + '%'"_s,
         pm::turn_off, false}, // a whole syllable: 爱 too
        {u"我的 爱人"_s, u"filenamewithno like '%' +'我的%爱人' + '%'"_s, pm::turn_off, false},
        {u"我的  爱人 "_s, u"filenamewithno like '%' +'我的%%爱人' + '%'"_s, pm::turn_off, false},
        {u"{x}"_s, u"filenamewithno like '%' +'{x}' + '%'"_s, pm::turn_off, false},
        {u"1002"_s, u"filenamewithno like '%' +'1002' + '%'"_s, pm::turn_off, false},
        {u"1002 abc"_s, std::nullopt, pm::keep, false},
        {u" 1002 1003 1004"_s,
         u"(filenamewithno like '%' + '1002' + '%') or (filenamewithno like '%' +'1003' + '%') or "
         "(filenamewithno like '%' +'1004' + '%')"_s,
         pm::turn_off, false},
        {u" 1  2"_s,
         u"(filenamewithno like '%' + '1' + '%') or (filenamewithno like '%' +'' + '%') or "
         "(filenamewithno like '%' +'2' + '%')"_s,
         pm::turn_off, false},
        {u"   "_s, u"(filenamewithno like '%' + '' + '%')"_s, pm::turn_off, false},
        {u"Abc"_s, std::nullopt, pm::keep, false},
        {u"#1"_s, std::nullopt, pm::keep, false},
        {u">>"_s, std::nullopt, pm::keep, true},
        {u"don't"_s, u"pinyinma like '%' +'don''t' + '%' or pinyinkey like '%' + 'don''t' + '%'"_s,
         pm::turn_off, false},
    };
    for (const auto& c : cases) {
        const query_plan plan = plan_query(c.condition);
        EXPECT_EQ(plan.filter, c.filter) << c.condition.toStdString();
        EXPECT_EQ(plan.picture_mode, c.picture) << c.condition.toStdString();
        EXPECT_EQ(plan.copy_every_match, c.every) << c.condition.toStdString();
    }
}

record_set& add(record_set& rs, const QString& name, const QString& ext = u".mp3"_s) {
    const long r = rs.insertrow(0);
    rs.set_long(r, col_machineid, static_cast<std::int32_t>(r));
    rs.set_text(r, col_filenamewithno, name);
    rs.set_text(r, col_filename, name);
    rs.set_text(r, col_fileext, ext);
    rs.set_text(r, col_pinyinma, name);
    return rs;
}

TEST(query_engine, at_most_100_rows_are_copied_unless_every_match_was_asked_for) {
    struct case_t {
        int matching;
        QString condition;
        long copied;
        std::optional<QString> note;
    };
    const case_t cases[] = {
        {99, u"ab"_s, 99, query_notes::all_shown},
        {100, u"ab"_s, 100, query_notes::over_limit},
        {250, u"ab"_s, 100, query_notes::over_limit},
        {250, u"PPPP"_s, 250, query_notes::all_shown},
        {0, u"ab"_s, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        record_set catalogue, results;
        for (int i = 0; i < c.matching; ++i)
            add(catalogue, u"ab"_s + QString::number(i), u".jpg"_s);
        add(catalogue, u"zz"_s, u".mp3"_s);
        add(results, u"old"_s);
        const query_outcome out = run_query(plan_query(c.condition), catalogue, results);
        EXPECT_EQ(out.matches, c.matching) << c.matching;
        EXPECT_EQ(results.rowcount(), c.copied) << c.matching;
        EXPECT_EQ(out.note, c.note) << c.matching;
    }
}

TEST(query_engine, a_condition_that_sets_no_filter_shows_the_previous_filters_records) {
    record_set catalogue, results;
    add(catalogue, u"ab1"_s);
    add(catalogue, u"cd"_s);
    add(catalogue, u"ab2"_s);
    run_query(plan_query(u"ab"), catalogue, results);
    ASSERT_EQ(results.rowcount(), 2);
    add(catalogue, u"ef"_s); // a running scan appends past the filter
    run_query(plan_query(u"Xyz"), catalogue, results);
    EXPECT_EQ(results.rowcount(), 2);
    EXPECT_EQ(results.getitemstring(2, col_filenamewithno), u"ab2"_s);
}

TEST(query_engine, quotes_in_a_condition_find_names_with_quotes) {
    record_set catalogue, results;
    add(catalogue, u"Don't Stop"_s);
    add(catalogue, u"Dont Stop"_s);
    const query_outcome out = run_query(plan_query(u"{'t S"), catalogue, results);
    EXPECT_EQ(out.matches, 0);
    run_query(plan_query(u"中 Don't"), catalogue, results);
    EXPECT_EQ(results.rowcount(), 0);
    add(catalogue, u"中 Don't Stop"_s);
    run_query(plan_query(u"中 Don't"), catalogue, results);
    ASSERT_EQ(results.rowcount(), 1);
    EXPECT_EQ(results.getitemstring(1, col_filenamewithno), u"中 Don't Stop"_s);
}

TEST(query_engine, show_all_lists_every_record_that_is_not_set_aside) {
    record_set catalogue, results;
    for (int i = 0; i < 150; ++i) add(catalogue, u"n"_s + QString::number(i));
    catalogue.move_to_setaside(1, 10);
    run_query(plan_query(u"n1"), catalogue, results);
    const query_outcome out = show_all(catalogue, results);
    EXPECT_EQ(out.matches, 140);
    EXPECT_EQ(results.rowcount(), 140);
    EXPECT_EQ(out.note, query_notes::want_all);
}

} // namespace

TEST(query_engine, the_key_alone_answers_while_it_finds_what_the_initials_find) {
    const QString key_only = u"pinyinkey like '%' + 'wd' + '%'"_s;
    record_set catalogue, results;
    add(catalogue, u"WD mix"_s);
    add(catalogue, u"𠀀 WD"_s); // a character of two units before the letters
    const long r = catalogue.insertrow(0);
    catalogue.set_text(r, col_filename, u"我的爱人"_s);
    catalogue.set_text(r, col_filenamewithno, u"我的爱人"_s);
    catalogue.set_text(r, col_pinyinma, u"wdar"_s);
    // No key for these rows yet: the stored initials alone, which keep Latin capitals.
    EXPECT_EQ(run_query(plan_query(u"wd"), catalogue, results).matches, 1);
    EXPECT_NE(catalogue.filter_text(), key_only);
    catalogue.build_pinyin_key();
    EXPECT_EQ(run_query(plan_query(u"wd"), catalogue, results).matches, 3);
    EXPECT_EQ(catalogue.filter_text(), key_only);
    // Initials the key does not hold (a catalogue file written elsewhere) are still found.
    catalogue.set_text(r, col_pinyinma, u"xyz"_s);
    catalogue.build_pinyin_key();
    EXPECT_EQ(run_query(plan_query(u"xy"), catalogue, results).matches, 1);
    EXPECT_EQ(run_query(plan_query(u"wd"), catalogue, results).matches, 3);
    // A whole syllable alone also finds a character that reads it (爱, 你 but not 年), and
    // Latin letters as themselves.
    add(catalogue, u"Thai"_s);
    add(catalogue, u"你好"_s);
    add(catalogue, u"年 Night"_s);
    add(catalogue, u"年少"_s);
    catalogue.build_pinyin_key();
    EXPECT_EQ(run_query(plan_query(u"ai"), catalogue, results).matches, 2);
    EXPECT_EQ(run_query(plan_query(u"ni"), catalogue, results).matches, 2);
}
