#include "ui/inputfilter.h"

#include "inputtesthost.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using quoxel::ClickSequence;
using quoxel::SynthesizeDoubleClick;
namespace VK = quoxel::VK;
namespace WM = quoxel::WM;

namespace {

// Records the mouse events a widget receives, in order.
class MouseRecorder : public QObject {
public:
    explicit MouseRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QList<QEvent::Type> types;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            types << event->type();
            break;
        default:
            break;
        }
        return false;
    }
};

// Waits until the window has run at least n key messages, then lets late ones arrive too.
bool waitKeys(InputTestHost& host, int n) {
    const bool reached = QTest::qWaitFor([&] { return host.keyMessages >= n; }, 3000);
    QTest::qWait(30);
    return reached;
}

// The codes without the pointer moves, which setting the pointer causes too.
QList<int> withoutMoves(const QList<int>& codes) {
    QList<int> out;
    for (int code : codes) {
        if (code != WM::MouseMove)
            out << code;
    }
    return out;
}

void sendWheel(QWidget* widget, int deltaY) {
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent wheel(local, widget->mapToGlobal(local), QPoint(), QPoint(0, deltaY), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

struct KeyCase {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int code;
};

class HookKeyCodes : public ::testing::TestWithParam<KeyCase> {};

} // namespace

// A key pressed in the window reaches the main window as one "KeyHookMessage" with the
// key's virtual-key code.
TEST_P(HookKeyCodes, KeyPressDeliversVirtualKey) {
    const KeyCase& c = GetParam();
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QTest::keyClick(host.editor(), c.key, c.modifiers);
    ASSERT_TRUE(waitKeys(host, 1));
    ASSERT_FALSE(host.keyCodes.isEmpty());
    EXPECT_EQ(host.keyCodes.last(), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HookKeyCodes,
    ::testing::Values(
        KeyCase{"Return", Qt::Key_Return, Qt::NoModifier, VK::Return},
        KeyCase{"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, VK::Return},
        KeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier, VK::Escape},
        KeyCase{"PageUp", Qt::Key_PageUp, Qt::NoModifier, VK::Prior},
        KeyCase{"PageDown", Qt::Key_PageDown, Qt::NoModifier, VK::Next},
        KeyCase{"Left", Qt::Key_Left, Qt::NoModifier, VK::Left}, KeyCase{"Up", Qt::Key_Up, Qt::NoModifier, VK::Up},
        KeyCase{"Right", Qt::Key_Right, Qt::NoModifier, VK::Right},
        KeyCase{"Down", Qt::Key_Down, Qt::NoModifier, VK::Down}, KeyCase{"I", Qt::Key_I, Qt::NoModifier, 0x49},
        KeyCase{"O", Qt::Key_O, Qt::NoModifier, 0x4F}, KeyCase{"R", Qt::Key_R, Qt::NoModifier, 0x52},
        KeyCase{"T", Qt::Key_T, Qt::NoModifier, 0x54}, KeyCase{"A", Qt::Key_A, Qt::NoModifier, 0x41},
        KeyCase{"Z", Qt::Key_Z, Qt::NoModifier, 0x5A}, KeyCase{"ShiftI", Qt::Key_I, Qt::ShiftModifier, 0x49},
        KeyCase{"Digit0", Qt::Key_0, Qt::NoModifier, 0x30}, KeyCase{"Digit9", Qt::Key_9, Qt::NoModifier, 0x39},
        KeyCase{"Keypad5", Qt::Key_5, Qt::KeypadModifier, 0x65}, KeyCase{"F1", Qt::Key_F1, Qt::NoModifier, 0x70},
        KeyCase{"F8", Qt::Key_F8, Qt::NoModifier, 0x77}, KeyCase{"F9", Qt::Key_F9, Qt::NoModifier, 0x78},
        KeyCase{"F12", Qt::Key_F12, Qt::NoModifier, 0x7B}, KeyCase{"Space", Qt::Key_Space, Qt::NoModifier, VK::Space},
        KeyCase{"Backspace", Qt::Key_Backspace, Qt::NoModifier, VK::Back},
        KeyCase{"Tab", Qt::Key_Tab, Qt::NoModifier, VK::Tab},
        KeyCase{"Delete", Qt::Key_Delete, Qt::NoModifier, VK::Delete},
        KeyCase{"LeftCtrl", Qt::Key_Control, Qt::NoModifier, VK::LControl},
        KeyCase{"LeftShift", Qt::Key_Shift, Qt::NoModifier, VK::LShift}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// The right-hand modifier keys are told from the left ones by their X11 keysym.
TEST(HookKeyCodes, RightModifiersByKeysym) {
    EXPECT_EQ(quoxel::virtualKeyOf(Qt::Key_Control, Qt::NoModifier, 0xffe3), VK::LControl);
    EXPECT_EQ(quoxel::virtualKeyOf(Qt::Key_Control, Qt::NoModifier, 0xffe4), VK::RControl);
    EXPECT_EQ(quoxel::virtualKeyOf(Qt::Key_Shift, Qt::NoModifier, 0xffe2), VK::RShift);
    EXPECT_EQ(quoxel::virtualKeyOf(Qt::Key_Alt, Qt::NoModifier, 0xffea), VK::RMenu);
    EXPECT_EQ(quoxel::virtualKeyOf(Qt::Key_unknown, Qt::NoModifier, 0), 0);
}

// A held key repeats, but the main window hears of the press once; the next press counts again.
TEST(HookKeys, AutoRepeatGivesOneMessagePerPress) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QWidget* w = host.editor();
    QTest::simulateEvent(w, true, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), false);
    for (int i = 0; i < 5; ++i) {
        QTest::simulateEvent(w, false, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), true);
        QTest::simulateEvent(w, true, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), true);
    }
    QTest::simulateEvent(w, false, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), false);
    ASSERT_TRUE(waitKeys(host, 1));
    QTest::qWait(50);
    EXPECT_EQ(host.keyCodes, QList<int>{0x49});
    // The editor still got every repeat: the hook only watches.
    EXPECT_EQ(host.editor()->text(), QStringLiteral("iiiiii"));

    QTest::keyClick(w, Qt::Key_I);
    ASSERT_TRUE(waitKeys(host, 2));
    EXPECT_EQ(host.keyCodes, (QList<int>{0x49, 0x49}));
}

