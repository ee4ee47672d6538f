#pragma once

#include <QString>

class Connection;
class LifecycleView;
class ShutdownSteps;

namespace LifecycleTexts {
inline const QString kShuttingDown = QStringLiteral("shutting down...");
inline const QString kClosedMessage = QStringLiteral("Quoxel is closed!");
} // namespace LifecycleTexts

// Sets the nice value of every thread of the process from the priority setting: "IDLE" 19,
// "NORMAL" 0, "HIGH" -10; any other text changes nothing. False when a thread refused (raising
// the priority needs the right to); the refusal is logged.
bool applyPriority(const QString& priority);
// The nice value for a priority setting; false for a text that changes nothing.
bool priorityNice(const QString& priority, int* nice);

// The close sequence's own bounds. The receiver may drop every request at close, yet the process
// must end within 5 s: remote-VLC stop 1000 ms + 200 ms, the UDP sender's stop and three receiver
// commands of 500 ms each, 200 ms after PES, about 500 ms for the clients to let their given-up
// requests go: 3.9 s, which leaves the rest for the EPG thread's stop (it gives up its own fetch),
// the engine and the state.
inline constexpr int kCloseRemoteVlcLimitMs = 1000;
inline constexpr int kCloseRequestLimitMs = 500;
inline constexpr int kCloseDelayMs = 200;

// Activation, close and re-initialisation of the main window, in their order. UI thread.
class Lifecycle {
public:
    Lifecycle(LifecycleView& view, ShutdownSteps& steps, Connection& connection);

    // FormActivate, at every activation: the first one after a connection starts playback.
    void FormActivate();
    // Close1Click: ignored while the start-up is under way (IsStarting set and something still to
    // start); otherwise closes the main window. A start-up that can start nothing (no channel
    // selected, an entry without record) does not hold the close back.
    void Close1Click();
    // FormClose: the close sequence. False when it did nothing (closing already).
    bool FormClose();
    // InitQuoxel1Click: releases playback, the EPG thread and the channels' EPG, then runs the
    // connection sequence again; playback returns at the next activation.
    void InitQuoxel1Click();

    // Whether a close request is taken now (see Close1Click).
    bool closeAllowed() const;

private:
    LifecycleView& m_view;
    ShutdownSteps& m_steps;
    Connection& m_connection;
    bool m_activating = false;
};
