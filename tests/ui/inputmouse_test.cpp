#include "ui/inputcontroller.h"

#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "inputtesthost.h"
#include "support/appstate.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <functional>

using quoxel::InWindowPanel;
using quoxel::OsdWindow;
using quoxel::ViewCheck;
namespace WM = quoxel::WM;

namespace {

enum class Action {
    DblClickVideo,
    DblClickEditor,
    RightClickVideo,
    RightClickEditor,
    MiddleClickVideo,
    WheelVideo,
};

struct MouseRow {
    std::string name;
    Setup setup;
    Action action;
    QStringList calls;
    Setup check = {};
};

void PrintTo(const MouseRow& row, std::ostream* os) {
    *os << row.name;
}

void sendWheel(QWidget* widget, int deltaY) {
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent wheel(local, widget->mapToGlobal(local), QPoint(), QPoint(0, deltaY), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

// Does the action with the pointer where the user's would be, and waits for its hook message and
// the expected calls (and no more).
void act(InputTestHost& host, Action action, int expectedCalls) {
    const bool onVideo = action != Action::DblClickEditor && action != Action::RightClickEditor;
    QWidget* target = onVideo ? host.video() : static_cast<QWidget*>(host.editor());
    const QPoint local(20, 10);
    QCursor::setPos(target->mapToGlobal(local));
    int code = 0;
    switch (action) {
    case Action::DblClickVideo:
    case Action::DblClickEditor:
        QTest::mouseDClick(target, Qt::LeftButton, {}, local);
        code = WM::LButtonDblClk;
        break;
    case Action::RightClickVideo:
    case Action::RightClickEditor:
        QTest::mouseClick(target, Qt::RightButton, {}, local);
        code = WM::RButtonDown;
        break;
    case Action::MiddleClickVideo:
        QTest::mouseClick(target, Qt::MiddleButton, {}, local);
        code = WM::MButtonDown;
        break;
    case Action::WheelVideo:
        sendWheel(target, 120);
        code = WM::MouseWheel;
        break;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.mouseCodes.contains(code); }, 3000));
    settle(host, expectedCalls);
}

const Setup radioOnAir = [](InputTestHost& h) {
    h.akt = h.channels[3];
    h.boxIndex = 3;
};
const Setup notPlaying = [](InputTestHost& h) { h.playing = false; };
const Setup menuOpen = [](InputTestHost& h) { h.menuOpen = true; };
const Setup dblClickEPG = [](InputTestHost& h) { h.dblClickEPG = true; };
const Setup liftedTopmost = [](InputTestHost& h) { h.alwaysOnTop = true; };
const Setup topmostChosen = [](InputTestHost& h) { h.checks[ViewCheck::alwaysontop1] = true; };

void inFullscreen(InputTestHost& h) {
    EXPECT_TRUE(h.fullscreen);
    EXPECT_TRUE(h.isChecked(ViewCheck::Fullscreen1));
}

void inWindow(InputTestHost& h) {
    EXPECT_FALSE(h.fullscreen);
    EXPECT_FALSE(h.isChecked(ViewCheck::Fullscreen1));
}

void entered(InputTestHost& h) {
    inFullscreen(h);
    EXPECT_FALSE(h.dblClickEPG);
    EXPECT_EQ(QCursor::pos(), QPoint(0, 2000));
}

void left(InputTestHost& h) {
    inWindow(h);
    EXPECT_FALSE(h.dblClickEPG);
    EXPECT_FALSE(h.alwaysOnTop);
}

void menuStarted(InputTestHost& h) {
    EXPECT_TRUE(h.menuOpen);
}

class MouseRules : public ::testing::TestWithParam<MouseRow> {};

} // namespace

