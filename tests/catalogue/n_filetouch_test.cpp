#include "app/shell/operation_feedback.h"
#include "catalogue/core/folder_names.h"
#include "catalogue/core/n_filetouch.h"
#include "tests/support/tree_builder.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <random>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Runs with TZ set, and puts the old zone back.
class scoped_tz {
  public:
    explicit scoped_tz(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
            had_ = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~scoped_tz() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::string old_;
    bool had_ = false;
};

filetime filetime_of(const QDateTime& utc) {
    constexpr std::int64_t epoch_1601 = 11'644'473'600;
    const std::int64_t ms = utc.toMSecsSinceEpoch();
    return filetime::from_ticks(
        static_cast<std::uint64_t>((ms / 1000 + epoch_1601) * 10'000'000 + (ms % 1000) * 10'000));
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
}

struct listed {
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    filetime created, written;
    bool undecodable = false;
    name_decoding decoding = name_decoding::utf8;
};

std::map<QString, listed> list_all(n_filetouch& ft, const QString& pattern) {
    std::map<QString, listed> out;
    win32_find_dataw d;
    const find_handle h = ft.findfirstfile(pattern, d);
    if (h < 1) return out;
    do {
        out[d.name().toString()] = {
            d.dwfileattributes,   (std::uint64_t{d.nfilesizehigh} << 32) | d.nfilesizelow,
            d.ftcreationtime,     d.ftlastwritetime,
            d.name_undecodable(), d.decoding};
    } while (ft.findnextfile(h, d));
    EXPECT_TRUE(ft.findclose(h));
    return out;
}

class filetouch : public ::testing::Test {
  protected:
    silent_feedback feedback;
    n_filetouch ft{feedback, scan_options{}};
    tree_builder tree;
};

TEST(of_checkbit, bits_as_whole_part_of_quotient) {
    struct row {
        std::int32_t number;
        std::uint16_t bit;
        bool set;
    };
    const row rows[] = {
        {16, 5, true}, {15, 5, false}, {2, 2, true},           {3, 3, false},         {4, 3, true},
        {18, 2, true}, {18, 5, true},  {18, 3, false},         {0, 1, false},         {1, 1, true},
        {1, 0, false}, {1, 33, false}, {0x7FFFFFFF, 31, true}, {INT32_MIN, 32, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(n_filetouch::of_checkbit(r.number, r.bit), r.set) << r.number << " bit " << r.bit;
}

TEST(of_get_filename_part, splits_at_the_last_dot) {
    struct row {
        QString full, name, ext;
    };
    const row rows[] = {
        {u"a.b.mp3"_s, u"a.b"_s, u".mp3"_s},
        {u"README"_s, u"README"_s, u""_s},
        {u"x."_s, u"x"_s, u"."_s},
        {u".profile"_s, u""_s, u".profile"_s},
        {u"歌名.MP3"_s, u"歌名"_s, u".MP3"_s},
        {u""_s, u""_s, u""_s},
    };
    for (const auto& r : rows) {
        QString ext = u"stale"_s;
        EXPECT_EQ(n_filetouch::of_get_filename_part(r.full, ext), r.name) << r.full.toStdString();
        EXPECT_EQ(ext, r.ext) << r.full.toStdString();
    }
}

TEST(of_str_in_array, exact_match_within_upper_bound) {
    const QStringList types{u".mp3"_s, u".wma"_s, u".jpg"_s};
    EXPECT_TRUE(n_filetouch::of_str_in_array(u".mp3", types, 3));
    EXPECT_TRUE(n_filetouch::of_str_in_array(u".wma", types, 2));
    EXPECT_FALSE(n_filetouch::of_str_in_array(u".jpg", types, 2)); // beyond the bound
    EXPECT_FALSE(n_filetouch::of_str_in_array(u".mp3", types, 0));
    EXPECT_FALSE(n_filetouch::of_str_in_array(u".MP3", types, 3)); // exact, not folded
    EXPECT_FALSE(n_filetouch::of_str_in_array(u"mp3", types, 3));
    // A bound larger than the list reads no further than the list.
    EXPECT_TRUE(n_filetouch::of_str_in_array(u".jpg", types, 99));
    EXPECT_FALSE(n_filetouch::of_str_in_array(u".avi", types, 99));
}

TEST(is_marked_folder, a_drive_never_counts_and_a_root_folder_does) {
    const struct {
        const char16_t* folder;
        bool marked;
    } cases[] = {
        {u"D:\\##歌曲", true},
        {u"D:\\歌曲\\##新歌", true},
        {u"D:\\歌曲", false},
        {u"C:\\", false},
        {u"/##歌曲", true},
        {u"/home/u/##a/b", true},
        {u"/home/u/#a#", false},
        {u"##", true},
        {u"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(n_filetouch::is_marked_folder(QStringView(c.folder)), c.marked)
            << QString::fromUtf16(c.folder).toStdString();
}

TEST(filetime_conversion, local_date_follows_the_time_zone) {
    struct row {
        const char* zone;
        QDateTime universal;
        QDate date;
        QTime time;
    };
    const row rows[] = {
        {"Asia/Shanghai", utc(2023, 12, 31, 23, 59, 59), QDate(2024, 1, 1), QTime(7, 59, 59)},
        {"UTC", utc(2023, 12, 31, 23, 59, 59), QDate(2023, 12, 31), QTime(23, 59, 59)},
        {"America/New_York", utc(2024, 1, 1, 3, 0, 0), QDate(2023, 12, 31), QTime(22, 0, 0)},
        // The offset in force at that instant, summer or winter.
        {"Europe/Berlin", utc(2023, 7, 1, 12, 0, 0), QDate(2023, 7, 1), QTime(14, 0, 0)},
        {"Europe/Berlin", utc(2023, 1, 1, 12, 0, 0), QDate(2023, 1, 1), QTime(13, 0, 0)},
        {"UTC", utc(1601, 1, 1, 0, 0, 0), QDate(1601, 1, 1), QTime(0, 0, 0)},
    };
    for (const auto& r : rows) {
        scoped_tz tz(r.zone);
        std::optional<local_datetime> dt;
        ASSERT_EQ(n_filetouch::of_filedatetimetopb(filetime_of(r.universal), dt), 1) << r.zone;
        ASSERT_TRUE(dt.has_value());
        EXPECT_EQ(dt->date(), r.date) << r.zone;
        EXPECT_EQ(dt->time(), r.time) << r.zone;
    }
}

TEST(filetime_conversion, remembered_offsets_agree_with_the_zone_across_its_changes) {
    // Changes at half hours (St. John's, Lord Howe's half-hour summer shift) and at hours.
    for (const char* zone : {"America/St_Johns", "Australia/Lord_Howe", "Europe/Berlin"}) {
        scoped_tz tz(zone);
        local_offsets offsets;
        const auto zone_offset = [](std::int64_t utc) {
            const std::time_t t = utc;
            std::tm parts{};
            ::localtime_r(&t, &parts);
            return std::int64_t{parts.tm_gmtoff};
        };
        // A year in odd steps, each with a look back and ahead: runs that grow both ways
        // and jumps that start a new run.
        const std::int64_t from = utc(2021, 1, 1, 0, 0, 0).toSecsSinceEpoch();
        for (std::int64_t t = from; t < from + 366 * 86'400; t += 797)
            for (const std::int64_t at : {t, t + 1800, t + 900, t - 1700})
                ASSERT_EQ(offsets.at(at), zone_offset(at)) << zone << " " << at;
        // One offset in winter and the next winter is no reason to trust it in between.
        for (const int day : {10, 300, 182})
            ASSERT_EQ(offsets.at(from + day * 86'400), zone_offset(from + day * 86'400)) << zone;
    }
}

TEST(filetime_conversion, milliseconds_are_dropped_but_split_out) {
    scoped_tz tz("UTC");
    const filetime t = filetime::from_ticks(filetime_of(utc(2020, 2, 29, 10, 20, 30)).ticks() +
                                            1'234'567); // 123.4567 ms
    systemtime parts;
    ASSERT_TRUE(n_filetouch::filetimetosystemtime(t, parts));
    EXPECT_EQ(parts.wyear, 2020);
    EXPECT_EQ(parts.wmonth, 2);
    EXPECT_EQ(parts.wday, 29);
    EXPECT_EQ(parts.wdayofweek, 6); // a Saturday
    EXPECT_EQ(parts.whour, 10);
    EXPECT_EQ(parts.wminute, 20);
    EXPECT_EQ(parts.wsecond, 30);
    EXPECT_EQ(parts.wmilliseconds, 123);
    std::optional<local_datetime> dt;
    ASSERT_EQ(n_filetouch::of_filedatetimetopb(t, dt), 1);
    EXPECT_EQ(dt->time(), QTime(10, 20, 30));
}

TEST(filetime_conversion, failures_leave_no_value) {
    scoped_tz tz("Asia/Shanghai");
    std::optional<local_datetime> dt = local_datetime{42};
    EXPECT_EQ(n_filetouch::of_filedatetimetopb(filetime{0xFFFFFFFFu, 0xFFFFFFFFu}, dt), -1);
    EXPECT_FALSE(dt.has_value());
    dt = local_datetime{42};
    EXPECT_EQ(n_filetouch::of_filedatetimetopb(filetime{0, 0x80000000u}, dt), -1);
    EXPECT_FALSE(dt.has_value());
    // A year the catalogue's four-digit dates cannot carry.
    EXPECT_EQ(n_filetouch::of_filedatetimetopb(filetime_of(utc(12000, 1, 1, 0, 0, 0)), dt), -1);
    EXPECT_FALSE(dt.has_value());
    systemtime parts;
    EXPECT_FALSE(n_filetouch::filetimetosystemtime(filetime{0, 0x80000000u}, parts));
}

TEST_F(filetouch, listing_reports_kinds_sizes_and_hidden_entries) {
    tree.file(u"a.mp3"_s, 3'145'728);
    tree.file(u"big.mkv"_s, (std::int64_t{1} << 32) + 5);
    tree.file(u".hidden.mp3"_s);
    tree.folder(u"sub"_s);
    tree.folder(u".cache"_s);
    tree.fifo(u"pipe"_s);
    tree.symlink(u"to_sub"_s, tree.path(u"sub"_s));
    tree.symlink(u"to_file"_s, tree.path(u"a.mp3"_s));
    tree.symlink(u"dangling"_s, tree.path(u"nowhere"_s));
    tree.file(u"我的爱人.mp3"_s, 1);

    const auto all = list_all(ft, tree.root() + u"*.*"_s);
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all.at(u"."_s).attributes, file_attribute_directory);
    EXPECT_EQ(all.at(u".."_s).attributes, file_attribute_directory);
    EXPECT_EQ(all.at(u"a.mp3"_s).attributes, file_attribute_normal);
    EXPECT_EQ(all.at(u"a.mp3"_s).size, 3'145'728u);
    EXPECT_EQ(all.at(u"big.mkv"_s).size, (std::uint64_t{1} << 32) + 5);
    EXPECT_EQ(all.at(u".hidden.mp3"_s).attributes, file_attribute_hidden);
    EXPECT_EQ(all.at(u"sub"_s).attributes, file_attribute_directory);
    EXPECT_EQ(all.at(u"sub"_s).size, 0u);
    EXPECT_EQ(all.at(u".cache"_s).attributes, file_attribute_directory | file_attribute_hidden);
    EXPECT_EQ(all.at(u"pipe"_s).attributes, file_attribute_system);
    EXPECT_EQ(all.at(u"to_sub"_s).attributes, file_attribute_directory);
    EXPECT_EQ(all.at(u"to_file"_s).attributes, file_attribute_normal);
    EXPECT_EQ(all.at(u"to_file"_s).size, 3'145'728u);
    EXPECT_EQ(all.at(u"dangling"_s).attributes, file_attribute_system);
    EXPECT_EQ(all.at(u"我的爱人.mp3"_s).size, 1u);
    for (const auto& [name, e] : all) EXPECT_FALSE(e.undecodable) << name.toStdString();
}

TEST_F(filetouch, creation_time_is_birth_time_else_modification_time) {
    const QString p = tree.file(u"old.mp3"_s);
    const std::int64_t year_2001 = 978'307'200; // 2001-01-01 00:00:00 UTC
    tree_builder::set_mtime(p, year_2001);
    struct statx st {};
    ASSERT_EQ(::statx(AT_FDCWD, p.toUtf8().constData(), 0, STATX_BTIME, &st), 0);
    const bool has_birth = (st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec != 0;

    const auto e = list_all(ft, tree.root() + u"*"_s).at(u"old.mp3"_s);
    EXPECT_EQ(e.written.ticks(), filetime_of(QDateTime::fromSecsSinceEpoch(year_2001)).ticks());
    if (has_birth) {
        EXPECT_EQ(e.created.ticks() / 10'000'000,
                  filetime_of(QDateTime::fromSecsSinceEpoch(st.stx_btime.tv_sec)).ticks() /
                      10'000'000);
    } else {
        EXPECT_EQ(e.created.ticks(), e.written.ticks());
    }
}

TEST_F(filetouch, names_are_utf8_else_gb18030_else_marked_undecodable) {
    struct case_t {
        QByteArray bytes;
        name_decoding decoding;
        QString name; // empty: a stand-in with U+FFFD
    };
    const case_t cases[] = {
        {"ok\xf0\x9f\x8e\xb5.mp3", name_decoding::utf8, u"ok\U0001F3B5.mp3"_s},
        {"\xc4\xe3\xba\xc3.mp3", name_decoding::gb18030, u"你好.mp3"_s},
        {"\x81\x30\x81\x30.mp3", name_decoding::gb18030, u"\u0080.mp3"_s}, // four-byte form
        {"\xc0\xaf.mp3", name_decoding::gb18030, u"蜡.mp3"_s},             // overlong "/" in UTF-8
        {"\xe2\x81\xa3x.mp3", name_decoding::undecodable, {}}, // begins with the path mark
        {"bad\xff\xfe.mp3", name_decoding::undecodable, {}},
        {"\xed\xa0\x80.mp3", name_decoding::undecodable, {}}, // encoded surrogate, lone 80
    };
    for (const case_t& c : cases) tree_builder::raw_file(tree.root_bytes(), c.bytes);
    const auto all = list_all(ft, tree.root() + u"*.*"_s);
    ASSERT_EQ(all.size(), std::size(cases) + 2);
    std::map<name_decoding, int> seen;
    for (const auto& [name, e] : all) {
        if (name.startsWith(u'.')) continue;
        ++seen[e.decoding];
        EXPECT_TRUE(name.endsWith(u".mp3"_s)) << name.toStdString();
        EXPECT_EQ(e.undecodable, e.decoding == name_decoding::undecodable);
    }
    for (const case_t& c : cases) {
        if (c.name.isEmpty()) continue;
        ASSERT_TRUE(all.contains(c.name)) << c.name.toStdString();
        EXPECT_EQ(all.at(c.name).decoding, c.decoding) << c.name.toStdString();
        // The path built from the text reaches the very bytes again.
        if (c.decoding == name_decoding::gb18030) {
            const QString path = tree.root() + gb18030_name_mark + c.name;
            EXPECT_EQ(native_path(path), tree.root_bytes() + c.bytes);
            EXPECT_TRUE(native_is_file(path));
        }
    }
    EXPECT_EQ(seen[name_decoding::utf8], 1); // the mark-led one is not taken
    EXPECT_EQ(seen[name_decoding::gb18030], 3);
    EXPECT_EQ(seen[name_decoding::undecodable], 3);
}

TEST_F(filetouch, masks_and_failed_listings) {
    tree.file(u"a.mp3"_s);
    tree.file(u"b.wma"_s);
    tree.file(u"noext"_s);
    EXPECT_EQ(list_all(ft, tree.root() + u"*.*"_s).size(), 5u); // every name, dots or not
    const auto mp3 = list_all(ft, tree.root() + u"*.mp3"_s);
    ASSERT_EQ(mp3.size(), 1u);
    EXPECT_EQ(mp3.begin()->first, u"a.mp3"_s);

    win32_find_dataw d;
    EXPECT_LT(ft.findfirstfile(tree.root() + u"missing/*.*"_s, d), 1);
    EXPECT_LT(ft.findfirstfile(tree.root() + u"a.mp3/*.*"_s, d), 1); // not a folder
    EXPECT_LT(ft.findfirstfile(tree.root() + u"*.none"_s, d), 1);    // nothing matches
    EXPECT_LT(ft.findfirstfile(tree.root(), d), 1);                  // no mask
    EXPECT_FALSE(ft.findnextfile(0, d));
    EXPECT_FALSE(ft.findnextfile(7, d));
    EXPECT_FALSE(ft.findclose(-1));
}

TEST_F(filetouch, entries_come_in_name_order_dots_first) {
    for (const auto* n : {u"深3", u"b.mp3", u"深5", u"A.mp3", u"10.mp3", u"深2", u"a.mp3", u"深6",
                          u"B.mp3", u"9.mp3", u"深4"})
        tree.file(QString::fromUtf16(n));
    tree.folder(u"Sub"_s);
    QStringList order;
    win32_find_dataw d;
    const find_handle h = ft.findfirstfile(tree.root() + u"*.*"_s, d);
    ASSERT_GE(h, 1);
    do order << d.name().toString();
    while (ft.findnextfile(h, d));
    ft.findclose(h);
    EXPECT_EQ(order, (QStringList{u"."_s, u".."_s, u"10.mp3"_s, u"9.mp3"_s, u"A.mp3"_s, u"a.mp3"_s,
                                  u"B.mp3"_s, u"b.mp3"_s, u"Sub"_s, u"深2"_s, u"深3"_s, u"深4"_s,
                                  u"深5"_s, u"深6"_s}));
}

// Names of ASCII and caseless scripts take a quicker comparison; the order must not change,
// beside names of other scripts too.
TEST(name_order, equals_the_case_insensitive_comparison_of_the_names) {
    const std::u16string alphabet = u"aAbBzZ09 .-_~深音乐あアㄱ한豈éÉßΣσςＡａ\u212A\U0001F600";
    std::mt19937 rng(5);
    std::vector<QByteArray> names;
    for (int n = 0; n < 3000; ++n) {
        QString s;
        for (int c = std::uniform_int_distribution<int>(1, 4)(rng); c > 0; --c) {
            std::size_t i = std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng);
            if (QChar::isLowSurrogate(alphabet[i])) --i;
            s += QChar(alphabet[i]);
            if (QChar::isHighSurrogate(alphabet[i])) s += QChar(alphabet[i + 1]);
        }
        if (s != u"."_s && s != u".."_s) names.push_back(s.toUtf8());
    }
    // Read as UTF-8 otherwise than they decode: a byte order mark, GB18030, bytes of neither.
    names.insert(names.end(), {"..",
                               "\xEF\xBB\xBF"
                               "b",
                               "\xEF\xBB\xBF"
                               "B",
                               "\xD2\xF4",
                               "\xFF"
                               "a"});
    const folder_names sorted = folder_names::sorted(names);
    ASSERT_EQ(sorted.size(), names.size());
    EXPECT_EQ(sorted.bytes_view(0), "..");
    for (std::size_t i = 2; i < sorted.size(); ++i) {
        const auto name = [&](std::size_t n) {
            return QString::fromUtf8(sorted.bytes(n),
                                     static_cast<qsizetype>(sorted.bytes_view(n).size()));
        };
        const QString a = name(i - 1), b = name(i);
        int c = QString::compare(a, b, Qt::CaseInsensitive);
        if (c == 0) c = QString::compare(a, b, Qt::CaseSensitive);
        EXPECT_LE(c, 0) << a.toStdString() << " before " << b.toStdString();
    }
}

TEST_F(filetouch, nested_listings_have_their_own_handles) {
    tree.file(u"a/1.mp3"_s);
    tree.file(u"b/2.mp3"_s);
    win32_find_dataw d;
    const find_handle outer = ft.findfirstfile(tree.path(u"a/*.*"_s), d);
    const find_handle inner = ft.findfirstfile(tree.path(u"b/*.*"_s), d);
    ASSERT_GE(outer, 1);
    ASSERT_GE(inner, 1);
    EXPECT_NE(outer, inner);
    EXPECT_TRUE(ft.findclose(inner));
    EXPECT_FALSE(ft.findclose(inner)); // twice
    int left = 1;
    while (ft.findnextfile(outer, d)) ++left;
    EXPECT_EQ(left, 3); // ".", ".." and "1.mp3"
    EXPECT_TRUE(ft.findclose(outer));
}

} // namespace
