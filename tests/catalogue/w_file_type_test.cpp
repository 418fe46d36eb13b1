#include "catalogue/ui/w_file_type.h"

#include "app/shell/app_globals.h"
#include "catalogue/core/list_file.h"
#include "tests/support/modal_answer.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using rows = std::vector<QStringList>;

const QString refused_message = u"提示 | 文件格式必须输入\".\""_s;

class file_type : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    recording_prompts answers;

    void SetUp() override {
        app_globals& g = globals();
        g.is_program_path = dir.path() + u"/"_s;
        g.gs_filetype = {u".old"_s};
        g.gi_filetype_upperbound = 1;
    }

    QString list_path() const { return dir.filePath(u"quellmark_filetype.dll"_s); }
    void write_types(const rows& types) {
        ASSERT_TRUE(write_list_file(list_path(), {u"diskarea"_s, u"checkit"_s}, types));
    }
    static QString ext(const w_file_type& w, int row) { return w.dw_1()->item(row, 0)->text(); }

    // Opens the editor of row `row` and types `text` over its content; the editor is left open.
    static QLineEdit* type_into(w_file_type& w, int row, const QString& text) {
        QTableWidget* grid = w.dw_1();
        grid->setCurrentCell(row, 0);
        grid->editItem(grid->item(row, 0));
        auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()));
        if (editor) editor->setText(text);
        return editor;
    }
    static QLineEdit* open_editor(const w_file_type& w) {
        return qobject_cast<QLineEdit*>(w.dw_1()->indexWidget(w.dw_1()->currentIndex()));
    }
    // The editor commits after its key press has been handled, and a refusal is told after
    // the editor has closed: waits until the entry is either taken (editor closed) or refused
    // (message shown, editor open again).
    void settle(const w_file_type& w, bool taken) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return taken ? open_editor(w) == nullptr
                             : !answers.messages.isEmpty() && open_editor(w) != nullptr;
            },
            2000));
    }
};

TEST_F(file_type, opens_with_the_saved_list_and_its_texts) {
    write_types({{u".mp3"_s, u"1"_s}, {u".wma"_s, u"0"_s}});
    w_file_type w;
    EXPECT_EQ(w.windowTitle(), u"设置扫描的文件类型"_s);
    EXPECT_EQ(w.st_1()->text(), u"如果不添加任何类型,则所有类型将被扫描!"_s);
    EXPECT_EQ(w.dw_1()->horizontalHeaderItem(0)->text(), u"文件扩展名(以小圆点开头)"_s);
    EXPECT_TRUE(w.dw_1()->isColumnHidden(1));
    EXPECT_EQ(w.cb_1()->text(), u"增加行"_s);
    EXPECT_EQ(w.cb_2()->text(), u"删除行"_s);
    EXPECT_EQ(w.cb_4()->text(), u"取消扫描"_s);
    EXPECT_EQ(w.cb_3()->text(), u"确认"_s);
    ASSERT_EQ(w.dw_1()->rowCount(), 2);
    EXPECT_EQ(ext(w, 1), u".wma"_s);
    EXPECT_EQ(w.answer(), 0);
}

TEST_F(file_type, confirming_an_empty_grid_scans_every_type) {
    w_file_type w;
    EXPECT_EQ(w.dw_1()->rowCount(), 0);
    w.cb_3()->click();
    EXPECT_EQ(w.answer(), 1);
    EXPECT_EQ(globals().gi_filetype_upperbound, 0);
    EXPECT_TRUE(globals().gs_filetype.isEmpty());
    EXPECT_EQ(read_list_file(list_path(), 1), (rows{{u"diskarea"_s, u"checkit"_s}}));
}

TEST_F(file_type, confirming_saves_rows_as_they_stand_and_keeps_the_marks) {
    write_types({{u".mp3"_s, u"0"_s}, {u".MP3"_s, u"1"_s}, {u".avi"_s}});
    w_file_type w;
    w.cb_1()->click(); // never typed into
    w.cb_3()->click();
    EXPECT_EQ(w.answer(), 1);
    EXPECT_EQ(globals().gi_filetype_upperbound, 4);
    EXPECT_EQ(globals().gs_filetype, (QStringList{u".mp3"_s, u".MP3"_s, u".avi"_s, u""_s}));
    EXPECT_EQ(
        read_list_file(list_path()),
        (rows{{u".mp3"_s, u"0"_s}, {u".MP3"_s, u"1"_s}, {u".avi"_s, u""_s}, {u""_s, u"1"_s}}));
}

TEST_F(file_type, deleting_takes_the_current_row_or_tells_the_user) {
    write_types({{u".mp3"_s, u"1"_s}, {u".wma"_s, u"1"_s}});
    w_file_type w;
    w.dw_1()->setCurrentCell(-1, -1);
    w.cb_2()->click();
    EXPECT_EQ(answers.messages, QStringList{u"提示 | 先点击某行,再删除!"_s});
    EXPECT_EQ(w.dw_1()->rowCount(), 2);
    w.dw_1()->setCurrentCell(0, 0);
    w.cb_2()->click();
    ASSERT_EQ(w.dw_1()->rowCount(), 1);
    EXPECT_EQ(ext(w, 0), u".wma"_s);
}

