#pragma once
// A binary copy of the loaded catalogue, kept in the user's cache folder so the next start
// reads columns straight into memory instead of parsing the catalogue file again.
//
// The catalogue file stays the one truth: a snapshot names the file it was made from by
// device, inode, size, modification and change time and a hash of every byte, and is used
// only when all of them match the file as it is now. Its own bytes are hashed too, and its columns
// are checked for consistency before use, so a damaged, foreign or stale snapshot is refused (and
// rebuilt by the caller) and never shows wrong records. Losing it costs one parse of the file.
//
// Cost: reading a snapshot is one sequential read plus a hash of the catalogue file, done
// side by side on two threads.
#include "catalogue/core/catalogue_file.h"

#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>

class record_storage;

// What a snapshot must agree with: the file (device, inode, size, modification and change
// time) and a hash of its bytes.
struct catalogue_file_identity {
    file_facts file;
    std::uint64_t content_hash = 0;
    friend bool operator==(const catalogue_file_identity&,
                           const catalogue_file_identity&) = default;
};

// The hash of the open file's bytes up to the size it had when opened; nothing when they
// cannot all be read (or `stop` turns true meanwhile).
std::optional<std::uint64_t> hash_catalogue_file(const open_catalogue_file& file,
                                                 const std::atomic<bool>* stop = nullptr);
// The file at `path` as it is now; nothing when it cannot be read.
std::optional<catalogue_file_identity> identify_catalogue_file(const QString& path);

// XXH3-64 of bytes (not for secrets: it tells an edited file from the one it was); the
// catalogue file's hash and the snapshot's own are this hash of their bytes.
std::uint64_t content_hash(QByteArrayView bytes, std::uint64_t seed = 0);

// Writes the storage with the counts of the load that built it (temporary file renamed).
// When `stop` turns true meanwhile, nothing is left behind and false is returned.
bool save_catalogue_snapshot(const QString& snapshot_path, const record_storage& storage,
                             const catalogue_import_result& counts,
                             const catalogue_file_identity& made_from,
                             const std::atomic<bool>* stop = nullptr);

// Reads the snapshot into `out` (emptied first) when it was made from the open catalogue
// file as it was opened; the file's bytes are hashed while the snapshot is read. Nothing, and
// `out` empty, when the snapshot is missing, damaged or made from another file or state of it.
// Memory running out throws std::bad_alloc.
std::optional<catalogue_import_result> load_catalogue_snapshot(const QString& snapshot_path,
                                                               const open_catalogue_file& file,
                                                               record_storage& out);

// The same over snapshot bytes in memory, against a known identity (tests, fuzz target;
// the fuzz target passes false to reach the column checks behind the payload's hash).
std::optional<catalogue_import_result>
read_catalogue_snapshot_bytes(QByteArrayView bytes, const catalogue_file_identity& expected,
                              record_storage& out, bool check_payload_hash = true);
