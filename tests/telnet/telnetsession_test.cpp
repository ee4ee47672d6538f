#include "telnet/telnetsession.h"

#include "core/log.h"
#include "core/options.h"
#include "support/boxsimprocess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

const QString kTelnet = QStringLiteral("telnet");
constexpr char IAC = char(255);
constexpr char DO = char(253);
constexpr char WILL = char(251);
constexpr char SB = char(250);
constexpr char SE = char(240);

// A tiny telnet peer of our own in this thread: records what it gets, sends what a test tells it.
class RawPeer {
public:
    explicit RawPeer(const QString& address, quint16 port = 2323) {
        m_listening = m_server.listen(QHostAddress(address), port);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                m_socket = s;
                ++m_accepted;
                if (!m_reading)
                    s->setReadBufferSize(1024); // Qt then leaves the rest in the kernel, which fills up
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (m_reading)
                        m_received += s->readAll();
                });
                if (onConnect)
                    onConnect(s);
            }
        });
    }
    bool listening() const { return m_listening; }
    QByteArray& received() { return m_received; }
    QTcpSocket* socket() const { return m_socket; }
    int accepted() const { return m_accepted; }
    void setReading(bool on) { m_reading = on; }

    std::function<void(QTcpSocket*)> onConnect;

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_received;
    int m_accepted = 0;
    bool m_listening = false;
    bool m_reading = true;
};

QByteArray logText() {
    QFile f(appLogger().filePath());
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

class TelnetSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_options.TelnetUser = QStringLiteral("root");
        m_options.TelnetNhttpd = QStringLiteral("nhttpd");
        m_options.TelnetPort = QStringLiteral("23");
    }

    void startSim(BoxSimProcess& sim) { ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString(); }

    std::unique_ptr<TelnetSession> sessionFor(const QString& address, quint16 port = 23) {
        auto s = std::make_unique<TelnetSession>(m_options);
        s->setHost(address);
        s->setPort(port);
        return s;
    }

    TOptions m_options;
};

} // namespace

// Login with an empty user sends nothing but opens the connection.
TEST_F(TelnetSessionTest, LoginWithEmptyUserOnlyConnects) {
    BoxSimProcess sim(QStringLiteral("127.0.45.3"));
    startSim(sim);
    auto s = sessionFor(sim.address());
    QByteArray seen;
    QObject::connect(s.get(), &TelnetSession::received, [&](const QByteArray& d) { seen += d; });
    s->TelnetLogin(QString(), QString());
    EXPECT_TRUE(m_options.TelnetLoggedIn);
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.contains("dbox login: "); }, 5000));
    EXPECT_TRUE(sim.requests(kTelnet).isEmpty());
    // The negotiation bytes are not part of the data.
    EXPECT_FALSE(seen.contains(IAC));
}

// No listener: the login gives up after its wait and leaves the flag cleared.
TEST_F(TelnetSessionTest, LoginWithoutListenerClearsFlag) {
    m_options.TelnetLoggedIn = true;
    auto s = sessionFor(QStringLiteral("127.0.45.4"), 2324);
    QSignalSpy logged(s.get(), &TelnetSession::loggedInChanged);
    s->TelnetLogin(QStringLiteral("root"), QStringLiteral("pw"));
    EXPECT_FALSE(s->isConnected());
    EXPECT_FALSE(m_options.TelnetLoggedIn);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_FALSE(logged.at(0).at(0).toBool());
}

// Without host or port there is no connection attempt; the flag ends cleared.
TEST_F(TelnetSessionTest, LoginWithoutTargetDoesNotConnect) {
    RawPeer peer(QStringLiteral("127.0.45.5"));
    ASSERT_TRUE(peer.listening());
    auto s = sessionFor(QStringLiteral("127.0.45.5"), 0);
    s->TelnetLogin(QStringLiteral("root"), QString());
    EXPECT_FALSE(m_options.TelnetLoggedIn);
    s->setHost(QString());
    s->setPort(2323);
    s->TelnetLogin(QStringLiteral("root"), QString());
    EXPECT_FALSE(m_options.TelnetLoggedIn);
    EXPECT_EQ(peer.accepted(), 0);
}

// The port setting is a number in range or none.
TEST_F(TelnetSessionTest, PortFromText) {
    TelnetSession s(m_options);
    s.setPort(QStringLiteral("abc"));
    EXPECT_EQ(s.port(), 0);
    s.setPort(QStringLiteral("70000"));
    EXPECT_EQ(s.port(), 0);
    s.setPort(QStringLiteral(" 23 "));
    EXPECT_EQ(s.port(), 23);
}

