#include "catalogue/core/record_set.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Appends one record per name with the given extension; machineid counts from 1.
void add_records(record_set& rs, const QStringList& names, const QString& ext = u".mp3"_s) {
    for (const QString& name : names) {
        const long row = rs.insertrow(0);
        rs.set_long(row, col_machineid, static_cast<std::int32_t>(rs.rowcount()));
        rs.set_text(row, col_filenamewithno, name);
        rs.set_text(row, col_filename, name);
        rs.set_text(row, col_fileext, ext);
        rs.set_text(row, col_filepath, QString(u"/music/"_s + name + ext));
    }
}

QStringList names_of(const record_set& rs) {
    QStringList out;
    for (long r = 1; r <= rs.rowcount(); ++r) out << rs.getitemstring(r, col_filenamewithno);
    return out;
}

TEST(record_set, new_record_has_sourceid_zero_and_every_other_column_null) {
    record_set rs;
    EXPECT_EQ(rs.insertrow(0), 1);
    EXPECT_EQ(rs.insertrow(0), 2);
    EXPECT_EQ(rs.rowcount(), 2);
    EXPECT_EQ(rs.get_long(2, col_sourceid), 0);
    for (const auto& c : catalogue_columns) {
        if (c.number != col_sourceid) {
            EXPECT_TRUE(rs.isnull(2, c.number)) << c.number;
        }
    }
    EXPECT_EQ(rs.insertrow(1), -1) << "only appending is supported";
}

TEST(record_set, values_of_every_type_round_trip_and_empty_text_is_not_null) {
    record_set rs;
    rs.insertrow(0);
    rs.set_long(1, col_machineid, -2147483647 - 1);
    rs.set_text(1, col_filename, u"我的爱人"_s);
    rs.set_text(1, col_fileext, u""_s);
    const auto when = local_datetime::from(QDate(2024, 2, 29), QTime(23, 59, 58));
    rs.set_datetime(1, col_createdate, when);
    rs.set_text(1, col_filepath, u"D:\\歌曲\\1002-歌名.mp3"_s);
    rs.set_decimal(1, col_filesizedec, decimal2{300});
    EXPECT_EQ(rs.get_long(1, col_machineid), -2147483647 - 1);
    EXPECT_EQ(rs.get_text(1, col_filename), u"我的爱人"_s);
    EXPECT_FALSE(rs.isnull(1, col_fileext));
    EXPECT_EQ(rs.get_text(1, col_fileext), QString());
    EXPECT_EQ(rs.get_datetime(1, col_createdate), when);
    EXPECT_EQ(rs.get_text(1, col_filepath), u"D:\\歌曲\\1002-歌名.mp3"_s);
    EXPECT_EQ(rs.getitemstring(1, col_filesizedec), u"3.00"_s);
    EXPECT_EQ(rs.getitemstring(1, col_createdate), u"2024-02-29 23:59:58"_s);
    rs.set_null(1, col_filename);
    EXPECT_TRUE(rs.isnull(1, col_filename));
    EXPECT_EQ(rs.getitemstring(1, col_filename), QString());
}

// The name and the path are stored as made from filenamewithno and fileext: changing those
// later must not change them.
TEST(record_set, changing_filenamewithno_or_fileext_keeps_filename_and_filepath) {
    record_set rs;
    rs.insertrow(0);
    rs.insertrow(0);
    for (const long r : {1L, 2L}) {
        rs.set_text(r, col_filenamewithno, u"1002-歌名"_s);
        rs.set_text(r, col_fileext, u".mp3"_s);
        rs.set_text(r, col_filename, u"歌名"_s);
        rs.set_text(r, col_filepath, u"D:\\歌\\1002-歌名.MP3"_s);
    }
    const std::function<void()> edits[] = {
        [&] { rs.set_text(1, col_fileext, u".wav"_s); },
        [&] { rs.set_text(1, col_filenamewithno, u"9-别的"_s); },
        [&] { rs.set_null(1, col_fileext); },
        [&] { rs.set_null(1, col_filenamewithno); },
        [&] { rs.set_text(2, col_filenamewithno, u"歌名"_s); },
        [&] { rs.set_null(2, col_fileext); },
    };
    for (const auto& edit : edits) {
        edit();
        for (const long r : {1L, 2L}) {
            EXPECT_EQ(rs.get_text(r, col_filename), u"歌名"_s) << r;
            EXPECT_EQ(rs.get_text(r, col_filepath), u"D:\\歌\\1002-歌名.MP3"_s) << r;
        }
    }
    EXPECT_TRUE(rs.isnull(1, col_filenamewithno));
    EXPECT_EQ(rs.get_text(2, col_filenamewithno), u"歌名"_s);
}

