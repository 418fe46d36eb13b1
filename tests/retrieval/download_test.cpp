#include "retrieval/core/download_controller.h"

#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "retrieval/core/card_space.h"
#include "retrieval/ui/desktop_opener.h"
#include "tests/support/loop_card.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QString missing_text = u"提示 | 源文件不存在!检查是否接上了磁盘\n或者考虑需要重新扫描!"_s;

// Logs what the copies tell the wait window; `on_pump` and `on_line` let a test act while a
// copy runs.
class test_feedback final : public operation_feedback {
  public:
    explicit test_feedback(QStringList& log) : log_(log) {}
    void of_setmessage(const QString& message) override {
        log_ << message;
        if (on_line) on_line(message);
    }
    bool ib_stop() const override { return stop; }
    void process_events() override {
        if (on_pump) on_pump();
    }
    std::function<void()> on_pump;
    std::function<void(const QString& line)> on_line;
    bool stop = false;

  private:
    QStringList& log_;
};

class download_test : public testing::Test {
  protected:
    download_test()
        : feedback(log),
          downloads(
              default_folder(),
              {
                  .message = [](const QString& title,
                                const QString& text) { prompts().message(nullptr, title, text); },
                  .choose_folder =
                      [](const QString& caption) {
                          return prompts().choose_folder(nullptr, caption);
                      },
                  .open_folder = [](const QString& folder) { desktop().open_folder(folder); },
                  .open_wait = [this] { log << u"open_wait"_s; },
                  .close_wait = [this] { log << u"close_wait"_s; },
                  .set_custdir_enabled =
                      [this](bool on) { log << (on ? u"custdir on"_s : u"custdir off"_s); },
                  .post_down_qty = [this] { log << u"post"_s; },
                  .show_next_folder =
                      [this](const QString& folder, const QString& space) {
                          shown_folder = folder;
                          shown_space = space;
                      },
              },
              feedback) {
        downloads.ue_create_dir();
    }

    QString default_folder() const { return dir.path() + u"/青石坊文件搜索器/"_s; }
    QString path(const QString& name) const { return dir.filePath(name); }

