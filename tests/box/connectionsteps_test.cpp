#include "box/connectionsteps.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/rawhttpserver.h"

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

// The receiver's session against the simulator.
class BoxSilentCloseTest : public ::testing::Test {
protected:
    BoxSilentCloseTest()
        : sim(QStringLiteral("127.0.54.31")) {
        Options = settingsFor(sim.address());
    }
    ~BoxSilentCloseTest() override { session.releaseClients(); }
    bool startSim() { return sim.start() && sim.clearRequests(); }

    ScopedAppState m_state;
    BoxSimProcess sim;
    BoxSession session;
};

} // namespace

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
