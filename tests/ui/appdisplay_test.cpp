#include "programrun.h"

#include "ui/appcontroller.h"

#include "core/appflags.h"
#include "ui/apposd.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

// Mean brightness of a grabbed picture; black video stays near 0.
double brightness(const QImage& img) {
    if (img.isNull() || img.width() < 4 || img.height() < 4)
        return 0;
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height(); y += 4)
        for (int x = 0; x < img.width(); x += 4) {
            sum += qGray(img.pixel(x, y));
            ++n;
        }
    return n ? sum / n : 0;
}

// A band of the video panel from `top` down, as the screen shows it.
QImage videoFrom(TFrmQuoxel& w, int top) {
    const QWidget* v = w.Video();
    return screenAt(QRect(v->mapToGlobal(QPoint(0, top)), QSize(v->width(), v->height() - top)));
}

double videoBrightness(TFrmQuoxel& w) {
    return brightness(videoFrom(w, 0));
}

// Distinct colours in the lower half of the video panel: the test picture has many, a black panel one.
int videoColours(TFrmQuoxel& w) {
    return colourCount(videoFrom(w, w.Video()->height() / 2));
}

// The bottom tenth of the video panel, where the test picture does not move.
QImage videoBottom(TFrmQuoxel& w) {
    return videoFrom(w, w.Video()->height() - w.Video()->height() / 10);
}

// The whole program against the simulator in a real X window: start to a playing picture, full
// screen in by double click and out by Esc with the flags in step, the picture in both views (paused
// too), and a close that restores the receiver.
TEST(AppDisplay, StartPlayFullscreenAndClose) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (xcb)";
    ProgramRun run(QStringLiteral("127.0.55.20"));
    ASSERT_TRUE(run.startSim());
    ASSERT_EQ(run.launch(run.settings("mode=live\nrememberstate=1\nlock_rc=1\nautospts=1\nshow_message=1\n")),
              ConnectionOutcome::Connected);
    TFrmQuoxel& w = run.window();
    AppController& app = run.app();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.playerInitialised(); }, 5000)) << "the first activation";
    EXPECT_FALSE(IsStarting.load());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.player().isPlaying(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return videoBrightness(w) > 20; }, 20000)) << "the window shows the picture";
    // A size of the panel other than the one the engine's output started with. The programme bar
    // of the first switch lies over the bottom of the picture until its time is up.
    w.resize(w.width() + 60, w.height() + 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.osd().panels().infoVisible(); }, 6000));
    QTest::qWait(700);
    const QImage playing = videoBottom(w);

    // Paused, the window draws the picture and the engine lets its video output go; resumed at the
    // same size of the panel, the engine's picture is fitted to it as before, not drawn at its own
    // size.
    VlcEngine& engine = *app.player().engine();
    w.BtnPlay()->click();
    ASSERT_TRUE(IsPaused);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.showsStillPicture() && engine.videoOutputs() == 0; }, 5000));
    EXPECT_TRUE(engine.videoReleased());
    // Held a while, as a user would: the output taken up again after that drew at the picture's own
    // size more often than not.
    QTest::qWait(3000);
    w.BtnPlay()->click();
    ASSERT_FALSE(IsPaused);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.showsStillPicture() && engine.videoOutputs() > 0; }, 5000));
    EXPECT_FALSE(engine.videoReleased());
    // The output can set itself up again over its first pictures; it must end fitted. Under the
    // sanitizers beside another playing test, the first picture of the new output can take longer
    // than 4 s: the panel is black until then.
    EXPECT_TRUE(QTest::qWaitFor([&] { return pictureDifference(videoBottom(w), playing) < 30; }, 12000))
        << "after the resume: " << pictureDifference(videoBottom(w), playing) << ", brightness "
        << brightness(videoBottom(w)) << " (playing " << brightness(playing) << ")";
    // And ends so: a loaded machine can see the output set itself up once more a second later,
    // but a picture left at the wrong size stays wrong.
    QTest::qWait(1000);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !app.osd().panels().infoVisible() && pictureDifference(videoBottom(w), playing) < 30; }, 10000))
        << "and stays so: " << pictureDifference(videoBottom(w), playing)
        << (app.osd().panels().infoVisible() ? ", under the programme bar" : "");

    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    const QPoint centre = w.Video()->mapToGlobal(w.Video()->rect().center());
    QCursor::setPos(centre);
    QTest::qWait(100);
    QTest::mouseDClick(w.Video()->windowHandle() ? static_cast<QWidget*>(w.Video()) : &w, Qt::LeftButton, {},
                       w.Video()->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.view().IsFullscreen; }, 5000));
    EXPECT_TRUE(w.menu().Fullscreen1->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isFullScreen(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return videoBrightness(w) > 20; }, 10000)) << "full screen shows the picture";

    // Paused in full screen: the picture stays through a change of view, and a resume gives the
    // panel back to the engine.
    w.BtnPlay()->click();
    ASSERT_TRUE(IsPaused);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.showsStillPicture() && engine.videoOutputs() == 0; }, 5000));
    EXPECT_TRUE(engine.videoReleased());
    // Leaving full screen draws the panel anew (the engine's last picture would linger on the
    // screen until then): what is seen after it is ours.
    QTest::keyClick(&w, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.view().IsFullscreen && !w.isFullScreen(); }, 5000));
    QTest::qWait(500);
    EXPECT_GT(videoColours(w), 8) << "paused in the window";
    EXPECT_EQ(engine.videoOutputs(), 0);
    w.BtnPlay()->click();
    ASSERT_FALSE(IsPaused);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.showsStillPicture() && engine.videoOutputs() > 0; }, 5000));
    EXPECT_FALSE(engine.videoReleased());
    EXPECT_TRUE(QTest::qWaitFor([&] { return videoColours(w) > 8; }, 5000)) << "playing again";

    EXPECT_FALSE(w.menu().Fullscreen1->isChecked());

    ASSERT_TRUE(run.sim().clearRequests());
    w.close();
    const QStringList closing = run.sim().requestTargets();
    EXPECT_TRUE(closing.contains(QStringLiteral("/control/rc?unlock"))) << closing.join(' ').toStdString();
    EXPECT_TRUE(closing.contains(QStringLiteral("/control/system?setAViAExtPlayBack=pes")));
    EXPECT_TRUE(closing.contains(QStringLiteral("/control/message?nmsg=Quoxel%20is%20closed!")));
    // The window state went into the settings file for the next start.
    const QByteArray ini = run.dir().read(QStringLiteral("Quoxel.ini"));
    EXPECT_TRUE(ini.contains("[Window]")) << ini.constData();
    EXPECT_TRUE(ini.contains(QByteArray("width=") + QByteArray::number(w.width())));
}

} // namespace
