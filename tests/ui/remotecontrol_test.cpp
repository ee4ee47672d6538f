#include "ui/remotecontrol.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/options.h"
#include "support/boxsimprocess.h"
#include "telnet/telnetsession.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QPoint probePoint(const RemoteKeyRect& r, int where) {
    switch (where) {
    case 1:
        return {r.xFrom, r.yFrom};
    case 2:
        return {r.xTo, r.yTo};
    case 3:
        return {r.xFrom - 1, (r.yFrom + r.yTo) / 2};
    case 4:
        return {(r.xFrom + r.xTo) / 2, r.yTo + 1};
    default:
        return {(r.xFrom + r.xTo) / 2, (r.yFrom + r.yTo) / 2};
    }
}

class RemoteControlTest : public ::testing::Test {
protected:
    static constexpr const char* kAddress = "127.0.57.20";
    void SetUp() override {
        m_saved = Options;
        Options = TOptions();
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        ASSERT_TRUE(m_sim.start()) << m_sim.stderrText().toStdString();
        m_http.Timeout = 3;
        m_telnet.setHost(QString::fromLatin1(kAddress));
        m_telnet.setPort(23);
    }
    void TearDown() override { Options = m_saved; }
    void login() {
        m_telnet.TelnetLogin(QStringLiteral("root"), QString());
        ASSERT_TRUE(Options.TelnetLoggedIn);
    }
    int screenshots() { return m_sim.state().value(QStringLiteral("screenshots")).toInt(); }

    TOptions m_saved;
    BoxSimProcess m_sim{QString::fromLatin1(kAddress)};
    TIEHTTP m_http;
    BoxClient m_box{m_http};
    TelnetSession m_telnet{Options};
    QWidget m_main;
    QLabel m_img{&m_main};
    TFrmRemoteControl m_remote;
    BoxOsdView m_view{Options, m_box, m_telnet, m_img, m_remote};
};

} // namespace

// Each rectangle's centre and corners send its key with the exact URL; one pixel outside sends nothing.
TEST_F(RemoteControlTest, HitTableSendsKeys) {
    m_view.setWaits(0, 0);
    for (const RemoteKeyRect& r : remoteKeyTable()) {
        for (int where = 0; where <= 4; ++where) {
            const QPoint p = probePoint(r, where);
            const bool inside = where <= 2;
            // A point outside this rectangle may lie in a neighbour; the table says which.
            const QStringList expectedKeys = remoteKeysAt(p);
            ASSERT_EQ(expectedKeys.contains(QString::fromLatin1(r.key)), inside) << r.key << " " << where;
            ASSERT_LE(expectedKeys.size(), 1);
            m_sim.clearRequests();
            QTest::mouseClick(m_remote.Image1(), Qt::LeftButton, Qt::NoModifier, p);
            QStringList expected;
            for (const QString& k : expectedKeys)
                expected << QStringLiteral("/control/rcem?") + k;
            EXPECT_EQ(m_sim.requestTargets(), expected) << r.key << " at " << p.x() << "," << p.y();
        }
    }
    // The edge of "KEY_1" belongs to it.
    EXPECT_EQ(remoteKeysAt({68, 63}), QStringList{QStringLiteral("KEY_1")});
    EXPECT_TRUE(remoteKeysAt({69, 63}).isEmpty());
}

// The picture's buttons lie inside their rectangles and the window outline keeps every button and the
// close label, while the key colour around the body is cut away.
TEST(RemotePicture, OutlineAndButtons) {
    const QImage pic = paintRemotePicture();
    ASSERT_EQ(pic.size(), QSize(128, 480));
    const QRegion region = remoteRegion(pic);
    for (const RemoteKeyRect& r : remoteKeyTable()) {
        const QPoint c((r.xFrom + r.xTo) / 2, (r.yFrom + r.yTo) / 2);
        EXPECT_TRUE(region.contains(c)) << r.key;
        EXPECT_NE(pic.pixel(c), pic.pixel(QPoint(r.xFrom - 2, r.yFrom - 2))) << r.key << " is drawn";
    }
    EXPECT_TRUE(region.contains(QPoint(115, 10)));
    EXPECT_FALSE(region.contains(QPoint(0, 0)));
    EXPECT_FALSE(region.contains(QPoint(129, 490)));
    TFrmRemoteControl w;
    EXPECT_EQ(w.size(), QSize(130, 500));
    EXPECT_EQ(w.mask(), region);
    EXPECT_EQ(w.LblRemoteControlClose()->pos(), QPoint(113, 6));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
}

// Docked beside the main window: right edge 2 pixels over its left edge, 8 pixels higher.
TEST(RemotePicture, Placement) {
    TFrmRemoteControl w;
    w.placeBeside(QRect(400, 300, 640, 480));
    EXPECT_EQ(w.pos(), QPoint(400 - 130 + 2, 300 - 8));
    w.move(400 - 130, 300); // where the user put it: kept
    w.placeBeside(QRect(400, 300, 640, 480));
    EXPECT_EQ(w.pos(), QPoint(270, 300));
}

