#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "retrieval/ui/d_file_pic_view.h"
#include "tests/support/recording_prompts.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

using kind = pic_slot::kind;

class pic_view_test : public ::testing::Test {
  protected:
    void SetUp() override {
        picture_ = dir.filePath(u"pic.jpg"_s);
        QImage img(64, 48, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        ASSERT_TRUE(img.save(picture_, "JPG"));
        view.set_rows(&rows);
    }

    // Row n is "n.jpg" of 0.50 MB, all drawing the same small picture.
    void add_rows(long n, const QString& path = {}) {
        for (long i = 0; i < n; ++i) add_row(path.isEmpty() ? picture_ : path, 50);
    }
    long add_row(const QString& path, std::int64_t size_cents) {
        const long r = rows.insertrow();
        rows.set_text(r, col_filepath, path);
        rows.set_text(r, col_filename, QString::number(r));
        rows.set_text(r, col_fileext, u".jpg"_s);
        rows.set_decimal(r, col_filesizedec, decimal2{size_cents});
        return r;
    }

    // Slots 1..100 show rows `first`..`last`, then the nofile placeholder.
    void expect_page(long first, long last) {
        SCOPED_TRACE(testing::Message() << "page " << first << ".." << last);
        EXPECT_EQ(view.il_last_row_show(), first);
        EXPECT_EQ(view.t_note()->text(), u"当前起始行: "_s + QString::number(first));
        for (int k = 1; k <= d_file_pic_view::slot_count; ++k) {
            const pic_slot* s = view.slot(k);
            const long row = first + k - 1;
            if (row <= last) {
                ASSERT_EQ(s->shows(), kind::picture) << k;
                EXPECT_EQ(s->row(), row);
                EXPECT_EQ(s->tag(), QString::number(row) + u".jpg"_s);
                EXPECT_FALSE(s->image().isNull());
            } else {
                ASSERT_EQ(s->shows(), kind::nofile) << k;
                EXPECT_EQ(s->filename(), u"nofile.jpg"_s);
            }
            EXPECT_EQ(s->width_units(), 590);
            EXPECT_EQ(s->height_units(), 624);
        }
    }

    QTemporaryDir dir;
    QString picture_;
    recording_prompts prompts;
    record_set rows;
    d_file_pic_view view;
};

} // namespace

TEST_F(pic_view_test, slots_buttons_and_note_as_laid_out) {
    EXPECT_EQ(view.slot(1)->objectName(), u"p_001"_s);
    EXPECT_EQ(view.slot(7)->objectName(), u"p_007"_s);
    EXPECT_EQ(view.slot(100)->objectName(), u"p_100"_s);
    EXPECT_EQ(view.b_first()->text(), u"第一页"_s);
    EXPECT_EQ(view.b_pre()->text(), u"前一页"_s);
    EXPECT_EQ(view.b_next()->text(), u"后一页"_s);
    EXPECT_EQ(view.b_last()->text(), u"最后页"_s);
    // Four to a row, numbered left to right, top to bottom.
    EXPECT_EQ(view.slot(2)->y(), view.slot(1)->y());
    EXPECT_GT(view.slot(2)->x(), view.slot(1)->x());
    EXPECT_EQ(view.slot(5)->x(), view.slot(1)->x());
    EXPECT_GT(view.slot(5)->y(), view.slot(4)->y());
    EXPECT_EQ(view.slot(1)->width_units(), 581);
    EXPECT_EQ(view.slot(1)->height_units(), 600);
    EXPECT_EQ(view.il_last_row_show(), 0);
}

