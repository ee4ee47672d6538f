#include "ui/appinput.h"

#include "core/appflags.h"
#include "playback/channelswitch.h"
#include "ui/appcontroller.h"
#include "ui/appguide.h"
#include "ui/apposd.h"
#include "ui/channelbox.h"
#include "ui/channellist.h"
#include "ui/channelmodel.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/osdcontroller.h"

#include <QComboBox>
#include <QProgressBar>

namespace quoxel {

AppInput::AppInput(TFrmQuoxel& window, AppController& app, QObject* parent)
    : QObject(parent)
    , m_w(window)
    , m_app(app)
    , m_controller(*this)
    , m_hook(&window) {
    m_w.installEventFilter(this);
    m_hook.setFormWheelHandler(
        &m_w, [this](bool up) { return up ? m_controller.FormMouseWheelUp() : m_controller.FormMouseWheelDown(); });
    m_hook.HookMouseKey();
    connect(&m_app, &AppController::timersStopped, this, [this] { m_controller.TimerInputBlockKey().stop(); });
}

AppInput::~AppInput() {
    m_hook.UnHookMouseKey();
}

bool AppInput::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_w && m_controller.hookEvent(event))
        return true;
    return QObject::eventFilter(watched, event);
}

bool AppInput::isFullscreen() const {
    return m_w.view().IsFullscreen;
}

void AppInput::setFullscreen(bool on) {
    m_w.view().setFullscreenView(on);
}

bool AppInput::isInTransition() const {
    return m_w.view().IsInTransition;
}

void AppInput::setInTransition(bool on) {
    m_w.view().IsInTransition = on;
}

bool AppInput::isMenuOpen() const {
    return m_w.view().IsMenuOpen;
}

void AppInput::setMenuOpen(bool on) {
    m_w.view().IsMenuOpen = on;
}

bool AppInput::isDblClickEPG() const {
    return m_w.view().IsDblClickEPG;
}

void AppInput::setDblClickEPG(bool on) {
    m_w.view().IsDblClickEPG = on;
}

bool AppInput::isAlwaysOnTop() const {
    return m_w.view().IsAlwaysOnTop;
}

void AppInput::setAlwaysOnTop(bool on) {
    m_w.view().IsAlwaysOnTop = on;
}

static QAction* checkAction(const MainMenu& m, ViewCheck item) {
    switch (item) {
    case ViewCheck::Fullscreen1:
        return m.Fullscreen1;
    case ViewCheck::VideoOnly1:
        return m.VideoOnly1;
    case ViewCheck::alwaysontop1:
        return m.alwaysontop1;
    case ViewCheck::Telnet1:
        return m.Telnet1;
    }
    return nullptr;
}

bool AppInput::isChecked(ViewCheck item) const {
    if (item == ViewCheck::VideoOnly1)
        return m_w.view().videoOnly();
    if (item == ViewCheck::alwaysontop1)
        return m_w.view().alwaysOnTopChosen();
    QAction* a = checkAction(m_w.menu(), item);
    return a && a->isChecked();
}

void AppInput::setChecked(ViewCheck item, bool on) {
    if (QAction* a = checkAction(m_w.menu(), item))
        a->setChecked(on);
}

void AppInput::setTopmost(bool on) {
    m_w.view().setTopmost(on);
}

bool AppInput::isForeground() const {
    return m_w.isActiveWindow();
}

QWidget* AppInput::videoPanel() const {
    return m_w.Video();
}

void AppInput::ShowMainWindow() {
    m_w.show();
}

void AppInput::BringMainWindowToFront() {
    m_w.view().BringMainWindowToFront();
}

TChannelRef AppInput::AktChannel() const {
    return m_app.session().AktChannel;
}

void AppInput::SwitchChannel(const TChannelRef& channel) {
    if (channel && m_app.switcher() && !IsStarting)
        m_app.switcher()->SwitchChannel(channel);
}

int AppInput::channelBoxIndex() const {
    return m_w.CmbChannels()->currentIndex();
}

TChannelRef AppInput::channelBoxChannel(int index) const {
    return m_app.channelModel().channelAt(index);
}

bool AppInput::channelBoxDroppedDown() const {
    auto* box = qobject_cast<TComboBoxQuoxel*>(m_w.CmbChannels());
    return box && box->isDroppedDown();
}

void AppInput::reselectChannelBoxShownEntry() {
    QComboBox* box = m_w.CmbChannels();
    const int row = box->findText(box->currentText());
    if (row >= 0)
        box->setCurrentIndex(row);
}

bool AppInput::panelVisible(InWindowPanel panel) const {
    switch (panel) {
    case InWindowPanel::Telnet:
        return m_w.PnlTelnet()->isVisible();
    case InWindowPanel::RealOsd:
        return m_w.PnlRealOSD()->isVisible();
    case InWindowPanel::Info:
        return m_app.osd().panels().infoVisible();
    case InWindowPanel::Channels:
        return m_app.osd().panels().channelsVisible();
    case InWindowPanel::Details:
        return m_app.osd().panels().detailsVisible();
    default:
        return false;
    }
}

