#pragma once

#include "box/records.h"

#include <QString>
#include <QStringList>

class BoxClient;
class StreamSetup;
struct StreamSettings;

// Which HTTP interface the remote VLC speaks: the old one of "/?control=..." with its main page of
// play links, or the Lua interface of VLC 3 ("/requests/status.xml?command=...", password).
enum class RemoteVlcInterface {
    Classic,
    Lua,
    Detect, // ask the remote once, then drive what it answered to
};

// The play-link marker of the old interface's main page: <a href="?control=play&amp;
inline constexpr const char* kPlayLinkMarker = "<a href=\"?control=play&amp;";

// The item number of the last play link on a main page (empty without play links or "tem=").
QString playItemFromPage(const QString& page);

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

// Drives the remote VLC of online mode through the main BoxClient. UI thread.
class RemoteVlc {
public:
    RemoteVlc(BoxClient& box, RemoteVlcHost& host);
    ~RemoteVlc();
    RemoteVlc(const RemoteVlc&) = delete;
    RemoteVlc& operator=(const RemoteVlc&) = delete;

    // Classic is the default. The password is only sent to the Lua interface, never logged.
    void setInterface(RemoteVlcInterface which);
    void setPassword(const QString& password) { m_password = password; }
    // Classic or Lua; Detect until the remote has been asked.
    RemoteVlcInterface activeInterface() const { return m_active; }
    // Asks the remote which interface it speaks (Detect only; otherwise returns the set one).
    RemoteVlcInterface detect();

    // The online branch of StartStream, after GetStreamInfo. False: stream not available.
    bool StartOnline(StreamSetup& setup, TChannelMode channelMode);
    // Stops the remote stream (channel switch, leaving online mode).
    void RemoteStop();
    // The remote's main page (old) or status (Lua); empty when it cannot be reached.
    QString MainPage();
    // "Online Mode": enters online mode when the remote answers, leaves it otherwise.
    void OnlineMode1Click();

private:
    QString request(const QString& templ);
    bool startClassic(StreamSetup& setup, TChannelMode channelMode);
    bool startLua(StreamSetup& setup, TChannelMode channelMode);
    bool notAvailable(const QString& liveUrl);
    void playLocally(StreamSetup& setup, TChannelMode channelMode);

    BoxClient& m_box;
    RemoteVlcHost& m_host;
    RemoteVlcInterface m_configured = RemoteVlcInterface::Classic;
    RemoteVlcInterface m_active = RemoteVlcInterface::Classic;
    QString m_password;
};
