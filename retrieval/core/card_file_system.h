#pragma once
// What the file system of a download folder accepts. Memory cards and USB disks carry FAT32
// or exFAT, which refuse some characters in names, and FAT32 holds no file of 4 GiB or more;
// a copy checks both before it writes a byte, so it never leaves a 4 GiB partial file.
//
// The kind comes from the folder's file system type; a card mounted through FUSE reports only
// "fuseblk", and then the boot sector of its device tells (when it can be read). Cost: one
// statfs, and for FUSE one read of the mount table and of 512 bytes.
#include <QStringView>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class card_kind { other, fat, exfat };

struct card_limits {
    card_kind kind = card_kind::other;
    std::int64_t max_file_size = INT64_MAX;
    // The longest name: in UTF-16 units on FAT and exFAT, in bytes of the name on disk
    // elsewhere.
    std::int64_t max_name_length = 255;
};

// The limits of a file system type as the mount table names it ("vfat", "exfat", ...).
card_limits limits_for_type(std::string_view fs_type);
// The limits of the file system that holds the open folder `folder_fd`.
card_limits limits_of_folder(int folder_fd);
// Whether that file system is served through FUSE: writes go straight into its process, so
// only a flush reaches the device, and it reads the device through the kernel's cache, so
// what it reads back may be what was written rather than what the card kept.
bool served_by_fuse(int folder_fd);

// Whether a file of `size` bytes fits the file system.
bool size_allowed(const card_limits& limits, std::int64_t size);
// Whether the file system takes `name`: FAT and exFAT refuse \ / : * ? " < > | and control
// characters.
bool name_allowed(const card_limits& limits, QStringView name);
// Whether `name` is no longer than the file system takes.
bool name_fits(const card_limits& limits, QStringView name);

// One line of /proc/self/mountinfo, the parts used here; text unescaped.
struct mount_entry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mount_point;
    std::string fs_type;
    std::string source;
};
std::optional<mount_entry> parse_mountinfo_line(std::string_view line);

// "exfat" or "vfat" when the first sector of a device is that file system's boot sector,
// else empty.
std::string_view boot_sector_type(std::span<const unsigned char> sector);
