#pragma once
// The program's INI settings file, read and written with profile semantics: sections and
// keys match without regard to ASCII case, anything missing reads as the caller's default,
// and a write changes one value and keeps every other byte of the file.
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

class settings_file {
  public:
    explicit settings_file(QString path);

    const QString& path() const { return path_; }

    // The leading integer of the value (blanks, optional sign, digits: "7abc" gives 7);
    // `default_value` when the file, section or key is missing, when the value does not
    // start with an integer or when the integer does not fit.
    int read_int(QStringView section, QStringView key, int default_value) const;
    // The value with surrounding blanks removed; `default_value` when it is missing.
    QString read_string(QStringView section, QStringView key, const QString& default_value) const;

    // Sets key=value, creating the file, section or key as needed; atomic (a temporary file
    // renamed over the old one). False, with the file untouched, when it cannot be read or
    // written, or when a name or the value cannot be stored on one line.
    bool write(QStringView section, QStringView key, QStringView value);

  private:
    std::optional<QByteArray> read_value(QStringView section, QStringView key) const;

    QString path_;
};
