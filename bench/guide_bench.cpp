// The programme guide with 2,000 channels of 500 programmes each: opening it (the model laid out
// and its search texts folded), one frame of scrolling the grid, a search, and the memory the
// model holds beside the channel records. Targets: open < 200 ms, frame < 16 ms, search < 100 ms,
// model < 150 MB.
#include "guide/guidemodel.h"
#include "ui/guidegrid.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>

namespace {

constexpr int kChannels = 2000;
constexpr int kProgrammes = 500;

const QStringList kTitles = {
    QStringLiteral("Tagesschau"),          QStringLiteral("Tatort: Der Fall Müller"),
    QStringLiteral("Der König der Löwen"), QStringLiteral("Wetten, dass..?"),
    QStringLiteral("Straßenfeger"),        QStringLiteral("Musik für Sie"),
    QStringLiteral("Café Größenwahn"),     QStringLiteral("Das große Backen"),
    QStringLiteral("Aktenzeichen XY"),     QStringLiteral("Die Sendung mit der Maus"),
};

qint64 benchNow() {
    return QDateTime(QDate(2024, 6, 1), QTime(20, 10)).toSecsSinceEpoch();
}

// The channel records as the EPG walk leaves them: lists from two hours ago, 10 to 60 minutes a
// programme, each title numbered, the descriptions shared as the receiver's repeats are.
QList<GuideChannel> bigGuide() {
    const QString info1 = QStringLiteral("Unterhaltung, D 2024");
    const QString info2 = QStringLiteral("Eine Folge mit allem, was dazugehört: Gäste, Musik und ein Rätsel.\n"
                                         "Moderation: Anna Schäfer. Mit Untertiteln.");
    QList<GuideChannel> rows;
    quint32 seed = 7;
    for (int c = 0; c < kChannels; ++c) {
        auto ch = std::make_shared<TChannel>();
        ch->Caption = QStringLiteral("%1. Channel %1").arg(c + 1);
        ch->Id = QString::number(0x43700000000LL + c, 16);
        ch->EPGLoaded = true;
        qint64 start = benchNow() - 7200 - (c % 7) * 300;
        ch->EPG.reserve(kProgrammes);
        for (int k = 0; k < kProgrammes; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const qint64 duration = 600 + (seed >> 8) % 3000;
            TChannelProgram p;
            p.Index = k;
            p.StartSec = start;
            p.EndSec = start + duration;
            p.StartTime = 45000;
            p.Title = kTitles[(c + k) % kTitles.size()] + QStringLiteral(" (%1)").arg(k);
            p.Info1 = info1;
            p.Info2 = info2;
            ch->EPG.append(std::move(p));
            start += duration;
        }
        ch->EPGCount = kProgrammes;
        rows.append({ch, {}, -1});
    }
    return rows;
}

const QList<GuideChannel>& guideRows() {
    static const QList<GuideChannel> rows = bigGuide();
    return rows;
}

double heapMb() {
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Opening: every row laid out and its titles folded for the search (CPU time of both threads).
// Memory is the heap the model holds after it, beside the records.
void BM_GuideOpen(benchmark::State& state) {
    const QList<GuideChannel>& rows = guideRows();
    double modelMb = 0;
    for (auto _ : state) {
        const double before = heapMb();
        GuideModel model;
        model.setRows(rows, benchNow());
        modelMb = heapMb() - before;
        benchmark::DoNotOptimize(model.rowCount());
        state.counters["model_MB"] = modelMb;
        state.counters["model_own_MB"] = static_cast<double>(model.bytes()) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_GuideOpen)->Unit(benchmark::kMillisecond)->Iterations(5)->MeasureProcessCPUTime();

// The poll while the guide is open (every second), when nothing changed.
void BM_GuideRefreshUnchanged(benchmark::State& state) {
    GuideModel model;
    model.setRows(guideRows(), benchNow());
    for (auto _ : state)
        benchmark::DoNotOptimize(model.refresh());
}
BENCHMARK(BM_GuideRefreshUnchanged)->Unit(benchmark::kMicrosecond);

// One frame of the grid at 1280 x 720 after a scroll step: a page of channels down and half an
// hour on, drawn into an image.
void BM_GuideScrollFrame(benchmark::State& state) {
    GuideModel model;
    model.setRows(guideRows(), benchNow());
    quoxel::GuideGrid grid;
    grid.resize(1280, 720);
    grid.setNow(benchNow());
    grid.setModel(&model);
    grid.show();
    QImage img(grid.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        QScrollBar* v = grid.verticalScrollBar();
        QScrollBar* h = grid.horizontalScrollBar();
        v->setValue(v->value() >= v->maximum() ? 0 : v->value() + v->pageStep());
        h->setValue((++step % 40) * GuideTimeAxis::kPixelsPerHour / 2);
        grid.viewport()->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["rows_in_view"] = grid.lastVisibleRow() - grid.firstVisibleRow() + 1;
}
BENCHMARK(BM_GuideScrollFrame)->Unit(benchmark::kMillisecond);

// A title search typed without the umlaut, and one that matches a tenth of all programmes.
void BM_GuideSearch(benchmark::State& state) {
    GuideModel model;
    model.setRows(guideRows(), benchNow());
    const QString query = state.range(0) == 0 ? QStringLiteral("koenig loewen (123)") : QStringLiteral("tatort");
    int total = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(model.search(query, false, 500, &total));
    state.counters["found"] = total;
}
BENCHMARK(BM_GuideSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same with descriptions: the first search folds them (its time and memory are reported once),
// later ones only search.
void BM_GuideSearchDescriptions(benchmark::State& state) {
    GuideModel model;
    model.setRows(guideRows(), benchNow());
    const double before = heapMb();
    QElapsedTimer first;
    first.start();
    int total = 0;
    model.search(QStringLiteral("raetsel schaefer"), true, 500, &total);
    state.counters["first_ms"] = static_cast<double>(first.elapsed());
    state.counters["descriptions_MB"] = heapMb() - before;
    for (auto _ : state)
        benchmark::DoNotOptimize(model.search(QStringLiteral("raetsel schaefer"), true, 500, &total));
    state.counters["found"] = total;
}
BENCHMARK(BM_GuideSearchDescriptions)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::fprintf(stderr, "guide: %d channels x %d programmes, records built (heap %.0f MB)\n", kChannels, kProgrammes,
                 (guideRows(), heapMb()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
