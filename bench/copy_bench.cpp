// Block copy against the system's cp on the same 1 GiB file, in one run.
// Each copy starts with the source in the page cache, the old target removed and nothing
// left to write back; synced:0 stops the clock when the copy returns, synced:1 once the data
// has reached the disk.
#include "retrieval/gf_copyfile_block.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 file_size = qint64{1} << 30;

class counting_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString& message) override { last = message; }
    bool ib_stop() const override { return false; }
    void process_events() override { ++pumps; }
    QString last;
    long pumps = 0;
};

// One source for the whole run, deleted with its folder at exit. QM_BENCH_DIR picks the disk.
struct bench_files {
    bench_files()
        : dir((qEnvironmentVariableIsSet("QM_BENCH_DIR") ? qEnvironmentVariable("QM_BENCH_DIR")
                                                         : QDir::tempPath()) +
              QStringLiteral("/copy_bench_XXXXXX")) {
        if (!dir.isValid()) throw std::runtime_error("no temporary folder");
        source = dir.filePath(QStringLiteral("source.bin"));
        target = dir.filePath(QStringLiteral("下载测试文件.bin"));
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
    }
    QTemporaryDir dir;
    QString source;
    QString target;
};

bench_files& files() {
    static bench_files f;
    return f;
}

void run_cp(const QString& from, const QString& to) {
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    char cp[] = "cp";
    char* argv[] = {cp, const_cast<char*>(a.constData()), const_cast<char*>(b.constData()),
                    nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start cp");
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cp failed");
}

template <typename Copy> void timed_copies(benchmark::State& state, Copy copy) {
    bench_files& f = files();
    const bool synced = state.range(0) != 0;
    for (auto _ : state) {
        QFile::remove(f.target);
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        copy(f);
        if (synced) ::sync();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    QFile::remove(f.target);
    state.SetBytesProcessed(state.iterations() * file_size);
}

void BM_gf_copyfile_block(benchmark::State& state) {
    counting_feedback feedback;
    timed_copies(state, [&](bench_files& f) {
        if (!gf_copyfile_block(f.source, f.target, true, feedback))
            throw std::runtime_error("copy failed");
    });
    state.counters["pumps"] = static_cast<double>(feedback.pumps);
}

void BM_cp(benchmark::State& state) {
    timed_copies(state, [](bench_files& f) { run_cp(f.source, f.target); });
}

// One copy per repetition, the repetitions of all four shuffled together, so that the bursts
// of a shared machine (other jobs, memory handed back to the host) fall on both tools alike.
// The median is the typical copy, the minimum the tool's own cost.
void one_copy_each(benchmark::internal::Benchmark* b) {
    b->ArgName("synced")->UseManualTime()->Iterations(1);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}
BENCHMARK(BM_gf_copyfile_block)->Arg(0)->Apply(one_copy_each)->Repetitions(15);
BENCHMARK(BM_cp)->Arg(0)->Apply(one_copy_each)->Repetitions(15);
BENCHMARK(BM_gf_copyfile_block)->Arg(1)->Apply(one_copy_each)->Repetitions(9);
BENCHMARK(BM_cp)->Arg(1)->Apply(one_copy_each)->Repetitions(9);

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