// Overlays and in-window panels -----------------------------------------------------------------

int AppInput::osdChannelsIndex() const {
    return m_app.osd().osd().osdChannelsIndex();
}

int AppInput::channelPanelIndex() const {
    return m_app.osd().panels().LbxChannels()->currentIndex().row();
}

TChannelRef AppInput::channelPanelChannel(int index) const {
    return m_app.channelModel().channelAt(index);
}

int AppInput::channelPanelTopIndex() const {
    const int row = m_app.osd().panels().LbxChannels()->indexAt(QPoint(0, 0)).row();
    return row < 0 ? 0 : row;
}

void AppInput::setChannelPanelTopIndex(int index) {
    ChannelListView* list = m_app.osd().panels().LbxChannels();
    if (!list->model() || index < 0 || index >= list->model()->rowCount())
        return;
    list->scrollTo(list->model()->index(index, 0), QAbstractItemView::PositionAtTop);
}

int AppInput::channelPanelPageRows() const {
    return m_app.osd().panels().LbxChannels()->pageRows();
}

bool AppInput::osdVisible(OsdWindow window) const {
    return m_app.osd().osd().osdVisible(window);
}

void AppInput::ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide) {
    m_app.osd().osd().ShowOSD(window, channel, autoHide);
}

void AppInput::HideOSD(OsdWindow window) {
    m_app.osd().osd().HideOSD(window);
}

void AppInput::OpenDetailsOSD(const TChannelRef& channel, bool autoHide) {
    m_app.osd().osd().OpenDetailsOSD(channel, autoHide);
}

void AppInput::CloseDetailsOSD() {
    m_app.osd().osd().CloseDetailsOSD();
}

void AppInput::OsdDetailsPrev() {
    m_app.osd().osd().OsdDetailsPrev();
}

void AppInput::OsdDetailsNext() {
    m_app.osd().osd().OsdDetailsNext();
}

void AppInput::OsdDetailsChanUp() {
    m_app.osd().osd().OsdDetailsChanUp();
}

void AppInput::OsdDetailsChanDown() {
    m_app.osd().osd().OsdDetailsChanDown();
}

void AppInput::dropInfoOsdForMenu() {
    m_app.osd().osd().dropInfoOsdForMenu();
}

void AppInput::ShowEPGInfo(const TChannelRef& channel) {
    m_app.osd().osd().ShowEPGInfo(channel);
}

void AppInput::HideEPGInfo() {
    m_app.osd().osd().HideEPGInfo();
}

void AppInput::ShowChannelPanel() {
    m_app.osd().panels().ShowChannelPanel();
}

void AppInput::HideChannelPanel() {
    m_app.osd().panels().HideChannelPanel();
}

void AppInput::OpenDetailsPanel(const TChannelRef& channel) {
    m_app.osd().panels().OpenDetailsPanel(channel);
}

void AppInput::CloseDetailsPanel() {
    m_app.osd().panels().CloseDetailsPanel();
}

void AppInput::PnlEpgPrevClick() {
    m_app.osd().panels().PnlEpgPrevClick();
}

void AppInput::PnlEpgNextClick() {
    m_app.osd().panels().PnlEpgNextClick();
}

void AppInput::PnlEpgChanUp() {
    m_app.osd().panels().PnlEpgChanUp();
}

void AppInput::PnlEpgChanDown() {
    m_app.osd().panels().PnlEpgChanDown();
}

bool AppInput::isMuted() const {
    return m_w.muted();
}

int AppInput::volume() const {
    return m_w.Volume()->value();
}

void AppInput::setVolume(int position) {
    m_w.Volume()->setFocus();
    m_w.setVolumePosition(position);
    m_app.player().setVolumeFromOthers(m_w.Volume()->value());
    m_app.osd().showVolume(m_w.Volume()->value());
}

bool AppInput::IsPlaying() const {
    return m_app.player().isPlaying();
}

void AppInput::VLCRestart1Click() {
    m_app.player().VLCRestart1Click();
}

void AppInput::Telnet1Click() {
    m_w.menu().Telnet1->trigger();
}

void AppInput::DBoxOSD1Click() {
    m_w.menu().DBoxOSD1->trigger();
}

void AppInput::alwaysontop1Click() {
    m_w.view().alwaysontop1Click();
}

void AppInput::VideoOnly1Click() {
    m_w.view().VideoOnly1Click();
}

void AppInput::hideTelnetPanel() {
    m_w.PnlTelnet()->hide();
    m_w.menu().Telnet1->setChecked(false);
}

void AppInput::startPopUpTimer() {
    m_w.startPopup();
}

void AppInput::ShowGuide() {
    m_app.guide().ShowGuide();
}

} // namespace quoxel
