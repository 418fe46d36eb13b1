#include "catalogue/ui/w_disk_area.h"

#include "app/shell/app_globals.h"
#include "app/shell/settings_file.h"
#include "app/shell/settings_keys.h"
#include "catalogue/core/list_file.h"
#include "tests/support/modal_answer.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using rows = std::vector<QStringList>;

class disk_area : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    recording_prompts answers;

    void SetUp() override {
        app_globals& g = globals();
        g.is_program_path = dir.path() + u"/"_s;
        g.gs_diskarea = {u"old"_s};
        g.ii_dir_type = 1;
        g.ii_scan_layers = 6;
        g.gs_cut_splitter.clear();
        g.gi_cut_splitter_len = 0;
    }

    QString list_path() const { return dir.filePath(u"quellmark_diskarea.dll"_s); }
    QString ini_path() const { return dir.filePath(u"quellmark.ini"_s); }
    settings_file ini() const { return settings_file(ini_path()); }
    QString stored(QStringView section, QStringView key) const {
        return ini().read_string(section, key, u"<missing>"_s);
    }
    void write_areas(const rows& areas) {
        ASSERT_TRUE(write_list_file(list_path(), {u"diskarea"_s}, areas));
    }
    static QString area(const w_disk_area& w, int row) { return w.dw_1()->item(row, 0)->text(); }
    static void choose(QComboBox* box, const QString& item) {
        const int i = box->findText(item);
        ASSERT_GE(i, 0) << item.toStdString();
        box->setCurrentIndex(i);
    }
};

TEST_F(disk_area, first_run_shows_the_defaults_and_every_item) {
    w_disk_area w;
    EXPECT_EQ(w.windowTitle(), u"设置扫描的盘符或路径"_s);
    EXPECT_EQ(w.dw_1()->rowCount(), 0);
    EXPECT_EQ(w.dw_1()->horizontalHeaderItem(0)->text(), u"盘符(必须有冒号)或者文件夹路径"_s);
    EXPECT_EQ(w.ddlb_1()->currentText(),
              u"2.##开头的文件夹(推荐用两个井字开头,减少不必要的扫描)"_s);
    EXPECT_EQ(w.ddlb_2()->currentText(), u"5.六层"_s);
    EXPECT_EQ(w.ddlb_3()->currentText(), u"@(@)"_s);
    EXPECT_TRUE(w.cbx_cut_no()->isChecked());
    EXPECT_FALSE(w.ddlb_1()->isEditable() || w.ddlb_2()->isEditable() || w.ddlb_3()->isEditable());
    EXPECT_EQ(w.st_1()->text(), u"文件夹识别"_s);
    EXPECT_EQ(w.st_2()->text(), u"扫描深度"_s);
    EXPECT_EQ(w.cbx_cut_no()->text(), u"自动切除编号"_s);
    EXPECT_EQ(w.cb_1()->text(), u"增加行"_s);
    EXPECT_EQ(w.cb_2()->text(), u"删除行"_s);
    EXPECT_EQ(w.cb_3()->text(), u"确定"_s);
    EXPECT_EQ(w.ddlb_1()->count(), 2);
    EXPECT_EQ(w.ddlb_1()->itemText(0), u"1.任何文件夹(隐藏的和系统的除外)"_s);
    EXPECT_EQ(w.ddlb_2()->count(), 6);
    EXPECT_EQ(w.ddlb_2()->itemText(5), u"6.所有层"_s);

    // The separator list, in order: separator then its description.
    ASSERT_EQ(w.ddlb_3()->count(), 28);
    const QStringList separators = {
        u" "_s,  u"@"_s,   u"#"_s,    u"$"_s,      u"+"_s,
        u"-"_s,  u"--"_s,  u"_"_s,    u"\u2014"_s, u"\u2014\u2014\u2014"_s,
        u"  "_s, u"   "_s, u"    "_s, u"     "_s,  u"      "_s,
        u"."_s,  u".."_s,  u"..."_s,  u"@@"_s,     u"##"_s,
        u""_s,   u"~"_s,   u"^"_s,    u"^^"_s,     u"&"_s,
        u"&&"_s, u"="_s,   u"=="_s};
    for (int i = 0; i < 28; ++i) {
        const QString item = w.ddlb_3()->itemText(i);
        EXPECT_EQ(item.left(item.indexOf(u'(')), separators[i]) << i;
        EXPECT_TRUE(item.endsWith(u')')) << i;
    }
    EXPECT_EQ(w.ddlb_3()->itemText(6), u"--(双中杠)"_s);
    EXPECT_EQ(w.ddlb_3()->itemText(20), u"()"_s);
}

