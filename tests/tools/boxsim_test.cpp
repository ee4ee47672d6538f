// The receiver simulator, driven through real sockets on its own loopback addresses.
#include "support/boxsimprocess.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocale>
#include <QtEndian>

#include <arpa/inet.h>
#include <ctime>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace {

using Reply = BoxSimProcess::Reply;

Reply get(BoxSimProcess& sim, const QByteArray& target, int timeoutMs = 5000, const QByteArray& headers = {}) {
    return BoxSimProcess::httpGet(sim.address(), sim.httpPort(), target, timeoutMs, headers);
}

QList<QByteArray> lines(const QByteArray& body) {
    QList<QByteArray> out = body.split('\n');
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

QByteArray inflateAll(const QByteArray& in, int windowBits) {
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return {};
    QByteArray out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs.avail_in = uInt(in.size());
    char buf[4096];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, int(sizeof buf - zs.avail_out));
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? out : QByteArray();
}

// A plain TCP client for streams and telnet: bounded reads, no parsing.
class RawClient {
public:
    RawClient(const QString& address, int port) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connected() const { return m_fd >= 0; }
    bool send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Reads until `until` appears, `bytes` are buffered, the peer closes or the time is up.
    // Returns the number of recv calls that delivered data.
    int read(int timeoutMs, const QByteArray& until = {}, qsizetype bytes = -1) {
        const QDeadlineTimer deadline(timeoutMs);
        int reads = 0;
        while (!deadline.hasExpired() && !m_closed) {
            if (!until.isEmpty() && m_buffer.contains(until))
                break;
            if (bytes >= 0 && m_buffer.size() >= bytes)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            ++reads;
            m_buffer.append(buf, int(n));
        }
        return reads;
    }
    QByteArray& buffer() { return m_buffer; }
    bool closed() const { return m_closed; }

private:
    int m_fd = -1;
    QByteArray m_buffer;
    bool m_closed = false;
};

// Telnet text without IAC negotiation sequences.
QByteArray telnetText(const QByteArray& raw) {
    QByteArray out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (uchar(raw[i]) == 255 && i + 2 < raw.size()) {
            i += 2;
            continue;
        }
        out += raw[i];
    }
    return out;
}

void expectTsPackets(const QByteArray& ts, qsizetype atLeast) {
    ASSERT_GE(ts.size(), atLeast);
    for (qsizetype i = 0; i + 188 <= ts.size(); i += 188)
        ASSERT_EQ(uchar(ts[i]), 0x47) << "no sync byte at offset " << i;
}

class BoxSimTest : public ::testing::Test {
protected:
    void startSim(BoxSimProcess& sim) { ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString(); }
};

} // namespace

