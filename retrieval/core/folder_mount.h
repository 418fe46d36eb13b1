#pragma once
// Which mounted file system a folder lives on. Unmounting a card leaves its mount point
// behind as an empty folder of the local disk; a folder remembered with its file system
// (device number and mount point) is recognised as gone in that case, and as back when the
// same file system is mounted at the same place again. Cost: a few stat calls.
#include <QString>

#include <cstdint>
#include <optional>

struct folder_mount {
    std::uint64_t device = 0;
    QString mount_point;
    friend bool operator==(const folder_mount&, const folder_mount&) = default;
};

// The file system of the folder at `folder` and where it is mounted; nullopt when no
// folder is there.
std::optional<folder_mount> mount_of(const QString& folder);

// True when `folder` is a folder on the file system `mount`, still mounted where it was.
bool on_same_mount(const QString& folder, const folder_mount& mount);
