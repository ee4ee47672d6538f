#include "ui/inputfilter.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QStyleHints>
#include <QThread>
#include <QWheelEvent>
#include <QWidget>

#include <array>
#include <utility>

namespace quoxel {

namespace {

// X11 keysyms of the right-hand modifier keys (nativeVirtualKey on xcb).
constexpr quint32 kXkShiftR = 0xffe2;
constexpr quint32 kXkControlR = 0xffe4;
constexpr quint32 kXkAltR = 0xffea;

// Qt keys without an arithmetic relation to their virtual-key code.
constexpr std::array<std::pair<int, int>, 27> kKeyTable{{
    {Qt::Key_Backspace, VK::Back},   {Qt::Key_Tab, VK::Tab},           {Qt::Key_Backtab, VK::Tab},
    {Qt::Key_Return, VK::Return},    {Qt::Key_Enter, VK::Return},      {Qt::Key_Pause, VK::Pause},
    {Qt::Key_CapsLock, VK::Capital}, {Qt::Key_Escape, VK::Escape},     {Qt::Key_Space, VK::Space},
    {Qt::Key_PageUp, VK::Prior},     {Qt::Key_PageDown, VK::Next},     {Qt::Key_End, VK::End},
    {Qt::Key_Home, VK::Home},        {Qt::Key_Left, VK::Left},         {Qt::Key_Up, VK::Up},
    {Qt::Key_Right, VK::Right},      {Qt::Key_Down, VK::Down},         {Qt::Key_Print, VK::Snapshot},
    {Qt::Key_Insert, VK::Insert},    {Qt::Key_Delete, VK::Delete},     {Qt::Key_Menu, VK::Apps},
    {Qt::Key_NumLock, VK::NumLock},  {Qt::Key_ScrollLock, VK::Scroll}, {Qt::Key_Asterisk, VK::Multiply},
    {Qt::Key_Plus, VK::Add},         {Qt::Key_Minus, VK::Subtract},    {Qt::Key_Slash, VK::Divide},
}};

// Synthetic events get timestamps of their own, far from the platform's, so that two of them
// never look like one event handed on to a parent.
quint64 syntheticTimestamp() {
    static quint64 last = quint64(1) << 40;
    return ++last;
}

void postMouse(QWidget* target, QEvent::Type type, const QPoint& globalPos) {
    const QPointF local = target->mapFromGlobal(QPointF(globalPos));
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    auto* event = new QMouseEvent(type, local, QPointF(globalPos), Qt::LeftButton, held, Qt::NoModifier);
    event->setTimestamp(syntheticTimestamp());
    QCoreApplication::postEvent(target, event);
}

} // namespace

int virtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey) {
    if (modifiers & Qt::KeypadModifier) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
            return VK::Numpad0 + (qtKey - Qt::Key_0);
        if (qtKey == Qt::Key_Period || qtKey == Qt::Key_Comma)
            return VK::Decimal;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return VK::KeyA + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return VK::Key0 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return VK::F1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Control:
        return nativeVirtualKey == kXkControlR ? VK::RControl : VK::LControl;
    case Qt::Key_Shift:
        return nativeVirtualKey == kXkShiftR ? VK::RShift : VK::LShift;
    case Qt::Key_Alt:
        return nativeVirtualKey == kXkAltR ? VK::RMenu : VK::LMenu;
    case Qt::Key_AltGr: // ISO_Level3_Shift: the right Alt key of most layouts
        return VK::RMenu;
    default:
        break;
    }
    for (const auto& [key, vk] : kKeyTable) {
        if (key == qtKey)
            return vk;
    }
    return 0;
}

int mouseMessageOf(const QInputEvent& event) {
    if (event.type() == QEvent::Wheel) {
        const auto& wheel = static_cast<const QWheelEvent&>(event);
        if (wheel.angleDelta().y() != 0)
            return WM::MouseWheel;
        return wheel.angleDelta().x() != 0 ? WM::MouseHWheel : 0;
    }
    if (event.type() == QEvent::MouseMove)
        return WM::MouseMove;
    int base = 0;
    switch (event.type()) {
    case QEvent::MouseButtonPress:
        base = 0;
        break;
    case QEvent::MouseButtonRelease:
        base = 1;
        break;
    case QEvent::MouseButtonDblClick:
        base = 2;
        break;
    default:
        return 0;
    }
    switch (static_cast<const QMouseEvent&>(event).button()) {
    case Qt::LeftButton:
        return WM::LButtonDown + base;
    case Qt::RightButton:
        return WM::RButtonDown + base;
    case Qt::MiddleButton:
        return WM::MButtonDown + base;
    case Qt::BackButton:
    case Qt::ForwardButton:
        return WM::XButtonDown + base;
    default:
        return 0;
    }
}

QEvent::Type HookMessageEvent::KeyHookMessage() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type HookMessageEvent::MouseHookMessage() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

MouseKeyHook::MouseKeyHook(QObject* mainWindow, QObject* parent)
    : QObject(parent)
    , m_target(mainWindow) {}

MouseKeyHook::~MouseKeyHook() {
    UnHookMouseKey();
}

void MouseKeyHook::HookMouseKey() {
    if (m_hooked || !qApp)
        return;
    qApp->installEventFilter(this);
    m_hooked = true;
}

void MouseKeyHook::UnHookMouseKey() {
    if (!m_hooked)
        return;
    if (qApp)
        qApp->removeEventFilter(this);
    m_hooked = false;
}

