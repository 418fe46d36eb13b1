#pragma once
// The spreadsheet export quellmark_excel_files.xls: an Excel 97-2003 workbook (BIFF8 in
// an OLE2 compound file) of the visible records, heading row first, nine columns in
// column order. Never read back by the program.
#include <QString>

class record_set;

inline const QString spreadsheet_export_file_name = QStringLiteral("quellmark_excel_files.xls");

// A sheet holds at most this many rows, heading included; further records go on in
// further sheets, each with its own heading row.
inline constexpr long spreadsheet_rows_per_sheet = 65536;

// Writes through a temporary file in the same folder renamed over the old one: on any
// failure the previous file stays as it was and false is returned.
bool save_spreadsheet_export(const record_set& rows, const QString& path);
