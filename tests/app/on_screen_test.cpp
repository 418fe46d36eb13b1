// The main window on a real X server with a window manager, where stacking and keyboard
// focus are decided as a user meets them. Skipped when no X server can start here.
#include "app/main/w_main.h"
#include "app/shell/app_globals.h"
#include "app/shell/user_prompts.h"
#include "app/shell/w_wait_for3.h"
#include "catalogue/ui/w_disk_area.h"
#include "catalogue/ui/w_file_type.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Starts Xvfb and openbox before the test main makes the application, and points Qt at
// them; leaves everything offscreen when either is missing or does not come up.
struct x_server {
    pid_t xvfb = -1, wm = -1;
    std::string why_not;

    x_server() {
        if (listing_tests()) {
            why_not = "listing tests only";
            return;
        }
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/openbox", X_OK) != 0 ||
            ::access("/usr/bin/xdotool", X_OK) != 0) {
            why_not = "Xvfb, openbox or xdotool is not installed (scripts/setup installs them)";
            return;
        }
        int fds[2];
        if (::pipe(fds) != 0) return;
        xvfb = ::fork();
        if (xvfb == 0) {
            ::dup2(fds[1], 3);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24",
                    "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // Xvfb writes the number and its newline separately and dies if the pipe is
        // closed between the two.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (c != '\n' || number.empty() || !alive(xvfb)) {
            why_not = "Xvfb did not start";
            return;
        }
        const std::string display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
        wm = ::fork();
        if (wm == 0) {
            ::execl("/usr/bin/openbox", "openbox", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::usleep(500'000);
        if (!alive(wm)) {
            why_not = "openbox did not start";
            return;
        }
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    static bool alive(pid_t p) { return ::waitpid(p, nullptr, WNOHANG) == 0; }
    // Test discovery runs the program only to list the tests: no server needed.
    static bool listing_tests() {
        std::ifstream cmdline("/proc/self/cmdline");
        std::string arg;
        while (std::getline(cmdline, arg, '\0'))
            if (arg.starts_with("--gtest_list_tests")) return true;
        return false;
    }
    ~x_server() {
        for (const pid_t p : {wm, xvfb})
            if (p > 0) {
                ::kill(p, SIGTERM);
                ::waitpid(p, nullptr, 0);
            }
    }
    bool up() const { return why_not.empty() && xvfb > 0 && wm > 0; }
} screen_server;

// A real mouse click at a point of the screen: it lands on whatever window is on top there.
void click_on_screen(const QPoint& global) {
    QProcess::execute(u"xdotool"_s, {u"mousemove"_s, QString::number(global.x()),
                                     QString::number(global.y()), u"click"_s, u"1"_s});
}

TEST(on_screen, a_message_box_comes_over_the_wait_window_and_its_button_takes_a_click) {
    if (!screen_server.up() || QGuiApplication::platformName() != u"xcb"_s)
        GTEST_SKIP() << "no X server with a window manager: " << screen_server.why_not;
    QTemporaryDir dir;
    w_main window;
    window.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.wait_window()->open_window();
    QTest::qWait(300);

    bool clicked_through = false;
    QTimer::singleShot(800, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        // For a look by eye: QM_SCREENSHOT_DIR=folder keeps a picture of the screen.
        if (const QByteArray to = qgetenv("QM_SCREENSHOT_DIR"); !to.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(to) +
                                                                 u"/message_over_wait.png"_s);
        // The box's OK button sits where the wait window lies too.
        click_on_screen(ok->mapToGlobal(ok->rect().center()));
        QTimer::singleShot(1500, [&, box = QPointer<QMessageBox>(box)] {
            if (box) box->reject(); // the click did not reach it: unblock, and fail below
        });
        clicked_through = true;
    });
    QElapsedTimer shown;
    shown.start();
    prompts().message(&window, u"提示"_s, u"文件清单已经存放在: \n\n/tmp/x.xls"_s);
    EXPECT_TRUE(clicked_through);
    EXPECT_LT(shown.elapsed(), 2000) << "the OK button did not take the click";
    window.wait_window()->close_window();
}

// The frame the window manager put round `window` (left, right, top, bottom), as it tells it
// on the window; nothing until it has. Qt's own frame geometry may miss a late frame.
std::optional<std::array<int, 4>> frame_extents(WId window) {
    QProcess p;
    p.start(u"xprop"_s, {u"-id"_s, QString::number(window), u"_NET_FRAME_EXTENTS"_s});
    if (!p.waitForFinished()) return std::nullopt;
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const qsizetype eq = out.indexOf(u'=');
    if (eq < 0) return std::nullopt;
    const QStringList parts = out.sliced(eq + 1).split(u',');
    if (parts.size() != 4) return std::nullopt;
    std::array<int, 4> e{};
    for (int i = 0; i < 4; ++i) e[static_cast<std::size_t>(i)] = parts[i].trimmed().toInt();
    return e;
}

TEST(on_screen, dialogs_show_their_controls_whole_and_nothing_below_them) {
    if (!screen_server.up() || QGuiApplication::platformName() != u"xcb"_s)
        GTEST_SKIP() << "no X server with a window manager: " << screen_server.why_not;
    QTemporaryDir dir;
    globals().is_program_path = dir.path() + u'/';
    const std::function<QDialog*()> dialogs[] = {[] { return new w_disk_area; },
                                                 [] { return new w_file_type; }};
    for (const auto& make : dialogs) {
        std::unique_ptr<QDialog> dialog(make());
        const std::string name = dialog->objectName().toStdString();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get())) << name;
        std::optional<std::array<int, 4>> extents;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return (extents = frame_extents(dialog->winId())).has_value();
        })) << name
            << ": no frame";
        if (const QByteArray to = qgetenv("QM_SCREENSHOT_DIR"); !to.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QString::fromLocal8Bit(to) + u"/"_s + dialog->objectName() + u".png"_s);
        // A frame that can be resized carries a handle along its bottom edge: a strip that
        // reads as a control cut off. The frame below must be no deeper than at the sides.
        const auto [left, right, top, bottom] = *extents;
        EXPECT_EQ(bottom, left) << name;
        for (const QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isVisible()) {
                EXPECT_TRUE(dialog->rect().contains(w->geometry()))
                    << name << " " << w->objectName().toStdString();
            }
        }
        dialog->reject();
    }
}

} // namespace