TEST(record_set, texts_are_cut_to_their_column_length_and_bad_addresses_are_ignored) {
    record_set rs;
    rs.insertrow(0);
    rs.set_text(1, col_fileext, QString(25, u'x'));
    rs.set_text(1, col_filepath, QString(2000, u'p'));
    EXPECT_EQ(rs.get_text(1, col_fileext)->size(), 20);
    EXPECT_EQ(rs.get_text(1, col_filepath)->size(), 1024);
    rs.set_text(0, col_filename, u"x"_s);
    rs.set_text(2, col_filename, u"x"_s);
    rs.set_text(1, 10, u"x"_s);
    rs.set_long(1, col_filename, 5); // wrong type: ignored
    EXPECT_TRUE(rs.isnull(1, col_filename));
    EXPECT_FALSE(rs.get_text(2, col_filename));
}

TEST(record_set, setitem_parses_text_forms_and_stores_null_for_bad_ones) {
    struct case_t {
        int column;
        QString text;
        bool ok;
        QString stored;
    };
    const case_t cases[] = {
        {col_machineid, u"42"_s, true, u"42"_s},
        {col_machineid, u"-7"_s, true, u"-7"_s},
        {col_machineid, u"2147483648"_s, false, u""_s},
        {col_machineid, u"12a"_s, false, u""_s},
        {col_sourceid, u""_s, false, u""_s},
        {col_filesizedec, u"3.5"_s, true, u"3.50"_s},
        {col_filesizedec, u"0.00"_s, true, u"0.00"_s},
        {col_filesizedec, u"-0.01"_s, true, u"-0.01"_s},
        {col_filesizedec, u"1.234"_s, false, u""_s},
        {col_filesizedec, u"."_s, false, u""_s},
        {col_createdate, u"2023-12-31 23:59:59"_s, true, u"2023-12-31 23:59:59"_s},
        {col_createdate, u"2023-02-30 00:00:00"_s, false, u""_s},
        {col_createdate, u"2023-12-31 24:00:00"_s, false, u""_s},
        {col_createdate, u"yesterday"_s, false, u""_s},
        {col_createdate, u"2024-02-29"_s, true, u"2024-02-29 00:00:00"_s},
        {col_createdate, u"1900-02-29 00:00:00"_s, false, u""_s},
        {col_createdate, u"2000-02-29 12:00:00"_s, true, u"2000-02-29 12:00:00"_s},
        {col_createdate, u"0000-01-01 00:00:00"_s, false, u""_s},
        {col_createdate, u"2023-13-01 00:00:00"_s, false, u""_s},
        {col_createdate, u"2023-04-31 00:00:00"_s, false, u""_s},
        {col_createdate, u"2023-01-01 00:60:00"_s, false, u""_s},
        {col_filename, u"any text"_s, true, u"any text"_s},
    };
    for (const auto& c : cases) {
        record_set rs;
        rs.insertrow(0);
        EXPECT_EQ(rs.setitem(1, c.column, c.text), c.ok) << c.text.toStdString();
        EXPECT_EQ(rs.getitemstring(1, c.column), c.stored) << c.text.toStdString();
        EXPECT_EQ(rs.isnull(1, c.column), !c.ok);
    }
}

// Dates are read without the calendar classes: every day of five centuries as they count it.
TEST(record_set, dates_read_from_text_are_the_calendar_days) {
    record_set rs;
    rs.insertrow(0);
    for (QDate d(1601, 1, 1); d.year() < 2101; d = d.addDays(1)) {
        const QTime t(static_cast<int>(d.toJulianDay() % 24), 59, 58);
        const QString text =
            d.toString(u"yyyy-MM-dd hh:mm:ss"_s.left(10)) + u" "_s + t.toString(u"hh:mm:ss"_s);
        ASSERT_TRUE(rs.setitem(1, static_cast<int>(col_createdate), QStringView(text)));
        ASSERT_EQ(rs.get_datetime(1, col_createdate)->seconds, local_datetime::from(d, t).seconds)
            << d.toString(Qt::ISODate).toStdString();
    }
}

TEST(record_set, columns_are_addressed_by_name_as_by_number) {
    record_set rs;
    rs.insertrow(0);
    for (const auto& c : catalogue_columns) {
        const QString name = c.name.toString();
        const QString value = c.number == col_createdate    ? u"2024-01-02 03:04:05"_s
                              : c.number == col_filesizedec ? u"1.25"_s
                                                            : QString::number(c.number);
        EXPECT_TRUE(rs.setitem(1, name.toUpper(), value)) << name.toStdString();
        EXPECT_EQ(rs.getitemstring(1, c.number), value) << name.toStdString();
        EXPECT_EQ(rs.getitemstring(1, name), value) << name.toStdString();
    }
    EXPECT_FALSE(rs.setitem(1, u"no_such_column", u"1"));
    EXPECT_TRUE(rs.getitemstring(1, u"no_such_column").isEmpty());
}