    // Adds a row whose source lies at src/<folder>/<name><ext> and holds `content`.
    void add_row(record_set& rows, const QString& folder, const QString& name, const QString& ext,
                 const QByteArray& content, bool create = true) {
        const QString source = path(u"src/"_s + folder + u'/' + name + ext);
        if (create) write_all_bytes(source, content);
        const long r = rows.insertrow(0);
        rows.set_text(r, col_filename, name);
        rows.set_text(r, col_fileext, ext);
        rows.set_text(r, col_filepath, source);
    }
    void add_row(const QString& name, const QByteArray& content, bool create = true) {
        add_row(rows, u"a"_s, name, u".mp3"_s, content, create);
    }
    QStringList names_in(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QStringList copy_lines() const { return log.filter(u"下载: "_s); }

    QTemporaryDir dir;
    QStringList log;
    test_feedback feedback;
    recording_prompts answers;
    recording_desktop opened;
    record_set rows;
    QString shown_folder;
    QString shown_space;
    download_controller downloads;
};

TEST_F(download_test, one_row_lands_in_default_folder_under_name_and_extension) {
    add_row(rows, u"歌曲"_s, u"月亮代表我的心"_s, u".mp3"_s, "tune");
    EXPECT_EQ(downloads.download_row(rows, 1), 1);
    EXPECT_EQ(read_all_bytes(default_folder() + u"月亮代表我的心.mp3"_s), "tune");
    EXPECT_EQ(log,
              (QStringList{u"custdir off"_s, u"open_wait"_s,
                           u"下载: 月亮代表我的心.mp3 :0KB/100%"_s, u"post"_s, u"close_wait"_s}));
    EXPECT_EQ(downloads.il_down_qty(), 1);
    EXPECT_EQ(downloads.ue_down_qty(), u"[1]"_s);
    EXPECT_TRUE(answers.messages.isEmpty());
}

TEST_F(download_test, missing_source_is_told_and_nothing_is_copied_or_counted) {
    add_row(u"gone"_s, {}, false);
    EXPECT_EQ(downloads.download_row(rows, 1), -1);
    EXPECT_EQ(answers.messages, QStringList{missing_text});
    EXPECT_TRUE(log.isEmpty()); // no wait window, no count
    EXPECT_EQ(downloads.il_down_qty(), 0);
    // A folder where the file was is no file either; neither is a row past the end.
    QDir().mkpath(path(u"src/a/gone.mp3"_s));
    EXPECT_EQ(downloads.download_row(rows, 1), -1);
    EXPECT_EQ(downloads.download_row(rows, 7), -1);
    EXPECT_EQ(answers.messages.size(), 3);
    EXPECT_TRUE(names_in(default_folder()).isEmpty());
}

TEST_F(download_test, download_all_stops_at_the_missing_third_source) {
    add_row(u"one"_s, "1");
    add_row(u"two"_s, "2");
    add_row(u"three"_s, {}, false);
    add_row(u"four"_s, "4");
    EXPECT_EQ(downloads.download_all(rows), -1);
    EXPECT_EQ(names_in(default_folder()), (QStringList{u"one.mp3"_s, u"two.mp3"_s}));
    EXPECT_EQ(downloads.il_down_qty(), 2);
    EXPECT_EQ(answers.messages, QStringList{missing_text});
    EXPECT_EQ(log.filter(u"post"_s).size(), 2);
    EXPECT_EQ(log.count(u"open_wait"_s), 1);
    EXPECT_EQ(log.last(), u"close_wait"_s);
    EXPECT_EQ(downloads.is_down_current(), default_folder());
}

TEST_F(download_test, download_all_with_no_rows_opens_no_wait_window) {
    EXPECT_EQ(downloads.download_all(rows), -1);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(answers.messages.isEmpty());
}

TEST_F(download_test, same_name_from_two_folders_keeps_the_later_copy) {
    add_row(rows, u"x"_s, u"同名"_s, u".mp4"_s, "earlier");
    add_row(rows, u"y"_s, u"同名"_s, u".mp4"_s, "later");
    EXPECT_EQ(downloads.download_all(rows), 1);
    EXPECT_EQ(names_in(default_folder()), QStringList{u"同名.mp4"_s});
    EXPECT_EQ(read_all_bytes(default_folder() + u"同名.mp4"_s), "later");
    EXPECT_EQ(downloads.il_down_qty(), 2);
    EXPECT_EQ(copy_lines().size(), 2);
}

TEST_F(download_test, custom_folder_choice_and_cancellation) {
    const QString card = path(u"卡"_s);
    QDir().mkpath(card);
    answers.next_folder = card;
    downloads.select_custom_dir();
    EXPECT_EQ(answers.choosers, QStringList{u"请选择目录,比如U盘,读卡器具体位置!"_s});
    EXPECT_EQ(downloads.is_down_path_cust(), card + u'/');
    EXPECT_EQ(log, QStringList{u"custdir on"_s});

    add_row(u"song"_s, "s");
    log.clear();
    EXPECT_EQ(downloads.download_row(rows, 1), 1);
    EXPECT_EQ(read_all_bytes(card + u"/song.mp3"_s), "s");
    EXPECT_FALSE(log.contains(u"custdir off"_s));
    EXPECT_TRUE(names_in(default_folder()).isEmpty());

    // A cancelled choice forgets the folder: downloads go to the default one again.
    answers.next_folder.clear();
    downloads.select_custom_dir();
    EXPECT_TRUE(downloads.is_down_path_cust().isEmpty());
    EXPECT_EQ(log.last(), u"custdir off"_s);
    EXPECT_EQ(downloads.download_all(rows), 1);
    EXPECT_EQ(downloads.is_down_current(), default_folder());
    EXPECT_EQ(names_in(default_folder()), QStringList{u"song.mp3"_s});
}

// A root chosen as the custom folder comes back with its separator; one more is added and
// the file must still land in that root.
TEST_F(download_test, folder_text_with_a_double_separator_lands_in_that_folder) {
    const QString root = path(u"root"_s);
    QDir().mkpath(root);
    answers.next_folder = root + u'/';
    downloads.select_custom_dir();
    EXPECT_EQ(downloads.is_down_path_cust(), root + u"//"_s);
    add_row(u"r"_s, "root");
    EXPECT_EQ(downloads.download_all(rows), 1);
    EXPECT_EQ(read_all_bytes(root + u"/r.mp3"_s), "root");
    EXPECT_EQ(download_target(u"/"_s + u'/', u"a", u".mp3"), u"//a.mp3"_s);
    EXPECT_EQ(QFileInfo(u"//a.mp3"_s).absolutePath(), u"/"_s);
}

// The card's folder vanishes during a run: the copy that fails is told and the run stops;
// the next download falls back to the default folder (told once), and the folder coming back
// is used again with its button enabled.
TEST_F(download_test, custom_folder_removed_mid_run) {
    const QString card = path(u"card"_s);
    QDir().mkpath(card);
    answers.next_folder = card;
    downloads.select_custom_dir();
    EXPECT_EQ(shown_folder, card + u'/');
    add_row(u"one"_s, "1");
    add_row(u"two"_s, "2");
    add_row(u"three"_s, "3");
    // The copy of two is under way at the first pump after the line of one.
    feedback.on_pump = [&] {
        if (copy_lines().size() == 1) QDir(card).removeRecursively();
    };
    log.clear();
    EXPECT_EQ(downloads.download_all(rows), -1);
    feedback.on_pump = nullptr;
    EXPECT_EQ(downloads.il_down_qty(), 1); // only the copy that completed
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_TRUE(
        answers.messages[0].startsWith(u"提示 | 下载失败: two.mp3\n读卡器或U盘在下载时被拔出"_s))
        << answers.messages[0].toStdString();
    EXPECT_EQ(log.last(), u"close_wait"_s);
    EXPECT_FALSE(QFileInfo::exists(card));

    for (int i = 0; i < 2; ++i) {
        log.clear();
        EXPECT_EQ(downloads.download_row(rows, 3), 1);
        EXPECT_EQ(log.first(), u"custdir off"_s);
    }
    EXPECT_EQ(answers.messages.size(), 2) << "the fallback is told once";
    EXPECT_EQ(answers.messages[1], u"提示 | "_s + fallback_text(card + u'/', default_folder()));
    EXPECT_EQ(names_in(default_folder()), QStringList{u"three.mp3"_s});
    EXPECT_EQ(downloads.is_down_path_cust(), card + u'/');
    EXPECT_EQ(shown_folder, default_folder());

    QDir().mkpath(card);
    log.clear();
    downloads.refresh_folder_state();
    EXPECT_EQ(log, QStringList{u"custdir on"_s});
    EXPECT_EQ(shown_folder, card + u'/');
    EXPECT_EQ(downloads.download_all(rows), 1);
    EXPECT_EQ(names_in(card), (QStringList{u"one.mp3"_s, u"three.mp3"_s, u"two.mp3"_s}));
    EXPECT_EQ(downloads.il_down_qty(), 6);
}

TEST_F(download_test, emptying_keeps_subfolders_read_only_hidden_and_special_files) {
    const QString d = default_folder();
    for (const QString& name : {u"普通.mp3"_s, u"plain"_s, u"只读.mp3"_s, u".hidden.mp3"_s,
                                u"sub/inner.mp3"_s, u"kept_target"_s, u"gone_target"_s})
        write_all_bytes(d + name, "x");
    QFile::setPermissions(d + u"只读.mp3"_s, QFileDevice::ReadOwner | QFileDevice::ReadUser);
    QFile::setPermissions(d + u"kept_target"_s, QFileDevice::ReadOwner);
    QFile::link(d + u"kept_target"_s, d + u"link_to_read_only"_s);
    QFile::link(d + u"gone_target"_s, d + u"link_to_plain"_s);
    QFile::link(d + u"nowhere"_s, d + u"dangling"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(d + u"pipe"_s).constData(), 0666), 0);

