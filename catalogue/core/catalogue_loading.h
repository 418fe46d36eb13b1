#pragma once
// Loading the last scan's catalogue at start-up: the catalogue file in the program folder
// is appended to the catalogue. A missing or damaged file leaves what could be read; the
// file itself is never changed by loading. Memory running out leaves the catalogue empty
// and says so in the result (load_failure_message).
//
// Into an empty catalogue, a snapshot in the cache folder made from the file as it is now
// is read instead of the file (see catalogue_snapshot.h); when there is none or it does not
// match, it is removed, the file is read and a new snapshot written. A snapshot that cannot
// be written costs only the next start's time.
//
// The catalogue is in use as soon as its records are in: the snapshot is written and the
// pinyin key built on other threads (see record_set::read_in_background).
#include "catalogue/core/catalogue_file.h"

#include <QString>

class record_set;

// The user's cache folder for this program.
QString default_snapshot_folder();
// Where the snapshot of the catalogue file at `catalogue_path` lives in `cache_folder`.
QString snapshot_path_for(const QString& catalogue_path, const QString& cache_folder);

// `program_folder` ends with a separator; an empty `cache_folder` keeps no snapshot.
catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder,
                                       const QString& cache_folder = default_snapshot_folder());

// What the user is told after a load, or nothing.
QString load_failure_message(const catalogue_import_result& result);
