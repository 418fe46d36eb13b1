#include "catalogue/catalogue_loading.h"

#include "catalogue/record_set.h"

catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder) {
    const catalogue_import_result result =
        import_catalogue_file(catalogue, program_folder + catalogue_file_name);
    catalogue.build_pinyin_key();
    return result;
}
