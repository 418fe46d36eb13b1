#pragma once
// Copies one file onto a target path in 5 MiB blocks, with a progress line per block.
#include "catalogue/operation_feedback.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <span>

// Bytes per block: the unit of reading, writing and progress.
inline constexpr std::int64_t copy_block_size = 5'242'880;

// The open target file, as a write seam sees it.
class copy_target {
  public:
    virtual ~copy_target() = default;
    // Writes all of `bytes` unless the file refuses; answers the count written, -1 on an error.
    virtual std::int64_t write(std::span<const char> bytes) = 0;
};

// Writes one block to the target and answers the count written. The default passes the block
// straight to the file; tests pass their own to simulate a card that fills up.
using copy_block_writer = std::function<std::int64_t(copy_target&, std::span<const char> block)>;

// Copies `ls_from` onto `ls_to`, replacing any old target; the target's folder must exist.
// With `lb_showmsg`, sends "下载: <name> :<K>KB/<P>%" to the feedback after every block.
// False when the source is missing or not a regular file, when source and target are the same
// file (the file is left alone), when either cannot be opened, or when a read or write fails;
// a failed copy removes the part it wrote.
bool gf_copyfile_block(const QString& ls_from, const QString& ls_to, bool lb_showmsg,
                       operation_feedback& feedback, const copy_block_writer& writer = {});

// The name the progress line shows: the last 13 characters of the target's file name.
QString copy_display_name(const QString& ls_to);
// The progress line after `copied` of `total` bytes (total > 0).
QString copy_progress_text(const QString& display_name, std::int64_t copied, std::int64_t total);
