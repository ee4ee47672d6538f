#include "playback/vlcplayer.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

bool IsPaused = false;

namespace {

constexpr int kStreamUdp = 1;

const QString kPlayCaption = QStringLiteral("4");
const QString kPauseCaption = QStringLiteral(";");

bool udpStreaming() {
    return Options.StreamType == kStreamUdp;
}

} // namespace

bool isUnavailableStream(const QString& liveUrl) {
    return liveUrl.contains(QLatin1String("0,0x0000,0x0000,0x0000")) ||
           liveUrl.contains(QLatin1String("0 0x0000 0x0000 0x0000"));
}

QString playingStatusText(const PlayingFacts& facts, int streamType, bool isRadio) {
    if (streamType == kStreamUdp)
        return QStringLiteral("playing UDP stream...(") + facts.Resolution + QLatin1Char('/') + facts.VideoRate +
               QLatin1Char('/') + facts.Audio + QLatin1Char(')');
    if (isRadio)
        return QStringLiteral("playing HTTP stream...(") + facts.VideoRate + QLatin1Char('/') + facts.Audio +
               QLatin1Char(')');
    return QStringLiteral("playing HTTP stream...(") + facts.Resolution + QLatin1Char('/') + facts.VideoRate +
           QLatin1Char('/') + facts.Audio + QLatin1Char(')');
}

void PlayerView::processPendingEvents() {
    QCoreApplication::processEvents();
}

