#include "box/epgtimers.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "core/appflags.h"
#include "core/log.h"

namespace {

QString songTitle(const TChannelProgram& now) {
    QString song = now.Info2.section(QLatin1Char('\n'), 0, 0);
    if (song.endsWith(QLatin1Char('\r')))
        song.chop(1);
    return song.remove(QStringLiteral("Titel: "));
}

} // namespace

EPGTimers::EPGTimers(EPGTimersHost& host, bool stopped, EPGPacing pacing, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_stopped(stopped)
    , m_thread(pacing) {
    m_epgTimer.setInterval(kEPGTimerFirstMs);
    m_epgUpdate.setInterval(kEPGUpdateMs);
    m_epgChannels.setInterval(kEPGChannelsMs);
    m_showOnSwitch.setInterval(kShowEPGOnSwitchMs);
    connect(&m_epgTimer, &QTimer::timeout, this, &EPGTimers::EPGTimerTimer);
    connect(&m_epgUpdate, &QTimer::timeout, this, &EPGTimers::TimerEPGUpdateTimer);
    connect(&m_epgChannels, &QTimer::timeout, this, &EPGTimers::TimerEPGChannelsTimer);
    connect(&m_showOnSwitch, &QTimer::timeout, this, &EPGTimers::TimerShowEPGOnSwitchTimer);
    connect(&m_thread, &EPGThread::channelApplied, this, &EPGTimers::onChannelApplied);
    m_host.setStopEPGCaption(m_stopped ? kStartCaption : kStopCaption);
}

EPGTimers::~EPGTimers() {
    m_epgTimer.stop();
    m_epgUpdate.stop();
    m_epgChannels.stop();
    m_showOnSwitch.stop();
}

bool EPGTimers::startThread() {
    if (m_thread.isRunning() || IsClosing.load() || m_stopped)
        return false;
    const TChannelRef akt = m_host.aktChannel();
    const bool starting = IsStarting.load();
    // The walk's first pass takes over the start-up flag.
    if (!m_thread.start(m_host.epgChannels(), m_host.selectedChannel(), akt && akt->Mode == mRadio, starting))
        return false;
    IsStarting = false;
    return true;
}

bool EPGTimers::startThreadFromSwitch() {
    const bool started = startThread();
    if (started)
        enableEPGTimer(kEPGTimerRestartMs);
    return started;
}

int EPGTimers::StopEPGThread(bool showMessage) {
    if (m_thread.isRunning())
        disableEPGTimer();
    m_host.setBusyCursor(true);
    const int waits = m_thread.StopEPGThread(showMessage);
    m_host.setBusyCursor(false);
    return waits;
}

void EPGTimers::setStopped(bool stopped) {
    m_stopped = stopped;
    m_host.setStopEPGCaption(m_stopped ? kStartCaption : kStopCaption);
}

void EPGTimers::setSelected(int position) {
    m_thread.setSelected(position);
}

void EPGTimers::setAktRadio(bool radio) {
    m_thread.setAktRadio(radio);
}

void EPGTimers::enableEPGTimer(int intervalMs) {
    m_epgTimer.start(intervalMs);
}

void EPGTimers::disableEPGTimer() {
    m_epgTimer.stop();
}

void EPGTimers::startEPGUpdateTimer() {
    m_epgUpdate.start(kEPGUpdateMs);
}

void EPGTimers::stopEPGUpdateTimer() {
    m_epgUpdate.stop();
}

void EPGTimers::startEPGChannelsTimer() {
    m_epgChannels.start(kEPGChannelsMs);
}

void EPGTimers::stopEPGChannelsTimer() {
    m_epgChannels.stop();
}

void EPGTimers::startShowEPGOnSwitchTimer() {
    m_showOnSwitch.start(kShowEPGOnSwitchMs);
}

void EPGTimers::EPGTimerTimer() {
    Log(LogFunc, QStringLiteral("EPGTimer"));
    m_epgTimer.setInterval(kEPGTimerTickMs);
    bool moved = false;
    for (const TChannelRef& ch : m_host.epgChannels()) {
        if (IsClosing.load() || EPGAbort.load())
            break;
        moved = UpdateNowNext(ch.get()) || moved;
    }
    if (moved && !m_host.channelListDroppedDown())
        m_host.repaintChannelViews();
    const TChannelRef akt = m_host.aktChannel();
    if (!akt || akt->Mode != mRadio || IsClosing.load())
        return;
    m_host.setCaption(akt->Caption + QStringLiteral(", ") + akt->NowEPG.Title + QStringLiteral(" - ") +
                      songTitle(akt->NowEPG));
    m_host.processEvents();
    // The song changes with every title: the thread fetches the radio list again.
    akt->EPGLoaded = false;
    m_host.repaintChannelViews();
    m_host.showEPGInfo(*akt);
}

void EPGTimers::TimerEPGUpdateTimer() {
    Log(LogFunc, QStringLiteral("EPGUpdateTimer"));
    const TChannelRef akt = m_host.aktChannel();
    if (!akt)
        return;
    m_host.showChannelInfo(*akt);
    if (akt->EPGLoaded)
        m_epgUpdate.stop();
}

void EPGTimers::TimerEPGChannelsTimer() {
    if (!m_host.channelPanelVisible() || m_stopped)
        m_epgChannels.stop();
    Log(LogFunc, QStringLiteral("EPGChannelsTimer"));
    m_host.repaintChannelList();
}

void EPGTimers::TimerShowEPGOnSwitchTimer() {
    Log(LogFunc, QStringLiteral("EPGOnSwitchTimer"));
    m_showOnSwitch.stop();
    if (const TChannelRef akt = m_host.aktChannel())
        m_host.showEPGInfo(*akt);
}

void EPGTimers::ResetEPG1Click() {
    m_host.setBusyCursor(true);
    m_host.processEvents();
    StopEPGThread(true);
    for (const TChannelRef& ch : m_host.epgChannels()) {
        if (ch)
            ch->Clear();
    }
    if (const TChannelRef akt = m_host.aktChannel())
        m_host.showChannelInfo(*akt);
    m_host.repaintChannelViews();
    startThread();
    enableEPGTimer(kEPGTimerRestartMs);
    m_host.setBusyCursor(false);
}

void EPGTimers::StopEPG1Click() {
    m_host.setBusyCursor(true);
    m_host.processEvents();
    if (!m_stopped) {
        StopEPGThread(false);
        m_stopped = true;
        m_host.setStopEPGCaption(kStartCaption);
    } else {
        // The way back: cleared before the start, which a stopped EPG would refuse.
        m_stopped = false;
        enableEPGTimer(kEPGTimerRestartMs);
        startThread();
        m_host.setStopEPGCaption(kStopCaption);
    }
    m_host.setBusyCursor(false);
}

void EPGTimers::onChannelApplied(int position, int loaded, int total) {
    if (!IsClosing.load())
        m_host.setChannelPreviewCaption(ChannelPreviewCaption(loaded, total));
    if (!m_host.channelListDroppedDown())
        m_host.repaintChannelViews();
    (void)position;
}
