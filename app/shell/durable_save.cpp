#include "app/shell/durable_save.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool sync_folder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc = 0;
    do rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    // Some file systems have nothing to flush for a folder and say so.
    const bool ok = rc == 0 || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
    ::close(fd);
    return ok;
}

} // namespace

bool sync_parent_folder(const QString& path) {
    return sync_folder(QFileInfo(path).absolutePath());
}

namespace {

// The file a save lands in: QSaveFile follows a symbolic link and renames over its target,
// so the folder to flush is the target's, not the link's.
QString saved_file_path(const QString& path) {
    QFileInfo at(path);
    for (int depth = 0; depth < 128 && at.isSymLink(); ++depth) at.setFile(at.symLinkTarget());
    return at.filePath();
}

} // namespace

bool durable_commit(QSaveFile& file) {
    const auto drop = [&file] {
        file.cancelWriting();
        file.commit(); // with writing cancelled this only removes the temporary file
        return false;
    };
    if (!file.isOpen() || !file.flush()) return drop();
    // The commit's own flush ignores errors; a late write error (full card, I/O error)
    // must keep the old file instead.
    int rc = 0;
    do rc = ::fsync(file.handle());
    while (rc != 0 && errno == EINTR);
    if (rc != 0) return drop();
    const QString landed = saved_file_path(file.fileName());
    if (!file.commit()) return false;
    return sync_parent_folder(landed);
}
