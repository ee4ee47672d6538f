#include "programrun.h"

#include "core/appflags.h"
#include "core/options.h"
#include "playback/vlcapi.h"
#include "ui/appcontroller.h"
#include "ui/apposd.h"
#include "ui/channelmodel.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QInputDialog>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using quoxel::TFrmQuoxel;

namespace {

constexpr QRgb kOsdPanel = qRgb(20, 30, 90);

// One program for the whole table, started again after an item that ends it.
struct Shared {
    std::unique_ptr<ProgramRun> run;
    QStringList shown;          // texts of the information boxes
    QStringList asked;          // texts of the questions
    bool busyWhenAsked = false; // the hourglass showed while a question was open
    bool confirm = true;        // the answer to the questions
    int starts = 0;
};
Shared& shared() {
    static Shared s;
    return s;
}

// What the receiver is sent within a moment after the item.
QStringList requestsAfter(ProgramRun& run, int ms = 800) {
    QTest::qWait(ms);
    return run.requests();
}

struct MenuCase {
    const char* name;
    std::function<void(ProgramRun&, TFrmQuoxel&)> check;
};

class ProgramMenuItems : public ::testing::TestWithParam<MenuCase> {
protected:
    void SetUp() override {
        Shared& s = shared();
        if (s.run && s.run->window().isVisible())
            return;
        s.run.reset();
        const QString address = QStringLiteral("127.25.3.%1").arg(++s.starts);
        s.run = std::make_unique<ProgramRun>(address);
        // The engine listens for UDP on every address: the port is this program's own.
        ASSERT_TRUE(s.run->start("telnet_autologin=1\nshow_message=0\nip_pc=" + address.toLatin1() +
                                 "\n[Telnet]\nport=23\nuser=root\npass=\n[VLC]\nstreamport_udp=31367\n"));
        s.run->window().setMessageBoxes(
            [](const QString& text) {
                shared().asked << text;
                shared().busyWhenAsked =
                    QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                return shared().confirm;
            },
            [](const QString& text) { shared().shown << text; });
    }
    static void TearDownTestSuite() { shared().run.reset(); }
};

// Each item of the menus a user clicks, triggered as the menu does, with what the receiver, the
// engine or the screen show after it.
TEST_P(ProgramMenuItems, Click) {
    Shared& s = shared();
    ASSERT_TRUE(s.run);
    ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 20000));
    ASSERT_TRUE(s.run->sim().clearRequests());
    s.shown.clear();
    s.asked.clear();
    GetParam().check(*s.run, s.run->window());
}

void trigger(QAction* a) {
    ASSERT_TRUE(a);
    ASSERT_TRUE(a->isEnabled()) << a->text().toStdString();
    a->trigger();
}

