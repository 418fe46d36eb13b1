#include "bench/bench_support.h"

#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/record_set.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {
// QM_BENCH_DATA moves the data sets (a 10M catalogue is some gigabytes). The folder names
// the generator's data shape, so sets made by an older generator are never taken.
QString data_dir() {
    const QString chosen = qEnvironmentVariable("QM_BENCH_DATA");
    const QString dir =
        (chosen.isEmpty() ? QDir::tempPath() + QStringLiteral("/quellmark_bench") : chosen) +
        QStringLiteral("/shape2");
    QDir().mkpath(dir);
    return dir;
}

// Made once per machine; written under other names and renamed, so an interrupted run
// leaves no half data set to be taken for a whole one.
void generate(int records) {
    const QString dir = data_dir();
    const QString catalogue = dir + QStringLiteral("/catalogue_%1.dll").arg(records);
    const QString names = dir + QStringLiteral("/names_%1.txt").arg(records);
    const std::string cmd =
        std::string(QM_GENERATOR) + " " + quoted(catalogue + QStringLiteral(".part")) + " " +
        std::to_string(records) + " --utf8-names " + quoted(names + QStringLiteral(".part"));
    if (std::system(cmd.c_str()) != 0 || !QFile::rename(names + QStringLiteral(".part"), names) ||
        !QFile::rename(catalogue + QStringLiteral(".part"), catalogue))
        std::fprintf(stderr, "generator failed\n");
}
} // namespace

int bench_records() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("QM_BENCH_RECORDS", &ok);
    return ok && n > 0 ? n : 1'000'000;
}

QString bench_catalogue_file(int records) {
    const QString path = data_dir() + QStringLiteral("/catalogue_%1.dll").arg(records);
    if (!QFileInfo::exists(path)) generate(records);
    return path;
}

QString bench_names_utf8_file(int records) {
    const QString path = data_dir() + QStringLiteral("/names_%1.txt").arg(records);
    if (!QFileInfo::exists(path)) generate(records);
    return path;
}

double time_command(const std::string& command_line) {
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(command_line.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (rc == -1) return -1;
    return std::chrono::duration<double>(end - start).count();
}

long long resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    long long pages_total = 0, pages_resident = 0;
    statm >> pages_total >> pages_resident;
    return pages_resident * sysconf(_SC_PAGESIZE);
}

record_set& loaded_catalogue() {
    static const std::unique_ptr<record_set> rs = [] {
        auto r = std::make_unique<record_set>();
        import_catalogue_file(*r, bench_catalogue_file());
        return r;
    }();
    return *rs;
}

std::string quoted(const QString& path) {
    // Inside single quotes only a single quote needs care: close, escape it, reopen.
    std::string out = "'";
    for (const char c : path.toStdString()) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}
