#pragma once
// Downloads from the result list into the download folders: one row or every listed row,
// through the block copy with its progress in the wait window, plus the folder commands
// (choose the custom folder, open either folder, empty the default one).
#include "retrieval/core/download_folders.h"
#include "retrieval/core/gf_copyfile_block.h"

#include <QString>
#include <functional>

class operation_feedback;
class record_set;

// What the controller asks of the window it serves. Any hook may be left out.
struct download_hooks {
    // A modal message box.
    std::function<void(const QString& title, const QString& text)> message{};
    // The folder chooser with its caption; empty when cancelled.
    std::function<QString(const QString& caption)> choose_folder{};
    // Shows a folder in the file manager.
    std::function<void(const QString& folder)> open_folder{};
    // Show and hide the wait window whose feedback the copies report to.
    std::function<void()> open_wait{};
    std::function<void()> close_wait{};
    // Enables or disables the button that opens the custom folder.
    std::function<void(bool enabled)> set_custdir_enabled{};
    // Posts the refresh of the counter text (ue_down_qty()).
    std::function<void()> post_down_qty{};
    // Shows the folder the next download goes to, with what is known of its card: the free
    // space, and whether copies to it can be read back (folder_space_text; may be empty).
    std::function<void(const QString& folder, const QString& space)> show_next_folder{};
};

inline constexpr QStringView download_missing_source_text =
    u"源文件不存在!检查是否接上了磁盘\n或者考虑需要重新扫描!";
inline constexpr QStringView download_choose_caption = u"请选择目录,比如U盘,读卡器具体位置!";

// The message for a copy of `name` that did not complete; empty for none and for a stop,
// which the user asked for. `first_difference` is where a copy the card did not keep differs.
QString copy_failure_text(copy_failure failure, const QString& name,
                          std::int64_t first_difference = -1);
// "可用 1.5 GB", and a warning where copies to the folder's card cannot be read back; empty
// when the folder's file system cannot be asked.
QString folder_space_text(const QString& folder);
// The message telling that the custom folder is gone and downloads go to the default one.
QString fallback_text(const QString& custom_folder, const QString& default_folder);

class download_controller {
  public:
    // `feedback` is the wait window's: it receives the progress lines and pumps events.
    download_controller(QString default_folder, download_hooks hooks, operation_feedback& feedback);

    download_folders& folders() { return folders_; }
    const QString& is_down_path() const { return folders_.is_down_path(); }
    const QString& is_down_path_cust() const { return folders_.is_down_path_cust(); }
    const QString& is_down_current() const { return folders_.is_down_current(); }
    std::int64_t il_down_qty() const { return folders_.il_down_qty(); }
    // True while a download runs; further downloads and emptying are refused meanwhile.
    bool busy() const { return busy_; }

    void ue_create_dir() { folders_.create_default_folder(); }
    // "[N]" for the counter text.
    QString ue_down_qty() const { return folders_.down_qty_text(); }
    // Empties the default folder and posts the counter refresh. Answers the names it listed.
    QStringList empty_default_folder();
    // Asks for the custom folder; enables or disables the button that opens it.
    void select_custom_dir();
    // Looks whether the custom folder is there (a card may come and go at any time): shows
    // the folder the next download uses and enables the custom folder's button accordingly.
    // Tells nothing; the first download that falls back does.
    void refresh_folder_state();
    void open_default_dir();
    // Does nothing while no custom folder is chosen.
    void open_custom_dir();

    // Downloads `row` of `rows`. 1 when copied, -1 when nothing or not all was copied
    // (the user was told why, unless they stopped it), 0 when refused because a download is
    // running. The counter counts copies that completed, and only once they are on the device.
    int download_row(const record_set& rows, long row);
    // Downloads every row of `rows` in order, stopping at the first row that fails or when the
    // user presses stop. The rows are taken as they stand at the call: a new query during the
    // copies changes nothing.
    int download_all(const record_set& rows);
    // Copies a double-clicked picture under `name` (filename + fileext), with no wait window
    // and no progress. An empty `source` (a placeholder slot) copies and counts nothing.
    int download_picture(const QString& source, const QString& name);
    // Whether each copy is read back from the card before it counts (on by default).
    void set_read_back(bool on) { read_back_ = on; }
    // Stands in for what the target's file system allows, for tests of cards this machine
    // cannot mount.
    void set_card_limits_for_test(std::optional<card_limits> limits) { limits_ = limits; }
    // Whether the source file of `row` is there; when it is not, the user is told, as before
    // any copy. Listening asks the same.
    bool source_present(const record_set& rows, long row);

  private:
    enum class row_outcome { copied, missing_source, bad_name, copy_failed, stopped };
    struct row_result {
        row_outcome outcome;
        copy_failure failure = copy_failure::none;
        std::int64_t first_difference = -1;
    };
    // Whether rows [first, last] fit on the folder's card; tells the user when they do not.
    bool room_for(const record_set& rows, long first, long last, const QString& folder);
    // Shows the folder the next download goes to, with its card's free space.
    void show_folder(const QString& folder);
    row_result copy_row(const record_set& rows, long row, const QString& folder);
    // `folder` is where `to` lies, one of the download folders.
    row_result copy_counted(const QString& from, const QString& folder, const QString& to,
                            bool showmsg, operation_feedback& feedback);
    void tell(const row_result& result, const QString& name);
    QString choose_folder_for_download();
    void set_custdir_enabled(bool on);

    download_folders folders_;
    download_hooks hooks_;
    operation_feedback& feedback_;
    std::optional<card_limits> limits_;
    bool busy_ = false;
    bool read_back_ = true;
    bool custdir_enabled_ = false;
    // The fallback to the default folder is told once per loss of the custom folder.
    bool fallback_told_ = false;
};
