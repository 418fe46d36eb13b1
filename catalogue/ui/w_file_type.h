#pragma once
// The second dialog of every scan: the file extensions a scan catalogues (none listed: all
// of them), kept in the list file quellmark_filetype.dll. It answers 1 ("确认"), -1
// ("取消扫描") or 0 when closed by its frame or Escape, and saves only on 1.
//
// A typed extension must start with "."; anything else is refused with a message and the
// cell is opened again with the refused text, so the user corrects it or undoes it (Escape).
#include <QDialog>
#include <QString>
#include <QStringView>
#include <QStyledItemDelegate>
#include <optional>
#include <vector>

class QAbstractItemView;
class QLabel;
class QPushButton;
class QTableWidget;

inline constexpr QStringView file_type_list_name = u"quellmark_filetype.dll";

// One line of the file type lists: the extension and its search mark, the mark kept as read
// ("1", "0" or empty) so that rows pass through a window unchanged.
struct file_type_row {
    QString diskarea;
    QString checkit;
};

// nullopt when the file does not exist or cannot be read.
std::optional<std::vector<file_type_row>> read_file_type_list(const QString& path);
bool write_file_type_list(const QString& path, const std::vector<file_type_row>& rows);

// Editor of an extension cell: at most 6 characters, first one ".".
class file_ext_delegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    explicit file_ext_delegate(QAbstractItemView* view);

    static bool acceptable(QStringView text) { return text.startsWith(u'.'); }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

    // Whether the last entry handed to the model was refused.
    bool last_refused() const { return last_refused_; }

  private:
    void refuse(const QModelIndex& index, const QString& text) const;

    QAbstractItemView* view_;
    mutable bool last_refused_ = false;
};

// Hands an edit still open in `view` to the model, as leaving the cell would, so a window
// that saves on a button click never loses the text being typed. False when the entry was
// refused.
bool finish_pending_edit(QAbstractItemView* view);

class w_file_type : public QDialog {
    Q_OBJECT
  public:
    explicit w_file_type(QWidget* parent = nullptr);

    // 1 confirmed, -1 scan cancelled, 0 closed otherwise (also while still open).
    int answer() const { return result(); }

    QTableWidget* dw_1() const { return dw_1_; }
    QLabel* st_1() const { return st_1_; }
    QPushButton* cb_1() const { return cb_1_; }
    QPushButton* cb_2() const { return cb_2_; }
    QPushButton* cb_3() const { return cb_3_; }
    QPushButton* cb_4() const { return cb_4_; }

  private:
    void add_row(const file_type_row& row);
    void cb_1_clicked();
    void cb_2_clicked();
    void cb_3_clicked();

    QTableWidget* dw_1_;
    QLabel* st_1_;
    QPushButton* cb_1_;
    QPushButton* cb_2_;
    QPushButton* cb_4_;
    QPushButton* cb_3_;
};
