// Settings and log costs: ini load and save, and the per-line cost of a long log. Memory: freed
// pages handed back to the system, the allocator's arenas across threads and large blocks mapped
// on their own (printed as counters, in MB where sizes).
#include "core/freememory.h"
#include "core/inifile.h"
#include "core/log.h"
#include "core/options.h"
#include "core/settingsstore.h"
#include "support/memoryburst.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

namespace {

constexpr double kMB = 1024.0 * 1024.0;

#ifdef __GLIBC__
// The arenas the allocator has made so far, from its own report.
int arenaCount() {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (!f)
        return -1;
    malloc_info(0, f);
    std::fclose(f);
    int count = 0;
    for (const char* p = text; (p = std::strstr(p, "<heap nr=")) != nullptr; ++p)
        ++count;
    std::free(text);
    return count;
}
#endif

} // namespace

// A burst of answer-sized pieces freed on a worker thread, pinned so the allocator cannot give the
// pages back by itself: what ReturnFreeMemory hands back (the time is that call's), whether it
// leaves things alone below its threshold and when nothing more became free, and the same after
// the memory was used again. Expect returned_mb and again_returned_mb near 60, the flags 0.
static void BM_FreedBurstGoesBack(benchmark::State& state) {
    constexpr std::size_t kPieces = 16000;
    constexpr std::size_t kPieceSize = 4096;
    for (auto _ : state) {
        void* pin = burstOnAThread(kPieces, kPieceSize);
        state.counters["free_mb"] = double(allocatorFreeBytes()) / kMB;
        state.counters["below_threshold_acted"] = ReturnFreeMemory(1ll << 40);
        const std::int64_t before = residentBytes();
        const auto start = std::chrono::steady_clock::now();
        const bool returned = ReturnFreeMemory();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const std::int64_t after = residentBytes();
        state.counters["acted"] = returned;
        state.counters["returned_mb"] = double(before - after) / kMB;
        state.counters["nothing_new_acted"] = ReturnFreeMemory();
        std::free(pin);
        pin = burstOnAThread(kPieces, kPieceSize);
        const std::int64_t refilled = residentBytes();
        state.counters["again_acted"] = ReturnFreeMemory();
        state.counters["again_returned_mb"] = double(refilled - residentBytes()) / kMB;
        std::free(pin);
    }
}
BENCHMARK(BM_FreedBurstGoesBack)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

#ifdef __GLIBC__
// Eight threads alive at once, each allocating, as the engine's are during a switch: without the
// cap each would get an arena of its own. Expect arenas_during at most max(arenas_before, cap).
static void BM_ArenasAcrossThreads(benchmark::State& state) {
    if (std::getenv("MALLOC_ARENA_MAX")) {
        state.SkipWithError("the environment sets the cap");
        return;
    }
    TuneAllocator();
    constexpr int kThreads = 8;
    for (auto _ : state) {
        const int before = arenaCount();
        std::atomic<int> holding{0};
        std::atomic<bool> release{false};
        std::vector<std::thread> threads;
        for (int k = 0; k < kThreads; ++k) {
            threads.emplace_back([&] {
                void* p = std::malloc(1000);
                std::memset(p, 1, 1000);
                ++holding;
                for (int i = 0; i < 5000 && !release.load(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::free(p);
            });
        }
        for (int i = 0; i < 5000 && holding.load() < kThreads; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int during = arenaCount();
        state.counters["threads_holding"] = holding.load();
        release = true;
        for (std::thread& t : threads)
            t.join();
        state.counters["arenas_before"] = before;
        state.counters["arenas_during"] = during;
        state.counters["arena_cap"] = kAllocatorArenas;
    }
}
BENCHMARK(BM_ArenasAcrossThreads)->Unit(benchmark::kMillisecond)->Iterations(1);

// A large block after an earlier, larger one is still mapped on its own and goes back when freed:
// left alone the allocator would raise its threshold to the first one's size. Expect later_mapped_mb
// at 4 and after_free_mapped_mb at 0.
static void BM_LargeBlocksMappedOnTheirOwn(benchmark::State& state) {
    if (std::getenv("MALLOC_MMAP_THRESHOLD_")) {
        state.SkipWithError("the environment sets the threshold");
        return;
    }
    TuneAllocator();
    constexpr std::size_t kFirst = 16u << 20;
    constexpr std::size_t kLater = 4u << 20;
    // Through a volatile, so the compiler cannot drop the pairs of malloc and free.
    static void* volatile kept = nullptr;
    for (auto _ : state) {
        kept = std::malloc(kFirst);
        std::memset(kept, 1, kFirst);
        std::free(kept);
        const std::size_t mappedBefore = mallinfo2().hblkhd;
        kept = std::malloc(kLater);
        std::memset(kept, 1, kLater);
        state.counters["later_mapped_mb"] = (double(mallinfo2().hblkhd) - double(mappedBefore)) / kMB;
        std::free(kept);
        state.counters["after_free_mapped_mb"] = (double(mallinfo2().hblkhd) - double(mappedBefore)) / kMB;
    }
}
BENCHMARK(BM_LargeBlocksMappedOnTheirOwn)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

BENCHMARK_MAIN();
