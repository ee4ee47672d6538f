#include "playback/channelswitch.h"

#include "switchfixture.h"

#include "core/freememory.h"
#include "support/memoryburst.h"

#include <QElapsedTimer>

namespace {

const QString kDasErste = QStringLiteral("43700016d66");
const QString kZdf = QStringLiteral("437000273f2");
const QString kBr = QStringLiteral("44100016dca");
const QString kBayern3 = QStringLiteral("44100016e54");
const QString kNoProgramme = QStringLiteral("1000f0001");

struct ZapCase {
    const char* label;
    int mode;
    const char* bouquet;
    const char* to;
    bool nowNextKnown;
    QStringList requests;
    const char* service; // where the player fetched the stream, empty: nowhere
    const char* streamPath;
    bool unavailable = false;
};

void PrintTo(const ZapCase& c, std::ostream* os) {
    *os << c.label;
}

class ZapSequenceTest : public SwitchFixture, public ::testing::WithParamInterface<ZapCase> {
protected:
    ZapSequenceTest()
        : SwitchFixture("127.0.52.2", {}, GetParam().mode) {}
};

} // namespace

// The receiver sees exactly the mode, zap, sub-channel and stream requests of a switch, in order,
// and the player fetches the address built from the PIDs.
TEST_P(ZapSequenceTest, ReceiverRequestsInOrder) {
    const ZapCase& c = GetParam();
    if (QLatin1String(c.bouquet) != QLatin1String("1")) {
        ASSERT_TRUE(model->LoadBouquet(QString::fromLatin1(c.bouquet)));
        model->setSelectedIndex(0);
    }
    if (c.nowNextKnown)
        loadNowNext();
    ASSERT_TRUE(sim.clearRequests());
    switchTo(QString::fromLatin1(c.to));

    EXPECT_EQ(boxRequests(), c.requests);
    ASSERT_TRUE(switcher->AktChannel());
    EXPECT_EQ(switcher->AktChannel()->Id, QString::fromLatin1(c.to));
    if (*c.service) {
        EXPECT_TRUE(decodesPictures() || QLatin1String(c.service) == QLatin1String("radio"));
        EXPECT_EQ(sim.requestTargets(QString::fromLatin1(c.service)), QStringList{QString::fromLatin1(c.streamPath)});
        EXPECT_FALSE(status.texts.contains(QStringLiteral("stream is not available!")));
    } else {
        EXPECT_TRUE(sim.requestTargets(QStringLiteral("tv")).isEmpty());
        EXPECT_EQ(status.texts.contains(QStringLiteral("stream is not available!")), c.unavailable);
        EXPECT_EQ(playerView->notAvailable, c.unavailable ? 1 : 0);
    }
    EXPECT_TRUE(status.texts.contains(QStringLiteral("switching channel...")));
    EXPECT_TRUE(status.texts.contains(QStringLiteral("getting streaminfo...")));
    EXPECT_FALSE(IsSwitching.load());
    EXPECT_LT(status.texts.indexOf(QStringLiteral("switching channel...")),
              status.texts.indexOf(QStringLiteral("getting streaminfo...")));
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ZapSequenceTest,
    ::testing::Values(
        ZapCase{"TvToTv",
                0,
                "1",
                "437000273f2",
                true,
                {"/control/getmode", "/control/system?setAViAExtPlayBack=spts", "/control/zapto?437000273f2",
                 "/control/zapto", "/control/info?streaminfo", "/control/zapto?getallpids"},
                "tv",
                "/0,0x0100,0x006E,0x0078,0x0079,0x007D"},
        ZapCase{"TvToRadio",
                0,
                "1",
                "44100016e54",
                true,
                {"/control/getmode", "/control/system?setAViAExtPlayBack=pes", "/control/setmode?radio",
                 "/control/zapto?44100016e54", "/control/zapto", "/control/info?streaminfo",
                 "/control/zapto?getallpids"},
                "radio",
                "/0x090A"},
        ZapCase{"NowNextUnknownRefetchesTheOverview",
                0,
                "1",
                "437000273f2",
                false,
                {"/control/getmode", "/control/system?setAViAExtPlayBack=spts", "/control/zapto?437000273f2",
                 "/control/zapto", "/control/epg?ext", "/control/info?streaminfo", "/control/zapto?getallpids"},
                "tv",
                "/0,0x0100,0x006E,0x0078,0x0079,0x007D"},
        ZapCase{"PortalListsItsSubChannels",
                0,
                "2",
                "85000300008",
                true,
                {"/control/getmode", "/control/system?setAViAExtPlayBack=spts", "/control/zapto?85000300008",
                 "/control/zapto", "/control/zapto?getallsubchannels", "/control/info?streaminfo",
                 "/control/zapto?getallpids"},
                "tv",
                "/0,0x0061,0x01FF,0x0200,0x0201"},
        ZapCase{"AllPidsZeroIsNotAvailable",
                0,
                "4",
                "1000f0001",
                true,
                {"/control/getmode", "/control/system?setAViAExtPlayBack=spts", "/control/zapto?1000f0001",
                 "/control/zapto", "/control/epg?ext", "/control/info?streaminfo", "/control/zapto?getallpids"},
                "",
                "",
                true},
        // The providing instance has put the receiver on its channel: no mode change, no zap.
        ZapCase{"QuoxelModeNeitherZapsNorSetsModes",
                2,
                "1",
                "437000273f2",
                true,
                {"/control/info?streaminfo", "/control/zapto?getallpids"},
                "",
                ""}),
    [](const ::testing::TestParamInfo<ZapCase>& info) { return std::string(info.param.label); });

