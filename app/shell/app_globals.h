#pragma once
// The values the application shares between its windows and the scanner.
#include <QString>
#include <QStringList>

struct app_globals {
    QString is_program_path; // program folder, with a trailing separator
    QStringList gs_diskarea;
    QStringList gs_filetype;
    int gi_filetype_upperbound = 0;
    int ii_dir_type = 1;
    int ii_scan_layers = 6;
    QString gs_cut_splitter;
    int gi_cut_splitter_len = 0;
    const QStringList gs_stringarray_null{};
    bool gb_mediaplay_opened = false;
};

// The one set of globals of the running program.
app_globals& globals();
