#include "ui/blackscreen.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWindowStateChangeEvent>

namespace quoxel {

TFrmBlackScreen::TFrmBlackScreen(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setCursor(Qt::BlankCursor);
    m_timerShow.setSingleShot(true);
    m_timerShow.setInterval(1500);
    connect(&m_timerShow, &QTimer::timeout, this, &TFrmBlackScreen::onTimerShow);
}

void TFrmBlackScreen::setShowEpgInfo(std::function<bool()> enabled, std::function<void()> showInfo) {
    m_showEpgEnabled = std::move(enabled);
    m_showEpgInfo = std::move(showInfo);
}

void TFrmBlackScreen::StartBackdropTimer() {
    m_timerShow.start(1500);
}

void TFrmBlackScreen::showEvent(QShowEvent* event) {
    // Cover the whole screen the window opens on, not just the primary one.
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    QWidget::showEvent(event);
}

void TFrmBlackScreen::changeEvent(QEvent* event) {
    // A minimise hides the backdrop instead; a minimised black window would be useless in the task list.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        hide();
    }
    QWidget::changeEvent(event);
}

void TFrmBlackScreen::onTimerShow() {
    m_timerShow.stop();
    if (m_showEpgEnabled && m_showEpgEnabled() && m_showEpgInfo) {
        m_showEpgInfo();
        return;
    }
    if (isVisible())
        hide();
}

} // namespace quoxel
