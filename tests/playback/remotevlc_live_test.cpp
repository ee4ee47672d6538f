// The remote VLC end to end: the old interface through the simulator's stand-in, which really
// transcodes with libvlc, and the Lua interface of a real cvlc started by the test.
#include "playback/remotevlc.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "core/settingsstore.h"
#include "playback/streamsetup.h"
#include "support/boxsimprocess.h"
#include "support/rawhttpserver.h"
#include "support/tempdir.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Up to wantBytes of an HTTP stream body, read within timeoutMs; empty without a connection.
QByteArray readStream(const QString& address, int port, qsizetype wantBytes, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    QByteArray raw;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        const QByteArray get = "GET / HTTP/1.0\r\nHost: " + address.toLatin1() + "\r\n\r\n";
        if (::send(fd, get.constData(), size_t(get.size()), MSG_NOSIGNAL) == get.size()) {
            QDeadlineTimer deadline(timeoutMs);
            char buf[16384];
            while (!deadline.hasExpired()) {
                const qsizetype end = raw.indexOf("\r\n\r\n");
                if (end >= 0 && raw.size() - end - 4 >= wantBytes)
                    break;
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                raw.append(buf, n);
            }
        }
    }
    ::close(fd);
    const qsizetype end = raw.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : raw.mid(end + 4);
}

// What the transport stream in `ts` carries: aligned packets and the stream types of its PMT.
struct TsFacts {
    int packets = 0;
    bool aligned = false;
    QList<int> streamTypes;
};

TsFacts inspectTs(const QByteArray& ts) {
    TsFacts f;
    qsizetype start = 0;
    while (start < 188 && start < ts.size() &&
           !(uchar(ts[start]) == 0x47 && start + 188 < ts.size() && uchar(ts[start + 188]) == 0x47))
        ++start;
    if (start >= 188 || start >= ts.size())
        return f;
    f.aligned = true;
    int pmtPid = -1;
    for (qsizetype i = start; i + 188 <= ts.size(); i += 188) {
        const auto* p = reinterpret_cast<const uchar*>(ts.constData() + i);
        if (p[0] != 0x47) {
            f.aligned = false;
            break;
        }
        ++f.packets;
        const int pid = ((p[1] & 0x1F) << 8) | p[2];
        const bool unitStart = p[1] & 0x40;
        qsizetype off = 4;
        if (p[3] & 0x20)
            off += 1 + p[4];
        if (!unitStart || off >= 188)
            continue;
        off += 1 + p[off]; // pointer field
        if (off + 12 >= 188)
            continue;
        const uchar* s = p + off;
        const int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
        if (pid == 0 && s[0] == 0x00 && off + 12 < 188) {
            pmtPid = ((s[10] & 0x1F) << 8) | s[11];
        } else if (pid == pmtPid && s[0] == 0x02 && f.streamTypes.isEmpty()) {
            const int infoLength = ((s[10] & 0x0F) << 8) | s[11];
            qsizetype e = 12 + infoLength;
            const qsizetype endOfLoop = std::min<qsizetype>(3 + sectionLength - 4, 188 - off);
            while (e + 5 <= endOfLoop) {
                f.streamTypes.append(s[e]);
                e += 5 + (((s[e + 3] & 0x0F) << 8) | s[e + 4]);
            }
        }
    }
    return f;
}

class StatusRecorder : public StatusSink {
public:
    // The status line pads its message panel with a leading blank.
    void showStatus(const QString& message, const QString&, const QString&) override {
        messages.append(message.trimmed());
    }
    QStringList messages;
};

class RecordingHost : public RemoteVlcHost, public StreamSetupView {
public:
    void addTarget(const QString& mrl, const QStringList& options) override {
        targetMrl = mrl;
        targetOptions = options;
    }
    void play(bool withStatus) override { plays.append(withStatus); }
    void waitCaching() override { ++cachingWaits; }
    void startEpgTimer() override { ++epgTimerStarts; }
    bool hasChannelSelection() const override { return selection; }
    void switchToSelectedChannel() override { ++switches; }
    void setOnlineChecked(bool checked) override { onlineChecked = checked; }
    void showSplashStatus(const QString& text) override { splash.append(text); }

