#pragma once

#include "playback/streamsetup.h"
#include "ui/channelmodel.h"
#include "ui/osd.h"

#include <QGuiApplication>
#include <QScreen>

#include <optional>

// The main window's side of the overlays, recorded for the tests.
class OsdTestHost : public quoxel::OsdHost {
public:
    bool fullscreen = true;
    bool inTransition = false;
    bool menuOpen = false;
    bool dblClickEPG = false;
    bool droppedDown = false;
    bool boxEnabled = true;
    int popUps = 0;
    int backdropHides = 0;
    int boxRepaints = 0;
    int vol = 50;
    QString caption;
    TChannelRef akt;
    QList<TChannelRef> switched;
    ChannelModel model;
    std::optional<TStreamInfo> info;
    int audioItems = 0;

    bool isFullscreen() const override { return fullscreen; }
    bool isInTransition() const override { return inTransition; }
    bool isMenuOpen() const override { return menuOpen; }
    void setDblClickEPG(bool on) override { dblClickEPG = on; }
    void startPopUpTimer() override { ++popUps; }
    void hideBackdrop() override { ++backdropHides; }
    QScreen* osdScreen() const override { return QGuiApplication::primaryScreen(); }
    TChannelRef AktChannel() const override { return akt; }
    ChannelModel* channelModel() const override { return const_cast<ChannelModel*>(&model); }
    bool channelBoxDroppedDown() const override { return droppedDown; }
    void setChannelBoxEnabled(bool on) override { boxEnabled = on; }
    void repaintChannelBox() override { ++boxRepaints; }
    void SwitchChannel(const TChannelRef& channel) override { switched.append(channel); }
    void setCaption(const QString& text) override { caption = text; }
    QPixmap logoFor(const TChannel&) override { return QPixmap(40, 21); }
    const TStreamInfo* streamInfo() const override { return info ? &*info : nullptr; }
    int audioMenuCount() const override { return audioItems; }
    int volume() const override { return vol; }
    void setVolume(int position) override { vol = position; }
};
