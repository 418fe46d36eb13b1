// The spreadsheet export of a 1M-record catalogue, beside LibreOffice turning the same
// records from CSV into .xls.
#include "bench/bench_support.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/spreadsheet_export.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <memory>

namespace {

QString work_dir() {
    const QString dir = QDir::tempPath() + QStringLiteral("/quellmark_bench/xls");
    QDir().mkpath(dir);
    return dir;
}

QString csv_field(QString value) {
    if (!value.contains(u',') && !value.contains(u'"')) return value;
    value.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + value + u'"';
}

// The same records as UTF-8 CSV with a heading line, written once.
QString catalogue_csv() {
    const QString path = work_dir() + QStringLiteral("/catalogue.csv");
    if (QFileInfo::exists(path)) return path;
    const record_set& rs = loaded_catalogue();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QStringList fields;
    for (const auto& c : catalogue_columns) fields << c.name.toString();
    QByteArray out = fields.join(u',').toUtf8() + '\n';
    for (long row = 1; row <= rs.rowcount(); ++row) {
        fields.clear();
        for (const auto& c : catalogue_columns)
            fields << csv_field(rs.getitemstring(row, c.number));
        out += fields.join(u',').toUtf8() + '\n';
        if (out.size() > (8 << 20)) {
            f.write(out);
            out.clear();
        }
    }
    f.write(out);
    return path;
}

void BM_save_spreadsheet_export(benchmark::State& state) {
    const record_set& rs = loaded_catalogue();
    const QString path = work_dir() + QStringLiteral("/quellmark_excel_files.xls");
    bool ok = true;
    for (auto _ : state) ok = save_spreadsheet_export(rs, path) && ok;
    if (!ok) state.SkipWithError("export failed");
    state.counters["records"] = static_cast<double>(rs.rowcount());
    state.counters["file_MB"] = static_cast<double>(QFileInfo(path).size()) / 1e6;
    state.counters["rss_MB"] = static_cast<double>(resident_bytes()) / 1e6;
}
BENCHMARK(BM_save_spreadsheet_export)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_libreoffice_csv_to_xls(benchmark::State& state) {
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
        state.SkipWithError("soffice not installed");
        for (auto _ : state) {
        }
        return;
    }
    const QString csv = catalogue_csv();
    const QString out = work_dir() + QStringLiteral("/lo");
    const auto command = [&](const QString& input) {
        return "soffice -env:UserInstallation=file://" + work_dir().toStdString() +
               "/lo-profile --headless --infilter='Text - txt - csv (StarCalc):44,34,76,1' "
               "--convert-to xls --outdir " +
               quoted(out) + " " + quoted(input) + " >/dev/null 2>&1";
    };
    // The first start creates the profile; not part of the conversion's time.
    const QString tiny = work_dir() + QStringLiteral("/tiny.csv");
    QFile t(tiny);
    if (t.open(QIODevice::WriteOnly)) t.write("a,b\n1,2\n");
    t.close();
    time_command(command(tiny));
    for (auto _ : state) state.SetIterationTime(time_command(command(csv)));
    state.counters["file_MB"] =
        static_cast<double>(QFileInfo(out + QStringLiteral("/catalogue.xls")).size()) / 1e6;
}
BENCHMARK(BM_libreoffice_csv_to_xls)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
