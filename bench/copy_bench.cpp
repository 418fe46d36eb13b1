// Block copy against the system's cp followed by sync, on the same 512 MiB file, in one run,
// onto three targets: a folder of the local disk and two cards (an ext4 and an exFAT image
// behind a loop device with direct I/O, as the tests use; need root, skipped otherwise). The copy
// returns only once the file is on the device (and, with read-back, read back from it), so both
// clocks stop when the data is there. Each copy starts with the source in the page cache and
// the old target removed and synced. A download of 200 files of 4 MiB onto the ext4 card is
// set against cp of the same files followed by sync.
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "retrieval/core/download_controller.h"
#include "retrieval/core/gf_copyfile_block.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 file_size = qint64{512} << 20;

class counting_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString& message) override { last = message; }
    bool ib_stop() const override { return false; }
    void process_events() override { ++pumps; }
    QString last;
    long pumps = 0;
};

QString bench_root() {
    return qEnvironmentVariableIsSet("QM_BENCH_DIR") ? qEnvironmentVariable("QM_BENCH_DIR")
                                                     : QDir::tempPath();
}

bool run(const QString& program, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(600'000) || p.exitStatus() != QProcess::NormalExit) return false;
    if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitCode() == 0;
}

// A card image behind a direct-I/O loop device, mounted for the whole run; exFAT goes
// through FUSE, as this kernel has no exFAT driver.
struct loop_card {
    explicit loop_card(bool exfat) : dir(bench_root() + QStringLiteral("/copy_bench_card_XXXXXX")) {
        if (::geteuid() != 0) return;
        image = dir.filePath(QStringLiteral("card.img"));
        mount_point = dir.filePath(QStringLiteral("card"));
        QDir().mkpath(mount_point);
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(file_size * 4)) return;
        f.close();
        if (!run(QStringLiteral("losetup"),
                 {QStringLiteral("-f"), QStringLiteral("--show"), QStringLiteral("--direct-io=on"),
                  image},
                 &device))
            return;
        if (!(exfat ? run(QStringLiteral("mkfs.exfat"), {device})
                    : run(QStringLiteral("mkfs.ext4"),
                          {QStringLiteral("-q"), QStringLiteral("-F"), device})))
            return;
        QStringList args{device, mount_point};
        if (exfat) args = QStringList{QStringLiteral("-t"), QStringLiteral("exfat-fuse")} + args;
        mounted = run(QStringLiteral("mount"), args);
    }
    ~loop_card() {
        if (mounted) run(QStringLiteral("umount"), {mount_point});
        if (!device.isEmpty()) run(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
    }
    QTemporaryDir dir;
    QString image;
    QString mount_point;
    QString device;
    bool mounted = false;
};

// One source for the whole run, deleted with its folder at exit. QM_BENCH_DIR picks the disk.
struct bench_files {
    bench_files() : dir(bench_root() + QStringLiteral("/copy_bench_XXXXXX")) {
        if (!dir.isValid()) throw std::runtime_error("no temporary folder");
        source = dir.filePath(QStringLiteral("source.bin"));
        local_target = dir.filePath(QStringLiteral("下载测试文件.bin"));
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot create source");
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        quint64 x = 88172645463325252ull;
        for (qint64 written = 0; written < file_size; written += chunk.size()) {
            for (char& c : chunk) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                c = static_cast<char>(x);
            }
            if (f.write(chunk) != chunk.size()) throw std::runtime_error("cannot write source");
        }
        f.close();
        ::sync();
        if (card.mounted) card_target = card.mount_point + QStringLiteral("/下载测试文件.bin");
        if (exfat_card.mounted)
            exfat_target = exfat_card.mount_point + QStringLiteral("/下载测试文件.bin");
    }
    QTemporaryDir dir;
    QString source;
    QString local_target;
    loop_card card{false};
    loop_card exfat_card{true};
    QString card_target;
    QString exfat_target;
};

bench_files& files() {
    static bench_files f;
    return f;
}

void run_tool(std::vector<const char*> argv) {
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) !=
        0)
        throw std::runtime_error("cannot start a tool");
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("tool failed");
}

