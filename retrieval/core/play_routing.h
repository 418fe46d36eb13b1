#pragma once
// Where a listened file goes: the built-in player window or the program the desktop
// associates with its type.
#include <QStringView>

enum class play_target { player_window, associated_program };

// ".mp3", ".mp4" and ".3gp" exactly as stored: the scanner keeps extensions in lower case, so
// the comparison is plain and case-sensitive, with no trimming.
bool is_player_type(QStringView fileext);

// The built-in player only when it is the user's choice and plays the type.
play_target route_listened_file(bool rb_baofeng_checked, QStringView fileext);
