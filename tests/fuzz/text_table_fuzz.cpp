// Reads arbitrary bytes as a text table. The first bytes choose the options; the rest is
// the file. The result must not depend on how the bytes are cut into blocks.
#include "catalogue/core/text_table_reader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct outcome {
    std::vector<std::u16string> lines;
    text_table_result result;
};

outcome read_with(QByteArrayView bytes, text_table_options options) {
    outcome out;
    std::int64_t last_line = 0;
    out.result = read_text_table_bytes(
        bytes,
        [&](std::span<const QStringView> fields, const text_line_info& info) {
            if (fields.empty() || info.line_number <= last_line ||
                info.line_number < options.first_line)
                std::abort();
            last_line = info.line_number;
            std::u16string line = info.over_long ? u"L" : u"-";
            qsizetype units = 0;
            for (QStringView f : fields) {
                units += f.size();
                for (QChar c : f)
                    if (c == u'\t' || c == u'\n' || c == u'\r') std::abort();
                line.append(reinterpret_cast<const char16_t*>(f.utf16()),
                            static_cast<std::size_t>(f.size()));
                line.push_back(u'\t');
            }
            if (units + static_cast<qsizetype>(fields.size()) - 1 > options.max_line_units)
                std::abort();
            out.lines.push_back(std::move(line));
        },
        options);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    text_table_options options;
    options.first_line = data[0] % 4;
    options.max_line_units = 1 + data[1] % 64;
    options.over_long = data[1] & 0x80 ? over_long_policy::deliver_prefix : over_long_policy::skip;
    const QByteArrayView bytes(data + 3, static_cast<qsizetype>(size - 3));

    const outcome whole = read_with(bytes, options);
    options.block_bytes = 1 + data[2] % 17;
    const outcome cut = read_with(bytes, options);
    if (whole.lines != cut.lines || whole.result.lines_over_long != cut.result.lines_over_long ||
        whole.result.lines_delivered != static_cast<std::int64_t>(whole.lines.size()) ||
        whole.result.bytes_read != bytes.size() || !whole.result.ok())
        std::abort();
    return 0;
}
