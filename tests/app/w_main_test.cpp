#include "app/main/w_main.h"

#include "app/main/scan_dialogs.h"
#include "app/shell/settings_file.h"
#include "app/shell/w_wait_for3.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/list_file.h"
#include "catalogue/ui/d_file_info_simp_model.h"
#include "catalogue/ui/d_file_info_simp_view.h"
#include "catalogue/ui/w_file_type.h"
#include "retrieval/core/removable_volumes.h"
#include "retrieval/ui/d_file_pic_view.h"
#include "retrieval/ui/w_player.h"
#include "search/core/query_engine.h"
#include "search/ui/w_file_type_query.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_desktop.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/typing.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

struct entry {
    QString withno;
    QString pinyin;
    QString ext = u".mp3"_s;
    QString folder = u"/music/"_s;
    std::int64_t size_cents = 150;
};

void write_catalogue(const QString& folder, const std::vector<entry>& entries) {
    record_set rs;
    for (const auto& e : entries) {
        const long r = rs.insertrow(0);
        rs.set_long(r, col_machineid, static_cast<std::int32_t>(r));
        rs.set_text(r, col_filename, e.withno);
        rs.set_text(r, col_fileext, e.ext);
        rs.set_text(r, col_filepath, QString(e.folder + e.withno + e.ext));
        rs.set_text(r, col_pinyinma, e.pinyin);
        rs.set_decimal(r, col_filesizedec, decimal2{e.size_cents});
        rs.set_text(r, col_filenamewithno, e.withno);
    }
    ASSERT_TRUE(save_catalogue_file(rs, folder + u"/"_s + catalogue_file_name));
}

class main_window : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    recording_prompts answers;
    std::unique_ptr<w_main> window;

    void open() {
        window = std::make_unique<w_main>();
        window->open_event(dir.path());
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window->event_log().contains(u"start message"_s); }, 5000));
    }

    // The offscreen platform leaves no window active once the wait window has gone.
    void focus_condition_box() {
        window->activateWindow();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return QApplication::activeWindow() == window.get(); }, 2000));
        window->ddlb_1()->lineEdit()->setFocus();
        ASSERT_TRUE(window->ddlb_1()->lineEdit()->hasFocus());
    }

    // Types like a user, then waits for the query the quiet time posts.
    void type_and_wait(const QString& text) {
        QSignalSpy done(window.get(), &w_main::query_done);
        type_text(window->ddlb_1()->lineEdit(), text);
        ASSERT_TRUE(done.wait(3000)) << text.toStdString();
    }

    void clear() {
        window->cb_clear_clicked();
        window->timer().stop();
    }

    QStringList listed() const {
        QStringList out;
        for (long r = 1; r <= window->dw_1_rows().rowcount(); ++r)
            out << window->dw_1_rows().getitemstring(r, col_filenamewithno);
        return out;
    }
};

TEST_F(main_window, starts_in_order_loads_the_catalogue_and_shows_the_start_message) {
    write_catalogue(dir.path(), {{u"1002-我的爱人"_s, u"wdar"_s}, {u"1003-你"_s, u"n"_s}});
    open();
    // The counter refresh the emptying posts may run while the load lets events through.
    QStringList log = window->event_log();
    log.removeAll(u"ue_down_qty"_s);
    EXPECT_EQ(log, (QStringList{u"ue_create_dir"_s, u"cb_clear_downpath"_s, u"ue_load_file"_s,
                                u"start message"_s}));
    EXPECT_EQ(window->st_scaned_qty()->text(), u"2个"_s);
    EXPECT_EQ(window->ddlb_1()->currentText(), w_main::help_lines().first());
    EXPECT_EQ(window->ddlb_1()->count(), 13);
    EXPECT_EQ(answers.messages.size(), 1);
    EXPECT_TRUE(window->rb_default()->isChecked());
    EXPECT_EQ(window->dw_1_rows().rowcount(), 0) << "the list stays empty until a query";
    EXPECT_FALSE(window->wait_window()->isVisible());
    EXPECT_FALSE(window->windowIcon().pixmap(32).isNull()) << "the application's icon";
}

TEST_F(main_window, no_catalogue_or_a_heading_alone_shows_zero) {
    open();
    EXPECT_EQ(window->st_scaned_qty()->text(), u"0个"_s);
    write_catalogue(dir.path(), {});
    open();
    EXPECT_EQ(window->st_scaned_qty()->text(), u"0个"_s);
}

