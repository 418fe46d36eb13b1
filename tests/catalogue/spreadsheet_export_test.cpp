#include "catalogue/core/spreadsheet_export.h"

#include "catalogue/core/record_set.h"
#include "tests/support/permission_checks.h"
#include "tests/support/qt_printers.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <array>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// One record as text forms, column by column; nullptr is a null value.
using record_texts = std::array<const char16_t*, catalogue_column_count>;

const std::vector<record_texts> sample = {
    {u"1", u"歌名", u".mp3", u"2023-05-06 07:08:09", u"/歌曲/1002-歌名.mp3", u"gm", u"3.45",
     u"1002", u"1002-歌名"},
    {u"-7", u"", u"", u"1999-12-31 23:59:59", u"/a/b", u"", u"0.01", u"0", u""},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, u"0", nullptr},
    {u"2147483647", u"café, ü", u".flac", u"2038-01-19 03:14:08", u"/音乐/🎵 “歌”.flac", u"café",
     u"9000000000.00", u"-2147483648", u"café, ü"},
    {u"536870912", u"月亮代表我的心", u".wma", u"1970-01-01 00:00:00", u"C:\\歌曲\\月亮.wma",
     u"yldbwdx", u"-0.05", u"-536870913", u"月亮代表我的心"},
    {u"-536870912", u"Night \"Live\"", u".jpg", u"2000-02-29 12:00:01", u"/p/Night.jpg", u"Nl",
     u"1234.5", u"536870911", u"Night \"Live\""},
};

void fill(record_set& rs, const std::vector<record_texts>& records) {
    for (const auto& texts : records) {
        const long row = rs.insertrow(0);
        for (int c = 1; c <= catalogue_column_count; ++c) {
            const char16_t* text = texts[static_cast<std::size_t>(c - 1)];
            if (text)
                ASSERT_TRUE(rs.setitem(row, c, QStringView(text))) << "column " << c;
            else
                rs.set_null(row, c);
        }
    }
}

QString reader_script() {
    return QStringLiteral(QM_TEST_SOURCE_DIR "/tests/catalogue/xls_cells.py");
}

// The workbook as the independent reader sees it.
QJsonObject read_with_xlrd(const QString& path, bool summary = false) {
    QProcess p;
    QStringList args{reader_script(), path};
    if (summary) args << u"--summary"_s;
    p.start(u"/usr/bin/python3"_s, args);
    if (!p.waitForFinished(300'000) || p.exitCode() != 0) {
        ADD_FAILURE() << "xlrd failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QJsonValue expected_cell(int column, const char16_t* text) {
    if (!text) return QJsonValue::Null;
    const QString t = QString::fromUtf16(text);
    switch (catalogue_column_info(column).type) {
    case column_type::text:
        return QJsonObject{{u"s"_s, t}};
    case column_type::long_number:
        return QJsonObject{{u"n"_s, static_cast<double>(*parse_long(t))}, {u"f"_s, u"General"_s}};
    case column_type::decimal2:
        return QJsonObject{{u"n"_s, parse_decimal2(t)->to_double()}, {u"f"_s, u"0.00"_s}};
    case column_type::datetime:
        return QJsonObject{{u"d"_s, t}, {u"f"_s, u"yyyy-mm-dd hh:mm:ss"_s}};
    }
    return {};
}

QJsonArray expected_heading() {
    QJsonArray row;
    for (const auto& c : catalogue_columns) row.append(QJsonObject{{u"s"_s, c.name.toString()}});
    return row;
}

void expect_rows(const QJsonArray& rows, const std::vector<record_texts>& records) {
    ASSERT_EQ(rows.size(), static_cast<qsizetype>(records.size()) + 1);
    EXPECT_EQ(rows[0].toArray(), expected_heading());
    for (std::size_t r = 0; r < records.size(); ++r) {
        const QJsonArray got = rows[static_cast<qsizetype>(r + 1)].toArray();
        ASSERT_EQ(got.size(), catalogue_column_count) << "row " << r + 1;
        for (int c = 1; c <= catalogue_column_count; ++c)
            EXPECT_EQ(got[c - 1], expected_cell(c, records[r][static_cast<std::size_t>(c - 1)]))
                << "row " << r + 1 << " column " << c << ": "
                << QJsonDocument(got).toJson(QJsonDocument::Compact).toStdString();
    }
}

class spreadsheet_export : public testing::Test {
  protected:
    QString file(const QString& name = spreadsheet_export_file_name) const {
        return dir.path() + u'/' + name;
    }
    QTemporaryDir dir;
};

TEST_F(spreadsheet_export, xlrd_reads_every_cell_with_its_type_and_format) {
    record_set rs;
    fill(rs, sample);
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));

    const QJsonObject book = read_with_xlrd(file());
    const QJsonArray sheets = book[u"sheets"_s].toArray();
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0][u"name"_s].toString(), u"文件清单"_s);
    expect_rows(sheets[0][u"rows"_s].toArray(), sample);
}

