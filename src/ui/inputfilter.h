#pragma once

#include <QEvent>
#include <QObject>
#include <QPointF>
#include <QPointer>

#include <functional>

class QInputEvent;
class QKeyEvent;
class QWheelEvent;
class QWidget;

namespace quoxel {

// Windows virtual-key codes carried by "KeyHookMessage"; the key rules are written in them.
namespace VK {
inline constexpr int Back = 0x08;
inline constexpr int Tab = 0x09;
inline constexpr int Return = 0x0D;
inline constexpr int Pause = 0x13;
inline constexpr int Capital = 0x14;
inline constexpr int Escape = 0x1B;
inline constexpr int Space = 0x20;
inline constexpr int Prior = 0x21; // PageUp
inline constexpr int Next = 0x22;  // PageDown
inline constexpr int End = 0x23;
inline constexpr int Home = 0x24;
inline constexpr int Left = 0x25;
inline constexpr int Up = 0x26;
inline constexpr int Right = 0x27;
inline constexpr int Down = 0x28;
inline constexpr int Snapshot = 0x2C;
inline constexpr int Insert = 0x2D;
inline constexpr int Delete = 0x2E;
inline constexpr int Key0 = 0x30; // '0'..'9' are 0x30..0x39
inline constexpr int KeyA = 0x41; // 'A'..'Z' are 0x41..0x5A
inline constexpr int G = 0x47;
inline constexpr int I = 0x49;
inline constexpr int O = 0x4F;
inline constexpr int R = 0x52;
inline constexpr int T = 0x54;
inline constexpr int Apps = 0x5D;
inline constexpr int Numpad0 = 0x60; // keypad '0'..'9' are 0x60..0x69
inline constexpr int Multiply = 0x6A;
inline constexpr int Add = 0x6B;
inline constexpr int Subtract = 0x6D;
inline constexpr int Decimal = 0x6E;
inline constexpr int Divide = 0x6F;
inline constexpr int F1 = 0x70; // F1..F24 are 0x70..0x87
inline constexpr int F8 = 0x77;
inline constexpr int F9 = 0x78;
inline constexpr int NumLock = 0x90;
inline constexpr int Scroll = 0x91;
inline constexpr int LShift = 0xA0;
inline constexpr int RShift = 0xA1;
inline constexpr int LControl = 0xA2;
inline constexpr int RControl = 0xA3;
inline constexpr int LMenu = 0xA4; // left Alt
inline constexpr int RMenu = 0xA5;
} // namespace VK

// Windows mouse message codes carried by "MouseHookMessage".
namespace WM {
inline constexpr int MouseMove = 0x0200;
inline constexpr int LButtonDown = 0x0201;
inline constexpr int LButtonUp = 0x0202;
inline constexpr int LButtonDblClk = 0x0203;
inline constexpr int RButtonDown = 0x0204;
inline constexpr int RButtonUp = 0x0205;
inline constexpr int RButtonDblClk = 0x0206;
inline constexpr int MButtonDown = 0x0207;
inline constexpr int MButtonUp = 0x0208;
inline constexpr int MButtonDblClk = 0x0209;
inline constexpr int MouseWheel = 0x020A;
inline constexpr int XButtonDown = 0x020B;
inline constexpr int XButtonUp = 0x020C;
inline constexpr int XButtonDblClk = 0x020D;
inline constexpr int MouseHWheel = 0x020E;
} // namespace WM

// The virtual-key code of a Qt key, 0 when the key has none. nativeVirtualKey tells left from
// right for the modifier keys on X11 (keysyms Control_R, Shift_R, Alt_R); anything else counts
// as the left one.
int virtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey = 0);
// The mouse message code of a Qt mouse or wheel event, 0 for one the hook does not report.
int mouseMessageOf(const QInputEvent& event);

// One hook message as posted to the main window. wParam is the key or mouse code; the second
// parameter of the original is unused, so it carries the left-Ctrl state at the time of the key
// press instead (the rules read it, and the state may have changed by the time the message runs).
class HookMessageEvent : public QEvent {
public:
    HookMessageEvent(QEvent::Type type, int wParam, bool leftCtrlDown)
        : QEvent(type)
        , m_wParam(wParam)
        , m_leftCtrlDown(leftCtrlDown) {}

    int wParam() const { return m_wParam; }
    bool leftCtrlDown() const { return m_leftCtrlDown; }

    // The two message types, registered once per process.
    static QEvent::Type KeyHookMessage();
    static QEvent::Type MouseHookMessage();

private:
    int m_wParam;
    bool m_leftCtrlDown;
};

// The hook library: an application-wide event filter that watches every key press and mouse
// event of every window of the program, whichever widget has the focus, and posts one
// "KeyHookMessage" or "MouseHookMessage" per key press or mouse event to the main window. It
// never consumes what it watches, except for the main window's own wheel handling (below).
// UI thread.
class MouseKeyHook : public QObject {
    Q_OBJECT
public:
    explicit MouseKeyHook(QObject* mainWindow, QObject* parent = nullptr);
    ~MouseKeyHook() override;

    // Installs the filter on the application; a second call changes nothing.
    void HookMouseKey();
    // Removes it again; also done by the destructor.
    void UnHookMouseKey();
    bool isHooked() const { return m_hooked; }

    // The main window's own wheel events ("FormMouseWheelDown/Up"): called before any of the
    // window's widgets sees a wheel event aimed at one of them (as the window's wheel handler runs
    // before the control's), once per wheel notch, with up = true for a turn away from the user.
    // A true result marks the event handled, so the widget below never gets it.
    void setFormWheelHandler(QWidget* window, std::function<bool(bool up)> handler);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isPropagation(QWidget* receiver, const QInputEvent& event);
    void post(QEvent::Type type, int wParam, bool leftCtrlDown);
    void trackModifier(const QKeyEvent& key);
    bool formWheel(QWidget* receiver, const QWheelEvent& wheel);

    QPointer<QObject> m_target;
    bool m_hooked = false;
    // The input event last seen, to know it again as Qt hands it on to the parent of a widget
    // that ignored it.
    struct InputSignature {
        const QEvent* event = nullptr;
        int type = 0;
        quint64 timestamp = 0;
        QPointF globalPos;
        int detail = 0;
        bool operator==(const InputSignature&) const = default;
    };
    InputSignature m_last;
    QPointer<QWidget> m_lastReceiver;
    bool m_leftCtrlHeld = false;
    bool m_rightCtrlHeld = false;
    QPointer<QWidget> m_wheelWindow;
    std::function<bool(bool)> m_formWheel;
    int m_wheelRest = 0;
    bool m_lastWheelHandled = false;
};

// The click sequences the input rules inject.
enum class ClickSequence {
    Double,             // down, up, double-click-time query, 0 ms sleep, down, up
    ThreeClicks,        // down, up, down, up, query, 0 ms sleep, down, up
    ThreeClicksNoSleep, // down, up, down, up, query, down, up
};

// Injects left-button events at the pointer position, as the platform would deliver them: posted
// to the widget under the pointer (which then sees press, release, double click, release as from
// a real double click), so the hook and the rules observe them like the user's own. The pointer is
// held to the screen as the display server would do; when no window of the program lies under it,
// the events go to fallback (the video panel).
void SynthesizeDoubleClick(QWidget* fallback, ClickSequence sequence = ClickSequence::Double);

} // namespace quoxel
