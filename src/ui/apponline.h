#pragma once

#include "playback/remotevlc.h"
#include "playback/streamsetup.h"

#include <QObject>

class ChannelSwitcher;
class SettingsStore;
class VLCPlayer;

namespace quoxel {

class AppController;
class TFrmQuoxel;

// Online mode in the running program: the remote VLC on the session's request client, its start
// and stop in the player and the channel switch, the "Online Mode" menu item, the start-up probe
// and the close's stop, and the stream settings the player and the stream setup read. UI thread.
class AppOnline : public QObject, public RemoteVlcHost {
    Q_OBJECT
public:
    AppOnline(AppController& app, TFrmQuoxel& window);

    // The settings as read at start (created: the store was just opened) and after the options
    // dialog's OK: caching, transcoding, addresses and the remote's password.
    void applySettings(const SettingsStore& store, bool created);
    // Once the player, the stream setup and the switch exist (the first activation).
    void attach(VLCPlayer& player, StreamSetup& stream, ChannelSwitcher& switcher);
    // The stream setup is going ("Init Quoxel" makes a new one for the new client).
    void detachStream() { m_stream = nullptr; }
    // On the session's current request client.
    RemoteVlc& remote();

    // RemoteVlcHost
    void processPendingEvents() override;
    void setBusyCursor(bool busy) override;
    bool isFullscreen() const override;
    bool isChannelBoxEnabled() const override;
    void startEpgTimer() override;
    void addTarget(const QString& mrl, const QStringList& options) override;
    void play(bool withStatus) override;
    void waitCaching() override;
    bool hasChannelSelection() const override;
    void switchToSelectedChannel() override;
    void setOnlineChecked(bool checked) override;
    void showSplashStatus(const QString& text) override;

private:
    AppController& m_app;
    TFrmQuoxel& m_w;
    RemoteVlc m_remote;
    StreamSettings m_settings;
    VLCPlayer* m_player = nullptr;
    StreamSetup* m_stream = nullptr;
};

} // namespace quoxel
