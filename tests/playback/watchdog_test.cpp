#include "playback/channelswitch.h"

#include "switchfixture.h"

namespace {

const QString kDasErste = QStringLiteral("43700016d66");
const QString kZdf = QStringLiteral("437000273f2");

// Quoxel mode: the providing instance's re-served stream comes from the simulator's remote-VLC
// stream port, and the receiver it drives is the simulator's web server.
class QuoxelFixture : public SwitchFixture {
protected:
    explicit QuoxelFixture(const char* address, const QStringList& simArgs = {})
        : SwitchFixture(address,
                        QStringList{QStringLiteral("--vlc-stream-port"), QString::number(kProvidePort)} + simArgs, 2) {}

    void SetUp() override {
        SwitchFixture::SetUp();
        if (HasFatalFailure())
            return;
        // The window's Bouquets menu click loads the bouquet.
        host.onBouquetClick = [this](int position) {
            model->SwitchBouquet(position, switcher->AktChannel() ? switcher->AktChannel()->Id : QString());
        };
        ASSERT_TRUE(provide(true));
        loadNowNext();
        switchTo(kDasErste);
        ASSERT_TRUE(decodesPictures());
        ASSERT_TRUE(switcher->TimerVLC().isActive());
        ASSERT_TRUE(switcher->streamConnected());
    }

    // The providing instance starts or stops re-serving the receiver's stream: the simulator's
    // VLC fetches it and serves it again as a transport stream, as a providing Quoxel does.
    bool provide(bool on) {
        const QByteArray item =
            "/?control=add&mrl=http://" + m_address.toLatin1() +
            ":31339/0,0x0064,0x00FF,0x0100%20:sout=%23std%7Baccess=http,mux=ts,dst=" + m_address.toLatin1() + ":" +
            QByteArray::number(kProvidePort) + "%7D";
        if (!on)
            return BoxSimProcess::httpGet(m_address, 8080, "/?control=stop").ok;
        return BoxSimProcess::httpGet(m_address, 8080, "/?control=empty").ok &&
               BoxSimProcess::httpGet(m_address, 8080, item).ok &&
               BoxSimProcess::httpGet(m_address, 8080, "/?control=play&item=0").ok;
    }

    int providedStreams() { return static_cast<int>(sim.requestTargets(QStringLiteral("vlcstream")).size()); }

    bool zappedByUs() {
        for (const QString& t : boxRequests())
            if (t.startsWith(QLatin1String("/control/zapto?")) && t != QLatin1String("/control/zapto?getallpids") &&
                t != QLatin1String("/control/zapto?getallsubchannels"))
                return true;
        return false;
    }
};

class WatchdogTest : public QuoxelFixture {
protected:
    WatchdogTest()
        : QuoxelFixture("127.0.52.5") {}
};

} // namespace

// While the user has paused, a missing stream is never restarted.
TEST_F(WatchdogTest, PausedStreamIsLeftAlone) {
    player->BtnPlayClick();
    ASSERT_TRUE(IsPaused);
    ASSERT_TRUE(provide(false));
    const int streams = providedStreams();
    status.texts.clear();
    for (int i = 0; i < 3; ++i) {
        switcher->TimerVLCTimer();
        QTest::qWait(300);
    }
    EXPECT_EQ(providedStreams(), streams);
    EXPECT_TRUE(switcher->streamConnected());
    EXPECT_EQ(switcher->TimerVLC().interval(), ChannelSwitcher::kWatchdogLostMs);
    EXPECT_FALSE(status.texts.contains(QStringLiteral("no connection to quoxel stream!")));
}

// In full screen a lost picture leaves full screen; in quoxel mode the watchdog keeps running.
TEST_F(WatchdogTest, FullscreenWithoutPictureLeavesFullscreen) {
    host.fullscreen = true;
    switcher->TimerVLCTimer();
    EXPECT_TRUE(host.fullscreen) << "the engine plays: nothing happens";
    ASSERT_TRUE(provide(false));
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            switcher->TimerVLCTimer();
            return !host.fullscreen;
        },
        20000));
    EXPECT_TRUE(host.calls.contains(QStringLiteral("hideOsd")));
    EXPECT_TRUE(switcher->TimerVLC().isActive());
    EXPECT_TRUE(switcher->streamConnected());
}

