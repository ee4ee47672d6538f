#pragma once

#include <QString>

#include <cstdint>
#include <optional>

class ConnectionView;
class ConnectionSteps;
class SplashView;

namespace ConnectionTexts {
inline const QString kConnecting = QStringLiteral("connecting to dbox...");
inline const QString kLoadingBouquets = QStringLiteral("loading bouquets...");
inline const QString kLoadingChannels = QStringLiteral("loading channels...");
inline const QString kInitializingVlc = QStringLiteral("initializing vlc...");
inline const QString kNoConnection = QStringLiteral("no connection to dbox or vlc remote!");
inline const QString kRecording = QStringLiteral("dbox is recording, sorry!");
inline const QString kNoStream = QStringLiteral("no connection to quoxel stream!");
inline const QString kActiveMessage = QStringLiteral("Quoxel is active!");
inline const QString kAlreadyRunning = QStringLiteral("Quoxel ist schon gestartet!");
inline const QString kNoVersion = QStringLiteral("Nix eingetragen");
inline const QString kCaption = QStringLiteral("Quoxel");
} // namespace ConnectionTexts

// The program's version as four numbers joined by "." (missing ones are 0); "Nix eingetragen"
// when the text holds no version.
QString versionText(const QString& version);

// The receiver's answer to "/control/standby": nhttpd 3.x tells "on" or "off", 2.2 always says
// "ok", which counts as standby.
bool standbyMeansOn(const QString& answer);

// Receiver clock minus PC clock in minutes, truncated towards zero, from the receiver's answer
// (decimal seconds since 1970 UTC) and the PC's time in the same unit; nullopt for an answer
// that is no plausible time (not a number, negative, past 2100).
std::optional<int32_t> boxTimeOffsetMinutes(const QString& answer, qint64 pcUtcSec);

// How a connection sequence ended.
enum class ConnectionOutcome {
    Connected,       // everything loaded; playback starts at the next activation
    NoConnection,    // "no connection to dbox or vlc remote!"
    Recording,       // "dbox is recording, sorry!"
    NoBouquets,      // "no connection to quoxel stream!"
    NoChannelRecord, // a channel-box entry without record: ended silently, IsStarting stays set
};

// InitConnection: connects to the receiver and prepares everything while the main window is
// created (and again for "Init Quoxel"). It plays nothing. UI thread.
class Connection {
public:
    // version: the program's version as built (quoxel::kVersion).
    Connection(ConnectionView& view, ConnectionSteps& steps, QString version);

    ConnectionOutcome InitConnection();

    // True while InitConnection runs (it lets window messages run, so handlers can come in).
    bool running() const { return m_running; }
    // The outcome of the last run; NoConnection before the first.
    ConnectionOutcome lastOutcome() const { return m_lastOutcome; }
    // The splash of the last run; null before the first.
    SplashView* splash() const { return m_splash; }

private:
    ConnectionOutcome run();
    ConnectionOutcome fail(ConnectionOutcome outcome, const QString& text);

    ConnectionView& m_view;
    ConnectionSteps& m_steps;
    QString m_version;
    SplashView* m_splash = nullptr;
    bool m_running = false;
    ConnectionOutcome m_lastOutcome = ConnectionOutcome::NoConnection;
};