// The main endpoints answer in the receiver's formats, and the log holds the exact request sequence.
TEST_F(BoxSimTest, MainEndpointsAnswerInReceiverFormats) {
    BoxSimProcess sim(QStringLiteral("127.0.42.1"));
    startSim(sim);
    const long long now = (long long)std::time(nullptr);

    const Reply t = get(sim, "/control/gettime?rawtime");
    ASSERT_TRUE(t.ok);
    EXPECT_NEAR(t.body.toLongLong(), now, 5);

    const Reply b = get(sim, "/control/getbouquets");
    ASSERT_EQ(lines(b.body).size(), 5);
    EXPECT_EQ(lines(b.body)[0], "1 Favoriten");
    EXPECT_EQ(lines(b.body)[2], "3 Radio \xD6sterreich"); // the receiver's Latin-1 encoding

    EXPECT_EQ(get(sim, "/control/getbouquet?actual").body, "1");
    const QList<QByteArray> tv = lines(get(sim, "/control/getbouquet?bouquet=1&mode=TV").body);
    ASSERT_EQ(tv.size(), 3);
    EXPECT_EQ(tv[0], "1 43700016d66 Das Erste");
    EXPECT_EQ(lines(get(sim, "/control/getbouquet?bouquet=1&mode=RADIO").body).size(), 2);
    EXPECT_TRUE(get(sim, "/control/getbouquet?bouquet=3&mode=TV").body.isEmpty());
    EXPECT_EQ(lines(get(sim, "/control/getbouquet?bouquet=3&mode=RADIO").body).size(), 2);
    EXPECT_EQ(lines(get(sim, "/control/getbouquet?bouquet=5&mode=TV").body).size(), 27);

    EXPECT_EQ(get(sim, "/control/zapto").body, "43700016d66");
    const QList<QByteArray> pids = lines(get(sim, "/control/zapto?getallpids").body);
    ASSERT_EQ(pids.size(), 5);
    EXPECT_EQ(pids[0], "00255");
    EXPECT_TRUE(pids[1].startsWith("00256 deutsch"));
    EXPECT_EQ(pids[3], "00032 vtxt");
    EXPECT_EQ(pids[4], "00100 pmt");
    EXPECT_EQ(lines(get(sim, "/control/info?streaminfo").body),
              (QList<QByteArray>{"720", "576", "625000", "4:3", "25", "joint stereo"}));
    EXPECT_TRUE(get(sim, "/control/zapto?getallsubchannels").body.isEmpty());

    const QList<QByteArray> epg = lines(get(sim, "/control/epg?ext").body);
    ASSERT_GE(epg.size(), 10);
    for (const QByteArray& line : epg) {
        const QList<QByteArray> f = line.split(' ');
        ASSERT_GE(f.size(), 5) << line.constData();
        const long long start = f[1].toLongLong();
        EXPECT_LE(start, now + 2);
        EXPECT_GT(start + f[2].toLongLong(), now - 2);
    }
    EXPECT_TRUE(epg[0].startsWith("43700016d66 ")) << epg[0].constData();

    const Reply xml = get(sim, "/control/epg?xml=true&channelid=43700016d66&details=true&max=3");
    EXPECT_TRUE(xml.head.contains("Content-Type: text/xml"));
    EXPECT_TRUE(xml.body.startsWith("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<epglist>"));
    EXPECT_EQ(xml.body.count("<prog>"), 3);
    EXPECT_TRUE(xml.body.contains("<description><![CDATA[Tagesschau]]></description>"));
    EXPECT_TRUE(xml.body.contains("<duration_min>15</duration_min>"));
    EXPECT_TRUE(xml.body.contains("<info1><![CDATA[Nachrichten]]></info1>"));
    EXPECT_TRUE(xml.body.contains("<start_t>"));

    EXPECT_EQ(get(sim, "/tmp/a.bmp").status, 404) << "no screenshot made yet";
    EXPECT_EQ(get(sim, "/control/nosuchthing").status, 404);

    EXPECT_EQ(sim.requestTargets().mid(0, 4),
              (QStringList{"/control/gettime?rawtime", "/control/getbouquets", "/control/getbouquet?actual",
                           "/control/getbouquet?bouquet=1&mode=TV"}));
    EXPECT_EQ(sim.requests().size(), 16);
    EXPECT_EQ(sim.requests().first(), "GET /control/gettime?rawtime HTTP/1.0");
    ASSERT_TRUE(sim.clearRequests());
    EXPECT_TRUE(sim.requests().isEmpty());
}