namespace {

struct FollowCase {
    const char* label;
    const char* onAir;   // channel the provider put the receiver on
    const char* faultAt; // endpoint whose answer is spoiled, empty: none
    const char* faultMode;
    QList<int> clicks;      // Bouquets menu items clicked
    const char* bouquetNr;  // the current bouquet number afterwards
    const char* aktChannel; // the channel on air for us afterwards
};

void PrintTo(const FollowCase& c, std::ostream* os) {
    *os << c.label;
}

class FollowProviderTest : public QuoxelFixture, public ::testing::WithParamInterface<FollowCase> {
protected:
    FollowProviderTest()
        : QuoxelFixture("127.0.52.6") {}
};

} // namespace

// The tick that sees the stream back reads the provider's bouquet and channel; every answer may be
// wrong, and a wrong one changes nothing it cannot stand behind.
TEST_P(FollowProviderTest, TakesOverBouquetAndChannel) {
    const FollowCase& c = GetParam();
    ASSERT_TRUE(sim.setState(QStringLiteral("channel"), QString::fromLatin1(c.onAir)));
    if (*c.faultAt) {
        ASSERT_TRUE(sim.setFault(QString::fromLatin1(c.faultAt), QString::fromLatin1(c.faultMode), 1 << 20));
    }
    ASSERT_TRUE(sim.clearRequests());
    switcher->setStreamConnected(false);
    switcher->TimerVLCTimer();

    EXPECT_EQ(host.bouquetClicks, c.clicks);
    EXPECT_EQ(model->CurBouquetNr, QString::fromLatin1(c.bouquetNr));
    EXPECT_EQ(switcher->AktChannel()->Id, QString::fromLatin1(c.aktChannel));
    EXPECT_TRUE(switcher->streamConnected());
    EXPECT_EQ(switcher->TimerVLC().interval(), ChannelSwitcher::kWatchdogMs);
    EXPECT_FALSE(zappedByUs());
    const int at = model->LocateChannel(QString::fromLatin1(c.aktChannel));
    if (QLatin1String(c.aktChannel) != QLatin1String(c.onAir))
        return;
    EXPECT_EQ(model->selectedIndex(), at);
    EXPECT_TRUE(model->channelMenu()[at].Checked);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FollowProviderTest,
    ::testing::Values(
        FollowCase{"OtherBouquet", "85000300002", "", "", {1}, "2", "85000300002"},
        FollowCase{
            "BouquetGarbage", "437000273f2", "/control/getbouquet?actual", "garbage-body", {}, "1", "437000273f2"},
        FollowCase{"BouquetEmpty", "85000300002", "/control/getbouquet?actual", "empty", {}, "1", "43700016d66"},
        FollowCase{"BouquetHuge", "437000273f2", "/control/getbouquet?actual", "huge", {}, "1", "437000273f2"},
        FollowCase{"BouquetServerError", "437000273f2", "/control/getbouquet?actual", "status", {}, "1", "437000273f2"},
        FollowCase{"ChannelGarbage", "437000273f2", "/control/zapto", "garbage-body", {}, "1", "43700016d66"},
        FollowCase{"ChannelCut", "437000273f2", "/control/zapto", "close", {}, "1", "43700016d66"}),
    [](const ::testing::TestParamInfo<FollowCase>& info) { return std::string(info.param.label); });

namespace {

class LiveWatchdogTest : public SwitchFixture {
protected:
    LiveWatchdogTest()
        : SwitchFixture("127.0.52.7") {}
};

} // namespace

// Outside quoxel mode the watchdog only guards full screen: with no picture it leaves full screen
// and stops itself; otherwise a tick neither restarts nor asks the receiver anything.
TEST_F(LiveWatchdogTest, OnlyGuardsFullscreen) {
    EXPECT_FALSE(switcher->TimerVLC().isActive());
    switcher->startWatchdog(ChannelSwitcher::kWatchdogMs);
    ASSERT_TRUE(sim.clearRequests());
    switcher->TimerVLCTimer();
    EXPECT_TRUE(switcher->TimerVLC().isActive());
    EXPECT_TRUE(switcher->streamConnected());
    EXPECT_TRUE(boxRequests().isEmpty());

    host.fullscreen = true;
    switcher->TimerVLCTimer();
    EXPECT_FALSE(host.fullscreen);
    EXPECT_TRUE(host.calls.contains(QStringLiteral("hideOsd")));
    EXPECT_FALSE(switcher->TimerVLC().isActive());
    EXPECT_TRUE(boxRequests().isEmpty());
    EXPECT_TRUE(sim.requestTargets(QStringLiteral("tv")).isEmpty());
}
