#include "app/main/w_main.h"

#include "app/main/scan_dialogs.h"
#include "app/shell/app_globals.h"
#include "app/shell/application_icon.h"
#include "app/shell/layout_units.h"
#include "app/shell/settings_file.h"
#include "app/shell/settings_keys.h"
#include "app/shell/user_prompts.h"
#include "app/shell/w_wait_for3.h"
#include "catalogue/core/catalogue_loading.h"
#include "catalogue/core/scan_command.h"
#include "catalogue/ui/d_file_info_simp_view.h"
#include "retrieval/core/download_controller.h"
#include "retrieval/core/removable_volumes.h"
#include "retrieval/ui/d_file_pic_view.h"
#include "retrieval/ui/desktop_opener.h"
#include "retrieval/ui/w_player.h"
#include "search/core/query_engine.h"
#include "search/ui/w_file_type_query.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTableView>

namespace {

QFont tahoma(int points) {
    QFont f(QStringLiteral("Tahoma"), points);
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei"),
                   QStringLiteral("Noto Sans CJK SC")});
    return f;
}

void make_red(QLabel* label) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label->setPalette(pal);
}

QLabel* picture_band(QWidget* parent, const QString& name) {
    auto* band = new QLabel(parent);
    band->setObjectName(name);
    band->setPixmap(QPixmap(QStringLiteral(":/pictures/bg_8.jpg")));
    band->setScaledContents(true);
    return band;
}

} // namespace

w_main::w_main(QWidget* parent) : QWidget(parent), places_(design_places()) {
    setObjectName(QStringLiteral("w_main"));
    setWindowTitle(QStringLiteral("青石坊文件搜索器"));
    setWindowIcon(application_icon());
    setFont(tahoma(9));
    setAutoFillBackground(true);
    resize(units_to_px_x(4741), units_to_px_y(2508));

    create_controls();
    set_tab_order();
    connect_condition_box();
    connect_buttons();
    create_downloads();
    apply_places();
    // Every control whole, and a few rows of the list.
    setMinimumSize(pack_bottom_row(true),
                   minimum_client_height(dw_1_->table()->verticalHeader()->defaultSectionSize()));
}

