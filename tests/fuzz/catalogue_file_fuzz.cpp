// Loads arbitrary bytes as a catalogue file, saves what loaded and loads that again: the
// second load must take every record, skip none, and give back every value exactly.
#include "catalogue/catalogue_columns.h"
#include "catalogue/catalogue_file.h"
#include "catalogue/record_set.h"

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
    if (!save_catalogue_file(first, output)) std::abort();

    record_set second;
    const catalogue_import_result again = import_catalogue_file(second, output);
    if (again.loaded != loaded.loaded || again.skipped != 0) std::abort();
    for (long r = 1; r <= first.rowcount(); ++r)
        for (int c = 1; c <= catalogue_column_count; ++c)
            if (first.isnull(r, c) != second.isnull(r, c) ||
                first.getitemstring(r, c) != second.getitemstring(r, c))
                std::abort();
    return 0;
}
