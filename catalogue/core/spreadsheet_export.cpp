#include "catalogue/core/spreadsheet_export.h"

#include "app/shell/durable_save.h"
#include "catalogue/core/biff8_writer.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"

#include <QSaveFile>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>
#include <unistd.h>

namespace {

constexpr long records_per_sheet = spreadsheet_rows_per_sheet - 1;

// Cell formats: 0-14 are the style formats every workbook carries, 15 the default cell.
constexpr std::uint16_t xf_general = 15;
constexpr std::uint16_t xf_heading = 16;
constexpr std::uint16_t xf_datetime = 17;
constexpr std::uint16_t xf_size = 18;
constexpr std::uint16_t format_datetime = 164;   // first number of a workbook's own formats
constexpr std::uint16_t format_two_decimals = 2; // built in: "0.00"
constexpr std::uint16_t font_heading = 5;        // font number 4 does not exist in the format

// Column widths in characters, in column order.
constexpr std::array<int, catalogue_column_count> column_widths{8, 30, 8, 20, 60, 16, 11, 8, 30};

constexpr std::uint32_t no_text = 0xFFFFFFFF;

constexpr int text_column_count = 5;

biff8_body bof(std::uint16_t kind) {
    biff8_body b;
    b.u16(0x0600).u16(kind).u16(0x0DBB).u16(0x07CC).u32(0).u32(6);
    return b;
}

biff8_body font(bool bold) {
    biff8_body b;
    b.u16(220).u16(0).u16(0x7FFF).u16(bold ? 700 : 400).u16(0);
    b.u8(0).u8(0).u8(134).u8(0); // no underline, any family, GB2312 character set
    b.text(u"宋体", true);
    return b;
}

biff8_body xf(std::uint16_t font_number, std::uint16_t format, bool style, std::uint8_t used) {
    biff8_body b;
    b.u16(font_number).u16(format);
    b.u16(style ? 0xFFF5 : 0x0001);  // locked; a style has no parent, a cell has style 0
    b.u8(0x20).u8(0).u8(0).u8(used); // bottom aligned
    b.u32(0).u32(0).u16(0x20C0);     // no borders, default pattern colours
    return b;
}

QString sheet_name(int sheet, int sheets) {
    QString name = QStringLiteral("文件清单");
    if (sheets > 1) name += QString::number(sheet + 1);
    return name;
}

class workbook {
  public:
    explicit workbook(const record_set& rows);

    int sheet_count() const { return sheets_; }
    void write_globals(biff8_writer& out, std::span<const std::uint64_t> sheet_offsets) const;
    void write_sheet(biff8_writer& out, int sheet) const;

