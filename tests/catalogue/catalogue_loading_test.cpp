#include "catalogue/core/catalogue_loading.h"

#include "catalogue/core/catalogue_snapshot.h"
#include "catalogue/core/native_names.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "tests/support/qt_printers.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

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

QString lines(const QString& name, int n) {
    QString text = heading;
    for (int i = 0; i < n; ++i) text += line(name + QString::number(i));
    return text;
}

#if defined(__SANITIZE_ADDRESS__)
#define QM_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_ADDRESS_SANITIZER 1
#endif
#endif

// Runs `f` with no more address space than is mapped now and `room` more; the catalogue's big
// columns (4 MiB and more) come straight from the system, so they cannot be had. The
// sanitizer's allocator does not live with such a limit: its builds skip.
bool with_address_space_room(std::size_t room, const std::function<void()>& f) {
#if defined(QM_ADDRESS_SANITIZER)
    (void)room;
    (void)f;
    return false;
#else
    long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit old{};
    if (pages <= 0 || ::getrlimit(RLIMIT_AS, &old) != 0) return false;
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE)) + room;
    if (::setrlimit(RLIMIT_AS, &tight) != 0) return false;
    struct restore {
        const rlimit& old;
        ~restore() { ::setrlimit(RLIMIT_AS, &old); }
    } const back{old};
    f();
    return true;
#endif
}

class catalogue_loading : public ::testing::Test {
  protected:
    QTemporaryDir program, cache;
    QString file() const { return program.filePath(catalogue_file_name); }
    QString snapshot() const { return snapshot_path_for(file(), cache.path()); }
    QStringList load(catalogue_import_result* result = nullptr) {
        record_set rs;
        const auto r = load_catalogue(rs, program.path() + u'/', cache.path());
        if (result) *result = r;
        rs.finish_background_work(); // the snapshot is written meanwhile
        return names(rs);
    }
    QStringList parsed() const {
        record_set rs;
        import_catalogue_file(rs, file());
        return names(rs);
    }
    // Runs `change` once, right after the next load opened the file.
    void on_next_open(std::function<void()> change) {
        set_catalogue_open_hook([change = std::move(change)](const QString&) {
            set_catalogue_open_hook({});
            change();
        });
    }
    void TearDown() override { set_catalogue_open_hook({}); }
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

// Names and paths that a scan makes, and every way a stored value can differ from that:
// each comes back exactly from memory, from a saved and reloaded file and from a snapshot.
TEST_F(catalogue_loading, names_and_paths_not_made_by_a_scan_come_back_exactly) {
    using text = std::optional<QString>;
    struct row_t {
        const char* what;
        text withno, ext, name, path;
    };
    const QString mark(gb18030_name_mark);
    const QString digits = QString(260, u'1') + u"-名"_s;
    const row_t rows[] = {
        {"made by a scan", u"1002-歌名"_s, u".mp3"_s, u"歌名"_s, u"D:\\歌曲\\1002-歌名.mp3"_s},
        {"nothing cut", u"歌名"_s, u".mp3"_s, u"歌名"_s, u"D:/歌/歌名.mp3"_s},
        {"name not the end", u"1002-歌名"_s, u".mp3"_s, u"别名"_s, u"D:/歌/1002-歌名.mp3"_s},
        {"name longer", u"歌名"_s, u".mp3"_s, u"x歌名"_s, u"D:/歌/歌名.mp3"_s},
        {"cut too long for a byte", digits, u".mp3"_s, u"名"_s, u"D:/歌/"_s + digits + u".mp3"_s},
        {"path name other", u"歌名"_s, u".mp3"_s, u"歌名"_s, u"D:/歌/别的.mp3"_s},
        {"extension in capitals", u"DSC1"_s, u".jpg"_s, u"DSC1"_s, u"D:/相/DSC1.JPG"_s},
        {"extension mixed case", u"a"_s, u".mp3"_s, u"a"_s, u"D:/歌/a.Mp3"_s},
        {"native mark", u"名"_s, u".mp3"_s, u"名"_s,
         u"D:/"_s + mark + u"歌/"_s + mark + u"名.mp3"_s},
        {"native mark, capitals", u"名"_s, u".mp3"_s, u"名"_s, u"D:/"_s + mark + u"名.MP3"_s},
        {"two marks", u"名"_s, u".mp3"_s, u"名"_s, u"D:/"_s + mark + mark + u"名.mp3"_s},
        {"no folder", u"名"_s, u".mp3"_s, u"名"_s, u"名.mp3"_s},
        {"folder alone", u"名"_s, u".mp3"_s, u"名"_s, u"D:/歌/"_s},
        {"all empty", u""_s, u""_s, u""_s, u""_s},
        {"empty parts, folder", u""_s, u""_s, u""_s, u"D:/歌/"_s},
        {"no extension", u"名"_s, u""_s, u"名"_s, u"D:/歌/名"_s},
        {"null parts", std::nullopt, std::nullopt, u"名"_s, u"D:/歌/名.mp3"_s},
        {"null extension", u"名"_s, std::nullopt, u"名"_s, u"D:/歌/名"_s},
        {"null name and path", u"名"_s, u".mp3"_s, std::nullopt, std::nullopt},
    };
    // Parts first, as loads and scans store them, so that whatever can be made is.
    record_set written;
    for (const row_t& r : rows) {
        const long at = written.insertrow(0);
        const std::pair<int, const text&> columns[] = {{col_filenamewithno, r.withno},
                                                       {col_fileext, r.ext},
                                                       {col_filename, r.name},
                                                       {col_filepath, r.path}};
        for (const auto& [column, value] : columns)
            if (value) written.set_text(at, column, *value);
    }
    const auto expect_rows = [&](const auto& get, const char* where, bool nulls_kept) {
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            const row_t& r = rows[i];
            const std::pair<int, const text&> columns[] = {{col_filenamewithno, r.withno},
                                                           {col_fileext, r.ext},
                                                           {col_filename, r.name},
                                                           {col_filepath, r.path}};
            for (const auto& [column, value] : columns) {
                const text want = value || nulls_kept ? value : text(QString());
                EXPECT_EQ(get(static_cast<std::uint32_t>(i), column), want)
                    << where << ": " << r.what << ", column " << column;
            }
        }
    };
    expect_rows([&](std::uint32_t i, int c) { return written.get_text(i + 1, c); }, "memory", true);

