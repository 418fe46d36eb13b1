#include "app/main/w_main.h"

#include "app/main/keyboard_commands.h"
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
#include <QKeyEvent>
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

QStringList w_main::help_lines() {
    return {
        QStringLiteral("1.如何查询?      请输入编号-文件名-歌手-拼音首字母等条件进行搜索       "
                       ">>更多提示请点击下拉框查看..."),
        QStringLiteral("2.快捷方式   F1使光标在条件栏和数据框之间切换  ALT+X 清除查询条件  "
                       "F2下载全部  F3下载当前行 F4扫描文件  "),
        QStringLiteral("3.快捷方式   F5打开默认下载目录  F6打开自定义下载目录 F8设置读卡器 "
                       "F12清空默认下载目录"),
        QStringLiteral("4.中文模糊查询?    中文歌名如果要用间隔的模糊名如: 我的 "
                       "爱人,请在中间加[空格],写成:[我的 爱人]"),
        QStringLiteral(
            "5.重新输入条件?    F1或者alt+X清除条件并定位到输入栏,你就可以输入查询条件了"),
        QStringLiteral("6.多编号输入?       "
                       "多个编号连续输入时请以一个空格开头,编号之间用空格隔开!需按回车查询,如[ "
                       "1002 1003 1004]"),
        QStringLiteral("7.查看图片?          "
                       "输入[PPPP]则只显示图片格式并可预览![PJPG]只显示jpg格式;[PGIF]只显示gif格式;"
                       "[PBMP]只显示bmp格式"),
        QStringLiteral(
            "8.什么是扫描层数  "
            "比如D:\\123.mp3是第一层文件;而D:\\123\\123.mp3就是第二层的文件;建议设置为五层扫描"),
        QStringLiteral("9.如何查看全部文件    在条件输入栏输[>>]或者[》》]即可查看全部文件"),
        QStringLiteral(
            "10.如何加快扫描速度    "
            "建议把需要扫描的文件夹如果命名如[##歌曲](第一层文件夹),这样可以减少不必要的扫描"),
        QStringLiteral("11.输入一个字怎么无结果出现?  "
                       "因为一个字的出现概率非常高,结果会多达万条,所以要求条件至少2个字以上"),
        QStringLiteral("12.下载前请先按F8选择读卡器或U盘,没有选择时文件下载到默认下载目录"),
        QStringLiteral("13.扫描一次后,每次启动都会自动载入上次的扫描清单,无需重新扫描"),
    };
}

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

void w_main::place(QWidget* w, const QString& name) {
    const QRect u = places_.value(name);
    w->setGeometry(units_to_px(u.x(), u.y(), u.width(), u.height()));
}

void w_main::fit_panel_tab_stop() {
    auto* pages = dw_2_->findChild<QScrollArea*>();
    if (!pages) return;
    // Parked beyond the right edge, it would take the focus out of sight.
    const bool in_view = dw_2_->x() < width();
    pages->setFocusPolicy(in_view ? Qt::StrongFocus : Qt::NoFocus);
    if (!in_view && pages->hasFocus()) dw_1_->table()->setFocus();
}

void w_main::apply_places() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             st_down_qty_, cb_open_custdir_, cb_selectdir_, st_query_note_, cb_fileext_,
             st_scaned_qty_, dw_2_, rb_baofeng_, rb_default_, cb_clear_, cb_query_, cb_dowpath_,
             cb_clear_downpath_, cb_scandisk_, ddlb_1_, p_1_, p_2_, dw_1_})
        place(w, w->objectName());
    fit_panel_tab_stop();
    pack_bottom_row();
    ddlb_1_->setGeometry(fit_condition_box(ddlb_1_->geometry(), cb_query_->geometry().left(),
                                           ddlb_1_->sizeHint().height()));
}

