#include "catalogue/core/catalogue_file.h"

#include "app/shell/settings_file.h"
#include "catalogue/core/list_file.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/spreadsheet_export.h"
#include "tests/support/loop_card.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString heading =
    u"machineid\tfilename\tfileext\tcreatedate\tfilepath\tpinyinma\tfilesizedec\tsourceid\tfilenamewithno\r\n"_s;

void add(record_set& rs, std::int32_t id, const QString& name, const QString& ext,
         std::optional<local_datetime> when, std::int64_t cents, std::int32_t number,
         const QString& withno) {
    const long r = rs.insertrow(0);
    rs.set_long(r, col_machineid, id);
    rs.set_text(r, col_filename, name);
    rs.set_text(r, col_fileext, ext);
    if (when) rs.set_datetime(r, col_createdate, *when);
    rs.set_text(r, col_filepath, QString(u"D:/歌曲/"_s + withno + ext));
    rs.set_text(r, col_pinyinma, name.toLower());
    rs.set_decimal(r, col_filesizedec, decimal2{cents});
    rs.set_long(r, col_sourceid, number);
    rs.set_text(r, col_filenamewithno, withno);
}

void expect_same_records(const record_set& a, const record_set& b) {
    ASSERT_EQ(a.rowcount(), b.rowcount());
    for (long r = 1; r <= a.rowcount(); ++r) {
        for (const auto& c : catalogue_columns) {
            EXPECT_EQ(a.getitemstring(r, c.number), b.getitemstring(r, c.number))
                << "row " << r << " column " << c.number;
            if (c.type != column_type::text) {
                EXPECT_EQ(a.isnull(r, c.number), b.isnull(r, c.number));
            }
        }
    }
}

class catalogue_file : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(catalogue_file_name); }
};

TEST_F(catalogue_file, write_then_read_restores_every_value_in_order) {
    record_set written;
    add(written, 1, u"歌名"_s, u".mp3"_s,
        local_datetime::from(QDate(2023, 12, 31), QTime(23, 59, 59)), 300, 1002, u"1002-歌名"_s);
    add(written, 2, u"Don't Stop"_s, u""_s, std::nullopt, 0, 0, u"Don't Stop"_s);
    add(written, -5, QString(300, u'长'), u".flac"_s,
        local_datetime::from(QDate(1601, 1, 1), QTime(0, 0, 0)), 987654321012, -2147483647 - 1,
        QString(300, u'长'));
    add(written, 2147483647, u"a b  c"_s, u".x"_s,
        local_datetime::from(QDate(2038, 1, 19), QTime(3, 14, 8)), 1, 7, u"7@a b  c"_s);
    ASSERT_TRUE(save_catalogue_file(written, path()));

    const QByteArray bytes = read_all_bytes(path());
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    EXPECT_TRUE(bytes.endsWith(QByteArray("\r\0\n\0", 4)));

    record_set read;
    const auto result = import_catalogue_file(read, path());
    EXPECT_TRUE(result.file_found);
    EXPECT_EQ(result.loaded, 4);
    EXPECT_EQ(result.skipped, 0);
    expect_same_records(written, read);
}

TEST_F(catalogue_file, a_missing_file_or_a_heading_alone_gives_no_records) {
    record_set rs;
    auto result = import_catalogue_file(rs, path());
    EXPECT_FALSE(result.file_found);
    EXPECT_EQ(rs.rowcount(), 0);

    write_all_bytes(path(), utf16le(heading, true));
    result = import_catalogue_file(rs, path());
    EXPECT_TRUE(result.file_found);
    EXPECT_EQ(result.loaded, 0);
    EXPECT_EQ(rs.rowcount(), 0);

    ASSERT_TRUE(save_catalogue_file(rs, path()));
    EXPECT_EQ(import_catalogue_file(rs, path()).loaded, 0);
}

TEST_F(catalogue_file, reading_appends_to_the_records_already_there) {
    record_set rs;
    add(rs, 1, u"a"_s, u".mp3"_s, std::nullopt, 0, 0, u"a"_s);
    ASSERT_TRUE(save_catalogue_file(rs, path()));
    import_catalogue_file(rs, path());
    import_catalogue_file(rs, path());
    EXPECT_EQ(rs.rowcount(), 3);
}

TEST_F(catalogue_file, the_byte_order_mark_is_optional_and_the_heading_is_never_read) {
    const QString line = u"9\t名\t.mp3\t2020-01-02 03:04:05\tD:/名.mp3\tm\t1.50\t0\t名\r\n"_s;
    for (const bool bom : {true, false}) {
        write_all_bytes(path(), utf16le(line + line, bom));
        record_set rs;
        EXPECT_EQ(import_catalogue_file(rs, path()).loaded, 1) << bom;
        EXPECT_EQ(rs.getitemstring(1, col_createdate), u"2020-01-02 03:04:05"_s);
        EXPECT_EQ(rs.getitemstring(1, col_filesizedec), u"1.50"_s);
    }
}

