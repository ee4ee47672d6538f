// HTTPS trust on first use against a real TLS server on loopback (openssl s_server).
#include "box/httpengine.h"
#include "support/tempdir.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

constexpr char kHost[] = "127.0.59.20";
constexpr int kPort = 44359;

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

// A TLS server answering every request with a status page, for as long as the object lives.
class TlsServer {
public:
    TlsServer(const TestDir& dir, const QString& name) {
        m_proc.start(QStringLiteral("openssl"),
                     {QStringLiteral("s_server"), QStringLiteral("-accept"),
                      QStringLiteral("%1:%2").arg(QLatin1String(kHost)).arg(kPort), QStringLiteral("-cert"),
                      dir.path(name + QStringLiteral(".pem")), QStringLiteral("-key"),
                      dir.path(name + QStringLiteral(".key")), QStringLiteral("-www"), QStringLiteral("-quiet")});
        for (int i = 0; i < 100 && !m_ready; ++i) {
            m_ready = canConnect(kHost, kPort);
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

class HttpsTrust : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(makeCert(m_dir, QStringLiteral("first")));
        ASSERT_TRUE(makeCert(m_dir, QStringLiteral("second")));
    }
    void trust(TIEHTTP& http) {
        http.Timeout = 10;
        http.TrustedKey = [this](const QByteArray& hp) { return m_store.value(hp); };
        http.RememberKey = [this](const QByteArray& hp, const QByteArray& pin) {
            ++m_remembered;
            m_store.insert(hp, pin);
        };
    }
    QString url() const { return QStringLiteral("https://%1:%2/").arg(QLatin1String(kHost)).arg(kPort); }
    TestDir m_dir;
    QMap<QByteArray, QByteArray> m_store;
    int m_remembered = 0;
};

} // namespace

// First contact is accepted and remembered; the same key is accepted again; a new key is refused
// with a clear text, and the stored key is not replaced by it.
TEST_F(HttpsTrust, FirstUseRememberedChangeRefused) {
    const QByteArray hostPort = QByteArray(kHost) + ':' + QByteArray::number(kPort);
    {
        TlsServer server(m_dir, QStringLiteral("first"));
        ASSERT_TRUE(server.ready());
        TIEHTTP http;
        trust(http);
        ASSERT_TRUE(http.ExecuteURL(url())) << http.ErrorText.toStdString();
        EXPECT_EQ(http.StatusCode, 200);
        ASSERT_EQ(m_remembered, 1);
        // The same pin openssl computes from the certificate's public key.
        QProcess sh;
        sh.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"), QStringLiteral("openssl x509 -in '%1' -pubkey -noout | openssl pkey -pubin "
                                                       "-outform der | openssl dgst -sha256 -binary | base64")
                                            .arg(m_dir.path(QStringLiteral("first.pem")))});
        ASSERT_TRUE(sh.waitForFinished(30000));
        EXPECT_EQ(m_store.value(hostPort), "sha256//" + sh.readAllStandardOutput().trimmed());
        ASSERT_TRUE(http.ExecuteURL(url())) << http.ErrorText.toStdString();
        EXPECT_EQ(m_remembered, 1);
    }
    const QByteArray firstPin = m_store.value(hostPort);
    TlsServer server(m_dir, QStringLiteral("second"));
    ASSERT_TRUE(server.ready());
    TIEHTTP http;
    trust(http);
    EXPECT_FALSE(http.ExecuteURL(url()));
    EXPECT_EQ(http.ErrorText, QString::fromLatin1(kChangedCertificateText));
    EXPECT_EQ(http.StatusCode, 0);
    EXPECT_EQ(m_store.value(hostPort), firstPin);
    EXPECT_EQ(m_remembered, 1);
}

// Without a place to remember keys, a self-signed server is refused rather than accepted blindly.
TEST_F(HttpsTrust, NoTrustStoreRefuses) {
    TlsServer server(m_dir, QStringLiteral("first"));
    ASSERT_TRUE(server.ready());
    TIEHTTP http;
    http.Timeout = 10;
    EXPECT_FALSE(http.ExecuteURL(url()));
    EXPECT_FALSE(http.ErrorText.isEmpty());
}

// Broken or cut certificates give no pin.
TEST(PublicKeyPin, BrokenCertificates) {
    const QByteArray cases[] = {QByteArray(), QByteArray("\x30"), QByteArray("\x30\x05\x30\x03\x02\x01", 6),
                                QByteArray("\x30\x84\xff\xff\xff\xff", 6), QByteArray(4096, '\x30')};
    for (const QByteArray& c : cases)
        EXPECT_TRUE(publicKeyPin(c).isEmpty()) << c.toHex().left(40).constData();
}