// "Restart Nhttpd" with an empty setting stores and types "nhttpd"; the web server is back afterwards.
TEST_F(TelnetSessionTest, RestartNhttpdWithEmptySetting) {
    BoxSimProcess sim(QStringLiteral("127.0.45.6"));
    startSim(sim);
    auto s = sessionFor(sim.address());
    s->TelnetLogin(QStringLiteral("root"), QString());
    ASSERT_TRUE(m_options.TelnetLoggedIn);
    m_options.TelnetNhttpd.clear();
    EXPECT_EQ(s->restartNhttpd(), TelnetTexts::kNhttpdRestarted);
    EXPECT_EQ(m_options.TelnetNhttpd, "nhttpd");
    EXPECT_EQ(sim.requests(kTelnet), (QStringList{"root", "killall nhttpd", "nhttpd"}));
    EXPECT_TRUE(BoxSimProcess::httpGet(sim.address(), sim.httpPort(), "/control/getmode").ok);
}

// A line holding a line break is not typed, so a setting cannot smuggle in a second command.
TEST_F(TelnetSessionTest, LinesWithControlCharactersAreNotTyped) {
    BoxSimProcess sim(QStringLiteral("127.0.45.12"));
    startSim(sim);
    auto s = sessionFor(sim.address());
    s->TelnetLogin(QStringLiteral("root"), QString());
    m_options.TelnetNhttpd = QStringLiteral("nhttpd\rreboot");
    EXPECT_EQ(s->restartNhttpd(), TelnetTexts::kNhttpdRestarted);
    s->TelnetSend(QStringLiteral("echo a\nreboot"), false);
    s->TelnetSend(QStringLiteral("nhttpd"), true); // brings back the web server, which answers the requests log
    EXPECT_EQ(sim.requests(kTelnet), (QStringList{"root", "killall nhttpd", "nhttpd"}));
    EXPECT_EQ(sim.state().value("reboots"), "0");
}

// A command asked for while another one waits is refused rather than interleaved.
TEST_F(TelnetSessionTest, CommandDuringWaitIsRefused) {
    BoxSimProcess sim(QStringLiteral("127.0.45.14"));
    startSim(sim);
    auto s = sessionFor(sim.address());
    s->TelnetLogin(QStringLiteral("root"), QString());
    bool ran = false;
    QString inner = QStringLiteral("not run");
    QTimer::singleShot(400, s.get(), [&] {
        ran = true;
        EXPECT_TRUE(s->isWaiting());
        inner = s->TelnetSend(QStringLiteral("echo inner"), true);
        EXPECT_FALSE(s->requestScreenshot());
    });
    s->TelnetSend(QStringLiteral("echo outer"), true);
    EXPECT_TRUE(ran);
    EXPECT_EQ(inner, QString());
    EXPECT_FALSE(s->isWaiting());
    EXPECT_EQ(sim.requests(kTelnet), (QStringList{"root", "echo outer"}));
}

// The session may be destroyed while one of its commands waits.
TEST_F(TelnetSessionTest, DestroyedDuringWait) {
    BoxSimProcess sim(QStringLiteral("127.0.45.15"));
    startSim(sim);
    TelnetSession* s = new TelnetSession(m_options);
    s->setHost(sim.address());
    s->setPort(23);
    QPointer<TelnetSession> watch(s);
    QTimer::singleShot(500, [&] { delete s; });
    s->TelnetLogin(QStringLiteral("root"), QString());
    EXPECT_TRUE(watch.isNull());
}

