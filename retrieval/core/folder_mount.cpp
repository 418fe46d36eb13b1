#include "retrieval/core/folder_mount.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

std::optional<struct stat> status_of(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return st;
}

} // namespace

std::optional<folder_mount> mount_of(const QString& folder) {
    const auto st = status_of(folder);
    if (!st || !S_ISDIR(st->st_mode)) return std::nullopt;
    // The mount point is the highest folder on the way to the root that is still on the
    // same device.
    QString path = QFileInfo(folder).canonicalFilePath();
    if (path.isEmpty()) return std::nullopt;
    for (;;) {
        const QString parent = QFileInfo(path).path();
        if (parent == path) break;
        const auto up = status_of(parent);
        if (!up || up->st_dev != st->st_dev) break;
        path = parent;
    }
    return folder_mount{static_cast<std::uint64_t>(st->st_dev), path};
}

bool on_same_mount(const QString& folder, const folder_mount& mount) {
    const auto st = status_of(folder);
    if (!st || !S_ISDIR(st->st_mode) || static_cast<std::uint64_t>(st->st_dev) != mount.device)
        return false;
    const auto root = status_of(mount.mount_point);
    return root && static_cast<std::uint64_t>(root->st_dev) == mount.device;
}
