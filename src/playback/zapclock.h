#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>

class VlcEngine;

// The step times of one channel switch, from the call on: stopped, zapped, PIDs, playing and the
// first picture the engine shows of the new stream. Written to the log as one line once the
// picture is there, or once it has not come within kPictureBoundMs. UI thread.
class ZapClock : public QObject {
    Q_OBJECT
public:
    enum Step { Stopped, Zapped, Pids, Playing, FirstPicture, kSteps };
    static constexpr int kPictureBoundMs = 10000;
    static constexpr int kPollMs = 10;

    // A new switch; one still waiting for its picture is written as it stands.
    void start(const QString& channel);
    // at: ms since the call, measured elsewhere (a worker thread); -1: now.
    void mark(Step step, qint64 at = -1);
    // Waits for the engine's first picture (a radio channel: its first sound), then writes the
    // line. Without an engine: at once.
    void awaitPicture(VlcEngine* engine, bool sound = false);
    // A switch that ends without a stream: the line with what it reached.
    void finish();

    // The last written line's call-to-picture time in ms; -1 before the first or without picture.
    qint64 lastZapMs() const { return m_lastMs; }
    QString lastLine() const { return m_lastLine; }
    bool waiting() const { return m_running; }

Q_SIGNALS:
    // The engine showed nothing of the new stream within kPictureBoundMs.
    void pictureMissing();
    // The first picture came, ms after the call.
    void pictureShown(qint64 ms);

private:
    void poll();
    void write();

    QElapsedTimer m_since;
    std::array<qint64, kSteps> m_at{};
    QString m_channel;
    QPointer<VlcEngine> m_engine;
    QTimer m_poll;
    bool m_running = false;
    bool m_sound = false;
    qint64 m_lastMs = -1;
    QString m_lastLine;
};