    QString targetMrl;
    QStringList targetOptions;
    QList<bool> plays;
    int cachingWaits = 0;
    int epgTimerStarts = 0;
    int switches = 0;
    bool selection = true;
    bool onlineChecked = false;
    QStringList splash;
};

// Online mode against a receiver and remote VLC on `boxAddress`, the remote's stream on its port.
class OnlineFixture : public ::testing::Test {
protected:
    void configure(const QString& boxAddress, const QString& vlcAddress, int vlcPort, int streamPort) {
        m_saved = Options;
        Options.Mode = 1;
        Options.StreamType = 0;
        Options.ProvideStream = false;
        Options.BoxAddress = boxAddress + QStringLiteral(":80");
        Options.IpLan = boxAddress;
        Options.VlcAddress = vlcAddress + QLatin1Char(':') + QString::number(vlcPort);
        Options.OnlineStreamAddress = vlcAddress + QLatin1Char(':') + QString::number(streamPort);
        Options.StreamPortUdp = QStringLiteral("31330");
        Options.UdpTargetVlc = vlcAddress + QStringLiteral(" 31330");
        // A small, fast chain keeps the test machine's load low; its form is the settings store's.
        Options.SoutVideo = soutVideo(QStringLiteral("h264"), QStringLiteral("200"), QStringLiteral("0.3"),
                                      QStringLiteral("mpga"), QStringLiteral("64"), QStringLiteral("2"));
        Options.SoutAudio = soutAudio(QStringLiteral("mpga"), QStringLiteral("64"), QStringLiteral("2"));
        m_settings.VlcIp = vlcAddress;
        m_settings.StreamPortHttp = QString::number(streamPort);
        m_settings.CacheOnline = QStringLiteral("1000");
        m_http.Timeout = BoxClient::kTimeoutSec;
        setStatusSink(&m_status);
        IsSwitching.store(true);
    }
    void TearDown() override {
        setStatusSink(nullptr);
        Options = m_saved;
        IsSwitching.store(false);
    }

    TOptions m_saved;
    StreamSettings m_settings;
    StatusRecorder m_status;
    RecordingHost m_host;
    TIEHTTP m_http;
};

class ClassicRemoteTest : public OnlineFixture {
protected:
    static constexpr const char* kAddress = "127.0.51.10";
    void SetUp() override {
        configure(QString::fromLatin1(kAddress), QString::fromLatin1(kAddress), 8080, 31331);
        ASSERT_TRUE(m_sim.start());
    }
    BoxSimProcess m_sim{QString::fromLatin1(kAddress), {QStringLiteral("--telnet-port"), QStringLiteral("0")}};
};

QStringList decoded(const QStringList& targets) {
    QStringList out;
    for (const QString& t : targets)
        out.append(QString::fromUtf8(QByteArray::fromPercentEncoding(t.toUtf8())));
    return out;
}

} // namespace