// Zapping, mode, standby, playback format and lock change the state and are reported back.
TEST_F(BoxSimTest, CommandsChangeReceiverState) {
    BoxSimProcess sim(QStringLiteral("127.0.42.2"));
    startSim(sim);
    EXPECT_EQ(get(sim, "/control/zapto?437000273f2").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "437000273f2");
    EXPECT_EQ(lines(get(sim, "/control/zapto?getallpids").body)[0], "00110");

    EXPECT_EQ(get(sim, "/control/getmode").body, "tv");
    EXPECT_EQ(get(sim, "/control/setmode?radio").body, "ok");
    EXPECT_EQ(get(sim, "/control/getmode").body, "radio");
    EXPECT_EQ(get(sim, "/control/setmode?tv").body, "ok");
    EXPECT_EQ(get(sim, "/control/setmode?status").body, "off");
    ASSERT_TRUE(sim.setState("recording", "on"));
    EXPECT_EQ(get(sim, "/control/setmode?status").body, "on");
    ASSERT_TRUE(sim.setState("recording", "off"));

    EXPECT_EQ(get(sim, "/control/standby").body, "off\r\n");
    EXPECT_EQ(get(sim, "/control/standby?on").body, "ok");
    EXPECT_EQ(get(sim, "/control/standby").body, "on\r\n");
    EXPECT_EQ(get(sim, "/control/standby?off").body, "ok");

    EXPECT_EQ(get(sim, "/control/system?getAViAExtPlayBack").body, "0");
    EXPECT_EQ(get(sim, "/control/system?setAViAExtPlayBack=spts").body, "ok");
    EXPECT_EQ(get(sim, "/control/system?getAViAExtPlayBack").body, "1");
    EXPECT_EQ(get(sim, "/control/system?setAViAExtPlayBack=pes").body, "ok");
    EXPECT_EQ(get(sim, "/control/system?getAViAExtPlayBack").body, "0");

    EXPECT_EQ(get(sim, "/control/rc?lock").body, "ok");
    EXPECT_EQ(sim.state().value("rclock"), "on");
    EXPECT_EQ(get(sim, "/control/rc?unlock").body, "ok");
    EXPECT_EQ(sim.state().value("rclock"), "off");
    // The client sends message text unencoded, blanks and all.
    EXPECT_EQ(get(sim, "/control/message?nmsg=Quoxel is active!").body, "ok");
    EXPECT_EQ(sim.state().value("message"), "Quoxel is active!");
    EXPECT_EQ(get(sim, "/control/reboot").body, "ok");
    EXPECT_EQ(sim.state().value("reboots"), "1");
    EXPECT_EQ(get(sim, "/control/rcem?KEY_OK").body, "ok");
    EXPECT_EQ(get(sim, "/control/rcem?KEY_NONSENSE").body, "error");
    EXPECT_EQ(sim.state().value("lastkey"), "KEY_OK");

    // A portal channel lists its sub-channels; zapping to one keeps the list.
    EXPECT_EQ(get(sim, "/control/zapto?85000300008").body, "ok");
    EXPECT_EQ(get(sim, "/control/getbouquet?actual").body, "2");
    const QList<QByteArray> subs = lines(get(sim, "/control/zapto?getallsubchannels").body);
    ASSERT_EQ(subs.size(), 3);
    EXPECT_EQ(subs[0], "85000300009 Beginn 20:00");
    EXPECT_EQ(get(sim, "/control/zapto?8500030000a").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "8500030000a");
    EXPECT_EQ(lines(get(sim, "/control/zapto?getallsubchannels").body).size(), 3);
    EXPECT_EQ(lines(get(sim, "/control/zapto?getallpids").body)[0], "00531");

    // A radio channel is refused in TV mode and taken in radio mode; the unavailable channel
    // reports PID 0.
    EXPECT_EQ(get(sim, "/control/zapto?44100016e54").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "8500030000a");
    EXPECT_EQ(get(sim, "/control/setmode?radio").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto?44100016e54").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "44100016e54");
    EXPECT_EQ(get(sim, "/control/setmode?tv").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto?1000f0001").body, "ok");
    EXPECT_EQ(lines(get(sim, "/control/zapto?getallpids").body), (QList<QByteArray>{"00000", "00000 unbekannt  "}));
    EXPECT_EQ(get(sim, "/control/zapto?123456789").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "1000f0001");
    EXPECT_TRUE(sim.requests().contains("GET /control/message?nmsg=Quoxel is active! HTTP/1.0"));
}

// Every fault knob spoils the answer the way it says, for its endpoint only.
TEST_F(BoxSimTest, FaultKnobsSpoilAnswers) {
    BoxSimProcess sim(QStringLiteral("127.0.42.4"));
    startSim(sim);
    const QByteArray normal = get(sim, "/control/getbouquets").body;
    ASSERT_FALSE(normal.isEmpty());

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "slow", 400));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(get(sim, "/control/getbouquets").body, normal);
    EXPECT_GE(clock.elapsed(), 350);
    EXPECT_EQ(get(sim, "/control/getmode").body, "tv"); // other endpoints unaffected

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "silent"));
    const Reply silent = get(sim, "/control/getbouquets", 800);
    EXPECT_FALSE(silent.ok);
    EXPECT_TRUE(silent.raw.isEmpty());

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "close"));
    const Reply closed = get(sim, "/control/getbouquets", 3000);
    EXPECT_FALSE(closed.ok);
    EXPECT_TRUE(closed.raw.isEmpty());

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "garbage", 1000));
    const Reply garbage = get(sim, "/control/getbouquets");
    EXPECT_EQ(garbage.raw.size(), 1000);
    EXPECT_FALSE(garbage.ok);

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "garbage-body", 777));
    const Reply gbody = get(sim, "/control/getbouquets");
    EXPECT_EQ(gbody.status, 200);
    EXPECT_EQ(gbody.body.size(), 777);

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "empty"));
    const Reply empty = get(sim, "/control/getbouquets");
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.isEmpty());

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "timeout-text"));
    EXPECT_EQ(get(sim, "/control/getbouquets").body, "timeout");

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "gzip"));
    const Reply gz = get(sim, "/control/getbouquets");
    EXPECT_TRUE(gz.head.contains("Content-Encoding: gzip"));
    EXPECT_TRUE(gz.body.startsWith("\x1f\x8b\x08"));
    EXPECT_EQ(inflateAll(gz.body, 15 + 16), normal);

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "gzip-marker"));
    const Reply marker = get(sim, "/control/getbouquets");
    EXPECT_TRUE(marker.body.startsWith(QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8)));
    EXPECT_EQ(inflateAll(marker.body.mid(8), 15), normal);

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "drop", 10));
    const Reply dropped = get(sim, "/control/getbouquets");
    EXPECT_EQ(dropped.raw, "HTTP/1.0 2");

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "status", 503));
    EXPECT_EQ(get(sim, "/control/getbouquets").status, 503);

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "huge"));
    const Reply huge = get(sim, "/control/getbouquets", 60000);
    ASSERT_TRUE(huge.ok);
    EXPECT_EQ(huge.body.size(), 50 * 1024 * 1024);

    // A fault with a count spoils that many answers, then the endpoint is well again.
    ASSERT_TRUE(sim.setFault("/control/getbouquets", "timeout-text", -1, 1));
    EXPECT_EQ(get(sim, "/control/getbouquets").body, "timeout");
    EXPECT_EQ(get(sim, "/control/getbouquets").body, normal);

    // A target with its query is more specific than the path; "*" covers the rest.
    ASSERT_TRUE(sim.setFault("/control/zapto?getallpids", "empty"));
    ASSERT_TRUE(sim.setFault("*", "timeout-text"));
    EXPECT_TRUE(get(sim, "/control/zapto?getallpids").body.isEmpty());
    EXPECT_EQ(get(sim, "/control/zapto").body, "timeout");
    ASSERT_TRUE(sim.clearFaults());
    EXPECT_EQ(get(sim, "/control/zapto").body, "43700016d66");
}