TEST_F(file_type, an_extension_must_start_with_a_dot) {
    struct entry {
        QString typed;
        bool accepted;
    };
    for (const entry& e :
         {entry{u"mp3"_s, false}, entry{u"."_s, true}, entry{u".MP3"_s, true},
          entry{u" .mp3"_s, false}, entry{u""_s, false}, entry{u"。mp3"_s, false}}) {
        write_types({{u".wav"_s, u"1"_s}});
        answers.messages.clear();
        w_file_type w;
        w.show();
        QLineEdit* editor = type_into(w, 0, e.typed);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->maxLength(), 6);
        QTest::keyClick(editor, Qt::Key_Return);
        settle(w, e.accepted);
        if (e.accepted) {
            EXPECT_EQ(ext(w, 0), e.typed);
            EXPECT_TRUE(answers.messages.isEmpty());
            EXPECT_EQ(open_editor(w), nullptr);
        } else {
            EXPECT_EQ(ext(w, 0), u".wav"_s) << e.typed.toStdString();
            EXPECT_EQ(answers.messages, QStringList{refused_message}) << e.typed.toStdString();
            // The cell is open again with the refused text, to be corrected or undone.
            QLineEdit* again = open_editor(w);
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(again->text(), e.typed);
        }
    }
}

TEST_F(file_type, a_refused_entry_is_undone_by_escape_or_corrected) {
    w_file_type w;
    w.show();
    w.cb_1()->click();
    QTest::keyClick(type_into(w, 0, u"mp3"_s), Qt::Key_Return);
    settle(w, false);
    ASSERT_NE(open_editor(w), nullptr);
    QTest::keyClick(open_editor(w), Qt::Key_Escape);
    settle(w, true);
    EXPECT_EQ(open_editor(w), nullptr);
    EXPECT_EQ(ext(w, 0), u""_s);
    EXPECT_TRUE(w.isVisible());

    QTest::keyClick(type_into(w, 0, u"mp3"_s), Qt::Key_Return);
    settle(w, false);
    ASSERT_NE(open_editor(w), nullptr);
    open_editor(w)->setText(u".mp3"_s);
    QTest::keyClick(open_editor(w), Qt::Key_Return);
    settle(w, true);
    EXPECT_EQ(ext(w, 0), u".mp3"_s);
    EXPECT_EQ(answers.messages.size(), 1);
}

TEST_F(file_type, confirm_takes_the_entry_still_being_typed_unless_it_is_refused) {
    write_types({{u".wav"_s, u"1"_s}});
    const QByteArray before = read_all_bytes(list_path());
    w_file_type w;
    w.show();
    type_into(w, 0, u"wav"_s);
    w.cb_3()->click();
    settle(w, false);
    EXPECT_EQ(w.answer(), 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(answers.messages, QStringList{refused_message});
    EXPECT_EQ(read_all_bytes(list_path()), before);
    EXPECT_EQ(globals().gs_filetype, QStringList{u".old"_s});

    open_editor(w)->setText(u".flac"_s);
    w.cb_3()->click();
    EXPECT_EQ(w.answer(), 1);
    EXPECT_EQ(globals().gs_filetype, QStringList{u".flac"_s});
    EXPECT_EQ(read_list_file(list_path()), (rows{{u".flac"_s, u"1"_s}}));
}

TEST_F(file_type, cancelling_discards_every_edit) {
    write_types({{u".mp3"_s, u"1"_s}, {u".wma"_s, u"0"_s}});
    const QByteArray before = read_all_bytes(list_path());
    {
        w_file_type w;
        w.show();
        w.dw_1()->item(0, 0)->setText(u".ogg"_s);
        w.cb_1()->click();
        w.dw_1()->setCurrentCell(1, 0);
        w.cb_2()->click();
        w.cb_4()->click();
        EXPECT_EQ(w.answer(), -1);
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_EQ(read_all_bytes(list_path()), before);
    EXPECT_EQ(globals().gs_filetype, QStringList{u".old"_s});
    EXPECT_EQ(globals().gi_filetype_upperbound, 1);
    w_file_type again;
    ASSERT_EQ(again.dw_1()->rowCount(), 2);
    EXPECT_EQ(ext(again, 0), u".mp3"_s);
}

TEST_F(file_type, a_modal_run_answers_by_the_way_it_was_closed) {
    struct run {
        const char* how;
        std::function<void(w_file_type&)> close;
        int answer;
    };
    const run runs[] = {
        {"confirm", [](w_file_type& w) { w.cb_3()->click(); }, 1},
        {"cancel", [](w_file_type& w) { w.cb_4()->click(); }, -1},
        {"frame", [](w_file_type& w) { w.close(); }, 0},
        {"escape", [](w_file_type& w) { QTest::keyClick(&w, Qt::Key_Escape); }, 0},
    };
    for (const run& r : runs) {
        write_types({{u".mp3"_s, u"1"_s}});
        const QByteArray before = read_all_bytes(list_path());
        globals().gs_filetype = {u".old"_s};
        w_file_type w;
        w.cb_1()->click();
        answer_next_modal([&w, &r](QWidget* modal) {
            EXPECT_EQ(modal, &w);
            r.close(w);
        });
        EXPECT_EQ(w.exec(), r.answer) << r.how;
        if (r.answer == 1) {
            EXPECT_EQ(globals().gs_filetype, (QStringList{u".mp3"_s, u""_s})) << r.how;
        } else {
            EXPECT_EQ(read_all_bytes(list_path()), before) << r.how;
            EXPECT_EQ(globals().gs_filetype, QStringList{u".old"_s}) << r.how;
        }
    }
}

} // namespace
