#include "playback/channelswitch.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "core/appflags.h"
#include "core/freememory.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/streamsetup.h"
#include "playback/subchannels.h"
#include "playback/switchhost.h"
#include "playback/vlcplayer.h"
#include "playback/zapclock.h"

#include <QElapsedTimer>

namespace {

constexpr int kKeyEnter = 13;
constexpr int kKeySpace = 32;

bool quoxelMode() {
    return Options.Mode == AppMode::Quoxel;
}

int positionOf(const QList<TChannelItem>& items, const TChannelRef& channel) {
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items[i].Channel == channel)
            return static_cast<int>(i);
    return -1;
}

// Clears a flag on every way out of a scope.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag)
        : m_flag(flag) {
        m_flag = true;
    }
    ~FlagGuard() { m_flag = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& m_flag;
};

} // namespace

ChannelSwitcher::ChannelSwitcher(SwitchHost& host, TBouquetModel& model, BoxClient& box, StreamSetup& stream,
                                 VLCPlayer& player, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_model(model)
    , m_box(box)
    , m_stream(stream)
    , m_player(player)
    , m_clock(std::make_unique<ZapClock>()) {
    m_timer.setInterval(kWatchdogMs);
    connect(&m_timer, &QTimer::timeout, this, &ChannelSwitcher::TimerVLCTimer);
    m_fastRest.setSingleShot(true);
    m_fastRest.setInterval(kFastRestMs);
    connect(&m_fastRest, &QTimer::timeout, this, &ChannelSwitcher::fastStartPending);
    m_fastStopBound.setSingleShot(true);
    m_fastStopBound.setInterval(kFastStopBoundMs);
    connect(&m_fastStopBound, &QTimer::timeout, this, &ChannelSwitcher::fastPlay);
    connect(m_clock.get(), &ZapClock::pictureShown, this, [this](qint64 ms) { m_host.showZapTime(ms); });
    // Without the caching wait nothing else tells that a fast switch's stream never came.
    connect(m_clock.get(), &ZapClock::pictureMissing, this, [this] {
        if (fastZapOn() && !m_fastActive && m_player.PlayState() == 0)
            ShowStatus(QStringLiteral("the stream did not start!"));
    });
}

ChannelSwitcher::~ChannelSwitcher() {
    joinFastWorker();
}

TChannelRef ChannelSwitcher::selectedChannel() const {
    const int at = m_model.selectedIndex();
    return at >= 0 ? m_model.channelBox()[at].Channel : TChannelRef();
}

QString ChannelSwitcher::request(const QString& url) {
    return m_box.BoxRequest(url);
}

void ChannelSwitcher::maybeStartEpgThread() {
    if (!m_host.epgThreadRunning() && !IsClosing && !m_host.epgStoppedByUser())
        m_host.startEpgThread();
}

void ChannelSwitcher::SwitchChannel(const TChannelRef& channel) {
    if (fastZapOn() && !m_inSwitch && !IsSwitching) {
        fastSwitch(channel);
        return;
    }
    // Callers test IsSwitching; a switch entered again from the messages it lets run would stop
    // and start the player under the running one, so it is refused here as well.
    if (!channel || m_inSwitch || IsSwitching)
        return;
    FlagGuard inSwitch(m_inSwitch);

    // 1. Bracket, backdrop, log, the views that would cover the picture.
    IsSwitching = true;
    const bool fullscreen = m_host.isFullscreen();
    if (fullscreen)
        m_host.showBackdrop();
    Log(LogFunc, QStringLiteral("SwitchChannel(") + channel->Caption + QStringLiteral(")"));
    m_clock->start(channel->Caption);
    m_host.setProgramBarSuppressed(true);
    m_host.hideInfoPanels();

    // 2. Nothing selected: nothing to switch from.
    if (m_model.selectedIndex() < 0) {
        endEarly();
        return;
    }

    // 3.-5. Logo, menu check marks, channel box selection.
    m_host.showLogo(*channel);
    m_host.processEvents();
    checkMenus(channel);
    const int at = positionOf(m_model.channelBox(), channel);
    if (at >= 0)
        m_model.setSelectedIndex(at);
    m_host.channelBoxChanged();
    m_host.focusVolumeBar();

    // 6. Every entry needs its record; programmes still unknown are fetched again.
    if (!walkChannelBox()) {
        endEarly();
        return;
    }

    // 7.-8. Cursor, caption, play button.
    if (!m_host.isFullscreen())
        m_host.setBusyCursor(true);
    m_host.setCaption(channel->Caption + QStringLiteral(", ") + channel->NowEPG.Title);
    m_host.processEvents();
    m_host.setPlayCaption(channel != m_akt ? QStringLiteral("4") : QStringLiteral(";"));

    // 9. Stop what plays.
    stopPlayer();
    m_clock->mark(ZapClock::Stopped);

    // 10. Zap only to another channel, or at start-up to take over what the box shows.
    TChannelRef target = channel;
    QString refusal;
    const bool otherChannel = !m_akt || channel->Id.trimmed() != m_akt->Id.trimmed();
    if (otherChannel || IsStarting) {
        const ZapResult zap = zapAndPrepare(channel);
        if (zap.refused) {
            refusal = recordingNow() ? SwitchTexts::kRecording : SwitchTexts::kNotSwitched;
            Log(LogMsg, refusal + QStringLiteral(" (") + channel->Caption + QStringLiteral(")"));
            // Not the old channel under the new name: what the receiver shows, under its own.
            target = takeOverOnAir(zap.onAir);
            if (!target) {
                // Not in the list: nothing to play; the selection goes back to the last channel.
                if (const int at = m_akt ? positionOf(m_model.channelBox(), m_akt) : -1; at >= 0) {
                    m_model.setSelectedIndex(at);
                    checkMenus(m_akt);
                    m_host.channelBoxChanged();
                }
                ShowStatus(refusal);
                m_host.setBusyCursor(false);
                endEarly();
                return;
            }
        }
    }

    // 11.-12.
    m_clock->mark(ZapClock::Zapped);
    m_akt = target;
    m_host.aktChannelChanged(m_akt);
    if (!target->IsSubChannel)
        updateSubChannels(target);

    // 13.-14.
    startStream(target);
    // A recording receiver stores a zap to another transponder but tunes nothing: no PIDs.
    if (refusal.isEmpty() && isUnavailableStream(m_stream.LiveURL) && recordingNow())
        refusal = SwitchTexts::kRecording;
    if (!refusal.isEmpty())
        ShowStatus(refusal);

    // 15.-20.
    m_clock->mark(ZapClock::Playing);
    m_clock->awaitPicture(m_player.PlayState() == 0 ? m_player.engine() : nullptr);
    finishSwitch();
}

TChannelRef ChannelSwitcher::takeOverOnAir(const QString& id) {
    const int at = m_model.LocateChannel(id);
    if (at < 0)
        return {};
    const TChannelRef onAir = m_model.channelBox()[at].Channel;
    m_host.showLogo(*onAir);
    checkMenus(onAir);
    m_model.setSelectedIndex(at);
    m_host.channelBoxChanged();
    m_host.setCaption(onAir->Caption + QStringLiteral(", ") + onAir->NowEPG.Title);
    return onAir;
}

void ChannelSwitcher::checkMenus(const TChannelRef& channel) {
    if (channel->IsSubChannel && m_host.subChannelsMenuVisible()) {
        for (auto& entry : m_subMenu)
            entry.Checked = entry.Channel == channel;
        m_host.subChannelsMenuChanged();
        return;
    }
    int menuAt = -1;
    const QList<TChannelMenuEntry>& menu = m_model.channelMenu();
    for (qsizetype i = 0; i < menu.size(); ++i)
        if (menu[i].Channel == channel) {
            menuAt = static_cast<int>(i);
            break;
        }
    m_model.checkChannelMenu(menuAt);
    m_host.channelsMenuChanged();
}

bool ChannelSwitcher::walkChannelBox() {
    for (const TChannelItem& item : m_model.channelBox()) {
        // An entry without its record has no programme slot either: the switch is abandoned.
        if (!item.Channel)
            return false;
        if (item.Channel->NextEPG.isUnknown())
            item.Channel->EPGLoaded = false;
    }
    return true;
}

void ChannelSwitcher::stopPlayer() {
    if (m_player.PlayState() != 0)
        return;
    m_player.Stop();
    if (Options.Mode == AppMode::Online) {
        if (m_remoteStop)
            m_remoteStop();
        Delay(200, true);
    }
    if (VlcEngine* engine = m_player.engine())
        Log(LogVlc, QStringLiteral("VLC_PlaylistClear()"), engine->VLC_PlaylistClear());
    Delay(500, true);
}

ChannelSwitcher::ZapResult ChannelSwitcher::zapAndPrepare(const TChannelRef& channel) {
    ZapResult zap;
    m_stream.SetDboxMode(*channel);
    ShowStatus(QStringLiteral("switching channel..."));
    if (!quoxelMode() && !IsStarting) {
        request(BoxURL(SwitchUrls::kZapTo, SwitchUrls::kIdChannel, channel->Id));
        Delay(500, true);
        zap = confirmZap(channel->Id);
    }
    resetAudioTrack();
    if (channel->NowEPG.isUnknown() && channel->NextEPG.isUnknown()) {
        QList<TChannelRef> channels;
        for (const TChannelItem& item : m_model.channelBox())
            channels.append(item.Channel);
        ParseEPG([this](const QString& url) { return request(url); }, channels);
        channel->EPGLoaded = false;
    }
    return zap;
}

ChannelSwitcher::ZapResult ChannelSwitcher::confirmZap(const QString& id) {
    // The 500 ms wait after the zap counts into the budget. Only an answer naming another channel
    // is a refusal; a receiver that does not answer at all leaves the zap as it was.
    ZapResult zap;
    QElapsedTimer since;
    since.start();
    const int budgetMs = kZapConfirmMs - 500;
    for (;;) {
        const int leftMs = std::max(1, budgetMs - static_cast<int>(since.elapsed()));
        const QString onAir = m_box.ShortRequest(BoxURL(SwitchUrls::kOnAir), (leftMs + 999) / 1000);
        if (!onAir.isEmpty() && onAir.compare(id.trimmed(), Qt::CaseInsensitive) == 0)
            return {};
        if (!onAir.isEmpty())
            zap = ZapResult{true, onAir};
        if (since.elapsed() + kZapPollMs >= budgetMs || IsClosing)
            return zap;
        Delay(kZapPollMs, false);
    }
}

void ChannelSwitcher::resetAudioTrack() {
    VlcEngine* engine = m_player.engine();
    if (!engine)
        return;
    qint64 track = 0;
    int result = engine->VLC_VariableGet(QStringLiteral("conf::audio-track"), &track);
    Log(LogVlc, QStringLiteral("VLC_VariableGet(conf::audio-track) ") + QString::number(track), result);
    track = 0;
    result = engine->VLC_VariableSet(QStringLiteral("conf::audio-track"), track);
    Log(LogVlc, QStringLiteral("VLC_VariableSet(conf::audio-track) ") + QString::number(track), result);
}

void ChannelSwitcher::updateSubChannels(const TChannelRef& channel) {
    if (!isPortalChannel(channel->Caption)) {
        m_host.setSubChannelsMenuVisible(false);
        return;
    }
    showSubChannels(channel, request(BoxURL(SubChannelUrls::kGetAll)));
}

void ChannelSwitcher::showSubChannels(const TChannelRef& channel, const QString& answer) {
    const QList<TSubChannelLine> lines = parseSubChannels(answer);
    if (lines.isEmpty()) {
        m_host.setSubChannelsMenuVisible(false);
        return;
    }
    applySubChannels(m_model, channel, lines, m_subMenu);
    m_host.channelBoxChanged();
    m_host.subChannelsMenuChanged();
    m_host.setSubChannelsMenuVisible(true);
}

void ChannelSwitcher::startStream(const TChannelRef& channel) {
    m_host.processEvents();
    ShowStatus(QStringLiteral("getting streaminfo..."));
    const TStreamInfo info = m_stream.GetStreamInfo(channel->Mode);
    m_clock->mark(ZapClock::Pids);
    m_player.setStreamInfo(PlayingFacts{info.Resolution, info.VideoRate, info.Audio});
    m_player.StartStream(Options.Mode, channel->Mode == mRadio, m_stream.LiveURL);
}

void ChannelSwitcher::leaveSwitch() {
    m_host.setProgramBarSuppressed(false);
    IsSwitching = false;
    // The last stream's buffers are free by now: their pages go back at once (a few ms) instead of
    // staying resident until the clock's next tick. This holds for a switch that stopped short too.
    ReturnFreeMemory();
}

void ChannelSwitcher::endEarly() {
    m_clock->finish();
    leaveSwitch();
    // The backdrop shown at the start would otherwise stay over the picture.
    if (m_host.isFullscreen())
        m_host.startBackdropShowTimer();
}

void ChannelSwitcher::finishSwitch() {
    m_host.reshowStatus();
    const bool fullscreen = m_host.isFullscreen();
    if (!fullscreen && m_host.channelBoxEnabled() && IsClosing) {
        m_host.setBusyCursor(false);
        endEarly();
        return;
    }
    m_host.setBusyCursor(false);
    leaveSwitch();
    if (fullscreen) {
        m_host.startBackdropShowTimer();
        m_host.movePointerAway();
        m_host.startEpgShowTimer();
    } else if (m_akt) {
        m_host.showProgramBar(*m_akt);
    }
    if (m_player.PlayState() == 0)
        m_host.setPlayCaption(QStringLiteral(";"));
    maybeStartEpgThread();
}

void ChannelSwitcher::CmbChannelsChange() {
    if (!m_host.channelBoxDroppedDown())
        m_host.focusVolumeBar();
    if (m_model.selectedIndex() < 0 && !m_model.channelBox().isEmpty()) {
        m_model.setSelectedIndex(0);
        m_host.channelBoxChanged();
    }
    if (const TChannelRef selected = selectedChannel()) {
        if (selected->NowEPG.isUnknown() || selected->NextEPG.isUnknown())
            selected->EPGLoaded = false;
        m_host.setPlayCaption(selected != m_akt ? QStringLiteral("4") : QStringLiteral(";"));
        maybeStartEpgThread();
    }
    m_host.focusChannelBox();
}

bool ChannelSwitcher::CmbChannelsKeyDown(int key) {
    if (key != kKeyEnter && key != kKeySpace)
        return false;
    m_host.closeDropDown();
    if (const TChannelRef selected = selectedChannel(); selected && !IsSwitching)
        SwitchChannel(selected);
    return true;
}

void ChannelSwitcher::CmbChannelsClick() {
    m_host.focusChannelBox();
}

void ChannelSwitcher::CmbChannelsDropDown() {
    m_host.setDropDownWidth(kDropDownWidth);
}

void ChannelSwitcher::CmbChannelsExit() {}

void ChannelSwitcher::SubChannels1Click(int index) {
    if (index < 0 || index >= m_subMenu.size())
        return;
    m_host.setBusyCursor(true);
    m_host.processEvents();
    m_model.checkChannelMenu(-1);
    m_host.channelsMenuChanged();
    // The messages just run may have rebuilt the menu; the item is taken now.
    if (index < m_subMenu.size()) {
        for (qsizetype i = 0; i < m_subMenu.size(); ++i)
            m_subMenu[i].Checked = i == index;
        m_host.subChannelsMenuChanged();
        const TChannelRef channel = m_subMenu[index].Channel;
        SwitchChannel(channel);
    }
    m_host.setBusyCursor(false);
}

void ChannelSwitcher::startWatchdog(int intervalMs) {
    m_timer.start(intervalMs);
}

bool ChannelSwitcher::engineLost() const {
    VlcEngine* engine = m_player.engine();
    if (!engine || engine->VLC_IsPlaying() == 0)
        return true;
    // A source that ended or failed may leave the engine claiming to play.
    const VlcState state = engine->state();
    return state == VlcState::Ended || state == VlcState::Error || state == VlcState::Stopped;
}

void ChannelSwitcher::TimerVLCTimer() {
    // The restart below lets messages run, and a switch stops the player on purpose: neither is
    // a lost stream to act on.
    if (m_inTick || IsSwitching || IsClosing || m_fastActive)
        return;
    FlagGuard inTick(m_inTick);
    Log(LogFunc, QStringLiteral("VLCTimer"));

    if (m_host.isFullscreen()) {
        if (engineLost()) {
            m_host.hideOsdWindows();
            m_host.leaveFullscreen();
            if (!quoxelMode())
                m_timer.stop();
        }
        return;
    }
    if (!quoxelMode())
        return;
    if (engineLost()) {
        m_timer.start(kWatchdogLostMs);
        if (IsPaused)
            return;
        m_streamConnected = false;
        ShowStatus(QStringLiteral("no connection to quoxel stream!"));
        // An engine still waiting on the lost source would take the restart's play as "keep
        // going" and never connect again: it is stopped first.
        if (VlcEngine* engine = m_player.engine()) {
            const VlcState state = engine->state();
            if (state == VlcState::Opening || state == VlcState::Buffering)
                Log(LogVlc, QStringLiteral("VLC_Stop()"), engine->VLC_Stop());
        }
        m_player.VLCRestart1Click();
        return;
    }
    if (!IsPaused && !m_streamConnected)
        followProvider();
}

void ChannelSwitcher::followProvider() {
    // The providing instance may have changed bouquet and channel while its stream was away.
    QList<TBouquetMenuItem>& bouquets = m_model.bouquets();
    if (!bouquets.isEmpty()) {
        const QString answer = request(BoxURL(BouquetUrls::kGetActual));
        qint64 n = 0;
        if (parseBoxNumber(answer, &n)) {
            if (n > 0 && n <= bouquets.size() && !bouquets[n - 1].Checked)
                m_host.clickBouquet(static_cast<int>(n - 1));
            m_model.CurBouquetNr = answer;
        }
    }
    const QString onAir = request(BoxURL(SwitchUrls::kOnAir));
    const int at = onAir.isEmpty() ? -1 : m_model.LocateChannel(onAir);
    if (at >= 0) {
        m_model.setSelectedIndex(at);
        m_model.checkChannelMenu(at);
        m_akt = m_model.channelBox()[at].Channel;
        m_host.aktChannelChanged(m_akt);
        m_host.channelsMenuChanged();
    }
    m_player.showPlayingStatus();
    m_timer.start(kWatchdogMs);
    m_streamConnected = true;
    m_host.channelBoxChanged();
}
