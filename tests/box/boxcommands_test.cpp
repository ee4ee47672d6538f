#include "box/boxcommands.h"

#include "box/httpengine.h"
#include "box/webserver.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/rawhttpserver.h"
#include "support/statustrail.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct UrlCase {
    const char* templ;
    const char* placeholder;
    const char* value;
    const char* expected;
};

class BoxUrlTest : public ::testing::TestWithParam<UrlCase> {
protected:
    void SetUp() override {
        Options.BoxAddress = QStringLiteral("box.lan:8080");
        Options.IpLan = QStringLiteral("10.0.0.9");
        Options.VlcAddress = QStringLiteral("inet.example:8081");
    }
    ScopedAppState m_state;
};

} // namespace

// Templates with "PORT" take the box address; the rest the bare LAN address; values go in as given.
TEST_P(BoxUrlTest, Substitutes) {
    const UrlCase& c = GetParam();
    EXPECT_EQ(BoxURL(QString::fromUtf8(c.templ), QString::fromUtf8(c.placeholder), QString::fromUtf8(c.value)),
              QString::fromUtf8(c.expected));
}
INSTANTIATE_TEST_SUITE_P(
    Templates, BoxUrlTest,
    ::testing::Values(UrlCase{"http://<IP:PORT>/control/zapto", "", "", "http://box.lan:8080/control/zapto"},
                      UrlCase{"http://<IP:31339/0,", "", "", "http://10.0.0.9:31339/0,"},
                      UrlCase{"http://<IP:31338/", "", "", "http://10.0.0.9:31338/"},
                      UrlCase{"http://<IP:PORT>/control/zapto?<idchannel>", "<idchannel>", "43d00011302",
                              "http://box.lan:8080/control/zapto?43d00011302"},
                      UrlCase{"http://<IP:PORT>/control/getbouquet?bouquet=<bouquetnr>&mode=TV", "<bouquetnr>", "12",
                              "http://box.lan:8080/control/getbouquet?bouquet=12&mode=TV"},
                      UrlCase{"http://<IP:PORT>/control/message?nmsg=<msg>", "<msg>", "Quoxel is active!",
                              "http://box.lan:8080/control/message?nmsg=Quoxel is active!"}));

// The remote VLC always takes its own address, even for templates without "PORT".
TEST_F(BoxUrlTest, VlcUrl) {
    EXPECT_EQ(VlcURL(QStringLiteral("http://<IP:PORT>/?control=stop")),
              QStringLiteral("http://inet.example:8081/?control=stop"));
    EXPECT_EQ(VlcURL(QStringLiteral(":udp-caching=<cache>"), QStringLiteral("<cache>"), QStringLiteral("3000")),
              QStringLiteral(":udp-caching=3000"));
    EXPECT_EQ(VlcURL(QStringLiteral("http://<IP:31339/")), QStringLiteral("http://<IP:31339/"));
}

// Only outer blanks, tabs and line breaks go; inner line breaks stay.
TEST(BoxAnswer, Trimming) {
    EXPECT_EQ(trimAnswer(QStringLiteral("\r\n\t ok \r\n")), QStringLiteral("ok"));
    EXPECT_EQ(trimAnswer(QStringLiteral(" a\r\nb\n")), QStringLiteral("a\r\nb"));
    EXPECT_EQ(trimAnswer(QStringLiteral(" \t\r\n")), QString());
    EXPECT_EQ(trimAnswer(QString()), QString());
}

namespace {

// Runs against a simulated receiver on its own loopback address.
class BoxClientTest : public ::testing::Test {
protected:
    static constexpr const char* kAddress = "127.0.44.1";

    void SetUp() override {
        Options.NoLogging = true;
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        Options.IpLan = QString::fromLatin1(kAddress);
        ASSERT_TRUE(m_sim.start()) << m_sim.stderrText().toStdString();
        m_http.Timeout = BoxClient::kTimeoutSec;
        MainRequestBusy = false;
        EPGRequestBusy = false;
        EPGAbort = false;
    }
    void TearDown() override {
        EPGRequestBusy = false;
        EPGAbort = false;
    }

