#include "catalogue/core/text_table_reader.h"
#include "catalogue/core/text_table_writer.h"
#include "tests/support/permission_checks.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// What a read delivered, one text per line: "n:field|field" plus " nul", " lone", " long".
struct collected {
    QStringList lines;
    text_table_result result;
};

text_line_callback collect_into(QStringList& lines) {
    return [&lines](std::span<const QStringView> fields, const text_line_info& info) {
        QString s = QString::number(info.line_number) + u':';
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) s += u'|';
            s += fields[i];
        }
        if (info.has_nul) s += u" nul"_s;
        if (info.has_lone_surrogate) s += u" lone"_s;
        if (info.over_long) s += u" long"_s;
        lines << s;
    };
}

collected read_bytes(const QByteArray& bytes, text_table_options options = {}) {
    collected c;
    c.result = read_text_table_bytes(bytes, collect_into(c.lines), options);
    return c;
}

collected read_file(const QString& path, text_table_options options = {}) {
    collected c;
    c.result = read_text_table(path, collect_into(c.lines), options);
    return c;
}

QByteArray raw_units(std::initializer_list<char16_t> units) {
    QByteArray out;
    for (char16_t u : units) {
        out.append(static_cast<char>(u & 0xFF));
        out.append(static_cast<char>(u >> 8));
    }
    return out;
}

