// Loads arbitrary bytes as a catalogue file, streamed and in parts, saves what loaded and
// loads that again: the parts must give what the stream gave, and the second load must take
// every record, skip none, and give back every value exactly.
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/record_set.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace {

QString scratch(const char* name) {
    return QDir::tempPath() + QStringLiteral("/catalogue_fuzz_") +
           QString::number(QCoreApplication::applicationPid()) + QLatin1Char('_') +
           QLatin1StringView(name);
}

bool same_records(const record_set& a, const record_set& b) {
    if (a.rowcount() != b.rowcount()) return false;
    for (long r = 1; r <= a.rowcount(); ++r)
        for (int c = 1; c <= catalogue_column_count; ++c)
            if (a.isnull(r, c) != b.isnull(r, c) || a.getitemstring(r, c) != b.getitemstring(r, c))
                return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString input = scratch("in.dll");
    const QString output = scratch("out.dll");
    {
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    record_set first;
    const catalogue_import_result loaded = import_catalogue_file(first, input);
    if (!loaded.file_found || loaded.read_error || loaded.loaded != first.rowcount()) std::abort();
    // Cut into parts wherever its line ends fall, the file reads as it streams.
    record_set parts;
    const catalogue_import_result in_parts = import_catalogue_file(parts, input, 2, 3);
    if (in_parts.read_error || in_parts.loaded != loaded.loaded ||
        in_parts.skipped != loaded.skipped || !same_records(first, parts))
        std::abort();
    if (!save_catalogue_file(first, output)) std::abort();

    record_set second;
    const catalogue_import_result again = import_catalogue_file(second, output);
    if (again.loaded != loaded.loaded || again.skipped != 0 || !same_records(first, second))
        std::abort();
    return 0;
}
