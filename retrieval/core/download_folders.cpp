#include "retrieval/core/download_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

bool is_separator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/' || c == u':';
#else
    return c == u'/';
#endif
}

} // namespace

download_folders::download_folders(QString default_folder)
    : is_down_path_(std::move(default_folder)) {}

QString download_folders::down_qty_text() const {
    return u'[' + QString::number(il_down_qty_) + u']';
}

void download_folders::create_default_folder() const {
    if (!QFileInfo(is_down_path_).isDir()) QDir().mkpath(is_down_path_);
}

QStringList download_folders::empty_default_folder() {
    QStringList listed;
    const QDir folder(is_down_path_);
    const QStringList names =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names)
        if (is_ordinary_file(is_down_path_ + name)) listed << name;
    for (const QString& name : std::as_const(listed)) QFile::remove(is_down_path_ + name);
    il_down_qty_ = 0;
    return listed;
}

bool download_folders::set_custom_folder(const QString& chosen) {
    cust_mount_.reset();
    if (chosen.isEmpty()) {
        is_down_path_cust_.clear();
        return false;
    }
    is_down_path_cust_ = QDir::toNativeSeparators(chosen) + QDir::separator();
    cust_mount_ = mount_of(is_down_path_cust_);
    return true;
}

bool download_folders::custom_present() const {
    if (is_down_path_cust_.isEmpty()) return false;
    if (cust_mount_) return on_same_mount(is_down_path_cust_, *cust_mount_);
    return QFileInfo(is_down_path_cust_).isDir();
}

QString download_folders::download_folder(bool& custom_missing) const {
    custom_missing = !custom_present();
    return custom_missing ? is_down_path_ : is_down_path_cust_;
}

std::optional<std::uint64_t> download_folders::device_of(const QString& folder) const {
    if (!cust_mount_ || folder != is_down_path_cust_) return std::nullopt;
    return cust_mount_->device;
}

QString download_target(const QString& folder, QStringView filename, QStringView fileext) {
    return folder + filename + fileext;
}

bool is_plain_file_name(QStringView name) {
    if (name.isEmpty() || name == u"." || name == u"..") return false;
    for (const QChar c : name)
        if (c == QChar(u'\0') || is_separator(c)) return false;
    return true;
}

bool is_ordinary_file(const QString& path) {
    const QFileInfo info(path);
    // isFile() follows links and is false for devices, pipes and sockets.
    if (!info.isFile() || info.isHidden()) return false;
    // The owner's write bit, not an access check: the owner may be the super-user, who can
    // write anything, and a read-only file must still be kept.
    return info.permissions().testFlag(QFileDevice::WriteOwner);
}
