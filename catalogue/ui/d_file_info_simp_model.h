#pragma once
// Shows a record set in the layout of the result list: seven of the nine columns, then the
// two row buttons. Only a window of the result is a model row: `window_first()` result rows
// come before model row 0, and at most the window's capacity (a screenful) follows. A new
// result moves the window to its top and has no current row. Moving the window resets the
// model, which costs the rows of the window, never the rows of the result.
#include <QAbstractTableModel>

class record_set;

class d_file_info_simp_model : public QAbstractTableModel {
    Q_OBJECT
  public:
    // Display columns, left to right.
    enum display_column {
        shown_machineid,
        shown_filename,
        shown_fileext,
        shown_createdate,
        shown_filepath,
        shown_filesizedec,
        shown_sourceid,
        button_ting,
        button_down,
        display_column_count
    };

    explicit d_file_info_simp_model(record_set& rows, QObject* parent = nullptr);
    ~d_file_info_simp_model() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The record set column behind a display column; 0 for the buttons.
    static int record_column(int display_column);
    // Object name of what a click on a display column hits ("b_ting", "b_down", or the
    // column's name).
    static QString object_name(int display_column);

    // Rows of the whole result, and the window over them (`first` 0-based; a capacity below 1
    // counts as 1). Resets the model only when the window changes, and says whether it did.
    long result_rows() const;
    bool set_window(long first, long capacity);
    long window_first() const { return window_first_; }
    // 1-based result row of a model row, and the model row of a result row (-1 outside).
    long result_row(int model_row) const { return window_first_ + model_row + 1; }
    int model_row(long result_row) const;

    // The current row (1-based over the whole result, 0 for none) is drawn larger, bold and
    // red in its first column.
    void set_current_row(long row);
    long current_row() const { return current_row_; }

    // The summary band: number of rows, and their total size in megabytes with one decimal.
    QString summary_count() const;
    QString summary_total_size() const;

  signals:
    void rows_replaced();

  private:
    record_set& rows_;
    long current_row_ = 0;
    long window_first_ = 0;
    long window_capacity_ = 64;
};
