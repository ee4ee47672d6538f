#include "programrun.h"

#include "core/appflags.h"
#include "core/options.h"
#include "telnet/telnetview.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"
#include "ui/remotecontrol.h"

#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::TFrmQuoxel;

namespace {

constexpr QRgb kOsdPanel = qRgb(20, 30, 90); // the receiver's menu and channel box colour
const QByteArray kTelnetIni = "telnet_autologin=1\n[Telnet]\nport=23\nuser=root\npass=\n";

// The colour of the screen at a point of the widget given in fractions of its size.
QRgb screenAt(const QWidget* widget, double fx, double fy) {
    const QImage img = grabScreen(widget);
    return img.pixel(std::clamp(int(fx * img.width()), 0, img.width() - 1),
                     std::clamp(int(fy * img.height()), 0, img.height() - 1));
}

bool near(QRgb a, QRgb b, int tolerance = 12) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

struct PictureCase {
    const char* name;
    int host;          // the simulator's address is 127.25.2.<host>
    const char* form;  // the simulator's screen file: the screenshot tool's, or a plain 24-bit BMP
    int shotDelayMs;   // how long the tool takes to write the file
    QRgb background;   // what the picture shows where the receiver draws nothing
    QRgb topLeftInset; // at 1/28 of the width, 1/2 of the height
};

class ProgramReceiverPicture : public ::testing::TestWithParam<PictureCase> {};

// "R" shows the receiver's screen over the playing video, stretched to the panel, with the "x" on
// top; a key on the remote control makes and shows a new picture, never the file from before the
// command; the "x" closes the picture and the remote control. The screenshot tool's file shows
// black where the receiver draws nothing.
TEST_P(ProgramReceiverPicture, ShownOverTheVideo) {
    const PictureCase& c = GetParam();
    ProgramRun run(QStringLiteral("127.25.2.%1").arg(c.host));
    ASSERT_TRUE(run.start(kTelnetIni));
    ASSERT_TRUE(Options.TelnetLoggedIn);
    ASSERT_TRUE(run.sim().setState(QStringLiteral("screen"), QString::fromLatin1(c.form)));
    ASSERT_TRUE(run.sim().setState(QStringLiteral("shotdelay"), QString::number(c.shotDelayMs)));
    TFrmQuoxel& w = run.window();
    // Larger than the picture: what shows is stretched.
    w.resize(640, 560);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Video()->width() > 600; }, 3000));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    ASSERT_TRUE(run.sim().clearRequests());

    QTest::keyClick(w.CmbChannels(), Qt::Key_R);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.menu().DBoxOSD1->isChecked(); }, 10000));
    EXPECT_TRUE(run.sim().requests(QStringLiteral("telnet")).contains(QStringLiteral("/bin/dboxshot -o /tmp/a.bmp")));
    ASSERT_TRUE(run.app().remoteControl());
    EXPECT_TRUE(run.app().remoteControl()->isVisible());
    QWidget* panel = w.PnlRealOSD();
    ASSERT_EQ(panel->geometry(), w.Video()->geometry());
    // The channel box of the receiver's display top left, its clock box at the right edge. A loaded
    // machine may show the picture half drawn for a while: all four points are awaited together.
    const auto whole = [&] {
        return near(screenAt(panel, 0.10, 0.021), kOsdPanel) && near(screenAt(panel, 0.98, 0.021), kOsdPanel) &&
               near(screenAt(panel, 1.0 / 28, 0.5), c.topLeftInset) && near(screenAt(panel, 0.5, 0.95), c.background);
    };
    EXPECT_TRUE(QTest::qWaitFor(whole, 10000));
    EXPECT_TRUE(near(screenAt(panel, 0.10, 0.021), kOsdPanel)) << std::hex << screenAt(panel, 0.10, 0.021);
    EXPECT_TRUE(near(screenAt(panel, 0.98, 0.021), kOsdPanel)) << std::hex << screenAt(panel, 0.98, 0.021);
    EXPECT_TRUE(near(screenAt(panel, 1.0 / 28, 0.5), c.topLeftInset)) << std::hex << screenAt(panel, 1.0 / 28, 0.5);
    EXPECT_TRUE(near(screenAt(panel, 0.5, 0.95), c.background)) << std::hex << screenAt(panel, 0.5, 0.95);
    // The "x" is drawn above the picture: white in the clock box.
    EXPECT_GE(awaitShareOfColour(w.LblRealOSDClose(), qRgb(255, 255, 255), 40, 0.05), 0.05);

    // Some time on: the file from this picture is old by the receiver's clock when the next one is made.
    QTest::qWait(1500);
    ASSERT_TRUE(run.sim().clearRequests());
    const RemoteKeyRect& ok = remoteKeyTable()[21];
    ASSERT_STREQ(ok.key, "KEY_OK");
    QTest::mouseClick(run.app().remoteControl()->Image1(), Qt::LeftButton, {},
                      QPoint((ok.xFrom + ok.xTo) / 2, (ok.yFrom + ok.yTo) / 2));
    EXPECT_EQ(run.requests().value(0), QStringLiteral("/control/rcem?KEY_OK"));
    EXPECT_TRUE(run.requests().contains(QStringLiteral("/tmp/a.bmp")));
    // KEY_OK brings up the receiver's info bar at the bottom.
    EXPECT_TRUE(QTest::qWaitFor([&] { return near(screenAt(panel, 0.5, 0.95), kOsdPanel); }, 10000))
        << std::hex << screenAt(panel, 0.5, 0.95) << " " << run.requests().join(' ').toStdString() << " "
        << w.statusPanel(0)->text().toStdString();

    // A spoilt file: the last good picture stays, and the status line says why. A click between
    // the buttons sends no key but makes a new picture.
    ASSERT_TRUE(run.sim().setFault(QStringLiteral("/tmp/a.bmp"), QStringLiteral("garbage-body")));
    ASSERT_TRUE(run.sim().clearRequests());
    QTest::mouseClick(run.app().remoteControl()->Image1(), Qt::LeftButton, {}, QPoint(5, 420));
    EXPECT_EQ(run.requests(), QStringList{QStringLiteral("/tmp/a.bmp")});
    EXPECT_TRUE(w.statusPanel(0)->text().contains(QStringLiteral("D-Box screen picture unreadable!")))
        << w.statusPanel(0)->text().toStdString();
    EXPECT_TRUE(near(screenAt(panel, 0.5, 0.95), kOsdPanel));
    ASSERT_TRUE(run.sim().clearFaults());

    QTest::mouseClick(w.LblRealOSDClose(), Qt::LeftButton);
    EXPECT_FALSE(w.menu().DBoxOSD1->isChecked());
    EXPECT_FALSE(run.app().remoteControl()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !near(screenAt(panel, 0.10, 0.021), kOsdPanel); }, 10000))
        << "the video again";
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ProgramReceiverPicture,
    ::testing::Values(PictureCase{"Dboxshot", 1, "dboxshot", 0, qRgb(0, 0, 0), qRgb(0, 0, 0)},
                      PictureCase{"DboxshotSlow", 2, "dboxshot", 1200, qRgb(0, 0, 0), qRgb(0, 0, 0)},
                      PictureCase{"Plain24Bit", 3, "plain", 0, qRgb(0, 180, 0), qRgb(180, 180, 180)}),
    [](const auto& info) { return std::string(info.param.name); });

