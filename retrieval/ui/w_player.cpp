#include "retrieval/ui/w_player.h"

#include "app/shell/app_globals.h"
#include "app/shell/layout_units.h"
#include "app/shell/user_prompts.h"
#include "catalogue/core/native_names.h"
#include "retrieval/core/play_routing.h"
#include "retrieval/ui/desktop_opener.h"
#include "retrieval/ui/media_component.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

namespace {

QPointer<w_player> the_player;

// The open-time settings, in the order they are applied.
struct open_time_property {
    QStringView name;
    int value;
};
constexpr open_time_property open_time_properties[] = {
    {u"displaymode", 1},  {u"titlevisible", 0}, {u"infobarvisible", 0},   {u"controlbarvisible", 1},
    {u"volume", 88},      {u"visible", 1},      {u"enablefullscreen", 0}, {u"contextmenuenable", 0},
    {u"audioenhance", 1}, {u"autoplay", 1},
};

} // namespace

w_player::w_player(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint | Qt::WindowDoesNotAcceptFocus),
      tag_(u"青石坊播放器"_s) {
    setAttribute(Qt::WA_DeleteOnClose);
    // It plays, and takes no keyboard (also with the flag above): keys stay with the main
    // window's condition box and list.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(tag_);
    setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogInfoView));

    ole_1_ = new media_component(this);
    ole_1_->setObjectName(u"ole_1"_s);
    ole_1_->setGeometry(units_to_px(5, 0, 1819, 1340));
    ole_1_->setFocusPolicy(Qt::NoFocus);

    cb_exit_ = new QPushButton(u"关闭!"_s, this);
    cb_exit_->setObjectName(u"cb_exit"_s);
    cb_exit_->setGeometry(units_to_px(0, 1340, 1829, 108));
    cb_exit_->setFont(QFont(u"Tahoma"_s, 9));

    setFixedSize(units_to_px_x(1838), units_to_px_y(1340 + 108));
    move(units_to_px_x(2702), units_to_px_y(1100));

    connect(cb_exit_, &QPushButton::clicked, this, &QWidget::close);
    connect(ole_1_, &media_component::onerrorinfo, this, &w_player::onerrorinfo);
}

w_player::~w_player() {
    // Also when the owner takes the window down without a close event.
    globals().gb_mediaplay_opened = false;
}

w_player* w_player::open(QWidget* owner) {
    if (the_player) {
        the_player->raise();
        return the_player;
    }
    auto* player = new w_player(owner);
    the_player = player;
    player->ue_opened();
    player->show();
    globals().gb_mediaplay_opened = true;
    return player;
}

w_player* w_player::instance() {
    return the_player;
}

void w_player::minimize_if_open() {
    if (globals().gb_mediaplay_opened && the_player) the_player->showMinimized();
}

void w_player::of_set_title(const QString& ls_filename) {
    setWindowTitle(tag_ + u"—"_s + ls_filename);
}

void w_player::of_playing(const QString& ls_file) {
    ole_1_->set_property(u"url", ls_file);
}

void w_player::ue_opened() {
    for (const auto& p : open_time_properties) ole_1_->set_property(p.name, p.value);
}

void w_player::closeEvent(QCloseEvent* event) {
    ole_1_->player()->stop();
    globals().gb_mediaplay_opened = false;
    QWidget::closeEvent(event);
    // The window goes away later; the next listen opens a fresh one.
    if (event->isAccepted() && the_player == this) the_player = nullptr;
}

void w_player::onerrorinfo(const QString& bsterrorinfo) {
    const QString file = ole_1_->property_value(u"url").toString();
    prompts().message(this, u"提示"_s,
                      u"无法播放: "_s + QFileInfo(shown_path(file)).fileName() + u'\n' +
                          bsterrorinfo);
}

void listen_file(QWidget* owner, bool rb_baofeng_checked, const QString& filepath,
                 const QString& filename, const QString& fileext) {
    if (route_listened_file(rb_baofeng_checked, fileext) == play_target::associated_program) {
        // Fire and forget, but a desktop that has no program for the type says so at once,
        // and the user is told; what the program then makes of the file is its own to tell.
        if (!desktop().open_file(filepath)) {
            const QString type = fileext.isEmpty() ? u"这种"_s : u' ' + fileext + u' ';
            prompts().message(owner, u"提示"_s,
                              u"无法播放: "_s + filename + fileext + u"\n系统里没有能打开"_s +
                                  type + u"文件的程序。"_s);
        }
        return;
    }
    w_player* player = w_player::open(owner);
    player->showNormal();
    player->raise();
    player->of_set_title(filename + fileext);
    player->of_playing(filepath);
}