const MenuCase kCases[] = {
    {"BouquetsEntry",
     [](ProgramRun& run, TFrmQuoxel& w) {
         const TChannel* zdf = run.app().channelModel().channelAt(1).get();
         ASSERT_TRUE(QTest::qWaitFor([&] { return !run.app().osd().panels().infoVisible(); }, 5000));
         trigger(w.menu().Bouquets1->actions().value(1));
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/getbouquet?bouquet=2&mode=TV")));
         EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?85000300008")})
             << "the channel on air is not in it: its first channel plays";
         EXPECT_TRUE(QTest::qWaitFor([&] { return run.app().osd().panels().infoVisible(); }, 5000))
             << "the programme bar follows the switch to the portal";
         ASSERT_TRUE(run.sim().clearRequests());
         trigger(w.menu().Bouquets1->actions().value(0));
         EXPECT_FALSE(run.requests().contains(QStringLiteral("/control/getbouquet?bouquet=1&mode=TV")))
             << "from the cache";
         EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?43700016d66")});
         EXPECT_EQ(run.app().channelModel().channelAt(1).get(), zdf) << "the same records, programmes and all";
     }},
    {"ChannelsEntry",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().Channels1->actions().value(1));
         EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?437000273f2")});
         EXPECT_FALSE(run.requests().contains(QStringLiteral("/control/system?setAViAExtPlayBack=spts")))
             << "SPTS is on already";
         EXPECT_TRUE(w.menu().Channels1->actions().value(1)->isChecked());
         trigger(w.menu().Channels1->actions().value(0));
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/zapto?43700016d66")));
     }},
    {"ChannelsEntryInFullscreen",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // The context menu's copy is what a user reaches in full screen.
         trigger(w.menu().Fullscreen1);
         ASSERT_TRUE(QTest::qWaitFor([&] { return w.isFullScreen(); }, 5000));
         trigger(w.menu().Channels1->actions().value(1));
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/zapto?437000273f2")));
         EXPECT_TRUE(w.view().IsFullscreen) << "a TV channel keeps full screen";
         EXPECT_FALSE(w.view().IsInTransition);
         trigger(w.menu().Channels1->actions().value(3));
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/zapto?44100016e54")));
         EXPECT_FALSE(w.view().IsFullscreen) << "radio plays in the window";
         EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isFullScreen(); }, 5000));
         // Radio refuses full screen; video only puts its picture over the whole video area.
         w.menu().Fullscreen1->trigger();
         QTest::qWait(300);
         EXPECT_FALSE(w.view().IsFullscreen || w.isFullScreen() || w.menu().Fullscreen1->isChecked());
         trigger(w.menu().VideoOnly1);
         EXPECT_EQ(w.Background()->geometry(), w.Video()->geometry());
         EXPECT_EQ(w.Video()->geometry(), w.centralWidget()->rect());
         trigger(w.menu().VideoOnly1);
         EXPECT_EQ(run.sim().state().value(QStringLiteral("mode")), QStringLiteral("radio"));
         EXPECT_EQ(run.sim().state().value(QStringLiteral("spts")), QStringLiteral("off"));
         // Back to TV: mode and playback format follow, each set once, before the zap.
         ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 10000));
         ASSERT_TRUE(run.sim().clearRequests());
         trigger(w.menu().Channels1->actions().value(0));
         EXPECT_EQ(run.requests().mid(0, 7),
                   (QStringList{"/control/getmode", "/control/setmode?tv", "/control/system?setAViAExtPlayBack=spts",
                                "/control/zapto?43700016d66", "/control/zapto", "/control/info?streaminfo",
                                "/control/zapto?getallpids"}))
             << run.requests().join(u' ').toStdString();
         EXPECT_EQ(run.sim().state().value(QStringLiteral("mode")), QStringLiteral("tv"));
         EXPECT_EQ(run.sim().state().value(QStringLiteral("spts")), QStringLiteral("on"));
     }},
    {"SubChannelsEntry",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().Bouquets1->actions().value(1));
         ASSERT_TRUE(w.menu().SubChannels1->menuAction()->isVisible());
         QStringList menuTexts;
         for (const QAction* a : w.menu().SubChannels1->actions())
             menuTexts << a->text();
         ASSERT_EQ(menuTexts, (QStringList{"Beginn 20:00", "Beginn 20:30", "Beginn 21:00"}));
         // The receiver's sub-channels, in its order, right below the portal in the channel box,
         // with the portal or one of them on air.
         const auto belowThePortal = [&] {
             const int portal = run.app().session().model().LocateChannel(QStringLiteral("85000300008"));
             QStringList texts;
             for (int k = 1; k <= 3 && portal >= 0; ++k)
                 texts << w.CmbChannels()->itemText(portal + k).section(QLatin1Char(','), 0, 0);
             return texts;
         };
         const QStringList children{QStringLiteral("->Beginn 20:00"), QStringLiteral("->Beginn 20:30"),
                                    QStringLiteral("->Beginn 21:00")};
         EXPECT_EQ(belowThePortal(), children) << belowThePortal().join(u'|').toStdString();
         ASSERT_TRUE(run.sim().clearRequests());
         trigger(w.menu().SubChannels1->actions().value(2));
         EXPECT_TRUE(run.waitForRequest(QStringLiteral("/control/zapto?8500030000b")));
         EXPECT_TRUE(QTest::qWaitFor([&] { return w.menu().SubChannels1->actions().value(2)->isChecked(); }, 10000));
         ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 10000));
         EXPECT_EQ(belowThePortal(), children) << belowThePortal().join(u'|').toStdString();
         EXPECT_EQ(w.CmbChannels()->currentIndex(),
                   run.app().session().model().LocateChannel(QStringLiteral("8500030000b")));
         trigger(w.menu().Bouquets1->actions().value(0));
         EXPECT_FALSE(w.menu().SubChannels1->menuAction()->isVisible());
     }},
    {"AudioEntry",
     [](ProgramRun& run, TFrmQuoxel& w) {
         VlcEngine& engine = *run.app().player().engine();
         w.PopupMenuPopup();
         w.PopupMenu().hide();
         ASSERT_EQ(w.menu().Audio1->actions().size(), 2);
         EXPECT_TRUE(w.menu().Audio1->actions().value(0)->isChecked()) << "the first track after a switch";
         trigger(w.menu().Audio1->actions().value(1));
         w.PopupMenuPopup();
         w.PopupMenu().hide();
         EXPECT_TRUE(w.menu().Audio1->actions().value(1)->isChecked());
         EXPECT_FALSE(w.menu().Audio1->actions().value(0)->isChecked());
         ASSERT_TRUE(QTest::qWaitFor([&] { return engine.audioTrackIds().size() == 2; }, 15000));
         EXPECT_TRUE(QTest::qWaitFor([&] { return engine.currentAudioTrackId() == engine.audioTrackIds()[1]; }, 10000));
         trigger(w.menu().Audio1->actions().value(0));
         ASSERT_TRUE(QTest::qWaitFor([&] { return engine.audioTrackIds().size() == 2; }, 15000));
         EXPECT_TRUE(QTest::qWaitFor([&] { return engine.currentAudioTrackId() == engine.audioTrackIds()[0]; }, 10000));
     }},
    {"DBoxSpts",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // A switch to a TV channel has put the receiver on SPTS already ("autospts").
         const bool was = w.menu().SPTS1->isChecked();
         for (const bool on : {!was, was}) {
             trigger(w.menu().SPTS1);
             EXPECT_EQ(run.requests().value(0), on ? QStringLiteral("/control/system?setAViAExtPlayBack=spts")
                                                   : QStringLiteral("/control/system?setAViAExtPlayBack=pes"));
             EXPECT_EQ(w.menu().SPTS1->isChecked(), on);
             EXPECT_EQ(run.sim().state().value(QStringLiteral("spts")), on ? "on" : "off");
             ASSERT_TRUE(run.sim().clearRequests());
         }
     }},
    {"DBoxStandby",
     [](ProgramRun& run, TFrmQuoxel& w) {
         for (const bool on : {true, false}) {
             trigger(w.menu().StandbyOnOff1);
             EXPECT_EQ(run.requests().value(0),
                       on ? QStringLiteral("/control/standby?on") : QStringLiteral("/control/standby?off"));
             EXPECT_EQ(w.menu().StandbyOnOff1->isChecked(), on);
             EXPECT_EQ(run.sim().state().value(QStringLiteral("standby")), on ? "on" : "off");
             ASSERT_TRUE(run.sim().clearRequests());
         }
     }},
    {"DBoxLock",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().Lock1);
         EXPECT_TRUE(requestsAfter(run).isEmpty()) << "no action of its own";
     }},
    {"VlcStopAndPlay",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().VLCStop1);
         EXPECT_TRUE(QTest::qWaitFor([&] { return !run.app().player().isPlaying(); }, 5000));
         trigger(w.menu().VLCPlay1);
         EXPECT_TRUE(QTest::qWaitFor([&] { return run.app().player().isPlaying(); }, 20000));
     }},
    {"VlcRestart",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().VLCRestart1);
         EXPECT_TRUE(QTest::qWaitFor([&] { return !run.sim().requests(QStringLiteral("tv")).isEmpty(); }, 10000))
             << "the stream is asked for again";
         EXPECT_TRUE(QTest::qWaitFor([&] { return run.app().player().isPlaying(); }, 20000));
     }},
    {"UdpStream",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // On: the receiver sends to our UDP port and the picture comes from there.
         VlcEngine& engine = *run.app().player().engine();
         const auto udpRunning = [&] { return run.sim().state().value(QStringLiteral("udp_running")); };
         trigger(w.menu().UDPStream1);
         EXPECT_TRUE(w.menu().UDPStream1->isChecked());
         EXPECT_TRUE(QTest::qWaitFor([&] { return udpRunning() == QLatin1String("1"); }, 10000))
             << run.requests().join(u' ').toStdString();
         EXPECT_TRUE(QTest::qWaitFor(
             [&] { return engine.mrl().startsWith(QLatin1String("udp://")) && engine.stats().decodedVideo > 0; },
             20000))
             << "the picture comes over UDP: " << engine.mrl().toStdString();
         // Off: the receiver's sender is killed and the HTTP stream plays again.
         ASSERT_TRUE(run.sim().clearRequests());
         trigger(w.menu().UDPStream1);
         EXPECT_FALSE(w.menu().UDPStream1->isChecked());
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/exec?api%20udp_stream%20kill_all_streams")))
             << run.requests().join(u' ').toStdString();
         EXPECT_TRUE(QTest::qWaitFor([&] { return udpRunning() == QLatin1String("0"); }, 10000));
         EXPECT_TRUE(QTest::qWaitFor(
             [&] { return run.app().player().isPlaying() && engine.mrl().startsWith(QLatin1String("http://")); },
             20000))
             << engine.mrl().toStdString();
     }},
    {"VlcMute",
     [](ProgramRun& run, TFrmQuoxel& w) {
         VlcEngine& engine = *run.app().player().engine();
         trigger(w.menu().VLCMute1);
         EXPECT_TRUE(w.menu().VLCMute1->isChecked());
         EXPECT_TRUE(w.muted());
         EXPECT_TRUE(QTest::qWaitFor([&] { return engine.engineMuted() == 1; }, 3000));
         trigger(w.menu().VLCMute1);
         EXPECT_FALSE(w.muted());
         EXPECT_TRUE(QTest::qWaitFor([&] { return engine.engineMuted() == 0; }, 3000));
     }},
    {"VldStartup",
     [](ProgramRun& run, TFrmQuoxel& w) {
         const qsizetype before = run.log().count("VLD_Startup()");
         trigger(w.menu().VLDStartup);
         EXPECT_EQ(run.log().count("VLD_Startup()"), before + 1);
         EXPECT_TRUE(run.app().player().isPlaying());
     }},
    {"CopyStreamUrl",
     [](ProgramRun& run, TFrmQuoxel& w) {
         QApplication::clipboard()->clear();
         trigger(w.menu().CopyLiveURL1);
         EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("http://") + run.sim().address() +
                                                                  QStringLiteral(":31339/")))
             << QApplication::clipboard()->text().toStdString();
     }},
    {"TelnetLogoutAndLogin",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().Logout1);
         EXPECT_FALSE(Options.TelnetLoggedIn);
         EXPECT_FALSE(w.menu().DBoxOSD1->isEnabled());
         EXPECT_TRUE(QTest::qWaitFor(
             [&] { return run.sim().requests(QStringLiteral("telnet")).contains(QStringLiteral("exit")); }, 3000));
         trigger(w.menu().Login1);
         EXPECT_TRUE(Options.TelnetLoggedIn);
         EXPECT_TRUE(w.menu().DBoxOSD1->isEnabled());
     }},
    {"TelnetRestartNhttpd",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().Restartnhttpd1);
         EXPECT_EQ(run.sim().requests(QStringLiteral("telnet")),
                   (QStringList{QStringLiteral("killall nhttpd"), QStringLiteral("nhttpd")}));
         EXPECT_EQ(shared().shown, QStringList{QStringLiteral("Telnet: Nhttpd restarted!")});
     }},
    {"TelnetChangePassword",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // The user types the new password into the box and confirms.
         QTimer::singleShot(500, [] {
             if (auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                 box->setTextValue(QStringLiteral("neu12"));
                 box->accept();
             }
         });
         trigger(w.menu().ChangePass1);
         EXPECT_EQ(run.sim().requests(QStringLiteral("telnet")),
                   (QStringList{QStringLiteral("passwd"), QStringLiteral("neu12"), QStringLiteral("neu12")}));
         EXPECT_EQ(shared().shown, QStringList{QStringLiteral("Telnet: Password changed!")});
         EXPECT_EQ(run.sim().state().value(QStringLiteral("telnet_password")), QStringLiteral("neu12"));
     }},
    {"ViewVideoOnly",
     [](ProgramRun&, TFrmQuoxel& w) {
         const int height = w.height();
         const QRect video = w.Video()->geometry();
         EXPECT_EQ(video.topLeft(), QPoint(5, 5));
         trigger(w.menu().VideoOnly1);
         EXPECT_TRUE(w.menu().VideoOnly1->isChecked());
         EXPECT_FALSE(w.menuBar()->isVisible() || w.statusBar()->isVisible());
         EXPECT_TRUE(QTest::qWaitFor([&] { return w.height() == height - 55; }, 3000)) << w.height();
         EXPECT_EQ(w.Video()->geometry(), w.centralWidget()->rect());
         EXPECT_EQ(w.PnlRealOSD()->geometry(), w.Video()->geometry());
         w.menu().VideoOnly1->trigger(); // no menu bar now: what F9 does
         EXPECT_TRUE(w.menuBar()->isVisible() && w.statusBar()->isVisible());
         EXPECT_TRUE(QTest::qWaitFor([&] { return w.height() == height; }, 3000));
         EXPECT_EQ(w.Video()->geometry(), video);
         // Terminal and receiver picture stay above the channel row.
         EXPECT_LT(w.PnlTelnet()->geometry().bottom(), w.CmbChannels()->geometry().top());
         EXPECT_LT(w.PnlRealOSD()->geometry().bottom(), w.CmbChannels()->geometry().top());
     }},
    {"ViewAlwaysOnTop",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // The player's window stays the one it draws into.
         const WId video = w.Video()->winId();
         trigger(w.menu().alwaysontop1);
         EXPECT_TRUE(w.menu().alwaysontop1->isChecked());
         EXPECT_TRUE(w.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
         trigger(w.menu().alwaysontop1);
         EXPECT_FALSE(w.menu().alwaysontop1->isChecked());
         EXPECT_FALSE(w.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
         EXPECT_EQ(w.Video()->winId(), video);
         EXPECT_TRUE(run.app().player().isPlaying());
     }},
    {"ViewFullscreen",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // With "Always On Top" the placement is lifted over full screen and given back after it.
         const QSize normal = w.size();
         const WId video = w.Video()->winId();
         w.activateWindow();
         ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
         trigger(w.menu().alwaysontop1);
         trigger(w.menu().Fullscreen1);
         EXPECT_TRUE(w.view().IsFullscreen);
         EXPECT_TRUE(w.menu().Fullscreen1->isChecked());
         EXPECT_FALSE(w.view().IsInTransition);
         EXPECT_FALSE(w.menuBar()->isVisible());
         EXPECT_FALSE(w.view().topmost());
         EXPECT_TRUE(QTest::qWaitFor([&] { return w.isFullScreen(); }, 5000));
         EXPECT_TRUE(QTest::qWaitFor([&] { return w.Video()->width() == w.screen()->geometry().width(); }, 5000))
             << "video " << w.Video()->width() << " in a window " << w.width() << " on a screen "
             << w.screen()->geometry().width();
         EXPECT_EQ(w.view().windowState().width, normal.width()) << "the normal window is what is saved";
         w.menu().Fullscreen1->trigger(); // the context menu's copy in full screen
         EXPECT_FALSE(w.view().IsFullscreen);
         EXPECT_FALSE(w.menu().Fullscreen1->isChecked());
         EXPECT_FALSE(w.view().IsInTransition);
         EXPECT_TRUE(w.view().topmost());
         EXPECT_TRUE(w.menuBar()->isVisible());
         EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isFullScreen() && w.size() == normal; }, 5000));
         EXPECT_EQ(w.Video()->winId(), video);
         trigger(w.menu().alwaysontop1);
         EXPECT_TRUE(QTest::qWaitFor([&] { return run.app().player().isPlaying(); }, 5000));
     }},
    {"ViewTelnet",
     [](ProgramRun&, TFrmQuoxel& w) {
         trigger(w.menu().Telnet1);
         EXPECT_TRUE(w.menu().Telnet1->isChecked());
         // At the bottom of the video, which it spans.
         const QRect video = w.Video()->geometry();
         EXPECT_EQ(w.PnlTelnet()->geometry(), QRect(video.left(), video.bottom() - 86, video.width(), 87));
         EXPECT_GE(awaitShareOfColour(w.PnlTelnet(), qRgb(255, 255, 255), 16, 0.5), 0.5);
         trigger(w.menu().Telnet1);
         EXPECT_FALSE(w.menu().Telnet1->isChecked());
         EXPECT_TRUE(w.PnlTelnet()->isHidden());
     }},
    {"ViewDBoxOsd",
     [](ProgramRun& run, TFrmQuoxel& w) {
         trigger(w.menu().DBoxOSD1);
         EXPECT_TRUE(w.menu().DBoxOSD1->isChecked());
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/tmp/a.bmp")));
         EXPECT_EQ(w.PnlRealOSD()->geometry(), w.Video()->geometry());
         EXPECT_GE(awaitShareOfColour(w.PnlRealOSD(), kOsdPanel, 12, 0.02), 0.02) << "the receiver's display";
         trigger(w.menu().DBoxOSD1);
         EXPECT_FALSE(w.menu().DBoxOSD1->isChecked());
         EXPECT_TRUE(w.PnlRealOSD()->isHidden());
     }},
    {"DBoxReboot",
     [](ProgramRun& run, TFrmQuoxel& w) {
         // Asked first, under the hourglass; cancelled, nothing is sent and the cursor comes back.
         shared().confirm = false;
         trigger(w.menu().RebootDBOX1);
         shared().confirm = true;
         EXPECT_EQ(shared().asked, QStringList{QStringLiteral("D-Box Reboot?")});
         EXPECT_TRUE(shared().busyWhenAsked);
         EXPECT_EQ(QApplication::overrideCursor(), nullptr);
         EXPECT_FALSE(run.requests().contains(QStringLiteral("/control/reboot")));
         EXPECT_TRUE(w.isVisible());
         trigger(w.menu().RebootDBOX1);
         EXPECT_EQ(run.sim().state().value(QStringLiteral("reboots")), QStringLiteral("1"));
         EXPECT_TRUE(run.requests().contains(QStringLiteral("/control/reboot")));
         EXPECT_EQ(shared().shown, QStringList{QStringLiteral("D-Box Reboot! Plz Restart Quoxel!")});
         EXPECT_FALSE(w.isVisible()) << "the program ends";
     }},
    {"TelnetRebootDBox2",
     [](ProgramRun& run, TFrmQuoxel& w) {
         shared().confirm = false;
         trigger(w.menu().Reboot1);
         shared().confirm = true;
         EXPECT_TRUE(w.isVisible()) << "cancelled";
         EXPECT_TRUE(shared().shown.isEmpty());
         trigger(w.menu().Reboot1);
         EXPECT_TRUE(QTest::qWaitFor(
             [&] { return run.sim().requests(QStringLiteral("telnet")).contains(QStringLiteral("reboot")); }, 3000));
         EXPECT_EQ(shared().shown, QStringList{QStringLiteral("D-Box Reboot! Plz Restart Quoxel!")});
         EXPECT_FALSE(w.isVisible()) << "the program ends";
     }},
};

INSTANTIATE_TEST_SUITE_P(Items, ProgramMenuItems, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
