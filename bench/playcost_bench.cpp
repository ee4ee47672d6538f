// Playing cost: the player playing the simulator's TV stream into an X window, against a bare cvlc
// playing the same URL into the same display, one after the other in one run; the whole program
// playing the same way with its guide walk and timers, against cvlc on the stream the program
// plays; then the player re-serving what it plays (the providing instance of quoxel mode); and
// the info overlay refreshing over the playing video. Needs an X display (Xvfb) and cvlc; cvlc
// refuses root, so it runs as nobody. Targets: CPU ratio to cvlc at most 1.15, peak RSS at most
// 60 MB above cvlc's; the busiest threads of both sides are printed.
// QUOXEL_BENCH_PLAY_SECONDS sets the measured time per side (30 by default).
#include "../tests/ui/osdtesthost.h"
#include "core/appflags.h"
#include "core/freememory.h"
#include "core/options.h"
#include "playback/vlcplayer.h"
#include "support/boxsimprocess.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"
#include "ui/osdcontroller.h"
#include "ui/osdinfo.h"
#include "ui/program.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kAddress = QStringLiteral("127.0.68.1");
constexpr int kWarmUpMs = 3000;
// The video and audio outputs of both sides.
const QStringList kOutputs{QStringLiteral("--vout=xcb_x11"), QStringLiteral("--aout=alsa"),
                           QStringLiteral("--alsa-audio-device=null")};

int playSeconds() {
    const int s = qEnvironmentVariableIntValue("QUOXEL_BENCH_PLAY_SECONDS");
    return s > 0 ? s : 30;
}

QString tvUrl() {
    return QStringLiteral("http://") + kAddress + QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101");
}

double ticksToSeconds(qint64 ticks) {
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

// utime + stime of a process in clock ticks, from /proc/<pid>/stat (fields 14 and 15).
qint64 processTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The command name may hold blanks; the fields after it are counted from its closing bracket.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

// A "Vm..." line of /proc/<pid>/status in MB.
double statusMb(qint64 pid, const char* key) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

struct Cost {
    double cpuPercent = -1; // of one core
    double peakRssMb = -1;
    QByteArray split; // the busiest threads, for the printout
};

// CPU ticks of each thread of a process by thread id, with the thread's name.
struct ThreadTicks {
    QByteArray name;
    qint64 ticks = 0;
};
std::map<qint64, ThreadTicks> threadTicks(qint64 pid) {
    std::map<qint64, ThreadTicks> out;
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const qsizetype open = stat.indexOf('(');
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (open < 0 || close < open || fields.size() < 13)
            continue;
        out[tid.toLongLong()] = {stat.mid(open + 1, close - open - 1),
                                 fields[11].toLongLong() + fields[12].toLongLong()};
    }
    return out;
}

// "name (tid) x.xx" for the threads that used the CPU between two readings, busiest first.
QByteArray threadSplit(qint64 pid, const std::map<qint64, ThreadTicks>& before,
                       const std::map<qint64, ThreadTicks>& after, double wallSeconds) {
    std::vector<std::pair<qint64, QByteArray>> used;
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        const qint64 d = t.ticks - (was == before.end() ? 0 : was->second.ticks);
        if (d > 0)
            used.emplace_back(d, t.name + (tid == pid ? QByteArray(" (main)") : " (" + QByteArray::number(tid) + ")"));
    }
    std::sort(used.rbegin(), used.rend());
    QByteArray out;
    for (const auto& [ticks, name] : used)
        out += "    " + name.leftJustified(30) +
               QByteArray::number(100.0 * ticksToSeconds(ticks) / wallSeconds, 'f', 2) + "\n";
    return out;
}

// Our player in this process: CPU over the measured time (the event loop keeps running, as the
// program's does), and the process's peak RSS. `during` runs once playback is warm.
// A process's CPU over the measured time with its busiest threads, and its peak RSS.
Cost measure(qint64 pid) {
    const qint64 before = processTicks(pid);
    const auto threadsBefore = threadTicks(pid);
    QElapsedTimer t;
    t.start();
    QTest::qWait(playSeconds() * 1000);
    const qint64 after = processTicks(pid);
    const double wall = double(t.elapsed()) / 1000.0;
    Cost c;
    if (before >= 0 && after >= 0)
        c.cpuPercent = 100.0 * ticksToSeconds(after - before) / wall;
    c.split = threadSplit(pid, threadsBefore, threadTicks(pid), wall);
    c.peakRssMb = statusMb(pid, "VmHWM:");
    return c;
}

