// HTTPS trust on first use against a real TLS server on loopback (openssl s_server).
#include "box/httpengine.h"

#include "box/boxcommands.h"
#include "box/connectionsteps.h"
#include "core/appflags.h"
#include "core/certpins.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "core/settingsstore.h"
#include "support/appstate.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool canConnect(const char* host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &a.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

bool makeCert(const TestDir& dir, const QString& name) {
    QProcess p;
    p.start(QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
             QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
             QStringLiteral("-keyout"), dir.path(name + QStringLiteral(".key")), QStringLiteral("-out"),
             dir.path(name + QStringLiteral(".pem")), QStringLiteral("-days"), QStringLiteral("2"),
             QStringLiteral("-subj"), QStringLiteral("/CN=dbox")});
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

// The pin as openssl computes it from a certificate's public key; empty on failure.
QByteArray opensslPin(const QString& pem) {
    QProcess sh;
    sh.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("openssl x509 -in '%1' -pubkey -noout | "
                                                                         "openssl pkey -pubin -outform der | openssl "
                                                                         "dgst -sha256 -binary | base64")
                                                              .arg(pem)});
    if (!sh.waitForFinished(30000) || sh.exitCode() != 0)
        return {};
    const QByteArray b64 = sh.readAllStandardOutput().trimmed();
    return b64.isEmpty() ? QByteArray() : "sha256//" + b64;
}

// A TLS server serving the files of dir by path (the query is part of the name), for as long as
// the object lives.
class TlsServer {
public:
    TlsServer(const TestDir& dir, const QString& name, const char* host, int port) {
        m_proc.setWorkingDirectory(dir.path());
        m_proc.start(QStringLiteral("openssl"),
                     {QStringLiteral("s_server"), QStringLiteral("-accept"),
                      QStringLiteral("%1:%2").arg(QLatin1String(host)).arg(port), QStringLiteral("-cert"),
                      dir.path(name + QStringLiteral(".pem")), QStringLiteral("-key"),
                      dir.path(name + QStringLiteral(".key")), QStringLiteral("-WWW"), QStringLiteral("-quiet")});
        for (int i = 0; i < 100 && !m_ready; ++i) {
            m_ready = canConnect(host, port);
            if (!m_ready)
                QThread::msleep(50);
        }
    }
    ~TlsServer() {
        m_proc.kill();
        m_proc.waitForFinished(5000);
    }
    bool ready() const { return m_ready; }

private:
    QProcess m_proc;
    bool m_ready = false;
};

} // namespace

// Broken or cut certificates give no pin.
TEST(PublicKeyPin, BrokenCertificates) {
    const QByteArray cases[] = {QByteArray(), QByteArray("\x30"), QByteArray("\x30\x05\x30\x03\x02\x01", 6),
                                QByteArray("\x30\x84\xff\xff\xff\xff", 6), QByteArray(4096, '\x30')};
    for (const QByteArray& c : cases)
        EXPECT_TRUE(publicKeyPin(c).isEmpty()) << c.toHex().left(40).constData();
}

namespace {

constexpr char kPassword[] = "Pw7!sessionSecret";

unsigned modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 07777;
    return st.st_mode & 0777;
}

class StatusLines final : public StatusSink {
public:
    void showStatus(const QString& message, const QString&, const QString&) override { lines << message.trimmed(); }
    QStringList lines;
};

// The receiver on port 443 of its own address, reached through the program's session with the key
// store over the settings file, as the program runs it.
class SessionTrust : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(makeCert(m_dir, QStringLiteral("first")));
        ASSERT_TRUE(makeCert(m_dir, QStringLiteral("second")));
        // The receiver's answers, as files of the TLS server.
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("control")));
        ASSERT_TRUE(m_dir.write(QStringLiteral("control/gettime?rawtime"), "1700000000\n"));
        ASSERT_TRUE(m_dir.write(QStringLiteral("control/standby"), "off\n"));
        Options.IpLan = QString::fromLatin1(kBoxHost);
        Options.BoxAddress = QString::fromLatin1(kBoxHost) + QStringLiteral(":443");
        EPGAbort = false;
        setStatusSink(&m_status);
    }
    void TearDown() override { setStatusSink(nullptr); }

    QString iniPath() const { return m_dir.path(QStringLiteral("Quoxel.ini")); }
    QByteArray iniBytes() const { return m_dir.read(QStringLiteral("Quoxel.ini")); }
    QByteArray storedPins() const {
        TIniFile ini(iniPath());
        return ini.ReadString(QStringLiteral("Box"), QStringLiteral("certfingerprint"), QString()).toLatin1();
    }

    struct Run {
        QString first;  // the receiver's time request of the connection
        QString second; // a later request of the same run
        QString errorText;
    };
    // One start of the program: the settings file read, a session with its key store over it,
    // the clients made as the connection makes them, two requests.
    Run start(bool withKeyStore) {
        Run run;
        SettingsStore store(iniPath());
        TOptions loaded;
        store.LoadSettings(loaded);
        BoxSession session;
        if (withKeyStore)
            session.setKeyStore(std::make_unique<CertPins>(store.ini()));
        session.createClients(QStringLiteral("root"), QString::fromLatin1(kPassword));
        session.setMainTimeout(10);
        run.first = session.requestBoxTime();
        run.errorText = session.mainHttp()->ErrorText;
        run.second = session.requestStandbyState();
        session.releaseClients();
        // The options dialog saved at the end of the run keeps what was learned.
        EXPECT_TRUE(store.SaveSettings());
        return run;
    }

    const char* kBoxHost = "127.0.63.1";
    TestDir m_dir;
    StatusLines m_status;
    ScopedAppState m_state;
};

