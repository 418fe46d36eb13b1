#pragma once
// File names from the disk as text, and the way back to their bytes.
//
// Names on Linux are bytes. Valid UTF-8 is taken as it is; any other name is read as
// GB18030 (what Chinese Windows writes, and what archives made there carry) when it is
// valid GB18030 and encodes back to the very same bytes. A path keeps the way back in its
// own text: a folder or file name read as GB18030 begins with U+2063 INVISIBLE SEPARATOR,
// which nothing draws, so a saved and reloaded catalogue still reaches the file by its
// exact bytes. A UTF-8 name that itself begins with that character cannot be carried.
// Cost: nothing for a UTF-8 name; a codec round trip for the others.
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <cstddef>

enum class name_decoding { utf8, gb18030, undecodable, too_long };

inline constexpr char16_t gb18030_name_mark = u'\u2063';

// Decodes the zero-terminated `name` into `out` (zero-terminated, at most `capacity` - 1
// units). For undecodable and too_long `out` holds a readable stand-in.
name_decoding decode_native_name(const char* name, char16_t* out, std::size_t capacity);

// The bytes on disk of a path made of decoded names (marked as above).
QByteArray native_path(QStringView path);
// The path as a person reads it: without the marks.
QString shown_path(QStringView path);
// A file URL that reaches the exact bytes.
QUrl native_file_url(QStringView path);
// A regular file (links followed) is there.
bool native_is_file(QStringView path);
