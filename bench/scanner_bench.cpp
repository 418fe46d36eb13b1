// Scanning a generated tree of 200k files with of_directory, beside find and fd on the same
// tree, in one run: warm cache, and cold (the page cache dropped before each tool's turn, as
// root only). The scanner runs with its read-ahead workers and without (0 threads).
#include "app/shell/operation_feedback.h"
#include "bench/bench_support.h"
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/record_set.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int top_folders = 20, sub_folders = 20, files_per_folder = 500;

// What the wait window costs at a checkpoint: a clock check, events every few milliseconds.
class clock_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString& m) override { last_ = m; }
    bool ib_stop() const override { return false; }
    void process_events() override {
        const std::int64_t now = checkpoint_clock_ms();
        if (now >= next_ms_) {
            next_ms_ = now + 5;
            ++pumps_;
        }
    }

  private:
    std::int64_t next_ms_ = 0;
    QString last_;
    long pumps_ = 0;
};

const char16_t* const words[] = {u"我的爱人",    u"月亮代表我的心", u"love song", u"甜蜜蜜",
                                 u"Summer Wind", u"童年",           u"青花瓷",    u"take five"};
const char16_t* const exts[] = {u".mp3", u".MP3", u".wma", u".mp4", u".jpg", u".flac"};

void make_file(const QString& path, long size) {
    const int fd =
        ::open(path.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (size > 0 && ::ftruncate(fd, size) != 0) std::fprintf(stderr, "cannot size %d\n", fd);
    ::close(fd);
}

// Made once; a marker at the end tells a complete tree from an interrupted one.
QString scan_tree() {
    const QString root = QDir::tempPath() + u"/quellmark_bench/scan_tree_200k"_s;
    const QString marker = root + u"/.complete"_s;
    if (QFileInfo::exists(marker)) return root;
    QDir(root).removeRecursively();
    long n = 0;
    for (int t = 0; t < top_folders; ++t) {
        for (int s = 0; s < sub_folders; ++s) {
            const QString folder = root + QStringLiteral("/歌曲%1/专辑 %2/").arg(t).arg(s);
            QDir().mkpath(folder);
            for (int f = 0; f < files_per_folder; ++f, ++n) {
                const QString name = QStringLiteral("%1-%2 %3%4")
                                         .arg(n)
                                         .arg(QStringView(words[n % 8]))
                                         .arg(f)
                                         .arg(QStringView(exts[n % 6]));
                make_file(folder + name, (n * 7919) % 9'000'000);
            }
        }
    }
    make_file(marker, 0);
    return root;
}

void warm_cache(const QString& root) {
    static bool warm = false;
    if (warm) return;
    time_command("find " + quoted(root) + " -printf '%s %B@ %p\\n' >/dev/null");
    warm = true;
}

scan_options bench_options(int threads) {
    scan_options options;
    options.gs_cut_splitter = u"-"_s;
    options.gi_cut_splitter_len = 1;
    options.read_ahead_threads = threads;
    return options;
}

long scan_once(const QString& root, int threads) {
    record_set rs;
    clock_feedback feedback;
    n_filetouch ft(feedback, bench_options(threads), [](const QString&) {});
    ft.of_directory(root, u"*.*"_s, rs, 1);
    return rs.rowcount();
}

void BM_of_directory(benchmark::State& state) {
    const QString root = scan_tree();
    warm_cache(root);
    long records = 0;
    for (auto _ : state) records = scan_once(root, static_cast<int>(state.range(0)));
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_of_directory)
    ->ArgName("threads")
    ->Arg(0)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly();

bool drop_page_cache() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return static_cast<bool>(drop);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The tools take turns inside each repetition, so a busy machine slows them alike; the
// median of the ratio is the figure to read. Arguments: read-ahead threads, cold or warm.
void BM_side_by_side(benchmark::State& state) {
    const QString root = scan_tree();
    const int threads = static_cast<int>(state.range(0));
    const bool cold = state.range(1) != 0;
    if (cold && ::geteuid() != 0) {
        state.SkipWithError("dropping the page cache needs root");
        return;
    }
    warm_cache(root);
    const std::string find = "find " + quoted(root) + " -printf '%s %B@ %p\\n' >/dev/null";
    const std::string fd = "fdfind -u . " + quoted(root) + " >/dev/null";
    const std::string fd_one = "fdfind -u -j1 . " + quoted(root) + " >/dev/null";
    const auto turn = [&] {
        if (cold) drop_page_cache();
    };
    double scan_s = 0, alone_s = 0, find_s = 0, fd_s = 0, fd_one_s = 0;
    for (auto _ : state) {
        turn();
        auto start = std::chrono::steady_clock::now();
        scan_once(root, threads);
        scan_s = seconds_since(start);
        turn();
        start = std::chrono::steady_clock::now();
        scan_once(root, 0);
        alone_s = seconds_since(start);
        turn();
        find_s = time_command(find);
        turn();
        fd_s = time_command(fd);
        turn();
        fd_one_s = time_command(fd_one);
        state.SetIterationTime(scan_s);
    }
    state.counters["of_directory_ms"] = scan_s * 1000;
    state.counters["without_read_ahead_ms"] = alone_s * 1000;
    state.counters["find_ms"] = find_s * 1000;
    state.counters["fdfind_ms"] = fd_s * 1000;
    state.counters["fdfind_j1_ms"] = fd_one_s * 1000;
    state.counters["ratio_to_find"] = scan_s / find_s;
    state.counters["ratio_without_to_find"] = alone_s / find_s;
}
BENCHMARK(BM_side_by_side)
    ->ArgNames({"threads", "cold"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({4, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly();
BENCHMARK(BM_side_by_side)
    ->ArgNames({"threads", "cold"})
    ->Args({2, 1})
    ->Args({8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

} // namespace

BENCHMARK_MAIN();