namespace {

class SwitchTest : public SwitchFixture {
protected:
    SwitchTest()
        : SwitchFixture("127.0.52.3") {}
    void SetUp() override {
        SwitchFixture::SetUp();
        if (!HasFatalFailure())
            loadNowNext();
    }
};

} // namespace

// Enter on the channel already on air stops, re-reads the stream and plays again: no zap, no mode
// requests, no audio-track reset.
TEST_F(SwitchTest, SameChannelAgainRestartsWithoutZap) {
    switchTo(kZdf);
    ASSERT_TRUE(decodesPictures());
    ASSERT_TRUE(sim.clearRequests());
    const qint64 mark = logMark();
    host.calls.clear();
    switchTo(kZdf);

    EXPECT_EQ(boxRequests(), (QStringList{"/control/info?streaminfo", "/control/zapto?getallpids"}));
    EXPECT_EQ(sim.requestTargets(QStringLiteral("tv")).size(), 1);
    const QString log = logSince(mark);
    EXPECT_TRUE(log.contains(QLatin1String("Stop()")));
    EXPECT_TRUE(log.contains(QLatin1String("VLC_PlaylistClear()")));
    EXPECT_FALSE(log.contains(QLatin1String("VLC_VariableGet(conf::audio-track)")));
    EXPECT_FALSE(log.contains(QLatin1String("SetDboxMode()")));
    // The same channel: the play button shows pause at once.
    EXPECT_TRUE(host.calls.contains(QStringLiteral("play:;")));
    EXPECT_FALSE(host.calls.contains(QStringLiteral("play:4")));
    EXPECT_TRUE(decodesPictures());
}

// Pages freed while a channel played go back to the system when the next switch ends, not only at
// the clock's next tick (which this test has none of).
TEST_F(SwitchTest, FreedPagesGoBackWhenASwitchEnds) {
#ifdef QUOXEL_OWN_ALLOCATOR
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#else
    switchTo(kZdf);
    ASSERT_TRUE(decodesPictures());
    constexpr std::int64_t kBurst = 64ll << 20;
    void* pin = burstOnAThread(std::size_t(kBurst / 4096), 4096);
    ASSERT_GT(allocatorFreeBytes(), kBurst / 2);
    const std::int64_t before = residentBytes();
    switchTo(kBr);
    const std::int64_t after = residentBytes();
    std::free(pin);
    EXPECT_LT(after, before - kBurst / 2) << "resident before " << before << ", after " << after;
    EXPECT_TRUE(decodesPictures());
#endif
}

