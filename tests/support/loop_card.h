#pragma once
// A memory card for tests: an image file behind a loop device opened with direct I/O,
// formatted and mounted. The loop device writes straight through to the image, so a copy
// of the image taken at any moment holds exactly what a card pulled at that moment holds.
// Needs root and the file system tools; unavailable() says why not, for GTEST_SKIP.
// Whatever happens, the destructor unmounts and detaches what was set up.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <utility>
#include <vector>

class QProcess;

enum class card_format { ext4, exfat };

// A card that lies (tests/support/faulty_card.py serves its image through FUSE): it keeps
// only its first `keeps_mib` and reads zeros beyond, as a counterfeit card does, or flips a
// bit in every 64th 4 KiB block read from `flip_from_mib` on, as a failing card does.
// ext4 only, made without a journal (the journal would land where nothing is kept).
struct card_faults {
    int keeps_mib = -1;
    int flip_from_mib = -1;
    bool any() const { return keeps_mib >= 0 || flip_from_mib >= 0; }
};

class loop_card {
  public:
    // Empty when a card of `format` can be made here, else the reason it cannot.
    static QString unavailable(card_format format, bool faulty = false);

    explicit loop_card(card_format format, int mib = 64, card_faults faults = {});
    ~loop_card();
    loop_card(const loop_card&) = delete;
    loop_card& operator=(const loop_card&) = delete;

    // Made, formatted and mounted; error() tells what failed otherwise.
    bool ok() const { return mounted_; }
    const QString& error() const { return error_; }
    const QString& mount_point() const { return mount_point_; }
    QString path(const QString& name) const { return mount_point_ + u'/' + name; }
    const QString& device() const { return device_; }
    const QString& image_path() const { return image_; }

    // Unmounts (lazily: open files stay usable, the path shows the empty mount point at
    // once) and mounts the same device again at the same place.
    bool unmount(bool lazy = false);
    bool mount();
    // Unmounts, empties the page cache and mounts again: what is read next comes from the card.
    bool remount_cold();

    struct snapshot {
        bool fsck_clean = false;
        QString fsck_output;
        // Names of the expected files that are missing or differ in the snapshot.
        QStringList bad;
    };
    // Copies the image as it is now, checks the copy with fsck, mounts it read-only and
    // compares each (name on the card, original file) pair with cmp.
    snapshot check_snapshot(const std::vector<std::pair<QString, QString>>& expected) const;

  private:
    card_format format_;
    QTemporaryDir dir_;
    QString image_;
    QString device_;
    QString mount_point_;
    QString error_;
    bool mounted_ = false;
    std::unique_ptr<QProcess> server_; // serves a faulty card's image
};
