#include "catalogue/core/text_table_reader.h"

#include <QFile>
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::int64_t max_line_limit = 16 * 1024 * 1024;
constexpr std::int64_t max_block_bytes = 256 * 1024 * 1024;

bool is_surrogate(char16_t u) {
    return (u & 0xF800) == 0xD800;
}
bool is_high_surrogate(char16_t u) {
    return (u & 0xFC00) == 0xD800;
}
bool is_low_surrogate(char16_t u) {
    return (u & 0xFC00) == 0xDC00;
}
bool is_line_end(char16_t u) {
    return u == u'\n' || u == u'\r';
}

// The first unit at or after `pos` that needs a look: a control up to CR or a surrogate.
// Most units are plain, so they are passed eight at a time where the machine allows.
qsizetype skip_plain(const char16_t* b, qsizetype pos, qsizetype end) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i surrogate_mask = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate_bits = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    for (; pos + 8 <= end; pos += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + pos));
        const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(v, cr), zero);
        const __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(v, surrogate_mask), surrogate_bits);
        const int mask = _mm_movemask_epi8(_mm_or_si128(control, surrogate));
        if (mask != 0) return pos + std::countr_zero(static_cast<unsigned>(mask)) / 2;
    }
#endif
    for (; pos < end; ++pos) {
        const char16_t u = b[pos];
        if (u <= u'\r' || is_surrogate(u)) return pos;
    }
    return pos;
}

enum class scan_kind { complete, need_more, over_long };

struct scan_result {
    scan_kind kind = scan_kind::need_more;
    qsizetype next = 0; // complete: where the following line starts
    bool has_nul = false;
    bool has_lone_surrogate = false;
};

// Scans one line starting at `start` within b[0, end). `final` means no data follows
// `end`, so the end of data ends the line. On `complete`, `fields` holds the line's fields.
scan_result scan_line(const char16_t* b, qsizetype start, qsizetype end, bool final,
                      qsizetype max_len, std::vector<QStringView>& fields) {
    scan_result r;
    fields.clear();
    qsizetype field_start = start;
    const qsizetype scan_end = std::min(end, start + max_len + 1);
    qsizetype pos = start;
    qsizetype content_end = -1;
    for (; (pos = skip_plain(b, pos, scan_end)) < scan_end; ++pos) {
        const char16_t u = b[pos];
        if (u == u'\t') {
            fields.emplace_back(b + field_start, pos - field_start);
            field_start = pos + 1;
        } else if (u == u'\n') {
            content_end = pos;
            r.next = pos + 1;
            break;
        } else if (u == u'\r') {
            // A CR as the last unit of a block may be the first half of CR LF.
            if (pos + 1 < end) {
                r.next = pos + 1 + (b[pos + 1] == u'\n' ? 1 : 0);
            } else if (final) {
                r.next = pos + 1;
            } else {
                r.kind = scan_kind::need_more;
                return r;
            }
            content_end = pos;
            break;
        } else if (u == 0) {
            r.has_nul = true;
        } else if (is_high_surrogate(u)) {
            if (pos + 1 < end) {
                if (is_low_surrogate(b[pos + 1]))
                    ++pos;
                else
                    r.has_lone_surrogate = true;
            } else if (final) {
                r.has_lone_surrogate = true;
            } else {
                r.kind = scan_kind::need_more;
                return r;
            }
        } else if (is_low_surrogate(u)) {
            r.has_lone_surrogate = true;
        }
    }
    if (content_end < 0) {
        if (pos - start > max_len) {
            r.kind = scan_kind::over_long;
            return r;
        }
        if (!final) {
            r.kind = scan_kind::need_more;
            return r;
        }
        content_end = end;
        r.next = end;
    }
    fields.emplace_back(b + field_start, content_end - field_start);
    r.kind = scan_kind::complete;
    return r;
}

struct line_state {
    qsizetype start = 0;   // first unit of the current line
    bool skipping = false; // inside an over-long line, looking for its end
    std::int64_t line_number = 1;
};

// Delivers the lines of b[state.start, end) that are known to be complete (all of them when
// `eof`); state.start is left at the first unit still needed.
void deliver_lines(const char16_t* b, qsizetype end, bool eof, qsizetype max_len,
                   std::int64_t first_line, line_state& state, std::vector<QStringView>& fields,
                   const text_line_callback& on_line, const text_table_options& options,
                   text_table_result& result) {
    qsizetype& start = state.start;
    bool& skipping = state.skipping;
    std::int64_t& line_number = state.line_number;
    for (;;) {
        if (skipping) {
            const char16_t* hit = std::find_if(b + start, b + end, is_line_end);
            const qsizetype pos = hit - b;
            if (pos == end) {
                start = end;
                break;
            }
            qsizetype next = pos + 1;
            if (b[pos] == u'\r') {
                if (pos + 1 < end) {
                    next += b[pos + 1] == u'\n' ? 1 : 0;
                } else if (!eof) {
                    start = pos; // keep the CR until we know what follows it
                    break;
                }
            }
            skipping = false;
            ++line_number;
            start = next;
            continue;
        }
        if (start == end) break;
        const scan_result s = scan_line(b, start, end, eof, max_len, fields);
        if (s.kind == scan_kind::need_more) break;
        const bool wanted = line_number >= first_line;
        if (s.kind == scan_kind::over_long) {
            if (wanted) {
                ++result.lines_over_long;
                if (options.over_long == over_long_policy::deliver_prefix) {
                    const scan_result p =
                        scan_line(b, start, start + max_len, true, max_len, fields);
                    const text_line_info info{line_number, p.has_nul, p.has_lone_surrogate, true};
                    on_line(std::span<const QStringView>(fields), info);
                    ++result.lines_delivered;
                }
            }
            start += max_len; // no line end before here
            skipping = true;
            continue;
        }
        if (wanted) {
            const text_line_info info{line_number, s.has_nul, s.has_lone_surrogate, false};
            on_line(std::span<const QStringView>(fields), info);
            ++result.lines_delivered;
        }
        ++line_number;
        start = s.next;
    }
}

