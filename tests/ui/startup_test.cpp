#include "ui/appcontroller.h"

#include "core/appflags.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/mainwindow.h"
#include "ui/remotecontrol.h"
#include "ui/splash.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

// One simulated receiver per case, each on its own loopback address.
struct StartCase {
    const char* name;
    const char* address;
    bool simulatorUp;
    const char* setup;    // boxsim control request before the start, or ""
    const char* settings; // extra [General] lines
    ConnectionOutcome outcome;
    const char* status;   // status line and splash label afterwards
    QStringList requests; // the receiver requests, in order
    bool channels;        // the channel box is filled
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

const QString kTime = QStringLiteral("/control/gettime?rawtime");
const QString kStandby = QStringLiteral("/control/standby");
const QString kFormat = QStringLiteral("/control/system?getAViAExtPlayBack");
const QString kRecord = QStringLiteral("/control/setmode?status");
const QString kBouquets = QStringLiteral("/control/getbouquets");

const StartCase kCases[] = {
    {"Connected",
     "127.0.55.10",
     true,
     "",
     "",
     ConnectionOutcome::Connected,
     "initializing vlc...",
     {kTime, kStandby, kFormat, kBouquets, "/control/getbouquet?actual", "/control/getbouquet?bouquet=1&mode=TV",
      "/control/getbouquet?bouquet=1&mode=RADIO", "/control/zapto", "/control/epg?ext", kRecord},
     true},
    {"MessageAndLock",
     "127.0.55.11",
     true,
     "",
     "show_message=1\nlock_rc=1\n",
     ConnectionOutcome::Connected,
     "initializing vlc...",
     {kTime, kStandby, kFormat, "/control/message?nmsg=Quoxel%20is%20active!", "/control/rc?lock", kBouquets,
      "/control/getbouquet?actual", "/control/getbouquet?bouquet=1&mode=TV", "/control/getbouquet?bouquet=1&mode=RADIO",
      "/control/zapto", "/control/epg?ext", kRecord},
     true},
    {"ReceiverDown",
     "127.0.55.12",
     false,
     "",
     "",
     ConnectionOutcome::NoConnection,
     "no connection to dbox or vlc remote!",
     {},
     false},
    {"Recording",
     "127.0.55.13",
     true,
     "/boxsim/set?recording=on",
     "check_record=1\nlock_rc=1\n",
     ConnectionOutcome::Recording,
     "dbox is recording, sorry!",
     {kTime, kRecord},
     false},
    {"QuoxelModeMessageAndLock",
     "127.0.55.16",
     true,
     "",
     "mode=quoxel\nshow_message=1\nlock_rc=1\ncheck_record=1\n",
     ConnectionOutcome::Connected,
     "initializing vlc...",
     {kTime, "/control/message?nmsg=Quoxel%20is%20active!", "/control/rc?lock", kBouquets, "/control/getbouquet?actual",
      "/control/getbouquet?bouquet=1&mode=TV", "/control/getbouquet?bouquet=1&mode=RADIO", "/control/zapto",
      "/control/epg?ext"},
     true},
    {"GarbageBouquets",
     "127.0.55.14",
     true,
     "/boxsim/fault?endpoint=/control/getbouquets&mode=garbage&arg=300",
     "",
     ConnectionOutcome::NoBouquets,
     "no connection to quoxel stream!",
     {kTime, kStandby, kFormat, kBouquets},
     false},
    {"SilentTime",
     "127.0.55.15",
     true,
     "/boxsim/fault?endpoint=/control/gettime&mode=garbage&arg=64",
     "",
     ConnectionOutcome::NoConnection,
     "no connection to dbox or vlc remote!",
     {kTime},
     false},
};

class StartUp : public ::testing::TestWithParam<StartCase> {
protected:
    ScopedAppState m_state;
};

// From program start to the main window: the receiver is asked in the sequence's order, and
// each failure leaves its text on the status line and the splash, with nothing to play.
TEST_P(StartUp, RequestSequenceAndOutcome) {
    const StartCase c = GetParam();
    BoxSimProcess sim(QString::fromLatin1(c.address));
    if (c.simulatorUp) {
        ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString();
        if (*c.setup) {
            ASSERT_EQ(sim.control(c.setup).status, 200);
        }
        ASSERT_TRUE(sim.clearRequests());
    }
    TestDir dir;
    const bool quoxelMode = QByteArray(c.settings).contains("mode=quoxel");
    const QByteArray ini = QByteArray("[General]\n") + (quoxelMode ? "" : "mode=live\n") + c.settings +
                           "rememberstate=1\n[D-Box2]\nip_lan=" + c.address + "\ndboxport=80\n";
    ASSERT_TRUE(dir.write(QStringLiteral("Quoxel.ini"), ini));

    TFrmQuoxel w;
    AppController app(w);
    app.setIniPath(dir.path(QStringLiteral("Quoxel.ini")));
    const ConnectionOutcome outcome = app.FormCreate();
    EXPECT_EQ(outcome, c.outcome);
    // Progress goes to the splash only; a failure text also stays on the status line.
    if (outcome == ConnectionOutcome::Connected) {
        EXPECT_FALSE(w.statusPanel(0)->text().contains(QLatin1Char('!')));
    } else {
        EXPECT_EQ(w.statusPanel(0)->text(), QStringLiteral(" ") + QLatin1String(c.status));
    }
    EXPECT_EQ(w.FrmSplash().LblStatus()->text(), QLatin1String(c.status));
    EXPECT_TRUE(w.windowTitle().startsWith(QStringLiteral("Quoxel v")));
    EXPECT_EQ(w.statusPanel(1)->text(), quoxelMode ? QStringLiteral("quoxel") : QStringLiteral("live"));
    if (c.simulatorUp) {
        QStringList got;
        for (const QString& t : sim.requestTargets())
            got << t;
        EXPECT_EQ(got, c.requests);
    }
    EXPECT_EQ(w.CmbChannels()->count() > 0, c.channels);
    EXPECT_EQ(IsStarting.load(), outcome == ConnectionOutcome::Connected);
    if (c.channels) {
        // The channel the receiver shows is selected, and the menus mirror the bouquet.
        const QMap<QString, QString> state = sim.state();
        ASSERT_GE(w.CmbChannels()->currentIndex(), 0);
        EXPECT_FALSE(w.menu().Channels1->actions().isEmpty());
        EXPECT_FALSE(w.menu().Bouquets1->actions().isEmpty());
        ASSERT_TRUE(app.session().AktChannel);
        EXPECT_EQ(app.session().AktChannel->Id, state.value(QStringLiteral("channel")));
        // Before the first activation has started playback, the tray's "Close" does nothing.
        w.show();
        w.Close2()->trigger();
        QCoreApplication::processEvents();
        EXPECT_TRUE(w.isVisible());
    }
    if (outcome != ConnectionOutcome::Connected) {
        // Nothing plays and "Close" works at once.
        w.show();
        app.lifecycle().FormActivate();
        EXPECT_FALSE(app.playerInitialised());
        EXPECT_FALSE(w.FrmSplash().isVisible());
        if (c.simulatorUp) {
            ASSERT_TRUE(sim.clearRequests());
        }
        app.lifecycle().Close1Click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));
        // No player was started: nothing of the receiver is restored and no window state saved.
        if (c.simulatorUp) {
            EXPECT_TRUE(sim.requestTargets().isEmpty()) << sim.requestTargets().join(' ').toStdString();
        }
        EXPECT_FALSE(dir.read(QStringLiteral("Quoxel.ini")).contains("[Window]"));
    }
    if (c.outcome == ConnectionOutcome::Recording) {
        EXPECT_EQ(sim.state().value(QStringLiteral("rclock")), QStringLiteral("off")) << "remote control left free";
    }
}

