#pragma once

#include "core/options.h"
#include "playback/vlcapi.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class BoxClient;

// The program-wide play/pause state of the play button; the watchdog leaves a paused stream alone.
extern bool IsPaused;

// What the playing status line shows of the current stream (the main window's StreamInfo).
struct PlayingFacts {
    QString Resolution;
    QString VideoRate;
    QString Audio;
};

// The receiver reported no PIDs for the channel: the stream address (HTTP, TV) or the UDP start
// command holds zeros for the PMT, the video and the first audio PID.
bool isUnavailableStream(const QString& liveUrl);

// "playing HTTP stream...(...)" / "playing UDP stream...(...)" for a stream; streamType 0 http, 1 udp.
QString playingStatusText(const PlayingFacts& facts, int streamType, bool isRadio);

// The window parts the local player moves or asks about. UI thread; AppController implements
// it, every default does nothing (and tests override what they watch).
class PlayerView {
public:
    virtual ~PlayerView() = default;
    virtual bool hasChannelSelection() const { return true; }
    // The channel selected in the channel box is the one on air.
    virtual bool selectedIsAktChannel() const { return true; }
    // SwitchChannel for the selected channel.
    virtual void switchToSelectedChannel() {}
    virtual bool isFullscreen() const { return false; }
    virtual void processPendingEvents();
    virtual void setBusyCursor(bool /*busy*/) {}
    // "4" shows the play symbol, ";" the pause symbol.
    virtual void setPlayCaption(const QString& /*caption*/) {}
    // Volume bar and its OSD twin.
    virtual void setVolumePosition(int /*position*/) {}
    // Speaker pictures (main window, OSD bar, OSD info window) and the "VLC Mute" check mark.
    virtual void setMuteShown(bool /*muted*/) {}
    virtual void focusChannelBox() {}
    virtual void checkAudioItem(int /*index*/) {}
    // Full-screen steps of "VLC Stop", "VLC Restart" and the audio choice.
    virtual void leaveFullscreen() {}
    virtual void showMainWindow() {}
    virtual void hideOsdInfo() {}
    virtual void showBackdrop() {}
    virtual void sendBehindBackdrop() {}
    virtual void startBackdropShowTimer() {}
    // Engine start: the splash, the fatal "libvlc.dll not found !" (shown, then the program
    // ends) and the non-fatal "libvlc.dll init error!".
    virtual void hideSplash() {}
    virtual void splashStatus(const QString& /*text*/) {}
    virtual void engineMissing(const QString& /*message*/) {}
    virtual void engineInitError(const QString& /*message*/) {}
    // Quoxel mode: the watchdog timer TimerVLC with this interval.
    virtual void startWatchdog(int /*intervalMs*/) {}
    // "stream is not available!": normal cursor (when the channel box is enabled), IsSwitching
    // cleared, EPG timer started.
    virtual void streamNotAvailable() {}
    // The paused picture, shown by the view over the video panel so the engine can let its video
    // output go while paused. showsStillPictures says whether the view can; showStillPicture
    // reads the file before it returns and says whether the picture is up.
    virtual bool showsStillPictures() const { return false; }
    virtual bool showStillPicture(const QString& /*file*/) { return false; }
    virtual void hideStillPicture() {}
    // The engine took its video output up again after a pause: its window learns the panel's
    // size only from a change of that size.
    virtual void videoOutputBack() {}
};

