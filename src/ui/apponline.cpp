#include "ui/apponline.h"

#include "core/options.h"
#include "core/settingsstore.h"
#include "playback/channelswitch.h"
#include "playback/vlcplayer.h"
#include "ui/appcontroller.h"
#include "ui/mainwindow.h"

#include <QApplication>

#include <algorithm>

namespace quoxel {

AppOnline::AppOnline(AppController& app, TFrmQuoxel& window)
    : QObject(&app)
    , m_app(app)
    , m_w(window)
    , m_remote(*this) {
    QAction* item = m_w.menu().OnlineMode1;
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this] {
        // Qt has flipped the mark already; the toggle sets it from what happened.
        setOnlineChecked(Options.Mode == AppMode::Online);
        remote().OnlineMode1Click();
    });
    BoxSession& session = m_app.session();
    session.setRemoteVlc([this] { return remote().MainPage(); },
                         [this, &session](int limitMs) {
                             remote().RemoteStop([&session, limitMs](const QString& url) {
                                 return session.boundedRequest(url, limitMs);
                             });
                         });
}

RemoteVlc& AppOnline::remote() {
    m_remote.setBoxClient(m_app.session().box());
    return m_remote;
}

void AppOnline::applySettings(const SettingsStore& store, bool created) {
    m_settings = StreamSettings::fromStore(store);
    m_remote.setPassword(store.value(SettingId::VlcPassword));
    // An address, port or password may have changed: the next start asks the remote again.
    m_remote.forgetInterface();
    if (created)
        setOnlineChecked(Options.Mode == AppMode::Online);
    if (m_stream)
        m_stream->setSettings(m_settings);
    if (m_player)
        m_player->setCaching(m_settings.CacheLive, m_settings.CacheOnline);
}

void AppOnline::attach(VLCPlayer& player, StreamSetup& stream, ChannelSwitcher& switcher) {
    m_player = &player;
    m_stream = &stream;
    stream.setSettings(m_settings);
    player.setCaching(m_settings.CacheLive, m_settings.CacheOnline);
    player.setOnlineStarter([this](bool isRadio) {
        if (m_stream)
            remote().StartOnline(*m_stream, isRadio ? TChannelMode::mRadio : TChannelMode::mTV);
    });
    switcher.setRemoteStop([this] { remote().RemoteStop(); });
}

void AppOnline::processPendingEvents() {
    QApplication::processEvents();
}

void AppOnline::setBusyCursor(bool busy) {
    m_app.setBusyCursor(busy);
}

bool AppOnline::isFullscreen() const {
    return static_cast<const SwitchHost&>(m_app).isFullscreen();
}

bool AppOnline::isChannelBoxEnabled() const {
    return static_cast<const SwitchHost&>(m_app).channelBoxEnabled();
}

void AppOnline::startEpgTimer() {
    m_app.startEPGTimer(1);
}

void AppOnline::addTarget(const QString& mrl, const QStringList& options) {
    if (!m_player)
        return;
    m_player->VlcOptions.fill(QString());
    const int count = int(std::min<qsizetype>(options.size(), VLCPlayer::kOptionSlots));
    for (int i = 0; i < count; ++i)
        m_player->VlcOptions[size_t(i)] = options[i];
    m_player->AddTarget(mrl, count);
}

void AppOnline::play(bool withStatus) {
    if (m_player)
        m_player->Play(withStatus);
}

void AppOnline::waitCaching() {
    if (m_player)
        m_player->WaitCaching();
}

bool AppOnline::hasChannelSelection() const {
    return static_cast<const PlayerView&>(m_app).hasChannelSelection();
}

void AppOnline::switchToSelectedChannel() {
    m_app.switchChannel();
}

void AppOnline::setOnlineChecked(bool checked) {
    m_w.menu().OnlineMode1->setChecked(checked);
}

void AppOnline::showSplashStatus(const QString& text) {
    m_app.setSplashStatus(text);
}

} // namespace quoxel
