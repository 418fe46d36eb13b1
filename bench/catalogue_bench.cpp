// Loading and searching the benchmarks' catalogue (1M records, QM_BENCH_RECORDS for more),
// beside iconv, cat and rg on the same data.
#include "bench/bench_support.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/catalogue_loading.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "search/core/query_engine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <unistd.h>

namespace {

void BM_load_catalogue_file(benchmark::State& state) {
    const QString path = bench_catalogue_file();
    long rows = 0;
    for (auto _ : state) {
        record_set rs;
        import_catalogue_file(rs, path);
        rows = rs.rowcount();
    }
    state.counters["records"] = static_cast<double>(rows);
}
BENCHMARK(BM_load_catalogue_file)->Unit(benchmark::kMillisecond)->Iterations(3);

// The start-up load: the catalogue file in a program folder, snapshots in a cache folder.
struct start_folders {
    QTemporaryDir program{QDir::tempPath() + QStringLiteral("/qm_start_XXXXXX")};
    QTemporaryDir cache{QDir::tempPath() + QStringLiteral("/qm_cache_XXXXXX")};
    start_folders() {
        QFile::link(QFileInfo(bench_catalogue_file()).absoluteFilePath(),
                    program.filePath(catalogue_file_name));
    }
    // Until the catalogue answers every condition but the pinyin ones; those wait for the key
    // built meanwhile, whose time is added to `key_ready_ms`.
    long load(benchmark::State* state = nullptr, double* key_ready_ms = nullptr) const {
        QElapsedTimer clock;
        clock.start();
        auto rs = std::make_unique<record_set>();
        load_catalogue(*rs, program.path() + QLatin1Char('/'), cache.path());
        const long rows = rs->rowcount();
        if (state) state->PauseTiming();
        rs->await_pinyin_key();
        if (key_ready_ms) *key_ready_ms += static_cast<double>(clock.nsecsElapsed()) / 1e6;
        rs->finish_background_work(); // the snapshot, when one is written
        rs.reset();
        ::sync(); // its write-back is not the next turn's cost
        if (state) state->ResumeTiming();
        return rows;
    }
};

// No snapshot yet: the file is hashed and parsed; the snapshot is written afterwards.
void BM_start_without_snapshot(benchmark::State& state) {
    long rows = 0;
    double key_ready_ms = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto f = std::make_unique<start_folders>();
        state.ResumeTiming();
        rows = f->load(&state, &key_ready_ms);
        // Removing the turn's folders (and the snapshot in them) is no start's cost.
        state.PauseTiming();
        f.reset();
        state.ResumeTiming();
    }
    state.counters["records"] = static_cast<double>(rows);
    state.counters["key_ready_ms"] = key_ready_ms / static_cast<double>(state.iterations());
}
BENCHMARK(BM_start_without_snapshot)->Unit(benchmark::kMillisecond)->Iterations(2);

// The snapshot matches: read it while the file is hashed.
void BM_start_from_snapshot(benchmark::State& state) {
    start_folders f;
    f.load();
    long rows = 0;
    double key_ready_ms = 0;
    for (auto _ : state) rows = f.load(&state, &key_ready_ms);
    state.counters["records"] = static_cast<double>(rows);
    state.counters["key_ready_ms"] = key_ready_ms / static_cast<double>(state.iterations());
}
BENCHMARK(BM_start_from_snapshot)->Unit(benchmark::kMillisecond)->Iterations(3);

// What start-up loading does: the file, then the in-memory pinyin key.
void BM_load_catalogue_file_and_key(benchmark::State& state) {
    const QString path = bench_catalogue_file();
    long rows = 0;
    for (auto _ : state) {
        record_set rs;
        import_catalogue_file(rs, path);
        rs.build_pinyin_key();
        rows = rs.rowcount();
    }
    state.counters["records"] = static_cast<double>(rows);
}
BENCHMARK(BM_load_catalogue_file_and_key)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_build_pinyin_key(benchmark::State& state) {
    record_set& rs = loaded_catalogue();
    for (auto _ : state) rs.build_pinyin_key();
    const auto& storage = rs.storage();
    long long name_units = 0;
    for (long r = 1; r <= rs.rowcount(); ++r)
        name_units += rs.getitemstring(r, col_filename).size();
    state.counters["key_bytes_per_record"] =
        static_cast<double>(storage.pinyin_key_bytes()) / static_cast<double>(rs.rowcount());
    state.counters["name_chars_per_record"] =
        static_cast<double>(name_units) / static_cast<double>(rs.rowcount());
}
BENCHMARK(BM_build_pinyin_key)->Unit(benchmark::kMillisecond)->Iterations(3);

void run_command(benchmark::State& state, const std::string& command) {
    for (auto _ : state) state.SetIterationTime(time_command(command));
}

void BM_iconv_same_file(benchmark::State& state) {
    run_command(state,
                "iconv -f UTF-16LE -t UTF-8 " + quoted(bench_catalogue_file()) + " >/dev/null");
}
BENCHMARK(BM_iconv_same_file)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_cat_same_file(benchmark::State& state) {
    run_command(state, "cat " + quoted(bench_catalogue_file()) + " >/dev/null");
}
BENCHMARK(BM_cat_same_file)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void query(benchmark::State& state, const char16_t* expression) {
    record_set& rs = loaded_catalogue();
    for (auto _ : state) {
        rs.setfilter(QStringView(expression));
        rs.filter();
    }
    state.counters["matches"] = static_cast<double>(rs.rowcount());
    rs.setfilter(u"");
    rs.filter();
}

