#include "catalogue/core/list_file.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

using rows = std::vector<QStringList>;

TEST(list_file, missing_file_reads_as_nullopt) {
    QTemporaryDir dir;
    EXPECT_EQ(read_list_file(dir.filePath(u"quellmark_diskarea.dll"_s)), std::nullopt);
}

TEST(list_file, a_folder_in_place_of_the_file_reads_as_nullopt) {
    QTemporaryDir dir;
    EXPECT_EQ(read_list_file(dir.path()), std::nullopt);
}

TEST(list_file, one_scan_area_gives_heading_and_one_line) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"quellmark_diskarea.dll"_s);
    ASSERT_TRUE(write_list_file(path, {u"diskarea"_s}, {{u"E:"_s}}));
    EXPECT_EQ(read_all_bytes(path), utf16le(u"diskarea\r\nE:\r\n"_s, true));
    EXPECT_EQ(read_list_file(path), rows{{u"E:"_s}});
}

TEST(list_file, round_trips_rows_as_written) {
    const std::vector<rows> tables = {
        {},                                        // heading only
        {{u""_s}},                                 // one empty row
        {{u"/media/歌曲/"_s}, {u""_s}, {u"D:"_s}}, // empty row in the middle
        {{u".mp3"_s, u"1"_s}, {u".MP3"_s, u"0"_s}, {u""_s, u"1"_s}, {u".wma"_s, u""_s}},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"quellmark_filetype.dll"_s);
    for (const rows& table : tables) {
        ASSERT_TRUE(write_list_file(path, {u"diskarea"_s, u"checkit"_s}, table));
        EXPECT_EQ(read_list_file(path), table) << table.size() << " rows";
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(list_file, reads_files_of_other_writers) {
    struct read_case {
        const char* name;
        QByteArray bytes;
        int first_line;
        rows expected;
    };
    const std::vector<read_case> cases = {
        {"no mark, lf",
         utf16le(u"h\n.mp3\t1\n.avi\t0"_s),
         2,
         {{u".mp3"_s, u"1"_s}, {u".avi"_s, u"0"_s}}},
        {"mark, crlf", utf16le(u"h\r\nE:\r\n"_s, true), 2, {{u"E:"_s}}},
        {"heading read when asked", utf16le(u"h\r\nE:\r\n"_s, true), 1, {{u"h"_s}, {u"E:"_s}}},
        {"empty file", QByteArray(), 2, {}},
        {"odd byte", utf16le(u"h\r\nE:"_s) + 'x', 2, {{u"E:"_s}}},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"l.dll"_s);
    for (const read_case& c : cases) {
        write_all_bytes(path, c.bytes);
        EXPECT_EQ(read_list_file(path, c.first_line), c.expected) << c.name;
    }
}

TEST(list_file, failed_write_keeps_the_old_list) {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"file"_s);
    write_all_bytes(file, "x");
    EXPECT_FALSE(
        write_list_file(file + u"/quellmark_diskarea.dll"_s, {u"diskarea"_s}, {{u"E:"_s}}));
    EXPECT_EQ(read_all_bytes(file), QByteArray("x"));
}

} // namespace
