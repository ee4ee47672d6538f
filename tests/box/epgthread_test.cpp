#include "box/epgthread.h"

#include "box/boxcommands.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr const char* kAddress = "127.0.48.1";

TChannelRef channel(const QString& id, TChannelMode mode = mTV) {
    auto ch = std::make_shared<TChannel>();
    ch->Id = id;
    ch->Caption = id;
    ch->Mode = mode;
    return ch;
}

class EPGThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        ASSERT_TRUE(m_sim.start());
        ids = {QStringLiteral("43700016d66"), QStringLiteral("437000273f2"), QStringLiteral("44100016dca")};
    }

    QStringList epgTargets() {
        QStringList out;
        for (const QString& t : m_sim.requestTargets())
            if (t.contains(QLatin1String("epg?xml")))
                out << t.section(QLatin1String("channelid="), 1).section(QLatin1Char('&'), 0, 0);
        return out;
    }

    ScopedAppState m_state;
    BoxSimProcess m_sim{QString::fromLatin1(kAddress)};
    QStringList ids;
};

constexpr EPGPacing kFast{50, 5, 20, 50, 2};

TEST_F(EPGThreadTest, WalksFromTheSelectedChannelAndFillsTheRecords) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    EPGThread thread(kFast);
    bool finished = false;
    QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
    ASSERT_TRUE(thread.start(channels, 1, false, true));
    EXPECT_FALSE(thread.start(channels, 1, false, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 15000));
    // First pass from position 1 to the end, the next from the top for what is left.
    EXPECT_EQ(epgTargets(), (QStringList{ids[1], ids[2], ids[0]}));
    for (const auto& ch : channels)
        EXPECT_TRUE(ch->EPGLoaded) << ch->Id.toStdString();
}

// Channels a view shows come first, one a step; one outside the walk's list (another bouquet's)
// gets its list in the record the view holds.
TEST_F(EPGThreadTest, ChannelsInViewFirst) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    const TChannelRef other = channel(QStringLiteral("85000300008"));
    EPGThread thread(kFast);
    thread.setInView({channels[2], other});
    bool finished = false;
    QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 15000));
    EXPECT_EQ(epgTargets(), (QStringList{ids[2], other->Id, ids[0], ids[1]}));
    EXPECT_TRUE(other->EPGLoaded);
    EXPECT_GT(other->EPGCount, 0);
}

TEST_F(EPGThreadTest, StopEndsAPauseQuickly) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    EPGThread thread(EPGPacing{60000, 20, 1600, 5000, 20});
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    QTest::qWait(100);
    ASSERT_TRUE(thread.isRunning());
    QElapsedTimer timer;
    timer.start();
    const int waits = thread.StopEPGThread(false);
    EXPECT_LT(waits, 300);
    EXPECT_FALSE(thread.isRunning());
    EXPECT_FALSE(EPGAbort.load());
    EXPECT_TRUE(epgTargets().isEmpty());
}

// The records belong to the UI side: once the thread object is gone nothing touches them and the
// worker sends nothing more.
TEST_F(EPGThreadTest, DestroyedWhileRunning) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    {
        auto thread = std::make_unique<EPGThread>(EPGPacing{50, 5, 300, 50, 2});
        int applied = 0;
        QObject::connect(thread.get(), &EPGThread::channelApplied, [&] { ++applied; });
        ASSERT_TRUE(thread->start(channels, 0, false, false));
        ASSERT_TRUE(QTest::qWaitFor([&] { return applied == 1; }, 10000));
    }
    const int requested = epgTargets().size();
    QTest::qWait(500);
    EXPECT_EQ(epgTargets().size(), requested);
    EXPECT_TRUE(channels[0]->EPGLoaded);
    EXPECT_FALSE(channels[1]->EPGLoaded);
    EXPECT_FALSE(channels[2]->EPGLoaded);
}

// A switch in the channel box ends the walk; the next pass starts at the new channel.
TEST_F(EPGThreadTest, ASwitchRestartsFromTheNewChannel) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    EPGThread thread(EPGPacing{50, 5, 300, 50, 2});
    bool finished = false;
    QStringList captions;
    QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
    QObject::connect(&thread, &EPGThread::channelApplied, [&](int position, int loaded, int total) {
        EXPECT_EQ(total, 3);
        captions << ChannelPreviewCaption(loaded, total);
        if (position == 0) {
            EXPECT_EQ(loaded, 1);
            thread.setSelected(2);
        }
    });
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 15000));
    EXPECT_EQ(epgTargets(), (QStringList{ids[0], ids[2], ids[1]}));
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Channel Preview (1/3)"), QStringLiteral("Channel Preview (2/3)"),
                                     QStringLiteral("Channel Preview (3/3)")}));
}