QStringList entries_of(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

struct parse_case {
    const char* name;
    QByteArray bytes;
    std::int64_t first_line;
    std::int64_t max_line_units;
    QStringList expected;
    std::int64_t over_long = 0;
};

// Every case is read with several block sizes so that line ends, CR LF pairs, surrogate
// pairs and odd bytes land on block boundaries.
TEST(text_table_reader, parses_lines_fields_and_flags_at_every_block_size) {
    const std::vector<parse_case> cases = {
        {"lf", utf16le(u"h\na\tb\nc\n"_s), 1, 64, {u"1:h"_s, u"2:a|b"_s, u"3:c"_s}},
        {"crlf with mark", utf16le(u"h\r\na\tb\r\n"_s, true), 1, 64, {u"1:h"_s, u"2:a|b"_s}},
        {"lone cr ends a line", utf16le(u"a\rb\r\nc"_s), 1, 64, {u"1:a"_s, u"2:b"_s, u"3:c"_s}},
        {"cr cr lf is an empty line", utf16le(u"a\r\r\nb"_s), 1, 64, {u"1:a"_s, u"2:"_s, u"3:b"_s}},
        {"truncated last line", utf16le(u"h\r\n中文\t歌"_s), 2, 64, {u"2:中文|歌"_s}},
        {"no extra row after last line end", utf16le(u"h\r\nx\r\n"_s), 2, 64, {u"2:x"_s}},
        {"empty fields", utf16le(u"\t\t\r\n\r\na\t\r\n"_s), 1, 64, {u"1:||"_s, u"2:"_s, u"3:a|"_s}},
        {"heading only", utf16le(u"machineid\tfilename\r\n"_s, true), 2, 64, {}},
        {"heading without line end", utf16le(u"machineid"_s, true), 2, 64, {}},
        {"empty file", QByteArray(), 1, 64, {}},
        {"mark only", QByteArray("\xFF\xFE", 2), 1, 64, {}},
        {"mark later is data", utf16le(u"a\n\uFEFFb"_s, true), 1, 64, {u"1:a"_s, u"2:\uFEFFb"_s}},
        {"first line below 1 means 1", utf16le(u"a\nb"_s), -3, 64, {u"1:a"_s, u"2:b"_s}},
        {"first line past the end", utf16le(u"a\nb\n"_s), 5, 64, {}},
        {"odd last byte ignored", utf16le(u"a\tb"_s) + 'z', 1, 64, {u"1:a|b"_s}},
        {"odd byte after line end", utf16le(u"a\r\n"_s) + 'z', 1, 64, {u"1:a"_s}},
        {"nul flagged",
         raw_units({u'a', 0, u'b', u'\n', u'c'}),
         1,
         64,
         {QString(u"1:a"_s + QChar(0) + u"b nul"_s), u"2:c"_s}},
        {"surrogate pair is fine",
         utf16le(u"\U0001F600\t\U00020000\n"_s),
         1,
         64,
         {u"1:\U0001F600|\U00020000"_s}},
        {"lone high at line end",
         raw_units({u'a', 0xD83D, u'\n', u'b'}),
         1,
         64,
         {QString(u"1:a"_s + QChar(0xD83D) + u" lone"_s), u"2:b"_s}},
        {"lone high at end of data",
         raw_units({u'a', 0xD83D}),
         1,
         64,
         {QString(u"1:a"_s + QChar(0xD83D) + u" lone"_s)}},
        {"high then letter",
         raw_units({0xD83D, u'x'}),
         1,
         64,
         {QString(u"1:"_s + QChar(0xD83D) + u"x lone"_s)}},
        {"lone low",
         raw_units({u'x', 0xDE00, u'\t'}),
         1,
         64,
         {QString(u"1:x"_s + QChar(0xDE00) + u"| lone"_s)}},
        {"line of exactly the limit is kept",
         utf16le(u"abcd\r\nabcde\r\nok"_s),
         1,
         4,
         {u"1:abcd"_s, u"3:ok"_s},
         1},
        {"over-long last line", utf16le(u"ok\nabcdefgh"_s), 1, 4, {u"1:ok"_s}, 1},
        {"over-long ended by cr lf", utf16le(u"abcdefgh\r\nok\r\n"_s), 1, 4, {u"2:ok"_s}, 1},
        {"over-long ended by lone cr", utf16le(u"abcdefgh\rok"_s), 1, 4, {u"2:ok"_s}, 1},
        {"over-long heading is not counted", utf16le(u"abcdefgh\r\nok"_s), 2, 4, {u"2:ok"_s}},
        {"pair across the limit", utf16le(u"abc\U0001F600\nok"_s), 1, 4, {u"2:ok"_s}, 1},
        {"pair at the limit",
         utf16le(u"ab\U0001F600\nok"_s),
         1,
         4,
         {u"1:ab\U0001F600"_s, u"2:ok"_s}},
    };
    for (const parse_case& c : cases) {
        for (std::int64_t block : {1, 2, 3, 5, 7, 64, 4096}) {
            text_table_options o;
            o.first_line = c.first_line;
            o.max_line_units = c.max_line_units;
            o.block_bytes = block;
            const collected got = read_bytes(c.bytes, o);
            EXPECT_EQ(got.lines, c.expected) << c.name << ", block " << block;
            EXPECT_EQ(got.result.lines_over_long, c.over_long) << c.name << ", block " << block;
            EXPECT_EQ(got.result.lines_delivered, c.expected.size()) << c.name;
            EXPECT_EQ(got.result.bytes_read, c.bytes.size()) << c.name;
            EXPECT_TRUE(got.result.ok()) << c.name;
        }
    }
}

TEST(text_table_reader, delivers_the_cut_prefix_of_an_over_long_line_when_asked) {
    text_table_options o;
    o.max_line_units = 5;
    o.over_long = over_long_policy::deliver_prefix;
    for (std::int64_t block : {1, 3, 4096}) {
        o.block_bytes = block;
        const collected got = read_bytes(utf16le(u"ab\tcdefg\r\nxy\r\nabcd\U0001F600z"_s), o);
        EXPECT_EQ(got.lines, (QStringList{u"1:ab|cd long"_s, u"2:xy"_s,
                                          QString(u"3:abcd"_s + QChar(0xD83D) + u" lone long"_s)}))
            << block;
        EXPECT_EQ(got.result.lines_over_long, 2);
    }
}

TEST(text_table_reader, missing_file_is_reported_as_missing_and_not_as_error) {
    QTemporaryDir dir;
    const collected got = read_file(dir.filePath(u"quellmark_mydb.dll"_s));
    EXPECT_EQ(got.result.status, text_table_status::missing);
    EXPECT_TRUE(got.result.error.isEmpty());
    EXPECT_TRUE(got.lines.isEmpty());
}

TEST(text_table_reader, folder_in_place_of_the_file_is_an_io_error) {
    QTemporaryDir dir;
    const collected got = read_file(dir.path());
    EXPECT_EQ(got.result.status, text_table_status::io_error);
    EXPECT_FALSE(got.result.error.isEmpty());
}

TEST(text_table_reader, unreadable_file_is_an_io_error) {
    QTemporaryDir dir;
    if (!permissions_bind()) GTEST_SKIP() << "this process reads files whatever their permissions";
    const QString path = dir.filePath(u"locked.dll"_s);
    write_all_bytes(path, utf16le(u"h\r\nx\r\n"_s, true));
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    const collected got = read_file(path);
    EXPECT_EQ(got.result.status, text_table_status::io_error);
    EXPECT_FALSE(got.result.error.isEmpty());
}

TEST(text_table_reader, reads_a_file_in_blocks_like_bytes_in_memory) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    QString text = u"machineid\tfilename\r\n"_s;
    for (int i = 1; i <= 5000; ++i)
        text += QString::number(i) + u"\t歌名"_s + QString::number(i) + u"\r\n"_s;
    const QByteArray bytes = utf16le(text, true);
    write_all_bytes(path, bytes);
    text_table_options o;
    o.first_line = 2;
    o.block_bytes = 4099; // odd: blocks end inside code units
    const collected from_file = read_file(path, o);
    EXPECT_EQ(from_file.result.status, text_table_status::read);
    EXPECT_EQ(from_file.result.bytes_read, bytes.size());
    ASSERT_EQ(from_file.lines.size(), 5000);
    EXPECT_EQ(from_file.lines.front(), u"2:1|歌名1"_s);
    EXPECT_EQ(from_file.lines.back(), u"5001:5000|歌名5000"_s);
    EXPECT_EQ(from_file.lines, read_bytes(bytes, o).lines);
}

