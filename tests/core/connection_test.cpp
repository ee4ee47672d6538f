#include "core/connection.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/log.h"
#include "startupfakes.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QDateTime kPcNow = QDateTime::fromSecsSinceEpoch(1780000000, QTimeZone::utc());
const QString kPcNowText = QString::number(kPcNow.toSecsSinceEpoch());

TOptions baseSettings() {
    TOptions o;
    o.Mode = AppMode::Live;
    o.IpLan = QStringLiteral("127.0.54.1");
    o.BoxAddress = QStringLiteral("127.0.54.1:80");
    o.VlcAddress = QStringLiteral("127.0.54.2:8080");
    o.TelnetPort = QStringLiteral("23");
    o.TelnetUser = QStringLiteral("root");
    o.TelnetPass = QStringLiteral("dbox2");
    o.WebUser = QStringLiteral("web");
    o.WebPass = QStringLiteral("secret");
    o.NoLogging = true;
    return o;
}

class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest()
        : status(log)
        , view(log)
        , steps(log)
        , clock(kPcNow) {
        m_saved = Options;
        Clock::setCurrent(&clock);
        setStatusSink(&status);
        view.settings = baseSettings();
        steps.answers = {{QStringLiteral("gettime"), kPcNowText},
                         {QStringLiteral("vlcpage"), QStringLiteral("<html>VLC</html>")},
                         {QStringLiteral("recordstate"), QStringLiteral("off")},
                         {QStringLiteral("standby"), QStringLiteral("off")},
                         {QStringLiteral("playback"), QStringLiteral("0")},
                         {QStringLiteral("zapto"), QStringLiteral("43700016d66")}};
        IsClosing = true; // left from an earlier close: each run clears it
        IsStarting = false;
    }
    ~ConnectionTest() override {
        setStatusSink(nullptr);
        Clock::setCurrent(nullptr);
        Options = m_saved;
        IsClosing = false;
        IsStarting = false;
    }
    ConnectionOutcome run() {
        Connection connection(view, steps, QStringLiteral("0.1.0"));
        return connection.InitConnection();
    }

    CallLog log;
    FakeStatus status;
    FakeConnectionView view;
    FakeSteps steps;
    ManualClock clock;
    TOptions m_saved;
};

} // namespace

// Every flag on in online mode: telnet login on ip_inet, the VLC page, the recording check, the
// start message and the rc lock, each where it belongs.
TEST_F(ConnectionTest, OnlineModeWithEveryFlag) {
    view.settings.Mode = AppMode::Online;
    view.settings.BoxAddress = QStringLiteral("box.example.net:8081");
    view.settings.TelnetAutoLogin = true;
    view.settings.CheckRecord = true;
    view.settings.ShowMessage = true;
    view.settings.LockRc = true;
    view.settings.NoEpgData = true;
    steps.answers[QStringLiteral("standby")] = QStringLiteral("ok");
    steps.answers[QStringLiteral("playback")] = QStringLiteral("1");
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    const QStringList middle = log.calls.mid(log.indexOf(QStringLiteral("logoHint")),
                                             log.indexOf(QStringLiteral("splash loading bouquets...")) -
                                                 log.indexOf(QStringLiteral("logoHint")));
    const QStringList expected{
        QStringLiteral("logoHint"),
        QStringLiteral("telnetTarget box.example.net:23"),
        QStringLiteral("telnetLogin root/dbox2"),
        QStringLiteral("receiverOsd 1"),
        QStringLiteral("createEPGThread"),
        QStringLiteral("createClients web/secret"),
        QStringLiteral("request gettime"),
        QStringLiteral("mainTimeout 20"),
        QStringLiteral("request vlcpage"),
        QStringLiteral("request recordstate"),
        QStringLiteral("request standby"),
        QStringLiteral("standbyChecked 1"),
        QStringLiteral("request playback"),
        QStringLiteral("sptsChecked 1"),
        QStringLiteral("message Quoxel is active!"),
        QStringLiteral("rc lock"),
    };
    EXPECT_EQ(middle, expected);
    EXPECT_TRUE(log.has(QStringLiteral("epgStopped 1")));
}

struct FailureCase {
    const char* name;
    std::function<void(TOptions&, FakeSteps&)> setup;
    ConnectionOutcome outcome;
    QString text;
    QString lastStep; // the step just before the failure
};

class ConnectionFailureTest : public ConnectionTest, public ::testing::WithParamInterface<FailureCase> {};

