#include "catalogue/core/n_filetouch.h"

#include "app/shell/operation_feedback.h"
#include "catalogue/core/folder_read_ahead.h"

#include <QDate>
#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::int64_t ticks_per_second = 10'000'000;
constexpr std::int64_t ticks_per_day = ticks_per_second * 86'400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t unix_epoch_in_1601_seconds = 11'644'473'600;
} // namespace

struct n_filetouch::listing {
    DIR* dir = nullptr;
    folder_names names;                               // the matching entries, in name order
    std::shared_ptr<folder_read_ahead::folder> ahead; // instead of the two above
    std::size_t next = 0;
    ~listing() {
        if (dir) ::closedir(dir);
    }
};

n_filetouch::n_filetouch(operation_feedback& feedback, scan_options options,
                         std::function<void(const QString&)> st_scaned_qty)
    : feedback_(feedback), options_(std::move(options)), st_scaned_qty_(std::move(st_scaned_qty)) {}

n_filetouch::~n_filetouch() {
    stop_read_ahead();
}

void n_filetouch::stop_read_ahead() {
    if (read_ahead_) read_ahead_->stop();
}

namespace {

void fill(win32_find_dataw& data, const folder_names& names, std::size_t i, const entry_facts& e) {
    const std::u16string_view text = names.text(i);
    std::copy(text.begin(), text.end(), data.cfilename);
    data.cfilename[text.size()] = u'\0';
    data.decoding = names.decoding(i);
    data.dwfileattributes = e.attributes;
    data.nfilesizehigh = static_cast<std::uint32_t>(e.size >> 32);
    data.nfilesizelow = static_cast<std::uint32_t>(e.size);
    data.ftcreationtime = filetime::from_ticks(e.created);
    data.ftlastwritetime = filetime::from_ticks(e.written);
    data.ftlastaccesstime = filetime::from_ticks(e.accessed);
}

// Fills `data` from the listing's next name. Read now, the entry is looked at only now, so
// each one costs its time at its own checkpoint.
bool next_entry(folder_read_ahead* read_ahead, DIR* dir, const folder_names& names,
                const std::shared_ptr<folder_read_ahead::folder>& ahead, std::size_t& next,
                win32_find_dataw& data) {
    if (ahead) {
        const entry_facts* e = read_ahead->entry(*ahead, next);
        if (!e) return false;
        fill(data, folder_read_ahead::names(*ahead), next++, *e);
    } else {
        if (next >= names.size()) return false;
        entry_facts e;
        look_at_entry(::dirfd(dir), names.bytes(next), e);
        fill(data, names, next++, e);
    }
    return true;
}

} // namespace

find_handle n_filetouch::findfirstfile(const QString& pattern, win32_find_dataw& data) {
    return open_listing(pattern, data, 0);
}

find_handle n_filetouch::open_listing(const QString& pattern, win32_find_dataw& data, int layers) {
    const qsizetype cut = pattern.lastIndexOf(path_separator);
    const QByteArray folder =
        cut < 0 ? QByteArrayLiteral(".") : native_path(QStringView(pattern).left(cut + 1));
    const QByteArray mask = pattern.mid(cut + 1).toUtf8();
    if (mask.isEmpty()) return invalid_find_handle;

    // "*.*" takes names without a dot too, as on the platform that coined it.
    const bool every = mask == "*.*" || mask == "*";
    auto l = std::make_unique<listing>();
    if (layers > 0 && every && cut >= 0 && options_.read_ahead_threads > 0) {
        if (!read_ahead_)
            read_ahead_ = std::make_unique<folder_read_ahead>(options_.read_ahead_threads,
                                                              options_.ii_scan_layers);
        l->ahead = read_ahead_->open(folder, layers);
        if (!l->ahead) return invalid_find_handle;
    } else {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return invalid_find_handle;
        l->dir = ::fdopendir(fd);
        if (!l->dir) {
            ::close(fd);
            return invalid_find_handle;
        }
        l->names = folder_names::read(l->dir, every ? QByteArray() : mask);
    }
    if (!next_entry(read_ahead_.get(), l->dir, l->names, l->ahead, l->next, data)) {
        if (l->ahead) read_ahead_->close(l->ahead);
        return invalid_find_handle;
    }

    for (std::size_t i = 0; i < listings_.size(); ++i) {
        if (!listings_[i]) {
            listings_[i] = std::move(l);
            return static_cast<find_handle>(i + 1);
        }
    }
    listings_.push_back(std::move(l));
    return static_cast<find_handle>(listings_.size());
}