TEST_F(spreadsheet_export, exports_only_the_visible_rows_in_their_order) {
    record_set rs;
    fill(rs, sample);
    ASSERT_EQ(rs.setfilter(u"fileext = '.wma' or fileext = '.mp3'"), 1);
    rs.filter();
    ASSERT_EQ(rs.rowcount(), 2);
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));

    const QJsonArray sheets = read_with_xlrd(file())[u"sheets"_s].toArray();
    ASSERT_EQ(sheets.size(), 1);
    expect_rows(sheets[0][u"rows"_s].toArray(), {sample[0], sample[4]});
}

TEST_F(spreadsheet_export, broken_utf16_becomes_replacement_characters) {
    record_set rs;
    const long row = rs.insertrow(0);
    const QChar lone_high(char16_t(0xD83C));
    const QChar lone_low(char16_t(0xDFB5));
    rs.set_text(row, col_filename, QString(u"a"_s + lone_high + u"b"_s));
    rs.set_text(row, col_filepath, QString(lone_low + u"🎵"_s + lone_high));
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));

    const QJsonArray rows = read_with_xlrd(file())[u"sheets"_s][0][u"rows"_s].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1][col_filename - 1][u"s"_s].toString(), u"a\uFFFDb"_s);
    EXPECT_EQ(rows[1][col_filepath - 1][u"s"_s].toString(), u"\uFFFD🎵\uFFFD"_s);
}

// Texts of every length and both character widths, so that strings split across
// CONTINUE records at every kind of boundary.
TEST_F(spreadsheet_export, large_string_table_continues_over_many_records) {
    const int n = 20'000;
    std::vector<QString> texts;
    texts.reserve(static_cast<std::size_t>(n) * 3);
    const QString hanzi = u"我的爱人你是心中月亮花开太阳天空大海小城故事朋友回家时间青春梦想"_s;
    for (int i = 0; i < n; ++i) {
        QString name = u"第%1首"_s.arg(i);
        for (int k = 0; k < (i * 37) % 170; ++k) name += hanzi[(i + k) % hanzi.size()];
        if (i % 1000 == 7) name.clear();
        QString path = u"/music/%1/"_s.arg(i);
        path += QString((i * 53) % 300, QChar(u'a' + i % 26));
        texts.push_back(name);
        texts.push_back(path);
        texts.push_back(u"é"_s.repeated(i % 11) + QString::number(i));
    }
    std::vector<record_texts> records;
    for (int i = 0; i < n; ++i) {
        const auto* name = reinterpret_cast<const char16_t*>(texts[3 * i].utf16());
        const auto* path = reinterpret_cast<const char16_t*>(texts[3 * i + 1].utf16());
        const auto* pinyin = reinterpret_cast<const char16_t*>(texts[3 * i + 2].utf16());
        records.push_back(
            {u"1", name, u".mp3", u"2001-01-01 00:00:00", path, pinyin, u"1.00", u"0", name});
    }
    record_set rs;
    fill(rs, records);
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));

    const QJsonObject book = read_with_xlrd(file());
    EXPECT_GT(book[u"records"_s][u"003c"_s].toInt(), 100) << "no CONTINUE records written";
    EXPECT_EQ(book[u"records"_s][u"00fc"_s].toInt(), 1);
    expect_rows(book[u"sheets"_s][0][u"rows"_s].toArray(), records);
}