TEST_F(catalogue_file, bad_lines_are_skipped_and_good_ones_around_them_load) {
    const QString good = u"1\tok\t.mp3\t2020-01-02 03:04:05\tD:/ok.mp3\tok\t1.50\t0\tok"_s;
    struct case_t {
        const char* what;
        QString line;
    };
    const case_t cases[] = {
        {"too few fields", u"1\tx\t.mp3"_s},
        {"too many fields", good + u"\textra"_s},
        {"empty line", u""_s},
        {"number not a number", u"x1\tok\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"number too large", u"99999999999\tok\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"bad size", u"1\tok\t.mp3\t\tD:/ok.mp3\tok\t1.5x\t0\tok"_s},
        {"bad date", u"1\tok\t.mp3\t2020-13-02 03:04:05\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"text too long",
         u"1\t"_s + QString(301, u'x') + u"\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"NUL", u"1\to\0k\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"lone surrogate", u"1\to"_s + QChar(0xD800) + u"k\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s},
        {"huge line", QString(2'000'000, u'h')},
    };
    for (const auto& c : cases) {
        write_all_bytes(
            path(),
            utf16le(heading + good + u"\r\n"_s + c.line + u"\r\n"_s + good + u"\r\n"_s, true));
        record_set rs;
        const auto result = import_catalogue_file(rs, path());
        EXPECT_EQ(result.loaded, 2) << c.what;
        EXPECT_EQ(result.skipped, 1) << c.what;
        EXPECT_EQ(rs.rowcount(), 2) << c.what;
    }
}

// Parts are cut after line ends wherever they fall: every count of threads reads what one
// stream reads, with bad lines, every line end, a dictionary text first seen late and
// records already in the set.
TEST_F(catalogue_file, every_thread_count_reads_what_one_stream_reads) {
    const QString ends[] = {u"\r\n"_s, u"\n"_s, u"\r"_s};
    QString text = heading;
    for (int i = 0; i < 300; ++i) {
        text +=
            QString(
                u"%1\t名%1\t.e%2\t2020-01-02 03:04:05\tD:/夹%3/名%1.mp3\tm%1\t%1.5\t%2\t%1@名"_s)
                .arg(i)
                .arg(i % 7)
                .arg(i / 40);
        if (i % 13 == 0) text += u"\textra"_s;
        if (i % 17 == 0) text += QChar(0xD800);
        if (i % 29 == 0) text += QString(5000, u'h');
        text += ends[i % 3];
        if (i % 31 == 0) text += ends[(i + 1) % 3]; // an empty line
    }
    text += u"9\tlast\t.mp3\t\tD:/last.mp3\tl\t\t\tlast"_s; // no line end
    write_all_bytes(path(), utf16le(text, true));
    record_set streamed;
    add(streamed, 7, u"已有"_s, u".mp3"_s, std::nullopt, 1, 2, u"已有"_s);
    const auto expected = import_catalogue_file(streamed, path(), 2, 1);
    EXPECT_GT(expected.loaded, 200);
    EXPECT_GT(expected.skipped, 20);
    for (const unsigned threads : {2u, 3u, 5u, 16u, 0u}) {
        record_set parts;
        add(parts, 7, u"已有"_s, u".mp3"_s, std::nullopt, 1, 2, u"已有"_s);
        const auto got = import_catalogue_file(parts, path(), 2, threads);
        EXPECT_EQ(got.loaded, expected.loaded) << threads;
        EXPECT_EQ(got.skipped, expected.skipped) << threads;
        expect_same_records(streamed, parts);
        parts.setfilter(u"fileext = '.e3' and filepath like '%夹2/%'");
        streamed.setfilter(u"fileext = '.e3' and filepath like '%夹2/%'");
        parts.filter();
        streamed.filter();
        expect_same_records(streamed, parts);
        streamed.setfilter(u"");
        streamed.filter();
    }
}

// In a process that may start no thread (a child of this one, as an unprivileged user whose
// process limit is reached), a load meant for several threads reads every part on the one
// it has, and the process goes on; the exit status says how it went.
TEST_F(catalogue_file, a_load_whose_threads_cannot_start_reads_every_record) {
    QString text = heading;
    for (int i = 0; i < 4000; ++i)
        text += QString(u"%1\t名%1\t.mp3\t\tD:/夹/名%1.mp3\tm\t1.00\t0\t名%1\r\n"_s).arg(i);
    write_all_bytes(path(), utf16le(text, true));
    record_set streamed;
    import_catalogue_file(streamed, path(), 2, 1);
    ASSERT_EQ(streamed.rowcount(), 4000);
    const open_catalogue_file file(path()); // opened here: the child may not reach the folder
    ASSERT_TRUE(file.is_open());
    const passwd* nobody = ::getpwnam("nobody");
    enum : int { same = 0, different = 1, threads_start = 2 };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0) ::_exit(threads_start);
        // The limit binds no process with root's rights.
        if (::geteuid() == 0 && (!nobody || ::setgroups(0, nullptr) != 0 ||
                                 ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0))
            ::_exit(threads_start);
        try {
            std::thread([] {}).join();
            ::_exit(threads_start);
        } catch (const std::system_error&) {
        }
        record_set parts;
        const auto got = import_catalogue_file(parts, file, 2, 4);
        bool ok = got.loaded == 4000 && !got.read_error && parts.rowcount() == 4000;
        for (long r = 1; ok && r <= parts.rowcount(); ++r)
            for (const auto& c : catalogue_columns)
                ok = ok && parts.getitemstring(r, c.number) == streamed.getitemstring(r, c.number);
        ::_exit(ok ? same : different);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == threads_start) GTEST_SKIP() << "threads start whatever the limit";
    EXPECT_EQ(WEXITSTATUS(status), same);
}

