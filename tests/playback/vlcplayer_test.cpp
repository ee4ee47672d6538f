#include "playback/vlcplayer.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/options.h"
#include "playback/vlctestsupport.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/statustrail.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <thread>

// The local player with the real engine (no picture window, ALSA's null device) against the
// receiver simulator's real streams. Each fixture has its own loopback address.
namespace {

const QString kTvPath = QStringLiteral("/0,0x0064,0x00FF,0x0100,0x0101");

class PlayerFixture : public ::testing::Test {
protected:
    explicit PlayerFixture(const char* address, QStringList simArgs = {})
        : m_address(QString::fromLatin1(address))
        , m_sim(m_address,
                QStringList{QStringLiteral("--telnet-port"), QStringLiteral("0"), QStringLiteral("--vlc-port"),
                            QStringLiteral("0"), QStringLiteral("--vlc-stream-port"), QStringLiteral("0")} +
                    simArgs) {}

    void SetUp() override {
        Options.BoxAddress = m_address + QStringLiteral(":80");
        Options.IpLan = m_address;
        Options.IpPc = m_address;
        Options.StreamPortProv = QStringLiteral("31329");
        Options.StreamPortUdp = QStringLiteral("31330");
        Options.QuoxelAddress = m_address + QStringLiteral(":31329");
        IsPaused = false;
        ASSERT_TRUE(m_sim.start());
        m_http.Timeout = BoxClient::kTimeoutSec;
        m_player = std::make_unique<VLCPlayer>(m_view);
        m_player->setBoxClient(&m_box);
        m_player->setEngineArguments(headlessEngineArgs());
        m_player->setCaching(QStringLiteral("300"), QStringLiteral("300"));
        m_player->setTimeshiftDir(m_shiftDir.path());
        ASSERT_TRUE(m_player->VLCInit(0, QSize(720, 576)));
        ASSERT_EQ(m_player->VlcHandle(), 1);
    }

    void TearDown() override { m_player.reset(); }

    QString tvUrl() const { return QStringLiteral("http://") + m_address + QStringLiteral(":31339") + kTvPath; }
    QString radioUrl() const { return QStringLiteral("http://") + m_address + QStringLiteral(":31338/0x0100"); }

    VlcEngine& engine() { return *m_player->engine(); }
    bool waitDecodedVideo(int frames, int ms) {
        return waitFor([&] { return engine().stats().decodedVideo >= frames; }, ms);
    }
    bool logHas(const QRegularExpression& re, int ms, QRegularExpressionMatch* match = nullptr) {
        return waitFor(
            [&] {
                for (const QString& l : engine().engineLog()) {
                    const QRegularExpressionMatch m = re.match(l);
                    if (m.hasMatch()) {
                        if (match)
                            *match = m;
                        return true;
                    }
                }
                return false;
            },
            ms);
    }