// Our player in this process: CPU over the measured time (the event loop keeps running, as the
// program's does), and the process's peak RSS. `during` runs once playback is warm.
Cost ourCost(VLCPlayer& player, const std::function<void()>& during = {}) {
    player.StartStream(AppMode::Live, false, tvUrl());
    QTest::qWait(kWarmUpMs);
    if (during)
        during();
    const Cost c = measure(getpid());
    player.Stop();
    player.engine()->VLC_PlaylistClear();
    return c;
}

// A bare cvlc playing url into the same display with the same video output, run as nobody.
Cost cvlcCost(const QString& home, const QString& url = tvUrl()) {
    const QString cvlc = QStandardPaths::findExecutable(QStringLiteral("cvlc"));
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (cvlc.isEmpty() || setpriv.isEmpty())
        return {};
    QProcess vlc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    vlc.setProcessEnvironment(env);
    vlc.setStandardOutputFile(QProcess::nullDevice());
    vlc.setStandardErrorFile(QProcess::nullDevice());
    // setpriv and the cvlc script both exec, so the pid is the player's own.
    vlc.start(setpriv, QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups"), cvlc, QStringLiteral("--no-dbus"),
                                   QStringLiteral("--no-video-title-show")}
                           << kOutputs << QStringList{QStringLiteral("--network-caching=1000"), url});
    if (!vlc.waitForStarted(5000))
        return {};
    QTest::qWait(kWarmUpMs);
    const Cost c = measure(vlc.processId());
    vlc.terminate();
    if (!vlc.waitForFinished(5000))
        vlc.kill();
    vlc.waitForFinished(5000);
    return c;
}

// The simulator and our player drawing into a native 720x576 panel, as both benchmarks use them.
struct PlayingRig {
    BoxSimProcess sim{kAddress, {"--telnet-port", "0", "--vlc-port", "0", "--vlc-stream-port", "0"}};
    QWidget panel;
    PlayerView view;
    VLCPlayer player{view};

    // Empty when ready, else why not.
    const char* start() {
        if (!sim.start())
            return "boxsim did not start";
        panel.setAttribute(Qt::WA_NativeWindow);
        panel.resize(720, 576);
        panel.show();
        (void)QTest::qWaitForWindowExposed(&panel, 5000);
        player.setEngineArguments(kOutputs);
        player.setCaching(QStringLiteral("1000"), QStringLiteral("3000"));
        return player.VLCInit(quintptr(panel.winId()), panel.size()) ? "" : "libvlc did not start";
    }
};

void BM_PlayingCostVsCvlc(benchmark::State& state) {
    Options = TOptions();
    Options.NoLogging = true;
    Options.IpPc = kAddress;
    Options.StreamPortProv = QStringLiteral("31345");
    QTemporaryDir home;
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    PlayingRig rig;
    if (const char* why = rig.start(); *why) {
        state.SkipWithError(why);
        return;
    }
    VLCPlayer& player = rig.player;
    for (auto _ : state) {
        const Cost bare = cvlcCost(home.path());
        if (bare.cpuPercent < 0) {
            state.SkipWithError("cvlc (vlc-bin) or setpriv is missing, or cvlc did not run");
            return;
        }
        const Cost ours = ourCost(player);
        Options.ProvideStream = true;
        const Cost serving = ourCost(player);
        Options.ProvideStream = false;
        state.counters["cvlc_cpu_pct"] = bare.cpuPercent;
        state.counters["ours_cpu_pct"] = ours.cpuPercent;
        state.counters["cpu_ratio"] = bare.cpuPercent > 0 ? ours.cpuPercent / bare.cpuPercent : 0;
        state.counters["cvlc_peak_rss_mb"] = bare.peakRssMb;
        state.counters["ours_peak_rss_mb"] = ours.peakRssMb;
        state.counters["rss_above_cvlc_mb"] = ours.peakRssMb - bare.peakRssMb;
        std::fprintf(stderr, "player by thread (%% of one core):\n%s", ours.split.constData());
        std::fprintf(stderr, "cvlc by thread:\n%s", bare.split.constData());
        state.counters["serving_cpu_pct"] = serving.cpuPercent;
        state.counters["serving_extra_cpu_pct"] = serving.cpuPercent - ours.cpuPercent;
    }
}
BENCHMARK(BM_PlayingCostVsCvlc)->Unit(benchmark::kSecond)->Iterations(1);