// At start-up the channel the receiver shows is taken over: modes set, audio track reset, no zap.
TEST_F(SwitchTest, StartUpTakesOverWithoutZap) {
    IsStarting = true;
    ASSERT_EQ(player->engine()->VLC_VariableSet(QStringLiteral("conf::audio-track"), qint64(1)), 0);
    ASSERT_TRUE(sim.clearRequests());
    const qint64 mark = logMark();
    switchTo(kDasErste);
    EXPECT_EQ(boxRequests(), (QStringList{"/control/getmode", "/control/system?setAViAExtPlayBack=spts",
                                          "/control/info?streaminfo", "/control/zapto?getallpids"}));
    const QString log = logSince(mark);
    EXPECT_TRUE(log.contains(QLatin1String("SwitchChannel(1. Das Erste)")));
    EXPECT_TRUE(log.contains(QLatin1String("VLC_VariableGet(conf::audio-track) 1")));
    EXPECT_TRUE(log.contains(QLatin1String("VLC_VariableSet(conf::audio-track) 0")));
    qint64 track = -1;
    EXPECT_EQ(player->engine()->VLC_VariableGet(QStringLiteral("conf::audio-track"), &track), 0);
    EXPECT_EQ(track, 0);
    EXPECT_TRUE(decodesPictures());
}

// A second switch asked for while one runs (Enter in the box, or any other caller) is refused.
TEST_F(SwitchTest, SecondSwitchRefusedWhileOneRuns) {
    int attempts = 0;
    host.onEvents = [&] {
        if (attempts++ > 0)
            return;
        EXPECT_TRUE(IsSwitching.load());
        model->setSelectedIndex(model->LocateChannel(kBr));
        EXPECT_TRUE(switcher->CmbChannelsKeyDown(32));
        switcher->SwitchChannel(channel(kBayern3));
    };
    ASSERT_TRUE(sim.clearRequests());
    model->setSelectedIndex(model->LocateChannel(kZdf));
    switcher->SwitchChannel(channel(kZdf));
    host.onEvents = nullptr;

    const QStringList requests = boxRequests();
    EXPECT_EQ(requests.count(QStringLiteral("/control/zapto?437000273f2")), 1);
    EXPECT_FALSE(requests.contains(QStringLiteral("/control/zapto?44100016dca")));
    EXPECT_FALSE(requests.contains(QStringLiteral("/control/zapto?44100016e54")));
    EXPECT_EQ(switcher->AktChannel()->Id, kZdf);
    EXPECT_FALSE(IsSwitching.load());
    EXPECT_GT(attempts, 1);
}

// The window's view steps of a switch, in order: covers away, logo, caption, play button, and at
// the end the programme bar and the EPG thread.
TEST_F(SwitchTest, WindowStepsInOrder) {
    host.calls.clear();
    switchTo(kZdf);
    const TChannelRef zdf = channel(kZdf);
    const QStringList expected{QStringLiteral("closeDropDown"),
                               QStringLiteral("suppress:1"),
                               QStringLiteral("hidePanels"),
                               QStringLiteral("logo:") + kZdf,
                               QStringLiteral("focusVolume"),
                               QStringLiteral("busy:1"),
                               QStringLiteral("caption:2. ZDF, ") + zdf->NowEPG.Title,
                               QStringLiteral("play:4"),
                               QStringLiteral("subMenu:0"),
                               QStringLiteral("reshowStatus"),
                               QStringLiteral("busy:0"),
                               QStringLiteral("suppress:0"),
                               QStringLiteral("programBar:") + kZdf,
                               QStringLiteral("play:;"),
                               QStringLiteral("startEpg")};
    EXPECT_EQ(host.calls, expected);
    EXPECT_EQ(host.akt, zdf) << "the window follows the channel on air";
    EXPECT_NE(zdf->NowEPG.Title, TChannelProgram::kUnknownTitle);
    EXPECT_EQ(model->selectedIndex(), model->LocateChannel(kZdf));
    EXPECT_TRUE(model->channelMenu()[model->LocateChannel(kZdf)].Checked);
    EXPECT_FALSE(model->channelMenu()[model->LocateChannel(kDasErste)].Checked);
}