// "T" shows the terminal over the video. Full screen hides it; back in the window one "T" shows it
// again. "D-Box OSD" does nothing in full screen and its check mark stays off. When the telnet
// connection ends (the user types "exit" in the terminal) "D-Box OSD" is disabled and the
// receiver's picture closes with the remote control.
TEST(ProgramTelnet, ToggleAfterFullscreenAndConnectionLoss) {
    ProgramRun run(QStringLiteral("127.25.2.10"));
    ASSERT_TRUE(run.start(kTelnetIni));
    ASSERT_TRUE(Options.TelnetLoggedIn);
    TFrmQuoxel& w = run.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    QWidget* terminal = w.PnlTelnet();

    QTest::keyClick(w.CmbChannels(), Qt::Key_T);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.menu().Telnet1->isChecked(); }, 3000));
    EXPECT_GE(awaitShareOfColour(terminal, qRgb(255, 255, 255), 16, 0.5), 0.5) << "the terminal over the video";

    const QPoint centre = w.Video()->rect().center();
    QCursor::setPos(w.Video()->mapToGlobal(centre));
    QTest::mouseDClick(w.Video(), Qt::LeftButton, {}, centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.view().IsFullscreen; }, 5000));
    EXPECT_FALSE(w.menu().Telnet1->isChecked());
    EXPECT_TRUE(terminal->isHidden());
    w.menu().DBoxOSD1->trigger();
    EXPECT_FALSE(w.menu().DBoxOSD1->isChecked()) << "refused in full screen";
    EXPECT_TRUE(w.PnlRealOSD()->isHidden());

    QTest::keyClick(&w, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.view().IsFullscreen; }, 5000));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    QTest::keyClick(w.CmbChannels(), Qt::Key_T);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.menu().Telnet1->isChecked(); }, 3000));
    EXPECT_FALSE(terminal->isHidden()) << "one press after full screen";

    w.menu().DBoxOSD1->trigger();
    ASSERT_TRUE(w.menu().DBoxOSD1->isChecked());
    ASSERT_TRUE(run.app().remoteControl()->isVisible());
    run.app().telnetView().setFocus();
    QTest::keyClicks(&run.app().telnetView(), QStringLiteral("exit"));
    QTest::keyClick(&run.app().telnetView(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([] { return !Options.TelnetLoggedIn; }, 5000));
    EXPECT_FALSE(w.menu().DBoxOSD1->isEnabled());
    EXPECT_FALSE(w.menu().DBoxOSD1->isChecked());
    EXPECT_TRUE(w.PnlRealOSD()->isHidden());
    EXPECT_FALSE(run.app().remoteControl()->isVisible());
}

