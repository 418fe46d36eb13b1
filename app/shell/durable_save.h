#pragma once
// Makes a finished save survive a power cut or a pulled card: the new content reaches the
// device before it replaces the old file, and the replacement itself is then made durable.
// A save cut short at any point leaves either the whole old file or the whole new one.
//
// Cost: one flush of the file and one of its folder per save; nothing per write.
#include <QString>

class QSaveFile;

// Flushes `file` (open, fully written) to the device, renames it over the target and
// flushes the folder that holds it. On failure the temporary file is dropped, the old file
// stays, and false is returned.
bool durable_commit(QSaveFile& file);

// Flushes the folder that holds `path`, so that a file created or renamed there stays.
// True also where the system cannot flush folders.
bool sync_parent_folder(const QString& path);