    ASSERT_TRUE(save_catalogue_file(written, file()));
    record_set reloaded;
    import_catalogue_file(reloaded, file());
    expect_rows([&](std::uint32_t i, int c) { return reloaded.get_text(i + 1, c); }, "file", false);

    const auto identity = identify_catalogue_file(file());
    ASSERT_TRUE(identity);
    ASSERT_TRUE(
        save_catalogue_snapshot(snapshot(), written.storage(), {true, false, 1, 0}, *identity));
    record_storage from_snapshot;
    ASSERT_TRUE(read_catalogue_snapshot_bytes(read_all(snapshot()), *identity, from_snapshot));
    expect_rows([&](std::uint32_t i, int c) { return from_snapshot.get_text(i, c); }, "snapshot",
                true);

    // A filter reads the names and paths as stored.
    const auto count = [&](auto take) {
        return std::count_if(std::begin(rows), std::end(rows), take);
    };
    const auto ends = [](const text& t, const QString& end) { return t && t->endsWith(end); };
    const struct {
        QString filter;
        long rows;
    } filters[] = {
        {u"filename like '%名'"_s, count([&](const row_t& r) { return ends(r.name, u"名"_s); })},
        {u"filepath like '%.MP3' or filepath like '%.JPG'"_s,
         count([&](const row_t& r) { return ends(r.path, u".MP3"_s) || ends(r.path, u".JPG"_s); })},
    };
    for (const auto& f : filters) {
        written.setfilter(f.filter);
        written.filter();
        EXPECT_EQ(written.rowcount(), f.rows) << f.filter.toStdString();
    }
}

