// Reads arbitrary bytes as a catalogue snapshot, taking the identity its header names and
// passing over the payload's hash, so the column checks themselves are what is fuzzed: a
// snapshot they let through must read back every value of every row without fault, and a
// search over its texts must find what a look at each row finds.
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/catalogue_snapshot.h"
#include "catalogue/core/record_storage.h"
#include "search/language/filter_evaluator.h"
#include "search/language/filter_language.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    catalogue_file_identity named;
    if (size >= 88) {
        std::memcpy(&named.file.size, data + 16, 8);
        std::memcpy(&named.file.modified_ns, data + 24, 8);
        std::memcpy(&named.content_hash, data + 32, 8);
        std::memcpy(&named.file.changed_ns, data + 64, 8);
        std::memcpy(&named.file.device, data + 72, 8);
        std::memcpy(&named.file.inode, data + 80, 8);
    }
    record_storage s;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto read = read_catalogue_snapshot_bytes(bytes, named, s, false);
    if (!read) {
        if (s.rows() != 0) std::abort(); // a refused snapshot leaves nothing behind
        return 0;
    }
    QString text;
    for (std::uint32_t r = 0; r < s.rows(); ++r)
        for (int c = 1; c <= catalogue_column_count; ++c) s.text_form(r, c, text);
    s.prepare_for_search();
    // Literals of one unit, of ASCII and not, that the wide scan takes alone or together.
    for (const int column : {col_filenamewithno, col_pinyinma}) {
        const QString name = column == col_filenamewithno ? u"filenamewithno"_s : u"pinyinma"_s;
        const QString filter =
            name + u" like '%a%' or "_s + name + u" like '%b%' or "_s + name + u" like '%我%'"_s;
        const auto expr = parse_filter(filter, s);
        if (!expr) std::abort();
        const std::vector<std::uint8_t> found = evaluate_filter(*expr, s, 2);
        for (std::uint32_t r = 0; r < s.rows(); ++r) {
            const auto v = s.get_text_view(r, column);
            const bool holds = v && (v->contains(u'a') || v->contains(u'b') || v->contains(u'我'));
            if (found[r] != static_cast<std::uint8_t>(holds)) std::abort();
        }
    }
    return 0;
}
