#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/folder_read_ahead.h"
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/record_set.h"
#include "tests/support/permission_checks.h"
#include "tests/support/tree_builder.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

class recording_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString& message) override { messages << message; }
    bool ib_stop() const override { return stop_after >= 0 && events > stop_after; }
    void process_events() override { ++events; }

    QStringList messages;
    long events = 0;
    long stop_after = -1; // stop once this many checkpoints have passed
};

class scanner : public ::testing::Test {
  protected:
    int scan(const QString& area) {
        n_filetouch ft(feedback, options, [this](const QString& t) { counter_texts << t; });
        const int result = ft.of_directory(area, u"*.*"_s, rs, 1);
        find_qty = ft.lul_find_qty();
        unstorable = ft.unstorable_qty();
        return result;
    }
    int scan() { return scan(tree.root()); }

    // Paths of the records below the tree's root, sorted.
    QStringList paths() const {
        QStringList out;
        for (long r = 1; r <= rs.rowcount(); ++r)
            out << rs.getitemstring(r, col_filepath).mid(tree.root().size());
        out.sort();
        return out;
    }
    long row_of(const QString& relative) const {
        for (long r = 1; r <= rs.rowcount(); ++r)
            if (rs.getitemstring(r, col_filepath) == tree.path(relative)) return r;
        return 0;
    }
    QString item(const QString& relative, int column) const {
        return rs.getitemstring(row_of(relative), column);
    }

    tree_builder tree;
    recording_feedback feedback;
    scan_options options;
    record_set rs;
    QStringList counter_texts;
    std::uint32_t find_qty = 0;
    long unstorable = 0;
};

TEST_F(scanner, depth_rule_catalogues_levels_one_to_layers_plus_one) {
    tree.file(u"a.mp3"_s);
    tree.file(u"x/b.mp3"_s);
    tree.file(u"x/y/c.mp3"_s);
    tree.file(u"x/y/z/d.mp3"_s);
    const QStringList all{u"a.mp3"_s, u"x/b.mp3"_s, u"x/y/c.mp3"_s, u"x/y/z/d.mp3"_s};
    for (int layers = 0; layers <= 4; ++layers) {
        rs.reset();
        options.ii_scan_layers = layers;
        EXPECT_EQ(scan(), 1);
        EXPECT_EQ(paths(), all.mid(0, std::min(layers + 1, 4))) << "layers " << layers;
    }
}

TEST_F(scanner, hash_rule_filters_folders_only) {
    tree.file(u"a.mp3"_s);
    tree.file(u"歌/b.mp3"_s);
    tree.file(u"##歌/c.mp3"_s);
    tree.file(u"##歌/sub/d.mp3"_s);
    tree.file(u"x##/e.mp3"_s);
    tree.file(u"#/f.mp3"_s);
    options.ii_dir_type = 2;
    EXPECT_EQ(scan(), 1);
    EXPECT_EQ(paths(),
              (QStringList{u"##歌/c.mp3"_s, u"##歌/sub/d.mp3"_s, u"a.mp3"_s, u"x##/e.mp3"_s}));

    // An area whose own path holds "##" has every folder below it entered.
    rs.reset();
    scan(tree.path(u"##歌"_s));
    EXPECT_EQ(paths(), (QStringList{u"##歌/c.mp3"_s, u"##歌/sub/d.mp3"_s}));

    // Any other value enters every folder.
    rs.reset();
    options.ii_dir_type = 1;
    scan();
    EXPECT_EQ(paths().size(), 6);
}