TEST(record_set, filter_keeps_catalogue_order_and_a_bad_filter_keeps_the_previous_one) {
    record_set rs;
    add_records(rs, {u"b12"_s, u"a1"_s, u"c12x"_s, u"d"_s});
    ASSERT_EQ(rs.setfilter(u"filenamewithno like '%12%'"), 1);
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"b12"_s, u"c12x"_s}));
    EXPECT_EQ(rs.filteredcount(), 2);

    EXPECT_EQ(rs.setfilter(u"filenamewithno like '%1"), -1);
    EXPECT_EQ(rs.setfilter(u"nosuchcolumn = 'x'"), -1);
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"b12"_s, u"c12x"_s}));

    ASSERT_EQ(rs.setfilter(u""), 1);
    rs.filter();
    EXPECT_EQ(rs.rowcount(), 4);
}

TEST(record_set, null_matches_nothing_but_empty_text_matches_an_empty_pattern) {
    record_set rs;
    add_records(rs, {u"x"_s, u"y"_s});
    rs.set_null(1, col_fileext);
    rs.set_text(2, col_fileext, u""_s);
    rs.setfilter(u"fileext like '%%'");
    rs.filter();
    EXPECT_EQ(names_of(rs), QStringList{u"y"_s});
    rs.setfilter(u"fileext = ''");
    rs.filter();
    EXPECT_EQ(names_of(rs), QStringList{u"y"_s});
}

TEST(record_set, rows_added_or_edited_after_a_search_are_found_by_the_next_one) {
    record_set rs;
    add_records(rs, {u"one"_s, u"two"_s, u"three"_s});
    // Names enough that a search runs its wide scan over what an edit rewrote.
    for (int i = 0; i < 40; ++i) add_records(rs, {u"一二三四五六七八九十xyz"_s}, u".txt"_s);
    rs.setfilter(u"filenamewithno like '%o%'");
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"one"_s, u"two"_s}));
    // An earlier row edited after later rows were written.
    rs.setfilter(u"");
    rs.filter();
    rs.set_text(1, col_filenamewithno, u"zzz"_s);
    rs.set_text(3, col_filenamewithno, u"thro"_s);
    add_records(rs, {u"four"_s});
    rs.setfilter(u"filenamewithno like '%o%'");
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"two"_s, u"thro"_s, u"four"_s}));
    // A name taken away leaves its text where it was, which is no longer its row's.
    rs.set_null(1, col_filenamewithno);
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"thro"_s, u"four"_s}));
    // Two rows added before the first is named: the second, still nameless, takes none of
    // the first one's hits.
    const long first = rs.insertrow(0);
    rs.insertrow(0);
    rs.set_text(first, col_filenamewithno, u"oboe"_s);
    rs.filter();
    EXPECT_EQ(names_of(rs), (QStringList{u"thro"_s, u"four"_s, u"oboe"_s}));
}

TEST(record_set, inserted_rows_are_visible_under_a_filter) {
    record_set rs;
    add_records(rs, {u"a"_s, u"b"_s});
    rs.setfilter(u"filenamewithno = 'a'");
    rs.filter();
    add_records(rs, {u"c"_s});
    EXPECT_EQ(names_of(rs), (QStringList{u"a"_s, u"c"_s}));
}

