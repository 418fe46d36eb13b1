#pragma once
// Value types of the catalogue's date and decimal columns, and their text forms.
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// A wall-clock date and time in local time, to the second: seconds since
// 1970-01-01 00:00:00 of the same clock (no time zone is applied).
struct local_datetime {
    std::int64_t seconds = 0;
    friend bool operator==(local_datetime, local_datetime) = default;

    static local_datetime from(QDate date, QTime time);
    static local_datetime from(const QDateTime& local) { return from(local.date(), local.time()); }
    QDate date() const;
    QTime time() const;
    QDateTime to_qdatetime() const { return QDateTime(date(), time()); }
};

// A decimal with two places, held as hundredths.
struct decimal2 {
    std::int64_t cents = 0;
    friend bool operator==(decimal2, decimal2) = default;

    // Rounded half away from zero.
    static decimal2 from_double(double value);
    double to_double() const { return static_cast<double>(cents) / 100.0; }
};

// Text forms as the catalogue file carries them: "yyyy-MM-dd hh:mm:ss", "12.34", "-5".
QString to_text(local_datetime value);
QString to_text(decimal2 value);
std::optional<local_datetime> parse_local_datetime(QStringView text);
std::optional<decimal2> parse_decimal2(QStringView text);
// A whole number in the 32-bit range, optional sign, no blanks.
std::optional<std::int32_t> parse_long(QStringView text);