// Whichever widget has the focus, the key reaches the main window once, also when the focused
// widget ignores it and Qt hands it on to the parents.
TEST(HookKeys, ReachesMainWindowFromFocusedChildOnce) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    // The editor takes letters itself.
    QTest::keyClick(host.editor(), Qt::Key_O);
    ASSERT_TRUE(waitKeys(host, 1));
    EXPECT_EQ(host.editor()->text(), QStringLiteral("o"));
    // The video panel ignores keys, so the press travels up to the window.
    host.video()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.video()->hasFocus(); }, 3000));
    QTest::keyClick(host.video(), Qt::Key_PageDown);
    QTest::keyClick(host.video(), Qt::Key_PageDown);
    ASSERT_TRUE(waitKeys(host, 3));
    QTest::qWait(50);
    EXPECT_EQ(host.keyCodes, (QList<int>{0x4F, VK::Next, VK::Next}));
}

// Ctrl held with another key: the Ctrl press is a message of its own (left Ctrl), and the
// other key's message carries the left-Ctrl state.
TEST(HookKeys, CtrlStateTravelsWithTheKey) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QTest::keyClick(host.editor(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(host.editor(), Qt::Key_R);
    ASSERT_TRUE(waitKeys(host, 3));
    EXPECT_EQ(host.keyCodes, (QList<int>{VK::LControl, 0x52, 0x52}));
    EXPECT_EQ(host.keyCtrl, (QList<bool>{true, true, false}));
}

// While a menu is open its keys are its own: Esc closes the menu and is not reported, so it does
// not also toggle full screen behind it; afterwards keys are reported again.
TEST(HookKeys, OpenMenuKeepsItsKeys) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QMenu menu(&host);
    menu.addAction(QStringLiteral("Fullscreen"));
    menu.popup(host.mapToGlobal(QPoint(50, 50)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == &menu; }, 3000));
    QTest::keyClick(&menu, Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menu.isVisible(); }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(host.keyMessages, 0);
    EXPECT_TRUE(host.calls.isEmpty());
    QTest::keyClick(host.editor(), Qt::Key_I);
    ASSERT_TRUE(waitKeys(host, 1));
    EXPECT_EQ(host.keyCodes, QList<int>{0x49});
}

// Mouse buttons, moves and the wheel reach the main window as their WM_* codes, one message per
// event, and a double click as exactly one WM_LBUTTONDBLCLK.
TEST(HookMouse, ButtonsMovesAndWheel) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    QWidget* video = host.video();
    const auto waitMouse = [&](int n) { return QTest::qWaitFor([&] { return host.mouseMessages >= n; }, 3000); };

    QTest::mouseClick(video, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_TRUE(waitMouse(2));
    QTest::mouseClick(video, Qt::RightButton, {}, QPoint(20, 20));
    ASSERT_TRUE(waitMouse(4));
    QTest::mouseClick(video, Qt::MiddleButton, {}, QPoint(20, 20));
    ASSERT_TRUE(waitMouse(6));
    QTest::qWait(30);
    EXPECT_EQ(withoutMoves(host.mouseCodes), (QList<int>{WM::LButtonDown, WM::LButtonUp, WM::RButtonDown, WM::RButtonUp,
                                                         WM::MButtonDown, WM::MButtonUp}));

    host.mouseCodes.clear();
    QTest::mouseDClick(video, Qt::LeftButton, {}, QPoint(30, 30));
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.mouseCodes.contains(WM::LButtonDblClk); }, 3000));
    QTest::qWait(30);
    EXPECT_EQ(host.mouseCodes.count(WM::LButtonDblClk), 1);

    host.mouseCodes.clear();
    QTest::mouseMove(video, QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.mouseCodes.contains(WM::MouseMove); }, 3000));

    host.mouseCodes.clear();
    sendWheel(video, 120);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !withoutMoves(host.mouseCodes).isEmpty(); }, 3000));
    QTest::qWait(30);
    EXPECT_EQ(withoutMoves(host.mouseCodes), QList<int>{WM::MouseWheel});
}

