#pragma once
// The settings one scan runs with; the caller copies them from the application's globals.
#include <QString>
#include <QStringList>

struct scan_options {
    int ii_dir_type = 1;            // 2: enter only folders whose path holds "##"
    int ii_scan_layers = 6;         // folders of levels 1 … ii_scan_layers are entered
    QStringList gs_filetype;        // wanted extensions, leading dot, lower case
    int gi_filetype_upperbound = 0; // entries of gs_filetype in use; 0 takes every file
    QString gs_cut_splitter;        // divides a file's own number from the rest of its name
    int gi_cut_splitter_len = 0;    // 0: no number is taken from names
    // Worker threads listing folders ahead of the walk; 0 lists each as the walk reaches it.
    int read_ahead_threads = 2;
};