TEST_F(pic_view_test, walk_of_250_rows) {
    add_rows(250);
    ASSERT_EQ(view.of_load_pic(100, 1), 1);
    expect_page(1, 100);
    view.b_next()->click();
    expect_page(101, 200);
    view.b_next()->click();
    expect_page(201, 250);
    QSignalSpy loads(&view, &d_file_pic_view::page_loaded);
    view.b_next()->click(); // 301 lies beyond the end: nothing happens
    EXPECT_EQ(loads.count(), 0);
    expect_page(201, 250);
    view.b_last()->click();
    expect_page(151, 250);
    view.b_pre()->click();
    expect_page(51, 150);
    view.b_pre()->click(); // -49 is raised to 1
    expect_page(1, 100);
    view.b_last()->click();
    view.b_first()->click();
    expect_page(1, 100);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(pic_view_test, walk_of_30_rows_from_row_5) {
    add_rows(30);
    ASSERT_EQ(view.of_load_pic(100, 5), 1);
    expect_page(5, 30);
    EXPECT_EQ(view.slot(26)->row(), 30);
    EXPECT_EQ(view.slot(27)->shows(), kind::nofile);
    view.b_last()->click(); // 30 - 99 is raised to 1
    expect_page(1, 30);
    view.b_next()->click();
    expect_page(1, 30);
}

TEST_F(pic_view_test, paging_before_any_page) {
    struct case_ {
        long rows;
        const char* button;
        long expected_start; // 0: nothing loaded
    };
    const case_ cases[] = {
        {150, "b_next", 100}, {99, "b_next", 0}, {150, "b_pre", 1}, {0, "b_first", 0},
        {0, "b_last", 0},     {5, "p_001", 0},   {5, "b_other", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        record_set list;
        for (long i = 0; i < c.rows; ++i) {
            const long r = list.insertrow();
            list.set_text(r, col_filepath, picture_);
        }
        d_file_pic_view fresh;
        fresh.set_rows(&list);
        fresh.clicked_object(QString::fromLatin1(c.button));
        EXPECT_EQ(fresh.il_last_row_show(), c.expected_start);
    }
}

TEST_F(pic_view_test, empty_list_leaves_the_panel_as_it_was) {
    EXPECT_EQ(view.of_load_pic(100, 1), -1);
    EXPECT_EQ(view.slot(1)->shows(), kind::empty);
    EXPECT_EQ(view.t_note()->text(), u"当前起始行: 0"_s);
    EXPECT_FALSE(view.ib_showing_pic());
}

TEST_F(pic_view_test, size_from_the_catalogue_decides_the_placeholder) {
    // The large rows point at a file that is no picture: it must never be opened.
    const QString not_a_picture = dir.filePath(u"big.jpg"_s);
    QFile f(not_a_picture);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a jpeg");
    f.close();
    add_row(picture_, 100);                // 1.00 MB: shown
    add_row(not_a_picture, 101);           // 1.01 MB: placeholder
    add_row(not_a_picture, 9999);          // far larger
    const long no_size = rows.insertrow(); // no size known: shown
    rows.set_text(no_size, col_filepath, picture_);
    ASSERT_EQ(view.of_load_pic(100, 1), 1);
    EXPECT_EQ(view.slot(1)->shows(), kind::picture);
    EXPECT_EQ(view.slot(1)->filename(), picture_);
    EXPECT_EQ(view.slot(2)->shows(), kind::sizelarge);
    EXPECT_EQ(view.slot(2)->filename(), u"p_sizelarge.jpg"_s);
    EXPECT_EQ(view.slot(2)->tag(), u"2.jpg"_s);
    EXPECT_EQ(view.slot(2)->image().size(), QSize(124, 160));
    EXPECT_EQ(view.slot(3)->shows(), kind::sizelarge);
    EXPECT_EQ(view.slot(4)->shows(), kind::picture);
    EXPECT_EQ(view.slot(5)->image().size(), QSize(153, 187));
}

TEST_F(pic_view_test, a_missing_file_stops_the_load_with_a_message) {
    add_rows(200);
    ASSERT_EQ(view.of_load_pic(100, 101), 1);
    rows.reset();
    add_rows(2);
    const QString missing = dir.filePath(u"gone/3.jpg"_s);
    add_row(missing, 10);
    add_rows(2);

    EXPECT_EQ(view.of_load_pic(100, 1), -1);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], u"提示 | 源文件: "_s + missing +
                                       u"\n\n不存在!检查是否接上了磁盘\n或者考虑需要重新扫描!"_s);
    EXPECT_EQ(view.slot(1)->row(), 1);
    EXPECT_EQ(view.slot(2)->row(), 2);
    EXPECT_EQ(view.slot(3)->row(), 103); // the old page from here on
    EXPECT_EQ(view.slot(3)->tag(), u"103.jpg"_s);
    EXPECT_EQ(view.slot(100)->row(), 200);
    EXPECT_EQ(view.t_note()->text(), u"当前起始行: 101"_s);
    EXPECT_EQ(view.il_last_row_show(), 101);
    EXPECT_FALSE(view.ib_showing_pic());
}

