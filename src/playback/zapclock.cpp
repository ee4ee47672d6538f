#include "playback/zapclock.h"

#include "core/log.h"
#include "playback/vlcapi.h"

void ZapClock::start(const QString& channel) {
    if (m_running)
        write();
    m_channel = channel;
    m_at.fill(-1);
    m_since.start();
    m_running = true;
    m_poll.stop();
}

void ZapClock::mark(Step step, qint64 at) {
    if (m_running && step >= 0 && step < kSteps)
        m_at[step] = at >= 0 ? at : m_since.elapsed();
}

void ZapClock::awaitPicture(VlcEngine* engine, bool sound) {
    if (!m_running)
        return;
    m_engine = engine;
    m_sound = sound;
    if (!engine) {
        write();
        return;
    }
    if (m_poll.interval() != kPollMs) {
        m_poll.setInterval(kPollMs);
        connect(&m_poll, &QTimer::timeout, this, &ZapClock::poll);
    }
    m_poll.start();
}

void ZapClock::finish() {
    if (m_running)
        write();
}

void ZapClock::poll() {
    // The counters belong to the media just started: a picture counted is one of the new stream.
    const VlcStats stats = m_engine ? m_engine->stats() : VlcStats{};
    // Decoded is as good as shown for the time taken: an output that counts no displayed pictures
    // (a dummy one) would otherwise never end the wait.
    if (stats.displayedPictures > 0 || stats.decodedVideo > 0 || (m_sound && stats.playedAudioBuffers > 0)) {
        mark(FirstPicture);
        write();
        Q_EMIT pictureShown(m_lastMs);
        return;
    }
    if (!m_engine || m_since.elapsed() >= kPictureBoundMs) {
        write();
        Q_EMIT pictureMissing();
    }
}

void ZapClock::write() {
    m_poll.stop();
    m_running = false;
    static const char* const names[kSteps] = {"stopped", "zapped", "PIDs", "playing", "first picture"};
    QString line = QStringLiteral("zap times (ms): call 0");
    for (int i = 0; i < kSteps; ++i)
        line += QStringLiteral(", ") + QLatin1String(names[i]) + QLatin1Char(' ') +
                (m_at[i] >= 0 ? QString::number(m_at[i]) : QStringLiteral("-"));
    line += QStringLiteral(" (") + m_channel + QLatin1Char(')');
    m_lastLine = line;
    m_lastMs = m_at[FirstPicture];
    Log(LogMsg, line);
}
