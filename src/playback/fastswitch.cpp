// The fast zap: ChannelSwitcher's switch that waits for events instead of fixed times. The
// receiver's requests run on a worker thread with clients of their own; the engine's stop and
// play do not block. The window takes keys throughout, and a key during a switch only moves
// the target.
#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/channelswitch.h"
#include "playback/streamsetup.h"
#include "playback/subchannels.h"
#include "playback/switchhost.h"
#include "playback/vlcplayer.h"
#include "playback/zapclock.h"

#include <QThread>

struct FastZapPlan {
    // The main client's login and key store, for the worker's own clients.
    TIEHTTPIdentity identity;
    bool radio = false;
    bool sptsChecked = false;
    bool zap = false;
    QString id;
    QString getMode, setTv, setRadio, spts, pes, zapTo, onAir, info, pids;
    QString subChannels; // a portal's sub-channels are asked for too; empty for other channels
};

struct FastZapAnswers {
    int generation = 0;
    QString id;
    bool tvSet = false, radioSet = false, sptsSet = false, pesSet = false;
    bool zapSent = false;
    bool zapFailed = false;
    bool refused = false;
    QString onAir;
    QString info, pids;
    bool subChannelsAsked = false;
    QString subChannels;
    qint64 zappedMs = -1, pidsMs = -1;
    QStringList requests; // "url (status)", for the log
};

namespace {

constexpr int kStreamHttp = 0;

int positionOf(const QList<TChannelItem>& items, const TChannelRef& channel) {
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items[i].Channel == channel)
            return static_cast<int>(i);
    return -1;
}

void configure(TIEHTTP& http, const FastZapPlan& plan) {
    http.Timeout = ChannelSwitcher::kFastRequestSec;
    http.setIdentity(plan.identity);
    http.setClosingFlag(&IsClosing);
}

// One request; the answer trimmed, nothing for a time-out, a refusal or an error status.
QString ask(TIEHTTP& http, const QString& url, QStringList* requests, bool* failed = nullptr) {
    http.ExecuteURL(url);
    const bool timedOut = http.ResponseText.contains(QLatin1String("timeout")) || http.StatusCode == 0;
    if (requests)
        *requests << url + QStringLiteral(" (") + http.StatusText() + QLatin1Char(')');
    if (failed)
        *failed = timedOut || http.StatusCode != 200;
    return timedOut || http.StatusCode != 200 ? QString() : trimAnswer(http.ResponseText);
}

FastZapAnswers runFastZap(const FastZapPlan& plan, QElapsedTimer since) {
    FastZapAnswers a;
    a.id = plan.id;
    TIEHTTP http;
    configure(http, plan);
    if (!plan.radio) {
        if (ask(http, plan.getMode, &a.requests) == QLatin1String("radio")) {
            ask(http, plan.setTv, &a.requests);
            a.tvSet = true;
        }
        if (!plan.sptsChecked) {
            ask(http, plan.spts, &a.requests);
            a.sptsSet = true;
        }
    } else if (ask(http, plan.getMode, &a.requests) == QLatin1String("tv")) {
        ask(http, plan.pes, &a.requests);
        ask(http, plan.setRadio, &a.requests);
        a.radioSet = a.pesSet = true;
    }
    if (plan.zap) {
        // The receiver answers once it has tuned; what it shows then is read back, for a while,
        // since it answers "ok" also to a zap it ignores.
        a.zapSent = true;
        ask(http, plan.zapTo, &a.requests, &a.zapFailed);
        if (a.zapFailed)
            return a;
        QElapsedTimer confirm;
        confirm.start();
        for (;;) {
            const QString onAir = ask(http, plan.onAir, &a.requests);
            if (!onAir.isEmpty() && onAir.compare(plan.id.trimmed(), Qt::CaseInsensitive) == 0) {
                a.refused = false;
                break;
            }
            if (!onAir.isEmpty()) {
                a.refused = true;
                a.onAir = onAir;
            }
            if (confirm.elapsed() + ChannelSwitcher::kZapPollMs >= ChannelSwitcher::kZapConfirmMs || IsClosing)
                break;
            QThread::msleep(ChannelSwitcher::kZapPollMs);
        }
    }
    a.zappedMs = since.elapsed();
    // Stream information and PIDs at the same time, each on a client of its own.
    QStringList pidsRequests;
    std::thread pids([&] {
        TIEHTTP second;
        configure(second, plan);
        a.pids = ask(second, plan.pids, &pidsRequests);
    });
    if (!plan.subChannels.isEmpty() && !a.refused) {
        a.subChannels = ask(http, plan.subChannels, &a.requests);
        a.subChannelsAsked = true;
    }
    a.info = ask(http, plan.info, &a.requests);
    pids.join();
    a.requests += pidsRequests;
    a.pidsMs = since.elapsed();
    return a;
}

} // namespace

