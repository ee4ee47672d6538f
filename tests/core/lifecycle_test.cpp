#include "core/lifecycle.h"

#include "core/appflags.h"
#include "core/connection.h"
#include "core/log.h"
#include "startupfakes.h"

#include <gtest/gtest.h>

namespace {

class LifecycleTest : public ::testing::Test {
protected:
    LifecycleTest()
        : status(log)
        , connView(log)
        , steps(log)
        , view(log)
        , connection(connView, steps, QStringLiteral("0.1.0"))
        , lifecycle(view, steps, connection) {
        m_saved = Options;
        setStatusSink(&status);
        TOptions o;
        o.NoLogging = true;
        o.TelnetPort = QStringLiteral("23");
        o.Priority = QStringLiteral("whatever"); // leaves the test process's priority alone
        connView.settings = o;
        Options = o;
        steps.answers = {{QStringLiteral("gettime"), QStringLiteral("1780000000")},
                         {QStringLiteral("zapto"), QStringLiteral("43700016d66")}};
        IsClosing = false;
        IsStarting = true;
    }
    ~LifecycleTest() override {
        setStatusSink(nullptr);
        Options = m_saved;
        IsClosing = false;
        IsStarting = false;
    }
    // Connected and playing, as after the first activation.
    void startPlaying() {
        ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
        lifecycle.FormActivate();
        ASSERT_FALSE(IsStarting);
        log.calls.clear();
    }

    CallLog log;
    FakeStatus status;
    FakeConnectionView connView;
    FakeSteps steps;
    FakeLifecycleView view;
    Connection connection;
    Lifecycle lifecycle;
    TOptions m_saved;
};

} // namespace

// The first activation after a connection starts playback in order; later ones only hide the splash.
TEST_F(LifecycleTest, FirstActivationStartsPlaybackOnce) {
    lifecycle.FormActivate();
    const QStringList expected{QStringLiteral("hideSplash"), QStringLiteral("showTaskbar"),
                               QStringLiteral("pump"),       QStringLiteral("refreshEPGDisplay"),
                               QStringLiteral("initPlayer"), QStringLiteral("switchChannel"),
                               QStringLiteral("epgTimer 1"), QStringLiteral("focusChannelBox")};
    EXPECT_EQ(log.calls, expected);
    EXPECT_FALSE(IsStarting);
    log.calls.clear();
    lifecycle.FormActivate();
    EXPECT_EQ(log.calls, QStringList{QStringLiteral("hideSplash")});
}

struct ActivationCase {
    const char* name;
    bool hideTaskbar;
    bool boxEnabled;
    bool fullscreenView;
    bool selection;
    bool startFailed; // the connection sequence failed: IsStarting is false
    QStringList present;
    QStringList absent;
};

class ActivationTest : public LifecycleTest, public ::testing::WithParamInterface<ActivationCase> {};

// The conditions of the activation steps.
TEST_P(ActivationTest, Conditions) {
    const ActivationCase& c = GetParam();
    Options.HideTaskbar = c.hideTaskbar;
    view.boxEnabled = c.boxEnabled;
    view.fullscreen = c.fullscreenView;
    view.selection = c.selection;
    IsStarting = !c.startFailed;
    lifecycle.FormActivate();
    EXPECT_EQ(log.calls.value(0), QStringLiteral("hideSplash"));
    for (const QString& call : c.present)
        EXPECT_TRUE(log.has(call)) << call.toStdString();
    for (const QString& call : c.absent)
        EXPECT_FALSE(log.has(call)) << call.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Activation, ActivationTest,
    ::testing::Values(
        ActivationCase{"HiddenTaskbar",
                       true,
                       true,
                       false,
                       true,
                       false,
                       {QStringLiteral("switchChannel")},
                       {QStringLiteral("showTaskbar")}},
        ActivationCase{"DisabledChannelBox",
                       false,
                       false,
                       false,
                       true,
                       false,
                       {QStringLiteral("switchChannel")},
                       {QStringLiteral("focusChannelBox")}},
        ActivationCase{"FullscreenView",
                       false,
                       true,
                       true,
                       true,
                       false,
                       {QStringLiteral("epgTimer 1")},
                       {QStringLiteral("focusChannelBox")}},
        ActivationCase{"NoSelection",
                       false,
                       true,
                       false,
                       false,
                       false,
                       {QStringLiteral("showTaskbar")},
                       {QStringLiteral("initPlayer"), QStringLiteral("switchChannel"), QStringLiteral("epgTimer 1")}},
        ActivationCase{"FailedConnection",
                       false,
                       true,
                       false,
                       true,
                       true,
                       {},
                       {QStringLiteral("showTaskbar"), QStringLiteral("initPlayer"), QStringLiteral("pump")}}),
    [](const ::testing::TestParamInfo<ActivationCase>& info) { return std::string(info.param.name); });