long peak_rss_kib() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A 100 MB line is skipped with bounded memory and the line after it is still read.
TEST(text_table_reader, skips_a_huge_line_without_buffering_it) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"huge.dll"_s);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(utf16le(u"h1\th2\r\n"_s, true));
        const QByteArray chunk = utf16le(QString(512 * 1024, u'x') + u'\t');
        for (int i = 0; i < 100; ++i) ASSERT_EQ(f.write(chunk), chunk.size());
        f.write(utf16le(u"\r\ngood\tline\r\n"_s));
    }
    ASSERT_GT(QFileInfo(path).size(), 100'000'000);
    const long before = peak_rss_kib();
    text_table_options o;
    o.first_line = 2;
    const collected got = read_file(path, o);
    EXPECT_EQ(got.result.status, text_table_status::read);
    EXPECT_EQ(got.result.lines_over_long, 1);
    EXPECT_EQ(got.lines, QStringList{u"3:good|line"_s});
    EXPECT_EQ(got.result.bytes_read, QFileInfo(path).size());
    EXPECT_LT(peak_rss_kib() - before, 40 * 1024) << "KiB more at peak";
}

// --- writer ---

TEST(text_table_writer, writes_mark_tabs_and_crlf_byte_for_byte) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    text_table_writer w(path);
    ASSERT_TRUE(w.ok());
    w.write_row({u"a"_s, u"b"_s});
    w.add_field(u"中"_s);
    w.add_field(u""_s);
    w.end_row();
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(read_all_bytes(path), QByteArray("\xFF\xFE"
                                               "a\0\t\0b\0\r\0\n\0"
                                               "\x2D\x4E\t\0\r\0\n\0",
                                               20));
    EXPECT_EQ(entries_of(dir.path()), QStringList{u"t.dll"_s}) << "no temporary file left";
}

TEST(text_table_writer, output_decodes_with_iconv) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    text_table_writer w(path);
    w.write_row({u"序号"_s, u"文件名"_s});
    w.write_row({u"1"_s, u"我的歌\U0001F600"_s, u""_s});
    ASSERT_TRUE(w.commit());
    QProcess iconv;
    iconv.start(u"/usr/bin/iconv"_s, {u"-f"_s, u"UTF-16"_s, u"-t"_s, u"UTF-8"_s, path});
    ASSERT_TRUE(iconv.waitForFinished(10000));
    EXPECT_EQ(iconv.exitCode(), 0) << iconv.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(iconv.readAllStandardOutput()),
              u"序号\t文件名\r\n1\t我的歌\U0001F600\t\r\n"_s);
}

