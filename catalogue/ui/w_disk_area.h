#pragma once
// The first dialog of every scan: where the scan looks (drive letters or folders, kept in
// the list file quellmark_diskarea.dll), which folders it enters, how deep, and which
// separator splits a leading number off a file name (kept in the settings file). Closing it,
// however that happens, is what hands all of it to the scanner's globals.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QStringView>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

inline constexpr QStringView disk_area_list_name = u"quellmark_diskarea.dll";

class w_disk_area : public QDialog {
    Q_OBJECT
  public:
    explicit w_disk_area(QWidget* parent = nullptr);

    static QStringList dirtype_items();
    static QStringList layers_items();
    static QStringList splitter_items();

    QTableWidget* dw_1() const { return dw_1_; }
    // The "..." button of a row (0-based), nullptr past the last row.
    QPushButton* b_path(int row) const;
    QLabel* st_1() const { return st_1_; }
    QLabel* st_2() const { return st_2_; }
    QComboBox* ddlb_1() const { return ddlb_1_; }
    QComboBox* ddlb_2() const { return ddlb_2_; }
    QComboBox* ddlb_3() const { return ddlb_3_; }
    QCheckBox* cbx_cut_no() const { return cbx_cut_no_; }
    QPushButton* cb_1() const { return cb_1_; }
    QPushButton* cb_2() const { return cb_2_; }
    QPushButton* cb_3() const { return cb_3_; }

    void done(int result) override;

  private:
    void add_row(const QString& text);
    void b_path_clicked(QPushButton* button);
    void cb_2_clicked();
    void save_on_close();
    QString settings_path() const;

    QTableWidget* dw_1_;
    QLabel* st_1_;
    QComboBox* ddlb_1_;
    QLabel* st_2_;
    QComboBox* ddlb_2_;
    QCheckBox* cbx_cut_no_;
    QComboBox* ddlb_3_;
    QPushButton* cb_1_;
    QPushButton* cb_2_;
    QPushButton* cb_3_;
};
