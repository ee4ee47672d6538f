#include "box/epgtimers.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "core/appflags.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/statustrail.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr const char* kAddress = "127.0.53.1";
constexpr EPGPacing kFast{50, 5, 20, 50, 2};
// 2024-07-01 21:50 UTC.
constexpr qint64 kT0 = 1719870600;

// The window as the timers see it: the records, and what was asked of it.
class RecordingHost : public EPGTimersHost {
public:
    QList<TChannelRef> channels;
    int selected = 0;
    TChannelRef akt;
    bool droppedDown = false;
    bool panelVisible = true;

    int viewRepaints = 0;
    int listRepaints = 0;
    QStringList captions;
    QStringList previewCaptions;
    QStringList stopCaptions;
    QList<TChannel*> epgInfoShown;
    QList<TChannel*> channelInfoShown;
    int busyDepth = 0;

    QList<TChannelRef> epgChannels() const override { return channels; }
    int selectedChannel() const override { return selected; }
    TChannelRef aktChannel() const override { return akt; }
    bool channelListDroppedDown() const override { return droppedDown; }
    void repaintChannelViews() override { ++viewRepaints; }
    void repaintChannelList() override { ++listRepaints; }
    bool channelPanelVisible() const override { return panelVisible; }
    void setCaption(const QString& caption) override { captions << caption; }
    void setChannelPreviewCaption(const QString& caption) override { previewCaptions << caption; }
    void showEPGInfo(TChannel& channel) override { epgInfoShown << &channel; }
    void showChannelInfo(TChannel& channel) override { channelInfoShown << &channel; }
    void setStopEPGCaption(const QString& caption) override { stopCaptions << caption; }
    void setBusyCursor(bool busy) override { busyDepth += busy ? 1 : -1; }
    void processEvents() override {}
};

TChannelRef channel(const QString& id, TChannelMode mode = mTV, const QString& caption = QString()) {
    auto ch = std::make_shared<TChannel>();
    ch->Id = id;
    ch->Mode = mode;
    ch->Caption = caption.isEmpty() ? id : caption;
    return ch;
}

QString prog(int eventId, qint64 startSec, int durationMin, const QString& title, const QString& info2) {
    return QStringLiteral("<prog>\n<eventid>%1</eventid>\n<start_sec>%2</start_sec>\n<start_t>x</start_t>\n"
                          "<duration_min>%3</duration_min>\n<description><![CDATA[%4]]></description>\n"
                          "<info1><![CDATA[]]></info1>\n<info2><![CDATA[%5]]></info2>\n</prog>\n")
        .arg(eventId)
        .arg(startSec)
        .arg(durationMin)
        .arg(title, info2);
}

// Three 30-minute programmes from start, the second one across midnight UTC.
QString threeProgrammes(qint64 start, const QString& info2 = QStringLiteral("Titel: Song A\nAlbum")) {
    return QStringLiteral("<epglist>\n") + prog(1, start, 30, QStringLiteral("First"), info2) +
           prog(2, start + 1800, 30, QStringLiteral("Second"), info2) +
           prog(3, start + 3600, 30, QStringLiteral("Third"), info2) + QStringLiteral("</epglist>\n");
}

class EPGTimersTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedTz = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        EPGAbort = false;
        m_clock.set(QDateTime::fromSecsSinceEpoch(kT0, Qt::UTC));
        Clock::setCurrent(&m_clock);
        ids = {QStringLiteral("43700016d66"), QStringLiteral("437000273f2"), QStringLiteral("44100016dca")};
    }
    void TearDown() override {
        Clock::setCurrent(nullptr);
        qputenv("TZ", m_savedTz);
        tzset();
    }

    QStringList epgTargets() {
        QStringList out;
        for (const QString& t : m_sim.requestTargets())
            if (t.contains(QLatin1String("epg?xml")))
                out << t.section(QLatin1String("channelid="), 1).section(QLatin1Char('&'), 0, 0);
        return out;
    }
    void fillHost(TChannelMode aktMode = mTV) {
        for (const auto& id : ids)
            host.channels << channel(id);
        host.channels[1]->Mode = aktMode;
        host.akt = host.channels[1];
        host.selected = 1;
    }

    ScopedAppState m_state;
    QByteArray m_savedTz;
    ManualClock m_clock{QDateTime::fromSecsSinceEpoch(kT0, Qt::UTC)};
    StatusTrail m_status;
    BoxSimProcess m_sim{QString::fromLatin1(kAddress)};
    RecordingHost host;
    QStringList ids;
};