TEST_F(pic_view_test, a_click_on_row_37_notes_it) {
    add_rows(40);
    ASSERT_EQ(view.of_load_pic(100, 37), 1);
    EXPECT_EQ(view.t_note()->text(), u"当前起始行: 37"_s);
    expect_page(37, 40);
}

TEST_F(pic_view_test, double_click_requests_the_download_and_shrinks_the_slot) {
    add_row(picture_, 50);
    add_row(picture_, 150);
    ASSERT_EQ(view.of_load_pic(100, 1), 1);
    QSignalSpy requests(&view, &d_file_pic_view::download_requested);
    for (int k : {1, 2, 3}) QTest::mouseDClick(view.slot(k), Qt::LeftButton);
    ASSERT_EQ(requests.count(), 3);
    // A picture: its file under its catalogue name. Placeholders: nothing to copy.
    const auto request = [&](int n) {
        const QVariantList& r = requests[n];
        return std::tuple(r[0].value<long>(), r[1].toString(), r[2].toString());
    };
    EXPECT_EQ(request(0), std::tuple(1L, picture_, u"1.jpg"_s));
    EXPECT_EQ(request(1), std::tuple(2L, QString(), u"2.jpg"_s));
    EXPECT_EQ(std::get<1>(request(2)), QString());
    for (int k : {1, 2, 3}) {
        EXPECT_EQ(view.slot(k)->width_units(), 400);
        EXPECT_EQ(view.slot(k)->height_units(), 500);
    }
    EXPECT_EQ(view.slot(4)->width_units(), 590);
    ASSERT_EQ(view.of_load_pic(100, 1), 1);
    EXPECT_EQ(view.slot(1)->width_units(), 590);
    EXPECT_EQ(view.slot(1)->height_units(), 624);
}

TEST_F(pic_view_test, paging_during_a_load_is_ignored_and_the_page_stays_whole) {
    add_rows(300);
    int clicks = 0;
    bool nested_refused = false;
    // Runs inside the load's first event turn, as a user's click would.
    QTimer::singleShot(0, &view, [&] {
        EXPECT_TRUE(view.ib_showing_pic());
        view.b_next()->click();
        view.b_last()->click();
        nested_refused = view.of_load_pic(100, 150) == -1;
        ++clicks;
    });
    ASSERT_EQ(view.of_load_pic(100, 1), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(nested_refused);
    expect_page(1, 100);
}

TEST_F(pic_view_test, a_list_replaced_during_a_load_does_not_mix_into_the_page) {
    add_rows(120);
    QTimer::singleShot(0, &view, [&] {
        rows.reset();
        add_rows(3, dir.filePath(u"elsewhere.jpg"_s));
    });
    ASSERT_EQ(view.of_load_pic(100, 11), 1);
    expect_page(11, 110);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(pic_view_test, the_panel_closed_during_a_load) {
    add_rows(50);
    auto* doomed = new d_file_pic_view;
    doomed->set_rows(&rows);
    QTimer::singleShot(0, doomed, [doomed] { delete doomed; });
    EXPECT_EQ(doomed->of_load_pic(100, 1), -1);
}

TEST(read_thumbnail, decodes_scaled_to_fit) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"wide.png"_s);
    QImage img(1000, 400, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(path));
    EXPECT_EQ(read_thumbnail(path, QSize(100, 100)).size(), QSize(100, 40));
    EXPECT_EQ(read_thumbnail(path, QSize(2000, 2000)).size(), QSize(1000, 400));
    EXPECT_TRUE(read_thumbnail(dir.filePath(u"none.png"_s), QSize(100, 100)).isNull());
}