// The whole program as a user starts it, playing the simulator's TV channel with its
// programme-guide walk, timers and window, against a bare cvlc on the same stream and video output;
// both runs' busiest threads are printed.
void BM_ProgramCostVsCvlc(benchmark::State& state) {
    Options = TOptions();
    const QString address = QStringLiteral("127.0.68.2");
    QTemporaryDir home;
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    BoxSimProcess sim{address, {"--telnet-port", "0", "--vlc-port", "0", "--vlc-stream-port", "0"}};
    QFile ini(home.filePath(QStringLiteral("Quoxel.ini")));
    if (!sim.start() || !ini.open(QIODevice::WriteOnly) ||
        ini.write("[General]\nmode=live\n[D-Box2]\nip_lan=" + address.toLatin1() + "\ndboxport=80\n") < 0) {
        state.SkipWithError("boxsim or the settings file");
        return;
    }
    ini.close();
    quoxel::QuoxelProgram program(ini.fileName());
    // The same outputs as cvlc's; the engine is set up at the first activation, after this.
    program.controller().player().setEngineArguments(kOutputs);
    program.start();
    VLCPlayer& player = program.controller().player();
    if (!QTest::qWaitFor([&] { return player.isPlaying(); }, 30000)) {
        state.SkipWithError("the program does not play");
        return;
    }
    for (auto _ : state) {
        QTest::qWait(kWarmUpMs);
        const Cost ours = measure(getpid());
        const Cost bare = cvlcCost(home.path(), player.VlcMrl());
        if (bare.cpuPercent < 0) {
            state.SkipWithError("cvlc (vlc-bin) or setpriv is missing, or cvlc did not run");
            return;
        }
        state.counters["cvlc_cpu_pct"] = bare.cpuPercent;
        state.counters["quoxel_cpu_pct"] = ours.cpuPercent;
        state.counters["cpu_ratio"] = bare.cpuPercent > 0 ? ours.cpuPercent / bare.cpuPercent : 0;
        state.counters["rss_above_cvlc_mb"] = ours.peakRssMb - bare.peakRssMb;
        std::fprintf(stderr, "Quoxel by thread (%% of one core):\n%s", ours.split.constData());
        std::fprintf(stderr, "cvlc by thread:\n%s", bare.split.constData());
    }
    program.window().close();
}
BENCHMARK(BM_ProgramCostVsCvlc)->Unit(benchmark::kSecond)->Iterations(1);

// The info overlay shown over playing video with its refresh running (clock, progress, stream
// facts every 200 ms), against the same playback with no overlay. Target: under 2 % of one core.
void BM_OverlayOverVideo(benchmark::State& state) {
    Options = TOptions();
    Options.NoLogging = true;
    PlayingRig rig;
    if (const char* why = rig.start(); *why) {
        state.SkipWithError(why);
        return;
    }
    VLCPlayer& player = rig.player;
    OsdTestHost host;
    auto channel = std::make_shared<TChannel>();
    channel->Caption = QStringLiteral("Das Erste");
    channel->NowEPG.Title = QStringLiteral("Tagesschau");
    channel->NowEPG.StartClock = QStringLiteral("20:00");
    channel->NowEPG.DurationMin = QStringLiteral("15");
    channel->NowEPG.DurationSec = QStringLiteral("900");
    channel->NowEPG.StartSec = QDateTime::currentSecsSinceEpoch() - 300;
    channel->NowEPG.EndSec = channel->NowEPG.StartSec + 900;
    channel->NextEPG.Title = QStringLiteral("Wetter");
    channel->NextEPG.StartClock = QStringLiteral("20:15");
    host.akt = channel;
    host.model.setChannels({channel});
    quoxel::OsdController osd(host);
    for (auto _ : state) {
        const Cost plain = ourCost(player);
        const Cost shown = ourCost(player, [&] { osd.ShowOSD(quoxel::OsdWindow::Info, channel, false); });
        osd.HideOSD(quoxel::OsdWindow::Info);
        state.counters["playing_cpu_pct"] = plain.cpuPercent;
        state.counters["with_overlay_cpu_pct"] = shown.cpuPercent;
        state.counters["overlay_extra_cpu_pct"] = shown.cpuPercent - plain.cpuPercent;
    }
}
BENCHMARK(BM_OverlayOverVideo)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    // As the program starts.
    TuneAllocator();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