// A snapshot whose name is cut from a filenamewithno too short for it, or whose path name
// is made in a way there is none, is refused even when its own hash agrees.
TEST_F(catalogue_loading, a_snapshot_with_made_names_that_cannot_be_made_is_refused) {
    const auto snapshot_of = [&](const QString& name, const QString& path) {
        record_set rs;
        rs.insertrow(0);
        rs.set_text(1, col_filenamewithno, u"12-ab"_s);
        rs.set_text(1, col_fileext, u".mp3"_s);
        rs.set_text(1, col_filename, name);
        rs.set_text(1, col_filepath, path);
        EXPECT_TRUE(save_catalogue_snapshot(snapshot(), rs.storage(), {true, false, 1, 0}, {}));
        return read_all(snapshot());
    };
    const QByteArray good = snapshot_of(u"ab"_s, u"D:/12-ab.mp3"_s);
    const struct {
        const char* what;
        QByteArray other;
        char bad;
    } cases[] = {
        {"cut", snapshot_of(u"b"_s, u"D:/12-ab.mp3"_s), 6},
        {"path form", snapshot_of(u"ab"_s, u"D:/12-ab.MP3"_s), 8},
    };
    record_storage out;
    ASSERT_TRUE(read_catalogue_snapshot_bytes(good, {}, out));
    for (const auto& c : cases) {
        ASSERT_EQ(c.other.size(), good.size()) << c.what;
        qsizetype at = -1; // the one byte that differs past the header
        for (qsizetype i = 88; i < good.size(); ++i)
            if (good[i] != c.other[i]) at = i;
        ASSERT_GE(at, 0) << c.what;
        QByteArray bad = good;
        bad[at] = c.bad;
        EXPECT_FALSE(read_catalogue_snapshot_bytes(bad, {}, out, false)) << c.what;
        EXPECT_EQ(out.rows(), 0u) << c.what;
    }
}

// A file replaced or cut short between the open and the end of the load: the load reads the
// file it opened (or reports it could not), and no start after it shows what is gone.
TEST_F(catalogue_loading, a_file_changed_while_it_loads_leaves_no_snapshot_of_it) {
    const QByteArray a = utf16le(lines(u"甲"_s, 300), true);
    const QByteArray b = utf16le(lines(u"乙"_s, 300), true);
    ASSERT_EQ(a.size(), b.size());
    const std::filesystem::path path = file().toStdU16String();
    const QString other = program.filePath(u"other"_s);
    struct change {
        const char* what;
        std::function<void()> make;
        bool read_error;
    };
    const change changes[] = {
        {"replaced by a file of the same size and modification time",
         [&] {
             write_all_bytes(other, b);
             std::filesystem::last_write_time(other.toStdU16String(),
                                              std::filesystem::last_write_time(path));
             std::filesystem::rename(other.toStdU16String(), path);
         },
         false},
        {"cut short", [&] { std::filesystem::resize_file(path, 4096); }, true},
    };
    for (const change& c : changes) {
        for (const bool had_snapshot : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (had_snapshot ? ", with a snapshot" : ""));
            QFile::remove(snapshot());
            write_all_bytes(file(), a);
            if (had_snapshot) {
                load();
                ASSERT_TRUE(QFileInfo::exists(snapshot()));
            }
            on_next_open(c.make);
            catalogue_import_result first;
            const QStringList loaded = load(&first);
            EXPECT_EQ(first.read_error, c.read_error);
            if (!c.read_error) {
                EXPECT_EQ(loaded.size(), 300);
                EXPECT_TRUE(loaded.front().startsWith(u"甲"_s));
            }
            const QStringList now = parsed();
            EXPECT_EQ(load(), now);
            EXPECT_EQ(load(), now) << "from the snapshot made since";
        }
    }
    // Read in parts, too.
    for (const unsigned threads : {1u, 3u}) {
        write_all_bytes(file(), a);
        on_next_open([&] { std::filesystem::resize_file(path, 4096); });
        record_set rs;
        EXPECT_TRUE(import_catalogue_file(rs, file(), 2, threads).read_error) << threads;
    }
}