// With "fullscreen" set the view goes full screen after the start, past a one-second wait.
TEST_F(LifecycleTest, FullscreenSettingSwitchesAfterTheStart) {
    Options.Fullscreen = true;
    lifecycle.FormActivate();
    ASSERT_GE(log.calls.size(), 2);
    EXPECT_EQ(log.calls.mid(log.calls.size() - 2), (QStringList{QStringLiteral("pump"), QStringLiteral("fullscreen")}));
    EXPECT_GT(log.indexOf(QStringLiteral("fullscreen")), log.indexOf(QStringLiteral("epgTimer 1")));
}

// An activation that comes in while the first one lets messages run starts nothing a second time.
TEST_F(LifecycleTest, ReenteredActivationStartsNothing) {
    int inner = 0;
    view.onPump = [&] {
        if (inner++ == 0)
            lifecycle.FormActivate();
    };
    lifecycle.FormActivate();
    EXPECT_EQ(log.calls.count(QStringLiteral("initPlayer")), 1);
    EXPECT_EQ(log.calls.count(QStringLiteral("switchChannel")), 1);
}

// An error of the EPG display does not keep the player from starting.
TEST_F(LifecycleTest, EPGDisplayErrorIsDiscarded) {
    view.throwOnEPGDisplay = true;
    lifecycle.FormActivate();
    EXPECT_TRUE(log.has(QStringLiteral("switchChannel")));
    EXPECT_FALSE(IsStarting);
}

// Close requests wait for the start-up, then close with the hourglass around it.
TEST_F(LifecycleTest, CloseRequestIgnoredWhileStarting) {
    ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    log.calls.clear();
    lifecycle.Close1Click();
    EXPECT_TRUE(log.calls.isEmpty());
    lifecycle.FormActivate();
    log.calls.clear();
    lifecycle.Close1Click();
    EXPECT_EQ(log.calls, (QStringList{QStringLiteral("cursor busy"), QStringLiteral("pump"),
                                      QStringLiteral("closeWindow"), QStringLiteral("cursor normal")}));
}

// A start-up that can start nothing does not hold the close back: a failed connection, an empty
// channel box, an entry without record.
TEST_F(LifecycleTest, CloseWorksWhenNothingCanStart) {
    steps.answers.remove(QStringLiteral("gettime"));
    connection.InitConnection();
    EXPECT_TRUE(lifecycle.closeAllowed());

    steps.answers[QStringLiteral("gettime")] = QStringLiteral("1780000000");
    ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::Connected);
    view.selection = false;
    EXPECT_TRUE(lifecycle.closeAllowed());
    view.selection = true;
    EXPECT_FALSE(lifecycle.closeAllowed());

    steps.pick = {true, false, false};
    ASSERT_EQ(connection.InitConnection(), ConnectionOutcome::NoChannelRecord);
    EXPECT_TRUE(IsStarting);
    EXPECT_TRUE(lifecycle.closeAllowed());
}

// The close sequence with a player: every step in its order, each late request bounded.
TEST_F(LifecycleTest, CloseSequenceInOrder) {
    connView.settings.Mode = 1;
    connView.settings.LockRc = true;
    connView.settings.ShowMessage = true;
    connView.settings.AutoSpts = true;
    steps.answers[QStringLiteral("vlcpage")] = QStringLiteral("<html>");
    startPlaying();
    EXPECT_TRUE(lifecycle.FormClose());
    const QStringList expected{
        QStringLiteral("cursor busy"),
        QStringLiteral("status shutting down..."),
        QStringLiteral("vlc stop 1000"),
        QStringLiteral("minimise"),
        QStringLiteral("stopTimers"),
        QStringLiteral("abortEPG"),
        QStringLiteral("stopPlayback"),
        QStringLiteral("rc unlock 500"),
        QStringLiteral("message Quoxel is closed! 500"),
        QStringLiteral("pes 500"),
        QStringLiteral("stopEPGThread"),
        QStringLiteral("shutDownPlayer"),
        QStringLiteral("closeOptionsDialog"),
        QStringLiteral("releaseClients"),
    };
    EXPECT_EQ(log.calls, expected);
    EXPECT_TRUE(IsClosing);
    // A second close does nothing.
    log.calls.clear();
    EXPECT_FALSE(lifecycle.FormClose());
    EXPECT_TRUE(log.calls.isEmpty());
}

struct CloseCase {
    const char* name;
    uint8_t mode;
    bool lockRc;
    bool showMessage;
    bool autoSpts;
    QStringList present;
    QStringList absent;
};

class CloseFlagsTest : public LifecycleTest, public ::testing::WithParamInterface<CloseCase> {};

