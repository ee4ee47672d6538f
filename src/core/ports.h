#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class SettingsStore;

// The small interfaces through which core reaches the windows above it. AppController, the
// options dialog and the box session implement them; tests pass recording fakes.

// Receives the three panel texts of the status line.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void showStatus(const QString& message, const QString& modeName, const QString& stamp) = 0;
};

// Shows the options dialog modally on the very first start, before anything connects.
class FirstStartDialog {
public:
    virtual ~FirstStartDialog() = default;
    // The store's values hold the first-start offer. Returns true on OK (the dialog has then
    // saved the settings), false on Cancel.
    virtual bool runFirstStart(SettingsStore& store) = 0;
};

// The splash window with its version and status labels. Owned by the main window. UI thread.
class SplashView {
public:
    virtual ~SplashView() = default;
    // Shows it centred on the main window, always on top, and repaints it at once;
    // versionLabel goes on the version label as it stands (" v0.1.0.0").
    virtual void showSplash(const QString& versionLabel) = 0;
    // SetSplashStatus: the status label's text, shown at once (pending messages run).
    virtual void setSplashStatus(const QString& text) = 0;
    virtual void hideSplash() = 0;
};

// The main window's side of the connection sequence: caption, dialogs, menus and labels. UI thread.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;
    // Main-window caption and application title.
    virtual void setCaption(const QString& caption) = 0;
    // Lets pending window messages run.
    virtual void processEvents() = 0;
    // Creates the splash window (visible at once) and the options dialog, which loads the settings
    // into Options (on a first start after the configuration dialog). The objects of an earlier run
    // are released first. The splash stays valid until the next call.
    virtual SplashView& createSplashAndOptions() = 0;
    // The settings file's lines with every password masked, for the head of the log.
    virtual QList<QByteArray> settingsLogHead() = 0;
    // The EPG thread's stopped-by-the-user flag.
    virtual void setEPGStopped(bool stopped) = 0;
    // The status line again with its current text; the clock labels to the current "hh:nn".
    virtual void refreshStatusAndClock() = 0;
    // Mode "quoxel": hides the receiver menus and the receiver pages of the options dialog and
    // disables the channel box.
    virtual void hideReceiverItems() = 0;
    // The channel logo shows its hint.
    virtual void showLogoHint() = 0;
    // Telnet host and port for the console and the login; an empty host leaves the host as it is.
    virtual void setTelnetTarget(const QString& host, const QString& port) = 0;
    virtual void telnetLogin(const QString& user, const QString& password) = 0;
    // The receiver-OSD menu item.
    virtual void setReceiverOsdEnabled(bool enabled) = 0;
    // Readies the EPG walk for a new run, not started: a walk of an earlier run ends here.
    virtual void createEPGThread() = 0;
    // Check marks of "D-Box Standby" and "D-Box SPTS".
    virtual void setStandbyChecked(bool checked) = 0;
    virtual void setSptsChecked(bool checked) = 0;
    // The channel box, "Channels" menu and channel list mirror the loaded bouquet and selection.
    virtual void showChannels() = 0;
    // The radio background picture in front of the video panel (and, in the video-only view, in
    // front of the channel box, volume bar and play button).
    virtual void showRadioBackground() = 0;
};

// What the channel box holds for the channel the receiver shows.
struct AktChannelPick {
    bool recordMissing = false; // an entry without a channel record was met: the sequence ends
    bool found = false;         // the channel is selected, checked in the menu and is AktChannel
    bool radio = false;         // AktChannel is a radio channel
};

