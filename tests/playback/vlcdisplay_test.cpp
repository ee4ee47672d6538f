#include "playback/vlcplayer.h"

#include "core/appflags.h"
#include "core/options.h"
#include "playback/vlctestsupport.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

// The player drawing into a real native window under X (xcb platform): the picture must land in
// our panel, not in a window of the engine's own.
namespace {

class PlayerDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X display";
        Options.BoxAddress = m_address + QStringLiteral(":80");
        Options.IpLan = m_address;
        Options.IpPc = m_address;
        Options.StreamPortProv = QStringLiteral("31329");
        IsPaused = false;
        ASSERT_TRUE(m_sim.start());
        m_panel.setAttribute(Qt::WA_NativeWindow);
        m_panel.setStyleSheet(QStringLiteral("background: black"));
        m_panel.resize(720, 576);
        m_panel.move(0, 0);
        m_panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_panel, 5000));
        m_player = std::make_unique<VLCPlayer>(m_view);
        m_player->setEngineArguments(displayEngineArgs());
        m_player->setCaching(QStringLiteral("300"), QStringLiteral("300"));
        ASSERT_TRUE(m_player->VLCInit(quintptr(m_panel.winId()), m_panel.size()));
    }
    void TearDown() override { m_player.reset(); }

    // Distinct colours in the panel's picture: the test pattern has many, a black panel one.
    int colours() {
        const QImage img = QGuiApplication::primaryScreen()->grabWindow(m_panel.winId()).toImage();
        QSet<QRgb> seen;
        for (int y = 0; y < img.height(); y += 8)
            for (int x = 0; x < img.width(); x += 8)
                seen.insert(img.pixel(x, y) & 0xf0f0f0);
        return int(seen.size());
    }

    QString tvUrl() const {
        return QStringLiteral("http://") + m_address + QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101");
    }

    ScopedAppState m_state;
    QString m_address = QStringLiteral("127.0.50.20");
    BoxSimProcess m_sim{m_address, {"--telnet-port", "0", "--vlc-port", "0", "--vlc-stream-port", "0"}};
    QWidget m_panel;
    RecordingView m_view;
    std::unique_ptr<VLCPlayer> m_player;
};

// A live TV start shows the 720x576 picture in our panel: frames decoded and displayed, one video
// output, and the panel's pixels are the test pattern.
TEST_F(PlayerDisplayTest, PictureInOurPanel) {
    EXPECT_LE(colours(), 2);
    m_player->StartStream(AppMode::Live, false, tvUrl());
    VlcEngine& e = *m_player->engine();
    ASSERT_TRUE(waitFor([&] { return e.stats().displayedPictures > 10; }, 15000)) << e.stats().decodedVideo;
    EXPECT_GT(e.stats().decodedVideo, 0);
    EXPECT_EQ(e.videoSize(), QSize(720, 576));
    EXPECT_GE(e.videoOutputs(), 1);
    EXPECT_TRUE(waitFor([&] { return colours() > 8; }, 5000)) << colours();
    m_player->Stop();
    EXPECT_EQ(e.VLC_IsPlaying(), 0);
}

// Re-serving: the engine reports no video output and no frames for the duplicate chain, yet the
// picture shows in the panel and the stream is served.
TEST_F(PlayerDisplayTest, ReservingStillShowsPicture) {
    Options.ProvideStream = true;
    m_player->StartStream(AppMode::Live, false, tvUrl());
    EXPECT_TRUE(waitFor([&] { return colours() > 8; }, 15000)) << colours();
    EXPECT_GT(readHttpStream(m_address, 31329, "/", 1500).size(), 20 * 188);
}