// The EPG timer's first tick after a restart comes at once and sets the 10 s rhythm; each tick
// moves every channel along the clock (here across midnight) and repaints the views once.
TEST_F(EPGTimersTest, EPGTimerMovesNowNextAlongTheClock) {
    auto a = channel(QStringLiteral("a"));
    auto b = channel(QStringLiteral("b"));
    ASSERT_EQ(ParseEPG(*a, threeProgrammes(kT0 - 600)), 3);
    ASSERT_EQ(ParseEPG(*b, threeProgrammes(kT0 - 1200)), 3);
    host.channels = {a, b};
    host.akt = a;
    EPGTimers timers(host, false, kFast);
    EXPECT_EQ(timers.epgTimer().interval(), EPGTimers::kEPGTimerFirstMs);
    EXPECT_FALSE(timers.epgTimer().isActive());
    EXPECT_EQ(a->NowEPG.Title, QStringLiteral("First"));
    EXPECT_EQ(a->NextEPG.Title, QStringLiteral("Second"));

    timers.enableEPGTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return timers.epgTimer().interval() == EPGTimers::kEPGTimerTickMs; }, 2000));
    EXPECT_TRUE(timers.epgTimer().isActive());
    EXPECT_EQ(host.viewRepaints, 0); // nothing moved yet

    // 22:15 UTC: both are in their second programme, which runs over midnight.
    m_clock.advanceMs(25 * 60 * 1000);
    timers.EPGTimerTimer();
    for (const auto& ch : {a, b}) {
        EXPECT_EQ(ch->NowEPG.Title, QStringLiteral("Second"));
        EXPECT_EQ(ch->NextEPG.Title, QStringLiteral("Third"));
    }
    EXPECT_EQ(host.viewRepaints, 1);

    // 00:05 the next day for a: past all three, the last stays now.
    m_clock.advanceMs(110 * 60 * 1000);
    host.droppedDown = true;
    timers.EPGTimerTimer();
    EXPECT_EQ(a->NowEPG.Title, QStringLiteral("Third"));
    EXPECT_EQ(host.viewRepaints, 1) << "no repaint under a dropped-down list";
    EXPECT_TRUE(host.captions.isEmpty()) << "a TV channel on air leaves the caption";
}

// A closing window or a stopping thread ends the tick's walk before the records are touched.
TEST_F(EPGTimersTest, EPGTimerStopsOnClosingAndAbort) {
    for (std::atomic<bool>* flag : {&IsClosing, &EPGAbort}) {
        auto a = channel(QStringLiteral("a"));
        ASSERT_EQ(ParseEPG(*a, threeProgrammes(kT0 - 600)), 3);
        host.channels = {a};
        host.akt = a;
        EPGTimers timers(host, false, kFast);
        m_clock.set(QDateTime::fromSecsSinceEpoch(kT0 + 1500, Qt::UTC));
        *flag = true;
        timers.EPGTimerTimer();
        *flag = false;
        EXPECT_EQ(a->NowEPG.Title, QStringLiteral("First"));
        m_clock.set(QDateTime::fromSecsSinceEpoch(kT0, Qt::UTC));
    }
}

