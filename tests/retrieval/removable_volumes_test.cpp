// Which mounted volumes the download folder's chooser offers, and where it opens.
#include "retrieval/core/removable_volumes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

void write_text(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text + '\n');
}

// Block devices laid out as the kernel shows them: class/block/NAME is a link to the
// device's folder, and a partition's folder lies in its disk's.
class block_devices {
  public:
    block_devices() { QDir().mkpath(block()); }
    QString block() const { return sys_.path() + u"/class/block"_s; }
    void disk(const QString& where, const QByteArray& removable, const QByteArray& type,
              const QStringList& partitions) {
        const QString disk = sys_.path() + u"/devices/"_s + where;
        QDir().mkpath(disk + u"/device"_s);
        write_text(disk + u"/removable"_s, removable);
        if (!type.isEmpty()) write_text(disk + u"/device/type"_s, type);
        QFile::link(disk, block() + u'/' + QFileInfo(disk).fileName());
        for (const QString& p : partitions) {
            QDir().mkpath(disk + u'/' + p);
            write_text(disk + u'/' + p + u"/partition"_s, "1");
            QFile::link(disk + u'/' + p, block() + u'/' + p);
        }
    }

  private:
    QTemporaryDir sys_;
};

TEST(removable_volumes, cards_and_usb_disks_are_told_from_the_system_disks) {
    block_devices sys;
    sys.disk(u"pci0/ata1/block/sda"_s, "0", {}, {u"sda1"_s, u"sda2"_s, u"sda3"_s});
    sys.disk(u"pci0/usb1/1-1/block/sdb"_s, "1", {}, {u"sdb1"_s}); // a card reader
    sys.disk(u"pci0/usb2/2-1/block/sdc"_s, "0", {}, {u"sdc1"_s}); // a USB disk, "fixed"
    sys.disk(u"pci0/mmc0/block/mmcblk0"_s, "0", "SD", {u"mmcblk0p1"_s});
    sys.disk(u"pci0/mmc1/block/mmcblk1"_s, "0", "MMC", {u"mmcblk1p1"_s}); // built-in memory
    sys.disk(u"virtual/block/loop0"_s, "0", {}, {});
    const struct {
        const char16_t* root;
        const char* device;
        bool read_only, removable;
    } cases[] = {
        {u"/", "/dev/sdb1", false, false},
        {u"/home", "/dev/sda2", false, false},
        {u"/media/user/DATA", "/dev/sda3", false, true}, // where desktops mount volumes
        {u"/run/media/user/DATA", "/dev/sda3", false, true},
        {u"/mnt", "/dev/sda3", false, true},
        {u"/mnt/card", "/dev/loop0", false, true},
        {u"/srv/card", "/dev/sdb1", false, true},
        {u"/srv/card", "/dev/sdb1", true, false}, // nothing can be copied onto it
        {u"/srv/card", "/dev/sdb", false, true},  // a card without partitions
        {u"/srv/usb", "/dev/sdc1", false, true},
        {u"/srv/sd", "/dev/mmcblk0p1", false, true},
        {u"/srv/emmc", "/dev/mmcblk1p1", false, false},
        {u"/srv/image", "/dev/loop0", false, false},
        {u"/srv/unknown", "/dev/nosuch1", false, false},
        {u"/media/ram", "tmpfs", false, false},
        {u"/media/share", "server:/share", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            is_removable_volume({QString::fromUtf16(c.root), c.device, c.read_only}, sys.block()),
            c.removable)
            << c.device << " on " << QString::fromUtf16(c.root).toStdString();

    for (const QString& root : removable_volume_roots()) {
        EXPECT_NE(root, u"/"_s);
        EXPECT_TRUE(QFileInfo(root).isDir()) << root.toStdString();
    }
}

TEST(removable_volumes, the_chooser_opens_at_the_only_card_or_the_last_choice) {
    QTemporaryDir chosen;
    const QString home = u"/home/u"_s, card = u"/media/u/CARD"_s, usb = u"/media/u/USB"_s;
    const struct {
        QStringList cards;
        QString previous, start;
    } cases[] = {
        {{card}, chosen.path(), card},
        {{}, chosen.path(), chosen.path()},
        {{}, chosen.path() + u"/gone"_s, home}, // the card it was on is out
        {{}, {}, home},
        {{card, usb}, {}, home},
    };
    for (const auto& c : cases) {
        const chooser_places places = download_chooser_places(c.cards, c.previous, home);
        EXPECT_EQ(places.start, c.start) << c.cards.join(u',').toStdString();
        EXPECT_EQ(places.side_bar, c.cards + QStringList({home, u"/"_s}));
    }
}

} // namespace
