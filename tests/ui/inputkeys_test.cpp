#include "ui/inputcontroller.h"

#include "core/appflags.h"
#include "core/options.h"
#include "inputtesthost.h"
#include "support/appstate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using quoxel::InWindowPanel;
using quoxel::OsdWindow;
using quoxel::ViewCheck;

namespace {

// One row of the key tables: the view state before, the key, the host calls it must make in
// order, and what must hold afterwards.
struct KeyRow {
    std::string name;
    Setup setup;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QStringList calls;
    Setup check = {};
};

void PrintTo(const KeyRow& row, std::ostream* os) {
    *os << row.name;
}

// Presses the key on the focused child and waits for the window to have run its messages and
// for the expected calls (and no more) to be made.
void press(InputTestHost& host, Qt::Key key, Qt::KeyboardModifiers modifiers, int expectedCalls) {
    const int before = host.keyMessages;
    const int messages = (modifiers & Qt::ControlModifier) ? 2 : 1;
    QTest::keyClick(host.editor(), key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.keyMessages >= before + messages; }, 3000));
    settle(host, expectedCalls);
}

const Setup quoxelMode = [](InputTestHost&) { Options.Mode = AppMode::Quoxel; };
const Setup notPlaying = [](InputTestHost& h) { h.playing = false; };
const Setup radioOnAir = [](InputTestHost& h) {
    h.akt = h.channels[3];
    h.boxIndex = 3;
};
const Setup blocked = [](InputTestHost& h) { h.controller().TimerInputBlockKey().start(); };
const Setup videoOnly = [](InputTestHost& h) { h.checks[ViewCheck::VideoOnly1] = true; };

void leftFullscreen(InputTestHost& h) {
    EXPECT_FALSE(h.fullscreen);
    EXPECT_FALSE(h.isChecked(ViewCheck::Fullscreen1));
    EXPECT_TRUE(h.controller().TimerInputBlockKey().isActive());
}

void enteredFullscreen(InputTestHost& h) {
    EXPECT_TRUE(h.fullscreen);
    EXPECT_TRUE(h.isChecked(ViewCheck::Fullscreen1));
    EXPECT_TRUE(h.controller().TimerInputBlockKey().isActive());
    EXPECT_EQ(QCursor::pos(), QPoint(0, 2000));
}

void stayedFullscreen(InputTestHost& h) {
    EXPECT_TRUE(h.fullscreen);
    EXPECT_TRUE(h.isChecked(ViewCheck::Fullscreen1));
}

void stayedWindow(InputTestHost& h) {
    EXPECT_FALSE(h.fullscreen);
    EXPECT_FALSE(h.isChecked(ViewCheck::Fullscreen1));
}

void stepInFullscreen(InputTestHost& h) {
    ASSERT_EQ(h.switchFlags.size(), 1);
    // The switch ran inside the transition, with the menu flag cleared.
    EXPECT_TRUE(h.switchFlags[0].first);
    EXPECT_FALSE(h.switchFlags[0].second);
    EXPECT_FALSE(h.inTransition);
    EXPECT_FALSE(h.menuOpen);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

class KeyTable : public ::testing::TestWithParam<KeyRow> {};

} // namespace