TEST_F(disk_area, closing_with_one_row_and_the_defaults_saves_everything) {
    {
        w_disk_area w;
        w.cb_1()->click();
        w.dw_1()->item(0, 0)->setText(u"E:"_s);
        w.cb_3()->click();
        EXPECT_EQ(w.result(), QDialog::Accepted);
    }
    EXPECT_EQ(read_list_file(list_path(), 1), (rows{{u"diskarea"_s}, {u"E:"_s}}));
    EXPECT_EQ(read_all_bytes(list_path()).count(QByteArrayView("\r\0\n\0", 4)), 2);
    EXPECT_EQ(stored(u"dirtype", u"dirtype"), u"2"_s);
    EXPECT_EQ(stored(u"scanlayers", u"layers"), u"5"_s);
    EXPECT_EQ(stored(u"scansplitter", u"splitter"), u"@(@)"_s);
    const app_globals& g = globals();
    EXPECT_EQ(g.gs_diskarea, QStringList{u"E:"_s});
    EXPECT_EQ(g.ii_dir_type, 2);
    EXPECT_EQ(g.ii_scan_layers, 5);
    EXPECT_EQ(g.gs_cut_splitter, u"@"_s);
    EXPECT_EQ(g.gi_cut_splitter_len, 1);
}

TEST_F(disk_area, every_depth_and_folder_choice_is_saved_and_shown_again) {
    struct depth {
        int item;
        QString written;
        int layers;
    };
    for (const depth& d : {depth{0, u"1"_s, 1}, depth{3, u"4"_s, 4}, depth{5, u"6"_s, 20}}) {
        {
            w_disk_area w;
            w.cb_1()->click();
            w.ddlb_1()->setCurrentIndex(d.item % 2);
            w.ddlb_2()->setCurrentIndex(d.item);
            w.cb_3()->click();
        }
        EXPECT_EQ(stored(u"scanlayers", u"layers"), d.written);
        EXPECT_EQ(globals().ii_scan_layers, d.layers);
        EXPECT_EQ(globals().ii_dir_type, d.item % 2 + 1);
        EXPECT_EQ(stored(u"dirtype", u"dirtype"), QString::number(d.item % 2 + 1));
        w_disk_area again;
        EXPECT_EQ(again.ddlb_2()->currentIndex(), d.item);
        EXPECT_EQ(again.ddlb_1()->currentIndex(), d.item % 2);
    }
}

TEST_F(disk_area, each_separator_gives_its_text_and_length_and_is_shown_again) {
    struct separator {
        QString item;
        QString text;
    };
    const separator cases[] = {
        {u"--(双中杠)"_s, u"--"_s},
        {u"\u2014\u2014\u2014(\u2014\u2014\u2014)"_s, u"\u2014\u2014\u2014"_s},
        {u"()"_s, u""_s},
        {u"  (两空格)"_s, u"  "_s},
        {u" (一空格)"_s, u" "_s},
        {u"      (六空格)"_s, u"      "_s},
        {u"&&(&&)"_s, u"&&"_s},
    };
    for (const separator& c : cases) {
        {
            w_disk_area w;
            w.cb_1()->click();
            choose(w.ddlb_3(), c.item);
            w.cb_3()->click();
        }
        EXPECT_EQ(globals().gs_cut_splitter, c.text) << c.item.toStdString();
        EXPECT_EQ(globals().gi_cut_splitter_len, c.text.size()) << c.item.toStdString();
        // Blank separators lose their blanks in the settings file; the item is still found.
        w_disk_area again;
        EXPECT_EQ(again.ddlb_3()->currentText(), c.item);
    }
}

