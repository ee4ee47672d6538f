#include "ui/inputcontroller.h"

#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "ui/inputfilter.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QWidget>

#include <algorithm>

namespace quoxel {

namespace {

constexpr int kInputBlockMs = 500;
constexpr int kVolumeStep = 5;

// The hourglass for the length of a channel step, restored on every way out.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

InputController::InputController(InputHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host) {
    m_timerInputBlockKey.setSingleShot(true);
    m_timerInputBlockKey.setInterval(kInputBlockMs);
}

bool InputController::hookEvent(QEvent* event) {
    if (event->type() == HookMessageEvent::KeyHookMessage()) {
        const auto* message = static_cast<HookMessageEvent*>(event);
        KeyHookMessage(message->wParam(), message->leftCtrlDown());
        return true;
    }
    if (event->type() == HookMessageEvent::MouseHookMessage()) {
        MouseHookMessage(static_cast<HookMessageEvent*>(event)->wParam());
        return true;
    }
    return false;
}

bool InputController::isRadio(const TChannelRef& channel) const {
    return channel && channel->Mode == mRadio;
}

bool InputController::isTv(const TChannelRef& channel) const {
    return channel && channel->Mode == mTV;
}

void InputController::letMessagesRun() {
    // Like the platform's message pump, this also runs what the handled messages posted in turn:
    // an injected click and the hook message it causes are done when this returns.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

void InputController::synthesize(ClickSequence sequence) {
    SynthesizeDoubleClick(m_host.videoPanel(), sequence);
}

bool InputController::pointerInsideVideo() const {
    const QWidget* video = m_host.videoPanel();
    if (!video)
        return false;
    const QPoint origin = video->mapToGlobal(QPoint(0, 0));
    const QPoint p = QCursor::pos();
    return origin.x() < p.x() && p.x() < origin.x() + video->width() && origin.y() < p.y() &&
           p.y() < origin.y() + video->height();
}

void InputController::restoreTopmost() {
    if (!m_host.isAlwaysOnTop())
        return;
    Log(LogMsgDet, QStringLiteral("->if (IsAlwaysOnTop) then begin"));
    m_host.setTopmost(true);
    m_host.setAlwaysOnTop(false);
}

void InputController::KeyHookMessage(int key, bool leftCtrlDown) {
    if (IsClosing || !(m_host.isForeground() || m_host.isFullscreen()))
        return;
    // The terminal and the receiver picture take every key but Esc.
    if (key != VK::Escape &&
        (m_host.panelVisible(InWindowPanel::Telnet) || m_host.panelVisible(InWindowPanel::RealOsd)))
        return;
    if (m_host.isFullscreen() || m_host.isChecked(ViewCheck::VideoOnly1)) {
        if (leftCtrlDown)
            m_host.HideEPGInfo();
        if (leftCtrlDown && key == VK::R) {
            m_host.VLCRestart1Click();
            letMessagesRun();
            return;
        }
    }
    if (m_host.isFullscreen()) {
        tableF(key);
        return;
    }
    // Ctrl combinations in the window are the menu shortcuts'.
    if (leftCtrlDown)
        return;
    tableW(key);
}

void InputController::tableF(int key) {
    const TChannelRef akt = m_host.AktChannel();
    if (m_host.osdVisible(OsdWindow::Channels) && !m_host.osdVisible(OsdWindow::Details)) {
        switch (key) {
        case VK::Return: {
            if (Options.Mode == AppMode::Quoxel)
                return;
            letMessagesRun();
            m_host.HideOSD(OsdWindow::Channels);
            const TChannelRef channel = m_host.channelPanelChannel(m_host.osdChannelsIndex());
            if (channel && !IsSwitching)
                m_host.SwitchChannel(channel);
            return;
        }
        case VK::I: {
            letMessagesRun();
            m_host.HideOSD(OsdWindow::Info);
            const TChannelRef channel = m_host.channelPanelChannel(m_host.osdChannelsIndex());
            if (channel)
                m_host.OpenDetailsOSD(channel, false);
            return;
        }
        case VK::O:
        case VK::Escape:
            m_host.HideOSD(OsdWindow::Channels);
            return;
        default:
            return;
        }
    }
    if (m_host.osdVisible(OsdWindow::Details)) {
        switch (key) {
        case VK::Escape:
            m_host.HideOSD(OsdWindow::Info);
            m_host.CloseDetailsOSD();
            return;
        case VK::Left:
            m_host.OsdDetailsPrev();
            return;
        case VK::Right:
            m_host.OsdDetailsNext();
            return;
        case VK::Up:
            m_host.OsdDetailsChanUp();
            return;
        case VK::Down:
            m_host.OsdDetailsChanDown();
            return;
        case VK::I:
            letMessagesRun();
            m_host.HideOSD(OsdWindow::Info);
            m_host.CloseDetailsOSD();
            return;
        default:
            return;
        }
    }
    if (m_host.osdVisible(OsdWindow::Info)) {
        switch (key) {
        case VK::Escape:
            m_host.HideOSD(OsdWindow::Info);
            break; // on to the common rows
        case VK::I:
            m_host.HideOSD(OsdWindow::Info);
            letMessagesRun();
            m_host.OpenDetailsOSD(akt, false);
            return;
        case VK::O:
            m_host.HideOSD(OsdWindow::Info);
            m_host.ShowOSD(OsdWindow::Channels, akt, false);
            return;
        default:
            break;
        }
    }
    switch (key) {
    case VK::I:
        if (!m_host.osdVisible(OsdWindow::Info))
            m_host.ShowOSD(OsdWindow::Info, akt, true);
        return;
    case VK::O:
        if (m_host.osdVisible(OsdWindow::Info))
            m_host.HideOSD(OsdWindow::Info);
        m_host.ShowOSD(OsdWindow::Channels, akt, false);
        return;
    case VK::Escape:
        if (m_timerInputBlockKey.isActive() || isRadio(akt))
            return;
        m_timerInputBlockKey.start();
        if (!m_host.IsPlaying())
            return;
        if (m_host.osdVisible(OsdWindow::Channels))
            m_host.HideOSD(OsdWindow::Channels);
        if (m_host.osdVisible(OsdWindow::Details))
            m_host.CloseDetailsOSD();
        m_host.HideEPGInfo();
        // The double click leaves full screen through the double-click rules.
        synthesize(ClickSequence::Double);
        letMessagesRun();
        m_host.BringMainWindowToFront();
        return;
    case VK::G:
        m_host.ShowGuide();
        return;
    case VK::Prior:
        ChannelStep(-1);
        return;
    case VK::Next:
        ChannelStep(+1);
        return;
    default:
        return;
    }
}

void InputController::tableW(int key) {
    const TChannelRef akt = m_host.AktChannel();
    if (m_host.panelVisible(InWindowPanel::Channels) && !m_host.panelVisible(InWindowPanel::Details)) {
        switch (key) {
        case VK::Return: {
            if (Options.Mode == AppMode::Quoxel)
                return;
            letMessagesRun();
            m_host.HideChannelPanel();
            const TChannelRef channel = m_host.channelPanelChannel(m_host.channelPanelIndex());
            if (channel && !IsSwitching)
                m_host.SwitchChannel(channel);
            return;
        }
        case VK::I: {
            letMessagesRun();
            m_host.HideEPGInfo();
            const TChannelRef channel = m_host.channelPanelChannel(m_host.channelPanelIndex());
            if (channel)
                m_host.OpenDetailsPanel(channel);
            return;
        }
        case VK::O:
        case VK::Escape:
            m_host.HideChannelPanel();
            return;
        default:
            return;
        }
    }
    if (m_host.panelVisible(InWindowPanel::Details)) {
        switch (key) {
        case VK::Escape:
            m_host.HideEPGInfo();
            m_host.CloseDetailsPanel();
            return;
        case VK::Left:
            m_host.PnlEpgPrevClick();
            return;
        case VK::Right:
            m_host.PnlEpgNextClick();
            return;
        case VK::Up:
            m_host.PnlEpgChanUp();
            return;
        case VK::Down:
            m_host.PnlEpgChanDown();
            return;
        case VK::I:
            letMessagesRun();
            m_host.HideEPGInfo();
            m_host.CloseDetailsPanel();
            return;
        default:
            return;
        }
    }
    if (m_host.panelVisible(InWindowPanel::Info)) {
        switch (key) {
        case VK::Escape:
            m_host.HideEPGInfo();
            break; // on to the common rows
        case VK::I:
            m_host.HideEPGInfo();
            letMessagesRun();
            if (akt)
                m_host.OpenDetailsPanel(akt);
            return;
        case VK::O:
            m_host.HideEPGInfo();
            m_host.ShowChannelPanel();
            return;
        default:
            break;
        }
    }
    switch (key) {
    case VK::I:
        if (!m_host.panelVisible(InWindowPanel::Info))
            m_host.ShowEPGInfo(akt);
        return;
    case VK::O:
        if (m_host.panelVisible(InWindowPanel::Info))
            m_host.HideEPGInfo();
        m_host.ShowChannelPanel();
        return;
    case VK::T:
        m_host.Telnet1Click();
        return;
    case VK::R:
        m_host.DBoxOSD1Click();
        return;
    case VK::F8:
        m_host.alwaysontop1Click();
        return;
    case VK::F9:
        m_host.VideoOnly1Click();
        return;
    case VK::G:
        m_host.ShowGuide();
        return;
    case VK::Escape: {
        if (isRadio(akt) || m_timerInputBlockKey.isActive())
            return;
        if (m_host.panelVisible(InWindowPanel::Telnet)) {
            m_host.Telnet1Click();
            return;
        }
        if (m_host.panelVisible(InWindowPanel::RealOsd)) {
            m_host.DBoxOSD1Click();
            return;
        }
        if (m_host.panelVisible(InWindowPanel::Channels))
            m_host.HideChannelPanel();
        if (m_host.panelVisible(InWindowPanel::Details))
            m_host.CloseDetailsPanel();
        if (m_host.panelVisible(InWindowPanel::Info))
            m_host.HideEPGInfo();
        if (QWidget* video = m_host.videoPanel())
            QCursor::setPos(video->mapToGlobal(QPoint(10, 10)));
        // The double click enters full screen through the double-click rules.
        synthesize(ClickSequence::Double);
        letMessagesRun();
        m_timerInputBlockKey.start();
        return;
    }
    case VK::Prior:
        ChannelStep(-1);
        return;
    case VK::Next:
        ChannelStep(+1);
        return;
    default:
        return;
    }
}

void InputController::MouseHookMessage(int code) {
    if (IsClosing || !(m_host.isForeground() || m_host.isFullscreen()))
        return;
    switch (code) {
    case WM::MouseWheel:
        if (m_host.isFullscreen() && !m_host.channelBoxDroppedDown() && !m_host.osdVisible(OsdWindow::Channels) &&
            !m_host.osdVisible(OsdWindow::Details) && !m_host.panelVisible(InWindowPanel::Channels) &&
            !m_host.panelVisible(InWindowPanel::Details)) {
            Log(LogMsg, QStringLiteral("WM_MOUSEWHEEL"));
            m_host.ShowOSD(OsdWindow::Info, m_host.AktChannel(), true);
        }
        return;
    case WM::MButtonDown:
        if (!m_host.isMenuOpen()) {
            Log(LogMsg, QStringLiteral("WM_MBUTTONDOWN"));
            m_host.ShowEPGInfo(m_host.AktChannel());
        }
        return;
    case WM::RButtonDown:
        if (m_host.isMenuOpen())
            return;
        if (!m_host.isFullscreen()) {
            if (!pointerInsideVideo() || !m_host.isForeground())
                return;
            if (m_host.panelVisible(InWindowPanel::Info) && isTv(m_host.AktChannel()))
                m_host.HideEPGInfo();
        } else if (m_host.osdVisible(OsdWindow::Info)) {
            m_host.dropInfoOsdForMenu();
        }
        m_host.setMenuOpen(true);
        m_host.startPopUpTimer();
        letMessagesRun();
        return;
    case WM::LButtonDblClk:
        leftDoubleClick();
        return;
    default:
        return;
    }
}

void InputController::leftDoubleClick() {
    Log(LogMsg, QStringLiteral("WM_LBUTTONDBLCLK"));
    if (m_host.osdVisible(OsdWindow::Details) || m_host.panelVisible(InWindowPanel::Details) ||
        m_host.panelVisible(InWindowPanel::Channels) || m_host.osdVisible(OsdWindow::Channels)) {
        Log(LogMsgDet, QStringLiteral("->if FrmOSD_Details.Visible or"));
        return;
    }
    if (isRadio(m_host.AktChannel())) {
        Log(LogMsgDet, QStringLiteral("->if AktChannel.Mode = mRadio then begin"));
        return;
    }
    if (m_host.isFullscreen()) {
        if (m_host.isDblClickEPG()) {
            Log(LogMsgDet, QStringLiteral("->if IsFullscreen and IsDblClickEPG then begin"));
            m_host.HideEPGInfo();
            m_host.setDblClickEPG(false);
            synthesize(ClickSequence::ThreeClicks);
            letMessagesRun();
            m_host.BringMainWindowToFront();
            restoreTopmost();
            m_host.setFullscreen(false);
            m_host.setChecked(ViewCheck::Fullscreen1, false);
        } else if (!m_host.osdVisible(OsdWindow::Info)) {
            Log(LogMsgDet,
                QStringLiteral("->if IsFullscreen and not IsDblClickEPG and not FrmOSD_Info.Visible then begin"));
            m_host.setFullscreen(false);
            m_host.setChecked(ViewCheck::Fullscreen1, false);
            m_host.BringMainWindowToFront();
            restoreTopmost();
        } else {
            // The click landed on the info overlay: hide it and click the video itself; that
            // double click arrives here again and leaves full screen.
            Log(LogMsgDet,
                QStringLiteral("->if IsFullscreen and not IsDblClickEPG and FrmOSD_Info.Visible then begin"));
            m_host.HideEPGInfo();
            synthesize(ClickSequence::ThreeClicks);
            letMessagesRun();
            m_host.BringMainWindowToFront();
            restoreTopmost();
        }
        return;
    }
    if (m_host.isChecked(ViewCheck::alwaysontop1) && m_host.isForeground() && !m_host.isAlwaysOnTop()) {
        Log(LogMsgDet,
            QStringLiteral("->if (alwaysontop1.Checked and (GetForegroundWindow() = FrmQuoxel.Handle)) then begin"));
        m_host.setTopmost(false);
        m_host.setAlwaysOnTop(true);
    }
    if (m_host.isDblClickEPG()) {
        // A double click on the info bar: hide it and click the video below it.
        Log(LogMsgDet, QStringLiteral("->if IsDblClickEPG and not IsFullscreen then begin"));
        m_host.HideEPGInfo();
        m_host.setDblClickEPG(false);
        synthesize(ClickSequence::ThreeClicksNoSleep);
        return;
    }
    if (m_host.isForeground() && pointerInsideVideo() && !m_host.panelVisible(InWindowPanel::Details) &&
        m_host.IsPlaying()) {
        Log(LogMsgDet,
            QStringLiteral("->if ((GetForegroundWindow() = FrmQuoxel.Handle) and (not IsFullscreen)) then begin"));
        letMessagesRun();
        m_host.setFullscreen(true);
        m_host.setChecked(ViewCheck::Fullscreen1, true);
        if (Options.ShowEpgInfo)
            m_host.ShowEPGInfo(m_host.AktChannel());
        else
            m_host.HideEPGInfo();
        if (m_host.panelVisible(InWindowPanel::Telnet))
            m_host.hideTelnetPanel();
        // Out of the picture's way.
        QCursor::setPos(0, 2000);
    }
}

bool InputController::FormMouseWheelDown() {
    return formWheel(false);
}

bool InputController::FormMouseWheelUp() {
    return formWheel(true);
}

bool InputController::formWheel(bool up) {
    if (m_host.isFullscreen())
        return false;
    if (m_host.panelVisible(InWindowPanel::Channels)) {
        const int page = m_host.channelPanelPageRows();
        const int top = m_host.channelPanelTopIndex();
        if (up)
            m_host.setChannelPanelTopIndex(top - page >= 1 ? top - page : 0);
        else
            m_host.setChannelPanelTopIndex(top + page);
        return true;
    }
    if (m_host.channelBoxDroppedDown())
        return false;
    // Muted, the wheel does nothing; it still must not scroll the channel box below.
    if (m_host.isMuted())
        return true;
    m_host.ShowEPGInfo(m_host.AktChannel());
    m_host.reselectChannelBoxShownEntry();
    m_host.setVolume(std::clamp(m_host.volume() + (up ? kVolumeStep : -kVolumeStep), 0, 100));
    return true;
}

void InputController::ChannelStep(int d) {
    const TChannelRef channel = m_host.channelBoxChannel(m_host.channelBoxIndex() + d);
    if (!channel)
        return; // before the first or after the last entry
    WaitCursor hourglass;
    letMessagesRun();
    const bool wasFullscreen = m_host.isFullscreen();
    if (wasFullscreen) {
        m_host.setInTransition(true);
        m_host.setMenuOpen(false);
        letMessagesRun();
        letMessagesRun();
    }
    if (m_host.channelBoxIndex() >= 0 && !IsSwitching)
        m_host.SwitchChannel(channel);
    if (wasFullscreen) {
        letMessagesRun();
        letMessagesRun();
        if (isRadio(channel)) {
            // Radio never plays full screen.
            m_host.setFullscreen(false);
            m_host.ShowMainWindow();
        } else {
            m_host.setFullscreen(true);
        }
        m_host.setMenuOpen(false);
        m_host.setInTransition(false);
        letMessagesRun();
        letMessagesRun();
    }
}

} // namespace quoxel