INSTANTIATE_TEST_SUITE_P(Receiver, StartUp, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// On the very first start (no settings file) the options dialog asks for the receiver before
// anything connects; cancelled, the window opens without a connection.
TEST(FirstStart, OptionsDialogComesFirst) {
    Options = TOptions{};
    TestDir dir;
    TFrmQuoxel w;
    AppController app(w);
    app.setIniPath(dir.path(QStringLiteral("Quoxel.ini")));
    QString asked;
    QTimer::singleShot(200, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            asked = dialog->metaObject()->className();
            static_cast<QDialog*>(dialog)->reject();
        }
    });
    EXPECT_EQ(app.FormCreate(), ConnectionOutcome::NoConnection);
    EXPECT_EQ(asked, QStringLiteral("TFrmOptions"));
    EXPECT_EQ(w.statusPanel(0)->text(), QStringLiteral(" no connection to dbox or vlc remote!"));
    IsStarting = false;
    Options = TOptions{};
}

} // namespace

namespace {

// D-Box OSD after a telnet login: the remote-control window opens docked beside the main window, follows
// it, and a click on a key of its picture reaches the receiver as a remote-control key.
TEST(BoxOsd, RemoteControlBesideTheWindowSendsKeys) {
    Options = TOptions{};
    BoxSimProcess sim(QStringLiteral("127.0.61.4"), {QStringLiteral("--telnet-port"), QStringLiteral("2323"),
                                                     QStringLiteral("--telnet-password"), QStringLiteral("dbox2")});
    ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString();
    TestDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("Quoxel.ini"), "[General]\nmode=live\n[D-Box2]\nip_lan=127.0.61.4\n"
                                                        "dboxport=80\n"));
    TFrmQuoxel w;
    AppController app(w);
    app.setIniPath(dir.path(QStringLiteral("Quoxel.ini")));
    ASSERT_EQ(app.FormCreate(), ConnectionOutcome::Connected);
    w.setGeometry(400, 100, 640, 480);
    w.show();
    app.setTelnetTarget(QStringLiteral("127.0.61.4"), QStringLiteral("2323"));
    app.telnetLogin(QStringLiteral("root"), QStringLiteral("dbox2"));
    ASSERT_TRUE(Options.TelnetLoggedIn);

    w.menu().DBoxOSD1->setEnabled(true);
    w.menu().DBoxOSD1->trigger();
    ASSERT_NE(app.remoteControl(), nullptr);
    TFrmRemoteControl& remote = *app.remoteControl();
    EXPECT_TRUE(remote.isVisible());
    EXPECT_EQ(remote.frameGeometry().right(), w.frameGeometry().left() + 1) << "2 pixels over the main window";
    w.move(w.x() + 50, w.y());
    EXPECT_TRUE(QTest::qWaitFor([&] { return remote.frameGeometry().right() == w.frameGeometry().left() + 1; }, 2000))
        << "follows the main window";

    const RemoteKeyRect& k = remoteKeyTable()[0];
    Q_EMIT remote.pictureClicked(QPoint((k.xFrom + k.xTo) / 2, (k.yFrom + k.yTo) / 2));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return sim.state().value(QStringLiteral("lastkey")) == QLatin1String(k.key); }, 5000))
        << sim.state().value(QStringLiteral("lastkey")).toStdString();
    Q_EMIT remote.closeClicked();
    EXPECT_FALSE(remote.isVisible());
    EXPECT_FALSE(w.menu().DBoxOSD1->isChecked());
    Options.TelnetLoggedIn = false;
    IsStarting = false;
    Options = TOptions{};
}

} // namespace
