#include "retrieval/core/gf_copyfile_block.h"

#include "retrieval/core/copy_progress.h"

#include "tests/support/loop_card.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStorageInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 mib5 = 5'242'880;

// Keeps what the copy told its window, in order: "pump" for each chance to process events,
// the text for each progress line, and "write" for each block written through `writes()`.
class recording_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString& message) override {
        events << message;
        messages << message;
    }
    bool ib_stop() const override { return stop_at_pump >= 0 && pumps >= stop_at_pump; }
    void process_events() override {
        events << u"pump"_s;
        ++pumps;
        if (on_pump) on_pump(pumps);
    }

    copy_options writes() {
        copy_options options;
        options.writer = [this](const native_file& target, std::span<const char> block) {
            events << u"write"_s;
            writes_after_stop += ib_stop();
            return target.write_all(block);
        };
        return options;
    }

    QStringList events;
    QStringList messages;
    int pumps = 0;
    int writes_after_stop = 0;
    int stop_at_pump = -1; // stop is pressed at this pump
    std::function<void(int pump)> on_pump;
};

// Bytes that differ from block to block, so a block written twice or out of place shows.
QByteArray pattern(qint64 size, char seed = 0) {
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<quint8>(seed);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}

// The window is served before the first block, between any two and after the last.
bool served_between_blocks(const QStringList& events) {
    QStringView last = u"pump";
    for (const QString& e : events) {
        if (e == u"write" && last == u"write") return false;
        if (e == u"write" || e == u"pump") last = e;
    }
    return last == u"pump";
}

class copy_test : public testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    // Every entry of the folder, hidden ones too: a copy leaves nothing of its own behind.
    QStringList entries() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    }

    QTemporaryDir dir;
    recording_feedback feedback;
};

struct size_case {
    const char* label;
    qint64 size;
    QStringList lines;
};

TEST_F(copy_test, copies_byte_for_byte_with_one_line_per_block) {
    const size_case cases[] = {
        {"empty", 0, {}},
        {"one byte", 1, {u"下载: 七里香.mp3 :0KB/100%"_s}},
        {"one block", mib5, {u"下载: 七里香.mp3 :5120KB/100%"_s}},
        {"one block and a byte",
         mib5 + 1,
         {u"下载: 七里香.mp3 :5120KB/100%"_s, u"下载: 七里香.mp3 :5120KB/100%"_s}},
        {"two blocks and 17 bytes",
         2 * mib5 + 17,
         {u"下载: 七里香.mp3 :5120KB/50%"_s, u"下载: 七里香.mp3 :10240KB/100%"_s,
          u"下载: 七里香.mp3 :10240KB/100%"_s}},
        {"four blocks",
         4 * mib5,
         {u"下载: 七里香.mp3 :5120KB/25%"_s, u"下载: 七里香.mp3 :10240KB/50%"_s,
          u"下载: 七里香.mp3 :15360KB/75%"_s, u"下载: 七里香.mp3 :20480KB/100%"_s}},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.label);
        recording_feedback fb;
        const QByteArray content = pattern(c.size, 1);
        write_all_bytes(path(u"src.bin"_s), content);
        const QString to = path(u"七里香.mp3"_s);

        ASSERT_EQ(copy_file_block(path(u"src.bin"_s), to, true, fb, fb.writes()),
                  copy_failure::none);
        EXPECT_TRUE(QFileInfo::exists(to));
        EXPECT_TRUE(read_all_bytes(to) == content);
        EXPECT_EQ(fb.messages, c.lines);
        EXPECT_EQ(fb.events.count(u"write"_s), (c.size + mib5 - 1) / mib5);
        EXPECT_TRUE(served_between_blocks(fb.events)) << fb.events.join(u' ').toStdString();
    }
}

TEST_F(copy_test, without_showmsg_sends_no_line_but_still_processes_events) {
    const QByteArray content = pattern(2 * mib5 + 3);
    write_all_bytes(path(u"a"_s), content);
    ASSERT_EQ(copy_file_block(path(u"a"_s), path(u"b"_s), false, feedback, feedback.writes()),
              copy_failure::none);
    EXPECT_TRUE(read_all_bytes(path(u"b"_s)) == content);
    EXPECT_TRUE(feedback.messages.isEmpty());
    EXPECT_TRUE(served_between_blocks(feedback.events));
}