TEST_F(scanner, number_separator_cuts_the_number_off) {
    struct row {
        QString splitter;
        QString file;
        QString filename;
        QString sourceid;
    };
    const row rows[] = {
        {u"-"_s, u"12-ab.mp3"_s, u"ab"_s, u"12"_s},
        {u"-"_s, u"x-ab.mp3"_s, u"ab"_s, u"0"_s},
        {u"-"_s, u"ab.mp3"_s, u"ab"_s, u"0"_s},
        {u"-"_s, u"1-2-ab.mp3"_s, u"2-ab"_s, u"1"_s},
        {u"-"_s, u"-ab.mp3"_s, u"ab"_s, u"0"_s},
        {u"-"_s, u"ab-.mp3"_s, u""_s, u"0"_s},
        {u"-"_s, u"1002-歌名.mp3"_s, u"歌名"_s, u"1002"_s},
        {u"-"_s, u"99999999999-ab.mp3"_s, u"ab"_s, u"0"_s}, // beyond 32 bits
        {u"-"_s, u"2147483647-ab.mp3"_s, u"ab"_s, u"2147483647"_s},
        {u"-"_s, u"12.5-ab.mp3"_s, u"ab"_s, u"0"_s},
        {u"@"_s, u"7@song.mp3"_s, u"song"_s, u"7"_s},
        {u"—"_s, u"8—我的.mp3"_s, u"我的"_s, u"8"_s},
        {u"——"_s, u"9——我的爱人.mp3"_s, u"我的爱人"_s, u"9"_s},
        {u" "_s, u"10 a b.mp3"_s, u"a b"_s, u"10"_s},
        {u""_s, u"11-ab.mp3"_s, u"11-ab"_s, u"0"_s}, // none configured
    };
    for (const auto& r : rows) {
        tree_builder one;
        one.file(r.file);
        options.gs_cut_splitter = r.splitter;
        options.gi_cut_splitter_len = static_cast<int>(r.splitter.size());
        rs.reset();
        n_filetouch ft(feedback, options);
        ASSERT_EQ(ft.of_directory(one.root(), u"*.*"_s, rs, 1), 1);
        ASSERT_EQ(rs.rowcount(), 1) << r.file.toStdString();
        const QString main = r.file.chopped(4);
        EXPECT_EQ(rs.getitemstring(1, col_filename), r.filename) << r.file.toStdString();
        EXPECT_EQ(rs.getitemstring(1, col_sourceid), r.sourceid) << r.file.toStdString();
        EXPECT_EQ(rs.getitemstring(1, col_filenamewithno), main) << r.file.toStdString();
    }
}

TEST_F(scanner, one_folder_mixing_numbered_and_plain_names) {
    // Whatever order the folder lists them in, no number carries over to the next file.
    for (const auto& f : {u"12-ab.mp3"_s, u"ab.mp3"_s, u"x-ab.mp3"_s, u"34-cd.mp3"_s, u"cd.mp3"_s})
        tree.file(f);
    options.gs_cut_splitter = u"-"_s;
    options.gi_cut_splitter_len = 1;
    scan();
    EXPECT_EQ(item(u"12-ab.mp3"_s, col_sourceid), u"12"_s);
    EXPECT_EQ(item(u"ab.mp3"_s, col_sourceid), u"0"_s);
    EXPECT_EQ(item(u"x-ab.mp3"_s, col_sourceid), u"0"_s);
    EXPECT_EQ(item(u"34-cd.mp3"_s, col_sourceid), u"34"_s);
    EXPECT_EQ(item(u"cd.mp3"_s, col_sourceid), u"0"_s);
}

TEST_F(scanner, record_holds_every_column) {
    tree.file(u"歌曲/1002-歌名.MP3"_s, 3'145'728);
    tree.file(u"README"_s, 0);
    options.gs_cut_splitter = u"-"_s;
    options.gi_cut_splitter_len = 1;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    scan();
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);
    ASSERT_EQ(rs.rowcount(), 2);

    const QString song = u"歌曲/1002-歌名.MP3"_s;
    const long r = row_of(song);
    ASSERT_NE(r, 0);
    EXPECT_EQ(rs.getitemstring(r, col_machineid), QString::number(r));
    EXPECT_EQ(rs.getitemstring(r, col_filename), u"歌名"_s);
    EXPECT_EQ(rs.getitemstring(r, col_fileext), u".mp3"_s);
    EXPECT_EQ(rs.getitemstring(r, col_filepath), tree.root() + song);
    EXPECT_EQ(rs.getitemstring(r, col_pinyinma), u"gm"_s);
    EXPECT_EQ(rs.getitemstring(r, col_filesizedec), u"3.00"_s);
    EXPECT_EQ(rs.getitemstring(r, col_sourceid), u"1002"_s);
    EXPECT_EQ(rs.getitemstring(r, col_filenamewithno), u"1002-歌名"_s);
    const auto created = rs.get_datetime(r, col_createdate);
    ASSERT_TRUE(created.has_value());
    const QDateTime c = created->to_qdatetime();
    EXPECT_TRUE(c >= before && c <= after) << c.toString().toStdString();

    const long readme = row_of(u"README"_s);
    EXPECT_EQ(rs.getitemstring(readme, col_fileext), u""_s);
    EXPECT_EQ(rs.getitemstring(readme, col_filename), u"README"_s);
    EXPECT_EQ(rs.getitemstring(readme, col_filenamewithno), u"README"_s);
    EXPECT_EQ(rs.getitemstring(readme, col_filesizedec), u"0.00"_s);
    EXPECT_EQ(rs.getitemstring(readme, col_pinyinma), u"README"_s);
}