// Paused, the view shows the picture and the engine lets its video output go; a resume takes the
// output back, and the view's picture goes once the engine shows new ones.
TEST_F(PlayerDisplayTest, PausedPictureHeldByTheView) {
    m_view.stills = true;
    m_player->StartStream(AppMode::Live, false, tvUrl());
    VlcEngine& e = *m_player->engine();
    ASSERT_TRUE(waitFor([&] { return e.stats().displayedPictures > 10 && colours() > 8; }, 15000));
    m_player->BtnPlayClick();
    ASSERT_TRUE(IsPaused);
    ASSERT_TRUE(waitFor([&] { return m_view.stillShows == 1 && e.videoOutputs() == 0; }, 5000))
        << m_view.stillShows << " " << e.videoOutputs();
    EXPECT_TRUE(e.videoReleased());
    EXPECT_EQ(m_view.stillHides, 0);
    const QImage still = QImage::fromData(m_view.stillBytes);
    EXPECT_EQ(still.size(), QSize(720, 576));
    QSet<QRgb> seen;
    for (int y = 0; y < still.height(); y += 8)
        for (int x = 0; x < still.width(); x += 8)
            seen.insert(still.pixel(x, y) & 0xf0f0f0);
    EXPECT_GT(seen.size(), 8);
    EXPECT_EQ(e.state(), VlcState::Paused);

    const int shown = e.stats().displayedPictures;
    m_player->BtnPlayClick();
    EXPECT_FALSE(IsPaused);
    EXPECT_TRUE(waitFor([&] { return e.stats().displayedPictures > shown + 10; }, 5000));
    EXPECT_TRUE(waitFor([&] { return m_view.stillHides == 1; }, 1000));
    EXPECT_FALSE(e.videoReleased());
    EXPECT_GE(e.videoOutputs(), 1);
    EXPECT_TRUE(waitFor([&] { return colours() > 8; }, 5000)) << colours();

    // A resume while the picture is being taken: nothing is held, and the video plays on.
    m_player->BtnPlayClick();
    ASSERT_TRUE(waitFor([&] { return m_player->isPaused(); }, 5000));
    m_player->BtnPlayClick();
    ASSERT_FALSE(IsPaused);
    const int later = e.stats().displayedPictures;
    EXPECT_TRUE(waitFor([&] { return e.stats().displayedPictures > later + 10; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(m_view.stillShows - m_view.stillHides, 0);
    EXPECT_FALSE(e.videoReleased());

    // Paused again while the first pause's picture is still being taken: that one is not used, and
    // the new pause gets its own.
    m_player->BtnPlayClick();
    ASSERT_TRUE(waitFor([&] { return m_player->isPaused(); }, 5000));
    m_player->BtnPlayClick();
    m_player->BtnPlayClick();
    ASSERT_TRUE(IsPaused);
    ASSERT_TRUE(waitFor([&] { return m_view.stillShows == 2 && e.videoOutputs() == 0; }, 5000))
        << m_view.stillShows << " " << e.videoOutputs();
    EXPECT_TRUE(e.videoReleased());
    m_player->BtnPlayClick();
    ASSERT_FALSE(IsPaused);
    EXPECT_TRUE(waitFor([&] { return m_view.stillHides == 2 && e.videoOutputs() >= 1; }, 5000));
    const int again = e.stats().displayedPictures;
    EXPECT_TRUE(waitFor([&] { return e.stats().displayedPictures > again + 10; }, 5000)) << again;

    // A new start while the picture is held (a switch does that): the new item has its picture.
    m_player->BtnPlayClick();
    ASSERT_TRUE(waitFor([&] { return m_view.stillShows == 3 && e.videoOutputs() == 0; }, 5000))
        << m_view.stillShows << " " << m_view.stillHides << " " << e.videoOutputs() << " " << e.videoReleased() << " "
        << int(e.state()) << " " << e.stats().displayedPictures;
    IsPaused = false;
    m_player->StartStream(AppMode::Live, false, tvUrl());
    EXPECT_TRUE(waitFor([&] { return m_view.stillHides == 3; }, 5000));
    EXPECT_FALSE(e.videoReleased());
    EXPECT_TRUE(waitFor([&] { return e.stats().displayedPictures > 10 && e.videoOutputs() >= 1; }, 15000));

    // An engine stop while the picture is held takes it down.
    m_player->BtnPlayClick();
    ASSERT_TRUE(waitFor([&] { return m_view.stillShows == 4 && e.videoOutputs() == 0; }, 5000));
    e.VLC_Stop();
    EXPECT_TRUE(waitFor([&] { return m_view.stillHides == 4; }, 5000));
    EXPECT_FALSE(e.videoReleased());
}

// A stream that is re-served keeps its video while paused: the other instance gets the same
// stream back on resume, not a new one.
TEST_F(PlayerDisplayTest, ReservedStreamKeepsItsVideoWhilePaused) {
    Options.ProvideStream = true;
    m_view.stills = true;
    m_player->StartStream(AppMode::Live, false, tvUrl());
    VlcEngine& e = *m_player->engine();
    ASSERT_TRUE(waitFor([&] { return colours() > 8; }, 15000)) << colours();
    m_player->BtnPlayClick();
    ASSERT_TRUE(waitFor([&] { return e.state() == VlcState::Paused; }, 5000));
    QTest::qWait(1000);
    EXPECT_EQ(m_view.stillShows, 0);
    EXPECT_FALSE(e.videoReleased());
    EXPECT_FALSE(e.releaseVideo());
    EXPECT_GT(colours(), 8);
}

} // namespace
