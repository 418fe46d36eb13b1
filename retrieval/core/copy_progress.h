#pragma once
// The progress line a copy shows once each block has reached the device:
// "下载: <name> :<K>KB/<P>%".
#include <QString>
#include <cstdint>

// The name the progress line shows: the last 13 characters of the target's file name.
QString copy_display_name(const QString& ls_to);
// The progress line after `copied` of `total` bytes (total > 0).
QString copy_progress_text(const QString& display_name, std::int64_t copied, std::int64_t total);
