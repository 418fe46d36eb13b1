#pragma once
// Records of the BIFF8 workbook stream, little-endian, gathered into large blocks.
//
// A writer without a sink only counts bytes: the same code that writes a part of the
// stream measures it first, since the workbook records must carry the stream offsets of
// the sheets that follow them.
#include <QStringView>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace biff8 {

// Longest record body; longer data goes on in CONTINUE records.
inline constexpr std::size_t max_record_body = 8224;
// Longest text a cell holds.
inline constexpr std::size_t max_cell_text = 32767;

enum record_id : std::uint16_t {
    id_eof = 0x000A,
    id_datemode = 0x0022,
    id_font = 0x0031,
    id_continue = 0x003C,
    id_window1 = 0x003D,
    id_codepage = 0x0042,
    id_colinfo = 0x007D,
    id_boundsheet = 0x0085,
    id_xf = 0x00E0,
    id_sst = 0x00FC,
    id_labelsst = 0x00FD,
    id_extsst = 0x00FF,
    id_dimensions = 0x0200,
    id_number = 0x0203,
    id_window2 = 0x023E,
    id_rk = 0x027E,
    id_style = 0x0293,
    id_format = 0x041E,
    id_bof = 0x0809,
};

// Days since 1899-12-30 as the sheet's date serial: `seconds` counts from
// 1970-01-01 00:00:00 of the same wall clock.
double date_serial(std::int64_t seconds);

// The RK form of value / (hundredths ? 100 : 1), when it holds the value exactly.
bool rk_of_integer(std::int64_t value, bool hundredths, std::uint32_t& rk);

} // namespace biff8

// Builds one record body.
class biff8_body {
  public:
    biff8_body& u8(std::uint8_t v);
    biff8_body& u16(std::uint16_t v);
    biff8_body& u32(std::uint32_t v);
    biff8_body& f64(double v);
    // Unicode string with a 16-bit (or, when `short_length`, 8-bit) character count and
    // the option byte; stored one byte per character when every character allows it.
    biff8_body& text(QStringView s, bool short_length = false);
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

  private:
    std::vector<std::uint8_t> bytes_;
};

class biff8_writer {
  public:
    // Receives the stream in blocks; false means the data could not be kept.
    using sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

    biff8_writer(); // counts only
    explicit biff8_writer(sink out);
    biff8_writer(const biff8_writer&) = delete;
    biff8_writer& operator=(const biff8_writer&) = delete;

    // Stream offset of the next record.
    std::uint64_t position() const { return position_; }
    // False once the sink has refused data; later writes are dropped.
    bool ok() const { return !failed_; }

    void record(std::uint16_t id, std::span<const std::uint8_t> body);
    void record(std::uint16_t id, const biff8_body& body) { record(id, body.bytes()); }

    void label_sst(std::uint16_t row, std::uint16_t column, std::uint16_t xf, std::uint32_t sst);
    // value / (hundredths ? 100 : 1): an RK cell when that is exact, else a NUMBER cell.
    void integer_cell(std::uint16_t row, std::uint16_t column, std::uint16_t xf, std::int64_t value,
                      bool hundredths = false);
    void number(std::uint16_t row, std::uint16_t column, std::uint16_t xf, double value);

    // Hands what is gathered to the sink.
    bool flush();

  private:
    std::uint8_t* reserve(std::size_t size);

    sink out_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

// The shared string table (SST): every distinct text once, cells refer to it by index.
class biff8_string_table {
  public:
    biff8_string_table();

    // Index of `text`, added when new; counts one cell referring to it. Texts longer than
    // a cell holds are cut, and a lone surrogate becomes U+FFFD.
    std::uint32_t add(QStringView text);
    std::uint32_t unique_count() const { return static_cast<std::uint32_t>(hashes_.size()); }
    std::uint32_t reference_count() const { return references_; }

    // SST, continued in CONTINUE records as needed, then EXTSST.
    void write(biff8_writer& out) const;

  private:
    QStringView at(std::uint32_t index) const;
    std::uint32_t insert(QStringView text, std::uint32_t hash);
    void grow();

    std::vector<char16_t> chars_;
    std::vector<std::size_t> starts_; // unique_count() + 1 entries
    std::vector<std::uint32_t> hashes_;
    std::vector<std::uint32_t> slots_; // index + 1, 0 = free
    std::uint32_t references_ = 0;
};
