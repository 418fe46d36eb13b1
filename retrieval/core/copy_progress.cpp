#include "retrieval/core/copy_progress.h"

#include "retrieval/core/native_file.h"

QString copy_display_name(const QString& ls_to) {
    const qsizetype start = file_name_start(ls_to);
    // Counts characters, so a character outside the basic plane is kept whole.
    int kept = 0;
    qsizetype pos = ls_to.size();
    while (pos > start && kept < 13) {
        --pos;
        if (pos > start && ls_to[pos].isLowSurrogate() && ls_to[pos - 1].isHighSurrogate()) --pos;
        ++kept;
    }
    return ls_to.sliced(pos);
}

QString copy_progress_text(const QString& display_name, std::int64_t copied, std::int64_t total) {
    // The fraction of a kilobyte is dropped, so the figure never runs ahead of the copy.
    const std::int64_t kilobytes = copied / 1024;
    // Percent rounded half up, exact for any size a file system holds: whole multiples of
    // the length first, then the remainder, scaled down only beyond 2^55 bytes.
    std::int64_t rest = copied % total;
    std::int64_t length = total;
    if (length > (std::int64_t{1} << 55)) {
        rest >>= 8;
        length >>= 8;
    }
    const std::int64_t percent = copied / total * 100 + (rest * 200 + length) / (length * 2);
    return u"下载: " + display_name + u" :" + QString::number(kilobytes) + u"KB/" +
           QString::number(percent) + u"%";
}