// Each reachable row of the full-screen table (F) and the window table (W): a real key press on
// the focused child goes through the hook to the rules, which make exactly the listed calls.
TEST_P(KeyTable, KeyMakesTheRowsCalls) {
    const KeyRow& row = GetParam();
    ScopedAppState state; // options are program-wide: each row starts from the defaults
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QCursor::setPos(host.video()->mapToGlobal(QPoint(100, 100)));
    row.setup(host);
    host.calls.clear();
    press(host, row.key, row.modifiers, row.calls.size());
    EXPECT_EQ(host.calls, row.calls);
    if (row.check)
        row.check(host);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(TableF, KeyTable, ::testing::Values(
    // channel overlay visible, details hidden
    KeyRow{"ChannelsEnterSwitches", full(osd({OsdWindow::Channels})), Qt::Key_Return, {},
           {"HideOSD Channels", "SwitchChannel arte"}},
    KeyRow{"ChannelsKeypadEnterSwitches", full(osd({OsdWindow::Channels})), Qt::Key_Enter, Qt::KeypadModifier,
           {"HideOSD Channels", "SwitchChannel arte"}},
    KeyRow{"ChannelsEnterQuoxelModeNothing", full(both(osd({OsdWindow::Channels}), quoxelMode)), Qt::Key_Return, {},
           {}},
    KeyRow{"ChannelsIOpensDetails", full(osd({OsdWindow::Channels})), Qt::Key_I, {},
           {"HideOSD Info", "OpenDetailsOSD arte noauto"}},
    KeyRow{"ChannelsOCloses", full(osd({OsdWindow::Channels})), Qt::Key_O, {}, {"HideOSD Channels"}},
    KeyRow{"ChannelsEscCloses", full(osd({OsdWindow::Channels})), Qt::Key_Escape, {}, {"HideOSD Channels"},
           stayedFullscreen},
    KeyRow{"ChannelsOtherKeysStop", full(osd({OsdWindow::Channels})), Qt::Key_PageDown, {}, {}},
    // details overlay visible (also over the channel overlay)
    KeyRow{"DetailsEscCloses", full(osd({OsdWindow::Details})), Qt::Key_Escape, {},
           {"HideOSD Info", "CloseDetailsOSD"}, stayedFullscreen},
    KeyRow{"DetailsLeftPrev", full(osd({OsdWindow::Details})), Qt::Key_Left, {}, {"OsdDetailsPrev"}},
    KeyRow{"DetailsRightNext", full(osd({OsdWindow::Details})), Qt::Key_Right, {}, {"OsdDetailsNext"}},
    KeyRow{"DetailsUpChannel", full(osd({OsdWindow::Details})), Qt::Key_Up, {}, {"OsdDetailsChanUp"}},
    KeyRow{"DetailsDownChannel", full(osd({OsdWindow::Details})), Qt::Key_Down, {}, {"OsdDetailsChanDown"}},
    KeyRow{"DetailsICloses", full(osd({OsdWindow::Details})), Qt::Key_I, {}, {"HideOSD Info", "CloseDetailsOSD"}},
    KeyRow{"DetailsOverChannelsEnterStops", full(osd({OsdWindow::Channels, OsdWindow::Details})), Qt::Key_Return, {},
           {}},
    KeyRow{"DetailsOverChannelsEscClosesDetails", full(osd({OsdWindow::Channels, OsdWindow::Details})),
           Qt::Key_Escape, {}, {"HideOSD Info", "CloseDetailsOSD"}},
    KeyRow{"DetailsOtherKeysStop", full(osd({OsdWindow::Details})), Qt::Key_O, {}, {}},
    // info overlay visible
    KeyRow{"InfoIOpensDetailsForCurrent", full(osd({OsdWindow::Info})), Qt::Key_I, {},
           {"HideOSD Info", "OpenDetailsOSD ZDF noauto"}},
    KeyRow{"InfoOOpensChannels", full(osd({OsdWindow::Info})), Qt::Key_O, {},
           {"HideOSD Info", "ShowOSD Channels ZDF noauto"}},
    KeyRow{"InfoEscLeavesFullscreen", full(osd({OsdWindow::Info})), Qt::Key_Escape, {},
           {"HideOSD Info", "HideEPGInfo", "setFullscreen 0", "BringMainWindowToFront", "BringMainWindowToFront"},
           leftFullscreen},
    // common rows
    KeyRow{"IShowsInfo", full(), Qt::Key_I, {}, {"ShowOSD Info ZDF auto"}},
    KeyRow{"OShowsChannels", full(), Qt::Key_O, {}, {"ShowOSD Channels ZDF noauto"}},
    KeyRow{"EscLeavesFullscreen", full(), Qt::Key_Escape, {},
           {"HideEPGInfo", "setFullscreen 0", "BringMainWindowToFront", "BringMainWindowToFront"}, leftFullscreen},
    KeyRow{"EscNotPlayingOnlyBlocks", full(notPlaying), Qt::Key_Escape, {}, {},
           [](InputTestHost& h) {
               stayedFullscreen(h);
               EXPECT_TRUE(h.controller().TimerInputBlockKey().isActive());
           }},
    KeyRow{"EscRadioNothing", full(radioOnAir), Qt::Key_Escape, {}, {},
           [](InputTestHost& h) {
               stayedFullscreen(h);
               EXPECT_FALSE(h.controller().TimerInputBlockKey().isActive());
           }},
    KeyRow{"EscBlockedNothing", full(blocked), Qt::Key_Escape, {}, {}, stayedFullscreen},
    KeyRow{"PageUpStepsBack", full(), Qt::Key_PageUp, {}, {"SwitchChannel Das Erste", "setFullscreen 1"},
           stepInFullscreen},
    KeyRow{"PageDownStepsOn", full(), Qt::Key_PageDown, {}, {"SwitchChannel arte", "setFullscreen 1"},
           stepInFullscreen},
    KeyRow{"PageDownOntoRadioLeaves",
           full([](InputTestHost& h) {
               h.akt = h.channels[2];
               h.boxIndex = 2;
           }),
           Qt::Key_PageDown, {}, {"SwitchChannel Bayern 3", "setFullscreen 0", "ShowMainWindow"},
           [](InputTestHost& h) {
               stepInFullscreen(h);
               EXPECT_FALSE(h.fullscreen);
           }},
    KeyRow{"PageUpAtFirstNothing", full([](InputTestHost& h) { h.boxIndex = 0; }), Qt::Key_PageUp, {}, {}},
    KeyRow{"PageDownAtLastNothing", full([](InputTestHost& h) { h.boxIndex = 3; }), Qt::Key_PageDown, {}, {}},
    KeyRow{"WindowOnlyKeysNothing", full(), Qt::Key_T, {}, {}},
    KeyRow{"F9Nothing", full(), Qt::Key_F9, {}, {}},
    KeyRow{"GGuide", full(), Qt::Key_G, {}, {"ShowGuide"}},
    // left Ctrl in full screen hides the info; with "R" it restarts the player
    KeyRow{"CtrlRRestarts", full(osd({OsdWindow::Info})), Qt::Key_R, Qt::ControlModifier,
           {"HideEPGInfo", "HideEPGInfo", "VLCRestart1Click"}},
    KeyRow{"CtrlIHidesThenShows", full(osd({OsdWindow::Info})), Qt::Key_I, Qt::ControlModifier,
           {"HideEPGInfo", "HideEPGInfo", "ShowOSD Info ZDF auto"}}),
    [](const ::testing::TestParamInfo<KeyRow>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(TableW, KeyTable, ::testing::Values(
    // channel list visible, details hidden
    KeyRow{"ListEnterSwitches", window(panels({InWindowPanel::Channels})), Qt::Key_Return, {},
           {"HideChannelPanel", "SwitchChannel arte"}},
    KeyRow{"ListEnterQuoxelModeNothing", window(both(panels({InWindowPanel::Channels}), quoxelMode)), Qt::Key_Return,
           {}, {}},
    KeyRow{"ListEnterWhileSwitchingNoSecondSwitch",
           window(both(panels({InWindowPanel::Channels}), [](InputTestHost&) { IsSwitching = true; })),
           Qt::Key_Return, {}, {"HideChannelPanel"}, [](InputTestHost&) { IsSwitching = false; }},
    KeyRow{"ListIOpensDetails", window(panels({InWindowPanel::Channels})), Qt::Key_I, {},
           {"HideEPGInfo", "OpenDetailsPanel arte"}},
    KeyRow{"ListOCloses", window(panels({InWindowPanel::Channels})), Qt::Key_O, {}, {"HideChannelPanel"}},
    KeyRow{"ListEscCloses", window(panels({InWindowPanel::Channels})), Qt::Key_Escape, {}, {"HideChannelPanel"},
           stayedWindow},
    KeyRow{"ListOtherKeysStop", window(panels({InWindowPanel::Channels})), Qt::Key_T, {}, {}},
    // details visible
    KeyRow{"DetailsEscCloses", window(panels({InWindowPanel::Details})), Qt::Key_Escape, {},
           {"HideEPGInfo", "CloseDetailsPanel"}, stayedWindow},
    KeyRow{"DetailsLeftPrev", window(panels({InWindowPanel::Details})), Qt::Key_Left, {}, {"PnlEpgPrevClick"}},
    KeyRow{"DetailsRightNext", window(panels({InWindowPanel::Details})), Qt::Key_Right, {}, {"PnlEpgNextClick"}},
    KeyRow{"DetailsUpChannel", window(panels({InWindowPanel::Details})), Qt::Key_Up, {}, {"PnlEpgChanUp"}},
    KeyRow{"DetailsDownChannel", window(panels({InWindowPanel::Details})), Qt::Key_Down, {}, {"PnlEpgChanDown"}},
    KeyRow{"DetailsICloses", window(panels({InWindowPanel::Details})), Qt::Key_I, {},
           {"HideEPGInfo", "CloseDetailsPanel"}},
    KeyRow{"DetailsOverListEnterStops", window(panels({InWindowPanel::Channels, InWindowPanel::Details})),
           Qt::Key_Return, {}, {}},
    KeyRow{"DetailsOtherKeysStop", window(panels({InWindowPanel::Details})), Qt::Key_F9, {}, {}},
    // info bar visible
    KeyRow{"InfoIOpensDetailsForCurrent", window(panels({InWindowPanel::Info})), Qt::Key_I, {},
           {"HideEPGInfo", "OpenDetailsPanel ZDF"}},
    KeyRow{"InfoOOpensList", window(panels({InWindowPanel::Info})), Qt::Key_O, {},
           {"HideEPGInfo", "ShowChannelPanel"}},
    KeyRow{"InfoEscEntersFullscreen", window(panels({InWindowPanel::Info})), Qt::Key_Escape, {},
           {"HideEPGInfo", "setFullscreen 1", "HideEPGInfo"}, enteredFullscreen},
    // common rows
    KeyRow{"IShowsInfo", window(), Qt::Key_I, {}, {"ShowEPGInfo ZDF"}},
    KeyRow{"OShowsList", window(), Qt::Key_O, {}, {"ShowChannelPanel"}},
    KeyRow{"F8AlwaysOnTop", window(), Qt::Key_F8, {}, {"alwaysontop1Click"}},
    KeyRow{"F9VideoOnly", window(), Qt::Key_F9, {}, {"VideoOnly1Click"}},
    KeyRow{"EscEntersFullscreen", window(), Qt::Key_Escape, {}, {"setFullscreen 1", "HideEPGInfo"},
           enteredFullscreen},
    KeyRow{"EscEntersFullscreenWithInfo", window([](InputTestHost&) { Options.ShowEpgInfo = true; }),
           Qt::Key_Escape, {}, {"setFullscreen 1", "ShowEPGInfo ZDF"}, enteredFullscreen},
    KeyRow{"EscInVideoOnlyEntersFullscreen", window(videoOnly), Qt::Key_Escape, {}, {"setFullscreen 1", "HideEPGInfo"},
           enteredFullscreen},
    KeyRow{"EscClosesTelnetFirst", window(panels({InWindowPanel::Telnet})), Qt::Key_Escape, {}, {"Telnet1Click"},
           stayedWindow},
    KeyRow{"EscClosesBoxPictureFirst", window(panels({InWindowPanel::RealOsd})), Qt::Key_Escape, {},
           {"DBoxOSD1Click"}, stayedWindow},
    KeyRow{"EscRadioNothing", window(both(radioOnAir, panels({InWindowPanel::Telnet}))), Qt::Key_Escape, {}, {},
           stayedWindow},
    KeyRow{"EscBlockedNothing", window(blocked), Qt::Key_Escape, {}, {}, stayedWindow},
    KeyRow{"EscNotPlayingStaysInWindow", window(notPlaying), Qt::Key_Escape, {}, {},
           [](InputTestHost& h) {
               stayedWindow(h);
               EXPECT_TRUE(h.controller().TimerInputBlockKey().isActive());
           }},
    KeyRow{"PageUpStepsBack", window(), Qt::Key_PageUp, {}, {"SwitchChannel Das Erste"},
           [](InputTestHost& h) {
               stayedWindow(h);
               EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
           }},
    KeyRow{"PageUpAtFirstNothing", window([](InputTestHost& h) { h.boxIndex = 0; }), Qt::Key_PageUp, {}, {}},
    KeyRow{"PageDownAtLastNothing", window(radioOnAir), Qt::Key_PageDown, {}, {}},
    KeyRow{"PageDownWithoutSelectionNothing", window([](InputTestHost& h) { h.boxIndex = -1; }), Qt::Key_PageDown,
           {}, {}},
    KeyRow{"PageDownWhileSwitchingNothing", window([](InputTestHost&) { IsSwitching = true; }), Qt::Key_PageDown, {},
           {}, [](InputTestHost&) { IsSwitching = false; }},
    // terminal or receiver picture open: every key but Esc is theirs
    KeyRow{"TelnetTakesLetters", window(panels({InWindowPanel::Telnet})), Qt::Key_I, {}, {}},
    KeyRow{"TelnetTakesT", window(panels({InWindowPanel::Telnet})), Qt::Key_T, {}, {}},
    KeyRow{"BoxPictureTakesLetters", window(panels({InWindowPanel::RealOsd})), Qt::Key_O, {}, {}},
    KeyRow{"BoxPictureTakesPageDown", window(panels({InWindowPanel::RealOsd})), Qt::Key_PageDown, {}, {}},
    // left Ctrl: the menu shortcuts' in the window; hides the info in video only
    KeyRow{"CtrlINothing", window(), Qt::Key_I, Qt::ControlModifier, {}},
    KeyRow{"CtrlONothing", window(), Qt::Key_O, Qt::ControlModifier, {}},
    KeyRow{"CtrlTNothing", window(), Qt::Key_T, Qt::ControlModifier, {}},
    KeyRow{"CtrlRNothing", window(), Qt::Key_R, Qt::ControlModifier, {}},
    KeyRow{"CtrlEscNothing", window(), Qt::Key_Escape, Qt::ControlModifier, {}, stayedWindow},
    KeyRow{"VideoOnlyCtrlIHidesInfo", window(videoOnly), Qt::Key_I, Qt::ControlModifier,
           {"HideEPGInfo", "HideEPGInfo"}},
    KeyRow{"VideoOnlyCtrlRRestarts", window(videoOnly), Qt::Key_R, Qt::ControlModifier,
           {"HideEPGInfo", "HideEPGInfo", "VLCRestart1Click"}}),
    [](const ::testing::TestParamInfo<KeyRow>& info) { return info.param.name; });
// clang-format on

// In full screen, Esc leaves it; a second Esc within the 500 ms block does nothing, and after
// the block has run out Esc works again.
TEST(KeyBlock, SecondEscWithin500msDoesNothing) {
    ScopedAppState state; // options are program-wide: each row starts from the defaults
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    full()(host);
    press(host, Qt::Key_Escape, {}, 4);
    ASSERT_FALSE(host.fullscreen);
    QTimer& block = host.controller().TimerInputBlockKey();
    EXPECT_EQ(block.interval(), 500);
    ASSERT_TRUE(block.isActive());

    // The window again, pointer on the video: Esc would enter full screen, but it is blocked.
    QCursor::setPos(host.video()->mapToGlobal(QPoint(100, 100)));
    host.calls.clear();
    press(host, Qt::Key_Escape, {}, 0);
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_FALSE(host.fullscreen);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !block.isActive(); }, 3000));
    press(host, Qt::Key_Escape, {}, 2);
    EXPECT_EQ(host.calls, (QStringList{"setFullscreen 1", "HideEPGInfo"}));
    EXPECT_TRUE(host.fullscreen);

    // Just entered: Esc in full screen is blocked as well.
    host.calls.clear();
    press(host, Qt::Key_Escape, {}, 0);
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_TRUE(host.fullscreen);
}