// The walk reads the records as they are now: a channel marked loaded during the pause before its
// fetch is left alone, and one cleared after the walk began is fetched.
TEST_F(EPGThreadTest, ReadsTheRecordsAsTheyAreNow) {
    QList<TChannelRef> channels;
    for (const auto& id : ids)
        channels << channel(id);
    channels[2]->EPGLoaded = true;
    EPGThread thread(EPGPacing{400, 5, 20, 50, 2});
    bool finished = false;
    QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    channels[0]->EPGLoaded = true;
    channels[2]->EPGLoaded = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 15000));
    EXPECT_EQ(epgTargets(), (QStringList{ids[1], ids[2]}));
}

// While a radio channel plays, radio lists are fetched again every pass and the thread keeps going;
// TV channels are fetched once.
TEST_F(EPGThreadTest, RadioOnAirKeepsCycling) {
    QList<TChannelRef> channels{channel(ids[0]), channel(ids[1], mRadio)};
    EPGThread thread(kFast);
    ASSERT_TRUE(thread.start(channels, 1, true, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return epgTargets().count(ids[1]) >= 3; }, 15000));
    EXPECT_TRUE(thread.isRunning());
    EXPECT_EQ(epgTargets().count(ids[0]), 1);
    EXPECT_TRUE(channels[0]->EPGLoaded);
    EXPECT_FALSE(channels[1]->EPGLoaded);
    thread.StopEPGThread(true);
    EXPECT_FALSE(thread.isRunning());
}

// With a TV channel on air a radio channel counts as loaded after its fetch and the thread ends.
TEST_F(EPGThreadTest, TVOnAirEndsOnceRadioIsFetched) {
    QList<TChannelRef> channels{channel(ids[0]), channel(ids[1], mRadio)};
    EPGThread thread(kFast);
    bool finished = false;
    QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 15000));
    EXPECT_EQ(epgTargets(), (QStringList{ids[0], ids[1]}));
    EXPECT_TRUE(channels[1]->EPGLoaded);
    EXPECT_FALSE(thread.isRunning());
}

// A bad answer for the middle channel (garbage, silence up to the time-out, nothing) costs only
// that channel.
TEST_F(EPGThreadTest, ABadAnswerForOneChannelKeepsTheOthers) {
    for (const char* mode : {"garbage-body", "garbage", "silent", "empty", "timeout-text"}) {
        SCOPED_TRACE(mode);
        m_sim.clearFaults();
        const QString target = QStringLiteral("/control/epg?xml=true&channelid=") + ids[1];
        ASSERT_TRUE(m_sim.setFault(target, QString::fromLatin1(mode), 3000, 1));
        QList<TChannelRef> channels;
        for (const auto& id : ids)
            channels << channel(id);
        EPGThread thread(kFast);
        bool finished = false;
        QObject::connect(&thread, &EPGThread::finished, [&] { finished = true; });
        ASSERT_TRUE(thread.start(channels, 0, false, false));
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 20000));
        EXPECT_GT(channels[0]->EPGCount, 0);
        EXPECT_EQ(channels[1]->EPGCount, 0);
        EXPECT_GT(channels[2]->EPGCount, 0);
        EXPECT_EQ(epgTargets().mid(epgTargets().size() - 3), ids);
    }
}

} // namespace

// A receiver that wants a login: the walk's own client logs in with what the session gives it,
// taken at each start; without it every fetch is refused and nothing is filled.
TEST(EPGThreadLogin, UsesTheSessionsCredentials) {
    TOptions saved = Options;
    BoxSimProcess sim(QStringLiteral("127.0.48.2"), {QStringLiteral("--user"), QStringLiteral("root"),
                                                     QStringLiteral("--password"), QStringLiteral("dbox2")});
    ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString();
    Options.BoxAddress = QStringLiteral("127.0.48.2:80");
    QList<TChannelRef> channels{channel(QStringLiteral("43700016d66"))};
    EPGThread thread(kFast);
    EPGClientSettings login;
    thread.setClientSettings([&] { return login; });

    // No login: the receiver refuses, the record stays empty.
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    auto asked = [&] {
        for (const QString& t : sim.requestTargets())
            if (t.contains(QLatin1String("epg?xml")))
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(asked, 10000));
    thread.StopEPGThread(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !thread.isRunning(); }, 10000));
    EXPECT_EQ(channels[0]->EPGCount, 0);

    channels[0]->EPGLoaded = false; // a refused fetch counts as done for this walk
    login.UserName = QStringLiteral("root");
    login.Password = QStringLiteral("dbox2");
    ASSERT_TRUE(thread.start(channels, 0, false, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return channels[0]->EPGLoaded; }, 15000));
    EXPECT_GT(channels[0]->EPGCount, 0);
    Options = saved;
}
