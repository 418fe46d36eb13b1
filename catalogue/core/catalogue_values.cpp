#include "catalogue/core/catalogue_values.h"

#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t seconds_per_day = 86400;
const qint64 epoch_julian_day = QDate(1970, 1, 1).toJulianDay();

// Reads exactly `count` digits at `pos`; -1 when any is not a digit.
int digits(QStringView text, qsizetype pos, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

} // namespace

local_datetime local_datetime::from(QDate date, QTime time) {
    const std::int64_t days = date.toJulianDay() - epoch_julian_day;
    const std::int64_t secs = time.isValid() ? time.msecsSinceStartOfDay() / 1000 : 0;
    return {days * seconds_per_day + secs};
}

QDate local_datetime::date() const {
    return QDate::fromJulianDay(epoch_julian_day + floor_div(seconds, seconds_per_day));
}

QTime local_datetime::time() const {
    const std::int64_t secs = seconds - floor_div(seconds, seconds_per_day) * seconds_per_day;
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(secs * 1000));
}

decimal2 decimal2::from_double(double value) {
    const double scaled = std::round(value * 100.0);
    if (!(std::fabs(scaled) < 9.0e18)) return {0};
    return {static_cast<std::int64_t>(scaled)};
}

QString to_text(local_datetime value) {
    const QDate d = value.date();
    const QTime t = value.time();
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second());
}

QString to_text(decimal2 value) {
    const std::int64_t c = value.cents;
    const std::uint64_t magnitude =
        c < 0 ? static_cast<std::uint64_t>(-(c + 1)) + 1 : static_cast<std::uint64_t>(c);
    return QString::asprintf("%s%llu.%02llu", c < 0 ? "-" : "",
                             static_cast<unsigned long long>(magnitude / 100),
                             static_cast<unsigned long long>(magnitude % 100));
}

std::optional<local_datetime> parse_local_datetime(QStringView text) {
    // yyyy-MM-dd hh:mm:ss, or the date alone
    if (text.size() != 19 && text.size() != 10) return std::nullopt;
    if (text[4] != u'-' || text[7] != u'-') return std::nullopt;
    const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    // Proleptic Gregorian without a year 0, as QDate; done here because a catalogue holds
    // millions of dates.
    static constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > month_days[mo - 1] + (mo == 2 && leap))
        return std::nullopt;
    int h = 0, mi = 0, s = 0;
    if (text.size() == 19) {
        if (text[10] != u' ' || text[13] != u':' || text[16] != u':') return std::nullopt;
        h = digits(text, 11, 2);
        mi = digits(text, 14, 2);
        s = digits(text, 17, 2);
        if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
    }
    // Days since 1970-01-01 by the civil calendar's 400-year eras, March first.
    const int yy = mo <= 2 ? y - 1 : y;
    const int era = yy / 400;
    const int year_of_era = yy - era * 400;
    const int day_of_year = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    const std::int64_t days = std::int64_t{era} * 146097 + day_of_era - 719468;
    return local_datetime{days * seconds_per_day + h * 3600 + mi * 60 + s};
}

std::optional<decimal2> parse_decimal2(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    std::int64_t whole = 0;
    qsizetype whole_digits = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i, ++whole_digits) {
        if (whole > (std::numeric_limits<std::int64_t>::max() / 100 - 9) / 10) return std::nullopt;
        whole = whole * 10 + (text[i].unicode() - u'0');
    }
    std::int64_t cents = 0;
    qsizetype frac_digits = 0;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        for (; i < text.size() && text[i].unicode() >= u'0' && text[i].unicode() <= u'9'; ++i) {
            if (frac_digits >= 2) return std::nullopt; // more places than the column holds
            cents = cents * 10 + (text[i].unicode() - u'0');
            ++frac_digits;
        }
    }
    if (i != text.size() || (whole_digits == 0 && frac_digits == 0)) return std::nullopt;
    if (frac_digits == 1) cents *= 10;
    const std::int64_t total = whole * 100 + cents;
    return decimal2{negative ? -total : total};
}

std::optional<std::int32_t> parse_long(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}
