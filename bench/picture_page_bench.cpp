// A page of 100 thumbnails of real ~1 MB JPEG photos: time to a full page, and how long the
// user interface waits at most between two of its turns meanwhile. For comparison, the same
// 100 thumbnails made by ImageMagick's convert (with its own scaled JPEG decoding).
#include "bench/bench_support.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/record_set.h"
#include "retrieval/ui/d_file_pic_view.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <string>

namespace {

constexpr int page_size = 100;

// Photos of 2400 x 1800 with smooth shapes and grain: 0.9 to 1.0 MB each, so every one is
// decoded (more than 1.00 MB would show the placeholder).
// Made once; kept under /tmp for later runs.
QString photo_folder() {
    static const QString folder = [] {
        const QString dir = QDir::tempPath() + QStringLiteral("/quellmark_bench_photos");
        QDir().mkpath(dir);
        QRandomGenerator rng(7);
        for (int n = 1; n <= page_size; ++n) {
            const QString path =
                dir + QStringLiteral("/photo_%1.jpg").arg(n, 3, 10, QLatin1Char('0'));
            if (QFileInfo::exists(path)) continue;
            QImage img(2400, 1800, QImage::Format_RGB32);
            QPainter p(&img);
            QLinearGradient g(0, 0, img.width(), img.height());
            g.setColorAt(0, QColor::fromHsv((n * 37) % 360, 120, 230));
            g.setColorAt(1, QColor::fromHsv((n * 37 + 140) % 360, 180, 90));
            p.fillRect(img.rect(), g);
            p.setRenderHint(QPainter::Antialiasing);
            for (int s = 0; s < 60; ++s) {
                p.setBrush(QColor::fromHsv(rng.bounded(360), 150, 200, 140));
                p.setPen(Qt::NoPen);
                p.drawEllipse(QPointF(rng.bounded(2400), rng.bounded(1800)), rng.bounded(40, 400),
                              rng.bounded(40, 400));
            }
            p.end();
            for (int y = 0; y < img.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < img.width(); ++x) {
                    const int d = static_cast<int>(rng.bounded(24)) - 12;
                    const QRgb c = line[x];
                    line[x] =
                        qRgb(std::clamp(qRed(c) + d, 0, 255), std::clamp(qGreen(c) + d, 0, 255),
                             std::clamp(qBlue(c) + d, 0, 255));
                }
            }
            img.save(path, "JPG", 84);
        }
        return dir;
    }();
    return folder;
}

// The result list of the 100 photos, sized as the catalogue would have them.
void fill_rows(record_set& rows) {
    const QString dir = photo_folder();
    for (int n = 1; n <= page_size; ++n) {
        const QString name = QStringLiteral("photo_%1").arg(n, 3, 10, QLatin1Char('0'));
        const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".jpg");
        const long r = rows.insertrow();
        rows.set_text(r, col_filepath, path);
        rows.set_text(r, col_filename, name);
        rows.set_text(r, col_fileext, QStringLiteral(".jpg"));
        rows.set_decimal(
            r, col_filesizedec,
            decimal2::from_double(static_cast<double>(QFileInfo(path).size()) / 1048576.0));
    }
}

void BM_picture_page(benchmark::State& state) {
    record_set rows;
    fill_rows(rows);
    double megabytes = 0;
    for (long r = 1; r <= rows.rowcount(); ++r)
        megabytes += rows.get_decimal(r, col_filesizedec)->to_double();

    d_file_pic_view view;
    view.set_rows(&rows);
    view.resize(620, 700);
    view.show();

    // A zero timer runs at every turn of the event loop: the gaps between its runs are how
    // long a click or a repaint would have waited.
    QElapsedTimer clock;
    qint64 last_turn = 0;
    qint64 longest_gap = 0;
    long turns = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest_gap = std::max(longest_gap, now - last_turn);
        last_turn = now;
        ++turns;
    });

    qint64 worst_gap = 0;
    for (auto _ : state) {
        clock.start();
        last_turn = 0;
        longest_gap = 0;
        turn.start();
        const int result = view.of_load_pic(page_size, 1);
        turn.stop();
        longest_gap = std::max(longest_gap, clock.nsecsElapsed() - last_turn);
        worst_gap = std::max(worst_gap, longest_gap);
        if (result != 1) state.SkipWithError("page did not load");
        for (int k = 1; k <= page_size; ++k)
            if (view.slot(k)->shows() != pic_slot::kind::picture || view.slot(k)->image().isNull())
                state.SkipWithError("a slot shows no decoded photo");
    }
    state.counters["files_MB"] = megabytes;
    state.counters["longest_gap_ms"] = static_cast<double>(worst_gap) / 1e6;
    state.counters["turns_per_page"] =
        static_cast<double>(turns) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_picture_page)->Unit(benchmark::kMillisecond)->Iterations(5);

// One photo decoded to a slot's thumbnail, without the panel.
void BM_read_thumbnail(benchmark::State& state) {
    const QString path = photo_folder() + QStringLiteral("/photo_001.jpg");
    for (auto _ : state)
        benchmark::DoNotOptimize(read_thumbnail(path, d_file_pic_view::thumbnail_size()));
}
BENCHMARK(BM_read_thumbnail)->Unit(benchmark::kMillisecond);

// The same 100 thumbnails by ImageMagick, one process per picture as a file manager would.
void BM_picture_page_imagemagick(benchmark::State& state) {
    const std::string dir = photo_folder().toStdString();
    const std::string command = "for f in '" + dir +
                                "'/photo_*.jpg; do convert -define jpeg:size=258x312 \"$f\" "
                                "-thumbnail 129x156 /tmp/quellmark_bench_thumb.jpg || exit 1; done";
    for (auto _ : state) {
        const double seconds = time_command(command);
        if (seconds < 0) {
            state.SkipWithError("convert failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_picture_page_imagemagick)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
