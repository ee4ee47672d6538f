#include "box/connectionsteps.h"

#include "box/boxcommands.h"
#include "box/epgthread.h"
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
class BoxSessionTest : public ::testing::Test {
protected:
    explicit BoxSessionTest(const char* address, QStringList simArgs = {})
        : m_address(QString::fromLatin1(address))
        , sim(m_address, simArgs)
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
    ~BoxSessionTest() override {
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

class BoxConnectTest : public BoxSessionTest {
protected:
    BoxConnectTest()
        : BoxSessionTest("127.0.54.1") {}
};

} // namespace

// Start-up against a receiver that answers: the exact request sequence, the receiver's state
// afterwards, and the channel on air selected.
TEST_F(BoxConnectTest, RequestSequenceOfTheConnection) {
    ASSERT_TRUE(startSim());
    ASSERT_TRUE(sim.setState(QStringLiteral("standby"), QStringLiteral("off")));
    view.settings.CheckRecord = true;
    view.settings.ShowMessage = true;
    view.settings.LockRc = true;
    EXPECT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    const QString bouquet = session.model().CurBouquetNr;
    const QStringList expected{
        QStringLiteral("/control/gettime?rawtime"),
        QStringLiteral("/control/setmode?status"),
        QStringLiteral("/control/standby"),
        QStringLiteral("/control/system?getAViAExtPlayBack"),
        QStringLiteral("/control/message?nmsg=Quoxel%20is%20active!"),
        QStringLiteral("/control/rc?lock"),
        QStringLiteral("/control/getbouquets"),
        QStringLiteral("/control/getbouquet?actual"),
        QStringLiteral("/control/getbouquet?bouquet=") + bouquet + QStringLiteral("&mode=TV"),
        QStringLiteral("/control/getbouquet?bouquet=") + bouquet + QStringLiteral("&mode=RADIO"),
        QStringLiteral("/control/zapto"),
        QStringLiteral("/control/epg?ext"),
    };
    EXPECT_EQ(sim.requestTargets(), expected);
    const auto state = sim.state();
    EXPECT_EQ(state.value(QStringLiteral("rclock")), QStringLiteral("on"));
    EXPECT_EQ(state.value(QStringLiteral("message")), QStringLiteral("Quoxel is active!"));
    ASSERT_TRUE(session.AktChannel);
    EXPECT_EQ(session.AktChannel->Id, state.value(QStringLiteral("channel")));
    const int selected = session.model().selectedIndex();
    ASSERT_GE(selected, 0);
    EXPECT_EQ(session.model().channelBox()[selected].Channel, session.AktChannel);
    EXPECT_TRUE(session.model().channelMenu()[selected].Checked);
    EXPECT_FALSE(session.AktChannel->NowEPG.EventId.isEmpty()); // the all-channel EPG arrived
    EXPECT_TRUE(log.has(QStringLiteral("standbyChecked 0")));
    EXPECT_TRUE(IsStarting);
}

// The receiver's standby and SPTS state reach the check marks.
TEST_F(BoxConnectTest, StandbyAndSptsStateRead) {
    ASSERT_TRUE(startSim());
    ASSERT_TRUE(sim.setState(QStringLiteral("standby"), QStringLiteral("on")));
    ASSERT_TRUE(sim.setState(QStringLiteral("spts"), QStringLiteral("on")));
    EXPECT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    EXPECT_TRUE(log.has(QStringLiteral("standbyChecked 1")));
    EXPECT_TRUE(log.has(QStringLiteral("sptsChecked 1")));
}

struct FailureCase {
    const char* name;
    const char* address;
    bool simRunning;
    QStringList simArgs;
    std::function<void(TOptions&, BoxSimProcess&)> setup;
    ConnectionOutcome outcome;
    QString text;
};

class BoxFailureTest : public BoxSessionTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    BoxFailureTest()
        : BoxSessionTest(GetParam().address, GetParam().simArgs) {}
};