// Counts in a snapshot that the bytes after them cannot hold are refused before any room is
// made for them, also where the column checks stand behind the payload's hash.
TEST_F(catalogue_loading, counts_beyond_what_the_snapshot_holds_make_no_room) {
    record_set one;
    one.insertrow(0);
    one.set_text(1, col_fileext, u".qz9"_s);
    ASSERT_TRUE(save_catalogue_snapshot(snapshot(), one.storage(), {true, false, 1, 0}, {}));
    const QByteArray good = read_all(snapshot());
    // The extension dictionary: its count, the text's length, then the text.
    const QByteArray ext = utf16le(u".qz9"_s);
    const qsizetype ext_count = good.indexOf(ext) - 4 - 8;
    ASSERT_GT(ext_count, 88);
    // Room for the bytes read and a part of them more, not for what the counts claim.
    const QByteArray padding(64 << 20, '\0');
    const std::uint64_t room = padding.size() * std::uint64_t{3};
    const struct {
        const char* what;
        qsizetype at;
        std::uint64_t count;
    } claims[] = {
        {"rows", 88, std::uint64_t{1} << 40},
        {"rows the bytes could number", 88, static_cast<std::uint64_t>(padding.size() / 2)},
        {"dictionary texts", ext_count, static_cast<std::uint64_t>(padding.size() / 4)},
    };
    for (const auto& c : claims) {
        QByteArray bytes = good + padding;
        std::memcpy(bytes.data() + c.at, &c.count, 8);
        record_storage out;
        std::optional<catalogue_import_result> read;
        const bool limited = with_address_space_room(room, [&] {
            try {
                read = read_catalogue_snapshot_bytes(bytes, {}, out, false);
            } catch (const std::bad_alloc&) {
                ADD_FAILURE() << c.what << ": room made for the claim";
            }
        });
        if (!limited) GTEST_SKIP() << "no address space limit under the address sanitizer";
        EXPECT_FALSE(read) << c.what;
        EXPECT_EQ(out.rows(), 0u) << c.what;
    }
}

// Memory running out at start, reading the snapshot or parsing the file: an empty catalogue,
// a message, and no snapshot left to meet again; the file is kept for the next start.
TEST_F(catalogue_loading, running_out_of_memory_leaves_an_empty_catalogue_and_says_so) {
    // Names long enough that a column of them is one of the big ones.
    write_all_bytes(file(), utf16le(lines(QString(150, u'歌'), 20000), true));
    const QByteArray bytes = read_all(file());
    for (const bool had_snapshot : {true, false}) {
        if (had_snapshot) {
            EXPECT_EQ(load().size(), 20000);
            ASSERT_TRUE(QFileInfo::exists(snapshot()));
        }
        record_set rs;
        catalogue_import_result result;
        const bool limited = with_address_space_room(
            1 << 20, [&] { result = load_catalogue(rs, program.path() + u'/', cache.path()); });
        if (!limited) GTEST_SKIP() << "no address space limit under the address sanitizer";
        EXPECT_TRUE(result.out_of_memory) << had_snapshot;
        EXPECT_EQ(rs.rowcount(), 0) << had_snapshot;
        EXPECT_FALSE(load_failure_message(result).isEmpty()) << had_snapshot;
        rs.finish_background_work();
        EXPECT_FALSE(QFileInfo::exists(snapshot())) << had_snapshot;
        EXPECT_EQ(read_all(file()), bytes);
    }
    EXPECT_EQ(load().size(), 20000);
}

} // namespace
