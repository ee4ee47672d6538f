#include "core/appflags.h"
#include "core/options.h"
#include "osdtesthost.h"
#include "playback/vlcplayer.h"
#include "playback/vlctestsupport.h"
#include "support/boxsimprocess.h"
#include "ui/osdcontroller.h"
#include "ui/osdinfo.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

// The info overlay over a playing full-screen video in a real X window: its window lies above the
// picture, and the bar names the channel on air.
namespace {

int colours(const QImage& img, const QRect& area) {
    QSet<QRgb> seen;
    for (int y = area.top(); y <= area.bottom(); y += 8)
        for (int x = area.left(); x <= area.right(); x += 8)
            seen.insert(img.pixel(x, y) & 0xf0f0f0);
    return int(seen.size());
}

} // namespace

TEST(OsdDisplay, InfoOverlayOverPlayingVideo) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X display";
    const QString address = QStringLiteral("127.0.58.20");
    Options = TOptions();
    Options.BoxAddress = address + QStringLiteral(":80");
    Options.IpLan = address;
    Options.IpPc = address;
    Options.OsdShowTime = QStringLiteral("60000");
    IsClosing = false;
    BoxSimProcess sim{address, {"--telnet-port", "0", "--vlc-port", "0", "--vlc-stream-port", "0"}};
    ASSERT_TRUE(sim.start());

    QScreen* screen = QGuiApplication::primaryScreen();
    QWidget video;
    video.setAttribute(Qt::WA_NativeWindow);
    video.setStyleSheet(QStringLiteral("background: black"));
    video.setGeometry(screen->geometry());
    video.showFullScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&video, 5000));
    RecordingView view;
    VLCPlayer player(view);
    player.setEngineArguments(displayEngineArgs());
    player.setCaching(QStringLiteral("300"), QStringLiteral("300"));
    ASSERT_TRUE(player.VLCInit(quintptr(video.winId()), video.size()));
    player.StartStream(AppMode::Live, false,
                       QStringLiteral("http://") + address + QStringLiteral(":31339/0,0x0064,0x00FF,0x0100,0x0101"));
    VlcEngine& e = *player.engine();
    ASSERT_TRUE(waitFor([&] { return e.stats().displayedPictures > 10; }, 15000));

    OsdTestHost host;
    auto ch = std::make_shared<TChannel>();
    ch->Caption = QStringLiteral("Das Erste");
    ch->NowEPG.StartClock = QStringLiteral("20:00");
    ch->NowEPG.Title = QStringLiteral("Tagesschau");
    host.model.setChannels({ch});
    host.akt = ch;
    quoxel::OsdController osd(host);
    quoxel::TFrmOSD_Info& info = osd.FrmOSD_Info();
    osd.ShowEPGInfo(ch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return info.isVisible(); }, 3000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&info, 5000));
    QTest::qWait(300);
    EXPECT_EQ(info.LblChannel()->text(), ch->Caption);
    EXPECT_TRUE(info.LblInfo()->text().startsWith(QStringLiteral("20:00 Tagesschau")));

    // The screen where the bar lies shows the bar's highlight colour, not the moving picture.
    const QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    const QWidget* bar = info.findChild<QWidget*>(QStringLiteral("PnlInfo"));
    ASSERT_NE(bar, nullptr);
    const QPoint probe = bar->mapToGlobal(QPoint(bar->width() - 8, bar->height() - 6)) - screen->geometry().topLeft();
    ASSERT_TRUE(shot.rect().contains(probe));
    const QColor seen = shot.pixelColor(probe);
    const QColor want = quoxel::osdHighlight();
    EXPECT_LE(std::abs(seen.red() - want.red()) + std::abs(seen.green() - want.green()) +
                  std::abs(seen.blue() - want.blue()),
              24)
        << seen.name().toStdString() << " vs " << want.name().toStdString();
    // And the picture plays on above the overlay.
    EXPECT_GT(colours(shot, QRect(0, 0, shot.width(), shot.height() / 2)), 8);
    // The bar's screen width grows with the screen.
    EXPECT_EQ(info.width(), int(1008 * quoxel::osdScaleFor(screen) + 0.5));
    player.Stop();
}
