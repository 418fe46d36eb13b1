#include "retrieval/core/download_controller.h"

#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/native_names.h"
#include "catalogue/core/record_set.h"
#include "retrieval/core/card_file_system.h"
#include "retrieval/core/card_space.h"
#include "retrieval/core/gf_copyfile_block.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

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

// The picture download opens no wait window, so its stop button (up from an earlier stop,
// perhaps) is not this copy's: pump events, never stop.
class unstoppable_feedback final : public operation_feedback {
  public:
    explicit unstoppable_feedback(operation_feedback& inner) : inner_(inner) {}
    void of_setmessage(const QString&) override {}
    bool ib_stop() const override { return false; }
    void process_events() override { inner_.process_events(); }

  private:
    operation_feedback& inner_;
};

} // namespace

QString copy_failure_text(copy_failure failure, const QString& name,
                          std::int64_t first_difference) {
    QString why;
    switch (failure) {
    case copy_failure::none:
    case copy_failure::stopped:
        return {};
    case copy_failure::source_missing:
        return download_missing_source_text.toString();
    case copy_failure::source_unreadable:
        why = u"源文件无法打开(没有读取权限?)"_s;
        break;
    case copy_failure::same_file:
        why = u"源文件和目标是同一个文件,无需下载"_s;
        break;
    case copy_failure::folder_missing:
        why = u"下载目录不存在"_s;
        break;
    case copy_failure::folder_unwritable:
        why = u"下载目录不能写入(只读或没有权限)"_s;
        break;
    case copy_failure::card_full:
        why = u"读卡器或U盘空间已满"_s;
        break;
    case copy_failure::too_large:
        why = u"文件太大: 读卡器或U盘是FAT32格式,单个文件不能达到4GB"_s;
        break;
    case copy_failure::name_refused:
        why = u"文件名含有读卡器或U盘不允许的字符(\\ / : * ? \" < > | 或控制字符)"_s;
        break;
    case copy_failure::name_too_long:
        why = u"文件名太长, 超过了读卡器或U盘允许的长度, 请把文件名改短"_s;
        break;
    case copy_failure::card_removed:
        why = u"读卡器或U盘在下载时被拔出"_s;
        break;
    case copy_failure::read_failed:
        why = u"源文件读取出错(磁盘损坏或已断开?)"_s;
        break;
    case copy_failure::write_failed:
        why = u"写入出错"_s;
        break;
    case copy_failure::not_kept:
        why =
            (first_difference >= 0
                 ? u"读卡器或U盘没有保存好这个文件: 从第 %1 字节(约 %2)起, 从卡上读回的内容和原文件不同"_s
                       .arg(first_difference + 1)
                       .arg(readable_size(first_difference))
                 : u"读卡器或U盘没有保存好这个文件: 从卡上读不回写入的内容"_s) +
            u"。\n这张卡可能是扩容卡(实际容量比标称的小)或已经损坏, 文件已从卡上删除, 后面的文件不再下载"_s;
        break;
    }
    return u"下载失败: "_s + name + u"\n"_s + why + u"!\n没有留下不完整的文件。"_s;
}

QString folder_space_text(const QString& folder) {
    const std::optional<card_space> space = card_space_of(folder);
    if (!space) return {};
    QString text = free_space_text(*space);
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        if (served_by_fuse(fd)) text += u"  (复制到这张卡的文件无法读回校验)"_s;
        ::close(fd);
    }
    return text;
}

QString fallback_text(const QString& custom_folder, const QString& default_folder) {
    return u"自定义下载目录不在了(读卡器或U盘已拔出?):\n"_s + custom_folder +
           u"\n\n文件将下载到默认下载目录:\n"_s + default_folder;
}

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

void download_controller::set_custdir_enabled(bool on) {
    custdir_enabled_ = on;
    call(hooks_.set_custdir_enabled, on);
}

void download_controller::select_custom_dir() {
    const QString chosen =
        hooks_.choose_folder ? hooks_.choose_folder(download_choose_caption.toString()) : QString();
    set_custdir_enabled(folders_.set_custom_folder(chosen));
    fallback_told_ = false;
    show_folder(folders_.custom_present() ? is_down_path_cust() : is_down_path());
}

void download_controller::refresh_folder_state() {
    const bool present = folders_.custom_present();
    if (present != custdir_enabled_ && !is_down_path_cust().isEmpty()) set_custdir_enabled(present);
    if (present) fallback_told_ = false;
    show_folder(present ? is_down_path_cust() : is_down_path());
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
    if (custom_missing) {
        set_custdir_enabled(false);
        if (!is_down_path_cust().isEmpty() && !std::exchange(fallback_told_, true))
            call(hooks_.message, prompt_title.toString(),
                 fallback_text(is_down_path_cust(), is_down_path()));
    } else {
        if (!custdir_enabled_) set_custdir_enabled(true);
        fallback_told_ = false;
    }
    show_folder(folder);
    return folder;
}

