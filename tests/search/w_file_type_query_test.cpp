#include "search/ui/w_file_type_query.h"

#include "app/shell/app_globals.h"
#include "catalogue/core/list_file.h"
#include "search/core/file_type_query_target.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

using rows = std::vector<QStringList>;

struct fake_main : file_type_query_target {
    record_set rs;
    bool open = true;
    int resets = 0;
    QStringList counts;

    bool main_window_open() const override { return open; }
    record_set& catalogue() override { return rs; }
    void reset_result_list() override { ++resets; }
    void set_scaned_qty(const QString& text) override { counts << text; }
};

class file_type_query : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    recording_prompts answers;
    fake_main main;

    void SetUp() override {
        globals().is_program_path = dir.path() + u"/"_s;
        // Catalogue order: song1.mp3 clip.wma song2.mp3 film.avi talk.wma
        for (const auto& [name, ext] : {std::pair{u"song1"_s, u".mp3"_s},
                                        {u"clip"_s, u".wma"_s},
                                        {u"song2"_s, u".mp3"_s},
                                        {u"film"_s, u".avi"_s},
                                        {u"talk"_s, u".wma"_s}}) {
            const long r = main.rs.insertrow(0);
            main.rs.set_text(r, col_filename, name);
            main.rs.set_text(r, col_fileext, ext);
        }
    }
    void TearDown() override { delete w_file_type_query::instance(); }

    QString types_path() const { return dir.filePath(u"quellmark_filetype.dll"_s); }
    QString query_path() const { return dir.filePath(u"quellmark_filetypequery.dll"_s); }
    static void write_list(const QString& path, const rows& types) {
        ASSERT_TRUE(write_list_file(path, {u"diskarea"_s, u"checkit"_s}, types));
    }
    w_file_type_query* open() { return w_file_type_query::open_or_raise(main); }
    static QStringList shown(const w_file_type_query* w) {
        QStringList out;
        for (int r = 0; r < w->dw_1()->rowCount(); ++r)
            out << w->dw_1()->item(r, 0)->text() + (w->ticked(r) ? u"+"_s : u"-"_s);
        return out;
    }
    // The catalogue's visible names, in order.
    QStringList visible() const {
        QStringList out;
        for (long r = 1; r <= main.rs.rowcount(); ++r)
            out << main.rs.getitemstring(r, col_filename);
        return out;
    }
    static bool closed_after_events(QPointer<w_file_type_query> w) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return w.isNull() && w_file_type_query::instance() == nullptr;
    }
};

TEST_F(file_type_query, opens_with_the_types_of_the_latest_scan_all_ticked) {
    write_list(types_path(), {{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}});
    w_file_type_query* w = open();
    EXPECT_EQ(w->windowTitle(), u"设置扫描的文件类型"_s);
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(w->dw_1()->horizontalHeaderItem(0)->text(), u"*不检索的格式去勾"_s);
    EXPECT_EQ(w->cb_1()->text(), u"载入最新扫描格式"_s);
    EXPECT_EQ(w->cb_2()->text(), u"载入当前格式"_s);
    EXPECT_EQ(w->cb_3()->text(), u"确认"_s);
    EXPECT_EQ(shown(w), (QStringList{u".mp3+"_s, u".wma+"_s}));
    EXPECT_EQ(w_file_type_query::open_or_raise(main), w); // one instance
}

TEST_F(file_type_query, its_own_list_comes_first_and_a_missing_mark_counts_as_ticked) {
    write_list(types_path(), {{u".mp3"_s, u"1"_s}});
    write_list(query_path(), {{u".avi"_s, u"0"_s}, {u".wma"_s}, {u".ogg"_s, u"x"_s}});
    EXPECT_EQ(shown(open()), (QStringList{u".avi-"_s, u".wma+"_s, u".ogg+"_s}));
}

TEST_F(file_type_query, unticking_sets_a_type_aside_and_ticking_brings_it_back) {
    write_list(types_path(), {{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}});
    QPointer<w_file_type_query> w = open();
    w->set_ticked(1, false);
    w->cb_3()->click();
    EXPECT_EQ(visible(), (QStringList{u"song1"_s, u"song2"_s, u"film"_s}));
    EXPECT_EQ(main.rs.setasidecount(), 2);
    EXPECT_TRUE(main.rs.filter_text().isEmpty());
    EXPECT_EQ(main.counts, QStringList{u"3个"_s});
    EXPECT_EQ(main.resets, 1);
    EXPECT_EQ(read_list_file(query_path()), (rows{{u".mp3"_s, u"1"_s}, {u".wma"_s, u"0"_s}}));
    EXPECT_TRUE(closed_after_events(w));
    // No query finds them any more.
    ASSERT_EQ(main.rs.setfilter(u"fileext = '.wma'"), 1);
    main.rs.filter();
    EXPECT_EQ(main.rs.rowcount(), 0);

    w = open();
    EXPECT_EQ(shown(w), (QStringList{u".mp3+"_s, u".wma-"_s}));
    w->set_ticked(1, true);
    w->cb_3()->click();
    EXPECT_EQ(main.rs.setasidecount(), 0);
    EXPECT_EQ(main.rs.rowcount(), 5); // the query filter is cleared too
    EXPECT_EQ(main.counts.last(), u"5个"_s);
    EXPECT_EQ(read_list_file(query_path()), (rows{{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}}));
    EXPECT_TRUE(closed_after_events(w));
}