// Trickle sends the answer one byte at a time.
TEST_F(BoxSimTest, TrickleSendsByteByByte) {
    BoxSimProcess sim(QStringLiteral("127.0.42.5"), {"--fault", "/control/getmode=trickle:30"});
    startSim(sim);
    RawClient c(sim.address(), 80);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send("GET /control/getmode HTTP/1.0\r\n\r\n"));
    const int reads = c.read(30000);
    ASSERT_TRUE(c.closed());
    EXPECT_TRUE(c.buffer().startsWith("HTTP/1.0 200 OK"));
    EXPECT_TRUE(c.buffer().endsWith("\r\n\r\ntv"));
    EXPECT_GT(reads, c.buffer().size() / 4);
}

// The TV and radio servers send a paced transport stream; a drop fault cuts it after N bytes.
TEST_F(BoxSimTest, StreamServersSendTransportStream) {
    BoxSimProcess sim(QStringLiteral("127.0.42.6"));
    startSim(sim);
    for (int port : {31339, 31338}) {
        RawClient c(sim.address(), port);
        ASSERT_TRUE(c.connected());
        ASSERT_TRUE(
            c.send(port == 31339 ? "GET /0,0x0064,0x00FF,0x0100 HTTP/1.0\r\n\r\n" : "GET /0x0100 HTTP/1.0\r\n\r\n"));
        c.read(10000, {}, 60000);
        const qsizetype head = c.buffer().indexOf("\r\n\r\n");
        ASSERT_GT(head, 0);
        EXPECT_TRUE(c.buffer().left(head).contains("Content-Type: video/mpeg"));
        expectTsPackets(c.buffer().mid(head + 4), 40000);
    }
    EXPECT_EQ(sim.requests("tv"), QStringList{"GET /0,0x0064,0x00FF,0x0100 HTTP/1.0"});

    ASSERT_TRUE(sim.setFault("tv", "drop", 50000));
    RawClient d(sim.address(), 31339);
    ASSERT_TRUE(d.send("GET /0,0x0064,0x00FF,0x0100 HTTP/1.0\r\n\r\n"));
    d.read(20000);
    ASSERT_TRUE(d.closed());
    EXPECT_EQ(d.buffer().size() - d.buffer().indexOf("\r\n\r\n") - 4, 50000);
}

