#include "ui/osdcontroller.h"

#include "ui/channellist.h"
#include "ui/epgpanels.h"
#include "ui/osdchannels.h"
#include "ui/osddetails.h"
#include "ui/osdinfo.h"

#include <QCoreApplication>

namespace quoxel {

OsdController::OsdController(OsdHost& host)
    : m_host(host)
    , m_info(std::make_unique<TFrmOSD_Info>(host, *this))
    , m_channels(std::make_unique<TFrmOSD_Channels>(host, *this))
    , m_details(std::make_unique<TFrmOSD_Details>(host, *this)) {}

OsdController::~OsdController() = default;

void OsdController::ShowEPGInfo(const TChannelRef& channel) {
    if (!channel || m_suppressed || m_host.isInTransition() || m_host.isMenuOpen())
        return;
    if (m_host.isFullscreen()) {
        if (!m_channels->isVisible() && !m_details->isVisible() && !m_info->isVisible()) {
            if (m_panels)
                m_panels->ShownIndex = channel->NowEPG.Index;
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (!m_info->isVisible()) {
                m_info->TimerHide().setInterval(osdShowTimeMs());
                m_info->ShowOSD(channel, true);
            }
        }
    } else if (m_panels) {
        m_panels->ShowInfoPanel(channel);
    }
    m_host.hideBackdrop();
}

void OsdController::HideEPGInfo() {
    if (m_host.isFullscreen())
        m_info->HideOSD();
    else if (m_panels)
        m_panels->HideInfoPanel();
}

void OsdController::OpenDetailsOSD(const TChannelRef& channel, bool autoHide) {
    m_details->OpenDetailsOSD(channel, autoHide);
}

void OsdController::CloseDetailsOSD() {
    m_details->CloseDetailsOSD();
}

bool OsdController::osdVisible(OsdWindow window) const {
    switch (window) {
    case OsdWindow::Info:
        return m_info->isVisible();
    case OsdWindow::Channels:
        return m_channels->isVisible();
    case OsdWindow::Details:
        return m_details->isVisible();
    }
    return false;
}

void OsdController::ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide) {
    switch (window) {
    case OsdWindow::Info:
        m_info->ShowOSD(channel, autoHide);
        break;
    case OsdWindow::Channels:
        m_channels->ShowOSD(channel, autoHide);
        break;
    case OsdWindow::Details:
        m_details->OpenDetailsOSD(channel, autoHide);
        break;
    }
}

void OsdController::HideOSD(OsdWindow window) {
    switch (window) {
    case OsdWindow::Info:
        m_info->HideOSD();
        break;
    case OsdWindow::Channels:
        m_channels->HideOSD();
        break;
    case OsdWindow::Details:
        m_details->HideOSD();
        break;
    }
}

void OsdController::OsdDetailsPrev() {
    m_details->PnlEpgPrevClick();
}
void OsdController::OsdDetailsNext() {
    m_details->PnlEpgNextClick();
}
void OsdController::OsdDetailsChanUp() {
    m_details->ChanUp();
}
void OsdController::OsdDetailsChanDown() {
    m_details->ChanDown();
}

void OsdController::dropInfoOsdForMenu() {
    m_info->TimerHide().stop();
    m_info->TimerHide().setInterval(1);
    m_info->hide();
}

int OsdController::osdChannelsIndex() const {
    return m_channels->selectedIndex();
}

void OsdController::hideInfoAndDetails() {
    if (m_info->isVisible())
        m_info->HideOSD();
    if (m_details->isVisible())
        m_details->CloseDetailsOSD();
}

void OsdController::hideInfoAndLowerChannels() {
    if (m_info->isVisible())
        m_info->HideOSD();
    if (m_channels->isVisible())
        m_channels->lower();
}

void OsdController::focusChannelsList() {
    if (m_channels->isVisible())
        m_channels->LbxChannels()->setFocus();
}

} // namespace quoxel