TEST_F(file_type_query, each_confirmation_starts_from_the_whole_catalogue) {
    write_list(query_path(), {{u".mp3"_s, u"0"_s}, {u".wma"_s, u"1"_s}, {u".avi"_s, u"1"_s}});
    open()->cb_3()->click();
    EXPECT_EQ(visible(), (QStringList{u"clip"_s, u"film"_s, u"talk"_s}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Another type unticked instead: the first comes back (ahead of the rest), the new one goes.
    w_file_type_query* w = open();
    w->set_ticked(0, true);
    w->set_ticked(2, false);
    w->set_ticked(1, false);
    EXPECT_EQ(w->exclusion_expression(), u"fileext = '.wma' or fileext = '.avi'"_s);
    w->cb_3()->click();
    EXPECT_EQ(visible(), (QStringList{u"song1"_s, u"song2"_s}));
    EXPECT_EQ(main.rs.setasidecount(), 3);
    EXPECT_EQ(main.counts.last(), u"2个"_s);
}

TEST_F(file_type_query, twice_unticked_and_quoted_types_are_handled) {
    const long r = main.rs.insertrow(0);
    main.rs.set_text(r, col_filename, u"odd"_s);
    main.rs.set_text(r, col_fileext, u".it's"_s);
    write_list(query_path(), {{u".wma"_s, u"0"_s}, {u".it's"_s, u"0"_s}, {u".wma"_s, u"0"_s}});
    w_file_type_query* w = open();
    EXPECT_EQ(w->exclusion_expression(),
              u"fileext = '.wma' or fileext = '.it''s' or fileext = '.wma'"_s);
    w->cb_3()->click();
    EXPECT_EQ(visible(), (QStringList{u"song1"_s, u"song2"_s, u"film"_s}));
    EXPECT_EQ(main.rs.setasidecount(), 3);
}

TEST_F(file_type_query, an_empty_grid_or_a_closed_main_window_does_nothing) {
    QPointer<w_file_type_query> w = open();
    ASSERT_EQ(w->dw_1()->rowCount(), 0);
    w->cb_3()->click();
    EXPECT_FALSE(closed_after_events(w));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(main.resets, 0);
    EXPECT_TRUE(main.counts.isEmpty());
    EXPECT_FALSE(QFile::exists(query_path()));

    write_list(types_path(), {{u".mp3"_s, u"0"_s}});
    w->cb_1()->click();
    main.open = false;
    w->cb_3()->click();
    EXPECT_FALSE(closed_after_events(w));
    EXPECT_EQ(main.rs.setasidecount(), 0);
    EXPECT_FALSE(QFile::exists(query_path()));
}

TEST_F(file_type_query, no_record_of_an_unticked_type_still_finishes) {
    main.rs.setfilter(u"fileext = '.avi'");
    main.rs.filter();
    write_list(query_path(), {{u".ogg"_s, u"0"_s}, {u".mp3"_s, u"1"_s}});
    QPointer<w_file_type_query> w = open();
    w->cb_3()->click();
    EXPECT_EQ(main.rs.rowcount(), 5);
    EXPECT_EQ(main.rs.setasidecount(), 0);
    EXPECT_TRUE(main.rs.filter_text().isEmpty());
    EXPECT_EQ(main.counts, QStringList{u"5个"_s});
    EXPECT_EQ(read_list_file(query_path()), (rows{{u".ogg"_s, u"0"_s}, {u".mp3"_s, u"1"_s}}));
    EXPECT_TRUE(closed_after_events(w));
}

TEST_F(file_type_query, the_load_buttons_reload_only_from_files_that_exist) {
    w_file_type_query* w = open();
    w->cb_1()->click();
    w->cb_2()->click();
    EXPECT_TRUE(shown(w).isEmpty());

    write_list(types_path(), {{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}});
    w->cb_1()->click();
    EXPECT_EQ(shown(w), (QStringList{u".mp3+"_s, u".wma+"_s}));
    w->set_ticked(0, false);
    w->cb_2()->click(); // no list of its own yet: unchanged
    EXPECT_EQ(shown(w), (QStringList{u".mp3-"_s, u".wma+"_s}));

    write_list(query_path(), {{u".avi"_s, u"0"_s}});
    w->cb_2()->click();
    EXPECT_EQ(shown(w), (QStringList{u".avi-"_s}));
    w->cb_1()->click();
    EXPECT_EQ(shown(w), (QStringList{u".mp3+"_s, u".wma+"_s}));
}

} // namespace