void w_main::create_controls() {
    // Created in the window's own order: later controls lie on top of earlier ones.
    st_down_qty_ = new QLabel(QStringLiteral("[0]"), this);
    st_down_qty_->setObjectName(QStringLiteral("st_down_qty"));
    make_red(st_down_qty_);
    st_down_folder_ = new QLabel(this);
    st_down_folder_->setObjectName(QStringLiteral("st_down_folder"));
    cb_open_custdir_ = new QPushButton(QStringLiteral("打开自定义下载目录"), this);
    cb_open_custdir_->setObjectName(QStringLiteral("cb_open_custdir"));
    cb_open_custdir_->setEnabled(false);
    cb_selectdir_ = new QPushButton(QStringLiteral("自定义下载目录"), this);
    cb_selectdir_->setObjectName(QStringLiteral("cb_selectdir"));
    st_query_note_ = new QLabel(QStringLiteral("..."), this);
    st_query_note_->setObjectName(QStringLiteral("st_query_note"));
    make_red(st_query_note_);
    cb_fileext_ = new QPushButton(QStringLiteral("文件格式"), this);
    cb_fileext_->setObjectName(QStringLiteral("cb_fileext"));
    st_scaned_qty_ = new QLabel(QStringLiteral("0个"), this);
    st_scaned_qty_->setObjectName(QStringLiteral("st_scaned_qty"));
    make_red(st_scaned_qty_);
    dw_2_ = new d_file_pic_view(this);
    dw_2_->set_rows(&dw_1_rows_);
    rb_baofeng_ = new QRadioButton(QStringLiteral("用暴风影音3.6"), this);
    rb_baofeng_->setObjectName(QStringLiteral("rb_baofeng"));
    rb_default_ = new QRadioButton(QStringLiteral("默认试听"), this);
    rb_default_->setObjectName(QStringLiteral("rb_default"));
    rb_default_->setChecked(true);
    cb_clear_ = new QPushButton(QStringLiteral("清除[&X]"), this);
    cb_clear_->setObjectName(QStringLiteral("cb_clear"));
    cb_query_ = new QPushButton(QStringLiteral("查询"), this);
    cb_query_->setObjectName(QStringLiteral("cb_query"));
    cb_query_->setDefault(true);
    cb_dowpath_ = new QPushButton(QStringLiteral("打开默认下载目录"), this);
    cb_dowpath_->setObjectName(QStringLiteral("cb_dowpath"));
    cb_clear_downpath_ = new QPushButton(QStringLiteral("清空默认下载目录"), this);
    cb_clear_downpath_->setObjectName(QStringLiteral("cb_clear_downpath"));
    cb_scandisk_ = new QPushButton(QStringLiteral("扫描文件"), this);
    cb_scandisk_->setObjectName(QStringLiteral("cb_scandisk"));
    ddlb_1_ = new QComboBox(this);
    ddlb_1_->setObjectName(QStringLiteral("ddlb_1"));
    ddlb_1_->setEditable(true);
    ddlb_1_->setInsertPolicy(QComboBox::NoInsert);
    ddlb_1_->setFont(tahoma(10));
    ddlb_1_->addItems(help_lines());
    ddlb_1_->setMaxVisibleItems(13);
    ddlb_1_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // Completing from the help lines would turn a typed "12" into help line 12, and the
    // quiet-time rule would then never see the typed length again.
    ddlb_1_->setCompleter(nullptr);
    p_1_ = picture_band(this, QStringLiteral("p_1"));
    p_2_ = picture_band(this, QStringLiteral("p_2"));
    dw_1_ = new d_file_info_simp_view(dw_1_rows_, this);
    dw_1_->setObjectName(QStringLiteral("dw_1"));
    wait_ = new w_wait_for3(this);

    // The bands lie behind everything; the picture panel over the list.
    p_1_->lower();
    p_2_->lower();
    dw_2_->raise();
}

void w_main::set_tab_order() {
    setTabOrder(ddlb_1_, cb_query_);
    setTabOrder(cb_query_, cb_fileext_);
    setTabOrder(cb_fileext_, dw_1_->table());
    QWidget* dw_2_pages = dw_2_->findChild<QScrollArea*>();
    setTabOrder(dw_1_->table(), dw_2_pages);
    setTabOrder(dw_2_pages, cb_open_custdir_);
    setTabOrder(cb_open_custdir_, cb_selectdir_);
    // The other controls take the focus by a click only, never by Tab.
    for (QWidget* w : std::initializer_list<QWidget*>{
             rb_default_, rb_baofeng_, cb_clear_, cb_dowpath_, cb_clear_downpath_, cb_scandisk_})
        w->setFocusPolicy(Qt::ClickFocus);
}

// The quiet-time rule, Enter, ALT+X and the function keys.
void w_main::connect_condition_box() {
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &w_main::on_timer);
    connect(ddlb_1_->lineEdit(), &QLineEdit::textEdited, this, &w_main::on_condition_edited);
    connect(ddlb_1_->lineEdit(), &QLineEdit::returnPressed, cb_query_, &QPushButton::click);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, cb_query_, &QPushButton::click);
    }
    connect(cb_query_, &QPushButton::clicked, this, &w_main::cb_query_clicked);
    ddlb_1_->installEventFilter(this);
    cb_clear_->installEventFilter(this);
    ddlb_1_->lineEdit()->installEventFilter(this);
    connect(dw_1_, &d_file_info_simp_view::key_pressed, this,
            [this](int key, Qt::KeyboardModifiers) { ue_keydown(key); });
    connect(cb_clear_, &QPushButton::clicked, this, &w_main::cb_clear_clicked);
}