TEST(text_table_writer, round_trips_through_the_reader) {
    const std::vector<QStringList> rows = {
        {u"machineid"_s, u"filename"_s, u"fileext"_s},
        {u"1"_s, u"歌名"_s, u".mp3"_s},
        {u"2"_s, u""_s, u""_s},
        {u""_s},
        {u"3"_s, u"没有扩展名"_s, u""_s},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    text_table_writer w(path);
    for (const QStringList& r : rows) w.write_row(r);
    ASSERT_TRUE(w.commit());
    std::vector<QStringList> back;
    text_table_options o;
    o.first_line = 2;
    const auto r = read_text_table(
        path,
        [&](std::span<const QStringView> f, const text_line_info&) {
            QStringList row;
            for (QStringView v : f) row << v.toString();
            back.push_back(row);
        },
        o);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(back, std::vector<QStringList>(rows.begin() + 1, rows.end()));
}

// Many rows and one field longer than the writer's block: both cross block boundaries.
TEST(text_table_writer, round_trips_large_tables_across_its_blocks) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"big.dll"_s);
    const QString long_field(3 * 1024 * 1024 + 7, u'长');
    {
        text_table_writer w(path);
        w.write_row({u"n"_s, u"name"_s});
        for (int i = 0; i < 200'000; ++i) w.write_row({QString::number(i), u"名字"_s});
        w.write_row({long_field, u"end"_s});
        ASSERT_TRUE(w.commit());
    }
    std::int64_t rows = 0;
    bool numbers_ok = true;
    bool long_ok = false;
    text_table_options o;
    o.first_line = 2;
    o.max_line_units = 4 * 1024 * 1024;
    const auto r = read_text_table(
        path,
        [&](std::span<const QStringView> f, const text_line_info& info) {
            if (info.line_number == 200'002) {
                long_ok = f.size() == 2 && f[0] == long_field && f[1] == u"end"_s;
                return;
            }
            numbers_ok =
                numbers_ok && f.size() == 2 && f[0].toLongLong() == rows && f[1] == u"名字"_s;
            ++rows;
        },
        o);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(rows, 200'000);
    EXPECT_TRUE(numbers_ok);
    EXPECT_TRUE(long_ok);
}

TEST(text_table_writer, blanks_tab_and_line_breaks_inside_values) {
    const QByteArray bytes = [] {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"t.dll"_s);
        text_table_writer w(path);
        w.write_row({u"a\tb"_s, u"c\r\nd"_s, u"e\rf\ng"_s});
        w.write_row({u"next"_s});
        EXPECT_TRUE(w.commit());
        return read_all_bytes(path);
    }();
    EXPECT_EQ(read_bytes(bytes).lines, (QStringList{u"1:a b|c  d|e f g"_s, u"2:next"_s}));
}

TEST(text_table_writer, ends_an_unfinished_row_on_commit) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    text_table_writer w(path);
    w.add_field(u"x"_s);
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(read_all_bytes(path), utf16le(u"x\r\n"_s, true));
}

TEST(text_table_writer, fails_in_a_folder_that_cannot_exist_and_leaves_nothing) {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"file"_s);
    write_all_bytes(file, "not a folder");
    text_table_writer w(file + u"/x.dll"_s);
    EXPECT_FALSE(w.ok());
    w.write_row({u"a"_s});
    EXPECT_FALSE(w.commit());
    EXPECT_EQ(read_all_bytes(file), QByteArray("not a folder"));
    EXPECT_EQ(entries_of(dir.path()), QStringList{u"file"_s});
}

TEST(text_table_writer, fails_in_an_unwritable_folder_and_keeps_the_old_file) {
    if (!permissions_bind()) GTEST_SKIP() << "this process writes whatever the permissions";
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    write_all_bytes(path, "old");
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        text_table_writer w(path);
        w.write_row({u"new"_s});
        EXPECT_FALSE(w.commit());
    }
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(read_all_bytes(path), QByteArray("old"));
    EXPECT_EQ(entries_of(dir.path()), QStringList{u"t.dll"_s});
}

// A file size limit makes writes fail part way, as a full disk does.
TEST(text_table_writer, failing_part_way_keeps_the_old_file_and_leaves_no_temporary) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    write_all_bytes(path, "old catalogue");

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool committed = true;
    bool ok_before_commit = true;
    {
        text_table_writer w(path);
        for (int i = 0; i < 100'000; ++i) w.write_row({QString::number(i), u"一首很长的歌名"_s});
        ok_before_commit = w.ok();
        committed = w.commit();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(ok_before_commit);
    EXPECT_FALSE(committed);
    EXPECT_EQ(read_all_bytes(path), QByteArray("old catalogue"));
    EXPECT_EQ(entries_of(dir.path()), QStringList{u"t.dll"_s});
}

TEST(text_table_writer, without_commit_the_old_file_stays) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    write_all_bytes(path, "old");
    {
        text_table_writer w(path);
        w.write_row({u"new"_s});
    }
    EXPECT_EQ(read_all_bytes(path), QByteArray("old"));
    EXPECT_EQ(entries_of(dir.path()), QStringList{u"t.dll"_s});
}

TEST(text_table_writer, replaces_the_old_file_on_commit) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"t.dll"_s);
    write_all_bytes(path, QByteArray(10000, 'o'));
    text_table_writer w(path);
    w.write_row({u"new"_s});
    ASSERT_TRUE(w.commit());
    EXPECT_TRUE(w.commit()) << "a second call repeats the answer";
    EXPECT_EQ(read_all_bytes(path), utf16le(u"new\r\n"_s, true));
}

} // namespace
