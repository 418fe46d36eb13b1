// What the window costs a scan: the scan command run from the main window over the 200k-file
// tree of scanner_bench (dialogs answered, wait window shown and repainted, events processed,
// counter updated, catalogue and export saved), beside the same work done bare: the scanner,
// then the two saves, with no window. In turns within one run.
#include "app/main/scan_dialogs.h"
#include "app/main/w_main.h"
#include "app/shell/app_globals.h"
#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/spreadsheet_export.h"
#include "tests/support/recording_prompts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>

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

// Closing the scan-areas dialog hands over the tree with the options above; the file-types
// dialog confirms with every type wanted.
class answered_dialogs : public scan_dialogs {
  public:
    answered_dialogs() { set_scan_dialogs(this); }
    ~answered_dialogs() override { set_scan_dialogs(nullptr); }
    answered_dialogs(const answered_dialogs&) = delete;
    answered_dialogs& operator=(const answered_dialogs&) = delete;
    void disk_area(QWidget*) override {
        app_globals& g = globals();
        const scan_options o = options();
        g.gs_diskarea = {tree()};
        g.ii_dir_type = o.ii_dir_type;
        g.ii_scan_layers = o.ii_scan_layers;
        g.gs_cut_splitter = o.gs_cut_splitter;
        g.gi_cut_splitter_len = o.gi_cut_splitter_len;
    }
    int file_type(QWidget*) override {
        globals().gs_filetype.clear();
        globals().gi_filetype_upperbound = 0;
        return 1;
    }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_scan_bare_vs_through_window(benchmark::State& state) {
    if (!QFileInfo::exists(tree() + QStringLiteral("/.complete"))) {
        state.SkipWithError("run scanner_bench first: it makes the tree");
        return;
    }
    QTemporaryDir program_folder;
    recording_prompts answers;
    answered_dialogs dialogs;
    w_main window;
    window.open_event(program_folder.path());
    window.show();
    QApplication::processEvents();
    double bare = 0, windowed = 0;
    long records = 0;
    for (auto _ : state) {
        {
            const auto start = std::chrono::steady_clock::now();
            record_set rs;
            silent_feedback quiet;
            n_filetouch scan(quiet, options(), [](const QString&) {});
            scan.of_directory(tree(), QStringLiteral("*.*"), rs, 1);
            save_catalogue_file(rs, program_folder.filePath(QStringLiteral("bare.dll")));
            save_spreadsheet_export(rs, program_folder.filePath(QStringLiteral("bare.xls")));
            bare = seconds_since(start);
        }
        {
            const auto start = std::chrono::steady_clock::now();
            window.ue_scandisk();
            windowed = seconds_since(start);
            records = window.dts_fileslist().rowcount();
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
    ->Repetitions(15)
    ->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
