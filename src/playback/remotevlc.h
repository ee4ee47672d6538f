#pragma once

#include "box/records.h"

#include <QString>
#include <QStringList>

#include <functional>

class BoxClient;
class StreamSetup;
struct StreamSettings;

// Which HTTP interface the remote VLC speaks: the old one of "/?control=..." with its main page of
// play links (VLC 0.8), or the Lua interface of VLC 2 and later ("/requests/status.xml?command=...",
// with a password).
enum class RemoteVlcInterface {
    Classic,
    Lua,
};

// The play-link marker of the old interface's main page: <a href="?control=play&amp;
inline constexpr const char* kPlayLinkMarker = "<a href=\"?control=play&amp;";

// The item number of the last play link on a main page (empty without play links or "tem=").
QString playItemFromPage(const QString& page);
// The item number of the last play link whose text shows the MRL (VLC 0.8 writes an item's name
// and address into its link); empty when no link does.
QString playItemForMrl(const QString& page, const QString& mrl);

// What the play request carries after the add of mrl: the link that shows it, else the last play
// link; only a number (anything else from the page is no item at all).
QString playItemFor(const QString& page, const QString& mrl);

// The add request of the old interface for the stream address and channel: MRL, caching and the
// transcode chain closed with the remote's own stream address, blank-separated.
QString classicAddRequest(const QString& liveUrl, TChannelMode channelMode, int streamType,
                          const StreamSettings& settings);

// The source and its options as the remote VLC gets them (MRL first).
struct RemoteItem {
    QString Mrl;
    QStringList Options;
};
RemoteItem remoteItem(const QString& liveUrl, TChannelMode channelMode, int streamType, const StreamSettings& settings);

// The local engine's options for playing what the remote VLC serves: caching, deinterlacing and,
// with providestream, the re-serving output.
QStringList onlineLocalOptions(int streamType, const StreamSettings& settings);

// A query value for the Lua interface: survives the HTTP engine's decoding and the interface's
// "&" and "=" splitting, so MRLs and sout chains arrive whole.
QString luaQueryValue(const QString& value);

// The window and the local engine as the online start needs them. UI thread; defaults do nothing.
class RemoteVlcHost {
public:
    virtual ~RemoteVlcHost() = default;
    virtual void processPendingEvents() {}
    virtual void setBusyCursor(bool /*busy*/) {}
    virtual bool isFullscreen() const { return false; }
    virtual bool isChannelBoxEnabled() const { return true; }
    virtual void startEpgTimer() {}
    // VLC_AddTarget with the option slots (count = options.size()), mode 2, position -666.
    virtual void addTarget(const QString& /*mrl*/, const QStringList& /*options*/) {}
    virtual void play(bool /*withStatus*/) {}
    virtual void waitCaching() {}
    virtual bool hasChannelSelection() const { return false; }
    virtual void switchToSelectedChannel() {}
    virtual void setOnlineChecked(bool /*checked*/) {}
    virtual void showSplashStatus(const QString& /*text*/) {}
};

// Drives the remote VLC of online mode through the main BoxClient: finds out which interface it
// speaks, starts and stops its transcoded stream, and holds the "Online Mode" toggle. UI thread.
class RemoteVlc {
public:
    // Sends one request and returns its trimmed answer; BoxClient::BoxRequest unless given. One
    // given must run no other command while it waits (the Lua password is on the client then).
    using Sender = std::function<QString(const QString& url)>;

    explicit RemoteVlc(RemoteVlcHost& host);
    ~RemoteVlc();
    RemoteVlc(const RemoteVlc&) = delete;
    RemoteVlc& operator=(const RemoteVlc&) = delete;

    // Where the requests go; without one every request answers empty.
    void setBoxClient(BoxClient* box) { m_box = box; }
    // The Lua interface's password (its user is empty). Sent only there, never logged.
    void setPassword(const QString& password);
    // The remote may have changed (address, port, password): the next use asks it again.
    void forgetInterface() { m_known = false; }
    RemoteVlcInterface activeInterface() const { return m_active; }

    // The remote's main page (old interface) or status (Lua), after finding out which one it
    // speaks; empty when it cannot be reached or what answers is not its web interface.
    QString MainPage();
    // The online branch of StartStream, after GetStreamInfo. False: stream not available.
    bool StartOnline(StreamSetup& setup, TChannelMode channelMode);
    // Stops the remote stream (channel switch, leaving online mode, close).
    void RemoteStop(const Sender& send = {});
    // "Online Mode": enters online mode when the remote answers, leaves it otherwise.
    void OnlineMode1Click();

private:
    QString request(const QString& url, const Sender& send = {});
    int lastStatus() const;
    bool startClassic(StreamSetup& setup, TChannelMode channelMode);
    bool startLua(StreamSetup& setup, TChannelMode channelMode);
    bool notAvailable(const QString& liveUrl);
    void playLocally(StreamSetup& setup, TChannelMode channelMode);

    BoxClient* m_box = nullptr;
    RemoteVlcHost& m_host;
    RemoteVlcInterface m_active = RemoteVlcInterface::Classic;
    bool m_known = false;
    QString m_password;
};