TEST_F(catalogue_file, a_truncated_file_loads_what_is_whole) {
    const QString good = u"1\tok\t.mp3\t\tD:/ok.mp3\tok\t1.50\t0\tok"_s;
    QByteArray bytes = utf16le(heading + good + u"\r\n"_s + good, true);
    bytes.append('\x41'); // odd byte count
    write_all_bytes(path(), bytes);
    record_set rs;
    const auto result = import_catalogue_file(rs, path());
    EXPECT_EQ(result.loaded, 2);
    EXPECT_TRUE(rs.isnull(1, col_createdate));

    bytes = utf16le(heading + good + u"\r\n"_s + u"1\tcut\t.mp"_s, true);
    write_all_bytes(path(), bytes);
    record_set rs2;
    EXPECT_EQ(import_catalogue_file(rs2, path()).loaded, 1);
}

TEST_F(catalogue_file, a_save_that_cannot_be_written_reports_failure) {
    record_set rs;
    add(rs, 1, u"old"_s, u".mp3"_s, std::nullopt, 0, 0, u"old"_s);
    write_all_bytes(dir.filePath(u"not_a_folder"_s), "x");
    EXPECT_FALSE(save_catalogue_file(rs, dir.filePath(u"not_a_folder/"_s + catalogue_file_name)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"not_a_folder"_s});
}

// Every file the program writes, saved onto a card behind a direct-I/O loop device: the image
// taken right after the saves return holds each new file whole, and a clean file system.
TEST(durable_saves, an_image_taken_after_the_saves_holds_every_file_whole) {
    if (const QString why = loop_card::unavailable(card_format::ext4); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(card_format::ext4);
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    record_set rs;
    for (int i = 0; i < 3000; ++i)
        add(rs, i, u"歌曲"_s + QString::number(i), u".mp3"_s, std::nullopt, i, i,
            QString::number(i));
    const QString catalogue = card.path(catalogue_file_name);
    const QString sheet = card.path(spreadsheet_export_file_name);
    const QString list = card.path(u"quellmark_diskarea.dll"_s);
    const QString ini = card.path(u"quellmark.ini"_s);
    // A settings file kept on the card behind a symbolic link on the local disk.
    QTemporaryDir local;
    const QString link = local.filePath(u"quellmark.ini"_s);
    const QString linked = card.path(u"linked.ini"_s);
    write_all_bytes(linked, "[mediaplay]\n");
    ASSERT_TRUE(QFile::link(linked, link));
    // The second round replaces the files of the first.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(save_catalogue_file(rs, catalogue));
        ASSERT_TRUE(save_spreadsheet_export(rs, sheet));
        ASSERT_TRUE(write_list_file(list, {u"diskarea"_s}, {{u"D:/"_s + QString::number(round)}}));
        ASSERT_TRUE(settings_file(ini).write(u"mediaplay", u"type", QString::number(round)));
        ASSERT_TRUE(settings_file(link).write(u"mediaplay", u"type", QString::number(round)));
        rs.insertrow(0);
    }
    // The live files are the reference: the snapshot must hold exactly them.
    QTemporaryDir reference;
    std::vector<std::pair<QString, QString>> expected;
    for (const QString& file : {catalogue, sheet, list, ini, linked}) {
        const QString name = QFileInfo(file).fileName();
        ASSERT_TRUE(QFile::copy(file, reference.filePath(name)));
        expected.emplace_back(name, reference.filePath(name));
    }
    const loop_card::snapshot shot = card.check_snapshot(expected);
    EXPECT_TRUE(shot.fsck_clean) << shot.fsck_output.toStdString();
    EXPECT_TRUE(shot.bad.isEmpty()) << shot.bad.join(u", "_s).toStdString();
}

} // namespace
