#include "retrieval/download_controller.h"

#include "catalogue/catalogue_columns.h"
#include "catalogue/native_names.h"
#include "catalogue/operation_feedback.h"
#include "catalogue/record_set.h"
#include "retrieval/gf_copyfile_block.h"

#include <QFileInfo>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView prompt_title = u"提示";

// Raises the busy flag for one download; the copies pump events, and a second download
// started from there would race the first for the same target.
class busy_scope {
  public:
    explicit busy_scope(bool& flag) : flag_(flag) { flag_ = true; }
    busy_scope(const busy_scope&) = delete;
    busy_scope& operator=(const busy_scope&) = delete;
    ~busy_scope() { flag_ = false; }

  private:
    bool& flag_;
};

template <typename Fn, typename... Args> void call(const Fn& hook, Args&&... args) {
    if (hook) hook(std::forward<Args>(args)...);
}

QString file_name_of(const record_set& rows, long row) {
    return rows.getitemstring(row, col_filename) + rows.getitemstring(row, col_fileext);
}

} // namespace

download_controller::download_controller(QString default_folder, download_hooks hooks,
                                         operation_feedback& feedback)
    : folders_(std::move(default_folder)), hooks_(std::move(hooks)), feedback_(feedback) {}

QStringList download_controller::empty_default_folder() {
    // A copy in progress writes into the default folder; emptying now would lose its file.
    if (busy_) return {};
    QStringList listed = folders_.empty_default_folder();
    call(hooks_.post_down_qty);
    return listed;
}

void download_controller::select_custom_dir() {
    const QString chosen =
        hooks_.choose_folder ? hooks_.choose_folder(download_choose_caption.toString()) : QString();
    call(hooks_.set_custdir_enabled, folders_.set_custom_folder(chosen));
}

void download_controller::open_default_dir() {
    call(hooks_.open_folder, is_down_path());
}

void download_controller::open_custom_dir() {
    if (!is_down_path_cust().isEmpty()) call(hooks_.open_folder, is_down_path_cust());
}

QString download_controller::choose_folder_for_download() {
    bool custom_missing = false;
    QString folder = folders_.download_folder(custom_missing);
    // The choice itself is kept: when the same card comes back, downloads go to it again.
    if (custom_missing) call(hooks_.set_custdir_enabled, false);
    return folder;
}

download_controller::row_outcome download_controller::copy_row(const record_set& rows, long row,
                                                               const QString& folder) {
    const QString from = rows.getitemstring(row, col_filepath);
    if (!native_is_file(from)) return row_outcome::missing_source;
    const QString name = file_name_of(rows, row);
    if (!is_plain_file_name(name)) return row_outcome::bad_name;
    const QString to = download_target(folder, rows.getitemstring(row, col_filename),
                                       rows.getitemstring(row, col_fileext));
    const bool copied = gf_copyfile_block(from, to, true, feedback_);
    // Counts attempts, failed ones included.
    folders_.count_copy();
    call(hooks_.post_down_qty);
    return copied ? row_outcome::copied : row_outcome::copy_failed;
}

void download_controller::tell(row_outcome outcome, const QString& name) {
    QString text;
    switch (outcome) {
    case row_outcome::copied:
        return;
    case row_outcome::missing_source:
        text = download_missing_source_text.toString();
        break;
    case row_outcome::bad_name:
        text = u"文件名含有路径符号,不能下载:\n"_s + name;
        break;
    case row_outcome::copy_failed:
        text = u"下载失败: "_s + name + u"\n检查下载目录是否还在、能否写入,或者空间已满!"_s;
        break;
    }
    call(hooks_.message, prompt_title.toString(), text);
}

bool download_controller::source_present(const record_set& rows, long row) {
    if (native_is_file(rows.getitemstring(row, col_filepath))) return true;
    tell(row_outcome::missing_source, file_name_of(rows, row));
    return false;
}

int download_controller::download_row(const record_set& rows, long row) {
    if (busy_) return 0;
    const busy_scope busy(busy_);
    // The checks that need no copy come before the wait window opens.
    if (!source_present(rows, row)) return -1;
    if (!is_plain_file_name(file_name_of(rows, row))) {
        tell(row_outcome::bad_name, file_name_of(rows, row));
        return -1;
    }
    const QString folder = choose_folder_for_download();
    call(hooks_.open_wait);
    const row_outcome outcome = copy_row(rows, row, folder);
    call(hooks_.close_wait);
    tell(outcome, file_name_of(rows, row));
    return outcome == row_outcome::copied ? 1 : -1;
}

int download_controller::download_all(const record_set& rows) {
    if (busy_) return 0;
    const long count = rows.rowcount();
    if (count < 1) return -1;
    const busy_scope busy(busy_);
    // The copies let the window run, and a query run meanwhile refills the list: work on the
    // rows as they stand now (the copy shares their values, it does not duplicate them).
    record_set listed;
    rows.rowscopy(1, count, listed);

    const QString folder = choose_folder_for_download();
    folders_.set_current_folder(folder);
    call(hooks_.open_wait);
    for (long row = 1; row <= count; ++row) {
        const row_outcome outcome = copy_row(listed, row, folder);
        if (outcome == row_outcome::copied) continue;
        // One message, then the run stops: the rows after it are left alone.
        tell(outcome, file_name_of(listed, row));
        call(hooks_.close_wait);
        return -1;
    }
    call(hooks_.close_wait);
    return 1;
}

int download_controller::download_picture(const QString& source, const QString& name) {
    if (busy_) return 0;
    const busy_scope busy(busy_);
    const QString folder = choose_folder_for_download();
    row_outcome outcome = row_outcome::copied;
    if (!source.isEmpty()) {
        if (!is_plain_file_name(name))
            outcome = row_outcome::bad_name;
        else if (!gf_copyfile_block(source, download_target(folder, name, {}), false, feedback_))
            outcome = row_outcome::copy_failed;
    }
    folders_.count_copy();
    call(hooks_.post_down_qty);
    tell(outcome, name);
    return outcome == row_outcome::copied ? 1 : -1;
}