    ScopedAppState m_state;
    QString m_address;
    BoxSimProcess m_sim;
    TestDir m_shiftDir;
    TIEHTTP m_http;
    BoxClient m_box{m_http};
    RecordingView m_view;
    std::unique_ptr<VLCPlayer> m_player;
};

class PlayerTvTest : public PlayerFixture {
protected:
    PlayerTvTest()
        : PlayerFixture("127.0.50.10") {}
};

// The old option names have their effect in libvlc 3: caching as network caching, the time-shift
// folder and granularity, and the "mean" deinterlacer in the video output at full height.
TEST_F(PlayerTvTest, OldOptionsTakeEffect) {
    m_player->setCaching(QStringLiteral("1500"), QStringLiteral("300"));
    m_player->StartStream(AppMode::Live, false, tvUrl());
    ASSERT_TRUE(waitDecodedVideo(5, 15000));
    EXPECT_TRUE(engine().appliedMediaOptions().contains(QStringLiteral(":network-caching=1500")));
    EXPECT_EQ(engine().appliedDeinterlaceMode(), QStringLiteral("blend"));
    QRegularExpressionMatch m;
    ASSERT_TRUE(logHas(QRegularExpression(QStringLiteral("Stream buffering done \\((\\d+) ms")), 10000, &m));
    // The engine buffers up to its caching before it starts; the default would be 1000 ms.
    EXPECT_GE(m.captured(1).toInt(), 1200) << m.captured(0).toStdString();
    EXPECT_TRUE(logHas(
        QRegularExpression(QStringLiteral("using timeshift path: ") + QRegularExpression::escape(m_shiftDir.path())),
        5000));
    EXPECT_TRUE(logHas(QRegularExpression(QStringLiteral("using timeshift granularity of 300 MiB")), 5000));
    EXPECT_TRUE(logHas(QRegularExpression(QStringLiteral("deinterlace 1, mode blend")), 5000))
        << engine().engineLog().filter(QStringLiteral("nterlac")).join(QLatin1Char('\n')).toStdString();
    // The read-ahead ring is the engine's 2 MiB, not its default 16 MiB: its size option alone
    // does nothing while the read size stays at 16 MiB.
    EXPECT_TRUE(
        logHas(QRegularExpression(QStringLiteral("prefetch.*using 2097152 bytes buffer, 131072 bytes read")), 5000))
        << engine().engineLog().filter(QStringLiteral("prefetch")).join(QLatin1Char('\n')).toStdString();
}

// Low caching is low buffering: the mapping is what makes the difference.
TEST_F(PlayerTvTest, LowCachingBuffersLess) {
    m_player->setCaching(QStringLiteral("200"), QStringLiteral("300"));
    m_player->StartStream(AppMode::Live, false, tvUrl());
    QRegularExpressionMatch m;
    ASSERT_TRUE(logHas(QRegularExpression(QStringLiteral("Stream buffering done \\((\\d+) ms")), 15000, &m));
    EXPECT_LT(m.captured(1).toInt(), 900) << m.captured(0).toStdString();
}

// A volume from others is held within 0..100.
TEST_F(PlayerTvTest, VolumeFromOthersIsClamped) {
    m_player->StartStream(AppMode::Live, false, tvUrl());
    ASSERT_TRUE(waitFor([&] { return engine().engineVolume() >= 0 && engine().stats().decodedAudio > 0; }, 15000));
    m_player->setVolumeFromOthers(250);
    EXPECT_EQ(m_player->volume(), 100);
    EXPECT_TRUE(waitFor([&] { return engine().engineVolume() == 100; }, 3000));
}

// Without a channel selection the speaker picture changes nothing.
TEST_F(PlayerTvTest, MuteWithoutSelectionChangesNothing) {
    m_view.selection = false;
    m_player->ImgVolOnClick();
    EXPECT_FALSE(m_player->muted());
    EXPECT_EQ(m_view.mutedShown, -1);
}

// Stop ends playback, "stream stopped!", PlayState 2; a second Stop does nothing at all.
TEST_F(PlayerTvTest, StopThenStopAgain) {
    m_player->StartStream(AppMode::Live, false, tvUrl());
    ASSERT_TRUE(waitDecodedVideo(3, 15000));
    StatusTrail status;
    const qint64 from = logSize();
    m_player->Stop();
    EXPECT_EQ(m_player->PlayState(), 2);
    // The calls and waits of a stop, in order, in the log.
    const QStringList wanted{
        QStringLiteral("Stop()"),      QStringLiteral("VLC_Pause()"),          QStringLiteral("Delay 200ms"),
        QStringLiteral("VLC_Stop()"),  QStringLiteral("Delay 200ms"),          QStringLiteral("VLD_Startup()"),
        QStringLiteral("Delay 200ms"), QStringLiteral("VLC_IsPlaying()-Loop"), QStringLiteral("Delay 700ms")};
    qsizetype at = 0;
    const QStringList lines = logLinesSince(from);
    for (const QString& w : wanted) {
        while (at < lines.size() && !lines[at].contains(w))
            ++at;
        EXPECT_LT(at, lines.size()) << "missing in order: " << w.toStdString();
        ++at;
    }
    EXPECT_EQ(engine().VLC_IsPlaying(), 0);
    EXPECT_TRUE(status.texts.contains(QStringLiteral("stopping stream...")));
    EXPECT_EQ(status.texts.last(), QStringLiteral("stream stopped!"));
    status.texts.clear();
    m_player->Stop();
    EXPECT_TRUE(status.texts.isEmpty());
}

// The play button pauses the channel on air (never resumes by a second pause), plays it again,
// and switches when another channel is selected.
TEST_F(PlayerTvTest, PlayButton) {
    m_player->StartStream(AppMode::Live, false, tvUrl());
    ASSERT_TRUE(waitFor([&] { return engine().VLC_IsPlaying() != 0; }, 15000));
    m_player->BtnPlayClick();
    EXPECT_TRUE(IsPaused);
    EXPECT_EQ(m_view.caption, QStringLiteral("4"));
    EXPECT_TRUE(waitFor([&] { return engine().state() == VlcState::Paused; }, 5000));
    engine().VLC_Pause(); // pausing twice stays paused
    QTest::qWait(300);
    EXPECT_EQ(engine().state(), VlcState::Paused);
    m_player->BtnPlayClick();
    EXPECT_FALSE(IsPaused);
    EXPECT_EQ(m_view.caption, QStringLiteral(";"));
    EXPECT_TRUE(waitFor([&] { return engine().state() == VlcState::Playing; }, 5000));
    m_view.aktSelected = false;
    m_player->BtnPlayClick();
    EXPECT_EQ(m_view.switches, 1);
    EXPECT_GE(m_view.focusChannelBoxCalls, 3);
    IsSwitching = true;
    m_player->BtnPlayClick();
    EXPECT_EQ(m_view.switches, 1);
    IsSwitching = false;
}

// A radio channel plays the audio-only stream: audio decoded, no picture.
TEST_F(PlayerTvTest, RadioPlaysAudioOnly) {
    m_player->StartStream(AppMode::Live, true, radioUrl());
    EXPECT_EQ(m_player->VlcOptions[0], QStringLiteral(":http-caching=300"));
    EXPECT_TRUE(m_player->VlcOptions[1].isEmpty());
    ASSERT_TRUE(waitFor([&] { return engine().stats().decodedAudio > 10; }, 15000));
    EXPECT_EQ(engine().stats().decodedVideo, 0);
    EXPECT_EQ(engine().audioTrackIds().size(), 1u);
}

// The PIDs of an unavailable channel: the fixed text, no target, the switch released.
TEST_F(PlayerTvTest, UnavailableStream) {
    StatusTrail status;
    m_player->StartStream(AppMode::Live, false,
                          QStringLiteral("http://") + m_address + QStringLiteral(":31339/0,0x0000,0x0000,0x0000"));
    EXPECT_EQ(status.texts.last(), QStringLiteral("stream is not available!"));
    EXPECT_EQ(m_view.notAvailable, 1);
    EXPECT_TRUE(engine().mrl().isEmpty());
    EXPECT_EQ(m_player->PlayState(), 2);
}

// The caching wait counts down in steps of 10 ms after its 500 ms and then shows the status.
TEST_F(PlayerTvTest, CachingCountdown) {
    m_player->setCaching(QStringLiteral("1000"), QStringLiteral("3000"));
    m_player->setStreamInfo(PlayingFacts{QStringLiteral("720x576"), QStringLiteral("1500kbit"), QStringLiteral("mp2")});
    StatusTrail status;
    m_player->WaitCaching();
    QStringList expected;
    for (int left = 990; left >= 0; left -= 10)
        expected << QStringLiteral("caching...(%1ms)").arg(left);
    expected << QStringLiteral("playing HTTP stream...(720x576/1500kbit/mp2)");
    EXPECT_EQ(status.texts, expected);
}

// A hostile cache setting does not hold the UI: the wait is capped, and IsClosing ends it early.
TEST_F(PlayerTvTest, CachingWaitBounded) {
    m_player->setCaching(QStringLiteral("2147483647"), QStringLiteral("3000"));
    StatusTrail status;
    QTimer::singleShot(0, [] {}); // nothing runs during the wait: it sleeps on this thread
    IsClosing = false;
    std::thread closer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        IsClosing = true;
    });
    QElapsedTimer t;
    t.start();
    m_player->WaitCaching();
    closer.join();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(status.texts.first(), QStringLiteral("caching...(%1ms)").arg(VLCPlayer::kMaxCachingMs - 10));
}

