// The recursive walk of one scan area; listing and time conversion stay in n_filetouch.cpp.
#include "catalogue/core/n_filetouch.h"

#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "search/language/gf_getfirstletter.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr std::uint16_t bit_hidden = 2;
constexpr std::uint16_t bit_system = 3;
constexpr std::uint16_t bit_directory = 5;

const int filepath_max = catalogue_column_info(col_filepath).max_length;

// The first or last `count` characters, a surrogate pair counting as one.
QStringView first_characters(QStringView text, qsizetype count) {
    qsizetype i = 0;
    for (qsizetype n = 0; i < text.size() && n < count; ++n)
        i += (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                                : 1;
    return text.left(i);
}

QStringView last_characters(QStringView text, qsizetype count) {
    qsizetype i = text.size();
    for (qsizetype n = 0; i > 0 && n < count; ++n)
        i -= (text[i - 1].isLowSurrogate() && i >= 2 && text[i - 2].isHighSurrogate()) ? 2 : 1;
    return text.mid(i);
}

// The catalogue file separates values by TAB and records by line ends, and cannot carry
// them inside a name.
bool has_separator_character(const win32_find_dataw& data) {
    for (const QChar c : data.name())
        if (c == u'\t' || c == u'\n' || c == u'\r') return true;
    return false;
}

// The name as a part of a path: a GB18030 name carries its mark (native_names.h).
QString& append_path_name(QString& path, const win32_find_dataw& data) {
    if (data.decoding == name_decoding::gb18030) path.append(gb18030_name_mark);
    return path.append(data.name());
}

// Bytes to megabytes, rounded to hundredths, without going through floating point.
decimal2 size_in_megabytes(std::uint32_t high, std::uint32_t low) {
    constexpr std::uint64_t megabyte = 1'048'576;
    const std::uint64_t bytes = (std::uint64_t{high} << 32) | low;
    const std::uint64_t whole = bytes / megabyte, rest = bytes % megabyte;
    return {static_cast<std::int64_t>(whole * 100 + (rest * 100 + megabyte / 2) / megabyte)};
}

// `text` in lower case into `out`: ASCII by hand, anything else as QString does it.
void lower_into(QStringView text, QString& out) {
    if (!std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        out = text.toString().toLower();
        return;
    }
    out.resize(text.size());
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *to++ = u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u;
    }
}

} // namespace

int n_filetouch::of_directory(const QString& as_filespec, const QString& as_ext, record_set& dw_1,
                              int li_layers) {
    QString ls_directory, pattern;
    if (as_filespec.endsWith(path_separator)) {
        ls_directory = as_filespec;
        pattern = as_filespec + as_ext;
    } else {
        ls_directory = as_filespec + path_separator;
        pattern = as_filespec + path_separator + as_ext;
    }

    // The scan's outermost call joins the read-ahead workers whichever way it ends.
    struct walk_level {
        n_filetouch& scan;
        explicit walk_level(n_filetouch& s) : scan(s) { ++scan.walk_depth_; }
        ~walk_level() {
            if (--scan.walk_depth_ == 0) scan.stop_read_ahead();
        }
    } level(*this);

    win32_find_dataw data;
    const find_handle handle = open_listing(pattern, data, li_layers);
    if (handle < 1) {
        count_unlisted(ls_directory);
        return -1;
    }

    do {
        feedback_.process_events();
        if (feedback_.ib_stop()) {
            feedback_.of_setmessage(u"正从递归扫描中退出,请稍候..."_s);
            stop_read_ahead();
            findclose(handle);
            return -100;
        }
        const QStringView ls_filename = data.name();
        ++lul_find_qty_;
        if (lul_find_qty_ % 1000 == 0)
            feedback_.of_setmessage(u"扫描: "_s + QString::number(lul_find_qty_) + u"次  "_s +
                                    first_characters(ls_directory, 15) +
                                    last_characters(ls_filename, 15) + u"..."_s);
        if (ls_filename == u"." || ls_filename == u"..") continue;

        const auto attributes = static_cast<std::int32_t>(data.dwfileattributes);
        if (of_checkbit(attributes, bit_hidden) || of_checkbit(attributes, bit_system)) continue;

        if (of_checkbit(attributes, bit_directory)) {
            QString folder = ls_directory;
            append_path_name(folder, data);
            if (options_.ii_dir_type == 2 && !is_marked_folder(folder)) continue;
            if (li_layers > options_.ii_scan_layers) continue;
            // No file inside could be stored: its path would hold the bad name or be too long.
            if (!storable(data, folder.size() + 2)) continue;
            // A stop unwinds at once, even when this folder was the last entry here.
            if (of_directory(folder + path_separator, u"*.*"_s, dw_1, li_layers + 1) == -100) {
                findclose(handle);
                return -100;
            }
            continue;
        }
        make_record(ls_directory, data, dw_1);
    } while (findnextfile(handle, data));

    findclose(handle);
    return 1;
}

