#pragma once
// File services of one scan: folder listings with attributes, sizes and times, file time
// conversion, name splitting, and the recursive scanner that fills the catalogue.
//
// The listing and time operations keep the shapes of the Win32 calls they stand for, so
// a Windows build fills them with FindFirstFileW and friends; every POSIX call of the
// scanner lives inside them.
#include "catalogue/core/catalogue_values.h"
#include "catalogue/core/native_names.h"
#include "catalogue/core/scan_options.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class folder_read_ahead;
class operation_feedback;
class record_set;

#ifdef _WIN32
inline constexpr char16_t path_separator = u'\\';
#else
inline constexpr char16_t path_separator = u'/';
#endif

// 100-nanosecond intervals since 1601-01-01 00:00:00, in two halves.
struct filetime {
    std::uint32_t dwlowdatetime = 0;
    std::uint32_t dwhighdatetime = 0;

    std::uint64_t ticks() const { return (std::uint64_t{dwhighdatetime} << 32) | dwlowdatetime; }
    static filetime from_ticks(std::uint64_t t) {
        return {static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(t >> 32)};
    }
};

struct systemtime {
    std::uint16_t wyear = 0;
    std::uint16_t wmonth = 0;
    std::uint16_t wdayofweek = 0;
    std::uint16_t wday = 0;
    std::uint16_t whour = 0;
    std::uint16_t wminute = 0;
    std::uint16_t wsecond = 0;
    std::uint16_t wmilliseconds = 0;
};

inline constexpr std::uint32_t file_attribute_readonly = 0x01;
inline constexpr std::uint32_t file_attribute_hidden = 0x02;
inline constexpr std::uint32_t file_attribute_system = 0x04;
inline constexpr std::uint32_t file_attribute_directory = 0x10;
inline constexpr std::uint32_t file_attribute_normal = 0x80;

inline constexpr int max_path = 260;

struct win32_find_dataw {
    std::uint32_t dwfileattributes = 0;
    filetime ftcreationtime;
    filetime ftlastaccesstime;
    filetime ftlastwritetime;
    std::uint32_t nfilesizehigh = 0;
    std::uint32_t nfilesizelow = 0;
    std::uint32_t dwreserved0 = 0;
    std::uint32_t dwreserved1 = 0;
    char16_t cfilename[max_path] = {}; // zero-terminated
    char16_t calternatefilename[14] = {};
    // How the name's bytes became cfilename (native_names.h). Undecodable or too long:
    // cfilename holds a readable stand-in, and no path built from it reaches the file.
    name_decoding decoding = name_decoding::utf8;
    bool name_undecodable() const {
        return decoding == name_decoding::undecodable || decoding == name_decoding::too_long;
    }

    QStringView name() const { return QStringView(cfilename); }
};

// A listing handle; below 1 means that nothing could be listed.
using find_handle = std::intptr_t;
inline constexpr find_handle invalid_find_handle = -1;

// Offsets of the system time zone at instants, for a scan that converts a time per file:
// files come in runs of near times. Two instants at most an hour apart that have one
// offset have no change of offset between them, so an instant between two already looked
// up is answered without asking the zone.
class local_offsets {
  public:
    // Seconds east of UTC in force at `utc` (seconds from 1970); nothing when the zone
    // cannot tell.
    std::optional<std::int64_t> at(std::int64_t utc);

  private:
    std::int64_t from_ = 1, to_ = 0, offset_ = 0; // [from_, to_] has offset_; empty at first
};

class n_filetouch {
  public:
    // `st_scaned_qty` receives the main window's counter text.
    n_filetouch(operation_feedback& feedback, scan_options options,
                std::function<void(const QString&)> st_scaned_qty = {});
    ~n_filetouch();
    n_filetouch(const n_filetouch&) = delete;
    n_filetouch& operator=(const n_filetouch&) = delete;

