#pragma once
// The cards and USB disks mounted now, for the folder chooser of the download folder: its
// side bar offers them, and it opens at the card when there is just one.
#include <QByteArray>
#include <QString>
#include <QStringList>

// A mounted file system as the rule below looks at it.
struct mounted_volume {
    QString root;      // where it is mounted
    QByteArray device; // "/dev/sdb1"; pseudo and network file systems name no device file
    bool read_only = false;
};

// A card or USB disk to copy onto: a device's file system other than the system's root, not
// read-only, whose device is removable or on a USB or SD bus (as the block device folder
// `sys_block`, normally /sys/class/block, tells), or that is mounted where desktops and users
// mount such volumes (/media, /run/media, /mnt).
bool is_removable_volume(const mounted_volume& volume, const QString& sys_block);

// The roots of the removable volumes mounted now, sorted.
QStringList removable_volume_roots(const QString& sys_block = QStringLiteral("/sys/class/block"));

struct chooser_places {
    QString start;
    QStringList side_bar;
};

// Where the chooser opens and what its side bar offers: the one card when exactly one is
// mounted, else the folder chosen before while it is there, else `home`; the cards, then
// `home` and the root.
chooser_places download_chooser_places(const QStringList& cards, const QString& previous,
                                       const QString& home);