    ScopedAppState m_state;
    BoxSimProcess m_sim{QString::fromLatin1(kAddress)};
    TIEHTTP m_http;
    BoxClient m_box{m_http};
    StatusTrail m_status;
};

} // namespace

// An SPTS toggle the receiver answers with anything but "ok" leaves the item and names the failure.
TEST_F(BoxClientTest, SptsToggleFailureKeepsTheItem) {
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/control/system"), QStringLiteral("garbage-body")));
    ToggleOutcome failed = toggleSpts(m_box, false);
    EXPECT_FALSE(failed.checked);
    EXPECT_EQ(failed.failure, QStringLiteral("Quoxel SPTS-Mode ON failed!"));
    failed = toggleSpts(m_box, true);
    EXPECT_TRUE(failed.checked);
    EXPECT_EQ(failed.failure, QStringLiteral("Quoxel SPTS-Mode OFF failed!"));
}

// A silent receiver gives an empty answer and the time-out status text.
TEST_F(BoxClientTest, TimeoutGivesEmptyAnswerAndStatus) {
    m_http.Timeout = 1;
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/control/getmode"), QStringLiteral("silent")));
    const QString url = BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"));
    EXPECT_EQ(m_box.BoxRequest(url), QString());
    ASSERT_FALSE(m_status.texts.isEmpty());
    EXPECT_EQ(m_status.texts.last(), QStringLiteral("ERROR, http timeout (") + url + QStringLiteral(")!"));
}

// An answer that merely says "timeout" counts as one.
TEST_F(BoxClientTest, TimeoutWordCounts) {
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/control/getmode"), QStringLiteral("timeout-text")));
    EXPECT_EQ(m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))), QString());
    EXPECT_EQ(m_status.texts.size(), 1);
}

// A refused connection gives an empty answer at once, without the time-out text.
TEST_F(BoxClientTest, RefusedConnection) {
    Options.BoxAddress = QStringLiteral("127.0.44.2:80");
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))), QString());
    EXPECT_TRUE(m_status.texts.isEmpty());
    EXPECT_LT(t.elapsed(), 10000); // hang guard only
}

// The quick request keeps the time-out text as its answer and restores the 20 s time-out.
TEST_F(BoxClientTest, QuickRequestKeepsTimeoutText) {
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/control/getmode"), QStringLiteral("silent")));
    EXPECT_EQ(m_box.QuickRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))),
              QStringLiteral("[error 100: tiehttp timeout expired]"));
    EXPECT_EQ(m_http.Timeout, BoxClient::kTimeoutSec);
    EXPECT_TRUE(m_status.texts.isEmpty());
}

// A main request waits for the EPG thread's request to end, and no longer once the EPG thread is stopped.
TEST_F(BoxClientTest, WaitsForEpgRequest) {
    using Clock = std::chrono::steady_clock;
    EPGRequestBusy = true;
    Clock::time_point cleared;
    std::thread epg([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cleared = Clock::now();
        EPGRequestBusy = false;
    });
    const QString answer = m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode")));
    const Clock::time_point done = Clock::now();
    epg.join();
    EXPECT_EQ(answer, QStringLiteral("tv"));
    EXPECT_GE(done, cleared);

    EPGRequestBusy = true;
    EPGAbort = true;
    EXPECT_EQ(m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))), QStringLiteral("tv"));
}

// The EPG thread's request waits while a main request is under way.
TEST_F(BoxClientTest, MainRequestHoldsTheEpgRequest) {
    RawHttpServer remote(kAddress);
    ASSERT_TRUE(remote.listening());
    RawHttpServer::Script late = RawHttpServer::answer("ok");
    late.mode = RawHttpServer::Mode::AnswerLate;
    late.delayMs = 1000;
    remote.setScript(late);
    std::atomic<bool> heldBack{false};
    std::thread epg([&] { heldBack = remote.waitForRequests(1, 10000) && MainRequestBusy.load(); });
    EXPECT_EQ(m_box.BoxRequest(remote.url(QStringLiteral("/control/getmode"))), QStringLiteral("ok"));
    epg.join();
    EXPECT_TRUE(heldBack);
    EXPECT_FALSE(MainRequestBusy);
}

