// First picture of a live TV start: bare libvlc 3 embedded in an X window against VLCPlayer in
// the same kind of window, the same boxsim stream and caching, in one run. Needs an X display
// (run under Xvfb). Our time is counted from StartStream to the first displayed picture, less the
// 200 ms wait that Play keeps before it asks the engine to play.
#include "core/appflags.h"
#include "core/options.h"
#include "playback/vlcplayer.h"
#include "support/boxsimprocess.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <vlc/vlc.h>

namespace {

const QString kAddress = QStringLiteral("127.0.50.40");
constexpr int kRounds = 7;
constexpr int kPlayWaitMs = 200;

QString tvUrl() {
    return QStringLiteral("http://") + kAddress + QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101");
}

const char* const kArgs[] = {"--no-xlib", "--no-video-title-show", "--vout=xcb_x11", "--aout=alsa",
                             "--alsa-audio-device=null"};

// Milliseconds from play to the first displayed picture, bare libvlc.
double bareFirstPicture(libvlc_instance_t* vlc, QWidget& panel) {
    libvlc_media_player_t* mp = libvlc_media_player_new(vlc);
    libvlc_media_player_set_xwindow(mp, uint32_t(panel.winId()));
    libvlc_video_set_mouse_input(mp, 0);
    libvlc_video_set_key_input(mp, 0);
    QElapsedTimer t;
    t.start();
    libvlc_media_t* md = libvlc_media_new_location(vlc, tvUrl().toUtf8().constData());
    libvlc_media_add_option(md, ":network-caching=1000");
    libvlc_media_player_set_media(mp, md);
    libvlc_media_player_play(mp);
    double ms = -1;
    while (t.elapsed() < 20000) {
        libvlc_media_stats_t s{};
        if (libvlc_media_get_stats(md, &s) && s.i_displayed_pictures > 0) {
            ms = double(t.nsecsElapsed()) / 1e6;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    libvlc_media_player_stop(mp);
    libvlc_media_release(md);
    libvlc_media_player_release(mp);
    return ms;
}

// The same through the player; a watcher thread sees the picture while the UI thread sleeps in
// the caching wait, as the program's own UI thread does.
double playerFirstPicture(VLCPlayer& player) {
    std::atomic<bool> running{true};
    std::atomic<qint64> firstNs{-1};
    QElapsedTimer t;
    t.start();
    VlcEngine* engine = player.engine();
    std::thread watcher([&] {
        while (running && firstNs < 0 && t.elapsed() < 20000) {
            if (engine->stats().displayedPictures > 0)
                firstNs = t.nsecsElapsed();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    player.StartStream(AppMode::Live, false, tvUrl());
    (void)QTest::qWaitFor([&] { return firstNs >= 0; }, 20000);
    running = false;
    watcher.join();
    if (firstNs < 0)
        fprintf(stderr, "ours: state %d decoded %d displayed %d mrl %s\n", int(engine->state()),
                engine->stats().decodedVideo, engine->stats().displayedPictures, qPrintable(engine->mrl()));
    // As the channel switch does after a stop: the old item (and its counters) goes.
    player.Stop();
    engine->VLC_PlaylistClear();
    return firstNs < 0 ? -1 : double(firstNs) / 1e6 - kPlayWaitMs;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_FirstPictureRatio(benchmark::State& state) {
    Options = TOptions();
    Options.NoLogging = true;
    Options.IpPc = kAddress;
    BoxSimProcess sim(kAddress, {"--telnet-port", "0", "--vlc-port", "0", "--vlc-stream-port", "0"});
    if (!sim.start()) {
        state.SkipWithError("boxsim did not start");
        return;
    }
    QWidget barePanel;
    QWidget ourPanel;
    for (QWidget* w : {&barePanel, &ourPanel}) {
        w->setAttribute(Qt::WA_NativeWindow);
        w->resize(720, 576);
        w->show();
        (void)QTest::qWaitForWindowExposed(w, 5000);
    }
    libvlc_instance_t* vlc = libvlc_new(int(std::size(kArgs)), kArgs);
    PlayerView view;
    VLCPlayer player(view);
    player.setEngineArguments(
        {QStringLiteral("--vout=xcb_x11"), QStringLiteral("--aout=alsa"), QStringLiteral("--alsa-audio-device=null")});
    player.setCaching(QStringLiteral("1000"), QStringLiteral("3000"));
    if (!vlc || !player.VLCInit(quintptr(ourPanel.winId()), ourPanel.size())) {
        state.SkipWithError("libvlc did not start");
        return;
    }
    for (auto _ : state) {
        std::vector<double> bare, ours;
        for (int i = 0; i < kRounds; ++i) {
            bare.push_back(bareFirstPicture(vlc, barePanel));
            ours.push_back(playerFirstPicture(player));
        }
        const double b = median(bare);
        const double o = median(ours);
        state.counters["bare_median_ms"] = b;
        state.counters["ours_median_ms"] = o;
        state.counters["ratio"] = b > 0 ? o / b : 0;
    }
    libvlc_release(vlc);
}
BENCHMARK(BM_FirstPictureRatio)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
