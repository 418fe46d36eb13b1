#pragma once
// Shared by the benchmark programs: generated data and timing of other tools.
#include <QString>
#include <string>

class record_set;

// Records in the benchmarks' catalogue: QM_BENCH_RECORDS, else 1M.
int bench_records();
// Path of the generated catalogue file (made once per machine) and of the same names as
// UTF-8 lines for text-search tools.
QString bench_catalogue_file(int records = bench_records());
QString bench_names_utf8_file(int records = bench_records());
// Runs a shell command line (fixed, ours) and returns its wall-clock seconds; -1 when it fails.
double time_command(const std::string& command_line);
// Resident set size of this process, in bytes.
long long resident_bytes();
// The benchmarks' catalogue, loaded once per program.
record_set& loaded_catalogue();
// A path as one word of a shell command line.
std::string quoted(const QString& path);