void BM_query_name_chinese(benchmark::State& state) {
    query(state, u"filenamewithno like '%' +'爱人' + '%'");
}
void BM_query_name_latin(benchmark::State& state) {
    query(state, u"filenamewithno like '%' +'love' + '%'");
}
void BM_query_number(benchmark::State& state) {
    query(state, u"filenamewithno like '%' +'1002' + '%'");
}
void BM_query_pinyin(benchmark::State& state) {
    query(state, u"pinyinma like '%' +'wd' + '%'");
}
void planned(benchmark::State& state, const char16_t* condition) {
    const query_plan plan = plan_query(QStringView(condition));
    const QString filter = plan.filter.value_or(QString());
    query(state, reinterpret_cast<const char16_t*>(filter.utf16()));
}
void BM_query_fuzzy_blank(benchmark::State& state) {
    planned(state, u"我的 爱人");
}
void BM_query_several_numbers(benchmark::State& state) {
    planned(state, u" 1002 2003 3004");
}
void BM_query_show_all(benchmark::State& state) {
    query(state, u"");
}
BENCHMARK(BM_query_fuzzy_blank)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_several_numbers)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_show_all)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

// What a pinyin condition runs now: the stored initials or the key.
void pinyin_query(benchmark::State& state, const QString& typed) {
    static const bool keyed = [] {
        loaded_catalogue().build_pinyin_key();
        return true;
    }();
    (void)keyed;
    // The filter the query engine sets for this condition on this catalogue.
    const query_plan plan = plan_query(typed);
    const bool key_alone =
        plan.key_only_filter && loaded_catalogue().storage().pinyin_key_answers_alone();
    const QString e = key_alone ? *plan.key_only_filter : *plan.filter;
    state.counters["key_alone"] = key_alone ? 1 : 0;
    query(state, reinterpret_cast<const char16_t*>(e.utf16()));
}
void BM_query_pinyin_or_key_wd(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("wd"));
}
void BM_query_pinyin_or_key_yy(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("yy"));
}
void BM_query_pinyin_or_key_wdar(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("wdar"));
}
// Full and mixed pinyin: what the same conditions run when typed whole.
void BM_query_full_pinyin_wodeairen(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("wodeairen"));
}
void BM_query_full_pinyin_wodear(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("wodear"));
}
void BM_query_full_pinyin_yinyue(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("yinyue"));
}
// A Latin word that is also read as pinyin, and whole syllables typed alone.
void BM_query_full_pinyin_love(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("love"));
}
void BM_query_syllable_ai(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("ai"));
}
void BM_query_syllable_ni(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("ni"));
}
void BM_query_syllable_ge(benchmark::State& state) {
    pinyin_query(state, QStringLiteral("ge"));
}
void BM_query_pictures(benchmark::State& state) {
    query(state, u"fileext = '.jpg' or  fileext = '.jpeg' or  fileext = '.bmp' or  fileext = "
                 u"'.gif' or  fileext = '.rle' or  fileext = '.wmf' ");
}
BENCHMARK(BM_query_name_chinese)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_name_latin)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_number)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_query_pinyin)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();
BENCHMARK(BM_query_pinyin_or_key_wd)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_pinyin_or_key_yy)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_pinyin_or_key_wdar)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_full_pinyin_wodeairen)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_full_pinyin_wodear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_full_pinyin_yinyue)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_full_pinyin_love)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_syllable_ai)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_syllable_ni)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_syllable_ge)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_query_pictures)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

void rg(benchmark::State& state, const std::string& needle) {
    run_command(state,
                "rg -F -c '" + needle + "' " + quoted(bench_names_utf8_file()) + " >/dev/null");
}
void BM_rg_name_chinese(benchmark::State& state) {
    rg(state, "爱人");
}
void BM_rg_name_latin(benchmark::State& state) {
    rg(state, "love");
}
void BM_rg_pinyin(benchmark::State& state) {
    rg(state, "wd");
}
BENCHMARK(BM_rg_name_chinese)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_rg_name_latin)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(15)
    ->ReportAggregatesOnly();
BENCHMARK(BM_rg_pinyin)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(15)
    ->ReportAggregatesOnly();

// Resident memory the loaded catalogue costs per record, beside the text it holds.
void BM_memory_per_record(benchmark::State& state) {
    const QString path = bench_catalogue_file();
    double per_record = 0, text_per_record = 0, store_per_record = 0;
    for (auto _ : state) {
        const long long before = resident_bytes();
        auto rs = std::make_unique<record_set>();
        import_catalogue_file(*rs, path);
        const long long after = resident_bytes();
        const long n = rs->rowcount();
        long long text_units = 0;
        for (long r = 1; r <= n; ++r)
            for (const int c :
                 {col_filename, col_fileext, col_filepath, col_pinyinma, col_filenamewithno})
                text_units += rs->getitemstring(r, c).size();
        per_record = static_cast<double>(after - before) / n;
        text_per_record = static_cast<double>(text_units * 2) / n;
        store_per_record = static_cast<double>(rs->storage().memory_bytes()) / n;
    }
    state.counters["rss_bytes_per_record"] = per_record;
    state.counters["text_bytes_per_record"] = text_per_record;
    state.counters["rss_minus_text"] = per_record - text_per_record;
    state.counters["storage_bytes_per_record"] = store_per_record;
}
BENCHMARK(BM_memory_per_record)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
