#include "retrieval/core/card_space.h"

#include <QFile>

#include <algorithm>
#include <sys/statvfs.h>

std::optional<card_space> card_space_of(const QString& folder) {
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0) return std::nullopt;
    const std::uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    if (unit == 0) return std::nullopt;
    const std::uint64_t blocks = vfs.f_bavail;
    const std::uint64_t free_bytes =
        blocks > static_cast<std::uint64_t>(INT64_MAX) / unit ? INT64_MAX : blocks * unit;
    return card_space{static_cast<std::int64_t>(free_bytes), static_cast<std::int64_t>(unit),
                      (vfs.f_flag & ST_RDONLY) != 0};
}

std::int64_t space_on_card(std::int64_t size, std::int64_t cluster_bytes) {
    if (size <= 0) return 0;
    const std::int64_t unit = std::max<std::int64_t>(cluster_bytes, 1);
    const std::int64_t clusters = size / unit + (size % unit != 0 ? 1 : 0);
    return clusters > INT64_MAX / unit ? INT64_MAX : clusters * unit;
}

std::int64_t space_needed(std::span<const planned_copy> copies, std::int64_t cluster_bytes) {
    // Walks the copies keeping what they have taken so far; the peak is what must be free.
    std::int64_t taken = 0, peak = 0;
    for (const planned_copy& c : copies) {
        const std::int64_t size = space_on_card(c.size, cluster_bytes);
        if (taken > 0 && size > INT64_MAX - taken) return INT64_MAX;
        peak = std::max(peak, taken + size);
        taken += size - space_on_card(c.replaced_size, cluster_bytes);
    }
    return peak;
}

QString readable_size(std::int64_t bytes) {
    constexpr double kib = 1024.0, mib = kib * 1024, gib = mib * 1024;
    const auto b = static_cast<double>(std::max<std::int64_t>(bytes, 0));
    if (b >= gib) return QString::number(b / gib, 'f', b >= 100 * gib ? 0 : 1) + u" GB";
    if (b >= mib) return QString::number(b / mib, 'f', b >= 100 * mib ? 0 : 1) + u" MB";
    return QString::number(static_cast<std::int64_t>((b + kib - 1) / kib)) + u" KB";
}

QString not_enough_space_message(std::int64_t needed, std::int64_t free_bytes) {
    return QStringLiteral(
               "下载文件夹所在的卡上空间不足：这些文件需要 %1，卡上只剩 %2。没有复制任何文件。")
        .arg(readable_size(needed), readable_size(free_bytes));
}

QString free_space_text(const card_space& space) {
    return QStringLiteral("可用 ") + readable_size(space.free_bytes);
}