// With a telnet login the view opens with a fresh screen picture; a key click sends the key, makes a new
// screenshot and shows it; a broken picture keeps the last good one and says so; closing hides both.
TEST_F(RemoteControlTest, ScreenPictureRefresh) {
    m_view.DBoxOSD1Click();
    EXPECT_FALSE(m_view.isOn()) << "no login, no view";
    login();
    m_view.setMainWindow(&m_main);
    m_sim.clearRequests();
    m_view.DBoxOSD1Click();
    ASSERT_TRUE(m_view.isOn());
    EXPECT_TRUE(m_remote.isVisible());
    EXPECT_EQ(m_sim.requestTargets(), QStringList{QStringLiteral("/tmp/a.bmp")});
    ASSERT_FALSE(m_view.lastPicture().isNull());
    EXPECT_EQ(m_view.lastPicture().size(), QSize(360, 288));
    EXPECT_TRUE(QTest::qWaitFor([&] { return screenshots() >= 1; }, 3000));
    const QImage first = m_view.lastPicture();

    m_sim.clearRequests();
    const RemoteKeyRect& ok = remoteKeyTable()[21];
    QTest::mouseClick(m_remote.Image1(), Qt::LeftButton, Qt::NoModifier, probePoint(ok, 0));
    EXPECT_EQ(m_sim.requestTargets(),
              (QStringList{QStringLiteral("/control/rcem?KEY_OK"), QStringLiteral("/tmp/a.bmp")}));
    EXPECT_EQ(m_sim.state().value(QStringLiteral("lastkey")), QStringLiteral("KEY_OK"));
    EXPECT_NE(m_view.lastPicture(), first) << "the receiver's screen changed (its info bar)";
    const QImage good = m_view.lastPicture();

    for (const char* mode : {"garbage-body", "drop", "empty"}) {
        ASSERT_TRUE(m_sim.setFault(QStringLiteral("/tmp/a.bmp"), QString::fromLatin1(mode),
                                   QByteArray(mode) == "drop" ? 600 : -1));
        // Between the buttons: no key, but a refresh.
        m_sim.clearRequests();
        QTest::mouseClick(m_remote.Image1(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 420));
        EXPECT_EQ(m_sim.requestTargets(), QStringList{QStringLiteral("/tmp/a.bmp")}) << mode;
        EXPECT_FALSE(m_view.lastFailure().isEmpty()) << mode;
        EXPECT_EQ(m_view.lastPicture(), good) << mode;
        EXPECT_FALSE(m_img.pixmap().isNull());
    }
    m_sim.clearFaults();
    QTest::mouseClick(m_remote.LblRemoteControlClose(), Qt::LeftButton);
    EXPECT_FALSE(m_view.isOn());
    EXPECT_FALSE(m_remote.isVisible());
}

// The receiver's screen follows the keys: either menu key opens the main menu and closes it again, the
// volume key shows the volume bar; apart from the clock box (254, 4, 102 x 22) nothing changes by itself.
// Each picture is a 24-bit bottom-up BMP the client's decoder takes.
TEST_F(RemoteControlTest, ScreenFollowsKeys) {
    const QRect clock(254, 4, 102, 22);
    const auto differing = [&clock](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                n += !clock.contains(x, y) && a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    login();
    const BoxSimProcess::Reply raw = BoxSimProcess::httpGet(m_sim.address(), m_sim.httpPort(), "/tmp/a.bmp");
    ASSERT_TRUE(raw.ok);
    const QByteArray& bmp = raw.body;
    ASSERT_GE(bmp.size(), 54);
    const auto le = [&bmp](int at, int bytes) {
        qint64 v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | quint8(bmp[at + i]);
        return v;
    };
    EXPECT_EQ(le(2, 4), bmp.size());
    EXPECT_EQ(le(18, 4), 360);
    EXPECT_EQ(le(22, 4), 288) << "positive height: rows bottom-up";
    EXPECT_EQ(le(28, 2), 24);
    EXPECT_EQ(le(30, 4), 0) << "uncompressed";
    EXPECT_EQ(bmp.size(), 54 + 360 * 3 * 288);

    ASSERT_TRUE(m_view.RefreshBoxScreenshot()) << m_view.lastFailure().toStdString();
    const QImage plain = m_view.lastPicture();
    ASSERT_EQ(plain.size(), QSize(360, 288));
    for (const char* menuKey : {"KEY_MENU", "KEY_SETUP"}) {
        m_view.SendRemoteKey(QString::fromLatin1(menuKey));
        ASSERT_TRUE(m_view.RefreshBoxScreenshot()) << menuKey;
        const QImage menu = m_view.lastPicture();
        EXPECT_GT(differing(plain, menu), 1000) << menuKey << " opens the menu";
        EXPECT_EQ(m_sim.state().value(QStringLiteral("menu")), QStringLiteral("on")) << menuKey;
        m_view.SendRemoteKey(QStringLiteral("KEY_DOWN"));
        ASSERT_TRUE(m_view.RefreshBoxScreenshot());
        EXPECT_GT(differing(menu, m_view.lastPicture()), 0) << "the highlight moves";
        m_view.SendRemoteKey(QString::fromLatin1(menuKey));
        ASSERT_TRUE(m_view.RefreshBoxScreenshot());
        EXPECT_EQ(differing(plain, m_view.lastPicture()), 0) << menuKey << " closes it again";
    }
    m_view.SendRemoteKey(QStringLiteral("KEY_VOLUMEUP"));
    ASSERT_TRUE(m_view.RefreshBoxScreenshot());
    const QImage volume = m_view.lastPicture();
    EXPECT_GT(differing(plain, volume), 1000) << "the volume bar";
    EXPECT_EQ(m_sim.state().value(QStringLiteral("volume")), QStringLiteral("65"));
    m_view.SendRemoteKey(QStringLiteral("KEY_OK"));
    ASSERT_TRUE(m_view.RefreshBoxScreenshot());
    EXPECT_GT(differing(volume, m_view.lastPicture()), 1000) << "the info bar instead";
    EXPECT_GT(differing(plain, m_view.lastPicture()), 1000);
}

// In full screen the view does not open.
TEST_F(RemoteControlTest, NotInFullscreen) {
    login();
    m_view.setFullscreenQuery([] { return true; });
    m_sim.clearRequests();
    m_view.DBoxOSD1Click();
    EXPECT_FALSE(m_view.isOn());
    EXPECT_TRUE(m_sim.requestTargets().isEmpty());
}