bool n_filetouch::storable(const win32_find_dataw& data, qsizetype path_size) {
    if (data.decoding == name_decoding::undecodable)
        ++left_out_.undecodable;
    else if (has_separator_character(data))
        ++left_out_.bad_character;
    else if (data.decoding == name_decoding::too_long || path_size > filepath_max)
        ++left_out_.too_long;
    else
        return true;
    return false;
}

void n_filetouch::make_record(const QString& ls_directory, const win32_find_dataw& data,
                              record_set& dw_1) {
    // Views and a reused buffer: no allocation per file.
    QStringView raw_ext;
    const QStringView ls_filenamewithno = filename_parts(data.name(), raw_ext);
    lower_into(raw_ext, lowered_ext_);
    const QStringView ls_ext = lowered_ext_;
    if (options_.gi_filetype_upperbound > 0 &&
        !of_str_in_array(ls_ext, options_.gs_filetype, options_.gi_filetype_upperbound))
        return;

    // One buffer for every path of the scan: no allocation per file.
    filepath_.resize(0);
    append_path_name(filepath_.append(ls_directory), data);
    if (!storable(data, filepath_.size())) return;

    QStringView ls_filenamemain = ls_filenamewithno;
    std::int32_t number = 0;
    // An empty separator would cut every name; it means that none is configured.
    if (options_.gi_cut_splitter_len > 0 && !options_.gs_cut_splitter.isEmpty()) {
        const qsizetype p = ls_filenamemain.indexOf(options_.gs_cut_splitter);
        if (p >= 0) {
            // Not a whole number, or one beyond the column's range: no number.
            number = parse_long(ls_filenamemain.left(p)).value_or(0);
            ls_filenamemain = ls_filenamemain.mid(
                std::min<qsizetype>(p + options_.gi_cut_splitter_len, ls_filenamemain.size()));
        }
    }
    std::optional<local_datetime> created;
    of_filedatetimetopb(data.ftcreationtime, created, offsets_);
    gf_getfirstletter_into(ls_filenamemain, 0, initials_);
    const QStringView initials = initials_;
    // The place the record is appended at: a search during the scan filters the visible rows,
    // which must not make two records share a number.
    const long ll_appended = dw_1.rowcount() + dw_1.filteredcount() + dw_1.setasidecount() + 1;

    // Stored in this order: a name's parts before the texts made from them.
    const struct {
        QStringView withno, main, ext, path, initials;
        std::int32_t number, appended;
        decimal2 size;
        std::optional<local_datetime> created;
    } v{ls_filenamewithno,
        ls_filenamemain,
        ls_ext,
        filepath_,
        initials,
        number,
        static_cast<std::int32_t>(ll_appended),
        size_in_megabytes(data.nfilesizehigh, data.nfilesizelow),
        created};
    dw_1.append_row([&v](record_storage& s, std::uint32_t id) {
        s.set_text(id, col_filenamewithno, v.withno);
        s.set_long(id, col_sourceid, v.number);
        s.set_long(id, col_machineid, v.appended);
        s.set_text(id, col_filename, v.main);
        s.set_text(id, col_fileext, v.ext);
        s.set_decimal(id, col_filesizedec, v.size);
        s.set_text(id, col_filepath, v.path);
        if (v.created) s.set_datetime(id, col_createdate, *v.created);
        s.set_text(id, col_pinyinma, v.initials);
    });

    if (ll_appended % 500 == 0 && st_scaned_qty_)
        st_scaned_qty_(QString::number(ll_appended) + u"个"_s);
}
