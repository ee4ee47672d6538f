#pragma once

#include "box/bouquets.h"
#include "box/records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <thread>

class BoxClient;
class StreamSetup;
class SwitchHost;
class VLCPlayer;
class ZapClock;
struct FastZapAnswers;

namespace SwitchUrls {
inline const QString kZapTo = QStringLiteral("http://<IP:PORT>/control/zapto?<idchannel>");
inline const QString kOnAir = QStringLiteral("http://<IP:PORT>/control/zapto");
inline const QString kIdChannel = QStringLiteral("<idchannel>");
} // namespace SwitchUrls

// The status line after a zap the receiver did not carry out.
namespace SwitchTexts {
inline const QString kNotSwitched = QStringLiteral("the receiver did not switch");
inline const QString kRecording = QStringLiteral("the receiver is recording: this channel cannot be tuned now");
} // namespace SwitchTexts

// Moves playback to another channel (SwitchChannel), handles the channel box and the SubChannels
// menu, and runs the quoxel-mode watchdog TimerVLC that restarts a lost stream and follows the
// providing instance's bouquet and channel. Decides; the window shows through SwitchHost. UI thread.
class ChannelSwitcher : public QObject {
    Q_OBJECT
public:
    // The watchdog's rhythm once the stream is back, and while it is missing.
    static constexpr int kWatchdogMs = 500;
    static constexpr int kWatchdogLostMs = 5000;
    static constexpr int kDropDownWidth = 360;
    // The receiver answers "ok" to every zap, also to one it ignores: what it shows is read back
    // for this long after the zap, every kZapPollMs, before the zap counts as refused.
    static constexpr int kZapConfirmMs = 2000;
    static constexpr int kZapPollMs = 250;

    ChannelSwitcher(SwitchHost& host, TBouquetModel& model, BoxClient& box, StreamSetup& stream, VLCPlayer& player,
                    QObject* parent = nullptr);
    ~ChannelSwitcher() override;

    // Online mode: the remote VLC's stop, sent when a switch stops the player.
    void setRemoteStop(std::function<void()> stop) { m_remoteStop = std::move(stop); }
    // Asks whether the receiver records now, which explains a zap it refused or left without a
    // stream; asked only then.
    void setRecordingQuery(std::function<bool()> recording) { m_recording = std::move(recording); }

    // The single way to another channel; returns when the new stream has started or the switch was
    // abandoned. Refused while a switch runs.
    void SwitchChannel(const TChannelRef& channel);

    // Channel box handlers. KeyDown returns true when it took the key (Enter, Space).
    void CmbChannelsChange();
    bool CmbChannelsKeyDown(int key);
    void CmbChannelsClick();
    void CmbChannelsDropDown();
    void CmbChannelsExit();
    // A click on the SubChannels menu item at index.
    void SubChannels1Click(int index);

    // Watchdog tick; the timer calls it, tests and the window may too.
    void TimerVLCTimer();
    // VLCInit starts it in quoxel mode.
    void startWatchdog(int intervalMs);
    QTimer& TimerVLC() { return m_timer; }
    // False from the tick that saw the quoxel stream lost until the one that sees it back.
    bool streamConnected() const { return m_streamConnected; }
    // The program's initialisation run again starts from a connected stream.
    void setStreamConnected(bool connected) { m_streamConnected = connected; }

    // The channel on air; the start-up sets the one the receiver shows before the first switch.
    TChannelRef AktChannel() const { return m_akt; }
    void setAktChannel(TChannelRef channel) { m_akt = std::move(channel); }

    // The SubChannels menu: its items with their channels and check marks.
    const QList<TChannelMenuEntry>& subChannelsMenu() const { return m_subMenu; }

    // Fast zap ([Extras] fastzap, live mode over HTTP): a switch waits for the receiver's and the
    // engine's events, its requests run on a worker thread and the window stays free. Input during
    // a switch only moves the target: the newest one is switched to once the keys have rested.
    static constexpr int kFastRestMs = 300;
    static constexpr int kFastRequestSec = 3;
    static constexpr int kFastStopBoundMs = 1000;
    bool fastZapOn() const;
    // A fast switch runs: its target is chosen and the new stream not yet started.
    bool fastSwitching() const { return m_fastActive; }
    // Step times of the last switch ("zap times" in the log).
    const ZapClock& zapClock() const { return *m_clock; }

private:
    TChannelRef selectedChannel() const;
    QString request(const QString& url);
    void maybeStartEpgThread();
    void checkMenus(const TChannelRef& channel);
    bool walkChannelBox();
    void stopPlayer();
    // A zap the receiver did not carry out, and the id of the channel it shows instead.
    struct ZapResult {
        bool refused = false;
        QString onAir;
    };
    ZapResult zapAndPrepare(const TChannelRef& channel);
    ZapResult confirmZap(const QString& id);
    // The channel the receiver shows, taken as the one to play, with logo, marks and caption; null
    // when it is not in the channel box.
    TChannelRef takeOverOnAir(const QString& id);
    bool recordingNow() const { return m_recording && m_recording(); }
    void resetAudioTrack();
    void updateSubChannels(const TChannelRef& channel);
    // The receiver's answer to the sub-channel request, in the channel box and the SubChannels menu.
    void showSubChannels(const TChannelRef& channel, const QString& answer);
    void startStream(const TChannelRef& channel);
    void finishSwitch();
    // A switch that stops short: the bracket closes and the programme bar may show again.
    void endEarly();
    // Clears the switching state; every way out of a switch goes through here.
    void leaveSwitch();
    bool engineLost() const;
    void followProvider();

    // The fast path (fastswitch.cpp).
    void fastSwitch(const TChannelRef& channel);
    void fastBegin(const TChannelRef& channel);
    void fastShowTarget(const TChannelRef& channel);
    void fastAnswered(const FastZapAnswers& answers);
    void fastPlay();
    void fastEnd();
    void fastStartPending();
    void joinFastWorker();

    SwitchHost& m_host;
    TBouquetModel& m_model;
    BoxClient& m_box;
    StreamSetup& m_stream;
    VLCPlayer& m_player;
    std::function<void()> m_remoteStop;
    std::function<bool()> m_recording;
    TChannelRef m_akt;
    QList<TChannelMenuEntry> m_subMenu;
    QTimer m_timer;
    bool m_streamConnected = true;
    bool m_inSwitch = false;
    bool m_inTick = false;

    std::unique_ptr<ZapClock> m_clock;
    bool m_fastActive = false;
    bool m_fastWorking = false; // the worker thread has not handed its answers back yet
    int m_fastGeneration = 0;
    TChannelRef m_fastTarget;
    TChannelRef m_fastPending;
    QString m_fastOnReceiver; // the channel the last zap went to
    QString m_fastRefusal;
    QTimer m_fastRest;
    QTimer m_fastStopBound;
    QElapsedTimer m_fastSinceStart;
    std::thread m_fastWorker;
    QMetaObject::Connection m_fastStopWait;
};
