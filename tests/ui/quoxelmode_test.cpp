#include "programrun.h"

#include "ui/appcontroller.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "playback/channelswitch.h"
#include "playback/vlcapi.h"
#include "support/statustrail.h"
#include "support/tempdir.h"
#include "ui/mainwindow.h"

#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::AppController;
using quoxel::TFrmQuoxel;

namespace {

const QString kProvider = QStringLiteral("127.0.69.1");
const QString kReceiver = QStringLiteral("127.0.69.2");
constexpr int kProvidePort = 31329;
const QString kZdf = QStringLiteral("437000273f2");

// A second, real Quoxel: the program copied into a folder of its own (its settings, log and lock
// live beside it), playing the receiver live and re-serving what it plays.
class ProvidingQuoxel {
public:
    explicit ProvidingQuoxel(TestDir& dir)
        : m_dir(dir) {}
    ~ProvidingQuoxel() { stop(); }

    bool start() {
        const QString program = m_dir.path(QStringLiteral("quoxel"));
        if (!QFile::exists(program) &&
            (!QFile::copy(QStringLiteral(QUOXEL_PROGRAM), program) ||
             !QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)))
            return false;
        const QByteArray ini = "[General]\nmode=live\nprovidestream=1\nip_pc=" + kProvider.toLatin1() +
                               "\nstreamport_prov=" + QByteArray::number(kProvidePort) +
                               "\n[D-Box2]\nip_lan=" + kReceiver.toLatin1() + "\ndboxport=80\n";
        if (!m_dir.write(QStringLiteral("Quoxel.ini"), ini))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(program, {});
        return m_process.waitForStarted(5000);
    }
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The re-served stream accepts connections.
    static bool serving() {
        QTcpSocket s;
        s.connectToHost(kProvider, kProvidePort);
        const bool up = s.waitForConnected(500);
        s.abort();
        return up;
    }

private:
    TestDir& m_dir;
    QProcess m_process;
};

// Quoxel mode with a real providing instance: the second Quoxel plays what the first re-serves,
// and after the first one went away and came back on another channel (as after its user zapped),
// the second one's watchdog recovers the picture and takes over that channel without zapping.
TEST(QuoxelMode, FollowsARealProvidingInstance) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (xcb)";
    ProgramRun run(kReceiver);
    ASSERT_TRUE(run.startSim());
    BoxSimProcess& sim = run.sim();
    TestDir providerDir;
    ProvidingQuoxel provider(providerDir);
    ASSERT_TRUE(provider.start());
    ASSERT_TRUE(QTest::qWaitFor([] { return ProvidingQuoxel::serving(); }, 40000)) << "the provider re-serves";

    ASSERT_EQ(run.launch(run.settings("mode=quoxel\nip_quoxel=" + kProvider.toLatin1() +
                                      "\nstreamport_prov=" + QByteArray::number(kProvidePort))),
              ConnectionOutcome::Connected);
    TFrmQuoxel& w = run.window();
    AppController& app = run.app();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.switcher() != nullptr; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.player().engine()->stats().decodedVideo > 0; }, 30000))
        << "the re-served picture is decoded";
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.switcher()->streamConnected(); }, 10000));
    EXPECT_FALSE(w.menu().Bouquets1->menuAction()->isVisible()) << "the receiver is the provider's to drive";

    // The provider goes; its user puts the receiver on another channel and starts it again.
    ASSERT_TRUE(sim.clearRequests());
    provider.stop();
    StatusTrail trail(&w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.switcher()->streamConnected(); }, 30000))
        << "playing " << app.player().isPlaying() << " state " << int(app.player().engine()->state()) << " timer "
        << app.switcher()->TimerVLC().isActive() << "/" << app.switcher()->TimerVLC().interval();
    EXPECT_TRUE(trail.texts.contains(QStringLiteral("no connection to quoxel stream!")))
        << trail.texts.join(u'|').toStdString();
    ASSERT_TRUE(sim.setState(QStringLiteral("channel"), kZdf));
    ASSERT_TRUE(provider.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.switcher()->streamConnected(); }, 90000));
    ASSERT_TRUE(app.session().AktChannel);
    EXPECT_EQ(app.session().AktChannel->Id, kZdf);
    EXPECT_EQ(w.CmbChannels()->currentIndex(), app.session().model().LocateChannel(kZdf));
    EXPECT_TRUE(w.menu().Channels1->actions().value(app.session().model().LocateChannel(kZdf))->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.player().isPlaying(); }, 10000));
    // The follower never zaps the receiver itself.
    const QStringList zapped = zaps(sim.requestTargets());
    EXPECT_TRUE(zapped.isEmpty()) << zapped.join(' ').toStdString();
    provider.stop();
}

} // namespace