    add_row(u"counted"_s, "c");
    downloads.download_row(rows, 1);
    log.clear();

    const QStringList listed = downloads.empty_default_folder();
    EXPECT_EQ(listed, (QStringList{u"counted.mp3"_s, u"gone_target"_s, u"link_to_plain"_s,
                                   u"plain"_s, u"普通.mp3"_s}));
    EXPECT_EQ(names_in(d), (QStringList{u".hidden.mp3"_s, u"dangling"_s, u"kept_target"_s,
                                        u"link_to_read_only"_s, u"pipe"_s, u"只读.mp3"_s}));
    EXPECT_TRUE(QFileInfo::exists(d + u"sub/inner.mp3"_s));
    EXPECT_EQ(downloads.ue_down_qty(), u"[0]"_s);
    EXPECT_EQ(log, QStringList{u"post"_s});

    // Nothing left to delete: the counter is still reset and refreshed.
    EXPECT_TRUE(downloads.empty_default_folder().isEmpty());
    EXPECT_EQ(log, (QStringList{u"post"_s, u"post"_s}));
}

struct name_case {
    const char* label;
    QString filename;
    QString fileext;
};

// Names only an edited catalogue file can carry; none may reach outside the download folder.
TEST_F(download_test, names_that_leave_the_folder_are_refused) {
    const name_case cases[] = {
        {"parent in name", u"../escaped"_s, u".mp3"_s},
        {"separator in extension", u"x"_s, u"/../../escaped.mp3"_s},
        {"absolute name", u"/tmp/escaped"_s, u".mp3"_s},
        {"parent alone", u".."_s, u""_s},
        {"dot alone", u"."_s, u""_s},
        {"empty", u""_s, u""_s},
    };
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.label);
        record_set one;
        const long r = one.insertrow(0);
        write_all_bytes(path(u"src/ok.mp3"_s), "o");
        one.set_text(r, col_filepath, path(u"src/ok.mp3"_s));
        one.set_text(r, col_filename, c.filename);
        one.set_text(r, col_fileext, c.fileext);
        answers.messages.clear();
        log.clear();
        EXPECT_EQ(downloads.download_row(one, 1), -1);
        EXPECT_EQ(answers.messages,
                  QStringList{u"提示 | 文件名含有路径符号,不能下载:\n"_s + c.filename + c.fileext});
        EXPECT_TRUE(log.isEmpty());

        // In a run, the rows before it are copied and the run stops there.
        record_set run;
        add_row(run, u"a"_s, u"before"_s, u".mp3"_s, "b");
        one.rowscopy(1, 1, run);
        add_row(run, u"a"_s, u"after"_s, u".mp3"_s, "a");
        answers.messages.clear();
        EXPECT_EQ(downloads.download_all(run), -1);
        EXPECT_EQ(answers.messages.size(), 1);
        EXPECT_EQ(names_in(default_folder()), QStringList{u"before.mp3"_s});
        QFile::remove(default_folder() + u"before.mp3"_s);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.path() + u"/escaped.mp3"_s));
    EXPECT_FALSE(QFileInfo::exists(u"/tmp/escaped.mp3"_s));
    EXPECT_EQ(downloads.il_down_qty(), 6); // only the "before" rows
}