void w_main::connect_buttons() {
    connect(cb_scandisk_, &QPushButton::clicked, this, [this] {
        if (!ib_scanning_ && !downloads_->busy()) post(&w_main::ue_scandisk);
    });
    connect(cb_fileext_, &QPushButton::clicked, this,
            [this] { w_file_type_query::open_or_raise(*this, this); });
    connect(cb_clear_downpath_, &QPushButton::clicked, this, &w_main::cb_clear_downpath_clicked);
    connect(rb_default_, &QRadioButton::clicked, this,
            [this](bool checked) { write_player_choice(0, checked); });
    connect(rb_baofeng_, &QRadioButton::clicked, this,
            [this](bool checked) { write_player_choice(1, checked); });
    connect(dw_1_, &d_file_info_simp_view::clicked, this, &w_main::dw_1_clicked);
    connect(dw_1_, &d_file_info_simp_view::pressed_anywhere, this, &w_player::minimize_if_open);
}

// The download controller, its hooks into this window, and the buttons that drive it.
void w_main::create_downloads() {
    is_down_path_ = QDir::homePath() + QStringLiteral("/青石坊文件搜索器/");
    download_hooks hooks;
    hooks.message = [this](const QString& title, const QString& text) {
        prompts().message(this, title, text);
    };
    hooks.choose_folder = [this](const QString& caption) {
        const chooser_places places = download_chooser_places(
            removable_volume_roots(), downloads_->is_down_path_cust(), QDir::homePath());
        return prompts().choose_folder(this, caption, places.start, places.side_bar);
    };
    hooks.open_folder = [](const QString& folder) { desktop().open_folder(folder); };
    hooks.open_wait = [this] { wait_->open_window(); };
    hooks.close_wait = [this] { wait_->close_window(); };
    hooks.set_custdir_enabled = [this](bool on) { cb_open_custdir_->setEnabled(on); };
    hooks.post_down_qty = [this] { post(&w_main::ue_down_qty); };
    hooks.show_next_folder = [this](const QString& folder, const QString& space) {
        const QString shown = QStringLiteral("下载到: ") + QDir::toNativeSeparators(folder);
        st_down_folder_->setText(space.isEmpty() ? shown : shown + u"    " + space);
    };
    downloads_ = std::make_unique<download_controller>(is_down_path_, std::move(hooks), *wait_);
    downloads_->refresh_folder_state();
    connect(&folder_watch_, &QTimer::timeout, this, [this] {
        if (!downloads_->busy()) downloads_->refresh_folder_state();
    });
    folder_watch_.start(1000);
    connect(cb_dowpath_, &QPushButton::clicked, this, [this] { downloads_->open_default_dir(); });
    connect(cb_selectdir_, &QPushButton::clicked, this,
            [this] { downloads_->select_custom_dir(); });
    connect(cb_open_custdir_, &QPushButton::clicked, this,
            [this] { downloads_->open_custom_dir(); });
    connect(dw_2_, &d_file_pic_view::download_requested, this,
            [this](long, const QString& source, const QString& name) {
                downloads_->download_picture(source, name);
            });
}

w_main::~w_main() {
    // The lists show record sets that are gone before the window closes its children.
    delete dw_1_;
    delete dw_2_;
}

template <typename Fn> void w_main::post(Fn fn) {
    QMetaObject::invokeMethod(this, fn, Qt::QueuedConnection);
}

QString w_main::settings_path() const {
    return globals().is_program_path + settings_file_name;
}

void w_main::open_event(const QString& program_folder) {
    const QString folder = program_folder.isEmpty() ? QDir::currentPath() : program_folder;
    globals().is_program_path = QDir(folder).absolutePath() + u'/';
    post(&w_main::ue_create_dir);
    post(&w_main::cb_clear_downpath_clicked);
    ddlb_1_->setEditText(ddlb_1_->itemText(0));
    const settings_file settings(settings_path());
    const int player = read_setting(settings, setting_player);
    (player == 0 ? rb_default_ : rb_baofeng_)->setChecked(true);
    downloads_->set_read_back(read_setting(settings, setting_read_back) != 0);
    dts_fileslist_.setredraw(false);
    post(&w_main::ue_load_file);
}

void w_main::write_player_choice(int value, bool checked) {
    if (!checked) return;
    settings_file file(settings_path());
    write_setting(file, setting_player, value);
}