// The client answers the negotiation: DO ECHO and SGA, its terminal type and its window size.
TEST_F(TelnetSessionTest, NegotiatesTerminalTypeAndSize) {
    RawPeer peer(QStringLiteral("127.0.45.16"));
    ASSERT_TRUE(peer.listening());
    peer.onConnect = [](QTcpSocket* sock) {
        sock->write(QByteArray() + IAC + WILL + char(1) + IAC + WILL + char(3) + IAC + DO + char(24) + IAC + SB +
                    char(24) + char(1) + IAC + SE + IAC + DO + char(31) + "dbox login: ");
    };
    auto s = sessionFor(QStringLiteral("127.0.45.16"), 2323);
    s->setWindowSize(100, 7);
    s->TelnetLogin(QStringLiteral("root"), QString());
    ASSERT_TRUE(m_options.TelnetLoggedIn);
    const QByteArray got = peer.received();
    EXPECT_TRUE(got.contains(QByteArray() + IAC + DO + char(1)));
    EXPECT_TRUE(got.contains(QByteArray() + IAC + DO + char(3)));
    EXPECT_TRUE(got.contains(QByteArray() + IAC + WILL + char(24)));
    EXPECT_TRUE(got.contains(QByteArray() + IAC + SB + char(24) + char(0) + "VT100" + IAC + SE));
    EXPECT_TRUE(got.contains(QByteArray() + IAC + SB + char(31) + char(0) + char(100) + char(0) + char(7) + IAC + SE));
    EXPECT_TRUE(got.endsWith(QByteArray("root\r\0", 6)));
    // A data byte 255 is doubled on the wire.
    peer.received().clear();
    s->sendRaw(QByteArray(1, IAC));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !peer.received().isEmpty(); }, 3000));
    EXPECT_EQ(peer.received(), QByteArray() + IAC + IAC);
}

// A silent peer that never prompts: the login still ends after its fixed waits and types user and password.
TEST_F(TelnetSessionTest, SilentPeer) {
    RawPeer peer(QStringLiteral("127.0.45.17"));
    ASSERT_TRUE(peer.listening());
    auto s = sessionFor(QStringLiteral("127.0.45.17"), 2323);
    s->TelnetLogin(QStringLiteral("root"), QStringLiteral("pw123"));
    EXPECT_TRUE(m_options.TelnetLoggedIn); // the flag follows the connection, not the shell's answer
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.received().endsWith(QByteArray("pw123\r\0", 7)); }, 3000));
    EXPECT_EQ(peer.received(), QByteArray("root\r\0pw123\r\0", 13));
    EXPECT_EQ(s->TelnetSend(QStringLiteral("ls"), true), QString());
}

// A peer that closes at once: no connection is left open, the flag is cleared.
TEST_F(TelnetSessionTest, PeerClosesAtOnce) {
    RawPeer peer(QStringLiteral("127.0.45.18"));
    ASSERT_TRUE(peer.listening());
    peer.onConnect = [](QTcpSocket* sock) {
        sock->write("bye\r\n");
        sock->disconnectFromHost();
    };
    auto s = sessionFor(QStringLiteral("127.0.45.18"), 2323);
    s->TelnetLogin(QStringLiteral("root"), QString());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s->isConnected(); }, 3000));
    EXPECT_FALSE(m_options.TelnetLoggedIn);
    EXPECT_EQ(s->TelnetSend(QStringLiteral("ls"), false), QString());
}

// Endless data and one huge line: the capture stays within its cap and holds the newest bytes.
TEST_F(TelnetSessionTest, EndlessDataIsCapped) {
    RawPeer peer(QStringLiteral("127.0.45.19"));
    ASSERT_TRUE(peer.listening());
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        QTcpSocket* sock = peer.socket();
        if (sock && sock->bytesToWrite() < 4 * 1024 * 1024) {
            sock->write(QByteArray(256 * 1024, 'x'));
        }
    });
    flood.start(5);
    auto s = sessionFor(QStringLiteral("127.0.45.19"), 2323);
    qint64 seen = 0;
    QObject::connect(s.get(), &TelnetSession::received, [&](const QByteArray& d) { seen += d.size(); });
    s->TelnetLogin(QStringLiteral("root"), QString());
    ASSERT_TRUE(m_options.TelnetLoggedIn);
    seen = 0; // the login emptied the capture; count what arrives after it
    (void)QTest::qWaitFor([&] { return seen > 3 * TelnetSession::kMaxCapture; }, 20000);
    ASSERT_GT(seen, 3 * TelnetSession::kMaxCapture) << "the flood did not arrive";
    const QString captured = s->TelnetSend(QStringLiteral("ls"), false);
    EXPECT_LE(captured.size(), TelnetSession::kMaxCapture);
    EXPECT_GT(captured.size(), TelnetSession::kMaxCapture / 2);
    EXPECT_TRUE(captured.endsWith('x'));
    flood.stop();
    EXPECT_TRUE(s->isConnected());
}

