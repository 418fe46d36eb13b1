#pragma once
// Shared by the benchmark programs: generated data and timing of other tools.
#include <QString>
#include <string>

// Path of the generated 1M-record catalogue file (made on first use) and of the
// same names as UTF-8 lines for text-search tools.
QString bench_catalogue_file(int records = 1'000'000);
QString bench_names_utf8_file(int records = 1'000'000);
// Runs a shell command line (fixed, ours) and returns its wall-clock seconds; -1 when it fails.
double time_command(const std::string& command_line);
// Resident set size of this process, in bytes.
long long resident_bytes();
