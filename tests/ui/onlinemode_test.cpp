// Online mode in the running program against the simulator's remote-VLC stand-in, which really
// transcodes the box stream: start, switches, radio and UDP, the "Online Mode" toggle, and a remote
// that is down or answers badly.
#include "onlinefixture.h"

#include <QClipboard>

namespace {

const QString kA = QStringLiteral("127.0.124.1");
const QString kB = QStringLiteral("127.0.124.2");
const QString kC = QStringLiteral("127.0.124.3");
const QString kE = QStringLiteral("127.0.124.4");

// The transcode chain of the fixture's settings, closed with the remote's own stream address.
QString videoChain(const QString& address) {
    return QStringLiteral(":sout=#transcode{vcodec=mp2v,vb=800,scale=0.5,acodec=mpga,ab=96,channels=2}:duplicate{"
                          "dst=std{access=http,mux=asf,dst=") +
           address + QStringLiteral(":31331}}");
}

QString addRequest(const QString& mrl, const QString& cache, const QString& chain) {
    return QStringLiteral("/?control=add&mrl= ") + mrl + QLatin1Char(' ') + cache + QLatin1Char(' ') + chain;
}

using OnlineMode = OnlineFixture;

} // namespace

// Mode online from the settings: the start asks the remote's page; the first switch empties its
// playlist, adds the box stream with the configured chain (blanks and '#' escaped, so VLC 0.8 does
// not cut the request), finds the new item after the node "General", plays it, and the picture the
// program fetches from the stream port moves on the screen. "Copy Stream URL" gives that address;
// a switch stops the remote before the next add; the close stops it.
TEST_F(OnlineMode, PlaysSwitchesAndCloses) {
    ASSERT_TRUE(startSim(kA));
    ASSERT_EQ(start(ini(kA, "online", {}, {})), ConnectionOutcome::Connected) << status().toStdString();
    ASSERT_TRUE(firstSwitchPlays());
    const QString source = QStringLiteral("http://127.0.124.1:31339/0,0x0064,0x00FF,0x0100,0x0101");
    EXPECT_EQ(vlcTargets(), (QStringList{QStringLiteral("/"), QStringLiteral("/?control=empty"),
                                         addRequest(source, QStringLiteral(":http-caching=1000"), videoChain(kA)),
                                         QStringLiteral("/"), QStringLiteral("/?control=play&item=4")}));
    const QString addLine = sim().requests(QStringLiteral("vlc")).value(2);
    EXPECT_TRUE(addLine.contains(QLatin1String("mrl=%20http://")) && addLine.contains(QLatin1String("%23transcode")))
        << addLine.toStdString();
    EXPECT_TRUE(movingPicture());
    EXPECT_FALSE(sim().requestTargets(QStringLiteral("vlcstream")).isEmpty());
    EXPECT_EQ(app().player().VlcMrl(), QStringLiteral("http://127.0.124.1:31331"));
    EXPECT_EQ(app().player().engine()->targetOptions(),
              (QStringList{QStringLiteral(":http-caching=1000"), QStringLiteral(":deinterlace-mode=mean")}));
    // The transcoded size and the configured rates.
    EXPECT_EQ(status(), QStringLiteral("playing HTTP stream...(368x294/mp2v 800kbit/mpga 96kbit)"));

    window().menu().CopyLiveURL1->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://127.0.124.1:31331"));

    ASSERT_TRUE(sim().clearRequests());
    const qint64 mark = logMark();
    ASSERT_TRUE(chooseChannel(QStringLiteral("ZDF")));
    const QStringList switched = vlcTargets();
    ASSERT_EQ(switched.size(), 5) << switched.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(switched[0], QStringLiteral("/?control=stop"));
    EXPECT_EQ(switched[1], QStringLiteral("/?control=empty"));
    EXPECT_TRUE(switched[2].startsWith(QLatin1String("/?control=add&mrl= http://127.0.124.1:31339/0,0x0100,0x006E,")));
    EXPECT_EQ(switched[4], QStringLiteral("/?control=play&item=5")) << "ids are never reused";
    EXPECT_TRUE(sim().requestTargets().contains(QStringLiteral("/control/zapto?437000273f2")));
    // Player stopped, remote stopped, the logged pause, then the engine's playlist cleared.
    const QString log = logSince(mark);
    const qsizetype stop = log.indexOf(QLatin1String("Stop()"));
    const qsizetype remoteStop = log.indexOf(QLatin1String("/?control=stop"));
    const qsizetype clear = log.indexOf(QLatin1String("VLC_PlaylistClear()"));
    ASSERT_TRUE(stop >= 0 && remoteStop > stop && clear > remoteStop) << log.toStdString();
    EXPECT_TRUE(log.mid(remoteStop, clear - remoteStop).contains(QLatin1String("Delay 200ms")));
    EXPECT_TRUE(movingPicture());

    // A remote that no longer answers cannot hold the close.
    ASSERT_TRUE(sim().clearRequests());
    ASSERT_TRUE(sim().setFault(QStringLiteral("vlc"), QStringLiteral("silent")));
    const qint64 closeMark = logMark();
    QElapsedTimer closing;
    closing.start();
    window().close();
    EXPECT_LT(closing.elapsed(), 8000) << "the remote's stop is bounded";
    EXPECT_EQ(vlcTargets(), QStringList{QStringLiteral("/?control=stop")});
    // The close's logged pause comes after the remote's stop and before the player's.
    const QString closeLog = logSince(closeMark);
    const qsizetype closeStop = closeLog.indexOf(QLatin1String("/?control=stop"));
    const qsizetype playerStop = closeLog.indexOf(QLatin1String("Stop()"), closeStop);
    ASSERT_TRUE(closeStop >= 0 && playerStop > closeStop) << closeLog.toStdString();
    EXPECT_TRUE(closeLog.mid(closeStop, playerStop - closeStop).contains(QLatin1String("Delay 200ms")));
}

