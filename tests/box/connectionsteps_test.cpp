#include "box/connectionsteps.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/connection.h"
#include "core/lifecycle.h"
#include "core/log.h"
#include "core/startupfakes.h"
#include "support/boxsimprocess.h"
#include "support/rawhttpserver.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TOptions settingsFor(const QString& address) {
    TOptions o;
    o.Mode = AppMode::Live;
    o.IpLan = address;
    o.BoxAddress = address + QStringLiteral(":80");
    o.VlcAddress = address + QStringLiteral(":8080");
    o.TelnetPort = QStringLiteral("23");
    o.NoLogging = true;
    o.Priority = QStringLiteral("unchanged");
    return o;
}

// The real receiver side against the simulator, with the window side recorded.
class BoxSilentCloseTest : public ::testing::Test {
protected:
    BoxSilentCloseTest()
        : m_address(QStringLiteral("127.0.54.31"))
        , sim(m_address)
        , status(log)
        , view(log)
        , lifeView(log)
        , connection(view, session, QStringLiteral("0.1.0"))
        , lifecycle(lifeView, session, connection) {
        m_saved = Options;
        setStatusSink(&status);
        view.settings = settingsFor(m_address);
        Options = view.settings;
        IsClosing = false;
        IsStarting = false;
        EPGAbort = false;
    }
    ~BoxSilentCloseTest() override {
        session.releaseClients();
        setStatusSink(nullptr);
        Options = m_saved;
        IsClosing = false;
        IsStarting = false;
        EPGAbort = false;
    }
    bool startSim() { return sim.start() && sim.clearRequests(); }

    QString m_address;
    BoxSimProcess sim;
    CallLog log;
    FakeStatus status;
    FakeConnectionView view;
    FakeLifecycleView lifeView;
    BoxSession session;
    Connection connection;
    Lifecycle lifecycle;
    TOptions m_saved;
};

} // namespace

// A receiver (and remote VLC) that silently drops every request at close: the requests still go
// out, each wait ends at its limit, and the whole close stays well inside the 5 s exit bound.
TEST_F(BoxSilentCloseTest, CloseIsBoundedWhenTheReceiverIsSilent) {
    ASSERT_TRUE(startSim());
    view.settings.Mode = AppMode::Online;
    view.settings.LockRc = true;
    view.settings.ShowMessage = true;
    view.settings.AutoSpts = true;
    ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    lifecycle.FormActivate();
    ASSERT_TRUE(sim.setFault(QStringLiteral("*"), QStringLiteral("silent")));
    ASSERT_TRUE(sim.setFault(QStringLiteral("vlc"), QStringLiteral("silent")));
    ASSERT_TRUE(sim.clearRequests());
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(lifecycle.FormClose());
    const qint64 sequenceMs = timer.elapsed();
    session.releaseClients();
    const qint64 elapsed = timer.elapsed();
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sim.requestTargets().size() >= 3; }, 3000));
    EXPECT_EQ(sim.requestTargets(), (QStringList{QStringLiteral("/control/rc?unlock"),
                                                 QStringLiteral("/control/message?nmsg=Quoxel%20is%20closed!"),
                                                 QStringLiteral("/control/system?setAViAExtPlayBack=pes")}));
    EXPECT_EQ(sim.requestTargets(QStringLiteral("vlc")), QStringList{QStringLiteral("/?control=stop")});
    std::printf("close against a silent receiver: %lld ms, of which the sequence %lld ms\n",
                static_cast<long long>(elapsed), static_cast<long long>(sequenceMs));
}

// A bounded request gives up at its limit, and the client stays usable for the next one.
TEST_F(BoxSilentCloseTest, BoundedRequestGivesUpAndTheClientGoesOn) {
    ASSERT_TRUE(startSim());
    session.createClients(QString(), QString());
    session.setMainTimeout(20);
    ASSERT_TRUE(sim.setFault(QStringLiteral("/control/standby"), QStringLiteral("silent")));
    EXPECT_EQ(session.boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/standby")), 300), QString());
    EXPECT_EQ(session.mainHttp()->Timeout, 20);
    EXPECT_FALSE(
        session.boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/gettime?rawtime")), 2000).isEmpty());
    IsClosing = true; // the close-time limit replaces the closing flag for this one request
    EXPECT_EQ(session.boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode")), 2000),
              QStringLiteral("tv"));
    EXPECT_EQ(session.requestStandbyState(), QString()); // ordinary requests give up while closing
}

// The receiver's web login goes with requests to the receiver's address and port only: the remote
// VLC, asked through the same client and perhaps across the internet, never sees it.
TEST(BoxSessionLogin, GoesToTheReceiverAlone) {
    RawHttpServer receiver("127.0.54.40");
    RawHttpServer remote("127.0.54.40");
    ASSERT_TRUE(receiver.listening() && remote.listening());
    receiver.setScript(RawHttpServer::answer("ok"));
    remote.setScript(RawHttpServer::answer("ok"));
    const TOptions saved = Options;
    Options.BoxAddress = QStringLiteral("127.0.54.40:%1").arg(receiver.port());
    BoxSession session;
    session.createClients(QStringLiteral("root"), QStringLiteral("dbox2"));
    EXPECT_EQ(session.box()->BoxRequest(receiver.url(QStringLiteral("/control/getmode"))), QStringLiteral("ok"));
    EXPECT_EQ(session.box()->BoxRequest(remote.url(QStringLiteral("/?control=empty"))), QStringLiteral("ok"));
    session.releaseClients();
    Options = saved;
    ASSERT_EQ(receiver.requests().size(), 1);
    ASSERT_EQ(remote.requests().size(), 1);
    EXPECT_TRUE(receiver.requests()[0].contains("\r\nAuthorization: Basic cm9vdDpkYm94Mg==\r\n"))
        << receiver.requests()[0].constData();
    EXPECT_FALSE(remote.requests()[0].contains("Authorization")) << remote.requests()[0].constData();
}
