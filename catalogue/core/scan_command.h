#pragma once
// The scan command once its two dialogs have been answered: walks every scan area into the
// catalogue, depth first, then saves the catalogue file and the spreadsheet export in the
// program folder. Runs on the calling thread and talks to the user only through `feedback`
// and `show_count`; the caller owns the wait window and the closing message box.
//
// A stopped scan saves nothing, so the files of the last complete scan stay. A save that
// fails leaves the previous file as it was and is named in the outcome.
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/scan_options.h"

#include <QString>
#include <QStringList>
#include <functional>

class operation_feedback;
class record_set;

struct scan_request {
    QStringList areas;
    scan_options options;
    QString program_folder; // with a trailing separator
};

struct scan_outcome {
    bool stopped = false;
    long count = 0;
    QString sheet_path;       // where the export goes
    QStringList failed_saves; // files that could not be written
    n_filetouch::left_out_counts left_out;
};

// Empties `catalogue` first; `show_count` receives the count texts the status line shows.
scan_outcome run_scan_command(const scan_request& request, record_set& catalogue,
                              operation_feedback& feedback,
                              const std::function<void(const QString&)>& show_count);

// The text of the box that closes a scan. A stopped scan has one only when files were
// left out or folders could not be read (empty otherwise): the user hears of them either way.
QString scan_closing_message(const scan_outcome& outcome);
