#include "search/ui/w_file_type_query.h"

#include "app/shell/app_globals.h"
#include "catalogue/ui/list_dialog_widget.h"
#include "search/core/file_type_query_target.h"
#include "search/language/filter_language.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QPointer<w_file_type_query> open_window;

// A missing or unreadable mark searches the type, as a new row's mark does.
bool mark_ticked(const QString& checkit) {
    return checkit.trimmed() != QLatin1StringView("0");
}

} // namespace

w_file_type_query* w_file_type_query::instance() {
    return open_window.data();
}

w_file_type_query* w_file_type_query::open_or_raise(file_type_query_target& target,
                                                    QWidget* owner) {
    if (open_window) {
        open_window->setWindowState(open_window->windowState() & ~Qt::WindowMinimized);
        open_window->show();
        open_window->raise();
        open_window->activateWindow();
        return open_window.data();
    }
    auto* window = new w_file_type_query(target, owner);
    open_window = window;
    QRect around = owner ? owner->frameGeometry() : QRect();
    if (around.isEmpty()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            around = screen->availableGeometry();
    }
    if (!around.isEmpty()) window->move(around.center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

w_file_type_query::w_file_type_query(file_type_query_target& target, QWidget* owner)
    : QWidget(owner), target_(target) {
    setObjectName(QStringLiteral("w_file_type_query"));
    setWindowTitle(QStringLiteral("设置扫描的文件类型"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);

    dw_1_ = list_dialog_grid({QStringLiteral("*不检索的格式去勾"), QString()}, this);
    dw_1_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    dw_1_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    dw_1_->setColumnWidth(1, 40);
    dw_1_->setItemDelegateForColumn(0, new file_ext_delegate(dw_1_));

    cb_1_ = list_dialog_button(QStringLiteral("载入最新扫描格式"), QStringLiteral("cb_1"), this);
    cb_2_ = list_dialog_button(QStringLiteral("载入当前格式"), QStringLiteral("cb_2"), this);
    cb_3_ = list_dialog_button(QStringLiteral("确认"), QStringLiteral("cb_3"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cb_1_);
    buttons->addWidget(cb_2_);
    buttons->addStretch(1);
    buttons->addWidget(cb_3_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dw_1_, 1);
    layout->addLayout(buttons);
    resize(400, 420);

    connect(cb_1_, &QPushButton::clicked, this, [this] { reload_from(file_type_list_name); });
    connect(cb_2_, &QPushButton::clicked, this, [this] { reload_from(file_type_query_list_name); });
    connect(cb_3_, &QPushButton::clicked, this, &w_file_type_query::cb_3_clicked);

    const QString& folder = globals().is_program_path;
    if (auto rows = read_file_type_list(folder + file_type_query_list_name)) {
        show_rows(*rows);
    } else if (auto scanned = read_file_type_list(folder + file_type_list_name)) {
        show_rows(*scanned);
    }
}

void w_file_type_query::show_rows(const std::vector<file_type_row>& rows) {
    dw_1_->setRowCount(0);
    for (const file_type_row& row : rows) {
        const int r = dw_1_->rowCount();
        dw_1_->insertRow(r);
        dw_1_->setItem(r, 0, new QTableWidgetItem(row.diskarea));
        auto* tick = new QTableWidgetItem;
        tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        tick->setCheckState(mark_ticked(row.checkit) ? Qt::Checked : Qt::Unchecked);
        dw_1_->setItem(r, 1, tick);
    }
}

void w_file_type_query::reload_from(QStringView list_name) {
    if (auto rows = read_file_type_list(globals().is_program_path + list_name)) {
        finish_pending_edit(dw_1_);
        show_rows(*rows);
    }
}

bool w_file_type_query::ticked(int row) const {
    const QTableWidgetItem* tick = dw_1_->item(row, 1);
    return !tick || tick->checkState() != Qt::Unchecked;
}

void w_file_type_query::set_ticked(int row, bool on) {
    if (QTableWidgetItem* tick = dw_1_->item(row, 1))
        tick->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

QString w_file_type_query::exclusion_expression() const {
    QString expression;
    for (int r = 0; r < dw_1_->rowCount(); ++r) {
        if (ticked(r)) continue;
        const QTableWidgetItem* item = dw_1_->item(r, 0);
        // Escaped: an extension holding a quote would otherwise end the string early and
        // the whole expression would not parse.
        const QString term =
            QStringLiteral("fileext = '") + filter_escape(item ? item->text() : QString()) + u'\'';
        if (expression.isEmpty()) {
            expression = term;
        } else {
            expression += QStringLiteral(" or ") + term;
        }
    }
    return expression;
}

void w_file_type_query::cb_3_clicked() {
    if (!target_.main_window_open()) return;
    if (!finish_pending_edit(dw_1_)) return;
    const int n = dw_1_->rowCount();
    if (n < 1) return;

    const QString expression = exclusion_expression();
    target_.reset_result_list();
    record_set& catalogue = target_.catalogue();
    if (catalogue.setasidecount() > 0) catalogue.move_from_setaside(1, catalogue.setasidecount());
    // An expression that did not parse would leave the old filter in force and set aside
    // the wrong records: then nothing is set aside.
    if (!expression.isEmpty() && catalogue.setfilter(expression) == 1) {
        catalogue.filter();
        if (const long m = catalogue.rowcount(); m > 0) catalogue.move_to_setaside(1, m);
    }
    // Also when no record has an unticked type: the catalogue must not be left filtered.
    catalogue.setfilter(QString());
    catalogue.filter();
    target_.set_scaned_qty(QString::number(catalogue.rowcount()) + QStringLiteral("个"));

    std::vector<file_type_row> rows;
    rows.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        const QTableWidgetItem* item = dw_1_->item(r, 0);
        rows.push_back({item ? item->text() : QString(),
                        ticked(r) ? QStringLiteral("1") : QStringLiteral("0")});
    }
    write_file_type_list(globals().is_program_path + file_type_query_list_name, rows);
    close();
}