TEST_F(main_window, a_corrupt_catalogue_loads_its_good_records) {
    const QString good = u"1\tok\t.mp3\t\t/m/ok.mp3\tok\t1.50\t0\tok\r\n"_s;
    QByteArray bytes = utf16le(u"heading\r\n"_s + good + u"garbage\x01\t\r\n"_s + good, true);
    bytes.append(QByteArray(333, '\xFF'));
    write_all_bytes(dir.path() + u"/"_s + catalogue_file_name, bytes);
    open();
    EXPECT_EQ(window->st_scaned_qty()->text(), u"2个"_s);
}

TEST_F(main_window, the_player_setting_chooses_the_radio_button) {
    struct case_t {
        const char* ini;
        bool builtin;
    };
    const case_t cases[] = {{"[mediaplay]\nplayer=0\n", false},
                            {"[mediaplay]\nplayer=1\n", true},
                            {"[mediaplay]\nplayer=7\n", true},
                            {"[MediaPlay]\nPLAYER=x\n", false}};
    for (const auto& c : cases) {
        write_all_bytes(dir.path() + u"/quellmark.ini"_s, c.ini);
        open();
        EXPECT_EQ(window->rb_baofeng()->isChecked(), c.builtin) << c.ini;
        EXPECT_EQ(window->rb_default()->isChecked(), !c.builtin) << c.ini;
    }
    // Clicking a radio button writes the choice at once.
    window->rb_default()->click();
    EXPECT_EQ(settings_file(dir.path() + u"/quellmark.ini"_s).read_int(u"mediaplay", u"player", 9),
              0);
    window->rb_baofeng()->click();
    EXPECT_EQ(settings_file(dir.path() + u"/quellmark.ini"_s).read_int(u"mediaplay", u"player", 9),
              1);
}

TEST_F(main_window, typing_filters_after_the_quiet_time) {
    write_catalogue(dir.path(), {{u"1002-我的爱人"_s, u"wdar"_s},
                                 {u"1003-你的爱"_s, u"nda"_s},
                                 {u"中 Don't Stop"_s, u"z Don't Stop"_s}});
    open();
    clear();
    type_and_wait(u"wd"_s);
    EXPECT_EQ(listed(), QStringList{u"1002-我的爱人"_s});
    EXPECT_EQ(window->st_query_note()->text(), query_notes::all_shown);

    clear();
    type_and_wait(u"的 爱"_s);
    EXPECT_EQ(listed(), (QStringList{u"1002-我的爱人"_s, u"1003-你的爱"_s}));

    clear();
    type_and_wait(u"中 Don't"_s);
    EXPECT_EQ(listed(), QStringList{u"中 Don't Stop"_s});

    clear();
    type_and_wait(u"100"_s);
    EXPECT_EQ(listed().size(), 2);

    clear();
    type_and_wait(u"Xy"_s); // a capital other than P sets no filter: the last one shows again
    EXPECT_EQ(listed().size(), 2);

    window->st_query_note()->setText(u"previous"_s);
    clear();
    window->ddlb_1()->setEditText(u"{"_s); // set, not typed: no note
    type_and_wait(u"x"_s);
    EXPECT_TRUE(listed().isEmpty()) << "no name holds the brace";
    EXPECT_EQ(window->st_query_note()->text(), u"previous"_s) << "zero matches keep the note";
}

TEST_F(main_window, one_character_waits_but_a_running_timer_still_queries_it) {
    write_catalogue(dir.path(), {{u"ab"_s, u"ab"_s}, {u"ac"_s, u"ac"_s}, {u"b"_s, u"b"_s}});
    open();
    clear();
    type_text(window->ddlb_1()->lineEdit(), u"a"_s);
    EXPECT_EQ(window->st_query_note()->text(), query_notes::too_short);
    EXPECT_FALSE(window->timer().isActive());

    QSignalSpy done(window.get(), &w_main::query_done);
    type_text(window->ddlb_1()->lineEdit(), u"b"_s);
    QTest::keyClick(window->ddlb_1()->lineEdit(), Qt::Key_Backspace);
    ASSERT_TRUE(done.wait(3000));
    EXPECT_EQ(listed(), (QStringList{u"ab"_s, u"ac"_s}));
}