void MouseKeyHook::setFormWheelHandler(QWidget* window, std::function<bool(bool)> handler) {
    m_wheelWindow = window;
    m_formWheel = std::move(handler);
}

bool MouseKeyHook::isPropagation(QWidget* receiver, const QInputEvent& event) {
    // Qt hands an ignored key, mouse or wheel event on to the parent widget, so the filter sees it
    // once per step; the first step is the one the user's input made. A key event travels as the
    // same object, a mouse or wheel event as a copy with the same time and screen position.
    InputSignature sig;
    sig.event = &event;
    sig.type = event.type();
    sig.timestamp = event.timestamp();
    if (event.isPointerEvent()) {
        const auto& pointer = static_cast<const QSinglePointEvent&>(event);
        sig.globalPos = pointer.globalPosition();
        sig.detail = int(pointer.button());
        sig.event = nullptr;
    } else if (event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease) {
        sig.detail = static_cast<const QKeyEvent&>(event).key();
    }
    const bool same =
        m_last == sig && m_lastReceiver && receiver != m_lastReceiver && receiver->isAncestorOf(m_lastReceiver);
    m_last = sig;
    m_lastReceiver = receiver;
    return same;
}

void MouseKeyHook::post(QEvent::Type type, int wParam, bool leftCtrlDown) {
    if (m_target)
        QCoreApplication::postEvent(m_target, new HookMessageEvent(type, wParam, leftCtrlDown));
}

void MouseKeyHook::trackModifier(const QKeyEvent& key) {
    if (key.key() != Qt::Key_Control)
        return;
    const bool down = key.type() == QEvent::KeyPress;
    if (key.nativeVirtualKey() == kXkControlR)
        m_rightCtrlHeld = down;
    else
        m_leftCtrlHeld = down;
}

bool MouseKeyHook::formWheel(QWidget* receiver, const QWheelEvent& wheel) {
    if (!m_formWheel || !m_wheelWindow || receiver->window() != m_wheelWindow)
        return false;
    // Delphi's form counted notches of 120; a fine-grained wheel adds up to one.
    m_wheelRest += wheel.angleDelta().y();
    if (m_wheelRest > -120 && m_wheelRest < 120)
        return m_lastWheelHandled;
    bool handled = false;
    while (m_wheelRest >= 120 || m_wheelRest <= -120) {
        const bool up = m_wheelRest > 0;
        m_wheelRest += up ? -120 : 120;
        handled = m_formWheel(up) || handled;
    }
    m_lastWheelHandled = handled;
    return handled;
}

bool MouseKeyHook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const bool isKey = type == QEvent::KeyPress || type == QEvent::KeyRelease;
    const bool isMouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                         type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove || type == QEvent::Wheel;
    if (!isKey && !isMouse)
        return false;
    // The window object of a widget sees the event first and hands it to the widget; counting
    // widgets only reports each event once.
    auto* receiver = qobject_cast<QWidget*>(watched);
    if (!receiver)
        return false;
    const auto& input = static_cast<const QInputEvent&>(*event);
    if (isPropagation(receiver, input))
        return false;

    if (isKey) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        trackModifier(key);
        // One message per key press: the repeats of a held key are not new presses.
        if (type != QEvent::KeyPress || key.isAutoRepeat())
            return false;
        // An open menu or drop-down list takes the keys for itself (Esc closes it, the arrows and
        // Enter choose in it); they must not also zap or toggle full screen behind it.
        if (QApplication::activePopupWidget())
            return false;
        const int vk = virtualKeyOf(key.key(), key.modifiers(), key.nativeVirtualKey());
        if (vk == 0)
            return false;
        // A Ctrl seen in the modifiers without its own press (another window had the focus) counts
        // as the left one unless only the right one is known to be down.
        const bool ctrl = key.modifiers() & Qt::ControlModifier;
        const bool leftCtrl = (ctrl || m_leftCtrlHeld) && (m_leftCtrlHeld || !m_rightCtrlHeld);
        post(HookMessageEvent::KeyHookMessage(), vk, leftCtrl);
        return false;
    }

    const int code = mouseMessageOf(input);
    if (code != 0)
        post(HookMessageEvent::MouseHookMessage(), code, false);
    if (type == QEvent::Wheel)
        return formWheel(receiver, static_cast<const QWheelEvent&>(*event));
    return false;
}

void SynthesizeDoubleClick(QWidget* fallback, ClickSequence sequence) {
    QPoint pos = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(pos);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        pos.setX(std::clamp(pos.x(), area.left(), area.right()));
        pos.setY(std::clamp(pos.y(), area.top(), area.bottom()));
    }
    QWidget* target = QApplication::widgetAt(pos);
    if (!target)
        target = fallback;
    if (!target)
        return;
    // A press that follows a click at once is the platform's double click; Qt then reports the
    // second press as a double-click event.
    postMouse(target, QEvent::MouseButtonPress, pos);
    postMouse(target, QEvent::MouseButtonRelease, pos);
    if (sequence != ClickSequence::Double) {
        postMouse(target, QEvent::MouseButtonDblClick, pos);
        postMouse(target, QEvent::MouseButtonRelease, pos);
    }
    // The original asked for the double-click time here and did not use it.
    (void)QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (sequence != ClickSequence::ThreeClicksNoSleep)
        QThread::msleep(0);
    postMouse(target, sequence == ClickSequence::Double ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress, pos);
    postMouse(target, QEvent::MouseButtonRelease, pos);
}

} // namespace quoxel