void w_main::set_scaned_qty(const QString& text) {
    st_scaned_qty_->setText(text);
}

void w_main::ue_create_dir() {
    event_log_ << QStringLiteral("ue_create_dir");
    downloads_->ue_create_dir();
}

void w_main::cb_clear_downpath_clicked() {
    event_log_ << QStringLiteral("cb_clear_downpath");
    downloads_->empty_default_folder(); // posts the counter refresh
}

void w_main::ue_down_qty() {
    event_log_ << QStringLiteral("ue_down_qty");
    st_down_qty_->setText(downloads_->ue_down_qty());
}

void w_main::dw_1_clicked(long row, const QString& object_name) {
    w_player::minimize_if_open();
    const bool on_row = row >= 1 && row <= dw_1_rows_.rowcount();
    if (on_row) dw_1_->setrow(row);
    if (ib_show_pic_) {
        // In picture mode a click pages the preview; the row buttons do nothing.
        if (on_row && !dw_2_->ib_showing_pic())
            dw_2_->of_load_pic(d_file_pic_view::slot_count, row);
        return;
    }
    const bool download = object_name == u"b_downall" || (on_row && object_name == u"b_down");
    if (download && ib_scanning_) {
        // The scan holds the wait window, and its stop button must stay the scan's.
        prompts().message(this, QStringLiteral("提示"),
                          QStringLiteral("正在扫描文件,扫描结束后才能下载!"));
        return;
    }
    if (object_name == u"b_downall")
        downloads_->download_all(dw_1_rows_);
    else if (!on_row)
        return;
    else if (object_name == u"b_down")
        downloads_->download_row(dw_1_rows_, row);
    else if (object_name == u"b_ting")
        listen_row(row);
}

void w_main::listen_row(long row) {
    if (!downloads_->source_present(dw_1_rows_, row)) return;
    listen_file(this, rb_baofeng_->isChecked(), dw_1_rows_.getitemstring(row, col_filepath),
                dw_1_rows_.getitemstring(row, col_filename),
                dw_1_rows_.getitemstring(row, col_fileext));
}

void w_main::ue_scandisk() {
    event_log_ << QStringLiteral("ue_scandisk");
    // One scan at a time: a second start while one runs would empty the catalogue under it.
    // Nor while a download runs: the scan would take its wait window and its result list.
    if (ib_scanning_ || downloads_->busy()) return;
    ib_scanning_ = true;
    run_scan();
    ib_scanning_ = false;
    if (ib_close_after_scan_) close();
}

void w_main::run_scan() {
    the_scan_dialogs().disk_area(this);
    // Anything but a confirmation cancels, also closing the dialog by its frame.
    if (the_scan_dialogs().file_type(this) != 1) return;

    const app_globals& g = globals();
    scan_request request;
    request.areas = g.gs_diskarea;
    request.options.ii_dir_type = g.ii_dir_type;
    request.options.ii_scan_layers = g.ii_scan_layers;
    request.options.gs_filetype = g.gs_filetype;
    request.options.gi_filetype_upperbound = g.gi_filetype_upperbound;
    request.options.gs_cut_splitter = g.gs_cut_splitter;
    request.options.gi_cut_splitter_len = g.gi_cut_splitter_len;
    request.program_folder = g.is_program_path;

    dw_1_rows_.reset();
    wait_->open_window();
    const scan_outcome out =
        run_scan_command(request, dts_fileslist_, *wait_,
                         [this](const QString& text) { st_scaned_qty_->setText(text); });
    const QString closing = scan_closing_message(out);
    if (!closing.isEmpty()) prompts().message(this, QStringLiteral("提示"), closing);
    wait_->close_window();
    event_log_ << QStringLiteral("scan done");
}

