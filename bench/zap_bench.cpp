// Zap time of SwitchChannel against the simulated receiver with the real engine (dummy outputs):
// wall time from the call to the first decoded picture, minus the fixed waits the switch and the
// player make on purpose, i.e. our own overhead; broken down by the switch's steps. Beside it the
// floor of the engine alone: the same stream started on a bare engine, call to first picture.
#include "playback/channelswitch.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/switchtesthost.h"
#include "playback/zapclock.h"
#include "support/boxsimprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

const char* kAddress = "127.0.52.20";
const QStringList kEngineArgs{QStringLiteral("--vout=vdummy"), QStringLiteral("--aout=dummy")};
constexpr int kCacheMs = 1000;

int nowMsOfDay() {
    return QTime::currentTime().msecsSinceStartOfDay();
}

// The step boundaries the switch shows to the window and the status line, with their times.
struct Marks {
    std::vector<std::pair<QString, int>> at;
    void mark(const QString& what) {
        for (const auto& m : at)
            if (m.first == what)
                return; // first occurrence only
        at.emplace_back(what, nowMsOfDay());
    }
};

class TimedHost : public RecordingSwitchHost {
public:
    Marks* marks = nullptr;
    void showLogo(const TChannel& c) override {
        marks->mark(QStringLiteral("logo"));
        RecordingSwitchHost::showLogo(c);
    }
    void setCaption(const QString& t) override {
        marks->mark(QStringLiteral("caption"));
        RecordingSwitchHost::setCaption(t);
    }
    void reshowStatus() override {
        marks->mark(QStringLiteral("started"));
        RecordingSwitchHost::reshowStatus();
    }
};

class TimedStatus : public StatusSink {
public:
    Marks* marks = nullptr;
    void showStatus(const QString& message, const QString&, const QString&) override {
        const QString m = message.trimmed();
        if (m == QLatin1String("stopping stream..."))
            marks->mark(QStringLiteral("stop"));
        else if (m == QLatin1String("switching channel..."))
            marks->mark(QStringLiteral("mode"));
        else if (m == QLatin1String("getting streaminfo..."))
            marks->mark(QStringLiteral("streaminfo"));
        else if (m.startsWith(QLatin1String("caching...(")))
            marks->mark(QStringLiteral("caching"));
    }
};

// The fixed waits of the log ("Delay <n>ms", written when the wait ends) after a file offset.
std::vector<std::pair<int, int>> loggedDelays(qint64 mark) {
    std::vector<std::pair<int, int>> out; // end time, ms
    QFile f(appLogger().filePath());
    if (!f.open(QIODevice::ReadOnly) || !f.seek(mark))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype d = line.indexOf(", Delay ");
        if (d < 0 || line.size() < 12)
            continue;
        const QTime t = QTime::fromString(QString::fromLatin1(line.left(12)), QStringLiteral("hh:mm:ss:zzz"));
        const int ms = line.mid(d + 8).chopped(2).toInt();
        if (t.isValid())
            out.emplace_back(t.msecsSinceStartOfDay(), ms);
    }
    return out;
}

struct Sample {
    std::map<QString, double> stepOverheadMs;
    double totalMs = 0;
    double waitsMs = 0;
};

std::vector<Sample> g_samples;
std::vector<double> g_floorMs;

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * double(v.size() - 1) + 0.5))];
}

struct Rig {
    BoxSimProcess sim{QString::fromLatin1(kAddress)};
    TIEHTTP http;
    std::unique_ptr<BoxClient> box;
    std::unique_ptr<TBouquetModel> model;
    RecordingStreamView streamView;
    std::unique_ptr<StreamSetup> stream;
    std::unique_ptr<RecordingPlayerView> playerView;
    std::unique_ptr<VLCPlayer> player;
    TimedHost host;
    TimedStatus status;
    std::unique_ptr<ChannelSwitcher> switcher;