TEST(record_set, rowscopy_appends_visible_rows_and_copies_stay_independent) {
    record_set catalogue, list;
    add_records(catalogue, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    catalogue.setfilter(u"filenamewithno = 'b' or filenamewithno = 'c' or filenamewithno = 'd'");
    catalogue.filter();
    catalogue.rowscopy(1, 2, list);
    catalogue.rowscopy(3, 99, list);
    EXPECT_EQ(names_of(list), (QStringList{u"b"_s, u"c"_s, u"d"_s}));
    EXPECT_EQ(list.get_text(1, col_filepath), u"/music/b.mp3"_s);

    // A change on either side is not seen by the other.
    list.set_text(1, col_filenamewithno, u"changed"_s);
    EXPECT_EQ(catalogue.getitemstring(1, col_filenamewithno), u"b"_s);
    catalogue.set_text(2, col_filenamewithno, u"also"_s);
    EXPECT_EQ(list.getitemstring(2, col_filenamewithno), u"c"_s);

    // Emptying the catalogue leaves the list alone.
    catalogue.reset();
    EXPECT_EQ(catalogue.rowcount(), 0);
    EXPECT_EQ(names_of(list), (QStringList{u"changed"_s, u"c"_s, u"d"_s}));
    add_records(catalogue, {u"new"_s});
    EXPECT_EQ(names_of(list), (QStringList{u"changed"_s, u"c"_s, u"d"_s}));
}

// Show-all copies every row: the lists of rows are shared until either side changes.
TEST(record_set, every_row_copied_stays_independent_of_later_changes_on_either_side) {
    record_set catalogue, list;
    add_records(catalogue, {u"a"_s, u"b"_s, u"c"_s});
    catalogue.setfilter(u"");
    catalogue.filter();
    catalogue.rowscopy(1, catalogue.rowcount(), list);
    catalogue.move_to_setaside(2, 2);
    add_records(list, {u"d"_s});
    EXPECT_EQ(names_of(catalogue), (QStringList{u"a"_s, u"c"_s}));
    EXPECT_EQ(names_of(list), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
    catalogue.setfilter(u"filenamewithno like '%b%' or filenamewithno = 'c'");
    catalogue.filter();
    EXPECT_EQ(names_of(catalogue), QStringList{u"c"_s});
    catalogue.move_from_setaside(1, 1);
    catalogue.setfilter(u"filenamewithno like '%b%' or filenamewithno = 'c'");
    catalogue.filter();
    EXPECT_EQ(names_of(catalogue), (QStringList{u"b"_s, u"c"_s}));
    EXPECT_EQ(names_of(list), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
}

TEST(record_set, rowscopy_into_a_list_with_rows_of_its_own_copies_every_value) {
    record_set a, b;
    add_records(a, {u"a1"_s});
    a.set_datetime(1, col_createdate, local_datetime::from(QDate(2020, 1, 2), QTime(3, 4, 5)));
    a.set_decimal(1, col_filesizedec, decimal2{1234});
    add_records(b, {u"b1"_s});
    a.rowscopy(1, 1, b);
    ASSERT_EQ(b.rowcount(), 2);
    for (const auto& c : catalogue_columns) {
        EXPECT_EQ(b.getitemstring(2, c.number), a.getitemstring(1, c.number)) << c.number;
        EXPECT_EQ(b.isnull(2, c.number), a.isnull(1, c.number)) << c.number;
    }
}

TEST(record_set, set_aside_records_take_part_in_no_filter_and_come_back_first) {
    record_set rs;
    add_records(rs, {u"s1"_s, u"s2"_s}, u".mp3"_s);
    add_records(rs, {u"w1"_s, u"w2"_s}, u".wma"_s);
    add_records(rs, {u"s3"_s}, u".mp3"_s);

    // Untick .wma: the query window's sequence.
    rs.setfilter(u"fileext = '.wma'");
    rs.filter();
    ASSERT_EQ(rs.rowcount(), 2);
    rs.move_to_setaside(1, rs.rowcount());
    rs.setfilter(u"");
    rs.filter();
    EXPECT_EQ(rs.setasidecount(), 2);
    EXPECT_EQ(names_of(rs), (QStringList{u"s1"_s, u"s2"_s, u"s3"_s}));
    rs.setfilter(u"filenamewithno like '%w%'");
    rs.filter();
    EXPECT_EQ(rs.rowcount(), 0);

    // Tick it again.
    rs.move_from_setaside(1, rs.setasidecount());
    rs.setfilter(u"");
    rs.filter();
    EXPECT_EQ(rs.setasidecount(), 0);
    EXPECT_EQ(names_of(rs), (QStringList{u"w1"_s, u"w2"_s, u"s1"_s, u"s2"_s, u"s3"_s}));
}

TEST(record_set, set_aside_moves_insert_before_record_one_of_the_target) {
    record_set rs;
    add_records(rs, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    rs.move_to_setaside(2, 2); // b
    rs.move_to_setaside(2, 3); // c, d: before b
    EXPECT_EQ(names_of(rs), QStringList{u"a"_s});
    EXPECT_EQ(rs.setasidecount(), 3);
    rs.move_from_setaside(3, 3); // b
    EXPECT_EQ(names_of(rs), (QStringList{u"b"_s, u"a"_s}));
    rs.move_to_setaside(5, 9); // nothing there
    rs.move_from_setaside(0, 99);
    EXPECT_EQ(names_of(rs), (QStringList{u"c"_s, u"d"_s, u"b"_s, u"a"_s}));
    rs.reset();
    EXPECT_EQ(rs.setasidecount(), 0);
}

TEST(record_set, change_listener_waits_while_redraw_is_off) {
    record_set rs;
    int calls = 0;
    rs.set_change_listener([&] { ++calls; });
    rs.setredraw(false);
    add_records(rs, {u"a"_s, u"b"_s});
    rs.setfilter(u"");
    rs.filter();
    EXPECT_EQ(calls, 0);
    rs.setredraw(true);
    EXPECT_EQ(calls, 1);
    rs.reset();
    EXPECT_EQ(calls, 2);
}

} // namespace
