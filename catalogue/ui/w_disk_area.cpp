#include "catalogue/ui/w_disk_area.h"

#include "app/shell/app_globals.h"
#include "app/shell/settings_file.h"
#include "app/shell/settings_keys.h"
#include "app/shell/user_prompts.h"
#include "catalogue/core/list_file.h"
#include "catalogue/ui/list_dialog_widget.h"
#include "catalogue/ui/w_file_type.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int area_max_length = 255;
constexpr int all_layers_choice = 6;
constexpr int all_layers_count = 20;

class area_delegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(area_max_length);
        return editor;
    }
};

QLabel* red_label(const QString& text, const QString& name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label->setPalette(pal);
    return label;
}

QComboBox* choice_list(const QStringList& items, const QString& name, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(false);
    box->addItems(items);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

// Item `choice` (1-based) when there is one, else item `fallback`.
int item_index(int choice, int count, int fallback) {
    return (choice >= 1 && choice <= count) ? choice - 1 : fallback - 1;
}

// The settings file drops the blanks around a value, and several separators are nothing but
// blanks: a stored item is found again by its text without them.
int splitter_index(const QString& stored, const QStringList& items) {
    if (stored.isEmpty()) return -1;
    if (const qsizetype exact = items.indexOf(stored); exact >= 0) return static_cast<int>(exact);
    const QString bare = stored.trimmed();
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items[i].trimmed() == bare) return static_cast<int>(i);
    return -1;
}

int first_digit(const QString& text) {
    return text.isEmpty() ? 0 : text.left(1).toInt();
}

} // namespace

QStringList w_disk_area::dirtype_items() {
    return {
        QStringLiteral("1.任何文件夹(隐藏的和系统的除外)"),
        QStringLiteral("2.##开头的文件夹(推荐用两个井字开头,减少不必要的扫描)"),
    };
}

QStringList w_disk_area::layers_items() {
    return {
        QStringLiteral("1.二层"), QStringLiteral("2.三层"), QStringLiteral("3.四层"),
        QStringLiteral("4.五层"), QStringLiteral("5.六层"), QStringLiteral("6.所有层"),
    };
}

QStringList w_disk_area::splitter_items() {
    return {
        QStringLiteral(" (一空格)"),
        QStringLiteral("@(@)"),
        QStringLiteral("#(#)"),
        QStringLiteral("$($)"),
        QStringLiteral("+(+)"),
        QStringLiteral("-(-)"),
        QStringLiteral("--(双中杠)"),
        QStringLiteral("_(下划线)"),
        QStringLiteral("—(—)"),
        QStringLiteral("———(———)"),
        QStringLiteral("  (两空格)"),
        QStringLiteral("   (三空格)"),
        QStringLiteral("    (四空格)"),
        QStringLiteral("     (五空格)"),
        QStringLiteral("      (六空格)"),
        QStringLiteral(".(单点)"),
        QStringLiteral("..(双点)"),
        QStringLiteral("...(三点)"),
        QStringLiteral("@@(@@)"),
        QStringLiteral("##(##)"),
        QStringLiteral("()"),
        QStringLiteral("~(~)"),
        QStringLiteral("^(^)"),
        QStringLiteral("^^(^^)"),
        QStringLiteral("&(&)"),
        QStringLiteral("&&(&&)"),
        QStringLiteral("=(=)"),
        QStringLiteral("==(==)"),
    };
}