    // Operating-system listing: `pattern` is a folder, a separator and a name mask
    // ("*.*" or "*" take every entry). Entries come in name order (folder_names.h),
    // "." and ".." first. Links are followed; a link that leads nowhere is a
    // system entry.
    find_handle findfirstfile(const QString& pattern, win32_find_dataw& data);
    bool findnextfile(find_handle handle, win32_find_dataw& data);
    bool findclose(find_handle handle);

    // Universal to local time by the system time zone, with the offset in force at
    // that instant, as `offsets` remembers it.
    static bool filetimetolocalfiletime(const filetime& universal, filetime& local,
                                        local_offsets& offsets);
    static bool filetimetosystemtime(const filetime& time, systemtime& parts);

    static bool of_checkbit(std::int32_t al_number, std::uint16_t aui_bit);
    // 1, and `adt_filetime` set, on success; -1 and no value otherwise.
    static int of_filedatetimetopb(const filetime& astr_filetime,
                                   std::optional<local_datetime>& adt_filetime);
    static int of_filedatetimetopb(const filetime& astr_filetime,
                                   std::optional<local_datetime>& adt_filetime,
                                   local_offsets& offsets);
    static QString of_get_filename_part(QStringView as_filenamefull, QString& as_fileext);
    // The same as views: the name before its last dot, and `ext` from the dot on (null
    // without one).
    static QStringView filename_parts(QStringView full, QStringView& ext);
    static bool of_str_in_array(QStringView ls_str, const QStringList& ls_array, int li_upperbound);
    // The folder rule "only folders whose path holds ##": searched after a drive ("D:"), so
    // a drive name never counts; a path without a drive is searched whole.
    static bool is_marked_folder(QStringView folder);

    // Appends one record per wanted file below `as_filespec` to `dw_1`. 1 when the folder
    // was listed to the end, -1 when it cannot be listed, -100 when the user stopped.
    int of_directory(const QString& as_filespec, const QString& as_ext, record_set& dw_1,
                     int li_layers);

    // Directory entries examined during this scan.
    std::uint32_t lul_find_qty() const { return lul_find_qty_; }
    // Wanted files and folders left out because the catalogue could not hold them, by
    // reason, and in all; and the folders that could not be listed, whose files are unknown.
    struct left_out_counts {
        long undecodable = 0;   // neither UTF-8 nor GB18030
        long bad_character = 0; // TAB or a line break in the name
        long too_long = 0;      // longer than the path column
        long total() const { return undecodable + bad_character + too_long; }
        long unreadable_folders = 0; // there, but not to be listed (permissions, errors)
        QString first_unreadable;    // the first of them
    };
    const left_out_counts& left_out() const { return left_out_; }
    long unstorable_qty() const { return left_out_.total(); }

  private:
    struct listing;

    // findfirstfile for the walk: with read-ahead on, a folder at depth `layers` comes from
    // the workers.
    find_handle open_listing(const QString& pattern, win32_find_dataw& data, int layers);
    // Ends the read-ahead and joins its workers.
    void stop_read_ahead();

    void make_record(const QString& ls_directory, const win32_find_dataw& data, record_set& dw_1);
    // Counts the entry when the catalogue cannot hold `path` (built from its name).
    bool storable(const win32_find_dataw& data, qsizetype path_size);
    // Counts `folder` when it is there but could not be listed; a missing one is not counted.
    void count_unlisted(const QString& folder);

    operation_feedback& feedback_;
    scan_options options_;
    std::function<void(const QString&)> st_scaned_qty_;
    std::uint32_t lul_find_qty_ = 0;
    left_out_counts left_out_;
    QString filepath_;    // reused for every file
    QString lowered_ext_; // reused for every file
    QString initials_;    // reused for every file
    local_offsets offsets_;
    std::vector<std::unique_ptr<listing>> listings_; // handle n is slot n - 1
    std::unique_ptr<folder_read_ahead> read_ahead_;  // null with read-ahead off
    int walk_depth_ = 0;                             // of_directory calls under way
};
