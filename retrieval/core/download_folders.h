#pragma once
// The two download folders, the choice between them and the download counter: the fixed
// default folder on the local disk and the custom one the user picked (a card or USB disk).
#include "retrieval/core/folder_mount.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>

class download_folders {
  public:
    // `default_folder` ends with a separator and stays the same for the whole run.
    explicit download_folders(QString default_folder);

    const QString& is_down_path() const { return is_down_path_; }
    const QString& is_down_path_cust() const { return is_down_path_cust_; }
    const QString& is_down_current() const { return is_down_current_; }
    std::int64_t il_down_qty() const { return il_down_qty_; }
    // "[N]", the text of the counter.
    QString down_qty_text() const;

    // Creates the default folder when it is missing; the outcome is not checked.
    void create_default_folder() const;
    // Deletes the ordinary read-write files of the default folder (subfolders, read-only,
    // hidden and special files stay) and resets the counter. Answers the names it listed.
    QStringList empty_default_folder();

    // The folder chooser's answer: a folder, or empty for a cancellation, which forgets any
    // earlier choice. True when a custom folder is now set. The file system the folder lives
    // on is remembered with it.
    bool set_custom_folder(const QString& chosen);

    // Whether the custom folder is there: chosen, a folder, and on the file system it was
    // on when chosen, still mounted at the same place (a pulled card leaves an empty mount
    // point behind, which is not the card).
    bool custom_present() const;
    // The custom folder when it is present, else the default one; `custom_missing` is set
    // when the default one was taken for want of the custom folder.
    QString download_folder(bool& custom_missing) const;
    void set_current_folder(const QString& folder) { is_down_current_ = folder; }
    // The device `folder` must be on: the one remembered for the custom folder, none for any
    // other folder.
    std::optional<std::uint64_t> device_of(const QString& folder) const;

    void count_copy() { ++il_down_qty_; }

  private:
    QString is_down_path_;
    QString is_down_path_cust_;
    std::optional<folder_mount> cust_mount_;
    QString is_down_current_;
    std::int64_t il_down_qty_ = 0;
};

// Where a download lands: folder + filename + fileext. A root folder chosen as custom folder
// ends in two separators; the system reads those as one, so the file still lands in the root.
QString download_target(const QString& folder, QStringView filename, QStringView fileext);

// True when filename + fileext names one file inside a folder: not empty, not "." or "..",
// no separator and no NUL. Only an edited catalogue file can carry anything else.
bool is_plain_file_name(QStringView name);

// Whether `path` is an ordinary read-write file: a regular file (or a link to one), not hidden
// (on this system: its name does not start with "."), whose owner may write it.
bool is_ordinary_file(const QString& path);
