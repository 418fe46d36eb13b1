#include "catalogue/ui/w_file_type.h"

#include "app/shell/app_globals.h"
#include "app/shell/user_prompts.h"
#include "catalogue/core/list_file.h"
#include "catalogue/ui/list_dialog_widget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int extension_max_length = 6;

QString cell_text(const QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

std::optional<std::vector<file_type_row>> read_file_type_list(const QString& path) {
    auto lines = read_list_file(path);
    if (!lines) return std::nullopt;
    std::vector<file_type_row> rows;
    rows.reserve(lines->size());
    for (const QStringList& fields : *lines) rows.push_back({fields.value(0), fields.value(1)});
    return rows;
}

bool write_file_type_list(const QString& path, const std::vector<file_type_row>& rows) {
    std::vector<QStringList> lines;
    lines.reserve(rows.size());
    for (const file_type_row& r : rows) lines.push_back({r.diskarea, r.checkit});
    return write_list_file(path, {QStringLiteral("diskarea"), QStringLiteral("checkit")}, lines);
}

file_ext_delegate::file_ext_delegate(QAbstractItemView* view)
    : QStyledItemDelegate(view), view_(view) {}

QWidget* file_ext_delegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(extension_max_length);
    return editor;
}

void file_ext_delegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
    last_refused_ = false;
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line) return QStyledItemDelegate::setModelData(editor, model, index);
    const QString text = line->text();
    // Only a changed value is checked: leaving a new row's cell untouched is no entry.
    if (text == index.data(Qt::EditRole).toString()) return;
    if (!acceptable(text)) {
        last_refused_ = true;
        refuse(index, text);
        return;
    }
    model->setData(index, text, Qt::EditRole);
}

// The message comes after the editor has closed: shown from inside the commit, the box
// would take the focus and commit the same editor a second time.
void file_ext_delegate::refuse(const QModelIndex& index, const QString& text) const {
    QPointer<QAbstractItemView> view(view_);
    QPersistentModelIndex where(index);
    QTimer::singleShot(0, view_, [view, where, text] {
        // A window closed meanwhile (its cancel button, its frame) has nothing to correct.
        if (!view || !view->window()->isVisible()) return;
        prompts().message(view->window(), QStringLiteral("提示"),
                          QStringLiteral("文件格式必须输入\".\""));
        if (!view || !where.isValid() || !view->window()->isVisible()) return;
        const QModelIndex at(where);
        view->setCurrentIndex(at);
        view->edit(at);
        if (auto* line = qobject_cast<QLineEdit*>(view->indexWidget(at))) {
            line->setText(text);
            line->selectAll();
        }
    });
}

bool finish_pending_edit(QAbstractItemView* view) {
    const QModelIndex at = view->currentIndex();
    // Only an open cell editor; widgets placed in cells (buttons) are no edits.
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(at));
    QAbstractItemDelegate* delegate = view->itemDelegateForIndex(at);
    if (!editor || !delegate) return true;
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
    const auto* checked = qobject_cast<const file_ext_delegate*>(delegate);
    return !(checked && checked->last_refused());
}

w_file_type::w_file_type(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("w_file_type"));
    setWindowTitle(QStringLiteral("设置扫描的文件类型"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    dw_1_ = list_dialog_grid(
        {QStringLiteral("文件扩展名(以小圆点开头)"), QStringLiteral("checkit")}, this);
    dw_1_->setColumnHidden(1, true);
    dw_1_->horizontalHeader()->setStretchLastSection(true);
    dw_1_->setItemDelegateForColumn(0, new file_ext_delegate(dw_1_));

    st_1_ = new QLabel(QStringLiteral("如果不添加任何类型,则所有类型将被扫描!"), this);
    st_1_->setObjectName(QStringLiteral("st_1"));
    cb_1_ = list_dialog_button(QStringLiteral("增加行"), QStringLiteral("cb_1"), this);
    cb_2_ = list_dialog_button(QStringLiteral("删除行"), QStringLiteral("cb_2"), this);
    cb_4_ = list_dialog_button(QStringLiteral("取消扫描"), QStringLiteral("cb_4"), this);
    cb_3_ = list_dialog_button(QStringLiteral("确认"), QStringLiteral("cb_3"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cb_1_);
    buttons->addWidget(cb_2_);
    buttons->addStretch(1);
    buttons->addWidget(cb_4_);
    buttons->addWidget(cb_3_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dw_1_, 1);
    layout->addWidget(st_1_);
    layout->addLayout(buttons);
    fix_dialog_size(this, {360, 380});

    connect(cb_1_, &QPushButton::clicked, this, &w_file_type::cb_1_clicked);
    connect(cb_2_, &QPushButton::clicked, this, &w_file_type::cb_2_clicked);
    connect(cb_3_, &QPushButton::clicked, this, &w_file_type::cb_3_clicked);
    connect(cb_4_, &QPushButton::clicked, this, [this] { done(-1); });

    if (auto rows = read_file_type_list(globals().is_program_path + file_type_list_name))
        for (const file_type_row& r : *rows) add_row(r);
}

void w_file_type::add_row(const file_type_row& row) {
    const int r = dw_1_->rowCount();
    dw_1_->insertRow(r);
    dw_1_->setItem(r, 0, new QTableWidgetItem(row.diskarea));
    dw_1_->setItem(r, 1, new QTableWidgetItem(row.checkit));
}

void w_file_type::cb_1_clicked() {
    add_row({QString(), QStringLiteral("1")});
}

void w_file_type::cb_2_clicked() {
    const int row = dw_1_->currentRow();
    if (row < 0) {
        prompts().message(this, QStringLiteral("提示"), QStringLiteral("先点击某行,再删除!"));
        return;
    }
    dw_1_->removeRow(row);
}

void w_file_type::cb_3_clicked() {
    // A refused entry still being typed is no list to confirm.
    if (!finish_pending_edit(dw_1_)) return;
    app_globals& g = globals();
    g.gs_filetype = g.gs_stringarray_null;
    const int n = dw_1_->rowCount();
    g.gi_filetype_upperbound = n;
    std::vector<file_type_row> rows;
    rows.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) rows.push_back({cell_text(dw_1_, r, 0), cell_text(dw_1_, r, 1)});
    write_file_type_list(g.is_program_path + file_type_list_name, rows);
    for (const file_type_row& r : rows) g.gs_filetype.append(r.diskarea);
    done(1);
}