// In full screen the backdrop covers the switch and its timers take over at the end.
TEST_F(SwitchTest, FullscreenSteps) {
    host.fullscreen = true;
    host.epgRunning = true;
    host.calls.clear();
    switchTo(kZdf);
    const QStringList& c = host.calls;
    EXPECT_EQ(c.indexOf(QStringLiteral("backdrop")), 1);
    EXPECT_FALSE(c.contains(QStringLiteral("busy:1")));
    EXPECT_FALSE(c.contains(QStringLiteral("programBar:") + kZdf));
    EXPECT_FALSE(c.contains(QStringLiteral("startEpg")));
    const qsizetype timer = c.indexOf(QStringLiteral("backdropTimer"));
    ASSERT_GE(timer, 0);
    EXPECT_EQ(c.mid(timer, 3), (QStringList{"backdropTimer", "pointerAway", "epgShowTimer"}));
}

// Nothing selected in the channel box: the switch ends before it touches anything.
TEST_F(SwitchTest, NoSelectionEndsAtOnce) {
    model->setSelectedIndex(-1);
    ASSERT_TRUE(sim.clearRequests());
    host.calls.clear();
    switcher->SwitchChannel(channel(kZdf));
    EXPECT_FALSE(IsSwitching.load());
    EXPECT_TRUE(boxRequests().isEmpty());
    EXPECT_EQ(switcher->AktChannel()->Id, kDasErste);
    // Stopping short must not leave the programme bar suppressed for good.
    ASSERT_FALSE(host.calls.isEmpty());
    EXPECT_EQ(host.calls.last(), QStringLiteral("suppress:0"));
    // Nor, in full screen, the black backdrop over the picture: its timer takes it away.
    host.fullscreen = true;
    host.calls.clear();
    switcher->SwitchChannel(channel(kZdf));
    EXPECT_EQ(host.calls.mid(host.calls.indexOf(QStringLiteral("suppress:0"))),
              (QStringList{QStringLiteral("suppress:0"), QStringLiteral("backdropTimer")}));
    EXPECT_TRUE(host.calls.contains(QStringLiteral("backdrop")));
    switcher->SwitchChannel(nullptr);
    EXPECT_TRUE(boxRequests().isEmpty());
}

namespace {

class SilentReceiverTest : public SwitchFixture {
protected:
    SilentReceiverTest()
        : SwitchFixture("127.0.52.4") {}
};

} // namespace

// A receiver that stops answering costs each request of the switch its time-out and no more: the
// switch ends, says so on the status line and the next one works once the receiver is back.
TEST_F(SilentReceiverTest, SwitchEndsWithTheTimeoutText) {
    http.Timeout = 1;
    ASSERT_TRUE(sim.setFault(QStringLiteral("*"), QStringLiteral("silent")));
    QElapsedTimer clock;
    clock.start();
    switchTo(kZdf);
    // A hang guard, not a speed target: five requests of one second each, the player's waits.
    EXPECT_LT(clock.elapsed(), 60000);
    EXPECT_FALSE(IsSwitching.load());
    const QString zapTimeout =
        QStringLiteral("ERROR, http timeout (http://") + m_address + QStringLiteral(":80/control/zapto?437000273f2)!");
    EXPECT_TRUE(status.texts.contains(zapTimeout));
    EXPECT_EQ(switcher->AktChannel()->Id, kZdf);
    EXPECT_TRUE(stream->LiveURL.isEmpty() || stream->LiveURL.contains(QLatin1String(":31339/0,")));

    ASSERT_TRUE(sim.clearFaults());
    ASSERT_TRUE(sim.clearRequests());
    http.Timeout = BoxClient::kTimeoutSec;
    switchTo(kBr);
    EXPECT_TRUE(boxRequests().contains(QStringLiteral("/control/zapto?44100016dca")));
    EXPECT_EQ(sim.state().value(QStringLiteral("channel")), kBr);
    EXPECT_TRUE(decodesPictures());
}