    bool start() {
        Options.BoxAddress = QLatin1String(kAddress) + QStringLiteral(":80");
        Options.IpLan = QLatin1String(kAddress);
        Options.Mode = AppMode::Live;
        Options.StreamType = 0;
        if (!sim.start())
            return false;
        http.Timeout = BoxClient::kTimeoutSec;
        box = std::make_unique<BoxClient>(http);
        model = std::make_unique<TBouquetModel>([this](const QString& url) { return box->BoxRequest(url); });
        if (!model->LoadBouquets() || !model->LoadBouquet(QStringLiteral("1")))
            return false;
        QList<TChannelRef> channels;
        for (const auto& item : model->channelBox())
            channels << item.Channel;
        ParseEPG([this](const QString& url) { return box->BoxRequest(url); }, channels);
        stream = std::make_unique<StreamSetup>(*box, streamView);
        playerView = std::make_unique<RecordingPlayerView>(*model);
        player = std::make_unique<VLCPlayer>(*playerView);
        player->setBoxClient(box.get());
        player->setCaching(QString::number(kCacheMs), QString::number(kCacheMs));
        player->setEngineArguments(kEngineArgs);
        switcher = std::make_unique<ChannelSwitcher>(host, *model, *box, *stream, *player);
        playerView->switcher = switcher.get();
        setStatusSink(&status);
        host.epgRunning = true; // keep the EPG thread out of the measurement
        return player->VLCInit(0, QSize(720, 576));
    }
};

Rig* g_rig = nullptr;

} // namespace