// The full-screen steps of "VLC Stop", "VLC Restart" and the audio choice, in order.
TEST_F(PlayerTvTest, FullscreenSteps) {
    m_view.fullscreen = true;
    m_player->VLCStop1Click();
    EXPECT_EQ(m_view.steps, (QStringList{QStringLiteral("leaveFullscreen"), QStringLiteral("showMainWindow")}));
    EXPECT_EQ(m_view.caption, QStringLiteral("4"));
    m_view.steps.clear();
    m_player->VLCRestart1Click();
    EXPECT_EQ(m_view.steps, (QStringList{QStringLiteral("hideOsdInfo"), QStringLiteral("showBackdrop"),
                                         QStringLiteral("startBackdropShowTimer")}));
    m_view.steps.clear();
    m_player->Audio1Click(1);
    EXPECT_EQ(m_view.steps, (QStringList{QStringLiteral("showBackdrop"), QStringLiteral("sendBehindBackdrop"),
                                         QStringLiteral("startBackdropShowTimer")}));
    // Without a selected channel nothing stops and nothing plays.
    m_view.selection = false;
    m_view.steps.clear();
    const int before = m_player->PlayState();
    m_player->VLCStop1Click();
    EXPECT_TRUE(m_view.steps.isEmpty());
    EXPECT_EQ(m_player->PlayState(), before);
}

struct SlotCase {
    const char* name;
    bool radio;
    bool provide;
    int count;
};

