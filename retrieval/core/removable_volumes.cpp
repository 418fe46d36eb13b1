#include "retrieval/core/removable_volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace {

QByteArray first_line(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readLine(64).trimmed();
}

// The whole disk's folder under `sys_block` for the block device `name` (a partition's
// parent), with links resolved; empty when the system does not know it.
QString disk_folder(const QString& sys_block, const QString& name) {
    const QString own = QFileInfo(sys_block + u'/' + name).canonicalFilePath();
    if (own.isEmpty()) return {};
    return QFileInfo::exists(own + QStringLiteral("/partition")) ? QFileInfo(own).path() : own;
}

bool on_removable_device(const QByteArray& device, const QString& sys_block) {
    // /dev/disk/by-label/CARD and the like are links to the device file.
    QString file = QFileInfo(QFile::decodeName(device)).canonicalFilePath();
    if (file.isEmpty()) file = QFile::decodeName(device);
    const QString disk = disk_folder(sys_block, QFileInfo(file).fileName());
    if (disk.isEmpty()) return false;
    if (first_line(disk + QStringLiteral("/removable")) == "1") return true;
    // USB disks often call themselves fixed; their place among the devices tells.
    if (disk.contains(QStringLiteral("/usb"))) return true;
    return first_line(disk + QStringLiteral("/device/type")) == "SD";
}

bool mounted_for_removal(const QString& root) {
    for (const char16_t* place : {u"/media/", u"/run/media/", u"/mnt/"})
        if (root.startsWith(QStringView(place))) return true;
    return root == u"/mnt";
}

} // namespace

bool is_removable_volume(const mounted_volume& volume, const QString& sys_block) {
    if (volume.root.isEmpty() || volume.root == u"/" || volume.read_only) return false;
    if (!volume.device.startsWith("/dev/")) return false;
    return mounted_for_removal(volume.root) || on_removable_device(volume.device, sys_block);
}

QStringList removable_volume_roots(const QString& sys_block) {
    QStringList roots;
    for (const QStorageInfo& s : QStorageInfo::mountedVolumes()) {
        if (!s.isValid() || !s.isReady()) continue;
        if (is_removable_volume({s.rootPath(), s.device(), s.isReadOnly()}, sys_block))
            roots << s.rootPath();
    }
    roots.sort();
    roots.removeDuplicates();
    return roots;
}

chooser_places download_chooser_places(const QStringList& cards, const QString& previous,
                                       const QString& home) {
    chooser_places places;
    if (cards.size() == 1)
        places.start = cards.first();
    else if (!previous.isEmpty() && QFileInfo(previous).isDir())
        places.start = previous;
    else
        places.start = home;
    places.side_bar = cards;
    for (const QString& more : {home, QDir::rootPath()})
        if (!places.side_bar.contains(more)) places.side_bar << more;
    return places;
}