TEST_F(main_window, show_all_runs_at_once_and_blank_first_waits_for_enter) {
    std::vector<entry> many;
    for (int i = 0; i < 150; ++i) many.push_back({u"n"_s + QString::number(1000 + i), u"n"_s});
    write_catalogue(dir.path(), many);
    open();
    clear();
    type_text(window->ddlb_1()->lineEdit(), u">>"_s);
    EXPECT_EQ(window->dw_1_rows().rowcount(), 150);
    EXPECT_EQ(window->st_query_note()->text(), query_notes::want_all);
    EXPECT_FALSE(window->timer().isActive());

    clear();
    type_text(window->ddlb_1()->lineEdit(), u" 1001 1003"_s);
    EXPECT_FALSE(window->timer().isActive());
    QTest::qWait(400);
    EXPECT_EQ(window->dw_1_rows().rowcount(), 150) << "nothing ran before Enter";
    QSignalSpy done(window.get(), &w_main::query_done);
    QTest::keyClick(window->ddlb_1()->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(done.wait(3000));
    EXPECT_EQ(listed(), (QStringList{u"n1001"_s, u"n1003"_s}));

    clear();
    type_and_wait(u"10"_s);
    EXPECT_EQ(window->dw_1_rows().rowcount(), 100);
    EXPECT_EQ(window->st_query_note()->text(), query_notes::over_limit);
}

TEST_F(main_window, enter_with_one_row_downloads_it_and_empties_the_condition) {
    write_catalogue(dir.path(), {{u"ab"_s, u"ab"_s}, {u"ac"_s, u"ac"_s}});
    open();
    clear();
    type_and_wait(u"ab"_s);
    QSignalSpy clicks(window->dw_1(), &d_file_info_simp_view::clicked);
    QTest::keyClick(window->ddlb_1()->lineEdit(), Qt::Key_Return);
    ASSERT_EQ(clicks.size(), 1);
    EXPECT_EQ(clicks[0][0].toLongLong(), 1);
    EXPECT_EQ(clicks[0][1].toString(), u"b_down"_s);
    EXPECT_TRUE(window->ddlb_1()->currentText().isEmpty());
    EXPECT_EQ(window->dw_1_rows().rowcount(), 1);
}

TEST_F(main_window, alt_x_clears_at_once_and_keeps_every_key_typed_next) {
    write_catalogue(dir.path(), {{u"ab"_s, u"ab"_s}});
    open();
    clear();
    type_and_wait(u"ab"_s);
    focus_condition_box();
    QLineEdit* edit = window->ddlb_1()->lineEdit();
    // Keys queued behind ALT+X (a scan delivers them in a burst) come right after it.
    QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(window->ddlb_1()->currentText().isEmpty());
    EXPECT_EQ(window->dw_1_rows().rowcount(), 1);
    type_text(edit, u"wdar"_s);
    QTest::qWait(200);
    EXPECT_EQ(window->ddlb_1()->currentText(), u"wdar"_s);
}

TEST_F(main_window, every_control_is_whole_at_the_minimum_size_and_paths_take_spare_width) {
    open();
    // The longest texts the bottom row's labels show.
    window->findChild<QLabel*>(u"st_query_note"_s)->setText(query_notes::too_short);
    window->findChild<QLabel*>(u"st_scaned_qty"_s)->setText(u"12345678个"_s);
    for (const int width : {window->minimumWidth(), 1024, 1600}) {
        window->resize(width, std::max(window->minimumHeight(), 600));
        QCoreApplication::processEvents();
        for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!w->isVisible() || w == window->dw_2() || w->objectName().startsWith(u"p_"_s))
                continue;
            EXPECT_LE(w->geometry().right(), window->width())
                << width << " " << w->objectName().toStdString();
            if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)) &&
                w->y() > window->height() / 2) {
                EXPECT_GE(w->width(), w->sizeHint().width())
                    << width << " " << w->objectName().toStdString();
            }
        }
    }
    QTableView* table = window->dw_1()->table();
    int columns = 0;
    for (int c = 0; c < table->model()->columnCount(); ++c) columns += table->columnWidth(c);
    EXPECT_GE(columns, table->viewport()->width() - 2) << "the path column takes the spare width";
}