namespace {
// The engine's stop still runs; one that has ended is collected here.
bool stopRunning(VlcEngine* engine) {
    if (!engine || !engine->stopPending())
        return false;
    engine->VLC_IsPlaying();
    return engine->stopPending();
}
} // namespace

bool ChannelSwitcher::fastZapOn() const {
    // Online mode and UDP streaming keep the written path: their remote stop and sender need it.
    return Options.FastZap && Options.Mode == AppMode::Live && Options.StreamType == kStreamHttp && !IsStarting;
}

void ChannelSwitcher::joinFastWorker() {
    if (m_fastWorker.joinable())
        m_fastWorker.join();
}

void ChannelSwitcher::fastSwitch(const TChannelRef& channel) {
    if (!channel)
        return;
    // A switch under way, or one just begun: the keys move the target, and the last target is
    // switched to once they rest.
    if (m_fastActive || (m_fastSinceStart.isValid() && m_fastSinceStart.elapsed() < kFastRestMs)) {
        m_fastPending = channel;
        fastShowTarget(channel);
        m_fastRest.start();
        return;
    }
    fastBegin(channel);
}

void ChannelSwitcher::fastShowTarget(const TChannelRef& channel) {
    m_host.showLogo(*channel);
    checkMenus(channel);
    if (const int at = positionOf(m_model.channelBox(), channel); at >= 0)
        m_model.setSelectedIndex(at);
    m_host.channelBoxChanged();
    m_host.setCaption(channel->Caption + QStringLiteral(", ") + channel->NowEPG.Title);
}

void ChannelSwitcher::fastStartPending() {
    if (m_fastRest.isActive() || m_fastWorking || !m_fastPending || IsClosing)
        return;
    const TChannelRef next = std::exchange(m_fastPending, {});
    m_fastActive = false;
    fastBegin(next);
}

void ChannelSwitcher::fastBegin(const TChannelRef& channel) {
    joinFastWorker();
    m_fastActive = true;
    m_fastTarget = channel;
    m_fastRefusal.clear();
    m_fastSinceStart.start();
    if (m_host.isFullscreen())
        m_host.showBackdrop();
    Log(LogFunc, QStringLiteral("SwitchChannel(") + channel->Caption + QStringLiteral(")"));
    m_clock->start(channel->Caption);
    m_host.setProgramBarSuppressed(true);
    m_host.hideInfoPanels();
    if (m_model.selectedIndex() < 0 || !walkChannelBox()) {
        fastEnd();
        endEarly();
        return;
    }
    fastShowTarget(channel);
    m_host.focusVolumeBar();
    m_host.setPlayCaption(channel != m_akt ? QStringLiteral("4") : QStringLiteral(";"));

    // The engine stops while the receiver tunes; its stopped event is awaited before the play.
    disconnect(m_fastStopWait);
    if (m_player.PlayState() == 0)
        m_player.StopNow();
    VlcEngine* engine = m_player.engine();
    if (stopRunning(engine)) {
        m_fastStopWait = connect(engine, &VlcEngine::stopFinished, this, [this] {
            disconnect(m_fastStopWait);
            m_clock->mark(ZapClock::Stopped);
            if (m_fastActive && !m_fastWorking && m_fastStopBound.isActive())
                fastPlay();
        });
    } else {
        m_clock->mark(ZapClock::Stopped);
    }

    ShowStatus(QStringLiteral("switching channel..."));
    resetAudioTrack();
    const QString id = channel->Id.trimmed();
    FastZapPlan plan;
    plan.identity = m_box.http().identity();
    plan.radio = channel->Mode == mRadio;
    plan.sptsChecked = m_stream.sptsChecked();
    plan.zap = !m_akt || id != m_akt->Id.trimmed() || (!m_fastOnReceiver.isEmpty() && m_fastOnReceiver != id);
    plan.id = id;
    plan.getMode = BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"));
    plan.setTv = BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?tv"));
    plan.setRadio = BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?radio"));
    plan.spts = BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=spts"));
    plan.pes = BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=pes"));
    plan.zapTo = BoxURL(SwitchUrls::kZapTo, SwitchUrls::kIdChannel, channel->Id);
    plan.onAir = BoxURL(SwitchUrls::kOnAir);
    plan.info = BoxURL(QStringLiteral("http://<IP:PORT>/control/info?streaminfo"));
    plan.pids = BoxURL(QStringLiteral("http://<IP:PORT>/control/zapto?getallpids"));
    if (!channel->IsSubChannel && isPortalChannel(channel->Caption))
        plan.subChannels = BoxURL(SubChannelUrls::kGetAll);
    m_stream.showChannelMode(plan.radio, false, false);
    m_fastWorking = true;
    const int generation = ++m_fastGeneration;
    m_fastWorker = std::thread([this, plan, generation, since = m_fastSinceStart] {
        FastZapAnswers answers = runFastZap(plan, since);
        answers.generation = generation;
        QMetaObject::invokeMethod(
            this, [this, answers] { fastAnswered(answers); }, Qt::QueuedConnection);
    });
}