// The counters keep room for large counts and the query note for its longest text.
int w_main::pack_bottom_row(bool at_minimum) {
    const auto text_room = [](const QWidget* w, std::initializer_list<QString> texts) {
        int room = w->sizeHint().width();
        for (const QString& t : texts)
            room = std::max(room, w->fontMetrics().horizontalAdvance(t) + 2);
        return room;
    };
    const auto least = [&](QWidget* w) {
        if (w == st_query_note_)
            return text_room(w, {query_notes::too_short, query_notes::want_all,
                                 query_notes::all_shown, query_notes::over_limit});
        if (w == st_scaned_qty_) return text_room(w, {QStringLiteral("000000000个")});
        if (w == st_down_qty_) return text_room(w, {QStringLiteral("[00000]")});
        return w->sizeHint().width();
    };
    std::vector<QWidget*> row;
    std::vector<row_control> needs;
    for (const char16_t* name : bottom_row_names) {
        row.push_back(findChild<QWidget*>(QString::fromUtf16(name), Qt::FindDirectChildrenOnly));
        needs.push_back({least(row.back()), row.back()->width()});
    }
    const packed_row packed = pack_row(needs, cb_scandisk_->x(), width(), at_minimum);
    if (!at_minimum)
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i]->setGeometry(packed.spans[i].x, row[i]->y(), packed.spans[i].width,
                                row[i]->height());
    return packed.end;
}

void w_main::post_click(QPushButton* button) {
    QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

void w_main::ue_keydown(int key) {
    const key_command command = command_for_key(key);
    switch (command.action) {
    case key_action::switch_focus:
        if (ii_last_focus_control_ != 1) {
            ii_last_focus_control_ = 1;
            dw_1_->table()->setFocus();
        } else {
            ii_last_focus_control_ = 2;
            post_click(cb_clear_);
        }
        break;
    case key_action::all_rows:
        dwo_shutkeydown_ = command.target.toString();
        dw_1_->trigger_clicked(0, dwo_shutkeydown_);
        break;
    case key_action::current_row:
        dwo_shutkeydown_ = command.target.toString();
        if (dw_1_->getrow() >= 1) dw_1_->trigger_clicked(dw_1_->getrow(), dwo_shutkeydown_);
        break;
    case key_action::click: {
        auto* button =
            findChild<QPushButton*>(command.target.toString(), Qt::FindDirectChildrenOnly);
        if (button && button->isEnabled()) post_click(button);
        break;
    }
    case key_action::none:
        break;
    }
}

void w_main::keyPressEvent(QKeyEvent* event) {
    if (is_function_key(event->key())) {
        ue_keydown(event->key());
        return;
    }
    QWidget::keyPressEvent(event);
}

// The condition box would take F4 for its drop-down list; the keys of the command table
// belong to the window wherever the caret is.
bool w_main::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cb_clear_ && event->type() == QEvent::Shortcut) {
        // ALT+X clears at once: the animated click would wait a moment and then wipe what
        // was typed meanwhile (a scan or a copy delivers queued keys in bursts).
        cb_clear_->click();
        return true;
    }
    if ((watched == ddlb_1_ || watched == ddlb_1_->lineEdit()) &&
        event->type() == QEvent::FocusIn && help_lines().contains(ddlb_1_->currentText())) {
        // The caret arriving on a help line selects it, so typing replaces it. After the
        // mouse press has placed the caret, which would undo a selection made now.
        QTimer::singleShot(0, ddlb_1_->lineEdit(), [this] {
            if (help_lines().contains(ddlb_1_->currentText())) ddlb_1_->lineEdit()->selectAll();
        });
    }
    if (event->type() == QEvent::KeyPress &&
        (watched == ddlb_1_ || watched == ddlb_1_->lineEdit())) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (is_function_key(key)) {
            ue_keydown(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void w_main::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fit_places(places_, size(), frameGeometry().width());
    apply_places();
    place_folder_line();
}

void w_main::place_folder_line() {
    // The bottom band reaches down over the strip, so the line lies inside it.
    QRect band = p_2_->geometry();
    band.setBottom(height());
    p_2_->setGeometry(band);
    st_down_folder_->setGeometry(folder_line_rect(size()));
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