struct sheet_case {
    long records;
    std::vector<int> rows_per_sheet; // heading included
};

class spreadsheet_sheets : public spreadsheet_export,
                           public testing::WithParamInterface<sheet_case> {};

TEST_P(spreadsheet_sheets, records_beyond_a_sheet_go_on_in_further_sheets_each_with_heading) {
    const sheet_case& c = GetParam();
    record_set rs;
    for (long i = 1; i <= c.records; ++i) {
        const long row = rs.insertrow(0);
        rs.set_long(row, col_machineid, static_cast<std::int32_t>(i));
        rs.set_text(row, col_filename, u"名%1"_s.arg(i % 100));
    }
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));

    const QJsonArray sheets = read_with_xlrd(file(), true)[u"sheets"_s].toArray();
    ASSERT_EQ(sheets.size(), static_cast<qsizetype>(c.rows_per_sheet.size()));
    long next = 1;
    for (qsizetype s = 0; s < sheets.size(); ++s) {
        const QJsonObject sheet = sheets[s].toObject();
        if (sheets.size() > 1) {
            EXPECT_EQ(sheet[u"name"_s].toString(), u"文件清单%1"_s.arg(s + 1));
        }
        EXPECT_EQ(sheet[u"nrows"_s].toInt(), c.rows_per_sheet[static_cast<std::size_t>(s)]);
        EXPECT_EQ(sheet[u"heading"_s].toArray(), expected_heading()) << "sheet " << s + 1;
        for (const QJsonValue v : sheet[u"first"_s].toArray()) {
            ASSERT_EQ(v[u"n"_s].toDouble(), static_cast<double>(next)) << "sheet " << s + 1;
            ++next;
        }
    }
    EXPECT_EQ(next - 1, c.records);
}

