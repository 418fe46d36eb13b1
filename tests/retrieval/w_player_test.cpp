#include "app/shell/app_globals.h"
#include "retrieval/core/play_routing.h"
#include "retrieval/ui/desktop_opener.h"
#include "retrieval/ui/media_component.h"
#include "retrieval/ui/w_player.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QAudioOutput>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoWidget>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

// A mono 16-bit PCM WAV of `ms` milliseconds of a quiet tone.
QByteArray wav_bytes(int ms) {
    const quint32 rate = 8000;
    const quint32 samples = rate * static_cast<quint32>(ms) / 1000;
    const quint32 data_size = samples * 2;
    QByteArray out;
    auto u32 = [&out](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    auto u16 = [&out](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF", 4);
    u32(36 + data_size);
    out.append("WAVEfmt ", 8);
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2); // bytes per second
    u16(2);        // block align
    u16(16);       // bits per sample
    out.append("data", 4);
    u32(data_size);
    for (quint32 i = 0; i < samples; ++i) u16(static_cast<quint16>((i / 8) % 2 ? 800 : -800));
    return out;
}

class player_test : public ::testing::Test {
  protected:
    void TearDown() override {
        if (w_player* p = w_player::instance()) p->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        globals().gb_mediaplay_opened = false;
    }
    QTemporaryDir dir;
    recording_prompts prompts;
    recording_desktop desktop_;
    QWidget owner;
};

} // namespace

TEST(play_routing, only_the_three_stored_types_with_the_built_in_choice) {
    struct case_ {
        bool baofeng;
        QString ext;
        play_target expected;
    };
    const case_ cases[] = {
        {true, u".mp3"_s, play_target::player_window},
        {true, u".mp4"_s, play_target::player_window},
        {true, u".3gp"_s, play_target::player_window},
        {true, u".wma"_s, play_target::associated_program},
        {true, u".avi"_s, play_target::associated_program},
        {true, u".rmvb"_s, play_target::associated_program},
        {true, u".MP3"_s, play_target::associated_program},  // case-sensitive
        {true, u".mp3 "_s, play_target::associated_program}, // no trimming
        {true, u"mp3"_s, play_target::associated_program},
        {true, u""_s, play_target::associated_program},
        {false, u".mp3"_s, play_target::associated_program},
        {false, u".3gp"_s, play_target::associated_program},
    };
    for (const auto& c : cases)
        EXPECT_EQ(route_listened_file(c.baofeng, c.ext), c.expected)
            << c.baofeng << " " << c.ext.toStdString();
}

TEST_F(player_test, default_choice_and_other_types_go_to_the_desktop_and_open_no_window) {
    listen_file(&owner, false, u"/music/a.mp3"_s, u"a"_s, u".mp3"_s);
    listen_file(&owner, true, u"/music/b.wma"_s, u"b"_s, u".wma"_s);
    EXPECT_EQ(desktop_.files, (QStringList{u"/music/a.mp3"_s, u"/music/b.wma"_s}));
    EXPECT_EQ(w_player::instance(), nullptr);
    EXPECT_FALSE(globals().gb_mediaplay_opened);
    EXPECT_TRUE(prompts.messages.isEmpty());

    // No program on the desktop takes the type: said once, not left to silence.
    desktop_.accept = false;
    listen_file(&owner, false, u"/music/c.rmvb"_s, u"c"_s, u".rmvb"_s);
    EXPECT_EQ(prompts.messages,
              QStringList{u"提示 | 无法播放: c.rmvb\n系统里没有能打开 .rmvb 文件的程序。"_s});
}

TEST_F(player_test, two_listens_leave_one_window_titled_and_playing_the_second) {
    listen_file(&owner, true, dir.filePath(u"一.mp3"_s), u"一"_s, u".mp3"_s);
    w_player* first = w_player::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(globals().gb_mediaplay_opened);
    EXPECT_EQ(first->windowTitle(), u"青石坊播放器—一.mp3"_s);

    listen_file(&owner, true, dir.filePath(u"second.3gp"_s), u"second"_s, u".3gp"_s);
    EXPECT_EQ(w_player::instance(), first);
    EXPECT_EQ(first->windowTitle(), u"青石坊播放器—second.3gp"_s);
    EXPECT_EQ(first->ole_1()->property_value(u"url"), dir.filePath(u"second.3gp"_s));
    EXPECT_EQ(first->ole_1()->player()->source(),
              QUrl::fromLocalFile(dir.filePath(u"second.3gp"_s)));
    EXPECT_TRUE(desktop_.files.isEmpty());
}