// The flags and the mode decide which receiver commands go out at close.
TEST_P(CloseFlagsTest, CommandsFollowTheFlags) {
    const CloseCase& c = GetParam();
    connView.settings.Mode = c.mode;
    connView.settings.LockRc = c.lockRc;
    connView.settings.ShowMessage = c.showMessage;
    connView.settings.AutoSpts = c.autoSpts;
    startPlaying();
    lifecycle.FormClose();
    for (const QString& call : c.present)
        EXPECT_TRUE(log.has(call)) << call.toStdString();
    for (const QString& call : c.absent)
        EXPECT_FALSE(log.has(call)) << call.toStdString();
    EXPECT_EQ(log.calls.last(), QStringLiteral("releaseClients"));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, CloseFlagsTest,
    ::testing::Values(
        CloseCase{"LiveNoFlags",
                  0,
                  false,
                  false,
                  false,
                  {QStringLiteral("stopEPGThread")},
                  {QStringLiteral("vlc stop 1000"), QStringLiteral("rc unlock 500"),
                   QStringLiteral("message Quoxel is closed! 500"), QStringLiteral("pes 500")}},
        CloseCase{"QuoxelModeNoPes",
                  2,
                  true,
                  true,
                  true,
                  {QStringLiteral("rc unlock 500"), QStringLiteral("message Quoxel is closed! 500")},
                  {QStringLiteral("pes 500"), QStringLiteral("vlc stop 1000")}},
        CloseCase{
            "LiveAutoSpts", 0, false, false, true, {QStringLiteral("pes 500")}, {QStringLiteral("rc unlock 500")}}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

// Without a player nothing of the receiver is restored and the window state is not saved.
TEST_F(LifecycleTest, CloseWithoutPlayerSendsNothing) {
    Options.LockRc = true;
    Options.ShowMessage = true;
    Options.AutoSpts = true;
    IsStarting = false;
    EXPECT_TRUE(lifecycle.FormClose());
    EXPECT_EQ(log.calls,
              (QStringList{QStringLiteral("cursor busy"), QStringLiteral("status shutting down..."),
                           QStringLiteral("minimise"), QStringLiteral("stopTimers"), QStringLiteral("abortEPG")}));
    EXPECT_TRUE(IsClosing);
}

// Errors of the last steps are discarded: the later ones still run.
TEST_F(LifecycleTest, LateCloseErrorsAreDiscarded) {
    startPlaying();
    view.throwOnShutDown = true;
    steps.throwOnRelease = true;
    EXPECT_NO_THROW(lifecycle.FormClose());
    EXPECT_EQ(log.indexOf(QStringLiteral("closeOptionsDialog")), log.indexOf(QStringLiteral("shutDownPlayer")) + 1);
    EXPECT_EQ(log.calls.last(), QStringLiteral("releaseClients"));
}

// "Init Quoxel" releases playback, the EPG thread and the channels' EPG, runs the sequence again,
// and the next activation plays again.
TEST_F(LifecycleTest, ReinitialisationRunsTheSequenceAgain) {
    startPlaying();
    lifecycle.InitQuoxel1Click();
    const QStringList head{QStringLiteral("cursor busy"),          QStringLiteral("pump"),
                           QStringLiteral("stopPlayback"),         QStringLiteral("shutDownPlayer"),
                           QStringLiteral("stopEPGThread"),        QStringLiteral("resetChannelEPG"),
                           QStringLiteral("refreshAktChannelEPG"), QStringLiteral("caption Quoxel v0.1.0.0")};
    EXPECT_EQ(log.calls.mid(0, head.size()), head);
    EXPECT_EQ(log.calls.last(), QStringLiteral("cursor normal"));
    EXPECT_TRUE(IsStarting);
    log.calls.clear();
    lifecycle.FormActivate();
    EXPECT_TRUE(log.has(QStringLiteral("initPlayer")));
    EXPECT_TRUE(log.has(QStringLiteral("switchChannel")));
}

struct PriorityCase {
    QString text;
    bool known;
    int nice;
};

class PriorityTest : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(PriorityTest, NiceValues) {
    int nice = 1234;
    EXPECT_EQ(priorityNice(GetParam().text, &nice), GetParam().known);
    if (GetParam().known) {
        EXPECT_EQ(nice, GetParam().nice);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Priorities, PriorityTest,
    ::testing::Values(PriorityCase{QStringLiteral("IDLE"), true, 19}, PriorityCase{QStringLiteral("NORMAL"), true, 0},
                      PriorityCase{QStringLiteral("HIGH"), true, -10}, PriorityCase{QStringLiteral("high"), false, 0},
                      PriorityCase{QStringLiteral("REALTIME"), false, 0}, PriorityCase{QString(), false, 0}));