w_disk_area::w_disk_area(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("w_disk_area"));
    setWindowTitle(QStringLiteral("设置扫描的盘符或路径"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    dw_1_ = list_dialog_grid({QStringLiteral("盘符(必须有冒号)或者文件夹路径"), QString()}, this);
    dw_1_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    dw_1_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    dw_1_->setColumnWidth(1, 32);
    dw_1_->setItemDelegateForColumn(0, new area_delegate(dw_1_));

    st_1_ = red_label(QStringLiteral("文件夹识别"), QStringLiteral("st_1"), this);
    ddlb_1_ = choice_list(dirtype_items(), QStringLiteral("ddlb_1"), this);
    st_2_ = red_label(QStringLiteral("扫描深度"), QStringLiteral("st_2"), this);
    ddlb_2_ = choice_list(layers_items(), QStringLiteral("ddlb_2"), this);
    cbx_cut_no_ = new QCheckBox(QStringLiteral("自动切除编号"), this);
    cbx_cut_no_->setObjectName(QStringLiteral("cbx_cut_no"));
    ddlb_3_ = choice_list(splitter_items(), QStringLiteral("ddlb_3"), this);
    ddlb_3_->setMaxVisibleItems(12);
    cb_1_ = list_dialog_button(QStringLiteral("增加行"), QStringLiteral("cb_1"), this);
    cb_2_ = list_dialog_button(QStringLiteral("删除行"), QStringLiteral("cb_2"), this);
    cb_3_ = list_dialog_button(QStringLiteral("确定"), QStringLiteral("cb_3"), this);

    auto* options = new QGridLayout;
    options->addWidget(st_1_, 0, 0);
    options->addWidget(ddlb_1_, 0, 1, Qt::AlignLeft);
    options->addWidget(st_2_, 1, 0);
    options->addWidget(ddlb_2_, 1, 1, Qt::AlignLeft);
    options->addWidget(cbx_cut_no_, 2, 0);
    options->addWidget(ddlb_3_, 2, 1, Qt::AlignLeft);
    options->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cb_1_);
    buttons->addWidget(cb_2_);
    buttons->addStretch(1);
    buttons->addWidget(cb_3_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dw_1_, 1);
    layout->addLayout(options);
    layout->addLayout(buttons);
    fix_dialog_size(this, {520, 420});

    connect(cb_1_, &QPushButton::clicked, this, [this] { add_row(QString()); });
    connect(cb_2_, &QPushButton::clicked, this, &w_disk_area::cb_2_clicked);
    connect(cb_3_, &QPushButton::clicked, this, &QDialog::accept);

    const app_globals& g = globals();
    if (auto rows = read_list_file(g.is_program_path + disk_area_list_name))
        for (const QStringList& fields : *rows) add_row(fields.value(0));

    const settings_file ini(settings_path());
    ddlb_1_->setCurrentIndex(
        item_index(read_setting(ini, setting_dirtype), ddlb_1_->count(), setting_dirtype.fallback));
    ddlb_2_->setCurrentIndex(
        item_index(read_setting(ini, setting_layers), ddlb_2_->count(), setting_layers.fallback));
    // An unknown separator cannot be shown by a fixed list: the default item stands in.
    const int splitter = splitter_index(read_setting(ini, setting_splitter), splitter_items());
    ddlb_3_->setCurrentIndex(splitter >= 0 ? splitter : 1);
    cbx_cut_no_->setChecked(true);
}

QString w_disk_area::settings_path() const {
    return globals().is_program_path + settings_file_name;
}

QPushButton* w_disk_area::b_path(int row) const {
    return qobject_cast<QPushButton*>(dw_1_->cellWidget(row, 1));
}

void w_disk_area::add_row(const QString& text) {
    const int r = dw_1_->rowCount();
    dw_1_->insertRow(r);
    dw_1_->setItem(r, 0, new QTableWidgetItem(text));
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled);
    dw_1_->setItem(r, 1, item);
    auto* button = list_dialog_button(QStringLiteral("..."), QStringLiteral("b_path"), dw_1_);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [this, button] { b_path_clicked(button); });
    dw_1_->setCellWidget(r, 1, button);
}

void w_disk_area::b_path_clicked(QPushButton* button) {
    // Rows move when others are deleted: the button's row is looked up at the click.
    int row = -1;
    for (int r = 0; r < dw_1_->rowCount() && row < 0; ++r)
        if (dw_1_->cellWidget(r, 1) == button) row = r;
    if (row < 0) return;
    dw_1_->setCurrentCell(row, 0);
    const QString folder = prompts().choose_folder(this, QStringLiteral("请选择路径"));
    if (folder.isEmpty()) return;
    dw_1_->item(row, 0)->setText(folder);
}

void w_disk_area::cb_2_clicked() {
    const int row = dw_1_->currentRow();
    if (row < 0) {
        prompts().message(this, QStringLiteral("提示"), QStringLiteral("先点击某行,再删除!"));
        return;
    }
    dw_1_->removeRow(row);
}

void w_disk_area::done(int result) {
    finish_pending_edit(dw_1_);
    save_on_close();
    QDialog::done(result);
}

void w_disk_area::save_on_close() {
    app_globals& g = globals();
    g.gs_diskarea = g.gs_stringarray_null;
    const int n = dw_1_->rowCount();
    if (n == 0) return;

    std::vector<QStringList> rows;
    rows.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        const QTableWidgetItem* item = dw_1_->item(r, 0);
        const QString area = item ? item->text() : QString();
        g.gs_diskarea.append(area);
        rows.push_back({area});
    }
    write_list_file(g.is_program_path + disk_area_list_name, {QStringLiteral("diskarea")}, rows);

    settings_file ini(settings_path());
    const QString dirtype = ddlb_1_->currentText().left(1);
    ini.write(setting_dirtype.section, setting_dirtype.key, dirtype);
    g.ii_dir_type = first_digit(dirtype);

    const QString layers = ddlb_2_->currentText().left(1);
    ini.write(setting_layers.section, setting_layers.key, layers);
    g.ii_scan_layers = first_digit(layers);
    if (g.ii_scan_layers == all_layers_choice) g.ii_scan_layers = all_layers_count;

    if (cbx_cut_no_->isChecked()) {
        const QString item = ddlb_3_->currentText();
        write_setting(ini, setting_splitter, item);
        const qsizetype open = item.indexOf(u'(');
        g.gs_cut_splitter = open < 0 ? item : item.left(open);
        g.gi_cut_splitter_len = static_cast<int>(g.gs_cut_splitter.size());
    }
}
