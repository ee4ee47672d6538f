#include "playback/channelswitch.h"

#include "playback/remotevlc.h"
#include "switchfixture.h"

namespace {

// The remote VLC's online start as the window wires it: its target and play go to the local
// player.
class PlayerRemoteHost : public RemoteVlcHost {
public:
    PlayerRemoteHost(VLCPlayer& player, TBouquetModel& model)
        : m_player(player)
        , m_model(model) {}
    void processPendingEvents() override { QCoreApplication::processEvents(); }
    void addTarget(const QString& mrl, const QStringList& options) override {
        m_player.VlcOptions.fill(QString());
        const int count = static_cast<int>(std::min<qsizetype>(options.size(), VLCPlayer::kOptionSlots));
        for (int i = 0; i < count; ++i)
            m_player.VlcOptions[size_t(i)] = options[i];
        m_player.AddTarget(mrl, count);
    }
    void play(bool withStatus) override { m_player.Play(withStatus); }
    void waitCaching() override { m_player.WaitCaching(); }
    bool hasChannelSelection() const override { return m_model.selectedIndex() >= 0; }

private:
    VLCPlayer& m_player;
    TBouquetModel& m_model;
};

class OnlineSwitchTest : public SwitchFixture {
protected:
    OnlineSwitchTest()
        : SwitchFixture("127.0.52.10", {}, 1) {}

    void SetUp() override {
        SwitchFixture::SetUp();
        if (HasFatalFailure())
            return;
        Options.VlcAddress = m_address + QStringLiteral(":8080");
        Options.OnlineStreamAddress = m_address + QStringLiteral(":31331");
        Options.SoutVideo = QStringLiteral(
            ":sout=#transcode{vcodec=mp2v,vb=400,scale=0.3,acodec=mpga,ab=64,channels=2}:duplicate{dst=std{access=http,"
            "mux=asf");
        StreamSettings settings;
        settings.VlcIp = m_address;
        settings.StreamPortHttp = QStringLiteral("31331");
        settings.CacheOnline = QStringLiteral("300");
        stream->setSettings(settings);
        remoteHost = std::make_unique<PlayerRemoteHost>(*player, *model);
        remote = std::make_unique<RemoteVlc>(*box, *remoteHost);
        player->setOnlineStarter(
            [this](bool isRadio) { remote->StartOnline(*stream, isRadio ? TChannelMode::mRadio : TChannelMode::mTV); });
        switcher->setRemoteStop([this] { remote->RemoteStop(); });
        loadNowNext();
    }

    void TearDown() override {
        switcher->setRemoteStop(nullptr);
        player->setOnlineStarter(nullptr);
        SwitchFixture::TearDown();
        remote.reset();
    }

    std::unique_ptr<PlayerRemoteHost> remoteHost;
    std::unique_ptr<RemoteVlc> remote;
};

} // namespace

// In online mode a switch away from a playing stream stops the remote VLC first, then empties,
// adds and plays the new channel there; the local player plays the remote's output.
TEST_F(OnlineSwitchTest, StopsTheRemoteBeforeTheNextChannel) {
    switchTo(QStringLiteral("437000273f2"));
    ASSERT_EQ(player->PlayState(), 0);
    EXPECT_EQ(stream->LiveURL, QStringLiteral("http://") + m_address + QStringLiteral(":31331"));
    ASSERT_TRUE(sim.clearRequests());
    const qint64 mark = logMark();
    switchTo(QStringLiteral("44100016dca"));

    const QStringList vlc = sim.requestTargets(QStringLiteral("vlc"));
    ASSERT_GE(vlc.size(), 5);
    EXPECT_EQ(vlc[0], QStringLiteral("/?control=stop"));
    EXPECT_EQ(vlc[1], QStringLiteral("/?control=empty"));
    EXPECT_TRUE(vlc[2].startsWith(QLatin1String("/?control=add&mrl=")));
    EXPECT_TRUE(vlc[2].contains(QLatin1String("31339/0,0x00C8,0x00C9,0x00CA"))) << vlc[2].toStdString();
    EXPECT_EQ(vlc[3], QStringLiteral("/"));
    EXPECT_TRUE(vlc[4].startsWith(QLatin1String("/?control=play&item=")));
    EXPECT_TRUE(boxRequests().contains(QStringLiteral("/control/zapto?44100016dca")));
    EXPECT_EQ(player->VlcMrl(), QStringLiteral("http://") + m_address + QStringLiteral(":31331"));

    // Player stopped, remote stopped, a logged pause, then the playlist cleared.
    const QString log = logSince(mark);
    const qsizetype stop = log.indexOf(QLatin1String("Stop()"));
    const qsizetype remoteStop = log.indexOf(QLatin1String("/?control=stop"));
    const qsizetype clear = log.indexOf(QLatin1String("VLC_PlaylistClear()"));
    ASSERT_GE(stop, 0);
    ASSERT_GT(remoteStop, stop);
    ASSERT_GT(clear, remoteStop);
    EXPECT_TRUE(log.mid(remoteStop, clear - remoteStop).contains(QLatin1String("Delay 200ms")));
}