// After UnHookMouseKey nothing more is delivered; hooking again resumes.
TEST(HookMouse, UnhookStopsDelivery) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    host.hook().UnHookMouseKey();
    EXPECT_FALSE(host.hook().isHooked());
    QTest::keyClick(host.editor(), Qt::Key_I);
    QTest::mouseClick(host.video(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::qWait(100);
    EXPECT_EQ(host.keyMessages, 0);
    EXPECT_EQ(host.mouseMessages, 0);
    host.hook().HookMouseKey();
    host.hook().HookMouseKey();
    QTest::keyClick(host.editor(), Qt::Key_I);
    ASSERT_TRUE(waitKeys(host, 1));
    EXPECT_EQ(host.keyMessages, 1);
}

// The window's wheel handler runs before the widget under the pointer: handled, the channel
// box keeps its entry; not handled, the box scrolls as usual. A fine wheel adds up to a notch.
TEST(HookMouse, FormWheelRunsFirstAndConsumes) {
    InputTestHost host;
    auto* box = new QComboBox(&host);
    box->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    box->setGeometry(48, 310, 200, 23);
    ASSERT_TRUE(host.showActive());
    QList<bool> turns;
    bool handle = true;
    host.hook().setFormWheelHandler(&host, [&](bool up) {
        turns << up;
        return handle;
    });
    box->setCurrentIndex(1);
    sendWheel(box, -120);
    sendWheel(box, 120);
    EXPECT_EQ(turns, (QList<bool>{false, true}));
    EXPECT_EQ(box->currentIndex(), 1);

    sendWheel(box, -60);
    EXPECT_EQ(turns.size(), 2);
    sendWheel(box, -60);
    EXPECT_EQ(turns, (QList<bool>{false, true, false}));
    EXPECT_EQ(box->currentIndex(), 1);

    handle = false;
    sendWheel(box, -120);
    EXPECT_EQ(box->currentIndex(), 2);
}

// The injected double click arrives at the widget under the pointer as a platform double click
// would, and the hook reports it once; the three-click form adds a click after it.
TEST(Synthesize, DoubleClickAtPointer) {
    InputTestHost host;
    // Not playing: the double click does not enter full screen (which would move the pointer).
    host.playing = false;
    ASSERT_TRUE(host.showActive());
    MouseRecorder video(host.video());
    QCursor::setPos(host.video()->mapToGlobal(QPoint(10, 10)));
    SynthesizeDoubleClick(nullptr, ClickSequence::Double);
    ASSERT_TRUE(QTest::qWaitFor([&] { return video.types.size() >= 4; }, 3000));
    QTest::qWait(30);
    EXPECT_EQ(video.types, (QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                                QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}));
    EXPECT_EQ(withoutMoves(host.mouseCodes),
              (QList<int>{WM::LButtonDown, WM::LButtonUp, WM::LButtonDblClk, WM::LButtonUp}));

    for (ClickSequence sequence : {ClickSequence::ThreeClicks, ClickSequence::ThreeClicksNoSleep}) {
        video.types.clear();
        host.mouseCodes.clear();
        SynthesizeDoubleClick(nullptr, sequence);
        ASSERT_TRUE(QTest::qWaitFor([&] { return withoutMoves(host.mouseCodes).size() >= 6; }, 3000));
        QTest::qWait(30);
        EXPECT_EQ(withoutMoves(host.mouseCodes), (QList<int>{WM::LButtonDown, WM::LButtonUp, WM::LButtonDblClk,
                                                             WM::LButtonUp, WM::LButtonDown, WM::LButtonUp}));
        EXPECT_EQ(video.types.size(), 6);
    }
}

// With the pointer beyond the screen edge or over no window of the program, the clicks go to
// the fallback widget instead of being lost.
TEST(Synthesize, OffWindowPointerUsesFallback) {
    InputTestHost host;
    ASSERT_TRUE(host.showActive());
    MouseRecorder video(host.video());
    for (QPoint p : {QPoint(0, 2000), QPoint(-50, -50), QPoint(5000, 5000)}) {
        video.types.clear();
        host.mouseCodes.clear();
        QCursor::setPos(p);
        SynthesizeDoubleClick(host.video(), ClickSequence::Double);
        ASSERT_TRUE(QTest::qWaitFor([&] { return host.mouseCodes.contains(WM::LButtonDblClk); }, 3000))
            << p.x() << "," << p.y();
        QTest::qWait(30);
        EXPECT_EQ(video.types.size(), 4);
        EXPECT_EQ(host.mouseCodes.count(WM::LButtonDblClk), 1);
    }
    // Nothing to click and no fallback: nothing happens.
    QCursor::setPos(0, 2000);
    host.mouseCodes.clear();
    SynthesizeDoubleClick(nullptr, ClickSequence::Double);
    QTest::qWait(50);
    EXPECT_TRUE(host.mouseCodes.isEmpty());
}
