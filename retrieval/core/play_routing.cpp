#include "retrieval/core/play_routing.h"

bool is_player_type(QStringView fileext) {
    return fileext == u".mp3" || fileext == u".mp4" || fileext == u".3gp";
}

play_target route_listened_file(bool rb_baofeng_checked, QStringView fileext) {
    return rb_baofeng_checked && is_player_type(fileext) ? play_target::player_window
                                                         : play_target::associated_program;
}
