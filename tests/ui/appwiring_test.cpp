#include "ui/appcontroller.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/options.h"
#include "playback/channelswitch.h"
#include "playback/vlcapi.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "telnet/telnetconsole.h"
#include "telnet/telnetview.h"
#include "ui/apposd.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/osdchannels.h"
#include "ui/osdcontroller.h"
#include "ui/taskbar.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

class AppWiring : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display (xcb)";
        Options = TOptions{};
        IsClosing = false;
        IsStarting = false;
        // A close in an earlier test of this process leaves the abort mark when no walk was running.
        EPGAbort = false;
    }
    void TearDown() override {
        IsClosing = false;
        IsStarting = false;
        Options = TOptions{};
    }

    // The connection sequence against the simulator, the window shown and first activated, so
    // the first switch has run and the picture plays.
    ::testing::AssertionResult startPlaying(BoxSimProcess& sim, TestDir& dir, TFrmQuoxel& w, AppController& app,
                                            const QByteArray& extraIni = {}) {
        if (!sim.start())
            return ::testing::AssertionFailure() << sim.stderrText().toStdString();
        const QByteArray ini =
            "[General]\nmode=live\n" + extraIni + "[D-Box2]\nip_lan=" + sim.address().toLatin1() + "\ndboxport=80\n";
        if (!dir.write(QStringLiteral("Quoxel.ini"), ini))
            return ::testing::AssertionFailure() << "settings file not written";
        app.setIniPath(dir.path(QStringLiteral("Quoxel.ini")));
        if (app.FormCreate() != ConnectionOutcome::Connected)
            return ::testing::AssertionFailure() << "not connected";
        app.FormShow();
        w.show();
        if (!QTest::qWaitForWindowExposed(&w, 5000))
            return ::testing::AssertionFailure() << "window not shown";
        app.lifecycle().FormActivate();
        if (!app.switcher() || !QTest::qWaitFor([&] { return app.player().isPlaying(); }, 20000))
            return ::testing::AssertionFailure() << "nothing plays";
        return ::testing::AssertionSuccess();
    }
};

QStringList captions(const QMenu* menu) {
    QStringList out;
    for (const QAction* a : menu->actions())
        out << a->text();
    return out;
}

// The programme bar comes back after each switch, also after one to a portal channel that brings
// its sub-channels in. Meanwhile the background EPG walk writes its progress into both
// channel-list headers.
TEST_F(AppWiring, ProgrammeBarAndEpgProgress) {
    BoxSimProcess sim(QStringLiteral("127.0.65.1"));
    TestDir dir;
    TFrmQuoxel w;
    AppController app(w);
    ASSERT_TRUE(startPlaying(sim, dir, w, app));
    EXPECT_FALSE(app.osd().osd().programBarSuppressed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.osd().panels().infoVisible(); }, 3000))
        << "the programme bar follows the first switch";

    // The PREMIERE bouquet: the channel on air is not in it, so its first channel, the portal, plays.
    QList<QAction*> bouquets = w.menu().Bouquets1->actions();
    ASSERT_GE(bouquets.size(), 2);
    bouquets[1]->trigger();
    ASSERT_EQ(app.session().AktChannel->Id, QStringLiteral("85000300008"))
        << IsSwitching.load() << " " << sim.requestTargets().join(' ').toStdString();
    EXPECT_EQ(captions(w.menu().SubChannels1), (QStringList{"Beginn 20:00", "Beginn 20:30", "Beginn 21:00"}));
    EXPECT_FALSE(app.osd().osd().programBarSuppressed());

    // The walk waits five seconds before its first fetch.
    const QLabel* inWindow = app.osd().panels().LblChannelsHeader();
    const QLabel* overlay = app.osd().osd().FrmOSD_Channels().LblChannelsHeader();
    ASSERT_TRUE(QTest::qWaitFor([&] { return inWindow->text().startsWith(QLatin1String("Channel Preview (")); }, 20000))
        << inWindow->text().toStdString();
    EXPECT_EQ(overlay->text(), inWindow->text());
    // n of m: the channels the walk took at its start (the sub-channels came later).
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Channel Preview \\((\\d+)/(\\d+)\\)$")).match(inWindow->text());
    ASSERT_TRUE(m.hasMatch()) << inWindow->text().toStdString();
    EXPECT_GE(m.captured(1).toInt(), 1);
    EXPECT_LE(m.captured(1).toInt(), m.captured(2).toInt());
    EXPECT_LE(m.captured(2).toInt(), w.CmbChannels()->count());
}

// "UDP Stream" on and off from the menu: the receiver starts sending to our UDP port and the
// picture comes from there; off again, the engine is stopped, the receiver's UDP sender killed
// and the HTTP stream plays again. The engine listens on every address, so the port is this
// test's own.
TEST_F(AppWiring, UdpStreamRoundTrip) {
    BoxSimProcess sim(QStringLiteral("127.0.65.4"));
    TestDir dir;
    TFrmQuoxel w;
    AppController app(w);
    ASSERT_TRUE(startPlaying(sim, dir, w, app, "ip_pc=127.0.65.4\n[VLC]\nstreamport_udp=31367\n"));
    ASSERT_TRUE(sim.clearRequests());

    w.menu().UDPStream1->trigger();
    EXPECT_TRUE(w.menu().UDPStream1->isChecked());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return sim.state().value(QStringLiteral("udp_running")) == QLatin1String("1"); }, 10000))
        << sim.requestTargets().join(' ').toStdString() << " switching " << IsSwitching.load() << " sel "
        << w.CmbChannels()->currentIndex() << " type " << Options.StreamType;
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.player().engine()->stats().decodedVideo > 0; }, 20000))
        << "the picture comes over UDP";

    ASSERT_TRUE(sim.clearRequests());
    w.menu().UDPStream1->trigger();
    EXPECT_FALSE(w.menu().UDPStream1->isChecked());
    EXPECT_TRUE(sim.requestTargets().contains(QStringLiteral("/control/exec?api%20udp_stream%20kill_all_streams")) ||
                sim.requestTargets().contains(QStringLiteral("/control/exec?api udp_stream kill_all_streams")))
        << sim.requestTargets().join(' ').toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return sim.state().value(QStringLiteral("udp_running")) == QLatin1String("0"); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.player().isPlaying(); }, 20000));
    EXPECT_FALSE(sim.requestTargets(QStringLiteral("tv")).isEmpty()) << "back on the HTTP stream";
}

// "Hide taskbar" keeps the main window out of the task list on every show; without it the entry is
// there once the start-up is over.
TEST_F(AppWiring, TaskbarEntryFollowsTheSetting) {
    TFrmQuoxel w;
    AppController app(w);
    Options.HideTaskbar = true;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    EXPECT_FALSE(taskbarEntryVisible(w));
    w.hide();
    Options.HideTaskbar = false;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    EXPECT_TRUE(taskbarEntryVisible(w));
    // The start-up shows it itself at the first activation.
    w.hide();
    Options.HideTaskbar = true;
    w.show();
    ASSERT_FALSE(taskbarEntryVisible(w));
    Options.HideTaskbar = false;
    IsStarting = true;
    app.lifecycle().FormActivate();
    EXPECT_TRUE(taskbarEntryVisible(w));
}

} // namespace
