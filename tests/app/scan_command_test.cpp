#include "app/main/scan_dialogs.h"
#include "app/main/w_main.h"
#include "app/shell/app_globals.h"
#include "app/shell/w_wait_for3.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/spreadsheet_export.h"
#include "catalogue/ui/d_file_info_simp_view.h"
#include "catalogue/ui/w_disk_area.h"
#include "catalogue/ui/w_file_type.h"
#include "tests/support/modal_answer.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/tree_builder.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Stands in for the two dialogs: sets the globals as closing them would, answers as told.
class fake_scan_dialogs : public scan_dialogs {
  public:
    fake_scan_dialogs() { set_scan_dialogs(this); }
    ~fake_scan_dialogs() override { set_scan_dialogs(nullptr); }
    void disk_area(QWidget*) override {
        ++opened;
        globals().gs_diskarea = areas;
        globals().ii_dir_type = 1;
        globals().ii_scan_layers = 5;
        globals().gs_cut_splitter = u"-"_s;
        globals().gi_cut_splitter_len = 1;
    }
    int file_type(QWidget*) override {
        globals().gs_filetype = {u".mp3"_s};
        globals().gi_filetype_upperbound = 1;
        if (during_scan) QTimer::singleShot(0, during_scan);
        return answer;
    }
    QStringList areas;
    int answer = 1;
    int opened = 0;
    std::function<void()> during_scan;
};

class scan_command : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    tree_builder tree;
    recording_prompts answers;
    fake_scan_dialogs dialogs;
    std::unique_ptr<w_main> window;

    void SetUp() override {
        tree.file(u"1002-歌名.mp3"_s, 3145728);
        tree.file(u"a/b.mp3"_s);
        tree.file(u"a/c.wma"_s);
        tree.file(u"a/d/e.mp3"_s);
        window = std::make_unique<w_main>();
        window->open_event(dir.path());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window->event_log().contains(u"start message"_s); }, 5000));
        answers.messages.clear();
    }
    QString catalogue_path() const { return dir.filePath(catalogue_file_name); }
    QString export_path() const { return dir.filePath(spreadsheet_export_file_name); }
    void seed_previous_files() {
        write_all_bytes(catalogue_path(), "previous catalogue");
        write_all_bytes(export_path(), "previous export");
    }
    void expect_previous_files() {
        EXPECT_EQ(read_all_bytes(catalogue_path()), "previous catalogue");
        EXPECT_EQ(read_all_bytes(export_path()), "previous export");
    }
};

TEST_F(scan_command, a_scan_rebuilds_the_catalogue_saves_both_files_and_says_where) {
    dialogs.areas = {tree.root()};
    window->dw_1_rows().insertrow(0);
    window->ue_scandisk();
    EXPECT_EQ(window->dts_fileslist().rowcount(), 3);
    EXPECT_EQ(window->dw_1_rows().rowcount(), 0);
    EXPECT_EQ(window->st_scaned_qty()->text(), u"3个"_s);
    EXPECT_EQ(answers.messages, QStringList{u"提示 | 文件清单已经存放在: \n\n"_s + dir.path() +
                                            u"/"_s + spreadsheet_export_file_name});
    record_set reread;
    EXPECT_EQ(import_catalogue_file(reread, catalogue_path()).loaded, 3);
    EXPECT_TRUE(read_all_bytes(export_path()).startsWith("\xD0\xCF\x11\xE0"));
    EXPECT_FALSE(window->wait_window()->isVisible());
}

TEST_F(scan_command, cancelling_the_file_types_leaves_everything_as_it_was) {
    for (const int answer : {-1, 0}) {
        seed_previous_files();
        window->dts_fileslist().insertrow(0);
        window->dw_1_rows().insertrow(0);
        const long before = window->dts_fileslist().rowcount();
        const long listed = window->dw_1_rows().rowcount();
        dialogs.areas = {tree.root()};
        dialogs.answer = answer;
        window->ue_scandisk();
        EXPECT_EQ(window->dts_fileslist().rowcount(), before) << answer;
        EXPECT_EQ(window->dw_1_rows().rowcount(), listed) << answer;
        expect_previous_files();
        EXPECT_TRUE(answers.messages.isEmpty());
    }
}