download_controller::row_result download_controller::copy_counted(const QString& from,
                                                                  const QString& folder,
                                                                  const QString& to, bool showmsg,
                                                                  operation_feedback& feedback) {
    copy_options options;
    options.limits = limits_;
    // Checked at every copy, not once per run: a card unmounted between two copies leaves its
    // empty mount point on the local disk, which must not take the rest.
    options.folder_device = folders_.device_of(folder);
    options.read_back = read_back_;
    copy_outcome outcome;
    const copy_failure failure = copy_file_block(from, to, showmsg, feedback, options, &outcome);
    show_folder(folder);
    if (failure == copy_failure::stopped) return {row_outcome::stopped, failure};
    if (failure != copy_failure::none)
        return {row_outcome::copy_failed, failure, outcome.first_difference};
    // Counted only now: the copy is on the device (and read back from it, where it can be).
    folders_.count_copy();
    call(hooks_.post_down_qty);
    return {row_outcome::copied};
}

bool download_controller::room_for(const record_set& rows, long first, long last,
                                   const QString& folder) {
    const std::optional<card_space> space = card_space_of(folder);
    // Nothing to go by, or nothing to write to: the copy itself fails cleanly and says why.
    if (!space || space->read_only) return true;
    // What each copy replaces: a file already on the card, or an earlier copy of this run.
    std::vector<planned_copy> copies;
    std::unordered_map<QString, std::int64_t> on_card;
    for (long row = first; row <= last; ++row) {
        const QString to = download_target(folder, rows.getitemstring(row, col_filename),
                                           rows.getitemstring(row, col_fileext));
        const QFileInfo source(rows.getitemstring(row, col_filepath));
        planned_copy copy{source.isFile() ? source.size() : 0, -1};
        if (const auto known = on_card.find(to); known != on_card.end()) {
            copy.replaced_size = known->second;
        } else if (const QFileInfo old(to); old.isFile()) {
            copy.replaced_size = old.size();
        }
        on_card[to] = copy.size;
        copies.push_back(copy);
    }
    const std::int64_t needed = space_needed(copies, space->cluster_bytes);
    if (needed <= space->free_bytes) return true;
    call(hooks_.message, prompt_title.toString(),
         not_enough_space_message(needed, space->free_bytes));
    return false;
}

void download_controller::show_folder(const QString& folder) {
    if (hooks_.show_next_folder) hooks_.show_next_folder(folder, folder_space_text(folder));
}

download_controller::row_result download_controller::copy_row(const record_set& rows, long row,
                                                              const QString& folder) {
    const QString from = rows.getitemstring(row, col_filepath);
    if (!native_is_file(from)) return {row_outcome::missing_source};
    const QString name = file_name_of(rows, row);
    if (!is_plain_file_name(name)) return {row_outcome::bad_name};
    const QString to = download_target(folder, rows.getitemstring(row, col_filename),
                                       rows.getitemstring(row, col_fileext));
    return copy_counted(from, folder, to, true, feedback_);
}

void download_controller::tell(const row_result& result, const QString& name) {
    QString text;
    switch (result.outcome) {
    case row_outcome::copied:
    case row_outcome::stopped:
        return;
    case row_outcome::missing_source:
        text = download_missing_source_text.toString();
        break;
    case row_outcome::bad_name:
        text = u"文件名含有路径符号,不能下载:\n"_s + name;
        break;
    case row_outcome::copy_failed:
        text = copy_failure_text(result.failure, name, result.first_difference);
        break;
    }
    call(hooks_.message, prompt_title.toString(), text);
}

bool download_controller::source_present(const record_set& rows, long row) {
    if (native_is_file(rows.getitemstring(row, col_filepath))) return true;
    tell({row_outcome::missing_source}, file_name_of(rows, row));
    return false;
}

int download_controller::download_row(const record_set& rows, long row) {
    if (busy_) return 0;
    const busy_scope busy(busy_);
    // The checks that need no copy come before the wait window opens.
    if (!source_present(rows, row)) return -1;
    if (!is_plain_file_name(file_name_of(rows, row))) {
        tell({row_outcome::bad_name}, file_name_of(rows, row));
        return -1;
    }
    const QString folder = choose_folder_for_download();
    if (!room_for(rows, row, row, folder)) return -1;
    call(hooks_.open_wait);
    const row_result result = copy_row(rows, row, folder);
    call(hooks_.close_wait);
    tell(result, file_name_of(rows, row));
    return result.outcome == row_outcome::copied ? 1 : -1;
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
    if (!room_for(listed, 1, count, folder)) return -1;
    call(hooks_.open_wait);
    for (long row = 1; row <= count; ++row) {
        // Stop pressed after the last block of the row before.
        const row_result result =
            feedback_.ib_stop() ? row_result{row_outcome::stopped} : copy_row(listed, row, folder);
        if (result.outcome == row_outcome::copied) continue;
        // One message, then the run stops: the rows after it are left alone.
        call(hooks_.close_wait);
        tell(result, file_name_of(listed, row));
        return -1;
    }
    call(hooks_.close_wait);
    return 1;
}

int download_controller::download_picture(const QString& source, const QString& name) {
    if (busy_) return 0;
    const busy_scope busy(busy_);
    // A placeholder slot has nothing to copy.
    if (source.isEmpty()) return -1;
    const QString folder = choose_folder_for_download();
    if (!is_plain_file_name(name)) {
        tell({row_outcome::bad_name}, name);
        return -1;
    }
    unstoppable_feedback feedback(feedback_);
    const row_result result =
        copy_counted(source, folder, download_target(folder, name, {}), false, feedback);
    tell(result, name);
    return result.outcome == row_outcome::copied ? 1 : -1;
}
