#pragma once
// Shows a record set in the layout of the result list: seven of the nine columns, then the
// two row buttons. The view asks only for the rows on screen.
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

    // The current row (1-based, 0 for none) is drawn larger, bold and red in its first column.
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
};
