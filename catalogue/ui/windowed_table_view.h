#pragma once
// The grid of the result list. Its model holds only the rows on screen (see
// d_file_info_simp_model); the vertical scroll bar runs over the whole result, its value the
// 0-based result row at the top, and moving it moves the model's window. Keys, the wheel and
// the bar reach every row of any result while a scroll, a key or a new result costs the rows on
// screen. The current row lives in the model (1-based over the whole result); the grid's own
// current index and selection mirror it while it is on screen.
#include <QTableView>

class d_file_info_simp_model;

class windowed_table_view : public QTableView {
    Q_OBJECT
  public:
    explicit windowed_table_view(d_file_info_simp_model* model, QWidget* parent = nullptr);

    // Rows wholly on screen (at least 1).
    long rows_on_screen() const;
    // Makes `row` (1-based over the result) current, selected and wholly on screen.
    void set_current_row(long row);
    // Moves the window as little as needed for `row` to be wholly on screen.
    void ensure_row_visible(long row);
    // Fits the window and the scroll bar to the result and the screen; a new result shows its
    // top.
    void refit();

  protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool viewportEvent(QEvent* event) override;

  private:
    void move_window(long first);
    // Points the grid's current index and selection at the current row, if on screen.
    void mirror_current_row();

    d_file_info_simp_model* model_;
    // Set while the bar is set by this class or the base class: its moves are not the user's.
    bool adjusting_ = false;
    // Set while the grid's current index is made to mirror the model's current row.
    bool mirroring_ = false;
    int current_column_ = 0;
};