// Old interface: empty, add with the closed chain, main page, play of the newest item; the
// stand-in transcodes for real and its stream port serves H.264 in TS.
TEST_F(ClassicRemoteTest, StartsTranscodedStream) {
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    setup.GetStreamInfo(mTV);
    const QString source = QStringLiteral("http://127.0.51.10:31339/0,0x0064,0x00FF,0x0100,0x0101");
    ASSERT_EQ(setup.LiveURL, source);
    EXPECT_EQ(setup.StreamInfo->Resolution, QStringLiteral("224x179"));
    ASSERT_TRUE(m_sim.clearRequests());

    EXPECT_TRUE(remote.StartOnline(setup, mTV));

    const QString chain = Options.SoutVideo + QStringLiteral(",dst=127.0.51.10:31331}}");
    EXPECT_EQ(
        decoded(m_sim.requestTargets(QStringLiteral("vlc"))),
        (QStringList{QStringLiteral("/?control=empty"),
                     QStringLiteral("/?control=add&mrl= ") + source + QStringLiteral(" :http-caching=1000 ") + chain,
                     QStringLiteral("/"), QStringLiteral("/?control=play&item=0")}));
    EXPECT_TRUE(m_sim.requestTargets().isEmpty());
    EXPECT_EQ(m_host.targetMrl, QStringLiteral("http://127.0.51.10:31331"));
    EXPECT_EQ(m_host.targetOptions,
              (QStringList{QStringLiteral(":http-caching=1000"), QStringLiteral(":deinterlace-mode=mean")}));
    EXPECT_EQ(m_host.plays, QList<bool>{true});
    EXPECT_EQ(setup.LiveURL, QStringLiteral("http://127.0.51.10:31331"));
    EXPECT_TRUE(m_status.messages.contains(QStringLiteral("preparing vlc...")));

    const QMap<QString, QString> state = m_sim.state();
    EXPECT_EQ(state.value(QStringLiteral("vlc_playing")), QStringLiteral("0"));
    EXPECT_TRUE(state.value(QStringLiteral("vlc_engine")).startsWith(QStringLiteral("libvlc 3.")))
        << state.value(QStringLiteral("vlc_engine")).toStdString();
    EXPECT_TRUE(state.value(QStringLiteral("vlc_mapped"))
                    .contains(QStringLiteral(":http-caching=1000 -> :network-caching=1000")));

    const QByteArray ts = readStream(QString::fromLatin1(kAddress), 31331, 188 * 400, 30000);
    const TsFacts facts = inspectTs(ts);
    EXPECT_TRUE(facts.aligned);
    EXPECT_GE(facts.packets, 100) << ts.size() << " bytes";
    EXPECT_TRUE(facts.streamTypes.contains(0x1B)) << "no H.264 in the served stream";
    // The remote VLC fetched the box stream itself.
    EXPECT_FALSE(m_sim.requestTargets(QStringLiteral("tv")).isEmpty());

    remote.RemoteStop();
    EXPECT_EQ(m_sim.requestTargets(QStringLiteral("vlc")).last(), QStringLiteral("/?control=stop"));
    EXPECT_EQ(m_sim.state().value(QStringLiteral("vlc_playing")), QStringLiteral("-1"));
}

// Radio over the UDP stream type: the remote fetches the box's HTTP radio address with the
// audio-only chain, and serves audio alone.
TEST_F(ClassicRemoteTest, RadioUsesHttpSourceAndAudioChain) {
    ASSERT_TRUE(m_sim.setState(QStringLiteral("channel"), QStringLiteral("44100016e54")));
    Options.StreamType = 1;
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    setup.GetStreamInfo(mRadio);
    ASSERT_TRUE(m_sim.clearRequests());
    EXPECT_TRUE(remote.StartOnline(setup, mRadio));
    const QStringList targets = decoded(m_sim.requestTargets(QStringLiteral("vlc")));
    ASSERT_EQ(targets.size(), 4);
    EXPECT_EQ(targets[1], QStringLiteral("/?control=add&mrl= http://127.0.51.10:31338/0x090A :http-caching=1000 ") +
                              Options.SoutAudio + QStringLiteral(",dst=127.0.51.10:31331}}"));
    // Radio is played as an HTTP stream: no UDP start command goes to the box.
    EXPECT_EQ(m_host.plays, QList<bool>{true});
    EXPECT_EQ(m_host.targetOptions.first(), QStringLiteral(":http-caching=1000"));
    EXPECT_TRUE(m_sim.requestTargets().isEmpty());
    const TsFacts facts = inspectTs(readStream(QString::fromLatin1(kAddress), 31331, 188 * 200, 30000));
    EXPECT_TRUE(facts.aligned);
    EXPECT_GE(facts.packets, 50);
    EXPECT_FALSE(facts.streamTypes.contains(0x1B));
    EXPECT_TRUE(facts.streamTypes.contains(0x03) || facts.streamTypes.contains(0x04))
        << "no MPEG audio in the served stream";
}