TEST_F(main_window, tab_visits_only_the_controls_of_the_tab_order_and_leaves_the_list) {
    write_catalogue(dir.path(), {{u"1201-歌"_s, u"g"_s},
                                 {u"1302-歌"_s, u"g"_s},
                                 {u"p1"_s, u"p"_s, u".jpg"_s},
                                 {u"p2"_s, u"p"_s, u".jpg"_s}});
    open();
    window->cb_open_custdir()->setEnabled(true);
    QTableView* table = window->dw_1()->table();
    const auto name = [&](QWidget* w) {
        return !w                                    ? u"none"_s
               : w == table                          ? u"dw_1"_s
               : w->parentWidget() == window->dw_2() ? u"dw_2"_s
               : w == window->ddlb_1()->lineEdit()   ? u"ddlb_1"_s
                                                     : w->objectName();
    };
    // Tab pressed from the condition box until it comes round again; then Shift+Tab from
    // the list's first cell.
    const auto tab_round = [&] {
        focus_condition_box();
        QStringList order{u"ddlb_1"_s};
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (name(QApplication::focusWidget()) == order.first()) break;
            order << name(QApplication::focusWidget());
        }
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 0));
        QTest::keyClick(table, Qt::Key_Backtab);
        return order << u"back to "_s + name(QApplication::focusWidget());
    };
    for (const QString& condition : {u">>"_s, u"PPPP"_s}) {
        window->ddlb_1()->setEditText(condition);
        window->ue_query();
        ASSERT_GE(window->dw_1_rows().rowcount(), 2) << condition.toStdString();
        // The parked picture panel is out of sight and takes no Tab.
        QStringList expected{u"ddlb_1"_s, u"cb_query"_s, u"cb_fileext"_s, u"dw_1"_s};
        if (window->ib_show_pic()) expected << u"dw_2"_s;
        expected << u"cb_open_custdir"_s << u"cb_selectdir"_s << u"back to cb_fileext"_s;
        EXPECT_EQ(tab_round(), expected) << condition.toStdString();
    }
}

TEST_F(main_window, the_condition_box_holds_exactly_what_is_typed_into_it) {
    write_catalogue(dir.path(), {{u"1201-歌"_s, u"g"_s}, {u"1302-歌"_s, u"g"_s}});
    open();
    focus_condition_box();
    QLineEdit* edit = window->ddlb_1()->lineEdit();
    const QString help = w_main::help_lines().first();
    // However the caret arrives on the help line shown at start, typing replaces it; and
    // no help line completes what is typed ("12" begins help line 12).
    const std::function<void()> arrivals[] = {
        [&] { QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center()); },
        [&] { QTest::keyClick(window->cb_query(), Qt::Key_Backtab, Qt::ShiftModifier); }};
    for (const auto& arrive : arrivals) {
        SCOPED_TRACE(&arrive - arrivals);
        window->ddlb_1()->setEditText(help);
        window->cb_query()->setFocus();
        arrive();
        ASSERT_TRUE(edit->hasFocus());
        QCoreApplication::processEvents();
        EXPECT_EQ(edit->selectedText(), help);
        type_and_wait(u"12"_s);
        EXPECT_EQ(window->ddlb_1()->currentText(), u"12"_s);
        EXPECT_EQ(listed(), QStringList{u"1201-歌"_s});
    }
}

TEST_F(main_window, picture_conditions_bring_the_panel_into_view_and_others_park_it) {
    write_catalogue(
        dir.path(),
        {{u"p1"_s, u"p"_s, u".jpg"_s}, {u"s1"_s, u"s"_s, u".mp3"_s}, {u"p2"_s, u"p"_s, u".gif"_s}});
    open();
    window->resize(1000, 700);
    clear();
    type_and_wait(u"PPPP"_s);
    EXPECT_TRUE(window->ib_show_pic());
    EXPECT_EQ(listed(), (QStringList{u"p1"_s, u"p2"_s}));
    EXPECT_LT(window->dw_2()->x(), window->width());
    clear();
    type_and_wait(u"PGIF"_s);
    EXPECT_EQ(listed(), QStringList{u"p2"_s});
    clear();
    type_and_wait(u"s1"_s);
    EXPECT_FALSE(window->ib_show_pic());
    EXPECT_GE(window->dw_2()->x(), window->width());
}

class cancelled_scan : public scan_dialogs {
  public:
    cancelled_scan() { set_scan_dialogs(this); }
    ~cancelled_scan() override { set_scan_dialogs(nullptr); }
    void disk_area(QWidget*) override { ++opened; }
    int file_type(QWidget*) override { return -1; }
    int opened = 0;
};