// The reading loop over any source of bytes: `read_some(dst, max)` returns the number of
// bytes stored, 0 at the end, or -1 on failure. `expected_bytes` (the size when known, else
// 0) keeps the buffer of a small file small.
template <class Source>
void parse(Source&& read_some, std::int64_t expected_bytes, const text_line_callback& on_line,
           const text_table_options& options, text_table_result& result) {
    const std::int64_t first_line = std::max<std::int64_t>(options.first_line, 1);
    const qsizetype max_len =
        static_cast<qsizetype>(std::clamp<std::int64_t>(options.max_line_units, 1, max_line_limit));
    std::int64_t wanted_block = options.block_bytes;
    if (expected_bytes > 0) wanted_block = std::min(wanted_block, expected_bytes + 2);
    const qsizetype block =
        static_cast<qsizetype>(std::clamp<std::int64_t>(wanted_block, 1, max_block_bytes));
    // A pending line (at most max_len + 1 units and an odd byte) plus one block always fit.
    const qsizetype capacity_units = max_len + 2 + block / 2 + 2;
    const qsizetype capacity_bytes = capacity_units * 2;
    auto storage = std::make_unique_for_overwrite<char16_t[]>(static_cast<size_t>(capacity_units));
    char16_t* const b = storage.get();
    char* const bytes = reinterpret_cast<char*>(b);

    std::vector<QStringView> fields;
    fields.reserve(16);
    qsizetype byte_end = 0;
    line_state state;
    qsizetype& start = state.start;
    qsizetype swapped_end = 0;
    bool eof = false;
    bool mark_checked = false;

    for (;;) {
        const qsizetype end = byte_end / 2;
        if constexpr (std::endian::native == std::endian::big) {
            for (qsizetype i = swapped_end; i < end; ++i)
                b[i] = static_cast<char16_t>((b[i] >> 8) | (b[i] << 8));
            swapped_end = end;
        }
        if (!mark_checked && (end >= 1 || eof)) {
            mark_checked = true;
            if (options.byte_order_mark && end >= 1 && b[0] == u'\uFEFF') start = 1;
        }
        if (mark_checked)
            deliver_lines(b, end, eof, max_len, first_line, state, fields, on_line, options,
                          result);
        if (eof) break;

        // Keep the unfinished line (and an odd byte) at the front, then read on.
        const qsizetype keep_from = start * 2;
        if (keep_from > 0) {
            std::memmove(bytes, bytes + keep_from, static_cast<size_t>(byte_end - keep_from));
            byte_end -= keep_from;
            swapped_end = std::max<qsizetype>(swapped_end - start, 0);
            start = 0;
        }
        const qint64 n = read_some(bytes + byte_end, std::min(block, capacity_bytes - byte_end));
        if (n < 0) {
            result.status = text_table_status::io_error;
            return;
        }
        if (n == 0) eof = true;
        byte_end += static_cast<qsizetype>(n);
        result.bytes_read += n;
    }
    result.status = text_table_status::read;
}

} // namespace

text_table_result read_text_table(const QString& path, const text_line_callback& on_line,
                                  const text_table_options& options) {
    text_table_result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (QFile::exists(path)) {
            result.status = text_table_status::io_error;
            result.error = file.errorString();
        } else {
            result.status = text_table_status::missing;
        }
        return result;
    }
    parse([&file](char* dst, qint64 max) { return file.read(dst, max); }, file.size(), on_line,
          options, result);
    if (result.status == text_table_status::io_error) result.error = file.errorString();
    return result;
}

text_table_result read_text_table_from(const text_byte_reader& read_some, std::int64_t size_hint,
                                       const text_line_callback& on_line,
                                       const text_table_options& options) {
    text_table_result result;
    parse(read_some, size_hint, on_line, options, result);
    return result;
}

text_table_result read_text_table_bytes(QByteArrayView bytes, const text_line_callback& on_line,
                                        const text_table_options& options) {
    text_table_result result;
    qsizetype offset = 0;
    parse(
        [&](char* dst, qint64 max) {
            const qint64 n = std::min<qint64>(max, bytes.size() - offset);
            if (n > 0) std::memcpy(dst, bytes.data() + offset, static_cast<size_t>(n));
            offset += n;
            return n;
        },
        bytes.size(), on_line, options, result);
    return result;
}