// TV over UDP: the remote listens on the UDP port, the box is told to send there after the local
// start, and the transcoded stream arrives.
TEST_F(ClassicRemoteTest, UdpStreamThroughRemote) {
    Options.StreamType = 1;
    Options.StreamPortUdp = QStringLiteral("31452");
    Options.UdpTargetVlc = QString::fromLatin1(kAddress) + QStringLiteral(" 31452");
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    setup.GetStreamInfo(mTV);
    const QString command = setup.LiveURL;
    ASSERT_EQ(command, QStringLiteral("http://127.0.51.10:80/control/exec?api udp_stream start 127.0.51.10 31452 0 "
                                      "0x0064 0x00FF 0x0100 0x0101"));
    ASSERT_TRUE(m_sim.clearRequests());
    EXPECT_TRUE(remote.StartOnline(setup, mTV));
    EXPECT_EQ(decoded(m_sim.requestTargets(QStringLiteral("vlc"))).value(1),
              QStringLiteral("/?control=add&mrl= udp://@:31452 :udp-caching=1000 ") + Options.SoutVideo +
                  QStringLiteral(",dst=127.0.51.10:31331}}"));
    EXPECT_EQ(m_host.plays, QList<bool>{false});
    EXPECT_EQ(m_host.cachingWaits, 1);
    EXPECT_EQ(m_host.targetOptions.first(), QStringLiteral(":udp-caching=1000"));
    EXPECT_EQ(decoded(m_sim.requestTargets()), QStringList{command.mid(command.indexOf(QLatin1String("/control")))});
    EXPECT_EQ(m_sim.state().value(QStringLiteral("udp_running")), QStringLiteral("1"));
    const TsFacts facts = inspectTs(readStream(QString::fromLatin1(kAddress), 31331, 188 * 400, 30000));
    EXPECT_TRUE(facts.aligned);
    EXPECT_GE(facts.packets, 100);
    EXPECT_TRUE(facts.streamTypes.contains(0x1B));
    EXPECT_EQ(setup.LiveURL, QStringLiteral("http://127.0.51.10:31331"));
    box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/exec?api udp_stream kill_all_streams")));
}

// All-zero PIDs: the playlist is emptied, nothing added, the switch ends with the status text.
TEST_F(ClassicRemoteTest, UnavailableStream) {
    ASSERT_TRUE(m_sim.setState(QStringLiteral("channel"), QStringLiteral("1000f0001")));
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    setup.GetStreamInfo(mTV);
    ASSERT_TRUE(m_sim.clearRequests());
    EXPECT_FALSE(remote.StartOnline(setup, mTV));
    EXPECT_EQ(m_sim.requestTargets(QStringLiteral("vlc")), QStringList{QStringLiteral("/?control=empty")});
    EXPECT_EQ(m_status.messages.last(), QStringLiteral("stream is not available!"));
    EXPECT_FALSE(IsSwitching.load());
    EXPECT_EQ(m_host.epgTimerStarts, 1);
    EXPECT_TRUE(m_host.plays.isEmpty());
}

// A main page with a hostile item text sends the play request without an item.
TEST_F(ClassicRemoteTest, GarbageMainPage) {
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    setup.GetStreamInfo(mTV);
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("vlc"), QStringLiteral("garbage-body"), 100000));
    ASSERT_TRUE(m_sim.clearRequests());
    EXPECT_TRUE(remote.StartOnline(setup, mTV));
    const QStringList targets = m_sim.requestTargets(QStringLiteral("vlc"));
    ASSERT_EQ(targets.size(), 4);
    EXPECT_EQ(targets.last(), QStringLiteral("/?control=play&item="));
}

namespace {

struct HostilePageCase {
    const char* name;
    const char* page;
    const char* playTarget;
};

// A remote that answers every request with one scripted reply and records the raw requests.
class RawRemoteTest : public OnlineFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_remote.listening());
        configure(QStringLiteral("127.0.51.61"), QString::fromLatin1(kRemote), m_remote.port(), 31331);
    }
    static constexpr const char* kRemote = "127.0.51.60";
    RawHttpServer m_remote{kRemote};
};

class HostilePageTest : public RawRemoteTest, public ::testing::WithParamInterface<HostilePageCase> {};

} // namespace

