#include "catalogue/core/biff8_writer.h"

#include <QHashFunctions>
#include <QString>
#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t buffer_bytes = 1 << 20;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool fits_one_byte(QStringView s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x100; });
}

bool is_high_surrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

bool has_lone_surrogate(QStringView s) {
    const char16_t* p = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        if ((p[i] & 0xF800) != 0xD800) continue;
        if (is_high_surrogate(p[i]) && i + 1 < n && is_low_surrogate(p[i + 1])) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

QString without_lone_surrogates(QStringView s) {
    QString out(s.size(), Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    const char16_t* p = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (is_high_surrogate(p[i]) && i + 1 < n && is_low_surrogate(p[i + 1])) {
            o[i] = p[i];
            o[i + 1] = p[i + 1];
            ++i;
        } else {
            o[i] = (p[i] & 0xF800) == 0xD800 ? u'\uFFFD' : p[i];
        }
    }
    return out;
}

// Characters one or two bytes each, little-endian.
std::uint8_t* put_chars(std::uint8_t* out, const char16_t* chars, std::size_t count, bool wide) {
    if (!wide) {
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(chars[i]);
        return out + count;
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, chars, count * 2);
    } else {
        for (std::size_t i = 0; i < count; ++i) put16(out + 2 * i, chars[i]);
    }
    return out + count * 2;
}

} // namespace

namespace biff8 {

double date_serial(std::int64_t seconds) {
    constexpr std::int64_t days_1899_12_30_to_1970_01_01 = 25569;
    constexpr std::int64_t day = 86400;
    return static_cast<double>(seconds + days_1899_12_30_to_1970_01_01 * day) /
           static_cast<double>(day);
}

bool rk_of_integer(std::int64_t value, bool hundredths, std::uint32_t& rk) {
    // 30-bit signed integer in the upper bits; bit 1: integer, bit 0: divide by 100.
    constexpr std::int64_t limit = std::int64_t{1} << 29;
    if (value < -limit || value >= limit) return false;
    rk = (static_cast<std::uint32_t>(value) << 2) | 2u | (hundredths ? 1u : 0u);
    return true;
}

} // namespace biff8

// --- biff8_body ----------------------------------------------------------------------

biff8_body& biff8_body::u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

biff8_body& biff8_body::u16(std::uint16_t v) {
    std::uint8_t b[2];
    put16(b, v);
    bytes_.insert(bytes_.end(), b, b + 2);
    return *this;
}

biff8_body& biff8_body::u32(std::uint32_t v) {
    std::uint8_t b[4];
    put32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
    return *this;
}

biff8_body& biff8_body::f64(double v) {
    std::uint8_t b[8];
    put64(b, std::bit_cast<std::uint64_t>(v));
    bytes_.insert(bytes_.end(), b, b + 8);
    return *this;
}

biff8_body& biff8_body::text(QStringView s, bool short_length) {
    s = s.first(std::min<qsizetype>(s.size(), short_length ? 0xFF : 0xFFFF));
    if (short_length)
        u8(static_cast<std::uint8_t>(s.size()));
    else
        u16(static_cast<std::uint16_t>(s.size()));
    const bool wide = !fits_one_byte(s);
    u8(wide ? 1 : 0);
    const std::size_t at = bytes_.size();
    bytes_.resize(at + static_cast<std::size_t>(s.size()) * (wide ? 2 : 1));
    put_chars(bytes_.data() + at, s.utf16(), static_cast<std::size_t>(s.size()), wide);
    return *this;
}

// --- biff8_writer --------------------------------------------------------------------

biff8_writer::biff8_writer()
    : buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(buffer_bytes)) {}

biff8_writer::biff8_writer(sink out) : biff8_writer() {
    out_ = std::move(out);
}

bool biff8_writer::flush() {
    if (!failed_ && out_ && used_ > 0 && !out_(buffer_.get(), used_)) failed_ = true;
    used_ = 0;
    return !failed_;
}

std::uint8_t* biff8_writer::reserve(std::size_t size) {
    if (used_ + size > buffer_bytes) flush();
    std::uint8_t* p = buffer_.get() + used_;
    used_ += size;
    position_ += size;
    return p;
}

void biff8_writer::record(std::uint16_t id, std::span<const std::uint8_t> body) {
    const std::size_t size = std::min(body.size(), biff8::max_record_body);
    std::uint8_t* p = reserve(4 + size);
    put16(p, id);
    put16(p + 2, static_cast<std::uint16_t>(size));
    if (size > 0) std::memcpy(p + 4, body.data(), size);
}

void biff8_writer::label_sst(std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                             std::uint32_t sst) {
    std::uint8_t* p = reserve(14);
    put16(p, biff8::id_labelsst);
    put16(p + 2, 10);
    put16(p + 4, row);
    put16(p + 6, column);
    put16(p + 8, xf);
    put32(p + 10, sst);
}