TEST_F(disk_area, unchecked_cutting_leaves_the_separator_alone) {
    ASSERT_TRUE(ini().write(u"scansplitter", u"splitter", u"#(#)"));
    globals().gs_cut_splitter = u"#"_s;
    globals().gi_cut_splitter_len = 1;
    {
        w_disk_area w;
        EXPECT_EQ(w.ddlb_3()->currentText(), u"#(#)"_s);
        w.cb_1()->click();
        w.cbx_cut_no()->setChecked(false);
        choose(w.ddlb_3(), u"==(==)"_s);
        w.cb_3()->click();
    }
    EXPECT_EQ(stored(u"scansplitter", u"splitter"), u"#(#)"_s);
    EXPECT_EQ(globals().gs_cut_splitter, u"#"_s);
    EXPECT_EQ(globals().gi_cut_splitter_len, 1);
    EXPECT_EQ(stored(u"dirtype", u"dirtype"), u"2"_s); // the rest is saved
}

TEST_F(disk_area, stored_values_outside_the_items_show_the_default_items) {
    struct stored_case {
        QString dirtype, layers, splitter;
    };
    for (const stored_case& c :
         {stored_case{u"0"_s, u"7"_s, u"xyz"_s}, stored_case{u"3"_s, u"0"_s, u"(@)"_s},
          stored_case{u"-1"_s, u"-5"_s, u"@"_s}, stored_case{u"abc"_s, u"99999999999"_s, u""_s}}) {
        ASSERT_TRUE(ini().write(u"dirtype", u"dirtype", c.dirtype));
        ASSERT_TRUE(ini().write(u"scanlayers", u"layers", c.layers));
        ASSERT_TRUE(ini().write(u"scansplitter", u"splitter", c.splitter));
        w_disk_area w;
        EXPECT_EQ(w.ddlb_1()->currentIndex(), 1) << c.dirtype.toStdString();
        EXPECT_EQ(w.ddlb_2()->currentIndex(), 4) << c.layers.toStdString();
        EXPECT_EQ(w.ddlb_3()->currentText(), u"@(@)"_s) << c.splitter.toStdString();
    }
    ASSERT_TRUE(ini().write(u"dirtype", u"dirtype", u"1"));
    ASSERT_TRUE(ini().write(u"scansplitter", u"splitter", u"$($)"));
    w_disk_area w;
    EXPECT_EQ(w.ddlb_1()->currentIndex(), 0);
    EXPECT_EQ(w.ddlb_3()->currentText(), u"$($)"_s);
}

TEST_F(disk_area, deleting_every_row_saves_nothing) {
    write_areas({{u"E:"_s}, {u"/media/卡"_s}});
    ASSERT_TRUE(ini().write(u"dirtype", u"dirtype", u"1"));
    const QByteArray list_before = read_all_bytes(list_path());
    const QByteArray ini_before = read_all_bytes(ini_path());
    globals().ii_dir_type = 7;
    globals().gs_cut_splitter = u"#"_s;
    {
        w_disk_area w;
        ASSERT_EQ(w.dw_1()->rowCount(), 2);
        EXPECT_EQ(area(w, 1), u"/media/卡"_s);
        for (int i = 0; i < 2; ++i) {
            w.dw_1()->setCurrentCell(0, 0);
            w.cb_2()->click();
        }
        EXPECT_EQ(w.dw_1()->rowCount(), 0);
        w.cb_3()->click();
    }
    EXPECT_TRUE(globals().gs_diskarea.isEmpty());
    EXPECT_EQ(globals().ii_dir_type, 7);
    EXPECT_EQ(globals().gs_cut_splitter, u"#"_s);
    EXPECT_EQ(read_all_bytes(list_path()), list_before);
    EXPECT_EQ(read_all_bytes(ini_path()), ini_before);
    w_disk_area again;
    EXPECT_EQ(again.dw_1()->rowCount(), 2);
}