// target:0 the local disk, target:1 the ext4 card, target:2 the exFAT card.
template <typename Copy> void timed_copies(benchmark::State& state, Copy copy) {
    bench_files& f = files();
    const QString target = state.range(0) == 0   ? f.local_target
                           : state.range(0) == 1 ? f.card_target
                                                 : f.exfat_target;
    if (target.isEmpty()) {
        state.SkipWithError("no card: mounting a loop device needs root");
        for (auto _ : state) {
        }
        return;
    }
    for (auto _ : state) {
        QFile::remove(target);
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        copy(f.source, target);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    QFile::remove(target);
    ::sync();
    state.SetBytesProcessed(state.iterations() * file_size);
}

// read_back:1 reads every block back from the card before the copy counts.
void BM_gf_copyfile_block(benchmark::State& state) {
    counting_feedback feedback;
    copy_options options;
    options.read_back = state.range(1) != 0;
    timed_copies(state, [&](const QString& from, const QString& to) {
        if (copy_file_block(from, to, true, feedback, options) != copy_failure::none)
            throw std::runtime_error("copy failed");
    });
    state.counters["pumps"] = static_cast<double>(feedback.pumps);
}

// cp, then sync of the target's file system (-f): what a user types to be sure.
void BM_cp_then_sync(benchmark::State& state) {
    timed_copies(state, [](const QString& from, const QString& to) {
        const QByteArray a = QFile::encodeName(from);
        const QByteArray b = QFile::encodeName(to);
        run_tool({"cp", a.constData(), b.constData()});
        run_tool({"sync", "-f", b.constData()});
    });
}

// One copy per repetition, the repetitions of all shuffled together, so that the bursts of a
// shared machine (other jobs, memory handed back to the host) fall on both tools alike.
// The median is the typical copy, the minimum the tool's own cost.
void one_copy_each(benchmark::internal::Benchmark* b) {
    b->ArgName("target")->UseManualTime()->Iterations(1)->Repetitions(7);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}
void with_read_back(benchmark::internal::Benchmark* b) {
    b->ArgNames({"target", "read_back"})->UseManualTime()->Iterations(1)->Repetitions(7);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}
BENCHMARK(BM_gf_copyfile_block)->Args({0, 1})->Args({0, 0})->Apply(with_read_back);
BENCHMARK(BM_cp_then_sync)->Arg(0)->Apply(one_copy_each);
BENCHMARK(BM_gf_copyfile_block)->Args({1, 1})->Args({1, 0})->Apply(with_read_back);
BENCHMARK(BM_cp_then_sync)->Arg(1)->Apply(one_copy_each);
BENCHMARK(BM_gf_copyfile_block)->Args({2, 1})->Args({2, 0})->Apply(with_read_back);
BENCHMARK(BM_cp_then_sync)->Arg(2)->Apply(one_copy_each);

// 200 files of 4 MiB, cut from the source, as a listing the user downloads at once.
struct small_files {
    small_files() {
        bench_files& f = files();
        QFile source(f.source);
        if (!source.open(QIODevice::ReadOnly)) throw std::runtime_error("no source");
        QDir().mkpath(f.dir.filePath(QStringLiteral("small")));
        for (int i = 0; i < 200; ++i) {
            const QString path =
                f.dir.filePath(QStringLiteral("small/歌曲%1.mp3").arg(i, 3, 10, QLatin1Char('0')));
            QFile out(path);
            const QByteArray bytes = source.read(qint64{4} << 20);
            if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
                throw std::runtime_error("cannot write a small file");
            paths.push_back(path);
            const long r = rows.insertrow(0);
            rows.set_text(r, col_filename,
                          QStringLiteral("歌曲%1").arg(i, 3, 10, QLatin1Char('0')));
            rows.set_text(r, col_fileext, QStringLiteral(".mp3"));
            rows.set_text(r, col_filepath, path);
        }
        ::sync();
    }
    std::vector<QString> paths;
    record_set rows;
};

small_files& small() {
    static small_files s;
    return s;
}

// Empties the card's folder of the small files, on the device too.
void clear_folder(const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    ::sync();
}

// Times `run(folder)` into an emptied folder of the ext4 card, the files' sources cached.
template <typename Run> void timed_runs_onto_card(benchmark::State& state, Run run) {
    bench_files& f = files();
    if (!f.card.mounted) {
        state.SkipWithError("no card: mounting a loop device needs root");
        for (auto _ : state) {
        }
        return;
    }
    small();
    const QString folder = f.card.mount_point + QStringLiteral("/下载/");
    for (auto _ : state) {
        clear_folder(folder);
        const auto start = std::chrono::steady_clock::now();
        run(folder);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    clear_folder(folder);
    state.SetBytesProcessed(state.iterations() * 200 * (qint64{4} << 20));
}

void BM_download_all(benchmark::State& state) {
    counting_feedback feedback;
    timed_runs_onto_card(state, [&](const QString& folder) {
        download_hooks hooks;
        hooks.choose_folder = [&](const QString&) { return folder; };
        hooks.message = [](const QString&, const QString& text) {
            throw std::runtime_error(text.toStdString());
        };
        download_controller downloads(files().dir.filePath(QStringLiteral("default/")), hooks,
                                      feedback);
        downloads.select_custom_dir();
        downloads.set_read_back(state.range(0) != 0);
        if (downloads.download_all(small().rows) != 1) throw std::runtime_error("download failed");
    });
}

void BM_cp_files_then_sync(benchmark::State& state) {
    std::vector<QByteArray> names;
    for (const QString& p : small().paths) names.push_back(QFile::encodeName(p));
    timed_runs_onto_card(state, [&](const QString& folder) {
        const QByteArray target = QFile::encodeName(folder);
        std::vector<const char*> argv{"cp"};
        for (const QByteArray& n : names) argv.push_back(n.constData());
        argv.push_back(target.constData());
        run_tool(argv);
        run_tool({"sync", "-f", target.constData()});
    });
}

void one_run_each(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Iterations(1)->Repetitions(5);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}
BENCHMARK(BM_download_all)->ArgName("read_back")->Arg(1)->Arg(0)->Apply(one_run_each);
BENCHMARK(BM_cp_files_then_sync)->Apply(one_run_each);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