// Hook messages are ignored while the program closes, and while another window is in front
// and the view is not full screen; in full screen they still count.
TEST(KeyGate, ClosingAndBackground) {
    ScopedAppState state; // options are program-wide: each row starts from the defaults
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    IsClosing = true;
    press(host, Qt::Key_I, {}, 0);
    IsClosing = false;
    EXPECT_TRUE(host.calls.isEmpty());

    QWidget other;
    other.setGeometry(600, 100, 100, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 5000));
    ASSERT_FALSE(host.isForeground());
    // The key still reaches the main window's hook, as with the system-wide hook.
    const int before = host.keyMessages;
    QTest::keyClick(&other, Qt::Key_I);
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.keyMessages > before; }, 3000));
    QTest::qWait(50);
    EXPECT_TRUE(host.calls.isEmpty());

    host.fullscreen = true;
    QTest::keyClick(&other, Qt::Key_I);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.calls.isEmpty(); }, 3000));
    EXPECT_EQ(host.calls, QStringList{"ShowOSD Info ZDF auto"});
}

// With the video panel focused (as while the player has the input), the keys work the same.
TEST(KeyGate, VideoFocused) {
    ScopedAppState state; // options are program-wide: each row starts from the defaults
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    host.video()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.video()->hasFocus(); }, 3000));
    QTest::keyClick(host.video(), Qt::Key_O);
    QTest::keyClick(host.video(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.calls.size() >= 2; }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(host.calls, (QStringList{"ShowChannelPanel", "HideChannelPanel"}));
}