TEST_F(player_test, opens_with_only_the_video_and_its_control_bar_at_volume_88) {
    listen_file(&owner, true, u"/x/a.mp4"_s, u"a"_s, u".mp4"_s);
    media_component* c = w_player::instance()->ole_1();
    EXPECT_NEAR(c->audio_output()->volume(), 0.88, 0.001);
    EXPECT_TRUE(c->title_strip()->isHidden());
    EXPECT_TRUE(c->info_bar()->isHidden());
    EXPECT_FALSE(c->control_bar()->isHidden());
    QTest::mouseDClick(c->video(), Qt::LeftButton);
    EXPECT_FALSE(c->video()->isFullScreen());
}

TEST_F(player_test, minimised_by_the_list_restored_by_the_next_listen_reopened_after_close) {
    listen_file(&owner, true, u"/x/a.mp3"_s, u"a"_s, u".mp3"_s);
    w_player* p = w_player::instance();
    w_player::minimize_if_open();
    EXPECT_TRUE(p->windowState() & Qt::WindowMinimized);
    listen_file(&owner, true, u"/x/b.mp3"_s, u"b"_s, u".mp3"_s);
    EXPECT_FALSE(p->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(p->isVisible());

    EXPECT_EQ(p->cb_exit()->text(), u"关闭!"_s);
    p->cb_exit()->click();
    EXPECT_FALSE(globals().gb_mediaplay_opened);
    EXPECT_EQ(w_player::instance(), nullptr);
    w_player::minimize_if_open(); // closed: nothing to do
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    listen_file(&owner, true, u"/x/c.mp3"_s, u"c"_s, u".mp3"_s);
    ASSERT_NE(w_player::instance(), nullptr);
    EXPECT_TRUE(globals().gb_mediaplay_opened);
    EXPECT_TRUE(w_player::instance()->ole_1()->title_strip()->isHidden());
    EXPECT_EQ(w_player::instance()->windowTitle(), u"青石坊播放器—c.mp3"_s);
}

TEST(media_component, unknown_names_and_wrong_values_are_refused) {
    media_component c;
    EXPECT_FALSE(c.set_property(u"balance", 1));
    EXPECT_FALSE(c.set_property(u"volume", u"loud"_s));
    EXPECT_NEAR(c.audio_output()->volume(), 1.0, 0.001);
    EXPECT_TRUE(c.set_property(u"VOLUME", 40));
    EXPECT_NEAR(c.audio_output()->volume(), 0.40, 0.001);
}

TEST_F(player_test, a_real_wav_plays_to_its_end) {
    const QString path = dir.filePath(u"tone.mp3"_s); // the player sniffs the content
    write_all_bytes(path, wav_bytes(400));
    listen_file(&owner, true, path, u"tone"_s, u".mp3"_s);
    QMediaPlayer* mp = w_player::instance()->ole_1()->player();
    QSignalSpy status(mp, &QMediaPlayer::mediaStatusChanged);
    const bool ended = QTest::qWaitFor(
        [&] {
            return mp->mediaStatus() == QMediaPlayer::EndOfMedia || !prompts.messages.isEmpty();
        },
        10000);
    ASSERT_TRUE(ended);
    EXPECT_EQ(prompts.messages, QStringList{}) << "playback error";
    EXPECT_EQ(mp->mediaStatus(), QMediaPlayer::EndOfMedia);
    EXPECT_GE(mp->duration(), 300);
}

// The playback back end reports one broken file more than once; the user is told once.
TEST_F(player_test, a_broken_file_is_reported_once_with_the_reason) {
    const QString path = dir.filePath(u"broken.mp3"_s);
    write_all_bytes(path, QByteArray(4096, 'x'));
    listen_file(&owner, true, path, u"broken"_s, u".mp3"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.messages.isEmpty(); }, 10000));
    QTest::qWait(1000);
    ASSERT_EQ(prompts.messages.size(), 1) << prompts.messages.join(u"; "_s).toStdString();
    const QString m = prompts.messages.first();
    EXPECT_TRUE(m.startsWith(u"提示 | 无法播放: broken.mp3\n"_s)) << m.toStdString();
    EXPECT_GT(m.size(), QStringLiteral("提示 | 无法播放: broken.mp3\n").size());
    EXPECT_NE(w_player::instance(), nullptr); // the window stays open
}
