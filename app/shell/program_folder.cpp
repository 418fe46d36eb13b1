#include "app/shell/program_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool runs_installed(const QString& program_dir, const QString& installed_bin_dir) {
    if (program_dir.isEmpty() || installed_bin_dir.isEmpty()) return false;
    const QString here = QFileInfo(program_dir).canonicalFilePath();
    return !here.isEmpty() && here == QFileInfo(installed_bin_dir).canonicalFilePath();
}

QString choose_program_folder(bool installed) {
    if (!installed) return QDir::currentPath();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return {};
    return QDir(folder).absolutePath();
}
