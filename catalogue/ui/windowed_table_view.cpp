#include "catalogue/ui/windowed_table_view.h"

#include "catalogue/ui/d_file_info_simp_model.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>

#include <algorithm>
#include <utility>

windowed_table_view::windowed_table_view(d_file_info_simp_model* model, QWidget* parent)
    : QTableView(parent), model_(model) {
    setModel(model_);
    setVerticalScrollMode(ScrollPerItem);
    // The base class would scroll a clicked, partly shown last row into view while the button
    // is down, moving the window under the click; a click never scrolls here.
    setAutoScroll(false);
}

long windowed_table_view::rows_on_screen() const {
    const int row_height = std::max(1, verticalHeader()->defaultSectionSize());
    return std::max(1, viewport()->height() / row_height);
}

void windowed_table_view::refit() {
    const long shown = rows_on_screen();
    const long last_top = std::max(0L, model_->result_rows() - shown);
    const long first = std::min(model_->window_first(), last_top);
    // One row more than fits: the partly shown row at the bottom.
    if (model_->set_window(first, shown + 1)) mirror_current_row();
    QScrollBar* bar = verticalScrollBar();
    const bool was = std::exchange(adjusting_, true);
    bar->setRange(0, static_cast<int>(last_top));
    bar->setPageStep(static_cast<int>(shown));
    bar->setSingleStep(1);
    bar->setValue(static_cast<int>(first));
    adjusting_ = was;
}

void windowed_table_view::updateGeometries() {
    // The base class fits the bar to the model's few rows; this one fits it to the result.
    const bool was = std::exchange(adjusting_, true);
    QTableView::updateGeometries();
    adjusting_ = was;
    refit();
}

bool windowed_table_view::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) refit();
    return QTableView::viewportEvent(event);
}

void windowed_table_view::scrollContentsBy(int dx, int dy) {
    if (dx) QTableView::scrollContentsBy(dx, 0);
    if (dy && !adjusting_) move_window(verticalScrollBar()->value());
}

void windowed_table_view::move_window(long first) {
    if (model_->set_window(first, rows_on_screen() + 1)) mirror_current_row();
}

void windowed_table_view::ensure_row_visible(long row) {
    if (row < 1 || row > model_->result_rows()) return;
    const long shown = rows_on_screen();
    const long top = model_->window_first();
    long first = top;
    if (row - 1 < top)
        first = row - 1;
    else if (row > top + shown)
        first = row - shown;
    if (first == top) return;
    // The bar's move moves the window (scrollContentsBy).
    verticalScrollBar()->setValue(static_cast<int>(first));
    if (model_->window_first() != first) move_window(first);
}

void windowed_table_view::set_current_row(long row) {
    if (row < 1 || row > model_->result_rows()) return;
    ensure_row_visible(row);
    model_->set_current_row(row);
    mirror_current_row();
}

void windowed_table_view::mirror_current_row() {
    QItemSelectionModel* selection = selectionModel();
    if (!selection) return;
    const int m = model_->model_row(model_->current_row());
    const bool was = std::exchange(mirroring_, true);
    if (m < 0) {
        selection->clear();
    } else {
        const QModelIndex index = model_->index(m, current_column_);
        if (selection->currentIndex() != index || !selection->isRowSelected(m))
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    }
    mirroring_ = was;
}

void windowed_table_view::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (mirroring_ || !current.isValid()) return;
    current_column_ = current.column();
    model_->set_current_row(model_->result_row(current.row()));
}

void windowed_table_view::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid()) return;
    const long row = model_->result_row(index.row());
    const int column = index.column();
    ensure_row_visible(row);
    // The base class only brings the column into view: the row is on screen now.
    const int m = model_->model_row(row);
    if (m < 0) return;
    const bool was = std::exchange(adjusting_, true);
    const int value = verticalScrollBar()->value();
    QTableView::scrollTo(model_->index(m, column), hint);
    verticalScrollBar()->setValue(value);
    adjusting_ = was;
}

QModelIndex windowed_table_view::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const long total = model_->result_rows();
    if (total == 0) return {};
    const long current = model_->current_row();
    const bool control = modifiers & Qt::ControlModifier;
    const bool along_row = action == MoveLeft || action == MoveRight || action == MoveNext ||
                           action == MovePrevious ||
                           ((action == MoveHome || action == MoveEnd) && !control);
    // With no current row a key starts at the top row on screen (Ctrl+Home and Ctrl+End at
    // their ends); so does the focus arriving, which must not scroll under a click.
    long row = model_->window_first() + 1;
    if (current < 1 && control && (action == MoveHome || action == MoveEnd)) {
        row = action == MoveHome ? 1 : total;
    } else if (current >= 1) {
        const long page = rows_on_screen();
        switch (action) {
        case MoveUp:
            row = current - 1;
            break;
        case MoveDown:
            row = current + 1;
            break;
        case MovePageUp:
            row = current - page;
            break;
        case MovePageDown:
            row = current + page;
            break;
        case MoveHome:
            row = control ? 1 : current;
            break;
        case MoveEnd:
            row = control ? total : current;
            break;
        default:
            row = current;
            break;
        }
        row = std::clamp(row, 1L, total);
    }
    ensure_row_visible(row);
    mirror_current_row();
    const int m = model_->model_row(row);
    if (m < 0) return {};
    if (current >= 1 && along_row) return QTableView::moveCursor(action, modifiers);
    return model_->index(m, currentIndex().isValid() ? currentIndex().column() : current_column_);
}