// Headers given to one request (the remote VLC's password) go with it alone: a command that runs
// while it waits for the EPG thread does not carry them, nor does the next one.
TEST_F(BoxClientTest, HeadersGoWithTheirRequestOnly) {
    RawHttpServer remote(kAddress);
    ASSERT_TRUE(remote.listening());
    remote.setScript(RawHttpServer::answer("ok"));
    EPGRequestBusy = true;
    QTimer::singleShot(100, [&] {
        EPGRequestBusy = false;
        m_box.BoxRequest(remote.url(QStringLiteral("/meanwhile")));
    });
    EXPECT_EQ(m_box.BoxRequest(remote.url(QStringLiteral("/vlc")), {QStringLiteral("Authorization: Basic OnB3")}),
              QStringLiteral("ok"));
    m_box.BoxRequest(remote.url(QStringLiteral("/next")));
    const QList<QByteArray> r = remote.requests();
    ASSERT_EQ(r.size(), 3);
    EXPECT_TRUE(r[0].startsWith("GET /meanwhile ") && !r[0].contains("OnB3")) << r[0].constData();
    EXPECT_TRUE(r[1].startsWith("GET /vlc ") && r[1].contains("\r\nAuthorization: Basic OnB3\r\n"));
    EXPECT_TRUE(r[2].startsWith("GET /next ") && !r[2].contains("OnB3"));
}

// Each request is logged with its URL and the client's status text.
TEST_F(BoxClientTest, RequestsAreLogged) {
    Options.NoLogging = false;
    const QString url = BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"));
    m_box.BoxRequest(url);
    QFile f(appLogger().filePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray last = f.readAll().trimmed().split('\n').last();
    EXPECT_TRUE(last.contains(", HTTP  , " + url.toUtf8() + ", HTTP/1.")) << last.constData();
    EXPECT_TRUE(last.endsWith(" 200 OK")) << last.constData();
    Options.NoLogging = true;
}

// The page parser takes each value between its quotes and refuses pages with a field missing or cut.
TEST(WebServerPage, Parse) {
    QString page;
    int n = 10;
    for (const char* name : WebServerSettings::fieldNames()) {
        const QString v = QByteArray(name) == "port" ? QStringLiteral("8080") : QStringLiteral("v_") + name;
        page += QStringLiteral("<input name=\"%1\" value=\"%2\" id=f%3 title=\"x\"/>\n").arg(name, v).arg(n++);
    }
    const auto parsed = parseWebServerPage(page);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->value("port"), QStringLiteral("8080"));
    EXPECT_EQ(parsed->value("no_keep_alive_ips"), QStringLiteral("v_no_keep_alive_ips"));
    EXPECT_FALSE(parseWebServerPage(page.left(page.size() / 2)).has_value());
    EXPECT_FALSE(parseWebServerPage(QString(page).replace(QStringLiteral("title="), QStringLiteral("x="))));
    EXPECT_FALSE(parseWebServerPage(QString(page).replace(QStringLiteral("8080"), QStringLiteral("99999"))));
    // A port padded with blanks of any kind comes back as the bare number.
    for (const QString& pad : {QStringLiteral(" "), QStringLiteral("\u00a0"), QStringLiteral("\u3000")}) {
        const auto padded =
            parseWebServerPage(QString(page).replace(QStringLiteral("8080"), pad + QStringLiteral("08080") + pad));
        ASSERT_TRUE(padded.has_value());
        EXPECT_EQ(padded->value("port"), QStringLiteral("8080"));
    }
    EXPECT_FALSE(parseWebServerPage(QStringLiteral("name=\"authuser\" title= value=")).has_value());
    EXPECT_FALSE(parseWebServerPage(QString()).has_value());
}