// The looped file goes on as one endless stream: its clock keeps rising and every PID's
// continuity counter runs on across the seams (a remuxing player stalls on a clock that jumps
// back). Paced ten times faster than real time so that a few passes go by.
TEST_F(BoxSimTest, StreamGoesOnAcrossTheLoop) {
    BoxSimProcess sim(QStringLiteral("127.0.42.12"), {QStringLiteral("--ts-seconds"), QStringLiteral("0.5")});
    startSim(sim);
    RawClient c(sim.address(), 31339);
    ASSERT_TRUE(c.send("GET /0,0x0064,0x00FF,0x0100 HTTP/1.0\r\n\r\n"));
    c.read(20000, {}, 2600000);
    const qsizetype head = c.buffer().indexOf("\r\n\r\n");
    ASSERT_GT(head, 0);
    const QByteArray ts = c.buffer().mid(head + 4);
    ASSERT_GE(ts.size(), 2600000 - head - 4);

    std::map<int, int> lastCc;
    int pcrPid = -1;
    long long lastPcr = -1;
    int pcrs = 0;
    for (qsizetype at = 0; at + 188 <= ts.size(); at += 188) {
        const auto* p = reinterpret_cast<const uchar*>(ts.constData() + at);
        ASSERT_EQ(p[0], 0x47) << "at " << at;
        const int pid = ((p[1] & 0x1f) << 8) | p[2];
        if (pid == 0x1fff)
            continue;
        if (p[3] & 0x10) {
            const int cc = p[3] & 0x0f;
            const auto it = lastCc.find(pid);
            if (it != lastCc.end()) {
                ASSERT_EQ(cc, (it->second + 1) & 0x0f) << "PID " << pid << " at " << at;
            }
            lastCc[pid] = cc;
        }
        if ((p[3] & 0x20) && p[4] >= 7 && (p[5] & 0x10)) {
            if (pcrPid < 0)
                pcrPid = pid;
            if (pid != pcrPid)
                continue;
            const long long pcr =
                (static_cast<long long>(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
            ASSERT_GT(pcr, lastPcr) << "clock went back at " << at;
            lastPcr = pcr;
            ++pcrs;
        }
    }
    EXPECT_GT(pcrs, 120) << "the built stream carries a clock";
}

// The UDP stream command sends 7-packet datagrams to the target until all streams are killed.
TEST_F(BoxSimTest, UdpStreamStartsAndStops) {
    BoxSimProcess sim(QStringLiteral("127.0.42.7"));
    startSim(sim);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(31330);
    inet_pton(AF_INET, "127.0.42.7", &sa.sin_addr);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);

    EXPECT_EQ(get(sim, "/control/exec?api udp_stream start 127.0.42.7 31330 0 0x0064 0x00FF 0x0100 0x0101").body, "ok");
    int datagrams = 0;
    const QDeadlineTimer deadline(10000);
    while (datagrams < 20 && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char buf[2048];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        ASSERT_EQ(n, 7 * 188);
        for (int i = 0; i < 7; ++i)
            ASSERT_EQ(uchar(buf[i * 188]), 0x47);
        ++datagrams;
    }
    EXPECT_EQ(datagrams, 20);
    EXPECT_EQ(sim.state().value("udp_running"), "1");
    EXPECT_EQ(get(sim, "/control/exec?api udp_stream kill_all_streams").body, "ok");
    EXPECT_EQ(sim.state().value("udp_running"), "0");
    // Drain what was in flight, then nothing more arrives.
    char buf[2048];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 500), 0);

    // A drop fault on "udp" ends the next stream after that many bytes: here ten datagrams.
    ASSERT_TRUE(sim.setFault("udp", "drop", 10 * 7 * 188, 1));
    EXPECT_EQ(get(sim, "/control/exec?api udp_stream start 127.0.42.7 31330 0 0x0064 0x00FF 0x0100").body, "ok");
    int dropped = 0;
    const QDeadlineTimer dropDeadline(3000);
    while (!dropDeadline.hasExpired()) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, 200) > 0 && recv(fd, buf, sizeof buf, 0) == 7 * 188)
            ++dropped;
    }
    EXPECT_EQ(dropped, 10);
    EXPECT_EQ(get(sim, "/control/exec?api udp_stream kill_all_streams").body, "ok");
    ::close(fd);

    // Only loopback targets are served.
    EXPECT_EQ(get(sim, "/control/exec?api udp_stream start 192.168.0.10 31330 0 0x0064 0x00FF 0x0100").body, "error");
    EXPECT_EQ(sim.state().value("udp_running"), "0");
    EXPECT_EQ(sim.requests("udp"),
              (QStringList{"start 127.0.42.7 31330 0 0x0064 0x00FF 0x0100 0x0101", "kill_all_streams",
                           "start 127.0.42.7 31330 0 0x0064 0x00FF 0x0100", "kill_all_streams"}));
}