// With a radio channel on air each tick puts programme and song into the caption, has the list
// fetched again and shows the EPG info.
TEST_F(EPGTimersTest, RadioTickShowsTheSong) {
    auto r = channel(QStringLiteral("r"), mRadio, QStringLiteral("4. Radio: Bayern 3"));
    ASSERT_EQ(ParseEPG(*r, threeProgrammes(kT0 - 600, QStringLiteral("Titel: Song A\r\nAlbum: X"))), 3);
    r->EPGLoaded = true;
    host.channels = {r};
    host.akt = r;
    EPGTimers timers(host, false, kFast);
    timers.EPGTimerTimer();
    EXPECT_EQ(host.captions, QStringList{QStringLiteral("4. Radio: Bayern 3, First - Song A")});
    EXPECT_FALSE(r->EPGLoaded);
    EXPECT_EQ(host.epgInfoShown, QList<TChannel*>{r.get()});
    EXPECT_EQ(host.viewRepaints, 1);
}

// After a switch in full screen the EPG info comes once, 1.5 s later.
TEST_F(EPGTimersTest, ShowEPGOnSwitchFiresOnce) {
    fillHost();
    EPGTimers timers(host, false, kFast);
    timers.startShowEPGOnSwitchTimer();
    EXPECT_EQ(timers.showEPGOnSwitchTimer().interval(), EPGTimers::kShowEPGOnSwitchMs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.epgInfoShown.isEmpty(); }, 4000));
    QTest::qWait(1700);
    EXPECT_EQ(host.epgInfoShown, QList<TChannel*>{host.akt.get()});
    EXPECT_FALSE(timers.showEPGOnSwitchTimer().isActive());
}

// A stop while the receiver leaves a fetch hanging ends within 100 ms (five 20 ms waits); the
// cut-off answer changes nothing and the channel is fetched again on the next start.
TEST_F(EPGTimersTest, StopWhileAFetchHangs) {
    ASSERT_TRUE(m_sim.start());
    ASSERT_TRUE(m_sim.setFault(QStringLiteral("/control/epg?xml=true&channelid=") + ids[1], QStringLiteral("silent")));
    fillHost();
    EPGTimers timers(host, false, EPGPacing{50, 5, 20, 50, 20});
    int applied = 0;
    QObject::connect(&timers.thread(), &EPGThread::channelApplied, [&] { ++applied; });
    ASSERT_TRUE(timers.startThreadFromSwitch());
    ASSERT_TRUE(QTest::qWaitFor([&] { return epgTargets().contains(ids[1]); }, 10000));
    QTest::qWait(100);
    ASSERT_TRUE(timers.isThreadRunning());
    EXPECT_LE(timers.StopEPGThread(false), 5);
    EXPECT_FALSE(timers.isThreadRunning());
    QTest::qWait(300);
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(host.channels[1]->EPGLoaded);
    EXPECT_EQ(host.channels[1]->EPGCount, 0);

    m_sim.clearFaults();
    m_sim.clearRequests();
    ASSERT_TRUE(timers.startThread());
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.channels[1]->EPGLoaded; }, 10000));
    EXPECT_GT(host.channels[1]->EPGCount, 0);
    timers.StopEPGThread(false);
}

// With "no_epgdata" the item offers "Start EPG" from the beginning and nothing is fetched.
TEST_F(EPGTimersTest, NoEpgDataNeverFetches) {
    ASSERT_TRUE(m_sim.start());
    fillHost();
    EPGTimers timers(host, true, kFast);
    EXPECT_EQ(host.stopCaptions, QStringList{EPGTimers::kStartCaption});
    EXPECT_FALSE(timers.startThreadFromSwitch());
    timers.ResetEPG1Click();
    EXPECT_FALSE(timers.isThreadRunning());
    QTest::qWait(300);
    EXPECT_TRUE(epgTargets().isEmpty());
}

// A closing window starts nothing.
TEST_F(EPGTimersTest, ClosingStartsNothing) {
    fillHost();
    EPGTimers timers(host, false, kFast);
    IsClosing = true;
    EXPECT_FALSE(timers.startThread());
    EXPECT_FALSE(timers.isThreadRunning());
}

} // namespace
