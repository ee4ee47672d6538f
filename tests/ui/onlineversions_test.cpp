// Online mode in the running program against the remote VLCs users run: the stand-in in the
// behaviours of VLC 0.8.5 and 0.8.6, and a real VLC 3 with its Lua interface; and every [VLC] and
// [Online Stream] key as the requests and the engine show it, from the start and after the
// options dialog's OK.
#include "onlinefixture.h"

#include "support/rawhttpserver.h"
#include "ui/optionsdialog.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {

struct VersionCase {
    const char* name;
    const char* address;
    QStringList simArgs;
    QByteArray extraIni;  // lines after the fixture's settings
    const char* stateKey; // set on the stand-in before the start, or nullptr
    const char* stateValue;
    bool connects;
    const char* playTarget; // the play request of the first switch
    bool plays;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.name;
}

class VlcVersions : public OnlineFixture, public ::testing::WithParamInterface<VersionCase> {};

} // namespace

// The page as the interface documents it (the items alone, from 0) gives its one item. VLC 0.8.5
// lists the node "General" (id 3) before the items: the item just added is played, and
// hundreds of announced streams after it do not mislead. 0.8.6 has no play links at "/" (and a
// status page that a configured password must not take for VLC 3): the play request goes out
// without an item and VLC plays its current one. A PC missing from 0.8.5's .hosts gets 403 pages:
// not reachable, the start ends with its text. An add that VLC dropped leaves only the node's
// link: it is played, nothing comes, and the status line says so.
TEST_P(VlcVersions, FirstSwitch) {
    const VersionCase& c = GetParam();
    const QString address = QString::fromLatin1(c.address);
    ASSERT_TRUE(startSim(address, c.simArgs));
    if (c.stateKey) {
        ASSERT_TRUE(sim().setState(QString::fromLatin1(c.stateKey), QString::fromLatin1(c.stateValue)));
    }
    const ConnectionOutcome out = start(ini(address, "online", {}, c.extraIni));
    if (!c.connects) {
        EXPECT_EQ(out, ConnectionOutcome::NoConnection);
        EXPECT_EQ(status(), QStringLiteral("no connection to dbox or vlc remote!"));
        EXPECT_TRUE(logSince(0).contains(QLatin1String("(403)"))) << "the log says why";
        EXPECT_EQ(vlcTargets(), QStringList{QStringLiteral("/")});
        return;
    }
    ASSERT_EQ(out, ConnectionOutcome::Connected) << status().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app().playerInitialised() && !IsStarting && !IsSwitching; }, 30000));
    const QStringList targets = vlcTargets();
    ASSERT_FALSE(targets.isEmpty());
    EXPECT_EQ(targets.last(), QString::fromLatin1(c.playTarget)) << targets.join(QLatin1Char('\n')).toStdString();
    if (c.plays) {
        EXPECT_TRUE(movingPicture());
    } else {
        EXPECT_EQ(status(), QStringLiteral("no stream from remote vlc!"));
        EXPECT_FALSE(app().player().isPlaying());
    }
}
INSTANTIATE_TEST_SUITE_P(Remote, VlcVersions,
                         ::testing::Values(VersionCase{"PlainPage",
                                                       "127.0.124.15",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("plain")},
                                                       {},
                                                       nullptr,
                                                       nullptr,
                                                       true,
                                                       "/?control=play&item=0",
                                                       true},
                                           VersionCase{"Vlc085",
                                                       "127.0.124.10",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("0.8.5")},
                                                       {},
                                                       nullptr,
                                                       nullptr,
                                                       true,
                                                       "/?control=play&item=4",
                                                       true},
                                           VersionCase{"Vlc085ManyAnnouncedStreams",
                                                       "127.0.124.11",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("0.8.5")},
                                                       {},
                                                       "vlc_sap",
                                                       "300",
                                                       true,
                                                       "/?control=play&item=305",
                                                       true},
                                           VersionCase{"Vlc086",
                                                       "127.0.124.12",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("0.8.6")},
                                                       "[Extras]\nvlcpassword=not-for-0.8.6\n",
                                                       nullptr,
                                                       nullptr,
                                                       true,
                                                       "/?control=play&item=",
                                                       true},
                                           VersionCase{"NotInHosts",
                                                       "127.0.124.13",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("0.8.5"),
                                                        QStringLiteral("--vlc-hosts"), QStringLiteral("127.0.0.2")},
                                                       {},
                                                       nullptr,
                                                       nullptr,
                                                       false,
                                                       nullptr,
                                                       false},
                                           VersionCase{"AddDropped",
                                                       "127.0.124.14",
                                                       {QStringLiteral("--vlc-version"), QStringLiteral("0.8.5")},
                                                       {},
                                                       "vlc_add",
                                                       "fail",
                                                       true,
                                                       "/?control=play&item=3",
                                                       false}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             return std::string(info.param.name);
                         });

