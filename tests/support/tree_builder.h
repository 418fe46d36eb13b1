#pragma once
// Builds small folder trees for tests in a private temporary folder, removed afterwards.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>

class tree_builder {
  public:
    tree_builder();
    ~tree_builder();
    tree_builder(const tree_builder&) = delete;
    tree_builder& operator=(const tree_builder&) = delete;

    // The tree's root folder, ending with "/".
    QString root() const { return root_; }
    QString path(const QString& relative) const { return root_ + relative; }

    // Each returns the full path; missing parent folders are made. Sizes are sparse, so a
    // file of gigabytes costs no disk space.
    QString file(const QString& relative, std::int64_t size = 0);
    QString folder(const QString& relative);
    QString symlink(const QString& relative, const QString& target);
    QString fifo(const QString& relative);
    // A file or folder whose name is given as raw bytes, valid UTF-8 or not, inside the
    // existing folder `parent`, also given as bytes (root_bytes() for the root).
    static QByteArray raw_file(const QByteArray& parent, const QByteArray& name);
    static QByteArray raw_folder(const QByteArray& parent, const QByteArray& name);
    QByteArray root_bytes() const { return root_.toUtf8(); }

    // Modification time, in seconds since 1970-01-01 UTC.
    static void set_mtime(const QString& path, std::int64_t seconds);

  private:
    QTemporaryDir dir_;
    QString root_;
};