VLCPlayer::VLCPlayer(PlayerView& view, VlcLibrary& library, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_library(library)
    , m_engine(std::make_unique<VlcEngine>(library)) {
    VlcEngine* e = m_engine.get();
    connect(e, &VlcEngine::playing, this, [this] {
        m_playing = true;
        m_enginePaused = false;
        if (m_stillShown) {
            m_stillMark = m_engine->stats().displayedPictures;
            m_stillSince.start();
            m_stillTimer.start();
        }
        Q_EMIT stateChanged();
    });
    connect(e, &VlcEngine::paused, this, [this] {
        m_enginePaused = true;
        if (m_view.showsStillPictures())
            m_engine->requestStillPicture();
        Q_EMIT stateChanged();
    });
    connect(e, &VlcEngine::stopped, this, [this] {
        m_playing = false;
        m_enginePaused = false;
        hideStill();
        Q_EMIT stateChanged();
    });
    connect(e, &VlcEngine::endReached, this, [this] {
        m_playing = false;
        hideStill();
        Q_EMIT stateChanged();
        Q_EMIT endReached();
    });
    connect(e, &VlcEngine::encounteredError, this, [this] {
        m_playing = false;
        hideStill();
        Q_EMIT stateChanged();
        Q_EMIT encounteredError();
    });
    connect(e, &VlcEngine::stillPictureReady, this, &VLCPlayer::onStillPicture);
    connect(e, &VlcEngine::videoOutputRestored, this, [this] {
        m_view.videoOutputBack();
        // Counted from here: the engine's figures can still catch up on pictures shown before the
        // pause. The output can also set itself up again once the first pictures are through (a
        // decoder trying its formats, the interlacing found), and then draws at the picture's own
        // size once more, so the size goes out again when it has settled.
        m_stillMark = m_engine->stats().displayedPictures;
        m_resizeAfterDraw = true;
        m_stillSince.start();
        m_stillTimer.start();
    });
    m_stillTimer.setInterval(40);
    connect(&m_stillTimer, &QTimer::timeout, this, &VLCPlayer::checkResumed);
}

void VLCPlayer::onStillPicture(const QString& file) {
    // A picture still up from the pause before (paused again soon after a resume) gives way.
    if (!m_enginePaused || !m_view.showStillPicture(file))
        return;
    m_stillShown = true;
    // The engine keeps drawing the picture if it cannot let its output go.
    if (!m_engine->releaseVideo())
        hideStill();
}

void VLCPlayer::hideStill() {
    m_stillTimer.stop();
    m_resizeAfterDraw = false;
    if (!m_stillShown)
        return;
    m_stillShown = false;
    m_view.hideStillPicture();
}

void VLCPlayer::checkResumed() {
    if ((!m_stillShown && !m_resizeAfterDraw) || m_enginePaused) {
        m_stillTimer.stop();
        return;
    }
    const int shown = m_engine->videoOutputs() > 0 ? m_engine->stats().displayedPictures - m_stillMark : 0;
    if (shown > 0 && m_stillShown) {
        m_stillShown = false;
        m_view.hideStillPicture();
    }
    if (shown >= kSettledPictures && m_resizeAfterDraw) {
        m_resizeAfterDraw = false;
        m_view.videoOutputBack();
    }
    if ((!m_stillShown && !m_resizeAfterDraw) || m_stillSince.elapsed() >= kResumeWatchMs)
        hideStill();
}

VLCPlayer::~VLCPlayer() = default;

void VLCPlayer::setCaching(const QString& cacheLive, const QString& cacheOnline) {
    m_cacheLive = cacheLive.trimmed();
    m_cacheOnline = cacheOnline.trimmed();
}

void VLCPlayer::setTimeshiftDir(const QString& dir) {
    m_timeshiftDir = dir;
    m_engine->setTimeshiftDir(dir);
}

void VLCPlayer::status(const QString& text) {
    m_lastStatus = text;
    ShowStatus(text);
}

void VLCPlayer::logVlc(const QString& call, int result) {
    Log(LogVlc, call, result);
}

void VLCPlayer::delay(int ms) {
    Delay(ms, true);
}

bool VLCPlayer::VLCInit(quintptr nativeWindow, QSize panelSize) {
    status(QStringLiteral("initializing vlc..."));
    Log(LogFunc, QStringLiteral("VLCInit()"));
    appLogger().setDetailSource(LogVlc, [](int code) { return VLC_Error(code); });
    const int err = m_library.VLD_Startup();
    logVlc(QStringLiteral("VLD_Startup()"), err);
    delay(100);
    if (err != 0) {
        m_view.hideSplash();
        const QString why = err == VlcLibrary::kNotLoaded ? m_library.loadError()
                                                          : m_library.fileName() + QStringLiteral(" lacks ") +
                                                                m_library.missingNames().join(QStringLiteral(", "));
        Log(LogMsg, QStringLiteral("libvlc.dll not found ! (") + why + QLatin1Char(')'));
        m_view.engineMissing(QStringLiteral("libvlc.dll not found !"));
        return false;
    }
    const QString dir = VlcInstallDir();
    const int rc = m_engine->create(dir, m_engineArgs);
    logVlc(QStringLiteral("VLC_Init()"), rc);
    if (rc != VLC_SUCCESS)
        m_view.engineInitError(QStringLiteral("libvlc.dll init error!"));
    m_engine->VLC_VariableSet(QStringLiteral("conf::width"), panelSize.width());
    m_engine->VLC_VariableSet(QStringLiteral("conf::height"), panelSize.height());
    m_engine->VLC_VariableSet(QStringLiteral("drawable"), qint64(nativeWindow));
    m_engine->VLC_VariableSet(QStringLiteral("conf::audio-visual"), QStringLiteral("0"));
    m_volume = m_engine->VLC_VolumeGet();
    m_view.setVolumePosition(m_volume);
    m_version = m_engine->VLC_Version();
    m_view.splashStatus(QStringLiteral("using VLC ") + m_version + QLatin1Char('!'));
    if (Options.Mode == AppMode::Quoxel)
        m_view.startWatchdog(5000);
    m_view.setBusyCursor(false);
    m_view.processPendingEvents();
    return true;
}

void VLCPlayer::AddTarget(const QString& mrl, int count) {
    QStringList options;
    for (int i = 0; i < std::clamp(count, 0, kOptionSlots); ++i)
        options << VlcOptions[size_t(i)];
    m_mrl = mrl;
    m_engine->VLC_AddTarget(mrl, options, 2, -666);
}

void VLCPlayer::StartStream(AppMode mode, bool isRadio, const QString& liveUrl) {
    VlcOptions.fill(QString());
    m_liveUrl = liveUrl;
    m_isRadio = isRadio;
    if (mode == AppMode::Online) {
        if (m_onlineStarter)
            m_onlineStarter(isRadio);
        return;
    }
    const QString deinterlace = QStringLiteral(":deinterlace-mode=mean");
    if (mode == AppMode::Quoxel) {
        VlcOptions[0] = QStringLiteral(":vout-filter=deinterlace");
        VlcOptions[1] = deinterlace;
        AddTarget(QStringLiteral("http://") + Options.QuoxelAddress, 2);
        delay(200);
        Play(true);
        return;
    }
    if (isUnavailableStream(liveUrl)) {
        status(QStringLiteral("stream is not available!"));
        m_view.streamNotAvailable();
        return;
    }
    addLiveTarget(isRadio, liveUrl);
    if (!udpStreaming()) {
        Play(true);
        return;
    }
    Play(false);
    sendUdpStart(liveUrl);
    WaitCaching();
}

void VLCPlayer::addLiveTarget(bool isRadio, const QString& liveUrl) {
    const QString deinterlace = QStringLiteral(":deinterlace-mode=mean");
    const bool udp = udpStreaming();
    const QString cache = (udp ? QStringLiteral(":udp-caching=") : QStringLiteral(":http-caching=")) + m_cacheLive;
    const QString duplicate = QStringLiteral(":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=") +
                              Options.IpPc + QLatin1Char(':') + Options.StreamPortProv + QStringLiteral("}}");
    QStringList slots{cache};
    if (!isRadio) {
        slots << QStringLiteral(":vout-filter=deinterlace") << deinterlace;
        if (Options.ProvideStream)
            slots << duplicate;
        slots << QStringLiteral(":access-filter=timeshift") << QStringLiteral(":timeshift-force=1")
              << QStringLiteral(":timeshift-granularity=300") << QStringLiteral(":timeshift-dir=c:\\");
    } else if (Options.ProvideStream) {
        slots << duplicate;
    }
    for (int i = 0; i < int(slots.size()); ++i)
        VlcOptions[size_t(i)] = slots[i];
    const QString mrl = udp ? QStringLiteral("udp://@:") + Options.StreamPortUdp : liveUrl;
    AddTarget(mrl, int(slots.size()));
}

void VLCPlayer::StartStreamNow(bool isRadio, const QString& liveUrl) {
    VlcOptions.fill(QString());
    m_liveUrl = liveUrl;
    m_isRadio = isRadio;
    if (isUnavailableStream(liveUrl)) {
        status(QStringLiteral("stream is not available!"));
        m_view.streamNotAvailable();
        return;
    }
    addLiveTarget(isRadio, liveUrl);
    Log(LogFunc, QStringLiteral("Play(true)"));
    logVlc(QStringLiteral("VLC_Play()"), m_engine->VLC_Play());
    m_playState = 0;
    Q_EMIT stateChanged();
    showPlayingStatus();
}

void VLCPlayer::StopNow() {
    if (VlcHandle() != 0 && m_engine->VLC_IsPlaying() == 0 && !m_engine->opening())
        return;
    Log(LogFunc, QStringLiteral("Stop()"));
    status(QStringLiteral("stopping stream..."));
    logVlc(QStringLiteral("VLC_Stop()"), m_engine->VLC_Stop());
    m_playing = false;
    m_enginePaused = false;
    m_playState = 2;
    Q_EMIT stateChanged();
}

void VLCPlayer::sendUdpStart(const QString& liveUrl) {
    // The answer does not matter; an unreachable box costs the one-second time-out only.
    if (m_box)
        m_box->QuickRequest(liveUrl);
}

void VLCPlayer::Play(bool withStatus) {
    if (!m_view.hasChannelSelection())
        return;
    Log(LogFunc,
        QStringLiteral("Play(") + (withStatus ? QStringLiteral("true") : QStringLiteral("false")) + QLatin1Char(')'));
    const int err = m_library.VLD_Startup();
    logVlc(QStringLiteral("VLD_Startup()"), err);
    delay(200);
    logVlc(QStringLiteral("VLC_Play()"), m_engine->VLC_Play());
    m_playState = 0;
    Q_EMIT stateChanged();
    if (withStatus) {
        WaitCaching();
        if (m_streamInfo && Options.Mode != AppMode::Quoxel &&
            !(Options.Mode == AppMode::Online && onlineStreamFailed()))
            showPlayingStatus();
    }
}

int VLCPlayer::cachingBudget() const {
    bool ok = false;
    const qint64 ms = (Options.Mode == AppMode::Online ? m_cacheOnline : m_cacheLive).toLongLong(&ok);
    return ok ? int(std::clamp<qint64>(ms, 0, kMaxCachingMs)) : 0;
}

void VLCPlayer::WaitCaching() {
    if (Options.Mode != AppMode::Online)
        delay(500);
    const int budget = cachingBudget();
    int elapsed = 0;
    while (elapsed < budget && !IsClosing) {
        QThread::msleep(10);
        addUiFixedWait(10);
        elapsed += 10;
        status(QStringLiteral("caching...(") + QString::number(budget - elapsed) + QStringLiteral("ms)"));
    }
    if (m_engine->VLC_IsPlaying() == 0 && Options.Mode == AppMode::Quoxel)
        status(QStringLiteral("no connection to quoxel stream!"));
    else if (Options.Mode == AppMode::Online && onlineStreamFailed())
        status(QStringLiteral("no stream from remote vlc!"));
    else if (m_streamInfo)
        showPlayingStatus();
}

bool VLCPlayer::onlineStreamFailed() const {
    // The remote's output refused or ended: nothing will play, so the status does not claim it.
    // A stream still opening or buffering may yet come.
    const VlcState s = m_engine->state();
    return m_engine->VLC_IsPlaying() == 0 && (s == VlcState::Error || s == VlcState::Ended || s == VlcState::Stopped);
}

void VLCPlayer::showPlayingStatus() {
    if (m_streamInfo)
        status(playingStatusText(*m_streamInfo, Options.StreamType, m_isRadio));
}

void VLCPlayer::Stop() {
    // An engine still connecting to a silent source is not playing, but holds it: stop that too.
    if (VlcHandle() != 0 && m_engine->VLC_IsPlaying() == 0 && !m_engine->opening())
        return;
    Log(LogFunc, QStringLiteral("Stop()"));
    const bool quoxel = Options.Mode == AppMode::Quoxel;
    if (!quoxel)
        status(QStringLiteral("stopping stream..."));
    if (!m_view.hasChannelSelection())
        return;
    // libvlc's own pause toggles; ours pauses, so the second call keeps it paused.
    m_engine->VLC_Pause();
    logVlc(QStringLiteral("VLC_Pause()"), m_engine->VLC_Pause());
    delay(200);
    m_engine->VLC_Stop();
    logVlc(QStringLiteral("VLC_Stop()"), m_engine->VLC_Stop());
    delay(200);
    // The receiver's UDP sender is stopped also at close: it would go on sending to this PC.
    if (udpStreaming() && m_box) {
        const QString url = BoxURL(QStringLiteral("http://<IP:PORT>/control/exec?api udp_stream kill_all_streams"));
        if (!IsClosing)
            m_box->BoxRequest(url);
        else if (m_closingRequest)
            m_closingRequest(url);
    }
    const int err = m_library.VLD_Startup();
    logVlc(QStringLiteral("VLD_Startup()"), err);
    delay(200);
    Log(LogFunc, QStringLiteral("VLC_IsPlaying()-Loop"));
    // The engine gives up a stop that hangs after its own bound; this bound is the last resort.
    QElapsedTimer waited;
    waited.start();
    while (m_engine->VLC_IsPlaying() != 0) {
        if (waited.elapsed() >= kStopLoopBoundMs) {
            Log(LogMsg, QStringLiteral("Stop: the engine still reports playing after ") +
                            QString::number(kStopLoopBoundMs) + QStringLiteral(" ms"));
            break;
        }
        m_view.processPendingEvents();
        QThread::msleep(50);
    }
    m_playing = false;
    m_enginePaused = false;
    m_playState = 2;
    Q_EMIT stateChanged();
    if (!quoxel)
        status(QStringLiteral("stream stopped!"));
    delay(700);
}

void VLCPlayer::BtnPlayClick() {
    if (!IsSwitching) {
        if (IsPaused && m_engine->VLC_IsPlaying() == 0) {
            logVlc(QStringLiteral("VLC_Play()"), m_engine->VLC_Play());
            m_view.setPlayCaption(kPauseCaption);
            IsPaused = false;
        } else if (!IsPaused && m_view.selectedIsAktChannel()) {
            logVlc(QStringLiteral("VLC_Pause()"), m_engine->VLC_Pause());
            m_view.setPlayCaption(kPlayCaption);
            IsPaused = true;
        } else {
            if (m_view.hasChannelSelection() && !IsSwitching)
                m_view.switchToSelectedChannel();
            m_view.setPlayCaption(kPauseCaption);
            IsPaused = false;
        }
    }
    m_view.focusChannelBox();
}

void VLCPlayer::VLCPlay1Click() {
    m_view.setBusyCursor(true);
    if (m_view.hasChannelSelection()) {
        if (udpStreaming()) {
            Play(false);
            sendUdpStart(m_liveUrl);
            WaitCaching();
        } else {
            Play(true);
        }
    }
    m_view.setPlayCaption(kPauseCaption);
    m_view.setBusyCursor(false);
}

void VLCPlayer::VLCStop1Click() {
    m_view.setBusyCursor(true);
    m_view.processPendingEvents();
    if (m_view.hasChannelSelection()) {
        const bool fullscreen = m_view.isFullscreen();
        if (fullscreen)
            m_view.leaveFullscreen();
        Stop();
        if (fullscreen)
            m_view.showMainWindow();
    }
    m_view.setPlayCaption(kPlayCaption);
    m_view.setBusyCursor(false);
}

void VLCPlayer::VLCRestart1Click() {
    m_view.setBusyCursor(true);
    m_view.processPendingEvents();
    if (m_view.hasChannelSelection()) {
        const bool fullscreen = m_view.isFullscreen();
        if (fullscreen) {
            m_view.hideOsdInfo();
            m_view.showBackdrop();
        }
        Stop();
        if (udpStreaming()) {
            logVlc(QStringLiteral("VLD_Startup()"), m_library.VLD_Startup());
            Play(false);
            sendUdpStart(m_liveUrl);
            WaitCaching();
        } else {
            Play(true);
        }
        if (m_engine->VLC_IsPlaying() != 0 && m_streamInfo)
            showPlayingStatus();
        if (fullscreen)
            m_view.startBackdropShowTimer();
    }
    m_view.setBusyCursor(false);
}

void VLCPlayer::VLDStartupClick() {
    logVlc(QStringLiteral("VLD_Startup()"), m_library.VLD_Startup());
}

void VLCPlayer::Audio1Click(int index) {
    m_view.setBusyCursor(true);
    m_view.processPendingEvents();
    const bool fullscreen = m_view.isFullscreen();
    if (fullscreen)
        m_view.showBackdrop();
    Stop();
    qint64 track = 0;
    int rc = m_engine->VLC_VariableGet(QStringLiteral("conf::audio-track"), &track);
    logVlc(QStringLiteral("VLC_VariableGet(conf::audio-track) ") + QString::number(track), rc);
    track = index;
    rc = m_engine->VLC_VariableSet(QStringLiteral("conf::audio-track"), track);
    logVlc(QStringLiteral("VLC_VariableSet(conf::audio-track) ") + QString::number(track), rc);
    if (udpStreaming()) {
        Play(false);
        sendUdpStart(m_liveUrl);
        delay(200);
        WaitCaching();
    } else {
        Play(true);
    }
    m_view.checkAudioItem(index);
    if (fullscreen) {
        m_view.processPendingEvents();
        m_view.sendBehindBackdrop();
        m_view.startBackdropShowTimer();
    }
    m_view.setBusyCursor(false);
}

void VLCPlayer::mute(bool on) {
    if (!m_view.hasChannelSelection())
        return;
    m_muted = on;
    m_view.setMuteShown(on);
    // The engine call toggles; our flag says which way it went.
    logVlc(QStringLiteral("VLC_VolumeMute()"), m_engine->VLC_VolumeMute());
    Q_EMIT stateChanged();
}

void VLCPlayer::ImgVolOnClick() {
    mute(true);
}

void VLCPlayer::ImgVolOffClick() {
    mute(false);
}

void VLCPlayer::VLCMute1Click() {
    if (m_muted)
        ImgVolOffClick();
    else
        ImgVolOnClick();
}

int VLCPlayer::volumeForClick(int x, int barWidth) {
    // (100 div width) * x + x, as the bar has always mapped it; a bar without width maps x itself.
    const qint64 v = barWidth > 0 ? qint64(100 / barWidth) * x + x : x;
    return int(std::clamp<qint64>(v, 0, 100));
}

void VLCPlayer::volumeMouse(int x, int barWidth, bool leftButtonOnly, bool press) {
    if (m_muted || !m_view.hasChannelSelection() || !leftButtonOnly)
        return;
    setVolumeFromOthers(volumeForClick(x, barWidth));
    if (press)
        m_view.focusChannelBox();
}

void VLCPlayer::VolumeMouseDown(int x, int barWidth, bool leftButtonOnly) {
    volumeMouse(x, barWidth, leftButtonOnly, true);
}

void VLCPlayer::VolumeMouseMove(int x, int barWidth, bool leftButtonOnly) {
    volumeMouse(x, barWidth, leftButtonOnly, false);
}

void VLCPlayer::VolumeMouseUp() {
    m_view.focusChannelBox();
}

void VLCPlayer::setVolumeFromOthers(int position) {
    m_volume = std::clamp(position, 0, 100);
    m_view.setVolumePosition(m_volume);
    m_engine->VLC_VolumeSet(m_volume);
    Q_EMIT stateChanged();
}