namespace {

// A real VLC 3 with the Lua HTTP interface, run as an unprivileged user (VLC refuses root), on the
// receiver's address as a user runs it at the receiver's site.
class Vlc3 : public OnlineFixture {
protected:
    static constexpr const char* kAddress = "127.0.124.20";
    static inline const QString kPassword = QStringLiteral("Zq7-remote-secret");

    void SetUp() override {
        OnlineFixture::SetUp();
        if (IsSkipped())
            return;
        const QString cvlc = QStandardPaths::findExecutable(QStringLiteral("cvlc"));
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        ASSERT_FALSE(cvlc.isEmpty() || setpriv.isEmpty()) << "cvlc (vlc-bin) and setpriv are needed";
        ASSERT_TRUE(
            startSim(QString::fromLatin1(kAddress), {QStringLiteral("--vlc-port"), QStringLiteral("0"),
                                                     QStringLiteral("--vlc-stream-port"), QStringLiteral("0")}));
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
        m_vlc.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                              QStringLiteral("--clear-groups"), cvlc, QStringLiteral("--quiet"),
                              QStringLiteral("--intf"), QStringLiteral("http"), QStringLiteral("--http-host"),
                              QString::fromLatin1(kAddress), QStringLiteral("--http-port"), QStringLiteral("8080"),
                              QStringLiteral("--http-password"), kPassword, QStringLiteral("--no-dbus")});
        ASSERT_TRUE(m_vlc.waitForStarted(5000));
        QDeadlineTimer up(15000);
        while (!up.hasExpired() &&
               BoxSimProcess::httpGet(QString::fromLatin1(kAddress), 8080, "/requests/status.xml", 1000).status != 401)
            QThread::msleep(100);
        ASSERT_FALSE(up.hasExpired()) << "cvlc did not start its HTTP interface";
    }
    void TearDown() override {
        OnlineFixture::TearDown();
        if (m_vlc.state() != QProcess::NotRunning) {
            m_vlc.terminate();
            if (!m_vlc.waitForFinished(5000)) {
                m_vlc.kill();
                m_vlc.waitForFinished(2000);
            }
        }
    }
    QString vlcState() {
        const QByteArray auth = "Authorization: Basic " + QByteArray(":" + kPassword.toUtf8()).toBase64() + "\r\n";
        const BoxSimProcess::Reply r =
            BoxSimProcess::httpGet(QString::fromLatin1(kAddress), 8080, "/requests/status.xml", 3000, auth);
        const qsizetype a = r.body.indexOf("<state>");
        const qsizetype b = r.body.indexOf("</state>");
        return a >= 0 && b > a ? QString::fromLatin1(r.body.mid(a + 7, b - a - 7)) : QString();
    }

    TestDir m_home;
    QProcess m_vlc;
};

} // namespace