TEST_F(scan_command, no_areas_write_a_heading_only_catalogue) {
    dialogs.areas = {};
    window->ue_scandisk();
    EXPECT_EQ(window->st_scaned_qty()->text(), u"0个"_s);
    record_set reread;
    const auto result = import_catalogue_file(reread, catalogue_path());
    EXPECT_TRUE(result.file_found);
    EXPECT_EQ(result.loaded, 0);
}

TEST_F(scan_command, overlapping_areas_catalogue_shared_files_twice) {
    dialogs.areas = {tree.root(), tree.path(u"a"_s)};
    window->ue_scandisk();
    EXPECT_EQ(window->dts_fileslist().rowcount(), 5);
}

TEST_F(scan_command, a_stopped_scan_keeps_both_files_and_its_partial_catalogue) {
    for (int i = 0; i < 50; ++i) tree.file(u"many/"_s + QString::number(i) + u".mp3"_s);
    seed_previous_files();
    dialogs.areas = {tree.root()};
    dialogs.during_scan = [&] { window->wait_window()->cb_stop()->click(); };
    window->ue_scandisk();
    expect_previous_files();
    EXPECT_TRUE(answers.messages.isEmpty());
    EXPECT_EQ(window->st_scaned_qty()->text(),
              QString::number(window->dts_fileslist().rowcount()) + u"个"_s);
    EXPECT_LT(window->dts_fileslist().rowcount(), 53);
}

TEST_F(scan_command, a_file_that_cannot_be_saved_is_named_instead_of_success) {
    QDir().mkpath(catalogue_path()); // a folder where the file should go
    dialogs.areas = {tree.root()};
    window->ue_scandisk();
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_TRUE(answers.messages[0].contains(catalogue_path()))
        << answers.messages[0].toStdString();
    EXPECT_FALSE(answers.messages[0].contains(u"已经存放在"_s));
}

TEST_F(scan_command, unreadable_folders_are_counted_and_the_first_is_named) {
    tree.file(u"a/closed/x.mp3"_s);
    tree.file(u"locked/y.mp3"_s);
    tree.file(u"z/after.mp3"_s);
    const QStringList closed{tree.path(u"a/closed"_s), tree.path(u"locked"_s)};
    for (const QString& folder : closed) QFile::setPermissions(folder, {});
    const int probe = ::open(QFile::encodeName(closed[0]).constData(), O_RDONLY | O_DIRECTORY);
    if (probe >= 0) {
        ::close(probe);
        for (const QString& folder : closed)
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
        GTEST_SKIP() << "permissions do not bind this process";
    }
    // A missing area (a card not inserted) is nothing unreadable.
    dialogs.areas = {tree.root(), tree.path(u"missing"_s)};
    window->ue_scandisk();
    for (const QString& folder : closed)
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);

    EXPECT_EQ(window->dts_fileslist().rowcount(), 4) << "the scan goes on past them";
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_TRUE(answers.messages[0].contains(u"文件清单已经存放在"_s));
    EXPECT_TRUE(answers.messages[0].endsWith(
        u"有 2 个文件夹无法读取,其中的文件未收入清单(第一个: "_s + closed[0] + u")"_s))
        << answers.messages[0].toStdString();
}

TEST_F(scan_command, a_second_scan_cannot_start_while_one_runs) {
    for (int i = 0; i < 50; ++i) tree.file(u"many/"_s + QString::number(i) + u".mp3"_s);
    dialogs.areas = {tree.root()};
    dialogs.during_scan = [&] { window->ue_scandisk(); };
    window->ue_scandisk();
    EXPECT_EQ(dialogs.opened, 1);
    EXPECT_EQ(window->event_log().count(u"scan done"_s), 1);
    EXPECT_EQ(window->dts_fileslist().rowcount(), 53);
}

