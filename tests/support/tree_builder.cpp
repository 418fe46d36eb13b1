#include "tests/support/tree_builder.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

QByteArray native(const QString& path) {
    return path.toUtf8();
}

void make_parent(const QString& path) {
    check(QDir().mkpath(QFileInfo(path).absolutePath()), "cannot make parent folder");
}
} // namespace

tree_builder::tree_builder() {
    check(dir_.isValid(), "cannot make temporary folder");
    root_ = dir_.path() + u'/';
    // Removed by bytes below: Qt cannot name entries that are not valid UTF-8.
    dir_.setAutoRemove(false);
}

tree_builder::~tree_builder() {
    ::nftw(
        native(dir_.path()).constData(),
        [](const char* p, const struct stat*, int, FTW*) {
            std::remove(p);
            return 0;
        },
        64, FTW_DEPTH | FTW_PHYS);
}

QString tree_builder::file(const QString& relative, std::int64_t size) {
    const QString p = path(relative);
    make_parent(p);
    const int fd = ::open(native(p).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "cannot make file");
    const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    check(sized, "cannot size file");
    return p;
}

QString tree_builder::folder(const QString& relative) {
    const QString p = path(relative);
    check(QDir().mkpath(p), "cannot make folder");
    return p;
}

QString tree_builder::symlink(const QString& relative, const QString& target) {
    const QString p = path(relative);
    make_parent(p);
    check(::symlink(native(target).constData(), native(p).constData()) == 0, "cannot make link");
    return p;
}

QString tree_builder::fifo(const QString& relative) {
    const QString p = path(relative);
    make_parent(p);
    check(::mkfifo(native(p).constData(), 0644) == 0, "cannot make fifo");
    return p;
}

QByteArray tree_builder::raw_file(const QByteArray& parent, const QByteArray& name) {
    const QByteArray p = parent + '/' + name;
    const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "cannot make file");
    ::close(fd);
    return p;
}

QByteArray tree_builder::raw_folder(const QByteArray& parent, const QByteArray& name) {
    const QByteArray p = parent + '/' + name;
    check(::mkdir(p.constData(), 0755) == 0, "cannot make folder");
    return p;
}

void tree_builder::set_mtime(const QString& path, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    check(::utimensat(AT_FDCWD, native(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0,
          "cannot set time");
}