// The remote VLC as VLC 0.8 reads requests: a raw blank cuts the target (the add is dropped), an
// escaped one does not; items get ids from 4 on under the node "General" (3), never reused; their
// links show the item text and its MRL; a stream is served while an item plays.
TEST_F(BoxSimTest, RemoteVlcPlaylistAndStream) {
    BoxSimProcess sim(QStringLiteral("127.0.42.8"));
    startSim(sim);
    const auto vlc = [&sim](const QByteArray& target) { return BoxSimProcess::httpGet(sim.address(), 8080, target); };
    EXPECT_TRUE(vlc("/").body.contains("VLC media player"));
    EXPECT_EQ(vlc("/?control=empty").status, 200);
    vlc("/?control=add&mrl= udp://@:31330 :udp-caching=1200");
    EXPECT_EQ(sim.state().value("vlc_items"), "0") << "cut at the raw blank";
    vlc("/?control=add&mrl=%20http://127.0.42.8:31339/0,0x0064,0x00FF,0x0100%20:http-caching=1200%20"
        ":sout=%23transcode{vcodec=h264,vb=400}:duplicate{dst=std{access=http,mux=asf,dst=127.0.42.8:31331}}&x=1");
    vlc("/?control=empty");
    vlc("/?control=add&mrl=udp://@:31330+:udp-caching=1200");
    const QByteArray page = vlc("/").body;
    EXPECT_EQ(page.count("<a href=\"?control=play&amp;item="), 2);
    EXPECT_TRUE(page.contains("<a href=\"?control=play&amp;item=3\">\nGeneral"));
    EXPECT_TRUE(
        page.contains("<a href=\"?control=play&amp;item=5\">\nudp://@:31330 :udp-caching=1200  (udp://@:31330)</a>"))
        << page.constData();
    EXPECT_EQ(sim.state().value("vlc_item5"), "udp://@:31330 :udp-caching=1200");

    EXPECT_EQ(BoxSimProcess::httpGet(sim.address(), 31331, "/").status, 404);
    vlc("/?control=play&item=5");
    EXPECT_EQ(sim.state().value("vlc_playing"), "5");
    RawClient s(sim.address(), 31331);
    ASSERT_TRUE(s.send("GET / HTTP/1.0\r\n\r\n"));
    s.read(10000, {}, 20000);
    ASSERT_TRUE(s.buffer().startsWith("HTTP/1.0 200 OK"));
    expectTsPackets(s.buffer().mid(s.buffer().indexOf("\r\n\r\n") + 4), 10000);
    vlc("/?control=stop");
    s.read(5000);
    EXPECT_TRUE(s.closed()); // stopping ends the served stream
    EXPECT_EQ(sim.state().value("vlc_playing"), "-1");
}

