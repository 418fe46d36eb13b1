// What the window costs a scan: the scanner over the 200k-file tree of scanner_bench, bare,
// and as the scan command runs it (wait window shown and repainted, events processed, the
// main window's counter updated), in turns within one run.
#include "app/w_main.h"
#include "app/w_wait_for3.h"
#include "catalogue/n_filetouch.h"
#include "tests/support/recording_prompts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <chrono>
#include <cstdio>

namespace {

QString tree() {
    return QDir::tempPath() + QStringLiteral("/quellmark_bench/scan_tree_200k");
}

scan_options options() {
    scan_options o;
    o.gs_cut_splitter = QStringLiteral("-");
    o.gi_cut_splitter_len = 1;
    return o;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_scan_bare_vs_through_window(benchmark::State& state) {
    if (!QFileInfo::exists(tree() + QStringLiteral("/.complete"))) {
        state.SkipWithError("run scanner_bench first: it makes the tree");
        return;
    }
    recording_prompts answers;
    w_main window;
    window.show();
    double bare = 0, windowed = 0;
    long records = 0;
    for (auto _ : state) {
        {
            const auto start = std::chrono::steady_clock::now();
            record_set rs;
            silent_feedback quiet;
            n_filetouch scan(quiet, options(), [](const QString&) {});
            scan.of_directory(tree(), QStringLiteral("*.*"), rs, 1);
            bare = seconds_since(start);
        }
        {
            const auto start = std::chrono::steady_clock::now();
            record_set& rs = window.dts_fileslist();
            rs.reset();
            w_wait_for3& wait = *window.wait_window();
            wait.open_window();
            wait.of_setmessage(QStringLiteral("搜索指定文件夹内的所有文件"));
            n_filetouch scan(wait, options(),
                             [&](const QString& text) { window.st_scaned_qty()->setText(text); });
            scan.of_directory(tree(), QStringLiteral("*.*"), rs, 1);
            wait.close_window();
            windowed = seconds_since(start);
            records = rs.rowcount();
        }
        state.SetIterationTime(windowed);
    }
    state.counters["bare_ms"] = bare * 1000;
    state.counters["window_ms"] = windowed * 1000;
    state.counters["window_cost"] = windowed / bare - 1;
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_scan_bare_vs_through_window)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