// The mouse rules: a real double click, right, middle click or wheel goes through the hook to
// the rules, which make exactly the listed calls and leave the full-screen state consistent.
TEST_P(MouseRules, ActionMakesTheRowsCalls) {
    const MouseRow& row = GetParam();
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    row.setup(host);
    host.calls.clear();
    act(host, row.action, row.calls.size());
    EXPECT_EQ(host.calls, row.calls);
    if (row.check)
        row.check(host);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(DoubleClick, MouseRules, ::testing::Values(
    // 6c: into full screen
    MouseRow{"WindowEntersWithInfo", window([](InputTestHost&) { Options.ShowEpgInfo = true; }),
             Action::DblClickVideo, {"setFullscreen 1", "ShowEPGInfo ZDF"}, entered},
    // 6a: always on top is lifted for full screen
    MouseRow{"WindowLiftsTopmost", window(topmostChosen), Action::DblClickVideo,
             {"setTopmost 0", "setFullscreen 1", "HideEPGInfo"},
             [](InputTestHost& h) {
                 entered(h);
                 EXPECT_TRUE(h.alwaysOnTop);
             }},
    MouseRow{"WindowTopmostAlreadyLifted", window(both(topmostChosen, liftedTopmost)), Action::DblClickVideo,
             {"setFullscreen 1", "HideEPGInfo"}, entered},
    // 6b: a double click on the info bar clicks the video below it
    MouseRow{"WindowInfoBarClicksVideo", window(both(panels({InWindowPanel::Info}), dblClickEPG)), Action::DblClickVideo,
             {"HideEPGInfo", "setFullscreen 1", "HideEPGInfo"}, entered},
    MouseRow{"WindowNotPlayingNothing", window(notPlaying), Action::DblClickVideo, {}, inWindow},
    MouseRow{"WindowOutsideVideoNothing", window(), Action::DblClickEditor, {}, inWindow},
    // 1 and 2: nothing with a list or details open, nothing for radio
    MouseRow{"WindowListOpenNothing", window(panels({InWindowPanel::Channels})), Action::DblClickVideo, {}, inWindow},
    MouseRow{"WindowDetailsOpenNothing", window(panels({InWindowPanel::Details})), Action::DblClickVideo, {}, inWindow},
    MouseRow{"WindowRadioNothing", window(radioOnAir), Action::DblClickVideo, {}, inWindow},
    MouseRow{"FullChannelsOpenNothing", full(osd({OsdWindow::Channels})), Action::DblClickVideo, {}, inFullscreen},
    MouseRow{"FullDetailsOpenNothing", full(osd({OsdWindow::Details})), Action::DblClickVideo, {}, inFullscreen},
    MouseRow{"FullRadioNothing", full(radioOnAir), Action::DblClickVideo, {}, inFullscreen},
    // 4: out of full screen
    MouseRow{"FullLeaves", full(), Action::DblClickVideo, {"setFullscreen 0", "BringMainWindowToFront"}, left},
    MouseRow{"FullLeavesRestoresTopmost", full(liftedTopmost), Action::DblClickVideo,
             {"setFullscreen 0", "BringMainWindowToFront", "setTopmost 1"}, left},
    // 5: on the info overlay: hide it, click the video, whose double click leaves
    MouseRow{"FullOnInfoOverlay", full(osd({OsdWindow::Info})), Action::DblClickVideo,
             {"HideEPGInfo", "setFullscreen 0", "BringMainWindowToFront", "BringMainWindowToFront"}, left},
    MouseRow{"FullOnInfoOverlayRestoresTopmost", full(both(osd({OsdWindow::Info}), liftedTopmost)),
             Action::DblClickVideo,
             {"HideEPGInfo", "setFullscreen 0", "BringMainWindowToFront", "setTopmost 1", "BringMainWindowToFront"},
             left},
    // 3: the info overlay was double-clicked
    MouseRow{"FullDblClickEPG", full(both(osd({OsdWindow::Info}), dblClickEPG)), Action::DblClickVideo,
             {"HideEPGInfo", "setFullscreen 0", "BringMainWindowToFront", "BringMainWindowToFront",
              "setFullscreen 0"},
             left}),
    [](const ::testing::TestParamInfo<MouseRow>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Buttons, MouseRules, ::testing::Values(
    MouseRow{"RightInVideoOpensMenu", window(), Action::RightClickVideo, {"startPopUpTimer"}, menuStarted},
    MouseRow{"RightHidesTvInfoBar", window(panels({InWindowPanel::Info})), Action::RightClickVideo,
             {"HideEPGInfo", "startPopUpTimer"}, menuStarted},
    MouseRow{"RightKeepsRadioInfoBar", window(both(radioOnAir, panels({InWindowPanel::Info}))),
             Action::RightClickVideo, {"startPopUpTimer"}, menuStarted},
    MouseRow{"RightOutsideVideoNothing", window(), Action::RightClickEditor, {},
             [](InputTestHost& h) { EXPECT_FALSE(h.menuOpen); }},
    MouseRow{"RightMenuOpenNothing", window(menuOpen), Action::RightClickVideo, {}},
    MouseRow{"RightFullDropsInfoOverlay", full(osd({OsdWindow::Info})), Action::RightClickVideo,
             {"dropInfoOsdForMenu", "startPopUpTimer"}, menuStarted},
    MouseRow{"RightFullOpensMenu", full(), Action::RightClickVideo, {"startPopUpTimer"}, menuStarted},
    MouseRow{"MiddleShowsInfo", window(), Action::MiddleClickVideo, {"ShowEPGInfo ZDF"}},
    MouseRow{"MiddleFullShowsInfo", full(), Action::MiddleClickVideo, {"ShowEPGInfo ZDF"}},
    MouseRow{"MiddleMenuOpenNothing", full(menuOpen), Action::MiddleClickVideo, {}},
    // In full screen the wheel shows the info overlay; lists and details keep it away.
    MouseRow{"WheelFullShowsInfo", full(), Action::WheelVideo, {"ShowOSD Info ZDF auto"},
             [](InputTestHost& h) { EXPECT_EQ(h.volumePos, 50); }},
    MouseRow{"WheelFullChannelsOpenNothing", full(osd({OsdWindow::Channels})), Action::WheelVideo, {}},
    MouseRow{"WheelFullDetailsOpenNothing", full(osd({OsdWindow::Details})), Action::WheelVideo, {}},
    MouseRow{"WheelFullListPanelNothing", full(panels({InWindowPanel::Channels})), Action::WheelVideo, {}},
    MouseRow{"WheelFullDetailsPanelNothing", full(panels({InWindowPanel::Details})), Action::WheelVideo, {}},
    MouseRow{"WheelFullDroppedDownNothing", full([](InputTestHost& h) { h.droppedDown = true; }), Action::WheelVideo,
             {}}),
    [](const ::testing::TestParamInfo<MouseRow>& info) { return info.param.name; });
// clang-format on

namespace {

struct WheelRow {
    std::string name;
    int start;
    QList<int> deltas;
    QStringList calls;
    int end;
};

void PrintTo(const WheelRow& row, std::ostream* os) {
    *os << row.name;
}

class WindowWheel : public ::testing::TestWithParam<WheelRow> {};

} // namespace

// The window's own wheel steps the volume by 5 within 0..100, showing the info first.
TEST_P(WindowWheel, VolumeSteps) {
    const WheelRow& row = GetParam();
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    host.volumePos = row.start;
    for (int delta : row.deltas)
        sendWheel(host.editor(), delta);
    EXPECT_EQ(host.calls, row.calls);
    EXPECT_EQ(host.volumePos, row.end);
}

INSTANTIATE_TEST_SUITE_P(
    Volume, WindowWheel,
    ::testing::Values(
        WheelRow{"Up", 50, {120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 55"}, 55},
        WheelRow{"Down", 50, {-120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 45"}, 45},
        WheelRow{"UpNearTop", 98, {120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 100"}, 100},
        WheelRow{"UpAtTop", 100, {120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 100"}, 100},
        WheelRow{"DownNearBottom", 3, {-120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 0"}, 0},
        WheelRow{"DownAtBottom", 0, {-120}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 0"}, 0},
        WheelRow{"TwoNotchesInOneEvent",
                 50,
                 {240},
                 {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 55", "ShowEPGInfo ZDF",
                  "reselectChannelBoxShownEntry", "setVolume 60"},
                 60},
        WheelRow{
            "HalfNotchesAddUp", 50, {60, 60}, {"ShowEPGInfo ZDF", "reselectChannelBoxShownEntry", "setVolume 55"}, 55}),
    [](const ::testing::TestParamInfo<WheelRow>& info) { return info.param.name; });

// Muted, or with the channel selector dropped down, the wheel leaves the volume alone; with the
// in-window channel list open it pages the list (up: never below row 0).
TEST(WindowWheel, MutedDroppedDownAndListPaging) {
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    host.muted = true;
    sendWheel(host.editor(), 120);
    host.muted = false;
    host.droppedDown = true;
    sendWheel(host.editor(), -120);
    host.droppedDown = false;
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_EQ(host.volumePos, 50);

    host.panels[InWindowPanel::Channels] = true;
    host.pageRows = 5;
    sendWheel(host.editor(), -120); // 0 -> 5
    sendWheel(host.editor(), -120); // 5 -> 10
    host.panelTop = 7;
    sendWheel(host.editor(), 120); // 7 -> 2
    host.panelTop = 6;
    sendWheel(host.editor(), 120); // 6 -> 1
    host.panelTop = 5;
    sendWheel(host.editor(), 120); // 5 -> 0: 0 is not at least 1
    host.panelTop = 3;
    sendWheel(host.editor(), 120); // 3 -> 0
    EXPECT_EQ(host.calls,
              (QStringList{"setChannelPanelTopIndex 5", "setChannelPanelTopIndex 10", "setChannelPanelTopIndex 2",
                           "setChannelPanelTopIndex 1", "setChannelPanelTopIndex 0", "setChannelPanelTopIndex 0"}));
    EXPECT_EQ(host.volumePos, 50);
}

// Full screen in by double click and out by double click, twice, with always on top chosen: the
// flags and the topmost placement agree after every step; the log names each double click.
TEST(DoubleClickFullscreen, InAndOutKeepsFlagsConsistent) {
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    host.checks[ViewCheck::alwaysontop1] = true;
    QFile log(appLogger().filePath());
    const auto logText = [&] {
        log.close();
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    };
    const int dblBefore = logText().count(QStringLiteral("WM_LBUTTONDBLCLK"));
    const QString enterText =
        QStringLiteral("->if ((GetForegroundWindow() = FrmQuoxel.Handle) and (not IsFullscreen)) then begin");
    const QString leaveText =
        QStringLiteral("->if IsFullscreen and not IsDblClickEPG and not FrmOSD_Info.Visible then begin");
    const int enterBefore = logText().count(enterText);
    const int leaveBefore = logText().count(leaveText);
    for (int round = 0; round < 2; ++round) {
        host.calls.clear();
        host.mouseCodes.clear();
        act(host, Action::DblClickVideo, 3);
        EXPECT_EQ(host.calls, (QStringList{"setTopmost 0", "setFullscreen 1", "HideEPGInfo"}));
        EXPECT_TRUE(host.fullscreen && host.isChecked(ViewCheck::Fullscreen1) && host.alwaysOnTop);

        host.calls.clear();
        host.mouseCodes.clear();
        act(host, Action::DblClickVideo, 3);
        EXPECT_EQ(host.calls, (QStringList{"setFullscreen 0", "BringMainWindowToFront", "setTopmost 1"}));
        EXPECT_FALSE(host.fullscreen || host.isChecked(ViewCheck::Fullscreen1) || host.alwaysOnTop);
    }
    const QString text = logText();
    EXPECT_EQ(text.count(QStringLiteral("WM_LBUTTONDBLCLK")) - dblBefore, 4);
    // The decision traces go to MSGDET, which the log accepts and discards.
    EXPECT_EQ(text.count(enterText) - enterBefore, 0);
    EXPECT_EQ(text.count(leaveText) - leaveBefore, 0);
}

// Esc enters full screen, Esc (after the block) leaves it, a double click enters again: every
// path through the rules leaves flags, check mark and the view in step.
TEST(DoubleClickFullscreen, EscAndDoubleClickMix) {
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QTimer& block = host.controller().TimerInputBlockKey();
    QCursor::setPos(host.video()->mapToGlobal(QPoint(50, 50)));
    QTest::keyClick(host.editor(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.fullscreen; }, 3000));
    EXPECT_TRUE(host.isChecked(ViewCheck::Fullscreen1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !block.isActive(); }, 3000));

    QTest::keyClick(host.editor(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.fullscreen; }, 3000));
    EXPECT_FALSE(host.isChecked(ViewCheck::Fullscreen1));

    host.mouseCodes.clear();
    act(host, Action::DblClickVideo, 0);
    EXPECT_TRUE(host.fullscreen);
    EXPECT_TRUE(host.isChecked(ViewCheck::Fullscreen1));
    QStringList switches;
    for (const QString& call : host.calls) {
        if (call.startsWith(QStringLiteral("setFullscreen")))
            switches << call;
    }
    EXPECT_EQ(switches, (QStringList{"setFullscreen 1", "setFullscreen 0", "setFullscreen 1"}));
}

// While the program closes, mouse input changes nothing.
TEST(MouseGate, ClosingIgnoresEverything) {
    ScopedAppState state;
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    IsClosing = true;
    act(host, Action::DblClickVideo, 0);
    act(host, Action::RightClickVideo, 0);
    act(host, Action::MiddleClickVideo, 0);
    IsClosing = false;
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_FALSE(host.fullscreen);
    EXPECT_FALSE(host.menuOpen);
}