void biff8_writer::integer_cell(std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                                std::int64_t value, bool hundredths) {
    std::uint32_t rk = 0;
    if (!biff8::rk_of_integer(value, hundredths, rk)) {
        const double v = static_cast<double>(value);
        number(row, column, xf, hundredths ? v / 100.0 : v);
        return;
    }
    std::uint8_t* p = reserve(14);
    put16(p, biff8::id_rk);
    put16(p + 2, 10);
    put16(p + 4, row);
    put16(p + 6, column);
    put16(p + 8, xf);
    put32(p + 10, rk);
}

void biff8_writer::number(std::uint16_t row, std::uint16_t column, std::uint16_t xf, double value) {
    std::uint8_t* p = reserve(18);
    put16(p, biff8::id_number);
    put16(p + 2, 14);
    put16(p + 4, row);
    put16(p + 6, column);
    put16(p + 8, xf);
    put64(p + 10, std::bit_cast<std::uint64_t>(value));
}

// --- biff8_string_table --------------------------------------------------------------

biff8_string_table::biff8_string_table() : starts_{0}, slots_(1024, 0) {}

QStringView biff8_string_table::at(std::uint32_t index) const {
    const std::size_t from = starts_[index];
    return QStringView(chars_.data() + from, static_cast<qsizetype>(starts_[index + 1] - from));
}

void biff8_string_table::grow() {
    std::vector<std::uint32_t> table(slots_.size() * 2, 0);
    const std::size_t mask = table.size() - 1;
    for (std::uint32_t i = 0; i < hashes_.size(); ++i) {
        std::size_t s = hashes_[i] & mask;
        while (table[s] != 0) s = (s + 1) & mask;
        table[s] = i + 1;
    }
    slots_ = std::move(table);
}

std::uint32_t biff8_string_table::insert(QStringView text, std::uint32_t hash) {
    const auto index = static_cast<std::uint32_t>(hashes_.size());
    hashes_.push_back(hash);
    chars_.insert(chars_.end(), text.utf16(), text.utf16() + text.size());
    starts_.push_back(chars_.size());
    return index;
}

std::uint32_t biff8_string_table::add(QStringView text) {
    text = text.first(std::min<qsizetype>(text.size(), biff8::max_cell_text));
    QString repaired;
    if (has_lone_surrogate(text)) {
        repaired = without_lone_surrogates(text);
        text = repaired;
    }
    ++references_;
    if ((hashes_.size() + 1) * 2 > slots_.size()) grow();
    const auto hash = static_cast<std::uint32_t>(qHash(text, 0));
    const std::size_t mask = slots_.size() - 1;
    std::size_t s = hash & mask;
    while (slots_[s] != 0) {
        const std::uint32_t index = slots_[s] - 1;
        if (hashes_[index] == hash && at(index) == text) return index;
        s = (s + 1) & mask;
    }
    const std::uint32_t index = insert(text, hash);
    slots_[s] = index + 1;
    return index;
}

void biff8_string_table::write(biff8_writer& out) const {
    using biff8::max_record_body;
    const std::uint32_t count = unique_count();
    // Readers find every bucket's first string through EXTSST; at most 128 buckets.
    const std::uint32_t bucket = std::max<std::uint32_t>(8, count / 128 + 1);
    biff8_body extsst;
    extsst.u16(static_cast<std::uint16_t>(bucket));

    std::uint8_t body[max_record_body];
    std::size_t used = 0;
    std::uint16_t id = biff8::id_sst;
    std::uint64_t record_start = out.position();
    const auto close_record = [&] {
        out.record(id, std::span<const std::uint8_t>(body, used));
        id = biff8::id_continue;
        used = 0;
        record_start = out.position();
    };

    put32(body, references_);
    put32(body + 4, count);
    used = 8;
    for (std::uint32_t i = 0; i < count; ++i) {
        const QStringView s = at(i);
        const bool wide = !fits_one_byte(s);
        const std::size_t unit = wide ? 2 : 1;
        // A string's header and first character never part.
        if (used + 3 + (s.isEmpty() ? 0 : unit) > max_record_body) close_record();
        if (i % bucket == 0) {
            extsst.u32(static_cast<std::uint32_t>(record_start + 4 + used));
            extsst.u16(static_cast<std::uint16_t>(4 + used)).u16(0);
        }
        put16(body + used, static_cast<std::uint16_t>(s.size()));
        body[used + 2] = wide ? 1 : 0;
        used += 3;
        const char16_t* chars = s.utf16();
        std::size_t left = static_cast<std::size_t>(s.size());
        while (left > 0) {
            const std::size_t room = (max_record_body - used) / unit;
            if (room == 0) {
                // The rest continues in the next record behind a fresh option byte.
                close_record();
                body[used++] = wide ? 1 : 0;
                continue;
            }
            const std::size_t n = std::min(room, left);
            used = static_cast<std::size_t>(put_chars(body + used, chars, n, wide) - body);
            chars += n;
            left -= n;
        }
    }
    close_record();
    out.record(biff8::id_extsst, extsst);
}