void n_filetouch::count_unlisted(const QString& folder) {
    struct stat st {};
    if (::stat(native_path(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (left_out_.unreadable_folders++ == 0) {
        // Shown as the user names folders: without the separator the walk added.
        const bool root = folder.size() == 1;
        left_out_.first_unreadable =
            folder.endsWith(path_separator) && !root ? folder.chopped(1) : folder;
    }
}

bool n_filetouch::findnextfile(find_handle handle, win32_find_dataw& data) {
    if (handle < 1 || static_cast<std::size_t>(handle) > listings_.size()) return false;
    const auto& l = listings_[static_cast<std::size_t>(handle - 1)];
    return l && next_entry(read_ahead_.get(), l->dir, l->names, l->ahead, l->next, data);
}

bool n_filetouch::findclose(find_handle handle) {
    if (handle < 1 || static_cast<std::size_t>(handle) > listings_.size()) return false;
    auto& l = listings_[static_cast<std::size_t>(handle - 1)];
    if (!l) return false;
    if (l->ahead) read_ahead_->close(l->ahead);
    l.reset();
    while (!listings_.empty() && !listings_.back()) listings_.pop_back();
    return true;
}

std::optional<std::int64_t> local_offsets::at(std::int64_t utc) {
    if (utc >= from_ && utc <= to_) return offset_;
    const std::time_t t = utc;
    std::tm parts{};
    if (!::localtime_r(&t, &parts)) return std::nullopt;
    const std::int64_t offset = parts.tm_gmtoff;
    constexpr std::int64_t span = 3600;
    const std::int64_t from = std::min(from_, utc), to = std::max(to_, utc);
    if (from_ <= to_ && offset == offset_ && to - from <= span) {
        from_ = from;
        to_ = to;
    } else {
        from_ = to_ = utc;
        offset_ = offset;
    }
    return offset;
}

bool n_filetouch::filetimetolocalfiletime(const filetime& universal, filetime& local,
                                          local_offsets& offsets) {
    const std::uint64_t ticks = universal.ticks();
    if (ticks > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const std::int64_t t = static_cast<std::int64_t>(ticks);
    const std::optional<std::int64_t> seconds_east =
        offsets.at(t / ticks_per_second - unix_epoch_in_1601_seconds);
    if (!seconds_east) return false;
    const std::int64_t offset = *seconds_east * ticks_per_second;
    if ((offset < 0 && t < -offset) || (offset > 0 && t > INT64_MAX - offset)) return false;
    local = filetime::from_ticks(static_cast<std::uint64_t>(t + offset));
    return true;
}

bool n_filetouch::filetimetosystemtime(const filetime& time, systemtime& parts) {
    const std::uint64_t ticks = time.ticks();
    if (ticks > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const std::int64_t t = static_cast<std::int64_t>(ticks);
    static const qint64 julian_1601 = QDate(1601, 1, 1).toJulianDay();
    const QDate date = QDate::fromJulianDay(julian_1601 + t / ticks_per_day);
    if (!date.isValid()) return false;
    const std::int64_t in_day = t % ticks_per_day;
    parts.wyear = static_cast<std::uint16_t>(date.year());
    parts.wmonth = static_cast<std::uint16_t>(date.month());
    parts.wday = static_cast<std::uint16_t>(date.day());
    parts.wdayofweek = static_cast<std::uint16_t>(date.dayOfWeek() % 7); // Sunday is 0
    parts.whour = static_cast<std::uint16_t>(in_day / (ticks_per_second * 3600));
    parts.wminute = static_cast<std::uint16_t>(in_day / (ticks_per_second * 60) % 60);
    parts.wsecond = static_cast<std::uint16_t>(in_day / ticks_per_second % 60);
    parts.wmilliseconds = static_cast<std::uint16_t>(in_day % ticks_per_second / 10'000);
    return true;
}

bool n_filetouch::of_checkbit(std::int32_t al_number, std::uint16_t aui_bit) {
    // Whole part of the number divided by 2^(bit-1), odd or not; a bit number of 0 halves
    // the divisor below 1 and always gives an even quotient.
    if (aui_bit == 0 || aui_bit > 32) return false;
    const std::int64_t quotient = std::int64_t{al_number} / (std::int64_t{1} << (aui_bit - 1));
    return quotient % 2 != 0;
}

int n_filetouch::of_filedatetimetopb(const filetime& astr_filetime,
                                     std::optional<local_datetime>& adt_filetime) {
    local_offsets offsets;
    return of_filedatetimetopb(astr_filetime, adt_filetime, offsets);
}

int n_filetouch::of_filedatetimetopb(const filetime& astr_filetime,
                                     std::optional<local_datetime>& adt_filetime,
                                     local_offsets& offsets) {
    adt_filetime.reset();
    filetime local;
    if (!filetimetolocalfiletime(astr_filetime, local, offsets)) return -1;
    // Dates are kept to the second, counted on the local wall clock from 1970; no calendar
    // is needed for that, and a scan converts a date per file.
    const std::int64_t seconds =
        static_cast<std::int64_t>(local.ticks() / ticks_per_second) - unix_epoch_in_1601_seconds;
    // The catalogue's dates carry four-digit years; a later one could not be read back.
    constexpr std::int64_t year_10000 = 253'402'300'800; // 10000-01-01 00:00:00
    if (seconds >= year_10000) return -1;
    adt_filetime = local_datetime{seconds};
    return 1;
}

QStringView n_filetouch::filename_parts(QStringView full, QStringView& ext) {
    const qsizetype dot = full.lastIndexOf(u'.');
    ext = dot < 0 ? QStringView() : full.mid(dot);
    return dot < 0 ? full : full.left(dot);
}

QString n_filetouch::of_get_filename_part(QStringView as_filenamefull, QString& as_fileext) {
    QStringView ext;
    const QStringView base = filename_parts(as_filenamefull, ext);
    as_fileext = ext.toString();
    return base.toString();
}

bool n_filetouch::is_marked_folder(QStringView folder) {
    const bool drive = folder.size() >= 2 && folder[1] == u':' && folder[0].isLetter();
    return folder.indexOf(u"##", drive ? 2 : 0) >= 0;
}

bool n_filetouch::of_str_in_array(QStringView ls_str, const QStringList& ls_array,
                                  int li_upperbound) {
    const qsizetype n = std::min<qsizetype>(li_upperbound, ls_array.size());
    for (qsizetype i = 0; i < n; ++i)
        if (ls_array[i] == ls_str) return true;
    return false;
}