TEST_F(disk_area, delete_without_a_current_row_only_tells_the_user) {
    write_areas({{u"E:"_s}});
    w_disk_area w;
    w.dw_1()->setCurrentCell(-1, -1);
    w.cb_2()->click();
    EXPECT_EQ(answers.messages, QStringList{u"提示 | 先点击某行,再删除!"_s});
    EXPECT_EQ(w.dw_1()->rowCount(), 1);
    w.dw_1()->setCurrentCell(0, 0);
    w.cb_2()->click();
    EXPECT_EQ(w.dw_1()->rowCount(), 0);
    EXPECT_EQ(answers.messages.size(), 1);
}

TEST_F(disk_area, the_folder_chooser_fills_its_own_row) {
    write_areas({{u"E:"_s}, {u"F:"_s}});
    w_disk_area w;
    w.cb_1()->click();
    ASSERT_NE(w.b_path(2), nullptr);
    EXPECT_EQ(w.b_path(2)->text(), u"..."_s);
    answers.next_folder = u"/media/新卡"_s;
    w.b_path(2)->click(); // a row just added
    EXPECT_EQ(area(w, 2), u"/media/新卡"_s);
    EXPECT_EQ(answers.choosers, QStringList{u"请选择路径"_s});

    answers.next_folder.clear(); // cancelled
    w.b_path(1)->click();
    EXPECT_EQ(area(w, 1), u"F:"_s);

    // Rows move up when one above is deleted; the button still fills its own row.
    w.dw_1()->setCurrentCell(0, 0);
    w.cb_2()->click();
    answers.next_folder = u"/mnt/u"_s;
    w.b_path(0)->click();
    EXPECT_EQ(area(w, 0), u"/mnt/u"_s);
    EXPECT_EQ(area(w, 1), u"/media/新卡"_s);
    EXPECT_EQ(w.b_path(2), nullptr);
}

TEST_F(disk_area, rows_are_kept_as_they_stand_including_empty_ones) {
    ASSERT_NO_THROW(write_all_bytes(list_path(), utf16le(u"x\r\n\r\nD:\\音乐\r\n  \r\n"_s, false)));
    {
        w_disk_area w;
        ASSERT_EQ(w.dw_1()->rowCount(), 3);
        w.cb_3()->click();
    }
    EXPECT_EQ(globals().gs_diskarea, (QStringList{u""_s, u"D:\\音乐"_s, u"  "_s}));
    EXPECT_EQ(read_list_file(list_path()), (rows{{u""_s}, {u"D:\\音乐"_s}, {u"  "_s}}));
}

TEST_F(disk_area, closing_by_the_frame_or_escape_saves_too_and_keeps_a_pending_edit) {
    {
        w_disk_area w;
        w.show();
        w.cb_1()->click();
        w.dw_1()->setCurrentCell(0, 0);
        w.dw_1()->editItem(w.dw_1()->item(0, 0));
        auto* editor = qobject_cast<QLineEdit*>(w.dw_1()->indexWidget(w.dw_1()->currentIndex()));
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->maxLength(), 255);
        editor->setText(u"G:"_s);
        w.close();
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_EQ(globals().gs_diskarea, QStringList{u"G:"_s});
    EXPECT_EQ(read_list_file(list_path()), rows{{u"G:"_s}});

    // A real modal run ended with Escape.
    w_disk_area w;
    w.cb_1()->click();
    w.dw_1()->item(1, 0)->setText(u"H:"_s);
    answer_next_modal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(w.exec(), QDialog::Rejected);
    EXPECT_EQ(globals().gs_diskarea, (QStringList{u"G:"_s, u"H:"_s}));
}

} // namespace
