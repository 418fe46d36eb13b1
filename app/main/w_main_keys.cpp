// The main window's keys: the function-key commands wherever the caret is, ALT+X, and the
// condition box's help lines, which the caret selects on arrival.
#include "app/main/keyboard_commands.h"
#include "app/main/w_main.h"
#include "catalogue/ui/d_file_info_simp_view.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

QStringList w_main::help_lines() {
    return {
        QStringLiteral("1.如何查询?      请输入编号-文件名-歌手-拼音首字母等条件进行搜索       "
                       ">>更多提示请点击下拉框查看..."),
        QStringLiteral("2.快捷方式   F1使光标在条件栏和数据框之间切换  ALT+X 清除查询条件  "
                       "F2下载全部  F3下载当前行 F4扫描文件  "),
        QStringLiteral("3.快捷方式   F5打开默认下载目录  F6打开自定义下载目录 F8设置读卡器 "
                       "F12清空默认下载目录"),
        QStringLiteral("4.中文模糊查询?    中文歌名如果要用间隔的模糊名如: 我的 "
                       "爱人,请在中间加[空格],写成:[我的 爱人]"),
        QStringLiteral(
            "5.重新输入条件?    F1或者alt+X清除条件并定位到输入栏,你就可以输入查询条件了"),
        QStringLiteral("6.多编号输入?       "
                       "多个编号连续输入时请以一个空格开头,编号之间用空格隔开!需按回车查询,如[ "
                       "1002 1003 1004]"),
        QStringLiteral("7.查看图片?          "
                       "输入[PPPP]则只显示图片格式并可预览![PJPG]只显示jpg格式;[PGIF]只显示gif格式;"
                       "[PBMP]只显示bmp格式"),
        QStringLiteral(
            "8.什么是扫描层数  "
            "比如D:\\123.mp3是第一层文件;而D:\\123\\123.mp3就是第二层的文件;建议设置为五层扫描"),
        QStringLiteral("9.如何查看全部文件    在条件输入栏输[>>]或者[》》]即可查看全部文件"),
        QStringLiteral(
            "10.如何加快扫描速度    "
            "建议把需要扫描的文件夹如果命名如[##歌曲](第一层文件夹),这样可以减少不必要的扫描"),
        QStringLiteral("11.输入一个字怎么无结果出现?  "
                       "因为一个字的出现概率非常高,结果会多达万条,所以要求条件至少2个字以上"),
        QStringLiteral("12.下载前请先按F8选择读卡器或U盘,没有选择时文件下载到默认下载目录"),
        QStringLiteral("13.扫描一次后,每次启动都会自动载入上次的扫描清单,无需重新扫描"),
    };
}

void w_main::post_click(QPushButton* button) {
    QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

void w_main::ue_keydown(int key) {
    const key_command command = command_for_key(key);
    switch (command.action) {
    case key_action::switch_focus:
        if (ii_last_focus_control_ != 1) {
            ii_last_focus_control_ = 1;
            dw_1_->table()->setFocus();
        } else {
            ii_last_focus_control_ = 2;
            post_click(cb_clear_);
        }
        break;
    case key_action::all_rows:
        dwo_shutkeydown_ = command.target.toString();
        dw_1_->trigger_clicked(0, dwo_shutkeydown_);
        break;
    case key_action::current_row:
        dwo_shutkeydown_ = command.target.toString();
        if (dw_1_->getrow() >= 1) dw_1_->trigger_clicked(dw_1_->getrow(), dwo_shutkeydown_);
        break;
    case key_action::click: {
        auto* button =
            findChild<QPushButton*>(command.target.toString(), Qt::FindDirectChildrenOnly);
        if (button && button->isEnabled()) post_click(button);
        break;
    }
    case key_action::none:
        break;
    }
}

void w_main::keyPressEvent(QKeyEvent* event) {
    if (is_function_key(event->key())) {
        ue_keydown(event->key());
        return;
    }
    QWidget::keyPressEvent(event);
}

// The condition box would take F4 for its drop-down list; the keys of the command table
// belong to the window wherever the caret is.
bool w_main::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cb_clear_ && event->type() == QEvent::Shortcut) {
        // ALT+X clears at once: the animated click would wait a moment and then wipe what
        // was typed meanwhile (a scan or a copy delivers queued keys in bursts).
        cb_clear_->click();
        return true;
    }
    if ((watched == ddlb_1_ || watched == ddlb_1_->lineEdit()) &&
        event->type() == QEvent::FocusIn && help_lines().contains(ddlb_1_->currentText())) {
        // The caret arriving on a help line selects it, so typing replaces it. After the
        // mouse press has placed the caret, which would undo a selection made now.
        QTimer::singleShot(0, ddlb_1_->lineEdit(), [this] {
            if (help_lines().contains(ddlb_1_->currentText())) ddlb_1_->lineEdit()->selectAll();
        });
    }
    if (event->type() == QEvent::KeyPress &&
        (watched == ddlb_1_ || watched == ddlb_1_->lineEdit())) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (is_function_key(key)) {
            ue_keydown(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
