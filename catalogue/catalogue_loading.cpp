#include "catalogue/catalogue_loading.h"

catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder) {
    return import_catalogue_file(catalogue, program_folder + catalogue_file_name);
}
