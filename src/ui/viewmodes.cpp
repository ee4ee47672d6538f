#include "ui/viewmodes.h"

#include "core/appflags.h"
#include "core/options.h"
#include "ui/menus.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QWindow>

namespace quoxel {

namespace {

// Distances of the designed client area (370 x 307 inside the 378 x 377 window).
constexpr int kRowBottom = 25;   // channel row top, from the client bottom
constexpr int kVideoBottom = 32; // video bottom margin
constexpr int kTelnetHeight = 87;

void setCheck(QAction* a, bool on) {
    if (a)
        a->setChecked(on);
}

} // namespace

ViewModes::ViewModes(ViewWidgets widgets, ViewHooks hooks, const TOptions& options)
    : m_w(widgets)
    , m_hooks(std::move(hooks))
    , m_options(options) {}

QList<QWidget*> ViewModes::controlRow() const {
    QList<QWidget*> row;
    for (QWidget* w :
         {m_w.Logo, static_cast<QWidget*>(m_w.CmbChannels), m_w.BtnPlay, m_w.ImgVolOn, m_w.ImgVolOff, m_w.Volume})
        if (w)
            row.append(w);
    return row;
}

void ViewModes::placeControls(const QSize& c) {
    const int w = c.width();
    const int h = c.height();
    const bool fill = m_videoOnly || IsFullscreen;
    const QRect video = fill ? QRect(0, 0, w, h) : QRect(5, 5, std::max(0, w - 10), std::max(0, h - kVideoBottom));
    m_w.Video->setGeometry(video);
    if (m_w.Background)
        m_w.Background->setGeometry(video);
    if (m_w.PnlRealOSD)
        m_w.PnlRealOSD->setGeometry(video);
    // The terminal sits at the video's bottom edge, so it never covers the channel row.
    if (m_w.PnlTelnet)
        m_w.PnlTelnet->setGeometry(video.left(), video.bottom() + 1 - kTelnetHeight, video.width(), kTelnetHeight);
    const int row = h - kRowBottom;
    if (m_w.Logo)
        m_w.Logo->setGeometry(5, row, 40, 21);
    if (m_w.CmbChannels)
        m_w.CmbChannels->setGeometry(48, row, std::max(40, w - 48 - 87), 23);
    if (m_w.BtnPlay)
        m_w.BtnPlay->setGeometry(w - 83, row, 23, 23);
    for (QWidget* img : {m_w.ImgVolOn, m_w.ImgVolOff})
        if (img)
            img->setGeometry(w - 59, row + 3, 16, 16);
    if (m_w.Volume)
        m_w.Volume->setGeometry(w - 40, row, 36, 23);
    // Restack only when the view changes: the video is a native window, and each raise reaches
    // the window system.
    if (fill != m_stackedFill) {
        m_stackedFill = fill;
        for (QWidget* r : controlRow()) {
            if (fill)
                r->stackUnder(m_w.Video); // behind the video, as the row has no room of its own there
            else
                r->raise();
        }
        // The radio picture, receiver picture and terminal stay in front of the video.
        for (QWidget* front : {m_w.Background, m_w.PnlRealOSD, m_w.PnlTelnet})
            if (front)
                front->raise();
    }
    if (m_hooks.overlaysMoved)
        m_hooks.overlaysMoved(video, fill);
}

void ViewModes::layoutClient(const QSize& client) {
    if (IsClosing)
        return;
    placeControls(client);
}

void ViewModes::setChrome(bool visible) {
    if (m_w.CmbChannels)
        m_w.CmbChannels->hidePopup();
    m_w.window->menuBar()->setVisible(visible);
    m_w.window->statusBar()->setVisible(visible);
}

void ViewModes::VideoOnly1Click(QAction* sender) {
    const bool on = !m_videoOnly;
    if (!on)
        QApplication::processEvents();
    m_videoOnly = on;
    // In full screen the chrome is already away; the window height changes when it comes back.
    if (!IsFullscreen) {
        setChrome(!on);
        const QSize s = m_w.window->size();
        m_w.window->resize(s.width(), s.height() + (on ? -kVideoOnlyDelta : kVideoOnlyDelta));
    } else {
        const int delta = on ? -kVideoOnlyDelta : kVideoOnlyDelta;
        m_normalGeometry.setHeight(m_normalGeometry.height() + delta);
    }
    if (QWidget* client = m_w.window->centralWidget())
        placeControls(client->size());
    setCheck(m_w.menu ? m_w.menu->VideoOnly1 : nullptr, on);
    setCheck(sender, on);
}

void ViewModes::setTopmost(bool on) {
    m_topmost = on;
    QMainWindow* win = m_w.window;
    if (win->testAttribute(Qt::WA_WState_Created) && win->windowHandle()) {
        // Through the platform window, so the native video window below stays the same.
        Qt::WindowFlags f = win->windowHandle()->flags();
        f.setFlag(Qt::WindowStaysOnTopHint, on);
        win->windowHandle()->setFlags(f);
        win->overrideWindowFlags(win->windowFlags().setFlag(Qt::WindowStaysOnTopHint, on));
    } else {
        win->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    }
}

void ViewModes::alwaysontop1Click(QAction* sender) {
    m_alwaysOnTop = !m_alwaysOnTop;
    // In full screen the placement stays lifted and is owed back when it ends.
    if (IsFullscreen)
        IsAlwaysOnTop = m_alwaysOnTop;
    else
        setTopmost(m_alwaysOnTop);
    setCheck(m_w.menu ? m_w.menu->alwaysontop1 : nullptr, m_alwaysOnTop);
    setCheck(sender, m_alwaysOnTop);
}

void ViewModes::Fullscreen1Click() {
    if (isRadio()) {
        setCheck(m_w.menu ? m_w.menu->Fullscreen1 : nullptr, IsFullscreen);
        return;
    }
    const bool wasOn = IsFullscreen;
    if (wasOn) {
        IsInTransition = true;
        IsMenuOpen = false;
    }
    if (IsFullscreen)
        leaveFullscreen();
    else
        enterFullscreen();
    if (wasOn) {
        QApplication::processEvents();
        IsMenuOpen = false;
        QApplication::processEvents();
        IsInTransition = false;
    }
}

void ViewModes::enterFullscreen() {
    if (IsFullscreen || isRadio()) {
        setCheck(m_w.menu ? m_w.menu->Fullscreen1 : nullptr, IsFullscreen);
        return;
    }
    QMainWindow* win = m_w.window;
    if (m_alwaysOnTop && win->isActiveWindow() && !IsAlwaysOnTop) {
        setTopmost(false);
        IsAlwaysOnTop = true;
    }
    setCheck(m_w.menu ? m_w.menu->Fullscreen1 : nullptr, true);
    // The window's own info bar lies above the video: it goes, and the programme info, when
    // wanted, comes as the full-screen overlay once the view is full screen.
    if (m_hooks.hideEpgInfo)
        m_hooks.hideEpgInfo();
    if (m_w.PnlTelnet && m_w.PnlTelnet->isVisible()) {
        m_w.PnlTelnet->hide();
        setCheck(m_w.menu ? m_w.menu->Telnet1 : nullptr, false);
    }
    setFullscreenView(true);
    if (m_options.ShowEpgInfo && m_hooks.showEpgInfo)
        m_hooks.showEpgInfo();
}

void ViewModes::setFullscreenView(bool on) {
    QMainWindow* win = m_w.window;
    if (on == IsFullscreen && on == win->isFullScreen())
        return;
    if (on) {
        if (!win->isFullScreen())
            m_normalGeometry = QRect(win->pos(), win->size());
        IsFullscreen = true;
        setChrome(false);
        win->showFullScreen();
        // The pointer would sit in the picture; it is hidden over the video instead of moved away.
        m_w.Video->setCursor(Qt::BlankCursor);
    } else {
        IsFullscreen = false;
        m_w.Video->unsetCursor();
        win->showNormal();
        setChrome(!m_videoOnly);
        if (m_normalGeometry.isValid()) {
            win->resize(m_normalGeometry.size());
            win->move(m_normalGeometry.topLeft());
        }
    }
    if (QWidget* client = win->centralWidget())
        placeControls(client->size());
}

void ViewModes::leaveFullscreen() {
    if (!IsFullscreen) {
        setCheck(m_w.menu ? m_w.menu->Fullscreen1 : nullptr, false);
        return;
    }
    setCheck(m_w.menu ? m_w.menu->Fullscreen1 : nullptr, false);
    setFullscreenView(false);
    BringMainWindowToFront();
    if (IsAlwaysOnTop) {
        setTopmost(true);
        IsAlwaysOnTop = false;
    }
}

void ViewModes::BringMainWindowToFront() {
    QMainWindow* win = m_w.window;
    win->show();
    QApplication::processEvents(QEventLoop::AllEvents, 80);
    QApplication::processEvents();
    win->raise();
    win->activateWindow();
    win->setFocus();
    QApplication::processEvents();
}

void ViewModes::applySavedState(const TOptions& o) {
    QMainWindow* win = m_w.window;
    if (o.RememberState) {
        QRect g = win->geometry();
        if (o.WinHeight > 0)
            g.setHeight(o.WinHeight);
        if (o.WinWidth > 0)
            g.setWidth(o.WinWidth);
        win->resize(g.size());
        QPoint pos = win->pos();
        if (o.WinLeft != 0)
            pos.setX(o.WinLeft);
        if (o.WinTop != 0)
            pos.setY(o.WinTop);
        win->move(pos);
        if (o.AlwaysOnTop && !m_alwaysOnTop)
            alwaysontop1Click();
        if (o.VideoOnly && !m_videoOnly)
            VideoOnly1Click();
        return;
    }
    win->resize(kDesignSize);
    if (QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        win->move(s.x() + s.width() / 2 - win->width() / 2, s.y() + s.height() / 2 - win->height() / 2);
    }
}

WindowState ViewModes::windowState() const {
    const QRect g =
        IsFullscreen && m_normalGeometry.isValid() ? m_normalGeometry : QRect(m_w.window->pos(), m_w.window->size());
    WindowState s;
    s.height = g.height();
    s.width = g.width();
    s.left = g.left();
    s.top = g.top();
    s.alwaysOnTop = m_alwaysOnTop;
    s.videoOnly = m_videoOnly;
    return s;
}

ViewModes::ModalScope::ModalScope(ViewModes& modes)
    : m_modes(modes)
    , m_wasTopmost(modes.topmost()) {
    if (m_wasTopmost)
        m_modes.setTopmost(false);
}

ViewModes::ModalScope::~ModalScope() {
    if (m_wasTopmost)
        m_modes.setTopmost(true);
}

} // namespace quoxel