// Minimised with "hide taskbar", the window goes to the tray and takes the receiver's picture and
// the remote control with it.
TEST(ProgramTelnet, MinimiseToTrayTakesTheRemoteControl) {
    ProgramRun run(QStringLiteral("127.25.2.11"));
    ASSERT_TRUE(run.start("hide_taskbar=1\n" + kTelnetIni));
    // The start brings openbox up when the display has no window manager.
    if (!windowManagerRunning())
        GTEST_SKIP() << "minimising needs a window manager";
    TFrmQuoxel& w = run.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    QTest::keyClick(w.CmbChannels(), Qt::Key_R);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.menu().DBoxOSD1->isChecked(); }, 10000));
    ASSERT_TRUE(run.app().remoteControl()->isVisible());

    w.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !run.app().remoteControl()->isVisible(); }, 5000));
    EXPECT_FALSE(w.menu().DBoxOSD1->isChecked());
    EXPECT_TRUE(w.PnlRealOSD()->isHidden());

    // The tray icon brings it back, by a click or a double click; its menu holds "Close" alone.
    Q_EMIT w.Tray().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isVisible() && !w.isMinimized(); }, 5000));
    w.hide();
    Q_EMIT w.Tray().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isVisible(); }, 5000));
    EXPECT_EQ(w.Tray().contextMenu(), &w.PopupMenu1());
    ASSERT_EQ(w.PopupMenu1().actions().size(), 1);
    EXPECT_EQ(w.PopupMenu1().actions()[0]->text(), QStringLiteral("Close"));
}

} // namespace
