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

namespace {

using Reply = BoxSimProcess::Reply;

Reply get(BoxSimProcess& sim, const QByteArray& target, int timeoutMs = 5000, const QByteArray& headers = {}) {
    return BoxSimProcess::httpGet(sim.address(), sim.httpPort(), target, timeoutMs, headers);
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

class BoxSimTest : public ::testing::Test {
protected:
    void startSim(BoxSimProcess& sim) { ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString(); }
};

} // namespace

// The clock is the PC's: a wrong one would shift every programme time while program and simulator
// still agreed. Unknown targets, and a screenshot not made yet, are not found.
TEST_F(BoxSimTest, ClockAndUnknownTargets) {
    BoxSimProcess sim(QStringLiteral("127.0.42.1"));
    startSim(sim);
    const Reply t = get(sim, "/control/gettime?rawtime");
    ASSERT_TRUE(t.ok);
    EXPECT_NEAR(t.body.toLongLong(), (long long)std::time(nullptr), 5);
    EXPECT_EQ(get(sim, "/tmp/a.bmp").status, 404) << "no screenshot made yet";
    EXPECT_EQ(get(sim, "/control/nosuchthing").status, 404);
}

// What the firmware refuses, which no program scenario would notice: an unknown key is an error,
// a radio channel is refused in TV mode and taken in radio mode, an unknown id zaps nowhere.
TEST_F(BoxSimTest, ReceiverRefusals) {
    BoxSimProcess sim(QStringLiteral("127.0.42.2"));
    startSim(sim);
    EXPECT_EQ(get(sim, "/control/rcem?KEY_NONSENSE").body, "error");
    EXPECT_EQ(get(sim, "/control/zapto?44100016e54").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "43700016d66");
    EXPECT_EQ(get(sim, "/control/setmode?radio").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto?44100016e54").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "44100016e54");
    EXPECT_EQ(get(sim, "/control/setmode?tv").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto?1000f0001").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto?123456789").body, "ok");
    EXPECT_EQ(get(sim, "/control/zapto").body, "1000f0001");
}

// The fault knobs that no program scenario can tell apart from a slow or broken network spoil the
// answer the way they say, for their endpoint only; a target with its query is more specific than
// the path, and "*" covers the rest (the silent-receiver scenarios rely on it).
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

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "close"));
    const Reply closed = get(sim, "/control/getbouquets", 3000);
    EXPECT_FALSE(closed.ok);
    EXPECT_TRUE(closed.raw.isEmpty());

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "drop", 10));
    const Reply dropped = get(sim, "/control/getbouquets");
    EXPECT_EQ(dropped.raw, "HTTP/1.0 2");

    ASSERT_TRUE(sim.setFault("/control/getbouquets", "huge"));
    const Reply huge = get(sim, "/control/getbouquets", 60000);
    ASSERT_TRUE(huge.ok);
    EXPECT_EQ(huge.body.size(), 50 * 1024 * 1024);

    ASSERT_TRUE(sim.setFault("/control/zapto?getallpids", "empty"));
    ASSERT_TRUE(sim.setFault("*", "timeout-text"));
    EXPECT_TRUE(get(sim, "/control/zapto?getallpids").body.isEmpty());
    EXPECT_EQ(get(sim, "/control/zapto").body, "timeout");
    ASSERT_TRUE(sim.clearFaults());
    EXPECT_EQ(get(sim, "/control/zapto").body, "43700016d66");
}

// A drop fault on the TV stream cuts it after that many bytes of the body.
TEST_F(BoxSimTest, StreamDropCutsTheStream) {
    BoxSimProcess sim(QStringLiteral("127.0.42.6"));
    startSim(sim);
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

// The UDP sender serves loopback targets only: it never sends off the machine.
TEST_F(BoxSimTest, UdpStreamOnlyToLoopback) {
    BoxSimProcess sim(QStringLiteral("127.0.42.7"));
    startSim(sim);
    EXPECT_EQ(get(sim, "/control/exec?api udp_stream start 192.168.0.10 31330 0 0x0064 0x00FF 0x0100").body, "error");
    EXPECT_EQ(sim.state().value("udp_running"), "0");
}

// The screenshot tool run in the telnet shell writes its file as the real one does, and the web
// server serves it as the receiver's does.
TEST_F(BoxSimTest, TelnetScreenshotFile) {
    BoxSimProcess sim(QStringLiteral("127.0.42.9"), {"--telnet-password", "dbox2"});
    startSim(sim);
    RawClient t(sim.address(), 23);
    ASSERT_TRUE(t.connected());
    t.read(5000, "login: ");
    t.send("root\r");
    t.read(5000, "Password: ");
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