class OptionSlotTest : public PlayerFixture, public ::testing::WithParamInterface<SlotCase> {
protected:
    OptionSlotTest()
        : PlayerFixture("127.0.50.11") {}
};

// The option slots of a live start for TV/radio with and without re-serving.
TEST_P(OptionSlotTest, Slots) {
    const SlotCase& c = GetParam();
    Options.ProvideStream = c.provide;
    m_player->StartStream(AppMode::Live, c.radio, c.radio ? radioUrl() : tvUrl());
    const QString cache = QStringLiteral(":http-caching=300");
    const QString dup = QStringLiteral(":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=") + m_address +
                        QStringLiteral(":31329}}");
    QStringList expected;
    if (c.radio) {
        expected << cache;
        if (c.provide)
            expected << dup;
    } else {
        expected << cache << QStringLiteral(":vout-filter=deinterlace") << QStringLiteral(":deinterlace-mode=mean");
        if (c.provide)
            expected << dup;
        expected << QStringLiteral(":access-filter=timeshift") << QStringLiteral(":timeshift-force=1")
                 << QStringLiteral(":timeshift-granularity=300") << QStringLiteral(":timeshift-dir=c:\\");
    }
    ASSERT_EQ(expected.size(), c.count);
    EXPECT_EQ(engine().targetOptions(), expected);
    for (int i = 0; i < VLCPlayer::kOptionSlots; ++i)
        EXPECT_EQ(m_player->VlcOptions[size_t(i)], expected.value(i)) << i;
}

INSTANTIATE_TEST_SUITE_P(Live, OptionSlotTest,
                         ::testing::Values(SlotCase{"TvProvide", false, true, 8}, SlotCase{"Tv", false, false, 7},
                                           SlotCase{"RadioProvide", true, true, 2}, SlotCase{"Radio", true, false, 1}),
                         [](const ::testing::TestParamInfo<SlotCase>& info) { return std::string(info.param.name); });

class PlayerStallTest : public PlayerFixture {
protected:
    PlayerStallTest()
        : PlayerFixture("127.0.50.13") {}
};

// Quoxel mode with a provider that never answers: the caching wait ends on its budget with
// "no connection to quoxel stream!".
TEST_F(PlayerStallTest, QuoxelWithoutStreamEndsCaching) {
    Options.Mode = AppMode::Quoxel;
    // The provider's address is a silent receiver port.
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("tv"), QStringLiteral("silent")));
    Options.QuoxelAddress = m_address + QStringLiteral(":31339");
    StatusTrail status;
    QElapsedTimer t;
    t.start();
    m_player->StartStream(AppMode::Quoxel, false, QString());
    EXPECT_LT(t.elapsed(), 200 + 200 + 500 + 300 + 3000);
    EXPECT_EQ(status.texts.last(), QStringLiteral("no connection to quoxel stream!"));
    EXPECT_EQ(engine().targetOptions(),
              (QStringList{QStringLiteral(":vout-filter=deinterlace"), QStringLiteral(":deinterlace-mode=mean")}));
}

// Stopping a source that went silent keeps the window responsive and ends within its bound.
TEST_F(PlayerStallTest, StopOnSilentSourceIsBounded) {
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("tv"), QStringLiteral("silent")));
    m_player->StartStream(AppMode::Live, false, tvUrl());
    QElapsedTimer t;
    t.start();
    m_player->Stop();
    const qint64 took = t.elapsed();
    // Whether the engine ever reported playing or not, nothing waits past the stop bound.
    EXPECT_LT(took, 200 + 200 + 200 + 700 + VLCPlayer::kStopLoopBoundMs + 2000);
    EXPECT_EQ(engine().VLC_IsPlaying(), 0);
    // And the engine plays again afterwards.
    ASSERT_TRUE(m_sim.clearFaults());
    m_player->Play(false);
    EXPECT_TRUE(waitDecodedVideo(3, 15000))
        << int(engine().state()) << " took " << took << "\n"
        << engine().engineLog().mid(engine().engineLog().size() - 40).join(QLatin1Char('\n')).toStdString();
}

// Stop on a source that stalls while playing, driven by the engine directly: the stop never
// holds the caller, and the engine reports not playing within its own bound.
TEST_F(PlayerStallTest, EngineStopReturnsAtOnce) {
    m_player->StartStream(AppMode::Live, false, tvUrl());
    ASSERT_TRUE(waitDecodedVideo(3, 15000));
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("tv"), QStringLiteral("silent")));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(engine().VLC_Stop(), VLC_SUCCESS);
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(waitFor([&] { return engine().VLC_IsPlaying() == 0; }, VlcEngine::kStopBoundMs + 2000));
}

} // namespace
