#include "ui/apposd.h"

#include "core/appflags.h"
#include "playback/channelswitch.h"
#include "playback/streamsetup.h"
#include "ui/appcontroller.h"
#include "ui/blackscreen.h"
#include "ui/channelbox.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/osdcontroller.h"
#include "ui/osdinfo.h"

#include <QComboBox>
#include <QProgressBar>
#include <QWindow>

namespace quoxel {

AppOsd::AppOsd(TFrmQuoxel& window, AppController& app)
    : m_w(window)
    , m_app(app)
    , m_osd(std::make_unique<OsdController>(*this)) {
    // The panels lie over the video inside the client area; the window owns them.
    m_panels = new EpgPanels(*this, m_w.Video()->parentWidget());
    m_osd->setPanels(m_panels);
    m_panels->setHideEpgInfo([this] { m_osd->HideEPGInfo(); });
}

AppOsd::~AppOsd() {
    // The panels ask this host; they go with it unless the window took them already.
    delete m_panels.data();
}

bool AppOsd::isFullscreen() const {
    return m_w.view().IsFullscreen;
}

bool AppOsd::isInTransition() const {
    return m_w.view().IsInTransition;
}

bool AppOsd::isMenuOpen() const {
    return m_w.view().IsMenuOpen;
}

void AppOsd::setDblClickEPG(bool on) {
    m_w.view().IsDblClickEPG = on;
}

void AppOsd::startPopUpTimer() {
    m_w.startPopup();
}

void AppOsd::hideBackdrop() {
    if (m_w.FrmBlackScreen().isVisible())
        m_w.FrmBlackScreen().hide();
}

QScreen* AppOsd::osdScreen() const {
    const QWindow* handle = m_w.windowHandle();
    return handle ? handle->screen() : nullptr;
}

TChannelRef AppOsd::AktChannel() const {
    return m_app.session().AktChannel;
}

ChannelModel* AppOsd::channelModel() const {
    return &m_app.channelModel();
}

bool AppOsd::channelBoxDroppedDown() const {
    return m_app.channelBoxDroppedDown();
}

void AppOsd::setChannelBoxEnabled(bool on) {
    m_w.CmbChannels()->setEnabled(on);
}

void AppOsd::repaintChannelBox() {
    m_w.CmbChannels()->update();
}

void AppOsd::SwitchChannel(const TChannelRef& channel) {
    if (channel && m_app.switcher() && !IsStarting)
        m_app.switcher()->SwitchChannel(channel);
}

void AppOsd::setCaption(const QString& caption) {
    m_app.setCaption(caption);
}

QPixmap AppOsd::logoFor(const TChannel& channel) {
    return m_app.pictures().logoFor(channel);
}

const TStreamInfo* AppOsd::streamInfo() const {
    const StreamSetup* stream = m_app.stream();
    return stream && stream->StreamInfo ? &*stream->StreamInfo : nullptr;
}

int AppOsd::audioMenuCount() const {
    const StreamSetup* stream = m_app.stream();
    return stream ? static_cast<int>(stream->AudioMenu.size()) : 0;
}

int AppOsd::volume() const {
    return m_w.Volume()->value();
}

void AppOsd::setVolume(int position) {
    m_w.setVolumePosition(position);
    m_app.player().setVolumeFromOthers(m_w.Volume()->value());
    showVolume(m_w.Volume()->value());
}

void AppOsd::setEPGUpdateTimer(bool on) {
    if (on)
        m_app.epgTimers().startEPGUpdateTimer();
    else
        m_app.epgTimers().stopEPGUpdateTimer();
}

void AppOsd::setEPGChannelsTimer(bool on) {
    if (on)
        m_app.epgTimers().startEPGChannelsTimer();
    else
        m_app.epgTimers().stopEPGChannelsTimer();
}

void AppOsd::showVolume(int position) {
    if (auto* bar = m_w.Video()->parentWidget()->findChild<QProgressBar*>(QStringLiteral("VolumeOsd")))
        bar->setValue(position);
}

} // namespace quoxel
