#pragma once

#include "box/epgthread.h"
#include "box/records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// What the EPG timers and the two EPG commands need of the main window. UI thread.
class EPGTimersHost {
public:
    virtual ~EPGTimersHost() = default;
    // The records of the channel box in box order, its selected position and the channel on air.
    virtual QList<TChannelRef> epgChannels() const = 0;
    virtual int selectedChannel() const = 0;
    virtual TChannelRef aktChannel() const = 0;
    // The channel box list is dropped down: the views are not repainted under the user's hand.
    virtual bool channelListDroppedDown() const = 0;
    // Channel box, EPG bar box and channel list.
    virtual void repaintChannelViews() = 0;
    // The channel list of the in-window channel panel only.
    virtual void repaintChannelList() = 0;
    virtual bool channelPanelVisible() const = 0;
    // Main-window caption and application title.
    virtual void setCaption(const QString& caption) = 0;
    // "Channel Preview (n/m)" on the channel panel and the OSD channel list.
    virtual void setChannelPreviewCaption(const QString& caption) = 0;
    // ShowEPGInfo (info overlay or in-window bar) and ShowChannelInfo (in-window bar texts).
    virtual void showEPGInfo(TChannel& channel) = 0;
    virtual void showChannelInfo(TChannel& channel) = 0;
    // The "File" menu item that stops and starts the EPG.
    virtual void setStopEPGCaption(const QString& caption) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    virtual void processEvents() = 0;
};

// The EPG thread's owner and the four EPG timers of the main window with their handlers, plus
// "Reset EPG" and "Stop EPG"/"Start EPG". All on the UI thread; the thread's results arrive here
// queued, so the channel records are only ever written on this thread.
class EPGTimers : public QObject {
    Q_OBJECT
public:
    static constexpr int kEPGTimerFirstMs = 500;
    static constexpr int kEPGTimerRestartMs = 1;
    static constexpr int kEPGTimerTickMs = 10000;
    static constexpr int kEPGUpdateMs = 5000;
    static constexpr int kEPGChannelsMs = 500;
    static constexpr int kShowEPGOnSwitchMs = 1500;

    static inline const QString kStopCaption = QStringLiteral("Stop EPG");
    static inline const QString kStartCaption = QStringLiteral("Start EPG");

    // stopped: the "no_epgdata" setting; the menu item then offers "Start EPG".
    EPGTimers(EPGTimersHost& host, bool stopped, EPGPacing pacing = {}, QObject* parent = nullptr);
    ~EPGTimers() override;

    // Starts the thread unless it runs, the window closes or the EPG is stopped; true if started.
    bool startThread();
    // The end of a channel switch: start as above, then an immediate EPG timer tick.
    bool startThreadFromSwitch();
    // Logs "StopEPGThread()"; when the thread runs, disables the EPG timer and waits for it.
    // Returns the number of 20 ms waits it took.
    int StopEPGThread(bool showMessage);
    bool isThreadRunning() const { return m_thread.isRunning(); }
    bool isEPGStopped() const { return m_stopped; }
    // EPGStopped as the settings give it at each start ("no_epgdata"), with the item's caption.
    void setStopped(bool stopped);
    EPGThread& thread() { return m_thread; }

    // The channel box selection and the channel on air, passed on to a running walk.
    void setSelected(int position);
    void setAktRadio(bool radio);

    // EPGTimer with a given interval (1 on a restart), or off.
    void enableEPGTimer(int intervalMs = kEPGTimerRestartMs);
    void disableEPGTimer();
    // TimerEPGUpdate, TimerEPGChannels and TimerShowEPGOnSwitch started by the panels and the switch.
    void startEPGUpdateTimer();
    void stopEPGUpdateTimer();
    void startEPGChannelsTimer();
    void stopEPGChannelsTimer();
    void startShowEPGOnSwitchTimer();

    QTimer& epgTimer() { return m_epgTimer; }
    QTimer& epgUpdateTimer() { return m_epgUpdate; }
    QTimer& epgChannelsTimer() { return m_epgChannels; }
    QTimer& showEPGOnSwitchTimer() { return m_showOnSwitch; }

    // The tick handlers; the timers call them, the window may too.
    void EPGTimerTimer();
    void TimerEPGUpdateTimer();
    void TimerEPGChannelsTimer();
    void TimerShowEPGOnSwitchTimer();

    // "Reset EPG" (Ctrl+E): stop, clear every channel's programme data, fetch again.
    void ResetEPG1Click();
    // "Stop EPG" (Ctrl+G): stops the thread and turns the item into "Start EPG"; the same item then
    // starts it again.
    void StopEPG1Click();

private:
    void onChannelApplied(int position, int loaded, int total);

    EPGTimersHost& m_host;
    bool m_stopped;
    EPGThread m_thread;
    QTimer m_epgTimer;
    QTimer m_epgUpdate;
    QTimer m_epgChannels;
    QTimer m_showOnSwitch;
};
