#pragma once
// Writer of the program's text tables: UTF-16LE with the byte-order mark FF FE, fields
// joined by TAB, every line (the last one too) ended by CR LF.
//
// The table goes to a temporary file in the target's folder that replaces the old file
// only on commit(), so a failed write (full disk, unwritable folder) leaves the old file
// as it was and no temporary file behind. commit() returns once the new file and its
// folder entry are on the device. Output is gathered in a large block; nothing is
// allocated per field.
//
// The format has no quoting, so a TAB, CR or LF inside a value is written as a blank:
// the row keeps its number of fields and the file its number of lines. File names found
// by a scan can carry these characters on some systems; the cost is that such a name is
// read back with blanks in their place.
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <initializer_list>
#include <memory>
#include <span>

class text_table_writer {
  public:
    // Opens the temporary file at once; ok() tells whether that worked.
    explicit text_table_writer(const QString& path);
    // Without commit() the temporary file is removed and the old file stays.
    ~text_table_writer();
    text_table_writer(const text_table_writer&) = delete;
    text_table_writer& operator=(const text_table_writer&) = delete;

    // False once opening or any write has failed; every later call is then a no-op.
    bool ok() const { return !failed_; }

    // Row by row, field by field: add_field puts a TAB before every field but a row's first.
    void add_field(QStringView value);
    void end_row();

    void write_row(std::span<const QStringView> fields);
    void write_row(std::initializer_list<QStringView> fields);
    void write_row(const QStringList& fields);

    // Writes what is pending (an unfinished row is ended first) and replaces the old file.
    // False on any failure, and then the old file is untouched. Later calls repeat the answer.
    bool commit();

  private:
    void put(const char16_t* units, qsizetype count);
    void put_unit(char16_t unit);
    void flush();

    QSaveFile file_;
    std::unique_ptr<char16_t[]> buffer_;
    qsizetype used_ = 0;
    bool failed_ = false;
    bool row_open_ = false;
    bool committed_ = false;
};