TEST(download_names, plain_names) {
    for (const QStringView ok : {u"a.mp3", u"a..b.mp3", u"...mp3", u".hidden", u"歌 曲.mp3"})
        EXPECT_TRUE(is_plain_file_name(ok)) << ok.toString().toStdString();
    const QString nul = u"a"_s + QChar(u'\0') + u".mp3"_s;
    for (const QStringView bad : {QStringView(u""), QStringView(u"."), QStringView(u".."),
                                  QStringView(u"a/b"), QStringView(u"/"), QStringView(nul)})
        EXPECT_FALSE(is_plain_file_name(bad)) << bad.toString().toStdString();
}

// Each reason a copy fails is told in words, naming the file; the run stops there, only the
// completed copies count, and nothing partial is left.
TEST_F(download_test, failed_copies_say_why_and_leave_nothing) {
    struct reason_case {
        const char* label;
        std::function<QString()> make_folder; // empty when it cannot be made here
        QString name;
        QString reason;
        std::optional<card_limits> limits;
        bool fill_meanwhile = false; // something else fills the card once the copy began
    };
    const auto small_mount = [&](const QString& where, const QString& options) {
        QDir().mkpath(where);
        return QProcess::execute(u"mount"_s,
                                 {u"-t"_s, u"tmpfs"_s, u"-o"_s, options, u"tmpfs"_s, where}) == 0
                   ? where
                   : QString();
    };
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount small and read-only cards";
    QStringList mounted;
    const reason_case cases[] = {
        {"read-only card",
         [&] { return small_mount(path(u"ro"_s), u"ro,size=1m"_s); },
         u"b"_s,
         u"下载目录不能写入"_s,
         {}},
        {"card full mid-copy",
         [&] { return small_mount(path(u"full"_s), u"size=3m"_s); },
         u"c"_s,
         u"读卡器或U盘空间已满"_s,
         {},
         true},
        {"over the FAT32 limit", [&] { return path(u"fat"_s); }, u"d"_s, u"FAT32"_s,
         limits_for_type("vfat")},
        {"name refused by exFAT", [&] { return path(u"exfat"_s); }, u"e:f"_s, u"不允许的字符"_s,
         limits_for_type("exfat")},
        // 262 bytes: no folder here takes it, whatever its characters.
        {"name too long",
         [&] { return path(u"long"_s); },
         u"长"_s.repeated(86),
         u"文件名太长"_s,
         {}},
    };
    for (const reason_case& c : cases) {
        SCOPED_TRACE(c.label);
        const QString folder = c.make_folder();
        ASSERT_FALSE(folder.isEmpty()) << "cannot set the folder up";
        if (folder.endsWith(u"ro"_s) || folder.endsWith(u"full"_s)) mounted << folder;
        QDir().mkpath(folder);
        answers.next_folder = folder;
        downloads.select_custom_dir();
        downloads.set_card_limits_for_test(c.limits);
        record_set run;
        add_row(run, u"ok"_s, u"first"_s, u".mp3"_s, "1");
        // The source has a name of its own: the one asked of the card may fit no disk.
        const QString big = path(u"src/big/source.mp3"_s);
        write_all_bytes(big, QByteArray(c.fill_meanwhile ? 2'000'000 : 4'000'000, 'x'));
        add_row(run, u"big"_s, c.name, u".mp3"_s, {}, false);
        run.set_text(run.rowcount(), col_filepath, big);
        feedback.on_pump = [&, filled = false]() mutable {
            // The first row's copy is told done: the second has begun.
            if (c.fill_meanwhile && !filled && !copy_lines().isEmpty()) {
                filled = true;
                QFile filler(folder + u"/filler"_s);
                if (filler.open(QIODevice::WriteOnly)) filler.write(QByteArray(2'000'000, 'f'));
            }
        };
        add_row(run, u"ok"_s, u"after"_s, u".mp3"_s, "2");
        if (c.limits && c.limits->kind == card_kind::fat) QFile::resize(big, qint64{1} << 32);
        answers.messages.clear();
        const std::int64_t before = downloads.il_down_qty();
        EXPECT_EQ(downloads.download_all(run), -1);
        ASSERT_EQ(answers.messages.size(), 1);
        const QString told = answers.messages[0];
        // A read-only card fails at the first row already.
        const bool first_failed = !QFileInfo::exists(folder + u"/first.mp3"_s);
        const QString failed = first_failed ? u"first.mp3"_s : c.name + u".mp3"_s;
        EXPECT_TRUE(told.startsWith(u"提示 | 下载失败: "_s + failed + u'\n')) << told.toStdString();
        EXPECT_TRUE(told.contains(c.reason)) << told.toStdString();
        EXPECT_EQ(downloads.il_down_qty() - before, first_failed ? 0 : 1);
        EXPECT_FALSE(QFileInfo::exists(folder + u'/' + c.name + u".mp3"_s));
        EXPECT_FALSE(QFileInfo::exists(folder + u"/after.mp3"_s));
    }
    feedback.on_pump = nullptr;
    downloads.set_card_limits_for_test({});
    for (const QString& m : mounted) QProcess::execute(u"umount"_s, {m});
}