// The telnet shell logs in with user and password and runs the client's commands.
TEST_F(BoxSimTest, TelnetLoginAndCommands) {
    BoxSimProcess sim(QStringLiteral("127.0.42.9"), {"--telnet-password", "dbox2"});
    startSim(sim);
    {
        RawClient bad(sim.address(), 23);
        bad.read(5000, "login: ");
        bad.send("root\r");
        bad.read(5000, "Password: ");
        bad.send("wrong\r");
        bad.read(5000, "Login incorrect");
        EXPECT_TRUE(telnetText(bad.buffer()).contains("Login incorrect"));
    }
    RawClient t(sim.address(), 23);
    ASSERT_TRUE(t.connected());
    t.read(5000, "login: ");
    ASSERT_TRUE(t.buffer().contains("login: "));
    t.send("root\r");
    t.read(5000, "Password: ");
    ASSERT_TRUE(t.buffer().contains("Password: "));
    t.buffer().clear();
    t.send("dbox2\r");
    t.read(5000, "# ");
    ASSERT_TRUE(t.buffer().contains("~ # ")) << telnetText(t.buffer()).constData();

    t.send("/bin/dboxshot -o /tmp/a.bmp\r");
    t.buffer().clear();
    t.read(5000, "# ");
    EXPECT_EQ(sim.state().value("screenshots"), "1");
    // The file as the web server serves it: cacheable for a day, 304 to a client that has it, and
    // written as the screenshot tool writes it: 8 bits with the framebuffer's palette, whose fourth
    // byte is the transparency, and an image size field 1024 too large.
    const Reply shot = get(sim, "/tmp/a.bmp");
    ASSERT_EQ(shot.status, 200);
    const auto header = [&shot](const char* name) {
        for (const QByteArray& line : shot.head.split('\n'))
            if (line.startsWith(name))
                return line.mid(int(qstrlen(name))).trimmed();
        return QByteArray();
    };
    const QByteArray modified = header("Last-Modified:");
    QDateTime expires = QLocale::c().toDateTime(QString::fromLatin1(header("Expires:")),
                                                QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    expires.setTimeSpec(Qt::UTC);
    EXPECT_FALSE(modified.isEmpty());
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(expires), 24 * 3600, 5);
    const QByteArray& bmp = shot.body;
    const auto le32 = [&bmp](int at) { return qFromLittleEndian<quint32>(bmp.constData() + at); };
    ASSERT_GE(bmp.size(), 1078);
    EXPECT_EQ(le32(2), quint32(bmp.size()));
    EXPECT_EQ(le32(10), 1078u);
    EXPECT_EQ(le32(18), 360u);
    EXPECT_EQ(le32(22), 288u);
    EXPECT_EQ(qFromLittleEndian<quint16>(bmp.constData() + 28), 8);
    EXPECT_EQ(le32(34), 360u * 288u + 1024u);
    EXPECT_EQ(bmp.size(), 1078 + 360 * 288);
    EXPECT_EQ(quint8(bmp[54 + 4 * quint8(bmp[1078]) + 3]), 0xFF) << "the bottom left corner shows nothing drawn";
    const Reply again = get(sim, "/tmp/a.bmp", 5000, "If-Modified-Since: " + modified + "\r\n");
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.body.isEmpty());
    ASSERT_TRUE(sim.setState("screen", "plain"));
    const Reply plain = get(sim, "/tmp/a.bmp");
    EXPECT_EQ(qFromLittleEndian<quint16>(plain.body.constData() + 28), 24);

    t.send("killall nhttpd\r");
    t.buffer().clear();
    t.read(5000, "# ");
    EXPECT_FALSE(get(sim, "/control/getmode", 2000).ok); // the web server is gone
    t.send("nhttpd\r");
    t.buffer().clear();
    t.read(5000, "# ");
    EXPECT_EQ(get(sim, "/control/getmode").body, "tv");

    t.send("passwd\r");
    t.read(5000, "new password: ");
    t.send("\x03");
    t.buffer().clear();
    t.read(5000, "# ");
    EXPECT_TRUE(t.buffer().contains("^C"));
    t.send("exit\r");
    t.read(5000);
    EXPECT_TRUE(t.closed());
    EXPECT_EQ(sim.requests("telnet"), (QStringList{"root", "wrong", "root", "dbox2", "/bin/dboxshot -o /tmp/a.bmp",
                                                   "killall nhttpd", "nhttpd", "passwd", "^C", "exit"}));
}

