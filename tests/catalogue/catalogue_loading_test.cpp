#include "catalogue/catalogue_loading.h"

#include "catalogue/catalogue_snapshot.h"
#include "catalogue/record_set.h"
#include "catalogue/record_storage.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString heading =
    u"machineid\tfilename\tfileext\tcreatedate\tfilepath\tpinyinma\tfilesizedec\tsourceid\tfilenamewithno\r\n"_s;

QString line(const QString& name) {
    return u"1\t"_s + name + u"\t.mp3\t2020-01-02 03:04:05\tD:/歌/"_s + name +
           u".mp3\tm\t1.50\t7\t"_s + name + u"\r\n"_s;
}

QStringList names(const record_set& rs) {
    QStringList out;
    for (long r = 1; r <= rs.rowcount(); ++r) out << rs.getitemstring(r, col_filename);
    return out;
}

QByteArray read_all(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// To the nanosecond, as the snapshot compares it.
void write_keeping_time(const QString& path, const QByteArray& bytes) {
    const std::filesystem::path p = path.toStdU16String();
    const auto t = std::filesystem::last_write_time(p);
    write_all_bytes(path, bytes);
    std::filesystem::last_write_time(p, t);
}

class catalogue_loading : public ::testing::Test {
  protected:
    QTemporaryDir program, cache;
    QString file() const { return program.filePath(catalogue_file_name); }
    QString snapshot() const { return snapshot_path_for(file(), cache.path()); }
    QStringList load() {
        record_set rs;
        load_catalogue(rs, program.path() + u'/', cache.path());
        rs.finish_background_work(); // the snapshot is written meanwhile
        return names(rs);
    }
};

// A snapshot holding other records than the file shows which of the two a load read.
TEST_F(catalogue_loading, a_snapshot_is_read_only_while_it_matches_the_file) {
    write_all_bytes(file(), utf16le(heading + line(u"甲"_s) + line(u"乙"_s), true));
    EXPECT_EQ(load(), (QStringList{u"甲"_s, u"乙"_s}));
    ASSERT_TRUE(QFileInfo::exists(snapshot()));

    record_set marker;
    marker.insertrow(0);
    marker.set_text(1, col_filename, u"快照"_s);
    const auto identity = identify_catalogue_file(file());
    ASSERT_TRUE(identity);
    ASSERT_TRUE(
        save_catalogue_snapshot(snapshot(), marker.storage(), {true, false, 1, 0}, *identity));
    EXPECT_EQ(load(), QStringList{u"快照"_s});
    const QByteArray good_snapshot = read_all(snapshot());

    struct change {
        const char* what;
        std::function<void()> make;
    };
    const change changes[] = {
        {"one byte of the file, size and time kept",
         [&] {
             QByteArray b = read_all(file());
             b[b.size() - 6] = 'X'; // "甲" of the last name becomes another character
             write_keeping_time(file(), b);
         }},
        {"snapshot cut short", [&] { write_all_bytes(snapshot(), good_snapshot.left(100)); }},
        {"snapshot byte flipped",
         [&] {
             QByteArray b = good_snapshot;
             b[b.size() - 3] = static_cast<char>(b[b.size() - 3] ^ 1);
             write_all_bytes(snapshot(), b);
         }},
        {"snapshot gone", [&] { QFile::remove(snapshot()); }},
    };
    for (const change& c : changes) {
        write_all_bytes(file(), utf16le(heading + line(u"甲"_s) + line(u"乙"_s), true));
        write_all_bytes(snapshot(), good_snapshot);
        const auto now = identify_catalogue_file(file());
        ASSERT_TRUE(
            save_catalogue_snapshot(snapshot(), marker.storage(), {true, false, 1, 0}, *now));
        const QByteArray file_before = read_all(file());
        c.make();
        record_set direct;
        import_catalogue_file(direct, file());
        const QStringList from_file = names(direct);
        EXPECT_EQ(load(), from_file) << c.what;
        EXPECT_EQ(load(), from_file) << c.what << ": the rebuilt snapshot";
        EXPECT_NE(read_all(snapshot()), good_snapshot) << c.what;
        if (std::string_view(c.what).starts_with("snapshot")) {
            EXPECT_EQ(read_all(file()), file_before) << c.what;
        }
    }
}

// A scan that starts while the snapshot of a freshly read file is written stops the writing;
// no half snapshot is left for the next start.
TEST_F(catalogue_loading, a_change_at_once_after_a_load_leaves_no_half_snapshot) {
    QString text = heading;
    for (int i = 0; i < 20000; ++i) text += line(u"歌"_s + QString::number(i));
    write_all_bytes(file(), utf16le(text, true));
    {
        record_set rs;
        load_catalogue(rs, program.path() + u'/', cache.path());
        rs.insertrow(0);
        EXPECT_EQ(rs.rowcount(), 20001);
    }
    const QStringList again = load();
    EXPECT_EQ(again.size(), 20000);
    EXPECT_EQ(again.back(), u"歌19999"_s);
    EXPECT_TRUE(QFileInfo::exists(snapshot()));
}

// The file is hashed in pieces as it is read: the same value as the bytes hashed at once,
// and a change of one byte anywhere is seen.
TEST_F(catalogue_loading, a_file_read_in_pieces_hashes_as_its_bytes_at_once) {
    QByteArray bytes((256 << 10) * 3 + 37, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 300);
    write_all_bytes(file(), bytes);
    const auto whole = identify_catalogue_file(file());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->content_hash, content_hash(bytes));
    for (const qsizetype at : {qsizetype{0}, qsizetype{256 << 10}, bytes.size() - 1}) {
        QByteArray changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 1);
        write_all_bytes(file(), changed);
        EXPECT_NE(identify_catalogue_file(file())->content_hash, whole->content_hash) << at;
    }
}

// Every prefix of a good snapshot is refused whole, and the storage stays empty.
TEST_F(catalogue_loading, a_damaged_snapshot_never_gives_records) {
    write_all_bytes(file(), utf16le(heading + line(u"甲"_s) + line(u"乙乙"_s), true));
    load();
    const QByteArray good = read_all(snapshot());
    const auto identity = identify_catalogue_file(file());
    ASSERT_TRUE(identity);
    record_storage out;
    ASSERT_TRUE(read_catalogue_snapshot_bytes(good, *identity, out));
    EXPECT_EQ(out.rows(), 2u);
    for (qsizetype n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(read_catalogue_snapshot_bytes(good.left(n), *identity, out)) << n;
        EXPECT_EQ(out.rows(), 0u);
    }
    auto other = *identity;
    other.content_hash ^= 1;
    EXPECT_FALSE(read_catalogue_snapshot_bytes(good, other, out));
}

} // namespace