TEST_F(scanner, size_in_megabytes_rounded_to_hundredths) {
    struct row {
        std::int64_t bytes;
        QString mb;
    };
    const row rows[] = {
        {0, u"0.00"_s},
        {1, u"0.00"_s},
        {5'242, u"0.00"_s},
        {5'243, u"0.01"_s}, // 0.004999… and 0.0050001…
        {1'048'576, u"1.00"_s},
        {3'145'728, u"3.00"_s},
        {1'572'864, u"1.50"_s},
        {std::int64_t{6} << 30, u"6144.00"_s},
        {(std::int64_t{1} << 32) + 1, u"4096.00"_s},
    };
    for (const auto& r : rows) tree.file(QString::number(r.bytes) + u".bin"_s, r.bytes);
    scan();
    for (const auto& r : rows)
        EXPECT_EQ(item(QString::number(r.bytes) + u".bin"_s, col_filesizedec), r.mb) << r.bytes;
}

TEST_F(scanner, hidden_system_and_dangling_entries_are_left_out) {
    tree.file(u"a.mp3"_s);
    tree.file(u".b.mp3"_s);
    tree.file(u".hide/c.mp3"_s);
    tree.file(u"open/.hide2/d.mp3"_s);
    tree.file(u"open/e.mp3"_s);
    tree.fifo(u"pipe.mp3"_s);
    tree.symlink(u"gone.mp3"_s, tree.path(u"nowhere.mp3"_s));
    tree.symlink(u"link.mp3"_s, tree.path(u"a.mp3"_s));
    tree.symlink(u"linked_folder"_s, tree.path(u"open"_s));
    EXPECT_EQ(scan(), 1);
    EXPECT_EQ(paths(),
              (QStringList{u"a.mp3"_s, u"link.mp3"_s, u"linked_folder/e.mp3"_s, u"open/e.mp3"_s}));
}

TEST_F(scanner, type_filter_compares_the_lowered_extension) {
    tree.file(u"SONG.MP3"_s);
    tree.file(u"song.wma"_s);
    tree.file(u"clip.avi"_s);
    tree.file(u"noext"_s);
    options.gs_filetype = QStringList{u".mp3"_s, u".avi"_s};
    options.gi_filetype_upperbound = 1;
    scan();
    EXPECT_EQ(paths(), QStringList{u"SONG.MP3"_s});
    EXPECT_EQ(item(u"SONG.MP3"_s, col_fileext), u".mp3"_s);

    rs.reset();
    options.gi_filetype_upperbound = 0; // every file
    scan();
    EXPECT_EQ(paths().size(), 4);
}

TEST_F(scanner, link_loop_is_bounded_by_depth) {
    tree.file(u"f.mp3"_s);
    tree.symlink(u"a/loop"_s, tree.root());
    // f.mp3 is met at levels 1, 3, 5, …: once per odd level up to layers + 1.
    for (const int layers : {0, 1, 2, 4, 7}) {
        rs.reset();
        options.ii_scan_layers = layers;
        EXPECT_EQ(scan(), 1);
        long copies = 0;
        for (long r = 1; r <= rs.rowcount(); ++r)
            if (rs.getitemstring(r, col_filename) == u"f"_s) ++copies;
        EXPECT_EQ(copies, (layers + 2) / 2) << "layers " << layers;
    }
}

TEST_F(scanner, areas_with_or_without_trailing_separator_and_failures) {
    tree.file(u"area/a.mp3"_s);
    tree.file(u"area/sub/b.mp3"_s);
    EXPECT_EQ(scan(tree.path(u"area"_s)), 1);
    EXPECT_EQ(scan(tree.path(u"area/"_s)), 1);
    EXPECT_EQ(paths(), (QStringList{u"area/a.mp3"_s, u"area/a.mp3"_s, u"area/sub/b.mp3"_s,
                                    u"area/sub/b.mp3"_s}));
    const long before = rs.rowcount();
    EXPECT_EQ(scan(tree.path(u"missing"_s)), -1);
    EXPECT_EQ(scan(tree.path(u"area/a.mp3"_s)), -1);
    EXPECT_EQ(rs.rowcount(), before);
}

TEST_F(scanner, unlistable_folder_does_not_stop_its_parent) {
    if (!permissions_bind()) GTEST_SKIP() << "permissions do not bind this process";
    tree.file(u"a.mp3"_s);
    tree.file(u"locked/b.mp3"_s);
    tree.file(u"open/c.mp3"_s);
    QFile::setPermissions(tree.path(u"locked"_s), QFileDevice::Permissions{});
    EXPECT_EQ(scan(), 1);
    QFile::setPermissions(tree.path(u"locked"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(paths(), (QStringList{u"a.mp3"_s, u"open/c.mp3"_s}));
}

TEST_F(scanner, machineid_counts_on_across_areas_of_one_scan) {
    tree.file(u"one/a.mp3"_s);
    tree.file(u"one/b.mp3"_s);
    tree.file(u"two/c.mp3"_s);
    n_filetouch ft(feedback, options);
    ft.of_directory(tree.path(u"one"_s), u"*.*"_s, rs, 1);
    ft.of_directory(tree.path(u"two"_s), u"*.*"_s, rs, 1);
    ASSERT_EQ(rs.rowcount(), 3);
    for (long r = 1; r <= 3; ++r) EXPECT_EQ(rs.getitemstring(r, col_machineid), QString::number(r));
    EXPECT_EQ(rs.getitemstring(3, col_filename), u"c"_s);
    EXPECT_EQ(ft.lul_find_qty(), 7u); // ".", ".." and the files, in both
    // Every entry had its checkpoint.
    EXPECT_EQ(feedback.events, 7);
}

TEST_F(scanner, every_thousandth_entry_changes_the_message) {
    // Entries: root ".", "..", ".hidden", "sub"; sub ".", ".."; then the files.
    tree.file(u".hidden"_s);
    for (int i = 0; i < 500; ++i) tree.file(QStringLiteral("a_long_song_name_%1.mp3").arg(i));
    for (int i = 0; i < 493; ++i) tree.file(QStringLiteral("sub/a_long_song_name_%1.mp3").arg(i));
    scan();
    EXPECT_EQ(find_qty, 999u);
    EXPECT_TRUE(feedback.messages.isEmpty());

    tree.file(u"sub/the_last_long_song_name.mp3"_s);
    rs.reset();
    scan();
    EXPECT_EQ(find_qty, 1000u);
    ASSERT_EQ(feedback.messages.size(), 1);
    const QString m = feedback.messages.first();
    EXPECT_TRUE(m.startsWith(u"扫描: 1000次  "_s)) << m.toStdString();
    EXPECT_TRUE(m.endsWith(u"..."_s));
    // The first 15 characters of the folder, the last 15 of the name.
    const QString rest = m.mid(QStringLiteral("扫描: 1000次  ").size()).chopped(3);
    EXPECT_TRUE(rest.startsWith(tree.root().left(15))) << m.toStdString();
    // The 1000th entry is one of the long file names (which one is the file system's order):
    // its last 15 characters end the line.
    const QString tail = rest.mid(tree.root().left(15).size());
    EXPECT_EQ(tail.size(), 15) << m.toStdString();
    const QStringList names =
        QDir(tree.root()).entryList(QDir::Files) + QDir(tree.path(u"sub"_s)).entryList(QDir::Files);
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const QString& name) {
        return name.right(15) == tail;
    })) << m.toStdString();
}

TEST_F(scanner, counter_text_every_500_records) {
    for (int i = 0; i < 1001; ++i) tree.file(QStringLiteral("%1.mp3").arg(i));
    scan();
    EXPECT_EQ(rs.rowcount(), 1001);
    EXPECT_EQ(counter_texts, (QStringList{u"500个"_s, u"1000个"_s}));
}

TEST_F(scanner, stop_keeps_appended_records_and_returns_minus_100) {
    for (int i = 0; i < 50; ++i) tree.file(QStringLiteral("%1.mp3").arg(i));
    feedback.stop_after = 20;
    EXPECT_EQ(scan(), -100);
    EXPECT_EQ(find_qty, 20u);
    EXPECT_GE(rs.rowcount(), 18);
    EXPECT_LE(rs.rowcount(), 20);
    ASSERT_FALSE(feedback.messages.isEmpty());
    EXPECT_EQ(feedback.messages.last(), u"正从递归扫描中退出,请稍候..."_s);
    for (long r = 1; r <= rs.rowcount(); ++r)
        EXPECT_EQ(rs.getitemstring(r, col_machineid), QString::number(r));
}

TEST_F(scanner, stop_inside_a_folder_unwinds_every_level) {
    // The only folder of each level is also the last entry its parent lists.
    for (int i = 0; i < 30; ++i) tree.file(QStringLiteral("a/b/c/%1.mp3").arg(i));
    feedback.stop_after = 3 + 3 + 3 + 10; // ".", "..", folder at three levels, then files
    EXPECT_EQ(scan(), -100);
    EXPECT_GT(rs.rowcount(), 0);
    EXPECT_LT(rs.rowcount(), 30);
    EXPECT_EQ(feedback.messages.last(), u"正从递归扫描中退出,请稍候..."_s);

    // Stopped before anything was listed.
    rs.reset();
    feedback.stop_after = 0;
    EXPECT_EQ(scan(), -100);
    EXPECT_EQ(rs.rowcount(), 0);
}

TEST_F(scanner, names_the_catalogue_cannot_hold_are_skipped_and_counted) {
    tree.file(u"good.mp3"_s);
    tree.file(u"tab\there.mp3"_s);
    tree.file(u"line\nbreak.mp3"_s);
    tree.file(u"carriage\rreturn.mp3"_s);
    tree.file(u"tab\tother.wma"_s); // not wanted anyway: not counted
    tree_builder::raw_file(tree.root_bytes(), QByteArray("bad\xff.mp3"));
    tree.file(u"tab\tfolder/inside.mp3"_s);
    const QByteArray bad_folder = tree_builder::raw_folder(tree.root_bytes(), "bad\xfe");
    tree_builder::raw_file(bad_folder, "x.mp3");
    tree.file(u".hidden\tname.mp3"_s); // hidden first: not counted
    options.gs_filetype = QStringList{u".mp3"_s};
    options.gi_filetype_upperbound = 1;
    EXPECT_EQ(scan(), 1);
    EXPECT_EQ(paths(), QStringList{u"good.mp3"_s});
    EXPECT_EQ(unstorable, 6);
    for (long r = 1; r <= rs.rowcount(); ++r)
        for (int c = 1; c <= catalogue_column_count; ++c) {
            const QString v = rs.getitemstring(r, c);
            EXPECT_FALSE(v.contains(u'\t') || v.contains(u'\n') || v.contains(u'\r') ||
                         v.contains(u'\uFFFD'));
        }
}

TEST_F(scanner, paths_longer_than_the_column_are_skipped_and_counted) {
    const QString long_name(200, u'd');
    QString folder;
    while (QString(tree.root() + folder).size() < 800) folder += long_name + u'/';
    // A file whose path just fits, one just beyond, and a folder whose files cannot fit.
    const int room = 1024 - static_cast<int>(QString(tree.root() + folder).size());
    const QString fits = QString(room - 4, u'f') + u".mp3"_s;
    const QString beyond = QString(room - 3, u'g') + u".mp3"_s;
    ASSERT_LE(fits.size(), 255);
    tree.file(folder + fits);
    tree.file(folder + beyond);
    tree.file(folder + QString(room - 1, u'h') + u"/x.mp3"_s);
    options.ii_scan_layers = 20;
    scan();
    EXPECT_EQ(paths(), QStringList{folder + fits});
    EXPECT_EQ(item(folder + fits, col_filepath).size(), 1024);
    EXPECT_EQ(unstorable, 2);
}

TEST_F(scanner, read_ahead_hurried_by_the_walk_still_gives_each_entry_its_own_facts) {
    for (int f = 0; f < 1000; ++f) tree.file(QStringLiteral("many/%1.mp3").arg(f), f * 1000 + 1);
    tree.folder(u"many/sub"_s);
    // Hurried at the walk's first wait: the worker leaves the listing's order at once.
    folder_read_ahead ahead(1, 5, std::chrono::milliseconds(0));
    const auto folder = ahead.open(tree.path(u"many/"_s).toUtf8(), 1);
    ASSERT_TRUE(folder);
    const folder_names& names = folder_read_ahead::names(*folder);
    ASSERT_EQ(names.size(), 1003u); // ".", "..", "sub" and the files
    const int dir = ::open(tree.path(u"many"_s).toUtf8().constData(), O_RDONLY | O_DIRECTORY);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const entry_facts* e = ahead.entry(*folder, i);
        ASSERT_NE(e, nullptr) << i;
        entry_facts alone;
        look_at_entry(dir, names.bytes(i), alone);
        ASSERT_EQ(e->size, alone.size) << names.bytes(i);
        ASSERT_EQ(e->attributes, alone.attributes) << names.bytes(i);
    }
    EXPECT_EQ(ahead.entry(*folder, names.size()), nullptr);
    ::close(dir);
    ahead.close(folder);
}

