// Settings and log costs: ini load and save, and the per-line cost of a long log.
#include "core/inifile.h"
#include "core/log.h"
#include "core/options.h"
#include "core/settingsstore.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

static void BM_SettingsLoad(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quoxel.ini"));
    {
        SettingsStore s(path);
        s.SaveSettings();
    }
    SettingsStore store(path);
    TOptions o;
    for (auto _ : state)
        store.LoadSettings(o);
}
BENCHMARK(BM_SettingsLoad);

static void BM_SettingsSave(benchmark::State& state) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("Quoxel.ini")));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.SaveSettings());
}
BENCHMARK(BM_SettingsSave);

// Cost of 1000 lines after `range(0)` lines already written: stays flat as the log grows.
static void BM_LogLinesAfter(benchmark::State& state) {
    QTemporaryDir dir;
    Logger log(dir.filePath(QStringLiteral("Quoxel.log")));
    const QString text = QStringLiteral("http://192.168.0.10:80/control/epg?id=12345678");
    for (int i = 0; i < state.range(0); ++i)
        log.log(LogHttp, text);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            log.log(LogHttp, text);
    }
}
BENCHMARK(BM_LogLinesAfter)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