TEST_F(main_window, function_keys_run_their_commands) {
    write_catalogue(dir.path(), {{u"ab"_s, u"ab"_s}, {u"ac"_s, u"ac"_s}});
    cancelled_scan scans;
    open();
    QSignalSpy clicks(window->dw_1(), &d_file_info_simp_view::clicked);
    auto press = [&](Qt::Key key) {
        QTest::keyClick(window->ddlb_1()->lineEdit(), key);
        QCoreApplication::processEvents();
    };

    // The first F1 clears the condition even with the caret already in it.
    window->ddlb_1()->lineEdit()->setFocus();
    press(Qt::Key_F1);
    QTest::qWait(10);
    EXPECT_TRUE(window->ddlb_1()->currentText().isEmpty());
    EXPECT_EQ(window->ii_last_focus_control(), 2);
    window->ue_keydown(Qt::Key_F1);
    EXPECT_EQ(window->ii_last_focus_control(), 1);

    window->ddlb_1()->setEditText(u"ab"_s);
    window->ue_query();
    ASSERT_EQ(window->dw_1_rows().rowcount(), 1);

    window->ue_keydown(Qt::Key_F3); // no current row: nothing
    EXPECT_EQ(clicks.size(), 0);
    window->dw_1()->setrow(1);
    QTest::keyClick(window->dw_1()->table(), Qt::Key_F3); // bound on the list too
    ASSERT_EQ(clicks.size(), 1);
    EXPECT_EQ(clicks[0][0].toLongLong(), 1);
    EXPECT_EQ(clicks[0][1].toString(), u"b_down"_s);
    press(Qt::Key_F2);
    ASSERT_EQ(clicks.size(), 2);
    EXPECT_EQ(clicks[1][0].toLongLong(), 0);
    EXPECT_EQ(clicks[1][1].toString(), u"b_downall"_s);

    window->ddlb_1()->setEditText(u"ac"_s); // a new result: nothing picked in it yet
    window->ue_query();
    EXPECT_EQ(window->dw_1()->getrow(), 0);
    window->ue_keydown(Qt::Key_F3);
    EXPECT_EQ(clicks.size(), 2);

    for (const auto key : {Qt::Key_F6, Qt::Key_F7, Qt::Key_F9, Qt::Key_F10, Qt::Key_F11})
        press(key);
    EXPECT_EQ(clicks.size(), 2);

    const qsizetype before = window->event_log().count(u"cb_clear_downpath"_s);
    press(Qt::Key_F12);
    EXPECT_EQ(window->event_log().count(u"cb_clear_downpath"_s), before + 1);
    press(Qt::Key_F4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scans.opened == 1; }, 2000));

    // F8 chooses the custom folder: the chooser offers the cards, and opens at the only one
    // or else where the last choice was.
    const QStringList cards = removable_volume_roots();
    answers.next_folder = dir.path();
    for (const int chosen : {1, 2}) {
        press(Qt::Key_F8);
        ASSERT_TRUE(QTest::qWaitFor([&] { return answers.choosers.size() == chosen; }, 2000));
    }
    EXPECT_EQ(answers.chooser_side_bar, cards + QStringList({QDir::homePath(), u"/"_s}));
    if (cards.size() != 1) {
        EXPECT_EQ(answers.chooser_starts, (QStringList{QDir::homePath(), dir.path() + u"/"_s}));
    }
}