// Broken and endless IAC sequences: the session survives, and data after a broken sub-negotiation arrives.
TEST_F(TelnetSessionTest, BrokenIacSequences) {
    RawPeer peer(QStringLiteral("127.0.45.20"));
    ASSERT_TRUE(peer.listening());
    peer.onConnect = [](QTcpSocket* sock) {
        QByteArray junk;
        // An option storm: every option asked for and withdrawn, many times.
        for (int round = 0; round < 200; ++round)
            for (int opt = 0; opt < 256; ++opt)
                junk += QByteArray() + IAC + char(round % 2 ? 254 : 253) + char(opt) + IAC +
                        char(round % 2 ? 252 : 251) + char(opt);
        // A sub-negotiation that never ends within the buffer, then plain text.
        junk += QByteArray() + IAC + SB + char(24) + QByteArray(200 * 1024, 'z');
        junk += QByteArray() + IAC + SE + "AFTER-SB";
        // Random bytes with many IACs, and a lone IAC at the very end.
        QRandomGenerator rng(99);
        for (int i = 0; i < 300000; ++i)
            junk += rng.bounded(4) == 0 ? IAC : char(rng.bounded(256));
        junk += "\r\nTAIL-TEXT" + QByteArray(1, IAC);
        sock->write(junk);
    };
    auto s = sessionFor(QStringLiteral("127.0.45.20"), 2323);
    QByteArray seen;
    QObject::connect(s.get(), &TelnetSession::received, [&](const QByteArray& d) {
        if (seen.size() < 8 * 1024 * 1024)
            seen += d;
    });
    s->TelnetLogin(QStringLiteral("root"), QString());
    (void)QTest::qWaitFor([&] { return seen.contains("TAIL-TEXT"); }, 10000);
    EXPECT_TRUE(seen.contains("AFTER-SB"));
    EXPECT_TRUE(seen.contains("TAIL-TEXT"));
    EXPECT_TRUE(s->isConnected());
    // Still usable: a typed line reaches the peer.
    peer.received().clear();
    s->TelnetSend(QStringLiteral("echo ok"), false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.received().contains("echo ok\r"); }, 3000));
}

// A peer that sends an option storm but never reads our answers is cut off once too much is owed.
TEST_F(TelnetSessionTest, PeerThatNeverReadsIsCutOff) {
    RawPeer peer(QStringLiteral("127.0.45.21"));
    ASSERT_TRUE(peer.listening());
    peer.setReading(false);
    QTimer storm;
    QObject::connect(&storm, &QTimer::timeout, [&] {
        QTcpSocket* sock = peer.socket();
        if (!sock || sock->bytesToWrite() > 1024 * 1024)
            return;
        // Each DO/DONT pair of an option we refuse makes us answer anew.
        QByteArray b;
        for (int i = 0; i < 4096; ++i)
            b += QByteArray() + IAC + WILL + char(1) + IAC + char(252) + char(1);
        sock->write(b);
    });
    storm.start(2);
    auto s = sessionFor(QStringLiteral("127.0.45.21"), 2323);
    s->TelnetLogin(QString(), QString());
    ASSERT_TRUE(m_options.TelnetLoggedIn);
    // The peer's socket stops reading from the kernel; the session must give up within its unsent cap.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s->isConnected(); }, 60000));
    // The connection is closed from the event loop, which also clears the flag.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_options.TelnetLoggedIn; }, 5000));
    storm.stop();
    EXPECT_TRUE(logText().contains("Telnet: peer does not read, connection closed"));
}

// A login while connected drops the old connection and logs in on a new one.
TEST_F(TelnetSessionTest, LoginWhileConnectedReconnects) {
    BoxSimProcess sim(QStringLiteral("127.0.45.22"));
    startSim(sim);
    auto s = sessionFor(sim.address());
    QSignalSpy changes(s.get(), &TelnetSession::connectionChanged);
    s->TelnetLogin(QStringLiteral("root"), QString());
    s->TelnetLogin(QStringLiteral("root"), QString());
    EXPECT_TRUE(s->isConnected());
    EXPECT_TRUE(m_options.TelnetLoggedIn);
    // Connected, dropped, connected again.
    ASSERT_EQ(changes.size(), 3);
    EXPECT_FALSE(changes.at(1).at(0).toBool());
    EXPECT_EQ(sim.requests(kTelnet), (QStringList{"root", "root"}));
    EXPECT_TRUE(s->TelnetSend(QStringLiteral("pwd"), true).contains("/root"));
}
