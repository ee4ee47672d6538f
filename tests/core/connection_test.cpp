#include "core/connection.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/log.h"
#include "startupfakes.h"
#include "support/appstate.h"

#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <optional>

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
    ScopedAppState m_state;
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

// A good time answer sets the receiver clock offset; one that is no time keeps the earlier offset,
// and the sequence goes on.
TEST_F(ConnectionTest, TimeAnswerSetsOrKeepsTheOffset) {
    view.settings.BoxTimeOffset = 33;
    steps.answers[QStringLiteral("gettime")] = QString::number(kPcNow.toSecsSinceEpoch() - 3600);
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_EQ(Options.BoxTimeOffset, -60);
    // The answer that is no time goes to the log, where a wrong clock can be traced.
    view.settings.NoLogging = false;
    steps.answers[QStringLiteral("gettime")] = QStringLiteral("12a");
    EXPECT_EQ(run(), ConnectionOutcome::Connected);
    EXPECT_EQ(Options.BoxTimeOffset, 33);
    QFile file(appLogger().filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(", MSG   , receiver time not understood: 12a\n"));
}

struct OffsetCase {
    const char* answer;
    qint64 pcNow;
    std::optional<int> minutes; // none: no time
};

class BoxTimeOffsetTest : public ::testing::TestWithParam<OffsetCase> {};

// The receiver clock offset in whole minutes, truncated towards zero on both sides; an answer that
// is no time, or lies beyond 2100, gives none.
TEST_P(BoxTimeOffsetTest, WholeMinutesOrNone) {
    const OffsetCase& c = GetParam();
    EXPECT_EQ(boxTimeOffsetMinutes(QString::fromLatin1(c.answer), c.pcNow), c.minutes) << c.answer;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BoxTimeOffsetTest,
    ::testing::Values(OffsetCase{"1780000000", 1780000000, 0}, OffsetCase{"1780000059", 1780000000, 0},
                      OffsetCase{"1779999941", 1780000000, 0}, OffsetCase{"1780000060", 1780000000, 1},
                      OffsetCase{"1780003599", 1780000000, 59}, OffsetCase{"1779999939", 1780000000, -1},
                      OffsetCase{"1779996400", 1780000000, -60}, OffsetCase{"1811536000", 1780000000, 525600},
                      OffsetCase{" 120 ", 0, 2}, OffsetCase{"0", 119, -1}, OffsetCase{"4102444800", 4102444800, 0},
                      OffsetCase{"4102444801", 0, std::nullopt}, OffsetCase{"", 0, std::nullopt},
                      OffsetCase{"garbage", 0, std::nullopt}, OffsetCase{"12a", 0, std::nullopt},
                      OffsetCase{"-5", 0, std::nullopt}, OffsetCase{"99999999999999999999999", 0, std::nullopt},
                      OffsetCase{"1.5e9", 0, std::nullopt}));

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

TEST(VersionText, FourNumbersOrNone) {
    EXPECT_EQ(versionText(QStringLiteral("0.1.0")), QStringLiteral("0.1.0.0"));
    EXPECT_EQ(versionText(QStringLiteral("1.2.3.4")), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(versionText(QStringLiteral("7")), QStringLiteral("7.0.0.0"));
    EXPECT_EQ(versionText(QString()), QStringLiteral("Nix eingetragen"));
    EXPECT_EQ(versionText(QStringLiteral("1.2.3.4.5")), QStringLiteral("Nix eingetragen"));
    EXPECT_EQ(versionText(QStringLiteral("1.x")), QStringLiteral("Nix eingetragen"));
}