TEST_F(main_window, row_buttons_listen_where_the_choice_says_and_download_to_the_default_folder) {
    const QString music = dir.path() + u"/music/"_s;
    write_all_bytes(music + u"g1.mp3"_s, QByteArray(3000, 'a'));
    write_all_bytes(music + u"g2.wma"_s, QByteArray(10, 'b'));
    write_catalogue(dir.path(), {{u"g1"_s, u"gq"_s, u".mp3"_s, music},
                                 {u"g2"_s, u"gq"_s, u".wma"_s, music},
                                 {u"g3"_s, u"gq"_s, u".mp3"_s, music}});
    recording_desktop desktop;
    open();
    answers.messages.clear();
    clear();
    type_and_wait(u"gq"_s);
    ASSERT_EQ(window->dw_1_rows().rowcount(), 3);
    auto click = [&](long row, const QString& object) {
        window->dw_1()->trigger_clicked(row, object);
    };

    click(3, u"b_ting"_s);
    EXPECT_EQ(answers.messages,
              QStringList{u"提示 | 源文件不存在!检查是否接上了磁盘\n或者考虑需要重新扫描!"_s});
    click(1, u"b_ting"_s);
    click(2, u"b_ting"_s);
    EXPECT_EQ(desktop.files, (QStringList{music + u"g1.mp3"_s, music + u"g2.wma"_s}));
    EXPECT_EQ(window->dw_1()->getrow(), 2) << "the clicked row becomes the current one";

    window->rb_baofeng()->click();
    click(2, u"b_ting"_s);
    EXPECT_EQ(desktop.files.size(), 3) << ".wma still goes to the desktop";
    EXPECT_EQ(w_player::instance(), nullptr);
    click(1, u"b_ting"_s);
    ASSERT_NE(w_player::instance(), nullptr);
    EXPECT_EQ(w_player::instance()->windowTitle(), u"青石坊播放器—g1.mp3"_s);
    // Any press in the list minimises the player: a cell, empty space, a heading.
    QTableView* table = window->dw_1()->table();
    const std::function<void()> presses[] = {
        [&] { click(2, u"filename"_s); },
        [&] {
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              {5, table->viewport()->height() - 5});
        },
        [&] {
            QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {},
                              {table->columnViewportPosition(1) + 5, 5});
        }};
    for (const auto& press : presses) {
        w_player::instance()->showNormal();
        press();
        EXPECT_TRUE(w_player::instance()->isMinimized()) << &press - presses;
    }
    w_player::instance()->close();
    QCoreApplication::processEvents();

    click(1, u"b_down"_s);
    EXPECT_EQ(read_all_bytes(window->is_down_path() + u"g1.mp3"_s), QByteArray(3000, 'a'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->st_down_qty()->text() == u"[1]"_s; }, 2000));
}