// Whatever the remote's page holds, only an item number goes into the play request.
TEST_P(HostilePageTest, PlayRequest) {
    m_remote.setScript(RawHttpServer::answer(QByteArray(GetParam().page)));
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    setup.LiveURL = QStringLiteral("http://127.0.51.61:31339/0,0x0064,0x00FF,0x0100");
    RemoteVlc remote(box, m_host);
    EXPECT_TRUE(remote.StartOnline(setup, mTV));
    const QList<QByteArray> requests = m_remote.requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_TRUE(requests[3].startsWith("GET " + QByteArray(GetParam().playTarget) + " HTTP/"))
        << requests[3].left(200).toStdString();
}
INSTANTIATE_TEST_SUITE_P(
    Pages, HostilePageTest,
    ::testing::Values(
        HostilePageCase{"Number", "<a href=\"?control=play&amp;item=7\">x</a>", "/?control=play&item=7"},
        HostilePageCase{"InjectedCommand", "<a href=\"?control=play&amp;item=0&control=empty\">",
                        "/?control=play&item="},
        HostilePageCase{"HugeNumber", "<a href=\"?control=play&amp;item=123456789012345\">", "/?control=play&item="},
        HostilePageCase{"Binary", "\x01\x02<a href=\"?control=play&amp;item=\xff\xfe\">", "/?control=play&item="},
        HostilePageCase{"Empty", "", "/?control=play&item="}),
    [](const ::testing::TestParamInfo<HostilePageCase>& info) { return std::string(info.param.name); });

// The Lua interface's requests as they go over the wire: empty, then in_play with the source and
// the options whole, each with the password as basic auth of an empty user; stop is pl_stop.
TEST_F(RawRemoteTest, LuaRequestSequence) {
    m_remote.setScript(RawHttpServer::answer("<root><state>playing</state></root>"));
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    setup.LiveURL = QStringLiteral("http://127.0.51.61:31339/0,0x0064,0x00FF,0x0100");
    RemoteVlc remote(box, m_host);
    remote.setInterface(RemoteVlcInterface::Lua);
    remote.setPassword(QStringLiteral("p&w=1"));
    EXPECT_TRUE(remote.StartOnline(setup, mTV));
    remote.RemoteStop();
    const QList<QByteArray> requests = m_remote.requests();
    ASSERT_EQ(requests.size(), 3);
    const QByteArray auth = "Authorization: Basic " + QByteArray(":p&w=1").toBase64();
    for (const QByteArray& r : requests)
        EXPECT_TRUE(r.contains(auth)) << r.left(300).toStdString();
    EXPECT_TRUE(requests[0].startsWith("GET /requests/status.xml?command=pl_empty HTTP/"));
    EXPECT_TRUE(requests[2].startsWith("GET /requests/status.xml?command=pl_stop HTTP/"));
    const QByteArray line = requests[1].left(requests[1].indexOf("\r\n"));
    ASSERT_TRUE(line.startsWith("GET /requests/status.xml?command=in_play&"));
    const QByteArray query = line.mid(line.indexOf('?') + 1, line.lastIndexOf(" HTTP/") - line.indexOf('?') - 1);
    QStringList inputs;
    QStringList options;
    for (const QByteArray& pair : query.split('&')) {
        const QList<QByteArray> kv = pair.split('=');
        ASSERT_EQ(kv.size(), 2) << pair.toStdString();
        const QString value = QString::fromUtf8(QByteArray::fromPercentEncoding(kv[1]));
        if (kv[0] == "input")
            inputs.append(value);
        else if (kv[0] == "option")
            options.append(value);
    }
    EXPECT_EQ(inputs, QStringList{QStringLiteral("http://127.0.51.61:31339/0,0x0064,0x00FF,0x0100")});
    EXPECT_EQ(options, (QStringList{QStringLiteral(":network-caching=1000"),
                                    Options.SoutVideo + QStringLiteral(",dst=127.0.51.60:31331}}")}));
}

// Asked to find out, the old interface's stand-in is recognised as such and driven the old way.
TEST_F(ClassicRemoteTest, DetectsOldInterface) {
    BoxClient box(m_http);
    RemoteVlc remote(box, m_host);
    remote.setInterface(RemoteVlcInterface::Detect);
    EXPECT_EQ(remote.activeInterface(), RemoteVlcInterface::Detect);
    EXPECT_EQ(remote.detect(), RemoteVlcInterface::Classic);
    EXPECT_FALSE(remote.MainPage().isEmpty());
    remote.RemoteStop();
    EXPECT_EQ(
        m_sim.requestTargets(QStringLiteral("vlc")),
        (QStringList{QStringLiteral("/requests/status.xml"), QStringLiteral("/"), QStringLiteral("/?control=stop")}));
}