// UDP stream type: the remote listens on the UDP port, the box is told to send there after the
// local start. A radio channel then goes to the remote as the box's HTTP radio address with the
// audio-only chain, and no UDP start goes to the box.
TEST_F(OnlineMode, UdpTvThenRadio) {
    ASSERT_TRUE(startSim(kB));
    ASSERT_EQ(start(ini(kB, "online", "streamtype=udp\n")), ConnectionOutcome::Connected);
    ASSERT_TRUE(firstSwitchPlays());
    EXPECT_EQ(vlcTargets().value(2),
              addRequest(QStringLiteral("udp://@:31330"), QStringLiteral(":udp-caching=1000"), videoChain(kB)));
    EXPECT_TRUE(decoded(sim().requestTargets())
                    .contains(QStringLiteral(
                        "/control/exec?api udp_stream start 127.0.124.2 31330 0 0x0064 0x00FF 0x0100 0x0101")));
    EXPECT_EQ(app().player().engine()->targetOptions().value(0), QStringLiteral(":udp-caching=1000"));
    EXPECT_TRUE(movingPicture());
    EXPECT_TRUE(status().startsWith(QLatin1String("playing UDP stream...("))) << status().toStdString();

    ASSERT_TRUE(sim().clearRequests());
    ASSERT_TRUE(chooseChannel(QStringLiteral("Bayern 3")));
    EXPECT_EQ(vlcTargets().value(2),
              addRequest(QStringLiteral("http://127.0.124.2:31338/0x090A"), QStringLiteral(":http-caching=1000"),
                         QStringLiteral(":sout=#transcode{acodec=mpga,ab=96,channels=2}:duplicate{dst=std{access=http,"
                                        "mux=asf,dst=127.0.124.2:31331}}")));
    for (const QString& t : decoded(sim().requestTargets()))
        EXPECT_FALSE(t.contains(QLatin1String("udp_stream start"))) << t.toStdString();
    EXPECT_EQ(app().player().engine()->targetOptions().value(0), QStringLiteral(":http-caching=1000"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app().player().engine()->stats().decodedAudio > 0; }, 30000))
        << "the radio's sound from the remote";
    EXPECT_EQ(app().player().engine()->stats().decodedVideo, 0);
}

// "Online Mode" (hidden, checkable): live to online probes the remote and switches to its stream;
// online to live stops the remote and plays the box again. With the remote down the toggle refuses
// with the short text and a later switch works; back up, online works again.
TEST_F(OnlineMode, ToggleBothWaysAndRemoteDown) {
    ASSERT_TRUE(startSim(kC));
    ASSERT_EQ(start(ini(kC, "live")), ConnectionOutcome::Connected);
    ASSERT_TRUE(firstSwitchPlays());
    QAction* online = window().menu().OnlineMode1;
    EXPECT_FALSE(online->isVisible());
    EXPECT_FALSE(online->isChecked());
    EXPECT_TRUE(vlcTargets().isEmpty());
    const QString live = QStringLiteral("http://127.0.124.3:31339/0,0x0064,0x00FF,0x0100,0x0101");
    EXPECT_EQ(app().player().VlcMrl(), live);

    online->trigger();
    EXPECT_TRUE(online->isChecked());
    const QStringList on = vlcTargets();
    ASSERT_EQ(on.size(), 6) << on.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(on[0], QStringLiteral("/"));
    EXPECT_EQ(on[1], QStringLiteral("/?control=stop"));
    EXPECT_EQ(on[5], QStringLiteral("/?control=play&item=4"));
    EXPECT_EQ(app().player().VlcMrl(), QStringLiteral("http://127.0.124.3:31331"));
    EXPECT_TRUE(movingPicture());

    ASSERT_TRUE(sim().clearRequests());
    online->trigger();
    EXPECT_FALSE(online->isChecked());
    EXPECT_EQ(vlcTargets(), QStringList{QStringLiteral("/?control=stop")});
    EXPECT_EQ(app().player().VlcMrl(), live);
    EXPECT_TRUE(movingPicture());

    ASSERT_TRUE(sim().setState(QStringLiteral("vlc"), QStringLiteral("off")));
    QElapsedTimer t;
    t.start();
    online->trigger();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_FALSE(online->isChecked());
    EXPECT_EQ(status(), QStringLiteral("remote vlc is not available!"));
    EXPECT_EQ(window().FrmSplash().LblStatus()->text(), QStringLiteral("remote vlc is not available..."));
    EXPECT_EQ(app().player().VlcMrl(), live);
    EXPECT_TRUE(app().player().isPlaying());
    ASSERT_TRUE(chooseChannel(QStringLiteral("ZDF")));
    EXPECT_TRUE(app().player().VlcMrl().startsWith(QLatin1String("http://127.0.124.3:31339/0,0x0100,")));
    EXPECT_TRUE(movingPicture());

    ASSERT_TRUE(sim().setState(QStringLiteral("vlc"), QStringLiteral("on")));
    online->trigger();
    EXPECT_TRUE(online->isChecked());
    EXPECT_EQ(app().player().VlcMrl(), QStringLiteral("http://127.0.124.3:31331"));
    EXPECT_TRUE(movingPicture());
}