void w_main::ue_load_file() {
    event_log_ << QStringLiteral("ue_load_file");
    wait_->open_window();
    wait_->of_setmessage(QStringLiteral("载入上次生成的扫描清单...请稍候..."));
    wait_->process_events_now();
    const QString failure =
        load_failure_message(load_catalogue(dts_fileslist_, globals().is_program_path));
    st_scaned_qty_->setText(QString::number(dts_fileslist_.rowcount()) + QStringLiteral("个"));
    wait_->close_window();
    if (!failure.isEmpty()) prompts().message(this, QStringLiteral("提示"), failure);
    event_log_ << QStringLiteral("start message");
    prompts().message(
        this, QStringLiteral("青石坊文件搜索器"),
        QStringLiteral("欢迎使用青石坊文件搜索器!\n\n"
                       "扫描一次磁盘、读卡器或U盘后,输入编号、文件名的一部分或中文名的拼音首字母"
                       "(如 wdar 找到 我的爱人)即可立即找到文件。\n\n"
                       "F1 切换条件栏与列表  F2 下载全部  F3 下载当前行  F4 扫描文件\n"
                       "F5 打开默认下载目录  F6 打开自定义下载目录  F8 选择读卡器或U盘  "
                       "F12 清空默认下载目录"));
}

void w_main::on_condition_edited(const QString& text) {
    ii_condition_last_len_ = static_cast<int>(text.size());
    const edit_action a = ::on_condition_edited(text);
    if (a.note_too_short) {
        st_query_note_->setText(query_notes::too_short);
        return;
    }
    if (a.stop_timer) timer_.stop();
    if (a.show_all_now) {
        const query_outcome out = show_all(dts_fileslist_, dw_1_rows_);
        if (out.note) st_query_note_->setText(*out.note);
        emit query_done();
    }
    if (a.start_timer) timer_.start(static_cast<int>(id_query_delay_ms_ * 1000));
}

void w_main::on_timer() {
    if (ddlb_1_->currentText().size() != ii_condition_last_len_) return;
    timer_.stop();
    post(&w_main::ue_query);
}

void w_main::ue_query() {
    event_log_ << QStringLiteral("ue_query");
    const QString c = ddlb_1_->currentText();
    const query_plan plan = plan_query(c);
    if (plan.picture_mode == picture_mode_change::turn_on) enter_picture_mode();
    if (plan.picture_mode == picture_mode_change::turn_off) leave_picture_mode();
    const query_outcome out = run_query(plan, dts_fileslist_, dw_1_rows_);
    if (out.note) st_query_note_->setText(*out.note);
    emit query_done();
}

void w_main::enter_picture_mode() {
    ib_show_pic_ = true;
    const int window_width = px_to_units_x(frameGeometry().width());
    places_[QStringLiteral("dw_2")] =
        picture_panel_shown(places_[QStringLiteral("dw_2")], window_width);
    place(dw_2_, QStringLiteral("dw_2"));
    fit_panel_tab_stop();
    dw_2_->raise();
}

void w_main::leave_picture_mode() {
    if (!ib_show_pic_) return;
    ib_show_pic_ = false;
    places_[QStringLiteral("dw_2")].moveLeft(px_to_units_x(frameGeometry().width()));
    place(dw_2_, QStringLiteral("dw_2"));
    fit_panel_tab_stop();
}

void w_main::cb_query_clicked() {
    const QString c = ddlb_1_->currentText();
    if (c.startsWith(u' ')) {
        post(&w_main::ue_query);
        return;
    }
    if (dw_1_rows_.rowcount() == 1) {
        dw_1_->trigger_clicked(1, QStringLiteral("b_down"));
        ddlb_1_->setEditText(QString());
        ddlb_1_->setFocus();
    }
}

void w_main::cb_clear_clicked() {
    ddlb_1_->setEditText(QString());
    cb_query_->setFocus();
    ddlb_1_->setFocus();
}

void w_main::closeEvent(QCloseEvent* event) {
    if (ib_scanning_) {
        // Emptying the catalogue under a running scan would have it save a broken one: stop
        // the scan, and close once it has unwound (a stopped scan saves nothing).
        ib_close_after_scan_ = true;
        wait_->request_stop();
        event->ignore();
        return;
    }
    dw_1_rows_.reset();
    dts_fileslist_.reset();
    QWidget::closeEvent(event);
}
