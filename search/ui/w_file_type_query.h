#pragma once
// The window that keeps whole file types out of searching: the user unticks the types not
// to be searched and confirms; the catalogue records of those types are then set aside until
// they are ticked again. The tick marks are kept in the list file quellmark_filetypequery.dll.
// Not modal, one instance at a time.
#include "catalogue/ui/w_file_type.h"

#include <QString>
#include <QStringView>
#include <QWidget>
#include <vector>

class QPushButton;
class QTableWidget;
class file_type_query_target;

inline constexpr QStringView file_type_query_list_name = u"quellmark_filetypequery.dll";

class w_file_type_query : public QWidget {
    Q_OBJECT
  public:
    // Opens the window, or brings the open one to the front. The window is owned by `owner`
    // (closed with it when given); `target` must outlive it.
    static w_file_type_query* open_or_raise(file_type_query_target& target,
                                            QWidget* owner = nullptr);
    // The open window, if any.
    static w_file_type_query* instance();

    // The filter that shows exactly the records of the unticked types; empty when every row
    // is ticked.
    QString exclusion_expression() const;
    bool ticked(int row) const;
    void set_ticked(int row, bool on);

    QTableWidget* dw_1() const { return dw_1_; }
    QPushButton* cb_1() const { return cb_1_; }
    QPushButton* cb_2() const { return cb_2_; }
    QPushButton* cb_3() const { return cb_3_; }

  private:
    w_file_type_query(file_type_query_target& target, QWidget* owner);

    void show_rows(const std::vector<file_type_row>& rows);
    void reload_from(QStringView list_name);
    void cb_3_clicked();

    file_type_query_target& target_;
    QTableWidget* dw_1_;
    QPushButton* cb_1_;
    QPushButton* cb_2_;
    QPushButton* cb_3_;
};
