#pragma once
// Small helpers for tests that read and write real files.
#include <QByteArray>
#include <QString>

QByteArray read_all_bytes(const QString& path);
void write_all_bytes(const QString& path, const QByteArray& bytes);
// UTF-16LE bytes of `text`, with the byte-order mark FF FE when `bom`.
QByteArray utf16le(const QString& text, bool bom = false);
