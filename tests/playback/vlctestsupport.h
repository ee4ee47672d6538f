#pragma once

#include "core/ports.h"
#include "playback/vlcplayer.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

// Shared pieces of the engine and player tests: a window stand-in that records what the player
// asks of it, a status-line recorder, and the engine arguments for runs without a display.

// Display-free engine: no picture window, and an audio output that really has volume and mute.
QStringList headlessEngineArgs();
// Same audio output, real X11 video output (tests labelled "display").
QStringList displayEngineArgs();

class RecordingView : public PlayerView {
public:
    bool selection = true;
    bool aktSelected = true;
    bool fullscreen = false;
    int switches = 0;
    int missing = 0;
    int initErrors = 0;
    int splashHidden = 0;
    int notAvailable = 0;
    int focusChannelBoxCalls = 0;
    int watchdogMs = 0;
    int pumps = 0;
    QString message;
    QString caption;
    QString splash;
    int volumePosition = -1;
    int mutedShown = -1;
    int checkedAudio = -1;
    QStringList steps; // full-screen steps in order
    std::function<void()> onPump;

    bool hasChannelSelection() const override { return selection; }
    bool selectedIsAktChannel() const override { return aktSelected; }
    void switchToSelectedChannel() override { ++switches; }
    bool isFullscreen() const override { return fullscreen; }
    void processPendingEvents() override;
    void setPlayCaption(const QString& c) override { caption = c; }
    void setVolumePosition(int p) override { volumePosition = p; }
    void setMuteShown(bool m) override { mutedShown = m ? 1 : 0; }
    void focusChannelBox() override { ++focusChannelBoxCalls; }
    void checkAudioItem(int index) override { checkedAudio = index; }
    void leaveFullscreen() override { steps << QStringLiteral("leaveFullscreen"); }
    void showMainWindow() override { steps << QStringLiteral("showMainWindow"); }
    void hideOsdInfo() override { steps << QStringLiteral("hideOsdInfo"); }
    void showBackdrop() override { steps << QStringLiteral("showBackdrop"); }
    void sendBehindBackdrop() override { steps << QStringLiteral("sendBehindBackdrop"); }
    void startBackdropShowTimer() override { steps << QStringLiteral("startBackdropShowTimer"); }
    void hideSplash() override { ++splashHidden; }
    void splashStatus(const QString& text) override { splash = text; }
    void engineMissing(const QString& m) override {
        ++missing;
        message = m;
    }
    void engineInitError(const QString& m) override {
        ++initErrors;
        message = m;
    }
    void startWatchdog(int ms) override { watchdogMs = ms; }
    void streamNotAvailable() override { ++notAvailable; }

    // Still pictures: taken only when stills is set; the file's bytes are kept.
    bool stills = false;
    int stillShows = 0;
    int stillHides = 0;
    QByteArray stillBytes;
    bool showsStillPictures() const override { return stills; }
    bool showStillPicture(const QString& file) override;
    void hideStillPicture() override { ++stillHides; }
};

// Lines of the program log written since `from` (a byte offset taken with logSize()).
qint64 logSize();
QStringList logLinesSince(qint64 from);

// Waits up to timeoutMs for cond, letting events run.
bool waitFor(const std::function<bool()>& cond, int timeoutMs);

// Reads an HTTP stream for up to ms and returns the body bytes received.
QByteArray readHttpStream(const QString& address, int port, const QByteArray& target, int ms);