TEST(copy_display_name, counts_characters_of_the_file_name_only) {
    const struct {
        QString to;
        QString shown;
    } cases[] = {
        {u"/d/example.mp3"_s, u"example.mp3"_s},
        {u"no_folder_but_long.mp3"_s, u"_but_long.mp3"_s},
        {u"/d/中文长文件名测试一下下载功能.flac"_s, u"测试一下下载功能.flac"_s},
        {u"/很长的文件夹名字很长的文件夹名字/a.mp3"_s, u"a.mp3"_s},
        {u"/d/"_s, u""_s},
        // A character outside the basic plane counts once and is never cut in half.
        {u"/d/"_s + u"\U0001F3B5"_s.repeated(11) + u".mp3"_s,
         u"\U0001F3B5"_s.repeated(9) + u".mp3"_s},
        {u"/d/x\U0001F3B5abcdefghijkl"_s, u"\U0001F3B5abcdefghijkl"_s},
    };
    for (const auto& c : cases) EXPECT_EQ(copy_display_name(c.to), c.shown) << c.to.toStdString();
}

TEST(copy_progress_text, kilobytes_drop_the_fraction_and_percent_rounds_half_up) {
    const struct {
        qint64 copied;
        qint64 total;
        const char16_t* text;
    } cases[] = {
        {5'242'880, 20'971'520, u"下载: a :5120KB/25%"},
        {5'242'880, 5'242'881, u"下载: a :5120KB/100%"},
        {1023, 1023, u"下载: a :0KB/100%"},
        {2047, 4000, u"下载: a :1KB/51%"},
        {1, 200, u"下载: a :0KB/1%"},     // exactly one half: up
        {1, 201, u"下载: a :0KB/0%"},     // just under one half: down
        {199, 200, u"下载: a :0KB/100%"}, // 99.5
        {2'254'438'400, 4'831'838'208, u"下载: a :2201600KB/47%"},
        {4'831'838'208, 4'831'838'208, u"下载: a :4718592KB/100%"},
        {std::int64_t{1} << 61, std::int64_t{1} << 62, u"下载: a :2251799813685248KB/50%"},
        {(std::int64_t{1} << 62) - 1, std::int64_t{1} << 62, u"下载: a :4503599627370495KB/100%"},
        // A source that grew during the copy goes past 100.
        {300, 200, u"下载: a :0KB/150%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(copy_progress_text(u"a"_s, c.copied, c.total), QString::fromUtf16(c.text))
            << c.copied << "/" << c.total;
}

TEST_F(copy_test, longer_old_target_is_replaced_not_appended_to) {
    write_all_bytes(path(u"old.mp3"_s), QByteArray(3 * mib5, 'o'));
    const QByteArray content = pattern(1000);
    write_all_bytes(path(u"src"_s), content);
    ASSERT_TRUE(gf_copyfile_block(path(u"src"_s), path(u"old.mp3"_s), true, feedback));
    EXPECT_TRUE(read_all_bytes(path(u"old.mp3"_s)) == content);
}

TEST_F(copy_test, link_at_target_is_replaced_and_what_it_points_to_kept) {
    const QByteArray elsewhere = "keep me";
    write_all_bytes(path(u"elsewhere"_s), elsewhere);
    ASSERT_TRUE(QFile::link(path(u"elsewhere"_s), path(u"t.mp3"_s)));
    write_all_bytes(path(u"src"_s), "new content");

    ASSERT_TRUE(gf_copyfile_block(path(u"src"_s), path(u"t.mp3"_s), true, feedback));
    EXPECT_FALSE(QFileInfo(path(u"t.mp3"_s)).isSymLink());
    EXPECT_EQ(read_all_bytes(path(u"t.mp3"_s)), QByteArray("new content"));
    EXPECT_EQ(read_all_bytes(path(u"elsewhere"_s)), elsewhere);
}

TEST_F(copy_test, copy_onto_the_same_file_fails_and_keeps_it) {
    const QByteArray content = pattern(mib5 + 99);
    write_all_bytes(path(u"sub/song.mp3"_s), content);
    const QString song = path(u"sub/song.mp3"_s);
    ASSERT_TRUE(QFile::link(song, path(u"link_to_song.mp3"_s)));
    ASSERT_EQ(::link(QFile::encodeName(song).constData(),
                     QFile::encodeName(path(u"hard.mp3"_s)).constData()),
              0);
    const struct {
        const char* label;
        QString from;
        QString to;
    } cases[] = {
        {"same path", song, song},
        {"same file by another spelling", song, path(u"sub/../sub/./song.mp3"_s)},
        {"target is a link to the source", song, path(u"link_to_song.mp3"_s)},
        {"source is a link to the target", path(u"link_to_song.mp3"_s), song},
        {"target is a hard link of the source", song, path(u"hard.mp3"_s)},
        {"source is a hard link of the target", path(u"hard.mp3"_s), song},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        recording_feedback fb;
        EXPECT_FALSE(gf_copyfile_block(c.from, c.to, true, fb));
        EXPECT_TRUE(read_all_bytes(song) == content);
        EXPECT_TRUE(read_all_bytes(path(u"hard.mp3"_s)) == content);
        EXPECT_TRUE(QFileInfo(path(u"link_to_song.mp3"_s)).isSymLink());
        EXPECT_TRUE(fb.messages.isEmpty());
    }
}

TEST_F(copy_test, unusable_source_fails_and_leaves_the_target_alone) {
    QDir(dir.path()).mkdir(u"a_folder"_s);
    ASSERT_TRUE(QFile::link(path(u"gone"_s), path(u"dangling"_s)));
    const struct {
        const char* label;
        QString from;
    } cases[] = {
        {"missing", path(u"missing.mp3"_s)},
        {"a folder", path(u"a_folder"_s)},
        {"a dangling link", path(u"dangling"_s)},
        {"a device", u"/dev/zero"_s},
        {"empty name", QString()},
        {"a NUL in the name", path(u"a_folder"_s) + QChar(u'\0') + u"x"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        recording_feedback fb;
        EXPECT_FALSE(gf_copyfile_block(c.from, path(u"new.mp3"_s), true, fb));
        EXPECT_FALSE(QFileInfo::exists(path(u"new.mp3"_s)));

        write_all_bytes(path(u"old.mp3"_s), "old");
        EXPECT_FALSE(gf_copyfile_block(c.from, path(u"old.mp3"_s), true, fb));
        EXPECT_EQ(read_all_bytes(path(u"old.mp3"_s)), QByteArray("old"));
        EXPECT_TRUE(fb.events.isEmpty());
    }
}

TEST_F(copy_test, read_error_fails_and_keeps_the_old_target) {
    // The process's own memory reads as a regular file whose first page is unmapped: the
    // read fails with an I/O error, as a bad sector on a card would. Taken as the end of the
    // file, it would leave an empty target that passes for a whole copy.
    const QString unreadable = u"/proc/self/mem"_s;
    if (!QFileInfo(unreadable).isFile()) GTEST_SKIP() << "no /proc here";
    write_all_bytes(path(u"old.mp3"_s), "old");
    EXPECT_FALSE(gf_copyfile_block(unreadable, path(u"old.mp3"_s), true, feedback));
    EXPECT_EQ(read_all_bytes(path(u"old.mp3"_s)), QByteArray("old"));
    EXPECT_EQ(entries(), QStringList{u"old.mp3"_s});
    EXPECT_TRUE(feedback.messages.isEmpty());
}

TEST_F(copy_test, target_that_cannot_be_opened_fails) {
    write_all_bytes(path(u"src"_s), "abc");
    QDir(dir.path()).mkdir(u"a_folder"_s);
    EXPECT_FALSE(
        gf_copyfile_block(path(u"src"_s), path(u"no_such_folder/t.mp3"_s), true, feedback));
    EXPECT_FALSE(QFileInfo::exists(path(u"no_such_folder"_s)));
    EXPECT_FALSE(gf_copyfile_block(path(u"src"_s), path(u"a_folder"_s), true, feedback));
    EXPECT_TRUE(QFileInfo(path(u"a_folder"_s)).isDir());
    EXPECT_TRUE(feedback.messages.isEmpty());
}

TEST_F(copy_test, failed_write_keeps_the_old_target_and_leaves_nothing_else) {
    const QByteArray content = pattern(3 * mib5);
    write_all_bytes(path(u"src"_s), content);
    const struct {
        const char* label;
        qint64 room;       // bytes the simulated card takes in all
        bool error_at_end; // when full, the write reports an error instead of a short count
        QStringList lines;
    } cases[] = {
        // A line counts a block once the next one is written and it reached the device.
        {"short first block", mib5 / 2, false, {}},
        {"full after one block", mib5, false, {}},
        {"short second block", mib5 + 7, false, {}},
        {"error on the third block", 2 * mib5, true, {u"下载: t.mp3 :5120KB/33%"_s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        write_all_bytes(path(u"t.mp3"_s), "the user's own");
        recording_feedback fb;
        qint64 room = c.room;
        const copy_block_writer card = [&](const native_file& target, std::span<const char> block) {
            fb.events << u"write"_s;
            const qint64 take = std::min<qint64>(room, static_cast<qint64>(block.size()));
            if (take == 0 && c.error_at_end) return std::int64_t{-1};
            room -= take;
            return target.write_all(block.first(static_cast<std::size_t>(take)));
        };
        copy_options options;
        options.writer = card;
        EXPECT_EQ(copy_file_block(path(u"src"_s), path(u"t.mp3"_s), true, fb, options),
                  c.error_at_end ? copy_failure::write_failed : copy_failure::card_full);
        EXPECT_EQ(read_all_bytes(path(u"t.mp3"_s)), QByteArray("the user's own"));
        EXPECT_EQ(entries(), (QStringList{u"src"_s, u"t.mp3"_s}));
        EXPECT_TRUE(read_all_bytes(path(u"src"_s)) == content);
        EXPECT_EQ(fb.messages, c.lines);
        EXPECT_TRUE(served_between_blocks(fb.events));
    }
}

// A real file system that fills up: a small memory file system mounted for the test.
class full_disk_test : public copy_test {
  protected:
    void SetUp() override {
        mount_point = path(u"card"_s);
        QDir().mkpath(mount_point);
        const int rc = QProcess::execute(
            u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=3m"_s, u"tmpfs"_s, mount_point});
        if (rc != 0) GTEST_SKIP() << "cannot mount a small file system here";
        mounted = true;
    }
    void TearDown() override {
        if (mounted) QProcess::execute(u"umount"_s, {mount_point});
    }

    QString mount_point;
    bool mounted = false;
};

TEST_F(full_disk_test, copy_that_does_not_fit_fails_and_leaves_no_partial_file) {
    const QByteArray small = pattern(1'000'000);
    write_all_bytes(path(u"small"_s), small);
    const QString fits = mount_point + u"/小文件.mp3"_s;
    ASSERT_TRUE(gf_copyfile_block(path(u"small"_s), fits, true, feedback));
    EXPECT_TRUE(read_all_bytes(fits) == small);

    for (const qint64 size : {qint64{4'000'000}, mib5 + 1}) {
        SCOPED_TRACE(size);
        write_all_bytes(path(u"big"_s), pattern(size));
        const QString big = mount_point + u"/大文件.mp3"_s;
        EXPECT_FALSE(gf_copyfile_block(path(u"big"_s), big, true, feedback));
        EXPECT_FALSE(QFileInfo::exists(big));
        EXPECT_TRUE(read_all_bytes(fits) == small);
    }
}

// A file past 4 GiB, sparse so the test stays cheap to set up: sizes and positions must not
// wrap at 2 GiB or 4 GiB.
TEST_F(copy_test, file_over_four_gib_is_copied_exactly) {
    constexpr qint64 size = 4'831'838'208 + 12'345; // 4.5 GiB and a bit
    if (QStorageInfo(dir.path()).bytesAvailable() < 3 * size)
        GTEST_SKIP() << "not enough free space";
    const QString from = path(u"big.bin"_s);
    const qint64 marks[] = {
        0, mib5 - 1, mib5, 2'147'483'647, 2'147'483'648, 4'294'967'295, 4'294'967'296, size - 1};
    {
        QFile f(from);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        if (!f.resize(size)) GTEST_SKIP() << "file system refuses a sparse file this large";
        for (const qint64 at : marks) {
            ASSERT_TRUE(f.seek(at));
            ASSERT_EQ(f.write(QByteArray(1, static_cast<char>('A' + (at % 23)))), 1);
        }
    }
    const QString to = path(u"测试用的超过四GB的大文件.iso"_s);
    ASSERT_TRUE(gf_copyfile_block(from, to, true, feedback));

    EXPECT_EQ(QFileInfo(to).size(), size);
    QFile f(to);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    for (const qint64 at : marks) {
        ASSERT_TRUE(f.seek(at));
        EXPECT_EQ(f.read(1), QByteArray(1, static_cast<char>('A' + (at % 23)))) << at;
    }
    for (const qint64 at : {qint64{4096}, qint64{3'000'000'000}, size - 2}) {
        ASSERT_TRUE(f.seek(at));
        EXPECT_EQ(f.read(1), QByteArray(1, '\0')) << at;
    }

    ASSERT_EQ(feedback.messages.size(), 922);
    EXPECT_EQ(feedback.messages[0], u"下载: 超过四GB的大文件.iso :5120KB/0%"_s);
    EXPECT_EQ(feedback.messages.last(), u"下载: 超过四GB的大文件.iso :4718604KB/100%"_s);
}

TEST_F(copy_test, stop_ends_the_copy_after_the_current_block_and_removes_it) {
    write_all_bytes(path(u"src"_s), pattern(3 * mib5));
    for (const bool old : {false, true})
        for (const int stop_at : {1, 2, 5}) { // during the first block, after it, in the second
            SCOPED_TRACE(stop_at);
            if (old) write_all_bytes(path(u"t.mp3"_s), "old");
            recording_feedback fb;
            fb.stop_at_pump = stop_at;
            EXPECT_EQ(copy_file_block(path(u"src"_s), path(u"t.mp3"_s), true, fb, fb.writes()),
                      copy_failure::stopped);
            const QStringList left =
                old ? QStringList{u"src"_s, u"t.mp3"_s} : QStringList{u"src"_s};
            EXPECT_EQ(entries(), left);
            if (old) {
                EXPECT_EQ(read_all_bytes(path(u"t.mp3"_s)), QByteArray("old"));
            }
            EXPECT_LE(fb.writes_after_stop, 1); // no block after the one in hand
        }
}

// FAT32 and exFAT cannot be mounted on this kernel: their limits stand in through the seam.
// Refused copies are refused before anything is written, so an old target stays.
TEST_F(copy_test, card_limits_refuse_before_writing) {
    const card_limits fat = limits_for_type("vfat");
    const card_limits exfat = limits_for_type("exfat");
    const QString big = path(u"big.iso"_s);
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        if (!f.resize(qint64{1} << 32)) GTEST_SKIP() << "no sparse 4 GiB file here";
    }
    write_all_bytes(path(u"small"_s), "small");
    const struct {
        const char* label;
        card_limits limits;
        QString from;
        QString name;
        copy_failure result;
    } cases[] = {
        {"4 GiB onto FAT32", fat, big, u"film.iso"_s, copy_failure::too_large},
        {"question mark on exFAT", exfat, path(u"small"_s), u"what?.mp3"_s,
         copy_failure::name_refused},
        {"colon on FAT32", fat, path(u"small"_s), u"a:b.mp3"_s, copy_failure::name_refused},
        {"control character on exFAT", exfat, path(u"small"_s), u"a\x01b.mp3"_s,
         copy_failure::name_refused},
        {"quote on FAT32", fat, path(u"small"_s), u"say \"hi\".mp3"_s, copy_failure::name_refused},
        {"plain name on FAT32", fat, path(u"small"_s), u"歌 曲(1).mp3"_s, copy_failure::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString to = path(c.name);
        write_all_bytes(to, "old");
        copy_options options;
        options.limits = c.limits;
        EXPECT_EQ(copy_file_block(c.from, to, true, feedback, options), c.result);
        EXPECT_EQ(read_all_bytes(to), c.result == copy_failure::none ? "small" : "old");
    }
    EXPECT_TRUE(size_allowed(fat, (qint64{1} << 32) - 1));
    EXPECT_TRUE(size_allowed(exfat, qint64{1} << 40));
    EXPECT_TRUE(name_allowed(limits_for_type("ext4"), u"a:b?.mp3"));
    // 255 characters on FAT and exFAT, 255 bytes elsewhere: 86 ideographs are 258.
    EXPECT_TRUE(name_fits(fat, u"长"_s.repeated(255)));
    EXPECT_FALSE(name_fits(exfat, u"a"_s.repeated(256)));
    EXPECT_TRUE(name_fits(limits_for_type("ext4"), u"长"_s.repeated(85)));
    EXPECT_FALSE(name_fits(limits_for_type("ext4"), u"长"_s.repeated(86)));
}

TEST(card_file_system, mount_table_lines_and_boot_sectors) {
    const auto e = parse_mountinfo_line(
        "45 27 7:3 / /media/u/my\\040card rw,nosuid shared:1 - fuseblk /dev/loop3 rw,user_id=0");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->major, 7u);
    EXPECT_EQ(e->minor, 3u);
    EXPECT_EQ(e->mount_point, "/media/u/my card");
    EXPECT_EQ(e->fs_type, "fuseblk");
    EXPECT_EQ(e->source, "/dev/loop3");
    for (const char* bad : {"", "45 27 7:3 / /m rw", "45 27 x:3 / /m rw - ext4 /dev/a rw",
                            "45 27 7:3 / /m rw - ext4"})
        EXPECT_FALSE(parse_mountinfo_line(bad)) << bad;

    std::vector<unsigned char> sector(512, 0);
    EXPECT_EQ(boot_sector_type(sector), "");
    std::memcpy(sector.data() + 3, "EXFAT   ", 8);
    EXPECT_EQ(boot_sector_type(sector), "exfat");
    std::memcpy(sector.data() + 3, "MSDOS5.0", 8);
    std::memcpy(sector.data() + 82, "FAT32   ", 8);
    EXPECT_EQ(boot_sector_type(sector), ""); // no boot signature
    sector[510] = 0x55;
    sector[511] = 0xAA;
    EXPECT_EQ(boot_sector_type(sector), "vfat");
    EXPECT_EQ(boot_sector_type(std::span(sector).first(100)), "");
}

// On a card behind a direct-I/O loop device, the image taken the moment a copy returns is
// what a card pulled then holds: every copied file must be there whole, the file system
// clean, and each progress line's bytes already in the image.
class card_copy_test : public copy_test, public testing::WithParamInterface<card_format> {};

TEST_P(card_copy_test, copies_are_on_the_card_when_the_call_returns) {
    if (const QString why = loop_card::unavailable(GetParam()); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(GetParam());
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    {
        const int fd = ::open(QFile::encodeName(card.mount_point()).constData(), O_RDONLY);
        EXPECT_EQ(limits_of_folder(fd).kind,
                  GetParam() == card_format::exfat ? card_kind::exfat : card_kind::other);
        ::close(fd);
    }

    std::vector<std::pair<QString, QString>> copied;
    for (const qint64 size : {qint64{0}, qint64{1}, 3 * mib5 + 4097}) {
        SCOPED_TRACE(size);
        const QString name = u"歌曲"_s + QString::number(size) + u".mp3"_s;
        const QString from = path(name);
        const QByteArray content = pattern(size, static_cast<char>(size % 7));
        write_all_bytes(from, content);
        recording_feedback fb;
        // At each line, the bytes it counts must already be in the image, in 1 KiB pieces
        // (the smallest block of either file system).
        QStringList missing;
        fb.on_pump = [&](int) {
            if (fb.messages.isEmpty()) return;
            const qint64 counted =
                fb.messages.last().section(u':', -1).section(u"KB"_s, 0, 0).trimmed().toLongLong() *
                1024;
            fb.messages.clear();
            QSet<QByteArray> pieces;
            const QByteArray image = read_all_bytes(card.image_path());
            for (qint64 at = 0; at + 1024 <= image.size(); at += 1024)
                pieces.insert(image.mid(at, 1024));
            for (qint64 at = 0; at + 1024 <= counted; at += 1024)
                if (!pieces.contains(content.mid(at, 1024))) {
                    missing << QString::number(at);
                    break;
                }
        };
        ASSERT_TRUE(gf_copyfile_block(from, card.path(name), true, fb));
        copied.emplace_back(name, from);
        const loop_card::snapshot shot = card.check_snapshot(copied);
        EXPECT_TRUE(shot.fsck_clean) << shot.fsck_output.toStdString();
        EXPECT_TRUE(shot.bad.isEmpty()) << shot.bad.join(u", "_s).toStdString();
        EXPECT_TRUE(missing.isEmpty())
            << "not on the card at its line: " << missing.join(u", "_s).toStdString();
    }
}

// The card unmounted under a running copy (open files stay usable, the path shows the empty
// mount point): the copy fails as removed, and the card holds no partial file.
TEST_P(card_copy_test, card_removed_during_the_copy) {
    if (const QString why = loop_card::unavailable(GetParam()); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(GetParam());
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    write_all_bytes(path(u"src"_s), pattern(4 * mib5));
    feedback.on_pump = [&](int pump) {
        if (pump == 4) card.unmount(true);
    };
    EXPECT_EQ(copy_file_block(path(u"src"_s), card.path(u"t.mp3"_s), true, feedback),
              copy_failure::card_removed);
    EXPECT_FALSE(QFileInfo::exists(card.path(u"t.mp3"_s)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.mount(); }, 5000));
    EXPECT_TRUE(QDir(card.mount_point()).entryList(QDir::Files).isEmpty());
}

// A download that replaces a file on the card: stopped, failed or pulled, the card still holds
// the old file and nothing else; completed, the new one whole. A name at the card's length
// limit leaves no less room for the copy's own working name.
TEST_P(card_copy_test, the_old_file_stays_until_the_new_one_is_whole) {
    if (const QString why = loop_card::unavailable(GetParam()); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(GetParam());
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    // 253 bytes on ext4, 87 characters on exFAT: at most 255 of either fit.
    const QString name = u"月"_s.repeated(83) + u".mp3"_s;
    const QByteArray old = pattern(mib5 + 3, 5);
    write_all_bytes(path(u"old"_s), old);
    write_all_bytes(path(u"new"_s), pattern(3 * mib5 + 1, 6));
    enum class ending { stopped, write_failed, pulled, completed };
    for (const ending how :
         {ending::stopped, ending::write_failed, ending::pulled, ending::completed}) {
        SCOPED_TRACE(static_cast<int>(how));
        ASSERT_TRUE(gf_copyfile_block(path(u"old"_s), card.path(name), false, feedback));
        recording_feedback fb;
        if (how == ending::stopped) fb.stop_at_pump = 4; // in the second block
        if (how == ending::pulled)
            fb.on_pump = [&](int pump) {
                if (pump == 4) card.unmount(true);
            };
        copy_options options;
        if (how == ending::write_failed)
            options.writer = [blocks = 0](const native_file& target,
                                          std::span<const char> block) mutable {
                return ++blocks == 2 ? std::int64_t{-1} : target.write_all(block);
            };
        const copy_failure result =
            copy_file_block(path(u"new"_s), card.path(name), true, fb, options);
        if (how == ending::pulled) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return card.mount(); }, 5000));
        }
        const bool done = how == ending::completed;
        EXPECT_EQ(result, done                     ? copy_failure::none
                          : how == ending::stopped ? copy_failure::stopped
                          : how == ending::pulled  ? copy_failure::card_removed
                                                   : copy_failure::write_failed);
        EXPECT_EQ(QDir(card.mount_point())
                      .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                  QStringList{name});
        const loop_card::snapshot shot =
            card.check_snapshot({{name, path(done ? u"new"_s : u"old"_s)}});
        EXPECT_TRUE(shot.fsck_clean) << shot.fsck_output.toStdString();
        EXPECT_TRUE(shot.bad.isEmpty()) << "the card does not hold the expected file";
    }
}

INSTANTIATE_TEST_SUITE_P(cards, card_copy_test,
                         testing::Values(card_format::ext4, card_format::exfat),
                         [](const auto& info) {
                             return info.param == card_format::ext4 ? "ext4" : "exfat";
                         });

} // namespace