void ChannelSwitcher::fastAnswered(const FastZapAnswers& a) {
    if (a.generation != m_fastGeneration)
        return;
    joinFastWorker();
    m_fastWorking = false;
    for (const QString& line : a.requests)
        Log(LogThread, QStringLiteral("zap request ") + line);
    if (a.tvSet)
        ShowStatus(QStringLiteral("setting tv mode..."));
    if (a.radioSet)
        ShowStatus(QStringLiteral("setting radio mode..."));
    if (a.sptsSet || a.pesSet)
        m_stream.showChannelMode(m_fastTarget->Mode == mRadio, a.sptsSet, a.pesSet);
    if (a.zapSent)
        m_fastOnReceiver = a.id;
    if (m_fastPending) {
        // A newer target: this one gives way before its stream is asked for.
        m_clock->finish();
        fastStartPending();
        return;
    }
    if (a.zapFailed) {
        ShowStatus(QStringLiteral("ERROR, http timeout (") +
                   BoxURL(SwitchUrls::kZapTo, SwitchUrls::kIdChannel, m_fastTarget->Id) + QStringLiteral(")!"));
        m_clock->finish();
        fastEnd();
        endEarly();
        return;
    }
    m_clock->mark(ZapClock::Zapped, a.zappedMs);
    TChannelRef target = m_fastTarget;
    if (a.refused) {
        m_fastRefusal = recordingNow() ? SwitchTexts::kRecording : SwitchTexts::kNotSwitched;
        Log(LogMsg, m_fastRefusal + QStringLiteral(" (") + target->Caption + QStringLiteral(")"));
        m_fastOnReceiver = a.onAir.trimmed();
        target = takeOverOnAir(a.onAir);
        if (!target) {
            if (const int at = m_akt ? positionOf(m_model.channelBox(), m_akt) : -1; at >= 0) {
                m_model.setSelectedIndex(at);
                checkMenus(m_akt);
                m_host.channelBoxChanged();
            }
            ShowStatus(m_fastRefusal);
            m_clock->finish();
            fastEnd();
            endEarly();
            return;
        }
    }
    m_akt = target;
    m_fastTarget = target;
    m_host.aktChannelChanged(m_akt);
    if (!target->IsSubChannel) {
        // The worker asked for the planned channel's; a channel the receiver stayed on instead is
        // asked for here.
        if (a.subChannelsAsked && target->Id.trimmed() == a.id)
            showSubChannels(target, a.subChannels);
        else
            updateSubChannels(target);
    }
    ShowStatus(QStringLiteral("getting streaminfo..."));
    const TStreamInfo info = m_stream.takeStreamInfo(a.info, a.pids, target->Mode);
    m_clock->mark(ZapClock::Pids, a.pidsMs);
    m_player.setStreamInfo(PlayingFacts{info.Resolution, info.VideoRate, info.Audio});
    if (stopRunning(m_player.engine())) {
        m_fastStopBound.start(); // the stopped event, or at the latest this, plays
        return;
    }
    fastPlay();
}

void ChannelSwitcher::fastPlay() {
    if (!m_fastActive || m_fastWorking || !m_fastTarget)
        return;
    m_fastStopBound.stop();
    disconnect(m_fastStopWait);
    const TChannelRef target = m_fastTarget;
    m_player.StartStreamNow(target->Mode == mRadio, m_stream.LiveURL);
    if (m_fastRefusal.isEmpty() && isUnavailableStream(m_stream.LiveURL) && recordingNow())
        m_fastRefusal = SwitchTexts::kRecording;
    if (!m_fastRefusal.isEmpty())
        ShowStatus(m_fastRefusal);
    m_clock->mark(ZapClock::Playing);
    m_clock->awaitPicture(m_player.PlayState() == 0 ? m_player.engine() : nullptr, target->Mode == mRadio);
    fastEnd();
    finishSwitch();
}

void ChannelSwitcher::fastEnd() {
    m_fastActive = false;
    m_fastStopBound.stop();
    disconnect(m_fastStopWait);
    if (m_fastPending)
        QMetaObject::invokeMethod(this, &ChannelSwitcher::fastStartPending, Qt::QueuedConnection);
}
