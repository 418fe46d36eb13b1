#pragma once
// Loading the last scan's catalogue at start-up: the catalogue file in the program folder
// is appended to the catalogue. A missing or damaged file leaves what could be read; the
// file itself is never changed by loading.
#include "catalogue/catalogue_file.h"

#include <QString>

class record_set;

// `program_folder` ends with a separator.
catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder);
