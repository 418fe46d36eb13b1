#include "catalogue/ui/d_file_info_simp_model.h"

#include "app/shell/run_parts.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"

#include <QColor>
#include <QFont>

#include <algorithm>
#include <vector>

namespace {
struct shown_column {
    int record_column;
    const char16_t* heading;
};
constexpr shown_column shown[] = {
    {col_machineid, u"序号\nMachineid"},   {col_filename, u"文件名\nFilename"},
    {col_fileext, u"扩展名\nFileext"},     {col_createdate, u"创建日期\nCreatedate"},
    {col_filepath, u"文件路径\nFilepath"}, {col_filesizedec, u"大小(MB)\nFilesizedec"},
    {col_sourceid, u"自编号\nSourceid"},
};
} // namespace

d_file_info_simp_model::d_file_info_simp_model(record_set& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {
    rows_.set_change_listener([this] {
        beginResetModel();
        // New rows have no current row until the user picks one: F3 must not download
        // whatever now stands at the old place.
        current_row_ = 0;
        window_first_ = 0;
        endResetModel();
        emit rows_replaced();
    });
}

d_file_info_simp_model::~d_file_info_simp_model() {
    rows_.set_change_listener({});
}

int d_file_info_simp_model::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(std::clamp(rows_.rowcount() - window_first_, 0L, window_capacity_));
}

long d_file_info_simp_model::result_rows() const {
    return rows_.rowcount();
}

bool d_file_info_simp_model::set_window(long first, long capacity) {
    first = std::max(0L, first);
    capacity = std::max(1L, capacity);
    if (first == window_first_ && capacity == window_capacity_) return false;
    beginResetModel();
    window_first_ = first;
    window_capacity_ = capacity;
    endResetModel();
    return true;
}

int d_file_info_simp_model::model_row(long result_row) const {
    const long r = result_row - 1 - window_first_;
    return result_row >= 1 && r >= 0 && r < rowCount() ? static_cast<int>(r) : -1;
}

int d_file_info_simp_model::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : display_column_count;
}

int d_file_info_simp_model::record_column(int display_column) {
    return display_column >= 0 && display_column < shown_sourceid + 1
               ? shown[display_column].record_column
               : 0;
}

QString d_file_info_simp_model::object_name(int display_column) {
    if (display_column == button_ting) return QStringLiteral("b_ting");
    if (display_column == button_down) return QStringLiteral("b_down");
    const int c = record_column(display_column);
    return c ? catalogue_column_info(c).name.toString() : QString();
}

QVariant d_file_info_simp_model::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const long row = result_row(index.row());
    const int column = index.column();
    if (column == button_ting || column == button_down) {
        if (role == Qt::DisplayRole)
            return column == button_ting ? QStringLiteral("试听") : QStringLiteral("下载");
        return {};
    }
    const int c = record_column(column);
    switch (role) {
    case Qt::DisplayRole: {
        if (c == col_createdate) {
            const auto d = rows_.get_datetime(row, c);
            return d ? d->date().toString(QStringLiteral("yyyy-MM-dd")) : QString();
        }
        if (c == col_sourceid) {
            const auto v = rows_.get_long(row, c);
            return v && *v != 0 ? QString::number(*v) : QString();
        }
        return rows_.getitemstring(row, c);
    }
    case Qt::TextAlignmentRole:
        if (c == col_filesizedec || c == col_machineid || c == col_sourceid)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
        if (c == col_machineid && row == current_row_) {
            // Only size and weight are set: the list's own family still applies.
            QFont f;
            f.setPointSize(11);
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::ForegroundRole:
        if (c == col_machineid && row == current_row_) return QColor(255, 0, 0);
        return {};
    default:
        return {};
    }
}

QVariant d_file_info_simp_model::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    if (orientation != Qt::Horizontal) {
        if (role == Qt::DisplayRole) return static_cast<qlonglong>(result_row(section));
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    if (section == button_ting) return QString();
    if (section == button_down) return QStringLiteral("下载全部");
    if (section >= 0 && section <= shown_sourceid)
        return QString::fromUtf16(shown[section].heading);
    return {};
}

void d_file_info_simp_model::set_current_row(long row) {
    const long old = current_row_;
    current_row_ = row >= 1 && row <= rows_.rowcount() ? row : 0;
    for (const long r : {old, current_row_})
        if (const int m = model_row(r); m >= 0)
            emit dataChanged(index(m, shown_machineid), index(m, shown_machineid));
}

QString d_file_info_simp_model::summary_count() const {
    return QString::number(rows_.rowcount());
}

namespace {
// Sizes of rows [first, last] in cents.
std::int64_t cents_of(const record_set& rows, long first, long last) {
    const record_storage& storage = rows.storage();
    std::int64_t cents = 0;
    for (long r = first; r <= last; ++r) cents += storage.size_cents(rows.row_id(r));
    return cents;
}

// Show-all lists millions of rows: their sum is shared among the cores (reading only, while
// the caller waits).
std::int64_t total_cents(const record_set& rows) {
    const long n = rows.rowcount();
    const unsigned parts = parts_for(static_cast<std::uint64_t>(std::max(0L, n)), 250'000);
    std::vector<std::int64_t> sums(parts, 0);
    run_parts(n, parts, [&](unsigned k, long b, long e) { sums[k] = cents_of(rows, b + 1, e); });
    std::int64_t cents = 0;
    for (const std::int64_t s : sums) cents += s;
    return cents;
}
} // namespace

QString d_file_info_simp_model::summary_total_size() const {
    const std::int64_t cents = total_cents(rows_);
    const std::int64_t tenths = cents >= 0 ? (cents + 5) / 10 : (cents - 5) / 10;
    const std::int64_t magnitude = tenths < 0 ? -tenths : tenths;
    return QStringLiteral("%1%2.%3")
        .arg(tenths < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 10)
        .arg(magnitude % 10);
}
