// The whole program against the simulator, under an X display (run under Xvfb), with the real
// main window, controller and engine, started as main() starts them. Targets:
//  - start to the main window shown and start to the first decoded frame, each less the fixed
//    waits the program takes on purpose (the logged Delay()s and the caching countdown): our own
//    share under 300 ms;
//  - idle CPU with the video paused and the programme-guide walk finished: under 1 % of one core;
//  - resident memory after N channel switches against after the first: no more than 5 MB growth
//    (beside it the same cycles on a bare engine, for the engine's and the allocator's share).
// BM_IdleBareEnginePaused (run alone) gives the paused engine's own idle cost for comparison.
// "Start" is the application object's construction plus everything from the main window's
// construction on (the simulator's own start in between is left out); the first activation is
// run as soon as the window is exposed, as a window manager would bring it.
// The fixed waits are read at run time: every Delay() the program logs ("Delay <n>ms", written
// when it ends) and every 10 ms step of the caching countdown shown in the status line.
// Knobs: --switches=N (or QUOXEL_BENCH_SWITCHES, default 100) for the memory run, and
// QUOXEL_BENCH_EPG_WAIT_S (default 180) for the bound on the programme-guide walk,
// QUOXEL_BENCH_IDLE_S (default 10) for the idle measurement; the busiest threads go to stderr,
// and with QUOXEL_BENCH_IDLE_PROFILE=1 the UI thread's share per kind of event (adds a little).
#include "core/appflags.h"
#include "core/freememory.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/channelswitch.h"
#include "playback/vlcapi.h"
#include "playback/vlcplayer.h"
#include "support/boxsimprocess.h"
#include "ui/appcontroller.h"
#include "ui/appinput.h"
#include "ui/mainwindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using quoxel::AppController;
using quoxel::AppInput;
using quoxel::TFrmQuoxel;

namespace {

const QString kAddress = QStringLiteral("127.0.64.1");
constexpr int kCountdownStepMs = 10;
int g_switches = 100;
// The application object's construction (the display connection), part of every start.
double g_qappMs = 0;

int nowMsOfDay() {
    return QTime::currentTime().msecsSinceStartOfDay();
}

struct Interval {
    int from = 0;
    int to = 0;
};

int overlap(const Interval& wait, int from, int to) {
    return std::max(0, std::min(wait.to, to) - std::max(wait.from, from));
}

// The fixed waits of the log: "Delay <n>ms" is written when the wait ends.
std::vector<Interval> loggedDelays() {
    std::vector<Interval> out;
    QFile f(appLogger().filePath());
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype d = line.indexOf(", Delay ");
        if (d < 0 || line.size() < 12 || !line.trimmed().endsWith("ms"))
            continue;
        const QTime t = QTime::fromString(QString::fromLatin1(line.left(12)), QStringLiteral("hh:mm:ss:zzz"));
        const int ms = line.mid(d + 8).trimmed().chopped(2).toInt();
        if (t.isValid() && ms > 0)
            out.push_back({t.msecsSinceStartOfDay() - ms, t.msecsSinceStartOfDay()});
    }
    return out;
}

// Forwards the status line to the window and keeps the end time of each caching countdown step.
class CountdownRecorder : public StatusSink {
public:
    StatusSink* forward = nullptr;
    void showStatus(const QString& message, const QString& mode, const QString& stamp) override {
        if (message.trimmed().startsWith(QLatin1String("caching...("))) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_steps.push_back({nowMsOfDay() - kCountdownStepMs, nowMsOfDay()});
        }
        if (forward)
            forward->showStatus(message, mode, stamp);
    }
    std::vector<Interval> steps() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_steps;
    }

private:
    std::mutex m_lock;
    std::vector<Interval> m_steps;
};

// Fixed waits inside [from, to]: logged delays and countdown steps.
int fixedWaits(const std::vector<Interval>& delays, const std::vector<Interval>& steps, int from, int to) {
    int sum = 0;
    for (const Interval& w : delays)
        sum += overlap(w, from, to);
    for (const Interval& w : steps)
        sum += overlap(w, from, to);
    return sum;
}