class SessionTrustNoStore : public SessionTrust {
protected:
    void SetUp() override {
        kBoxHost = "127.0.63.2";
        SessionTrust::SetUp();
    }
};

} // namespace

// First start learns the receiver's key into the settings file; a restart with the same
// certificate connects; a changed certificate is refused with a clear status, and the stored key
// and the file's private mode stay as they were.
TEST_F(SessionTrust, PinnedAcrossRestartsChangeRefused) {
    const QByteArray hostPort = QByteArray(kBoxHost) + ":443";
    const QByteArray firstPin = opensslPin(m_dir.path(QStringLiteral("first.pem")));
    ASSERT_FALSE(firstPin.isEmpty());
    QByteArray afterFirst;
    {
        TlsServer server(m_dir, QStringLiteral("first"), kBoxHost, 443);
        ASSERT_TRUE(server.ready());
        const Run run = start(true);
        EXPECT_EQ(run.first, QStringLiteral("1700000000")) << run.errorText.toStdString();
        EXPECT_EQ(run.second, QStringLiteral("off"));
        EXPECT_EQ(storedPins(), hostPort + '=' + firstPin);
        EXPECT_EQ(modeOf(iniPath()), 0600u);
        afterFirst = iniBytes();

        const Run again = start(true);
        EXPECT_EQ(again.first, QStringLiteral("1700000000")) << again.errorText.toStdString();
        EXPECT_EQ(again.second, QStringLiteral("off"));
        EXPECT_EQ(iniBytes(), afterFirst);
    }
    TlsServer server(m_dir, QStringLiteral("second"), kBoxHost, 443);
    ASSERT_TRUE(server.ready());
    m_status.lines.clear();
    const Run changed = start(true);
    EXPECT_TRUE(changed.first.isEmpty());
    EXPECT_TRUE(changed.second.isEmpty());
    EXPECT_EQ(changed.errorText, QString::fromLatin1(kChangedCertificateText));
    EXPECT_TRUE(m_status.lines.contains(QString::fromLatin1(kChangedCertificateText)))
        << m_status.lines.join('|').toStdString();
    EXPECT_EQ(storedPins(), hostPort + '=' + firstPin);
    EXPECT_EQ(iniBytes(), afterFirst);
    EXPECT_EQ(modeOf(iniPath()), 0600u);

    // The log names the request and the refusal; the password is nowhere in what the user sees.
    QFile log(appLogger().filePath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logText = log.readAll();
    bool refusalLogged = false;
    for (const QByteArray& line : logText.split('\n'))
        refusalLogged =
            refusalLogged || (line.contains(hostPort + "/control/gettime") && line.contains(kChangedCertificateText));
    EXPECT_TRUE(refusalLogged);
    EXPECT_FALSE(logText.contains(kPassword));
    EXPECT_FALSE(m_status.lines.join('\n').contains(QLatin1String(kPassword)));
}

// Without a key store the self-signed receiver on port 443 is refused by the chain check, and
// nothing is learned.
TEST_F(SessionTrustNoStore, SelfSignedRefused) {
    TlsServer server(m_dir, QStringLiteral("first"), kBoxHost, 443);
    ASSERT_TRUE(server.ready());
    const Run run = start(false);
    EXPECT_TRUE(run.first.isEmpty());
    EXPECT_FALSE(run.errorText.isEmpty());
    EXPECT_NE(run.errorText, QString::fromLatin1(kChangedCertificateText));
    EXPECT_TRUE(run.errorText.contains(QLatin1String("certificate"))) << run.errorText.toStdString(); // TLS, not plain
    EXPECT_TRUE(storedPins().isEmpty());
    EXPECT_EQ(modeOf(iniPath()), 0600u);
}
