#include "catalogue/ui/list_dialog_widget.h"

#include <QDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

QPushButton* list_dialog_button(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QTableWidget* list_dialog_grid(const QStringList& headings, QWidget* parent) {
    auto* grid = new QTableWidget(0, 2, parent);
    grid->setObjectName(QStringLiteral("dw_1"));
    grid->setHorizontalHeaderLabels(headings);
    grid->verticalHeader()->setVisible(false);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    return grid;
}

void fix_dialog_size(QDialog* dialog, QSize wanted) {
    dialog->ensurePolished(); // the style's sizes, as shown
    dialog->setFixedSize(wanted.expandedTo(dialog->minimumSizeHint()));
}
