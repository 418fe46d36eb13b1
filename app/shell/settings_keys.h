#pragma once
// Every section and key of the program's settings file, with the value a missing entry reads as.
#include "app/shell/settings_file.h"

#include <QStringView>

inline constexpr QStringView settings_file_name = u"quellmark.ini";

struct int_setting {
    QStringView section;
    QStringView key;
    int fallback;
};

struct string_setting {
    QStringView section;
    QStringView key;
    QStringView fallback;
};

// 0: hand files to the associated program; anything else: the built-in player.
inline constexpr int_setting setting_player{u"mediaplay", u"player", 0};
// 2: enter only folders marked "##"; anything else: every folder.
inline constexpr int_setting setting_dirtype{u"dirtype", u"dirtype", 2};
// Depth choice 1..6 of the scan.
inline constexpr int_setting setting_layers{u"scanlayers", u"layers", 5};
// 0: a copy counts once it is on the card; anything else: once it also reads back equal from it.
inline constexpr int_setting setting_read_back{u"download", u"verify", 1};
// The whole text of the chosen number separator item.
inline constexpr string_setting setting_splitter{u"scansplitter", u"splitter", u""};

inline int read_setting(const settings_file& file, const int_setting& s) {
    return file.read_int(s.section, s.key, s.fallback);
}

inline QString read_setting(const settings_file& file, const string_setting& s) {
    return file.read_string(s.section, s.key, s.fallback.toString());
}

inline bool write_setting(settings_file& file, const int_setting& s, int value) {
    return file.write(s.section, s.key, QString::number(value));
}

inline bool write_setting(settings_file& file, const string_setting& s, QStringView value) {
    return file.write(s.section, s.key, value);
}