INSTANTIATE_TEST_SUITE_P(all, spreadsheet_sheets,
                         testing::Values(sheet_case{0, {1}}, sheet_case{65'535, {65'536}},
                                         sheet_case{65'536, {65'536, 2}},
                                         sheet_case{70'000, {65'536, 4'466}}));

TEST_F(spreadsheet_export, replaces_the_old_file) {
    write_all_bytes(file(), "old");
    record_set rs;
    fill(rs, sample);
    ASSERT_TRUE(save_spreadsheet_export(rs, file()));
    EXPECT_EQ(read_all_bytes(file()).left(8), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{spreadsheet_export_file_name});
}

TEST_F(spreadsheet_export, fails_when_the_folder_is_missing_or_the_name_is_a_folder) {
    record_set rs;
    fill(rs, sample);
    EXPECT_FALSE(save_spreadsheet_export(rs, file(u"missing/x.xls"_s)));
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.xls"_s));
    EXPECT_FALSE(save_spreadsheet_export(rs, file(u"folder.xls"_s)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{});
}

// A write that breaks off (as on a full disk) leaves the old file and no temporary file.
TEST_F(spreadsheet_export, failed_write_keeps_the_old_file) {
    const QByteArray old = QByteArray("old workbook ").repeated(100);
    write_all_bytes(file(), old);
    record_set rs;
    for (int i = 0; i < 5'000; ++i) fill(rs, sample);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = save_spreadsheet_export(rs, file());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(read_all_bytes(file()), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{spreadsheet_export_file_name});
}

TEST_F(spreadsheet_export, unwritable_folder_keeps_the_old_file) {
    if (!permissions_bind()) GTEST_SKIP() << "folder permissions do not bind this process";
    write_all_bytes(file(), "old");
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    record_set rs;
    fill(rs, sample);
    const bool saved_ok = save_spreadsheet_export(rs, file());
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(read_all_bytes(file()), QByteArray("old"));
}

// --- LibreOffice as a second reader (slow: starts an office suite) ------------------------

class spreadsheet_export_slow : public spreadsheet_export {
  protected:
    void SetUp() override {
        soffice = QStandardPaths::findExecutable(u"soffice"_s);
        if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    }

    // Converts `xls` to CSV (UTF-8, comma, every sheet to its own file when `all_sheets`).
    bool convert(const QString& xls, bool all_sheets) {
        const QString out = dir.path() + u"/csv"_s;
        QDir().mkpath(out);
        // Quote only where needed, cells as shown, the first or every sheet.
        const QString filter = u"csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,"
                               u"false,false,"_s +
                               (all_sheets ? u"-1"_s : u"0"_s);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(soffice, {u"-env:UserInstallation=file://"_s + dir.path() + u"/lo-profile"_s,
                          u"--headless"_s, u"--convert-to"_s, filter, u"--outdir"_s, out, xls});
        if (!p.waitForFinished(600'000) || p.exitCode() != 0) {
            ADD_FAILURE() << "soffice failed: " << p.readAll().toStdString();
            return false;
        }
        return true;
    }

    QStringList csv_lines(const QString& name) const {
        QString text = QString::fromUtf8(read_all_bytes(dir.path() + u"/csv/"_s + name));
        if (text.endsWith(u'\n')) text.chop(1);
        return text.split(u'\n');
    }

    QString soffice;
};

QString csv_field(const QString& value) {
    if (!value.contains(u',') && !value.contains(u'"')) return value;
    QString quoted = value;
    quoted.replace(u"\""_s, u"\"\""_s);
    return u'"' + quoted + u'"';
}

// As shown: sizes always with two decimals.
QString csv_line(const record_texts& texts) {
    QStringList fields;
    for (int c = 1; c <= catalogue_column_count; ++c) {
        const char16_t* t = texts[static_cast<std::size_t>(c - 1)];
        QString shown = t ? QString::fromUtf16(t) : QString();
        if (t && c == col_filesizedec)
            shown = QString::number(parse_decimal2(shown)->to_double(), 'f', 2);
        fields << csv_field(shown);
    }
    return fields.join(u',');
}

QString csv_heading() {
    QStringList fields;
    for (const auto& c : catalogue_columns) fields << c.name.toString();
    return fields.join(u',');
}

TEST_F(spreadsheet_export_slow, libreoffice_shows_every_cell_as_written) {
    record_set rs;
    fill(rs, sample);
    ASSERT_TRUE(save_spreadsheet_export(rs, file(u"sample.xls"_s)));
    ASSERT_TRUE(convert(file(u"sample.xls"_s), false));

    QStringList expected{csv_heading()};
    for (const auto& texts : sample) expected << csv_line(texts);
    EXPECT_EQ(csv_lines(u"sample.csv"_s), expected);
}

TEST_F(spreadsheet_export_slow, libreoffice_reads_two_sheets_and_a_continued_string_table) {
    const long n = 70'000;
    record_set rs;
    QStringList names;
    for (long i = 1; i <= n; ++i) {
        const long row = rs.insertrow(0);
        const QString name =
            u"歌曲第%1首 "_s.arg(i) + QString(static_cast<int>(i % 90), QChar(u'声'));
        rs.set_long(row, col_machineid, static_cast<std::int32_t>(i));
        const QString path = u"/m/"_s + QString(static_cast<int>(i % 200), u'x') + name;
        rs.set_text(row, col_filename, name);
        rs.set_text(row, col_filepath, path);
        names << QString::number(i) + u',' + name + u",,," + path + u",,,0,";
    }
    ASSERT_TRUE(save_spreadsheet_export(rs, file(u"big.xls"_s)));
    ASSERT_TRUE(convert(file(u"big.xls"_s), true));

    const QStringList first = csv_lines(u"big-文件清单1.csv"_s);
    const QStringList second = csv_lines(u"big-文件清单2.csv"_s);
    ASSERT_EQ(first.size(), 65'536);
    ASSERT_EQ(second.size(), 1 + n - 65'535);
    EXPECT_EQ(first[0], csv_heading());
    EXPECT_EQ(second[0], csv_heading());
    for (long i = 1; i <= n; ++i) {
        const QString& got = i <= 65'535 ? first[i] : second[i - 65'535];
        ASSERT_EQ(got, names[i - 1]) << "record " << i;
    }
}

} // namespace
