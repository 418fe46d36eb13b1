#pragma once
// Whether a selection of files fits on the card before a byte is copied. A file takes whole
// clusters (blocks) on the card, so each size is rounded up to the card's cluster size; a copy
// replaces a file of the same name only once it is whole, so the old file's room comes back
// after that copy, not before. Cost: one statvfs and one stat per listed file.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>

struct card_space {
    std::int64_t free_bytes = 0;    // what an ordinary user may still write
    std::int64_t cluster_bytes = 1; // the unit a file's size is rounded up to
    bool read_only = false;         // nothing fits; the copy itself tells why
};

// The space of the file system that holds `folder`; nothing when it cannot be asked.
std::optional<card_space> card_space_of(const QString& folder);

// `size` rounded up to whole clusters.
std::int64_t space_on_card(std::int64_t size, std::int64_t cluster_bytes);

struct planned_copy {
    std::int64_t size = 0;           // of the source
    std::int64_t replaced_size = -1; // of the file it replaces on the card, -1 when none
};

// The most free space the copies need at any moment, taken one after another in order.
// Copies that replace a file give back the old file's room after they complete.
std::int64_t space_needed(std::span<const planned_copy> copies, std::int64_t cluster_bytes);

// "1.5 GB", "320 MB", "12 KB": a size as a user reads it, in units of 1024.
QString readable_size(std::int64_t bytes);

// The message when the selection does not fit: how much it needs, how much is free.
QString not_enough_space_message(std::int64_t needed, std::int64_t free_bytes);
// "可用 1.5 GB": the free space shown beside the download folder.
QString free_space_text(const card_space& space);