TEST_F(scanner, read_ahead_gives_the_records_and_checkpoints_of_a_walk_alone) {
    // Files at five levels, a hidden folder, a pipe and a loop.
    for (int a = 0; a < 3; ++a) {
        tree.file(QStringLiteral("%1.mp3").arg(a), a);
        for (int b = 0; b < 3; ++b)
            for (int c = 0; c < 3; ++c)
                for (int f = 0; f < 4; ++f)
                    tree.file(QStringLiteral("a%1/b%2/c%3/d/%4.mp3").arg(a).arg(b).arg(c).arg(f));
    }
    // More than the walk is woken for at once.
    for (int f = 0; f < 70; ++f) tree.file(QStringLiteral("a0/many/%1.mp3").arg(f), f);
    tree.file(u".hidden/x.mp3"_s);
    tree.fifo(u"a1/pipe"_s);
    tree.symlink(u"a2/loop"_s, tree.path(u"a1"_s));
    const auto task_count = [] { return QDir(u"/proc/self/task"_s).entryList(QDir::Dirs).size(); };
    options.read_ahead_threads = 0;
    scan(); // whatever the process starts once is running before the count
    const qsizetype tasks_before = task_count();

    struct outcome {
        int result;
        std::uint32_t find_qty;
        long events;
        QStringList messages;
        QStringList rows; // every column, in record order
        bool operator==(const outcome&) const = default;
    };
    const auto run = [&](int threads, long stop_after) {
        rs.reset();
        feedback.messages.clear();
        feedback.events = 0;
        feedback.stop_after = stop_after;
        options.read_ahead_threads = threads;
        outcome o{scan(), find_qty, feedback.events, {}, {}};
        o.messages = feedback.messages;
        for (long r = 1; r <= rs.rowcount(); ++r)
            for (int c = 1; c <= catalogue_column_count; ++c) o.rows << rs.getitemstring(r, c);
        // No worker outlives the scan, stopped or not. A joined thread may still be listed
        // for a moment while the kernel reaps it.
        for (int wait = 0; wait < 200 && task_count() != tasks_before; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(task_count(), tasks_before) << threads << " threads, stop " << stop_after;
        return o;
    };
    for (const int layers : {1, 3, 6}) {
        options.ii_scan_layers = layers;
        for (const long stop_after : {-1L, 0L, 7L, 60L, 150L}) {
            const outcome alone = run(0, stop_after);
            for (const int threads : {1, 3})
                EXPECT_TRUE(run(threads, stop_after) == alone)
                    << threads << " threads, layers " << layers << ", stop " << stop_after;
        }
    }
}

} // namespace