// A remote VLC that is down, slow or answers junk: every switch ends within its bound with a short
// text that says what the engine does, junk never becomes an item number, and once the remote is
// well again the next switch plays. A channel without a stream leaves the remote emptied.
TEST_F(OnlineMode, BadRemoteAnswers) {
    ASSERT_TRUE(startSim(kE));
    ASSERT_EQ(start(ini(kE, "online")), ConnectionOutcome::Connected);
    ASSERT_TRUE(firstSwitchPlays());
    struct Bad {
        const char* name;
        std::function<bool(BoxSimProcess&)> spoil;
        int boundMs;
        const char* playTarget; // nullptr: the remote cannot be reached at all
        bool plays;
    };
    const Bad cases[] = {
        {"down", [](BoxSimProcess& s) { return s.setState(QStringLiteral("vlc"), QStringLiteral("off")); }, 20000,
         nullptr, false},
        {"slow", [](BoxSimProcess& s) { return s.setFault(QStringLiteral("vlc"), QStringLiteral("slow"), 1500); },
         35000, "/?control=play&item=", true},
        {"garbage",
         [](BoxSimProcess& s) { return s.setFault(QStringLiteral("vlc"), QStringLiteral("garbage-body"), 20000); },
         20000, "/?control=play&item=", true},
        {"empty", [](BoxSimProcess& s) { return s.setFault(QStringLiteral("vlc"), QStringLiteral("empty")); }, 20000,
         "/?control=play&item=", true},
        {"404", [](BoxSimProcess& s) { return s.setFault(QStringLiteral("vlc"), QStringLiteral("status"), 404); },
         20000, "/?control=play&item=", true},
    };
    bool onZdf = false;
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.spoil(sim()));
        ASSERT_TRUE(sim().clearRequests());
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(chooseChannel(onZdf ? QStringLiteral("Das Erste") : QStringLiteral("ZDF")));
        onZdf = !onZdf;
        EXPECT_LT(t.elapsed(), c.boundMs);
        const QStringList targets = vlcTargets();
        if (c.playTarget) {
            ASSERT_EQ(targets.size(), 5) << targets.join(QLatin1Char('\n')).toStdString();
            // The slow remote's page is real: the item number is found on it.
            if (std::string(c.name) == "slow")
                EXPECT_TRUE(targets[4].startsWith(QLatin1String(c.playTarget)) && targets[4].size() > 20);
            else
                EXPECT_EQ(targets[4], QString::fromLatin1(c.playTarget));
        } else {
            EXPECT_TRUE(targets.isEmpty());
        }
        if (c.plays) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return app().player().isPlaying(); }, 20000));
        } else {
            EXPECT_EQ(status(), QStringLiteral("no stream from remote vlc!"));
            EXPECT_FALSE(app().player().isPlaying());
        }
        ASSERT_TRUE(sim().clearFaults());
        ASSERT_TRUE(sim().setState(QStringLiteral("vlc"), QStringLiteral("on")));
    }

    ASSERT_TRUE(sim().clearRequests());
    ASSERT_TRUE(chooseChannel(onZdf ? QStringLiteral("Das Erste") : QStringLiteral("ZDF")));
    EXPECT_TRUE(vlcTargets().value(4).startsWith(QLatin1String("/?control=play&item=")));
    EXPECT_NE(vlcTargets().value(4), QStringLiteral("/?control=play&item="));
    EXPECT_TRUE(movingPicture());
    EXPECT_TRUE(status().startsWith(QLatin1String("playing HTTP stream...("))) << status().toStdString();

    // All PIDs 0: the remote's playlist is emptied and nothing added.
    QList<QAction*> bouquets = window().menu().Bouquets1->actions();
    ASSERT_GE(bouquets.size(), 4);
    bouquets[3]->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !IsSwitching; }, 30000));
    ASSERT_TRUE(sim().clearRequests());
    ASSERT_TRUE(chooseChannel(QStringLiteral("Kanal ohne Sendung")));
    EXPECT_EQ(vlcTargets(), (QStringList{QStringLiteral("/?control=stop"), QStringLiteral("/?control=empty")}));
    EXPECT_EQ(status(), QStringLiteral("stream is not available!"));
    EXPECT_FALSE(IsSwitching);
}
