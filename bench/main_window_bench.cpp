// The main window over the benchmarks' catalogue (1M records, QM_BENCH_RECORDS for more):
// start-up to a usable window, typed conditions to their results (without the quiet time),
// and show-all. Start-up is timed with the catalogue's snapshot in place (made by a first,
// untimed start), as every start after the first one finds it.
#include "app/main/w_main.h"
#include "bench/bench_support.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/catalogue_loading.h"
#include "tests/support/recording_prompts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString program_folder() {
    static QTemporaryDir dir;
    static bool made = [] {
        return QFile::link(bench_catalogue_file(), dir.filePath(catalogue_file_name));
    }();
    (void)made;
    return dir.path();
}

std::unique_ptr<w_main> open_window() {
    auto w = std::make_unique<w_main>();
    w->open_event(program_folder());
    w->show();
    while (!w->event_log().contains(QStringLiteral("start message")))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return w;
}

// The first start writes the snapshot while the window is in use; closing stops that.
std::unique_ptr<w_main> open_window_and_keep_snapshot() {
    auto w = open_window();
    const QString snapshot = snapshot_path_for(QDir(program_folder()).filePath(catalogue_file_name),
                                               default_snapshot_folder());
    for (int waited = 0; !QFile::exists(snapshot) && waited < 120'000; waited += 50)
        QTest::qWait(50);
    return w;
}

void BM_start_up(benchmark::State& state) {
    recording_prompts answers;
    program_folder();
    open_window_and_keep_snapshot().reset();
    for (auto _ : state) {
        auto w = open_window();
        benchmark::DoNotOptimize(w.get());
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_start_up)->Unit(benchmark::kMillisecond)->Iterations(3);

// One window for the query benchmarks; it must go before the application does.
std::unique_ptr<w_main> the_shared_window;

w_main& shared_window() {
    static recording_prompts answers;
    if (!the_shared_window) the_shared_window = open_window();
    return *the_shared_window;
}

// From the posted query to the list painted again.
void query_after_quiet_time(benchmark::State& state, const QString& condition) {
    w_main& w = shared_window();
    w.ddlb_1()->setEditText(condition);
    for (auto _ : state) {
        w.ue_query();
        w.repaint();
    }
    state.counters["rows"] = static_cast<double>(w.dw_1_rows().rowcount());
}
void BM_pinyin_two_letters(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("wd"));
}
void BM_pinyin_polyphones(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("yy")); // 音乐 answers "yy" and "yl"
}
void BM_pinyin_full(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("wodeairen"));
}
void BM_pinyin_mixed(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("wodear"));
}
void BM_pinyin_full_two_syllables(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("yinyue"));
}
void BM_name_two_chinese(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("爱人"));
}
void BM_all_pictures(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("PPPP"));
}
void BM_fuzzy_with_blank(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("我的 爱人"));
}
void BM_number(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral("1002"));
}
void BM_several_numbers(benchmark::State& state) {
    query_after_quiet_time(state, QStringLiteral(" 1002 2003 3004"));
}
BENCHMARK(BM_fuzzy_with_blank)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_number)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();
BENCHMARK(BM_several_numbers)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_pinyin_two_letters)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_pinyin_polyphones)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_pinyin_full)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();
BENCHMARK(BM_pinyin_mixed)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();
BENCHMARK(BM_pinyin_full_two_syllables)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_name_two_chinese)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_all_pictures)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();

// The second ">" of ">>" shows every record at once.
void BM_show_all(benchmark::State& state) {
    w_main& w = shared_window();
    QLineEdit* edit = w.ddlb_1()->lineEdit();
    for (auto _ : state) {
        state.PauseTiming();
        w.ddlb_1()->setEditText(QStringLiteral(">"));
        state.ResumeTiming();
        QTest::keyClick(edit, '>');
        w.repaint();
    }
    state.counters["rows"] = static_cast<double>(w.dw_1_rows().rowcount());
}
BENCHMARK(BM_show_all)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    the_shared_window.reset();
}