// A card unmounted after it was chosen leaves its empty mount point: that folder is no card.
// Downloads go to the default folder, told once; when the card is mounted there again,
// downloads go to it and its button is enabled again.
TEST_F(download_test, unmounted_card_is_a_missing_folder) {
    if (const QString why = loop_card::unavailable(card_format::ext4); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(card_format::ext4);
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    answers.next_folder = card.mount_point();
    downloads.select_custom_dir();
    add_row(u"song"_s, "s");
    ASSERT_TRUE(card.unmount());
    ASSERT_TRUE(QFileInfo(card.mount_point()).isDir()) << "the empty mount point stays";
    log.clear();
    EXPECT_EQ(downloads.download_row(rows, 1), 1);
    EXPECT_EQ(downloads.download_row(rows, 1), 1);
    EXPECT_EQ(answers.messages, QStringList{u"提示 | "_s + fallback_text(card.mount_point() + u'/',
                                                                         default_folder())});
    EXPECT_TRUE(log.contains(u"custdir off"_s));
    EXPECT_FALSE(log.contains(u"custdir on"_s));
    EXPECT_TRUE(QDir(card.mount_point()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(names_in(default_folder()), QStringList{u"song.mp3"_s});
    EXPECT_EQ(shown_folder, default_folder());

    ASSERT_TRUE(card.mount());
    log.clear();
    EXPECT_EQ(downloads.download_row(rows, 1), 1);
    EXPECT_EQ(log.first(), u"custdir on"_s);
    EXPECT_EQ(read_all_bytes(card.path(u"song.mp3"_s)), "s");
    EXPECT_EQ(shown_folder, card.mount_point() + u'/');
    EXPECT_EQ(answers.messages.size(), 1);
}

// The card pulled during 下载全部 (unmounted while a copy runs, or between two copies, when
// its empty mount point would take the next file), and 停止 pressed during a run: each ends
// the run at the copy in hand, which leaves nothing; only completed copies count.
TEST_F(download_test, card_pulled_or_stop_pressed_during_download_all) {
    if (const QString why = loop_card::unavailable(card_format::exfat); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    enum class event { pulled, pulled_between, stopped };
    for (const event what : {event::pulled, event::pulled_between, event::stopped}) {
        SCOPED_TRACE(static_cast<int>(what));
        const bool pull = what != event::stopped;
        loop_card card(card_format::exfat);
        ASSERT_TRUE(card.ok()) << card.error().toStdString();
        answers.next_folder = card.mount_point();
        downloads.select_custom_dir();
        // exFAT goes through FUSE, whose reads come through a cache: no read-back there.
        EXPECT_TRUE(shown_space.endsWith(u"(复制到这张卡的文件无法读回校验)"_s))
            << shown_space.toStdString();
        record_set run;
        add_row(run, u"a"_s, u"one"_s, u".mp3"_s, QByteArray(1000, '1'));
        add_row(run, u"a"_s, u"two"_s, u".mp4"_s, QByteArray(12'000'000, '2'));
        add_row(run, u"a"_s, u"three"_s, u".mp3"_s, QByteArray(1000, '3'));
        bool one_done = false;
        int pumps_in_two = 0;
        feedback.on_line = [&](const QString& line) {
            if (!line.startsWith(u"下载: one.mp3"_s)) return;
            one_done = true;
            if (what == event::pulled_between) card.unmount(true);
        };
        feedback.on_pump = [&] {
            if (what == event::pulled_between || !one_done || ++pumps_in_two != 2) return;
            if (pull)
                card.unmount(true);
            else
                feedback.stop = true;
        };
        answers.messages.clear();
        const std::int64_t before = downloads.il_down_qty();
        EXPECT_EQ(downloads.download_all(run), -1);
        feedback.on_pump = nullptr;
        feedback.on_line = nullptr;
        feedback.stop = false;
        EXPECT_EQ(downloads.il_down_qty() - before, 1);
        if (pull) {
            EXPECT_TRUE(QDir(card.mount_point())
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                            .isEmpty())
                << "nothing in the empty mount point";
            ASSERT_EQ(answers.messages.size(), 1);
            EXPECT_TRUE(answers.messages[0].startsWith(
                u"提示 | 下载失败: two.mp4\n读卡器或U盘在下载时被拔出"_s))
                << answers.messages[0].toStdString();
            ASSERT_TRUE(QTest::qWaitFor([&] { return card.mount(); }, 5000));
        } else {
            EXPECT_TRUE(answers.messages.isEmpty()) << "a stop is not a failure to tell";
        }
        EXPECT_EQ(QDir(card.mount_point()).entryList(QDir::Files), QStringList{u"one.mp3"_s});
        const loop_card::snapshot shot =
            card.check_snapshot({{u"one.mp3"_s, path(u"src/a/one.mp3"_s)}});
        EXPECT_TRUE(shot.fsck_clean) << shot.fsck_output.toStdString();
        EXPECT_TRUE(shot.bad.isEmpty());
    }
}

// Cards that lie: a counterfeit one keeps less than it claims and reads zeros beyond, a
// failing one flips bits on reading; neither reports an error. Every copy that counts reads
// back whole from the card itself; the first that does not is removed and told, and the run
// stops there. With read-back off the lie goes unnoticed.
TEST_F(download_test, a_card_that_lies_is_caught_before_a_copy_counts) {
    if (const QString why = loop_card::unavailable(card_format::ext4, true); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    struct card_case {
        const char* what;
        card_faults faults;
        bool read_back;
    };
    const card_case cases[] = {
        {"counterfeit", {.keeps_mib = 100}, true},
        {"failing", {.flip_from_mib = 48}, true},
        {"counterfeit, read-back off", {.keeps_mib = 100}, false},
    };
    std::vector<QByteArray> contents;
    record_set run;
    for (int i = 0; i < 10; ++i) {
        QByteArray bytes(20 << 20, Qt::Uninitialized);
        QRandomGenerator(i + 1).fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / 4);
        add_row(run, u"lie"_s, u"song"_s + QString::number(i), u".mp3"_s, bytes);
        contents.push_back(bytes);
    }
    for (const card_case& c : cases) {
        SCOPED_TRACE(c.what);
        loop_card card(card_format::ext4, 256, c.faults);
        ASSERT_TRUE(card.ok()) << card.error().toStdString();
        answers.next_folder = card.mount_point();
        downloads.select_custom_dir();
        downloads.set_read_back(c.read_back);
        answers.messages.clear();
        const std::int64_t before = downloads.il_down_qty();
        const int result = downloads.download_all(run);
        const std::int64_t counted = downloads.il_down_qty() - before;
        // What the card holds, read from the card itself.
        ASSERT_TRUE(card.remount_cold());
        const QStringList on_card = names_in(card.mount_point());
        int whole = 0;
        for (int i = 0; i < 10; ++i)
            whole += read_all_bytes(card.path(u"song"_s + QString::number(i) + u".mp3"_s)) ==
                     contents[static_cast<std::size_t>(i)];
        if (c.read_back) {
            EXPECT_EQ(result, -1);
            EXPECT_GT(counted, 0);
            EXPECT_LT(counted, 10);
            EXPECT_EQ(whole, counted) << "every counted copy reads back whole";
            EXPECT_EQ(on_card.size(), counted) << on_card.join(u", "_s).toStdString();
            ASSERT_EQ(answers.messages.size(), 1);
            EXPECT_TRUE(answers.messages[0].startsWith(
                u"提示 | 下载失败: song"_s + QString::number(counted) +
                u".mp3\n读卡器或U盘没有保存好这个文件: 从第 "_s))
                << answers.messages[0].toStdString();
        } else {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(counted, 10);
            EXPECT_LT(whole, 10);
        }
    }
    downloads.set_read_back(true);
}

// A listing that does not fit on the card is refused before a byte is written.
TEST_F(download_test, a_listing_that_does_not_fit_copies_nothing) {
    if (const QString why = loop_card::unavailable(card_format::ext4); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    loop_card card(card_format::ext4, 32);
    ASSERT_TRUE(card.ok()) << card.error().toStdString();
    answers.next_folder = card.mount_point();
    downloads.select_custom_dir();
    record_set run;
    for (const QString& name : {u"one"_s, u"two"_s, u"three"_s})
        add_row(run, u"big"_s, name, u".mp4"_s, QByteArray(12'000'001, 'x'));
    const std::optional<card_space> space = card_space_of(card.mount_point());
    ASSERT_TRUE(space);
    const std::int64_t one = (12'000'001 / space->cluster_bytes + 1) * space->cluster_bytes;
    ASSERT_GT(3 * one, space->free_bytes);
    log.clear();
    EXPECT_EQ(downloads.download_all(run), -1);
    EXPECT_FALSE(log.contains(u"open_wait"_s));
    EXPECT_TRUE(names_in(card.mount_point()).isEmpty());
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_EQ(answers.messages[0],
              u"提示 | 下载文件夹所在的卡上空间不足：这些文件需要 "_s + readable_size(3 * one) +
                  u"，卡上只剩 "_s + readable_size(space->free_bytes) + u"。没有复制任何文件。"_s);
    // Two of them fit.
    record_set two;
    for (const QString& name : {u"one"_s, u"two"_s})
        add_row(two, u"big"_s, name, u".mp4"_s, {}, false);
    answers.messages.clear();
    EXPECT_EQ(downloads.download_all(two), 1);
    EXPECT_TRUE(answers.messages.isEmpty());
    // The free space shown is the card's after the copies.
    EXPECT_EQ(shown_space, free_space_text(*card_space_of(card.mount_point())));
}

TEST(card_space, a_run_needs_its_peak_with_sizes_in_whole_clusters) {
    struct space_case {
        std::vector<planned_copy> copies;
        std::int64_t needed;
    };
    const space_case cases[] = {
        {{}, 0},
        {{{1, -1}, {4096, -1}, {4097, -1}}, 4096 + 4096 + 8192},
        // The old file stays until its replacement is whole.
        {{{10'000, 10'000}}, 12'288},
        {{{8192, 8192}, {8192, 8192}}, 8192},
        // A smaller file replacing a larger one leaves room for the next.
        {{{100, 8192}, {8192, -1}}, 4096},
    };
    for (const space_case& c : cases) EXPECT_EQ(space_needed(c.copies, 4096), c.needed);
    const std::pair<std::int64_t, const char16_t*> sizes[] = {{0, u"0 KB"},
                                                              {1, u"1 KB"},
                                                              {1536 * 1024, u"1.5 MB"},
                                                              {std::int64_t{5} << 30, u"5.0 GB"},
                                                              {std::int64_t{150} << 30, u"150 GB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(readable_size(bytes), QString::fromUtf16(text));
}

TEST_F(download_test, folders_open_through_the_desktop) {
    downloads.open_default_dir();
    downloads.open_custom_dir(); // none chosen: nothing to open
    const QString card = path(u"card"_s);
    QDir().mkpath(card);
    answers.next_folder = card;
    downloads.select_custom_dir();
    downloads.open_custom_dir();
    EXPECT_EQ(opened.folders, (QStringList{default_folder(), card + u'/'}));
    EXPECT_TRUE(opened.files.isEmpty());
}

TEST(desktop_seam, real_opener_refuses_an_empty_path) {
    desktop_opener real;
    EXPECT_FALSE(real.open_folder({}));
    EXPECT_FALSE(real.open_file({}));
}

// The copies let the window run: a click that starts another download or empties the folder
// meanwhile is refused, and a query that refills the list does not change the run.
TEST_F(download_test, events_during_a_run_do_not_disturb_it) {
    add_row(u"one"_s, "1");
    add_row(u"two"_s, "2");
    add_row(u"three"_s, "3");
    int nested = 99;
    QStringList emptied{u"not called"_s};
    bool acted = false;
    feedback.on_pump = [&] {
        if (std::exchange(acted, true)) return;
        nested = downloads.download_row(rows, 3);
        emptied = downloads.empty_default_folder();
        rows.reset();
        add_row(u"other"_s, "o");
    };
    EXPECT_EQ(downloads.download_all(rows), 1);
    EXPECT_EQ(nested, 0);
    EXPECT_TRUE(emptied.isEmpty());
    EXPECT_EQ(names_in(default_folder()),
              (QStringList{u"one.mp3"_s, u"three.mp3"_s, u"two.mp3"_s}));
    EXPECT_EQ(downloads.il_down_qty(), 3);
    EXPECT_FALSE(downloads.busy());
    EXPECT_EQ(downloads.download_row(rows, 1), 1); // free again afterwards
}

} // namespace