// Each failure shows its text on the status line and the splash label, clears IsStarting and runs
// no later step; in particular the remote control is never locked and nothing more is loaded.
TEST_P(ConnectionFailureTest, EndsWithItsTextAndState) {
    const FailureCase& c = GetParam();
    view.settings.LockRc = true;
    view.settings.ShowMessage = true;
    c.setup(view.settings, steps);
    EXPECT_EQ(run(), c.outcome);
    ASSERT_GE(log.calls.size(), 3);
    EXPECT_EQ(log.calls[log.calls.size() - 3], c.lastStep);
    EXPECT_EQ(log.calls[log.calls.size() - 2], QStringLiteral("status ") + c.text);
    EXPECT_EQ(log.calls.last(), QStringLiteral("splash ") + c.text);
    EXPECT_EQ(view.splash.label, c.text);
    EXPECT_FALSE(IsStarting);
    EXPECT_FALSE(log.has(QStringLiteral("loadAllChannelEPG")));
    EXPECT_FALSE(log.has(QStringLiteral("splash initializing vlc...")));
    if (c.outcome != ConnectionOutcome::NoBouquets) {
        EXPECT_FALSE(log.has(QStringLiteral("rc lock")));
        EXPECT_FALSE(log.has(QStringLiteral("message Quoxel is active!")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ConnectionFailureTest,
    ::testing::Values(FailureCase{"RecordingInOnlineMode",
                                  [](TOptions& o, FakeSteps& s) {
                                      o.Mode = AppMode::Online;
                                      o.CheckRecord = true;
                                      s.answers[QStringLiteral("recordstate")] = QStringLiteral("on");
                                  },
                                  ConnectionOutcome::Recording, QStringLiteral("dbox is recording, sorry!"),
                                  QStringLiteral("request recordstate")},
                      FailureCase{"NoBouquetsInQuoxelMode",
                                  [](TOptions& o, FakeSteps& s) {
                                      o.Mode = AppMode::Quoxel;
                                      s.bouquetsLoad = false;
                                  },
                                  ConnectionOutcome::NoBouquets, QStringLiteral("no connection to quoxel stream!"),
                                  QStringLiteral("loadBouquets")}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// The recording check only counts the exact answer "on", and only when asked for.
TEST_F(ConnectionTest, RecordingCheckNeedsTheFlagAndTheExactAnswer) {
    steps.answers[QStringLiteral("recordstate")] = QStringLiteral("on");
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_FALSE(log.has(QStringLiteral("request recordstate")));
    for (const QString& answer :
         {QStringLiteral("ON"), QStringLiteral("off"), QStringLiteral("on\r\noff"), QString()}) {
        log.calls.clear();
        view.settings.CheckRecord = true;
        steps.answers[QStringLiteral("recordstate")] = answer;
        EXPECT_EQ(run(), ConnectionOutcome::Connected) << answer.toStdString();
    }
}

struct StateCase {
    QString standby;
    QString playback;
    bool standbyChecked;
    bool sptsChecked;
};

class ConnectionStateTest : public ConnectionTest, public ::testing::WithParamInterface<StateCase> {};

// Standby: "on" (nhttpd 3.x) and "ok" (2.2, whatever the state) check it; "1" checks SPTS;
// anything else, garbage and no answer included, unchecks.
TEST_P(ConnectionStateTest, CheckMarksFollowTheExactAnswers) {
    steps.answers[QStringLiteral("standby")] = GetParam().standby;
    steps.answers[QStringLiteral("playback")] = GetParam().playback;
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_TRUE(log.has(QStringLiteral("standbyChecked %1").arg(GetParam().standbyChecked)));
    EXPECT_TRUE(log.has(QStringLiteral("sptsChecked %1").arg(GetParam().sptsChecked)));
}

INSTANTIATE_TEST_SUITE_P(Answers, ConnectionStateTest,
                         ::testing::Values(StateCase{QStringLiteral("ok"), QStringLiteral("1"), true, true},
                                           StateCase{QStringLiteral("on"), QStringLiteral("0"), true, false},
                                           StateCase{QStringLiteral("ON"), QStringLiteral("1"), false, true},
                                           StateCase{QStringLiteral("off"), QStringLiteral("0"), false, false},
                                           StateCase{QStringLiteral("OK"), QStringLiteral("01"), false, false},
                                           StateCase{QString(), QString(), false, false},
                                           StateCase{QStringLiteral("\x01\xff garbage"), QStringLiteral("1 1"), false,
                                                     false}));

struct OffsetCase {
    qint64 deltaSec; // receiver minus PC
    int minutes;
};

class ConnectionOffsetTest : public ConnectionTest, public ::testing::WithParamInterface<OffsetCase> {};

// The receiver clock offset in whole minutes, truncated towards zero on both sides.
TEST_P(ConnectionOffsetTest, OffsetInMinutes) {
    Options.BoxTimeOffset = 77;
    steps.answers[QStringLiteral("gettime")] = QString::number(kPcNow.toSecsSinceEpoch() + GetParam().deltaSec);
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_EQ(Options.BoxTimeOffset, GetParam().minutes);
}

INSTANTIATE_TEST_SUITE_P(Offsets, ConnectionOffsetTest,
                         ::testing::Values(OffsetCase{0, 0}, OffsetCase{59, 0}, OffsetCase{-59, 0}, OffsetCase{60, 1},
                                           OffsetCase{3599, 59}, OffsetCase{-61, -1}, OffsetCase{-3600, -60},
                                           OffsetCase{86400 * 365, 525600}));

// A time answer that is no time keeps the earlier offset, and the sequence goes on.
TEST_F(ConnectionTest, GarbageTimeAnswerKeepsTheOffset) {
    for (const QString& answer :
         {QStringLiteral("garbage"), QStringLiteral("12a"), QStringLiteral("-5"),
          QStringLiteral("99999999999999999999999"), QStringLiteral("4102444801"), QStringLiteral("1.5e9")}) {
        log.calls.clear();
        view.settings.BoxTimeOffset = 33;
        steps.answers[QStringLiteral("gettime")] = answer;
        EXPECT_EQ(run(), ConnectionOutcome::Connected) << answer.toStdString();
        EXPECT_EQ(Options.BoxTimeOffset, 33) << answer.toStdString();
    }
}

TEST(BoxTimeOffset, Boundaries) {
    EXPECT_EQ(boxTimeOffsetMinutes(QStringLiteral(" 120 "), 0), 2);
    EXPECT_EQ(boxTimeOffsetMinutes(QStringLiteral("0"), 119), -1);
    EXPECT_EQ(boxTimeOffsetMinutes(QStringLiteral("4102444800"), 4102444800), 0);
    EXPECT_FALSE(boxTimeOffsetMinutes(QStringLiteral("4102444801"), 0));
    EXPECT_FALSE(boxTimeOffsetMinutes(QString(), 0));
}

// The channel on air: a radio channel gets its backdrop before the EPG load; an entry without a
// record ends the sequence silently with IsStarting still set; a missing id still loads the EPG.
TEST_F(ConnectionTest, ChannelOnAirOutcomes) {
    steps.pick = {false, true, true};
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_EQ(log.indexOf(QStringLiteral("radioBackground")) + 2, log.indexOf(QStringLiteral("loadAllChannelEPG")));

    log.calls.clear();
    steps.pick = {false, false, false};
    steps.answers.remove(QStringLiteral("zapto"));
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_TRUE(log.has(QStringLiteral("selectAktChannel ")));
    EXPECT_FALSE(log.has(QStringLiteral("radioBackground")));
    EXPECT_TRUE(log.has(QStringLiteral("loadAllChannelEPG")));

    log.calls.clear();
    steps.pick = {true, false, false};
    EXPECT_EQ(run(), ConnectionOutcome::NoChannelRecord);
    EXPECT_TRUE(IsStarting);
    EXPECT_EQ(log.calls.last(), QStringLiteral("showChannels"));
}

// With logging on, the log restarts from the masked settings copy right after the status refresh.
TEST_F(ConnectionTest, LogRestartsFromTheSettingsCopy) {
    view.settings.NoLogging = false;
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_EQ(log.indexOf(QStringLiteral("settingsLogHead")), log.indexOf(QStringLiteral("refreshStatusAndClock")) + 1);
}

TEST(VersionText, FourNumbersOrNone) {
    EXPECT_EQ(versionText(QStringLiteral("0.1.0")), QStringLiteral("0.1.0.0"));
    EXPECT_EQ(versionText(QStringLiteral("1.2.3.4")), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(versionText(QStringLiteral("7")), QStringLiteral("7.0.0.0"));
    EXPECT_EQ(versionText(QString()), QStringLiteral("Nix eingetragen"));
    EXPECT_EQ(versionText(QStringLiteral("1.2.3.4.5")), QStringLiteral("Nix eingetragen"));
    EXPECT_EQ(versionText(QStringLiteral("1.x")), QStringLiteral("Nix eingetragen"));
}