// The receiver's side of the connection sequence. Requests return the trimmed answer, empty
// when the receiver did not answer. UI thread.
class ConnectionSteps {
public:
    virtual ~ConnectionSteps() = default;
    // MainHttp with a 3000-second time-out and EPGHttp with 20 seconds, both with the web
    // credentials. Clients of an earlier run are released first.
    virtual void createClients(const QString& user, const QString& password) = 0;
    virtual void setMainTimeout(int seconds) = 0;
    virtual QString requestBoxTime() = 0; // "/control/gettime?rawtime"
    // Why the receiver refused the last request when it said why (it wants a web login); else empty.
    virtual QString refusedText() { return {}; }
    virtual QString requestVlcPage() = 0;        // the remote VLC's "http://<IP:PORT>"
    virtual QString requestRecordState() = 0;    // "/control/setmode?status"
    virtual QString requestStandbyState() = 0;   // "/control/standby"
    virtual QString requestPlaybackFormat() = 0; // "/control/system?getAViAExtPlayBack"
    // The on-screen message; answer ignored.
    virtual void sendMessage(const QString& text) = 0;
    // "/control/rc?lock"; answer ignored.
    virtual void lockRc() = 0;
    // The bouquet list; false when it cannot be loaded.
    virtual bool loadBouquets() = 0;
    // The channels of the current bouquet.
    virtual void loadChannels() = 0;
    virtual QString requestCurrentChannel() = 0; // "/control/zapto"
    // Selects the first channel-box entry, then the one with this id (see AktChannelPick).
    virtual AktChannelPick selectAktChannel(const QString& id) = 0;
    // Now/next of all channels over MainHttp.
    virtual void loadAllChannelEPG() = 0;
};

// The main window's side of activation, close and re-initialisation. UI thread.
class LifecycleView {
public:
    virtual ~LifecycleView() = default;
    virtual void processEvents() = 0;
    virtual void hideSplash() = 0;
    // The task-bar button (the application's owner window) shown.
    virtual void showTaskbarButton() = 0;
    virtual bool hasChannelSelection() = 0;
    // The in-window EPG display for the selected channel; errors are the view's to swallow.
    virtual void refreshEPGDisplay() = 0;
    // The same for AktChannel, after re-initialisation cleared every channel's EPG.
    virtual void refreshAktChannelEPG() = 0;
    // VLCInit; VlcHandle is then set.
    virtual void initPlayer() = 0;
    virtual bool playerInitialised() = 0;
    // SwitchChannel to the selected channel.
    virtual void switchChannel() = 0;
    // Starts the EPG timer with this interval; its tick starts the EPG thread.
    virtual void startEPGTimer(int intervalMs) = 0;
    virtual bool channelBoxEnabled() = 0;
    virtual bool isFullscreen() = 0;
    virtual void focusChannelBox() = 0;
    virtual void switchToFullscreen() = 0;
    // Hourglass (true) or normal cursor.
    virtual void setBusyCursor(bool busy) = 0;
    virtual void minimise() = 0;
    // Clock, input-block, input-block-key, OSD, watchdog, EPG update, EPG channel list, EPG and
    // pop-up timers.
    virtual void stopTimers() = 0;
    // Stop (the local player).
    virtual void stopPlayback() = 0;
    // StopEPGThread: bounded wait for the EPG thread.
    virtual void stopEPGThread() = 0;
    // VLC_Die (logged "VLC_Die()" in category VLC), when an engine exists; VlcHandle is then 0.
    virtual void shutDownPlayer() = 0;
    // Closes the options dialog, which saves the window state when RememberState is set.
    virtual void closeOptionsDialog() = 0;
    // Closes the main window (its close handler runs the close sequence).
    virtual void closeWindow() = 0;
};

// The receiver's side of close and re-initialisation. Each request waits at most limitMs for its
// answer (the answer is not needed); the receiver may drop them all. UI thread.
class ShutdownSteps {
public:
    virtual ~ShutdownSteps() = default;
    // EPGAbort := true: the EPG thread and waits for it give up.
    virtual void abortEPG() = 0;
    virtual void stopRemoteVlc(int limitMs) = 0; // the remote VLC's "/?control=stop"
    virtual void unlockRc(int limitMs) = 0;      // "/control/rc?unlock"
    virtual void sendMessage(const QString& text, int limitMs) = 0;
    virtual void setPesPlayback(int limitMs) = 0; // "/control/system?setAViAExtPlayBack=pes"
    // Every channel's EPG marked not loaded and cleared.
    virtual void resetChannelEPG() = 0;
    // MainHttp and EPGHttp released; a given-up request is abandoned safely, not waited for.
    virtual void releaseClients() = 0;
};
