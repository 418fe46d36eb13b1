#pragma once
// The program's one main window: condition box and buttons across the top, the result
// list in the middle, the picture panel sliding over its right part, status texts, download
// folder buttons and the player choice across the bottom. It owns the catalogue.
#include "app/main/main_layout.h"
#include "catalogue/core/record_set.h"
#include "search/core/file_type_query_target.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class d_file_info_simp_view;
class w_wait_for3;
class download_controller;
class d_file_pic_view;

class w_main : public QWidget, private file_type_query_target {
    Q_OBJECT
  public:
    explicit w_main(QWidget* parent = nullptr);
    ~w_main() override;

    // The start sequence; `program_folder` stands in for the current directory in tests.
    void open_event(const QString& program_folder = {});

    // Posted user events.
    void ue_create_dir();
    void ue_load_file();
    void ue_query();
    void ue_scandisk();
    void ue_down_qty();
    // The function-key commands, bound to the window and to the result list.
    void ue_keydown(int key);

    // Button handlers.
    void cb_query_clicked();
    void cb_clear_clicked();
    void cb_clear_downpath_clicked();
    void dw_1_clicked(long row, const QString& object_name);

    record_set& dts_fileslist() { return dts_fileslist_; }
    record_set& dw_1_rows() { return dw_1_rows_; }
    d_file_info_simp_view* dw_1() const { return dw_1_; }
    d_file_pic_view* dw_2() const { return dw_2_; }
    QComboBox* ddlb_1() const { return ddlb_1_; }
    QLabel* st_query_note() const { return st_query_note_; }
    QLabel* st_scaned_qty() const { return st_scaned_qty_; }
    QLabel* st_down_qty() const { return st_down_qty_; }
    // The folder the next download goes to, under the bottom bar's controls.
    QLabel* st_down_folder() const { return st_down_folder_; }
    QPushButton* cb_query() const { return cb_query_; }
    QPushButton* cb_clear() const { return cb_clear_; }
    QPushButton* cb_open_custdir() const { return cb_open_custdir_; }
    QPushButton* cb_selectdir() const { return cb_selectdir_; }
    QPushButton* cb_dowpath() const { return cb_dowpath_; }
    QPushButton* cb_scandisk() const { return cb_scandisk_; }
    QPushButton* cb_clear_downpath() const { return cb_clear_downpath_; }
    int ii_last_focus_control() const { return ii_last_focus_control_; }
    const QString& dwo_shutkeydown() const { return dwo_shutkeydown_; }
    QRadioButton* rb_default() const { return rb_default_; }
    QRadioButton* rb_baofeng() const { return rb_baofeng_; }
    QTimer& timer() { return timer_; }
    w_wait_for3* wait_window() const { return wait_; }
    bool ib_show_pic() const { return ib_show_pic_; }
    bool scan_running() const { return ib_scanning_; }
    const QString& is_down_path() const { return is_down_path_; }
    download_controller& downloads() { return *downloads_; }
    // Every posted event and handler that ran, in order: for tests of the start sequence.
    const QStringList& event_log() const { return event_log_; }
    static QStringList help_lines();

  signals:
    void query_done();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // The constructor's steps.
    void create_controls();
    void set_tab_order();
    void connect_condition_box();
    void connect_buttons();
    void create_downloads();

    template <typename Fn> void post(Fn fn);
    // What the file type query window changes; refused while a scan fills the catalogue.
    bool main_window_open() const override { return !ib_scanning_; }
    record_set& catalogue() override { return dts_fileslist_; }
    void reset_result_list() override { dw_1_rows_.reset(); }
    void set_scaned_qty(const QString& text) override;
    void on_condition_edited(const QString& text);
    void on_timer();
    void leave_picture_mode();
    void enter_picture_mode();
    void place(QWidget* w, const QString& name);
    // The picture panel takes the focus by Tab only while it is in view.
    void fit_panel_tab_stop();
    void apply_places();
    void place_folder_line();
    // Places the bottom row; returns the width it needs (at its narrowest with `at_minimum`,
    // which moves nothing).
    int pack_bottom_row(bool at_minimum = false);
    void write_player_choice(int value, bool checked);
    void run_scan();
    void post_click(QPushButton* button);
    void listen_row(long row);
    QString settings_path() const;

    record_set dts_fileslist_;
    record_set dw_1_rows_;
    control_places places_;

    QLabel* p_1_;
    QLabel* p_2_;
    QComboBox* ddlb_1_;
    QPushButton* cb_query_;
    QPushButton* cb_clear_;
    QPushButton* cb_fileext_;
    d_file_info_simp_view* dw_1_;
    d_file_pic_view* dw_2_;
    QPushButton* cb_scandisk_;
    QLabel* st_scaned_qty_;
    QLabel* st_query_note_;
    QPushButton* cb_clear_downpath_;
    QPushButton* cb_dowpath_;
    QLabel* st_down_qty_;
    QLabel* st_down_folder_;
    QPushButton* cb_open_custdir_;
    QPushButton* cb_selectdir_;
    QRadioButton* rb_default_;
    QRadioButton* rb_baofeng_;
    w_wait_for3* wait_;
    QTimer timer_;
    // Looks for the card coming and going, so the folder shown stays true.
    QTimer folder_watch_;
    std::unique_ptr<download_controller> downloads_;

    QString is_down_path_;
    int ii_condition_last_len_ = 0;
    double id_query_delay_ms_ = 0.3; // seconds, despite the name
    bool ib_show_pic_ = false;
    int ii_last_focus_control_ = 1;
    bool ib_scanning_ = false;
    bool ib_close_after_scan_ = false;
    QString dwo_shutkeydown_;
    QStringList event_log_;
};