// "Online Mode": on only when the remote answers; off stops the remote first.
TEST_F(ClassicRemoteTest, OnlineModeToggle) {
    BoxClient box(m_http);
    RemoteVlc remote(box, m_host);
    Options.Mode = 0;
    IsSwitching.store(false);
    remote.OnlineMode1Click();
    EXPECT_EQ(Options.Mode, 1);
    EXPECT_TRUE(m_host.onlineChecked);
    EXPECT_EQ(m_host.switches, 1);
    remote.OnlineMode1Click();
    EXPECT_EQ(Options.Mode, 0);
    EXPECT_FALSE(m_host.onlineChecked);
    EXPECT_EQ(m_host.switches, 2);
    EXPECT_EQ(m_sim.requestTargets(QStringLiteral("vlc")),
              (QStringList{QStringLiteral("/"), QStringLiteral("/?control=stop")}));

    // An unreachable remote leaves everything as it was.
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("vlc"), QStringLiteral("close")));
    remote.OnlineMode1Click();
    EXPECT_EQ(Options.Mode, 0);
    EXPECT_FALSE(m_host.onlineChecked);
    EXPECT_EQ(m_host.switches, 2);
    EXPECT_EQ(m_status.messages.last(), QStringLiteral("remote vlc is not available!"));
    EXPECT_EQ(m_host.splash, QStringList{QStringLiteral("remote vlc is not available...")});
}

namespace {

// A real cvlc with the Lua HTTP interface, run as an unprivileged user (VLC refuses root).
class LuaRemoteTest : public OnlineFixture {
protected:
    static constexpr const char* kBox = "127.0.51.30";
    static constexpr const char* kVlc = "127.0.51.31";
    static constexpr int kVlcPort = 18080;
    static constexpr int kStreamPort = 18081;
    static inline const QString kPassword = QStringLiteral("Zq7-remote-secret");

    void SetUp() override {
        configure(QString::fromLatin1(kBox), QString::fromLatin1(kVlc), kVlcPort, kStreamPort);
        const QString cvlc = QStandardPaths::findExecutable(QStringLiteral("cvlc"));
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (cvlc.isEmpty() || setpriv.isEmpty())
            GTEST_SKIP() << "cvlc (package vlc-bin) or setpriv is not installed";
        ASSERT_TRUE(m_sim.start());
        QFile::setPermissions(m_home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadOther | QFileDevice::WriteOther |
                                                 QFileDevice::ExeOther);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        env.remove(QStringLiteral("DISPLAY"));
        m_vlc.setProcessEnvironment(env);
        m_vlc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_vlc.setStandardOutputFile(QProcess::nullDevice());
        QStringList args{QStringLiteral("--reuid=nobody"),
                         QStringLiteral("--regid=nogroup"),
                         QStringLiteral("--clear-groups"),
                         cvlc,
                         QStringLiteral("--quiet"),
                         QStringLiteral("--intf"),
                         QStringLiteral("http"),
                         QStringLiteral("--http-host"),
                         QString::fromLatin1(kVlc),
                         QStringLiteral("--http-port"),
                         QString::number(kVlcPort),
                         QStringLiteral("--http-password"),
                         kPassword,
                         QStringLiteral("--no-dbus")};
        m_vlc.start(setpriv, args);
        ASSERT_TRUE(m_vlc.waitForStarted(5000));
        // Bounded wait for the interface to listen.
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() &&
               BoxSimProcess::httpGet(QString::fromLatin1(kVlc), kVlcPort, "/requests/status.xml", 1000).status != 401)
            QThread::msleep(100);
        ASSERT_FALSE(deadline.hasExpired()) << "cvlc did not start its HTTP interface";
    }
    void TearDown() override {
        if (m_vlc.state() != QProcess::NotRunning) {
            m_vlc.terminate();
            if (!m_vlc.waitForFinished(5000)) {
                m_vlc.kill();
                m_vlc.waitForFinished(2000);
            }
        }
        OnlineFixture::TearDown();
    }