// The grid holds a screenful; keys, the bar and the wheel still reach every row, and clicks
// there name rows of the whole result.
TEST_F(main_window, a_long_result_is_reached_to_its_end_by_keys_bar_and_wheel) {
    constexpr long rows = 120'000;
    std::vector<entry> many;
    many.reserve(rows);
    for (long i = 0; i < rows; ++i) many.push_back({u"n"_s + QString::number(i), u"n"_s});
    write_catalogue(dir.path(), many);
    open();
    window->resize(1000, 700);
    clear();
    type_text(window->ddlb_1()->lineEdit(), u">>"_s);
    ASSERT_EQ(window->dw_1_rows().rowcount(), rows);
    QCoreApplication::processEvents();
    d_file_info_simp_view* list = window->dw_1();
    QTableView* table = list->table();
    auto* shown = list->model();
    QScrollBar* bar = table->verticalScrollBar();
    EXPECT_LT(shown->rowCount(), 100) << "only the rows on screen are model rows";
    const int on_screen =
        table->viewport()->height() / table->verticalHeader()->defaultSectionSize();
    EXPECT_EQ(bar->maximum(), rows - on_screen);
    QSignalSpy clicks(list, &d_file_info_simp_view::clicked);
    // Clicks a cell of the result row `row`, which must be on screen.
    auto click_row = [&](long row) {
        const int m = shown->model_row(row);
        ASSERT_GE(m, 0) << row;
        const QRect cell =
            table->visualRect(shown->index(m, d_file_info_simp_model::shown_filename));
        ASSERT_TRUE(table->viewport()->rect().contains(cell)) << row << " wholly on screen";
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    };
    auto red = [&](long row) {
        return shown->data(shown->index(shown->model_row(row), 0), Qt::ForegroundRole) ==
               QColor(255, 0, 0);
    };

    table->setFocus();
    QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(list->getrow(), rows);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(red(rows));
    click_row(rows - 3);
    ASSERT_EQ(clicks.size(), 1);
    EXPECT_EQ(clicks[0][0].toLongLong(), rows - 3);
    EXPECT_EQ(clicks[0][1].toString(), u"filename"_s);
    EXPECT_EQ(list->getrow(), rows - 3);
    EXPECT_TRUE(red(rows - 3));
    EXPECT_FALSE(red(rows));
    EXPECT_EQ(window->dw_1_rows().getitemstring(list->getrow(), col_filenamewithno),
              u"n"_s + QString::number(rows - 4));
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_PageUp);
    EXPECT_EQ(list->getrow(), rows - 2 - on_screen);
    EXPECT_GE(shown->model_row(list->getrow()), 0);
    QTest::keyClick(table, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(list->getrow(), 1);
    EXPECT_EQ(bar->value(), 0);

    // The bar to the middle, the wheel a little further down: a click lands on what is shown.
    bar->setValue(rows / 2);
    QWheelEvent wheel({50, 50}, table->viewport()->mapToGlobal(QPointF(50, 50)), {}, {0, -120},
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(table->viewport(), &wheel);
    EXPECT_GT(bar->value(), rows / 2);
    const long top = bar->value() + 1;
    click_row(top + 1);
    EXPECT_EQ(clicks.last()[0].toLongLong(), top + 1);
    EXPECT_EQ(list->getrow(), top + 1);
    EXPECT_EQ(window->dw_1_rows().getitemstring(top + 1, col_filenamewithno),
              u"n"_s + QString::number(top));
    // Rows far off screen are made current and shown.
    list->setrow(rows - 100);
    EXPECT_GE(shown->model_row(rows - 100), 0);
    EXPECT_TRUE(red(rows - 100));

    clear();
    type_and_wait(u"n1"_s);
    EXPECT_EQ(list->getrow(), 0) << "a new result has no current row";
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(table->selectionModel()->hasSelection());
}

TEST_F(main_window, in_picture_mode_a_row_click_pages_the_preview_and_a_double_click_downloads) {
    const QString pics = dir.path() + u"/pics/"_s;
    ASSERT_TRUE(QDir().mkpath(pics));
    std::vector<entry> entries;
    for (int i = 1; i <= 3; ++i) {
        const QString name = u"p"_s + QString::number(i);
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        ASSERT_TRUE(image.save(pics + name + u".jpg"_s, "JPG"));
        entries.push_back({name, u"p"_s, u".jpg"_s, pics, 50});
    }
    write_catalogue(dir.path(), entries);
    open();
    clear();
    type_and_wait(u"PPPP"_s);
    ASSERT_TRUE(window->ib_show_pic());
    d_file_pic_view* panel = window->dw_2();

    window->dw_1()->trigger_clicked(2, u"b_down"_s);
    EXPECT_EQ(panel->t_note()->text(), u"当前起始行: 2"_s);
    EXPECT_EQ(panel->slot(1)->tag(), u"p2.jpg"_s);
    EXPECT_EQ(panel->slot(2)->tag(), u"p3.jpg"_s);
    EXPECT_EQ(panel->slot(3)->shows(), pic_slot::kind::nofile);
    EXPECT_TRUE(QDir(window->is_down_path()).entryList(QDir::Files).isEmpty())
        << "the row buttons do nothing in picture mode";

    QTest::mouseDClick(panel->slot(1), Qt::LeftButton);
    EXPECT_EQ(panel->slot(1)->width_units(), 400);
    EXPECT_TRUE(QFileInfo::exists(window->is_down_path() + u"p2.jpg"_s));
    QTest::mouseDClick(panel->slot(3), Qt::LeftButton);
    EXPECT_EQ(QDir(window->is_down_path()).entryList(QDir::Files), QStringList{u"p2.jpg"_s})
        << "a placeholder is never copied";
    QTest::qWait(50);
    EXPECT_EQ(window->st_down_qty()->text(), u"[1]"_s) << "nor counted";
}
TEST_F(main_window, an_unticked_type_is_found_by_no_search_until_ticked_again) {
    ASSERT_TRUE(write_list_file(dir.filePath(file_type_list_name.toString()),
                                {u"diskarea"_s, u"checkit"_s},
                                {{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}}));
    write_catalogue(dir.path(), {{u"g1"_s, u"gq"_s, u".mp3"_s}, {u"g2"_s, u"gq"_s, u".wma"_s}});
    open();
    auto confirm_wma = [&](bool ticked) {
        window->findChild<QPushButton*>(u"cb_fileext"_s)->click();
        QPointer<w_file_type_query> types = w_file_type_query::instance();
        ASSERT_NE(types, nullptr);
        types->set_ticked(1, ticked);
        types->cb_3()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(types.isNull());
    };
    confirm_wma(false);
    EXPECT_EQ(window->st_scaned_qty()->text(), u"1个"_s);
    clear();
    type_and_wait(u"gq"_s);
    EXPECT_EQ(listed(), QStringList{u"g1"_s});

    confirm_wma(true);
    EXPECT_EQ(window->st_scaned_qty()->text(), u"2个"_s);
    clear();
    type_and_wait(u"gq"_s);
    EXPECT_EQ(listed(), (QStringList{u"g2"_s, u"g1"_s})) << "records set aside come back first";
}

} // namespace
