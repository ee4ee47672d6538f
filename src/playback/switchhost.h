#pragma once

#include "box/records.h"

#include <QString>

// What the channel switch and the playback watchdog need of the main window. AppController
// implements it; the switcher decides, the window only shows. UI thread.
class SwitchHost {
public:
    virtual ~SwitchHost() = default;

    // View state.
    virtual bool isFullscreen() const = 0;
    virtual bool channelBoxEnabled() const = 0;
    virtual bool channelBoxDroppedDown() const = 0;

    // Lets pending window messages run.
    virtual void processEvents() = 0;

    // Before the switch: the black backdrop (full screen), the programme-bar pop-up held back, the
    // in-window EPG and statistics panels or, in full screen, the OSD info window hidden.
    virtual void showBackdrop() = 0;
    virtual void setProgramBarSuppressed(bool on) = 0;
    virtual void hideInfoPanels() = 0;

    virtual void showLogo(const TChannel& channel) = 0;
    // The channel on air changed (a switch, or the providing instance's channel taken over).
    virtual void aktChannelChanged(const TChannelRef& channel) = 0;
    // Window caption and application title.
    virtual void setCaption(const QString& text) = 0;
    // "4" shows the play symbol, ";" the pause symbol.
    virtual void setPlayCaption(const QString& caption) = 0;
    virtual void setBusyCursor(bool busy) = 0;

    // The channel views mirror the bouquet model and the sub-channel menu after these.
    virtual void channelBoxChanged() = 0;   // entries or selection
    virtual void channelsMenuChanged() = 0; // check marks
    virtual void subChannelsMenuChanged() = 0;
    virtual bool subChannelsMenuVisible() const = 0;
    virtual void setSubChannelsMenuVisible(bool visible) = 0;

    // Keyboard focus; a failure to move it is the window's to ignore.
    virtual void focusVolumeBar() = 0;
    virtual void focusChannelBox() = 0;
    virtual void closeDropDown() = 0;
    virtual void setDropDownWidth(int pixels) = 0;

    // Shows the status line's current text again with a fresh time.
    virtual void reshowStatus() = 0;
    // The last switch's time from the call to its first picture, for the status line to offer.
    virtual void showZapTime(qint64 /*ms*/) {}

    // After the switch in full screen: the backdrop's show timer, the pointer out of the picture,
    // the timer that shows the EPG after a switch. Otherwise the programme bar.
    virtual void startBackdropShowTimer() = 0;
    virtual void movePointerAway() = 0;
    virtual void startEpgShowTimer() = 0;
    virtual void showProgramBar(const TChannel& channel) = 0;

    // The EPG thread: whether it runs, whether the user stopped it, and its start together with
    // an immediate EPG timer tick.
    virtual bool epgThreadRunning() const = 0;
    virtual bool epgStoppedByUser() const = 0;
    virtual void startEpgThread() = 0;

    // Watchdog: full-screen view lost its picture, the bouquet the providing instance shows.
    virtual void hideOsdWindows() = 0;
    virtual void leaveFullscreen() = 0;
    // A click on the Bouquets menu item at position (0-based); loads that bouquet.
    virtual void clickBouquet(int position) = 0;
};
