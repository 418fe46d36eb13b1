#pragma once
// Copies one file onto a target path in 5 MiB blocks, with a progress line per block.
//
// A copy that succeeds is on the device when the call returns: the file's data and its
// folder entry are flushed, so a card pulled the moment after holds the whole file. Each
// block's write-back starts as soon as it is written and the copy waits for the block
// before it, so the device never idles and every progress line counts bytes that reached
// the device. The copy is written beside the target and takes its name only once it is
// whole: a copy that fails or is stopped removes what it wrote, and an old file of the
// target's name stays as it was until then. Before the name is taken, each block is read
// back from the card (not the cache) and compared with what was written, while the next
// block is written: a card that drops or garbles writes without an error is caught.
#include "app/shell/operation_feedback.h"
#include "retrieval/core/card_file_system.h"
#include "retrieval/core/native_file.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// Bytes per block: the unit of reading, writing and progress.
inline constexpr std::int64_t copy_block_size = 5'242'880;

// Writes one block to the open target file and answers the count written (-1 on an error,
// with errno set): the default is `target.write_all(block)`; tests pass their own to simulate
// a card that fills up.
using copy_block_writer =
    std::function<std::int64_t(const native_file& target, std::span<const char> block)>;

// Why a copy did not complete.
enum class copy_failure {
    none,
    source_missing,    // no regular file at the source
    source_unreadable, // the source cannot be opened
    same_file,         // source and target are one file; it is left alone
    folder_missing,    // the target's folder is not there
    folder_unwritable, // read-only or no permission
    card_full,         // no room left on the target's file system
    too_large,         // larger than the target's file system allows (FAT32: 4 GiB - 1 byte)
    name_refused,      // the target's file system refuses a character of the name
    name_too_long,     // the name is longer than the target's file system takes
    not_kept,          // the card read back other bytes than were written (counterfeit, failing)
    card_removed,      // the target's file system went away during the copy
    read_failed,       // the source could not be read to its end
    write_failed,      // any other write error
    stopped,           // the user pressed stop
};

struct copy_options {
    // Stands in for the write of each block (tests simulate a card that fills up).
    copy_block_writer writer{};
    // Stands in for what the target's file system allows; detected from it when empty.
    std::optional<card_limits> limits{};
    // The device the target's folder was chosen on, when known: a folder found on another
    // one (the card unmounted, its empty mount point left) is taken for a removed card.
    std::optional<std::uint64_t> folder_device{};
    // Reads every block back from the card and compares it before the copy counts.
    bool read_back = true;
};

// What a copy found beyond its failure.
struct copy_outcome {
    // Whether the bytes on the card were read back and found equal (false where the card
    // cannot be read back past the cache, or read-back is off).
    bool verified = false;
    // With not_kept: the first byte that read back different, from the start of the file.
    std::int64_t first_difference = -1;
};

// Copies `ls_from` onto `ls_to`, replacing any old target; the target's folder must exist.
// With `lb_showmsg`, sends "下载: <name> :<K>KB/<P>%" to the feedback once each block has
// reached the device. Stops after the current block once the feedback's stop flag is up.
// The size and name limits of the target's file system are checked before anything is
// written; a failed or stopped copy removes what it wrote and leaves any old target as it was.
copy_failure copy_file_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                             operation_feedback& feedback, const copy_options& options = {},
                             copy_outcome* outcome = nullptr);

// The same, answering only whether the copy completed.
bool gf_copyfile_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                       operation_feedback& feedback);
