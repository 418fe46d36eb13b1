#include "catalogue/core/catalogue_loading.h"

#include "catalogue/core/catalogue_snapshot.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

QString default_snapshot_folder() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

namespace {

std::uint64_t mix(std::uint64_t h) {
    h = (h ^ (h >> 33)) * 0xFF51AFD7ED558CCDull;
    h = (h ^ (h >> 33)) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

// The hash snapshot names have always been made with (four multiply-rotate lanes over 32-byte
// chunks, then the length and the tail, each through the 64-bit finalizer of MurmurHash3):
// a snapshot of an older format keeps its name, so it is found, refused and replaced rather
// than left behind in the cache.
std::uint64_t name_hash(QByteArrayView bytes) {
    constexpr std::uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    std::uint64_t lane[4] = {k1, k2, k1 >> 1, 0 - k2};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto n = static_cast<std::size_t>(bytes.size());
    std::size_t at = 0;
    for (; n - at >= 32; at += 32)
        for (int l = 0; l < 4; ++l) {
            std::uint64_t v;
            std::memcpy(&v, p + at + 8 * l, 8);
            lane[l] = std::rotl(lane[l] + v * k2, 31) * k1;
        }
    std::uint64_t h = n;
    for (const std::uint64_t l : lane) h = mix(h ^ l) * k1;
    for (; at < n; ++at) h = (h ^ p[at]) * k2;
    return mix(h);
}

} // namespace

QString snapshot_path_for(const QString& catalogue_path, const QString& cache_folder) {
    // One snapshot per catalogue file, so program folders never take each other's.
    const QByteArray where = QFileInfo(catalogue_path).absoluteFilePath().toUtf8();
    return cache_folder +
           QStringLiteral("/catalogue-%1.snapshot").arg(name_hash(where), 16, 16, QLatin1Char('0'));
}

QString load_failure_message(const catalogue_import_result& result) {
    if (!result.out_of_memory) return {};
    return QStringLiteral("扫描清单文件太大,内存不足,无法载入。\n"
                          "本次以空清单启动;可关闭其他程序后重新启动,或重新扫描较少的文件。");
}

namespace {

catalogue_import_result load_records(record_set& catalogue, const QString& path,
                                     const QString& snapshot) {
    if (snapshot.isEmpty() || catalogue.storage().rows() != 0)
        return import_catalogue_file(catalogue, path);
    // One open file for the whole load: what is read, hashed and named is that file, whatever
    // is put in its place meanwhile.
    const auto file = std::make_shared<const open_catalogue_file>(path);
    if (!file->is_open()) {
        catalogue_import_result result;
        result.file_found = !file->missing();
        result.read_error = result.file_found;
        return result;
    }
    if (QFileInfo::exists(snapshot)) {
        record_storage stored;
        if (const auto counts = load_catalogue_snapshot(snapshot, *file, stored)) {
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
        // Refused: not read again at every start, whether or not a new one can be made.
        QFile::remove(snapshot);
    }
    const catalogue_import_result result = import_catalogue_file(catalogue, *file);
    if (result.read_error || catalogue.storage().rows() != result.loaded ||
        !QDir().mkpath(QFileInfo(snapshot).path()))
        return result;
    try {
        // Hashed after the load, off the way to a searchable catalogue, from the same open
        // file; a file whose facts are the same after the hash as at the open gave the hash
        // the bytes parsed (any write or truncation changes its change time). Written while
        // the catalogue is already in use; a change of the records stops it.
        catalogue.read_in_background([snapshot, result, file](const record_storage& records,
                                                              const std::atomic<bool>& stop) {
            try {
                const auto hash = hash_catalogue_file(*file, &stop);
                const auto now = file->facts_now();
                if (!hash || now != file->facts() || stop) return;
                save_catalogue_snapshot(snapshot, records, result, {file->facts(), *hash}, &stop);
            } catch (const std::bad_alloc&) {
                // Only the next start's time is lost.
            }
        });
    } catch (const std::system_error&) {
        // No thread to write it with: the same.
    }
    return result;
}

} // namespace

catalogue_import_result load_catalogue(record_set& catalogue, const QString& program_folder,
                                       const QString& cache_folder) {
    const QString path = program_folder + catalogue_file_name;
    const QString snapshot =
        cache_folder.isEmpty() ? QString() : snapshot_path_for(path, cache_folder);
    catalogue_import_result result;
    bool out_of_memory = false;
    try {
        result = load_records(catalogue, path, snapshot);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    } catch (const std::length_error&) { // more than the storage can number
        out_of_memory = true;
    } catch (const std::system_error&) { // no thread to read with
        out_of_memory = true;
    }
    if (out_of_memory) {
        // No part of a catalogue: reset keeps the columns' room, a fresh storage gives it back.
        catalogue.reset();
        catalogue.append_rows([](record_storage& s) { s = record_storage(); });
        if (!snapshot.isEmpty()) QFile::remove(snapshot);
        result = {};
        result.file_found = true;
        result.out_of_memory = true;
        catalogue.build_pinyin_key(); // of no record: no thread needed
        return result;
    }
    // The pinyin key is never stored, not even in the snapshot: built anew at every load, on
    // another thread so the catalogue answers every other condition at once.
    catalogue.build_pinyin_key_in_background();
    return result;
}