// Each failure message with the simulator down, recording, or answering garbage: the text on the
// status line and the splash, IsStarting cleared, the remote control never locked.
TEST_P(BoxFailureTest, FailsWithItsMessage) {
    const FailureCase& c = GetParam();
    if (c.simRunning) {
        ASSERT_TRUE(startSim());
    }
    view.settings.LockRc = true;
    view.settings.CheckRecord = true;
    if (c.setup)
        c.setup(view.settings, sim);
    EXPECT_EQ(connection.InitConnection(), c.outcome);
    EXPECT_TRUE(log.has(QStringLiteral("status ") + c.text)) << log.calls.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(view.splash.label, c.text);
    EXPECT_FALSE(IsStarting);
    if (c.simRunning) {
        EXPECT_FALSE(sim.requestTargets().contains(QStringLiteral("/control/epg?ext")));
        if (c.outcome != ConnectionOutcome::NoBouquets) {
            EXPECT_FALSE(sim.requestTargets().contains(QStringLiteral("/control/rc?lock")));
            EXPECT_EQ(sim.state().value(QStringLiteral("rclock")), QStringLiteral("off"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, BoxFailureTest,
    ::testing::Values(
        FailureCase{"ReceiverDown",
                    "127.0.54.10",
                    false,
                    {},
                    {},
                    ConnectionOutcome::NoConnection,
                    QStringLiteral("no connection to dbox or vlc remote!")},
        FailureCase{"GarbageEverywhere",
                    "127.0.54.11",
                    true,
                    {},
                    [](TOptions&, BoxSimProcess& s) { s.setFault(QStringLiteral("*"), QStringLiteral("garbage")); },
                    ConnectionOutcome::NoConnection,
                    QStringLiteral("no connection to dbox or vlc remote!")},
        FailureCase{"RemoteVlcDown",
                    "127.0.54.12",
                    true,
                    {QStringLiteral("--vlc-port"), QStringLiteral("0")},
                    [](TOptions& o, BoxSimProcess&) { o.Mode = AppMode::Online; },
                    ConnectionOutcome::NoConnection,
                    QStringLiteral("no connection to dbox or vlc remote!")},
        FailureCase{"RemoteVlcGarbage",
                    "127.0.54.13",
                    true,
                    {},
                    [](TOptions& o, BoxSimProcess& s) {
                        o.Mode = AppMode::Online;
                        s.setFault(QStringLiteral("vlc"), QStringLiteral("garbage"));
                    },
                    ConnectionOutcome::NoConnection,
                    QStringLiteral("no connection to dbox or vlc remote!")},
        FailureCase{"Recording",
                    "127.0.54.14",
                    true,
                    {},
                    [](TOptions&, BoxSimProcess& s) { s.setState(QStringLiteral("recording"), QStringLiteral("on")); },
                    ConnectionOutcome::Recording,
                    QStringLiteral("dbox is recording, sorry!")},
        FailureCase{"BouquetsGarbage",
                    "127.0.54.15",
                    true,
                    {},
                    [](TOptions&, BoxSimProcess& s) {
                        s.setFault(QStringLiteral("/control/getbouquets"), QStringLiteral("garbage"));
                    },
                    ConnectionOutcome::NoBouquets,
                    QStringLiteral("no connection to quoxel stream!")},
        FailureCase{"BouquetsClosed",
                    "127.0.54.16",
                    true,
                    {},
                    [](TOptions& o, BoxSimProcess& s) {
                        o.Mode = AppMode::Quoxel;
                        s.setFault(QStringLiteral("/control/getbouquets"), QStringLiteral("close"));
                    },
                    ConnectionOutcome::NoBouquets,
                    QStringLiteral("no connection to quoxel stream!")}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

namespace {

class BoxGarbageBodyTest : public BoxSessionTest {
protected:
    BoxGarbageBodyTest()
        : BoxSessionTest("127.0.54.20") {}
};

} // namespace

// Answers of random bytes (with a proper HTTP frame) are no time, no recording, no standby, no
// channel on air: the sequence goes through and keeps the offset it had.
TEST_F(BoxGarbageBodyTest, GarbageBodiesAreSurvived) {
    ASSERT_TRUE(startSim());
    ASSERT_TRUE(sim.setFault(QStringLiteral("*"), QStringLiteral("garbage-body"), 3000));
    view.settings.CheckRecord = true;
    view.settings.BoxTimeOffset = 42;
    const ConnectionOutcome outcome = connection.InitConnection();
    EXPECT_TRUE(outcome == ConnectionOutcome::Connected || outcome == ConnectionOutcome::NoChannelRecord);
    EXPECT_EQ(Options.BoxTimeOffset, 42);
    EXPECT_TRUE(log.has(QStringLiteral("standbyChecked 0")));
    EXPECT_TRUE(log.has(QStringLiteral("sptsChecked 0")));
    EXPECT_FALSE(session.AktChannel);
}

namespace {

class BoxSilentCloseTest : public BoxSessionTest {
protected:
    BoxSilentCloseTest()
        : BoxSessionTest("127.0.54.31") {}
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

// The same with the EPG thread hanging in a fetch of its own: its stop gives that up too, and the
// close still ends inside the bound.
TEST_F(BoxSilentCloseTest, CloseIsBoundedWithTheEPGThreadInAFetch) {
    ASSERT_TRUE(startSim());
    view.settings.LockRc = true;
    view.settings.ShowMessage = true;
    view.settings.AutoSpts = true;
    ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    lifecycle.FormActivate();
    ASSERT_TRUE(sim.setFault(QStringLiteral("*"), QStringLiteral("silent")));
    ASSERT_TRUE(sim.clearRequests());
    QList<TChannelRef> channels;
    for (const TChannelItem& item : session.model().channelBox())
        channels << item.Channel;
    EPGThread epg(EPGPacing{10, 5, 20, 50, 20});
    ASSERT_TRUE(epg.start(channels, 0, false, false));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QString& t : sim.requestTargets())
                if (t.contains(QLatin1String("epg?xml")))
                    return true;
            return false;
        },
        5000));
    lifeView.onStopEPG = [&] { epg.StopEPGThread(false); };
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(lifecycle.FormClose());
    EXPECT_FALSE(epg.isRunning());
    const qint64 elapsed = timer.elapsed();
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(sim.requestTargets().contains(QStringLiteral("/control/rc?unlock")));
    std::printf("close against a silent receiver with the EPG thread fetching: %lld ms\n",
                static_cast<long long>(elapsed));
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
