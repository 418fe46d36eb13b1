#include "catalogue/catalogue_loading.h"

#include "catalogue/catalogue_snapshot.h"
#include "catalogue/record_set.h"
#include "catalogue/record_storage.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString default_snapshot_folder() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QString snapshot_path_for(const QString& catalogue_path, const QString& cache_folder) {
    // One snapshot per catalogue file, so program folders never take each other's.
    const QByteArray where = QFileInfo(catalogue_path).absoluteFilePath().toUtf8();
    return cache_folder + QStringLiteral("/catalogue-%1.snapshot")
                              .arg(content_hash(where), 16, 16, QLatin1Char('0'));
}

namespace {

catalogue_import_result load_records(record_set& catalogue, const QString& program_folder,
                                     const QString& cache_folder) {
    const QString path = program_folder + catalogue_file_name;
    const bool empty = catalogue.storage().rows() == 0;
    if (cache_folder.isEmpty() || !empty || !QFileInfo::exists(path))
        return import_catalogue_file(catalogue, path);
    const QString snapshot = snapshot_path_for(path, cache_folder);
    record_storage stored;
    if (const auto counts = load_catalogue_snapshot(snapshot, path, stored)) {
        catalogue.setredraw(false);
        catalogue.append_rows([&](record_storage& s) {
            if (s.rows() == 0)
                s = std::move(stored);
            else
                s.append(stored);
        });
        catalogue.setredraw(true);
        return *counts;
    }
    // Hashed after the load, off the way to a searchable catalogue: a file whose size and
    // time are the same before the load and after the hash gave the hash the bytes read, and
    // a file that changes meanwhile gets no snapshot.
    const auto before = stat_catalogue_file(path);
    const catalogue_import_result result = import_catalogue_file(catalogue, path);
    if (before && !result.read_error && catalogue.storage().rows() == result.loaded &&
        QDir().mkpath(cache_folder))
        // Written while the catalogue is already in use; a change of the records stops it.
        catalogue.read_in_background(
            [snapshot, result, path, before = *before](const record_storage& records,
                                                       const std::atomic<bool>& stop) {
                const auto made_from = identify_catalogue_file(path);
                const auto after = stat_catalogue_file(path);
                if (!made_from || made_from->size != before.size ||
                    made_from->modified_ns != before.modified_ns || after != before || stop)
                    return;
                save_catalogue_snapshot(snapshot, records, result, *made_from, &stop);
            });
    return result;
}

} // namespace

catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder,
                                       const QString& cache_folder) {
    const catalogue_import_result result = load_records(catalogue, program_folder, cache_folder);
    // The pinyin key is never stored, not even in the snapshot: built anew at every load, on
    // another thread so the catalogue answers every other condition at once.
    catalogue.build_pinyin_key_in_background();
    return result;
}
