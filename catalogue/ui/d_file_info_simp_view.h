#pragma once
// The result list: a grid over a record set with the row buttons "试听" and "下载", the
// heading button "下载全部" and the summary band. The grid holds only the rows on screen
// (windowed_table_view), so a new result of millions of rows costs what a screenful costs,
// plus the summary's total size.
#include <QWidget>

class QLabel;
class QTableView;
class record_set;
class d_file_info_simp_model;
class windowed_table_view;

class d_file_info_simp_view : public QWidget {
    Q_OBJECT
  public:
    explicit d_file_info_simp_view(record_set& rows, QWidget* parent = nullptr);

    QTableView* table() const;
    d_file_info_simp_model* model() const { return model_; }
    // 1-based current row over the whole result, 0 when there is none.
    long getrow() const;
    void setrow(long row);
    // Raises clicked as a click at `row` on the object `object_name` would.
    void trigger_clicked(long row, const QString& object_name) { emit clicked(row, object_name); }
    QLabel* summary_count_label() const { return count_; }
    QLabel* summary_total_label() const { return total_; }

  signals:
    // A click on a row (object: "b_ting", "b_down", a column name) or on the heading
    // button (row 0, "b_downall").
    void clicked(long row, const QString& object_name);
    // A mouse press anywhere on the list: rows, empty space, headings.
    void pressed_anywhere();
    // Keys pressed while the list has the focus.
    void key_pressed(int key, Qt::KeyboardModifiers modifiers);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void refresh_summary();

    record_set& rows_;
    d_file_info_simp_model* model_;
    windowed_table_view* table_;
    QLabel* count_;
    QLabel* total_;
};