  private:
    const record_set& rows_;
    long records_;
    int sheets_;
    biff8_string_table strings_;
    std::array<std::uint32_t, catalogue_column_count> heading_{};
    std::vector<std::uint32_t> text_cells_; // text_column_count per record
};

workbook::workbook(const record_set& rows)
    : rows_(rows), records_(rows.rowcount()),
      sheets_(
          static_cast<int>(std::max(1L, (records_ + records_per_sheet - 1) / records_per_sheet))) {
    for (int sheet = 0; sheet < sheets_; ++sheet)
        for (const auto& c : catalogue_columns)
            heading_[static_cast<std::size_t>(c.number - 1)] = strings_.add(c.name);

    const record_storage& storage = rows_.storage();
    text_cells_.reserve(static_cast<std::size_t>(records_) * text_column_count);
    QString path;
    for (long row = 1; row <= records_; ++row) {
        const std::uint32_t id = rows_.row_id(row);
        for (const auto& c : catalogue_columns) {
            if (c.type != column_type::text) continue;
            if (c.number == col_filepath) {
                text_cells_.push_back(storage.text_form(id, c.number, path) ? strings_.add(path)
                                                                            : no_text);
            } else {
                const auto text = storage.get_text_view(id, c.number);
                text_cells_.push_back(text ? strings_.add(*text) : no_text);
            }
        }
    }
}

void workbook::write_globals(biff8_writer& out,
                             std::span<const std::uint64_t> sheet_offsets) const {
    out.record(biff8::id_bof, bof(0x0005));
    out.record(biff8::id_codepage, biff8_body().u16(1200));
    biff8_body window;
    window.u16(0x01E0).u16(0x005A).u16(0x3FCF).u16(0x2A4E);
    window.u16(0x0038).u16(0).u16(0).u16(1).u16(0x0258); // scroll bars and sheet tabs shown
    out.record(biff8::id_window1, window);
    out.record(biff8::id_datemode, biff8_body().u16(0)); // serials count from 1899-12-30

    for (int i = 0; i < 4; ++i) out.record(biff8::id_font, font(false));
    out.record(biff8::id_font, font(true));

    biff8_body format;
    format.u16(format_datetime).text(u"yyyy-mm-dd hh:mm:ss");
    out.record(biff8::id_format, format);

    out.record(biff8::id_xf, xf(0, 0, true, 0));
    for (std::uint16_t i = 1; i <= 14; ++i)
        out.record(biff8::id_xf, xf(i <= 2 ? 1 : i <= 4 ? 2 : 0, 0, true, 0xF4));
    out.record(biff8::id_xf, xf(0, 0, false, 0));
    out.record(biff8::id_xf, xf(font_heading, 0, false, 0x08));
    out.record(biff8::id_xf, xf(0, format_datetime, false, 0x04));
    out.record(biff8::id_xf, xf(0, format_two_decimals, false, 0x04));

    biff8_body style;
    style.u16(0x8000).u8(0).u8(0xFF); // built-in "Normal" on format 0
    out.record(biff8::id_style, style);

    for (int sheet = 0; sheet < sheets_; ++sheet) {
        biff8_body b;
        b.u32(static_cast<std::uint32_t>(sheet_offsets[static_cast<std::size_t>(sheet)])).u16(0);
        b.text(sheet_name(sheet, sheets_), true);
        out.record(biff8::id_boundsheet, b);
    }
    strings_.write(out);
    out.record(biff8::id_eof, biff8_body());
}

void workbook::write_sheet(biff8_writer& out, int sheet) const {
    const long first = 1 + static_cast<long>(sheet) * records_per_sheet;
    const long last = std::min(records_, first + records_per_sheet - 1);
    const long sheet_rows = 1 + std::max(0L, last - first + 1);

    out.record(biff8::id_bof, bof(0x0010));
    for (int c = 0; c < catalogue_column_count; ++c) {
        biff8_body b;
        b.u16(static_cast<std::uint16_t>(c)).u16(static_cast<std::uint16_t>(c));
        b.u16(static_cast<std::uint16_t>(column_widths[static_cast<std::size_t>(c)] * 256));
        b.u16(xf_general).u16(0).u16(0);
        out.record(biff8::id_colinfo, b);
    }
    biff8_body dimensions;
    dimensions.u32(0).u32(static_cast<std::uint32_t>(sheet_rows));
    dimensions.u16(0).u16(catalogue_column_count).u16(0);
    out.record(biff8::id_dimensions, dimensions);

    for (int c = 0; c < catalogue_column_count; ++c)
        out.label_sst(0, static_cast<std::uint16_t>(c), xf_heading,
                      heading_[static_cast<std::size_t>(c)]);

    const record_storage& storage = rows_.storage();
    for (long row = first; row <= last; ++row) {
        const std::uint32_t id = rows_.row_id(row);
        const auto r = static_cast<std::uint16_t>(row - first + 1);
        const std::uint32_t* texts =
            text_cells_.data() + static_cast<std::size_t>(row - 1) * text_column_count;
        for (const auto& info : catalogue_columns) {
            const int column = info.number;
            const auto c = static_cast<std::uint16_t>(column - 1);
            switch (info.type) {
            case column_type::text:
                if (*texts != no_text) out.label_sst(r, c, xf_general, *texts);
                ++texts;
                break;
            case column_type::long_number:
                if (const auto v = storage.get_long(id, column))
                    out.integer_cell(r, c, xf_general, *v);
                break;
            case column_type::decimal2:
                if (const auto v = storage.get_decimal(id, column))
                    out.integer_cell(r, c, xf_size, v->cents, true);
                break;
            case column_type::datetime:
                if (const auto v = storage.get_datetime(id, column))
                    out.number(r, c, xf_datetime, biff8::date_serial(v->seconds));
                break;
            }
        }
    }

    biff8_body window;
    // Grid, headings, zeros, outline symbols; the first sheet is selected and shown.
    window.u16(sheet == 0 ? 0x06B6 : 0x00B6).u16(0).u16(0).u16(0x0040).u16(0);
    window.u16(0).u16(0).u32(0);
    out.record(biff8::id_window2, window);
    out.record(biff8::id_eof, biff8_body());
}

struct gobject_unref {
    void operator()(void* object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T> using gobject_ptr = std::unique_ptr<T, gobject_unref>;

// The workbook stream into a compound file on `file` (left open).
bool write_compound_file(FILE* file, const std::function<bool(biff8_writer&)>& write_stream) {
    static const bool initialised = [] {
        gsf_init();
        return true;
    }();
    (void)initialised;

    gobject_ptr<GsfOutput> sink(gsf_output_stdio_new_FILE("workbook", file, TRUE));
    if (!sink) return false;
    gobject_ptr<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
    if (!ole) return false;
    auto* ole_output = reinterpret_cast<GsfOutput*>(ole.get());
    gobject_ptr<GsfOutput> stream(gsf_outfile_new_child(ole.get(), "Workbook", FALSE));
    bool ok = stream != nullptr;
    if (ok) {
        biff8_writer out([s = stream.get()](const std::uint8_t* data, std::size_t size) {
            return gsf_output_write(s, size, data) != FALSE;
        });
        ok = write_stream(out);
        ok = out.flush() && ok;
        ok = gsf_output_close(stream.get()) && ok;
    }
    ok = gsf_output_close(ole_output) && ok;
    // Closing the compound file closes its sink too.
    if (!gsf_output_is_closed(sink.get())) ok = gsf_output_close(sink.get()) && ok;
    return ok;
}

} // namespace

bool save_spreadsheet_export(const record_set& rows, const QString& path) {
    const workbook book(rows);
    const int sheets = book.sheet_count();

    // Measure first: the workbook records carry each sheet's stream offset.
    std::vector<std::uint64_t> offsets(static_cast<std::size_t>(sheets) + 1, 0);
    {
        biff8_writer counter;
        book.write_globals(counter, offsets);
        offsets[0] = counter.position();
    }
    for (int sheet = 0; sheet < sheets; ++sheet) {
        biff8_writer counter;
        book.write_sheet(counter, sheet);
        const auto k = static_cast<std::size_t>(sheet);
        offsets[k + 1] = offsets[k] + counter.position();
    }
    // Sheet offsets are 32-bit and a compound file of 512-byte sectors ends at 2 GiB.
    if (offsets.back() >= (std::uint64_t{1} << 31) - (std::uint64_t{64} << 20)) return false;

    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly) || target.handle() < 0) return false;
    const int fd = ::dup(target.handle());
    if (fd < 0) return false;
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        return false;
    }
    bool ok = write_compound_file(file, [&](biff8_writer& out) {
        book.write_globals(out, offsets);
        for (int sheet = 0; sheet < sheets; ++sheet) book.write_sheet(out, sheet);
        return out.position() == offsets.back();
    });
    ok = std::fflush(file) == 0 && !std::ferror(file) && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        target.cancelWriting();
        return false;
    }
    return durable_commit(target);
}