// VLC 3 is recognised with the password of the settings: the program empties its playlist, has it
// fetch the box stream and transcode it with the default chain, and plays what it serves; a switch
// stops it first. The password never reaches the log. A wrong one (set in the options dialog) makes
// the remote unreachable for the toggle.
TEST_F(Vlc3, DetectedDrivenAndPasswordKept) {
    const QString a = QString::fromLatin1(kAddress);
    const QByteArray settings =
        "[General]\nmode=online\nip_inet=" + a.toLatin1() + "\n[D-Box2]\nip_lan=" + a.toLatin1() +
        "\ndboxport=80\n[VLC]\nvlcip=" + a.toLatin1() +
        "\nvlcport=8080\nstreamport_http=31331\ncacheonline=2000\n[Extras]\nvlcpassword=" + kPassword.toUtf8() + "\n";
    ASSERT_EQ(start(settings), ConnectionOutcome::Connected) << status().toStdString();
    ASSERT_TRUE(firstSwitchPlays());
    EXPECT_TRUE(sim().requestTargets(QStringLiteral("tv")).contains(QStringLiteral("/0,0x0064,0x00FF,0x0100,0x0101")))
        << "VLC fetched the address the stream setup built";
    EXPECT_EQ(vlcState(), QStringLiteral("playing"));
    EXPECT_TRUE(movingPicture(45000));

    ASSERT_TRUE(sim().clearRequests());
    ASSERT_TRUE(chooseChannel(QStringLiteral("ZDF")));
    EXPECT_TRUE(sim().requestTargets(QStringLiteral("tv")).value(0).startsWith(QLatin1String("/0,0x0100,0x006E,")));
    EXPECT_TRUE(movingPicture(45000));

    const QByteArray log = logSince(0).toUtf8();
    const qsizetype stop = log.indexOf("status.xml?command=pl_stop");
    const qsizetype empty = log.indexOf("status.xml?command=pl_empty", stop);
    EXPECT_TRUE(stop > 0 && empty > stop) << "a switch stops the remote first";
    EXPECT_TRUE(log.contains("status.xml?command=in_play&input="));
    EXPECT_FALSE(log.contains(kPassword.toUtf8()));
    EXPECT_FALSE(log.contains(QByteArray(":" + kPassword.toUtf8()).toBase64()));

    // "Online Mode" off stops the remote. Options > VLC: a wrong password, OK; on finds no remote.
    QAction* online = window().menu().OnlineMode1;
    ASSERT_TRUE(online->isChecked());
    online->trigger();
    EXPECT_FALSE(online->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return vlcState() == QLatin1String("stopped"); }, 10000))
        << vlcState().toStdString();
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->setControlValue(SettingId::VlcPassword, QStringLiteral("wrong-one"));
        dialog->okButton()->click();
    });
    window().menu().ProgramSettings1->trigger();
    online->trigger();
    EXPECT_FALSE(online->isChecked());
    EXPECT_EQ(status(), QStringLiteral("remote vlc is not available!"));
    EXPECT_TRUE(dir().read(QStringLiteral("Quoxel.ini")).contains("vlcpassword=wrong-one"));
    EXPECT_TRUE(logSince(0).contains(QLatin1String("vlcpassword=***"))) << "the settings copy at the log's head";
    EXPECT_FALSE(logSince(0).contains(QLatin1String("wrong-one")));
}

namespace {

// What the program sent and played, once from the settings file and once after the dialog's OK.
struct Seen {
    QString add;         // the remote's add request, decoded
    QStringList vlcUrls; // every remote-VLC command URL in the log
    QString vlcPort;     // the port its remote listened on
    QString udpStart;    // the box's UDP start command
    QString onlineMrl;   // the engine's target in online mode
    QStringList onlineOptions;
    QString liveMrl; // and in live mode
    QStringList liveOptions;
};

struct KeyCase {
    const char* section;
    const char* key;
    const char* fileValue;   // in Quoxel.ini at the start
    const char* dialogValue; // typed into the options dialog
    std::function<bool(const Seen&, const QString& value)> shows;
};

void PrintTo(const KeyCase& k, std::ostream* out) {
    *out << k.key;
}

class SettingKeys : public ::testing::TestWithParam<KeyCase> {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { s_seen.reset(); }

protected:
    static inline std::unique_ptr<std::pair<Seen, Seen>> s_seen;
    static inline QString s_failure;
};

QString rawAdd(const RawHttpServer& remote) {
    for (const QByteArray& r : remote.requests()) {
        const QByteArray line = r.left(r.indexOf("\r\n"));
        if (line.contains("?control=add"))
            return QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(4, line.lastIndexOf(" HTTP/") - 4)));
    }
    return QString();
}

// The options dialog as a user fills it: a value per key, then OK.
void fillOptions(const std::function<void(TFrmOptions&)>& fill) {
    QTimer::singleShot(0, [fill] {
        if (auto* dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget())) {
            fill(*dialog);
            dialog->okButton()->click();
        }
    });
}

} // namespace