// A data file replaces the built-in data set; UTF-8 names go out as UTF-8.
TEST_F(BoxSimTest, LoadsDataFile) {
    TestDir dir;
    ASSERT_TRUE(dir.write("box.json", R"({"encoding": "utf-8", "bouquets": [
        {"name": "Größte", "tv": [{"id": "ABC1", "name": "Eins", "epg": [{"title": "Jetzt", "durationMin": 60}]}],
         "radio": []}]})"));
    BoxSimProcess sim(QStringLiteral("127.0.42.10"), {"--data", dir.path("box.json")});
    startSim(sim);
    EXPECT_EQ(get(sim, "/control/getbouquets").body, "1 Gr\xC3\xB6\xC3\x9Fte\n");
    EXPECT_EQ(get(sim, "/control/zapto").body, "abc1");
    EXPECT_TRUE(get(sim, "/control/epg?ext").body.startsWith("abc1 "));
    EXPECT_TRUE(get(sim, "/control/epg?ext").body.endsWith(" Jetzt\n"));
}

// boxsim refuses bad arguments and ends cleanly on SIGTERM.
TEST_F(BoxSimTest, StartsAndStopsCleanly) {
    BoxSimProcess bad(QStringLiteral("127.0.42.11"), {"--fault", "/control/zapto=nonsense"});
    EXPECT_FALSE(bad.start(5000));
    EXPECT_FALSE(bad.isRunning());
    EXPECT_NE(bad.exitCode(), 0);

    BoxSimProcess sim(QStringLiteral("127.0.42.11"));
    startSim(sim);
    ASSERT_TRUE(sim.setFault("/control/getmode", "silent"));
    RawClient hanging(sim.address(), 80);
    ASSERT_TRUE(hanging.send("GET /control/getmode HTTP/1.0\r\n\r\n"));
    sim.stop();
    EXPECT_FALSE(sim.isRunning());
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(BoxSimProcess::httpGet(QStringLiteral("127.0.42.11"), 80, "/control/getmode", 1000).ok);
}