static void BM_ZapOverhead(benchmark::State& state) {
    Rig& rig = *g_rig;
    const QStringList ids{QStringLiteral("437000273f2"), QStringLiteral("44100016dca")};
    int n = 0;
    for (auto _ : state) {
        const QString id = ids[n++ % ids.size()];
        rig.model->setSelectedIndex(rig.model->LocateChannel(id));
        Marks marks;
        rig.host.marks = &marks;
        rig.status.marks = &marks;
        const qint64 logAt = QFile(appLogger().filePath()).size();
        QElapsedTimer clock;
        clock.start();
        marks.mark(QStringLiteral("call"));
        rig.switcher->SwitchChannel(rig.model->channelBox()[rig.model->selectedIndex()].Channel);
        marks.mark(QStringLiteral("return"));
        VlcEngine* engine = rig.player->engine();
        if (!QTest::qWaitFor([engine] { return engine->stats().decodedVideo > 0; }, 15000)) {
            state.SkipWithError("no picture after the switch");
            break;
        }
        marks.mark(QStringLiteral("picture"));
        const double total = double(clock.nsecsElapsed()) / 1e6;

        // Each fixed wait counts against the step it ended in; the caching countdown is one.
        const auto delays = loggedDelays(logAt);
        Sample s;
        s.totalMs = total;
        double waits = 0;
        for (size_t i = 1; i < marks.at.size(); ++i) {
            const int from = marks.at[i - 1].second;
            const int to = marks.at[i].second;
            double stepWaits = 0;
            for (const auto& [end, ms] : delays)
                if (end > from && end <= to)
                    stepWaits += ms;
            if (marks.at[i - 1].first == QLatin1String("caching"))
                stepWaits += kCacheMs;
            waits += stepWaits;
            s.stepOverheadMs[marks.at[i - 1].first + QStringLiteral("->") + marks.at[i].first] =
                std::max(0.0, double(to - from) - stepWaits);
        }
        s.waitsMs = waits;
        g_samples.push_back(s);
        state.SetIterationTime(std::max(0.0, total - waits) / 1000.0);
    }
    std::vector<double> overhead;
    for (const auto& s : g_samples)
        overhead.push_back(std::max(0.0, s.totalMs - s.waitsMs));
    state.counters["overhead_median_ms"] = percentile(overhead, 0.5);
    state.counters["overhead_p95_ms"] = percentile(overhead, 0.95);
}
BENCHMARK(BM_ZapOverhead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The same stream on a bare engine: play to first decoded picture.
static void BM_BareEngineFirstPicture(benchmark::State& state) {
    const QString url = QStringLiteral("http://") + QLatin1String(kAddress) +
                        QStringLiteral(":31339/0,0x0100,0x006E,0x0078,0x0079,0x007D");
    for (auto _ : state) {
        VlcEngine engine(vlcLibrary());
        engine.create(VlcInstallDir(), kEngineArgs);
        engine.VLC_AddTarget(url, {QStringLiteral(":http-caching=") + QString::number(kCacheMs)});
        QElapsedTimer clock;
        clock.start();
        engine.VLC_Play();
        if (!QTest::qWaitFor([&engine] { return engine.stats().decodedVideo > 0; }, 15000)) {
            state.SkipWithError("no picture from the bare engine");
            break;
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        g_floorMs.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        engine.VLC_Stop();
    }
    state.counters["floor_median_ms"] = percentile(g_floorMs, 0.5);
}
BENCHMARK(BM_BareEngineFirstPicture)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Fast zap ([Extras] fastzap), the receiver tuning for kFastTuneMs: call to first decoded picture,
// the window thread's hold-ups (a 10 ms timer's lateness) over the switches, the step times the
// switch logs, and ten switches asked for within a second.
constexpr int kFastTuneMs = 150;
std::vector<double> g_fastMs;
std::vector<double> g_lateMs;
QStringList g_fastLines;

static void BM_FastZap(benchmark::State& state) {
    Rig& rig = *g_rig;
    static Marks unused; // the step marks of the written switch are not taken here
    rig.host.marks = &unused;
    rig.status.marks = &unused;
    Options.FastZap = true;
    IsStarting = false; // the switches above ran as the start-up's, without a zap
    rig.sim.setState(QStringLiteral("zap_ms"), QString::number(kFastTuneMs));
    QElapsedTimer since;
    since.start();
    qint64 last = -1;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = since.elapsed();
        if (last >= 0)
            g_lateMs.push_back(double(std::max<qint64>(0, now - last - 10)));
        last = now;
    });
    const QStringList ids{QStringLiteral("437000273f2"), QStringLiteral("44100016dca")};
    int n = 0;
    for (auto _ : state) {
        const QString id = ids[n++ % ids.size()];
        const TChannelRef channel = rig.model->channelBox()[rig.model->LocateChannel(id)].Channel;
        probe.start();
        last = -1;
        QElapsedTimer clock;
        clock.start();
        rig.switcher->SwitchChannel(channel);
        const bool shown = QTest::qWaitFor(
            [&] {
                VlcEngine* engine = rig.player->engine();
                return !rig.switcher->fastSwitching() && rig.player->PlayState() == 0 && engine &&
                       engine->stats().decodedVideo > 0;
            },
            15000);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        const bool logged = QTest::qWaitFor([&] { return !rig.switcher->zapClock().waiting(); }, 12000);
        probe.stop();
        if (!shown) {
            state.SkipWithError("no picture after the fast switch");
            break;
        }
        g_fastMs.push_back(ms);
        if (logged)
            g_fastLines << rig.switcher->zapClock().lastLine();
        state.SetIterationTime(ms / 1000.0);
        QTest::qWait(ChannelSwitcher::kFastRestMs + 100); // a later call starts at once
    }
    state.counters["fast_median_ms"] = percentile(g_fastMs, 0.5);
    state.counters["hold_p99_ms"] = percentile(g_lateMs, 0.99);
}
BENCHMARK(BM_FastZap)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// Ten switches asked for 100 ms apart: the receiver's zaps, the last one's channel.
static void BM_FastZapBurst(benchmark::State& state) {
    Rig& rig = *g_rig;
    for (auto _ : state) {
        rig.sim.clearRequests();
        QString lastId;
        for (int i = 0; i < 10; ++i) {
            const auto& box = rig.model->channelBox();
            const TChannelRef channel = box[i % box.size()].Channel;
            lastId = channel->Id.trimmed();
            rig.switcher->SwitchChannel(channel);
            QTest::qWait(100);
        }
        if (!QTest::qWaitFor([&] { return !rig.switcher->fastSwitching() && rig.player->PlayState() == 0; }, 15000))
            state.SkipWithError("the burst did not end in a playing switch");
        QStringList zaps;
        for (const QString& r : rig.sim.requestTargets())
            if (r.startsWith(QLatin1String("/control/zapto?")) && !r.contains(QLatin1String("get")))
                zaps << r;
        std::printf("burst: %lld zaps (%s), last wanted %s\n", static_cast<long long>(zaps.size()),
                    zaps.join(QLatin1Char(' ')).toUtf8().constData(), lastId.toUtf8().constData());
        state.counters["burst_zaps"] = double(zaps.size());
    }
    Options.FastZap = false;
    rig.sim.setState(QStringLiteral("zap_ms"), QStringLiteral("0"));
}
BENCHMARK(BM_FastZapBurst)->Iterations(1);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Rig rig;
    if (!rig.start()) {
        std::fprintf(stderr, "cannot start the simulator, the engine or the bouquets\n");
        return 1;
    }
    g_rig = &rig;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Per step: our own time, the fixed waits taken out.
    std::map<QString, std::vector<double>> steps;
    for (const auto& s : g_samples)
        for (const auto& [name, ms] : s.stepOverheadMs)
            steps[name].push_back(ms);
    const auto stepOrder = [](const QString& name) {
        static const QStringList order{"call",       "logo",    "caption", "stop",  "mode",
                                       "streaminfo", "caching", "started", "return"};
        return order.indexOf(name.section(QStringLiteral("->"), 0, 0));
    };
    std::vector<std::pair<QString, std::vector<double>>> ordered(steps.begin(), steps.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&](const auto& a, const auto& b) { return stepOrder(a.first) < stepOrder(b.first); });
    std::printf("\nzap overhead per step (ms, fixed waits removed), %zu switches\n", g_samples.size());
    std::printf("%-26s %8s %8s\n", "step", "median", "p95");
    for (const auto& [name, values] : ordered)
        std::printf("%-26s %8.1f %8.1f\n", name.toUtf8().constData(), percentile(values, 0.5),
                    percentile(values, 0.95));
    std::vector<double> totals, waits;
    for (const auto& s : g_samples) {
        totals.push_back(s.totalMs);
        waits.push_back(s.waitsMs);
    }
    const double overhead = percentile(totals, 0.5) - percentile(waits, 0.5);
    const double floor = percentile(g_floorMs, 0.5);
    std::printf("wall median %.1f ms, fixed waits median %.1f ms, bare engine first picture median %.1f ms\n",
                percentile(totals, 0.5), percentile(waits, 0.5), floor);
    if (floor > 0)
        std::printf("first picture beyond the fixed waits / bare engine: %.2f\n", overhead / floor);
    if (!g_fastMs.empty()) {
        std::printf("\nfast zap: call to first decoded picture median %.1f ms, p95 %.1f ms; window thread hold-up "
                    "p99 %.1f ms over %zu samples\n",
                    percentile(g_fastMs, 0.5), percentile(g_fastMs, 0.95), percentile(g_lateMs, 0.99), g_lateMs.size());
        if (floor > 0)
            std::printf("fast zap / (bare engine first picture + tune %d ms): %.2f\n", kFastTuneMs,
                        percentile(g_fastMs, 0.5) / (floor + kFastTuneMs));
        for (const QString& line : std::as_const(g_fastLines))
            std::printf("  %s\n", line.toUtf8().constData());
    }
    setStatusSink(nullptr);
    return 0;
}