TEST_F(scan_command, a_search_during_the_scan_leaves_every_record_numbered_and_saved) {
    for (int i = 0; i < 50; ++i) tree.file(u"many/"_s + QString::number(i) + u".mp3"_s);
    dialogs.areas = {tree.root()};
    dialogs.during_scan = [&] {
        window->ddlb_1()->setEditText(u"1002"_s);
        window->ue_query();
    };
    window->ue_scandisk();
    EXPECT_EQ(window->st_scaned_qty()->text(), u"53个"_s);
    record_set reread;
    ASSERT_EQ(import_catalogue_file(reread, catalogue_path()).loaded, 53);
    for (long r = 1; r <= 53; ++r) EXPECT_EQ(reread.get_long(r, col_machineid), r);
}

TEST_F(scan_command, closing_the_window_during_a_scan_stops_it_and_keeps_both_files) {
    for (int i = 0; i < 50; ++i) tree.file(u"many/"_s + QString::number(i) + u".mp3"_s);
    seed_previous_files();
    window->show();
    dialogs.areas = {tree.root()};
    dialogs.during_scan = [&] { window->close(); };
    window->ue_scandisk();
    expect_previous_files();
    EXPECT_TRUE(answers.messages.isEmpty());
    EXPECT_FALSE(window->isVisible()) << "the window closes once the scan has unwound";
}

TEST_F(scan_command, downloads_wait_for_the_scan_to_end) {
    for (int i = 0; i < 50; ++i) tree.file(u"many/"_s + QString::number(i) + u".mp3"_s);
    dialogs.areas = {tree.root()};
    dialogs.during_scan = [&] {
        record_set& listed = window->dw_1_rows();
        const long r = listed.insertrow(0);
        listed.set_text(r, col_filepath, tree.path(u"a/b.mp3"_s));
        listed.set_text(r, col_filename, u"b"_s);
        listed.set_text(r, col_fileext, u".mp3"_s);
        window->dw_1()->trigger_clicked(1, u"b_down"_s);
        window->dw_1()->trigger_clicked(0, u"b_downall"_s);
    };
    window->ue_scandisk();
    EXPECT_EQ(answers.messages.filter(u"扫描结束后才能下载"_s).size(), 2);
    EXPECT_FALSE(QFileInfo::exists(window->is_down_path() + u"b.mp3"_s));
    EXPECT_EQ(window->event_log().count(u"scan done"_s), 1);
}
TEST_F(scan_command, the_real_dialogs_hand_their_choices_to_the_scan) {
    set_scan_dialogs(nullptr);
    QString shown_types;
    answer_next_modal([&](QWidget* modal) {
        auto* areas = qobject_cast<w_disk_area*>(modal);
        ASSERT_NE(areas, nullptr);
        areas->cb_1()->click();
        areas->dw_1()->item(0, 0)->setText(tree.root());
        areas->ddlb_1()->setCurrentIndex(0); // every folder, not only "##" ones
        answer_next_modal([&](QWidget* next) {
            auto* types = qobject_cast<w_file_type*>(next);
            ASSERT_NE(types, nullptr);
            types->cb_3()->click();
        });
        areas->cb_3()->click();
    });
    window->ue_scandisk();

    EXPECT_EQ(globals().gs_diskarea, QStringList{tree.root()});
    EXPECT_EQ(globals().ii_dir_type, 1);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(disk_area_list_name.toString())));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(file_type_list_name.toString())));
    long wanted = 0;
    for (const QString& ext : {u".mp3"_s, u".mp3"_s, u".wma"_s, u".mp3"_s})
        if (globals().gi_filetype_upperbound == 0 ||
            n_filetouch::of_str_in_array(ext, globals().gs_filetype,
                                         globals().gi_filetype_upperbound))
            ++wanted;
    EXPECT_GT(wanted, 0);
    EXPECT_EQ(window->dts_fileslist().rowcount(), wanted);
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_TRUE(answers.messages[0].contains(u"文件清单已经存放在"_s));
}

} // namespace