    QString luaState() {
        const QByteArray auth = "Authorization: Basic " + QByteArray(":" + kPassword.toUtf8()).toBase64() + "\r\n";
        const BoxSimProcess::Reply r =
            BoxSimProcess::httpGet(QString::fromLatin1(kVlc), kVlcPort, "/requests/status.xml", 3000, auth);
        const qsizetype a = r.body.indexOf("<state>");
        const qsizetype b = r.body.indexOf("</state>");
        return a >= 0 && b > a ? QString::fromLatin1(r.body.mid(a + 7, b - a - 7)) : QString();
    }

    TestDir m_home;
    QProcess m_vlc;
    BoxSimProcess m_sim{QString::fromLatin1(kBox),
                        {QStringLiteral("--telnet-port"), QStringLiteral("0"), QStringLiteral("--vlc-port"),
                         QStringLiteral("0"), QStringLiteral("--vlc-stream-port"), QStringLiteral("0")}};
};

} // namespace

// The Lua interface is recognised, drives a real VLC 3 to transcode the box stream, and the
// password never reaches the log.
TEST_F(LuaRemoteTest, DetectsAndTranscodes) {
    BoxClient box(m_http);
    StreamSetup setup(box, m_host);
    setup.setSettings(m_settings);
    RemoteVlc remote(box, m_host);
    remote.setInterface(RemoteVlcInterface::Detect);
    remote.setPassword(kPassword);
    EXPECT_EQ(remote.detect(), RemoteVlcInterface::Lua);

    setup.GetStreamInfo(mTV);
    ASSERT_EQ(setup.LiveURL, QStringLiteral("http://127.0.51.30:31339/0,0x0064,0x00FF,0x0100,0x0101"));
    EXPECT_TRUE(remote.StartOnline(setup, mTV));
    EXPECT_EQ(m_host.targetMrl, QStringLiteral("http://127.0.51.31:18081"));
    EXPECT_EQ(m_host.plays, QList<bool>{true});

    QDeadlineTimer playing(15000);
    while (!playing.hasExpired() && luaState() != QLatin1String("playing"))
        QThread::msleep(200);
    EXPECT_EQ(luaState(), QStringLiteral("playing"));
    // VLC fetched exactly the address the stream setup built.
    EXPECT_TRUE(m_sim.requestTargets(QStringLiteral("tv")).contains(QStringLiteral("/0,0x0064,0x00FF,0x0100,0x0101")));

    // The settings' chain muxes ASF: the served stream starts with the ASF header object.
    const QByteArray asf = readStream(QString::fromLatin1(kVlc), kStreamPort, 64 * 1024, 30000);
    ASSERT_GE(asf.size(), 16) << "no transcoded stream";
    // Well past the header: the data packets keep coming.
    EXPECT_GE(asf.size(), 64 * 1024);
    EXPECT_EQ(asf.left(16).toHex(), QByteArray("3026b2758e66cf11a6d900aa0062ce6c"));

    remote.RemoteStop();
    QDeadlineTimer stopped(10000);
    while (!stopped.hasExpired() && luaState() != QLatin1String("stopped"))
        QThread::msleep(200);
    EXPECT_EQ(luaState(), QStringLiteral("stopped"));

    QFile log(appLogger().filePath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("status.xml?command=in_play"));
    EXPECT_FALSE(text.contains(kPassword.toUtf8()));
    EXPECT_FALSE(text.contains(QByteArray(":" + kPassword.toUtf8()).toBase64()));
}

// A wrong password is not taken for the Lua interface, and online mode is then refused.
TEST_F(LuaRemoteTest, WrongPassword) {
    BoxClient box(m_http);
    RemoteVlc remote(box, m_host);
    remote.setInterface(RemoteVlcInterface::Detect);
    remote.setPassword(QStringLiteral("wrong"));
    EXPECT_NE(remote.detect(), RemoteVlcInterface::Lua);
    Options.Mode = 0;
    remote.setInterface(RemoteVlcInterface::Lua);
    remote.OnlineMode1Click();
    EXPECT_EQ(Options.Mode, 0);
    EXPECT_EQ(m_status.messages.last(), QStringLiteral("remote vlc is not available!"));
}
