#pragma once

#include "box/bouquets.h"
#include "core/appflags.h"
#include "core/ports.h"
#include "playback/channelswitch.h"
#include "playback/streamsetup.h"
#include "playback/switchhost.h"
#include "playback/vlcplayer.h"

#include <QCoreApplication>
#include <QStringList>

#include <functional>
#include <ostream>

// Readable test output for texts and lists of texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// The main window as the channel switch sees it, recording what it is asked to show. The views
// keep just the state the switch reads back (full screen, sub-channel menu, SPTS check mark).
class RecordingSwitchHost : public SwitchHost {
public:
    bool fullscreen = false;
    bool boxEnabled = true;
    bool droppedDown = false;
    bool subMenuVisible = false;
    bool epgRunning = false;
    bool epgStopped = false;
    QStringList calls;
    TChannelRef akt; // as the window last heard it
    QList<int> bouquetClicks;
    // Runs inside processEvents, to act as the user would while the switch lets messages run.
    std::function<void()> onEvents;
    // What the window's Bouquets menu click does (load the bouquet).
    std::function<void(int)> onBouquetClick;

    bool isFullscreen() const override { return fullscreen; }
    bool channelBoxEnabled() const override { return boxEnabled; }
    bool channelBoxDroppedDown() const override { return droppedDown; }
    void processEvents() override {
        QCoreApplication::processEvents();
        if (onEvents)
            onEvents();
    }
    void showBackdrop() override { calls << QStringLiteral("backdrop"); }
    void setProgramBarSuppressed(bool on) override { calls << QStringLiteral("suppress:%1").arg(on); }
    void hideInfoPanels() override { calls << QStringLiteral("hidePanels"); }
    void showLogo(const TChannel& channel) override { calls << QStringLiteral("logo:") + channel.Id; }
    void aktChannelChanged(const TChannelRef& channel) override { akt = channel; }
    void setCaption(const QString& text) override { calls << QStringLiteral("caption:") + text; }
    void setPlayCaption(const QString& caption) override { calls << QStringLiteral("play:") + caption; }
    void setBusyCursor(bool busy) override { calls << QStringLiteral("busy:%1").arg(busy); }
    void channelBoxChanged() override {}
    void channelsMenuChanged() override {}
    void subChannelsMenuChanged() override { calls << QStringLiteral("subMenuChanged"); }
    bool subChannelsMenuVisible() const override { return subMenuVisible; }
    void setSubChannelsMenuVisible(bool visible) override {
        subMenuVisible = visible;
        calls << QStringLiteral("subMenu:%1").arg(visible);
    }
    void focusVolumeBar() override { calls << QStringLiteral("focusVolume"); }
    void focusChannelBox() override { calls << QStringLiteral("focusBox"); }
    void closeDropDown() override { calls << QStringLiteral("closeDropDown"); }
    void setDropDownWidth(int pixels) override { calls << QStringLiteral("dropWidth:%1").arg(pixels); }
    void reshowStatus() override { calls << QStringLiteral("reshowStatus"); }
    void startBackdropShowTimer() override { calls << QStringLiteral("backdropTimer"); }
    void movePointerAway() override { calls << QStringLiteral("pointerAway"); }
    void startEpgShowTimer() override { calls << QStringLiteral("epgShowTimer"); }
    void showProgramBar(const TChannel& channel) override { calls << QStringLiteral("programBar:") + channel.Id; }
    bool epgThreadRunning() const override { return epgRunning; }
    bool epgStoppedByUser() const override { return epgStopped; }
    void startEpgThread() override {
        epgRunning = true;
        calls << QStringLiteral("startEpg");
    }
    void hideOsdWindows() override { calls << QStringLiteral("hideOsd"); }
    void leaveFullscreen() override {
        fullscreen = false;
        calls << QStringLiteral("leaveFullscreen");
    }
    void clickBouquet(int position) override {
        bouquetClicks << position;
        if (onBouquetClick)
            onBouquetClick(position);
    }
};

// The stream setup's window parts: only the SPTS check mark is state.
class RecordingStreamView : public StreamSetupView {
public:
    bool spts = false;
    void processPendingEvents() override { QCoreApplication::processEvents(); }
    bool isSptsChecked() const override { return spts; }
    void setSptsChecked(bool checked) override { spts = checked; }
};

// The player's window parts, wired to the bouquet model and the switch as the window wires them.
class RecordingPlayerView : public PlayerView {
public:
    explicit RecordingPlayerView(TBouquetModel& model)
        : m_model(model) {}
    ChannelSwitcher* switcher = nullptr;
    int notAvailable = 0;

    bool hasChannelSelection() const override { return m_model.selectedIndex() >= 0; }
    bool selectedIsAktChannel() const override {
        return switcher && m_model.selectedIndex() >= 0 &&
               m_model.channelBox()[m_model.selectedIndex()].Channel == switcher->AktChannel();
    }
    void startWatchdog(int intervalMs) override {
        if (switcher)
            switcher->startWatchdog(intervalMs);
    }
    void streamNotAvailable() override {
        ++notAvailable;
        IsSwitching = false;
    }

private:
    TBouquetModel& m_model;
};