const KeyCase kKeys[] = {
    {"VLC", "vlcip", "127.0.124.77", "127.0.124.78",
     [](const Seen& s, const QString& v) {
         return s.add.endsWith(QStringLiteral(",dst=") + v + QStringLiteral(":") + s.onlineMrl.section(':', -1) +
                               QStringLiteral("}}")) &&
                s.udpStart.contains(QStringLiteral(" start ") + v + QLatin1Char(' '));
     }},
    {"VLC", "vlcport", "", "", // the two remotes' ports, filled in at run time
     [](const Seen& s, const QString& v) {
         return !s.add.isEmpty() && !s.vlcUrls.isEmpty() &&
                std::all_of(s.vlcUrls.begin(), s.vlcUrls.end(), [&](const QString& u) {
                    return u.startsWith(QStringLiteral("http://127.0.124.30:") + v + QLatin1Char('/'));
                });
     }},
    {"VLC", "streamport_http", "31401", "31402",
     [](const Seen& s, const QString& v) {
         return s.onlineMrl == QStringLiteral("http://127.0.124.30:") + v && s.add.endsWith(v + QStringLiteral("}}"));
     }},
    {"VLC", "streamport_udp", "31411", "31412",
     [](const Seen& s, const QString& v) {
         return s.add.contains(QStringLiteral("mrl= udp://@:") + v + QLatin1Char(' ')) &&
                s.liveMrl == QStringLiteral("udp://@:") + v;
     }},
    {"VLC", "cacheonline", "700", "900",
     [](const Seen& s, const QString& v) {
         return s.add.contains(QStringLiteral(" :udp-caching=") + v + QLatin1Char(' ')) &&
                s.onlineOptions.value(0) == QStringLiteral(":udp-caching=") + v;
     }},
    {"VLC", "cachelive", "300", "400",
     [](const Seen& s, const QString& v) { return s.liveOptions.value(0) == QStringLiteral(":udp-caching=") + v; }},
    {"Online Stream", "vcodec", "mp4v", "theo",
     [](const Seen& s, const QString& v) { return s.add.contains("{vcodec=" + v + ","); }},
    {"Online Stream", "vbitrate", "321", "654",
     [](const Seen& s, const QString& v) { return s.add.contains(",vb=" + v + ","); }},
    {"Online Stream", "vscale", "0,45", "0,7",
     [](const Seen& s, const QString& v) { return s.add.contains(",scale=" + QString(v).replace(',', '.') + ","); }},
    {"Online Stream", "acodec", "vorb", "flac",
     [](const Seen& s, const QString& v) { return s.add.contains(",acodec=" + v + ","); }},
    {"Online Stream", "abitrate", "48", "112",
     [](const Seen& s, const QString& v) { return s.add.contains(",ab=" + v + ","); }},
    {"Online Stream", "achannels", "1", "6",
     [](const Seen& s, const QString& v) { return s.add.contains(",channels=" + v + "}"); }},
};

