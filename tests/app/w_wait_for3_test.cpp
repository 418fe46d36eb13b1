#include "app/shell/w_wait_for3.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TEST(wait_window, stop_stays_raised_until_the_next_opening) {
    w_wait_for3 wait;
    EXPECT_FALSE(wait.windowIcon().pixmap(32).isNull()) << "the application's icon";
    wait.open_window();
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.ib_stop());
    wait.cb_stop()->click();
    wait.cb_stop()->click();
    EXPECT_TRUE(wait.ib_stop()) << "a second click changes nothing";
    wait.close_window();
    EXPECT_FALSE(wait.isVisible());
    EXPECT_TRUE(wait.ib_stop());
    wait.open_window();
    EXPECT_FALSE(wait.ib_stop());
    wait.request_stop();
    EXPECT_TRUE(wait.ib_stop());
}

TEST(wait_window, the_message_line_shows_exactly_the_last_text) {
    w_wait_for3 wait;
    wait.of_setmessage(u"载入上次生成的扫描清单...请稍候..."_s);
    EXPECT_EQ(wait.st_note()->text(), u"载入上次生成的扫描清单...请稍候..."_s);
    wait.of_setmessage(u"<b>1</b>"_s);
    EXPECT_EQ(wait.st_note()->textFormat(), Qt::PlainText) << "names are never read as markup";
    wait.of_setmessage(QString());
    EXPECT_TRUE(wait.st_note()->text().isEmpty());
}

TEST(wait_window, checkpoints_close_together_let_events_through_only_now_and_then) {
    w_wait_for3 wait;
    int ran = 0;
    wait.process_events_now();
    QMetaObject::invokeMethod(
        &wait, [&] { ++ran; }, Qt::QueuedConnection);
    wait.process_events();
    EXPECT_EQ(ran, 0) << "a checkpoint right after the last turn does not poll";
    QTest::qSleep(60);
    wait.process_events();
    EXPECT_EQ(ran, 1);
}

} // namespace