// The local player of the main window: one engine instance, the play target and the player
// commands with their log lines, waits and status texts. UI thread. Keeps a copy of the engine's
// state so widgets never ask the engine; the engine's end and error events come out as signals
// for the watchdog.
class VLCPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr int kOptionSlots = 11;
    // A cache setting beyond this is taken as this: the caching wait sleeps on the UI thread.
    static constexpr int kMaxCachingMs = 60000;
    // The stop loop ends after this even if the engine still claims to play.
    static constexpr int kStopLoopBoundMs = VlcEngine::kStopBoundMs + 1000;
    // After a resume the still picture goes once the engine has shown a new one, and the output
    // that came back is told its size again once it has shown this many; all of it ends after
    // kResumeWatchMs at the latest.
    static constexpr int kSettledPictures = 12;
    static constexpr int kResumeWatchMs = 5000;

    explicit VLCPlayer(PlayerView& view, VlcLibrary& library = vlcLibrary(), QObject* parent = nullptr);
    ~VLCPlayer() override;

    // Where receiver commands go (the UDP start command, kill_all_streams). Optional.
    void setBoxClient(BoxClient* box) { m_box = box; }
    // How a receiver command goes out once the program is closing, when requests are otherwise
    // refused: sent all the same, its answer waited for a bounded time. Unset, none goes out then.
    void setClosingRequest(std::function<void(const QString& url)> send) { m_closingRequest = std::move(send); }
    // Caching budgets from the settings (cachelive, cacheonline), in ms as text.
    void setCaching(const QString& cacheLive, const QString& cacheOnline);
    // Extra engine arguments for VLCInit (output modules and the like).
    void setEngineArguments(const QStringList& args) { m_engineArgs = args; }
    // Folder for the time-shift files.
    void setTimeshiftDir(const QString& dir);
    // The main window's StreamInfo (nothing: no status after a start).
    void setStreamInfo(std::optional<PlayingFacts> facts) { m_streamInfo = std::move(facts); }
    // Online mode's branch of StartStream (the remote VLC); called with isRadio.
    void setOnlineStarter(std::function<void(bool)> starter) { m_onlineStarter = std::move(starter); }

    // Once, at the first activation: loads the engine and creates its instance on the panel.
    // Returns false when libvlc is missing (the view was told to end the program).
    bool VLCInit(quintptr nativeWindow, QSize panelSize);
    // Composes the target for the mode (0 live, 1 online, 2 quoxel) and starts it.
    void StartStream(AppMode mode, bool isRadio, const QString& liveUrl);
    void Play(bool withStatus);
    void Stop();
    void WaitCaching();
    // Fast zap: the engine's stop is only started (its stopFinished tells the end), and a live
    // stream is played at once, the status line saying so, without the fixed waits.
    void StopNow();
    void StartStreamNow(bool isRadio, const QString& liveUrl);
    // Adds the target of the filled option slots (online mode builds its own).
    void AddTarget(const QString& mrl, int count);
    // The status line of a running stream, when StreamInfo exists.
    void showPlayingStatus();

    // Handlers.
    void BtnPlayClick();
    void VLCPlay1Click();
    void VLCStop1Click();
    void VLCRestart1Click();
    void VLDStartupClick();
    // index: position of the clicked item in the Audio menu (0 for the first).
    void Audio1Click(int index);
    void ImgVolOnClick();
    void ImgVolOffClick();
    void VLCMute1Click();
    // x: mouse position in the bar; leftButtonOnly: the shift state is exactly the left button.
    void VolumeMouseDown(int x, int barWidth, bool leftButtonOnly);
    void VolumeMouseMove(int x, int barWidth, bool leftButtonOnly);
    void VolumeMouseUp();
    // Volume change by others (mouse wheel): the bar keeps 0..100.
    void setVolumeFromOthers(int position);
    // The volume bar's position for a click at x.
    static int volumeForClick(int x, int barWidth);

    // Cached state.
    int VlcHandle() const { return m_engine ? m_engine->handle() : 0; }
    int PlayState() const { return m_playState; }
    bool isPlaying() const { return m_playing; }
    bool isPaused() const { return m_enginePaused; }
    int volume() const { return m_volume; }
    bool muted() const { return m_muted; }
    QString VlcVersion() const { return m_version; }
    QString VlcMrl() const { return m_mrl; }
    std::array<QString, kOptionSlots> VlcOptions;
    QString lastStatus() const { return m_lastStatus; }
    // The engine itself, for the channel switch (audio track, playlist) and for tests.
    VlcEngine* engine() const { return m_engine.get(); }

Q_SIGNALS:
    void endReached();
    void encounteredError();
    void stateChanged();

private:
    void status(const QString& text);
    void logVlc(const QString& call, int result);
    void delay(int ms);
    void sendUdpStart(const QString& liveUrl);
    // The live target with its option slots (cache, deinterlacer, copy for others, time shift).
    void addLiveTarget(bool isRadio, const QString& liveUrl);
    void mute(bool on);
    void volumeMouse(int x, int barWidth, bool leftButtonOnly, bool press);
    int cachingBudget() const;
    bool onlineStreamFailed() const;
    void onStillPicture(const QString& file);
    void hideStill();
    void checkResumed();

    PlayerView& m_view;
    VlcLibrary& m_library;
    std::unique_ptr<VlcEngine> m_engine;
    BoxClient* m_box = nullptr;
    QStringList m_engineArgs;
    QString m_timeshiftDir;
    std::optional<PlayingFacts> m_streamInfo;
    std::function<void(bool)> m_onlineStarter;
    std::function<void(const QString&)> m_closingRequest;
    QString m_cacheLive = QStringLiteral("1000");
    QString m_cacheOnline = QStringLiteral("3000");
    QString m_liveUrl;
    bool m_isRadio = false;
    int m_playState = 2;
    bool m_playing = false;
    bool m_enginePaused = false;
    int m_volume = 100;
    bool m_muted = false;
    QString m_version;
    QString m_mrl;
    QString m_lastStatus;
    // The view's still picture stays up after a resume until the engine shows a new picture.
    bool m_stillShown = false;
    int m_stillMark = 0;
    bool m_resizeAfterDraw = false; // the output that came back is told its size once more
    QTimer m_stillTimer;
    QElapsedTimer m_stillSince;
};