// One "Name:  1234 kB" figure of /proc/self/status in MB, -1 when missing.
double statusMb(const QByteArray& status, const char* name) {
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

QByteArray procStatus() {
    QFile f(QStringLiteral("/proc/self/status"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double rssMb() {
    return statusMb(procStatus(), "VmRSS");
}

// Where the resident memory sits: anonymous against file-backed pages, and the allocator's part
// in use and kept free.
void printMemoryParts(const char* what) {
    const QByteArray status = procStatus();
    const struct mallinfo2 mi = mallinfo2();
    std::fprintf(stderr, "%s: VmRSS %.1f MB (anon %.1f, file %.1f), heap in use %.1f MB, free %.1f MB\n", what,
                 statusMb(status, "VmRSS"), statusMb(status, "RssAnon"), statusMb(status, "RssFile"),
                 double(mi.uordblks + mi.hblkhd) / 1048576.0, double(mi.fordblks) / 1048576.0);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU ticks of each thread of this process by id, with its name: where the idle time goes.
struct ThreadTicks {
    QByteArray name;
    long long ticks = 0;
};
std::map<QByteArray, ThreadTicks> threadTicks() {
    std::map<QByteArray, ThreadTicks> out;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const qsizetype open = stat.indexOf('(');
        const qsizetype close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        // After the name: state is field 3; utime and stime are fields 14 and 15.
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        out[tid.toLatin1()] = {stat.mid(open + 1, close - open - 1), fields[11].toLongLong() + fields[12].toLongLong()};
    }
    return out;
}

void printBusiestThreads(const std::map<QByteArray, ThreadTicks>& before,
                         const std::map<QByteArray, ThreadTicks>& after, double wallSeconds) {
    std::vector<std::pair<long long, QByteArray>> used;
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        const long long d = t.ticks - (was == before.end() ? 0 : was->second.ticks);
        if (d > 0)
            used.emplace_back(d, t.name + (tid.toInt() == getpid() ? QByteArray(" (UI thread)") : " (" + tid + ")"));
    }
    std::sort(used.rbegin(), used.rend());
    const double tick = 1.0 / double(sysconf(_SC_CLK_TCK));
    std::fprintf(stderr, "idle CPU by thread over %.1f s (%% of one core):\n", wallSeconds);
    for (size_t i = 0; i < used.size() && i < 8; ++i)
        std::fprintf(stderr, "  %-28s %6.2f\n", used[i].second.constData(),
                     100.0 * double(used[i].first) * tick / wallSeconds);
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Main-thread CPU per kind of event while asked to: the idle time of the UI thread by its cause.
class ProfilingApplication : public QApplication {
public:
    using QApplication::QApplication;

    void setProfiling(bool on) {
        m_profiling = on;
        if (on)
            m_cost.clear();
    }
    bool notify(QObject* receiver, QEvent* event) override {
        if (!m_profiling || m_depth > 0 || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        struct Depth {
            int& d;
            explicit Depth(int& depth)
                : d(depth) {
                ++d;
            }
            ~Depth() { --d; }
        } depth(m_depth);
        QByteArray key = receiver->metaObject()->className();
        if (auto* timer = qobject_cast<QTimer*>(receiver))
            key += " " + QByteArray::number(timer->interval()) + "ms";
        if (receiver->parent())
            key += QByteArray(" in ") + receiver->parent()->metaObject()->className();
        key += " event " + QByteArray::number(int(event->type()));
        const double t0 = threadCpuMs();
        const bool done = QApplication::notify(receiver, event);
        auto& c = m_cost[key];
        c.first += threadCpuMs() - t0;
        ++c.second;
        return done;
    }
    void print(double mainThreadMs) const {
        std::vector<std::pair<double, QByteArray>> by;
        double sum = 0;
        for (const auto& [key, c] : m_cost) {
            by.emplace_back(c.first, key + " x" + QByteArray::number(c.second));
            sum += c.first;
        }
        std::sort(by.rbegin(), by.rend());
        std::fprintf(stderr, "UI thread CPU %.1f ms, %.1f ms of it in event handlers:\n", mainThreadMs, sum);
        for (size_t i = 0; i < by.size() && i < 10; ++i)
            std::fprintf(stderr, "  %7.2f ms  %s\n", by[i].first, by[i].second.constData());
    }

private:
    bool m_profiling = false;
    int m_depth = 0;
    std::map<QByteArray, std::pair<double, int>> m_cost;
};

ProfilingApplication* g_qapp = nullptr;

// The event loop as app.exec() runs it, for a fixed time.
void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int envInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// The program, started once and shared by the benchmarks in their order.
struct App {
    QTemporaryDir dir;
    BoxSimProcess sim{kAddress};
    CountdownRecorder countdown;
    std::unique_ptr<TFrmQuoxel> w;
    std::unique_ptr<AppController> app;
    std::unique_ptr<AppInput> input;
    QString error;
    int startAt = 0;
    int shownAt = -1;
    int frameAt = -1;
    std::atomic<bool> playIssued{false};

    bool start() {
        Options = TOptions{};
        QFile ini(dir.filePath(QStringLiteral("Quoxel.ini")));
        if (!dir.isValid() || !ini.open(QIODevice::WriteOnly) ||
            ini.write("[General]\nmode=live\nlock_rc=1\nautospts=1\nshow_message=1\n"
                      "[D-Box2]\nip_lan=127.0.64.1\ndboxport=80\n") < 0) {
            error = QStringLiteral("cannot write the settings file");
            return false;
        }
        ini.close();
        if (!sim.start()) {
            error = QStringLiteral("boxsim did not start: ") + sim.stderrText();
            return false;
        }

        std::atomic<bool> stopWatch{false};
        std::atomic<int> frame{-1};

        startAt = nowMsOfDay();
        w = std::make_unique<TFrmQuoxel>();
        app = std::make_unique<AppController>(*w);
        input = std::make_unique<AppInput>(*w, *app);
        countdown.forward = w.get();
        setStatusSink(&countdown);
        app->setIniPath(ini.fileName());
        VLCPlayer& player = app->player();
        // Emitted on this thread right after the engine was told to play; from then on the
        // engine's media stays put until the next stop, so the watcher may read its counters.
        QObject::connect(
            &player, &VLCPlayer::stateChanged, &player,
            [this] {
                if (app->player().PlayState() == 0)
                    playIssued = true;
            },
            Qt::DirectConnection);
        VlcEngine* engine = player.engine();
        // The UI thread sleeps in the caching wait while the picture comes: watch from beside it.
        std::thread watcher([&] {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!stopWatch && std::chrono::steady_clock::now() < limit) {
                if (playIssued && engine->stats().decodedVideo > 0) {
                    frame = nowMsOfDay();
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const auto finishWatch = [&] {
            stopWatch = true;
            watcher.join();
        };

        if (app->FormCreate() != ConnectionOutcome::Connected) {
            finishWatch();
            error = QStringLiteral("the connection sequence did not connect");
            return false;
        }
        app->FormShow();
        w->show();
        w->activateWindow();
        struct ExposeWatch : QObject {
            int* at = nullptr;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Expose && *at < 0 && static_cast<QWindow*>(o)->isExposed())
                    *at = nowMsOfDay();
                return false;
            }
        } expose;
        expose.at = &shownAt;
        if (w->windowHandle())
            w->windowHandle()->installEventFilter(&expose);
        if (!QTest::qWaitFor([&] { return shownAt >= 0 || w->windowHandle()->isExposed(); }, 10000)) {
            finishWatch();
            error = QStringLiteral("the main window was not shown");
            return false;
        }
        if (shownAt < 0)
            shownAt = nowMsOfDay();
        if (w->windowHandle())
            w->windowHandle()->removeEventFilter(&expose);
        // main() leaves the first activation to the window manager, or to a timer without one;
        // either way it comes when the window is there.
        if (IsStarting && !IsClosing)
            app->lifecycle().FormActivate();
        (void)QTest::qWaitFor([&] { return frame >= 0; }, 30000);
        finishWatch();
        frameAt = frame;
        if (frameAt < 0) {
            error = QStringLiteral("no decoded frame after the start");
            return false;
        }
        return true;
    }

    void stop() {
        if (w)
            w->close();
        setStatusSink(nullptr);
        input.reset();
        app.reset();
        w.reset();
        sim.stop();
        Options = TOptions{};
    }
};

std::unique_ptr<App> g_app;
bool g_startFailed = false;

App* runningApp(benchmark::State& state) {
    if (!g_app && !g_startFailed) {
        g_app = std::make_unique<App>();
        if (!g_app->start()) {
            std::fprintf(stderr, "%s\n", qPrintable(g_app->error));
            g_startFailed = true;
        }
    }
    if (g_startFailed) {
        state.SkipWithError("the program did not start against the simulator");
        return nullptr;
    }
    return g_app.get();
}

void BM_StartToWindowAndFrame(benchmark::State& state) {
    for (auto _ : state) {
        App* a = runningApp(state);
        if (!a)
            return;
        const std::vector<Interval> delays = loggedDelays();
        const std::vector<Interval> steps = a->countdown.steps();
        const double shown = g_qappMs + (a->shownAt - a->startAt);
        const double frame = g_qappMs + (a->frameAt - a->startAt);
        const int shownWaits = fixedWaits(delays, steps, a->startAt, a->shownAt);
        const int frameWaits = fixedWaits(delays, steps, a->startAt, a->frameAt);
        state.counters["qapp_ms"] = g_qappMs;
        state.counters["shown_ms"] = shown;
        state.counters["shown_waits_ms"] = shownWaits;
        state.counters["shown_own_ms"] = shown - shownWaits;
        state.counters["frame_ms"] = frame;
        state.counters["frame_waits_ms"] = frameWaits;
        state.counters["frame_own_ms"] = frame - frameWaits;
        state.SetIterationTime(std::max(0.0, frame - frameWaits) / 1000.0);
    }
}
BENCHMARK(BM_StartToWindowAndFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_IdleCpuPaused(benchmark::State& state) {
    for (auto _ : state) {
        App* a = runningApp(state);
        if (!a)
            return;
        VlcEngine* engine = a->app->player().engine();
        QElapsedTimer held;
        held.start();
        if (!IsPaused)
            a->w->BtnPlay()->click();
        if (!IsPaused) {
            state.SkipWithError("the player did not pause");
            return;
        }
        // From the click to the window's own picture up and the engine's video output gone.
        const bool released =
            QTest::qWaitFor([&] { return engine->videoReleased() && engine->videoOutputs() == 0; }, 5000);
        state.counters["pause_to_release_ms"] = released ? double(held.elapsed()) : -1;
        // The walk starts from a timer after the start; give it the chance, then wait it out.
        runEventLoop(3000);
        const int bound = envInt("QUOXEL_BENCH_EPG_WAIT_S", 180) * 1000;
        const bool epgDone = QTest::qWaitFor([&] { return !a->app->epgThreadRunning(); }, bound);
        double load[3] = {0, 0, 0};
        (void)getloadavg(load, 3);
        const auto wall0 = std::chrono::steady_clock::now();
        const auto threads0 = threadTicks();
        const double cpu0 = cpuSeconds();
        const double main0 = threadCpuMs();
        const bool profile = envInt("QUOXEL_BENCH_IDLE_PROFILE", 0) != 0;
        g_qapp->setProfiling(profile);
        runEventLoop(envInt("QUOXEL_BENCH_IDLE_S", 10) * 1000);
        g_qapp->setProfiling(false);
        const double mainMs = threadCpuMs() - main0;
        const double cpu = cpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        printBusiestThreads(threads0, threadTicks(), wall);
        if (profile)
            g_qapp->print(mainMs);
        else
            std::fprintf(stderr, "UI thread CPU %.1f ms\n", mainMs);
        state.counters["idle_cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0;
        state.counters["epg_done"] = epgDone ? 1 : 0;
        state.counters["still_paused"] = IsPaused ? 1 : 0;
        // The window shows the paused picture and the engine has let its video output go.
        state.counters["video_released"] = engine->videoReleased() ? 1 : 0;
        // And back: from the click to the engine's first new picture shown.
        const int shown = engine->stats().displayedPictures;
        QElapsedTimer resumed;
        resumed.start();
        a->w->BtnPlay()->click();
        const bool moving = QTest::qWaitFor([&] { return engine->stats().displayedPictures > shown; }, 5000);
        state.counters["resume_to_picture_ms"] = moving ? double(resumed.elapsed()) : -1;
        state.counters["load1"] = load[0];
        state.SetIterationTime(cpu);
    }
}
BENCHMARK(BM_IdleCpuPaused)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Memory over many pauses, each held and resumed: the engine's video output goes and comes back
// every time. Heap in use and RSS (free pages handed back) after 5 and after 100, with the parts
// every ten. The stream goes on all the while, so the engine's read-ahead ring fills here too.
void BM_MemoryOverPauses(benchmark::State& state) {
    for (auto _ : state) {
        App* a = runningApp(state);
        if (!a)
            return;
        VlcEngine* engine = a->app->player().engine();
        if (IsPaused)
            a->w->BtnPlay()->click();
        double heap5 = 0;
        double rss5 = 0;
        int held = 0;
        for (int i = 1; i <= 100; ++i) {
            a->w->BtnPlay()->click();
            held += QTest::qWaitFor([&] { return engine->videoReleased() && engine->videoOutputs() == 0; }, 5000);
            const int shown = engine->stats().displayedPictures;
            a->w->BtnPlay()->click();
            (void)QTest::qWaitFor([&] { return engine->stats().displayedPictures > shown + 5; }, 5000);
            if (i % 10 == 0 || i == 5) {
                runEventLoop(1000);
                ReturnFreeMemory(0);
                printMemoryParts(QByteArray("after " + QByteArray::number(i) + " pauses").constData());
            }
            if (i == 5 || i == 100) {
                const double heap = double(mallinfo2().uordblks) / (1024.0 * 1024.0);
                if (i == 5) {
                    heap5 = heap;
                    rss5 = rssMb();
                } else {
                    state.counters["heap_growth_mb"] = heap - heap5;
                    state.counters["rss_growth_mb"] = rssMb() - rss5;
                }
            }
        }
        state.counters["held"] = held;
    }
}
BENCHMARK(BM_MemoryOverPauses)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RssOverSwitches(benchmark::State& state) {
    for (auto _ : state) {
        App* a = runningApp(state);
        if (!a)
            return;
        if (IsPaused)
            a->w->BtnPlay()->click();
        std::vector<TChannelRef> tv;
        for (const TChannelItem& item : a->app->session().model().channelBox())
            if (item.Channel && item.Channel->Mode == mTV && !item.Channel->IsSubChannel)
                tv.push_back(item.Channel);
        ChannelSwitcher* switcher = a->app->switcher();
        if (tv.size() < 2 || !switcher) {
            state.SkipWithError("fewer than two TV channels to switch between");
            return;
        }
        VlcEngine* engine = a->app->player().engine();
        double first = 0;
        double firstTrimmed = 0;
        qsizetype logLinesFirst = 0;
        int noPicture = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 1; i <= g_switches; ++i) {
            // Start after the channel on air, so every switch changes the channel.
            switcher->SwitchChannel(tv[size_t(i) % tv.size()]);
            if (!QTest::qWaitFor([&] { return engine->stats().decodedVideo > 0; }, 10000))
                ++noPicture;
            runEventLoop(100);
            if (i == 1) {
                first = rssMb();
                logLinesFirst = engine->engineLog().size();
                // What the heap keeps free but unreturned, apart from what is in use.
                malloc_trim(0);
                firstTrimmed = rssMb();
            }
            if (i % 10 == 0)
                printMemoryParts(QByteArray("after " + QByteArray::number(i) + " switches").constData());
        }
        const double last = rssMb();
        // What handing every free page back costs the window thread, which does it on its clock tick.
        const auto trimStart = std::chrono::steady_clock::now();
        malloc_trim(0);
        const double trimMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - trimStart).count();
        const double lastTrimmed = rssMb();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.counters["switches"] = g_switches;
        state.counters["rss_after_1_mb"] = first;
        state.counters["rss_after_n_mb"] = last;
        state.counters["rss_growth_mb"] = last - first;
        state.counters["rss_growth_trimmed_mb"] = lastTrimmed - firstTrimmed;
        state.counters["trim_ms"] = trimMs;
        state.counters["no_picture"] = noPicture;
        // The engine's message ring (bounded) fills over the first switches; its text alone, in MB.
        const QStringList log = engine->engineLog();
        double logChars = 0;
        for (const QString& line : log)
            logChars += double(line.size());
        state.counters["engine_log_lines_1"] = double(logLinesFirst);
        state.counters["engine_log_lines_n"] = double(log.size());
        state.counters["engine_log_text_mb"] = logChars * 2 / (1024.0 * 1024.0);
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_RssOverSwitches)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// What the player gives the engine for a live TV channel over HTTP (the default settings).
QStringList liveTvOptions() {
    return {QStringLiteral(":http-caching=1000"),     QStringLiteral(":vout-filter=deinterlace"),
            QStringLiteral(":deinterlace-mode=mean"), QStringLiteral(":access-filter=timeshift"),
            QStringLiteral(":timeshift-force=1"),     QStringLiteral(":timeshift-granularity=300"),
            QStringLiteral(":timeshift-dir=c:\\")};
}

// The same number of stop and play cycles on a bare engine in a plain native window, same
// stream and caching: how much of the growth the engine and the allocator bring by themselves.
void BM_RssBareEngine(benchmark::State& state) {
    const QString address = QStringLiteral("127.0.64.2");
    for (auto _ : state) {
        BoxSimProcess sim(address);
        if (!sim.start()) {
            state.SkipWithError("boxsim did not start");
            return;
        }
        QWidget panel;
        panel.setAttribute(Qt::WA_NativeWindow);
        panel.resize(720, 576);
        panel.show();
        (void)QTest::qWaitForWindowExposed(&panel, 5000);
        VlcEngine engine(vlcLibrary());
        if (vlcLibrary().VLD_Startup() != 0 || engine.create(VlcInstallDir()) != 0) {
            state.SkipWithError("the engine did not start");
            return;
        }
        engine.VLC_VariableSet(QStringLiteral("drawable"), qint64(panel.winId()));
        const QString url =
            QStringLiteral("http://") + address + QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101");
        double first = 0;
        int noPicture = 0;
        for (int i = 1; i <= g_switches; ++i) {
            engine.VLC_AddTarget(url, liveTvOptions());
            engine.VLC_Play();
            if (!QTest::qWaitFor([&] { return engine.stats().decodedVideo > 0; }, 10000))
                ++noPicture;
            engine.VLC_Stop();
            (void)QTest::qWaitFor([&] { return engine.VLC_IsPlaying() == 0; }, 5000);
            engine.VLC_PlaylistClear();
            runEventLoop(100);
            if (i == 1)
                first = rssMb();
            if (i % 10 == 0)
                printMemoryParts(QByteArray("bare engine after " + QByteArray::number(i) + " cycles").constData());
        }
        const double last = rssMb();
        state.counters["cycles"] = g_switches;
        state.counters["rss_growth_mb"] = last - first;
        state.counters["no_picture"] = noPicture;
    }
}
BENCHMARK(BM_RssBareEngine)->Unit(benchmark::kMillisecond)->Iterations(1);

// A bare engine paused on the same stream with the same options,
// in a plain native window: the engine's own idle cost. Alone in its process (another engine
// would count too): --benchmark_filter=IdleBare.
void BM_IdleBareEnginePaused(benchmark::State& state) {
    if (g_app) {
        state.SkipWithError("needs a process of its own: --benchmark_filter=IdleBare");
        return;
    }
    const QString address = QStringLiteral("127.0.64.3");
    for (auto _ : state) {
        BoxSimProcess sim(address);
        if (!sim.start()) {
            state.SkipWithError("boxsim did not start");
            return;
        }
        QWidget panel;
        panel.setAttribute(Qt::WA_NativeWindow);
        panel.resize(720, 576);
        panel.show();
        (void)QTest::qWaitForWindowExposed(&panel, 5000);
        VlcEngine engine(vlcLibrary());
        if (vlcLibrary().VLD_Startup() != 0 || engine.create(VlcInstallDir()) != 0) {
            state.SkipWithError("the engine did not start");
            return;
        }
        engine.VLC_VariableSet(QStringLiteral("drawable"), qint64(panel.winId()));
        engine.VLC_AddTarget(QStringLiteral("http://") + address +
                                 QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101"),
                             liveTvOptions());
        engine.VLC_Play();
        if (!QTest::qWaitFor([&] { return engine.stats().decodedVideo > 0; }, 10000)) {
            state.SkipWithError("no picture from the bare engine");
            return;
        }
        runEventLoop(2000);
        engine.VLC_Pause();
        runEventLoop(2000);
        double load[3] = {0, 0, 0};
        (void)getloadavg(load, 3);
        const auto wall0 = std::chrono::steady_clock::now();
        const auto threads0 = threadTicks();
        const double cpu0 = cpuSeconds();
        runEventLoop(envInt("QUOXEL_BENCH_IDLE_S", 10) * 1000);
        const double cpu = cpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        printBusiestThreads(threads0, threadTicks(), wall);
        state.counters["idle_cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0;
        state.counters["load1"] = load[0];
        engine.VLC_Stop();
        (void)QTest::qWaitFor([&] { return engine.VLC_IsPlaying() == 0; }, 5000);
    }
}
BENCHMARK(BM_IdleBareEnginePaused)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    // As the program starts.
    TuneAllocator();
    g_switches = std::max(1, envInt("QUOXEL_BENCH_SWITCHES", 100));
    // Our own flag goes before Google Benchmark sees the rest.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--switches=", 11) == 0)
            g_switches = std::max(1, std::atoi(argv[i] + 11));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    const auto appStart = std::chrono::steady_clock::now();
    ProfilingApplication qapp(argc, argv);
    g_qappMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - appStart).count();
    g_qapp = &qapp;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_app)
        g_app->stop();
    g_app.reset();
    return 0;
}