namespace {

// One program from a settings file with a distinct value for every key, UDP streaming in online
// mode; then live by the toggle; then the dialog's values, online and live again. No transcoding:
// two scripted remotes (one per port) answer like VLC 0.8.
void runKeysProgram(std::pair<Seen, Seen>& seen, QString& failure) {
    const QString a = QStringLiteral("127.0.124.30");
    BoxSimProcess sim(a, {QStringLiteral("--telnet-port"), QStringLiteral("0"), QStringLiteral("--vlc-port"),
                          QStringLiteral("0"), QStringLiteral("--vlc-stream-port"), QStringLiteral("0")});
    const RawHttpServer::Script page =
        RawHttpServer::answer("<html><title>VLC media player</title><a href=\"?control=play&amp;item=4\">x</a></html>");
    RawHttpServer first("127.0.124.30");
    RawHttpServer second("127.0.124.30");
    first.setScript(page);
    second.setScript(page);
    if (!sim.start() || !first.listening() || !second.listening()) {
        failure = QStringLiteral("simulator or remotes did not start");
        return;
    }
    QByteArray ini = "[General]\nmode=online\nstreamtype=udp\nip_inet=127.0.124.30\nip_pc=127.0.124.30\n"
                     "[D-Box2]\nip_lan=127.0.124.30\ndboxport=80\n";
    for (const char* section : {"VLC", "Online Stream"}) {
        ini += QByteArray("[") + section + "]\n";
        for (const KeyCase& k : kKeys) {
            if (QByteArray(k.section) == section)
                ini += QByteArray(k.key) + "=" +
                       (QByteArray(k.key) == "vlcport" ? QByteArray::number(first.port()) : QByteArray(k.fileValue)) +
                       "\n";
        }
    }
    TestDir dir;
    dir.write(QStringLiteral("Quoxel.ini"), ini);
    quoxel::QuoxelProgram program(dir.path(QStringLiteral("Quoxel.ini")));
    quoxel::AppController& app = program.controller();
    if (program.start() != ConnectionOutcome::Connected ||
        !QTest::qWaitFor([&] { return app.playerInitialised() && !IsStarting && !IsSwitching; }, 30000)) {
        failure = QStringLiteral("the program did not start: ") + program.window().statusPanel(0)->text();
        return;
    }
    QAction* online = program.window().menu().OnlineMode1;
    const auto observe = [&](Seen& s, RawHttpServer& remote, qint64 mark) {
        s.vlcPort = QString::number(remote.port());
        s.add = rawAdd(remote);
        s.onlineMrl = app.player().VlcMrl();
        s.onlineOptions = app.player().engine()->targetOptions();
        for (const QString& t : OnlineFixture::decoded(sim.requestTargets()))
            if (t.contains(QLatin1String("udp_stream start")))
                s.udpStart = t;
        QFile log(appLogger().filePath());
        if (log.open(QIODevice::ReadOnly) && log.seek(mark)) {
            for (const QString& line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
                const qsizetype at = line.indexOf(QLatin1String("http://127.0.124.30:"));
                if (at >= 0 && line.contains(QLatin1String("control=")))
                    s.vlcUrls.append(line.mid(at));
            }
        }
        online->trigger(); // to live: the same channel plays from the box
        s.liveMrl = app.player().VlcMrl();
        s.liveOptions = app.player().engine()->targetOptions();
    };
    observe(seen.first, first, 0);

    fillOptions([&](TFrmOptions& dialog) {
        for (const KeyCase& k : kKeys) {
            const SettingId id = [&] {
                for (const SettingDef& d : settingsTable())
                    if (QByteArray(d.key) == k.key)
                        return d.id;
                return SettingId::Count;
            }();
            dialog.setControlValue(id, QByteArray(k.key) == "vlcport" ? QString::number(second.port())
                                                                      : QString::fromLatin1(k.dialogValue));
        }
    });
    program.window().menu().ProgramSettings1->trigger();
    sim.clearRequests();
    const qint64 mark = QFile(appLogger().filePath()).size();
    online->trigger(); // back online: the new remote, the new values
    if (!online->isChecked()) {
        failure = QStringLiteral("online again refused: ") + program.window().statusPanel(0)->text();
        return;
    }
    observe(seen.second, second, mark);
    program.window().close();
}

} // namespace

void SettingKeys::SetUpTestSuite() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    ProgramRun::resetFlags();
    s_seen = std::make_unique<std::pair<Seen, Seen>>();
    runKeysProgram(*s_seen, s_failure);
    ProgramRun::resetFlags();
}

// Each key, changed in Quoxel.ini, shows in the requests or the engine's options from the start;
// changed in the options dialog, it shows after OK.
TEST_P(SettingKeys, ReachesItsUsers) {
    if (!s_seen)
        GTEST_SKIP() << "needs an X display (xcb)";
    ASSERT_TRUE(s_failure.isEmpty()) << s_failure.toStdString();
    const KeyCase& k = GetParam();
    const bool port = QByteArray(k.key) == "vlcport";
    const QString atStart = port ? s_seen->first.vlcPort : QString::fromLatin1(k.fileValue);
    const QString afterOk = port ? s_seen->second.vlcPort : QString::fromLatin1(k.dialogValue);
    EXPECT_TRUE(k.shows(s_seen->first, atStart)) << s_seen->first.add.toStdString();
    EXPECT_TRUE(k.shows(s_seen->second, afterOk)) << s_seen->second.add.toStdString();
    EXPECT_NE(atStart, afterOk);
}
INSTANTIATE_TEST_SUITE_P(Ini, SettingKeys, ::testing::ValuesIn(kKeys),
                         [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.key); });
